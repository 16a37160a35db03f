#pragma once

#include <QWidget>
#include <optional>

class QLabel;

namespace quill {

class AudioLevelIndicator;
class SpinnerView;

// The waiting row: a spinner, or the level meter while recording, and a message.
class LoadingView : public QWidget {
    Q_OBJECT
public:
    explicit LoadingView(QWidget* parent = nullptr);

    // `audioLevel` present shows the level meter instead of the spinner.
    void showProgress(const std::optional<QString>& message, std::optional<float> audioLevel);

    QString messageText() const;
    SpinnerView* spinner() const { return m_spinner; }
    AudioLevelIndicator* levelIndicator() const { return m_level; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyStyle();

    SpinnerView* m_spinner;
    AudioLevelIndicator* m_level;
    QLabel* m_message;
};

} // namespace quill
