// A hostile or broken server: endless lines, control characters, malformed lines of every
// handled command, and traffic that races the deletion of channels, connections and the
// client itself. Nothing may crash, leak into a neighbouring line, or be lost.

#include "app/Application.h"
#include "channel/Channels.h"
#include "connection/IRCConnections.h"
#include "connection/LineFramer.h"
#include "support/AppFixture.h"
#include "support/ScriptedServer.h"
#include "windows/Childs.h"
#include "windows/outputview/OutputView.h"

#include <QFile>
#include <QMdiSubWindow>
#include <QTest>
#include <QTimer>

#if defined(__SANITIZE_ADDRESS__)
#define VELLOQ_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELLOQ_UNDER_ASAN 1
#endif
#endif

class tst_Hostile : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void endlessLineKeepsMemoryFlat();
    void legalLongLinesByteByByte_data();
    void legalLongLinesByteByByte();
    void controlCharactersStayInTheirLine_data();
    void controlCharactersStayInTheirLine();
    void malformedLines_data();
    void malformedLines();
    void burstRaces_data();
    void trafficForClosedChannel_data() { burstRaces_data(); }
    void trafficForClosedChannel();
    void trafficAfterPart();
    void connectionDeletedDuringBurst_data() { burstRaces_data(); }
    void connectionDeletedDuringBurst();
    void exitDuringBurst_data() { burstRaces_data(); }
    void exitDuringBurst();
    void serverCloseDuringBurst_data() { burstRaces_data(); }
    void serverCloseDuringBurst();
    void pingFloodNeverRead();
    void joinBurst();

private:
    std::unique_ptr<AppFixture> f;
    std::unique_ptr<ScriptedServer> server;
    void feed(const QByteArray &lines);
    void join(const QByteArray &channel);
    static QByteArray burst(int count);
};

static double residentMiB() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

void tst_Hostile::init() {
    f = std::make_unique<AppFixture>();
    server = std::make_unique<ScriptedServer>();
    QVERIFY(f->connectTo(*server));
}

void tst_Hostile::cleanup() {
    f.reset();
    server.reset();
}

void tst_Hostile::feed(const QByteArray &lines) {
    QVERIFY(f->feed(*server, lines));
}

void tst_Hostile::join(const QByteArray &channel) {
    feed(":me!u@h JOIN :" + channel + "\r\n");
}

QByteArray tst_Hostile::burst(int count) {
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += ":bob!b@h PRIVMSG #c :line " + QByteArray::number(i) + "\r\n";
    return out;
}

// A server that never ends its line: one report, memory stays flat, the window keeps
// answering, and the next line after the eventual CR LF is processed.
void tst_Hostile::endlessLineKeepsMemoryFlat() {
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(5);
    const QByteArray chunk(64 * 1024, 'x');
    const int chunks = 320; // 20 MB
    double before = 0;
    for (int i = 0; i < chunks; ++i) {
        server->send(chunk);
        QTest::qWait(1);
        if (i == 16)
            before = residentMiB();
    }
    const double after = residentMiB();
    server->send("\r\n:s 1 after\r\n");
    QVERIFY(f->waitForLine(1, "<- Server(1): [:s 1 after]"));
    QCOMPARE(f->status().mid(3), (QStringList{"Server(1): line longer than 65536 bytes, dropped",
                                              "<- Server(1): [:s 1 after]"}));
    QVERIFY2(ticks > 20, qPrintable(QString("the event loop ran %1 timer ticks").arg(ticks)));
    qInfo("resident memory %.1f MiB before, %.1f MiB after 20 MB without a line end", before,
          after);
#ifndef VELLOQ_UNDER_ASAN
    QVERIFY2(after - before < 8, qPrintable(QString("grew by %1 MiB").arg(after - before)));
#endif
}

void tst_Hostile::legalLongLinesByteByByte_data() {
    QTest::addColumn<int>("length");
    QTest::newRow("512") << 512;
    QTest::newRow("8703") << 8703;
}

