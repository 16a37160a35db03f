#include "HistoryRecorder.h"

#include "HistorySettings.h"
#include "HistoryStore.h"
#include "platform/ActiveWindowInfo.h"

namespace quill {

HistoryRecorder::HistoryRecorder(HistoryStore& store, const HistorySettings& settings,
                                 ActiveWindowInfo& activeWindow, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_settings(settings)
    , m_activeWindow(activeWindow) {}

// The most general of the names reads best in a list: the X11 class name ("Mousepad"), or on
// Wayland the executable's name.
QString HistoryRecorder::frontApplication() const {
    const QStringList names = m_activeWindow.applicationNames();
    return names.isEmpty() ? QString() : names.constLast();
}

void HistoryRecorder::recordExplanation(const QString& input, const QString& output) {
    if (!m_settings.enabled())
        return;
    HistoryEntry entry;
    entry.kind = HistoryKind::explanation;
    entry.application = frontApplication();
    entry.input = input;
    entry.output = output;
    m_store.add(entry, m_settings.retention());
}

void HistoryRecorder::recordActionResult(const QString& action, const QString& input, const QString& output) {
    if (!m_settings.enabled())
        return;
    HistoryEntry entry;
    entry.kind = HistoryKind::actionResult;
    entry.application = frontApplication();
    entry.action = action;
    entry.input = input;
    entry.output = output;
    m_store.add(entry, m_settings.retention());
}

void HistoryRecorder::recordTranscript(quint64 serial, const QString& transcript, double seconds) {
    if (!m_settings.enabled())
        return;
    HistoryEntry entry;
    entry.kind = HistoryKind::transcript;
    entry.application = frontApplication();
    entry.seconds = seconds;
    entry.output = transcript;
    entry.pasted = false;
    if (const std::optional<qint64> id = m_store.add(entry, m_settings.retention()))
        m_unpasted.insert(serial, *id);
}

void HistoryRecorder::transcriptPasted(quint64 serial, bool pasted) {
    const std::optional<qint64> id =
        m_unpasted.contains(serial) ? std::optional(m_unpasted.take(serial)) : std::nullopt;
    if (id && pasted)
        m_store.setPasted(*id, true);
}

} // namespace quill
