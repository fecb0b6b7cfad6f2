// Channels and their windows, driven by server lines from a scripted loopback server.

#include "app/Application.h"
#include "channel/Channels.h"
#include "connection/IRCConnections.h"
#include "support/ConnectedClient.h"
#include "windows/Child.h"
#include "windows/Childs.h"

#include <QMdiSubWindow>
#include <QTest>

class tst_Channels : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void confirmedJoinOpensWindow();
    void messagesAndNoticesShowInWindow_data();
    void messagesAndNoticesShowInWindow();
    void typedTextGoesToChannel();
    void lookupByName_data();
    void lookupByName();
    void joinSendsOnlyWhenNotJoined();
    void deleteJoinedSendsOnePart();
    void userCloseSendsOnePart();
    void channelsFollowServerLines_data();
    void channelsFollowServerLines();
    void disconnectKeepsWindowsUntilJoinedAgain();
    void teardownPartsEveryJoinedChannel();
    void exitPartsEveryJoinedChannel();
    void nothingSentWhileNotConnected();

private:
    std::unique_ptr<ConnectedClient> c;
    Channels &channels() const { return *c->app.connection().Channels(); }
    QList<QByteArray> sentLines() const { return c->server.receivedLines(); }
};

void tst_Channels::init() {
    c = std::make_unique<ConnectedClient>();
    QVERIFY(c->connected);
}

void tst_Channels::cleanup() {
    c.reset();
}

void tst_Channels::confirmedJoinOpensWindow() {
    QVERIFY(c->feed(":me!u@h JOIN :#room\r\n"));
    QCOMPARE(c->app.status().at(3), QString("Joined Channel #room"));
    QCOMPARE(channels().Count(), 1);
    auto channel = channels().Item(1);
    QVERIFY(channel->Joined());
    QCOMPARE(channel->Name(), QString("#room"));
    QCOMPARE(c->app.windowCount(), 2);
    QCOMPARE(channel->Window(), c->app.window(2));
    QCOMPARE(c->app.window(2)->DefaultCommand(), QString("MSG #room"));
    QCOMPARE(c->app.window(2)->Caption(), QString("2 - unused"));
    QVERIFY(sentLines().isEmpty());
}

void tst_Channels::messagesAndNoticesShowInWindow_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("shown");
    QTest::newRow("privmsg") << QByteArray(":bob!b@h PRIVMSG #room :hi: all") << "<bob> hi: all";
    QTest::newRow("case-insensitive target")
        << QByteArray(":bob!b@h PRIVMSG #ROOM :x") << "<bob> x";
    QTest::newRow("notice") << QByteArray(":bob!b@h NOTICE #room :hi") << "-bob- hi";
    QTest::newRow("server as sender") << QByteArray(":irc.test NOTICE #room :n") << "-irc.test- n";
    QTest::newRow("trailing colons kept") << QByteArray(":b PRIVMSG #room ::) :(") << "<b> :) :(";
    QTest::newRow("IPv6 host") << QByteArray(":bob!~b@2001:db8::1 PRIVMSG #room :hi") << "<bob> hi";
    QTest::newRow("extra middle parameter")
        << QByteArray(":bob!b@h PRIVMSG #room x :hi: there") << "<bob> hi: there";
    QTest::newRow("action") << QByteArray(":bob!b@h PRIVMSG #room :\x01"
                                          "ACTION waves\x01")
                            << "* bob waves";
    QTest::newRow("action without its end") << QByteArray(":bob PRIVMSG #room :\x01"
                                                          "ACTION a b")
                                            << "* bob a b";
    QTest::newRow("other CTCP as before")
        << QByteArray(":bob PRIVMSG #room :\x01VERSION\x01") << "<bob> \x01VERSION\x01";
    QTest::newRow("ACTIONS is no action") << QByteArray(":bob PRIVMSG #room :\x01"
                                                        "ACTIONS\x01")
                                          << "<bob> \x01"
                                             "ACTIONS\x01";
}

void tst_Channels::messagesAndNoticesShowInWindow() {
    QFETCH(QByteArray, line);
    QFETCH(QString, shown);
    QVERIFY(c->feed(":me!u@h JOIN :#room\r\n" + line + "\r\n"));
    QCOMPARE(c->app.lines(2), QStringList{shown});
    QCOMPARE(c->app.status().size(), 5); // the typed /server, 2 connection lines, join, marker
}