// Lines up to the protocol's lengths come through the same whether whole or a byte per read.
void tst_Hostile::legalLongLinesByteByByte() {
    QFETCH(int, length);
    const QByteArray line = ":s 1 " + QByteArray(length - 5, 'y');
    QList<QByteArray> bytes;
    const QByteArray stream = line + "\r\n";
    const int step = length > 1000 ? 7 : 1; // keep the long case quick: 7 bytes per read
    for (int i = 0; i < stream.size(); i += step)
        bytes << stream.mid(i, step);
    server->sendChunks(bytes, 0);
    QVERIFY(f->waitForLine(1, "<- Server(1): [" + QString::fromLatin1(line) + "]", 20000));
    feed(line + "\r\n");
    QCOMPARE(f->status().count("<- Server(1): [" + QString::fromLatin1(line) + "]"), 2);
}

void tst_Hostile::controlCharactersStayInTheirLine_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("lone CR") << QByteArray("a\rb");
    QTest::newRow("lone LF") << QByteArray("a\nb");
    QTest::newRow("CR CR") << QByteArray("a\r");
    QTest::newRow("NUL") << QByteArray("a\0b", 3);
    QTest::newRow("line separator") << QByteArray("a\xE2\x80\xA8"
                                                  "b");
    QTest::newRow("paragraph separator") << QByteArray("a\xE2\x80\xA9"
                                                       "b");
    QTest::newRow("IRC colour codes") << QByteArray("\x03"
                                                    "4,1red\x0F \x02"
                                                    "bold\x02");
    QTest::newRow("escape") << QByteArray("\x1B[2J\x1B]0;title\x07");
    QTest::newRow("C1 in UTF-8") << QByteArray("\xC2\x85"
                                               "x");
}

// One server line is one output line, drawn without a line break, with nothing cut off.
void tst_Hostile::controlCharactersStayInTheirLine() {
    QFETCH(QByteArray, text);
    join("#c");
    const int before = int(f->lines(2).size());
    feed(":bob!b@h PRIVMSG #c :" + text + "\r\n:bob!b@h PRIVMSG #c :next\r\n");
    const QStringList lines = f->lines(2);
    QCOMPARE(lines.size(), before + 2);
    QCOMPARE(lines.last(), QString("<bob> next"));
    const QString shown = lines.at(before);
    QCOMPARE(shown.toUtf8(), "<bob> " + text);
    const QString drawn = OutputView::displayText(shown);
    for (QChar c : drawn) {
        QVERIFY2(c.unicode() >= 0x20 && c != QChar(0x7F) &&
                     !(c.unicode() >= 0x80 && c.unicode() < 0xA0) && c != QChar(0x2028) &&
                     c != QChar(0x2029),
                 qPrintable(QString("U+%1 drawn as is").arg(c.unicode(), 4, 16, QChar('0'))));
    }
    QCOMPARE(drawn.size(), shown.size()); // every character drawn, none dropped
}

