#pragma once

#include "Platform.h"

#include <QString>

namespace quill {

// The display systems the program knows how to work with.
enum class Session { x11, wayland, none };

} // namespace quill

namespace quill::platform {

// The session this process runs in: Wayland whenever a compositor answers at WAYLAND_DISPLAY,
// even while Qt talks X11 to XWayland (an X11 key grab, XTEST and _NET_ACTIVE_WINDOW reach only
// XWayland's own windows); else X11 when Qt talks X11. QUILLPOINT_PLATFORM=x11|wayland|null
// overrides the check: `null` gives the do-nothing version of every window-system capability,
// for tests and headless runs.
Session detectSession();

// The keyring with its file fallback; each keyring call waits at most `timeoutMs`.
std::unique_ptr<SecretStore> createSecretStore(int timeoutMs = 1000);
// Only the file that takes the secrets where no keyring exists.
std::unique_ptr<SecretStore> createFileSecretStore();

// Builds every platform object for `session`. Needs the QGuiApplication to exist.
Platform createPlatform(Session session);

} // namespace quill::platform
