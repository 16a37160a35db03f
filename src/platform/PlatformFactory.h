#pragma once

#include "ActiveWindowTracker.h"
#include "AutostartRegistrar.h"
#include "HostInfo.h"
#include "KeyGrabber.h"
#include "SecretStore.h"
#include "SettingsStore.h"

namespace quill::platform {

// The one place that decides which implementation of each platform capability the program uses.
// Each accessor creates its object on first use and keeps it for the life of the process.
SettingsStore& settingsStore();
SecretStore& secretStore();
HostInfo& hostInfo();
AutostartRegistrar& autostartRegistrar();
// The system-wide keyboard hook behind the global shortcuts: X key grabs under X11, none elsewhere.
KeyGrabber& keyGrabber();
// The process of the window in front: _NET_ACTIVE_WINDOW under X11, unknown elsewhere.
ActiveWindowTracker& activeWindowTracker();

} // namespace quill::platform
