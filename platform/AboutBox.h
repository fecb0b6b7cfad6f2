#pragma once

#include <QDialog>
#include <QIcon>
#include <QStringList>

// The About box: the program's icon and title, a subtitle and four lines of text, and a button
// to close it. Every text is a selectable label so that screen readers can read it.
class AboutBox : public QDialog {
    Q_OBJECT
public:
    AboutBox(const QString &title, const QIcon &icon, const QString &subtitle,
             const QStringList &lines, QWidget *parent = nullptr);
};
