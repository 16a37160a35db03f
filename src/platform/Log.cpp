#include "Log.h"

#include <chrono>

namespace quill {

Q_LOGGING_CATEGORY(lcApp, "quillpoint.app")
Q_LOGGING_CATEGORY(lcBackend, "quillpoint.backend")
Q_LOGGING_CATEGORY(lcCapture, "quillpoint.capture")
Q_LOGGING_CATEGORY(lcHistory, "quillpoint.history")
Q_LOGGING_CATEGORY(lcOverlay, "quillpoint.overlay")
Q_LOGGING_CATEGORY(lcPlatform, "quillpoint.platform")
Q_LOGGING_CATEGORY(lcPreferences, "quillpoint.preferences")
Q_LOGGING_CATEGORY(lcShortcuts, "quillpoint.shortcuts")
Q_LOGGING_CATEGORY(lcLatency, "quillpoint.latency", QtWarningMsg)

void logLine(const QLoggingCategory& category, const QString& component, const QString& message) {
    if (category.isInfoEnabled())
        QMessageLogger(nullptr, 0, nullptr, category.categoryName()).info().noquote()
            << component + QStringLiteral(": ") + message;
}

void logLatencyMark(const char* event) {
    if (!lcLatency().isDebugEnabled())
        return;
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const double ms = std::chrono::duration<double, std::milli>(now).count();
    qCDebug(lcLatency, "%s at %.3f ms", event, ms);
}

} // namespace quill
