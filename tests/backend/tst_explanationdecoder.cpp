#include "backend/ExplanationDecoder.h"

#include <QTest>
#include <random>

using namespace quill;

namespace {

struct Decoded {
    QStringList pieces;
    bool endMarker = false;
};

// Feeds `body` in reads that end at the given offsets, then ends the body.
Decoded decodeInReads(const QByteArray& body, const QList<qsizetype>& cuts,
                      qsizetype maxLine = LineSplitter::defaultMaxLineBytes) {
    ExplanationDecoder decoder(maxLine);
    Decoded result;
    const auto onPiece = [&](const QString& piece) { result.pieces.append(piece); };
    qsizetype start = 0;
    for (qsizetype cut : cuts) {
        if (decoder.feed(QByteArrayView(body).sliced(start, cut - start), onPiece)) {
            result.endMarker = true;
            return result;
        }
        start = cut;
    }
    result.endMarker = decoder.feed(QByteArrayView(body).sliced(start), onPiece) || decoder.finish(onPiece);
    return result;
}

QByteArray chunk(const QByteArray& content) {
    return "data: {\"choices\":[{\"delta\":{\"content\":" + content + "}}]}";
}

} // namespace

class TestExplanationDecoder : public QObject {
    Q_OBJECT
private slots:
    void eventLines_data();
    void eventLines();
    void everySplitGivesTheSamePieces_data();
    void everySplitGivesTheSamePieces();
    void overlongLinesAreDroppedAndDecodingResumes_data();
    void overlongLinesAreDroppedAndDecodingResumes();
    void randomBytesNeverGrowTheBufferAndIgnoreReadBoundaries();
};

void TestExplanationDecoder::eventLines_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("piece");
    const int ignored = int(EventLine::Kind::ignored);
    const int piece = int(EventLine::Kind::piece);
    const int end = int(EventLine::Kind::endMarker);

    QTest::newRow("text") << chunk("\"Hel\"") << piece << "Hel";
    QTest::newRow("escaped, unchanged") << chunk(R"("a\nb \"q\" \u00e9")") << piece << "a\nb \"q\" é";
    QTest::newRow("empty content is a piece") << chunk("\"\"") << piece << "";
    QTest::newRow("end marker") << QByteArray("data: [DONE]") << end << "";
    QTest::newRow("end marker without space") << QByteArray("data:[DONE]") << ignored << "";
    QTest::newRow("end marker with trailing space") << QByteArray("data: [DONE] ") << ignored << "";
    QTest::newRow("end marker with two spaces") << QByteArray("data:  [DONE]") << ignored << "";
    QTest::newRow("chunk without space")
        << QByteArray(R"(data:{"choices":[{"delta":{"content":"x"}}]})") << ignored << "";
    QTest::newRow("empty line") << QByteArray() << ignored << "";
    QTest::newRow("comment") << QByteArray(": keep-alive") << ignored << "";
    QTest::newRow("event name") << QByteArray("event: message") << ignored << "";
    QTest::newRow("event id") << QByteArray("id: 7") << ignored << "";
    QTest::newRow("not json") << QByteArray("data: hello") << ignored << "";
    QTest::newRow("json array") << QByteArray("data: [1,2]") << ignored << "";
    QTest::newRow("no choices") << QByteArray(R"(data: {"id":"x"})") << ignored << "";
    QTest::newRow("choices not array")
        << QByteArray(R"(data: {"choices":{"delta":{"content":"x"}}})") << ignored << "";
    QTest::newRow("choices empty") << QByteArray(R"(data: {"choices":[]})") << ignored << "";
    QTest::newRow("a choice not an object")
        << QByteArray(R"(data: {"choices":[{"delta":{"content":"x"}},3]})") << ignored << "";
    QTest::newRow("no delta") << QByteArray(R"(data: {"choices":[{"index":0}]})") << ignored << "";
    QTest::newRow("delta not object") << QByteArray(R"(data: {"choices":[{"delta":"x"}]})") << ignored << "";
    QTest::newRow("content null") << chunk("null") << ignored << "";
    QTest::newRow("content number") << chunk("5") << ignored << "";
    QTest::newRow("no content") << QByteArray(R"(data: {"choices":[{"delta":{"role":"assistant"}}]})")
                                << ignored << "";
    QTest::newRow("only the first choice")
        << QByteArray(R"(data: {"choices":[{"delta":{"content":"one"}},{"delta":{"content":"two"}}]})")
        << piece << "one";
    QTest::newRow("first choice without content, second with")
        << QByteArray(R"(data: {"choices":[{"delta":{}},{"delta":{"content":"two"}}]})") << ignored << "";
    QTest::newRow("invalid UTF-8 shows as replacement")
        << QByteArray("data: {\"choices\":[{\"delta\":{\"content\":\"a\xff"
                      "b\"}}]}")
        << piece
        << QString::fromUtf8("a\xEF\xBF\xBD"
                             "b");
}

void TestExplanationDecoder::eventLines() {
    QFETCH(QByteArray, line);
    QFETCH(int, kind);
    QFETCH(QString, piece);
    const EventLine event = decodeEventLine(line);
    QCOMPARE(int(event.kind), kind);
    QCOMPARE(event.piece, piece);
}

