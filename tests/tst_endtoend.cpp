// The real client end to end on a real ngircd (also over TLS) and InspIRCd, driven through its
// input boxes, with another user, bob, on the same server to check what went on the wire. Each
// scenario is a row of steps:
//   N> text       type text into window N             bob> LINE   bob sends LINE (JOIN: and waits)
//   N: line       window N shows line, after the line found there last (so in this order)
//   N= line       the next line of window N is line   N* text     as "N:", a line starting with it
//   bob: LINE     bob receives LINE, in this order    quiet N     no more lines come in window N
//   said K        bob has received K lines from us    none N text no line of window N starts so
// and the named steps in step(), among them "strict" (the rest runs on a server of the same kind
// with its own flood limits), "pace B MS" (the client sends B messages at once, then one every
// MS milliseconds), "paste N" (N long lines pasted into window 2, Send answered) and "pasted N"
// (all of them reach bob). In lines, $a
// and $b stand for ":alice!…" and ":bob!…" as the server writes them, $~ for the mark of a user
// name no ident answer confirmed, $port and $tls for the server's ports, and "PART~#c" for the
// server's echo of a PART of #c without reason.

#include "app/Application.h"
#include "channel/Channels.h"
#include "connection/IRCConnection.h"
#include "connection/IRCConnections.h"
#include "platform/SocketElement.h"
#include "platform/TlsErrors.h"
#include "support/AppFixture.h"
#include "support/IrcServerFixture.h"
#include "support/IrcTestClient.h"
#include "windows/Child.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>

using Kind = IrcServerFixture::Kind;
Q_DECLARE_METATYPE(IrcServerFixture::Kind)

class tst_EndToEnd : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void scenarios_data();
    void scenarios();
    void certificateTexts_data();
    void certificateTexts();

private:
    QString expand(QString text) const;
    void step(const QString &text);
    bool findInWindow(int window, const QString &text, bool next, bool prefix);
    bool offline(const QByteArray &nick);

    IrcServerFixture m_ngircd{Kind::Ngircd};
    IrcServerFixture m_inspircd{Kind::InspIRCd};
    IrcServerFixture *m_server = nullptr;
    std::map<Kind, std::unique_ptr<IrcServerFixture>> m_strict; // started when a row needs one
    std::unique_ptr<AppFixture> m_app;
    std::unique_ptr<IrcTestClient> m_bob;
    QStringList m_received; // every line the client received, before it is processed
    QMap<int, qsizetype> m_cursor;
};

void tst_EndToEnd::initTestCase() {
    QString error;
    QVERIFY2(m_ngircd.start(&error), qPrintable(error));
    QVERIFY2(m_inspircd.start(&error), qPrintable(error));
}

// The client goes first, then bob, once the server has let the client's nick go.
void tst_EndToEnd::cleanup() {
    m_app.reset();
    if (m_bob && !m_bob->lines.isEmpty() && !offline("alice"))
        qWarning("alice is still online");
    if (m_bob)
        m_bob->quit();
    m_bob.reset();
}

