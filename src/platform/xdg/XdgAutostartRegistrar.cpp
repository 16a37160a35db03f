#include "XdgAutostartRegistrar.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace quill {
namespace {

// Desktop entry Exec values need spaces, quotes, backslashes and a few others quoted.
QString quoteExec(const QString& path) {
    static const QString special = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (QChar c : path)
        needsQuotes = needsQuotes || special.contains(c);
    QString escaped = path;
    escaped.replace(u'%', QStringLiteral("%%"));
    if (!needsQuotes)
        return escaped;
    QString quoted;
    for (QChar c : escaped) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    return u'"' + quoted + u'"';
}

} // namespace

XdgAutostartRegistrar::XdgAutostartRegistrar(QString configHome, QString desktopId, QString executable)
    : m_configHome(std::move(configHome))
    , m_desktopId(std::move(desktopId))
    , m_executable(std::move(executable)) {}

QString XdgAutostartRegistrar::entryPath() const {
    return m_configHome + QStringLiteral("/autostart/") + m_desktopId + QStringLiteral(".desktop");
}

// Desktop tools switch an entry off without removing it: GNOME's with
// X-GNOME-Autostart-enabled=false, others (and the XDG autostart rules) with Hidden=true.
bool XdgAutostartRegistrar::isEnabled() const {
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (!inMainGroup || eq < 0)
            continue;
        const QByteArray key = line.left(eq).trimmed();
        const QByteArray value = line.mid(eq + 1).trimmed();
        if ((key == "Hidden" && value == "true") || (key == "X-GNOME-Autostart-enabled" && value == "false"))
            return false;
    }
    return true;
}

bool XdgAutostartRegistrar::setEnabled(bool enabled, QString* error) {
    const QString path = entryPath();
    if (!enabled) {
        if (!QFileInfo::exists(path) || QFile::remove(path))
            return true;
        if (error)
            *error = QStringLiteral("cannot remove %1").arg(path);
        return false;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        if (error)
            *error = QStringLiteral("cannot create %1").arg(QFileInfo(path).absolutePath());
        return false;
    }
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Quillpoint\n"
                                         "Comment=Explain selected text and transcribe speech\n"
                                         "Exec=%1\n"
                                         "Icon=%2\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(quoteExec(m_executable), m_desktopId);
    QSaveFile file(path);
    const QByteArray bytes = entry.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace quill
