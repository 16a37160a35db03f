#pragma once

#include "AutostartRegistrar.h"
#include "HostInfo.h"
#include "SecretStore.h"
#include "SettingsStore.h"

namespace quill::platform {

// The one place that decides which implementation of each platform capability the program uses.
// Each accessor creates its object on first use and keeps it for the life of the process.
SettingsStore& settingsStore();
SecretStore& secretStore();
HostInfo& hostInfo();
AutostartRegistrar& autostartRegistrar();

} // namespace quill::platform
