// The client as its user and its server see it: lines typed in its windows and lines from a
// scripted loopback server, against what every window shows and what reaches the wire. Each row
// is a script (see support/Script.h).

#include "app/Application.h"
#include "connection/IRCConnections.h"
#include "connection/MessageSplitter.h"
#include "connection/SocketArray.h"
#include "support/Script.h"
#include "windows/Childs.h"
#include "windows/frmMain.h"

#include <QRandomGenerator>
#include <QTest>

using Script = QList<QByteArray>;

class tst_Client : public QObject {
    Q_OBJECT
private slots:
    void offline_data();
    void offline();
    void typed_data();
    void typed();
    void serverLines_data();
    void serverLines();
    void partialLineDoesNotReachNextServer();
    void socketElementAllocation();
    void split_data();
    void split();
    void longMessageGoesAsSeveralLines_data();
    void longMessageGoesAsSeveralLines();
    void generatedInputsNeverInject();
};

static void row(const QByteArray &name, const Script &script) {
    QTest::newRow(name.constData()) << script;
}

// The command interpreter while connection 1 is not connected: every report and rejection.
void tst_Client::offline_data() {
    QTest::addColumn<Script>("script");
    row("empty command", {"1> /", "1: Empty command given. []"});
    row("blank command", {"1> /   ", "1: Empty command given. [   ]"});
    row("unknown keyword", {"1> /MS #a hi", "1: Unknown command: \"MS\" [MS #a hi]"});
    row("unknown keeps case", {"+", "2> /fOo bar", "2: Unknown command: \"fOo\" [fOo bar]"});
    row("plain text in status window is QUOTE", {"1> NICK me", "1: QUOTE: not connected"});
    for (const QByteArray cmd : {"msg", "notice", "quote", "server", "window", "disconnect now"})
        row(cmd + " without its arguments",
            {"1> /" + cmd, "1: Unknown command: \"" + cmd.split(' ')[0] + "\" [" + cmd + "]"});
    row("DISCONNECT", {"+", "2> /DISCONNECT", "1: DISCONNECT: not connected"});
    row("QUIT", {"+", "2> /quit bye", "1: QUIT: not connected"});
    row("QUOTE", {"+", "2> /quote PRIVMSG x :y", "1: QUOTE: not connected"});
    row("MSG stays in its window", {"+", "2> /msg #a hi", "2: MSG: not connected"});
    row("NOTICE stays in its window", {"+", "2> /NoTiCe bob hi", "2: NOTICE: not connected"});
    row("ECHO alone writes an empty line", {"+", "2> /echo", "2: "});
    row("ECHO into window 2", {"+", "1> /echo 2 hi there", "2: hi there"});
    row("ECHO out of range from the user stays here", {"1> /echo 2 hi there", "1: hi there"});
    row("ECHO out of range from another window", {"+", "2> /echo 5 hi", "2: hi"});
    row("ECHO out of range not from the user", {"+", "2? ECHO 5 hi", "1: hi"});
    row("ECHO word designator is dropped", {"1> /echo hi there", "1: there"});
    row("ECHO 0 is the current window", {"+", "2> /echo 0 hi", "2: hi"});
    row("ECHO keeps quotes", {"1> /echo 1 say \"a  b\" \"", "1: say \"a  b\" \""});
    row("ECHO huge number is a word", {"+", "1> /echo 99999999999 x", "1: x"});
    row("SERVER without a port takes 6667",
        {"1> /server 127.0.0.1", "1: Connecting to Server 127.0.0.1, Port 6667..."});
    row("SERVER invalid port",
        {"+", "2> /server localhost 70000", "2: SERVER: invalid port 70000"});
    row("SERVER port word", {"1> /server localhost abc", "1: SERVER: invalid port abc"});
    row("SERVER refused",
        {"1> /server 127.0.0.1 %2", "1: Connecting to Server 127.0.0.1, Port %2...",
         "1: Connection to Server 127.0.0.1, Port %2 failed", "1: Server(1): connection refused"});
    row("WINDOW unknown subcommand",
        {"1> /window foo", "1: Unknown command: \"window\" [window foo]"});
    row("WINDOW CLOSE not a number",
        {"1> /window close x", "1: Unknown command: \"window\" [window close x]"});
    row("WINDOW CLOSE out of range",
        {"+", "1> /window close 9", "1: Unknown command: \"window\" [window close 9]"});
    row("WINDOW NEW and CLOSE", {"1> /window new extra words", "1> /WINDOW NEW",
                                 "1> /window close 2", "2> /echo 0 x", "2: x", "= 2"});
    row("WINDOW CLOSE 0 from the user", {"+", "2> /window close 0", "= 1"});
    row("WINDOW CLOSE 0 not from the user",
        {"+", "2? WINDOW CLOSE 0", "2: Unknown command: \"WINDOW\" [WINDOW CLOSE 0]", "= 2"});
    row("WINDOW CLOSE not from the user", {"+", "2? WINDOW CLOSE", "= 1"});
    row("the status window stays open", {"close 1", "1: Attempt to close status window!", "= 1"});
}

