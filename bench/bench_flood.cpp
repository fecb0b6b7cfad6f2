// Floods a channel window of the real client over a loopback socket and prints one table:
// the time until the PONG that follows N channel lines, lines per second, peak memory, memory
// per stored line, how soon the event loop answered during the flood and when idle, scrolling
// the full window both ways, copying all of it, resizing it, and the start-up time.
//
// Usage: bench_flood [lines]   (default 1000000; offscreen unless QT_QPA_PLATFORM is set)
// The start-up time counts from the moment given in VELLOQ_LAUNCH_NS (CLOCK_REALTIME, set by
// scripts/bench just before it starts the program), else from the process's start.
#include "BenchSupport.h"
#include "FloodServer.h"
#include "app/Application.h"
#include "app/modMain.h"
#include "channel/Channels.h"
#include "connection/IRCConnections.h"
#include "windows/Childs.h"
#include "windows/outputview/OutputView.h"

#include <QLineEdit>
#include <QMdiSubWindow>
#include <QScrollBar>
#include <QSocketNotifier>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>
#include <vector>

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

// Measures how long the event loop takes to answer an outside event, the way it answers input
// or the window manager's ping: a thread of its own writes the time into a pipe every
// millisecond, and the loop reads it through a socket notifier. The answer time is the time
// from the write to the read. (A repeating QTimer would not do: Qt's glib event loop holds
// timers back while other events keep coming, so its lateness says little about input.)
// On a shared machine the wall-clock answer also holds the time the system gave to other
// processes, so the main thread's own CPU time between the write and the read is kept too: the
// work the client did before it answered, which is what a free core would see.
class LoopWatch {
public:
    struct Figures {
        double max = -1, p99 = -1, cpuMax = -1, cpuP99 = -1;
    };
    LoopWatch() {
        pthread_getcpuclockid(pthread_self(), &m_mainCpu);
        if (::pipe2(m_pipe, O_NONBLOCK | O_CLOEXEC) != 0)
            m_pipe[0] = m_pipe[1] = -1;
        m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
        m_notifier->setEnabled(false);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { take(); });
    }
    ~LoopWatch() {
        stop();
        ::close(m_pipe[0]);
        ::close(m_pipe[1]);
    }
    void start() {
        stop();
        m_answers.clear();
        m_cpu.clear();
        m_notifier->setEnabled(true);
        m_running = true;
        m_thread = std::thread([this] {
            while (m_running) {
                const Stamp sent{nowNs(CLOCK_MONOTONIC), nowNs(m_mainCpu)};
                if (::write(m_pipe[1], &sent, sizeof sent) != sizeof sent)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    // Stops and gives the maximum and the 99th percentile of the answer times in ms.
    Figures stop() {
        if (!m_thread.joinable())
            return {};
        m_running = false;
        m_thread.join();
        take();
        m_notifier->setEnabled(false);
        if (m_answers.empty())
            return {};
        return {at(m_answers, 100), at(m_answers, 99), at(m_cpu, 100), at(m_cpu, 99)};
    }

private:
    struct Stamp {
        qint64 wall, cpu;
    };
    static qint64 nowNs(clockid_t clock) {
        timespec now{};
        clock_gettime(clock, &now);
        return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
    }
    static double at(std::vector<qint64> &values, size_t percent) {
        std::sort(values.begin(), values.end());
        return double(values[std::min(values.size() * percent / 100, values.size() - 1)]) / 1e6;
    }
    void take() {
        Stamp sent[64];
        ssize_t got;
        while ((got = ::read(m_pipe[0], sent, sizeof sent)) > 0) {
            const qint64 now = nowNs(CLOCK_MONOTONIC);
            const qint64 cpu = nowNs(m_mainCpu);
            for (ssize_t i = 0; i < got / ssize_t(sizeof(Stamp)); ++i) {
                m_answers.push_back(now - sent[i].wall);
                m_cpu.push_back(cpu - sent[i].cpu);
            }
        }
    }
    clockid_t m_mainCpu{};
    int m_pipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::vector<qint64> m_answers;
    std::vector<qint64> m_cpu;
};

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
    QApplication qt(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    modMain::Main();
    Application *app = modMain::CurrentApplication();
    QCoreApplication::processEvents();
    const double startupMs = msSinceLaunch();

    FloodProcess server(lines, "#flood");
    LoopWatch watch;
    // Idle first: the same loop with nothing arriving.
    watch.start();
    QElapsedTimer second;
    second.start();
    while (second.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const LoopWatch::Figures idle = watch.stop();
    const double rssBefore = bench::statusMiB("VmRSS");
    type(app->Childs()->Item(1), QStringLiteral("/server 127.0.0.1 %1").arg(server.port()));
    // The client works until the server's PONG arrives; the child then reports and leaves.
    std::shared_ptr<Channel> flood;
    const auto allShown = [&] {
        if (!flood)
            flood = app->Connections()->Item(1)->Channels()->Item(QStringLiteral("#flood"));
        return flood && flood->Window()->Form()->txtOutput()->lineCount() >= lines;
    };
    // The answer times count from the moment the channel window is open: the turn that opens
    // it is the window's own cost, not the flood's.
    while (!flood && !allShown())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    watch.start();
    while (!allShown())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const LoopWatch::Figures busy = watch.stop();
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
    row("lines shown in the channel window", QString::number(shown));
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
    return shown == lines ? 0 : 1;
}