void tst_Channels::typedTextGoesToChannel() {
    QVERIFY(c->feed(":me!u@h JOIN :#room\r\n"));
    c->app.type(2, "He said \"hi there\" : ok");
    c->app.type(2, "/notice #room psst");
    QVERIFY(c->server.waitForLines(2));
    QCOMPARE(sentLines(),
             (QList<QByteArray>{"PRIVMSG #room :He said \"hi there\" : ok", "NOTICE #room :psst"}));
    QCOMPARE(c->app.lines(2), (QStringList{"He said \"hi there\" : ok", "/notice #room psst"}));
    // From another window the message is echoed there.
    c->app.type(1, "/msg #ROOM hey");
    QCOMPARE(c->app.lastLine(1), QString("-> #ROOM: hey"));
}

void tst_Channels::lookupByName_data() {
    QTest::addColumn<QString>("wanted");
    QTest::addColumn<int>("found");
    QTest::newRow("exact") << "#chat" << 1;
    QTest::newRow("upper case") << "#CHAT" << 1;
    QTest::newRow("brackets are not braces") << "#a[b" << 0;
    QTest::newRow("braces") << "#A{B" << 2;
    QTest::newRow("duplicate name: lower position") << "#dup" << 3;
    QTest::newRow("unknown") << "#nope" << 0;
    QTest::newRow("number-like name") << "1" << 0;
}

void tst_Channels::lookupByName() {
    QFETCH(QString, wanted);
    QFETCH(int, found);
    channels().Add("#chat");
    channels().Add("#a{b");
    channels().Add("#dup");
    channels().Add("#DUP");
    auto channel = channels().Item(wanted);
    QCOMPARE(channel ? channel->Index() : 0, found);
    QVERIFY(sentLines().isEmpty()); // Add sends nothing
}

void tst_Channels::joinSendsOnlyWhenNotJoined() {
    auto fresh = channels().Join("#new");
    QCOMPARE(fresh->Index(), 1);
    QVERIFY(!fresh->Joined());
    QVERIFY(channels().Join("#NEW") == fresh); // not joined yet: asks again
    // The server's JOIN for the known channel marks it joined and asks nothing more.
    QVERIFY(c->feed(":me!u@h JOIN :#new\r\n"));
    QVERIFY(fresh->Joined());
    QCOMPARE(channels().Join("#new"), fresh); // joined: nothing sent
    fresh->Join();
    QTest::qWait(50);
    QCOMPARE(sentLines(), (QList<QByteArray>{"JOIN :#new", "JOIN :#new"}));
    QCOMPARE(channels().Count(), 1);
}

void tst_Channels::deleteJoinedSendsOnePart() {
    QVERIFY(c->feed(":me!u@h JOIN :#a\r\n:me!u@h JOIN :#b\r\n:me!u@h JOIN :#c\r\n"));
    auto b = channels().Item("#b");
    QPointer<QMdiSubWindow> sub = b->Window()->Form()->SubWindow();
    b->Delete();
    QVERIFY(c->server.waitForLines(1));
    QTest::qWait(50);
    QCOMPARE(sentLines(), QList<QByteArray>{"PART :#b"});
    QCOMPARE(b->Index(), -1);
    QCOMPARE(channels().Count(), 2);
    QCOMPARE(channels().Item("#c")->Index(), 2);
    QCOMPARE(c->app.windowCount(), 3);
    AppFixture::settle();
    QVERIFY(sub.isNull());
    b->Delete(); // again: nothing more
    QTest::qWait(50);
    QCOMPARE(sentLines().size(), 1);
}

void tst_Channels::userCloseSendsOnePart() {
    QVERIFY(c->feed(":me!u@h JOIN :#room\r\n"));
    auto channel = channels().Item("#room");
    channel->Window()->Form()->SubWindow()->close();
    QVERIFY(c->server.waitForLines(1));
    QTest::qWait(50);
    QCOMPARE(sentLines(), QList<QByteArray>{"PART :#room"});
    QCOMPARE(channels().Count(), 0);
    QCOMPARE(c->app.windowCount(), 1);
    QCOMPARE(channel->Index(), -1);
    // Traffic for the closed channel now goes to the status window.
    QVERIFY(c->feed(":bob!b@h PRIVMSG #room :late\r\n"));
    QVERIFY(c->app.status().contains("<- Server(1): [:bob!b@h PRIVMSG #room :late]"));
}

