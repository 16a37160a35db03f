#include "Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace quill {

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
    QGuiApplication::clipboard()->clear();
}

void QtClipboard::setText(const QString& text) {
    QGuiApplication::clipboard()->setText(text);
}

void QtClipboard::setFormats(const QList<ClipboardFormat>& formats) {
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
    QGuiApplication::clipboard()->setText(text, QClipboard::Selection);
}

} // namespace quill
