#include "TextCaptureService.h"

#include "platform/Log.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSet>
#include <QTextBoundaryFinder>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <utility>

namespace quill {
namespace {

// Targets that describe the selection rather than hold its contents, and the image format Qt
// makes up from the real ones; writing them back would serve a copy of a copy.
const QSet<QString> kPseudoFormats = {
    QStringLiteral("TARGETS"),
    QStringLiteral("MULTIPLE"),
    QStringLiteral("TIMESTAMP"),
    QStringLiteral("SAVE_TARGETS"),
    QStringLiteral("application/x-qt-image"),
};

// WM_CLASS names, lower case.
const QSet<QString> kClipboardKeyTerminals = {
    "gnome-terminal",
    "gnome-terminal-server",
    "konsole",
    "xfce4-terminal",
    "alacritty",
    "kitty",
    "tilix",
    "terminator",
    "st",
    "st-256color",
    "foot",
    "footclient",
    "wezterm",
    "org.wezfurlong.wezterm",
    "lxterminal",
    "mate-terminal",
    "qterminal",
    "terminology",
    "sakura",
    "guake",
    "tilda",
    "yakuake",
    "kgx",
    "org.gnome.console",
    "ptyxis",
    "org.gnome.ptyxis",
    "deepin-terminal",
    "cool-retro-term",
    "termite",
    "roxterm",
    "ghostty",
    "com.mitchellh.ghostty",
    "io.elementary.terminal",
    "tabby",
    "hyper",
    "contour",
    "com.raggesilver.blackbox",
    "cosmic-term",
    "rio",
    "x-terminal-emulator",
};
const QSet<QString> kSelectionOnlyTerminals = {
    "xterm", "uxterm", "urxvt", "rxvt", "rxvt-unicode", "urxvt-256color", "eterm", "aterm", "kterm", "mlterm",
};

// `range` over `value` in user-perceived characters, the start falling back to the beginning
// and the end to the end of the value.
QString cut(const QString& value, TextRange range) {
    QList<qsizetype> boundaries{0};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, value);
    for (qsizetype next = finder.toNextBoundary(); next != -1; next = finder.toNextBoundary()) {
        if (next > boundaries.constLast())
            boundaries << next;
    }
    const qsizetype characters = boundaries.size() - 1;
    const qsizetype start = range.location > characters ? 0 : range.location;
    const qsizetype end = std::min(start + range.length, characters);
    return value.mid(boundaries.at(start), boundaries.at(end) - boundaries.at(start));
}

// Whether `text` holds more than white space and U+FFFC, the stand-in for an embedded object
// (a paragraph of a web page, an image) that some applications report in place of its text.
bool isReadable(const std::optional<QString>& text) {
    return text && std::any_of(text->cbegin(), text->cend(),
                               [](QChar c) { return c != QChar(0xFFFC) && !c.isSpace(); });
}

std::optional<QString> readable(std::optional<QString> text, const QString& how) {
    if (!isReadable(text))
        return std::nullopt;
    logLatencyMark("selection read");
    logLine(lcCapture(), QStringLiteral("TextCaptureService"),
            QStringLiteral("read %1 characters of selected text through %2").arg(text->size()).arg(how));
    return text;
}

// The selected text of what the accessibility interface reported, when there is any to read.
std::optional<QString> selectionOf(const std::optional<FocusedText>& focused) {
    if (!focused)
        return std::nullopt;
    const QString how = QStringLiteral("accessibility");
    if (focused->selectedText && !focused->selectedText->isEmpty())
        return readable(focused->selectedText, how);
    if (!focused->range || !focused->value || focused->range->length < 1)
        return std::nullopt;
    return readable(cut(*focused->value, *focused->range), how);
}

} // namespace

TextCaptureService::TextCaptureService(AccessibilityReader& accessibility, KeyEventPoster& keys,
                                       ActiveWindowInfo& activeWindow, Clipboard& clipboard, Timing timing)
    : m_accessibility(accessibility)
    , m_keys(keys)
    , m_activeWindow(activeWindow)
    , m_clipboard(clipboard)
    , m_timing(timing) {}

TextCaptureService::TextCaptureService(AccessibilityReader& accessibility, KeyEventPoster& keys,
                                       ActiveWindowInfo& activeWindow, Clipboard& clipboard)
    : TextCaptureService(accessibility, keys, activeWindow, clipboard, Timing{}) {}

TextCaptureService::~TextCaptureService() = default;

