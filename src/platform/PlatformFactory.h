#pragma once

#include "ActiveWindowTracker.h"
#include "AudioFileWriter.h"
#include "AutostartRegistrar.h"
#include "HostInfo.h"
#include "KeyGrabber.h"
#include "PcmSource.h"
#include "SecretStore.h"
#include "SettingsStore.h"

#include <memory>

namespace quill::platform {

// The one place that decides which implementation of each platform capability the program uses.
// Each accessor creates its object on first use and keeps it for the life of the process.
SettingsStore& settingsStore();
SecretStore& secretStore();
HostInfo& hostInfo();
AutostartRegistrar& autostartRegistrar();
// A new microphone input and a new audio file encoder, one of each per recording.
std::unique_ptr<PcmSource> createPcmSource();
std::unique_ptr<AudioFileWriter> createAudioFileWriter();
// The system-wide keyboard hook behind the global shortcuts: X key grabs under X11, none elsewhere.
KeyGrabber& keyGrabber();
// The process of the window in front: _NET_ACTIVE_WINDOW under X11, unknown elsewhere.
ActiveWindowTracker& activeWindowTracker();

} // namespace quill::platform
