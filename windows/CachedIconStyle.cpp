#include "windows/CachedIconStyle.h"

#include <QApplication>

CachedIconStyle::CachedIconStyle(const QString &key) : QProxyStyle(key) {}

void CachedIconStyle::Install() {
    QStyle *current = QApplication::style();
    if (!current || qobject_cast<CachedIconStyle *>(current))
        return;
    QApplication::setStyle(new CachedIconStyle(current->name()));
}

// An icon asked for with a style option may depend on it; those are made each time.
QIcon CachedIconStyle::standardIcon(StandardPixmap standardIcon, const QStyleOption *option,
                                    const QWidget *widget) const {
    if (option)
        return QProxyStyle::standardIcon(standardIcon, option, widget);
    auto found = m_icons.constFind(standardIcon);
    if (found == m_icons.constEnd())
        found = m_icons.insert(standardIcon, QProxyStyle::standardIcon(standardIcon));
    return *found;
}
