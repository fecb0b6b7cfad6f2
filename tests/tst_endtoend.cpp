// The real client end to end, on a real ngircd (and for channels a real InspIRCd too), driven
// through its input boxes: registering by typed lines, the keep-alive, QUIT, and channels joined
// by typed lines, their traffic and what the server says about membership. Another user (bob) on
// the same server checks what went on the wire. The channel tests are tables with a row per server.
//
// The servers word our own PART differently (the rest is the same on both):
//   ngircd    ":alice!~alice@127.0.0.1 PART #room :"    and with a reason "PART #room :see you"
//   InspIRCd  ":alice!alice@127.0.0.1 PART :#room"      and with a reason "PART #room :see you"

#include "app/Application.h"
#include "channel/Channel.h"
#include "channel/Channels.h"
#include "connection/IRCConnection.h"
#include "connection/IRCConnections.h"
#include "support/AppFixture.h"
#include "support/IrcServerFixture.h"
#include "support/IrcTestClient.h"
#include "windows/Child.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMdiSubWindow>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <optional>

using Kind = IrcServerFixture::Kind;
Q_DECLARE_METATYPE(IrcServerFixture::Kind)

// Runs one step of a test (a void function that may fail a check) and leaves the test when the
// step failed.
#define E2E_STEP(call)                                                                             \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

inline QString connectedLine(quint16 port) {
    return QStringLiteral("Connected to Server 127.0.0.1, Port %1").arg(port);
}
inline QString disconnectedLine(quint16 port) {
    return QStringLiteral("Disconnected from Server 127.0.0.1, Port %1").arg(port);
}
// How the status window shows a received line that no rule handles.
inline QString unprocessed(const QString &line) {
    return QStringLiteral("<- Server(1): [") + line + QLatin1Char(']');
}
inline QRegularExpression exactly(const QString &line) {
    return QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(line) +
                              QLatin1Char('$'));
}

// Whether expected occurs in lines in this order, other lines allowed in between.
inline bool inOrder(const QStringList &lines, const QStringList &expected) {
    qsizetype next = 0;
    for (const QString &line : lines)
        if (next < expected.size() && line == expected.at(next))
            ++next;
    return next == expected.size();
}

// The lines of all that start with prefix.
inline QStringList startingWith(const QStringList &all, const QString &prefix) {
    QStringList out;
    for (const QString &line : all)
        if (line.startsWith(prefix))
            out.append(line);
    return out;
}
inline QStringList startingWith(const QList<QByteArray> &all, const QString &prefix) {
    QStringList decoded;
    for (const QByteArray &line : all)
        decoded.append(QString::fromUtf8(line));
    return startingWith(decoded, prefix);
}

// Every line the client received, as its connection hands it on, before it is processed.
class ReceivedLines : public QObject {
public:
    explicit ReceivedLines(IRCConnections *connections) {
        connect(connections, &IRCConnections::GetMessageRaw, this,
                [this](qint32, const QString &line, bool &) { lines.append(line); });
    }
    QStringList lines;
};

inline void startServer(IrcServerFixture &server) {
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
}

inline void connectUser(IrcTestClient &user, quint16 port, const QString &nick) {
    QVERIFY2(user.connectTo(port, nick), qPrintable(user.errorString()));
}

// Asks the server through probe whether nick is online (ISON); empty when no answer came.
inline std::optional<bool> isOnline(IrcTestClient &probe, const QString &nick) {
    static const QRegularExpression reply(QStringLiteral("^:\\S+ 303 \\S+ :"));
    probe.sendLine("ISON " + nick.toUtf8());
    QByteArray line;
    if (!probe.waitForLine(reply, 5000, &line))
        return std::nullopt;
    const QList<QByteArray> online = line.mid(line.indexOf(" :") + 2).split(' ');
    return online.contains(nick.toUtf8());
}

// Waits until the server has let nick's connection go.
inline void waitUntilOffline(IrcTestClient &probe, const QString &nick, int ms = 5000) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const std::optional<bool> online = isOnline(probe, nick);
        QVERIFY2(online.has_value(), "no ISON reply");
        if (!*online)
            return;
        QVERIFY2(clock.elapsed() < ms, qPrintable(nick + QStringLiteral(" is still online")));
        QTest::qWait(50);
    }
}

// Types the lines a user types to connect and register as nick, and waits for the end of the
// server's welcome (the end of its message of the day).
inline void connectAndRegister(const AppFixture &app, quint16 port,
                               const QString &nick = QStringLiteral("alice")) {
    app.type(1, QStringLiteral("/server 127.0.0.1 %1").arg(port));
    QVERIFY(app.waitForLine(1, connectedLine(port)));
    app.type(1, QStringLiteral("NICK ") + nick);
    app.type(1, QStringLiteral("USER %1 0 * :%1").arg(nick));
    QVERIFY(app.waitForLine(
        1, unprocessed(QStringLiteral(":irc.velloq.test 376 %1 :").arg(nick)).chopped(1), 5000,
        true));
}

