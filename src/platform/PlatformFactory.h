#pragma once

#include "Platform.h"

#include <QString>

namespace quill::platform {

// The display systems the program knows how to work with.
enum class Session { x11, wayland, none };

// The session this process runs in, from Qt's platform plugin (so XWayland counts as X11 when Qt
// talks X11). QUILLPOINT_PLATFORM=x11|null overrides the check: `null` gives the do-nothing
// version of every window-system capability, for tests and headless runs.
Session detectSession();

// The keyring with its file fallback; each keyring call waits at most `timeoutMs`.
std::unique_ptr<SecretStore> createSecretStore(int timeoutMs = 1000);
// Only the file that takes the secrets where no keyring exists.
std::unique_ptr<SecretStore> createFileSecretStore();

// Builds every platform object for `session`. Needs the QGuiApplication to exist.
Platform createPlatform(Session session);

} // namespace quill::platform
