#include "platform/sway/SwayKeyGrabber.h"

#include <QJsonArray>
#include <QLocalServer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

using namespace quill;

namespace {

// sway's side of the IPC socket: records each message and answers as the test says.
class FakeSway : public QObject {
    Q_OBJECT
public:
    struct Message {
        quint32 type;
        QString payload;
    };

    explicit FakeSway(const QString& path) {
        m_server.listen(path);
        connect(&m_server, &QLocalServer::newConnection, this, [this] {
            m_client = m_server.nextPendingConnection();
            connect(m_client, &QLocalSocket::readyRead, this, &FakeSway::read);
        });
    }

    // The reply to each message; run_command succeeds, get_config gives `config`.
    QString config;
    bool holdConfig = false;
    bool failCommands = false;
    QList<Message> received;
    QList<quint32> heldReplies;

    QStringList commands() const {
        QStringList all;
        for (const auto& m : received)
            if (m.type == SwayIpcConnection::runCommand)
                all << m.payload;
        return all;
    }

    void reply(quint32 type) {
        QJsonDocument body;
        if (type == SwayIpcConnection::getConfig) {
            body = QJsonDocument(QJsonObject{{QStringLiteral("config"), config}});
        } else if (type == SwayIpcConnection::runCommand) {
            QJsonObject result{{QStringLiteral("success"), !failCommands}};
            if (failCommands)
                result.insert(QStringLiteral("error"), QStringLiteral("Invalid bindcode"));
            body = QJsonDocument(QJsonArray{result});
        } else {
            body = QJsonDocument(QJsonObject{{QStringLiteral("success"), true}});
        }
        m_client->write(SwayIpcConnection::frame(type, body.toJson(QJsonDocument::Compact)));
    }

    void releaseConfig() {
        holdConfig = false;
        for (quint32 type : std::exchange(heldReplies, {}))
            reply(type);
    }

    void sendEvent(quint32 type, const QJsonObject& event) {
        m_client->write(SwayIpcConnection::frame(type, QJsonDocument(event).toJson()));
    }

    void sendBinding(const QString& command) {
        sendEvent(SwayIpcConnection::bindingEvent,
                  {{QStringLiteral("change"), QStringLiteral("run")},
                   {QStringLiteral("binding"), QJsonObject{{QStringLiteral("command"), command}}}});
    }

private:
    void read() {
        m_buffer += m_client->readAll();
        while (m_buffer.size() >= 14) {
            quint32 size = 0;
            quint32 type = 0;
            std::memcpy(&size, m_buffer.constData() + 6, 4);
            std::memcpy(&type, m_buffer.constData() + 10, 4);
            if (m_buffer.size() < 14 + qsizetype(size))
                return;
            received.append({type, QString::fromUtf8(m_buffer.mid(14, size))});
            m_buffer.remove(0, 14 + size);
            // Replies keep their order, so one held back holds back the rest.
            if ((type == SwayIpcConnection::getConfig && holdConfig) || !heldReplies.isEmpty())
                heldReplies.append(type);
            else
                reply(type);
        }
    }

    QLocalServer m_server;
    QLocalSocket* m_client = nullptr;
    QByteArray m_buffer;
};

const KeyCombination ctrl1{Qt::Key_1, Qt::ControlModifier};
const KeyCombination ctrlShift2{Qt::Key_2, Qt::ControlModifier | Qt::ShiftModifier};
const KeyCombination escape{Qt::Key_Escape, {}};

} // namespace

