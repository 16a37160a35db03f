#include "ActionList.h"

#include "shortcuts/KeyCodes.h"
#include "shortcuts/ShortcutNames.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <array>
#include <utility>

namespace quill {
namespace {

constexpr std::array<std::pair<ActionResult, const char*>, 3> resultNames{{
    {ActionResult::panel, "panel"},
    {ActionResult::replace, "replace"},
    {ActionResult::copy, "copy"},
}};

constexpr std::array<std::pair<uint32_t, const char*>, 4> modifierNames{{
    {modifier::ctrl, "Ctrl"},
    {modifier::alt, "Alt"},
    {modifier::shift, "Shift"},
    {modifier::super, "Super"},
}};

// Key codes run below this; the table in KeyCodes says which exist.
constexpr uint32_t keyCodeLimit = 256;

bool hasControlCharacters(const QString& text) {
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control && c != u'\n' && c != u'\t')
            return true;
    }
    return false;
}

// Where the parser stopped, as an editor counts lines and columns.
QString position(const QByteArray& json, int offset) {
    const QByteArray before = json.left(offset);
    const int line = int(before.count('\n')) + 1;
    const int column = int(offset - before.lastIndexOf('\n'));
    return QCoreApplication::translate("quill::ActionList", "line %1, column %2").arg(line).arg(column);
}

} // namespace

QString ActionList::resultName(ActionResult result) {
    for (const auto& [candidate, name] : resultNames) {
        if (candidate == result)
            return QString::fromLatin1(name);
    }
    return {};
}

std::optional<Shortcut> ActionList::parseShortcut(const QString& text, const ShortcutNames& names) {
    QStringList parts = text.trimmed().split(u'+');
    // "Ctrl++" names the plus key.
    if (parts.size() >= 2 && parts.constLast().isEmpty() && parts.at(parts.size() - 2).isEmpty()) {
        parts.removeLast();
        parts.last() = QStringLiteral("+");
    }
    if (parts.size() < 2)
        return std::nullopt;
    const QString label = parts.takeLast().trimmed();
    Shortcut shortcut;
    for (const QString& part : std::as_const(parts)) {
        uint32_t found = 0;
        for (const auto& [bit, name] : modifierNames) {
            if (part.trimmed().compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                found = bit;
        }
        if (found == 0 || (shortcut.modifiers & found))
            return std::nullopt;
        shortcut.modifiers |= found;
    }
    for (uint32_t code = 0; code < keyCodeLimit; ++code) {
        if (!keyCodeInfo(code))
            continue;
        if (names.text(Shortcut{code, 0}).compare(label, Qt::CaseInsensitive) == 0) {
            shortcut.keyCode = code;
            return shortcut;
        }
    }
    return std::nullopt;
}

std::optional<QString> ActionList::problem(const UserAction& action, const UserActionList& others) {
    static const QRegularExpression idPattern(QStringLiteral("^[A-Za-z0-9_-]+$"));
    if (action.id.isEmpty() || action.id.size() > maxIdLength || !idPattern.match(action.id).hasMatch())
        return tr("the id must be 1 to 64 letters, digits, '-' or '_'");
    if (action.name.trimmed().isEmpty() || action.name.size() > maxNameLength ||
        hasControlCharacters(action.name))
        return tr("the name must be 1 to 100 characters on one line");
    if (action.instruction.trimmed().isEmpty())
        return tr("the instruction is empty");
    if (action.instruction.size() > maxInstructionLength)
        return tr("the instruction is longer than 2,000 characters");
    if (hasControlCharacters(action.instruction))
        return tr("the instruction holds control characters");
    for (const UserAction& other : others) {
        if (other.id == action.id)
            return tr("the id \"%1\" is used twice").arg(action.id);
        if (action.shortcut && other.shortcut == action.shortcut)
            return tr("the shortcut is already used by \"%1\"").arg(other.name);
    }
    return std::nullopt;
}

ActionList::Parsed ActionList::parse(const QByteArray& json, const ShortcutNames& names) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return tr("%1: %2").arg(position(json, error.offset), error.errorString());
    const QJsonValue list = document.object().value(QStringLiteral("actions"));
    if (!document.isObject() || !list.isArray())
        return tr("expected an object with an array \"actions\"");

    UserActionList actions;
    const QJsonArray array = list.toArray();
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QString where = QStringLiteral("actions[%1]").arg(i);
        const auto fail = [&where](const QString& message) {
            return Parsed(where + QStringLiteral(": ") + message);
        };
        if (!array.at(i).isObject())
            return fail(tr("expected an object"));
        const QJsonObject object = array.at(i).toObject();
        UserAction action;
        for (const char* field : {"id", "name", "instruction"}) {
            if (!object.value(QLatin1String(field)).isString())
                return fail(tr("\"%1\" must be a string").arg(QLatin1String(field)));
        }
        action.id = object.value(QStringLiteral("id")).toString();
        action.name = object.value(QStringLiteral("name")).toString();
        action.instruction = object.value(QStringLiteral("instruction")).toString();

        const QJsonValue shortcut = object.value(QStringLiteral("shortcut"));
        if (shortcut.isString() && !shortcut.toString().trimmed().isEmpty()) {
            action.shortcut = parseShortcut(shortcut.toString(), names);
            if (!action.shortcut)
                return fail(tr("\"%1\" is not a shortcut with Ctrl, Alt, Shift or Super")
                                .arg(shortcut.toString().left(40)));
        } else if (!shortcut.isUndefined() && !shortcut.isNull() && !shortcut.isString()) {
            return fail(tr("\"shortcut\" must be a string"));
        }

        const QString result = object.value(QStringLiteral("result")).toString();
        bool knownResult = false;
        for (const auto& [value, name] : resultNames) {
            if (result == QLatin1String(name)) {
                action.result = value;
                knownResult = true;
            }
        }
        if (!knownResult)
            return fail(tr("\"result\" must be \"panel\", \"replace\" or \"copy\""));

        // An action written by hand without the switch is meant to be used.
        const QJsonValue enabled = object.value(QStringLiteral("enabled"));
        if (!enabled.isUndefined() && !enabled.isBool())
            return fail(tr("\"enabled\" must be true or false"));
        action.enabled = enabled.toBool(true);

        if (const auto problem = ActionList::problem(action, actions))
            return fail(*problem);
        actions.append(action);
    }
    return actions;
}

