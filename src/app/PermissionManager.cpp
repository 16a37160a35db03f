#include "PermissionManager.h"

#include <QAbstractButton>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace quill {

PermissionManager::PermissionManager(AccessibilityStatus& accessibility, KeyEventPoster& keys,
                                     SettingsLauncher& settings, MicrophoneAccess& microphone,
                                     AlertPresenter presentAlert, int monitoringIntervalMs, QObject* parent)
    : QObject(parent)
    , m_accessibility(accessibility)
    , m_keys(keys)
    , m_settings(settings)
    , m_microphone(microphone)
    , m_presentAlert(std::move(presentAlert))
    , m_monitoringIntervalMs(monitoringIntervalMs) {}

const PermissionManager::Alert& PermissionManager::accessibilityAlert() {
    static const Alert alert{
        tr("Accessibility Permission Required"),
        tr("Quillpoint needs Accessibility permission to:\n\n"
           "\u2022 Capture selected text from any application\n"
           "\u2022 Respond to global keyboard shortcuts\n\n"
           "Click \"Open System Settings\" to turn on assistive technologies, then restart the "
           "applications you want to read text from."),
        QMessageBox::Information,
        {tr("Open System Settings"), tr("Later")},
    };
    return alert;
}

const PermissionManager::Alert& PermissionManager::microphoneDeniedAlert() {
    static const Alert alert{
        tr("Microphone Permission Required"),
        tr("Quillpoint needs microphone access to transcribe your voice.\n\n"
           "Click \"Open System Settings\" to grant permission."),
        QMessageBox::Information,
        {tr("Open System Settings"), tr("Later")},
    };
    return alert;
}

const PermissionManager::Alert& PermissionManager::microphoneRestrictedAlert() {
    static const Alert alert{
        tr("Microphone Access Restricted"),
        tr("Microphone access is blocked by a device policy. Contact your administrator."),
        QMessageBox::Warning,
        {tr("OK")},
    };
    return alert;
}

int PermissionManager::showAlertModally(const Alert& alert) {
    QMessageBox box;
    box.setObjectName(QStringLiteral("PermissionAlert"));
    box.setWindowTitle(tr("Quillpoint"));
    box.setIcon(alert.style);
    box.setText(alert.messageText);
    box.setInformativeText(alert.informativeText);
    QList<QAbstractButton*> buttons;
    for (const QString& title : alert.buttons)
        buttons << box.addButton(title,
                                 buttons.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.value(0)));
    // A tray program has no window in front: the alert must come up above the application in use.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.show();
    box.raise();
    box.activateWindow();
    box.exec();
    return firstButtonReturn + static_cast<int>(buttons.indexOf(box.clickedButton()));
}

bool PermissionManager::isAccessibilityEnabled() {
    return m_accessibility.isEnabled().value_or(false);
}

bool PermissionManager::canReadSelections() {
    return m_accessibility.isEnabled().has_value() || m_keys.isAvailable();
}

void PermissionManager::showAccessibilityAlert() {
    if (isAccessibilityEnabled())
        return;
    if (m_presentAlert(accessibilityAlert()) == firstButtonReturn)
        openAccessibilitySettings();
}

void PermissionManager::openAccessibilitySettings() {
    m_settings.open(SettingsLauncher::Pane::accessibility);
    // The desktop's own switch, which applications started from now on read.
    m_accessibility.setEnabled(true);
}

void PermissionManager::requestMicrophoneAccess(std::function<void(bool)> completion) {
    switch (m_microphone.authorization()) {
    case MicrophoneAccess::Authorization::notDetermined: {
        QPointer<PermissionManager> self(this);
        // The answer may come from another thread; the completion runs on ours.
        m_microphone.requestAccess([self, completion = std::move(completion)](bool granted) {
            if (self)
                QMetaObject::invokeMethod(
                    self, [completion, granted] { completion(granted); }, Qt::QueuedConnection);
        });
        break;
    }
    case MicrophoneAccess::Authorization::restricted:
        m_presentAlert(microphoneRestrictedAlert());
        break;
    case MicrophoneAccess::Authorization::denied:
        if (m_presentAlert(microphoneDeniedAlert()) == firstButtonReturn)
            openMicrophoneSettings();
        break;
    case MicrophoneAccess::Authorization::authorized:
        completion(true);
        break;
    }
}

void PermissionManager::openMicrophoneSettings() {
    m_settings.open(SettingsLauncher::Pane::microphone);
}

void PermissionManager::startAccessibilityMonitoring() {
    // Told by the bus where it can: a timer that asks every few seconds keeps an idle program
    // waking up all day.
    if (m_accessibility.watch([self = QPointer(this)] {
            if (self)
                emit self->accessibilityUpdated(self->isAccessibilityEnabled());
        }))
        return;
    auto* timer = new QTimer(this);
    timer->setInterval(m_monitoringIntervalMs);
    connect(timer, &QTimer::timeout, this, [this] { emit accessibilityUpdated(isAccessibilityEnabled()); });
    timer->start();
}

} // namespace quill
