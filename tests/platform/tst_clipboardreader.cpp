#include "platform/ClipboardReader.h"

#include <QTest>
#include <QTimer>
#include <future>

using namespace quill;
using namespace std::chrono_literals;

namespace {

// An owner that hands out fixed contents, honouring the cap it is given as a real transfer does.
class ContentsTransfer final : public ClipboardTransfer {
public:
    ContentsTransfer(QList<ClipboardFormat> contents, QList<qsizetype>& caps)
        : m_contents(std::move(contents))
        , m_caps(caps) {}
    QStringList formats(Clock::time_point) override {
        QStringList names;
        for (const auto& [name, bytes] : std::as_const(m_contents))
            names << name;
        return names;
    }
    std::optional<QByteArray> fetch(const QString& format, qsizetype cap, Clock::time_point) override {
        m_caps << cap;
        for (const auto& [name, bytes] : std::as_const(m_contents)) {
            if (name == format && bytes.size() <= cap)
                return bytes;
        }
        return std::nullopt;
    }

private:
    QList<ClipboardFormat> m_contents;
    QList<qsizetype>& m_caps;
};

// An owner that does not answer until it is let go.
class HungTransfer final : public ClipboardTransfer {
public:
    HungTransfer(std::shared_future<void> release, std::shared_ptr<std::promise<void>> gone)
        : m_release(std::move(release))
        , m_gone(std::move(gone)) {}
    ~HungTransfer() override { m_gone->set_value(); }
    HungTransfer(const HungTransfer&) = delete;
    HungTransfer& operator=(const HungTransfer&) = delete;
    QStringList formats(Clock::time_point) override { return {QStringLiteral("text/plain")}; }
    std::optional<QByteArray> fetch(const QString&, qsizetype, Clock::time_point) override {
        m_release.wait();
        return QByteArray("late");
    }

private:
    std::shared_future<void> m_release;
    std::shared_ptr<std::promise<void>> m_gone;
};

} // namespace

class TestClipboardReader : public QObject {
    Q_OBJECT
private slots:
    void keepsTheOwnersOrderWithinTheCaps();
    void givesUpOnAHungOwnerWhileEventsAreHandled();
};

void TestClipboardReader::keepsTheOwnersOrderWithinTheCaps() {
    ClipboardReadLimits limits;
    limits.maxFormatBytes = 8;
    limits.maxTotalBytes = 12;
    QList<qsizetype> caps;
    const QList<ClipboardFormat> read = ClipboardReader(limits).read(std::make_unique<ContentsTransfer>(
        QList<ClipboardFormat>{
            {"a", "12345"}, {"empty", ""}, {"large", "1234567890"}, {"d", "123456"}, {"e", "12"}},
        caps));
    QCOMPARE(read, (QList<ClipboardFormat>{{"a", "12345"}, {"d", "123456"}}));
    // A format never gets more than its own cap or what the total leaves; empty ones count nothing.
    QCOMPARE(caps, (QList<qsizetype>{8, 7, 7, 7, 1}));
}

void TestClipboardReader::givesUpOnAHungOwnerWhileEventsAreHandled() {
    std::promise<void> release;
    auto gone = std::make_shared<std::promise<void>>();
    std::future<void> transferEnded = gone->get_future();
    bool timerFired = false;
    QTimer::singleShot(0, this, [&timerFired] { timerFired = true; });
    ClipboardReadLimits limits;
    limits.timeBudget = 50ms;
    const QList<ClipboardFormat> read =
        ClipboardReader(limits).read(std::make_unique<HungTransfer>(release.get_future().share(), gone));
    QVERIFY(read.isEmpty());
    QVERIFY(timerFired);
    // The transfer ends on its own thread once the owner answers, and its answer goes nowhere.
    release.set_value();
    QVERIFY(transferEnded.wait_for(5s) == std::future_status::ready);
}

QTEST_GUILESS_MAIN(TestClipboardReader)
#include "tst_clipboardreader.moc"
