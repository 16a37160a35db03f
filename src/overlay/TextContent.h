#pragma once

#include <QVariantAnimation>
#include <QWidget>
#include <optional>

namespace quill {

class Divider;
class MarkdownView;

// The explanation or transcription as Markdown, and below a divider the detailed text.
class TextContent : public QWidget {
    Q_OBJECT
public:
    explicit TextContent(QWidget* parent = nullptr);

    void showText(const QString& text, const std::optional<QString>& detailedText);

    MarkdownView* textView() const { return m_text; }
    MarkdownView* detailView() const { return m_detail; }
    bool isDetailShown() const;
    int idealWidth() const;

    // How long the detailed text takes to unfold when it appears; 0 shows it at once.
    void setRevealDuration(int milliseconds) { m_reveal.setDuration(milliseconds); }

    // The height once the detail has unfolded, so the panel fits what it will show.
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
    int detailHeight(int width) const;
    void arrange();

    MarkdownView* m_text;
    QWidget* m_detailSection;
    Divider* m_divider;
    MarkdownView* m_detail;
    QVariantAnimation m_reveal;
    qreal m_revealed = 1.0;
};

} // namespace quill
