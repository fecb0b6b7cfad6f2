// The client as its user and its server see it: lines typed in its windows and lines from a
// scripted loopback server, against what every window shows and what reaches the wire. Most rows
// are scripts (see support/Script.h).

#include "channel/Channels.h"
#include "connection/SocketArray.h"
#include "support/Script.h"
#include "windows/Child.h"
#include "windows/frmMain.h"

#include <QFile>
#include <QMdiSubWindow>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

using Script = QList<QByteArray>;

class tst_Client : public QObject {
    Q_OBJECT
private slots:
    void scripts_data();
    void scripts();
    void socketElementAllocation();
    void longMessageGoesAsSeveralLines_data();
    void longMessageGoesAsSeveralLines();
    void generatedInputsNeverInject();
    void duringBurst_data();
    void duringBurst();
    void pingFloodNeverRead();
    void joinBurst();
};

static void row(const QByteArray &name, const Script &script) {
    QTest::newRow(name.constData()) << script;
}

// The server confirms our JOIN of each channel, and the status window says so.
static Script joined(const QList<QByteArray> &channels) {
    Script out;
    for (const QByteArray &channel : channels)
        out << "< :me!u@h JOIN :" + channel << "1: Joined Channel " + channel;
    return out;
}

// Lines typed ("N/text": text in window N) and the answer to each: in the window typed in, or
// (with prefix "> ") on the wire.
static Script answers(const QList<std::pair<QByteArray, QByteArray>> &typed,
                      const QByteArray &prefix = {}) {
    Script out;
    for (const auto &[line, answer] : typed)
        out << line.left(1) + "> " + line.mid(1)
            << (prefix.isEmpty() ? line.left(1) + ": " : prefix) + answer;
    return out;
}

static const QByteArray disconnected = "Disconnected from Server 127.0.0.1, Port %1";
static const Script reconnect = {"1> /server 127.0.0.1 %1",
                                 "1: Connecting to Server 127.0.0.1, Port %1...",
                                 "1: Connected to Server 127.0.0.1, Port %1"};

