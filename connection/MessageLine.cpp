#include "connection/MessageLine.h"

namespace {
// The word of line that starts at from and ends before the next blank (or the line's end).
// Words are short: a plain loop beats a call per word.
QStringView wordAt(QStringView line, qsizetype from) {
    const char16_t *const p = line.utf16();
    qsizetype end = from;
    while (end < line.size() && p[end] != u' ')
        ++end;
    return line.sliced(from, end - from);
}
} // namespace

MessageLine MessageLine::Parse(QStringView line) {
    MessageLine m;
    qsizetype at = 0;
    if (line.startsWith(u':')) {
        m.m_prefix = wordAt(line, 1);
        if (m.m_prefix.isEmpty())
            return m;
        at = 1 + m.m_prefix.size() + 1;
    }
    if (at >= line.size())
        return m;
    m.m_command = wordAt(line, at);
    if (m.m_command.isEmpty())
        return m;
    at += m.m_command.size();
    while (at < line.size()) {
        ++at; // the blank before the parameter
        if (at < line.size() && line[at] == u':') {
            m.m_params[m.m_count++] = line.mid(at + 1);
            m.m_trailing = true;
            break;
        }
        if (m.m_count == MaxParams - 1) {
            m.m_params[m.m_count++] = line.mid(at);
            break;
        }
        const QStringView middle = wordAt(line, at);
        if (middle.isEmpty())
            return m;
        m.m_params[m.m_count++] = middle;
        at += middle.size();
    }
    m.m_valid = true;
    return m;
}
