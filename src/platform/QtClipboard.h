#pragma once

#include "Clipboard.h"

namespace quill {

// QGuiApplication's clipboard; the contents this process sets are served by its event loop.
class QtClipboard final : public Clipboard {
    Q_OBJECT
public:
    explicit QtClipboard(QObject* parent = nullptr);
    QStringList formats() override;
    QByteArray data(const QString& format) override;
    std::optional<QString> text() override;
    void clear() override;
    void setText(const QString& text) override;
    void setFormats(const QList<ClipboardFormat>& formats) override;
    std::optional<QString> selectionText() override;
    void setSelectionText(const QString& text) override;
};

} // namespace quill