void tst_Client::scripts_data() {
    QTest::addColumn<Script>("script");
    // The command interpreter while connection 1 is not connected: every report and rejection.
    Script unknown = {"offline", "1> /", "1: Empty command given. []", "1> /   ",
                      "1: Empty command given. [   ]"};
    for (const QByteArray typed :
         {"MS #a hi", "fOo bar", "msg", "notice", "quote", "server", "window", "disconnect now",
          "window foo", "window close x", "window close 9", "joi #a", "mee x"})
        unknown << "1> /" + typed
                << "1: Unknown command: \"" + typed.split(' ')[0] + "\" [" + typed + "]";
    row("unknown or incomplete", unknown);
    // Typed in window 2 (the digit: the window that answers; the connection's own commands
    // answer in the status window).
    Script notConnected = {"offline", "+", "1> NICK me", "1: QUOTE: not connected"};
    for (const QByteArray typed :
         {"1/DISCONNECT", "1/quit bye", "1/quote PRIVMSG x :y", "2/msg #a hi", "2/NoTiCe bob hi",
          "2/join #a", "2/Nick me", "2/part #a bye", "2/whois dave", "2/topic #a x", "2/away"})
        notConnected << "2> " + typed.mid(1)
                     << typed.left(1) + ": " + typed.mid(2).split(' ')[0].toUpper() +
                            ": not connected";
    row("not connected", notConnected);
    // The habitual commands used wrongly, or where they make no sense (near misses of their names
    // are in the unknown ones above).
    row("wrong use of JOIN, PART, NICK, ME, HELP",
        Script{"offline", "+", "1> /join", "1: JOIN: usage: /JOIN #channel[,#channel...] [keys]",
               "2> /JOIN #a key extra", "2: JOIN: usage: /JOIN #channel[,#channel...] [keys]",
               "1> /nick", "1: NICK: usage: /NICK name", "1> /nick \"a b\" c",
               "1: NICK: usage: /NICK name", "2> /me", "2: ME: usage: /ME text"} +
            Script{
                "1> /me waves", "1: ME: no channel in this window", "2> /part",
                "2: PART: no channel in this window", "1> /part bye",
                "1: PART: no channel in this window", "1> /help nope", "1: HELP: no command nope",
                "2> /help /part",
                "2: /PART [#channel] [reason] - leave a channel (this window's without a name)"} +
            answers({{"1/whois a b", "WHOIS: usage: /WHOIS nick"},
                     {"1/names", "NAMES: no channel in this window"},
                     {"1/mode", "MODE: usage: /MODE target [modes [arguments]]"},
                     {"1/kick", "KICK: usage: /KICK nick [reason]"},
                     {"1/kick bob", "KICK: no channel in this window"},
                     {"1/invite", "INVITE: usage: /INVITE nick [#channel]"},
                     {"2/clear all", "CLEAR: usage: /CLEAR"},
                     {"2/close 2", "CLOSE: usage: /CLOSE"}}));
    row("ECHO", Script{"offline", "1> /echo 2 hi there", "1: hi there", "+", "2> /echo",
                       "2: ", "1> /echo 2 hi there", "2: hi there", "2> /echo 0 hi", "2: hi"} +
                    Script{"1> /echo hi there", "1: there", "1> /echo 1 say \"a  b\" \"",
                           "1: say \"a  b\" \"", "1> /echo 99999999999 x", "1: x", "2> /echo 5 hi",
                           "2: hi", "2? ECHO 5 hi", "1: hi"});
    row("SERVER",
        {"offline", "+", "2> /server localhost 70000", "2: SERVER: invalid port 70000",
         "1> /server localhost abc", "1: SERVER: invalid port abc", "1> /server 127.0.0.1 %2",
         "1: Connecting to Server 127.0.0.1, Port %2...",
         "1: Connection to Server 127.0.0.1, Port %2 failed", "1: Server(1): connection refused",
         "1> /server 127.0.0.1", "1: Connecting to Server 127.0.0.1, Port 6667..."});
    row("TLS handshake timeout", {"offline", "handshake 300", "1> /server 127.0.0.1 +%3",
                                  "1: Connecting to Server 127.0.0.1, Port +%3...",
                                  "1: Connection to Server 127.0.0.1, Port %3 failed",
                                  "1: Server(1): TLS handshake timed out"});
    row("WINDOW", {"offline", "1> /window new extra words", "1> /WINDOW NEW", "1> /window close 2",
                   "2> /echo 0 x", "2: x", "2> /window close 0", "+", "2? WINDOW CLOSE 0",
                   "2: Unknown command: \"WINDOW\" [WINDOW CLOSE 0]", "close 1",
                   "1: Attempt to close status window!", "1> /window close 1",
                   "1: Attempt to close status window!", "2? WINDOW CLOSE", "= 1"});

    // Typed while connected, and what the program itself sends.
    const QByteArray x1000(1000, 'x');
    row("QUOTE, MSG, NOTICE, QUIT",
        Script{"1> USER alice 0 * :Alice A", "1: -> Server: [USER alice 0 * :Alice A]",
               "> USER alice 0 * :Alice A", "1> /quote PRIVMSG bob :" + x1000,
               "1: -> Server: [PRIVMSG bob :" + x1000 + "]", "> PRIVMSG bob :" + x1000, "+",
               "2> /msg bob He said \"hi there\": ok", "2: -> bob: He said \"hi there\": ok",
               "> PRIVMSG bob :He said \"hi there\": ok", "2> /notice bob",
               "2: notice -> bob: ", "> NOTICE bob :"} +
            Script{"1> /quit see \"you all\"", "1: QUIT -> Server(1): see \"you all\"",
                   "> QUIT :see \"you all\"", "1> /quit", "1: QUIT -> Server(1): ", "> QUIT :"});
    row("one line on the wire, whatever the text holds",
        {"send PRIVMSG a :x\r\nQUIT :y", "> PRIVMSG a :x  QUIT :y", "send a\nb", "> a b",
         QByteArray("send a\0b", 8), "> a b", "send h\xC3\xA9llo \xE2\x82\xAC",
         "> h\xC3\xA9llo \xE2\x82\xAC"});
    row("in a channel window",
        joined({"#room"}) +
            Script{"2> He said \"hi there\" : ok", "> PRIVMSG #room :He said \"hi there\" : ok",
                   "2> /notice #room psst", "> NOTICE #room :psst", "2> /msg #ROOM once",
                   "> PRIVMSG #ROOM :once", "1> /msg #ROOM hey", "1: -> #ROOM: hey",
                   "> PRIVMSG #ROOM :hey", "= 2 #room"});
    // JOIN, PART and NICK go out with the words as typed; ME needs a joined channel's window.
    row("JOIN, PART, NICK, ME",
        Script{"<< :irc.test 001 me :Welcome", "1> /JOIN #a,#b k1,k2", "> JOIN #a,#b k1,k2"} +
            joined({"#a"}) +
            Script{"2> /me waves \"hi there\": ok",
                   "> PRIVMSG #a :\001ACTION waves \"hi there\": ok\001", "2> /part", "> PART #a",
                   "2> /Part see  you", "> PART #a :see you", "2> /part #b bye", "> PART #b :bye",
                   "1> /nick al", "> NICK al", "< :op!u@h KICK #a me",
                   "1: Kicked from Channel #a by op", "1: Left Channel #a",
                   "2: Kicked from Channel #a by op", "2> /me waves",
                   "2: ME: not joined to #a (type /join #a)", "= 2 #a"});
    // A channel window opened by the server's JOIN stays in the background: a raw JOIN typed
    // right after goes to the server. One asked for with /join comes to the front, unless the
    // user has started another line.
    row("JOIN and the keyboard focus",
        Script{"1> JOIN #a", "1: -> Server: [JOIN #a]", "> JOIN #a", "< :me!u@h JOIN :#a",
               "1: Joined Channel #a", "keys JOIN #b\n", "1: JOIN #b", "1: -> Server: [JOIN #b]",
               "> JOIN #b", "focus 1", "1> /join #c", "> JOIN #c", "keys QUIT",
               "< :me!u@h JOIN :#c"} +
            Script{"1: Joined Channel #c", "focus 1", "keys  :x\n", "1: QUIT :x",
                   "1: -> Server: [QUIT :x]", "> QUIT :x", "1> /join #d", "> JOIN #d",
                   "< :me!u@h JOIN :#d", "1: Joined Channel #d", "focus 4", "keys hi\n", "4: hi",
                   "> PRIVMSG #d :hi"} +
            // Back in the input when it comes back, even from the output box.
            Script{"keys \t", "< :me!u@h PART :#d", "1: Left Channel #d",
                   "4: Removed from Channel #d by the server", "1> /join #d", "> JOIN #d",
                   "< :me!u@h JOIN :#d", "1: Joined Channel #d", "focus 4", "1> /join #D,#e",
                   "> JOIN #D,#e", "focus 4"});
    // The everyday commands, from a channel window (its channel by default) and elsewhere.
    row("WHOIS, NAMES, TOPIC, AWAY, MODE, KICK, INVITE, CLOSE",
        joined({"#a"}) +
            answers({{"2/whois dave", "WHOIS dave"},
                     {"2/names", "NAMES #a"},
                     {"1/NAMES #b", "NAMES #b"},
                     {"2/topic", "TOPIC #a"},
                     {"2/topic new: \"t\"", "TOPIC #a :new: \"t\""},
                     {"1/topic #b x", "TOPIC #b :x"},
                     {"2/away gone", "AWAY :gone"},
                     {"2/away", "AWAY"},
                     {"2/mode #a +o bob", "MODE #a +o bob"},
                     {"1/mode me", "MODE me"},
                     {"2/kick bob", "KICK #a bob"},
                     {"2/kick bob go away", "KICK #a bob :go away"},
                     {"2/invite bob", "INVITE bob #a"},
                     {"1/invite bob #b", "INVITE bob #b"},
                     {"2/close", "PART :#a"}},
                    "> ") +
            Script{"1> /close", "1: Attempt to close status window!", "= 1"});
    row("JOIN only while not joined",
        {"join #new", "> JOIN :#new", "join #NEW", "> JOIN :#new", "< :me!u@h JOIN :#new",
         "1: Joined Channel #new", "join #new", "= 2 #new"});
    row("deleting a joined channel, or closing its window, sends one PART",
        joined({"#a", "#b", "#c"}) + Script{"delete #b", "> PART :#b", "close 3", "> PART :#c",
                                            "<< :bob!b@h PRIVMSG #c :late",
                                            "< :bob!b@h PRIVMSG #a :hi", "2: <bob> hi", "= 2 #a"});
    // The server goes with two channels joined: both windows stay with their text; the next
    // server's JOINs bring the same windows back, and nothing is sent twice.
    row("disconnect keeps windows until joined again",
        Script{"<< :irc.test 001 me :Welcome"} + joined({"#a", "#b"}) +
            Script{"< :bob!u@h PRIVMSG #a :before", "2: <bob> before", "drop", "1: " + disconnected,
                   "1: Left Channel #a", "1: Left Channel #b", "2: " + disconnected,
                   "3: " + disconnected, "2> anyone?", "2: MSG: not connected"} +
            reconnect +
            Script{"<< :irc.test 001 me :Welcome", "< :me!u@h JOIN :#a", "1: Joined Channel #a",
                   "< :me!u@h JOIN :#B", "1: Joined Channel #b", "2> back", "> PRIVMSG #a :back",
                   "= 3 #a #b"});

    // Messages are paced: B go at once, then one every interval; the rest waits, with one line
    // in its window. Commands and replies pass the waiting messages; what still waits when the
    // connection ends is dropped with one line.
    const Script paced =
        joined({"#room"}) + Script{"pace 2 300",           "2> one",
                                   "> PRIVMSG #room :one", "2> two",
                                   "> PRIVMSG #room :two", "2> three",
                                   "2> /notice bob four",  "2: notice -> bob: four"};
    const QByteArray waiting2 = "2: Server(1): 2 lines waiting to be sent, one every 0.3 s";
    row("pacing: a short exchange at once, then one by one, commands first",
        paced + Script{"1> /quote JOIN #x", "1: -> Server: [JOIN #x]", "> JOIN #x", waiting2,
                       "< PING :p", "> PONG :p", "> PRIVMSG #room :three", "> NOTICE bob :four",
                       "2> five", "2: Server(1): 1 line waiting to be sent, one every 0.3 s",
                       "> PRIVMSG #room :five"});
    // A quiet spell refills the bucket up to the burst only, however long it lasts.
    row("pacing: after a quiet spell a paste sends only the burst at once",
        paced + Script{waiting2, "> PRIVMSG #room :three", "> NOTICE bob :four", "quiet 1500",
                       "2> a\nb\nc\nd", "> PRIVMSG #room :a", "> PRIVMSG #room :b", "2: a", "2: b",
                       waiting2, "> PRIVMSG #room :c", "2: c", "> PRIVMSG #room :d", "2: d"});
    const QByteArray notSent = "1: Server(1): 2 waiting lines not sent";
    // Nothing is sent while not connected either.
    row("pacing: dropped at DISCONNECT",
        paced + Script{waiting2, "1> /disconnect", "1: " + disconnected, notSent,
                       "1: Left Channel #room", "2: " + disconnected, "2> hi",
                       "2: MSG: not connected", "join #other", "delete #room", "= 2 #other"});
    // Only the channel's window says which connection ended. The old server's wire is not
    // checked: the scripted server keeps only the new one's.
    row("pacing: dropped at a new SERVER, and the new one starts afresh",
        joined({"#room"}) + Script{"pace 1 5000",
                                   "2> one",
                                   "2> two",
                                   "2> three",
                                   "2: Server(1): 2 lines waiting to be sent, one every 5 s",
                                   reconnect[0],
                                   "1: " + disconnected,
                                   notSent,
                                   "1: Left Channel #room",
                                   "2: " + disconnected,
                                   reconnect[1],
                                   "1> /msg bob two",
                                   "1: MSG: not connected",
                                   "2> four",
                                   "2: MSG: not connected",
                                   reconnect[2],
                                   "1> /msg bob again",
                                   "1: -> bob: again",
                                   "> PRIVMSG bob :again",
                                   "= 2 #room"});
    // Lines wait for #a and #b; however we leave #a, its lines are dropped with one line and
    // nothing more goes to it, while #b's line still goes. A NICK goes before what waits.
    const Script twoWaiting = Script{"<< :irc.test 001 me :Welcome"} + joined({"#a", "#b"}) +
                              Script{"pace 1 5000",
                                     "2> a1",
                                     "> PRIVMSG #a :a1",
                                     "2> a2",
                                     "3> b1",
                                     "2> a3",
                                     "2: Server(1): 3 lines waiting to be sent, one every 5 s"};
    const QByteArray twoForA = "1: Server(1): 2 waiting lines for #a not sent";
    const Script bGoes = {"pace 1 0", "> PRIVMSG #b :b1"};
    row("waiting lines dropped at our PART, and nothing after it",
        twoWaiting + Script{"2> /part bye", "> PART #a :bye", twoForA, "2> after-part",
                            "1: Server(1): 1 waiting line for #a not sent", "1> PART #b",
                            "1: -> Server: [PART #b]", "> PART #b",
                            "1: Server(1): 1 waiting line for #b not sent", "1> /msg #b late",
                            "1: -> #b: late", "1: Server(1): 1 waiting line for #b not sent",
                            "1> JOIN #b", "1: -> Server: [JOIN #b]", "> JOIN #b", "3> again",
                            "3: Server(1): 1 line waiting to be sent, one every 5 s", "pace 1 0",
                            "> PRIVMSG #b :again"});
    row("waiting lines dropped at a KICK",
        twoWaiting +
            Script{"< :op!u@h KICK #a me :out", "1: Kicked from Channel #a by op (out)", twoForA,
                   "1: Left Channel #a", "2: Kicked from Channel #a by op (out)"} +
            bGoes);
    row("waiting lines dropped at a PART we did not ask for",
        twoWaiting +
            Script{"1> /nick me2", "> NICK me2", "< :me!u@h PART #a :", twoForA,
                   "1: Left Channel #a", "2: Removed from Channel #a by the server"} +
            bGoes);
    row("waiting lines dropped when the window closes",
        twoWaiting + Script{"close 2", "> PART :#a", twoForA} + bGoes);
    row("FLUSHQ",
        Script{"1> /flushq", "1: FLUSHQ: nothing waiting"} + twoWaiting +
            Script{"1> /FLUSHQ", "1: Server(1): 3 waiting lines not sent", "pace 1 0", "3> b2",
                   "> PRIVMSG #b :b2", "2> /flushq now", "2: FLUSHQ: usage: /FLUSHQ"});
    row("pacing: QUIT goes first, the rest is dropped when the server closes",
        paced + Script{"1> /quit bye", "1: QUIT -> Server(1): bye", "> QUIT :bye", waiting2, "drop",
                       "1: " + disconnected, notSent, "1: Left Channel #room",
                       "2: " + disconnected});

    // Server lines, after our confirmed JOIN of #room, and for some also our welcome as "me".
    const Script room = joined({"#room"});
    const Script welcomed = Script{"<< :irc.test 001 me :Welcome"} + room;
    const QByteArray left = "1: Left Channel #room";
    row("PING", {"< PING :abc", "> PONG :abc", "< PING :a:b", "> PONG :a:b", "< PING :", "> PONG :",
                 "< PING :caf\xe9\x81", "> PONG :caf\xe9\x81", "<| PING :a\nb\r\n", "> PONG :a b"});
    Script raw = room;
    for (const QByteArray line :
         {"PING abc", "ping :x", "PING", "ERROR", ":", ": PRIVMSG",
          ":::::", ":n!u@h PRIVMSG me :hi", ":x PART :#u", ":x PART :", ":x PRIVMSG :",
          ":x NOTICE :", ":x\tPRIVMSG #room :hi", ":x  PRIVMSG  #room :hi", ":%s %n :%d",
          ": PRIVMSG #room :x", ":bob!b@h PRIVMSG #room:x :hi"})
        raw << "<< " + line;
    row("shown raw", raw << "= 2 #room");
    row("ERROR, JOIN before the welcome",
        room + Script{"< ERROR :", "1: Server(1) ERROR: ", "< :x JOIN #j", "1: Joined Channel #j",
                      "<< :x JOIN :", "<< :x JOIN", "= 3 #room #j"});
    // Control characters stay in their line: one server line is one output line.
    Script shown = room;
    for (const QByteArray &text : QList<QByteArray>{
             "a\rb", "a\nb", "a\r", "a\342\200\250b", "a\342\200\251b", "\x1B[2J\x1B]0;title\x07",
             "\0034,1red\x0F \002bold\002", "\xC2\x85x", QByteArray("a\0b", 3)})
        shown << "< :bob!b@h PRIVMSG #room :" + text << "2: <bob> " + text;
    for (const auto &[line, text] : QList<std::pair<QByteArray, QByteArray>>{
             {":bob!b@h PRIVMSG #room :hi: all", "<bob> hi: all"},
             {":bob!b@h PRIVMSG #ROOM :x", "<bob> x"},
             {":bob!b@h NOTICE #room :hi", "-bob- hi"},
             {":irc.test NOTICE #room :n", "-irc.test- n"},
             {":b PRIVMSG #room ::) :(", "<b> :) :("},
             {":bob!~b@2001:db8::1 PRIVMSG #room :hi", "<bob> hi"},
             {":n!@ PRIVMSG #room :x", "<n> x"},
             {":a!b!c PRIVMSG #room :x", "<a> x"},
             {":" + QByteArray(1000, 'n') + "!u@h PRIVMSG #room :hi",
              "<" + QByteArray(1000, 'n') + "> hi"},
             {":bob!b@h PRIVMSG #room x :hi: there", "<bob> hi: there"},
             {":bob!b@h PRIVMSG #room :\001ACTION waves\001", "* bob waves"},
             {":bob PRIVMSG #room :\001ACTION a b", "* bob a b"},
             {":bob PRIVMSG #room :\001VERSION\001", "<bob> \001VERSION\001"},
             {":bob PRIVMSG #room :\001ACTIONS\001", "<bob> \001ACTIONS\001"}})
        shown << "< " + line << "2: " + text;
    row("shown in the channel window", shown << "= 2 #room");
    // A letter is compared with its own upper case, never one that is longer: ß is not SS.
    row("letter case beyond ASCII; brackets are not braces; ß is not ss",
        joined({"#CAF\xC3\x89", "#a{b", "#straße", "#strasse"}) +
            Script{"join #caf\xC3\xA9", "< :bob!b@h PRIVMSG #caf\xC3\xA9 :x", "2: <bob> x",
                   "< :bob!b@h PRIVMSG #A{B :x", "3: <bob> x", "<< :bob!b@h PRIVMSG #a[b :y",
                   "< :bob!b@h PRIVMSG #STRASSE :z", "5: <bob> z", "5> hi",
                   "> PRIVMSG #strasse :hi", "= 5 #CAF\xC3\x89 #a{b #straße #strasse"});
    for (const QByteArray line :
         {":me!u@h PART #room :", ":me!u@h PART :#room", ":me!u@h PART #room",
          ":me!u@h PART #room :see you", ":ME!u@h PART #ROOM :", ":me!~m@2001:db8::1 PART #room :"})
        row(line, welcomed + Script{"2> /part", "> PART #room", "< " + line, left, "= 1"});
    Script others = welcomed;
    for (const QByteArray line :
         {":bob!u@h PART :#room", ":bob!u@h PART #room :", ":bob!u@h JOIN :#room",
          ":bob!u@h JOIN :#other", ":me!u@h JOIN :#ROOM", ":op!u@h KICK #room bob :out",
          ":op!u@h KICK #nope me :x", ":bob!u@h NICK :me3", ":me3!u@h PART #room :"})
        others << "<< " + line;
    row("lines about others, then our JOIN without colon",
        others + Script{"< :me!u@h JOIN #two", "1: Joined Channel #two", "= 3 #room #two"});
    // A kick keeps the window and its text; nothing goes to the channel until a JOIN brings it
    // back in the same window. A KICK for a channel we are not in is only shown.
    const QByteArray kicked = "Kicked from Channel #room by op (out)";
    row("KICK of us",
        welcomed +
            Script{"< :bob!b@h PRIVMSG #room :hi", "2: <bob> hi", "< :op!u@h KICK #room me :out",
                   "1: " + kicked, left, "2: " + kicked, "2> still here?",
                   "2: MSG: not joined to #room (type /join #room)", "2> /notice #ROOM x",
                   "2: NOTICE: not joined to #room (type /join #room)",
                   "<< :op!u@h KICK #room me :again"} +
            room +
            Script{"2> back", "> PRIVMSG #room :back", "< :op!u@h KICK #ROOM ME",
                   "1: Kicked from Channel #room by op", left, "2: Kicked from Channel #room by op",
                   "= 2 #room"});
    row("our NICK, then PART",
        welcomed + Script{"<< :me!u@h NICK :me2", "1> PART #ROOM,#x",
                          "1: -> Server: [PART #ROOM,#x]", "> PART #ROOM,#x",
                          "<< :me!u@h PART #room :", "< :me2!u@h PART #room :", left, "= 1"});
    // Lines for the channel in the same read as our PART, and a second PART, are shown raw.
    QByteArray afterPart = ":me!u@h PART :#room\r\n";
    Script shownAfterPart{left};
    for (int i = 0; i <= 20; ++i) {
        const QByteArray line = i < 20 ? ":bob!b@h PRIVMSG #room :line " + QByteArray::number(i)
                                       : ":me!u@h PART :#room";
        afterPart += line + "\r\n";
        shownAfterPart << "1: <- Server(1): [" + line + "]";
    }
    // A PART pasted as a raw line is ours as much as a typed one.
    row("traffic after our PART, pasted",
        room +
                Script{"1> WHO #room\nPART #room", "> WHO #room", "> PART #room", "1: WHO #room",
                       "1: PART #room", "<| " + afterPart} +
                shownAfterPart
            << "= 1");
    // A PART we did not send (an operator's SAPART) keeps the window, as a kick does; a second
    // one is only shown. Before the welcome any PART counts as ours.
    const QByteArray removed = "2: Removed from Channel #room by the server";
    row("PART not asked for",
        room +
            Script{"<< :op!u@h KICK #room me", "< :x PART :#ROOM", left, removed,
                   "<< :x PART #room :again", "2> hi",
                   "2: MSG: not joined to #room (type /join #room)", "2> /join #room",
                   "> JOIN #room"} +
            room +
            Script{"<< :irc.test 001 me :Welcome", "< :me!u@h PART #room :by oper", left,
                   removed + " (by oper)", "= 2 #room"});
    // Lines that arrive together with the server's close are shown before the close itself; an
    // unfinished one is not glued to the next server's first line.
    row("server close keeps the last lines",
        Script{"<| ERROR :Closing Link: host (Quit: bye)\r\n:srv 999 last\r\npartial", "drop",
               "1: Server(1) ERROR: Closing Link: host (Quit: bye)",
               "1: <- Server(1): [:srv 999 last]", "1: " + disconnected} +
            reconnect + Script{"<< :new 1 first"});
    row("too long a line is dropped",
        {"<| :a 1 before\r\n" + QByteArray(200 * 1024, 'x') + "\r\n:a 2 after\r\n",
         "1: <- Server(1): [:a 1 before]", "1: Server(1): line longer than 65536 bytes, dropped",
         "1: <- Server(1): [:a 2 after]"});
}

