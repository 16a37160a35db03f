#include "SwayConfigBindings.h"

#include "platform/PhysicalKeys.h"

#include <QHash>
#include <QKeySequence>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <optional>

namespace quill::sway {
namespace {

// xkb's names of the US layout's punctuation keys, which Qt spells differently.
const QHash<QString, Qt::Key>& keysymNames() {
    static const QHash<QString, Qt::Key> names{
        {QStringLiteral("minus"), Qt::Key_Minus},
        {QStringLiteral("equal"), Qt::Key_Equal},
        {QStringLiteral("bracketleft"), Qt::Key_BracketLeft},
        {QStringLiteral("bracketright"), Qt::Key_BracketRight},
        {QStringLiteral("semicolon"), Qt::Key_Semicolon},
        {QStringLiteral("apostrophe"), Qt::Key_Apostrophe},
        {QStringLiteral("grave"), Qt::Key_QuoteLeft},
        {QStringLiteral("backslash"), Qt::Key_Backslash},
        {QStringLiteral("comma"), Qt::Key_Comma},
        {QStringLiteral("period"), Qt::Key_Period},
        {QStringLiteral("slash"), Qt::Key_Slash},
        {QStringLiteral("space"), Qt::Key_Space},
        {QStringLiteral("return"), Qt::Key_Return},
        {QStringLiteral("escape"), Qt::Key_Escape},
        {QStringLiteral("tab"), Qt::Key_Tab},
        {QStringLiteral("backspace"), Qt::Key_Backspace},
        {QStringLiteral("delete"), Qt::Key_Delete},
        {QStringLiteral("insert"), Qt::Key_Insert},
        {QStringLiteral("home"), Qt::Key_Home},
        {QStringLiteral("end"), Qt::Key_End},
        {QStringLiteral("prior"), Qt::Key_PageUp},
        {QStringLiteral("page_up"), Qt::Key_PageUp},
        {QStringLiteral("next"), Qt::Key_PageDown},
        {QStringLiteral("page_down"), Qt::Key_PageDown},
        {QStringLiteral("left"), Qt::Key_Left},
        {QStringLiteral("right"), Qt::Key_Right},
        {QStringLiteral("up"), Qt::Key_Up},
        {QStringLiteral("down"), Qt::Key_Down},
    };
    return names;
}

std::optional<Qt::KeyboardModifier> modifierNamed(const QString& name) {
    const QString lower = name.toLower();
    if (lower == QLatin1String("ctrl") || lower == QLatin1String("control"))
        return Qt::ControlModifier;
    if (lower == QLatin1String("shift"))
        return Qt::ShiftModifier;
    if (lower == QLatin1String("mod1") || lower == QLatin1String("alt"))
        return Qt::AltModifier;
    if (lower == QLatin1String("mod4") || lower == QLatin1String("super") || lower == QLatin1String("logo"))
        return Qt::MetaModifier;
    return std::nullopt;
}

Qt::Key keyForKeysym(const QString& name) {
    const QString lower = name.toLower();
    if (const auto found = keysymNames().constFind(lower); found != keysymNames().cend())
        return *found;
    // Letters, digits and the function keys are named alike by xkb and Qt.
    static const QRegularExpression simple(QStringLiteral("^([a-z0-9]|f[0-9]{1,2})$"));
    if (!simple.match(lower).hasMatch())
        return Qt::Key_unknown;
    const QKeySequence sequence = QKeySequence::fromString(name.toUpper(), QKeySequence::PortableText);
    if (sequence.count() != 1)
        return Qt::Key_unknown;
    return sequence[0].key();
}

std::optional<KeyCombination> parseCombination(const QString& text, bool byCode) {
    const QStringList parts = text.split(QLatin1Char('+'));
    KeyCombination combination;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        const auto modifier = modifierNamed(parts[i]);
        if (!modifier)
            return std::nullopt;
        combination.modifiers |= *modifier;
    }
    if (byCode) {
        bool ok = false;
        const uint code = parts.last().toUInt(&ok);
        combination.key = ok ? physicalKeyForScanCode(code) : Qt::Key_unknown;
    } else {
        combination.key = keyForKeysym(parts.last());
    }
    if (combination.key == Qt::Key_unknown)
        return std::nullopt;
    return combination;
}

QString expandVariables(QString line, const std::vector<std::pair<QString, QString>>& variables) {
    for (const auto& [name, value] : variables)
        line.replace(name, value);
    return line;
}

// The first word after the options (--release, --to-code, ...) of a binding's arguments.
QString combinationWord(const QStringList& arguments) {
    for (const QString& word : arguments)
        if (!word.startsWith(QLatin1String("--")))
            return word;
    return {};
}

} // namespace

std::vector<KeyCombination> boundCombinations(const QString& config) {
    std::vector<KeyCombination> bound;
    // Longest names first, so that $mod does not replace the start of $modifier.
    std::vector<std::pair<QString, QString>> variables;
    QStringList blocks; // what each open `{` belongs to
    static const QRegularExpression spaces(QStringLiteral("\\s+"));
    QString pending;
    for (const QString& rawLine : config.split(QLatin1Char('\n'))) {
        QString line = rawLine.trimmed();
        if (line.endsWith(QLatin1Char('\\'))) {
            pending += line.chopped(1) + QLatin1Char(' ');
            continue;
        }
        line = (pending + line).trimmed();
        pending.clear();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line == QLatin1String("}")) {
            if (!blocks.isEmpty())
                blocks.removeLast();
            continue;
        }
        QStringList words = line.split(spaces, Qt::SkipEmptyParts);
        if (words.first() == QLatin1String("set") && words.size() >= 3 &&
            words[1].startsWith(QLatin1Char('$'))) {
            variables.emplace_back(words[1], words.mid(2).join(QLatin1Char(' ')));
            std::stable_sort(variables.begin(), variables.end(),
                             [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
            continue;
        }
        if (line.endsWith(QLatin1Char('{'))) {
            blocks.append(words.first());
            continue;
        }
        QString command;
        if (!blocks.isEmpty()) {
            // Only bindings of the default mode, written plainly or in a `bindsym {` block.
            if (blocks.contains(QLatin1String("mode")))
                continue;
            if (blocks.last() != QLatin1String("bindsym") && blocks.last() != QLatin1String("bindcode"))
                continue;
            command = blocks.last();
        } else {
            command = words.takeFirst();
        }
        if (command != QLatin1String("bindsym") && command != QLatin1String("bindcode"))
            continue;
        const QString word = combinationWord(
            expandVariables(words.join(QLatin1Char(' ')), variables).split(spaces, Qt::SkipEmptyParts));
        if (const auto combination = parseCombination(word, command == QLatin1String("bindcode")))
            bound.push_back(*combination);
    }
    return bound;
}

QString bindcodeCombination(const KeyCombination& combination) {
    QStringList parts;
    if (combination.modifiers & Qt::ControlModifier)
        parts << QStringLiteral("Ctrl");
    if (combination.modifiers & Qt::ShiftModifier)
        parts << QStringLiteral("Shift");
    if (combination.modifiers & Qt::AltModifier)
        parts << QStringLiteral("Mod1");
    if (combination.modifiers & Qt::MetaModifier)
        parts << QStringLiteral("Mod4");
    parts << QString::number(scanCodeForPhysicalKey(combination.key));
    return parts.join(QLatin1Char('+'));
}

} // namespace quill::sway
