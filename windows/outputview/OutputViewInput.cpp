// Keyboard, mouse, wheel and context menu handling of the output box.
#include "platform/EscapedErrors.h"
#include "windows/outputview/OutputView.h"
#include "windows/outputview/OutputViewSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <QTextLine>
#include <QTimerEvent>
#include <QUrl>
#include <QWheelEvent>
#include <QtDebug>
#include <algorithm>
#include <climits>
#include <exception>

using OutputViewSupport::toInt;

namespace {
constexpr int AutoScrollInterval = 50; // ms between rows while dragging past an edge

bool isCopyKey(const QKeyEvent *event) {
    return event->matches(QKeySequence::Copy) ||
           (event->key() == Qt::Key_Insert && event->modifiers() == Qt::ControlModifier);
}

enum class Move {
    None,
    NextChar,
    PreviousChar,
    NextWord,
    PreviousWord,
    NextLine,
    PreviousLine,
    StartOfLine,
    EndOfLine,
    StartOfText,
    EndOfText,
    NextPage,
    PreviousPage
};

struct MoveKey {
    QKeySequence::StandardKey move;
    QKeySequence::StandardKey select;
    Move what;
};

const MoveKey MoveKeys[] = {
    {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, Move::NextChar},
    {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar, Move::PreviousChar},
    {QKeySequence::MoveToNextWord, QKeySequence::SelectNextWord, Move::NextWord},
    {QKeySequence::MoveToPreviousWord, QKeySequence::SelectPreviousWord, Move::PreviousWord},
    {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, Move::NextLine},
    {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, Move::PreviousLine},
    {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, Move::StartOfLine},
    {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, Move::EndOfLine},
    {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument, Move::StartOfText},
    {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument, Move::EndOfText},
    {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, Move::NextPage},
    {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage, Move::PreviousPage},
};

// The movement a key asks for, and whether it extends the selection.
Move moveFor(const QKeyEvent *event, bool *select) {
    for (const MoveKey &key : MoveKeys) {
        if (event->matches(key.move)) {
            *select = false;
            return key.what;
        }
        if (event->matches(key.select)) {
            *select = true;
            return key.what;
        }
    }
    return Move::None;
}
} // namespace

// ---- Positions by unit ----

qsizetype OutputView::moveInLine(qsizetype position, int direction,
                                 QTextLayout::CursorMode mode) const {
    const qsizetype line = m_store.lineAt(position);
    if (line < 0)
        return 0;
    const qsizetype start = m_store.lineStart(line);
    const QTextLayout &layout = m_layouts.layout(line);
    const qsizetype length = layout.text().size();
    const qsizetype column = position - start;
    // A formatting code takes no room: the caret passes over it as if it were not there.
    const QString &text = layout.text();
    const auto hidden = [&text](qsizetype i) {
        return text.at(i).unicode() == IrcFormat::Hidden;
    };
    if (direction > 0) {
        if (column >= length) // over the line break
            return line + 1 < m_store.count() ? m_store.lineStart(line + 1) : start + length;
        int next = layout.nextCursorPosition(toInt(column), mode);
        while (next < length && hidden(next - 1))
            next = layout.nextCursorPosition(next, mode);
        return start + next;
    }
    if (column > length)
        return start + length;
    if (column == 0)
        return line > 0 ? start - 2 : 0;
    int previous = layout.previousCursorPosition(toInt(column), mode);
    while (previous > 0 && hidden(previous))
        previous = layout.previousCursorPosition(previous, mode);
    return start + previous;
}

// The x the caret keeps over a run of vertical moves, taken at the first of them.
void OutputView::keepX(qsizetype position, Row from) {
    if (m_desiredX >= 0)
        return;
    const QTextLayout &layout = m_layouts.layout(from.line);
    const int column =
        toInt(std::min(position - m_store.lineStart(from.line), layout.text().size()));
    m_desiredX = layout.lineAt(from.row).cursorToX(column);
}

qsizetype OutputView::moveVertically(qsizetype position, qsizetype rows) {
    if (m_store.count() == 0)
        return 0;
    const Row from = rowOf(position);
    keepX(position, from);
    const Row to = moveRows(from, rows);
    const QTextLine row = m_layouts.layout(to.line).lineAt(to.row);
    return m_store.lineStart(to.line) + row.xToCursor(m_desiredX);
}

