// The server connection over real loopback sockets: status lines, framing through the socket,
// PING, ERROR, the lines that no rule handles, sending, and socket elements.

#include "app/Application.h"
#include "connection/IRCConnections.h"
#include "connection/SocketArray.h"
#include "support/AppFixture.h"
#include "support/ScriptedServer.h"
#include "windows/Childs.h"
#include "windows/frmMain.h"

#include <QTcpServer>
#include <QTest>

class tst_Connection : public QObject {
    Q_OBJECT
private slots:
    void connectReportsAndRegisters();
    void refusedPort();
    void serverCloseKeepsLastLines();
    void partialLineDoesNotReachNextServer();
    void disconnectReportsOnce();
    void quitReportAndLine();
    void secondServerCommand();
    void msgToNickEchoesAndSends();
    void receivedLines_data();
    void receivedLines();
    void serverMessages_data();
    void serverMessages();
    void tooLongLineDropped();
    void sendNeverSplitsALine_data();
    void sendNeverSplitsALine();
    void notificationsOfOtherElementsIgnored();
    void dataWhileNotConnected();
    void processedBySubscriberSkipsProcessing();
    void socketElementAllocation();
};

static QString where(quint16 port) {
    return QString("Server 127.0.0.1, Port %1").arg(port);
}

static bool connectTo(AppFixture &f, ScriptedServer &server) {
    return f.connectTo(server);
}

void tst_Connection::connectReportsAndRegisters() {
    AppFixture f;
    ScriptedServer server;
    QVERIFY(connectTo(f, server));
    const QString p = QString::number(server.port());
    QCOMPARE(f.status(), (QStringList{"/server 127.0.0.1 " + p,
                                      "Connecting to Server 127.0.0.1, Port " + p + "...",
                                      "Connected to Server 127.0.0.1, Port " + p}));
    f.type(1, "NICK alice");
    f.type(1, "USER alice 0 * :Alice A");
    QVERIFY(server.waitForLines(2));
    QCOMPARE(server.receivedLines(), (QList<QByteArray>{"NICK alice", "USER alice 0 * :Alice A"}));
    QCOMPARE(f.status().mid(3),
             (QStringList{"NICK alice", "-> Server: [NICK alice]", "USER alice 0 * :Alice A",
                          "-> Server: [USER alice 0 * :Alice A]"}));
    QVERIFY(f.connection().Connected());
}

void tst_Connection::refusedPort() {
    AppFixture f;
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    f.type(1, QString("/server 127.0.0.1 %1").arg(port));
    QVERIFY(f.waitForLine(1, "Connection to " + where(port) + " failed"));
    QVERIFY(!f.connection().Connected());
    // The system refuses a loopback connection at once: the report still comes after the
    // connecting line, and says why.
    QCOMPARE(f.status(), (QStringList{QString("/server 127.0.0.1 %1").arg(port),
                                      QString("Connecting to %1...").arg(where(port)),
                                      "Connection to " + where(port) + " failed",
                                      "Server(1): connection refused"}));
}

// Lines that arrive together with the server's close are shown before the close itself.
void tst_Connection::serverCloseKeepsLastLines() {
    AppFixture f;
    ScriptedServer server;
    QVERIFY(connectTo(f, server));
    server.send("ERROR :Closing Link: host (Quit: bye)\r\n:srv 999 last\r\npartial");
    server.closeClient();
    QVERIFY(f.waitForLine(1, "Disconnected from " + where(server.port())));
    QCOMPARE(f.status().mid(3), (QStringList{"Server(1) ERROR: Closing Link: host (Quit: bye)",
                                             "<- Server(1): [:srv 999 last]",
                                             "Disconnected from " + where(server.port())}));
    QVERIFY(!f.connection().Connected());
}

// The old server's unfinished line is not glued to the new server's first line.
void tst_Connection::partialLineDoesNotReachNextServer() {
    AppFixture f;
    ScriptedServer first;
    QVERIFY(connectTo(f, first));
    first.send(":old 1 unfinished");
    first.closeClient();
    QVERIFY(f.waitForLine(1, "Disconnected from " + where(first.port())));
    ScriptedServer second;
    QVERIFY(connectTo(f, second));
    second.send(":new 1 first\r\n");
    QVERIFY(f.waitForLine(1, "<- Server(1): [:new 1 first]"));
    for (const QString &line : f.status())
        QVERIFY2(!line.contains("unfinished"), qPrintable(line));
}

