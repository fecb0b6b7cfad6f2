#pragma once

#include "connection/PastedLines.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <memory>

// Paces the messages a connection sends to people and channels (PRIVMSG and NOTICE), so that a
// long paste never floods the server: servers cut off a client that sends faster than they read
// (InspIRCd's "RecvQ exceeded"). Up to Burst messages go at once; after that one more may go
// every IntervalMs, and the rest waits here, in order, until its turn comes (a token bucket, as
// irssi and HexChat pace their output). A short exchange therefore goes out at once; a paste of
// a hundred lines trickles out over minutes.
//
// Every other line (PONG, JOIN, PART, QUIT, NICK, raw commands) is no message: it is released at
// once and never waits behind the messages that do.
//
// What waits belongs to its target: our PART of a channel drops the messages still waiting for
// it, and refuses new ones until we JOIN it again, so that nothing reaches a channel after we
// said we leave it.
class SendPacer : public QObject {
    Q_OBJECT
public:
    // Five at once, then one every two seconds, as irssi does: half of what InspIRCd's default
    // configuration takes (about ten at once, then one a second), and slower than ngircd's own
    // throttle.
    static constexpr int DefaultBurst = 5;
    static constexpr int DefaultIntervalMs = 2000;

    explicit SendPacer(QObject *parent = nullptr);

    // Whether the wire line (ending in CR LF) is a message that is paced.
    static bool Paced(QByteArrayView wire);

    // Releases wire at once when it is no message, or when nothing waits and the bucket has room;
    // otherwise it waits for its turn.
    void Send(const QByteArray &wire);
    // The lines of a paste, each paced like a message (raw lines too), after what waits already.
    void Send(std::unique_ptr<PastedLines> lines);
    qsizetype Waiting() const { return m_waiting; }
    // The target of the line whose turn comes next (empty when none waits or it is a raw line).
    QString FirstTarget() const;
    int IntervalMs() const { return m_intervalMs; }
    // Drops what waits for target (a channel or nick, letters compared without regard to case)
    // and takes messages for it again; raises Dropped when there were any.
    void Drop(const QString &target);
    // Drops everything that waits; returns how many lines.
    qsizetype DropAll();
    // DropAll, and the bucket is filled again and every target taken again, as for a new server.
    qsizetype Reset();

    // An interval of 0 paces nothing. For tests: the pacing of this connection from now on, and
    // the pacing every new connection starts with.
    void SetRate(int burst, int intervalMs);
    static void SetDefaultRate(int burst, int intervalMs);

signals:
    // A line is to go on the wire now.
    void Release(const QByteArray &wire);
    // A pasted line goes now: it is shown in the window it was pasted in.
    void Shown(const QString &windowKey, const QString &line);
    // Lines were queued to wait. Raised once the event that queued them is over, so that
    // Waiting() counts a whole paste; not raised when none waits by then.
    void StartedWaiting();
    // Count messages for target were dropped: we left it.
    void Dropped(const QString &target, qsizetype count);

private:
    struct Entry {
        QByteArray wire;                     // one line, or
        std::shared_ptr<PastedLines> pasted; // the lines of a paste
        QString target() const;
    };
    void enqueue(Entry entry, qsizetype lines);
    void release(const QByteArray &wire);
    void leave(QByteArrayView names);
    void refill();
    void releaseDue();
    void scheduleNext();

    std::deque<Entry> m_queue;
    qsizetype m_waiting = 0;
    // Whether we parted target (letters compared as channel names are), and forgetting that.
    bool hasLeft(QStringView target) const;
    void forget(QStringView target);

    QStringList m_left; // targets we parted, until we join them again
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_refilledMs = 0; // when the bucket last gained a line's room
    int m_tokens;
    int m_burst;
    int m_intervalMs;
    bool m_reportPending = false;
};
