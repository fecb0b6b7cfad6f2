#include "windows/outputview/IrcFormat.h"

#include "windows/outputview/OutputView.h"

#include <array>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace IrcFormat {

namespace {

// The 16 colours every client knows, then the 16..98 table of 12 hues in six shades and a grey
// ramp; 99 is the default colour.
constexpr std::array<QRgb, 99> Colours = {
    0xffffff, 0x000000, 0x00007f, 0x009300, 0xff0000, 0x7f0000, 0x9c009c, 0xfc7f00, 0xffff00,
    0x00fc00, 0x009393, 0x00ffff, 0x0000fc, 0xff00ff, 0x7f7f7f, 0xd2d2d2,
    // 16..27
    0x470000, 0x472100, 0x474700, 0x324700, 0x004700, 0x00472c, 0x004747, 0x002747, 0x000047,
    0x2e0047, 0x470047, 0x47002a,
    // 28..39
    0x740000, 0x743a00, 0x747400, 0x517400, 0x007400, 0x007449, 0x007474, 0x004074, 0x000074,
    0x4b0074, 0x740074, 0x740045,
    // 40..51
    0xb50000, 0xb56300, 0xb5b500, 0x7db500, 0x00b500, 0x00b571, 0x00b5b5, 0x0063b5, 0x0000b5,
    0x7500b5, 0xb500b5, 0xb5006b,
    // 52..63
    0xff0000, 0xff8c00, 0xffff00, 0xb2ff00, 0x00ff00, 0x00ffa0, 0x00ffff, 0x008cff, 0x0000ff,
    0xa500ff, 0xff00ff, 0xff0098,
    // 64..75
    0xff5959, 0xffb459, 0xffff71, 0xcfff60, 0x6fff6f, 0x65ffc9, 0x6dffff, 0x59b4ff, 0x5959ff,
    0xc459ff, 0xff66ff, 0xff59bc,
    // 76..87
    0xff9c9c, 0xffd39c, 0xffff9c, 0xe2ff9c, 0x9cff9c, 0x9cffdb, 0x9cffff, 0x9cd3ff, 0x9c9cff,
    0xdc9cff, 0xff9cff, 0xff94d3,
    // 88..98
    0x000000, 0x131313, 0x282828, 0x363636, 0x4d4d4d, 0x656565, 0x818181, 0x9f9f9f, 0xbcbcbc,
    0xe2e2e2, 0xffffff};

enum : char16_t {
    Bold = 0x02,
    Colour = 0x03,
    HexColour = 0x04,
    Reset = 0x0f,
    Mono = 0x11,
    Reverse = 0x16,
    Italic = 0x1d,
    Strike = 0x1e,
    Underline = 0x1f,
};

bool isCode(char16_t u) {
    switch (u) {
    case Bold:
    case Colour:
    case HexColour:
    case Reset:
    case Mono:
    case Reverse:
    case Italic:
    case Strike:
    case Underline:
        return true;
    default:
        return false;
    }
}

bool isDigit(QStringView s, qsizetype i) {
    return i < s.size() && s[i].unicode() >= '0' && s[i].unicode() <= '9';
}

// Up to two digits at i: the number, or -1 when there is none; i moves past them.
int readNumber(QStringView s, qsizetype &i) {
    int value = -1;
    for (int k = 0; k < 2 && isDigit(s, i); ++k, ++i)
        value = (value < 0 ? 0 : value * 10) + (s[i].unicode() - '0');
    return value;
}

// Six hex digits at i: the colour, or an invalid one when they are not all there.
QColor readHex(QStringView s, qsizetype &i) {
    if (i + 6 > s.size())
        return {};
    bool ok = false;
    const uint rgb = s.mid(i, 6).toUInt(&ok, 16);
    for (qsizetype k = i; k < i + 6; ++k)
        if (!QChar(s[k]).isLetterOrNumber()) // toUInt would take a sign or blank
            return {};
    if (!ok)
        return {};
    i += 6;
    return QColor(QRgb(rgb));
}

// The colour code at i (0x03 or 0x04) applied to style; returns the end of the code.
qsizetype applyColour(QStringView s, qsizetype i, Style &style) {
    const bool hex = s[i].unicode() == HexColour;
    qsizetype j = i + 1;
    QColor fg;
    QColor bg;
    bool hasFg = false;
    bool hasBg = false;
    if (hex) {
        fg = readHex(s, j);
        hasFg = fg.isValid();
        if (hasFg && j < s.size() && s[j] == u',') {
            qsizetype k = j + 1;
            bg = readHex(s, k);
            if ((hasBg = bg.isValid()))
                j = k;
        }
    } else {
        const int f = readNumber(s, j);
        hasFg = f >= 0;
        fg = colour(f);
        if (hasFg && j < s.size() && s[j] == u',' && isDigit(s, j + 1)) {
            ++j;
            bg = colour(readNumber(s, j));
            hasBg = true;
        }
    }
    if (!hasFg) { // a lone code ends the colours
        style.fg = style.bg = QColor();
        return j;
    }
    style.fg = fg;
    if (hasBg)
        style.bg = bg;
    return j;
}

} // namespace

