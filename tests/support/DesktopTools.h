#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <atomic>
#include <thread>

namespace quill::test {

// Runs xdotool; false when it fails. `output` gets its trimmed standard output.
bool xdotool(const QStringList& arguments, QString* output = nullptr);
// Runs `program` for at most 10 s; its trimmed standard output. `ok` tells whether it ended
// within that time with exit status 0.
QString commandOutput(const QString& program, const QStringList& arguments, bool* ok = nullptr);
// Drags the pointer along the row `y` below the top of the X11 window `window`, from its left
// edge to beyond its right one, as a person selects a line in a terminal. Moves in screen
// coordinates: xdotool's moves relative to Konsole's window miss its terminal.
bool dragAlongScreenRow(const QString& window, int y);
// The processes running `program` whose environment has `variable` as this process has it (the
// same display or compositor).
QList<int> processesOf(const QByteArray& program, const char* variable);
// The first mapped window of `windowClass`, brought to the front; empty when none appears.
QString activateWindow(const QString& windowClass);
// Writes the program's settings file below `configHome` (this desktop's config home when empty):
// the backend at `backendUrl`, then `moreLines` of the [General] group. Returns the file's path,
// empty when it cannot be written.
QString writeProgramSettings(const QString& backendUrl, const QByteArray& moreLines = {},
                             const QString& configHome = {});
// This process's environment with KEY=VALUE entries set and -KEY entries removed.
QProcessEnvironment environmentWith(const QStringList& changes);
// `words` spoken by espeak-ng as raw 16 kHz mono s16le samples.
QByteArray speechPcm(const QString& words);

// A text file of its own opened in mousepad, in front; mousepad is killed with it. The file is
// what a test reads back after making mousepad save it (Ctrl+S).
class EditedDocument {
public:
    explicit EditedDocument(const QByteArray& text);
    ~EditedDocument();
    EditedDocument(const EditedDocument&) = delete;
    EditedDocument& operator=(const EditedDocument&) = delete;

    // Empty when mousepad did not show the document.
    QString window() const { return m_window; }
    // The file's text as last saved.
    QString savedText() const;

private:
    QTemporaryDir m_dir;
    QProcess m_editor;
    QString m_window;
};

// Plays raw 16 kHz mono s16le audio into the sound server's pipe source (or the pipe at `fifo`)
// at the pace of a real microphone, over and over, until destroyed or the pipe's reader goes.
class MicFeeder {
public:
    explicit MicFeeder(QByteArray pcm, QString fifo = {});
    ~MicFeeder();
    MicFeeder(const MicFeeder&) = delete;
    MicFeeder& operator=(const MicFeeder&) = delete;

    // True once the first samples are in the pipe.
    bool isFeeding() const { return m_feeding; }

private:
    void run();

    QByteArray m_pcm;
    QString m_fifo;
    std::atomic_bool m_stop = false;
    std::atomic_bool m_feeding = false;
    std::thread m_thread;
};

} // namespace quill::test
