#pragma once

#include <QLoggingCategory>
#include <QString>

namespace quill {

// One category per subsystem, so that QT_LOGGING_RULES chooses what is shown, e.g.
// QT_LOGGING_RULES="quillpoint.capture.info=false".
Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcBackend)
Q_DECLARE_LOGGING_CATEGORY(lcCapture)
Q_DECLARE_LOGGING_CATEGORY(lcHistory)
Q_DECLARE_LOGGING_CATEGORY(lcOverlay)
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)
Q_DECLARE_LOGGING_CATEGORY(lcPreferences)
Q_DECLARE_LOGGING_CATEGORY(lcShortcuts)
// Off unless asked for (QT_LOGGING_RULES="quillpoint.latency.debug=true"): time marks that a
// benchmark pairs up.
Q_DECLARE_LOGGING_CATEGORY(lcLatency)

// Sparse log output: one plain line per event, "Component: message", at info level.
void logLine(const QLoggingCategory& category, const QString& component, const QString& message);

// "quillpoint.latency: EVENT at MS ms", MS on the system's monotonic clock, which every process
// shares, so that marks of this program and of its peers line up.
void logLatencyMark(const char* event);

// How the program prints messages: info lines (ours) exactly as logLine wrote them, warnings
// and errors with their category in front. QT_MESSAGE_PATTERN still overrides it.
inline constexpr char logMessagePattern[] = "%{if-info}%{message}%{endif}"
                                            "%{if-debug}%{category}: %{message}%{endif}"
                                            "%{if-warning}%{category}: %{message}%{endif}"
                                            "%{if-critical}%{category}: %{message}%{endif}"
                                            "%{if-fatal}%{category}: %{message}%{endif}";

} // namespace quill
