#include "windows/Announcer.h"

#include "platform/EscapedErrors.h"
#include "windows/outputview/AccessibleText.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QWidget>
#include <algorithm>

namespace {
const QLatin1String BarName("announcements");

// The notification and the status bar it sits in: screen readers leave out the role word for a
// notification in a status bar. Neither is listed among the window's children, so a screen
// reader's command to read the status bar does not find it.
class AnnouncementAccessible : public QAccessibleObject {
public:
    AnnouncementAccessible(QObject *object, QAccessible::Role role)
        : QAccessibleObject(object), m_role(role) {}
    QAccessible::Role role() const override { return m_role; }
    QString text(QAccessible::Text type) const override {
        const auto *announcer = qobject_cast<const Announcer *>(object());
        return announcer && type == QAccessible::Name ? announcer->text() : QString();
    }
    QAccessible::State state() const override { return {}; }
    QAccessibleInterface *parent() const override {
        return QAccessible::queryAccessibleInterface(object()->parent());
    }
    int childCount() const override { return m_role == QAccessible::StatusBar ? 1 : 0; }
    QAccessibleInterface *child(int index) const override {
        if (index != 0 || m_role != QAccessible::StatusBar)
            return nullptr;
        return QAccessible::queryAccessibleInterface(
            object()->findChild<Announcer *>(QString(), Qt::FindDirectChildrenOnly));
    }
    int indexOfChild(const QAccessibleInterface *child) const override {
        return child && child->object() && child->object()->parent() == object() ? 0 : -1;
    }

private:
    QAccessible::Role m_role;
};

QAccessibleInterface *announcerFactory(const QString &className, QObject *object) {
    if (className == QLatin1String("Announcer"))
        return new AnnouncementAccessible(object, QAccessible::Notification);
    if (className == QLatin1String("QObject") && object && object->objectName() == BarName)
        return new AnnouncementAccessible(object, QAccessible::StatusBar);
    return nullptr;
}

QObject *statusBar(QWidget *owner) {
    auto *bar = new QObject(owner);
    bar->setObjectName(BarName);
    return bar;
}

QString moreLines(qint64 count) {
    return count == 1 ? QStringLiteral("1 more line") : QStringLiteral("%1 more lines").arg(count);
}
} // namespace

Announcer::Announcer(QWidget *owner) : QObject(statusBar(owner)) {
    static const bool installed = (QAccessible::installFactory(announcerFactory), true);
    Q_UNUSED(installed);
    m_clock.start();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { Guarded([this] { tick(); }); });
}

void Announcer::announce(const QString &text) {
    if (m_pending.isEmpty() && !m_timer.isActive() && sinceSaid() >= Interval) {
        say(AccessibleText::readable(text));
        return;
    }
    m_owed = false; // this line is newer
    if (m_pending.size() < MaxLines) {
        m_pending.append(text);
    } else {
        ++m_skipped;
        m_newest = text;
        m_newestAt = m_clock.elapsed();
    }
    if (!m_timer.isActive())
        m_timer.start(int(std::max<qint64>(0, Interval - sinceSaid())));
}

void Announcer::announceNow(const QString &text) {
    say(AccessibleText::readable(text));
}

// Due: the lines waiting, summed up when there were many. A burst still going on is waited for a
// little (at most Quiet past the due time), so that its newest line is said with the rest.
void Announcer::tick() {
    if (m_pending.isEmpty()) {
        if (m_owed)
            say(AccessibleText::readable(m_newest));
        m_owed = false;
        m_newest.clear();
        return;
    }
    const qint64 now = m_clock.elapsed();
    const qint64 quiet = now - m_newestAt;
    const qint64 late = sinceSaid() - Interval;
    if (m_skipped > 0 && quiet < Quiet && late < Quiet) {
        m_timer.start(int(std::min(Quiet - quiet, Quiet - late)));
        return;
    }
    QStringList lines;
    for (const QString &line : std::as_const(m_pending))
        lines.append(AccessibleText::readable(line));
    const bool over = m_skipped > 0 && quiet >= Quiet;
    const qint64 more = m_skipped - (over ? 1 : 0);
    if (more > 0)
        lines.append(moreLines(more));
    if (over)
        lines.append(AccessibleText::readable(m_newest));
    m_owed = m_skipped > 0 && !over;
    if (!m_owed)
        m_newest.clear();
    m_pending.clear();
    m_skipped = 0;
    say(lines.join(QLatin1Char('\n')));
    if (m_owed)
        m_timer.start(Interval);
}

void Announcer::say(const QString &text) {
    m_text = text;
    m_saidAt = m_clock.elapsed();
    emit announced(text);
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    QAccessibleAnnouncementEvent announcement(this, text);
    QAccessible::updateAccessibility(&announcement);
#else
    QAccessibleEvent nameChanged(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&nameChanged);
    QAccessibleEvent shown(this, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
#endif
}
