#pragma once

#include "platform/SessionProbe.h"

namespace quill::x11 {

// Whether an X server answers at `display`, without Qt.
bool canConnect(const QByteArray& display);

// Opens its own connection to $DISPLAY; every grab it tries is released before it returns.
X11Facts probe(const QList<KeyCombination>& shortcuts);

} // namespace quill::x11
