#pragma once

#include <QHash>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>

namespace quill {

// Per-user key/value settings. Keys are the program's stored names, used verbatim.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual std::optional<QVariant> value(const QString& key) const = 0;
    virtual void setValue(const QString& key, const QVariant& value) = 0;
    virtual void remove(const QString& key) = 0;
};

// Settings in ~/.config/Quillpoint/Quillpoint.conf, written through at once so that
// nothing is lost when the program is killed.
class QSettingsStore final : public SettingsStore {
public:
    QSettingsStore();
    ~QSettingsStore() override;
    std::optional<QVariant> value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;
    void remove(const QString& key) override;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Settings that live only as long as the object; for tests and for a sandbox without a home.
class MemorySettingsStore final : public SettingsStore {
public:
    std::optional<QVariant> value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;
    void remove(const QString& key) override;
    const QHash<QString, QVariant>& values() const { return m_values; }

private:
    QHash<QString, QVariant> m_values;
};

} // namespace quill
