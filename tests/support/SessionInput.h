#pragma once

#include <QString>
#include <QStringList>

namespace quill::test {

// Whether the test desktop is KWin's Wayland session.
bool onKWin();

// Presses and releases each key combination ("ctrl+a", "Tab", "ctrl+shift+a") on the session's
// keyboard: XTEST on X11, KWin's fake input in KWin, whose keys reach native Wayland windows and
// the desktop's global shortcuts alike. False when they could not be sent.
bool pressKeys(const QStringList& combinations);

// Whether the application known to the accessibility bus as `name` (any case) has its window
// active, with `title` in the window's name. Native Wayland windows are invisible to X11 tools.
bool accessibleWindowIsActive(const QString& name, const QString& title = {});

} // namespace quill::test