// What real servers send about channels, each row after our welcome as "me" and our confirmed
// JOIN of #room (a row marked "before the welcome" has the JOIN only). status: the status lines
// that follow; channels: the channels left, each with its window. No row answers the server.
void tst_Channels::channelsFollowServerLines_data() {
    QTest::addColumn<bool>("welcomed");
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QStringList>("status");
    QTest::addColumn<QStringList>("channels");
    const auto raw = [](const char *line) {
        return QString("<- Server(1): [%1]").arg(line);
    };
    const QString left = "Left Channel #room";
    const QStringList room{"#room"};
    const auto row = [](const char *name, const QByteArray &lines) -> QTestData & {
        return QTest::newRow(name) << true << lines;
    };
    row("our PART, ngircd", ":me!u@h PART #room :") << QStringList{left} << QStringList();
    row("our PART, InspIRCd", ":me!u@h PART :#room") << QStringList{left} << QStringList();
    row("our PART, hybrid", ":me!u@h PART #room") << QStringList{left} << QStringList();
    row("our PART with a reason", ":me!u@h PART #room :see you")
        << QStringList{left} << QStringList();
    row("our PART, other case", ":ME!u@h PART #ROOM :") << QStringList{left} << QStringList();
    row("our PART, IPv6 host", ":me!~m@2001:db8::1 PART #room :")
        << QStringList{left} << QStringList();
    row("their PART, InspIRCd", ":bob!u@h PART :#room")
        << QStringList{raw(":bob!u@h PART :#room")} << room;
    row("their PART, ngircd", ":bob!u@h PART #room :")
        << QStringList{raw(":bob!u@h PART #room :")} << room;
    row("their JOIN", ":bob!u@h JOIN :#room") << QStringList{raw(":bob!u@h JOIN :#room")} << room;
    row("their JOIN elsewhere", ":bob!u@h JOIN :#other")
        << QStringList{raw(":bob!u@h JOIN :#other")} << room;
    row("our JOIN again, other case", ":me!u@h JOIN :#ROOM")
        << QStringList{raw(":me!u@h JOIN :#ROOM")} << room;
    row("our JOIN without colon", ":me!u@h JOIN #two")
        << QStringList{"Joined Channel #two"} << QStringList{"#room", "#two"};
    row("KICK of us", ":op!u@h KICK #room me :out")
        << QStringList{"Kicked from Channel #room by op (out)", left} << QStringList();
    row("KICK of us, no reason", ":op!u@h KICK #ROOM ME")
        << QStringList{"Kicked from Channel #room by op", left} << QStringList();
    row("KICK of them", ":op!u@h KICK #room bob :out")
        << QStringList{raw(":op!u@h KICK #room bob :out")} << room;
    row("KICK of us elsewhere", ":op!u@h KICK #nope me :x")
        << QStringList{raw(":op!u@h KICK #nope me :x")} << room;
    row("our NICK, then PART", ":me!u@h NICK :me2\r\n:me2!u@h PART #room :")
        << QStringList{raw(":me!u@h NICK :me2"), left} << QStringList();
    row("our old nick after NICK", ":me!u@h NICK :me2\r\n:me!u@h PART #room :")
        << QStringList{raw(":me!u@h NICK :me2"), raw(":me!u@h PART #room :")} << room;
    row("their NICK", ":bob!u@h NICK :me3\r\n:me3!u@h PART #room :")
        << QStringList{raw(":bob!u@h NICK :me3"), raw(":me3!u@h PART #room :")} << room;
    QTest::newRow("before the welcome, any PART")
        << false << QByteArray(":x PART :#ROOM") << QStringList{left} << QStringList();
    QTest::newRow("before the welcome, KICK") << false << QByteArray(":op!u@h KICK #room me")
                                              << QStringList{raw(":op!u@h KICK #room me")} << room;
}

void tst_Channels::channelsFollowServerLines() {
    QFETCH(bool, welcomed);
    QFETCH(QByteArray, lines);
    QFETCH(QStringList, status);
    QFETCH(QStringList, channels);
    const QByteArray welcome = welcomed ? ":irc.test 001 me :Welcome\r\n" : "";
    QVERIFY(c->feed(welcome + ":me!u@h JOIN :#room\r\n" + lines + "\r\n"));
    const qsizetype first = welcomed ? 5 : 4;
    QCOMPARE(c->app.status().mid(first, c->app.status().size() - first - 1), status);
    QStringList held;
    for (const auto &channel : this->channels().NewEnum())
        held << channel->Name();
    QCOMPARE(held, channels);
    QCOMPARE(c->app.windowCount(), 1 + channels.size());
    QTest::qWait(50);
    QVERIFY(sentLines().isEmpty());
}