// Line; where it shows (0: status, 2: the channel window); what it shows.
void tst_Hostile::malformedLines_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("window");
    QTest::addColumn<QString>("shown");
    const auto raw = [](const char *l) {
        return QString("<- Server(1): [%1]").arg(l);
    };
    QTest::newRow(":") << QByteArray(":") << 1 << raw(":");
    QTest::newRow(": PRIVMSG") << QByteArray(": PRIVMSG") << 1 << raw(": PRIVMSG");
    QTest::newRow("empty user and host") << QByteArray(":n!@ PRIVMSG #c :x") << 2 << "<n> x";
    QTest::newRow("PING") << QByteArray("PING") << 1 << raw("PING");
    QTest::newRow("ERROR") << QByteArray("ERROR") << 1 << raw("ERROR");
    QTest::newRow("ERROR :") << QByteArray("ERROR :") << 1 << "Server(1) ERROR: ";
    QTest::newRow(":x JOIN :") << QByteArray(":x JOIN :") << 1 << "Joined Channel ";
    QTest::newRow(":x PART :") << QByteArray(":x PART :") << 1 << raw(":x PART :");
    QTest::newRow(":x PRIVMSG :") << QByteArray(":x PRIVMSG :") << 1 << raw(":x PRIVMSG :");
    QTest::newRow(":x NOTICE :") << QByteArray(":x NOTICE :") << 1 << raw(":x NOTICE :");
    QTest::newRow("1000-character nick") << ":" + QByteArray(1000, 'n') + "!u@h PRIVMSG #c :hi" << 2
                                         << "<" + QString(1000, 'n') + "> hi";
    QTest::newRow("tab for blank")
        << QByteArray(":x\tPRIVMSG #c :hi") << 1 << raw(":x\tPRIVMSG #c :hi");
    QTest::newRow("runs of blanks")
        << QByteArray(":x  PRIVMSG  #c :hi") << 1 << raw(":x  PRIVMSG  #c :hi");
    QTest::newRow("only colons") << QByteArray(":::::") << 1 << raw(":::::");
    QTest::newRow("PART with trailing reason")
        << QByteArray(":x PART #c :bye") << 1 << "Left Channel #c";
}

void tst_Hostile::malformedLines() {
    QFETCH(QByteArray, line);
    QFETCH(int, window);
    QFETCH(QString, shown);
    join("#c");
    feed(line + "\r\n");
    if (window == 1)
        QCOMPARE(f->status().at(f->status().size() - 2), shown);
    else
        QCOMPARE(f->lastLine(2), shown);
    QVERIFY(server->received().isEmpty()); // nothing answered
}

// A burst of lines and the line during which something happens. Received lines are processed in
// slices of a few milliseconds, one per event-loop turn: a short burst fits in one slice, a long
// one spans many, and the event then comes in a later slice than the first.
void tst_Hostile::burstRaces_data() {
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("at");
    QTest::newRow("within one slice") << 200 << 30;
    QTest::newRow("slices later") << 40000 << 30000;
}

// The user closes the channel window while its lines are arriving: the rest go to the status
// window, and only one PART goes out.
void tst_Hostile::trafficForClosedChannel() {
    QFETCH(int, lines);
    QFETCH(int, at);
    join("#c");
    int seen = 0;
    connect(f->app()->Connections(), &IRCConnections::GetMessageRaw, f->app(),
            [&](qint32, const QString &message, bool &) {
                if (message.contains("PRIVMSG #c") && ++seen == at)
                    f->window(2)->Form()->SubWindow()->close();
            });
    feed(burst(lines));
    QCOMPARE(f->windowCount(), 1);
    const QStringList toStatus =
        f->status().filter(QRegularExpression("^<- Server\\(1\\): \\[:bob!b@h PRIVMSG #c"));
    QCOMPARE(toStatus.size(), lines - at + 1); // the line seen just before the close, and the rest
    QVERIFY(server->waitForLines(1));
    QCOMPARE(server->receivedLines(), QList<QByteArray>{"PART :#c"});
}

void tst_Hostile::trafficAfterPart() {
    join("#c");
    feed(":me!u@h PART :#c\r\n" + burst(20) + ":me!u@h PART :#c\r\n");
    QCOMPARE(f->windowCount(), 1);
    QVERIFY(f->status().contains("Left Channel #c"));
    QVERIFY(f->status().contains("<- Server(1): [:me!u@h PART :#c]"));
    QVERIFY(server->received().isEmpty());
}

