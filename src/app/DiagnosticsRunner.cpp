#include "ApplicationBusObject.h"
#include "Diagnostics.h"
#include "backend/AuthService.h"
#include "backend/QuillAPIClient.h"
#include "platform/AppInfo.h"
#include "platform/PlatformFactory.h"
#include "platform/SettingsStore.h"
#include "shortcuts/KeyCodes.h"
#include "shortcuts/ShortcutConfiguration.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

namespace quill {
namespace {

// Shares of the three seconds the whole run may take.
constexpr int probeBudgetMs = 1200;
constexpr int keyringTimeoutMs = 600;
constexpr int networkBudgetMs = 800;

std::optional<int> httpStatus(QNetworkReply* reply, QString* error) {
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid())
        return status.toInt();
    if (error)
        *error = reply->isFinished() ? reply->errorString() : QStringLiteral("timed out");
    return std::nullopt;
}

} // namespace

int runDiagnostics(int& argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quillpoint"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillpoint"));

    QSettingsStore settings;
    ShortcutConfiguration shortcuts(settings);
    DiagnosticsInput input;
    QList<KeyCombination> combinations;
    const std::pair<ShortcutAction, const char*> actions[] = {
        {ShortcutAction::explainSelection, "Explain"},
        {ShortcutAction::transcribeOnly, "Transcribe"},
    };
    for (const auto& [action, name] : actions) {
        const Shortcut shortcut = shortcuts.shortcut(action);
        const auto info = keyCodeInfo(shortcut.keyCode);
        combinations << KeyCombination{info ? info->qtKey : Qt::Key_unknown, qtModifiers(shortcut.modifiers)};
        input.shortcutNames << QString::fromLatin1(name);
        input.shortcutKeys << displayString(shortcut);
    }

    input.session = platform::probeSession(combinations, bundleIdentifier(), probeBudgetMs);
    input.display = qEnvironmentVariable("DISPLAY");
    input.waylandDisplay = qEnvironmentVariable("WAYLAND_DISPLAY");
    input.secretsFile = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                        QStringLiteral("/Quillpoint/secrets.json");
    input.autostartPath = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                          QStringLiteral("/autostart/") + bundleIdentifier() + QStringLiteral(".desktop");
    input.autostartExists = QFileInfo::exists(input.autostartPath);

    // A locked keyring would ask the user to unlock it, and asking for one that is not running
    // would start it: only an open keyring, or else the file, is read.
    std::optional<QString> token;
    const KeyringFacts& keyring = input.session.keyring;
    if (keyring.answered && (!keyring.serviceRunning || keyring.locked == false)) {
        const std::unique_ptr<SecretStore> store = keyring.serviceRunning
                                                       ? platform::createSecretStore(keyringTimeoutMs)
                                                       : platform::createFileSecretStore();
        const SecretResult result = store->lookup(bundleIdentifier(), AuthService::tokenKey);
        if (result.ok()) {
            token = QString::fromUtf8(result.value);
            input.token = DiagnosticsInput::Token::present;
        } else if (result.status == SecretResult::Status::failed) {
            input.token = DiagnosticsInput::Token::unreadable;
        }
    } else {
        input.token = DiagnosticsInput::Token::unreadable;
    }

    const QString override =
        settings.value(QuillAPIClient::baseURLOverrideKey).value_or(QVariant()).toString();
    input.backendAddress = override.isEmpty() ? QuillAPIClient::builtInBaseURL() : override;
    QNetworkAccessManager network;
    QNetworkRequest health(QUrl(input.backendAddress + QStringLiteral("/health")));
    health.setTransferTimeout(networkBudgetMs);
    QNetworkReply* healthReply = network.get(health);
    QNetworkReply* authReply = nullptr;
    QNetworkReply* modelsReply = nullptr;
    if (token) {
        // Turned away for its content type after the token was checked: no model runs, no quota is used.
        QNetworkRequest request(QUrl(input.backendAddress + QuillAPIClient::explainPath));
        request.setTransferTimeout(networkBudgetMs);
        request.setRawHeader("Authorization", "Bearer " + token->toUtf8());
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/plain"));
        authReply = network.post(request, QByteArray());
        QNetworkRequest models(QUrl(input.backendAddress + QuillAPIClient::modelsPath));
        models.setTransferTimeout(networkBudgetMs);
        models.setRawHeader("Authorization", "Bearer " + token->toUtf8());
        modelsReply = network.get(models);
    }
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto allFinished = [&] {
        return healthReply->isFinished() && (!authReply || authReply->isFinished()) &&
               (!modelsReply || modelsReply->isFinished());
    };
    const auto checkDone = [&] {
        if (allFinished())
            loop.quit();
    };
    QObject::connect(healthReply, &QNetworkReply::finished, &loop, checkDone);
    for (QNetworkReply* reply : {authReply, modelsReply}) {
        if (reply)
            QObject::connect(reply, &QNetworkReply::finished, &loop, checkDone);
    }
    deadline.start(networkBudgetMs + 100);
    if (!allFinished())
        loop.exec();
    input.healthStatus = httpStatus(healthReply, &input.healthError);
    if (authReply)
        input.authStatus = httpStatus(authReply, nullptr);
    if (modelsReply) {
        input.modelsStatus = httpStatus(modelsReply, nullptr);
        if (input.modelsStatus == 200 && modelsReply->isFinished())
            input.models = parseModelList(modelsReply->read(ModelList::maxReplyBytes + 1));
    }

    const DiagnosticsReport report = buildDiagnosticsReport(input);
    for (const QString& text : report.lines)
        std::fprintf(stdout, "%s\n", qPrintable(text));
    std::fflush(stdout);
    const int status = report.ok() ? 0 : 1;
    const SessionFacts& s = input.session;
    // A probe still waiting for a hung peer must not hold the process: leave without running
    // destructors that would wait for it.
    if (!s.x11.answered || !s.sound.answered || !s.keyring.answered || !s.bus.answered)
        std::_Exit(status);
    return status;
}

} // namespace quill
