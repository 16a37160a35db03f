#pragma once

#include "platform/KeyGrabber.h"

#include <QString>

// GNOME's accelerator syntax ("<Control><Shift>a", "<Super>F5"), as its key binding settings
// store keys.
namespace quill::gnome {

// The accelerator for a combination; empty when the key has no keysym.
QString acceleratorFor(const KeyCombination& combination);
// Whether a stored accelerator names the same key and modifiers, whichever of GNOME's spellings
// it uses (<Primary> and <Ctrl> for <Control>, upper or lower case letters).
bool acceleratorMatches(const QString& accelerator, const KeyCombination& combination);

} // namespace quill::gnome