// Something deletes the connection in the middle of a burst: the rest of the burst is not
// processed by a connection that is gone.
void tst_Hostile::connectionDeletedDuringBurst() {
    QFETCH(int, lines);
    QFETCH(int, at);
    join("#c");
    join("#d");
    int seen = 0;
    connect(f->app()->Connections(), &IRCConnections::GetMessageRaw, f->app(),
            [&](qint32, const QString &, bool &) {
                if (++seen == at)
                    f->app()->Connections()->Remove(1);
            });
    server->send(burst(lines));
    QVERIFY(server->waitForDisconnect(30000));
    QTest::qWait(50);
    QCOMPARE(f->app()->Connections()->Count(), 0);
    QCOMPARE(f->windowCount(), 1);
    QCOMPARE(server->receivedLines(), (QList<QByteArray>{"PART :#d", "PART :#c"}));
    f->app()->Connections()->Add(); // the fixture's connection 1 again
}

void tst_Hostile::exitDuringBurst() {
    QFETCH(int, lines);
    QFETCH(int, at);
    join("#c");
    int seen = 0;
    connect(f->app()->Connections(), &IRCConnections::GetMessageRaw, f->app(),
            [&](qint32, const QString &, bool &) {
                if (++seen == at)
                    f->app()->ProcessCommand("EXIT", true, 1);
            });
    server->send(burst(lines) + "PING :late\r\n");
    QVERIFY(server->waitForDisconnect(30000));
    QVERIFY(!f->running());
    AppFixture::settle();
    QCOMPARE(server->receivedLines(), QList<QByteArray>{"PART :#c"});
}

// The server sends a burst and closes at once, while slices of it still wait: every line is
// shown, in order, before the close is reported.
void tst_Hostile::serverCloseDuringBurst() {
    QFETCH(int, lines);
    join("#c");
    const qsizetype before = f->lines(2).size();
    server->send(burst(lines));
    server->closeClient();
    QVERIFY(f->waitForLine(
        1, QString("Disconnected from Server 127.0.0.1, Port %1").arg(server->port()), 30000));
    const QStringList shown = f->lines(2).mid(before);
    QCOMPARE(shown.size(), lines);
    for (int i = 0; i < lines; ++i)
        QCOMPARE(shown.at(i), QString("<bob> line %1").arg(i));
}

// A server that sends PINGs and never reads: once 1 MiB of replies waits unsent the client
// closes the connection with one line, and the memory they took comes back.
void tst_Hostile::pingFloodNeverRead() {
    server->stopReading();
    const double before = residentMiB();
    const QByteArray ping = "PING :" + QByteArray(60000, 'p') + "\r\n";
    for (int i = 0; i < 400 && f->connection().Connected(); ++i) {
        server->send(ping);
        QTest::qWait(1);
    }
    QVERIFY(f->waitForLine(1, "Server(1): the server stopped reading; connection closed"));
    QTest::qWait(100);
    const double after = residentMiB();
    QVERIFY(!f->connection().Connected());
    QCOMPARE(f->status().mid(3),
             QStringList{"Server(1): the server stopped reading; connection closed"});
    qInfo("resident memory %.1f MiB before, %.1f MiB after the PING flood", before, after);
#ifndef VELLOQ_UNDER_ASAN
    QVERIFY2(after - before < 16, qPrintable(QString("grew by %1 MiB").arg(after - before)));
#endif
}

// Many joins in one read: every channel gets its window, numbered in order.
void tst_Hostile::joinBurst() {
    QByteArray joins;
    for (int i = 1; i <= 300; ++i)
        joins += ":me!u@h JOIN :#c" + QByteArray::number(i) + "\r\n";
    feed(joins);
    QCOMPARE(f->windowCount(), 301);
    const auto channels = f->app()->Connections()->Item(1)->Channels();
    for (int i = 1; i <= 300; i += 299) {
        const auto window = channels->Item(QString("#c%1").arg(i))->Window();
        QCOMPARE(window->Index(), i + 1);
        QCOMPARE(window->Caption(), QString("%1 - unused").arg(i + 1));
    }
}

QTEST_MAIN(tst_Hostile)
#include "tst_hostile.moc"
