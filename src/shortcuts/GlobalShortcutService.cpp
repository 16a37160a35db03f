#include "GlobalShortcutService.h"

#include <QCoreApplication>

namespace quill {

GlobalShortcutService::GlobalShortcutService(const Shortcut& shortcut, ShortcutRegistry& registry,
                                             QObject* parent)
    : QObject(parent)
    , m_currentShortcut(shortcut)
    , m_registry(registry) {}

GlobalShortcutService::~GlobalShortcutService() {
    unregister();
}

std::optional<QString> GlobalShortcutService::registrationError() const {
    if (m_isRegistered)
        return m_registry.lateFailure(m_currentShortcut);
    return m_registrationError;
}

void GlobalShortcutService::registerShortcut() {
    m_wanted = true;
    m_registry.installEventTap();
    if (!m_registry.hasEventTap()) {
        m_registrationError =
            QCoreApplication::translate("quill::GlobalShortcutService",
                                        "No global shortcuts in this session: bind `quillpoint --explain` "
                                        "and `quillpoint --transcribe` to keys in your desktop's keyboard "
                                        "settings.");
        return;
    }
    if (auto failure = m_registry.add(
            m_currentShortcut, this, [this] { emit triggered(); }, [this] { emit released(); },
            m_description)) {
        m_isRegistered = false;
        m_registrationError = std::move(failure);
        return;
    }
    m_isRegistered = true;
    m_registrationError.reset();
}

void GlobalShortcutService::unregister() {
    m_wanted = false;
    if (m_isRegistered)
        m_registry.remove(m_currentShortcut);
    m_isRegistered = false;
}

void GlobalShortcutService::updateShortcut(const Shortcut& shortcut) {
    if (!m_wanted) {
        m_currentShortcut = shortcut;
        return;
    }
    if (m_isRegistered)
        m_registry.remove(m_currentShortcut);
    m_isRegistered = false;
    m_currentShortcut = shortcut;
    registerShortcut();
}

} // namespace quill
