#include "SwayKeyGrabber.h"

#include "SwayConfigBindings.h"
#include "platform/Log.h"
#include "platform/PhysicalKeys.h"

#include <QJsonArray>
#include <algorithm>

namespace quill {
namespace {

const QString commandPrefix = QStringLiteral("nop quillpoint ");
const QString pressWord = QStringLiteral("press ");
const QString releaseWord = QStringLiteral("release ");
// At quit the bindings must be gone before the connection closes; sway answers in milliseconds.
constexpr int unbindTimeoutMs = 500;

constexpr Qt::KeyboardModifiers bindableModifiers =
    Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier;

// Whether every command of a run_command reply succeeded; its error otherwise.
std::optional<QString> commandError(const QJsonDocument& reply) {
    if (reply.isNull())
        return QStringLiteral("sway closed the connection");
    const QJsonArray results = reply.array();
    if (results.isEmpty())
        return QStringLiteral("sway sent no result");
    for (const auto& result : results)
        if (!result.toObject().value(QStringLiteral("success")).toBool())
            return result.toObject().value(QStringLiteral("error")).toString();
    return std::nullopt;
}

QByteArray unbindCommands(const KeyCombination& combination) {
    const QString keys = sway::bindcodeCombination(combination);
    return QStringLiteral("unbindcode %1; unbindcode --release %1").arg(keys).toUtf8();
}

} // namespace

SwayKeyGrabber::SwayKeyGrabber(std::unique_ptr<SwayIpcConnection> ipc, QObject* parent)
    : QObject(parent)
    , m_ipc(std::move(ipc)) {
    connect(m_ipc.get(), &SwayIpcConnection::eventReceived, this, &SwayKeyGrabber::onEvent);
    m_ipc->send(SwayIpcConnection::getConfig, {}, [this](const QJsonDocument& reply) { onConfig(reply); });
}

SwayKeyGrabber::~SwayKeyGrabber() {
    // Whoever received presses and refusals may be gone by now; replies still come below.
    m_ipc->disconnect(this);
    m_onPress = nullptr;
    m_onRelease = nullptr;
    m_onRefusal = nullptr;
    QByteArray commands;
    for (const auto& combination : m_grabbed) {
        if (std::find(m_waiting.begin(), m_waiting.end(), combination) != m_waiting.end())
            continue;
        if (!commands.isEmpty())
            commands += "; ";
        commands += unbindCommands(combination);
    }
    // A configuration that arrives while the replies are awaited below binds nothing more.
    m_waiting.clear();
    if (!m_ipc->isUsable())
        return;
    if (!commands.isEmpty())
        m_ipc->send(SwayIpcConnection::runCommand, commands);
    // Ungrabs at quit are sent after the last turn of the event loop, if at all.
    m_ipc->waitForReplies(unbindTimeoutMs);
}

QString SwayKeyGrabber::bindingCommand(const KeyCombination& combination, bool release) {
    return commandPrefix + (release ? releaseWord : pressWord) + sway::bindcodeCombination(combination);
}

bool SwayKeyGrabber::install(PressHandler onPress, ReleaseHandler onRelease) {
    if (!m_ipc->isUsable())
        return false;
    m_onPress = std::move(onPress);
    m_onRelease = std::move(onRelease);
    m_ipc->send(SwayIpcConnection::subscribe, R"(["binding", "workspace"])", [](const QJsonDocument& reply) {
        if (!reply.object().value(QStringLiteral("success")).toBool())
            logLine(lcPlatform(), QStringLiteral("SwayKeyGrabber"),
                    QStringLiteral("sway does not report its bindings; shortcuts will not work"));
    });
    return true;
}

KeyGrabber::GrabResult SwayKeyGrabber::grab(const KeyCombination& combination) {
    if (scanCodeForPhysicalKey(combination.key) == 0 || (combination.modifiers & ~bindableModifiers))
        return GrabResult::noSuchKey;
    if (m_grabbed.contains(combination))
        return GrabResult::grabbed;
    if (!m_userBindings) {
        m_grabbed.insert(combination);
        m_waiting.push_back(combination);
        return GrabResult::grabbed;
    }
    if (takenByUser(combination))
        return GrabResult::taken;
    m_grabbed.insert(combination);
    bind(combination);
    return GrabResult::grabbed;
}

void SwayKeyGrabber::ungrab(const KeyCombination& combination) {
    if (!m_grabbed.erase(combination))
        return;
    m_held.erase(combination);
    if (const auto waiting = std::find(m_waiting.begin(), m_waiting.end(), combination);
        waiting != m_waiting.end()) {
        m_waiting.erase(waiting);
        return;
    }
    m_ipc->send(SwayIpcConnection::runCommand, unbindCommands(combination));
}

void SwayKeyGrabber::onConfig(const QJsonDocument& reply) {
    // Without the configuration nothing is known to be taken; the user's own bindings in
    // included files are not in this text either.
    m_userBindings = sway::boundCombinations(reply.object().value(QStringLiteral("config")).toString());
    for (const auto& combination : std::exchange(m_waiting, {})) {
        if (takenByUser(combination)) {
            m_grabbed.erase(combination);
            refuse(combination, GrabResult::taken);
        } else {
            bind(combination);
        }
    }
}

// A reload drops every binding made at run time and may bring new ones of the user's.
void SwayKeyGrabber::onReload() {
    m_userBindings.reset();
    m_held.clear();
    m_waiting.assign(m_grabbed.begin(), m_grabbed.end());
    m_ipc->send(SwayIpcConnection::getConfig, {}, [this](const QJsonDocument& reply) { onConfig(reply); });
}

void SwayKeyGrabber::bind(const KeyCombination& combination) {
    const QString keys = sway::bindcodeCombination(combination);
    // --no-repeat: a held key is one press, however long the keyboard repeats it.
    const QString commands =
        QStringLiteral("bindcode --no-repeat %1 %2; bindcode --release %1 %3")
            .arg(keys, bindingCommand(combination, false), bindingCommand(combination, true));
    m_ipc->send(SwayIpcConnection::runCommand, commands.toUtf8(),
                [this, combination](const QJsonDocument& reply) {
                    const auto error = commandError(reply);
                    if (!error || !m_grabbed.contains(combination))
                        return;
                    logLine(lcPlatform(), QStringLiteral("SwayKeyGrabber"),
                            QStringLiteral("sway did not bind %1: %2")
                                .arg(sway::bindcodeCombination(combination), *error));
                    m_grabbed.erase(combination);
                    refuse(combination, GrabResult::refused);
                });
}

void SwayKeyGrabber::refuse(const KeyCombination& combination, GrabResult result) {
    if (m_onRefusal)
        m_onRefusal(combination, result);
}

bool SwayKeyGrabber::takenByUser(const KeyCombination& combination) const {
    return m_userBindings &&
           std::find(m_userBindings->begin(), m_userBindings->end(), combination) != m_userBindings->end();
}

void SwayKeyGrabber::onEvent(quint32 type, const QJsonObject& event) {
    if (type == SwayIpcConnection::workspaceEvent &&
        event.value(QStringLiteral("change")).toString() == QLatin1String("reload")) {
        onReload();
        return;
    }
    if (type != SwayIpcConnection::bindingEvent)
        return;
    const QString command =
        event.value(QStringLiteral("binding")).toObject().value(QStringLiteral("command")).toString();
    if (!command.startsWith(commandPrefix))
        return;
    const auto found = std::find_if(m_grabbed.begin(), m_grabbed.end(), [&command](const KeyCombination& c) {
        return command == bindingCommand(c, false) || command == bindingCommand(c, true);
    });
    if (found == m_grabbed.end())
        return;
    const KeyCombination combination = *found;
    if (command == bindingCommand(combination, false)) {
        m_held.insert(combination);
        if (m_onPress)
            m_onPress(combination);
    } else if (m_held.erase(combination) && m_onRelease) {
        m_onRelease(combination);
    }
}

} // namespace quill
