#include "KWinQuery.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVirtualObject>
#include <QDir>
#include <QMutex>
#include <QTemporaryFile>
#include <QUuid>

namespace quill {
namespace {

const QString kKWinService = QStringLiteral("org.kde.KWin");
const QString kScriptingPath = QStringLiteral("/Scripting");
const QString kScriptingInterface = QStringLiteral("org.kde.kwin.Scripting");
const QString kReceiverPath = QStringLiteral("/app/quillpoint/KWinQuery");
const QString kReceiverInterface = QStringLiteral("app.quillpoint.KWinQuery");

QDBusMessage kwinCall(const QString& method, const QVariantList& arguments) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kKWinService, kScriptingPath, kScriptingInterface, method);
    call.setArguments(arguments);
    call.setAutoStartService(false);
    return call;
}

// Sends `call` and hands its reply to `done` on the main thread, after at most `timeoutMs`.
void callAsync(const QDBusMessage& call, int timeoutMs, QObject* context,
               std::function<void(const QDBusMessage&)> done) {
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, timeoutMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        done(watcher->reply());
    });
}

void unloadScript(const QString& plugin) {
    QDBusConnection::sessionBus().send(kwinCall(QStringLiteral("unloadScript"), {plugin}));
}

const QString kWindowFields =
    QStringLiteral(R"(w ? String(w.resourceClass) : "", w ? String(w.resourceName) : "", w ? w.pid : 0)");

// Reads KWin's state once and calls back; `token` tells its answer from a late one.
QByteArray askScript(const QString& service, const QString& token) {
    return QStringLiteral(R"(var w = workspace.activeClient;
callDBus("%1", "%2", "%3", "report", "%4", workspace.cursorPos.x, workspace.cursorPos.y, %5);
)")
        .arg(service, kReceiverPath, kReceiverInterface, token, kWindowFields)
        .toUtf8();
}

// Reports the active window now and whenever another one becomes active.
QByteArray followScript(const QString& service, const QString& token) {
    return QStringLiteral(R"(function report(w) {
    callDBus("%1", "%2", "%3", "report", "%4", 0, 0, %5);
}
workspace.clientActivated.connect(report);
report(workspace.activeClient);
)")
        .arg(service, kReceiverPath, kReceiverInterface, token, kWindowFields)
        .toUtf8();
}

} // namespace

// Takes the scripts' calls. The bus may deliver them on its own thread, so what it reads is
// guarded and the answer goes to the query through its event loop.
class KWinQuery::Receiver : public QDBusVirtualObject {
public:
    explicit Receiver(KWinQuery* query) : m_query(query) {
        m_registered = QDBusConnection::sessionBus().registerVirtualObject(kReceiverPath, this);
    }
    ~Receiver() override {
        if (m_registered)
            QDBusConnection::sessionBus().unregisterObject(kReceiverPath);
    }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    bool registered() const { return m_registered; }
    void setKWinOwner(const QString& owner) {
        const QMutexLocker lock(&m_mutex);
        m_kwinOwner = owner;
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != QLatin1String("report") || message.interface() != kReceiverInterface)
            return false;
        connection.send(message.createReply());
        {
            // Only KWin may answer: anyone else on the bus could otherwise place our panel.
            const QMutexLocker lock(&m_mutex);
            if (m_kwinOwner.isEmpty() || message.service() != m_kwinOwner)
                return true;
        }
        const QVariantList args = message.arguments();
        if (args.size() != 6)
            return true;
        Answer answer;
        answer.pointer = QPoint(qRound(args[1].toDouble()), qRound(args[2].toDouble()));
        answer.resourceClass = args[3].toString();
        answer.resourceName = args[4].toString();
        answer.processId = args[5].toLongLong();
        QMetaObject::invokeMethod(
            m_query, [query = m_query, token = args[0].toString(), answer] { query->receive(token, answer); },
            Qt::QueuedConnection);
        return true;
    }

private:
    KWinQuery* m_query;
    QMutex m_mutex;
    QString m_kwinOwner;
    bool m_registered = false;
};

KWinQuery::KWinQuery(int timeoutMs, QObject* parent)
    : QObject(parent)
    , m_receiver(std::make_unique<Receiver>(this))
    , m_timeoutMs(timeoutMs) {
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(timeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, [this] { finish(std::nullopt); });
}

KWinQuery::~KWinQuery() {
    if (!m_plugin.isEmpty())
        unloadScript(m_plugin);
    if (!m_followPlugin.isEmpty())
        unloadScript(m_followPlugin);
}

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

void KWinQuery::loadScript(const QByteArray& source, const QString& plugin,
                           const std::function<void(bool)>& loaded) {
    auto file =
        std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/quillpoint-kwin-XXXXXX.js"));
    if (!file->open() || file->write(source) < 0 || !file->flush()) {
        loaded(false);
        return;
    }
    const QString path = file->fileName();
    (plugin == m_followPlugin ? m_followScript : m_script) = std::move(file);
    // The owner is asked first, so that a report can be told from KWin's.
    const QDBusMessage owner = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"));
    QDBusMessage ownerCall = owner;
    ownerCall.setArguments({kKWinService});
    callAsync(ownerCall, m_timeoutMs, this, [this, path, plugin, loaded](const QDBusMessage& reply) {
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            loaded(false);
            return;
        }
        m_receiver->setKWinOwner(reply.arguments().constFirst().toString());
        callAsync(kwinCall(QStringLiteral("loadScript"), {path, plugin}), m_timeoutMs, this,
                  [loaded](const QDBusMessage& reply) {
                      if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty() ||
                          reply.arguments().constFirst().toInt() < 0) {
                          loaded(false);
                          return;
                      }
                      QDBusConnection::sessionBus().send(kwinCall(QStringLiteral("start"), {}));
                      loaded(true);
                  });
    });
}

void KWinQuery::ask() {
    if (m_asking)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !m_receiver->registered()) {
        QMetaObject::invokeMethod(this, &KWinQuery::failed, Qt::QueuedConnection);
        return;
    }
    m_asking = true;
    m_token = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_plugin = QStringLiteral("quillpoint-") + m_token;
    m_timeout.start();
    loadScript(askScript(bus.baseService(), m_token), m_plugin, [this, token = m_token](bool loaded) {
        if (!loaded && m_asking && token == m_token)
            finish(std::nullopt);
    });
}

void KWinQuery::followActiveWindow() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!m_followPlugin.isEmpty() || !bus.isConnected() || !m_receiver->registered())
        return;
    m_followToken = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_followPlugin = QStringLiteral("quillpoint-follow-") + m_followToken;
    loadScript(followScript(bus.baseService(), m_followToken), m_followPlugin, [this](bool loaded) {
        if (!loaded) {
            m_followPlugin.clear();
            m_followScript.reset();
        }
    });
}

void KWinQuery::receive(const QString& token, const Answer& answer) {
    if (!m_followToken.isEmpty() && token == m_followToken) {
        m_activeWindow = answer;
        emit activeWindowChanged();
        return;
    }
    if (m_asking && token == m_token)
        finish(answer);
}

void KWinQuery::finish(std::optional<Answer> answer) {
    m_timeout.stop();
    m_asking = false;
    if (!m_plugin.isEmpty())
        unloadScript(m_plugin);
    m_plugin.clear();
    m_token.clear();
    m_script.reset();
    if (!answer) {
        emit failed();
        return;
    }
    m_lastAnswer = answer;
    emit answered(*answer);
}

} // namespace quill
