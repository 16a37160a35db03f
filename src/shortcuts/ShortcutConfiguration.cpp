#include "ShortcutConfiguration.h"

#include "platform/SettingsStore.h"

#include <algorithm>
#include <limits>

namespace quill {
namespace {

// A stored integer that this program could have written: 0 ... UINT32_MAX.
std::optional<uint32_t> storedUInt32(const QVariant& value) {
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (!ok || number < 0 || number > qlonglong(std::numeric_limits<uint32_t>::max()))
        return std::nullopt;
    return uint32_t(number);
}

void deliver(QObject* context, const std::shared_ptr<bool>& alive,
             const std::function<void(const ShortcutMap&)>& receiver, const ShortcutMap& shortcuts) {
    QMetaObject::invokeMethod(
        context,
        [alive, receiver, shortcuts] {
            if (*alive)
                receiver(shortcuts);
        },
        Qt::QueuedConnection);
}

} // namespace

ShortcutSubscription::ShortcutSubscription(QMetaObject::Connection connection, std::shared_ptr<bool> alive)
    : m_connection(std::move(connection))
    , m_alive(std::move(alive)) {}

ShortcutSubscription::~ShortcutSubscription() {
    *m_alive = false;
    QObject::disconnect(m_connection);
}

ShortcutConfiguration::ShortcutConfiguration(SettingsStore& settings, QObject* parent)
    : QObject(parent)
    , m_settings(settings) {
    for (ShortcutAction action : allShortcutActions) {
        Shortcut shortcut = loadShortcut(action).value_or(defaultShortcut(action));
        // Two actions on one key fight over a single grab, and the first one registered loses it
        // once the other goes (earlier versions could store Cancel = Ctrl+1 by "Reset to
        // default"). The later action shows its own default instead; the settings keep what is
        // stored until the user records a shortcut.
        const auto taken = [this](const Shortcut& s) {
            return std::ranges::any_of(m_shortcuts, [&s](const auto& entry) { return entry.second == s; });
        };
        if (taken(shortcut) && !taken(defaultShortcut(action)))
            shortcut = defaultShortcut(action);
        m_shortcuts[action] = shortcut;
    }
}

QString ShortcutConfiguration::keyCodeEntry(ShortcutAction action) {
    return QStringLiteral("shortcut_") + rawValue(action) + QStringLiteral("_keyCode");
}

QString ShortcutConfiguration::modifiersEntry(ShortcutAction action) {
    return QStringLiteral("shortcut_") + rawValue(action) + QStringLiteral("_modifiers");
}

Shortcut ShortcutConfiguration::shortcut(ShortcutAction action) const {
    const auto it = m_shortcuts.find(action);
    return it != m_shortcuts.end() ? it->second : defaultShortcut(action);
}

void ShortcutConfiguration::setShortcut(ShortcutAction action, const Shortcut& shortcut) {
    m_shortcuts[action] = shortcut;
    emit shortcutsChanged();
}

void ShortcutConfiguration::saveShortcut(const Shortcut& shortcut, ShortcutAction action) {
    m_settings.setValue(keyCodeEntry(action), qlonglong(shortcut.keyCode));
    m_settings.setValue(modifiersEntry(action), qlonglong(shortcut.modifiers));
}

std::optional<Shortcut> ShortcutConfiguration::loadShortcut(ShortcutAction action) const {
    const auto keyCode = m_settings.value(keyCodeEntry(action));
    if (!keyCode)
        return std::nullopt;
    const auto code = storedUInt32(*keyCode);
    const auto storedModifiers = m_settings.value(modifiersEntry(action));
    const auto modifiers = storedModifiers ? storedUInt32(*storedModifiers) : std::optional<uint32_t>(0);
    // A hand-edited value outside what this program writes gets the default, not a wrapped number.
    if (!code || !modifiers)
        return std::nullopt;
    return Shortcut{*code, *modifiers};
}

std::unique_ptr<ShortcutSubscription>
ShortcutConfiguration::subscribe(QObject* context, const std::function<void(const ShortcutMap&)>& receiver) {
    auto alive = std::make_shared<bool>(true);
    deliver(context, alive, receiver, m_shortcuts);
    auto connection =
        connect(this, &ShortcutConfiguration::shortcutsChanged, context,
                [this, context, alive, receiver] { deliver(context, alive, receiver, m_shortcuts); });
    return std::make_unique<ShortcutSubscription>(std::move(connection), std::move(alive));
}

} // namespace quill
