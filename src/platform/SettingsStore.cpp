#include "SettingsStore.h"

#include <QSettings>

namespace quill {

struct QSettingsStore::Impl {
    QSettings settings{QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quillpoint"),
                       QStringLiteral("Quillpoint")};
};

QSettingsStore::QSettingsStore() : d(std::make_unique<Impl>()) {}
QSettingsStore::~QSettingsStore() = default;

std::optional<QVariant> QSettingsStore::value(const QString& key) const {
    if (!d->settings.contains(key))
        return std::nullopt;
    return d->settings.value(key);
}

void QSettingsStore::setValue(const QString& key, const QVariant& value) {
    d->settings.setValue(key, value);
    d->settings.sync();
}

void QSettingsStore::remove(const QString& key) {
    d->settings.remove(key);
    d->settings.sync();
}

std::optional<QVariant> MemorySettingsStore::value(const QString& key) const {
    const auto it = m_values.constFind(key);
    if (it == m_values.cend())
        return std::nullopt;
    return *it;
}

void MemorySettingsStore::setValue(const QString& key, const QVariant& value) {
    m_values.insert(key, value);
}

void MemorySettingsStore::remove(const QString& key) {
    m_values.remove(key);
}

} // namespace quill
