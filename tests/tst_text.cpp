// Text on its way in and out: received bytes cut into lines and decoded, typed lines cut into
// words and joined again, array slices, numbers and ports.

#include "app/CommandInterpreter.h"
#include "app/modMain.h"
#include "connection/LineDecoder.h"
#include "connection/LineFramer.h"
#include "platform/Utilities.h"
#include "platform/VelloqError.h"

#include <QTest>

class tst_Text : public QObject {
    Q_OBJECT
private slots:
    void lines_data();
    void lines();
    void overLongLines_data();
    void overLongLines();
    void decode_data();
    void decode();
    void words_data();
    void words();
    void sliceArray_data();
    void sliceArray();
    void numbersAndPorts_data();
    void numbersAndPorts();
};

using Chunks = QList<QByteArray>;
using Lines = QList<QByteArray>;

// Feeds the chunks one read at a time; a null chunk stands for Clear(). Dropped lines show as
// "<dropped>"; maxPending is the most the framer held back after any read.
struct Framed {
    Lines lines;
    int dropped = 0;
    qsizetype maxPending = 0;
};

static Framed run(LineFramer &framer, const Chunks &chunks) {
    Framed out;
    for (const QByteArray &chunk : chunks) {
        if (chunk.isNull())
            framer.Clear();
        framer.Append(chunk);
        QByteArrayView line;
        for (auto result = framer.Next(line); result != LineFramer::Result::NeedMore;
             result = framer.Next(line)) {
            const bool dropped = result == LineFramer::Result::DroppedLine;
            out.dropped += dropped;
            out.lines.append(dropped ? QByteArray("<dropped>") : line.toByteArray());
        }
        out.maxPending = qMax(out.maxPending, framer.Pending());
    }
    return out;
}

void tst_Text::lines_data() {
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<Lines>("lines");
    QTest::addColumn<QByteArray>("pending");
    QTest::newRow("two chunks one line")
        << Chunks{"abc", "def\r\n"} << Lines{"abcdef"} << QByteArray();
    QTest::newRow("three and a half")
        << Chunks{"a\r\nb\r\nc\r\nd"} << Lines{"a", "b", "c"} << QByteArray("d");
    QTest::newRow("CR LF split over reads")
        << Chunks{"abc\r", "\ndef\r\n"} << Lines{"abc", "def"} << QByteArray();
    QTest::newRow("lone LF stays in the line")
        << Chunks{"a\nb\r\n"} << Lines{"a\nb"} << QByteArray();
    QTest::newRow("lone CR stays in the line")
        << Chunks{"a\rb\r\n"} << Lines{"a\rb"} << QByteArray();
    QTest::newRow("CR CR LF") << Chunks{"a\r\r\n"} << Lines{"a\r"} << QByteArray();
    QTest::newRow("two empty lines") << Chunks{"\r\n\r\n"} << Lines{"", ""} << QByteArray();
    QTest::newRow("NUL inside") << Chunks{QByteArray("a\0b\r\n", 5)} << Lines{QByteArray("a\0b", 3)}
                                << QByteArray();
    QTest::newRow("byte by byte") << Chunks{"x", "y", "\r", "\n", "z", "\r", "\n"}
                                  << Lines{"xy", "z"} << QByteArray();
    QTest::newRow("CR then CR LF across reads")
        << Chunks{"a\r", "\r", "\n"} << Lines{"a\r"} << QByteArray();
    QTest::newRow("clear forgets the partial line")
        << Chunks{"half", QByteArray(LineFramer::MaxLineBytes + 10, 'z'), QByteArray(), "new\r\n"}
        << Lines{"<dropped>", "new"} << QByteArray();
}

void tst_Text::lines() {
    QFETCH(Chunks, chunks);
    QFETCH(Lines, lines);
    QFETCH(QByteArray, pending);
    LineFramer framer;
    QCOMPARE(run(framer, chunks).lines, lines);
    QCOMPARE(framer.Pending(), pending.size());
}

// A line over the limit is dropped up to its CR LF, reported once, and never held back whole;
// its neighbours survive. Lines up to the limit pass, whether they arrive whole or bytewise.
void tst_Text::overLongLines_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("chunkSize");
    QTest::addColumn<bool>("kept");
    const int max = int(LineFramer::MaxLineBytes);
    QTest::newRow("8703 bytewise") << 8703 << 1 << true;
    QTest::newRow("at the limit") << max << 4096 << true;
    // The reads end right after the CR: 8 + max + 1 bytes are 5 reads of 13,109.
    QTest::newRow("at the limit, CR and LF apart") << max << 13109 << true;
    QTest::newRow("one over, whole") << max + 1 << 0 << false;
    QTest::newRow("far over, in chunks") << 5 * max << 1000 << false;
    QTest::newRow("25 MB, in reads of 64 KiB") << 400 * 65536 << 65536 << false;
}

