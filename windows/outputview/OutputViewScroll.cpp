// Where the output box's view stands among the visual rows, and how it moves.
#include "platform/EscapedErrors.h"
#include "windows/outputview/OutputView.h"
#include "windows/outputview/OutputViewSupport.h"

#include <QFontMetricsF>
#include <QScrollBar>
#include <QTextLine>
#include <QtDebug>
#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>

using OutputViewSupport::Margin;
using OutputViewSupport::toInt;

// ---- Geometry of rows ----

qreal OutputView::viewHeight() const {
    return std::max(1, viewport()->height());
}

qreal OutputView::rowTop(Row row) const {
    return m_layouts.layout(row.line).lineAt(row.row).y();
}

OutputView::Row OutputView::topForBottom(Row bottom) const {
    const qreal height = viewHeight();
    qreal used = 0;
    Row r = bottom;
    for (;;) {
        const QTextLayout &layout = m_layouts.layout(r.line);
        const int rows = layout.lineCount();
        for (int i = std::min(r.row, rows - 1); i >= 0; --i) {
            const qreal h = layout.lineAt(i).height();
            if (used > 0 && used + h > height)
                return i + 1 < rows ? Row{r.line, i + 1} : Row{r.line + 1, 0};
            used += h;
        }
        if (r.line == 0)
            return {};
        --r.line;
        r.row = INT_MAX;
    }
}

OutputView::Row OutputView::endTop() const {
    if (m_store.count() == 0)
        return {};
    return topForBottom({m_store.count() - 1, INT_MAX});
}

OutputView::Row OutputView::top() const {
    const qsizetype count = m_store.count();
    if (count == 0)
        return {};
    if (m_pinnedBottom)
        return topForBottom({std::clamp<qsizetype>(m_bottomLine, 0, count - 1), INT_MAX});
    Row t = m_top;
    if (t.line >= count)
        t = {count - 1, 0};
    t.row = std::clamp(t.row, 0, m_layouts.rows(t.line) - 1);
    return t;
}

OutputView::Row OutputView::moveRows(Row from, qsizetype delta) const {
    const qsizetype count = m_store.count();
    Row r = from;
    while (delta > 0) {
        const int rows = m_layouts.rows(r.line);
        const qsizetype left = rows - 1 - r.row;
        if (delta <= left) {
            r.row += static_cast<int>(delta);
            return r;
        }
        if (r.line + 1 >= count) {
            r.row = rows - 1;
            return r;
        }
        delta -= left + 1;
        ++r.line;
        r.row = 0;
    }
    while (delta < 0) {
        if (-delta <= r.row) {
            r.row += static_cast<int>(delta);
            return r;
        }
        if (r.line == 0) {
            r.row = 0;
            return r;
        }
        delta += r.row + 1;
        --r.line;
        r.row = m_layouts.rows(r.line) - 1;
    }
    return r;
}

OutputView::Row OutputView::rowOf(qsizetype position) const {
    const qsizetype line = std::max<qsizetype>(m_store.lineAt(position), 0);
    const QTextLayout &layout = m_layouts.layout(line);
    const int column = toInt(std::min(position - m_store.lineStart(line), layout.text().size()));
    return {line, std::max(layout.lineForTextPosition(column).lineNumber(), 0)};
}

// ---- Scrolling ----

qsizetype OutputView::firstVisibleLine() const {
    return top().line;
}

int OutputView::rowCount(qsizetype index) const {
    if (index < 0 || index >= m_store.count())
        return 0;
    return m_layouts.rows(index);
}

void OutputView::setTop(Row row) {
    if (m_store.count() == 0)
        return;
    const Row end = endTop();
    if (!(row < end)) {
        pinToEnd();
        return;
    }
    m_pinnedBottom = false;
    m_top = row;
    updateScrollBars();
    viewport()->update();
}