void TestExplanationDecoder::everySplitGivesTheSamePieces_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<bool>("endMarker");

    QTest::newRow("LF") << chunk("\"Hel\"") + "\n\n" + chunk("\"lo\"") + "\n\ndata: [DONE]\n\n"
                        << QStringList{"Hel", "lo"} << true;
    QTest::newRow("CRLF") << chunk("\"Hel\"") + "\r\n\r\n" + chunk("\"lo\"") + "\r\n\r\ndata: [DONE]\r\n"
                          << QStringList{"Hel", "lo"} << true;
    QTest::newRow("CR") << chunk("\"a\"") + "\r" + chunk("\"b\"") + "\r\rdata: [DONE]\r"
                        << QStringList{"a", "b"} << true;
    QTest::newRow("mixed breaks") << chunk("\"a\"") + "\r\n" + chunk("\"b\"") + "\r" + chunk("\"c\"") + "\n"
                                  << QStringList{"a", "b", "c"} << false;
    QTest::newRow("multi-byte characters")
        << chunk(QString::fromUtf8("\"é€😀\"").toUtf8()) + "\n" + chunk("\"ok\"") + "\n"
        << QStringList{QString::fromUtf8("é€😀"), "ok"} << false;
    QTest::newRow("last line without a break")
        << chunk("\"a\"") + "\n" + chunk("\"b\"") << QStringList{"a", "b"} << false;
    QTest::newRow("end marker without break")
        << chunk("\"a\"") + "\ndata: [DONE]" << QStringList{"a"} << true;
    QTest::newRow("nothing after the end marker")
        << chunk("\"a\"") + "\ndata: [DONE]\n" + chunk("\"late\"") + "\n"
        << QStringList{"a"} << true;
    QTest::newRow("only malformed lines")
        << QByteArray("data: {\ndata:[DONE]\n: x\r\n\r\n") << QStringList{} << false;
}

void TestExplanationDecoder::everySplitGivesTheSamePieces() {
    QFETCH(QByteArray, body);
    QFETCH(QStringList, pieces);
    QFETCH(bool, endMarker);
    for (qsizetype i = 0; i <= body.size(); ++i) {
        for (qsizetype j = i; j <= body.size(); ++j) {
            const Decoded decoded = decodeInReads(body, {i, j});
            if (decoded.pieces != pieces || decoded.endMarker != endMarker) {
                QFAIL(qPrintable(QStringLiteral("reads cut at %1 and %2 gave [%3]")
                                     .arg(i)
                                     .arg(j)
                                     .arg(decoded.pieces.join(u'|'))));
            }
        }
    }
}

void TestExplanationDecoder::overlongLinesAreDroppedAndDecodingResumes_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("readSize");
    QTest::addColumn<QStringList>("pieces");

    const QByteArray longLine = chunk("\"" + QByteArray(100, 'x') + "\"");
    const QByteArray atCap = chunk("\"" + QByteArray(64 - 44, 'y') + "\"");
    QCOMPARE(atCap.size(), 64);
    const QByteArray body = chunk("\"a\"") + "\n" + longLine + "\r\n" + chunk("\"b\"") + "\n";
    QTest::newRow("one read") << body << int(body.size()) << QStringList{"a", "b"};
    QTest::newRow("byte by byte") << body << 1 << QStringList{"a", "b"};
    QTest::newRow("7-byte reads") << body << 7 << QStringList{"a", "b"};
    QTest::newRow("line at the cap is kept") << atCap + "\n" << 5 << QStringList{QString(20, u'y')};
    QTest::newRow("over-long last line") << chunk("\"a\"") + "\n" + longLine << 10 << QStringList{"a"};
}

void TestExplanationDecoder::overlongLinesAreDroppedAndDecodingResumes() {
    QFETCH(QByteArray, body);
    QFETCH(int, readSize);
    QFETCH(QStringList, pieces);
    QList<qsizetype> cuts;
    for (qsizetype cut = readSize; cut < body.size(); cut += readSize)
        cuts.append(cut);
    QCOMPARE(decodeInReads(body, cuts, 64).pieces, pieces);
}

void TestExplanationDecoder::randomBytesNeverGrowTheBufferAndIgnoreReadBoundaries() {
    // Fragments that make valid, broken and over-long event lines likely, mixed with noise.
    const QList<QByteArray> fragments = {"data: ",
                                         "data:",
                                         "{\"choices\":[{\"delta\":{\"content\":\"",
                                         "\"}}]}",
                                         "[DONE]",
                                         "\r",
                                         "\n",
                                         "\r\n",
                                         "\xC3",
                                         "\xA9",
                                         "\xF0\x9F\x98",
                                         "\x80",
                                         "null",
                                         "[",
                                         "]",
                                         "{",
                                         "}",
                                         ",",
                                         "\"",
                                         "\\",
                                         QByteArray(90, 'z'),
                                         QByteArray(1, '\0')};
    constexpr qsizetype cap = 256;
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        QByteArray body;
        const int parts = std::uniform_int_distribution(0, 60)(random);
        for (int i = 0; i < parts; ++i) {
            if (std::uniform_int_distribution(0, 4)(random) == 0)
                body.append(char(std::uniform_int_distribution(0, 255)(random)));
            else
                body.append(
                    fragments[std::uniform_int_distribution<qsizetype>(0, fragments.size() - 1)(random)]);
        }

        ExplanationDecoder decoder(cap);
        QStringList pieces;
        bool ended = false;
        const auto onPiece = [&](const QString& piece) { pieces.append(piece); };
        for (qsizetype pos = 0; pos < body.size() && !ended;) {
            const qsizetype size =
                std::min<qsizetype>(std::uniform_int_distribution(1, 40)(random), body.size() - pos);
            ended = decoder.feed(QByteArrayView(body).sliced(pos, size), onPiece);
            QVERIFY(decoder.bufferedBytes() <= cap);
            pos += size;
        }
        if (!ended)
            ended = decoder.finish(onPiece);

        const Decoded whole = decodeInReads(body, {}, cap);
        QCOMPARE(pieces, whole.pieces);
        QCOMPARE(ended, whole.endMarker);
    }
}

QTEST_GUILESS_MAIN(TestExplanationDecoder)
#include "tst_explanationdecoder.moc"
