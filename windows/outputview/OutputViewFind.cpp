// Finding text in the output box. The lines are searched a block at a time in the stored text;
// only a block that holds formatting codes is rebuilt without them, so a search over a million
// plain lines costs about one pass over their text.
#include "windows/outputview/OutputFindBar.h"
#include "windows/outputview/OutputView.h"

#include <QStringMatcher>
#include <algorithm>
#include <vector>

namespace {

constexpr qsizetype BlockLines = 4096;

bool isCodeUnit(char16_t u) {
    return u == 0x02 || u == 0x03 || u == 0x04 || u == 0x0f || u == 0x11 || u == 0x16 ||
           u == 0x1d || u == 0x1e || u == 0x1f;
}

// A block of stored text as searched: the text without formatting codes, and for each of its
// units (and its end) the offset in the stored block. The map is empty when nothing was removed.
struct Haystack {
    QString text;
    std::vector<qsizetype> map;
    qsizetype stored(qsizetype i) const { return map.empty() ? i : map[size_t(i)]; }
    qsizetype searched(qsizetype storedOffset) const {
        if (map.empty())
            return storedOffset;
        return std::lower_bound(map.begin(), map.end(), storedOffset) - map.begin();
    }
};

Haystack haystack(QString block) {
    const bool hasCodes =
        std::any_of(block.cbegin(), block.cend(), [](QChar c) { return isCodeUnit(c.unicode()); });
    if (!hasCodes)
        return {std::move(block), {}};
    Haystack h;
    h.text.reserve(block.size());
    h.map.reserve(size_t(block.size()) + 1);
    // Lines are parsed one by one: formatting starts plain on every line.
    for (qsizetype lineStart = 0; lineStart <= block.size();) {
        qsizetype lineEnd = block.indexOf(QLatin1String("\r\n"), lineStart);
        if (lineEnd < 0)
            lineEnd = block.size();
        const QString drawn = IrcFormat::parse(block.mid(lineStart, lineEnd - lineStart)).text;
        for (qsizetype i = 0; i < drawn.size(); ++i)
            if (drawn.at(i).unicode() != IrcFormat::Hidden) {
                h.text.append(block.at(lineStart + i)); // the stored unit, matched as typed
                h.map.push_back(lineStart + i);
            }
        for (qsizetype i = lineEnd; i < std::min(lineEnd + 2, block.size()); ++i) {
            h.text.append(block.at(i));
            h.map.push_back(i);
        }
        lineStart = lineEnd + 2;
    }
    h.map.push_back(block.size());
    return h;
}

} // namespace

OutputView::Match OutputView::search(const QString &needle, qsizetype from, bool backward) const {
    const qsizetype count = m_store.count();
    if (needle.isEmpty() || count == 0)
        return {};
    const QStringMatcher matcher(needle, Qt::CaseInsensitive);
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