void tst_Connection::disconnectReportsOnce() {
    AppFixture f;
    ScriptedServer server;
    QVERIFY(connectTo(f, server));
    f.type(1, "/disconnect");
    QVERIFY(server.waitForDisconnect());
    QTest::qWait(200);
    QCOMPARE(f.status().mid(3),
             (QStringList{"/disconnect", "Disconnected from " + where(server.port())}));
    f.type(1, "/disconnect");
    QCOMPARE(f.lastLine(1), QString("DISCONNECT: not connected"));
}

void tst_Connection::quitReportAndLine() {
    AppFixture f;
    ScriptedServer server;
    QVERIFY(connectTo(f, server));
    f.type(1, "/quit");
    f.type(1, "/quit see \"you all\"");
    QVERIFY(server.waitForLines(2));
    QCOMPARE(server.receivedLines(), (QList<QByteArray>{"QUIT :", "QUIT :see \"you all\""}));
    QCOMPARE(f.status().mid(3),
             (QStringList{"/quit", "QUIT -> Server(1): ", "/quit see \"you all\"",
                          "QUIT -> Server(1): see \"you all\""}));
}

// Connecting anew closes the old connection quietly: no report of a disconnect.
void tst_Connection::secondServerCommand() {
    AppFixture f;
    ScriptedServer first;
    QVERIFY(connectTo(f, first));
    ScriptedServer second;
    QVERIFY(connectTo(f, second));
    QVERIFY(first.waitForDisconnect());
    QTest::qWait(200);
    for (const QString &line : f.status())
        QVERIFY2(!line.startsWith("Disconnected"), qPrintable(line));
    f.type(1, "PING :x");
    QVERIFY(second.waitForLines(1));
    QVERIFY(first.receivedLines().isEmpty());
}

void tst_Connection::msgToNickEchoesAndSends() {
    AppFixture f;
    f.app()->Childs()->Add();
    ScriptedServer server;
    QVERIFY(connectTo(f, server));
    f.type(2, "/msg bob He said \"hi there\": ok");
    f.type(2, "/notice bob");
    QVERIFY(server.waitForLines(2));
    QCOMPARE(server.receivedLines(),
             (QList<QByteArray>{"PRIVMSG bob :He said \"hi there\": ok", "NOTICE bob :"}));
    QCOMPARE(f.lines(2),
             (QStringList{"/msg bob He said \"hi there\": ok", "-> bob: He said \"hi there\": ok",
                          "/notice bob", "notice -> bob: "}));
}

using Chunks = QList<QByteArray>;

void tst_Connection::receivedLines_data() {
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("joined over reads") << Chunks{"abc", "def\r\n"} << QStringList{"abcdef"};
    QTest::newRow("CR and LF in two reads") << Chunks{"a\r", "\nb\r\n"} << QStringList{"a", "b"};
    QTest::newRow("two empty lines") << Chunks{"\r\n\r\n"} << QStringList{"", ""};
    QTest::newRow("lone LF and CR") << Chunks{"x\ny\rz\r\n"} << QStringList{"x\ny\rz"};
    QTest::newRow("UTF-8 split between reads")
        << Chunks{"caf\xC3", "\xA9\r\n"} << QStringList{QString::fromUtf8("café")};
    QTest::newRow("Windows-1252 fallback")
        << Chunks{"\xE9t\xE9\r\nnext\r\n"} << QStringList{QString::fromUtf8("été"), "next"};
    QTest::newRow("NUL inside a line")
        << Chunks{QByteArray("a\0b\r\n", 5)} << QStringList{QString::fromLatin1("a\0b", 3)};
}

