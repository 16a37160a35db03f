#include "ShortcutRegistry.h"

#include "KeyCodes.h"
#include "platform/Log.h"

#include <QCoreApplication>

namespace quill {
namespace {

std::optional<KeyCombination> keyCombination(const Shortcut& shortcut) {
    const auto info = keyCodeInfo(shortcut.keyCode);
    if (!info)
        return std::nullopt;
    return KeyCombination{info->qtKey, qtModifiers(shortcut.modifiers)};
}

QString takenMessage(const QString& shortcut) {
    return QCoreApplication::translate("quill::GlobalShortcutService",
                                       "%1 is already used by another application")
        .arg(shortcut);
}

QString refusedMessage(const QString& shortcut) {
    return QCoreApplication::translate("quill::GlobalShortcutService",
                                       "The desktop did not give %1 to Quillpoint; choose the key in "
                                       "the desktop's shortcut settings")
        .arg(shortcut);
}

QString unusableMessage(const QString& shortcut) {
    return QCoreApplication::translate("quill::GlobalShortcutService",
                                       "%1 cannot be used as a shortcut with this keyboard")
        .arg(shortcut);
}

QString unwatchedMessage(const QString& shortcut) {
    return QCoreApplication::translate("quill::GlobalShortcutService",
                                       "%1 cannot be used: Quillpoint cannot watch the keyboard in this "
                                       "session")
        .arg(shortcut);
}

} // namespace

ShortcutRegistry::ShortcutRegistry(KeyGrabber& grabber, const ShortcutNames& names, QObject* parent)
    : QObject(parent)
    , m_grabber(grabber)
    , m_names(names) {}

void ShortcutRegistry::installEventTap() {
    if (m_tapSetUp)
        return;
    m_tapSetUp = true;
    m_grabber.setRefusalHandler([this](const KeyCombination& combination, KeyGrabber::GrabResult result) {
        grabRefused(combination, result);
    });
    m_hasEventTap =
        m_grabber.install([this](const KeyCombination& combination) { keyPressed(combination); },
                          [this](const KeyCombination& combination) { keyReleased(combination); });
}

std::optional<QString> ShortcutRegistry::failureMessage(const Shortcut& shortcut,
                                                        KeyGrabber::GrabResult result) const {
    switch (result) {
    case KeyGrabber::GrabResult::taken:
        return takenMessage(m_names.text(shortcut));
    case KeyGrabber::GrabResult::noSuchKey:
        return unusableMessage(m_names.text(shortcut));
    case KeyGrabber::GrabResult::refused:
        return refusedMessage(m_names.text(shortcut));
    case KeyGrabber::GrabResult::unwatched:
        return unwatchedMessage(m_names.text(shortcut));
    case KeyGrabber::GrabResult::grabbed:
        break;
    }
    return std::nullopt;
}

std::optional<QString> ShortcutRegistry::grab(const Shortcut& shortcut, const KeyCombination& combination) {
    return failureMessage(shortcut, m_grabber.grab(combination));
}

void ShortcutRegistry::grabRefused(const KeyCombination& combination, KeyGrabber::GrabResult result) {
    const auto key = m_keys.find(combination);
    if (key == m_keys.end())
        return;
    const auto message = failureMessage(Shortcut{key->second.keyCode, key->second.modifiers}, result);
    if (!message)
        return;
    logLine(lcShortcuts(), QStringLiteral("GlobalShortcutService"), *message);
    m_lateFailures[key->second] = *message;
    QMetaObject::invokeMethod(
        this, [this, text = *message] { emit lateFailureReported(text); }, Qt::QueuedConnection);
}

std::optional<QString> ShortcutRegistry::add(const Shortcut& shortcut, QObject* receiver, Handler onPress,
                                             Handler onRelease, const QString& description) {
    const ShortcutKey key(shortcut);
    if (const auto it = m_handlers.find(key); it != m_handlers.end()) {
        it->second = {receiver, std::move(onPress), std::move(onRelease)};
        return std::nullopt;
    }
    const auto combination = keyCombination(shortcut);
    if (!combination)
        return unusableMessage(m_names.text(shortcut));
    if (!description.isEmpty())
        m_grabber.describe(*combination, description);
    // A suspended registry still asks the server, so that a taken key is reported now and not
    // silently on resume.
    if (auto failure = grab(shortcut, *combination))
        return failure;
    if (m_suspended)
        m_grabber.ungrab(*combination);
    m_handlers.emplace(key, Handlers{receiver, std::move(onPress), std::move(onRelease)});
    m_keys.emplace(*combination, key);
    return std::nullopt;
}

std::optional<QString> ShortcutRegistry::lateFailure(const Shortcut& shortcut) const {
    const auto it = m_lateFailures.find(ShortcutKey(shortcut));
    return it == m_lateFailures.end() ? std::nullopt : std::optional(it->second);
}

void ShortcutRegistry::remove(const Shortcut& shortcut) {
    m_lateFailures.erase(ShortcutKey(shortcut));
    if (m_handlers.erase(ShortcutKey(shortcut)) == 0)
        return;
    const auto combination = keyCombination(shortcut);
    m_keys.erase(*combination);
    if (!m_suspended)
        m_grabber.ungrab(*combination);
}

std::optional<QString> ShortcutRegistry::check(const Shortcut& shortcut) {
    if (contains(shortcut))
        return std::nullopt;
    const auto combination = keyCombination(shortcut);
    if (!combination)
        return unusableMessage(m_names.text(shortcut));
    if (auto failure = grab(shortcut, *combination))
        return failure;
    m_grabber.ungrab(*combination);
    return std::nullopt;
}

void ShortcutRegistry::setSuspended(bool suspended) {
    if (suspended == m_suspended)
        return;
    m_suspended = suspended;
    for (const auto& [combination, key] : m_keys) {
        if (suspended) {
            m_grabber.ungrab(combination);
            continue;
        }
        if (m_grabber.grab(combination) != KeyGrabber::GrabResult::grabbed)
            logLine(lcShortcuts(), QStringLiteral("GlobalShortcutService"),
                    takenMessage(m_names.text(Shortcut{key.keyCode, key.modifiers})));
    }
}

const ShortcutRegistry::Handlers* ShortcutRegistry::handlersFor(const KeyCombination& combination) const {
    const auto key = m_keys.find(combination);
    if (key == m_keys.end())
        return nullptr;
    const auto handlers = m_handlers.find(key->second);
    return handlers == m_handlers.end() ? nullptr : &handlers->second;
}

void ShortcutRegistry::keyPressed(const KeyCombination& combination) {
    const Handlers* handlers = handlersFor(combination);
    if (handlers && handlers->receiver && handlers->onPress)
        QMetaObject::invokeMethod(handlers->receiver, handlers->onPress, Qt::QueuedConnection);
}

void ShortcutRegistry::keyReleased(const KeyCombination& combination) {
    const Handlers* handlers = handlersFor(combination);
    if (handlers && handlers->receiver && handlers->onRelease)
        QMetaObject::invokeMethod(handlers->receiver, handlers->onRelease, Qt::QueuedConnection);
}

} // namespace quill
