#pragma once

#include <QWidget>

class QLabel;

namespace quill {

// A warning sign and the message of what went wrong.
class ErrorView : public QWidget {
    Q_OBJECT
public:
    explicit ErrorView(QWidget* parent = nullptr);

    void setMessage(const QString& message);
    QString message() const;
    int idealWidth() const;

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyStyle();

    QLabel* m_icon;
    QLabel* m_message;
};

} // namespace quill
