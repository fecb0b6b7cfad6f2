#pragma once

#include <QHash>
#include <QIcon>
#include <QProxyStyle>

// The application's own style with its standard icons kept once made. Every chat window's frame
// asks for seven of them (its system menu) and the plain style reads each one from its image
// files anew: a tenth of the cost of opening a window.
class CachedIconStyle : public QProxyStyle {
    Q_OBJECT
public:
    explicit CachedIconStyle(const QString &key);

    // Wraps the application's current style, once.
    static void Install();

    QIcon standardIcon(StandardPixmap standardIcon, const QStyleOption *option = nullptr,
                       const QWidget *widget = nullptr) const override;

private:
    mutable QHash<int, QIcon> m_icons;
};
