// Finding text in the output box. The lines are searched a block at a time in the stored text;
// only the lines that hold formatting codes are rebuilt without them, so a search over a million
// lines costs about one pass over their text.
#include "windows/outputview/OutputFindBar.h"
#include "windows/outputview/OutputView.h"

#include <algorithm>
#include <array>
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

bool isCodeUnit(QChar c) {
    return isCodeBit(c.unicode()) != 0;
}

char16_t fold(char16_t u) {
    if (u < 0x80)
        return u >= 'A' && u <= 'Z' ? char16_t(u + 32) : u;
    return char16_t(QChar::toCaseFolded(char32_t(u)));
}

// Case-insensitive Boyer-Moore-Horspool over case-folded units; several times faster than a
// case-insensitive QStringMatcher, which folds through the Unicode tables at every step.
class FoldedMatcher {
public:
    explicit FoldedMatcher(const QString &needle) {
        for (const QChar c : needle)
            m_needle.push_back(fold(c.unicode()));
        const qsizetype m = qsizetype(m_needle.size());
        m_skip.fill(m);
        for (qsizetype j = 0; j + 1 < m; ++j)
            m_skip[m_needle[size_t(j)] & 0xff] = m - 1 - j;
    }
    qsizetype size() const { return qsizetype(m_needle.size()); }
    qsizetype indexIn(QStringView text, qsizetype from) const {
        const qsizetype m = size();
        const char16_t *h = reinterpret_cast<const char16_t *>(text.data());
        const char16_t last = m_needle.back();
        for (qsizetype i = std::max<qsizetype>(from, 0); i + m <= text.size();) {
            const char16_t u = fold(h[i + m - 1]);
            if (u == last) {
                qsizetype j = m - 2;
                while (j >= 0 && fold(h[i + j]) == m_needle[size_t(j)])
                    --j;
                if (j < 0)
                    return i;
            }
            i += m_skip[u & 0xff];
        }
        return -1;
    }

private:
    std::vector<char16_t> m_needle;
    std::array<qsizetype, 256> m_skip;
};

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
        // Sixteen units at a time without branches, so that the compiler can vectorise the
        // common case: a long run without any code.
        const char16_t *data = reinterpret_cast<const char16_t *>(block.constData());
        const qsizetype size = block.size();
        qsizetype i = from;
        for (; i + 16 <= size; i += 16) {
            unsigned any = 0;
            for (int k = 0; k < 16; ++k)
                any |= isCodeBit(data[i + k]);
            if (any)
                break;
        }
        return std::find_if(block.cbegin() + i, block.cend(), isCodeUnit) - block.cbegin();
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
    const FoldedMatcher matcher(needle);
    qsizetype line = m_store.lineAt(clampPosition(from));
    while (line >= 0 && line < count) {
        const qsizetype first = backward ? std::max<qsizetype>(line - BlockLines + 1, 0) : line;
        const qsizetype last = backward ? line : std::min(line + BlockLines, count) - 1;
        const qsizetype blockStart = m_store.lineStart(first);
        const qsizetype blockEnd = m_store.lineStart(last) + m_store.lineLength(last);
        const Haystack h = haystack(m_store.text(blockStart, blockEnd - blockStart));
        const auto match = [&](qsizetype at) {
            return Match{blockStart + h.stored(at),
                         blockStart + h.stored(at + needle.size() - 1) + 1};
        };
        if (!backward) {
            const qsizetype at =
                matcher.indexIn(h.text, h.searched(std::max<qsizetype>(from - blockStart, 0)));
            if (at >= 0)
                return match(at);
            line = last + 1;
        } else {
            Match best;
            for (qsizetype at = matcher.indexIn(h.text, 0); at >= 0;
                 at = matcher.indexIn(h.text, at + 1)) {
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
    if (m.start < 0)
        return false;
    setAnchorAndCaret(m.start, m.end);
    ensureVisible(m.end);
    ensureVisible(m.start);
    return true;
}

void OutputView::openFind() {
    if (!m_findBar)
        m_findBar = new OutputFindBar(this);
    m_findBar->place();
    m_findBar->show();
    m_findBar->raise();
    m_findBar->setFocus(Qt::ShortcutFocusReason);
    m_findBar->selectAll();
}