void tst_Client::offline() {
    QFETCH(Script, script);
    runScript(script, false);
}

// Typed while connected, and what the program itself sends.
void tst_Client::typed_data() {
    QTest::addColumn<Script>("script");
    const QByteArray room = "< :me!u@h JOIN :#room", joined = "1: Joined Channel #room";
    row("plain text is QUOTE",
        {"1> USER alice 0 * :Alice A", "1: -> Server: [USER alice 0 * :Alice A]",
         "> USER alice 0 * :Alice A"});
    row("QUOTE stays raw", {"1> /quote PRIVMSG bob :" + QByteArray(1000, 'x'),
                            "1: -> Server: [PRIVMSG bob :" + QByteArray(1000, 'x') + "]",
                            "> PRIVMSG bob :" + QByteArray(1000, 'x')});
    row("QUIT", {"1> /quit", "1: QUIT -> Server(1): ", "> QUIT :"});
    row("QUIT with quotes", {"1> /quit see \"you all\"", "1: QUIT -> Server(1): see \"you all\"",
                             "> QUIT :see \"you all\""});
    row("MSG to a nick",
        {"+", "2> /msg bob He said \"hi there\": ok", "2: -> bob: He said \"hi there\": ok",
         "> PRIVMSG bob :He said \"hi there\": ok"});
    row("NOTICE without text", {"+", "2> /notice bob", "2: notice -> bob: ", "> NOTICE bob :"});
    row("DISCONNECT reports once",
        {"1> /disconnect", "1: Disconnected from Server 127.0.0.1, Port %1", "= 1"});
    row("CR LF never reach the wire", {"send PRIVMSG a :x\r\nQUIT :y", "> PRIVMSG a :x  QUIT :y"});
    row("lone LF", {"send a\nb", "> a b"});
    row("NUL", {QByteArray("send a\0b", 8), "> a b"});
    row("unicode", {"send h\xC3\xA9llo \xE2\x82\xAC", "> h\xC3\xA9llo \xE2\x82\xAC"});
    row("in a channel window",
        {room, joined, "2> He said \"hi there\" : ok", "> PRIVMSG #room :He said \"hi there\" : ok",
         "2> /notice #room psst", "> NOTICE #room :psst", "2> /msg #ROOM once",
         "> PRIVMSG #ROOM :once", "1> /msg #ROOM hey", "1: -> #ROOM: hey", "> PRIVMSG #ROOM :hey",
         "= 2 #room"});
    row("JOIN only while not joined",
        {"join #new", "> JOIN :#new", "join #NEW", "> JOIN :#new", "< :me!u@h JOIN :#new",
         "1: Joined Channel #new", "join #new", "= 2 #new"});
    row("deleting a joined channel sends one PART",
        {"< :me!u@h JOIN :#a", "1: Joined Channel #a", "< :me!u@h JOIN :#b", "1: Joined Channel #b",
         "< :me!u@h JOIN :#c", "1: Joined Channel #c", "delete #b", "> PART :#b",
         "< :bob!b@h PRIVMSG #c :hi", "3: <bob> hi", "= 3 #a #c"});
    row("closing a channel window sends one PART",
        {room, joined, "close 2", "> PART :#room", "<< :bob!b@h PRIVMSG #room :late", "= 1"});
    row("EXIT parts every joined channel",
        {"< :me!u@h JOIN :#a", "1: Joined Channel #a", "< :me!u@h JOIN :#b", "1: Joined Channel #b",
         "2! EXIT", "> PART :#b", "> PART :#a", "= 0"});
    row("nothing sent while not connected",
        {room, joined, "1> /disconnect", "1: Disconnected from Server 127.0.0.1, Port %1",
         "1: Left Channel #room", "2> hi", "2: MSG: not connected", "join #other", "delete #room",
         "= 2 #other"});
    row("a new SERVER closes the old quietly",
        {"1> /server 127.0.0.1 %1", "1: Connecting to Server 127.0.0.1, Port %1...",
         "1: Connected to Server 127.0.0.1, Port %1", "1> PING :x", "1: -> Server: [PING :x]",
         "> PING :x"});
    // The server goes with two channels joined: both windows stay with their text; the next
    // server's JOINs bring the same windows back, and nothing is sent twice.
    row("disconnect keeps windows until joined again",
        {"< :irc.test 001 me :Welcome",
         "1: <- Server(1): [:irc.test 001 me :Welcome]",
         "< :me!u@h JOIN :#a",
         "1: Joined Channel #a",
         "< :me!u@h JOIN :#b",
         "1: Joined Channel #b",
         "< :bob!u@h PRIVMSG #a :before",
         "2: <bob> before",
         "drop",
         "1: Disconnected from Server 127.0.0.1, Port %1",
         "1: Left Channel #a",
         "1: Left Channel #b",
         "2> anyone?",
         "2: MSG: not connected",
         "1> /server 127.0.0.1 %1",
         "1: Connecting to Server 127.0.0.1, Port %1...",
         "1: Connected to Server 127.0.0.1, Port %1",
         "<< :irc.test 001 me :Welcome",
         "< :me!u@h JOIN :#a",
         "1: Joined Channel #a",
         "< :me!u@h JOIN :#B",
         "1: Joined Channel #b",
         "2> back",
         "> PRIVMSG #a :back",
         "= 3 #a #b"});
}

