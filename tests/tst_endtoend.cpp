// The real client against a real ngircd on loopback, driven through its input boxes: connecting,
// registering by typed protocol lines, the keep-alive, QUIT, DISCONNECT, a second SERVER and a
// message to a nick. What the user sees is read from the windows; what went on the wire is checked
// from the server's side, through a second user (bob) on the same server.

#include "tst_endtoend_session.h"

#include <QTest>

using namespace e2e;

class tst_EndToEnd : public QObject {
    Q_OBJECT
private slots:
    void connectAndRegisterByTypedLines();
    void serverPingIsAnswered();
    void quitShowsServerErrorBeforeDisconnect();
    void disconnectReportsOnce();
    void secondServerWhileConnected();
    void msgToNick();
};

void tst_EndToEnd::connectAndRegisterByTypedLines() {
    IrcServerFixture server;
    E2E_STEP(startServer(server));
    const quint16 port = server.port();
    AppFixture app;
    ReceivedLines received(app.app()->Connections());

    app.type(1, QStringLiteral("/server 127.0.0.1 %1").arg(port));
    QVERIFY(app.waitForLine(1, connectedLine(port)));
    app.type(1, "NICK alice");
    app.type(1, "USER alice 0 * :Alice A");
    QVERIFY(app.waitForLine(1, "<- Server(1): [:irc.velloq.test 376 alice :", 5000, true));

    const QStringList status = app.status();
    const QStringList typed = {
        QStringLiteral("/server 127.0.0.1 %1").arg(port),
        QStringLiteral("Connecting to Server 127.0.0.1, Port %1...").arg(port),
        connectedLine(port),
        "NICK alice",
        "-> Server: [NICK alice]",
        "USER alice 0 * :Alice A",
        "-> Server: [USER alice 0 * :Alice A]",
    };
    QCOMPARE(status.mid(0, typed.size()), typed);
    QVERIFY(status.contains(unprocessed(":irc.velloq.test 001 alice :Welcome to the Internet Relay "
                                        "Network alice!~alice@127.0.0.1")));
    // Registration brings nothing the client handles itself: every line received shows, in order.
    QVERIFY(received.lines.size() >= 5);
    QStringList shown;
    for (const QString &line : received.lines)
        shown.append(unprocessed(line));
    QCOMPARE(status.mid(typed.size()), shown);

    // The server took the typed USER line whole, real name after the colon included.
    IrcTestClient bob;
    E2E_STEP(connectUser(bob, port, "bob"));
    bob.sendLine("WHOIS alice");
    QVERIFY(bob.waitForLine(exactly(":irc.velloq.test 311 bob alice ~alice 127.0.0.1 * :Alice A")));
}

// ngircd PINGs a client that was idle for PingTimeout seconds and drops it PongTimeout seconds
// after a PING that got no answer (both at its minimum of 5 s here). A second PING can therefore
// only come when the first one was answered.
void tst_EndToEnd::serverPingIsAnswered() {
    IrcServerFixture server;
    server.setPingTimeout(5);
    server.setPongTimeout(5);
    E2E_STEP(startServer(server));
    AppFixture app;
    ReceivedLines received(app.app()->Connections());
    E2E_STEP(connectAndRegister(app, server.port()));
    IrcTestClient bob;
    E2E_STEP(connectUser(bob, server.port(), "bob"));

    const auto dropped = [&] {
        return !startingWith(app.status(), "Disconnected from").isEmpty();
    };
    QTRY_VERIFY_WITH_TIMEOUT(startingWith(received.lines, "PING ").size() >= 2 || dropped(), 20000);
    const QStringList status = app.status();
    QVERIFY2(!dropped(), qPrintable(status.join('\n')));
    // The PINGs are handled, not shown; the answers drew no complaint (no error numeric).
    static const QRegularExpression keepAlive(QStringLiteral("\\bP[IO]NG\\b"));
    for (const QString &line : status) {
        QVERIFY2(!line.contains(keepAlive), qPrintable(line));
        QVERIFY2(!line.startsWith("<- Server(1): [:irc.velloq.test 4"), qPrintable(line));
    }
    bob.sendLine("PRIVMSG alice :still there?");
    QVERIFY(app.waitForLine(1, unprocessed(":bob!~bob@127.0.0.1 PRIVMSG alice :still there?")));
    QVERIFY2(!server.log().contains("Ping timeout"), server.log().constData());
}

