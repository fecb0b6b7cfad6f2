#include "connection/MessageSplitter.h"

namespace {
constexpr int LineLimit = 512;       // bytes, CR LF included
constexpr int PrefixRoom = 100;      // ":nick!user@host " that the server adds when relaying
constexpr int MinTextBytes = 32;     // however long the target, every part carries some text
constexpr int BlankSearchBytes = 80; // how far back from the limit a blank is looked for

int utf8Length(QChar c) {
    const char16_t u = c.unicode();
    if (u < 0x80)
        return 1;
    if (u < 0x800)
        return 2;
    if (QChar::isHighSurrogate(u) || QChar::isLowSurrogate(u))
        return 2; // half of a 4-byte character
    return 3;
}
} // namespace

namespace MessageSplitter {

int TextBudget(const QString &verb, const QString &target) {
    const int fixed = int(verb.toUtf8().size() + 1 + target.toUtf8().size() + 2 + 2);
    return qBound(MinTextBytes, LineLimit - PrefixRoom - fixed, MaxTextBytes);
}

QStringList Split(const QString &text, int maxBytes) {
    QStringList parts;
    const qsizetype n = text.size();
    qsizetype start = 0;
    do {
        qsizetype end = start;
        int bytes = 0;
        qsizetype lastBlank = -1;
        int bytesAtBlank = 0;
        while (end < n) {
            int width = utf8Length(text.at(end));
            qsizetype step = 1;
            if (text.at(end).isHighSurrogate() && end + 1 < n &&
                text.at(end + 1).isLowSurrogate()) {
                width = 4;
                step = 2;
            }
            if (bytes + width > maxBytes)
                break;
            bytes += width;
            end += step;
            if (text.at(end - 1) == u' ') {
                lastBlank = end;
                bytesAtBlank = bytes;
            }
        }
        // Cut after a blank near the limit rather than inside a word.
        if (end < n && lastBlank > start && bytes - bytesAtBlank <= BlankSearchBytes)
            end = lastBlank;
        if (end == start) // a single character wider than the budget
            end = start + 1;
        parts.append(text.mid(start, end - start));
        start = end;
    } while (start < n);
    return parts;
}

} // namespace MessageSplitter
