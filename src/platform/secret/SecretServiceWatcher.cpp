#include "SecretServiceWatcher.h"

#include <QDBusConnection>

namespace quill {

SecretServiceWatcher::SecretServiceWatcher(std::function<void()> onChange) : m_onChange(std::move(onChange)) {
    // Any collection: the default one may be an alias of "login" or of another.
    QDBusConnection::sessionBus().connect(QStringLiteral("org.freedesktop.secrets"), QString(),
                                          QStringLiteral("org.freedesktop.Secret.Service"),
                                          QStringLiteral("CollectionChanged"), this,
                                          SLOT(collectionChanged()));
}

void SecretServiceWatcher::collectionChanged() {
    if (m_onChange)
        m_onChange();
}

} // namespace quill
