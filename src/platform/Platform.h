#pragma once

#include "AccessibilityReader.h"
#include "AccessibilityStatus.h"
#include "ActiveWindowInfo.h"
#include "ActiveWindowTracker.h"
#include "AudioFileWriter.h"
#include "AudioInputList.h"
#include "AutostartRegistrar.h"
#include "Clipboard.h"
#include "HostInfo.h"
#include "KeyEventPoster.h"
#include "KeyGrabber.h"
#include "KeyboardLayout.h"
#include "MicrophoneAccess.h"
#include "PanelWindowHelper.h"
#include "PcmSource.h"
#include "SecretStore.h"
#include "SettingsLauncher.h"
#include "SettingsStore.h"

#include <functional>
#include <memory>

namespace quill {

// One implementation of every platform capability the program uses, owned for the life of the
// program. The factory fills it for the session it runs in; tests fill it with fakes.
struct Platform {
    std::unique_ptr<SettingsStore> settingsStore;
    std::unique_ptr<SecretStore> secretStore;
    std::unique_ptr<HostInfo> hostInfo;
    std::unique_ptr<AutostartRegistrar> autostartRegistrar;
    // The system-wide keyboard hook behind the global shortcuts.
    std::unique_ptr<KeyGrabber> keyGrabber;
    // What the keys are called on the layout in use.
    std::unique_ptr<KeyboardLayout> keyboardLayout;
    // The process of the window in front, now and at each switch.
    std::unique_ptr<ActiveWindowTracker> activeWindowTracker;
    std::unique_ptr<AccessibilityStatus> accessibilityStatus;
    // Reading other applications' text.
    std::unique_ptr<AccessibilityReader> accessibilityReader;
    // Synthetic key presses, and the class of the window that receives them.
    std::unique_ptr<KeyEventPoster> keyEventPoster;
    std::unique_ptr<ActiveWindowInfo> activeWindowInfo;
    std::unique_ptr<Clipboard> clipboard;
    std::unique_ptr<SettingsLauncher> settingsLauncher;
    std::unique_ptr<MicrophoneAccess> microphoneAccess;
    // What Qt's window flags cannot say about the floating panel.
    std::unique_ptr<PanelWindowHelper> panelWindowHelper;
    // The sound server's inputs, for choosing a microphone.
    std::unique_ptr<AudioInputList> audioInputList;
    // A new microphone input (the named sound-server input, or the default one for an empty
    // name) and a new encoder, one of each per recording.
    std::function<std::unique_ptr<PcmSource>(const QString& input)> createPcmSource;
    std::function<std::unique_ptr<AudioFileWriter>()> createAudioFileWriter;
};

} // namespace quill
