#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QWidget;

// Says lines to a screen reader without moving the focus: an accessible object with the
// Notification role whose name is the text to say, shown anew for every announcement (and an
// announcement event where Qt has one). One per window, so that each window keeps its own pace:
// the first line is said at once, then at most MaxLines lines per Interval, the lines over that
// summed up as "N more lines". Nothing queues up under a flood, and a line costs a counter.
class Announcer : public QObject {
    Q_OBJECT
public:
    static constexpr int Interval = 1000; // ms
    static constexpr int MaxLines = 3;

    explicit Announcer(QWidget *owner);

    // Says a line as stored (formatting codes are left out when it is said).
    void announce(const QString &text);
    // What was said last: the accessible object's name.
    QString text() const { return m_text; }

signals:
    void announced(const QString &text);

private:
    void sayPending();
    void say(const QString &text);

    QString m_text;
    QStringList m_pending;
    qint64 m_skipped = 0;
    QElapsedTimer m_since; // since the last announcement
    QTimer m_timer;
};
