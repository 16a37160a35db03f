#include "TextCaptureService.h"

#include "shortcuts/KeyCodes.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSet>
#include <QTextBoundaryFinder>
#include <QTimer>

namespace quill {
namespace {

constexpr uint32_t kKeyCodeC = 8;
constexpr uint32_t kKeyCodeV = 9;

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

} // namespace

TextCaptureService::TextCaptureService(AccessibilityReader& accessibility, KeyEventPoster& keys,
                                       ActiveWindowInfo& activeWindow, Clipboard& pasteboard, Timing timing)
    : m_accessibility(accessibility)
    , m_keys(keys)
    , m_activeWindow(activeWindow)
    , m_pasteboard(pasteboard)
    , m_timing(timing) {}

TextCaptureService::TextCaptureService(AccessibilityReader& accessibility, KeyEventPoster& keys,
                                       ActiveWindowInfo& activeWindow, Clipboard& pasteboard)
    : TextCaptureService(accessibility, keys, activeWindow, pasteboard, Timing{}) {}

std::optional<QString> TextCaptureService::selectedTextViaAccessibility(std::optional<qint32> processId) {
    // While the shortcut's key is down the X server keeps the keyboard grabbed for us, and the
    // application in front counts as unfocused: it reports no active window and ignores a copy.
    waitUntil([this] { return !m_keys.isKeyHeld(); });
    const auto focused =
        m_accessibility.focusedText(processId ? std::optional<qint64>(*processId) : std::nullopt);
    if (!focused)
        return std::nullopt;
    if (focused->selectedText && !focused->selectedText->isEmpty())
        return focused->selectedText;
    if (!focused->range || !focused->value || focused->range->length < 1)
        return std::nullopt;
    return cut(*focused->value, *focused->range);
}

std::optional<QString> TextCaptureService::selectedTextViaCopy() {
    if (m_copying)
        return std::nullopt;
    const TerminalKind terminal = terminalKind(m_activeWindow.windowClass());
    if (terminal == TerminalKind::SelectionOnly)
        return m_pasteboard.selectionText();
    m_copying = true;
    std::optional<QString> text;
    // Keys still held from the shortcut would turn the copy into another command.
    if (waitForModifierRelease()) {
        const SavedPasteboard saved = savePasteboard();
        m_pasteboard.clear();
        postCommandKey(kKeyCodeC, terminal);
        text = awaitCopiedText();
        restorePasteboard(saved);
    }
    m_copying = false;
    return text;
}

void TextCaptureService::pasteText(const QString& text) {
    const TerminalKind terminal = terminalKind(m_activeWindow.windowClass());
    m_pasteboard.clear();
    m_pasteboard.setText(text);
    if (terminal == TerminalKind::SelectionOnly)
        m_pasteboard.setSelectionText(text);
    // When the X server refused us the selection, a paste would insert someone else's text.
    const bool owned = m_pasteboard.text() == text &&
                       (terminal != TerminalKind::SelectionOnly || m_pasteboard.selectionText() == text);
    if (owned && waitForModifierRelease())
        postCommandKey(kKeyCodeV, terminal);
}

TerminalKind TextCaptureService::terminalKind(const QStringList& windowClass) {
    for (const QString& name : windowClass) {
        const QString lower = name.toLower();
        if (kSelectionOnlyTerminals.contains(lower))
            return TerminalKind::SelectionOnly;
        if (kClipboardKeyTerminals.contains(lower))
            return TerminalKind::ClipboardKeys;
    }
    return TerminalKind::None;
}

TextCaptureService::SavedPasteboard TextCaptureService::savePasteboard() {
    QList<ClipboardFormat> formats;
    for (const QString& format : m_pasteboard.formats()) {
        if (kPseudoFormats.contains(format))
            continue;
        const QByteArray bytes = m_pasteboard.data(format);
        if (!bytes.isEmpty())
            formats.append({format, bytes});
    }
    if (formats.isEmpty())
        return std::nullopt;
    return formats;
}

void TextCaptureService::restorePasteboard(const SavedPasteboard& saved) {
    m_pasteboard.clear();
    if (saved)
        m_pasteboard.setFormats(*saved);
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

void TextCaptureService::postCommandKey(uint32_t keyCode, TerminalKind terminal) {
    switch (terminal) {
    case TerminalKind::None:
        if (const auto key = keyCodeInfo(keyCode))
            m_keys.postKey(key->qtKey, Qt::ControlModifier);
        break;
    case TerminalKind::ClipboardKeys:
        if (const auto key = keyCodeInfo(keyCode))
            m_keys.postKey(key->qtKey, Qt::ControlModifier | Qt::ShiftModifier);
        break;
    case TerminalKind::SelectionOnly:
        // Such terminals paste the primary selection with Shift+Insert and have no copy key.
        if (keyCode == kKeyCodeV)
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
    QObject::connect(&m_pasteboard, &Clipboard::changed, &loop, [&] {
        text = m_pasteboard.text();
        if (text)
            loop.quit();
    });
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(m_timing.copyTimeoutMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return text ? text : m_pasteboard.text();
}

} // namespace quill
