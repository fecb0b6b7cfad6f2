// Word splitting and joining, array slices, prefixes, the token list and the keyed list.

#include "app/CommandInterpreter.h"
#include "app/modMain.h"
#include "platform/Utilities.h"
#include "platform/VelloqError.h"

#include <QTest>

class tst_Utilities : public QObject {
    Q_OBJECT
private slots:
    void splitQuoted_data();
    void splitQuoted();
    void joinKeepsWhatWasTyped_data();
    void joinKeepsWhatWasTyped();
    void sliceArray_data();
    void sliceArray();
    void sliceArrayFails_data();
    void sliceArrayFails();
    void nickFromPrefix_data();
    void nickFromPrefix();
    void readNumber_data();
    void readNumber();
    void readPort_data();
    void readPort();
};

static const QChar Q(u'"');

void tst_Utilities::splitQuoted_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("words");
    QTest::newRow("plain") << "msg #a hi" << QStringList{"msg", "#a", "hi"};
    QTest::newRow("runs of blanks") << "  msg   #a  hi  " << QStringList{"msg", "#a", "hi"};
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("blanks only") << "    " << QStringList{};
    QTest::newRow("quoted run is one word")
        << "msg \"#a b\" hi" << QStringList{"msg", "\"#a b\"", "hi"};
    QTest::newRow("quotes inside a word")
        << "say He\"llo wor\"ld x" << QStringList{"say", "He\"llo wor\"ld", "x"};
    QTest::newRow("lone quote is a character") << "a \"b c" << QStringList{"a", "\"b", "c"};
    QTest::newRow("empty quotes") << "a \"\" b" << QStringList{"a", "\"\"", "b"};
    QTest::newRow("tab is no separator") << "a\tb c" << QStringList{"a\tb", "c"};
}

void tst_Utilities::splitQuoted() {
    QFETCH(QString, text);
    QFETCH(QStringList, words);
    const StringArray split = Utilities::NormalizeWords(Utilities::SplitQuoted(text, ' ', Q, Q), 0);
    QCOMPARE(split.Items, words);
    QCOMPARE(split.LowerBound, 0);
    QCOMPARE(Utilities::UpperIndex(split, -1), words.isEmpty() ? -1 : words.size() - 1);
}

// What follows the fixed arguments reaches the wire with its quotes as typed.
void tst_Utilities::joinKeepsWhatWasTyped_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("joined");
    QTest::newRow("quoted phrase") << "He said \"hi there\""
                                   << "He said \"hi there\"";
    QTest::newRow("inner blanks kept") << "\"a   b\" c"
                                       << "\"a   b\" c";
    QTest::newRow("blank runs fold") << "a   b"
                                     << "a b";
    QTest::newRow("unbalanced") << "it\"s fine"
                                << "it\"s fine";
    QTest::newRow("colons") << ":a: b:"
                            << ":a: b:";
}

void tst_Utilities::joinKeepsWhatWasTyped() {
    QFETCH(QString, typed);
    QFETCH(QString, joined);
    const StringArray words =
        Utilities::NormalizeWords(Utilities::SplitQuoted(typed, ' ', Q, Q), 0);
    QCOMPARE(Utilities::JoinQuoted(Utilities::NormalizeWords(words, 1), ' ', Q, Q), joined);
}

void tst_Utilities::sliceArray_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("lower");
    QTest::newRow("middle") << 1 << 2 << QStringList{"b", "c"} << 1;
    QTest::newRow("all") << 0 << 3 << QStringList{"a", "b", "c"} << 0;
    QTest::newRow("count 0") << 2 << 0 << QStringList{} << 0;
    QTest::newRow("count 0 past the end") << 7 << 0 << QStringList{} << 0;
}

void tst_Utilities::sliceArray() {
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(QStringList, items);
    QFETCH(int, lower);
    const StringArray slice = modMain::SliceArray(StringArray({"a", "b", "c"}), start, count);
    QCOMPARE(slice.Items, items);
    QCOMPARE(slice.LowerBound, lower);
    if (!items.isEmpty())
        QCOMPARE(slice[start], items.first());
}

