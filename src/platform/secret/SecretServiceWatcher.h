#pragma once

#include <QObject>
#include <functional>

namespace quill {

// Tells when a collection of the Secret Service on the session bus changed, e.g. was unlocked.
class SecretServiceWatcher final : public QObject {
    Q_OBJECT
public:
    explicit SecretServiceWatcher(std::function<void()> onChange);

private Q_SLOTS:
    void collectionChanged();

private:
    std::function<void()> m_onChange;
};

} // namespace quill
