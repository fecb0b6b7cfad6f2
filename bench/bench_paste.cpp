// A long paste into a channel window, sent to a real ngircd and InspIRCd on 127.0.0.1, each
// with its default flood limits, and received by a second user in the channel. Prints per server:
// the lines the client put on the wire, how many reached the other user, the time from Return
// until the last one arrived, and whether the server cut the client off.
//
// Usage: bench_paste [characters] [timeout s] [line length]   (default 40000, 300 and one line;
// with a line length the paste is that many lines of it; offscreen unless QT_QPA_PLATFORM is set)
#include "app/Application.h"
#include "app/modMain.h"
#include "connection/IRCConnection.h"
#include "connection/IRCConnections.h"
#include "connection/MessageSplitter.h"
#include "support/AppFixture.h"
#include "support/IrcServerFixture.h"
#include "support/IrcTestClient.h"
#include "windows/Child.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <cstdio>

namespace {

using Kind = IrcServerFixture::Kind;

QString pasteText(int characters, int lineLength) {
    QString text;
    for (int i = 0; text.size() < characters; ++i)
        text += QStringLiteral("word%1").arg(i) +
                (lineLength > 0 && text.size() / lineLength != (text.size() + 10) / lineLength
                     ? QLatin1Char('\n')
                     : QLatin1Char(' '));
    return text.left(characters).trimmed();
}

void run(Kind kind, int characters, int timeoutS, int lineLength) {
    const char *name = kind == Kind::Ngircd ? "ngircd" : "InspIRCd";
    IrcServerFixture server(kind, IrcServerFixture::Limits::Flood);
    QString error;
    if (!server.start(&error)) {
        std::printf("%-9s cannot start: %s\n", name, qPrintable(error));
        return;
    }
    AppFixture app;
    IrcTestClient bob;
    const QString port = QString::number(server.port());
    app.type(1, "/server 127.0.0.1 " + port);
    if (!app.waitForLine(1, "Connected to Server 127.0.0.1, Port " + port)) {
        std::printf("%-9s no connection\n", name);
        return;
    }
    app.type(1, "NICK alice");
    app.type(1, "USER alice 0 * :Alice");
    if (!bob.connectTo(server.port(), "bob") || !bob.join("#room") ||
        !QTest::qWaitFor([&] { return !app.lines(1).filter(" 376 alice :").isEmpty(); }, 10000)) {
        std::printf("%-9s no session\n", name);
        return;
    }
    app.type(1, "JOIN #room");
    if (!app.waitForLine(1, "Joined Channel #room", 10000)) {
        std::printf("%-9s no channel\n", name);
        return;
    }
    const QString text = pasteText(characters, lineLength);
    qsizetype sent = 0;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        sent +=
            MessageSplitter::Split(line, MessageSplitter::TextBudget("PRIVMSG", "#room")).size();
    QElapsedTimer clock;
    clock.start();
    app.type(2, text);
    const double returnMs = clock.nsecsElapsed() / 1e6; // echo, splitting, the first burst
    const QByteArray us = ":alice!";
    const auto arrived = [&] {
        qsizetype n = 0;
        for (const QByteArray &line : bob.lines)
            n += line.startsWith(us) && line.contains(" PRIVMSG #room :");
        return n;
    };
    qint64 lastMs = -1;
    qsizetype lastCount = 0;
    const QString cut = "Disconnected from Server 127.0.0.1, Port " + port;
    while (clock.elapsed() < qint64(timeoutS) * 1000) {
        QTest::qWait(50);
        const qsizetype n = arrived();
        if (n != lastCount) {
            lastCount = n;
            lastMs = clock.elapsed();
        }
        const bool gone = !app.app()->Connections()->Item(1)->Connected();
        if (gone || (lastCount > 0 && clock.elapsed() - lastMs > 15000))
            break;
    }
    for (const QString &line : app.status())
        if (line.contains("ERROR"))
            std::printf("%-9s %s\n", name, qPrintable(line));
    const bool disconnected = app.waitForLine(1, cut, 10);
    std::printf("%-9s %6d chars  Return %5.1f ms  %4lld lines sent  %4lld arrived  last after "
                "%6.1f s  %s\n",
                name, int(text.size()), returnMs, qlonglong(sent), qlonglong(lastCount),
                lastMs / 1000.0, disconnected ? "DISCONNECTED" : "still connected");
    bob.quit();
}

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    const int characters = argc > 1 ? std::atoi(argv[1]) : 40000;
    const int timeoutS = argc > 2 ? std::atoi(argv[2]) : 300;
    const int lineLength = argc > 3 ? std::atoi(argv[3]) : 0;
    for (const Kind kind : {Kind::Ngircd, Kind::InspIRCd})
        run(kind, characters, timeoutS, lineLength);
    return 0;
}
