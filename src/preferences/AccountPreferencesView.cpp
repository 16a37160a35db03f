#include "AccountPreferencesView.h"

#include "backend/AuthService.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QVBoxLayout>

namespace quill {
namespace {

void useSecondaryColour(QWidget* widget) {
    QPalette palette = widget->palette();
    const QColor text = palette.color(QPalette::WindowText);
    const QColor window = palette.color(QPalette::Window);
    palette.setColor(QPalette::WindowText, QColor::fromRgbF(0.6f * text.redF() + 0.4f * window.redF(),
                                                            0.6f * text.greenF() + 0.4f * window.greenF(),
                                                            0.6f * text.blueF() + 0.4f * window.blueF()));
    widget->setPalette(palette);
}

QLabel* secondaryLabel(const QString& text, qreal scale, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    label->setFont(font);
    useSecondaryColour(label);
    return label;
}

} // namespace

AccountPreferencesView::AccountPreferencesView(AuthService& authService, QWidget* parent)
    : QWidget(parent)
    , m_authService(authService) {
    auto* stateSection = new QGroupBox(this);
    auto* stateLayout = new QVBoxLayout(stateSection);
    m_state = new QStackedWidget(stateSection);
    m_state->setObjectName(QStringLiteral("accountState"));
    m_signedIn = buildSignedIn();
    m_signedOut = buildSignedOut();
    m_state->addWidget(m_signedIn);
    m_state->addWidget(m_signedOut);
    stateLayout->addWidget(m_state);

    auto* privacySection = new QGroupBox(this);
    auto* privacyLayout = new QVBoxLayout(privacySection);
    auto* privacy =
        secondaryLabel(tr("Your data is processed securely. We don't store your text."), 0.85, this);
    privacy->setObjectName(QStringLiteral("privacyLabel"));
    privacyLayout->addWidget(privacy);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(stateSection);
    layout->addWidget(privacySection);
    layout->addStretch();

    showAuthenticated(m_authService.isAuthenticated());
    connect(&m_authService, &AuthService::isAuthenticatedChanged, this,
            &AccountPreferencesView::showAuthenticated);
}

QWidget* AccountPreferencesView::buildSignedIn() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("signedIn"));
    auto* status = new QHBoxLayout;
    auto* check = new QLabel(page);
    const int size = style()->pixelMetric(QStyle::PM_SmallIconSize);
    check->setPixmap(QIcon(QStringLiteral(":/preferences/icons/check-circle.svg")).pixmap(size, size));
    status->addWidget(check);
    status->addWidget(new QLabel(tr("Signed in"), page));
    status->addStretch();

    auto* signOut = new QPushButton(tr("Sign Out"), page);
    connect(signOut, &QPushButton::clicked, &m_authService, &AuthService::signOut);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(status);
    layout->addWidget(signOut, 0, Qt::AlignLeft);
    layout->addStretch();
    return page;
}

QWidget* AccountPreferencesView::buildSignedOut() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("signedOut"));
    auto* prompt = secondaryLabel(tr("Sign in to use Quillpoint"), 1.0, page);

    auto* signIn = new QPushButton(tr("Sign in with Apple"), page);
    QFont larger = signIn->font();
    larger.setPointSizeF(larger.pointSizeF() * 1.15);
    signIn->setFont(larger);
    signIn->setMinimumSize(signIn->sizeHint() + QSize(24, 8));
    connect(signIn, &QPushButton::clicked, this, [this] {
        if (!m_authService.isAuthenticated())
            m_authService.checkAuthentication();
    });

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(prompt);
    layout->addWidget(signIn, 0, Qt::AlignLeft);
    layout->addStretch();
    return page;
}

void AccountPreferencesView::showAuthenticated(bool authenticated) {
    m_state->setCurrentWidget(authenticated ? m_signedIn : m_signedOut);
}

} // namespace quill
