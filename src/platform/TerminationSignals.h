#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

namespace quill {

// Turns SIGTERM, SIGINT and SIGHUP (a session ending, Ctrl+C in a terminal) into a signal on
// the main thread, so the program quits through its event loop and cleans up: a recording in
// progress is deleted, the clipboard stays served until the end.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void terminationRequested(int signalNumber);

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace quill
