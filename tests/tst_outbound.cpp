// What goes on the wire: long messages as several lines, and never a CR, LF or NUL inside a
// line, whatever is typed in whatever window.

#include "app/Application.h"
#include "channel/Channels.h"
#include "connection/IRCConnections.h"
#include "connection/MessageSplitter.h"
#include "support/ConnectedClient.h"
#include "windows/Childs.h"

#include <QRandomGenerator>
#include <QTest>

class tst_Outbound : public QObject {
    Q_OBJECT
private slots:
    void split_data();
    void split();
    void longMessageGoesAsSeveralLines_data();
    void longMessageGoesAsSeveralLines();
    void generatedInputsNeverInject();
};

void tst_Outbound::split_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("parts");
    QTest::newRow("empty") << QString() << 1;
    QTest::newRow("short") << QString("hello") << 1;
    QTest::newRow("exactly 400") << QString(400, 'a') << 1;
    QTest::newRow("401 without blanks") << QString(401, 'a') << 2;
    QTest::newRow("words") << QString("word ").repeated(200) << 3;
    QTest::newRow("two-byte characters") << QString(300, QChar(0xE9)) << 2;
    QTest::newRow("three-byte characters") << QString(500, QChar(0x20AC)) << 4;
    QTest::newRow("emoji") << QString::fromUtf8("\U0001F600").repeated(150) << 2;
    QTest::newRow("mixed") << QString::fromUtf8("a é € \U0001F600 ").repeated(60) << 3;
}

// Each part fits, no character is cut, a cut falls after a blank where one is near, and the
// parts give back the text exactly.
void tst_Outbound::split() {
    QFETCH(QString, text);
    QFETCH(int, parts);
    const QStringList split = MessageSplitter::Split(text);
    QCOMPARE(split.size(), parts);
    QCOMPARE(split.join(QString()), text);
    for (const QString &part : split) {
        QVERIFY(part.toUtf8().size() <= MessageSplitter::MaxTextBytes);
        if (part.isEmpty()) {
            QVERIFY(text.isEmpty());
            continue;
        }
        QVERIFY(!part.front().isLowSurrogate());
        QVERIFY(!part.back().isHighSurrogate());
    }
    if (text.contains(' ') && split.size() > 1)
        QVERIFY(split.first().endsWith(' '));
}

void tst_Outbound::longMessageGoesAsSeveralLines_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("verb");
    QTest::addColumn<int>("length");
    QTest::newRow("MSG") << "/msg bob " << QByteArray("PRIVMSG bob :") << 1500;
    QTest::newRow("NOTICE") << "/notice bob " << QByteArray("NOTICE bob :") << 1500;
    QTest::newRow("channel window") << "" << QByteArray("PRIVMSG #room :") << 1500;
    QTest::newRow("40,000-character paste") << "" << QByteArray("PRIVMSG #room :") << 40000;
}

void tst_Outbound::longMessageGoesAsSeveralLines() {
    QFETCH(QString, command);
    QFETCH(QByteArray, verb);
    QFETCH(int, length);
    ConnectedClient c;
    QVERIFY(c.connected && c.join("#room"));
    QString text;
    for (int i = 0; text.toUtf8().size() < 1500 || text.size() < length; ++i)
        text += QString::fromUtf8("wörd%1 ").arg(i);
    c.app.type(2, command + text);
    const auto rejoined = [&] {
        QByteArray bytes;
        for (const QByteArray &line : c.server.receivedLines())
            bytes += line.mid(verb.size());
        return QString::fromUtf8(bytes);
    };
    // Runs of blanks outside quotes may fold; there are none here, but the typed line ends in
    // a blank that the word splitting drops.
    QTRY_COMPARE_WITH_TIMEOUT(rejoined(), text.trimmed(), 10000);
    const QList<QByteArray> lines = c.server.receivedLines();
    QVERIFY(lines.size() >= 4);
    for (const QByteArray &line : lines) {
        QVERIFY(line.startsWith(verb));
        QVERIFY(line.size() + 2 + 100 <= 512); // room for the relaying server's prefix
    }
    // The window shows the whole text once.
    const QStringList shown = c.app.lines(2);
    QCOMPARE(shown.size(), command.isEmpty() ? 1 : 2);
}

// Random typed lines in the status window, a plain window and a channel window, full of line
// ends, NULs, quotes, colons, Unicode and long runs: the wire carries only whole lines, and a
// forged command inside a text never becomes a line of its own.
void tst_Outbound::generatedInputsNeverInject() {
    ConnectedClient c;
    QVERIFY(c.connected && c.join("#room"));
    c.app.app()->Childs()->Add(); // window 3, a plain window

    const QStringList pieces = {"\r",
                                "\n",
                                "\r\n",
                                QString(QChar(0)),
                                "\"",
                                "\"a b\"",
                                ":",
                                " ",
                                "  ",
                                "x",
                                QString::fromUtf8("é€\U0001F600"),
                                "\r\nINJECTED :forged",
                                "\u2028",
                                "\t",
                                "/",
                                "QUIT",
                                "PRIVMSG",
                                "#room"};
    const QStringList commands = {"",        "/msg #room ", "/msg bob ", "/notice #room ",
                                  "/quote ", "/quit ",      "/echo 0 "};
    QRandomGenerator rng(20261206);
    const int total = 100000;
    for (int i = 0; i < total; ++i) {
        QString text = commands.at(rng.bounded(commands.size()));
        const int n = rng.bounded(1, 12);
        for (int k = 0; k < n; ++k)
            text += pieces.at(rng.bounded(pieces.size()));
        if (rng.bounded(200) == 0)
            text += QString(rng.bounded(400, 3000), QChar(u'a' + rng.bounded(26)));
        c.app.app()->ProcessCommand(text.startsWith('/') ? text.mid(1) : "MSG #room " + text, true,
                                    1 + rng.bounded(3));
        if (i % 5000 == 0)
            QCoreApplication::processEvents();
    }
    c.app.type(1, "/quote END");
    QVERIFY(c.server.waitForReceived("END\r\n", 30000));
    const QByteArray wire = c.server.received();
    QVERIFY(!wire.contains('\0'));
    qsizetype lines = 0;
    for (qsizetype i = 0; i < wire.size(); ++i) {
        if (wire[i] == '\r') {
            QVERIFY2(i + 1 < wire.size() && wire[i + 1] == '\n', "a CR alone on the wire");
            ++lines;
            ++i;
        } else {
            QVERIFY2(wire[i] != '\n', "an LF alone on the wire");
        }
    }
    for (const QByteArray &line : c.server.receivedLines())
        QVERIFY2(!line.startsWith("INJECTED"), line.constData());
    qInfo("%d typed inputs checked, %lld lines on the wire", total, qlonglong(lines));
}

QTEST_MAIN(tst_Outbound)
#include "tst_outbound.moc"