void tst_Utilities::sliceArrayFails_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::newRow("past the end") << 2 << 2;
    QTest::newRow("negative count") << 0 << -1;
    QTest::newRow("before the start") << -1 << 2;
    QTest::newRow("overflowing end") << 1 << std::numeric_limits<int>::max();
}

void tst_Utilities::sliceArrayFails() {
    QFETCH(int, start);
    QFETCH(int, count);
    try {
        modMain::SliceArray(StringArray({"a", "b", "c"}), start, count);
        QFAIL("no error");
    } catch (const VelloqError &e) {
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
    QTest::newRow("empty") << ""
                           << "";
}

void tst_Utilities::nickFromPrefix() {
    QFETCH(QString, prefix);
    QFETCH(QString, nick);
    QCOMPARE(modMain::NickFromPrefix(prefix), nick);
}

void tst_Utilities::readNumber_data() {
    QTest::addColumn<QString>("word");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");
    QTest::newRow("digits") << "12" << true << 12;
    QTest::newRow("plus") << "+3" << true << 3;
    QTest::newRow("minus") << "-4" << true << -4;
    QTest::newRow("max") << "2147483647" << true << std::numeric_limits<int>::max();
    QTest::newRow("min") << "-2147483648" << true << std::numeric_limits<int>::min();
    QTest::newRow("too big") << "2147483648" << false << 0;
    QTest::newRow("fraction") << "1.5" << false << 0;
    QTest::newRow("hex") << "0x10" << false << 0;
    QTest::newRow("arabic-indic digits") << QString::fromUtf8("\u0663") << false << 0;
}

void tst_Utilities::readNumber() {
    QFETCH(QString, word);
    QFETCH(bool, ok);
    QFETCH(int, value);
    qint32 read = 0;
    QCOMPARE(CommandInterpreter::ReadNumber(word, read), ok);
    if (ok)
        QCOMPARE(read, value);
}

void tst_Utilities::readPort_data() {
    QTest::addColumn<QString>("word");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("tls");
    QTest::newRow("plain") << "6667" << true << 6667 << false;
    QTest::newRow("highest") << "65535" << true << 65535 << false;
    QTest::newRow("zero") << "0" << false << 0 << false;
    QTest::newRow("too big") << "65536" << false << 0 << false;
    QTest::newRow("negative") << "-1" << false << 0 << false;
    QTest::newRow("TLS") << "+6697" << true << 6697 << true;
    QTest::newRow("TLS leading zero") << "+06697" << true << 6697 << true;
    QTest::newRow("TLS lowest") << "+1" << true << 1 << true;
    QTest::newRow("plus alone") << "+" << false << 0 << false;
    QTest::newRow("TLS zero") << "+0" << false << 0 << false;
    QTest::newRow("TLS too big") << "+70000" << false << 0 << false;
    QTest::newRow("two plus signs") << "++6697" << false << 0 << false;
    QTest::newRow("plus minus") << "+-1" << false << 0 << false;
    QTest::newRow("TLS trailing letter") << "+6697x" << false << 0 << false;
}

void tst_Utilities::readPort() {
    QFETCH(QString, word);
    QFETCH(bool, ok);
    QFETCH(int, port);
    QFETCH(bool, tls);
    quint16 read = 0;
    bool readTls = false;
    QCOMPARE(CommandInterpreter::ReadPort(word, read, readTls), ok);
    if (ok) {
        QCOMPARE(int(read), port);
        QCOMPARE(readTls, tls);
    }
    // The plain reading never takes the "+" form.
    quint16 plain = 0;
    QCOMPARE(CommandInterpreter::ReadPort(word, plain), ok && !tls);
}

QTEST_MAIN(tst_Utilities)
#include "tst_utilities.moc"
