// Painting of the output box and the mapping between positions and viewport points.
#include "windows/outputview/OutputView.h"
#include "windows/outputview/OutputViewSupport.h"

#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QTextLine>
#include <algorithm>
#include <cmath>

using OutputViewSupport::Margin;
using OutputViewSupport::toInt;

// ---- Painting and hit testing ----

void OutputView::paintEvent(QPaintEvent *event) {
    syncLayoutSettings();
    m_layouts.trim();
    const qreal widestBefore = m_layouts.widest();
    QPainter painter(viewport());
    const qsizetype count = m_store.count();
    m_paintedLastLine = -1;
    m_paintedFull = false;
    if (count == 0)
        return;
    const QPalette &pal = palette();
    const QColor highlight = pal.color(QPalette::Highlight);
    const QColor highlightedText = pal.color(QPalette::HighlightedText);
    const qreal breakWidth = QFontMetricsF(font(), viewport()).horizontalAdvance(QLatin1Char(' '));
    const int caretWidth = style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this);
    const qsizetype selStart = selectionStart();
    const qsizetype selEnd = selStart + selectionLength();
    const bool showCaret = hasFocus();
    const QRectF clip(event->rect());
    const qreal height = viewHeight();
    const qreal x = Margin - m_hOffset;
    painter.setPen(pal.color(QPalette::Text));

    const Row t = top();
    qreal y = -rowTop(t);
    qsizetype line = t.line;
    qsizetype start = m_store.lineStart(line);
    for (; line < count && y < height; ++line) {
        const QTextLayout &layout = m_layouts.layout(line);
        const qreal lineHeight = m_layouts.height(line);
        const qsizetype length = layout.text().size();
        if (y + lineHeight > clip.top() && y <= clip.bottom()) {
            QList<QTextLayout::FormatRange> selections;
            if (selEnd > start && selStart < start + length) {
                QTextLayout::FormatRange range;
                range.start = toInt(std::max<qsizetype>(selStart - start, 0));
                range.length = toInt(std::min(selEnd - start, length)) - range.start;
                range.format.setBackground(highlight);
                range.format.setForeground(highlightedText);
                selections.append(range);
            }
            layout.draw(&painter, QPointF(x, y), selections, clip);
            if (selStart <= start + length && selEnd > start + length && line + 1 < count) {
                // The line break is selected: show it as a blank cell after the last row.
                const QTextLine last = layout.lineAt(layout.lineCount() - 1);
                painter.fillRect(
                    QRectF(x + last.naturalTextWidth(), y + last.y(), breakWidth, last.height()),
                    highlight);
            }
            if (showCaret && m_caret >= start && m_caret <= start + length + 1)
                layout.drawCursor(&painter, QPointF(x, y), toInt(std::min(m_caret - start, length)),
                                  caretWidth);
        }
        y += lineHeight;
        start += length + 2;
    }
    m_paintedLastLine = line - 1;
    m_paintedFull = y >= height;
    if (!m_wrap && m_layouts.widest() > widestBefore)
        requestFlush(false); // the horizontal range grows to the widest line seen
}

// The line under a point of the viewport, with its row there in *row; -1 when there are none.
qsizetype OutputView::hitLine(const QPoint &point, QTextLine *row) const {
    const qsizetype count = m_store.count();
    if (count == 0)
        return -1;
    const qreal py = std::clamp<qreal>(point.y(), 0, viewHeight() - 1);
    const Row t = top();
    qreal y = -rowTop(t);
    for (qsizetype line = t.line;; ++line) {
        const qreal lineHeight = m_layouts.height(line);
        if (py < y + lineHeight || line + 1 >= count) {
            const QTextLayout &layout = m_layouts.layout(line);
            *row = layout.lineAt(layout.lineCount() - 1);
            for (int i = 0; i < layout.lineCount(); ++i)
                if (py < y + layout.lineAt(i).y() + layout.lineAt(i).height()) {
                    *row = layout.lineAt(i);
                    break;
                }
            return line;
        }
        y += lineHeight;
    }
}

qsizetype OutputView::positionAt(const QPoint &point) const {
    QTextLine row;
    const qsizetype line = hitLine(point, &row);
    if (line < 0)
        return 0;
    return m_store.lineStart(line) + row.xToCursor(point.x() - Margin + m_hOffset);
}

QString OutputView::linkAt(const QPoint &point) const {
    QTextLine row;
    const qsizetype line = hitLine(point, &row);
    const qreal x = point.x() - Margin + m_hOffset;
    if (line < 0 || x < 0 || x >= row.naturalTextWidth() || point.y() < 0 ||
        point.y() >= viewHeight())
        return {};
    const int column = row.xToCursor(x, QTextLine::CursorOnCharacter);
    for (const IrcFormat::Link &link : m_layouts.links(line))
        if (column >= link.start && column < link.start + link.length)
            return link.url;
    return {};
}

QRect OutputView::cursorRect(qsizetype position) const {
    if (m_store.count() == 0)
        return {};
    position = clampPosition(position);
    const qsizetype line = m_store.lineAt(position);
    const Row t = top();
    if (line < t.line)
        return {};
    const qreal height = viewHeight();
    qreal y = -rowTop(t);
    for (qsizetype l = t.line; l < line; ++l) {
        y += m_layouts.height(l);
        if (y >= height)
            return {};
    }
    const QTextLayout &layout = m_layouts.layout(line);
    const int column = toInt(std::min(position - m_store.lineStart(line), layout.text().size()));
    const QTextLine row = layout.lineForTextPosition(column);
    const qreal rowY = y + row.y();
    if (rowY + row.height() <= 0 || rowY >= height)
        return {};
    const qreal x = Margin - m_hOffset + row.cursorToX(column);
    return QRect(static_cast<int>(std::floor(x)), static_cast<int>(std::floor(rowY)), 1,
                 static_cast<int>(std::ceil(row.height())));
}