// A private server with our client registered as alice and a second user, bob.
struct AliceAndBob {
    explicit AliceAndBob(IrcServerFixture::Kind kind = IrcServerFixture::Kind::Ngircd)
        : server(kind) {}
    IrcServerFixture server;
    AppFixture app;
    ReceivedLines received{app.app()->Connections()};
    IrcTestClient bob;
    quint16 port = 0;
};

inline void meet(AliceAndBob &s) {
    startServer(s.server);
    if (QTest::currentTestFailed())
        return;
    s.port = s.server.port();
    connectAndRegister(s.app, s.port);
    if (QTest::currentTestFailed())
        return;
    connectUser(s.bob, s.port, QStringLiteral("bob"));
}

namespace {
// ":nick!user@host " as the server writes it in front of what nick does.
QString from(const IrcServerFixture &server, const QString &nick) {
    return QLatin1Char(':') + server.userMask(nick) + QLatin1Char(' ');
}

// The server's echo of a PART without a reason.
QString partEcho(const IrcServerFixture &server, const QString &nick, const QString &channel) {
    return from(server, nick) +
           (server.kind() == Kind::Ngircd ? "PART " + channel + " :" : "PART :" + channel);
}

// Types JOIN in the status window and waits for the client to report the server's confirmation.
void joinByTyping(const AppFixture &app, const QString &channel) {
    const qsizetype before = app.status().count("Joined Channel " + channel);
    app.type(1, "JOIN " + channel);
    QTRY_COMPARE(app.status().count("Joined Channel " + channel), before + 1);
}

void closeByUser(const AppFixture &app, qint32 window) {
    QMdiSubWindow *sub = app.window(window)->Form()->SubWindow();
    QVERIFY(sub);
    sub->close();
    AppFixture::settle();
}

void addServerRows() {
    QTest::addColumn<Kind>("kind");
    QTest::newRow("ngircd") << Kind::Ngircd;
    QTest::newRow("InspIRCd") << Kind::InspIRCd;
}
} // namespace

class tst_EndToEnd : public QObject {
    Q_OBJECT
private slots:
    void connectAndRegisterByTypedLines();
    void serverPingIsAnswered();
    void quitShowsServerErrorBeforeDisconnect();
    void channelTrafficBothWays_data() { addServerRows(); }
    void channelTrafficBothWays();
    void channelEndsOnlyForUs_data();
    void channelEndsOnlyForUs();
    void exitPartsEveryChannel_data() { addServerRows(); }
    void exitPartsEveryChannel();
};

void tst_EndToEnd::channelTrafficBothWays() {
    QFETCH(Kind, kind);
    AliceAndBob s(kind);
    E2E_STEP(meet(s));
    AppFixture &app = s.app;
    IrcTestClient &bob = s.bob;
    const QString alice = from(s.server, "alice");

    E2E_STEP(joinByTyping(app, "#room"));
    QVERIFY(s.received.lines.contains(alice + "JOIN :#room"));
    QCOMPARE(app.windowCount(), 2);
    QCOMPARE(app.window(2)->Caption(), QString("2 - unused"));
    QCOMPARE(app.window(2)->DefaultCommand(), QString("MSG #room"));

    // Someone else joining a channel we are in is no news for the client: shown as received.
    QVERIFY(bob.join("#room"));
    QVERIFY(app.waitForLine(1, unprocessed(from(s.server, "bob") + "JOIN :#room")));

    bob.sendLine("PRIVMSG #room :hello: there");
    bob.sendLine("NOTICE #room :note");
    QVERIFY(app.waitForLine(2, "-bob- note"));
    QCOMPARE(app.lines(2), (QStringList{"<bob> hello: there", "-bob- note"}));

    const QString said = QStringLiteral("He said \"hi there\" : ok");
    app.type(2, said);
    QVERIFY(bob.waitForLine(exactly(alice + "PRIVMSG #room :" + said)));
    QCOMPARE(app.lines(2), (QStringList{"<bob> hello: there", "-bob- note", said}));
    QVERIFY(startingWith(app.status(), "-> #room").isEmpty());

    // The user closes the channel window: one PART, and the channel is gone; the server's echo
    // of it finds no channel and shows as received.
    bob.clearLines();
    E2E_STEP(closeByUser(app, 2));
    QCOMPARE(app.windowCount(), 1);
    QCOMPARE(app.connection().Channels()->Count(), 0);
    const QString echo = partEcho(s.server, "alice", "#room");
    QVERIFY(bob.waitForLine(exactly(echo)));
    QVERIFY(app.waitForLine(1, unprocessed(echo)));
    QTest::qWait(300);
    QCOMPARE(startingWith(bob.lines(), alice).size(), 1);

    // Joining again is confirmed afresh and opens a new, empty window for the channel's traffic.
    E2E_STEP(joinByTyping(app, "#room"));
    QCOMPARE(app.windowCount(), 2);
    QVERIFY(app.lines(2).isEmpty());
    bob.sendLine("PRIVMSG #room :welcome back");
    QVERIFY(app.waitForLine(2, "<bob> welcome back"));
    QCOMPARE(app.lines(2), QStringList{"<bob> welcome back"});
}

