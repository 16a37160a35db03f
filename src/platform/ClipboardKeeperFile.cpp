#include "ClipboardKeeperFile.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace quill {

QString ClipboardKeeperFile::handOver(const QString& program, const QList<ClipboardFormat>& formats) {
    QString directory = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (directory.isEmpty())
        directory = QDir::tempPath();
    // QTemporaryFile creates the file readable and writable by its owner only.
    QTemporaryFile file(QDir(directory).filePath(QStringLiteral("quillpoint-clipboard-XXXXXX")));
    file.setAutoRemove(false);
    if (!file.open())
        return file.errorString();
    QDataStream out(&file);
    out << formats;
    const bool written = out.status() == QDataStream::Ok && file.flush();
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        const QString error = file.errorString();
        file.remove();
        return error.isEmpty() ? QStringLiteral("cannot write %1").arg(file.fileName()) : error;
    }
    if (!QProcess::startDetached(program, {file.fileName()})) {
        file.remove();
        return QStringLiteral("%1 did not start").arg(program);
    }
    return {};
}

std::optional<QList<ClipboardFormat>> ClipboardKeeperFile::take(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Gone from the directory at once, whatever the reading brings; the open file still reads.
    QFile::remove(path);
    QList<ClipboardFormat> formats;
    QDataStream in(&file);
    in >> formats;
    if (in.status() != QDataStream::Ok || !in.atEnd() || formats.isEmpty())
        return std::nullopt;
    return formats;
}

} // namespace quill
