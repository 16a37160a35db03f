#pragma once

#include <QTimer>
#include <QWidget>

class QLabel;
class QScrollArea;

namespace quill {

class PillButton;

// A code block: its language and a Copy button above the code, which keeps its lines as
// written and scrolls sideways instead of wrapping.
class CodeBlockView : public QWidget {
    Q_OBJECT
public:
    explicit CodeBlockView(const QFont& font, QWidget* parent = nullptr);

    void setCode(const QString& code, const QString& language);
    const QString& code() const { return m_code; }

    // The width at which no line needs scrolling.
    int idealWidth() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return {0, 0}; }

    PillButton* copyButton() const { return m_copy; }
    QLabel* languageLabel() const { return m_language; }
    QScrollArea* scrollArea() const { return m_scroll; }
    // How long "Copied!" shows after a click.
    void setCopiedDuration(int milliseconds) { m_copiedTimer.setInterval(milliseconds); }

signals:
    // The user asked for the code on the clipboard.
    void copyRequested(const QString& code);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int headerHeight() const;
    int codeHeight(int width) const;
    void arrange();
    void applyStyle();
    void setCopied(bool copied);

    QFont m_font;
    QString m_code;
    QLabel* m_language;
    PillButton* m_copy;
    QScrollArea* m_scroll;
    QLabel* m_text;
    QTimer m_copiedTimer;
};

} // namespace quill