QByteArray ActionList::serialize(const UserActionList& actions, const ShortcutNames& names) {
    QJsonArray array;
    for (const UserAction& action : actions) {
        array.append(QJsonObject{
            {QStringLiteral("id"), action.id},
            {QStringLiteral("name"), action.name},
            {QStringLiteral("instruction"), action.instruction},
            {QStringLiteral("shortcut"), action.shortcut ? names.text(*action.shortcut) : QString()},
            {QStringLiteral("result"), resultName(action.result)},
            {QStringLiteral("enabled"), action.enabled},
        });
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("actions"), array}}).toJson(QJsonDocument::Indented);
}

UserActionList ActionList::builtIns() {
    return {
        {QStringLiteral("fix"), tr("Fix spelling and grammar"),
         QStringLiteral("Correct the spelling, grammar and punctuation of the text. Keep its language, "
                        "meaning, tone and formatting. Answer with the corrected text only."),
         std::nullopt, ActionResult::replace, false},
        {QStringLiteral("shorter"), tr("Make it shorter"),
         QStringLiteral("Rewrite the text to be about half as long, keeping its language, meaning and tone. "
                        "Answer with the rewritten text only."),
         std::nullopt, ActionResult::replace, false},
        {QStringLiteral("translate"), tr("Translate into English"),
         QStringLiteral("Translate the text into English. Answer with the translation only."), std::nullopt,
         ActionResult::panel, false},
        {QStringLiteral("summarize"), tr("Summarize"),
         QStringLiteral("Summarize the text in a few sentences, in the language of the text."), std::nullopt,
         ActionResult::panel, false},
    };
}

} // namespace quill
