#pragma once

#include <QWidget>

namespace quill {

class CodeBlockView;
class MarkdownTextView;

// Markdown as the panel shows it: prose, and fenced code in blocks of their own, stacked at
// exactly the height they need at a given width. Streamed text only grows at its end, so the
// blocks already shown are updated in place and never rebuilt.
class MarkdownView : public QWidget {
    Q_OBJECT
public:
    MarkdownView(const QFont& font, qreal lineSpacing, QWidget* parent = nullptr);

    void setMarkdown(const QString& markdown);
    const QString& markdown() const { return m_markdown; }
    // What is shown, as plain text: the prose and the code, block after block.
    QString toPlainText() const;

    // The prose views and code blocks, top to bottom.
    const QList<QWidget*>& parts() const { return m_parts; }

    // The widest line when nothing wraps: how wide the text would like to be.
    int idealWidth() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return {0, 0}; }

signals:
    // The user asked for a code block's code on the clipboard.
    void codeCopyRequested(const QString& code);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void arrange();

    QFont m_font;
    qreal m_lineSpacing;
    QString m_markdown;
    QList<QWidget*> m_parts;
};

} // namespace quill