void tst_Client::typed() {
    QFETCH(Script, script);
    runScript(script);
}

// One or more server lines, after our welcome as "me" and our confirmed JOIN of #room where
// the row says so. No row answers the server but the PINGs.
void tst_Client::serverLines_data() {
    QTest::addColumn<Script>("script");
    const Script room = {"< :me!u@h JOIN :#room", "1: Joined Channel #room"};
    const Script welcomed = Script{"<< :irc.test 001 me :Welcome"} + room;
    const auto raw = [&](const QByteArray &line) {
        row(line.left(40), room + Script{"<< " + line});
    };
    const auto inRoom = [&](const char *name, const QByteArray &line, const QByteArray &shown) {
        row(name, room + Script{"< " + line, "2: " + shown, "= 2 #room"});
    };
    const QByteArray left = "1: Left Channel #room";
    for (const QByteArray pong : {"abc", "a:b", "", "caf\xe9\x81"})
        row("PING :" + pong, {"< PING :" + pong, "> PONG :" + pong});
    row("PING with a LF", {"<| PING :a\nb\r\n", "> PONG :a b"});
    for (const char *line : {"PING abc", "ping :x", "PING", "ERROR", ":", ": PRIVMSG",
                             ":::::", ":n!u@h PRIVMSG me :hi", ":x PART :#u",
                             ":x PART :", ":x PRIVMSG :", ":x NOTICE :", ":x\tPRIVMSG #room :hi",
                             ":x  PRIVMSG  #room :hi", ":%s %n :%d", ": PRIVMSG #room :x",
                             ":bob!b@h PRIVMSG #room:x :hi"})
        raw(line);
    row("ERROR", room + Script{"< ERROR :Closing Link: host (Quit: bye)",
                               "1: Server(1) ERROR: Closing Link: host (Quit: bye)"});
    row("ERROR, empty", room + Script{"< ERROR :", "1: Server(1) ERROR: "});
    row("JOIN before the welcome",
        room + Script{"< :x JOIN #j", "1: Joined Channel #j", "= 3 #room #j"});
    row("JOIN without a channel", room + Script{"< :x JOIN :", "1: Joined Channel "});
    inRoom("privmsg", ":bob!b@h PRIVMSG #room :hi: all", "<bob> hi: all");
    inRoom("case-insensitive target", ":bob!b@h PRIVMSG #ROOM :x", "<bob> x");
    inRoom("notice", ":bob!b@h NOTICE #room :hi", "-bob- hi");
    inRoom("server as sender", ":irc.test NOTICE #room :n", "-irc.test- n");
    inRoom("trailing colons kept", ":b PRIVMSG #room ::) :(", "<b> :) :(");
    inRoom("IPv6 host", ":bob!~b@2001:db8::1 PRIVMSG #room :hi", "<bob> hi");
    inRoom("no user and host", ":n!@ PRIVMSG #room :x", "<n> x");
    inRoom("long nick", ":" + QByteArray(1000, 'n') + "!u@h PRIVMSG #room :hi",
           "<" + QByteArray(1000, 'n') + "> hi");
    inRoom("extra middle parameter", ":bob!b@h PRIVMSG #room x :hi: there", "<bob> hi: there");
    inRoom("action",
           ":bob!b@h PRIVMSG #room :\x01"
           "ACTION waves\x01",
           "* bob waves");
    inRoom("action without its end",
           ":bob PRIVMSG #room :\x01"
           "ACTION a b",
           "* bob a b");
    inRoom("other CTCP as before", ":bob PRIVMSG #room :\x01VERSION\x01", "<bob> \x01VERSION\x01");
    inRoom("ACTIONS is no action",
           ":bob PRIVMSG #room :\x01"
           "ACTIONS\x01",
           "<bob> \x01"
           "ACTIONS\x01");
    row("brackets are not braces",
        {"< :me!u@h JOIN :#a{b", "1: Joined Channel #a{b", "< :bob!b@h PRIVMSG #A{B :x",
         "2: <bob> x", "<< :bob!b@h PRIVMSG #a[b :y", "= 2 #a{b"});
    const auto follow = [&](const char *name, const Script &lines) {
        row(name, welcomed + lines);
    };
    follow("our PART, ngircd", {"< :me!u@h PART #room :", left, "= 1"});
    follow("our PART, InspIRCd", {"< :me!u@h PART :#room", left, "= 1"});
    follow("our PART, hybrid", {"< :me!u@h PART #room", left, "= 1"});
    follow("our PART with a reason", {"< :me!u@h PART #room :see you", left, "= 1"});
    follow("our PART, other case", {"< :ME!u@h PART #ROOM :", left, "= 1"});
    follow("our PART, IPv6 host", {"< :me!~m@2001:db8::1 PART #room :", left, "= 1"});
    follow("their PART, InspIRCd", {"<< :bob!u@h PART :#room", "= 2 #room"});
    follow("their PART, ngircd", {"<< :bob!u@h PART #room :", "= 2 #room"});
    follow("their JOIN", {"<< :bob!u@h JOIN :#room", "= 2 #room"});
    follow("their JOIN elsewhere", {"<< :bob!u@h JOIN :#other", "= 2 #room"});
    follow("our JOIN again, other case", {"<< :me!u@h JOIN :#ROOM", "= 2 #room"});
    follow("our JOIN without colon",
           {"< :me!u@h JOIN #two", "1: Joined Channel #two", "= 3 #room #two"});
    follow("KICK of us", {"< :op!u@h KICK #room me :out",
                          "1: Kicked from Channel #room by op (out)", left, "= 1"});
    follow("KICK of us, no reason",
           {"< :op!u@h KICK #ROOM ME", "1: Kicked from Channel #room by op", left, "= 1"});
    follow("KICK of them", {"<< :op!u@h KICK #room bob :out", "= 2 #room"});
    follow("KICK of us elsewhere", {"<< :op!u@h KICK #nope me :x", "= 2 #room"});
    follow("our NICK, then PART", {"<< :me!u@h NICK :me2", "< :me2!u@h PART #room :", left, "= 1"});
    follow("our old nick after NICK",
           {"<< :me!u@h NICK :me2", "<< :me!u@h PART #room :", "= 2 #room"});
    follow("their NICK", {"<< :bob!u@h NICK :me3", "<< :me3!u@h PART #room :", "= 2 #room"});
    row("before the welcome, any PART", room + Script{"< :x PART :#ROOM", left, "= 1"});
    row("before the welcome, KICK", room + Script{"<< :op!u@h KICK #room me", "= 2 #room"});
    // Lines that arrive together with the server's close are shown before the close itself.
    row("server close keeps the last lines",
        {"<| ERROR :Closing Link: host (Quit: bye)\r\n:srv 999 last\r\npartial", "drop",
         "1: Server(1) ERROR: Closing Link: host (Quit: bye)", "1: <- Server(1): [:srv 999 last]",
         "1: Disconnected from Server 127.0.0.1, Port %1"});
    row("too long a line is dropped",
        {"<| :a 1 before\r\n" + QByteArray(200 * 1024, 'x') + "\r\n:a 2 after\r\n",
         "1: <- Server(1): [:a 1 before]", "1: Server(1): line longer than 65536 bytes, dropped",
         "1: <- Server(1): [:a 2 after]"});
}

