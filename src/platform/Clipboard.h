#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <optional>

namespace quill {

// One format of the clipboard's contents and its bytes, as the owner handed them out.
using ClipboardFormat = QPair<QString, QByteArray>;

// The desktop clipboard (the CLIPBOARD selection) and the primary selection.
class Clipboard : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // The formats the clipboard offers, in the owner's order.
    virtual QStringList formats() = 0;
    virtual QByteArray data(const QString& format) = 0;
    // The plain-text value; none when the clipboard holds no text.
    virtual std::optional<QString> text() = 0;
    virtual void clear() = 0;
    virtual void setText(const QString& text) = 0;
    // Replaces the contents with exactly these formats and bytes.
    virtual void setFormats(const QList<ClipboardFormat>& formats) = 0;
    // The primary selection (the text last selected anywhere); none when it holds no text.
    virtual std::optional<QString> selectionText() = 0;
    virtual void setSelectionText(const QString& text) = 0;

Q_SIGNALS:
    // The clipboard's contents changed, whoever changed them.
    void changed();
};

} // namespace quill