void OutputView::pinToEnd() {
    m_pinnedBottom = true;
    m_bottomLine = m_store.count() - 1;
    updateScrollBars();
    viewport()->update();
}

void OutputView::scrollRows(qsizetype delta) {
    if (m_store.count() == 0 || delta == 0)
        return;
    setTop(moveRows(top(), delta));
}

void OutputView::scrollToEnd() {
    if (m_pinnedBottom && m_bottomLine == m_store.count() - 1)
        return;
    m_pinnedBottom = true;
    m_bottomLine = m_store.count() - 1;
    requestFlush(true);
}

bool OutputView::isAtEnd() const {
    const qsizetype count = m_store.count();
    if (count == 0 || (m_pinnedBottom && m_bottomLine >= count - 1))
        return true;
    return !(top() < endTop());
}

void OutputView::ensureVisible(qsizetype position) {
    if (m_store.count() == 0)
        return;
    const Row target = rowOf(position);
    const Row t = top();
    if (target < t) {
        setTop(target);
        return;
    }
    // Walk down from the top row until the target row or the bottom edge is reached.
    const qreal height = viewHeight();
    qreal y = -rowTop(t);
    for (qsizetype line = t.line; line <= target.line; ++line) {
        const QTextLayout &layout = m_layouts.layout(line);
        if (line == target.line) {
            const QTextLine row = layout.lineAt(target.row);
            if (y + row.y() + row.height() <= height || (line == t.line && target.row == t.row))
                return;
            break;
        }
        y += m_layouts.height(line);
        if (y >= height)
            break;
    }
    setTop(topForBottom(target));
}

void OutputView::scrollContentsBy(int dx, int dy) {
    if (m_syncingBars)
        return;
    Guarded([&] {
        if (dy) {
            const QScrollBar *bar = verticalScrollBar();
            if (bar->value() >= bar->maximum()) {
                m_pinnedBottom = true;
                m_bottomLine = m_store.count() - 1;
            } else {
                m_pinnedBottom = false;
                m_top = {bar->value(), 0};
            }
        }
        if (dx)
            m_hOffset = horizontalScrollBar()->value();
        viewport()->update();
    });
}

void OutputView::setWordWrap(bool on) {
    if (on == m_wrap)
        return;
    m_wrap = on;
    m_hOffset = 0;
    setHorizontalScrollBarPolicy(on ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    m_layouts.setWrap(on);
    syncLayoutSettings();
    updateScrollBars();
    viewport()->update();
}

bool OutputView::wordWrap() const {
    return m_wrap;
}

void OutputView::syncLayoutSettings() {
    m_layouts.setFont(font());
    m_layouts.setColours(palette().color(QPalette::Text), palette().color(QPalette::Base),
                         palette().color(QPalette::Link));
    m_layouts.setPaintDevice(viewport());
    m_layouts.setWidth(viewport()->width() - 2 * Margin);
}

void OutputView::updateScrollBars() {
    m_syncingBars = true;
    QScrollBar *vertical = verticalScrollBar();
    const QFontMetricsF metrics(font(), viewport());
    vertical->setRange(0, toInt(endTop().line));
    vertical->setPageStep(std::max(1, static_cast<int>(viewHeight() / metrics.lineSpacing())));
    vertical->setValue(toInt(top().line));
    if (!m_wrap) {
        QScrollBar *horizontal = horizontalScrollBar();
        // Lines not laid out yet are guessed at by their length.
        const qreal guess = qreal(m_store.maxLineLength()) * metrics.averageCharWidth();
        const int content =
            static_cast<int>(std::ceil(std::max(m_layouts.widest(), guess))) + 2 * Margin;
        horizontal->setRange(0, std::max(0, content - viewport()->width()));
        horizontal->setPageStep(viewport()->width());
        horizontal->setSingleStep(std::max(1, static_cast<int>(metrics.averageCharWidth() * 4)));
        m_hOffset = horizontal->value();
    }
    m_syncingBars = false;
}