void tst_Client::scripts() {
    QFETCH(Script, script);
    runScript(script);
}

// The lowest free element from 1 up; a removed connection's element is taken again.
void tst_Client::socketElementAllocation() {
    AppFixture f;
    IRCConnections *connections = f.app()->Connections();
    connections->Add();
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

// A long text goes as several lines, each within the limit, cut between characters and after
// a blank where there is one, that together give back the text; the window shows it once.
void tst_Client::longMessageGoesAsSeveralLines_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("piece");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("count");
    const QString word = QString::fromUtf8("wörd%1 ");
    QTest::newRow("MSG") << "/msg bob " << word << 1500 << 5;
    QTest::newRow("NOTICE") << "/notice bob " << word << 1500 << 5;
    QTest::newRow("channel window") << "" << word << 1500 << 5;
    QTest::newRow("40,000-character paste") << "" << word << 40000 << 115;
    QTest::newRow("no blanks") << ""
                               << "a" << 1501 << 4;
    QTest::newRow("emoji") << "" << QString::fromUtf8("\U0001F600") << 1500 << 8;
    QTest::newRow("mixed") << "" << QString::fromUtf8("a é € \U0001F600 ") << 1500 << 6;
}

void tst_Client::longMessageGoesAsSeveralLines() {
    QFETCH(QString, command);
    QFETCH(QString, piece);
    QFETCH(int, length);
    QFETCH(int, count);
    ConnectedClient c;
    QVERIFY(c.connected && c.join("#room"));
    c.app.connection().Pacer().SetRate(5, 1); // the order through the queue, at speed
    QString text;
    for (int i = 0; text.toUtf8().size() < 1500 || text.size() < length; ++i)
        text += piece.contains('%') ? piece.arg(i) : piece;
    text = text.trimmed(); // the word splitting would drop a blank at the end
    c.app.type(2, command + text);
    QVERIFY(c.server.waitForLines(count, 10000));
    QTest::qWait(50);
    const QList<QByteArray> lines = c.server.receivedLines();
    const QByteArray verb = lines.first().left(lines.first().indexOf(':') + 1);
    QCOMPARE(verb, command.isEmpty()            ? "PRIVMSG #room :"
                   : command.mid(1, 3) == "msg" ? "PRIVMSG bob :"
                                                : "NOTICE bob :");
    QByteArray rejoined;
    for (const QByteArray &line : lines) {
        QVERIFY(line.startsWith(verb));
        QVERIFY(line.size() + 2 + 100 <= 512);            // room for the relaying server's prefix
        QCOMPARE(QString::fromUtf8(line).toUtf8(), line); // no character cut
        QVERIFY(!piece.contains(' ') || line.endsWith(' ') || &line == &lines.last());
        rejoined += line.mid(verb.size());
    }
    QCOMPARE(QString::fromUtf8(rejoined), text);
    QCOMPARE(lines.size(), count);
    const QStringList shown = c.app.lines(2).filter(QRegularExpression("^(?!Server\\(1\\): )"));
    QCOMPARE(shown.size(), command.isEmpty() ? 1 : 2);
}

