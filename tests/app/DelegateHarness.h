#pragma once

#include "FakeAudio.h"
#include "FakeCapture.h"
#include "FakeKeyGrabber.h"
#include "FakePermissions.h"
#include "FakePlatform.h"
#include "TestHttpServer.h"
#include "app/AppDelegate.h"
#include "app/ExplainSequence.h"
#include "app/FrontApplicationTracker.h"
#include "app/PermissionManager.h"
#include "app/Services.h"
#include "app/TranscribeSequence.h"
#include "backend/AuthService.h"
#include "backend/QuillAPIClient.h"
#include "capture/AudioCaptureService.h"
#include "capture/AudioRecorder.h"
#include "capture/TextCaptureService.h"
#include "overlay/OverlayPanelController.h"
#include "overlay/OverlayPanelWindow.h"
#include "platform/PlatformNull.h"
#include "platform/SettingsStore.h"
#include "preferences/PreferencesManager.h"
#include "shortcuts/GlobalShortcutService.h"

#include <QTemporaryDir>
#include <memory>

namespace quill::test {

inline constexpr qint64 ownProcess = 4000;

// The real composition root, delegate, overlay, API client and capture services, over a fake
// desktop: fake key grabs, front window, accessibility bus, clipboard, keys and microphone, an
// in-memory keyring and a scripted backend on a loopback port. Delays are short so the tests
// stay quick.
struct DelegateHarness {
    DelegateHarness() {
        settings.setValue(QuillAPIClient::baseURLOverrideKey, server.baseUrl());
        // A backend that does not list its models: the built-in ones are offered.
        server.answer("/api/models", ScriptedReply::status(404, "application/json").write("{}"));
        accessibility.enabled = true;
    }

    std::unique_ptr<AppDelegate> launch() {
        AppDelegate::Timing timing;
        timing.registrationErrorDelay = std::chrono::milliseconds(50);
        timing.accessibilityAlertDelay = std::chrono::milliseconds(10);
        timing.preferencesDelay = std::chrono::milliseconds(10);
        timing.overlayPasteDelay = std::chrono::milliseconds(10);
        timing.transcriptionPasteDelay = std::chrono::milliseconds(10);
        timing.apiIdleTimeoutMs = 5000;
        timing.maxRecordingSeconds = maxDuration;
        timing.textCapture = TextCaptureService::Timing{50, 5, 50};
        timing.overlay = OverlayPanelController::Timing{300, 10, 0};
        auto delegate = std::make_unique<AppDelegate>(services, timing);
        delegate->applicationDidFinishLaunching();
        return delegate;
    }

    QString token() const {
        return QString::fromUtf8(secrets.items.value("app.quillpoint.Quillpoint/quillpoint_auth_token"));
    }

    // Moves a fake into its slot of the platform and keeps a reference for the test.
    template <typename T, typename Slot, typename... Args>
    T& install(std::unique_ptr<Slot>& slot, Args&&... args) {
        auto owned = std::make_unique<T>(std::forward<Args>(args)...);
        T& fake = *owned;
        slot = std::move(owned);
        return fake;
    }

    Services::Options options() {
        Services::Options o;
        o.presentAlert = [this](const PermissionManager::Alert&) {
            ++alertsShown;
            return PermissionManager::firstButtonReturn + 1;
        };
        o.permissionMonitoringIntervalMs = 60'000;
        o.authRecheckDelayMs = 0;
        o.processId = ownProcess;
        o.executablePath = QStringLiteral("/opt/Quillpoint/bin/quillpoint");
        o.historyPath = historyDir.filePath(QStringLiteral("history.sqlite3"));
        return o;
    }

    LogCapture log;
    QTemporaryDir historyDir;
    FakeMicrophone mic;
    // The input each recording was asked to come from; empty for the default one.
    QStringList pcmInputs;
    FakeDisk disk;
    Platform platform;
    MemorySettingsStore& settings = install<MemorySettingsStore>(platform.settingsStore);
    FakeSecretStore& secrets = install<FakeSecretStore>(platform.secretStore);
    FakeHostInfo& host = install<FakeHostInfo>(platform.hostInfo, QStringLiteral("host"));
    NullAutostartRegistrar& autostart = install<NullAutostartRegistrar>(platform.autostartRegistrar);
    FakeKeyGrabber& grabber = install<FakeKeyGrabber>(platform.keyGrabber);
    FakeKeyboardLayout& layout = install<FakeKeyboardLayout>(platform.keyboardLayout);
    FakeActiveWindowTracker& tracker = install<FakeActiveWindowTracker>(platform.activeWindowTracker);
    FakeAccessibilityStatus& accessibility = install<FakeAccessibilityStatus>(platform.accessibilityStatus);
    FakeAccessibilityReader& reader = install<FakeAccessibilityReader>(platform.accessibilityReader);
    FakeKeys& keys = install<FakeKeys>(platform.keyEventPoster);
    FakeWindow& window = install<FakeWindow>(platform.activeWindowInfo);
    FakeClipboard& clipboard = install<FakeClipboard>(platform.clipboard);
    FakeSettingsLauncher& launcher = install<FakeSettingsLauncher>(platform.settingsLauncher);
    FakeMicrophoneAccess& microphone = install<FakeMicrophoneAccess>(platform.microphoneAccess);
    NullPanelWindowHelper& panelHelper = install<NullPanelWindowHelper>(platform.panelWindowHelper);
    NullAudioInputList& audioInputs = install<NullAudioInputList>(platform.audioInputList);
    int alertsShown = 0;
    double maxDuration = 30.0;
    TestHttpServer server;
    Services services{withAudio(std::move(platform)), options()};
    ShortcutConfiguration& store = services.shortcutConfiguration();
    ShortcutRegistry& registry = services.shortcutRegistry();
    PreferencesManager& preferences = services.preferencesManager();
    AuthService& auth = services.authService();

private:
    Platform withAudio(Platform p) {
        p.createPcmSource = [this](const QString& input) {
            pcmInputs << input;
            return std::make_unique<FakePcmSource>(mic);
        };
        p.createAudioFileWriter = [this] { return std::make_unique<FakeAudioFileWriter>(disk); };
        return p;
    }
};

} // namespace quill::test