std::optional<QString> TextCaptureService::selectedTextViaAccessibility(std::optional<qint32> processId) {
    const std::optional<qint64> pid = processId ? std::optional<qint64>(*processId) : std::nullopt;
    // While the shortcut's key is down the X server keeps the keyboard grabbed for us, and the
    // application in front counts as unfocused: it reports no active window and ignores a copy.
    // The element it announced focus on still answers, and where that holds the selection, the
    // text is read at the press rather than at the release, a person's whole key hold earlier.
    // What the application announces in the hold's first moments (GTK 4: the focus it loses to
    // the grab) is read as it comes.
    if (pid && m_keys.isKeyHeld()) {
        const auto heldSince = std::chrono::steady_clock::now();
        std::optional<QString> text;
        waitUntil([&] {
            text = selectionOf(m_accessibility.announcedFocusText(*pid, heldSince));
            return text || !m_keys.isKeyHeld();
        });
        if (text)
            return text;
    } else {
        waitUntil([this] { return !m_keys.isKeyHeld(); });
    }
    logLatencyMark("shortcut key up");
    return selectionOf(m_accessibility.focusedText(pid));
}

std::optional<QString> TextCaptureService::selectedTextViaCopy() {
    if (m_copying)
        return std::nullopt;
    const TerminalKind terminal = terminalKind(m_activeWindow.applicationNames());
    // The primary selection is the text last selected anywhere: the terminal's only if it holds it.
    if (terminal == TerminalKind::selectionOnly)
        return m_activeWindow.holdsPrimarySelection()
                   ? readable(m_clipboard.selectionText(), QStringLiteral("the primary selection"))
                   : std::nullopt;
    m_copying = true;
    std::optional<QString> text;
    // Keys still held from the shortcut would turn the copy into another command.
    if (waitForModifierRelease()) {
        logLatencyMark("copy: modifiers up");
        // Copying replaces the clipboard: only a clipboard saved whole can be put back.
        if (const std::optional<SavedClipboard> saved = saveClipboard()) {
            logLatencyMark("copy: clipboard saved");
            m_clipboard.clear();
            postCommandKey(Qt::Key_C, terminal);
            logLatencyMark("copy: key sent");
            text = awaitCopiedText();
            logLatencyMark("copy: copied text read");
            restoreClipboard(*saved);
            logLatencyMark("copy: clipboard restored");
        } else {
            logLine(lcCapture(), QStringLiteral("TextCaptureService"),
                    QStringLiteral("not copying the selection: the clipboard's contents could not all be "
                                   "read within the limits, and copying would lose them"));
        }
    }
    m_copying = false;
    return readable(text, QStringLiteral("a copy"));
}

bool TextCaptureService::pasteText(const QString& text) {
    // The transcript now stays on the clipboard: a restore still waiting would take it away.
    m_restoreContext.reset();
    m_keptContent.reset();
    return paste(text);
}

KeptPaste TextCaptureService::pasteTextKeepingClipboard(const QString& text) {
    // While an earlier kept paste waits, the clipboard holds its text, not the user's content.
    if (!m_restoreContext) {
        m_keptContent = saveClipboard();
        if (!m_keptContent) {
            logLine(lcCapture(), QStringLiteral("TextCaptureService"),
                    QStringLiteral("not pasting: the clipboard's contents could not all be read within "
                                   "the limits, and pasting would lose them"));
            return KeptPaste::clipboardInUse;
        }
    }
    m_restoreContext.reset();
    m_pastedText = text;
    if (!paste(text)) {
        finishPendingRestore();
        return KeptPaste::notSent;
    }
    restoreAfterRead();
    return KeptPaste::pasted;
}

void TextCaptureService::restoreAfterRead() {
    m_restoreContext = std::make_unique<QObject>();
    auto* deadline = new QTimer(m_restoreContext.get());
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, m_restoreContext.get(), [this] { finishPendingRestore(); });
    deadline->start(m_timing.pasteReadTimeoutMs);
    // Readers often ask for several formats one after the other: restore once they are quiet.
    auto* settle = new QTimer(m_restoreContext.get());
    settle->setSingleShot(true);
    QObject::connect(settle, &QTimer::timeout, m_restoreContext.get(), [this] { finishPendingRestore(); });
    QObject::connect(&m_clipboard, &Clipboard::contentsRead, m_restoreContext.get(), [this, settle] {
        logLatencyMark("paste: contents read");
        settle->start(m_timing.pasteReadSettleMs);
    });
}

