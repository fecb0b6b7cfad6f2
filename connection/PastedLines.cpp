#include "connection/PastedLines.h"

#include "connection/IRCConnection.h"
#include "connection/MessageSplitter.h"

namespace {
bool isBreak(QChar c) {
    return c == u'\n' || c == u'\r';
}

// The first line at or after at that is not empty; at moves past it.
QStringView nextLine(QStringView text, qsizetype &at) {
    while (at < text.size() && isBreak(text[at]))
        ++at;
    const qsizetype start = at;
    while (at < text.size() && !isBreak(text[at]))
        ++at;
    return text.mid(start, at - start);
}
} // namespace

PastedLines::PastedLines(const QString &Verb, const QString &Target, const QString &Text,
                         const QString &WindowKey)
    : m_target(Target), m_text(Text), m_windowKey(WindowKey), m_left(Count(Text)) {
    if (!Verb.isEmpty()) {
        m_head = Verb + QLatin1Char(' ') + Target + QStringLiteral(" :");
        m_budget = MessageSplitter::TextBudget(Verb, Target);
    }
}

qsizetype PastedLines::Count(QStringView text) {
    qsizetype count = 0, at = 0;
    while (!nextLine(text, at).isEmpty())
        ++count;
    return count;
}

bool PastedLines::Several(QStringView text) {
    qsizetype at = 0;
    return !nextLine(text, at).isEmpty() && !nextLine(text, at).isEmpty();
}

QByteArray PastedLines::Next(QString &Shown) {
    Shown = QString();
    if (m_parts.isEmpty()) {
        if (m_left == 0)
            return QByteArray();
        --m_left;
        Shown = nextLine(m_text, m_at).toString();
        if (m_left == 0)
            m_text = QString(); // the last line is out: the text is not needed any more
        if (m_head.isEmpty())
            return IRCConnection::WireLine(Shown);
        m_parts = MessageSplitter::Split(Shown, m_budget);
    }
    return IRCConnection::WireLine(m_head + m_parts.takeFirst());
}
