// Channels and their windows, driven by server lines from a scripted loopback server.

#include "app/Application.h"
#include "channel/Channels.h"
#include "connection/IRCConnections.h"
#include "support/AppFixture.h"
#include "support/ScriptedServer.h"
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
    void joinAgainWhenJoinedIsNotProcessed();
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
    std::unique_ptr<AppFixture> f;
    std::unique_ptr<ScriptedServer> server;
    Channels &channels() const { return *f->connection().Channels(); }
    // Sends server lines and waits until a marker line after them has been shown.
    void feed(const QByteArray &lines);
    QList<QByteArray> sentLines() const { return server->receivedLines(); }
};

void tst_Channels::init() {
    f = std::make_unique<AppFixture>();
    server = std::make_unique<ScriptedServer>();
    QVERIFY(f->connectTo(*server));
}

void tst_Channels::cleanup() {
    f.reset();
    server.reset();
}

void tst_Channels::feed(const QByteArray &lines) {
    QVERIFY(f->feed(*server, lines));
}

void tst_Channels::confirmedJoinOpensWindow() {
    feed(":me!u@h JOIN :#room\r\n");
    QCOMPARE(f->status().at(3), QString("Joined Channel #room"));
    QCOMPARE(channels().Count(), 1);
    auto channel = channels().Item(1);
    QVERIFY(channel->Joined());
    QCOMPARE(channel->Name(), QString("#room"));
    QCOMPARE(f->windowCount(), 2);
    QCOMPARE(channel->Window(), f->window(2));
    QCOMPARE(f->window(2)->DefaultCommand(), QString("MSG #room"));
    QCOMPARE(f->window(2)->Caption(), QString("2 - unused"));
    QVERIFY(sentLines().isEmpty());
}

void tst_Channels::joinAgainWhenJoinedIsNotProcessed() {
    feed(":me!u@h JOIN :#room\r\n:me!u@h JOIN :#ROOM\r\n");
    QCOMPARE(f->status().mid(3, 2),
             (QStringList{"Joined Channel #room", "<- Server(1): [:me!u@h JOIN :#ROOM]"}));
    QCOMPARE(channels().Count(), 1);
}

void tst_Channels::messagesAndNoticesShowInWindow_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("shown");
    QTest::newRow("privmsg") << QByteArray(":bob!b@h PRIVMSG #room :hi: all") << "<bob> hi: all";
    QTest::newRow("case-insensitive target")
        << QByteArray(":bob!b@h PRIVMSG #ROOM :x") << "<bob> x";
    QTest::newRow("notice") << QByteArray(":bob!b@h NOTICE #room :hi") << "-bob- hi";
    QTest::newRow("empty notice") << QByteArray(":bob!b@h NOTICE #room :") << "-bob- ";
    QTest::newRow("server as sender") << QByteArray(":irc.test NOTICE #room :n") << "-irc.test- n";
    QTest::newRow("empty user part") << QByteArray(":n!@ PRIVMSG #room :x") << "<n> x";
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
    feed(":me!u@h JOIN :#room\r\n" + line + "\r\n");
    QCOMPARE(f->lines(2), QStringList{shown});
    QCOMPARE(f->status().size(), 5); // the typed /server, 2 connection lines, join, marker
}

void tst_Channels::typedTextGoesToChannel() {
    feed(":me!u@h JOIN :#room\r\n");
    f->type(2, "He said \"hi there\" : ok");
    f->type(2, "/notice #room psst");
    QVERIFY(server->waitForLines(2));
    QCOMPARE(sentLines(),
             (QList<QByteArray>{"PRIVMSG #room :He said \"hi there\" : ok", "NOTICE #room :psst"}));
    QCOMPARE(f->lines(2), (QStringList{"He said \"hi there\" : ok", "/notice #room psst"}));
    // From another window the message is echoed there.
    f->type(1, "/msg #ROOM hey");
    QCOMPARE(f->lastLine(1), QString("-> #ROOM: hey"));
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
    feed(":me!u@h JOIN :#new\r\n");
    QVERIFY(fresh->Joined());
    QCOMPARE(channels().Join("#new"), fresh); // joined: nothing sent
    fresh->Join();
    QTest::qWait(50);
    QCOMPARE(sentLines(), (QList<QByteArray>{"JOIN :#new", "JOIN :#new"}));
    QCOMPARE(channels().Count(), 1);
}

void tst_Channels::deleteJoinedSendsOnePart() {
    feed(":me!u@h JOIN :#a\r\n:me!u@h JOIN :#b\r\n:me!u@h JOIN :#c\r\n");
    auto b = channels().Item("#b");
    QPointer<QMdiSubWindow> sub = b->Window()->Form()->SubWindow();
    b->Delete();
    QVERIFY(server->waitForLines(1));
    QTest::qWait(50);
    QCOMPARE(sentLines(), QList<QByteArray>{"PART :#b"});
    QCOMPARE(b->Index(), -1);
    QCOMPARE(channels().Count(), 2);
    QCOMPARE(channels().Item("#c")->Index(), 2);
    QCOMPARE(f->windowCount(), 3);
    AppFixture::settle();
    QVERIFY(sub.isNull());
    b->Delete(); // again: nothing more
    QTest::qWait(50);
    QCOMPARE(sentLines().size(), 1);
}