// Our PART (typed raw, with and without a reason) and a KICK of us end the channel: its window
// closes and nothing more goes to the channel. Bob's PART is only news: our window stays.
void tst_EndToEnd::channelEndsOnlyForUs_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("bobSends");
    QTest::addColumn<QStringList>("status");
    const QString left = "Left Channel #room";
    for (const Kind kind : {Kind::Ngircd, Kind::InspIRCd}) {
        const QByteArray server = kind == Kind::Ngircd ? "ngircd: " : "InspIRCd: ";
        QTest::newRow(server + "our PART")
            << kind << "/quote PART #room" << QByteArray() << QStringList{left};
        QTest::newRow(server + "our PART with a reason")
            << kind << "/quote PART #room :see you" << QByteArray() << QStringList{left};
        QTest::newRow(server + "KICK of us")
            << kind << QString() << QByteArray("KICK #room alice :out")
            << QStringList{"Kicked from Channel #room by bob (out)", left};
        QTest::newRow(server + "their PART")
            << kind << QString() << QByteArray("PART #room") << QStringList();
    }
}

void tst_EndToEnd::channelEndsOnlyForUs() {
    QFETCH(Kind, kind);
    QFETCH(QString, typed);
    QFETCH(QByteArray, bobSends);
    QFETCH(QStringList, status);
    AliceAndBob s(kind);
    E2E_STEP(meet(s));
    AppFixture &app = s.app;
    IrcTestClient &bob = s.bob;
    const QString alice = from(s.server, "alice");
    QVERIFY(bob.join("#room")); // first in: bob is the channel's operator
    E2E_STEP(joinByTyping(app, "#room"));
    const qsizetype mark = app.status().size();

    if (!typed.isEmpty())
        app.type(1, typed);
    if (!bobSends.isEmpty())
        bob.sendLine(bobSends);
    if (status.isEmpty()) { // bob's PART: wait until the client has seen it
        QVERIFY(app.waitForLine(1, unprocessed(partEcho(s.server, "bob", "#room"))));
        QCOMPARE(app.windowCount(), 2);
        QVERIFY(app.connection().Channels()->Item("#room")->Joined());
        QVERIFY(!app.status().mid(mark).contains("Left Channel #room"));
        QVERIFY(bob.join("#room"));
        bob.sendLine("PRIVMSG #room :still here");
        QVERIFY(app.waitForLine(2, "<bob> still here"));
    } else {
        QTRY_VERIFY(inOrder(app.status().mid(mark), status));
        QCOMPARE(app.windowCount(), 1);
        QCOMPARE(app.connection().Channels()->Count(), 0);
    }

    // Nothing of ours reached the channel after the typed PART, if any.
    bob.sendLine("PRIVMSG #room :anyone?");
    QTest::qWait(300);
    const QStringList fromAlice = startingWith(bob.lines(), alice);
    QCOMPARE(startingWith(fromAlice, alice + "PART").size(), typed.isEmpty() ? 0 : 1);
    QCOMPARE(startingWith(fromAlice, alice + "PRIVMSG").size(), 0);
}

// EXIT parts every joined channel before the connection goes. Once alice has left both channels
// bob shares none with her, so her QUIT reaches him only if a PART was lost.
void tst_EndToEnd::exitPartsEveryChannel() {
    QFETCH(Kind, kind);
    AliceAndBob s(kind);
    E2E_STEP(meet(s));
    AppFixture &app = s.app;
    IrcTestClient &bob = s.bob;
    E2E_STEP(joinByTyping(app, "#a"));
    E2E_STEP(joinByTyping(app, "#b"));
    QVERIFY(bob.join("#a"));
    QVERIFY(bob.join("#b"));
    QCOMPARE(app.windowCount(), 3);

    app.type(1, "/exit");
    AppFixture::settle();
    QVERIFY(!app.running());
    QCOMPARE(app.windowCount(), 0);
    E2E_STEP(waitUntilOffline(bob, "alice"));

    QStringList fromAlice = startingWith(bob.lines(), from(s.server, "alice"));
    fromAlice.sort();
    QCOMPARE(fromAlice,
             (QStringList{partEcho(s.server, "alice", "#a"), partEcho(s.server, "alice", "#b")}));
    // No window of the client outlives it.
    const auto anyVisible = [] {
        const QWidgetList windows = QApplication::topLevelWidgets();
        return std::any_of(windows.cbegin(), windows.cend(),
                           [](const QWidget *w) { return w->isVisible(); });
    };
    QTRY_VERIFY(!anyVisible());
}

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

QTEST_MAIN(tst_EndToEnd)
#include "tst_endtoend.moc"
