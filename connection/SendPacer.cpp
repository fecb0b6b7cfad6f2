#include "connection/SendPacer.h"

#include "channel/ChannelName.h"
#include "platform/EscapedErrors.h"

#include <algorithm>

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

// The command word of a wire line, and its first parameter (without a leading colon).
QByteArrayView verbOf(QByteArrayView wire) {
    const qsizetype blank = wire.indexOf(' ');
    return blank < 0 ? wire.first(qMax<qsizetype>(0, wire.size() - 2)) : wire.first(blank);
}

QByteArrayView firstParam(QByteArrayView wire) {
    const qsizetype blank = wire.indexOf(' ');
    if (blank < 0)
        return {};
    QByteArrayView rest = wire.sliced(blank + 1);
    if (rest.endsWith("\r\n"))
        rest.chop(2);
    if (rest.startsWith(':'))
        return rest.sliced(1);
    const qsizetype end = rest.indexOf(' ');
    return end < 0 ? rest : rest.first(end);
}

} // namespace

QString SendPacer::Entry::target() const {
    return pasted ? pasted->Target() : QString::fromUtf8(firstParam(wire));
}

SendPacer::SendPacer(QObject *parent)
    : QObject(parent), m_tokens(defaultBurst()), m_burst(defaultBurst()),
      m_intervalMs(defaultIntervalMs()) {
    m_clock.start();
    m_timer.setSingleShot(true);
    // A timer's call comes from the event loop: nothing may escape into it.
    connect(&m_timer, &QTimer::timeout, this, [this] { Guarded([this] { releaseDue(); }); });
}

bool SendPacer::Paced(QByteArrayView wire) {
    const QByteArrayView verb = verbOf(wire);
    return isWord(verb, "PRIVMSG") || isWord(verb, "NOTICE");
}

void SendPacer::Send(const QByteArray &wire) {
    if (!Paced(wire))
        return release(wire);
    const QByteArrayView target = firstParam(wire);
    if (!m_left.isEmpty() && hasLeft(QString::fromUtf8(target)))
        return emit Dropped(QString::fromUtf8(target), 1);
    if (m_intervalMs <= 0)
        return release(wire);
    refill();
    if (m_queue.empty() && m_tokens > 0) {
        --m_tokens;
        return release(wire);
    }
    enqueue({wire, nullptr}, 1);
}

void SendPacer::Send(std::unique_ptr<PastedLines> lines) {
    const qsizetype count = lines->Left();
    if (!lines->Target().isEmpty() && hasLeft(lines->Target()))
        return emit Dropped(lines->Target(), count);
    if (count > 0)
        enqueue({QByteArray(), std::move(lines)}, count);
    releaseDue();
}

void SendPacer::enqueue(Entry entry, qsizetype lines) {
    m_queue.push_back(std::move(entry));
    m_waiting += lines;
    scheduleNext();
    if (m_reportPending)
        return;
    m_reportPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_reportPending = false;
            if (m_waiting > 0)
                Guarded([this] { emit StartedWaiting(); });
        },
        Qt::QueuedConnection);
}

// Our own PART of a channel (or several, comma-separated) ends what waits for it; our JOIN
// takes it again.
void SendPacer::release(const QByteArray &wire) {
    const QByteArrayView verb = verbOf(wire);
    if (isWord(verb, "PART"))
        leave(firstParam(wire));
    else if (isWord(verb, "JOIN"))
        for (const QByteArray &name : firstParam(wire).toByteArray().split(','))
            forget(QString::fromUtf8(name));
    emit Release(wire);
}

void SendPacer::leave(QByteArrayView names) {
    for (const QByteArray &name : names.toByteArray().split(',')) {
        const QString target = QString::fromUtf8(name);
        Drop(target);
        m_left.append(target);
    }
}

bool SendPacer::hasLeft(QStringView target) const {
    return std::any_of(m_left.cbegin(), m_left.cend(),
                       [target](const QString &left) { return ChannelName::Same(left, target); });
}

void SendPacer::forget(QStringView target) {
    m_left.removeIf([target](const QString &left) { return ChannelName::Same(left, target); });
}

QString SendPacer::FirstTarget() const {
    return m_queue.empty() ? QString() : m_queue.front().target();
}

void SendPacer::Drop(const QString &target) {
    forget(target);
    qsizetype dropped = 0;
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        if (!ChannelName::Same(it->target(), target)) {
            ++it;
            continue;
        }
        dropped += it->pasted ? it->pasted->Left() : 1;
        it = m_queue.erase(it);
    }
    m_waiting -= dropped;
    scheduleNext();
    if (dropped > 0)
        emit Dropped(target, dropped);
}

qsizetype SendPacer::DropAll() {
    const qsizetype dropped = m_waiting;
    m_queue.clear();
    m_waiting = 0;
    m_timer.stop();
    return dropped;
}

qsizetype SendPacer::Reset() {
    const qsizetype dropped = DropAll();
    m_left.clear();
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

// What is due goes in order. A line released may end the connection or leave a channel, which
// drops what waits (Reset, Drop) before the next one is looked at. Without pacing a long paste
// goes in slices of a few milliseconds, one per event-loop turn.
void SendPacer::releaseDue() {
    refill();
    QElapsedTimer slice;
    slice.start();
    while (!m_queue.empty() && (m_tokens > 0 || m_intervalMs <= 0)) {
        if (m_intervalMs <= 0 && slice.elapsed() >= 5)
            break;
        if (m_intervalMs > 0)
            --m_tokens;
        Entry &first = m_queue.front();
        if (!first.pasted) {
            const QByteArray wire = std::move(first.wire);
            m_queue.pop_front();
            --m_waiting;
            release(wire);
            continue;
        }
        const std::shared_ptr<PastedLines> pasted = first.pasted;
        QString shown;
        const QByteArray wire = pasted->Next(shown);
        if (pasted->AtEnd())
            m_queue.pop_front();
        if (!shown.isNull()) {
            --m_waiting;
            emit Shown(pasted->WindowKey(), shown);
        }
        release(wire);
    }
    scheduleNext();
}

void SendPacer::scheduleNext() {
    if (m_queue.empty()) {
        m_timer.stop();
        return;
    }
    if (m_timer.isActive())
        return;
    const qint64 due =
        m_intervalMs <= 0 ? 0 : qMax<qint64>(0, m_refilledMs + m_intervalMs - m_clock.elapsed());
    m_timer.start(int(due));
}
