// Channels end to end: the real client joins channels on a real ngircd by typed lines, shows their
// traffic in their own windows, talks to them, and leaves them when its window closes or the
// program exits. Another user (bob) on the same server checks what went on the wire.
//
// What ngircd 26 sends back for a user's own JOIN and PART decides what the client can process:
//   JOIN #room, JOIN :#room  ->  ":alice!~alice@127.0.0.1 JOIN :#room"         (processed)
//   PART #room, PART :#room  ->  ":alice!~alice@127.0.0.1 PART #room :"         (not processed)
//   PART #room :see you      ->  ":alice!~alice@127.0.0.1 PART #room :see you"  (not processed)
// The client takes a part only in the form ":sender PART :#room", which ngircd never sends: its
// PART lines show in the status window and the channel window stays.

#include "tst_endtoend_session.h"

#include "channel/Channel.h"
#include "channel/Channels.h"
#include "connection/IRCConnection.h"
#include "windows/Child.h"

#include <QApplication>
#include <QMdiSubWindow>
#include <QTest>

#include <algorithm>

using namespace e2e;

namespace {
const QString Alice = QStringLiteral(":alice!~alice@127.0.0.1 ");

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
} // namespace

class tst_EndToEndChannels : public QObject {
    Q_OBJECT
private slots:
    void channelTrafficBothWays();
    void serverPartIsShownNotProcessed_data();
    void serverPartIsShownNotProcessed();
    void exitPartsEveryChannel();
};

void tst_EndToEndChannels::channelTrafficBothWays() {
    AliceAndBob s;
    E2E_STEP(meet(s));
    AppFixture &app = s.app;
    ReceivedLines &received = s.received;
    IrcTestClient &bob = s.bob;

    E2E_STEP(joinByTyping(app, "#room"));
    QVERIFY(received.lines.contains(Alice + "JOIN :#room"));
    QCOMPARE(app.windowCount(), 2);
    QCOMPARE(app.window(2)->Caption(), QString("2 - unused"));
    QCOMPARE(app.window(2)->DefaultCommand(), QString("MSG #room"));

    // Someone else joining a channel we are in is no news for the client: shown as received.
    QVERIFY(bob.join("#room"));
    QVERIFY(app.waitForLine(1, unprocessed(":bob!~bob@127.0.0.1 JOIN :#room")));

    bob.sendLine("PRIVMSG #room :hello: there");
    bob.sendLine("NOTICE #room :note");
    QVERIFY(app.waitForLine(2, "-bob- note"));
    QCOMPARE(app.lines(2), (QStringList{"<bob> hello: there", "-bob- note"}));

    const QString said = QStringLiteral("He said \"hi there\" : ok");
    app.type(2, said);
    QVERIFY(bob.waitForLine(exactly(Alice + "PRIVMSG #room :" + said)));
    QCOMPARE(app.lines(2), (QStringList{"<bob> hello: there", "-bob- note", said}));
    QVERIFY(startingWith(app.status(), "-> #room").isEmpty());

    // The user closes the channel window: one PART, and the channel is gone.
    bob.clearLines();
    const qsizetype mark = app.status().size();
    E2E_STEP(closeByUser(app, 2));
    QCOMPARE(app.windowCount(), 1);
    QCOMPARE(app.connection().Channels()->Count(), 0);
    QVERIFY(bob.waitForLine(exactly(Alice + "PART #room :")));
    QVERIFY(app.waitForLine(1, unprocessed(Alice + "PART #room :")));
    QTest::qWait(300);
    QCOMPARE(startingWith(bob.lines(), Alice).size(), 1);
    for (const QString &line : app.status().mid(mark))
        QVERIFY2(line.startsWith("<- Server(1): ["), qPrintable(line));

    // Having left, the client no longer hears #room; a private line from bob shows in status.
    // Joining again is confirmed afresh (a stale channel record would swallow the confirmation)
    // and opens a new, empty window that shows the channel's traffic.
    bob.sendLine("PRIVMSG alice :you left");
    QVERIFY(app.waitForLine(1, unprocessed(":bob!~bob@127.0.0.1 PRIVMSG alice :you left")));
    E2E_STEP(joinByTyping(app, "#room"));
    QCOMPARE(app.windowCount(), 2);
    QVERIFY(app.lines(2).isEmpty());
    bob.sendLine("PRIVMSG #room :welcome back");
    QVERIFY(app.waitForLine(2, "<bob> welcome back"));
    QCOMPARE(app.lines(2), QStringList{"<bob> welcome back"});
}

void tst_EndToEndChannels::serverPartIsShownNotProcessed_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("reply");
    QTest::newRow("PART without reason") << "/quote PART #room" << Alice + "PART #room :";
    QTest::newRow("PART with a reason")
        << "/quote PART #room :see you" << Alice + "PART #room :see you";
}

void tst_EndToEndChannels::serverPartIsShownNotProcessed() {
    QFETCH(QString, typed);
    QFETCH(QString, reply);
    AliceAndBob s;
    E2E_STEP(meet(s));
    AppFixture &app = s.app;
    ReceivedLines &received = s.received;
    IrcTestClient &bob = s.bob;
    QVERIFY(bob.join("#room"));
    E2E_STEP(joinByTyping(app, "#room"));

    app.type(1, typed);
    QVERIFY(app.waitForLine(1, unprocessed(reply)));
    QVERIFY(received.lines.contains(reply));
    QVERIFY(bob.waitForLine(exactly(reply)));
    QVERIFY(!app.status().contains("Left Channel #room"));
    QCOMPARE(app.windowCount(), 2);
    const std::shared_ptr<Channel> channel = app.connection().Channels()->Item("#room");
    QVERIFY(channel);
    QVERIFY(channel->Joined());

    // The client still takes itself for a member: closing the window sends a PART that the server
    // refuses (442), and bob sees no second PART.
    E2E_STEP(closeByUser(app, 2));
    QVERIFY(app.waitForLine(1, "<- Server(1): [:irc.velloq.test 442 alice #room :", 5000, true));
    QCOMPARE(startingWith(bob.lines(), Alice + "PART").size(), 1);
}

// EXIT parts every joined channel before the connection goes. Once alice has left both channels
// bob shares none with her, so her QUIT reaches him only if a PART was lost.
void tst_EndToEndChannels::exitPartsEveryChannel() {
    NgircdFixture server;
    E2E_STEP(startServer(server));
    AppFixture app;
    E2E_STEP(connectAndRegister(app, server.port()));
    IrcTestClient bob;
    E2E_STEP(connectUser(bob, server.port(), "bob"));
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

    QStringList fromAlice = startingWith(bob.lines(), Alice);
    fromAlice.sort();
    QCOMPARE(fromAlice, (QStringList{Alice + "PART #a :", Alice + "PART #b :"}));
    // No window of the client outlives it.
    const auto anyVisible = [] {
        const QWidgetList windows = QApplication::topLevelWidgets();
        return std::any_of(windows.cbegin(), windows.cend(),
                           [](const QWidget *w) { return w->isVisible(); });
    };
    QTRY_VERIFY(!anyVisible());
}

QTEST_MAIN(tst_EndToEndChannels)
#include "tst_endtoend_channels.moc"
