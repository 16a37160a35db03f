#pragma once

#include <QAbstractButton>

namespace quill {

// A borderless text button: only its label is drawn.
class PlainTextButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit PlainTextButton(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool m_hovered = false;
};

// A small rounded button of an icon and a caption on a tinted background.
class PillButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class Tint { accent, secondary };
    PillButton(Tint tint, QWidget* parent = nullptr);

    void setIconName(const QString& name);
    const QString& iconName() const { return m_iconName; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    Tint m_tint;
    QString m_iconName;
    bool m_hovered = false;
};

// A round icon button without bezel, used for dismissing the panel.
class IconButton : public QAbstractButton {
    Q_OBJECT
public:
    IconButton(QString iconName, int iconSize, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QString m_iconName;
    int m_iconSize;
    bool m_hovered = false;
};

} // namespace quill
