#pragma once

#include <QString>
#include <functional>

namespace quill {

// Sparse log output: one plain line per event on standard output, "Component: message".
void logLine(const QString& component, const QString& message);

// Lets tests observe log lines; pass an empty function to restore standard output.
using LogSink = std::function<void(const QString& line)>;
void setLogSink(LogSink sink);

} // namespace quill
