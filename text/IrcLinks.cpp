#include "text/IrcLinks.h"

#include "text/IrcFormat.h"

namespace IrcFormat {

namespace {

bool endsLink(char16_t u) {
    return u == Hidden || (u >= 0x2400 && u <= 0x2421) || u == 0xfffd || u == '<' || u == '>' ||
           u == '"' || QChar::isSpace(u);
}

// A character a sentence may put after a link, left out of it.
bool isClosingPunctuation(char16_t u) {
    return QStringView(u".,;:!?'").contains(QChar(u));
}

// The scheme prefix of a link starting at i, or 0 when none starts there.
qsizetype prefixAt(QStringView s, qsizetype i) {
    static const QLatin1String prefixes[] = {QLatin1String("http://"), QLatin1String("https://"),
                                             QLatin1String("irc://"), QLatin1String("www.")};
    const QStringView rest = s.mid(i);
    for (const QLatin1String &prefix : prefixes)
        if (rest.startsWith(prefix, Qt::CaseInsensitive))
            return prefix.size();
    return 0;
}

// The end of the link whose address runs from start to end (where a blank or the like stops
// it): its closing punctuation left out, and a ) left out while it has no ( to close. The
// brackets are counted once and the count kept as the end moves back, so the cost is linear
// in the address's length however many ) it ends with.
qsizetype trimmedEnd(QStringView s, qsizetype start, qsizetype end) {
    qsizetype open = 0;
    qsizetype close = 0;
    for (qsizetype k = start; k < end; ++k) {
        open += s[k] == u'(';
        close += s[k] == u')';
    }
    while (end > start) {
        const char16_t last = s[end - 1].unicode();
        if (last == ')') {
            if (open >= close)
                break;
            --close;
        } else if (!isClosingPunctuation(last)) {
            break;
        }
        --end;
    }
    return end;
}

} // namespace

// Every unit is looked at a bounded number of times: a link found is skipped whole, and where a
// link comes to nothing (only punctuation after its prefix) no other prefix can start before
// the blank that ended it, so the search goes on from there.
std::vector<Link> links(QStringView drawn) {
    std::vector<Link> found;
    const qsizetype n = drawn.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (i > 0 && drawn[i - 1].isLetterOrNumber())
            continue;
        const qsizetype prefix = prefixAt(drawn, i);
        if (prefix == 0)
            continue;
        qsizetype stop = i + prefix;
        while (stop < n && !endsLink(drawn[stop].unicode()))
            ++stop;
        const qsizetype end = trimmedEnd(drawn, i + prefix, stop);
        if (end == i + prefix) {
            i = stop - 1;
            continue;
        }
        QString url = drawn.mid(i, end - i).toString();
        if (url.startsWith(QLatin1String("www."), Qt::CaseInsensitive))
            url.prepend(QLatin1String("http://"));
        found.push_back({i, end - i, url});
        i = end - 1;
    }
    return found;
}

} // namespace IrcFormat