void tst_Connection::receivedLines() {
    QFETCH(Chunks, chunks);
    QFETCH(QStringList, shown);
    AppFixture f;
    ScriptedServer server;
    QVERIFY(connectTo(f, server));
    server.sendChunks(chunks);
    QTest::qWait(50);
    QStringList expected;
    for (const QString &line : shown)
        expected << "<- Server(1): [" + line + "]";
    QTRY_COMPARE(f.status().mid(3), expected);
}

// received: one server line; reply: what goes back on the wire; shown: the status line.
void tst_Connection::serverMessages_data() {
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("shown");
    QTest::newRow("PING") << QByteArray("PING :abc") << QByteArray("PONG :abc") << QString();
    QTest::newRow("PING with colons")
        << QByteArray("PING :a:b") << QByteArray("PONG :a:b") << QString();
    QTest::newRow("PING empty token") << QByteArray("PING :") << QByteArray("PONG :") << QString();
    QTest::newRow("PING token not UTF-8")
        << QByteArray("PING :caf\xe9\x81") << QByteArray("PONG :caf\xe9\x81") << QString();
    QTest::newRow("PING token with a lone LF")
        << QByteArray("PING :a\nb") << QByteArray("PONG :a b") << QString();
    QTest::newRow("PING without colon")
        << QByteArray("PING abc") << QByteArray() << "<- Server(1): [PING abc]";
    QTest::newRow("lower-case ping")
        << QByteArray("ping :x") << QByteArray() << "<- Server(1): [ping :x]";
    QTest::newRow("bare PING") << QByteArray("PING") << QByteArray() << "<- Server(1): [PING]";
    QTest::newRow("ERROR") << QByteArray("ERROR :Closing Link: host (Quit: bye)") << QByteArray()
                           << "Server(1) ERROR: Closing Link: host (Quit: bye)";
    QTest::newRow("bare ERROR") << QByteArray("ERROR") << QByteArray() << "<- Server(1): [ERROR]";
    QTest::newRow("numeric") << QByteArray(":server 001 nick :Welcome") << QByteArray()
                             << "<- Server(1): [:server 001 nick :Welcome]";
    QTest::newRow("lone colon") << QByteArray(":") << QByteArray() << "<- Server(1): [:]";
    QTest::newRow("no command") << QByteArray(": PRIVMSG") << QByteArray()
                                << "<- Server(1): [: PRIVMSG]";
    QTest::newRow("privmsg to unknown target")
        << QByteArray(":n!u@h PRIVMSG me :hi") << QByteArray()
        << "<- Server(1): [:n!u@h PRIVMSG me :hi]";
    QTest::newRow("JOIN without colon")
        << QByteArray(":x JOIN #c") << QByteArray() << "Joined Channel #c";
    QTest::newRow("PART of unknown channel")
        << QByteArray(":x PART :#c") << QByteArray() << "<- Server(1): [:x PART :#c]";
    QTest::newRow("percent signs")
        << QByteArray(":%1 %2 :%3") << QByteArray() << "<- Server(1): [:%1 %2 :%3]";
}

void tst_Connection::serverMessages() {
    QFETCH(QByteArray, received);
    QFETCH(QByteArray, reply);
    QFETCH(QString, shown);
    AppFixture f;
    ScriptedServer server;
    QVERIFY(connectTo(f, server));
    server.send(received + "\r\n:end 000 x\r\n");
    QVERIFY(f.waitForLine(1, "<- Server(1): [:end 000 x]"));
    QStringList expected;
    if (!shown.isEmpty())
        expected << shown;
    expected << "<- Server(1): [:end 000 x]";
    QCOMPARE(f.status().mid(3), expected);
    if (!reply.isEmpty()) {
        QVERIFY(server.waitForLines(1));
        QCOMPARE(server.receivedLines(), QList<QByteArray>{reply});
    } else {
        QTest::qWait(50);
        QCOMPARE(server.received(), QByteArray());
    }
}

void tst_Connection::tooLongLineDropped() {
    AppFixture f;
    ScriptedServer server;
    QVERIFY(connectTo(f, server));
    server.send(":a 1 before\r\n" + QByteArray(200 * 1024, 'x') + "\r\n:a 2 after\r\n");
    QVERIFY(f.waitForLine(1, "<- Server(1): [:a 2 after]"));
    QCOMPARE(f.status().mid(3), (QStringList{"<- Server(1): [:a 1 before]",
                                             "Server(1): line longer than 65536 bytes, dropped",
                                             "<- Server(1): [:a 2 after]"}));
}