void TextCaptureService::finishPendingRestore() {
    // Runs inside a signal of the context: delete it later.
    if (QObject* context = m_restoreContext.release())
        context->deleteLater();
    const std::optional<SavedClipboard> saved = std::exchange(m_keptContent, std::nullopt);
    // Something copied since the paste is the user's newer content; a clipboard we were refused
    // is not ours to replace either.
    if (!saved || m_clipboard.text() != m_pastedText)
        return;
    restoreClipboard(*saved);
    logLatencyMark("paste: clipboard given back");
}

bool TextCaptureService::paste(const QString& text) {
    const TerminalKind terminal = terminalKind(m_activeWindow.applicationNames());
    m_clipboard.clear();
    m_clipboard.setText(text);
    if (terminal == TerminalKind::selectionOnly)
        m_clipboard.setSelectionText(text);
    // When the X server refused us the selection, a paste would insert someone else's text.
    const bool owned = m_clipboard.text() == text &&
                       (terminal != TerminalKind::selectionOnly || m_clipboard.selectionText() == text);
    // Without a keyboard the text stays on the clipboard for the user to paste.
    if (!owned || !m_keys.isAvailable() || !waitForModifierRelease())
        return false;
    // A desktop slow to take the text up still gets the key: the text may have reached the
    // application by the time it reads.
    if (!waitUntil([this] { return !m_clipboard.desktopTakingUp(); }))
        logLine(lcCapture(), QStringLiteral("TextCaptureService"),
                QStringLiteral("pasting although the desktop has not yet taken up the text"));
    postCommandKey(Qt::Key_V, terminal);
    logLatencyMark("paste: key sent");
    return true;
}

TerminalKind TextCaptureService::terminalKind(const QStringList& applicationNames) {
    for (const QString& name : applicationNames) {
        const QString lower = name.toLower();
        if (kSelectionOnlyTerminals.contains(lower))
            return TerminalKind::selectionOnly;
        if (kClipboardKeyTerminals.contains(lower))
            return TerminalKind::clipboardKeys;
    }
    return TerminalKind::none;
}

std::optional<TextCaptureService::SavedClipboard> TextCaptureService::saveClipboard() {
    ClipboardContents contents = m_clipboard.readAll(m_timing.saveLimits);
    if (!contents.complete)
        return std::nullopt;
    contents.formats.removeIf(
        [](const ClipboardFormat& format) { return kPseudoFormats.contains(format.first); });
    return contents.formats;
}

void TextCaptureService::restoreClipboard(const SavedClipboard& saved) {
    m_clipboard.clear();
    if (!saved.isEmpty())
        m_clipboard.setFormats(saved);
}

bool TextCaptureService::waitForModifierRelease() {
    return waitUntil(
        [this] { return !(m_keys.heldModifiers() & ~Qt::KeyboardModifiers(Qt::ControlModifier)); });
}

bool TextCaptureService::waitUntil(const std::function<bool()>& condition) {
    if (condition())
        return true;
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer elapsed;
    bool ok = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition()) {
            ok = true;
            loop.quit();
        } else if (elapsed.hasExpired(m_timing.modifierReleaseTimeoutMs)) {
            loop.quit();
        }
    });
    elapsed.start();
    poll.start(m_timing.modifierPollMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return ok;
}

void TextCaptureService::postCommandKey(Qt::Key key, TerminalKind terminal) {
    switch (terminal) {
    case TerminalKind::none:
        m_keys.postKey(key, Qt::ControlModifier);
        break;
    case TerminalKind::clipboardKeys:
        m_keys.postKey(key, Qt::ControlModifier | Qt::ShiftModifier);
        break;
    case TerminalKind::selectionOnly:
        // Such terminals paste the primary selection with Shift+Insert and have no copy key.
        if (key == Qt::Key_V)
            m_keys.postKey(Qt::Key_Insert, Qt::ShiftModifier);
        break;
    }
}

std::optional<QString> TextCaptureService::awaitCopiedText() {
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    std::optional<QString> text;
    // Our own clearing announces itself too; only a change that brings text ends the wait.
    QObject::connect(&m_clipboard, &Clipboard::changed, &loop, [&] {
        text = m_clipboard.text();
        if (text)
            loop.quit();
    });
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(m_timing.copyTimeoutMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return text ? text : m_clipboard.text();
}

} // namespace quill
