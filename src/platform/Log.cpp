#include "Log.h"

#include <cstdio>

namespace quill {
namespace {
LogSink& sink() {
    static LogSink s;
    return s;
}
} // namespace

void logLine(const QString& component, const QString& message) {
    const QString line = component + QStringLiteral(": ") + message;
    if (sink()) {
        sink()(line);
        return;
    }
    const QByteArray utf8 = line.toUtf8();
    std::fwrite(utf8.constData(), 1, static_cast<size_t>(utf8.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void setLogSink(LogSink s) {
    sink() = std::move(s);
}

} // namespace quill
