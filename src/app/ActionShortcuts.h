#pragma once

#include "preferences/UserAction.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace quill {

class GlobalShortcutService;
class ShortcutRegistry;

// The global shortcuts of the user's enabled actions, one service each, rebuilt whenever the
// actions or the program's own shortcuts change.
class ActionShortcuts : public QObject {
    Q_OBJECT
public:
    explicit ActionShortcuts(ShortcutRegistry& registry, QObject* parent = nullptr);
    ~ActionShortcuts() override;

    // Grabs the shortcuts of the enabled `actions`; one the program itself uses (`taken`) is left
    // to the program, and reported as the action's problem.
    void apply(const UserActionList& actions, const QList<Shortcut>& taken);
    void unregister();

    // Why the action's shortcut does not work; none when it does or it has none.
    std::optional<QString> problem(const QString& id) const;

signals:
    // On a later turn of the main loop than the key press.
    void triggered(const QString& id);

private:
    ShortcutRegistry& m_registry;
    std::vector<std::unique_ptr<GlobalShortcutService>> m_services;
    QHash<QString, QString> m_problems;
};

} // namespace quill
