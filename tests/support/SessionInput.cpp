#include "SessionInput.h"

#include "DesktopTools.h"

#include <QProcess>
#include <atspi/atspi.h>

namespace quill::test {

bool onKWin() {
    return qEnvironmentVariable("QUILL_TEST_SESSION") == QLatin1String("kwin");
}

bool pressKeys(const QStringList& combinations) {
    if (!onKWin())
        return xdotool(QStringList{"key", "--clearmodifiers"} + combinations);
    QProcess keys;
    keys.setProcessChannelMode(QProcess::ForwardedChannels);
    keys.start(qEnvironmentVariable("QUILLPOINT_SOURCE_DIR") + "/tests/support/session-keys",
               QStringList{"key"} + combinations);
    return keys.waitForFinished(30000) && keys.exitStatus() == QProcess::NormalExit && keys.exitCode() == 0;
}

namespace {

bool windowIsActive(AtspiAccessible* application, const QString& title) {
    // A window's states come from the cache, which only events the test does not listen to
    // would update.
    atspi_accessible_clear_cache(application);
    bool active = false;
    const int windows = atspi_accessible_get_child_count(application, nullptr);
    for (int i = 0; i < windows && !active; ++i) {
        AtspiAccessible* window = atspi_accessible_get_child_at_index(application, i, nullptr);
        if (!window)
            continue;
        AtspiStateSet* states = atspi_accessible_get_state_set(window);
        gchar* name = atspi_accessible_get_name(window, nullptr);
        active = states && atspi_state_set_contains(states, ATSPI_STATE_ACTIVE) &&
                 QString::fromUtf8(name).contains(title);
        g_free(name);
        if (states)
            g_object_unref(states);
        g_object_unref(window);
    }
    return active;
}

} // namespace

bool accessibleWindowIsActive(const QString& name, const QString& title) {
    AtspiAccessible* desktop = atspi_get_desktop(0);
    bool active = false;
    const int applications = atspi_accessible_get_child_count(desktop, nullptr);
    for (int i = 0; i < applications && !active; ++i) {
        AtspiAccessible* application = atspi_accessible_get_child_at_index(desktop, i, nullptr);
        if (!application)
            continue;
        gchar* applicationName = atspi_accessible_get_name(application, nullptr);
        if (QString::fromUtf8(applicationName).compare(name, Qt::CaseInsensitive) == 0)
            active = windowIsActive(application, title);
        g_free(applicationName);
        g_object_unref(application);
    }
    g_object_unref(desktop);
    return active;
}

} // namespace quill::test
