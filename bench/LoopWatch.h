#pragma once

// How soon the event loop answers an outside event while the client works (bench_flood,
// bench_joinburst).

#include <QSocketNotifier>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <pthread.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace bench {

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

} // namespace bench