void tst_EndToEnd::scenarios_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QStringList>("steps");
    const QStringList joined{"meet", "bob> JOIN #room", "1> JOIN #room", "1: Joined Channel #room"};
    const QString unknownAuthority = "certificate not trusted: issued by an unknown authority";
    const QString otherHost = "certificate not trusted: the host name did not match any of the "
                              "valid hosts for this certificate";
    for (const Kind kind : {Kind::Ngircd, Kind::InspIRCd}) {
        const auto row = [kind](const char *name, const QStringList &steps) {
            QTest::addRow("%s: %s", kind == Kind::Ngircd ? "ngircd" : "InspIRCd", name)
                << kind << steps;
        };
        // Registration brings nothing the client handles itself: every line received shows.
        row("register by typed lines",
            {"bob", "1> /server 127.0.0.1 $port", "1= /server 127.0.0.1 $port",
             "1= Connecting to Server 127.0.0.1, Port $port...",
             "1= Connected to Server 127.0.0.1, Port $port", "1> NICK alice", "1= NICK alice",
             "1= -> Server: [NICK alice]", "1> USER alice 0 * :Alice A",
             "1= USER alice 0 * :Alice A", "1= -> Server: [USER alice 0 * :Alice A]",
             "1* <- Server(1): [:irc.velloq.test 376 alice :", "shown 7", "bob> WHOIS alice",
             "bob: :irc.velloq.test 311 bob alice $~alice 127.0.0.1 * :Alice A"});
        // Someone else joining is no news: shown as received. Closing the window sends one PART;
        // the server's echo of it finds no channel. Joining again opens a new, empty window.
        row("channel traffic both ways",
            QStringList{"meet", "1> JOIN #room", "1: Joined Channel #room", "windows 2",
                        "bob> JOIN #room", "1: <- Server(1): [$b JOIN :#room]",
                        "bob> PRIVMSG #room :hello: there", "bob> NOTICE #room :note",
                        "2= <bob> hello: there", "2= -bob- note", "2> He said \"hi there\" : ok",
                        "2= He said \"hi there\" : ok",
                        "bob: $a PRIVMSG #room :He said \"hi there\" : ok", "quiet 2"} +
                QStringList{"close 2", "windows 1", "channels 0", "bob: $a PART~#room",
                            "1: <- Server(1): [$a PART~#room]", "said 2", "1> JOIN #room",
                            "1: Joined Channel #room", "bob> PRIVMSG #room :welcome back",
                            "2= <bob> welcome back"});
        // Our PART ends the channel: its window closes and nothing more goes to the channel.
        // Bob's PART is only news: our window stays and still works.
        for (const QString part : {"PART #room", "PART #room :see you"})
            row(qPrintable("our " + part),
                joined + QStringList{"1> /quote " + part, "1: Left Channel #room", "windows 1",
                                     "channels 0", "bob> PRIVMSG #room :anyone?", "said 2"});
        // A KICK of us keeps the window and its text; nothing typed there goes out until /join
        // brings the channel back in the same window.
        row("KICK of us, and back",
            joined + QStringList{
                         "bob> PRIVMSG #room :before", "2= <bob> before",
                         "bob> KICK #room alice :out", "1: Kicked from Channel #room by bob (out)",
                         "1= Left Channel #room", "2= Kicked from Channel #room by bob (out)",
                         "windows 2", "2> anyone?", "2= anyone?",
                         "2= MSG: not joined to #room (type /join #room)", "2> /join #room",
                         "1: Joined Channel #room", "bob> PRIVMSG #room :welcome back",
                         "2: <bob> welcome back", "windows 2", "said 2"});
        row("/me, /help, /part, /nick",
            joined + QStringList{"2> /me waves", "bob: $a PRIVMSG #room :\001ACTION waves\001",
                                 "2> /help", "2* /WINDOW NEW", "2> /part bye all",
                                 "bob: $a PART #room :bye all", "1: Left Channel #room",
                                 "windows 1", "1> /nick alice2", "1* <- Server(1): [$a NICK ",
                                 "said 3"});
        row("their PART",
            joined + QStringList{"bob> PART #room", "1: <- Server(1): [$b PART~#room]", "windows 2",
                                 "none 1 Left Channel", "bob> JOIN #room",
                                 "bob> PRIVMSG #room :still here", "2: <bob> still here",
                                 "said 1"});
        // EXIT parts every channel (the last joined first) before the connection goes; bob then
        // shares none with us, so our QUIT reaches him only if a PART was lost. (The client
        // reads all it was sent first: a close with unread data resets the connection, and
        // InspIRCd may then drop the PARTs.)
        row("EXIT parts every channel",
            {"meet", "1> JOIN #a", "1: Joined Channel #a", "1> JOIN #b", "1: Joined Channel #b",
             "bob> JOIN #a", "bob> JOIN #b", "1: <- Server(1): [$b JOIN :#b]", "1> /exit",
             "bob: $a PART~#b", "bob: $a PART~#a", "gone", "said 2"});
        // A paste well past what the server takes in one burst trickles out and arrives whole;
        // on InspIRCd at the client's default pace, against the server's default flood limits.
        const bool insp = kind == Kind::InspIRCd;
        row("a long paste",
            QStringList{"strict"} + (insp ? QStringList{} : QStringList{"pace 5 100"}) + joined +
                QStringList{"paste 12", "pasted 12",
                            QString("2: Server(1): 7 lines waiting to be sent, one every %1 s")
                                .arg(insp ? "2" : "0.1"),
                            "said 13", "none 1 Disconnected"});
        // Our PART in the middle of a paste: what still waits is dropped, nothing follows it (bob
        // sees our JOIN, the first line and the PART).
        row("PART during a paste",
            joined + QStringList{"pace 1 100", "paste 12", "2> /part",
                                 "1: Server(1): 11 waiting lines for #room not sent",
                                 "bob: $a PART~#room", "said 3"});
        if (kind != Kind::Ngircd)
            continue;
        // ngircd PINGs after 5 idle seconds; a wrong answer draws an error numeric before the
        // answer to our own PING.
        row("PING answered",
            {"meet", "ping", "1> /quote PING :sync",
             "1: <- Server(1): [:irc.velloq.test PONG irc.velloq.test :sync]",
             "none 1 <- Server(1): [:irc.velloq.test 4", "none 1 <- Server(1): [PING"});
        row("DISCONNECT", {"meet", "1> /disconnect", "1= /disconnect",
                           "1= Disconnected from Server 127.0.0.1, Port $port", "quiet 1",
                           "1> NICK alice", "1= NICK alice", "1= QUOTE: not connected"});
        // Everything the server says before it closes shows before the one disconnect line.
        row("QUIT",
            {"meet", "1> /quit bye now", "1= /quit bye now", "1= QUIT -> Server(1): bye now",
             "1: Server(1) ERROR: \"bye now\"", "1= Disconnected from Server 127.0.0.1, Port $port",
             "quiet 1", "1> /quit again", "1: QUIT: not connected"});
        // The server's QUIT ends the session, a close and no failure; the channel window stays.
        // A reconnect uses TLS again: only a client that completed the handshake registers.
        row("TLS, then reconnect",
            QStringList{"bob", "bob> JOIN #tls", "1> /server 127.0.0.1 +$tls",
                        "1= /server 127.0.0.1 +$tls",
                        "1= Connecting to Server 127.0.0.1, Port +$tls...",
                        "1= Connected to Server 127.0.0.1, Port $tls", "1> NICK alice",
                        "1> USER alice 0 * :Alice", "1* <- Server(1): [:irc.velloq.test 001 alice ",
                        "1> JOIN #tls", "1: Joined Channel #tls", "bob: $a JOIN :#tls",
                        "2> hello over TLS, café", "bob: $a PRIVMSG #tls :hello over TLS, café",
                        "bob> PRIVMSG #tls :hi alice", "2: <bob> hi alice"} +
                QStringList{
                    "1> /quit bye", "1* Server(1) ERROR: ",
                    "1= Disconnected from Server 127.0.0.1, Port $tls", "1= Left Channel #tls",
                    "2= Disconnected from Server 127.0.0.1, Port $tls", "quiet 1", "reconnect",
                    "1: Connected to Server 127.0.0.1, Port $tls", "1> NICK again",
                    "1> USER again 0 * :Again", "1* <- Server(1): [:irc.velloq.test 001 again "});
        // A refused certificate: the failed line, then the reason; the attempt ends there.
        row("TLS, unknown authority", {"distrust", "1> /server 127.0.0.1 +$tls",
                                       "1: Connection to Server 127.0.0.1, Port $tls failed",
                                       "1= Server(1): " + unknownAuthority, "quiet 1"});
        row("TLS, other host name",
            {"1> /server localhost +$tls", "1: Connection to Server localhost, Port $tls failed",
             "1= Server(1): " + otherHost, "quiet 1"});
    }
}

