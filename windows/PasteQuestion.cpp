#include "windows/PasteQuestion.h"

#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

namespace {
QString duration(qint64 seconds) {
    const auto about = [](qint64 n, const char *unit) {
        return QStringLiteral("about %1 %2%3")
            .arg(n)
            .arg(QLatin1String(unit))
            .arg(n == 1 ? "" : "s");
    };
    if (seconds < 60)
        return about(seconds, "second");
    if (seconds < 120 * 60)
        return about((seconds + 30) / 60, "minute");
    return about((seconds + 1800) / 3600, "hour");
}
} // namespace

namespace PasteQuestion {

QString Text(qsizetype lines, const QString &where, int intervalMs) {
    return QStringLiteral("Send %1 lines to %2? At one line every %3 s this takes %4.")
        .arg(lines)
        .arg(where)
        .arg(intervalMs / 1000.0)
        .arg(duration(qint64(lines) * intervalMs / 1000));
}

bool Ask(QWidget *parent, qsizetype lines, const QString &where, int intervalMs) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Send pasted lines"),
                    Text(lines, where, intervalMs), QMessageBox::NoButton,
                    parent ? parent->window() : nullptr);
    QPushButton *send = box.addButton(QStringLiteral("&Send"), QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == send;
}

} // namespace PasteQuestion
