// The server connection over real loopback sockets: typed lines and what reaches the wire, status
// lines, framing through the socket, PING, ERROR, malformed lines, and socket elements.

#include "app/Application.h"
#include "connection/IRCConnections.h"
#include "connection/SocketArray.h"
#include "support/ConnectedClient.h"
#include "windows/Childs.h"
#include "windows/frmMain.h"

#include <QTcpServer>
#include <QTest>

class tst_Connection : public QObject {
    Q_OBJECT
private slots:
    void typedLines_data();
    void typedLines();
    void refusedPort();
    void serverCloseKeepsLastLines();
    void partialLineDoesNotReachNextServer();
    void secondServerCommand();
    void serverMessages_data();
    void serverMessages();
    void tooLongLineDropped();
    void sendNeverSplitsALine_data();
    void sendNeverSplitsALine();
    void socketElementAllocation();
};

static QString where(quint16 port) {
    return QString("Server 127.0.0.1, Port %1").arg(port);
}

// Typed while connected: window typed in, what is typed, the lines that window shows after it
// (%1 is the server's port), the lines that reach the wire.
void tst_Connection::typedLines_data() {
    QTest::addColumn<int>("window");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QList<QByteArray>>("wire");
    const auto row = [](const char *name, int window, const QString &typed,
                        const QStringList &shown, const QList<QByteArray> &wire) {
        QTest::newRow(name) << window << typed << QStringList{typed} + shown << wire;
    };
    row("plain text is QUOTE", 1, "USER alice 0 * :Alice A",
        {"-> Server: [USER alice 0 * :Alice A]"}, {"USER alice 0 * :Alice A"});
    row("QUOTE stays raw", 1, "/quote PRIVMSG bob :" + QString(1000, 'x'),
        {"-> Server: [PRIVMSG bob :" + QString(1000, 'x') + "]"},
        {"PRIVMSG bob :" + QByteArray(1000, 'x')});
    row("QUIT", 1, "/quit", {"QUIT -> Server(1): "}, {"QUIT :"});
    row("QUIT with quotes", 1, "/quit see \"you all\"", {"QUIT -> Server(1): see \"you all\""},
        {"QUIT :see \"you all\""});
    row("MSG to a nick", 2, "/msg bob He said \"hi there\": ok",
        {"-> bob: He said \"hi there\": ok"}, {"PRIVMSG bob :He said \"hi there\": ok"});
    row("NOTICE without text", 2, "/notice bob", {"notice -> bob: "}, {"NOTICE bob :"});
    row("DISCONNECT reports once", 1, "/disconnect",
        {"Disconnected from Server 127.0.0.1, Port %1"}, {});
}

void tst_Connection::typedLines() {
    QFETCH(int, window);
    QFETCH(QString, typed);
    QFETCH(QStringList, shown);
    QFETCH(QList<QByteArray>, wire);
    ConnectedClient c;
    QVERIFY(c.connected);
    c.app.app()->Childs()->Add();
    const QString port = QString::number(c.server.port());
    QCOMPARE(c.app.status(), (QStringList{"/server 127.0.0.1 " + port,
                                          "Connecting to Server 127.0.0.1, Port " + port + "...",
                                          "Connected to Server 127.0.0.1, Port " + port}));
    c.app.type(window, typed);
    if (wire.isEmpty())
        QVERIFY(c.server.waitForDisconnect());
    else
        QVERIFY(c.server.waitForLines(int(wire.size())));
    QTest::qWait(100);
    QCOMPARE(c.server.receivedLines(), wire);
    QCOMPARE(c.app.lines(window).mid(window == 1 ? 3 : 0), shown.replaceInStrings("%1", port));
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
    ConnectedClient c;
    QVERIFY(c.connected);
    c.server.send("ERROR :Closing Link: host (Quit: bye)\r\n:srv 999 last\r\npartial");
    c.server.closeClient();
    QVERIFY(c.app.waitForLine(1, "Disconnected from " + where(c.server.port())));
    QCOMPARE(c.app.status().mid(3), (QStringList{"Server(1) ERROR: Closing Link: host (Quit: bye)",
                                                 "<- Server(1): [:srv 999 last]",
                                                 "Disconnected from " + where(c.server.port())}));
    QVERIFY(!c.app.connection().Connected());
}

// The old server's unfinished line is not glued to the new server's first line.
void tst_Connection::partialLineDoesNotReachNextServer() {
    AppFixture f;
    ScriptedServer first;
    QVERIFY(f.connectTo(first));
    first.send(":old 1 unfinished");
    first.closeClient();
    QVERIFY(f.waitForLine(1, "Disconnected from " + where(first.port())));
    ScriptedServer second;
    QVERIFY(f.connectTo(second));
    second.send(":new 1 first\r\n");
    QVERIFY(f.waitForLine(1, "<- Server(1): [:new 1 first]"));
    for (const QString &line : f.status())
        QVERIFY2(!line.contains("unfinished"), qPrintable(line));
}