// Up and Down go from message to message, however many rows each wraps onto, so that a screen
// reader, which reads the whole message at the caret, says each message once. The caret keeps
// its x on the first row of the message it reaches; it stays put at either end.
qsizetype OutputView::moveByMessage(qsizetype position, qsizetype messages) {
    if (m_store.count() == 0)
        return 0;
    const Row from = rowOf(position);
    const qsizetype to = std::clamp<qsizetype>(from.line + messages, 0, m_store.count() - 1);
    if (to == from.line)
        return position;
    keepX(position, from);
    return m_store.lineStart(to) + m_layouts.layout(to).lineAt(0).xToCursor(m_desiredX);
}

// Start and end of the word or line around position; for Unit::Char the position itself.
qsizetype OutputView::unitStart(qsizetype position, Unit unit) const {
    const qsizetype line = m_store.lineAt(position);
    if (unit == Unit::Char || line < 0)
        return position;
    const qsizetype start = m_store.lineStart(line);
    if (unit == Unit::Line)
        return start;
    const QString text = m_store.line(line);
    const qsizetype column = std::min(position - start, text.size());
    if (column == 0)
        return start;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, text);
    finder.setPosition(column);
    if (column == text.size() || !finder.isAtBoundary())
        finder.toPreviousBoundary();
    return start + std::max<qsizetype>(finder.position(), 0);
}

qsizetype OutputView::unitEnd(qsizetype position, Unit unit) const {
    const qsizetype line = m_store.lineAt(position);
    if (unit == Unit::Char || line < 0)
        return position;
    const qsizetype start = m_store.lineStart(line);
    const QString text = m_store.line(line);
    if (unit == Unit::Line)
        return start + text.size();
    const qsizetype column = std::min(position - start, text.size());
    if (column == text.size())
        return start + column;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, text);
    finder.setPosition(column);
    const qsizetype end = finder.toNextBoundary();
    return start + (end < 0 ? text.size() : end);
}

// Extends a mouse selection to position; word and line selections grow by whole units and keep
// the unit first clicked selected.
void OutputView::extendDragTo(qsizetype position) {
    if (m_dragUnit == Unit::Char) {
        setCaret(position, true);
        return;
    }
    if (position >= m_dragStart)
        setAnchorAndCaret(m_dragStart, std::max(m_dragEnd, unitEnd(position, m_dragUnit)));
    else
        setAnchorAndCaret(m_dragEnd, unitStart(position, m_dragUnit));
    ensureVisible(m_caret);
}

// ---- Keyboard ----

bool OutputView::isOwnKey(const QKeyEvent *event) {
    bool select = false;
    return isCopyKey(event) || event->matches(QKeySequence::SelectAll) ||
           event->matches(QKeySequence::Find) || moveFor(event, &select) != Move::None;
}

bool OutputView::handleKey(QKeyEvent *event) {
    if (isCopyKey(event)) {
        copy();
        return true;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return true;
    }
    if (event->matches(QKeySequence::Find)) {
        openFind();
        return true;
    }
    if (event->modifiers() == Qt::ControlModifier &&
        (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)) {
        scrollRows(event->key() == Qt::Key_Up ? -1 : 1); // scroll without moving the caret
        return true;
    }
    bool select = false;
    const Move move = moveFor(event, &select);
    if (move == Move::None)
        return false;
    const bool hadSelection = m_anchor != m_caret;
    const qsizetype selStart = selectionStart();
    const qsizetype selEnd = selStart + selectionLength();
    const qsizetype page = pageRows();
    qsizetype target = m_caret;
    switch (move) {
    case Move::NextChar:
        target =
            hadSelection && !select ? selEnd : moveInLine(m_caret, 1, QTextLayout::SkipCharacters);
        break;
    case Move::PreviousChar:
        target = hadSelection && !select ? selStart
                                         : moveInLine(m_caret, -1, QTextLayout::SkipCharacters);
        break;
    case Move::NextWord:
        target = moveInLine(m_caret, 1, QTextLayout::SkipWords);
        break;
    case Move::PreviousWord:
        target = moveInLine(m_caret, -1, QTextLayout::SkipWords);
        break;
    // The caret keeps its x (m_desiredX) over a run of vertical moves.
    case Move::NextLine:
    case Move::PreviousLine:
        setCaret(moveByMessage(m_caret, move == Move::NextLine ? 1 : -1), select);
        return true;
    case Move::NextPage:
    case Move::PreviousPage: {
        const qsizetype rows = move == Move::NextPage ? page : -page;
        scrollRows(rows);
        setCaret(moveVertically(m_caret, rows), select);
        return true;
    }
    case Move::StartOfLine:
    case Move::EndOfLine: {
        if (m_store.count() == 0)
            break;
        const Row r = rowOf(m_caret);
        const QTextLayout &layout = m_layouts.layout(r.line);
        const QTextLine row = layout.lineAt(r.row);
        int column = row.textStart();
        if (move == Move::EndOfLine) {
            column += row.textLength();
            // Inside a wrapped line, stop before the blank where the row breaks.
            if (r.row + 1 < layout.lineCount() && column > row.textStart() &&
                layout.text().at(column - 1).isSpace())
                --column;
        }
        target = m_store.lineStart(r.line) + column;
        break;
    }
    case Move::StartOfText:
        target = 0;
        break;
    case Move::EndOfText:
        target = m_store.textLength();
        break;
    case Move::None:
        break;
    }
    m_desiredX = -1;
    setCaret(target, select);
    return true;
}

