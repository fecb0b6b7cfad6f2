#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QWidget;

// Says lines to a screen reader without moving the focus: an accessible object with the
// Notification role whose name is the text to say, shown anew for every announcement (and an
// announcement event where Qt has one). It sits in an accessible status bar, which screen readers
// read without saying "notification" before every line. One per window, so that each window
// keeps its own pace: the first line is said at once, then at most MaxLines lines per Interval,
// the lines over that summed up as "N more lines". Once a burst is over (Quiet ms without a new
// line) its newest line is said as well, as a blind user most needs it. Nothing queues up under
// a flood, and a line costs a counter and a clock reading.
class Announcer : public QObject {
    Q_OBJECT
public:
    static constexpr int Interval = 1000; // ms
    static constexpr int MaxLines = 3;
    static constexpr int Quiet = 250; // ms

    explicit Announcer(QWidget *owner);

    // Says a line as stored (formatting codes are left out when it is said), paced.
    void announce(const QString &text);
    // Says a text at once: the answer to something the user just did.
    void announceNow(const QString &text);
    // What was said last: the accessible object's name.
    QString text() const { return m_text; }

signals:
    void announced(const QString &text);

private:
    void tick();
    void say(const QString &text);
    qint64 sinceSaid() const { return m_clock.elapsed() - m_saidAt; }

    QString m_text;
    QStringList m_pending;
    qint64 m_skipped = 0;
    QString m_newest;      // the last line counted among the skipped
    qint64 m_newestAt = 0; // when it came, on m_clock
    bool m_owed = false;   // the burst went on when it was summed up: its newest is still due
    QElapsedTimer m_clock; // runs from the start
    qint64 m_saidAt = -Interval;
    QTimer m_timer;
};
