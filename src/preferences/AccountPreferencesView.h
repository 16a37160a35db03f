#pragma once

#include <QWidget>

class QStackedWidget;

namespace quill {

class AuthService;

// Whether this device is signed in, with the way to sign out and in again.
class AccountPreferencesView : public QWidget {
    Q_OBJECT
public:
    explicit AccountPreferencesView(AuthService& authService, QWidget* parent = nullptr);

private:
    QWidget* buildSignedIn();
    QWidget* buildSignedOut();
    void showAuthenticated(bool authenticated);

    AuthService& m_authService;
    QStackedWidget* m_state;
    QWidget* m_signedIn;
    QWidget* m_signedOut;
};

} // namespace quill