class TestSwayKeyGrabber : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<FakeSway> m_sway;
    std::unique_ptr<SwayKeyGrabber> m_grabber;
    QList<KeyCombination> m_presses;
    QList<KeyCombination> m_releases;
    QList<std::pair<KeyCombination, KeyGrabber::GrabResult>> m_refusals;

    void start(const QString& config, bool holdConfig = false) {
        m_sway = std::make_unique<FakeSway>(m_dir.filePath(QStringLiteral("sway.sock")));
        m_sway->config = config;
        m_sway->holdConfig = holdConfig;
        m_grabber = std::make_unique<SwayKeyGrabber>(
            std::make_unique<SwayIpcConnection>(m_dir.filePath(QStringLiteral("sway.sock"))));
        m_grabber->setRefusalHandler([this](const KeyCombination& c, KeyGrabber::GrabResult r) {
            m_refusals.append({c, r});
        });
        QVERIFY(m_grabber->install([this](const KeyCombination& c) { m_presses.append(c); },
                                   [this](const KeyCombination& c) { m_releases.append(c); }));
    }

private slots:
    void init() {
        m_presses.clear();
        m_releases.clear();
        m_refusals.clear();
    }

    void cleanup() {
        m_grabber.reset();
        m_sway.reset();
    }

    void aGrabBindsThePressAndTheReleaseAndReportsBoth() {
        start(QString());
        QCOMPARE(m_grabber->grab(ctrlShift2), KeyGrabber::GrabResult::grabbed);
        QTRY_COMPARE(m_sway->commands().size(), 1);
        QCOMPARE(m_sway->commands().first(),
                 QStringLiteral("bindcode --no-repeat Ctrl+Shift+11 nop quillpoint press Ctrl+Shift+11; "
                                "bindcode --release Ctrl+Shift+11 nop quillpoint release Ctrl+Shift+11"));
        QVERIFY(m_sway->received.first().type == SwayIpcConnection::getConfig);

        // Bindings that are not ours, and a release with no press before it, are no shortcut.
        m_sway->sendBinding(QStringLiteral("exec foot"));
        m_sway->sendBinding(SwayKeyGrabber::bindingCommand(ctrlShift2, true));
        m_sway->sendBinding(SwayKeyGrabber::bindingCommand(ctrl1, false));
        m_sway->sendBinding(SwayKeyGrabber::bindingCommand(ctrlShift2, false));
        QTRY_COMPARE(m_presses, QList<KeyCombination>{ctrlShift2});
        QVERIFY(m_releases.isEmpty());
        m_sway->sendBinding(SwayKeyGrabber::bindingCommand(ctrlShift2, true));
        QTRY_COMPARE(m_releases, QList<KeyCombination>{ctrlShift2});
    }

    void anUngrabTakesTheBindingsOutAndItsPressesAreIgnored() {
        start(QString());
        m_grabber->grab(escape);
        QTRY_COMPARE(m_sway->commands().size(), 1);
        m_grabber->ungrab(escape);
        QTRY_COMPARE(m_sway->commands().size(), 2);
        QCOMPARE(m_sway->commands().last(), QStringLiteral("unbindcode 9; unbindcode --release 9"));
        m_sway->sendBinding(SwayKeyGrabber::bindingCommand(escape, false));
        m_grabber->grab(ctrl1);
        QTRY_COMPARE(m_sway->commands().size(), 3);
        QVERIFY(m_presses.isEmpty());
    }

    void theBindingsGoWhenTheGrabberEnds() {
        start(QString());
        m_grabber->grab(ctrl1);
        QTRY_COMPARE(m_sway->commands().size(), 1);
        m_grabber->grab(escape);
        m_grabber->ungrab(escape);
        QTRY_COMPARE(m_sway->commands().size(), 3);
        m_grabber.reset();
        QTRY_COMPARE(m_sway->commands().size(), 4);
        QCOMPARE(m_sway->commands().last(),
                 QStringLiteral("unbindcode Ctrl+10; unbindcode --release Ctrl+10"));
    }

    // At quit the event loop turns no more: what the last ungrab sent must still reach sway.
    void anUngrabRightBeforeTheEndStillReachesSway() {
        start(QString());
        m_grabber->grab(ctrl1);
        QTRY_COMPARE(m_sway->commands().size(), 1);
        m_grabber->ungrab(ctrl1);
        m_grabber.reset();
        QTRY_COMPARE(m_sway->commands().size(), 2);
        QCOMPARE(m_sway->commands().last(),
                 QStringLiteral("unbindcode Ctrl+10; unbindcode --release Ctrl+10"));
    }

    void aCombinationTheUsersConfigurationBindsIsTakenAndLeftAlone() {
        const QString config = QStringLiteral("set $mod Mod4\nset $quick Control\n"
                                              "bindsym $quick+1 exec foot\n");
        start(config, true);
        // Asked before sway has answered: the grab waits and its refusal comes later.
        QCOMPARE(m_grabber->grab(ctrl1), KeyGrabber::GrabResult::grabbed);
        QCOMPARE(m_grabber->grab(ctrlShift2), KeyGrabber::GrabResult::grabbed);
        QTest::qWait(50); // nothing may be bound while the configuration is unknown
        QVERIFY(m_sway->commands().isEmpty());
        m_sway->releaseConfig();
        QTRY_COMPARE(m_refusals.size(), 1);
        QCOMPARE(m_refusals.first().first, ctrl1);
        QCOMPARE(m_refusals.first().second, KeyGrabber::GrabResult::taken);
        QTRY_COMPARE(m_sway->commands().size(), 1);
        QVERIFY(m_sway->commands().first().contains(QStringLiteral("Ctrl+Shift+11")));

        // Once the configuration is known, the answer is immediate.
        QCOMPARE(m_grabber->grab(ctrl1), KeyGrabber::GrabResult::taken);
        QCOMPARE(m_grabber->grab({Qt::Key_F35, {}}), KeyGrabber::GrabResult::noSuchKey);
        // The ended grabber takes out only what it bound.
        m_grabber.reset();
        QTRY_COMPARE(m_sway->commands().size(), 2);
        QVERIFY(!m_sway->commands().last().contains(QStringLiteral("Ctrl+10")));
    }

    void aBindingSwayRefusesIsReportedAndNotTakenOutLater() {
        start(QString());
        m_sway->failCommands = true;
        m_grabber->grab(ctrl1);
        QTRY_COMPARE(m_refusals.size(), 1);
        QCOMPARE(m_refusals.first().second, KeyGrabber::GrabResult::refused);
        m_sway->failCommands = false;
        m_grabber.reset();
        QTest::qWait(50); // the end of the grabber sends nothing more
        QCOMPARE(m_sway->commands().size(), 1);
    }

    void aReloadOfSwaysConfigurationBindsAgainWhatIsStillFree() {
        start(QString());
        m_grabber->grab(ctrl1);
        m_grabber->grab(ctrlShift2);
        QTRY_COMPARE(m_sway->commands().size(), 2);
        m_sway->config = QStringLiteral("bindsym Ctrl+Shift+2 exec foot\n");
        m_sway->sendEvent(SwayIpcConnection::workspaceEvent,
                          {{QStringLiteral("change"), QStringLiteral("reload")}});
        QTRY_COMPARE(m_refusals.size(), 1);
        QCOMPARE(m_refusals.first().first, ctrlShift2);
        QTRY_COMPARE(m_sway->commands().size(), 3);
        QVERIFY(m_sway->commands().last().startsWith(QStringLiteral("bindcode --no-repeat Ctrl+10 ")));
        m_sway->sendBinding(SwayKeyGrabber::bindingCommand(ctrl1, false));
        QTRY_COMPARE(m_presses, QList<KeyCombination>{ctrl1});
    }

    void withoutSwayNothingIsInstalled() {
        SwayKeyGrabber grabber(
            std::make_unique<SwayIpcConnection>(m_dir.filePath(QStringLiteral("none.sock"))));
        QTRY_VERIFY(!grabber.install([](const KeyCombination&) {}, [](const KeyCombination&) {}));
    }
};

QTEST_GUILESS_MAIN(TestSwayKeyGrabber)
#include "tst_swaykeygrabber.moc"