qsizetype OutputView::pageRows() const {
    const QFontMetricsF metrics(font(), viewport());
    return std::max<qsizetype>(
        1, static_cast<qsizetype>(viewport()->height() / metrics.lineSpacing()) - 1);
}

// The caret goes with the page (to its top left) so that new lines leave the view where it is,
// until a page down reaches the bottom.
void OutputView::scrollPage(int direction) {
    scrollRows(direction * pageRows());
    if (isAtEnd()) {
        followEnd();
        return;
    }
    const qsizetype topLeft = positionAt(QPoint(0, 0));
    setAnchorAndCaret(topLeft, topLeft);
}

void OutputView::keyPressEvent(QKeyEvent *event) {
    if (handleKey(event)) {
        event->accept();
        return;
    }
    // Text typed or pasted here is meant for the window's input box: it goes there, and so does
    // the focus. Return only takes the focus there; it sends nothing.
    const QString text = event->text();
    const bool printable =
        !text.isEmpty() && text.at(0).isPrint() &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    const bool paste = event->matches(QKeySequence::Paste) ||
                       (event->key() == Qt::Key_Insert && event->modifiers() == Qt::ShiftModifier);
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && m_typingTarget) {
        m_typingTarget->setFocus(Qt::OtherFocusReason);
        event->accept();
        return;
    }
    if ((printable || paste) && m_typingTarget) {
        m_typingTarget->setFocus(Qt::OtherFocusReason);
        QKeyEvent copy(event->type(), event->key(), event->modifiers(), text, event->isAutoRepeat(),
                       ushort(event->count()));
        QCoreApplication::sendEvent(m_typingTarget, &copy);
        event->accept();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void OutputView::setTypingTarget(QWidget *target) {
    m_typingTarget = target;
}

// ---- Mouse ----

bool OutputView::beginDrag(QMouseEvent *event, qsizetype &position) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return false;
    }
    m_lastMouse = event->position().toPoint();
    position = positionAt(m_lastMouse);
    m_dragging = true;
    m_pressOnLink = false;
    return true;
}

void OutputView::selectUnit(qsizetype position, Unit unit) {
    m_dragUnit = unit;
    m_dragStart = unitStart(position, unit);
    m_dragEnd = unitEnd(position, unit);
    setAnchorAndCaret(m_dragStart, m_dragEnd);
}

void OutputView::mousePressEvent(QMouseEvent *event) {
    qsizetype position = 0;
    if (!beginDrag(event, position))
        return;
    const QPoint point = m_lastMouse;
    m_desiredX = -1;
    const bool tripleClick =
        m_sinceDoubleClick.isValid() &&
        m_sinceDoubleClick.elapsed() < QApplication::doubleClickInterval() &&
        (point - m_doubleClickPos).manhattanLength() < QApplication::startDragDistance();
    m_sinceDoubleClick.invalidate();
    if (tripleClick) {
        selectUnit(position, Unit::Line);
        return;
    }
    m_dragUnit = Unit::Char;
    m_pressPoint = point;
    // A click on a link opens it and leaves the caret (and with it the following view) alone.
    m_pressOnLink = event->modifiers() == Qt::NoModifier && !linkAt(point).isEmpty();
    if (!m_pressOnLink)
        setCaret(position, event->modifiers().testFlag(Qt::ShiftModifier));
}

