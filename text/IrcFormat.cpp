#include "text/IrcFormat.h"

#include <array>

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

char16_t visibleUnit(char16_t u) {
    if (u < 0x20)
        return char16_t(0x2400 + u); // Control Pictures: NUL..US, TAB, LF, CR included
    if (u == 0x7F)
        return 0x2421; // SYMBOL FOR DELETE
    if ((u >= 0x80 && u <= 0x9F) || u == 0x2028 || u == 0x2029 || u == 0xFFFC)
        return 0xFFFD;
    return u;
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

QString displayText(const QString &line) {
    QString out = line; // shares the data until a character has to change
    QChar *data = nullptr;
    const qsizetype size = line.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t u = line.at(i).unicode();
        char16_t shown = visibleUnit(u);
        if (QChar::isSurrogate(u)) {
            if (QChar::isHighSurrogate(u) && i + 1 < size && line.at(i + 1).isLowSurrogate()) {
                ++i; // a proper pair stays as it is
                continue;
            }
            shown = 0xFFFD;
        }
        if (shown != u) {
            if (!data)
                data = out.data();
            data[i] = QChar(shown);
        }
    }
    return out;
}

QColor colour(int index) {
    if (index < 0 || index >= int(Colours.size()))
        return {};
    return QColor(Colours[size_t(index)]);
}

Line parse(const QString &stored) {
    Line line{displayText(stored), {}};
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

} // namespace IrcFormat
