#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The lines of one paste, waiting to be sent as one: each line as a message to a target
// ("PRIVMSG #a :" and the line, cut to fit as typed messages are), or as a raw protocol line.
// A line is taken from the pasted text only when its turn comes, so what waits costs no more
// than the text itself, however many lines it holds. Empty lines are left out.
class PastedLines {
public:
    // Verb and Target empty: raw lines. WindowKey names the window each line is shown in as it
    // goes.
    PastedLines(const QString &Verb, const QString &Target, const QString &Text,
                const QString &WindowKey);

    // How many lines a pasted text holds (lines that are not empty).
    static qsizetype Count(QStringView text);
    // Whether text holds more than one line.
    static bool Several(QStringView text);

    const QString &Target() const { return m_target; }
    const QString &WindowKey() const { return m_windowKey; }
    // Lines not yet begun.
    qsizetype Left() const { return m_left; }
    bool AtEnd() const { return m_left == 0 && m_parts.isEmpty(); }
    // The next wire line. Shown is the whole line when this is its first part, else null.
    QByteArray Next(QString &Shown);

private:
    QString m_head;
    QString m_target;
    QString m_text;
    QString m_windowKey;
    qsizetype m_at = 0;
    qsizetype m_left = 0;
    int m_budget = 0;
    QStringList m_parts; // the rest of a line cut into parts
};
