#include "support/Script.h"

#include "channel/Channels.h"
#include "connection/SocketArray.h"
#include "windows/Child.h"
#include "windows/frmChild.h"
#include "windows/frmMain.h"

#include <QApplication>
#include <QHostAddress>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QTest>

namespace {

// What window shows, without the lines the fixture caused: connecting, and the markers.
QStringList shown(const AppFixture &app, qint32 window, bool online) {
    QStringList lines = app.lines(window).mid(window == 1 && online ? 3 : 0);
    lines.removeIf([](const QString &line) { return line.startsWith("<- Server(1): [:mark "); });
    return lines;
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

void runScript(const QList<QByteArray> &script) {
    const bool online = script.value(0) != "offline";
    ConnectedClient c(online);
    QCOMPARE(c.connected, online);
    const QByteArray port = QByteArray::number(c.server.port());
    // A port nobody listens on (closed at once), and one that takes connections, never answers.
    QTcpServer probe, silent;
    probe.listen(QHostAddress::LocalHost);
    silent.listen(QHostAddress::LocalHost);
    const QByteArray refused = QByteArray::number(probe.serverPort()),
                     silentPort = QByteArray::number(silent.serverPort());
    probe.close();
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
    for (QByteArray item : script.mid(online ? 0 : 1)) {
        item.replace("%1", port).replace("%2", refused).replace("%3", silentPort);
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
        } else if (verb == "handshake") {
            c.app.app()
                ->MainWindow()
                ->wsConnection()
                .Element(c.app.connection().SocketIndex())
                .SetHandshakeTimeout(arg.toInt());
        } else if (verb == "send") {
            c.app.connection().SendMessage(text);
        } else if (verb == "pace") {
            c.app.connection().Pacer().SetRate(arg.split(' ')[0].toInt(),
                                               arg.split(' ')[1].toInt());
        } else if (verb == "quiet") {
            QTest::qWait(arg.toInt());
        } else if (verb == "join") {
            c.app.connection().Channels()->Join(text);
        } else if (verb == "keys") {
            const QStringList pieces = text.split('\n');
            for (qsizetype i = 0; i < pieces.size(); ++i) {
                QVERIFY(QApplication::focusWidget());
                if (i > 0)
                    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
                QTest::keyClicks(QApplication::focusWidget(), pieces[i]);
            }
        } else if (verb == "focus") {
            QTRY_COMPARE(QApplication::focusWidget(),
                         static_cast<QWidget *>(c.app.window(arg.toInt())->Form()->txtInput()));
        } else if (verb == "delete") {
            c.app.connection().Channels()->Item(text)->Delete();
        } else if (verb.endsWith('?')) {
            c.app.app()->ProcessCommand(text, false, window);
        } else {
            QVERIFY2(verb.size() == 2 && (verb.endsWith('>') || verb.endsWith(':')) &&
                         window >= 1 && window <= c.app.windowCount(),
                     item.constData());
            QStringList &lines = expect(window);
            if (verb.endsWith(':') || !text.contains('\n'))
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
    for (qint32 window = 1; window <= c.app.windowCount(); ++window) {
        const QString tag = QString("(the lines of window %1)").arg(window);
        QCOMPARE((shown(c.app, window, online) << tag).join('\n'),
                 (expect(window) << tag).join('\n'));
    }
    QByteArray state = QByteArray::number(c.app.windowCount());
    if (c.app.running())
        for (const auto &channel : c.app.connection().Channels()->NewEnum())
            state += ' ' + channel->Name().toUtf8();
    if (!end.isEmpty())
        QCOMPARE(state, end);
    QCOMPARE(c.server.received(), wire.isEmpty() ? QByteArray() : wire.join("\r\n") + "\r\n");
}
