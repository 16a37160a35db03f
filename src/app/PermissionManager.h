#pragma once

#include "platform/AccessibilityStatus.h"
#include "platform/KeyEventPoster.h"
#include "platform/MicrophoneAccess.h"
#include "platform/SettingsLauncher.h"

#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <functional>

namespace quill {

// Checks the rights the program needs to read other applications and to record, explains a
// missing one in a modal alert and opens the desktop's settings for it. Reads every right afresh.
class PermissionManager : public QObject {
    Q_OBJECT
public:
    // A modal alert: the message is its bold title, the informative text its body.
    struct Alert {
        QString messageText;
        QString informativeText;
        QMessageBox::Icon style;
        QStringList buttons;
    };
    static constexpr int firstButtonReturn = 1000;
    // Shows an alert and returns once a button was pressed: firstButtonReturn + its index.
    using AlertPresenter = std::function<int(const Alert&)>;

    PermissionManager(AccessibilityStatus& accessibility, KeyEventPoster& keys, SettingsLauncher& settings,
                      MicrophoneAccess& microphone, AlertPresenter presentAlert,
                      int monitoringIntervalMs = 2000, QObject* parent = nullptr);

    static const Alert& accessibilityAlert();
    static const Alert& microphoneDeniedAlert();
    static const Alert& microphoneRestrictedAlert();
    // The alert as a QMessageBox, run modally in front of everything else.
    static int showAlertModally(const Alert& alert);

    // The accessibility bus answers and the desktop's accessibility support is on.
    bool isAccessibilityEnabled();
    // Some way to read another application's selection exists: accessibility or synthetic copy.
    bool canReadSelections();
    void showAccessibilityAlert();
    void openAccessibilitySettings();
    void requestMicrophoneAccess(std::function<void(bool granted)> completion);
    void openMicrophoneSettings();
    // From now on, for the life of this manager, emits accessibilityUpdated() with the current
    // state: when the desktop announces a change where it can, else every monitoring interval
    // (the first one interval after the start). Never at once.
    void startAccessibilityMonitoring();

signals:
    void accessibilityUpdated(bool enabled);

private:
    AccessibilityStatus& m_accessibility;
    KeyEventPoster& m_keys;
    SettingsLauncher& m_settings;
    MicrophoneAccess& m_microphone;
    AlertPresenter m_presentAlert;
    int m_monitoringIntervalMs;
};

} // namespace quill
