#pragma once

#include <QHash>
#include <QObject>
#include <QString>

namespace quill {

class ActiveWindowInfo;
class HistorySettings;
class HistoryStore;

// Writes each result to the history as it arrives, with the application in front, while the
// history is on. Its slots are connected directly to the sequences' signals, which are emitted
// before a result is shown or pasted, so the entry is on disk first.
class HistoryRecorder : public QObject {
    Q_OBJECT
public:
    HistoryRecorder(HistoryStore& store, const HistorySettings& settings, ActiveWindowInfo& activeWindow,
                    QObject* parent = nullptr);

    void recordExplanation(const QString& input, const QString& output);
    void recordActionResult(const QString& action, const QString& input, const QString& output);
    // `serial` names the transcript in transcriptPasted; it is written as not pasted until then.
    void recordTranscript(quint64 serial, const QString& transcript, double seconds);
    void transcriptPasted(quint64 serial, bool pasted);

private:
    QString frontApplication() const;

    HistoryStore& m_store;
    const HistorySettings& m_settings;
    ActiveWindowInfo& m_activeWindow;
    // Transcripts written but not pasted yet: serial to entry id.
    QHash<quint64, qint64> m_unpasted;
};

} // namespace quill
