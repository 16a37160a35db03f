#pragma once

#include "platform/AccessibilityReader.h"
#include "platform/ActiveWindowInfo.h"
#include "platform/Clipboard.h"
#include "platform/KeyEventPoster.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace quill {

// How a terminal emulator copies and pastes from the keyboard. In every terminal a plain
// Ctrl+C interrupts the running program.
enum class TerminalKind {
    none,          // not a terminal
    clipboardKeys, // copies with Ctrl+Shift+C and pastes with Ctrl+Shift+V
    selectionOnly, // Ctrl+Shift+C is an interrupt too: its selection is the primary selection
};

// How a paste that keeps the clipboard ended.
enum class KeptPaste {
    pasted,
    notSent,        // the paste key could not be sent: the clipboard was refused us, or keys stayed held
    clipboardInUse, // the clipboard could not be saved whole, so it was left alone and nothing pasted
};

// Reads the text the user selected in another application and pastes text into it as if typed.
class TextCaptureService {
public:
    struct Timing {
        int modifierReleaseTimeoutMs = 1000; // for the user to let go of the shortcut's keys
        // The keys of a shortcut sent by a tool go up within a millisecond or two: a short
        // period keeps the wait from costing more than that.
        int modifierPollMs = 2;
        int copyTimeoutMs = 500; // for the application in front to answer a synthetic copy
        // For the application in front to read a pasted text before the clipboard is restored
        // anyway, and how long after its last read it may still ask for another format.
        int pasteReadTimeoutMs = 3000;
        int pasteReadSettleMs = 200;
        // For keeping the clipboard's earlier contents.
        ClipboardReadLimits saveLimits{};
    };

    TextCaptureService(AccessibilityReader& accessibility, KeyEventPoster& keys,
                       ActiveWindowInfo& activeWindow, Clipboard& clipboard, Timing timing);
    TextCaptureService(AccessibilityReader& accessibility, KeyEventPoster& keys,
                       ActiveWindowInfo& activeWindow, Clipboard& clipboard);
    ~TextCaptureService();

    // The selection of the focused element of the front application, or of the application
    // with `processId`; the clipboard is left alone.
    std::optional<QString> selectedTextViaAccessibility(std::optional<qint32> processId = std::nullopt);
    // The selection as the front application copies it. The clipboard's earlier contents are
    // back when this returns; when `saveLimits` do not let them all be read, the clipboard is not
    // touched and there is no selection. Runs a local event loop
    // (without user input) for at most about `modifierReleaseTimeoutMs` + the save's time budget
    // + `copyTimeoutMs`; a call made while one is running gets none.
    std::optional<QString> selectedTextViaCopy();
    // Leaves `text` on the clipboard and pastes it into the front application. False when the
    // paste key could not be sent (the clipboard was refused us, or the keys stayed held).
    bool pasteText(const QString& text);
    // Pastes `text` like pasteText and puts the clipboard's earlier content back once the
    // application in front has read the text (or has not within `pasteReadTimeoutMs`), unless
    // the clipboard changed meanwhile. Returns before the restore. A clipboard that cannot be
    // saved whole is left as it is and nothing is pasted.
    KeptPaste pasteTextKeepingClipboard(const QString& text);
    // Puts back at once the content a kept paste still waits to restore, as before quitting.
    void finishPendingRestore();

    // Whether synthetic keys go out now; prepareKeyboard() asks the desktop for them (it may ask
    // the user) and tells `done` whether they can, possibly at once.
    bool keyboardReady() const { return m_keys.isReady(); }
    bool isKeyboardAvailable() const { return m_keys.isAvailable(); }
    void prepareKeyboard(QObject* context, const std::function<void(bool ready)>& done) {
        m_keys.prepare(context, done);
    }

    static TerminalKind terminalKind(const QStringList& applicationNames);

private:
    using SavedClipboard = QList<ClipboardFormat>;

    // Whether the paste key was sent.
    bool paste(const QString& text);
    void restoreAfterRead();
    // None when the clipboard could not be read whole.
    std::optional<SavedClipboard> saveClipboard();
    void restoreClipboard(const SavedClipboard& saved);
    bool waitForModifierRelease();
    // Polls `condition` without taking user input until it holds (true) or the release time-out ends.
    bool waitUntil(const std::function<bool()>& condition);
    void postCommandKey(Qt::Key key, TerminalKind terminal);
    std::optional<QString> awaitCopiedText();

    AccessibilityReader& m_accessibility;
    KeyEventPoster& m_keys;
    ActiveWindowInfo& m_activeWindow;
    Clipboard& m_clipboard;
    Timing m_timing;
    bool m_copying = false;
    // The clipboard's content before a kept paste, while its restore waits; the context carries
    // the waits' connections and timers.
    std::optional<SavedClipboard> m_keptContent;
    QString m_pastedText;
    std::unique_ptr<QObject> m_restoreContext;
};

} // namespace quill
