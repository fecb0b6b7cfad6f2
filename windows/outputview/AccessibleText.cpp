#include "windows/outputview/AccessibleText.h"

#include "text/IrcFormat.h"
#include "windows/outputview/OutputView.h"

#include <algorithm>

namespace {
bool hasControl(QStringView line) {
    return std::any_of(line.begin(), line.end(), [](QChar c) { return c.unicode() < 0x20; });
}

// Units of the stored line: its drawn text is just as long.
qsizetype storedLength(const OutputView &view, qsizetype line) {
    const qsizetype end =
        line + 1 < view.lineCount() ? view.lineStartPosition(line + 1) - 2 : view.textLength();
    return end - view.lineStartPosition(line);
}
} // namespace

qsizetype AccessibleText::hiddenUnits(const QString &line) {
    if (!hasControl(line))
        return 0;
    return IrcFormat::parse(line).text.count(QChar(IrcFormat::Hidden));
}

void AccessibleText::clear() {
    m_marks.clear();
    m_scanned = 0;
    m_linesGone = 0;
    m_hiddenGone = 0;
}

void AccessibleText::appended(qsizetype index, const QString &line) {
    if (!m_used || m_scanned != index)
        return; // looked at when the text is next asked for
    if (const qsizetype hidden = hiddenUnits(line))
        m_marks.push_back({m_linesGone + index, m_hiddenGone + hiddenBefore(index) + hidden});
    m_scanned = index + 1;
}

// The old line `lines` now holds the note of the drop, which has no codes: it goes with the lines
// before it.
void AccessibleText::dropped(qsizetype lines) {
    m_linesGone += lines;
    while (!m_marks.empty() && m_marks.front().line <= m_linesGone) {
        m_hiddenGone = m_marks.front().hiddenThrough;
        m_marks.pop_front();
    }
    m_scanned = std::max<qsizetype>(m_scanned - lines, 0);
}

void AccessibleText::scanTo(qsizetype lines) const {
    m_used = true;
    for (; m_scanned < lines; ++m_scanned) {
        if (const qsizetype hidden = hiddenUnits(m_view.line(m_scanned))) {
            const qsizetype before = m_marks.empty() ? m_hiddenGone : m_marks.back().hiddenThrough;
            m_marks.push_back({m_linesGone + m_scanned, before + hidden});
        }
    }
}

qsizetype AccessibleText::hiddenBefore(qsizetype line) const {
    scanTo(line);
    const auto after = std::lower_bound(m_marks.begin(), m_marks.end(), m_linesGone + line,
                                        [](const Mark &m, qsizetype l) { return m.line < l; });
    return (after == m_marks.begin() ? m_hiddenGone : std::prev(after)->hiddenThrough) -
           m_hiddenGone;
}

qsizetype AccessibleText::length() const {
    const qsizetype lines = m_view.lineCount();
    return lines == 0 ? 0 : m_view.textLength() + 2 - lines - hiddenBefore(lines);
}

qsizetype AccessibleText::lineStart(qsizetype line) const {
    return m_view.lineStartPosition(line) - line - hiddenBefore(line);
}

qsizetype AccessibleText::lineAt(qsizetype offset) const {
    qsizetype low = 0;
    qsizetype high = m_view.lineCount() - 1;
    scanTo(m_view.lineCount());
    while (low < high) {
        const qsizetype mid = low + (high - low + 1) / 2;
        if (lineStart(mid) <= offset)
            low = mid;
        else
            high = mid - 1;
    }
    return high;
}

QString AccessibleText::lineText(qsizetype line) const {
    return readable(m_view.line(line));
}

QString AccessibleText::readable(const QString &stored) {
    if (!hasControl(stored))
        return IrcFormat::displayText(stored);
    return IrcFormat::plain(IrcFormat::parse(stored).text);
}

qsizetype AccessibleText::offsetOf(qsizetype position, bool rangeEnd) const {
    if (m_view.lineCount() == 0)
        return 0;
    position = std::clamp<qsizetype>(position, 0, m_view.textLength());
    const qsizetype line = m_view.lineAtPosition(position);
    const qsizetype column = position - m_view.lineStartPosition(line);
    const qsizetype length = storedLength(m_view, line);
    const qsizetype hidden = hiddenBefore(line + 1) - hiddenBefore(line);
    const qsizetype start = lineStart(line);
    if (column >= length)
        return start + length - hidden + (rangeEnd && column > length ? 1 : 0);
    if (hidden == 0)
        return start + column;
    const QString drawn = IrcFormat::parse(m_view.line(line)).text;
    return start + column - QStringView(drawn).left(column).count(QChar(IrcFormat::Hidden));
}

qsizetype AccessibleText::positionOf(qsizetype offset) const {
    if (m_view.lineCount() == 0)
        return 0;
    const qsizetype line = lineAt(std::max<qsizetype>(offset, 0));
    const qsizetype column = std::max<qsizetype>(offset, 0) - lineStart(line);
    const qsizetype start = m_view.lineStartPosition(line);
    const qsizetype length = storedLength(m_view, line);
    const qsizetype hidden = hiddenBefore(line + 1) - hiddenBefore(line);
    if (column >= length - hidden)
        return start + length;
    if (hidden == 0)
        return start + column;
    const QString drawn = IrcFormat::parse(m_view.line(line)).text;
    qsizetype seen = 0;
    for (qsizetype i = 0; i < drawn.size(); ++i) {
        if (drawn.at(i).unicode() == IrcFormat::Hidden)
            continue;
        if (seen++ == column)
            return start + i;
    }
    return start + length;
}

QString AccessibleText::text(qsizetype start, qsizetype end) const {
    start = std::max<qsizetype>(start, 0);
    end = std::min(end, length());
    QString out;
    if (end <= start)
        return out;
    const qsizetype first = lineAt(start);
    const qsizetype skip = start - lineStart(first);
    for (qsizetype line = first; line < m_view.lineCount() && out.size() < end - start + skip;
         ++line)
        out += lineText(line) + QLatin1Char('\n');
    return out.mid(skip, end - start);
}
