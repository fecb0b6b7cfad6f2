#include "windows/outputview/OutputViewAccessible.h"

#include "windows/outputview/AccessibleText.h"
#include "windows/outputview/OutputView.h"
#include "windows/outputview/OutputViewSupport.h"

#include <QFontMetrics>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <climits>

using OutputViewSupport::toInt;

namespace {

QAccessibleInterface *outputViewFactory(const QString &className, QObject *object) {
    if (className == QLatin1String("OutputView"))
        if (auto *view = qobject_cast<OutputView *>(object))
            return new OutputViewAccessible(view);
    return nullptr;
}

// The segment of text holding column for a word or sentence finder; [start, end) in columns.
void segmentAt(QTextBoundaryFinder::BoundaryType type, const QString &text, qsizetype column,
               qsizetype *start, qsizetype *end) {
    QTextBoundaryFinder finder(type, text);
    finder.setPosition(column);
    if (!finder.isAtBoundary())
        finder.toPreviousBoundary();
    *start = std::max<qsizetype>(finder.position(), 0);
    finder.setPosition(column);
    const qsizetype next = finder.toNextBoundary();
    *end = next < 0 ? text.size() : next;
}

} // namespace

OutputViewAccessible::OutputViewAccessible(OutputView *view)
    : QAccessibleWidget(view, QAccessible::EditableText) {}

void OutputViewAccessible::install() {
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QAccessible::installFactory(outputViewFactory);
}

OutputView *OutputViewAccessible::view() const {
    return static_cast<OutputView *>(widget());
}

const AccessibleText &OutputViewAccessible::read() const {
    return view()->accessibleText();
}

void *OutputViewAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State OutputViewAccessible::state() const {
    QAccessible::State st = QAccessibleWidget::state();
    st.readOnly = true;
    st.multiLine = true;
    st.selectableText = true;
    st.editable = false;
    return st;
}

QString OutputViewAccessible::text(QAccessible::Text type) const {
    if (type == QAccessible::Value)
        return read().text(0, read().length());
    return QAccessibleWidget::text(type);
}

void OutputViewAccessible::selection(int selectionIndex, int *startOffset, int *endOffset) const {
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || view()->selectionLength() == 0)
        return;
    *startOffset = toInt(read().offsetOf(view()->selectionStart()));
    *endOffset = toInt(read().offsetOf(view()->selectionStart() + view()->selectionLength(), true));
}

int OutputViewAccessible::selectionCount() const {
    return view()->selectionLength() > 0 ? 1 : 0;
}

void OutputViewAccessible::addSelection(int startOffset, int endOffset) {
    setSelection(0, startOffset, endOffset);
}

void OutputViewAccessible::removeSelection(int selectionIndex) {
    if (selectionIndex == 0)
        view()->setSelection(view()->caretPosition(), 0);
}

void OutputViewAccessible::setSelection(int selectionIndex, int startOffset, int endOffset) {
    if (selectionIndex != 0)
        return;
    const qsizetype anchor = read().positionOf(startOffset);
    view()->setSelection(anchor, read().positionOf(endOffset) - anchor);
}

int OutputViewAccessible::cursorPosition() const {
    return toInt(read().offsetOf(view()->caretPosition()));
}

void OutputViewAccessible::setCursorPosition(int position) {
    const qsizetype at = read().positionOf(position);
    view()->setSelection(at, 0);
    view()->ensureVisible(at);
}

QString OutputViewAccessible::text(int startOffset, int endOffset) const {
    return read().text(startOffset, endOffset < 0 ? read().length() : endOffset);
}

int OutputViewAccessible::characterCount() const {
    return toInt(read().length());
}

QString OutputViewAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                           int *startOffset, int *endOffset) const {
    const AccessibleText &t = read();
    const qsizetype length = t.length();
    *startOffset = *endOffset = -1;
    if (length == 0 || offset < 0 || offset > length)
        return {};
    if (boundaryType == QAccessible::NoBoundary) {
        *startOffset = 0;
        *endOffset = toInt(length);
        return t.text(0, length);
    }
    if (offset == length)
        --offset; // the last character
    const qsizetype line = t.lineAt(offset);
    const qsizetype lineStart = t.lineStart(line);
    const QString text = t.lineText(line);
    const qsizetype column = offset - lineStart;
    qsizetype start = 0;
    qsizetype end = 0;
    if (boundaryType == QAccessible::LineBoundary ||
        boundaryType == QAccessible::ParagraphBoundary) {
        end = text.size() + 1;
    } else if (column >= text.size()) {
        start = text.size(); // the LF
        end = start + 1;
    } else {
        const auto type = boundaryType == QAccessible::CharBoundary ? QTextBoundaryFinder::Grapheme
                          : boundaryType == QAccessible::WordBoundary
                              ? QTextBoundaryFinder::Word
                              : QTextBoundaryFinder::Sentence;
        segmentAt(type, text, column, &start, &end);
    }
    *startOffset = toInt(lineStart + start);
    *endOffset = toInt(lineStart + end);
    return (text + QLatin1Char('\n')).mid(start, end - start);
}

QString OutputViewAccessible::textBeforeOffset(int offset,
                                               QAccessible::TextBoundaryType boundaryType,
                                               int *startOffset, int *endOffset) const {
    int atStart = -1;
    int atEnd = -1;
    textAtOffset(offset, boundaryType, &atStart, &atEnd);
    if (boundaryType == QAccessible::NoBoundary || atStart <= 0) {
        *startOffset = *endOffset = -1;
        return {};
    }
    return textAtOffset(atStart - 1, boundaryType, startOffset, endOffset);
}

QString OutputViewAccessible::textAfterOffset(int offset,
                                              QAccessible::TextBoundaryType boundaryType,
                                              int *startOffset, int *endOffset) const {
    int atStart = -1;
    int atEnd = -1;
    textAtOffset(offset, boundaryType, &atStart, &atEnd);
    if (boundaryType == QAccessible::NoBoundary || atEnd < 0 || atEnd >= characterCount()) {
        *startOffset = *endOffset = -1;
        return {};
    }
    return textAtOffset(atEnd, boundaryType, startOffset, endOffset);
}

QRect OutputViewAccessible::characterRect(int offset) const {
    const OutputView *v = view();
    const QRect caret = v->cursorRect(read().positionOf(offset));
    if (caret.isEmpty())
        return {};
    const int width = std::max(1, QFontMetrics(v->font()).averageCharWidth());
    return QRect(v->viewport()->mapToGlobal(caret.topLeft()), QSize(width, caret.height()));
}

int OutputViewAccessible::offsetAtPoint(const QPoint &point) const {
    const OutputView *v = view();
    const QPoint local = v->viewport()->mapFromGlobal(point);
    if (!v->viewport()->rect().contains(local))
        return -1;
    return toInt(read().offsetOf(v->positionAt(local)));
}

void OutputViewAccessible::scrollToSubstring(int startIndex, int endIndex) {
    view()->ensureVisible(read().positionOf(endIndex));
    view()->ensureVisible(read().positionOf(startIndex));
}

QString OutputViewAccessible::attributes(int offset, int *startOffset, int *endOffset) const {
    Q_UNUSED(offset);
    // One run of plain text without attributes.
    *startOffset = 0;
    *endOffset = characterCount();
    return {};
}
