#pragma once

#include "ExplanationViewModel.h"

#include <QWidget>

class QLabel;
class QScrollArea;

namespace quill {

class ActionBar;
class Divider;
class ErrorView;
class IconButton;
class LoadingView;
class TextContent;

// The text Copy puts on the clipboard: the shown text, and the detail when it is unfolded.
QString copyText(const ExplanationViewModel& viewModel);

// The overlay's card: header, scrollable content that follows the view model, action row.
class ExplanationView : public QWidget {
    Q_OBJECT
public:
    static constexpr int cornerRadius = 12;
    static constexpr int minimumWidth = 380;

    explicit ExplanationView(ExplanationViewModel& viewModel, QWidget* parent = nullptr);

    // The width the card would take with nothing limiting it.
    int fittingWidth() const;
    // The height the card needs at `width`.
    int fittingHeight(int width) const;

    // Opaque cards are for window systems that cannot blend a window with what is below.
    void setTranslucent(bool translucent);

    IconButton* dismissButton() const { return m_dismiss; }
    QLabel* titleLabel() const { return m_title; }
    LoadingView* loadingView() const { return m_loading; }
    TextContent* textContent() const { return m_text; }
    ErrorView* errorView() const { return m_error; }
    ActionBar* actionBar() const { return m_actionBar; }
    Divider* actionDivider() const { return m_actionDivider; }
    QScrollArea* scrollArea() const { return m_scroll; }

signals:
    void dismissRequested();
    void detailRequested();
    // The text shown, for the application in front.
    void pasteRequested(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void applyStyle();

    ExplanationViewModel& m_viewModel;
    QLabel* m_icon;
    QLabel* m_title;
    IconButton* m_dismiss;
    QWidget* m_header;
    QScrollArea* m_scroll;
    QWidget* m_content;
    LoadingView* m_loading;
    TextContent* m_text;
    ErrorView* m_error;
    Divider* m_actionDivider;
    ActionBar* m_actionBar;
    bool m_translucent = true;
    bool m_showedContent = false;
};

} // namespace quill