void tst_EndToEnd::scenarios() {
    QFETCH(Kind, kind);
    QFETCH(QStringList, steps);
    m_server = kind == Kind::Ngircd ? &m_ngircd : &m_inspircd;
    m_app = std::make_unique<AppFixture>();
    m_bob = std::make_unique<IrcTestClient>();
    m_received.clear();
    m_cursor.clear();
    connect(m_app->app()->Connections(), &IRCConnections::GetMessageRaw, this,
            [this](qint32, const QString &line, bool &) { m_received.append(line); });
    SocketElement::SetExtraCaCertificates({m_ngircd.authority()});
    for (const QString &text : steps) {
        step(text);
        if (QTest::currentTestFailed())
            return;
    }
}

QString tst_EndToEnd::expand(QString text) const {
    const bool ngircd = m_server->kind() == Kind::Ngircd;
    static const QRegularExpression part(QStringLiteral("PART~([#\\w]+)"));
    return text.replace("$a", ":alice!$~alice@127.0.0.1")
        .replace("$b", ":bob!$~bob@127.0.0.1")
        .replace("$~", ngircd ? "~" : "")
        .replace("$port", QString::number(m_server->port()))
        .replace("$tls", QString::number(m_server->tlsPort()))
        .replace(part, ngircd ? "PART \\1 :" : "PART :\\1");
}

