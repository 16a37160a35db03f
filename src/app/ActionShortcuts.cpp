#include "ActionShortcuts.h"

#include "platform/Log.h"
#include "shortcuts/GlobalShortcutService.h"

namespace quill {

ActionShortcuts::ActionShortcuts(ShortcutRegistry& registry, QObject* parent)
    : QObject(parent)
    , m_registry(registry) {}

ActionShortcuts::~ActionShortcuts() {
    unregister();
}

void ActionShortcuts::apply(const UserActionList& actions, const QList<Shortcut>& taken) {
    unregister();
    for (const UserAction& action : actions) {
        if (!action.enabled || !action.shortcut)
            continue;
        if (taken.contains(*action.shortcut)) {
            const QString problem = tr("This shortcut is already used by Explain or Transcribe.");
            logLine(lcApp(), QStringLiteral("ActionShortcuts"), action.id + QStringLiteral(": ") + problem);
            m_problems.insert(action.id, problem);
            continue;
        }
        auto service = std::make_unique<GlobalShortcutService>(*action.shortcut, m_registry);
        service->setDescription(action.name);
        connect(
            service.get(), &GlobalShortcutService::triggered, this,
            [this, id = action.id] { emit triggered(id); }, Qt::QueuedConnection);
        service->registerShortcut();
        if (const auto error = service->registrationError(); error && !error->isEmpty()) {
            logLine(lcApp(), QStringLiteral("ActionShortcuts"), action.id + QStringLiteral(": ") + *error);
            m_problems.insert(action.id, *error);
        }
        m_services.push_back(std::move(service));
    }
}

void ActionShortcuts::unregister() {
    for (const auto& service : m_services)
        service->unregister();
    m_services.clear();
    m_problems.clear();
}

std::optional<QString> ActionShortcuts::problem(const QString& id) const {
    const auto it = m_problems.constFind(id);
    return it == m_problems.constEnd() ? std::nullopt : std::optional<QString>(*it);
}

} // namespace quill
