#include "GlobalShortcutService.h"

#include <QCoreApplication>

namespace quill {
namespace {

// Runs the function while its owner still holds it: a press posted just before a service goes
// away then does nothing.
std::function<void()> weakCall(const std::shared_ptr<const std::function<void()>>& function) {
    return [weak = std::weak_ptr(function)] {
        const auto call = weak.lock();
        if (call && *call)
            (*call)();
    };
}

} // namespace

GlobalShortcutService::GlobalShortcutService(const Shortcut& shortcut, std::function<void()> onTrigger,
                                             ShortcutRegistry& registry)
    : GlobalShortcutService(shortcut, std::move(onTrigger), {}, registry) {}

GlobalShortcutService::GlobalShortcutService(const Shortcut& shortcut, std::function<void()> onTrigger,
                                             std::function<void()> onRelease, ShortcutRegistry& registry)
    : m_onTrigger(std::make_shared<const std::function<void()>>(std::move(onTrigger)))
    , m_onRelease(onRelease ? std::make_shared<const std::function<void()>>(std::move(onRelease)) : nullptr)
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
    if (auto failure = m_registry.add(m_currentShortcut, weakCall(m_onTrigger),
                                      m_onRelease ? weakCall(m_onRelease) : ShortcutRegistry::Handler{},
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
