// Cutting received bytes into lines, decoding each line, and the bound on a partial line.

#include "connection/LineDecoder.h"
#include "connection/LineFramer.h"

#include <QTest>

class tst_Framing : public QObject {
    Q_OBJECT
private slots:
    void lines_data();
    void lines();
    void overLongLines_data();
    void overLongLines();
    void decode_data();
    void decode();
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

void tst_Framing::lines_data() {
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

void tst_Framing::lines() {
    QFETCH(Chunks, chunks);
    QFETCH(Lines, lines);
    QFETCH(QByteArray, pending);
    LineFramer framer;
    QCOMPARE(run(framer, chunks).lines, lines);
    QCOMPARE(framer.Pending(), pending.size());
}

// A line over the limit is dropped up to its CR LF, reported once, and never held back whole;
// its neighbours survive. Lines up to the limit pass, whether they arrive whole or bytewise.
void tst_Framing::overLongLines_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("chunkSize");
    QTest::addColumn<bool>("kept");
    const int max = int(LineFramer::MaxLineBytes);
    QTest::newRow("512 whole") << 512 << 0 << true;
    QTest::newRow("512 bytewise") << 512 << 1 << true;
    QTest::newRow("8703 bytewise") << 8703 << 1 << true;
    QTest::newRow("at the limit") << max << 4096 << true;
    // The reads end right after the CR: 8 + max + 1 bytes are 5 reads of 13,109.
    QTest::newRow("at the limit, CR and LF apart") << max << 13109 << true;
    QTest::newRow("one over, whole") << max + 1 << 0 << false;
    QTest::newRow("far over, in chunks") << 5 * max << 1000 << false;
    QTest::newRow("far over, whole") << 5 * max << 0 << false;
    QTest::newRow("25 MB, in reads of 64 KiB") << 400 * 65536 << 65536 << false;
}

void tst_Framing::overLongLines() {
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

void tst_Framing::decode_data() {
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

void tst_Framing::decode() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(LineDecoder::Decode(bytes), text);
}

QTEST_MAIN(tst_Framing)
#include "tst_framing.moc"
