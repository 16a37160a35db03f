#include "KWinQuery.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QTemporaryFile>
#include <QTimer>
#include <QUuid>

namespace quill {
namespace {

const QString kKWinService = QStringLiteral("org.kde.KWin");
const QString kScriptingPath = QStringLiteral("/Scripting");
const QString kScriptingInterface = QStringLiteral("org.kde.kwin.Scripting");
const QString kReceiverPath = QStringLiteral("/app/quillpoint/KWinQuery");
const QString kReceiverInterface = QStringLiteral("app.quillpoint.KWinQuery");

QDBusMessage kwinCall(const QString& method, const QVariantList& arguments, int timeoutMs) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kKWinService, kScriptingPath, kScriptingInterface, method);
    call.setArguments(arguments);
    call.setAutoStartService(false);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, timeoutMs);
}

// The script reads KWin's state and calls back; `token` tells its answer from a late one.
QByteArray script(const QString& service, const QString& token) {
    return QStringLiteral(R"(var w = workspace.activeClient;
callDBus("%1", "%2", "%3", "report", "%4", workspace.cursorPos.x, workspace.cursorPos.y,
         w ? String(w.resourceClass) : "", w ? String(w.resourceName) : "", w ? w.pid : 0);
)")
        .arg(service, kReceiverPath, kReceiverInterface, token)
        .toUtf8();
}

} // namespace

class KWinQuery::Receiver : public QDBusVirtualObject {
public:
    Receiver() { m_registered = QDBusConnection::sessionBus().registerVirtualObject(kReceiverPath, this); }
    ~Receiver() override {
        if (m_registered)
            QDBusConnection::sessionBus().unregisterObject(kReceiverPath);
    }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    bool registered() const { return m_registered; }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != QLatin1String("report") || message.interface() != kReceiverInterface)
            return false;
        connection.send(message.createReply());
        // Only KWin may answer: anyone else on the bus could otherwise place our panel.
        if (message.service() != m_kwinOwner)
            return true;
        const QVariantList args = message.arguments();
        if (args.size() == 6 && args[0].toString() == m_token) {
            Answer answer;
            answer.pointer = QPoint(qRound(args[1].toDouble()), qRound(args[2].toDouble()));
            answer.resourceClass = args[3].toString();
            answer.resourceName = args[4].toString();
            answer.processId = args[5].toLongLong();
            m_answer = answer;
        }
        return true;
    }

    QString m_token;
    QString m_kwinOwner;
    std::optional<Answer> m_answer;

private:
    bool m_registered = false;
};

KWinQuery::KWinQuery(int timeoutMs) : m_receiver(std::make_unique<Receiver>()), m_timeoutMs(timeoutMs) {}

KWinQuery::~KWinQuery() = default;

bool KWinQuery::isAvailable() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(kKWinService))
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(kKWinService, kScriptingPath,
                                                       QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                                       QStringLiteral("Introspect"));
    call.setAutoStartService(false);
    const QDBusMessage reply = bus.call(call, QDBus::Block, 500);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().constFirst().toString().contains(kScriptingInterface);
}

std::optional<KWinQuery::Answer> KWinQuery::ask() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !m_receiver->registered())
        return std::nullopt;
    const QDeadlineTimer deadline(m_timeoutMs);
    const auto owner = bus.interface()->serviceOwner(kKWinService);
    if (!owner.isValid())
        return std::nullopt;
    m_receiver->m_kwinOwner = owner.value();
    m_receiver->m_token = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_receiver->m_answer.reset();

    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/quillpoint-kwin-XXXXXX.js"));
    if (!file.open() || file.write(script(bus.baseService(), m_receiver->m_token)) < 0 || !file.flush())
        return std::nullopt;
    const QString plugin = QStringLiteral("quillpoint-") + m_receiver->m_token;
    const QDBusMessage loaded =
        kwinCall(QStringLiteral("loadScript"), {file.fileName(), plugin}, int(deadline.remainingTime()));
    if (loaded.type() != QDBusMessage::ReplyMessage || loaded.arguments().isEmpty() ||
        loaded.arguments().constFirst().toInt() < 0)
        return std::nullopt;
    kwinCall(QStringLiteral("start"), {}, int(std::max<qint64>(1, deadline.remainingTime())));

    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (m_receiver->m_answer || deadline.hasExpired())
            loop.quit();
    });
    poll.start(2);
    if (!m_receiver->m_answer && !deadline.hasExpired())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    kwinCall(QStringLiteral("unloadScript"), {plugin}, 200);
    return m_receiver->m_answer;
}

} // namespace quill
