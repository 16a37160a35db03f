#include "ShortcutRecorderView.h"

#include "KeyCaptureButton.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

namespace quill {
namespace {

// Refused only with Ctrl alone: H, Q, W and Tab. Any further modifier makes them acceptable.
constexpr std::array<uint32_t, 4> reservedKeyCodes = {4, 12, 13, 48};

bool isReserved(const Shortcut& shortcut) {
    return shortcut.modifiers == modifier::ctrl && std::find(reservedKeyCodes.begin(), reservedKeyCodes.end(),
                                                             shortcut.keyCode) != reservedKeyCodes.end();
}

} // namespace

ShortcutRecorderView::ShortcutRecorderView(ShortcutBinding binding, QWidget* parent)
    : QWidget(parent)
    , m_binding(std::move(binding)) {
    m_shortcutButton = new KeyCaptureButton(this);
    connect(m_shortcutButton, &KeyCaptureButton::captured, this, &ShortcutRecorderView::capture);
    connect(m_shortcutButton, &KeyCaptureButton::cancelled, this, [this] { capture(std::nullopt); });
    m_shortcutButton->setObjectName(QStringLiteral("shortcutButton"));
    m_shortcutButton->setMinimumWidth(80 + 2 * 12);
    m_shortcutButton->setAutoDefault(false);
    connect(m_shortcutButton, &QPushButton::clicked, this, &ShortcutRecorderView::startRecording);

    m_resetButton = new QToolButton(this);
    m_resetButton->setObjectName(QStringLiteral("resetButton"));
    m_resetButton->setAutoRaise(true);
    m_resetButton->setIcon(QIcon(QStringLiteral(":/shortcuts/icons/reset.svg")));
    m_resetButton->setToolTip(tr("Reset to default (%1)").arg(m_binding.name(m_binding.defaultValue)));
    m_resetButton->setAccessibleName(tr("Reset to default"));
    connect(m_resetButton, &QToolButton::clicked, this, &ShortcutRecorderView::reset);

    m_errorLabel = new QLabel(this);
    m_errorLabel->setObjectName(QStringLiteral("errorLabel"));
    m_errorLabel->setAlignment(Qt::AlignRight);
    QFont caption = m_errorLabel->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    m_errorLabel->setFont(caption);
    QPalette warning = m_errorLabel->palette();
    warning.setColor(QPalette::WindowText, QColor(0xc0, 0x1c, 0x28));
    m_errorLabel->setPalette(warning);
    m_errorLabel->hide();

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    row->addWidget(m_shortcutButton);
    row->addWidget(m_resetButton);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    column->addLayout(row);
    column->addWidget(m_errorLabel);

    refresh();
}

void ShortcutRecorderView::refresh() {
    m_shortcutButton->setText(m_recording ? recordingText() : m_binding.name(m_binding.read()));
    m_resetButton->setVisible(!m_recording);
}

void ShortcutRecorderView::startRecording() {
    setRecording(true);
    m_shortcutButton->setFocus(Qt::OtherFocusReason);
}

void ShortcutRecorderView::capture(std::optional<Shortcut> captured) {
    setRecording(false);
    if (!captured)
        return;
    if (isReserved(*captured)) {
        setError(reservedText());
        return;
    }
    tryChoose(*captured);
}

void ShortcutRecorderView::reset() {
    tryChoose(m_binding.defaultValue);
}

void ShortcutRecorderView::tryChoose(const Shortcut& shortcut) {
    if (shortcut != m_binding.read() && m_binding.usedBy) {
        if (const auto other = m_binding.usedBy(shortcut)) {
            setError(tr("%1 is already used by %2").arg(m_binding.name(shortcut), *other));
            return;
        }
    }
    setError(std::nullopt);
    emit shortcutChosen(shortcut);
    refresh();
}

void ShortcutRecorderView::setRecording(bool recording) {
    if (recording == m_recording)
        return;
    m_recording = recording;
    m_shortcutButton->setRecording(recording);
    refresh();
    emit recordingChanged(recording);
}

void ShortcutRecorderView::setError(std::optional<QString> error) {
    m_error = std::move(error);
    m_errorLabel->setText(m_error.value_or(QString()));
    m_errorLabel->setVisible(m_error.has_value());
}

void ShortcutRecorderView::hideEvent(QHideEvent* event) {
    // The global shortcuts stay off while a recorder records; a recorder nobody can see or type
    // into must not keep them off.
    setRecording(false);
    QWidget::hideEvent(event);
}

} // namespace quill
