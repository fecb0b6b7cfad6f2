// Finding text in the output box. The lines are searched a block at a time in the stored text;
// only the lines that hold formatting codes are rebuilt without them, so a search over a million
// lines costs about one pass over their text.
#include "windows/outputview/OutputFindBar.h"
#include "windows/outputview/OutputView.h"

#include <algorithm>
#include <array>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <vector>

namespace {

constexpr qsizetype BlockLines = 4096;

// The formatting codes 0x02 0x03 0x04 0x0F 0x11 0x16 0x1D 0x1E 0x1F as bits.
constexpr unsigned CodeBits = (1u << 0x02) | (1u << 0x03) | (1u << 0x04) | (1u << 0x0f) |
                              (1u << 0x11) | (1u << 0x16) | (1u << 0x1d) | (1u << 0x1e) |
                              (1u << 0x1f);

unsigned isCodeBit(char16_t u) {
    return unsigned(u < 0x20) & (CodeBits >> (u & 0x1f));
}

// Case folds text in place: ASCII letters eight at a time, other units one by one and only when
// there are any. Folding the block once and searching it case-sensitively with
// Qt's own search is several times faster than folding at every step of a case-insensitive one.
void foldInPlace(QString &text) {
    char16_t *data = reinterpret_cast<char16_t *>(text.data());
    const qsizetype size = text.size();
    unsigned seen = 0;
    qsizetype i = 0;
#ifdef __SSE2__
    // Eight units at a time: units from 0x8000 up compare as negative and stay as they are.
    const __m128i beforeA = _mm_set1_epi16('A' - 1);
    const __m128i afterZ = _mm_set1_epi16('Z' + 1);
    const __m128i caseBit = _mm_set1_epi16(0x20);
    __m128i seenWide = _mm_setzero_si128();
    for (; i + 8 <= size; i += 8) {
        auto *at = reinterpret_cast<__m128i *>(data + i);
        const __m128i v = _mm_loadu_si128(at);
        const __m128i upper =
            _mm_and_si128(_mm_cmpgt_epi16(v, beforeA), _mm_cmplt_epi16(v, afterZ));
        _mm_storeu_si128(at, _mm_or_si128(v, _mm_and_si128(upper, caseBit)));
        seenWide = _mm_or_si128(seenWide, v);
    }
    alignas(16) quint16 lanes[8];
    _mm_store_si128(reinterpret_cast<__m128i *>(lanes), seenWide);
    for (const quint16 lane : lanes)
        seen |= lane;
#endif
    for (; i < size; ++i) {
        const char16_t u = data[i];
        seen |= u;
        data[i] = char16_t(u + (char16_t(u - u'A') < 26 ? 0x20 : 0));
    }
    if (seen < 0x80)
        return;
    for (qsizetype i = 0; i < size; ++i)
        if (data[i] >= 0x80 && !QChar::isSurrogate(data[i]))
            data[i] = char16_t(QChar::toCaseFolded(char32_t(data[i])));
}

// A block of stored text as searched: the text without formatting codes, kept in segments that
// map it back onto the stored block. No segments: nothing was removed.
struct Haystack {
    struct Segment {
        qsizetype searched;
        qsizetype stored;
        qsizetype length;
    };
    QString text;
    std::vector<Segment> segments;