void tst_Channels::userCloseSendsOnePart() {
    feed(":me!u@h JOIN :#room\r\n");
    auto channel = channels().Item("#room");
    channel->Window()->Form()->SubWindow()->close();
    QVERIFY(server->waitForLines(1));
    QTest::qWait(50);
    QCOMPARE(sentLines(), QList<QByteArray>{"PART :#room"});
    QCOMPARE(channels().Count(), 0);
    QCOMPARE(f->windowCount(), 1);
    QCOMPARE(channel->Index(), -1);
    // Traffic for the closed channel now goes to the status window.
    feed(":bob!b@h PRIVMSG #room :late\r\n");
    QVERIFY(f->status().contains("<- Server(1): [:bob!b@h PRIVMSG #room :late]"));
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
    feed(welcome + ":me!u@h JOIN :#room\r\n" + lines + "\r\n");
    const qsizetype first = welcomed ? 5 : 4;
    QCOMPARE(f->status().mid(first, f->status().size() - first - 1), status);
    QStringList held;
    for (const auto &channel : this->channels().NewEnum())
        held << channel->Name();
    QCOMPARE(held, channels);
    QCOMPARE(f->windowCount(), 1 + channels.size());
    QTest::qWait(50);
    QVERIFY(sentLines().isEmpty());
}

// The server goes with two channels joined: both windows stay with their text and report the
// usual "not connected"; on the next server our JOINs bring the same windows back, and nothing
// is sent twice.
void tst_Channels::disconnectKeepsWindowsUntilJoinedAgain() {
    feed(":irc.test 001 me :Welcome\r\n:me!u@h JOIN :#a\r\n:me!u@h JOIN :#b\r\n"
         ":bob!u@h PRIVMSG #a :before\r\n");
    const std::shared_ptr<Child> a = f->window(2), b = f->window(3);
    server->closeClient();
    QVERIFY(f->waitForLine(
        1, QString("Disconnected from Server 127.0.0.1, Port %1").arg(server->port())));
    QCOMPARE(f->status().mid(f->status().size() - 2),
             (QStringList{"Left Channel #a", "Left Channel #b"}));
    QCOMPARE(f->windowCount(), 3);
    QVERIFY(!channels().Item("#a")->Joined() && !channels().Item("#b")->Joined());
    f->type(2, "anyone?");
    QCOMPARE(f->lines(2), (QStringList{"<bob> before", "anyone?", "MSG: not connected"}));

    f->type(1, QString("/server 127.0.0.1 %1").arg(server->port()));
    QVERIFY(server->waitForClient());
    QTRY_COMPARE(
        f->status().count(QString("Connected to Server 127.0.0.1, Port %1").arg(server->port())),
        2);
    feed(":irc.test 001 me :Welcome\r\n:me!u@h JOIN :#a\r\n:me!u@h JOIN :#B\r\n");
    QCOMPARE(f->status().mid(f->status().size() - 3, 2),
             (QStringList{"Joined Channel #a", "Joined Channel #b"}));
    QCOMPARE(f->windowCount(), 3);
    QCOMPARE(f->window(2), a);
    QCOMPARE(f->window(3), b);
    f->type(2, "back");
    QVERIFY(server->waitForLines(1));
    QTest::qWait(50);
    QCOMPARE(sentLines(), QList<QByteArray>{"PRIVMSG #a :back"});
}

void tst_Channels::teardownPartsEveryJoinedChannel() {
    feed(":me!u@h JOIN :#a\r\n:me!u@h JOIN :#b\r\n");
    channels().Add("#notjoined");
    f->connection().Delete();
    QVERIFY(server->waitForLines(2));
    QVERIFY(server->waitForDisconnect());
    QCOMPARE(sentLines(), (QList<QByteArray>{"PART :#b", "PART :#a"}));
    QCOMPARE(f->windowCount(), 1);
    QCOMPARE(f->app()->Connections()->Count(), 0);
    f->app()->Connections()->Add(); // the fixture's connection 1 again
}

void tst_Channels::exitPartsEveryJoinedChannel() {
    feed(":me!u@h JOIN :#a\r\n:me!u@h JOIN :#b\r\n");
    f->type(2, "/exit");
    QVERIFY(!f->running());
    QVERIFY(server->waitForDisconnect());
    QCOMPARE(sentLines(), (QList<QByteArray>{"PART :#b", "PART :#a"}));
}

void tst_Channels::nothingSentWhileNotConnected() {
    feed(":me!u@h JOIN :#room\r\n");
    f->type(1, "/disconnect");
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
