#include "SettingsStore.h"

#include <QSettings>

namespace quill {

struct QSettingsStore::Impl {
    QSettings settings{QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quillpoint"),
                       QStringLiteral("Quillpoint")};
};

QSettingsStore::QSettingsStore() : m_impl(std::make_unique<Impl>()) {}
QSettingsStore::~QSettingsStore() = default;

std::optional<QVariant> QSettingsStore::value(const QString& key) const {
    if (!m_impl->settings.contains(key))
        return std::nullopt;
    return m_impl->settings.value(key);
}

void QSettingsStore::setValue(const QString& key, const QVariant& value) {
    m_impl->settings.setValue(key, value);
    m_impl->settings.sync();
}

void QSettingsStore::remove(const QString& key) {
    m_impl->settings.remove(key);
    m_impl->settings.sync();
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