QColor colour(int index) {
    if (index < 0 || index >= int(Colours.size()))
        return {};
    return QColor(Colours[size_t(index)]);
}

Line parse(const QString &stored) {
    Line line{OutputView::displayText(stored), {}};
    const QStringView s(stored);
    const qsizetype n = s.size();
    qsizetype i = 0;
    while (i < n && !isCode(s[i].unicode()))
        ++i;
    if (i == n)
        return line; // no codes: the common case costs one scan
    QChar *data = line.text.data();
    Style style;
    qsizetype runStart = 0;
    // A run is kept when it holds something drawn, not only codes.
    const auto close = [&](qsizetype end) {
        if (style.isPlain())
            return;
        for (qsizetype k = runStart; k < end; ++k)
            if (data[k].unicode() != Hidden) {
                line.runs.push_back({runStart, end - runStart, style});
                return;
            }
    };
    for (; i < n; ++i) {
        const char16_t u = s[i].unicode();
        if (!isCode(u))
            continue;
        Style next = style;
        qsizetype end = i + 1;
        switch (u) {
        case Bold:
            next.bold = !next.bold;
            break;
        case Italic:
            next.italic = !next.italic;
            break;
        case Underline:
            next.underline = !next.underline;
            break;
        case Strike:
            next.strike = !next.strike;
            break;
        case Mono:
            next.mono = !next.mono;
            break;
        case Reverse:
            next.reverse = !next.reverse;
            break;
        case Reset:
            next = Style();
            break;
        default: // Colour, HexColour
            end = applyColour(s, i, next);
            break;
        }
        for (qsizetype k = i; k < end; ++k)
            data[k] = QChar(Hidden);
        if (next != style) {
            close(i);
            style = next;
            runStart = end;
        }
        i = end - 1;
    }
    close(n);
    return line;
}

QString plain(QStringView drawn) {
    QString out;
    out.reserve(drawn.size());
    for (const QChar c : drawn)
        if (c.unicode() != Hidden)
            out.append(c);
    return out;
}

namespace {

bool endsLink(char16_t u) {
    return u == Hidden || (u >= 0x2400 && u <= 0x2421) || u == 0xfffd || u == '<' || u == '>' ||
           u == '"' || QChar::isSpace(u);
}

// The scheme prefix of a link starting at i, or 0 when none starts there.
qsizetype prefixAt(QStringView s, qsizetype i) {
    static const QLatin1String prefixes[] = {QLatin1String("http://"), QLatin1String("https://"),
                                             QLatin1String("irc://"), QLatin1String("www.")};
    for (const QLatin1String &prefix : prefixes)
        if (s.mid(i).startsWith(prefix, Qt::CaseInsensitive))
            return prefix.size();
    return 0;
}

} // namespace

std::vector<Link> links(QStringView drawn) {
    std::vector<Link> found;
    const qsizetype n = drawn.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (i > 0 && drawn[i - 1].isLetterOrNumber())
            continue;
        const qsizetype prefix = prefixAt(drawn, i);
        if (prefix == 0)
            continue;
        qsizetype end = i + prefix;
        while (end < n && !endsLink(drawn[end].unicode()))
            ++end;
        while (end > i + prefix) {
            const char16_t last = drawn[end - 1].unicode();
            if (last == ')') {
                const QStringView inside = drawn.mid(i, end - i);
                if (inside.count(u'(') >= inside.count(u')'))
                    break;
            } else if (!QStringView(u".,;:!?'").contains(QChar(last))) {
                break;
            }
            --end;
        }
        if (end == i + prefix)
            continue;
        QString url = drawn.mid(i, end - i).toString();
        if (url.startsWith(QLatin1String("www."), Qt::CaseInsensitive))
            url.prepend(QLatin1String("http://"));
        found.push_back({i, end - i, url});
        i = end - 1;
    }
    return found;
}