void tst_Client::serverLines() {
    QFETCH(Script, script);
    runScript(script);
}

// The old server's unfinished line is not glued to the new server's first line.
void tst_Client::partialLineDoesNotReachNextServer() {
    runScript({"<| :old 1 unfinished", "drop", "1: Disconnected from Server 127.0.0.1, Port %1",
               "1> /server 127.0.0.1 %1", "1: Connecting to Server 127.0.0.1, Port %1...",
               "1: Connected to Server 127.0.0.1, Port %1", "<< :new 1 first"});
}

// The lowest free element from 1 up; a removed connection's element is taken again.
void tst_Client::socketElementAllocation() {
    AppFixture f;
    IRCConnections *connections = f.app()->Connections();
    auto second = connections->Add();
    auto third = connections->Add();
    connections->Remove(2);
    QCOMPARE(third->Index(), 2);
    QCOMPARE(third->SocketIndex(), qint16(3));
    QVERIFY(!f.app()->MainWindow()->wsConnection().Exists(2));
    QCOMPARE(connections->Add()->SocketIndex(), qint16(2));
    connections->Remove(1);
    QCOMPARE(connections->Add()->SocketIndex(), qint16(1));
    QCOMPARE(f.app()->MainWindow()->wsConnection().UBound(), qint16(3));
    QVERIFY_THROWS_EXCEPTION(VelloqError, connections->Item(4));
}