void tst_Text::overLongLines() {
    QFETCH(int, length);
    QFETCH(int, chunkSize);
    QFETCH(bool, kept);
    const QByteArray body(length, 'x');
    const QByteArray stream = "before\r\n" + body + "\r\nafter\r\n";
    Chunks chunks;
    if (chunkSize == 0)
        chunks << stream;
    else
        for (int i = 0; i < stream.size(); i += chunkSize)
            chunks << stream.mid(i, chunkSize);
    LineFramer framer;
    const Framed framed = run(framer, chunks);
    QCOMPARE(framed.lines.size(), 3);
    QCOMPARE(framed.lines.first(), QByteArray("before"));
    QCOMPARE(framed.lines.last(), QByteArray("after"));
    QCOMPARE(framed.lines.at(1), kept ? body : QByteArray("<dropped>"));
    QCOMPARE(framed.dropped, kept ? 0 : 1);
    if (chunkSize > 0)
        QVERIFY(framed.maxPending <= 2 * LineFramer::MaxLineBytes);
}

void tst_Text::decode_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("ascii") << QByteArray("hello") << "hello";
    QTest::newRow("utf-8") << QByteArray("caf\xC3\xA9 \xE2\x82\xAC") << QString::fromUtf8("café €");
    QTest::newRow("latin-1 bytes") << QByteArray("\xE9t\xE9") << QString::fromUtf8("été");
    QTest::newRow("windows-1252 quotes")
        << QByteArray("\x93hi\x94 \x80") << QString::fromUtf8("\u201Chi\u201D \u20AC");
    QTest::newRow("truncated utf-8")
        << QByteArray("ab\xE2\x82") << QString::fromUtf8("ab\u00E2\u201A");
    QTest::newRow("overlong utf-8") << QByteArray("\xC0\xAF") << QString::fromUtf8("\u00C0\u00AF");
    QTest::newRow("0xFF") << QByteArray("\xFF\xFE") << QString::fromUtf8("\u00FF\u00FE");
    QTest::newRow("undefined 1252 byte")
        << QByteArray("\x81\xE9") << QString::fromUtf8("\u0081\u00E9");
    QTest::newRow("BOM kept") << QByteArray("\xEF\xBB\xBFx") << QString(QChar(0xFEFF)) + "x";
    QTest::newRow("NUL kept") << QByteArray("a\0b", 3) << QString::fromUtf8("a\0b", 3);
    QTest::newRow("surrogate encoded")
        << QByteArray("\xED\xA0\x80") << QString::fromUtf8("\u00ED\u00A0\u20AC");
}

void tst_Text::decode() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(LineDecoder::Decode(bytes), text);
}

static const QChar Q(u'"');
static constexpr qint64 NoNumber = qint64(1) << 40;

static StringArray split(const QString &text) {
    return Utilities::NormalizeWords(Utilities::SplitQuoted(text, ' ', Q, Q), 0);
}

// The words of a typed line, and the words joined again as they reach the wire: quotes as typed,
// blank runs folded outside quoted runs.
void tst_Text::words_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("words");
    QTest::newRow("plain") << "msg #a hi" << QStringList{"msg", "#a", "hi"};
    QTest::newRow("runs of blanks") << "  msg   #a  hi  " << QStringList{"msg", "#a", "hi"};
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("blanks only") << "    " << QStringList{};
    QTest::newRow("quoted run is one word")
        << "msg \"#a   b\" hi" << QStringList{"msg", "\"#a   b\"", "hi"};
    QTest::newRow("quotes inside a word")
        << "say He\"llo wor\"ld x" << QStringList{"say", "He\"llo wor\"ld", "x"};
    QTest::newRow("lone quote is a character") << "a \"b c" << QStringList{"a", "\"b", "c"};
    QTest::newRow("empty quotes") << "a \"\" b" << QStringList{"a", "\"\"", "b"};
    QTest::newRow("tab is no separator") << "a\tb c" << QStringList{"a\tb", "c"};
    QTest::newRow("colons") << "x :a: b:" << QStringList{"x", ":a:", "b:"};
}

void tst_Text::words() {
    QFETCH(QString, text);
    QFETCH(QStringList, words);
    const StringArray split = ::split(text);
    QCOMPARE(split.Items, words);
    QCOMPARE(split.LowerBound, 0);
    QCOMPARE(Utilities::UpperIndex(split, -1), words.isEmpty() ? -1 : words.size() - 1);
    QCOMPARE(Utilities::JoinQuoted(Utilities::NormalizeWords(split, 1), ' ', Q, Q),
             words.join(' '));
}

