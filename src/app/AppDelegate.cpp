#include "AppDelegate.h"

#include "StatusBarController.h"
#include "backend/AuthService.h"
#include "shortcuts/ShortcutConfiguration.h"

#include <QApplication>

namespace quill {

AppDelegate::AppDelegate(QObject* parent) : QObject(parent) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    setupApplication();
}

void AppDelegate::applicationWillTerminate() {}

void AppDelegate::setupApplication() {
    setupServices();
    StatusBarController::Callbacks callbacks;
    callbacks.quit = [] { QApplication::quit(); };
    m_statusBarController = std::make_unique<StatusBarController>(std::move(callbacks));
    m_statusBarController->setupStatusItem();
    AuthService::shared();
}

void AppDelegate::setupServices() {
    ShortcutConfiguration::shared();
}

} // namespace quill
