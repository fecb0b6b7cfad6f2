// Floods a channel window of the real client over a loopback socket and prints one table:
// the time until the PONG that follows N channel lines, lines per second, peak memory, memory
// per stored line, how soon the event loop answered during the flood and when idle, scrolling
// the full window both ways, copying all of it, resizing it, and the start-up time.
//
// Usage: bench_flood [lines] [random]   (default 1000000; offscreen unless QT_QPA_PLATFORM is set)
// With "random" every channel line is 200 random printable characters, text that does not
// compress: the window then keeps only its newest lines, and the flood ends at the PONG.
// The start-up time counts from the moment given in VELLOQ_LAUNCH_NS (CLOCK_REALTIME, set by
// scripts/bench just before it starts the program), else from the process's start.
#include "BenchSupport.h"
#include "FloodServer.h"
#include "LoopWatch.h"
#include "app/Application.h"
#include "app/modMain.h"
#include "channel/Channels.h"
#include "connection/IRCConnections.h"
#include "windows/Childs.h"
#include "windows/outputview/OutputView.h"

#include <QLineEdit>
#include <QMdiSubWindow>
#include <QScrollBar>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

double msSinceLaunch() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const double nowNs = double(now.tv_sec) * 1e9 + double(now.tv_nsec);
    bool ok = false;
    const double launch = qEnvironmentVariable("VELLOQ_LAUNCH_NS").toDouble(&ok);
    if (ok)
        return (nowNs - launch) / 1e6;
    // Fall back on the process start time (clock ticks since boot).
    QFile stat(QStringLiteral("/proc/self/stat"));
    QFile uptime(QStringLiteral("/proc/uptime"));
    if (!stat.open(QIODevice::ReadOnly) || !uptime.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray s = stat.readAll();
    const QList<QByteArray> fields = s.mid(s.lastIndexOf(')') + 2).split(' ');
    const double startS = fields.value(19).toDouble() / double(sysconf(_SC_CLK_TCK));
    return (uptime.readAll().split(' ').value(0).toDouble() - startS) * 1e3;
}

void type(const std::shared_ptr<Child> &window, const QString &text) {
    QLineEdit *input = window->Form()->txtInput();
    input->setText(text);
    bench::sendKey(input, Qt::Key_Return, Qt::NoModifier);
}

} // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const qint64 lines = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    const bool random = argc > 2 && QByteArray(argv[2]) == "random";
    QApplication qt(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    modMain::Main();
    Application *app = modMain::CurrentApplication();
    QCoreApplication::processEvents();
    const double startupMs = msSinceLaunch();

    FloodProcess server(lines, "#flood",
                        random ? FloodServer::Text::Random : FloodServer::Text::Talk);
    bench::LoopWatch watch;
    // Idle first: the same loop with nothing arriving.
    watch.start();
    QElapsedTimer second;
    second.start();
    while (second.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const bench::LoopWatch::Figures idle = watch.stop();
    const double rssBefore = bench::statusMiB("VmRSS");
    type(app->Childs()->Item(1), QStringLiteral("/server 127.0.0.1 %1").arg(server.port()));
    // The client works until the server's PONG arrives; the child then reports and leaves.
    std::shared_ptr<Channel> flood;
    const auto allShown = [&] {
        if (!flood)
            flood = app->Connections()->Item(1)->Channels()->Item(QStringLiteral("#flood"));
        if (random)
            return server.resultReady();
        return flood && flood->Window()->Form()->txtOutput()->lineCount() >= lines;
    };
    // The answer times count from the moment the channel window is open: the turn that opens
    // it is the window's own cost, not the flood's.
    while (!flood && !allShown())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    watch.start();
    while (!allShown())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const bench::LoopWatch::Figures busy = watch.stop();
    for (int i = 0; i < 20; ++i) // let the PONG go out
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double seconds = server.wait();
    const double rssAfter = bench::statusMiB("VmRSS");
    const double peak = bench::statusMiB("VmHWM");

    std::shared_ptr<Channel> channel = app->Connections()->Item(1)->Channels()->Item("#flood");
    OutputView *view = channel ? channel->Window()->Form()->txtOutput() : nullptr;
    const qsizetype shown = view ? view->lineCount() : 0;

    double scrollMs = -1, resizeMs = -1, homeMs = -1, copyMs = -1;
    if (view) {
        QMdiSubWindow *sub = channel->Window()->Form()->SubWindow();
        sub->showMaximized();
        QCoreApplication::processEvents();
        bench::sendKey(view, Qt::Key_End, Qt::ControlModifier);
        view->viewport()->repaint();
        homeMs = bench::msOf([&] {
            bench::sendKey(view, Qt::Key_Home, Qt::ControlModifier);
            view->viewport()->repaint();
        });
        scrollMs = bench::msOf([&] {
            bench::sendKey(view, Qt::Key_End, Qt::ControlModifier);
            view->viewport()->repaint();
        });
        copyMs = bench::msOf([&] {
            bench::sendKey(view, Qt::Key_A, Qt::ControlModifier);
            bench::sendKey(view, Qt::Key_C, Qt::ControlModifier);
        });
        resizeMs = bench::msOf([&] {
            sub->showNormal();
            sub->resize(420, 300);
            QCoreApplication::processEvents();
            view->viewport()->repaint();
        });
    }

    std::printf("| %-44s | %14s |\n", "figure", "value");
    std::printf("|%s|%s|\n", QByteArray(46, '-').constData(), QByteArray(16, '-').constData());
    const auto row = [](const char *name, const QString &value) {
        std::printf("| %-44s | %14s |\n", name, qPrintable(value));
    };
    row("channel lines sent", QString::number(lines));
    row(random ? "lines kept (random text)" : "lines shown in the channel window",
        QString::number(shown));
    if (random && view)
        row("its first line", view->line(0).left(40));
    row("bytes received", QString::number(server.bytes()));
    row("time until PONG :done (s)", QString::number(seconds, 'f', 3));
    row("lines per second", QString::number(qint64(double(lines) / seconds)));
    row("peak resident memory (MiB)", QString::number(peak, 'f', 1));
    row("memory per stored line (bytes)",
        QString::number((rssAfter - rssBefore) * 1024 * 1024 / double(qMax<qint64>(1, lines)), 'f',
                        1));
    row("event loop answer during flood, max (ms)", QString::number(busy.max, 'f', 2));
    row("event loop answer during flood, p99 (ms)", QString::number(busy.p99, 'f', 2));
    row("event loop answer during flood, CPU max (ms)", QString::number(busy.cpuMax, 'f', 2));
    row("event loop answer during flood, CPU p99 (ms)", QString::number(busy.cpuP99, 'f', 2));
    row("event loop answer when idle, max (ms)", QString::number(idle.max, 'f', 2));
    row("event loop answer when idle, p99 (ms)", QString::number(idle.p99, 'f', 2));
    row("scroll bottom to top, Ctrl+Home (ms)", QString::number(homeMs, 'f', 2));
    row("scroll top to bottom, Ctrl+End (ms)", QString::number(scrollMs, 'f', 2));
    row("copy all, Ctrl+A Ctrl+C (ms)", QString::number(copyMs, 'f', 1));
    row("resize with word wrap (ms)", QString::number(resizeMs, 'f', 2));
    row("start-up to status window shown (ms)", QString::number(startupMs, 'f', 1));
    std::fflush(stdout);

    app->ExitClient();
    QCoreApplication::processEvents();
    modMain::ReleaseApplication();
    return shown == lines || (random && seconds > 0) ? 0 : 1;
}