// Whatever the text holds, one call puts exactly one line on the wire.
void tst_Connection::sendNeverSplitsALine_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("CR LF inside") << "PRIVMSG a :x\r\nQUIT :y"
                                  << QByteArray("PRIVMSG a :x  QUIT :y");
    QTest::newRow("lone LF") << "a\nb" << QByteArray("a b");
    QTest::newRow("NUL") << QString::fromLatin1("a\0b", 3) << QByteArray("a b");
    QTest::newRow("unicode") << QString::fromUtf8("héllo €")
                             << QByteArray("h\xC3\xA9llo \xE2\x82\xAC");
}

void tst_Connection::sendNeverSplitsALine() {
    QFETCH(QString, message);
    QFETCH(QByteArray, wire);
    AppFixture f;
    ScriptedServer server;
    QVERIFY(connectTo(f, server));
    f.connection().SendMessage(message);
    QVERIFY(server.waitForReceived("\r\n"));
    QCOMPARE(server.received(), wire + "\r\n");
}

void tst_Connection::notificationsOfOtherElementsIgnored() {
    AppFixture f;
    SocketArray &array = f.app()->MainWindow()->wsConnection();
    array.Load(5);
    qint16 other = 5;
    emit array.WSClose(other);
    emit array.WSConnect(other);
    emit array.WSDataArrival(other, 3);
    QCOMPARE(f.status(), QStringList());
    QVERIFY(!f.connection().Connected());
}

void tst_Connection::dataWhileNotConnected() {
    AppFixture f;
    SocketArray &array = f.app()->MainWindow()->wsConnection();
    qint16 own = f.connection().SocketIndex();
    emit array.WSDataArrival(own, 10);
    QCOMPARE(f.status(), QStringList{"lost connection!"});
}

void tst_Connection::processedBySubscriberSkipsProcessing() {
    AppFixture f;
    QStringList taken;
    connect(f.app()->Connections(), &IRCConnections::GetMessageRaw, f.app(),
            [&](qint32 connection, const QString &message, bool &processed) {
                QCOMPARE(connection, 1);
                taken << message;
                processed = message.startsWith("PING");
            });
    ScriptedServer server;
    QVERIFY(connectTo(f, server));
    server.send("PING :taken\r\n:s 1 shown\r\n");
    QVERIFY(f.waitForLine(1, "<- Server(1): [:s 1 shown]"));
    QCOMPARE(taken, (QStringList{"PING :taken", ":s 1 shown"}));
    QTest::qWait(50);
    QCOMPARE(server.received(), QByteArray()); // no PONG: the subscriber took the line
}

// The lowest free element from 1 up; a removed connection's element is taken again.
void tst_Connection::socketElementAllocation() {
    AppFixture f;
    IRCConnections *connections = f.app()->Connections();
    SocketArray &array = f.app()->MainWindow()->wsConnection();
    auto second = connections->Add();
    auto third = connections->Add();
    QCOMPARE(second->SocketIndex(), qint16(2));
    QCOMPARE(third->SocketIndex(), qint16(3));
    connections->Remove(2);
    QCOMPARE(connections->Count(), 2);
    QCOMPARE(third->Index(), 2);
    QCOMPARE(third->SocketIndex(), qint16(3));
    QCOMPARE(second->Index(), -1);
    QVERIFY(!array.Exists(2));
    auto fourth = connections->Add();
    QCOMPARE(fourth->Index(), 3);
    QCOMPARE(fourth->SocketIndex(), qint16(2));
    connections->Remove(1);
    auto fifth = connections->Add();
    QCOMPARE(fifth->SocketIndex(), qint16(1));
    QCOMPARE(array.UBound(), qint16(3));
    QVERIFY_THROWS_EXCEPTION(VelloqError, connections->Item(4));
}

QTEST_MAIN(tst_Connection)
#include "tst_connection.moc"