// The server goes with two channels joined: both windows stay with their text and report the
// usual "not connected"; on the next server our JOINs bring the same windows back, and nothing
// is sent twice.
void tst_Channels::disconnectKeepsWindowsUntilJoinedAgain() {
    QVERIFY(c->feed(":irc.test 001 me :Welcome\r\n:me!u@h JOIN :#a\r\n:me!u@h JOIN :#b\r\n"
                    ":bob!u@h PRIVMSG #a :before\r\n"));
    const std::shared_ptr<Child> a = c->app.window(2), b = c->app.window(3);
    c->server.closeClient();
    QVERIFY(c->app.waitForLine(
        1, QString("Disconnected from Server 127.0.0.1, Port %1").arg(c->server.port())));
    QCOMPARE(c->app.status().mid(c->app.status().size() - 2),
             (QStringList{"Left Channel #a", "Left Channel #b"}));
    QCOMPARE(c->app.windowCount(), 3);
    QVERIFY(!channels().Item("#a")->Joined() && !channels().Item("#b")->Joined());
    c->app.type(2, "anyone?");
    QCOMPARE(c->app.lines(2), (QStringList{"<bob> before", "anyone?", "MSG: not connected"}));

    c->app.type(1, QString("/server 127.0.0.1 %1").arg(c->server.port()));
    QVERIFY(c->server.waitForClient());
    QTRY_COMPARE(c->app.status().count(
                     QString("Connected to Server 127.0.0.1, Port %1").arg(c->server.port())),
                 2);
    QVERIFY(c->feed(":irc.test 001 me :Welcome\r\n:me!u@h JOIN :#a\r\n:me!u@h JOIN :#B\r\n"));
    QCOMPARE(c->app.status().mid(c->app.status().size() - 3, 2),
             (QStringList{"Joined Channel #a", "Joined Channel #b"}));
    QCOMPARE(c->app.windowCount(), 3);
    QCOMPARE(c->app.window(2), a);
    QCOMPARE(c->app.window(3), b);
    c->app.type(2, "back");
    QVERIFY(c->server.waitForLines(1));
    QTest::qWait(50);
    QCOMPARE(sentLines(), QList<QByteArray>{"PRIVMSG #a :back"});
}

void tst_Channels::teardownPartsEveryJoinedChannel() {
    QVERIFY(c->feed(":me!u@h JOIN :#a\r\n:me!u@h JOIN :#b\r\n"));
    channels().Add("#notjoined");
    c->app.connection().Delete();
    QVERIFY(c->server.waitForLines(2));
    QVERIFY(c->server.waitForDisconnect());
    QCOMPARE(sentLines(), (QList<QByteArray>{"PART :#b", "PART :#a"}));
    QCOMPARE(c->app.windowCount(), 1);
    QCOMPARE(c->app.app()->Connections()->Count(), 0);
    c->app.app()->Connections()->Add(); // the fixture's connection 1 again
}

void tst_Channels::exitPartsEveryJoinedChannel() {
    QVERIFY(c->feed(":me!u@h JOIN :#a\r\n:me!u@h JOIN :#b\r\n"));
    c->app.type(2, "/exit");
    QVERIFY(!c->app.running());
    QVERIFY(c->server.waitForDisconnect());
    QCOMPARE(sentLines(), (QList<QByteArray>{"PART :#b", "PART :#a"}));
}

void tst_Channels::nothingSentWhileNotConnected() {
    QVERIFY(c->feed(":me!u@h JOIN :#room\r\n"));
    c->app.type(1, "/disconnect");
    auto channel = channels().Item("#room");
    channel->Part();
    channel->SendPrivMsg("x");
    channel->SendNotice("y");
    channels().Join("#other");
    channel->Delete();
    QTest::qWait(50);
    QVERIFY(sentLines().isEmpty());
    QCOMPARE(channels().Count(), 1);
}

QTEST_MAIN(tst_Channels)
#include "tst_channels.moc"
