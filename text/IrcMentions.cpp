#include "text/IrcMentions.h"

#include "text/IrcFormat.h"

#include <QString>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace IrcFormat {

namespace {

bool isNickChar(char32_t c) {
    return QChar::isLetterOrNumber(c) ||
           (c < 0x80 && QStringView(u"-_[]\\`^{}|").contains(QChar(c)));
}

// The character that ends just before at, or starts at at: a surrogate pair counts as the one
// character it encodes, so that a letter outside the first plane joins a word like any other.
char32_t charBefore(QStringView text, qsizetype at) {
    const char16_t u = text[at - 1].unicode();
    if (QChar::isLowSurrogate(u) && at >= 2 && text[at - 2].isHighSurrogate())
        return QChar::surrogateToUcs4(text[at - 2].unicode(), u);
    return u;
}

char32_t charAt(QStringView text, qsizetype at) {
    const char16_t u = text[at].unicode();
    if (QChar::isHighSurrogate(u) && at + 1 < text.size() && text[at + 1].isLowSurrogate())
        return QChar::surrogateToUcs4(u, text[at + 1].unicode());
    return u;
}

// Whether the match [at, at + length) of text stands as a word of its own.
bool isWholeWord(QStringView text, qsizetype at, qsizetype length) {
    const qsizetype end = at + length;
    return (at == 0 || !isNickChar(charBefore(text, at))) &&
           (end == text.size() || !isNickChar(charAt(text, end)));
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

// A nick this short is matched by a plain scan: at most this many units are compared at each
// place its first letter occurs, so the cost stays linear in the text.
constexpr qsizetype ShortNick = 32;

// mentions() for printable ASCII text and a short nick, the usual chat line: a scan for the
// nick's first letter in either case, without building anything.
bool mentionsShortAscii(QStringView text, QStringView nick) {
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
        if (k == m && isWholeWord(text, at, m))
            return true;
    }
    return false;
}

// Units folded to one letter case, one for one, so that positions stay those of the text: each
// character is folded on its own (the simple folding that QString's case-insensitive search
// uses), a surrogate pair as one character.
std::vector<char16_t> folded(QStringView text) {
    std::vector<char16_t> out(size_t(text.size()));
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = text[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < n && text[i + 1].isLowSurrogate()) {
            const char32_t c =
                QChar::toCaseFolded(QChar::surrogateToUcs4(u, text[i + 1].unicode()));
            const bool wide = QChar::requiresSurrogates(c);
            out[size_t(i)] = wide ? QChar::highSurrogate(c) : u;
            out[size_t(i + 1)] = wide ? QChar::lowSurrogate(c) : text[i + 1].unicode();
            ++i;
        } else {
            out[size_t(i)] = char16_t(QChar::toCaseFolded(char32_t(u)));
        }
    }
    return out;
}

// The Knuth-Morris-Pratt search for nick in text, both folded: every match is checked for
// standing as a word, and the cost is linear in the lengths of both however alike they are.
bool mentionsFolded(QStringView text, QStringView nick) {
    const std::vector<char16_t> t = folded(text);
    const std::vector<char16_t> q = folded(nick);
    const size_t m = q.size();
    // border[k]: the length of the longest proper border of q's first k + 1 units.
    std::vector<size_t> border(m, 0);
    for (size_t k = 1, b = 0; k < m; ++k) {
        while (b > 0 && q[k] != q[b])
            b = border[b - 1];
        if (q[k] == q[b])
            ++b;
        border[k] = b;
    }
    for (size_t i = 0, k = 0; i < t.size(); ++i) {
        while (k > 0 && t[i] != q[k])
            k = border[k - 1];
        if (t[i] == q[k])
            ++k;
        if (k == m) {
            if (isWholeWord(text, qsizetype(i + 1 - m), qsizetype(m)))
                return true;
            k = border[k - 1];
        }
    }
    return false;
}

} // namespace

bool mentions(QStringView text, QStringView nick) {
    if (nick.isEmpty() || nick.size() > text.size())
        return false;
    if (nick.size() <= ShortNick && isPrintableAscii(text) && isPrintableAscii(nick))
        return mentionsShortAscii(text, nick);
    QString stripped;
    for (const QChar c : text)
        if (isCode(c.unicode())) {
            stripped = plain(parse(text.toString()).text);
            text = stripped;
            break;
        }
    return mentionsFolded(text, nick);
}

bool fitsNickLimit(QStringView nick) {
    // Every unit is at least one byte of UTF-8: only a nick near the limit is converted.
    return nick.size() <= MaxNickBytes && nick.toUtf8().size() <= MaxNickBytes;
}

} // namespace IrcFormat