void tst_EndToEnd::quitShowsServerErrorBeforeDisconnect() {
    IrcServerFixture server;
    E2E_STEP(startServer(server));
    const quint16 port = server.port();
    AppFixture app;
    ReceivedLines received(app.app()->Connections());
    E2E_STEP(connectAndRegister(app, port));
    const qsizetype mark = app.status().size();
    const qsizetype receivedMark = received.lines.size();

    app.type(1, "/quit bye now");
    QVERIFY(app.waitForLine(1, disconnectedLine(port)));

    // ngircd 26 answers QUIT with a statistics NOTICE, then ERROR :"<reason>", then closes.
    const QStringList fromServer = received.lines.mid(receivedMark);
    QVERIFY2(fromServer.contains("ERROR :\"bye now\""), qPrintable(fromServer.join('\n')));
    const QStringList after = app.status().mid(mark);
    QCOMPARE(after.mid(0, 2), (QStringList{"/quit bye now", "QUIT -> Server(1): bye now"}));
    QCOMPARE(startingWith(after, "Server(1) ERROR: "), QStringList{"Server(1) ERROR: \"bye now\""});
    // Everything the server said before closing shows before the disconnect line, which is last.
    QStringList expected;
    for (const QString &line : fromServer)
        expected.append(line.startsWith("ERROR :") ? "Server(1) ERROR: " + line.mid(7)
                                                   : unprocessed(line));
    expected.append(disconnectedLine(port));
    QCOMPARE(after.mid(2), expected);

    QTest::qWait(300);
    QCOMPARE(app.status().count(disconnectedLine(port)), 1);
    app.type(1, "/quit again");
    QCOMPARE(app.lastLine(1), QString("QUIT: not connected"));
}

void tst_EndToEnd::disconnectReportsOnce() {
    AliceAndBob s;
    E2E_STEP(meet(s));
    const quint16 port = s.port;
    AppFixture &app = s.app;
    IrcTestClient &bob = s.bob;

    app.type(1, "/disconnect");
    QCOMPARE(app.lastLine(1), disconnectedLine(port));
    QTest::qWait(500);
    QCOMPARE(app.status().count(disconnectedLine(port)), 1);
    QCOMPARE(app.lastLine(1), disconnectedLine(port));
    E2E_STEP(waitUntilOffline(bob, "alice"));

    app.type(1, "NICK alice");
    QCOMPARE(app.lastLine(1), QString("QUOTE: not connected"));
}

// SERVER while connected lets the old connection go without reporting it as a disconnect.
void tst_EndToEnd::secondServerWhileConnected() {
    AliceAndBob s;
    E2E_STEP(meet(s));
    const quint16 port = s.port;
    AppFixture &app = s.app;
    IrcTestClient &bob = s.bob;
    const qsizetype mark = app.status().size();

    const QString typed = QStringLiteral("/server 127.0.0.1 %1").arg(port);
    app.type(1, typed);
    QTRY_COMPARE(app.status().count(connectedLine(port)), 2);
    QTest::qWait(500);
    QCOMPARE(
        app.status().mid(mark),
        (QStringList{typed, QStringLiteral("Connecting to Server 127.0.0.1, Port %1...").arg(port),
                     connectedLine(port)}));
    QVERIFY(startingWith(app.status(), "Disconnected from").isEmpty());

    // The old registration is gone from the server, and the new connection registers afresh.
    E2E_STEP(waitUntilOffline(bob, "alice"));
    app.type(1, "NICK alice");
    app.type(1, "USER alice 0 * :Alice");
    QTRY_COMPARE(startingWith(app.status(), "<- Server(1): [:irc.velloq.test 001 alice :").size(),
                 2);
    QVERIFY(startingWith(app.status(), "Disconnected from").isEmpty());
}

// A nick has no channel record: the message is echoed in the window it was typed in.
void tst_EndToEnd::msgToNick() {
    AliceAndBob s;
    E2E_STEP(meet(s));
    AppFixture &app = s.app;
    IrcTestClient &bob = s.bob;

    app.type(1, "/msg bob hi \"x y\"");
    QCOMPARE(app.status().mid(app.status().size() - 2),
             (QStringList{"/msg bob hi \"x y\"", "-> bob: hi \"x y\""}));
    QVERIFY(bob.waitForLine(exactly(":alice!~alice@127.0.0.1 PRIVMSG bob :hi \"x y\"")));
}

QTEST_MAIN(tst_EndToEnd)
#include "tst_endtoend.moc"