// Random typed lines in the status window, a plain window and a channel window, full of line
// ends, NULs, quotes, colons, Unicode and long runs: the wire carries only whole lines, and a
// forged command inside a text never becomes a line of its own.
void tst_Client::generatedInputsNeverInject() {
    ConnectedClient c;
    QVERIFY(c.connected && c.join("#room"));
    c.app.app()->Childs()->Add();             // window 3, a plain window
    c.app.connection().Pacer().SetRate(1, 0); // every line at once
    QStringList pieces = {"\r",          "\n",      "\r\n",  "\"",
                          "\"a b\"",     ":",       " ",     "  ",
                          "x",           "\u2028",  "\t",    "/",
                          "QUIT",        "PRIVMSG", "#room", "\r\nINJECTED :forged",
                          "é€\U0001F600"};
    pieces << QString(QChar(0));
    const QStringList commands = {"",       "/msg #room ", "/msg bob ", "/notice #room ", "/quote ",
                                  "/quit ", "/echo 0 ",    "/join ",    "/part ",         "/nick ",
                                  "/me ",   "/whois ",     "/names ",   "/topic ",        "/away ",
                                  "/mode ", "/kick ",      "/invite ",  "/clear "};
    QRandomGenerator rng(20261206);
    const int total = 100000;
    for (int i = 0; i < total; ++i) {
        QString text = commands.at(rng.bounded(commands.size()));
        for (int k = rng.bounded(1, 12); k > 0; --k)
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

// A hostile or broken server: traffic that races the deletion of channels, connections and the
// client itself, a PING flood, a JOIN burst. Nothing may crash, leak into a neighbouring line, or
// be lost.

static double residentMiB() {
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    const QByteArray text = status.readAll();
    const qsizetype at = text.indexOf("VmRSS:") + 6;
    return text.mid(at, text.indexOf("kB", at) - at).trimmed().toDouble() / 1024.0;
}

// A burst of lines for #c with "PING :now" before its at-th line, and what a GetMessageRaw
// subscriber does when that PING is offered: the user closes the window of #c, something deletes
// the connection, the user ends the client, a new SERVER or a DISCONNECT restarts or ends the
// connection, or the subscriber's own sending meets the send limit; or the server closes right
// after sending it. Received lines are processed in slices of a few milliseconds, one per
// event-loop turn: a short burst fits in one slice, a long one spans many, and the event then
// comes in a later slice than the first. wire: what the client sends (a PING follows the burst,
// but the server's own close).
void tst_Client::duringBurst_data() {
    QTest::addColumn<QByteArray>("event");
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("at");
    QTest::addColumn<QList<QByteArray>>("wire");
    const QList<std::pair<QByteArray, QList<QByteArray>>> events = {
        {"window closed", {"PART :#c", "PONG :now", "PONG :late"}},
        {"connection deleted", {"PART :#d", "PART :#c"}},
        {"exit", {"PART :#d", "PART :#c"}},
        {"server close", {}},
        {"new server", {}},
        {"disconnect", {}},
        {"send limit", {}}};
    for (const auto &[event, wire] : events) {
        QTest::addRow("%s within one slice", event.constData()) << event << 200 << 30 << wire;
        QTest::addRow("%s slices later", event.constData()) << event << 40000 << 30000 << wire;
    }
}

// Nothing is processed by what is gone, and nothing is lost: the lines after a closed window go
// to the status window, and a server's last lines are all shown before its close. Once the
// connection is restarted or closed, no line of the old stream is read or processed.
void tst_Client::duringBurst() {
    ConnectedClient c;
    QVERIFY(c.connected && c.join("#c"));
    QFETCH(QByteArray, event);
    QFETCH(int, lines);
    QFETCH(int, at);
    QFETCH(QList<QByteArray>, wire);
    QVERIFY(c.join("#d"));
    Application *app = c.app.app();
    const QString port = QString::number(c.server.port());
    int seen = 0;
    connect(app->Connections(), &IRCConnections::GetMessageRaw, app,
            [&](qint32, const QString &message, bool &) {
                if (message != "PING :now" || ++seen > 1)
                    return;
                IRCConnection &connection = c.app.connection();
                if (event == "window closed")
                    c.app.window(2)->Form()->SubWindow()->close();
                else if (event == "connection deleted")
                    app->Connections()->Remove(1);
                else if (event == "exit" || event == "new server")
                    app->ProcessCommand(
                        event == "exit" ? QString("EXIT") : "SERVER 127.0.0.1 " + port, true, 1);
                else if (event == "disconnect")
                    connection.Disconnect();
                else if (event == "send limit")
                    c.server.stopReading();
                for (int i = 0; event == "send limit" && i < 2000 && connection.Connected(); ++i)
                    connection.SendMessage("PONG :" + QString(60000, 'x'));
            });
    QStringList shown;
    QByteArray all;
    for (int i = 0; i < lines; ++i) {
        all += (i == at - 1 ? "PING :now\r\n" : "") + QByteArray(":bob!b@h PRIVMSG #c :line ") +
               QByteArray::number(i) + "\r\n";
        shown << QString("<bob> line %1").arg(i);
    }
    c.server.send(all + (event == "server close" ? "" : "PING :late\r\n"));
    if (event == "window closed") {
        QVERIFY(c.feed({}));
        QCOMPARE(c.app.status().filter("<- Server(1): [:bob!b@h PRIVMSG #c").size(),
                 lines - at + 1);
        QCOMPARE(c.app.windowCount(), 2);
    } else if (event == "server close") {
        c.server.closeClient();
        const QString closed = QString::fromLatin1(disconnected).arg(port);
        QVERIFY(c.app.waitForLine(1, closed, 30000));
        QCOMPARE(c.app.lines(2), shown << closed);
    } else if (event == "new server" || event == "disconnect" || event == "send limit") {
        QVERIFY(QTest::qWaitFor([&] { return seen > 0; }, 30000));
        QVERIFY(event != "new server" || c.server.waitForClient());
        QTest::qWait(50);
        QCOMPARE(c.app.lines(2).filter("<bob>"), shown.mid(0, at - 1));
        QCOMPARE(c.app.status().filter("<- Server(1): [:bob").size(), 0);
        QVERIFY(!c.app.connection().Channels()->Item(QString("#c"))->Joined());
    } else {
        QVERIFY(c.server.waitForDisconnect(30000));
        QCOMPARE(c.app.windowCount(), event == "exit" ? 0 : 1);
    }
    QVERIFY(c.server.waitForLines(int(wire.size())));
    QCOMPARE(c.server.receivedLines(), wire);
    if (c.app.running() && !c.app.app()->Connections()->Count())
        c.app.app()->Connections()->Add(); // the fixture's connection 1 again
}

// A server that sends PINGs (each followed by our JOIN of #c and a line for it) and never reads:
// once 1 MiB of replies waits unsent the client closes the connection with one line, nothing it
// had read after that is processed, and the memory the replies took comes back.
void tst_Client::pingFloodNeverRead() {
    ConnectedClient c;
    QVERIFY(c.connected && c.join("#c"));
    c.server.stopReading();
    const double before = residentMiB();
    const QByteArray ping = "PING :" + QByteArray(60000, 'p') +
                            "\r\n:me!u@h JOIN :#c\r\n:bob!b@h PRIVMSG #c :after\r\n";
    for (int i = 0; i < 400 && c.app.connection().Connected(); ++i) {
        c.server.send(ping);
        QTest::qWait(1);
    }
    const QString closed = "Server(1): the server stopped reading; connection closed";
    QVERIFY(c.app.waitForLine(1, closed));
    QTest::qWait(100);
    const double after = residentMiB();
    QVERIFY(!c.app.connection().Connected());
    const QStringList status = c.app.status();
    QCOMPARE(status.mid(status.indexOf(closed)), (QStringList{closed, "Left Channel #c"}));
    QVERIFY(!c.app.connection().Channels()->Item(QString("#c"))->Joined());
    qInfo("resident memory %.1f MiB before, %.1f MiB after the PING flood", before, after);
#ifndef __SANITIZE_ADDRESS__ // the sanitizer's own bookkeeping grows
    QVERIFY2(after - before < 16, qPrintable(QString("grew by %1 MiB").arg(after - before)));
#endif
}

// Many joins in one read: every channel gets its window, numbered in order.
void tst_Client::joinBurst() {
    ConnectedClient c;
    QVERIFY(c.connected && c.join("#c"));
    QByteArray joins;
    for (int i = 1; i <= 300; ++i)
        joins += ":me!u@h JOIN :#c" + QByteArray::number(i) + "\r\n";
    QVERIFY(c.feed(joins));
    QCOMPARE(c.app.windowCount(), 302);
    for (int i = 1; i <= 300; i += 299) {
        const auto window = c.app.connection().Channels()->Item(QString("#c%1").arg(i))->Window();
        QCOMPARE(window->Index(), i + 2);
        QCOMPARE(window->Caption(), QString("%1 - #c%2").arg(i + 2).arg(i));
    }
}

QTEST_MAIN(tst_Client)
#include "tst_client.moc"
