#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

namespace quill {

enum class HistoryKind { explanation, actionResult, transcript };

// One result as the history keeps it.
struct HistoryEntry {
    qint64 id = 0;
    QDateTime time;
    HistoryKind kind = HistoryKind::explanation;
    // The application in front when the result arrived; empty when it named none.
    QString application;
    // The name of the action that made an action result.
    QString action;
    // The selected text the result answers; empty for a transcript.
    QString input;
    // The recording's length, for a transcript.
    double seconds = 0;
    QString output;
    // For a transcript: whether it reached the application in front. False from the moment it
    // is written until the paste went out, so a program that ended in between shows it unpasted.
    std::optional<bool> pasted;
};

// How much history is kept; applied each time an entry is written.
struct HistoryRetention {
    int days = 30;
    int entries = 1000;
};

} // namespace quill