// Finds text in window's lines after the one found there last: anywhere after it, or (next)
// right after it.
bool tst_EndToEnd::findInWindow(int window, const QString &text, bool next, bool prefix) {
    return QTest::qWaitFor(
        [&] {
            if (!m_app->running() || window > m_app->windowCount())
                return false;
            const QStringList lines = m_app->lines(window);
            const qsizetype end = next ? qMin(lines.size(), m_cursor[window] + 1) : lines.size();
            for (qsizetype i = m_cursor[window]; i < end; ++i) {
                if (prefix ? lines.at(i).startsWith(text) : lines.at(i) == text) {
                    m_cursor[window] = i + 1;
                    return true;
                }
            }
            return false;
        },
        10000);
}

// Asks the server through bob until it says nick is no longer online.
bool tst_EndToEnd::offline(const QByteArray &nick) {
    for (int i = 0; i < 25; ++i) {
        m_bob->sendLine("ISON " + nick);
        if (m_bob->waitForLine(":irc.velloq.test 303 bob :", false, 200))
            return true;
    }
    return false;
}

void tst_EndToEnd::step(const QString &text) {
    static const QRegularExpression windowStep(QStringLiteral("^(\\d)([>:=*]) (.*)$"));
    const QString line = expand(text);
    const QString verb = line.section(' ', 0, 0), rest = line.section(' ', 1);
    const QRegularExpressionMatch w = windowStep.match(line);
    const int window = w.hasMatch() ? w.captured(1).toInt() : rest.section(' ', 0, 0).toInt();
    const QString status = "\nstatus:\n" + (m_app->running() ? m_app->status().join('\n') : "");
    if (w.hasMatch() && w.captured(2) == ">") {
        m_app->type(window, w.captured(3));
    } else if (w.hasMatch()) {
        QVERIFY2(findInWindow(window, w.captured(3), w.captured(2) == "=", w.captured(2) == "*"),
                 qPrintable(line + "\nwindow:\n" + m_app->lines(window).join('\n')));
    } else if (verb == "bob>" && rest.startsWith("JOIN ")) {
        QVERIFY(m_bob->join(rest.mid(5).toUtf8()));
    } else if (verb == "bob>") {
        m_bob->sendLine(rest.toUtf8());
    } else if (verb == "bob:") {
        QVERIFY2(
            m_bob->waitForLine(rest.toUtf8()),
            qPrintable(line + "\nbob:\n" + m_bob->lines.mid(m_bob->lines.size() - 8).join('\n')));
    } else if (verb == "bob") {
        QVERIFY(m_bob->connectTo(m_server->port(), "bob"));
    } else if (verb == "meet") {
        // Both register at once: InspIRCd completes registrations only once a second.
        for (const char *s :
             {"1> /server 127.0.0.1 $port", "1: Connected to Server 127.0.0.1, Port $port",
              "1> NICK alice", "1> USER alice 0 * :Alice A", "bob",
              "1* <- Server(1): [:irc.velloq.test 376 alice :"})
            if (step(s), QTest::currentTestFailed())
                return;
    } else if (verb == "strict") {
        auto &strict = m_strict[m_server->kind()];
        QString error;
        if (!strict) {
            strict = std::make_unique<IrcServerFixture>(m_server->kind(),
                                                        IrcServerFixture::Limits::Flood);
            QVERIFY2(strict->start(&error), qPrintable(error));
        }
        m_server = strict.get();
    } else if (verb == "pace") {
        m_app->connection().Pacer().SetRate(rest.section(' ', 0, 0).toInt(),
                                            rest.section(' ', 1).toInt());
    } else if (verb == "paste" || verb == "pasted") {
        // Within one protocol line; every other line starts with "/" and is text all the same.
        QStringList lines;
        for (int i = 1; i <= rest.toInt(); ++i)
            lines << (i % 2 ? "" : "/") + QString::number(i) + ' ' + QString(370, u'p');
        if (verb == "pasted") {
            for (const QString &sent : lines)
                QVERIFY2(
                    m_bob->waitForLine(expand("$a PRIVMSG #room :" + sent).toUtf8(), false, 10000),
                    qPrintable(sent.left(8) + status));
            return;
        }
        QGuiApplication::clipboard()->setText(lines.join('\n'));
        QLineEdit *input = m_app->window(2)->Form()->txtInput();
        input->setFocus();
        m_app->answer("Send");
        QTest::keySequence(input, QKeySequence::Paste);
    } else if (verb == "windows") {
        QCOMPARE(m_app->windowCount(), rest.toInt());
    } else if (verb == "channels") {
        QCOMPARE(m_app->connection().Channels()->Count(), rest.toInt());
    } else if (verb == "close") {
        m_app->window(window)->Form()->SubWindow()->close();
        AppFixture::settle();
        m_cursor.remove(window);
    } else if (verb == "quiet") {
        QTest::qWait(300);
        QVERIFY2(m_app->lines(window).size() == m_cursor[window], qPrintable(text + status));
    } else if (verb == "none") {
        const QString prefix = rest.section(' ', 1);
        const QStringList lines = m_app->lines(window);
        QVERIFY2(std::none_of(lines.cbegin(), lines.cend(),
                              [&](const QString &l) { return l.startsWith(prefix); }),
                 qPrintable(text + status));
    } else if (verb == "said") {
        QTest::qWait(300);
        const QByteArray us = expand("$a ").toUtf8();
        QCOMPARE(int(std::count_if(m_bob->lines.cbegin(), m_bob->lines.cend(),
                                   [&](const QByteArray &l) { return l.startsWith(us); })),
                 rest.toInt());
    } else if (verb == "shown") { // window 1's lines after the first K: all received, in order
        QStringList shown;
        for (const QString &received : m_received)
            shown.append("<- Server(1): [" + received + "]");
        QCOMPARE(m_app->status().mid(window), shown);
    } else if (verb == "ping") {
        QVERIFY(QTest::qWaitFor(
            [&] {
                return std::any_of(m_received.cbegin(), m_received.cend(),
                                   [](auto &l) { return l.startsWith("PING "); });
            },
            12000));
    } else if (verb == "gone") { // the client ended, and no window of it outlives it
        AppFixture::settle();
        QVERIFY(!m_app->running());
        const auto anyVisible = [] {
            const QWidgetList all = QApplication::topLevelWidgets();
            return std::any_of(all.cbegin(), all.cend(), [](auto *w) { return w->isVisible(); });
        };
        QTRY_VERIFY(!anyVisible());
        QVERIFY(offline("alice"));
    } else if (verb == "reconnect") {
        QVERIFY(!m_app->connection().Reconnect());
    } else if (verb == "distrust") {
        SocketElement::SetExtraCaCertificates({});
    } else {
        QFAIL(qPrintable("unknown step " + text));
    }
}