void tst_Client::split_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("parts");
    QTest::newRow("empty") << QString() << 1;
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
void tst_Client::split() {
    QFETCH(QString, text);
    QFETCH(int, parts);
    const QStringList split = MessageSplitter::Split(text);
    QCOMPARE(split.size(), parts);
    QCOMPARE(split.join(QString()), text);
    for (const QString &part : split) {
        QVERIFY(part.toUtf8().size() <= MessageSplitter::MaxTextBytes);
        QVERIFY(part.isEmpty() ? text.isEmpty()
                               : !part.front().isLowSurrogate() && !part.back().isHighSurrogate());
    }
    if (text.contains(' ') && split.size() > 1)
        QVERIFY(split.first().endsWith(' '));
}

void tst_Client::longMessageGoesAsSeveralLines_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("verb");
    QTest::addColumn<int>("length");
    QTest::newRow("MSG") << "/msg bob " << QByteArray("PRIVMSG bob :") << 1500;
    QTest::newRow("NOTICE") << "/notice bob " << QByteArray("NOTICE bob :") << 1500;
    QTest::newRow("channel window") << "" << QByteArray("PRIVMSG #room :") << 1500;
    QTest::newRow("40,000-character paste") << "" << QByteArray("PRIVMSG #room :") << 40000;
}

void tst_Client::longMessageGoesAsSeveralLines() {
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
    // The typed line ends in a blank that the word splitting drops.
    QTRY_COMPARE_WITH_TIMEOUT(rejoined(), text.trimmed(), 10000);
    const QList<QByteArray> lines = c.server.receivedLines();
    QVERIFY(lines.size() >= 4);
    for (const QByteArray &line : lines) {
        QVERIFY(line.startsWith(verb));
        QVERIFY(line.size() + 2 + 100 <= 512); // room for the relaying server's prefix
    }
    QCOMPARE(c.app.lines(2).size(), command.isEmpty() ? 1 : 2); // the whole text shown once
}

// Random typed lines in the status window, a plain window and a channel window, full of line
// ends, NULs, quotes, colons, Unicode and long runs: the wire carries only whole lines, and a
// forged command inside a text never becomes a line of its own.
void tst_Client::generatedInputsNeverInject() {
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
                                "\u2028",
                                "\t",
                                "/",
                                "QUIT",
                                "PRIVMSG",
                                "#room",
                                "\r\nINJECTED :forged",
                                QString::fromUtf8("é€\U0001F600")};
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
    QVERIFY(QTest::qWaitFor([&] { return c.server.received().endsWith("END\r\n"); }, 30000));
    const QByteArray wire = c.server.received();
    QVERIFY(!wire.contains('\0'));
    QCOMPARE(wire.count('\r'), wire.count("\r\n")); // no CR alone
    QCOMPARE(wire.count('\n'), wire.count("\r\n")); // no LF alone
    for (const QByteArray &line : c.server.receivedLines())
        QVERIFY2(!line.startsWith("INJECTED"), line.constData());
    qInfo("%d typed inputs checked, %lld lines on the wire", total, qlonglong(wire.count('\n')));
}

QTEST_MAIN(tst_Client)
#include "tst_client.moc"
