#include "QtClipboard.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMimeData>

namespace quill {
namespace {

// X refuses a selection owner whose timestamp is older than the current owner's. Qt takes its
// timestamp from the last X event it handled, so let it handle the announcement of the latest
// owner (say, an editor that just took the primary selection) before taking a selection.
void catchUpWithTheServer() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

} // namespace

QtClipboard::QtClipboard(QObject* parent) : Clipboard(parent) {
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, &Clipboard::changed);
}

QStringList QtClipboard::formats() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data ? data->formats() : QStringList();
}

QByteArray QtClipboard::data(const QString& format) {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data ? data->data(format) : QByteArray();
}

std::optional<QString> QtClipboard::text() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasText())
        return std::nullopt;
    return data->text();
}

void QtClipboard::clear() {
    catchUpWithTheServer();
    QGuiApplication::clipboard()->clear();
}

void QtClipboard::setText(const QString& text) {
    catchUpWithTheServer();
    QGuiApplication::clipboard()->setText(text);
}

void QtClipboard::setFormats(const QList<ClipboardFormat>& formats) {
    catchUpWithTheServer();
    auto data = std::make_unique<QMimeData>();
    for (const auto& [format, bytes] : formats)
        data->setData(format, bytes);
    QGuiApplication::clipboard()->setMimeData(data.release());
}

std::optional<QString> QtClipboard::selectionText() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Selection);
    if (!data || !data->hasText())
        return std::nullopt;
    return data->text();
}

void QtClipboard::setSelectionText(const QString& text) {
    catchUpWithTheServer();
    QGuiApplication::clipboard()->setText(text, QClipboard::Selection);
}

} // namespace quill
