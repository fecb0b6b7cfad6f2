#include "windows/Announcer.h"

#include "platform/EscapedErrors.h"
#include "windows/outputview/AccessibleText.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QWidget>
#include <algorithm>

namespace {
class AnnouncerAccessible : public QAccessibleObject {
public:
    explicit AnnouncerAccessible(Announcer *announcer) : QAccessibleObject(announcer) {}
    QAccessible::Role role() const override { return QAccessible::Notification; }
    QString text(QAccessible::Text type) const override {
        return type == QAccessible::Name ? static_cast<Announcer *>(object())->text() : QString();
    }
    QAccessible::State state() const override { return {}; }
    QAccessibleInterface *parent() const override {
        return QAccessible::queryAccessibleInterface(object()->parent());
    }
    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
};

QAccessibleInterface *announcerFactory(const QString &className, QObject *object) {
    if (className == QLatin1String("Announcer"))
        if (auto *announcer = qobject_cast<Announcer *>(object))
            return new AnnouncerAccessible(announcer);
    return nullptr;
}
} // namespace

Announcer::Announcer(QWidget *owner) : QObject(owner) {
    static const bool installed = (QAccessible::installFactory(announcerFactory), true);
    Q_UNUSED(installed);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { Guarded([this] { sayPending(); }); });
}

void Announcer::announce(const QString &text) {
    if (m_pending.isEmpty() && !m_timer.isActive() &&
        (!m_since.isValid() || m_since.elapsed() >= Interval)) {
        say(AccessibleText::readable(text));
        return;
    }
    if (m_pending.size() < MaxLines)
        m_pending.append(text);
    else
        ++m_skipped;
    if (!m_timer.isActive())
        m_timer.start(int(std::max<qint64>(0, Interval - m_since.elapsed())));
}

void Announcer::sayPending() {
    if (m_pending.isEmpty())
        return;
    QStringList lines;
    for (const QString &line : std::as_const(m_pending))
        lines.append(AccessibleText::readable(line));
    QString text = lines.join(QLatin1Char('\n'));
    if (m_skipped > 0)
        text += m_skipped == 1 ? QStringLiteral("\n1 more line")
                               : QStringLiteral("\n%1 more lines").arg(m_skipped);
    m_pending.clear();
    m_skipped = 0;
    say(text);
}

void Announcer::say(const QString &text) {
    m_text = text;
    m_since.start();
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
