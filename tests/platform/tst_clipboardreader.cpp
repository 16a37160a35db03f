#include "platform/ClipboardReader.h"

#include <QTest>
#include <QTimer>
#include <future>

using namespace quill;
using namespace std::chrono_literals;

namespace {

// An owner that hands out fixed contents, honouring the cap it is given as a real transfer does;
// it offers `refused` too but hands it out empty, and says nothing at all when `silent`.
class ContentsTransfer final : public ClipboardTransfer {
public:
    ContentsTransfer(QList<ClipboardFormat> contents, QList<qsizetype>& caps)
        : m_contents(std::move(contents))
        , m_caps(caps) {}
    std::optional<QStringList> formats(Clock::time_point) override {
        if (silent)
            return std::nullopt;
        QStringList names;
        for (const auto& [name, bytes] : std::as_const(m_contents))
            names << name;
        return names << refused;
    }
    std::optional<QByteArray> fetch(const QString& format, qsizetype cap, Clock::time_point) override {
        m_caps << cap;
        for (const auto& [name, bytes] : std::as_const(m_contents)) {
            if (name == format)
                return bytes.size() <= cap ? std::optional(bytes) : std::nullopt;
        }
        return QByteArray();
    }
    QStringList refused;
    bool silent = false;

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
    std::optional<QStringList> formats(Clock::time_point) override { return QStringList{"text/plain"}; }
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
    void isCompleteOnlyWhenNothingOfferedWasLeftOut();
    void givesUpOnAHungOwnerWhileEventsAreHandled();
};

void TestClipboardReader::keepsTheOwnersOrderWithinTheCaps() {
    ClipboardReadLimits limits;
    limits.maxFormatBytes = 8;
    limits.maxTotalBytes = 12;
    QList<qsizetype> caps;
    const ClipboardContents read = ClipboardReader(limits).read(std::make_unique<ContentsTransfer>(
        QList<ClipboardFormat>{
            {"a", "12345"}, {"empty", ""}, {"large", "1234567890"}, {"d", "123456"}, {"e", "12"}},
        caps));
    QCOMPARE(read.formats, (QList<ClipboardFormat>{{"a", "12345"}, {"d", "123456"}}));
    QVERIFY(!read.complete);
    // A format never gets more than its own cap or what the total leaves; empty ones count nothing.
    QCOMPARE(caps, (QList<qsizetype>{8, 7, 7, 7, 1}));
}

void TestClipboardReader::isCompleteOnlyWhenNothingOfferedWasLeftOut() {
    QList<qsizetype> caps;
    // Formats the owner refuses or hands out empty hold nothing to lose.
    auto refusing =
        std::make_unique<ContentsTransfer>(QList<ClipboardFormat>{{"a", "1"}, {"empty", ""}}, caps);
    refusing->refused = {"text/x-moz-url-priv"};
    const ClipboardContents read = ClipboardReader(ClipboardReadLimits{}).read(std::move(refusing));
    QCOMPARE(read.formats, (QList<ClipboardFormat>{{"a", "1"}}));
    QVERIFY(read.complete);
    // No owner: nothing to lose either.
    QVERIFY(ClipboardReader(ClipboardReadLimits{})
                .read(std::make_unique<ContentsTransfer>(QList<ClipboardFormat>{}, caps))
                .complete);
    // An owner that does not say what it holds may hold anything.
    auto silent = std::make_unique<ContentsTransfer>(QList<ClipboardFormat>{{"a", "1"}}, caps);
    silent->silent = true;
    QVERIFY(!ClipboardReader(ClipboardReadLimits{}).read(std::move(silent)).complete);
}

void TestClipboardReader::givesUpOnAHungOwnerWhileEventsAreHandled() {
    std::promise<void> release;
    auto gone = std::make_shared<std::promise<void>>();
    std::future<void> transferEnded = gone->get_future();
    bool timerFired = false;
    QTimer::singleShot(0, this, [&timerFired] { timerFired = true; });
    ClipboardReadLimits limits;
    limits.timeBudget = 50ms;
    const ClipboardContents read =
        ClipboardReader(limits).read(std::make_unique<HungTransfer>(release.get_future().share(), gone));
    QVERIFY(read.formats.isEmpty());
    QVERIFY(!read.complete);
    QVERIFY(timerFired);
    // The transfer ends on its own thread once the owner answers, and its answer goes nowhere.
    release.set_value();
    QVERIFY(transferEnded.wait_for(5s) == std::future_status::ready);
}

QTEST_GUILESS_MAIN(TestClipboardReader)
#include "tst_clipboardreader.moc"
