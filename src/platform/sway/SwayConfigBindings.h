#pragma once

#include "platform/KeyGrabber.h"

#include <QString>
#include <vector>

// What sway's configuration binds, read from the text its IPC returns for get_config.
namespace quill::sway {

// The combinations the default mode of `config` binds with bindsym or bindcode, as physical
// keys. Variables (`set $mod Mod4`) are expanded and `bindsym { ... }` blocks are read; other
// modes, keysyms that are no physical key of the US layout and modifiers without a Qt
// counterpart (Mod3, Mod5, Lock) are left out.
std::vector<KeyCombination> boundCombinations(const QString& config);

// The combination as bindcode writes it: Ctrl+Shift+10.
QString bindcodeCombination(const KeyCombination& combination);

} // namespace quill::sway
