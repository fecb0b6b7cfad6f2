#include "support/Script.h"

#include "channel/Channels.h"
#include "windows/Child.h"

#include <QHostAddress>
#include <QMdiSubWindow>
#include <QTest>

namespace {

// What window shows, without the lines the fixture caused: connecting, and the markers.
QStringList shown(const AppFixture &app, qint32 window, bool online) {
    QStringList lines = app.lines(window);
    if (window == 1) {
        lines = lines.mid(online ? 3 : 0);
        lines.removeIf(
            [](const QString &line) { return line.startsWith("<- Server(1): [:mark "); });
    }
    return lines;
}

QByteArray state(const AppFixture &app) {
    QByteArray out = QByteArray::number(app.windowCount());
    if (app.running())
        for (const auto &channel : app.connection().Channels()->NewEnum())
            out += ' ' + channel->Name().toUtf8();
    return out;
}

quint16 closedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

} // namespace

bool ConnectedClient::connect() {
    app.type(1, QStringLiteral("/server 127.0.0.1 %1").arg(server.port()));
    return server.waitForClient() &&
           app.waitForLine(
               1, QStringLiteral("Connected to Server 127.0.0.1, Port %1").arg(server.port()));
}

bool ConnectedClient::feed(const QByteArray &lines) {
    static int marker = 0;
    const QByteArray end = ":mark " + QByteArray::number(++marker) + " x";
    server.send(lines + end + "\r\n");
    // Generous: under the sanitizers a burst that opens hundreds of windows takes seconds.
    return app.waitForLine(1, "<- Server(1): [" + QString::fromLatin1(end) + "]", 60000);
}

void runScript(const QList<QByteArray> &script, bool online) {
    ConnectedClient c(online);
    QCOMPARE(c.connected, online);
    const QByteArray port = QByteArray::number(c.server.port());
    const QByteArray refused = QByteArray::number(closedPort());
    // The lines expected in each window, kept with the window itself: one that closes takes
    // its lines along, and a later window with its number starts empty.
    QList<std::pair<std::weak_ptr<Child>, QStringList>> expected;
    const auto expect = [&](qint32 window) -> QStringList & {
        for (auto &[held, lines] : expected)
            if (held.lock() == c.app.window(window))
                return lines;
        return expected.emplaceBack(c.app.window(window), QStringList()).second;
    };
    QList<QByteArray> wire;
    QByteArray end;
    for (QByteArray item : script) {
        item.replace("%1", port).replace("%2", refused);
        const QByteArray verb = item.left(item.indexOf(' ') < 0 ? item.size() : item.indexOf(' '));
        const QByteArray arg = item.mid(verb.size() + 1);
        const QString text = QString::fromUtf8(arg);
        const qint32 window = verb.front() - '0';
        if (verb == "<" || verb == "<<") {
            QVERIFY(QTest::qWaitFor([&] { return c.server.clientConnected(); }));
            QVERIFY(c.feed(arg + "\r\n"));
            if (verb == "<<")
                expect(1) << "<- Server(1): [" + text + "]";
        } else if (verb == "<|") {
            c.server.send(arg);
            QTest::qWait(0); // the client reads it by itself
        } else if (verb == ">") {
            wire << arg;
            c.server.waitForLines(int(wire.size()));
        } else if (verb == "=") {
            end = arg;
        } else if (verb == "drop") {
            c.server.closeClient();
        } else if (verb == "+") {
            c.app.app()->Childs()->Add();
        } else if (verb == "close") {
            c.app.window(arg.toInt())->Form()->SubWindow()->close();
        } else if (verb == "send") {
            c.app.connection().SendMessage(text);
        } else if (verb == "join") {
            c.app.connection().Channels()->Join(text);
        } else if (verb == "delete") {
            c.app.connection().Channels()->Item(text)->Delete();
        } else if (verb.endsWith('!') || verb.endsWith('?')) {
            c.app.app()->ProcessCommand(text, verb.endsWith('!'), window);
        } else {
            QVERIFY2(verb.size() == 2 && (verb.endsWith('>') || verb.endsWith(':')) &&
                         window >= 1 && window <= c.app.windowCount(),
                     item.constData());
            QStringList &lines = expect(window);
            lines << text;
            const auto arrived = [&] {
                return shown(c.app, window, online).size() >= lines.size();
            };
            if (verb.endsWith('>'))
                c.app.type(window, text);
            else // a line that never comes shows in the comparison at the end
                static_cast<void>(QTest::qWaitFor(arrived));
        }
    }
    if (online)
        QTest::qWait(50); // time for anything sent that should not have been
    // One text per window, each line after the window's number, so that a difference shows.
    const auto numbered = [](qint32 window, const QStringList &lines) {
        QString out;
        for (const QString &line : lines)
            out += QString::number(window) + ": " + line + '\n';
        return out;
    };
    for (qint32 window = 1; window <= c.app.windowCount(); ++window)
        QCOMPARE(numbered(window, shown(c.app, window, online)), numbered(window, expect(window)));
    if (!end.isEmpty())
        QCOMPARE(state(c.app), end);
    QCOMPARE(c.server.received(), wire.isEmpty() ? QByteArray() : wire.join("\r\n") + "\r\n");
}