namespace {
bool isNickUnit(QChar c) {
    return c.isLetterOrNumber() || QStringView(u"-_[]\\`^{}|").contains(c);
}

// Whether every unit is printable ASCII (0x20..0x7E): no codes, no controls, nothing whose case
// folds in an unusual way.
bool isPrintableAscii(QStringView text) {
    const char16_t *p = text.utf16();
    const qsizetype n = text.size();
    qsizetype i = 0;
#ifdef __SSE2__
    const __m128i low = _mm_set1_epi16(0x20);
    const __m128i high = _mm_set1_epi16(0x7E);
    const auto printable = [&](qsizetype at) {
        const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + at));
        // Signed comparisons: a unit from 0x8000 up counts as below 0x20.
        return !_mm_movemask_epi8(_mm_or_si128(_mm_cmplt_epi16(u, low), _mm_cmpgt_epi16(u, high)));
    };
    for (; i + 8 <= n; i += 8)
        if (!printable(i))
            return false;
    if (i < n && n >= 8)
        return printable(n - 8); // the last eight units, some of them seen already
#endif
    for (; i < n; ++i)
        if (p[i] < 0x20 || p[i] > 0x7E)
            return false;
    return true;
}

// The first position in [from, to) whose unit is a or b; to when there is none.
qsizetype findEither(const char16_t *p, qsizetype from, qsizetype to, char16_t a, char16_t b) {
#ifdef __SSE2__
    const __m128i wideA = _mm_set1_epi16(static_cast<short>(a));
    const __m128i wideB = _mm_set1_epi16(static_cast<short>(b));
    // Two mask bits for each unit from at on.
    const auto hitsAt = [&](qsizetype at) {
        const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + at));
        return unsigned(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(u, wideA), _mm_cmpeq_epi16(u, wideB))));
    };
    for (; from + 8 <= to; from += 8)
        if (const unsigned hits = hitsAt(from))
            return from + __builtin_ctz(hits) / 2;
    if (from < to && to >= 8) {
        // The last eight units, without those before from.
        const qsizetype base = to - 8;
        const unsigned hits = hitsAt(base) & ~((1u << (2 * (from - base))) - 1);
        return hits ? base + __builtin_ctz(hits) / 2 : to;
    }
#endif
    for (; from < to; ++from)
        if (p[from] == a || p[from] == b)
            return from;
    return to;
}

char16_t lowerAscii(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
}

char16_t upperAscii(char16_t c) {
    return c >= u'a' && c <= u'z' ? char16_t(c - (u'a' - u'A')) : c;
}

// mentions() for printable ASCII text and nick, the usual chat line: a scan for the nick's first
// letter in either case, without building anything.
bool mentionsAscii(QStringView text, QStringView nick) {
    const char16_t *p = text.utf16();
    const char16_t *q = nick.utf16();
    const qsizetype m = nick.size();
    const qsizetype last = text.size() - m; // the last position the nick fits at
    const char16_t lower = lowerAscii(q[0]);
    const char16_t upper = upperAscii(q[0]);
    for (qsizetype at = findEither(p, 0, last + 1, lower, upper); at <= last;
         at = findEither(p, at + 1, last + 1, lower, upper)) {
        qsizetype k = 1;
        while (k < m && lowerAscii(p[at + k]) == lowerAscii(q[k]))
            ++k;
        if (k == m && (at == 0 || !isNickUnit(p[at - 1])) && (at == last || !isNickUnit(p[at + m])))
            return true;
    }
    return false;
}
} // namespace

bool mentions(QStringView text, QStringView nick) {
    if (nick.isEmpty() || nick.size() > text.size())
        return false;
    if (isPrintableAscii(text) && isPrintableAscii(nick))
        return mentionsAscii(text, nick);
    QString stripped;
    for (const QChar c : text)
        if (isCode(c.unicode())) {
            stripped = plain(parse(text.toString()).text);
            text = stripped;
            break;
        }
    for (qsizetype at = text.indexOf(nick, 0, Qt::CaseInsensitive); at >= 0;
         at = text.indexOf(nick, at + 1, Qt::CaseInsensitive)) {
        const qsizetype end = at + nick.size();
        if ((at == 0 || !isNickUnit(text[at - 1])) &&
            (end == text.size() || !isNickUnit(text[end])))
            return true;
    }
    return false;
}

} // namespace IrcFormat
