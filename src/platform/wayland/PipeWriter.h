#pragma once

#include <QByteArray>

namespace quill::wayland {

// Writes our contents to a reader on a thread of its own, so a slow reader holds up nothing;
// a reader that takes them but stops reading is given up on after a few seconds. Takes the
// descriptor over.
void serve(int writeEnd, QByteArray bytes);

} // namespace quill::wayland
