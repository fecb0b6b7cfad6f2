// A hostile or broken server: a PING flood, a JOIN burst, and
// traffic that races the deletion of channels, connections and the client itself. Nothing may
// crash, leak into a neighbouring line, or be lost.

#include "channel/Channels.h"
#include "support/Script.h"
#include "windows/Child.h"

#include <QFile>
#include <QMdiSubWindow>
#include <QTest>

class tst_Hostile : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void duringBurst_data();
    void duringBurst();
    void trafficAfterPart();
    void pingFloodNeverRead();
    void joinBurst();

private:
    std::unique_ptr<ConnectedClient> c;
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

// A burst of lines for #c, and what happens during it: at its at-th line the user closes the
// window of #c, something deletes the connection, or the user ends the client; or the server
// closes right after sending it. Received lines are processed in slices of a few milliseconds,
// one per event-loop turn: a short burst fits in one slice, a long one spans many, and the event
// then comes in a later slice than the first. wire: what the client sends (a PING follows the
// burst, but the server's own close).
void tst_Hostile::duringBurst_data() {
    QTest::addColumn<QByteArray>("event");
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("at");
    QTest::addColumn<QList<QByteArray>>("wire");
    const QList<std::pair<QByteArray, QList<QByteArray>>> events = {
        {"window closed", {"PART :#c", "PONG :late"}},
        {"connection deleted", {"PART :#d", "PART :#c"}},
        {"exit", {"PART :#d", "PART :#c"}},
        {"server close", {}}};
    for (const auto &[event, wire] : events) {
        QTest::addRow("%s within one slice", event.constData()) << event << 200 << 30 << wire;
        QTest::addRow("%s slices later", event.constData()) << event << 40000 << 30000 << wire;
    }
}

// Nothing is processed by what is gone, and nothing is lost: the lines after a closed window go
// to the status window, and a server's last lines are all shown before its close.
void tst_Hostile::duringBurst() {
    QFETCH(QByteArray, event);
    QFETCH(int, lines);
    QFETCH(int, at);
    QFETCH(QList<QByteArray>, wire);
    QVERIFY(c->join("#d"));
    Application *app = c->app.app();
    int seen = 0;
    connect(app->Connections(), &IRCConnections::GetMessageRaw, app,
            [&](qint32, const QString &message, bool &) {
                if (!message.contains("PRIVMSG #c") || ++seen != at)
                    return;
                if (event == "window closed")
                    c->app.window(2)->Form()->SubWindow()->close();
                else if (event == "connection deleted")
                    app->Connections()->Remove(1);
                else if (event == "exit")
                    app->ProcessCommand("EXIT", true, 1);
            });
    QStringList shown;
    for (int i = 0; i < lines; ++i)
        shown << QString("<bob> line %1").arg(i);
    c->server.send(burst(lines) + (event == "server close" ? "" : "PING :late\r\n"));
    if (event == "window closed") {
        QVERIFY(c->feed({}));
        const QRegularExpression raw("^<- Server\\(1\\): \\[:bob!b@h PRIVMSG #c");
        QCOMPARE(c->app.status().filter(raw).size(), lines - at + 1); // from the one just before
        QCOMPARE(c->app.windowCount(), 2);
    } else if (event == "server close") {
        c->server.closeClient();
        QVERIFY(c->app.waitForLine(
            1, "Disconnected from Server 127.0.0.1, Port " + QString::number(c->server.port()),
            30000));
        QCOMPARE(c->app.lines(2), shown);
    } else {
        QVERIFY(c->server.waitForDisconnect(30000));
        QCOMPARE(c->app.windowCount(), event == "exit" ? 0 : 1);
    }
    QVERIFY(c->server.waitForLines(int(wire.size())));
    QCOMPARE(c->server.receivedLines(), wire);
    if (c->app.running() && !c->app.app()->Connections()->Count())
        c->app.app()->Connections()->Add(); // the fixture's connection 1 again
}

void tst_Hostile::trafficAfterPart() {
    QVERIFY(c->feed(":me!u@h PART :#c\r\n" + burst(20) + ":me!u@h PART :#c\r\n"));
    QCOMPARE(c->app.windowCount(), 1);
    QCOMPARE(c->app.status().filter("PRIVMSG #c :line").size(), 20);
    QVERIFY(c->app.status().contains("Left Channel #c"));
    QVERIFY(c->app.status().contains("<- Server(1): [:me!u@h PART :#c]"));
    QVERIFY(c->server.received().isEmpty());
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