// Connecting anew closes the old connection quietly: no report of a disconnect.
void tst_Connection::secondServerCommand() {
    AppFixture f;
    ScriptedServer first;
    QVERIFY(f.connectTo(first));
    ScriptedServer second;
    QVERIFY(f.connectTo(second));
    QVERIFY(first.waitForDisconnect());
    QTest::qWait(200);
    for (const QString &line : f.status())
        QVERIFY2(!line.startsWith("Disconnected"), qPrintable(line));
    f.type(1, "PING :x");
    QVERIFY(second.waitForLines(1));
    QVERIFY(first.receivedLines().isEmpty());
}

// One server line after our confirmed JOIN of #c (and no welcome): the window it shows in (1: the
// status window), what it shows there (nothing for an answered PING) and the reply on the wire.
void tst_Connection::serverMessages_data() {
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<int>("window");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QByteArray>("reply");
    const auto row = [](const QByteArray &line, const QString &shown, const QByteArray &reply = {},
                        int window = 1) {
        QTest::newRow(QString::fromLatin1(line.left(40)).toUtf8().constData())
            << line << window << shown << reply;
    };
    const auto raw = [&row](const QByteArray &line) {
        row(line, "<- Server(1): [" + QString::fromLatin1(line) + "]");
    };
    row("PING :abc", {}, "PONG :abc");
    row("PING :a:b", {}, "PONG :a:b");
    row("PING :", {}, "PONG :");
    row("PING :caf\xe9\x81", {}, "PONG :caf\xe9\x81");
    row("PING :a\nb", {}, "PONG :a b");
    for (const char *line :
         {"PING abc", "ping :x", "PING", "ERROR", ":", ": PRIVMSG",
          ":::::", ":server 001 nick :Welcome", ":n!u@h PRIVMSG me :hi", ":x PART :#u", ":x PART :",
          ":x PRIVMSG :", ":x NOTICE :", ":x\tPRIVMSG #c :hi", ":x  PRIVMSG  #c :hi", ":%1 %2 :%3"})
        raw(line);
    row("ERROR :Closing Link: host (Quit: bye)", "Server(1) ERROR: Closing Link: host (Quit: bye)");
    row("ERROR :", "Server(1) ERROR: ");
    row(":x JOIN #j", "Joined Channel #j");
    row(":x JOIN :", "Joined Channel ");
    row(":x PART #c :bye", "Left Channel #c");
    row(":n!@ PRIVMSG #c :x", "<n> x", {}, 2);
    row(":" + QByteArray(1000, 'n') + "!u@h PRIVMSG #c :hi", "<" + QString(1000, 'n') + "> hi", {},
        2);
}

void tst_Connection::serverMessages() {
    QFETCH(QByteArray, received);
    QFETCH(int, window);
    QFETCH(QString, shown);
    QFETCH(QByteArray, reply);
    ConnectedClient c;
    QVERIFY(c.connected && c.join("#c"));
    const qsizetype before = c.app.status().size();
    QVERIFY(c.feed(received + "\r\n"));
    const QStringList status = c.app.status().mid(before);
    QCOMPARE(status.mid(0, status.size() - 1),
             window == 1 && !shown.isEmpty() ? QStringList{shown} : QStringList());
    if (window == 2)
        QCOMPARE(c.app.lastLine(2), shown);
    if (!reply.isEmpty()) {
        QVERIFY(c.server.waitForLines(1));
        QCOMPARE(c.server.receivedLines(), QList<QByteArray>{reply});
    } else {
        QTest::qWait(50);
        QCOMPARE(c.server.received(), QByteArray());
    }
}

void tst_Connection::tooLongLineDropped() {
    ConnectedClient c;
    QVERIFY(c.connected);
    c.server.send(":a 1 before\r\n" + QByteArray(200 * 1024, 'x') + "\r\n:a 2 after\r\n");
    QVERIFY(c.app.waitForLine(1, "<- Server(1): [:a 2 after]"));
    QCOMPARE(c.app.status().mid(3), (QStringList{"<- Server(1): [:a 1 before]",
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
    ConnectedClient c;
    QVERIFY(c.connected);
    c.app.connection().SendMessage(message);
    QVERIFY(c.server.waitForReceived("\r\n"));
    QCOMPARE(c.server.received(), wire + "\r\n");
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