// A slice of {a, b, c}; a range outside the array is error 0x8004040E without a description.
void tst_Text::sliceArray_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("items");
    QTest::newRow("middle") << 1 << 2 << true << QStringList{"b", "c"};
    QTest::newRow("all") << 0 << 3 << true << QStringList{"a", "b", "c"};
    QTest::newRow("count 0") << 2 << 0 << true << QStringList{};
    QTest::newRow("count 0 past the end") << 7 << 0 << true << QStringList{};
    QTest::newRow("past the end") << 2 << 2 << false << QStringList{};
    QTest::newRow("negative count") << 0 << -1 << false << QStringList{};
    QTest::newRow("before the start") << -1 << 2 << false << QStringList{};
    QTest::newRow("overflowing end")
        << 1 << std::numeric_limits<int>::max() << false << QStringList{};
}

void tst_Text::sliceArray() {
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(bool, ok);
    QFETCH(QStringList, items);
    try {
        const StringArray slice = modMain::SliceArray(StringArray({"a", "b", "c"}), start, count);
        QVERIFY(ok);
        QCOMPARE(slice.Items, items);
        QCOMPARE(slice.LowerBound, items.isEmpty() ? 0 : start);
    } catch (const VelloqError &e) {
        QVERIFY(!ok);
        QCOMPARE(static_cast<quint32>(e.Number()), 0x8004040Eu);
        QCOMPARE(e.Description(), QString());
    }
}

// A word read as a number, as a port (a leading "+" asks for TLS) and as a plain port, which
// never takes the "+" form; NoNumber and port -1 stand for "refused".
void tst_Text::numbersAndPorts_data() {
    QTest::addColumn<QString>("word");
    QTest::addColumn<qint64>("number");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("tls");
    QTest::newRow("port") << "6667" << qint64(6667) << 6667 << false;
    QTest::newRow("highest port") << "65535" << qint64(65535) << 65535 << false;
    QTest::newRow("zero") << "0" << qint64(0) << -1 << false;
    QTest::newRow("port too big") << "65536" << qint64(65536) << -1 << false;
    QTest::newRow("minus") << "-4" << qint64(-4) << -1 << false;
    QTest::newRow("int max") << "2147483647" << qint64(INT_MAX) << -1 << false;
    QTest::newRow("int min") << "-2147483648" << qint64(INT_MIN) << -1 << false;
    QTest::newRow("over int") << "2147483648" << NoNumber << -1 << false;
    QTest::newRow("fraction") << "1.5" << NoNumber << -1 << false;
    QTest::newRow("hex") << "0x10" << NoNumber << -1 << false;
    QTest::newRow("arabic-indic digit") << QString::fromUtf8("\u0663") << NoNumber << -1 << false;
    QTest::newRow("TLS") << "+6697" << qint64(6697) << 6697 << true;
    QTest::newRow("TLS leading zero") << "+06697" << qint64(6697) << 6697 << true;
    QTest::newRow("TLS lowest") << "+1" << qint64(1) << 1 << true;
    QTest::newRow("plus alone") << "+" << NoNumber << -1 << false;
    QTest::newRow("TLS zero") << "+0" << qint64(0) << -1 << false;
    QTest::newRow("TLS too big") << "+70000" << qint64(70000) << -1 << false;
    QTest::newRow("two plus signs") << "++6697" << NoNumber << -1 << false;
    QTest::newRow("plus minus") << "+-1" << NoNumber << -1 << false;
    QTest::newRow("trailing letter") << "+6697x" << NoNumber << -1 << false;
}

void tst_Text::numbersAndPorts() {
    QFETCH(QString, word);
    QFETCH(qint64, number);
    QFETCH(int, port);
    QFETCH(bool, tls);
    qint32 value = 0;
    const bool isNumber = CommandInterpreter::ReadNumber(word, value);
    QCOMPARE(isNumber, number != NoNumber);
    if (isNumber)
        QCOMPARE(qint64(value), number);
    quint16 read = 0, plain = 0;
    bool readTls = false;
    QCOMPARE(CommandInterpreter::ReadPort(word, read, readTls), port != -1);
    if (port != -1)
        QCOMPARE(std::make_pair(int(read), readTls), std::make_pair(port, tls));
    QCOMPARE(CommandInterpreter::ReadPort(word, plain), port != -1 && !tls);
}

QTEST_MAIN(tst_Text)
#include "tst_text.moc"
