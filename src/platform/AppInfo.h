#pragma once

#include <QString>

namespace quill {

// The application id: keyring service, desktop file id and single-instance name.
inline QString bundleIdentifier() {
    return QStringLiteral(QUILLPOINT_BUNDLE_ID);
}

} // namespace quill
