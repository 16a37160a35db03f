#pragma once

#include <QTextBrowser>

namespace quill {

class CodeBlockObject;
class CodeBlockView;
struct MarkdownSegment;

// Selectable Markdown prose that takes exactly the height its content needs at a given width.
// Links open in the browser; nothing the text names is ever loaded. Code blocks inside lists and
// quotes, and indented code, are shown as code blocks in their place in the text.
class MarkdownTextView : public QTextBrowser {
    Q_OBJECT
public:
    MarkdownTextView(const QFont& font, qreal lineSpacing, QWidget* parent = nullptr);

    void setMarkdown(const QString& markdown);
    const QString& markdown() const { return m_markdown; }

    // What is shown, as plain text, with the code of each code block in its place.
    QString shownText() const;
    // The code blocks shown in the text, top to bottom.
    const QList<CodeBlockView*>& codeBlocks() const { return m_codeBlocks; }

    // The widest line when nothing wraps: how wide the text would like to be.
    int idealWidth() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The user asked for a code block's code on the clipboard.
    void codeCopyRequested(const QString& code);

protected:
    QMimeData* createMimeDataFromSelection() const override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void render();
    void renderAgain();
    void append(const QString& chunk);
    void applyStyle();
    void showCode(QTextDocument& parsed, const QList<MarkdownSegment>& code);
    void arrangeCodeBlocks();
    QString withCode(const QString& text, int start) const;

    QFont m_font;
    qreal m_lineSpacing;
    QString m_markdown;
    // Streaming text only grows at its end. Blocks that later text can no longer change are
    // kept in the document; only the text after them is parsed again.
    qsizetype m_stableLength = 0;
    QString m_previousStable;
    int m_stableEnd = 0;
    QList<QRgb> m_styleKey;
    QList<CodeBlockView*> m_codeBlocks;
    CodeBlockObject* m_codeObject;
    // Code blocks in the text so far, and in its part that is kept.
    int m_codeCount = 0;
    int m_stableCodeCount = 0;
};

// Splits Markdown at the starts of top-level paragraphs and headings that follow a blank line
// outside code: each part parses to the same blocks alone as inside the whole text.
QStringList independentMarkdownParts(const QString& markdown);

// Whether the panel opens `url` when the user clicks it: web and mail addresses only.
bool isOpenableLink(const QUrl& url);

} // namespace quill
