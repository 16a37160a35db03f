#include "Log.h"

namespace quill {

Q_LOGGING_CATEGORY(lcApp, "quillpoint.app")
Q_LOGGING_CATEGORY(lcBackend, "quillpoint.backend")
Q_LOGGING_CATEGORY(lcCapture, "quillpoint.capture")
Q_LOGGING_CATEGORY(lcHistory, "quillpoint.history")
Q_LOGGING_CATEGORY(lcOverlay, "quillpoint.overlay")
Q_LOGGING_CATEGORY(lcPlatform, "quillpoint.platform")
Q_LOGGING_CATEGORY(lcPreferences, "quillpoint.preferences")
Q_LOGGING_CATEGORY(lcShortcuts, "quillpoint.shortcuts")

void logLine(const QLoggingCategory& category, const QString& component, const QString& message) {
    if (category.isInfoEnabled())
        QMessageLogger(nullptr, 0, nullptr, category.categoryName()).info().noquote()
            << component + QStringLiteral(": ") + message;
}

} // namespace quill
