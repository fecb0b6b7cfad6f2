// Times a burst of channel joins: N distinct "JOIN :#cN" lines about us and a PING after them,
// sent by a loopback server in one write and taken by the client in one read, until the PONG
// is back and every channel window is open. Prints one row per burst size: the wall-clock time,
// the client's own CPU time (the machine may be shared), and how soon the event loop answered an
// outside event meanwhile.
//
// Usage: bench_joinburst [--before-welcome] [sizes...]   (default 250 500 1000; offscreen unless
// QT_QPA_PLATFORM is set). With --before-welcome the burst comes before the server's 001, when
// any JOIN counts as ours. scripts/bench-a11y runs it with the accessibility bus on.
#include "BenchSupport.h"
#include "LoopWatch.h"
#include "app/Application.h"
#include "app/modMain.h"
#include "connection/IRCConnection.h"
#include "connection/IRCConnections.h"
#include "windows/Childs.h"
#include "windows/frmMain.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTcpServer>
#include <QTcpSocket>
#include <cstdio>

namespace {

QByteArray burst(int count, bool welcome) {
    QByteArray bytes = welcome ? ":srv 001 me :Welcome\r\n" : "";
    for (int i = 1; i <= count; ++i)
        bytes += ":me!u@h JOIN :#c" + QByteArray::number(i) + "\r\n";
    return bytes + "PING :end\r\n";
}

double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

struct Figures {
    double ms = -1, cpuMs = -1;
    bench::LoopWatch::Figures loop;
    bool right = false;
};

// What the user sees once the burst is over: every window numbered in order and named after its
// channel, the status window still active (channel windows open in the background).
bool windowsAsExpected(Application *app, int count) {
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    Childs *windows = app->Childs();
    if (windows->Count() != count + 1 ||
        windows->Item(1)->Caption() != QStringLiteral("1 - status"))
        return false;
    for (int i = 2; i <= count + 1; ++i)
        if (windows->Item(i)->Caption() != QStringLiteral("%1 - #c%2").arg(i).arg(i - 1) ||
            !windows->Item(i)->Visible())
            return false;
    return app->MainWindow()->mdiArea()->activeSubWindow() == windows->Item(1)->Form()->SubWindow();
}

// From the write until the last window is open and the event loop is idle again.
Figures timeBurst(int count, bool welcome, bench::LoopWatch &watch) {
    modMain::Main();
    Application *app = modMain::CurrentApplication();
    QCoreApplication::processEvents();
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    QTcpSocket *peer = nullptr;
    QObject::connect(&server, &QTcpServer::newConnection,
                     [&] { peer = server.nextPendingConnection(); });
    app->ProcessCommand(QStringLiteral("SERVER 127.0.0.1 %1").arg(server.serverPort()), true, 1);
    const std::shared_ptr<IRCConnection> connection = app->Connections()->Item(1);
    while (!peer || !connection->Connected())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

    Figures figures;
    const QByteArray bytes = burst(count, welcome);
    QByteArray answer;
    watch.start();
    const double cpuBefore = threadCpuMs();
    figures.ms = bench::msOf([&] {
        peer->write(bytes);
        peer->flush();
        while (!answer.contains("PONG :end\r\n") || app->Childs()->Count() < count + 1) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            answer += peer->readAll();
        }
        QCoreApplication::processEvents();
    });
    figures.cpuMs = threadCpuMs() - cpuBefore;
    figures.loop = watch.stop();
    figures.right = windowsAsExpected(app, count);
    app->ExitClient();
    QCoreApplication::processEvents();
    modMain::ReleaseApplication();
    QCoreApplication::processEvents();
    return figures;
}

} // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qt(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QList<int> sizes;
    bool welcome = true;
    for (int i = 1; i < argc; ++i)
        if (QByteArray(argv[i]) == "--before-welcome")
            welcome = false;
        else
            sizes.append(QByteArray(argv[i]).toInt());
    if (sizes.isEmpty())
        sizes = {250, 500, 1000};

    bench::LoopWatch watch;
    bool allRight = true;
    std::printf("| %-22s | %10s | %10s | %16s | %16s |\n",
                welcome ? "JOINs in one read" : "JOINs before 001", "time (ms)", "CPU (ms)",
                "loop answer max", "loop answer CPU");
    std::printf("|%s|%s|%s|%s|%s|\n", QByteArray(24, '-').constData(),
                QByteArray(12, '-').constData(), QByteArray(12, '-').constData(),
                QByteArray(18, '-').constData(), QByteArray(18, '-').constData());
    for (int count : sizes) {
        const Figures f = timeBurst(count, welcome, watch);
        std::printf("| %-22d | %10.1f | %10.1f | %13.2f ms | %13.2f ms |%s\n", count, f.ms, f.cpuMs,
                    f.loop.max, f.loop.cpuMax, f.right ? "" : " windows WRONG");
        std::fflush(stdout);
        allRight = allRight && f.right;
    }
    return allRight ? 0 : 1;
}