void OutputView::mouseDoubleClickEvent(QMouseEvent *event) {
    qsizetype position = 0;
    if (!beginDrag(event, position))
        return;
    selectUnit(position, Unit::Word);
    m_doubleClickPos = m_lastMouse;
    m_sinceDoubleClick.start();
}

void OutputView::mouseMoveEvent(QMouseEvent *event) {
    if (!m_dragging || !(event->buttons() & Qt::LeftButton)) {
        const bool overLink = !linkAt(event->position().toPoint()).isEmpty();
        viewport()->setCursor(overLink ? Qt::PointingHandCursor : Qt::IBeamCursor);
        return;
    }
    m_lastMouse = event->position().toPoint();
    if (m_pressOnLink) { // a drag that starts on a link selects from where it started
        if ((m_lastMouse - m_pressPoint).manhattanLength() < QApplication::startDragDistance())
            return;
        m_pressOnLink = false;
        setCaret(positionAt(m_pressPoint), false);
    }
    extendDragTo(positionAt(m_lastMouse));
    const bool outside = m_lastMouse.y() < 0 || m_lastMouse.y() >= viewport()->height();
    if (outside && !m_autoScroll.isActive())
        m_autoScroll.start(AutoScrollInterval, this);
    else if (!outside)
        m_autoScroll.stop();
}

void OutputView::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton || !m_dragging)
        return;
    m_dragging = false;
    m_autoScroll.stop();
    if (m_pressOnLink) {
        m_pressOnLink = false;
        const QString url = linkAt(m_pressPoint);
        if (!url.isEmpty()) {
            // With no program for it on the desktop, the user learns here why nothing opened.
            if (!QDesktopServices::openUrl(QUrl(url)))
                emit report(tr("Could not open link: %1").arg(url));
            return;
        }
    }
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (selectionLength() > 0 && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void OutputView::timerEvent(QTimerEvent *event) {
    if (event->timerId() != m_autoScroll.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    if (!m_dragging) {
        m_autoScroll.stop();
        return;
    }
    if (m_lastMouse.y() < 0)
        scrollRows(-1);
    else if (m_lastMouse.y() >= viewport()->height())
        scrollRows(1);
    extendDragTo(positionAt(m_lastMouse));
}

void OutputView::wheelEvent(QWheelEvent *event) {
    const QPoint angle = event->angleDelta();
    if (angle.y() == 0 || event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)) {
        QAbstractScrollArea::wheelEvent(event); // sideways scrolling
        return;
    }
    // Eighths of a degree; 120 is one notch, worth wheelScrollLines rows.
    m_wheelRemainder += angle.y() * QApplication::wheelScrollLines();
    const int rows = m_wheelRemainder / 120;
    m_wheelRemainder -= rows * 120;
    scrollRows(-rows);
    event->accept();
}

void OutputView::contextMenuEvent(QContextMenuEvent *event) {
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The actions run from the menu's own event handling, outside this widget's guards.
    const auto add = [this, menu](const QString &text, QKeySequence::StandardKey key,
                                  void (OutputView::*slot)()) {
        return menu->addAction(text + QLatin1Char('\t') +
                                   QKeySequence(key).toString(QKeySequence::NativeText),
                               this, [this, slot] { Guarded([this, slot] { (this->*slot)(); }); });
    };
    const QString url =
        event->reason() == QContextMenuEvent::Mouse ? linkAt(event->pos()) : QString();
    if (!url.isEmpty()) {
        menu->addAction(tr("Copy &Link Address"), this,
                        [url] { QGuiApplication::clipboard()->setText(url); });
        menu->addSeparator();
    }
    add(tr("&Copy"), QKeySequence::Copy, &OutputView::copy)->setEnabled(selectionLength() > 0);
    add(tr("Select &All"), QKeySequence::SelectAll, &OutputView::selectAll)
        ->setEnabled(textLength() > 0);
    menu->popup(event->globalPos());
    event->accept();
}