    qsizetype stored(qsizetype i) const {
        if (segments.empty())
            return i;
        const auto it =
            std::upper_bound(segments.begin(), segments.end(), i,
                             [](qsizetype v, const Segment &s) { return v < s.searched; });
        const Segment &s = *(it - 1);
        return s.stored + (i - s.searched);
    }
    qsizetype searched(qsizetype stored) const {
        if (segments.empty())
            return stored;
        const auto it =
            std::upper_bound(segments.begin(), segments.end(), stored,
                             [](qsizetype v, const Segment &s) { return v < s.stored; });
        if (it == segments.begin())
            return 0;
        const Segment &s = *(it - 1);
        return s.searched + std::min(stored - s.stored, s.length);
    }
    // Appends the stored units [from, to) of block.
    void keep(QStringView block, qsizetype from, qsizetype to) {
        if (from >= to)
            return;
        Segment *last = segments.empty() ? nullptr : &segments.back();
        if (last && last->stored + last->length == from &&
            last->searched + last->length == text.size())
            last->length += to - from;
        else
            segments.push_back({text.size(), from, to - from});
        text.append(block.mid(from, to - from));
    }
};

// Only the lines holding a code are parsed (formatting starts plain on every line); the rest is
// copied as it is.
Haystack haystack(QString block) {
    const auto nextCode = [&block](qsizetype from) {
        // Sixteen units at a time by plain comparisons, which the compiler vectorises: a run
        // without controls other than the line breaks is passed over quickly.
        const char16_t *data = reinterpret_cast<const char16_t *>(block.constData());
        const qsizetype size = block.size();
        qsizetype i = from;
#ifdef __SSE2__
        // Eight units at a time: a unit up to 0x1F that is neither CR nor LF stops the run.
        const __m128i highestControl = _mm_set1_epi16(0x1f);
        const __m128i cr = _mm_set1_epi16(u'\r');
        const __m128i lf = _mm_set1_epi16(u'\n');
        for (; i + 8 <= size; i += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i));
            const __m128i control =
                _mm_cmpeq_epi16(_mm_subs_epu16(v, highestControl), _mm_setzero_si128());
            const __m128i lineBreak = _mm_or_si128(_mm_cmpeq_epi16(v, cr), _mm_cmpeq_epi16(v, lf));
            if (_mm_movemask_epi8(_mm_andnot_si128(lineBreak, control)))
                for (int k = 0; k < 8; ++k)
                    if (isCodeBit(data[i + k]))
                        return i + k;
        }
#endif
        for (; i + 16 <= size; i += 16) {
            unsigned any = 0;
            for (int k = 0; k < 16; ++k) {
                const char16_t u = data[i + k];
                any |= unsigned(u < 0x20) & unsigned(u != u'\r') & unsigned(u != u'\n');
            }
            if (any)
                for (int k = 0; k < 16; ++k)
                    if (isCodeBit(data[i + k]))
                        return i + k;
        }
        for (; i < size; ++i)
            if (isCodeBit(data[i]))
                return i;
        return size;
    };
    qsizetype code = nextCode(0);
    if (code == block.size())
        return {std::move(block), {}};
    Haystack h;
    h.text.reserve(block.size());
    const QLatin1String crlf("\r\n");
    qsizetype copied = 0;
    while (code < block.size()) {
        const qsizetype before = code > 0 ? block.lastIndexOf(crlf, code - 1) : -1;
        const qsizetype lineStart = before < 0 ? 0 : before + 2;
        qsizetype lineEnd = block.indexOf(crlf, code);
        if (lineEnd < 0)
            lineEnd = block.size();
        h.keep(block, copied, lineStart);
        const QString drawn = IrcFormat::parse(block.mid(lineStart, lineEnd - lineStart)).text;
        for (qsizetype i = 0; i < drawn.size(); ++i)
            if (drawn.at(i).unicode() != IrcFormat::Hidden)
                h.keep(block, lineStart + i, lineStart + i + 1); // the stored unit, as typed
        copied = lineEnd;
        code = nextCode(lineEnd);
    }
    h.keep(block, copied, block.size());
    return h;
}

} // namespace

OutputView::Match OutputView::search(const QString &needle, qsizetype from, bool backward) const {
    const qsizetype count = m_store.count();
    if (needle.isEmpty() || count == 0)
        return {};
    QString folded = needle;
    foldInPlace(folded);
    qsizetype line = m_store.lineAt(clampPosition(from));
    while (line >= 0 && line < count) {
        const qsizetype first = backward ? std::max<qsizetype>(line - BlockLines + 1, 0) : line;
        const qsizetype last = backward ? line : std::min(line + BlockLines, count) - 1;
        const qsizetype blockStart = m_store.lineStart(first);
        const qsizetype blockEnd = m_store.lineStart(last) + m_store.lineLength(last);
        Haystack h = haystack(m_store.text(blockStart, blockEnd - blockStart));
        foldInPlace(h.text);
        const QStringView text(h.text);
        const auto match = [&](qsizetype at) {
            return Match{blockStart + h.stored(at),
                         blockStart + h.stored(at + needle.size() - 1) + 1};
        };
        if (!backward) {
            const qsizetype at =
                text.indexOf(folded, h.searched(std::max<qsizetype>(from - blockStart, 0)));
            if (at >= 0)
                return match(at);
            line = last + 1;
        } else {
            Match best;
            for (qsizetype at = text.indexOf(folded); at >= 0; at = text.indexOf(folded, at + 1)) {
                const Match m = match(at);
                if (m.end > from)
                    break;
                best = m;
            }
            if (best.start >= 0)
                return best;
            line = first - 1;
        }
    }
    return {};
}

bool OutputView::find(const QString &needle, bool backward) {
    const qsizetype selStart = selectionStart();
    const qsizetype selEnd = selStart + selectionLength();
    Match m = search(needle, backward ? selStart : selEnd, backward);
    if (m.start < 0) // once round from the other end
        m = search(needle, backward ? textLength() : 0, backward);
    if (m.start < 0) {
        if (!needle.isEmpty())
            emit announce(tr("not found"));
        return false;
    }
    setAnchorAndCaret(m.start, m.end);
    ensureVisible(m.end);
    ensureVisible(m.start);
    emit announce(m_accessibleText.lineText(m_store.lineAt(m.start)));
    return true;
}

void OutputView::openFind() {
    if (!m_findBar)
        m_findBar = new OutputFindBar(this);
    if (!m_findBar->isVisible()) {
        m_findAnchor = m_anchor;
        m_findCaret = m_caret;
        m_findFromEnd = m_anchor == m_caret && m_caret == textLength();
    }
    m_findBar->place();
    m_findBar->show();
    m_findBar->raise();
    // Focused first and then selected, so that a screen reader hears the field's name: a
    // selection made while the focus arrives would come before the focus and hide it.
    m_findBar->setFocus(Qt::OtherFocusReason);
    m_findBar->selectAll();
}

void OutputView::closeFind() {
    if (m_findBar)
        m_findBar->hide();
    if (m_findFromEnd) {
        followEnd();
        return;
    }
    setAnchorAndCaret(m_findAnchor, m_findCaret);
    ensureVisible(m_caret);
}
