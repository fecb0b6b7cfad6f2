// A long paste into a channel window, sent to a real ngircd and InspIRCd on 127.0.0.1, each
// with its default flood limits, and received by a second user in the channel. Prints per server:
// the lines the client put on the wire, how many reached the other user, the time from Return
// until the last one arrived, and whether the server cut the client off.
//
// Usage: bench_paste [characters] [timeout s] [line length]   (default 40000, 300 and one line;
// with a line length the paste is that many lines of it; offscreen unless QT_QPA_PLATFORM is set)
//
// bench_paste lines N   pastes N short lines into the channel window on ngircd instead (through
// the clipboard and the paste key), presses Return and answers Send when the client asks; it
// prints how long the paste key and Return took, how soon the question came, the longest the
// event loop was held in the three seconds of sending after Send (or after Return, when nothing
// asked), and the memory it took.
#include "app/Application.h"
#include "app/modMain.h"
#include "connection/IRCConnection.h"
#include "connection/IRCConnections.h"
#include "connection/MessageSplitter.h"
#include "support/AppFixture.h"
#include "support/IrcServerFixture.h"
#include "support/IrcTestClient.h"
#include "windows/Child.h"
#include "windows/frmChild.h"

#include "BenchSupport.h"
#include "LoopWatch.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
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

// Connects app as alice to server, with bob, and joins both to #room. Says why when it fails.
bool session(const char *name, IrcServerFixture &server, AppFixture &app, IrcTestClient &bob) {
    QString error;
    if (!server.start(&error)) {
        std::printf("%-9s cannot start: %s\n", name, qPrintable(error));
        return false;
    }
    const QString port = QString::number(server.port());
    app.type(1, "/server 127.0.0.1 " + port);
    if (!app.waitForLine(1, "Connected to Server 127.0.0.1, Port " + port)) {
        std::printf("%-9s no connection\n", name);
        return false;
    }
    app.type(1, "NICK alice");
    app.type(1, "USER alice 0 * :Alice");
    if (!bob.connectTo(server.port(), "bob") || !bob.join("#room") ||
        !QTest::qWaitFor([&] { return !app.lines(1).filter(" 376 alice :").isEmpty(); }, 10000)) {
        std::printf("%-9s no session\n", name);
        return false;
    }
    app.type(1, "JOIN #room");
    if (!app.waitForLine(1, "Joined Channel #room", 10000)) {
        std::printf("%-9s no channel\n", name);
        return false;
    }
    return true;
}

void run(Kind kind, int characters, int timeoutS, int lineLength) {
    const char *name = kind == Kind::Ngircd ? "ngircd" : "InspIRCd";
    IrcServerFixture server(kind, IrcServerFixture::Limits::Flood);
    AppFixture app;
    IrcTestClient bob;
    if (!session(name, server, app, bob))
        return;
    const QString port = QString::number(server.port());
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

// A paste of lines short lines: the question, the event loop and memory.
void question(int lines) {
    IrcServerFixture server(Kind::Ngircd, IrcServerFixture::Limits::Flood);
    AppFixture app;
    IrcTestClient bob;
    if (!session("ngircd", server, app, bob))
        return;
    QString text;
    for (int i = 0; i < lines; ++i)
        text += QStringLiteral("line %1 of the paste, a few words long\n").arg(i);
    QGuiApplication::clipboard()->setText(text);
    text.clear();
    const double before = bench::statusMiB("VmRSS");
    QLineEdit *input = app.window(2)->Form()->txtInput();
    input->setFocus();
    bench::LoopWatch watch;
    QElapsedTimer clock;
    double askedMs = -1;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || askedMs >= 0)
            return;
        askedMs = clock.nsecsElapsed() / 1e6;
        for (QAbstractButton *button : box->buttons())
            if (box->buttonRole(button) == QMessageBox::AcceptRole)
                button->click();
        watch.start();
    });
    answer.start(1);
    clock.start();
    QTest::keySequence(input, QKeySequence::Paste);
    const double pasteMs = clock.nsecsElapsed() / 1e6;
    QGuiApplication::clipboard()->clear();
    const double returnMs = bench::msOf([&] { QTest::keyClick(input, Qt::Key_Return); });
    answer.stop();
    if (askedMs < 0)
        watch.start();
    QTest::qWait(3000);
    const bench::LoopWatch::Figures held = watch.stop();
    std::printf("%d lines  paste %.0f ms  question after %.0f ms  Return %.0f ms  longest wait "
                "after Send %.1f ms (cpu %.1f ms)  memory +%.1f MiB, peak %.1f MiB\n",
                lines, pasteMs, askedMs, returnMs, held.max, held.cpuMax,
                bench::statusMiB("VmRSS") - before, bench::statusMiB("VmHWM"));
    bob.quit();
}

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    if (argc > 2 && qstrcmp(argv[1], "lines") == 0) {
        question(std::atoi(argv[2]));
        return 0;
    }
    const int characters = argc > 1 ? std::atoi(argv[1]) : 40000;
    const int timeoutS = argc > 2 ? std::atoi(argv[2]) : 300;
    const int lineLength = argc > 3 ? std::atoi(argv[3]) : 0;
    for (const Kind kind : {Kind::Ngircd, Kind::InspIRCd})
        run(kind, characters, timeoutS, lineLength);
    return 0;
}