// Several certificate errors often say one thing: it is named once; different ones are all named.
void tst_EndToEnd::certificateTexts_data() {
    using E = QSslError;
    QTest::addColumn<QList<QSslError>>("errors");
    QTest::addColumn<int>("socketError");
    QTest::addColumn<QString>("socketText");
    QTest::addColumn<QString>("reason");
    const int handshake = QAbstractSocket::SslHandshakeFailedError;
    QTest::newRow("self-signed, unknown issuer said twice")
        << QList<E>{E(E::SelfSignedCertificate), E(E::UnableToGetLocalIssuerCertificate),
                    E(E::UnableToVerifyFirstCertificate)}
        << handshake << "x"
        << "certificate not trusted: self-signed certificate; issued by an unknown authority";
    QTest::newRow("expired and wrong host")
        << QList<E>{E(E::CertificateExpired), E(E::HostNameMismatch)} << handshake << "x"
        << "certificate not trusted: the certificate has expired; the host name did not match "
           "any of the valid hosts for this certificate";
    QTest::newRow("handshake, with the library's codes")
        << QList<E>{} << handshake
        << "Error during SSL handshake: error:0A00010B:SSL routines::wrong version number"
        << "TLS handshake failed: Error during SSL handshake: wrong version number";
    QTest::newRow("closed in the handshake")
        << QList<E>{} << int(QAbstractSocket::RemoteHostClosedError) << "ignored"
        << "TLS handshake failed: the server closed the connection";
}

void tst_EndToEnd::certificateTexts() {
    QFETCH(QList<QSslError>, errors);
    QFETCH(int, socketError);
    QFETCH(QString, socketText);
    QFETCH(QString, reason);
    QCOMPARE(TlsErrors::FailureReason(
                 errors, static_cast<QAbstractSocket::SocketError>(socketError), socketText),
             reason);
}

QTEST_MAIN(tst_EndToEnd)
#include "tst_endtoend.moc"
