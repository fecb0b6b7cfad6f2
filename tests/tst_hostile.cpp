// A hostile or broken server: long lines byte by byte, a PING flood, and
// traffic that races the deletion of channels, connections and the client itself. Nothing may
// crash, leak into a neighbouring line, or be lost.

#include "app/Application.h"
#include "channel/Channels.h"
#include "connection/IRCConnections.h"
#include "support/Script.h"
#include "windows/Childs.h"

#include <QFile>
#include <QMdiSubWindow>
#include <QTest>

class tst_Hostile : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void legalLongLinesByteByByte_data();
    void legalLongLinesByteByByte();
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
    std::unique_ptr<ConnectedClient> c;
    // Runs action when the client has seen the at-th line of a burst of lines.
    void during(int lines, int at, const std::function<void()> &action, QByteArray more = {});
};

static double residentMiB() {
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    const QByteArray text = status.readAll();
    const qsizetype at = text.indexOf("VmRSS:") + 6;
    return text.mid(at, text.indexOf("kB", at) - at).trimmed().toDouble() / 1024.0;
}

static QByteArray burst(int count) {
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += ":bob!b@h PRIVMSG #c :line " + QByteArray::number(i) + "\r\n";
    return out;
}

void tst_Hostile::init() {
    c = std::make_unique<ConnectedClient>();
    QVERIFY(c->connected && c->join("#c"));
}

void tst_Hostile::cleanup() {
    c.reset();
}

void tst_Hostile::during(int lines, int at, const std::function<void()> &action, QByteArray more) {
    connect(c->app.app()->Connections(), &IRCConnections::GetMessageRaw, c->app.app(),
            [=, seen = 0](qint32, const QString &message, bool &) mutable {
                if (message.contains("PRIVMSG #c") && ++seen == at)
                    action();
            });
    c->server.send(burst(lines) + more);
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
    const QString shown = "<- Server(1): [" + QString::fromLatin1(line) + "]";
    const QByteArray stream = line + "\r\n";
    const int step = length > 1000 ? 7 : 1; // keep the long case quick: 7 bytes per read
    for (int i = 0; i < stream.size(); i += step) {
        c->server.send(stream.mid(i, step));
        QTest::qWait(0);
    }
    QVERIFY(c->app.waitForLine(1, shown, 20000));
    QVERIFY(c->feed(line + "\r\n"));
    QCOMPARE(c->app.status().count(shown), 2);
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
    during(lines, at, [this] { c->app.window(2)->Form()->SubWindow()->close(); });
    QVERIFY(c->feed({}));
    QCOMPARE(c->app.windowCount(), 1);
    const QStringList toStatus =
        c->app.status().filter(QRegularExpression("^<- Server\\(1\\): \\[:bob!b@h PRIVMSG #c"));
    QCOMPARE(toStatus.size(), lines - at + 1); // the line seen just before the close, and the rest
    QVERIFY(c->server.waitForLines(1));
    QCOMPARE(c->server.receivedLines(), QList<QByteArray>{"PART :#c"});
}

void tst_Hostile::trafficAfterPart() {
    QVERIFY(c->feed(":me!u@h PART :#c\r\n" + burst(20) + ":me!u@h PART :#c\r\n"));
    QCOMPARE(c->app.windowCount(), 1);
    QCOMPARE(c->app.status().filter("PRIVMSG #c :line").size(), 20);
    QVERIFY(c->app.status().contains("Left Channel #c"));
    QVERIFY(c->app.status().contains("<- Server(1): [:me!u@h PART :#c]"));
    QVERIFY(c->server.received().isEmpty());
}

// Something deletes the connection in the middle of a burst: the rest of the burst is not
// processed by a connection that is gone.
void tst_Hostile::connectionDeletedDuringBurst() {
    QFETCH(int, lines);
    QFETCH(int, at);
    QVERIFY(c->join("#d"));
    during(lines, at, [this] { c->app.app()->Connections()->Remove(1); });
    QVERIFY(c->server.waitForDisconnect(30000));
    QCOMPARE(c->app.app()->Connections()->Count(), 0);
    QCOMPARE(c->app.windowCount(), 1);
    QCOMPARE(c->server.receivedLines(), (QList<QByteArray>{"PART :#d", "PART :#c"}));
    c->app.app()->Connections()->Add(); // the fixture's connection 1 again
}

void tst_Hostile::exitDuringBurst() {
    QFETCH(int, lines);
    QFETCH(int, at);
    during(
        lines, at, [this] { c->app.app()->ProcessCommand("EXIT", true, 1); }, "PING :late\r\n");
    QVERIFY(c->server.waitForDisconnect(30000));
    QVERIFY(!c->app.running());
    AppFixture::settle();
    QCOMPARE(c->server.receivedLines(), QList<QByteArray>{"PART :#c"});
}

// The server sends a burst and closes at once, while slices of it still wait: every line is
// shown, in order, before the close is reported.
void tst_Hostile::serverCloseDuringBurst() {
    QFETCH(int, lines);
    c->server.send(burst(lines));
    c->server.closeClient();
    QVERIFY(c->app.waitForLine(
        1, QString("Disconnected from Server 127.0.0.1, Port %1").arg(c->server.port()), 30000));
    const QStringList shown = c->app.lines(2);
    QCOMPARE(shown.size(), lines);
    for (int i = 0; i < lines; ++i)
        QCOMPARE(shown.at(i), QString("<bob> line %1").arg(i));
}

// A server that sends PINGs and never reads: once 1 MiB of replies waits unsent the client
// closes the connection with one line, and the memory they took comes back.
void tst_Hostile::pingFloodNeverRead() {
    c->server.stopReading();
    const double before = residentMiB();
    const QByteArray ping = "PING :" + QByteArray(60000, 'p') + "\r\n";
    for (int i = 0; i < 400 && c->app.connection().Connected(); ++i) {
        c->server.send(ping);
        QTest::qWait(1);
    }
    const QString closed = "Server(1): the server stopped reading; connection closed";
    QVERIFY(c->app.waitForLine(1, closed));
    QTest::qWait(100);
    const double after = residentMiB();
    QVERIFY(!c->app.connection().Connected());
    QCOMPARE(c->app.status().mid(5), (QStringList{closed, "Left Channel #c"})); // after the JOIN
    qInfo("resident memory %.1f MiB before, %.1f MiB after the PING flood", before, after);
#ifndef __SANITIZE_ADDRESS__ // the sanitizer's own bookkeeping grows
    QVERIFY2(after - before < 16, qPrintable(QString("grew by %1 MiB").arg(after - before)));
#endif
}

// Many joins in one read: every channel gets its window, numbered in order.
void tst_Hostile::joinBurst() {
    QByteArray joins;
    for (int i = 1; i <= 300; ++i)
        joins += ":me!u@h JOIN :#c" + QByteArray::number(i) + "\r\n";
    QVERIFY(c->feed(joins));
    QCOMPARE(c->app.windowCount(), 302);
    for (int i = 1; i <= 300; i += 299) {
        const auto window = c->app.connection().Channels()->Item(QString("#c%1").arg(i))->Window();
        QCOMPARE(window->Index(), i + 2);
        QCOMPARE(window->Caption(), QString("%1 - unused").arg(i + 2));
    }
}

QTEST_MAIN(tst_Hostile)
#include "tst_hostile.moc"
