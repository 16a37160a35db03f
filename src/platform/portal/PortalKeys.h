#pragma once

#include <QString>
#include <Qt>
#include <cstdint>

// Translation between Qt's key names and the portals' terms: keysyms for the RemoteDesktop
// keyboard, and the shortcut trigger syntax of the GlobalShortcuts portal ("CTRL+SHIFT+a").
namespace quill::portal {

// The keysym the key types without Shift on a US layout; 0 for a key with none.
uint32_t keysymForKey(Qt::Key key);
// The trigger for `modifiers` + `key`; empty when the key has no keysym.
QString triggerFor(Qt::Key key, Qt::KeyboardModifiers modifiers);

} // namespace quill::portal
