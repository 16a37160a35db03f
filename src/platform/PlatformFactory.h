#pragma once

#include "AccessibilityReader.h"
#include "AccessibilityStatus.h"
#include "ActiveWindowInfo.h"
#include "AudioFileWriter.h"
#include "ActiveWindowTracker.h"
#include "AutostartRegistrar.h"
#include "Clipboard.h"
#include "HostInfo.h"
#include "KeyEventPoster.h"
#include "KeyGrabber.h"
#include "MicrophoneAccess.h"
#include "PanelWindowHelper.h"
#include "PcmSource.h"
#include "SecretStore.h"
#include "SettingsLauncher.h"
#include "SettingsStore.h"

#include <memory>

namespace quill::platform {

// The one place that decides which implementation of each platform capability the program uses.
// Each accessor creates its object on first use and keeps it for the life of the process.
SettingsStore& settingsStore();
SecretStore& secretStore();
HostInfo& hostInfo();
AutostartRegistrar& autostartRegistrar();
// X11 window hints for the floating panel; does nothing on other window systems.
PanelWindowHelper& panelWindowHelper();
// A new microphone input and a new audio file encoder, one of each per recording.
std::unique_ptr<PcmSource> createPcmSource();
std::unique_ptr<AudioFileWriter> createAudioFileWriter();
// The system-wide keyboard hook behind the global shortcuts: X key grabs under X11, none elsewhere.
KeyGrabber& keyGrabber();
// The process of the window in front: _NET_ACTIVE_WINDOW under X11, unknown elsewhere.
ActiveWindowTracker& activeWindowTracker();
// Reading other applications' text: AT-SPI when an accessibility bus exists, none otherwise.
AccessibilityReader& accessibilityReader();
// Synthetic key presses (XTEST) and the active window's class under X11; none elsewhere.
KeyEventPoster& keyEventPoster();
ActiveWindowInfo& activeWindowInfo();
// The desktop clipboard; needs a QGuiApplication.
Clipboard& clipboard();
// The desktop's accessibility switch, its settings program and the microphone's authorisation.
AccessibilityStatus& accessibilityStatus();
SettingsLauncher& settingsLauncher();
MicrophoneAccess& microphoneAccess();

} // namespace quill::platform
