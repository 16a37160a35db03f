#pragma once

#include "FakeAudio.h"
#include "FakeCapture.h"
#include "FakeKeyGrabber.h"
#include "FakePermissions.h"
#include "FakePlatform.h"
#include "TestHttpServer.h"
#include "app/AppDelegate.h"
#include "app/PermissionManager.h"
#include "backend/AuthService.h"
#include "backend/QuillAPIClient.h"
#include "capture/AudioCaptureService.h"
#include "capture/AudioRecorder.h"
#include "capture/TextCaptureService.h"
#include "overlay/OverlayPanelController.h"
#include "overlay/OverlayPanelWindow.h"
#include "platform/AutostartRegistrar.h"
#include "platform/PanelWindowHelper.h"
#include "platform/SettingsStore.h"
#include "preferences/PreferencesManager.h"
#include "shortcuts/GlobalShortcutService.h"

#include <memory>

namespace quill::test {

inline constexpr qint64 ownProcess = 4000;

// The real delegate, overlay, API client and capture services, over a fake desktop: fake key
// grabs, front window, accessibility bus, clipboard, keys and microphone, an in-memory keyring and
// a scripted backend on a loopback port. Delays are short so the tests stay quick.
struct DelegateHarness {
    DelegateHarness() {
        settings.setValue(QuillAPIClient::baseURLOverrideKey, server.baseUrl());
        accessibility.enabled = true;
        auth = std::make_unique<AuthService>(KeychainHelper(secrets), host, 0);
        permissions = std::make_unique<PermissionManager>(
            accessibility, keys, launcher, microphone,
            [this](const PermissionManager::Alert&) {
                ++alertsShown;
                return PermissionManager::firstButtonReturn + 1;
            },
            60'000);
    }

    std::unique_ptr<AppDelegate> launch() {
        AppDelegate::Dependencies d;
        d.shortcutStore = &store;
        d.shortcutRegistry = &registry;
        d.activeWindowTracker = &tracker;
        d.authService = auth.get();
        d.permissionManager = permissions.get();
        d.microphoneAccess = &microphone;
        d.makeAPIClient = [this] {
            return std::make_unique<QuillAPIClient>(KeychainHelper(secrets), preferences, settings, nullptr,
                                                    5000);
        };
        d.makeTextCaptureService = [this] {
            return std::make_unique<TextCaptureService>(reader, keys, window, clipboard,
                                                        TextCaptureService::Timing{50, 5, 50});
        };
        d.makeAudioCaptureService = [this] {
            auto service = std::make_unique<AudioCaptureService>([this] {
                return std::make_unique<AudioRecorder>(std::make_unique<FakePcmSource>(mic),
                                                       std::make_unique<FakeAudioFileWriter>(disk));
            });
            service->maxDuration = maxDuration;
            return service;
        };
        d.makeOverlayPanelController = [this] {
            return std::make_unique<OverlayPanelController>(panelHelper,
                                                            OverlayPanelController::Timing{300, 10, 0},
                                                            &OverlayPanelController::currentDisplayLayout);
        };
        d.showPreferences = [this] { ++preferencesShown; };
        d.processId = ownProcess;
        d.bundlePath = QStringLiteral("/opt/Quillpoint/bin/quillpoint");
        d.registrationErrorDelay = std::chrono::milliseconds(50);
        d.accessibilityAlertDelay = std::chrono::milliseconds(10);
        d.preferencesDelay = std::chrono::milliseconds(10);
        d.overlayPasteDelay = std::chrono::milliseconds(10);
        d.transcriptionPasteDelay = std::chrono::milliseconds(10);
        auto delegate = std::make_unique<AppDelegate>(std::move(d));
        delegate->applicationDidFinishLaunching();
        return delegate;
    }

    QString token() const {
        return QString::fromUtf8(secrets.items.value("app.quillpoint.Quillpoint/quillpoint_auth_token"));
    }

    LogCapture log;
    MemorySettingsStore settings;
    NullAutostartRegistrar autostart;
    PreferencesManager preferences{settings, autostart};
    ShortcutConfiguration store{settings};
    FakeKeyGrabber grabber;
    ShortcutRegistry registry{grabber};
    FakeActiveWindowTracker tracker;
    FakeSecretStore secrets;
    FakeHostInfo host{QStringLiteral("host")};
    std::unique_ptr<AuthService> auth;
    FakeAccessibilityStatus accessibility;
    FakeKeys keys;
    FakeSettingsLauncher launcher;
    FakeMicrophoneAccess microphone;
    std::unique_ptr<PermissionManager> permissions;
    FakeAccessibilityReader reader;
    FakeWindow window;
    FakeClipboard clipboard;
    FakeMicrophone mic;
    FakeDisk disk;
    double maxDuration = 30.0;
    TestHttpServer server;
    NullPanelWindowHelper panelHelper;
    int preferencesShown = 0;
    int alertsShown = 0;
};

} // namespace quill::test
