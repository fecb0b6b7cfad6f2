// Word splitting and joining, array slices, prefixes, numbers and ports.

#include "app/CommandInterpreter.h"
#include "app/modMain.h"
#include "platform/Utilities.h"
#include "platform/VelloqError.h"

#include <QTest>

class tst_Utilities : public QObject {
    Q_OBJECT
private slots:
    void words_data();
    void words();
    void sliceArray_data();
    void sliceArray();
    void nickFromPrefix_data();
    void nickFromPrefix();
    void numbersAndPorts_data();
    void numbersAndPorts();
};

static const QChar Q(u'"');
static constexpr qint64 NoNumber = qint64(1) << 40;

static StringArray split(const QString &text) {
    return Utilities::NormalizeWords(Utilities::SplitQuoted(text, ' ', Q, Q), 0);
}

// The words of a typed line, and the words joined again as they reach the wire: quotes as typed,
// blank runs folded outside quoted runs.
void tst_Utilities::words_data() {
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

void tst_Utilities::words() {
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
void tst_Utilities::sliceArray_data() {
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

void tst_Utilities::sliceArray() {
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

void tst_Utilities::nickFromPrefix_data() {
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("nick");
    QTest::newRow("full prefix") << "bob!~b@host.example"
                                 << "bob";
    QTest::newRow("server name") << "irc.example.org"
                                 << "irc.example.org";
    QTest::newRow("leading bang") << "!x@y"
                                  << "";
    QTest::newRow("two bangs") << "a!b!c"
                               << "a";
}

void tst_Utilities::nickFromPrefix() {
    QFETCH(QString, prefix);
    QFETCH(QString, nick);
    QCOMPARE(modMain::NickFromPrefix(prefix), nick);
}

// A word read as a number, as a port (a leading "+" asks for TLS) and as a plain port, which
// never takes the "+" form; NoNumber and port -1 stand for "refused".
void tst_Utilities::numbersAndPorts_data() {
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

void tst_Utilities::numbersAndPorts() {
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

QTEST_MAIN(tst_Utilities)
#include "tst_utilities.moc"
