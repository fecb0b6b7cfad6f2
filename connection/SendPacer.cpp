#include "connection/SendPacer.h"

#include "platform/EscapedErrors.h"

namespace {
int &defaultBurst() {
    static int burst = SendPacer::DefaultBurst;
    return burst;
}
int &defaultIntervalMs() {
    static int ms = SendPacer::DefaultIntervalMs;
    return ms;
}

bool isWord(QByteArrayView verb, QByteArrayView word) {
    return verb.size() == word.size() && qstrnicmp(verb.data(), word.data(), word.size()) == 0;
}
} // namespace

SendPacer::SendPacer(QObject *parent)
    : QObject(parent), m_tokens(defaultBurst()), m_burst(defaultBurst()),
      m_intervalMs(defaultIntervalMs()) {
    m_clock.start();
    m_timer.setSingleShot(true);
    // A timer's call comes from the event loop: nothing may escape into it.
    connect(&m_timer, &QTimer::timeout, this, [this] { Guarded([this] { releaseDue(); }); });
}

bool SendPacer::Paced(QByteArrayView wire) {
    const qsizetype blank = wire.indexOf(' ');
    const QByteArrayView verb = blank < 0 ? wire : wire.first(blank);
    return isWord(verb, "PRIVMSG") || isWord(verb, "NOTICE");
}

void SendPacer::Send(const QByteArray &wire) {
    if (m_intervalMs <= 0 || !Paced(wire)) {
        emit Release(wire);
        return;
    }
    refill();
    if (m_queue.isEmpty() && m_tokens > 0) {
        --m_tokens;
        emit Release(wire);
        return;
    }
    m_queue.enqueue(wire);
    scheduleNext();
    if (m_reportPending)
        return;
    m_reportPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_reportPending = false;
            if (!m_queue.isEmpty())
                Guarded([this] { emit StartedWaiting(); });
        },
        Qt::QueuedConnection);
}

qsizetype SendPacer::Reset() {
    const qsizetype dropped = m_queue.size();
    m_queue.clear();
    m_timer.stop();
    m_tokens = m_burst;
    m_refilledMs = m_clock.elapsed();
    return dropped;
}

void SendPacer::SetRate(int burst, int intervalMs) {
    m_burst = qMax(1, burst);
    m_intervalMs = intervalMs;
    m_tokens = qMin(m_tokens, m_burst);
    m_timer.stop();
    scheduleNext();
}

void SendPacer::SetDefaultRate(int burst, int intervalMs) {
    defaultBurst() = burst;
    defaultIntervalMs() = intervalMs;
}

// The bucket gains one line's room per interval that has passed, up to a full bucket.
void SendPacer::refill() {
    const qint64 now = m_clock.elapsed();
    if (m_tokens >= m_burst || m_intervalMs <= 0) {
        m_refilledMs = now;
        return;
    }
    const qint64 gained = (now - m_refilledMs) / m_intervalMs;
    m_tokens = int(qMin<qint64>(m_burst, m_tokens + gained));
    m_refilledMs = m_tokens >= m_burst ? now : m_refilledMs + gained * m_intervalMs;
}

// What is due goes in order. A line released may end the connection, which drops the rest
// (Reset) before the next one is looked at.
void SendPacer::releaseDue() {
    refill();
    while (!m_queue.isEmpty() && (m_tokens > 0 || m_intervalMs <= 0)) {
        if (m_intervalMs > 0)
            --m_tokens;
        emit Release(m_queue.dequeue());
    }
    scheduleNext();
}

void SendPacer::scheduleNext() {
    if (m_queue.isEmpty()) {
        m_timer.stop();
        return;
    }
    if (m_timer.isActive())
        return;
    const qint64 due =
        m_intervalMs <= 0 ? 0 : qMax<qint64>(0, m_refilledMs + m_intervalMs - m_clock.elapsed());
    m_timer.start(int(due));
}
