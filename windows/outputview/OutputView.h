#pragma once

#include "windows/outputview/AccessibleText.h"
#include "windows/outputview/LineStore.h"
#include "windows/outputview/OutputViewLayouts.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QElapsedTimer>
#include <QPoint>
#include <QPointer>
#include <QTimer>

// The read-only output box of a window: lines of text shown top to bottom, selectable and
// copyable, built to hold a million lines. Appending costs time proportional to the line;
// painting, scrolling and resizing cost time proportional to what is visible.
//
// The vertical scroll bar counts stored lines, not pixels (its value is the first visible line),
// so that nothing ever has to lay out every line. Positions are those of toPlainText(): the lines
// joined by CR LF, each break counting as 2.
//
// Control characters, DEL, C1 controls, U+2028/U+2029 and lone surrogates inside a line are drawn
// as visible symbols (see IrcFormat); IRC formatting codes are drawn as the styles they set and
// take no room (see IrcFormat); http, https, irc and www links open with a click. The stored text
// keeps every line as it came. Copy and screen readers get what is drawn, not what is stored.
class OutputFindBar;

class OutputView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit OutputView(QWidget *parent = nullptr);
    ~OutputView() override;

    // Appends one line at the end. Cost proportional to the line; repaints are coalesced
    // (many appends in one event-loop turn -> one repaint). Does NOT move the selection or scroll.
    void appendLine(const QString &line);
    // Appends a line the way a chat window shows new output: the view follows the new line only
    // when the caret was at the end; otherwise the user's selection and place stay.
    void appendFollowing(const QString &line);
    qsizetype lineCount() const;
    QString line(qsizetype index) const;
    QString toPlainText() const;
    qsizetype textLength() const;
    void clear();

    // Selection in positions of toPlainText(); selectionStart = min(anchor, caret),
    // selectionLength = |caret - anchor|.
    qsizetype selectionStart() const;
    qsizetype selectionLength() const;
    void setSelection(qsizetype start, qsizetype length); // anchor=start, caret=start+length
    // The selection as copied: the drawn text without formatting codes, lines ended by LF.
    QString selectedText() const;
    QString copyText(qsizetype start, qsizetype length) const;
    // What a screen reader gets: the text a sighted user reads, with its own offsets.
    const AccessibleText &accessibleText() const { return m_accessibleText; }
    void scrollToEnd(); // show the last line at the bottom
    // The caret to the end, and the view with it: new lines are followed from now on.
    void followEnd();
    // A page up (direction -1) or down (+1), the caret at the top of the page: the view stays
    // there as lines come in. A page that reaches the bottom puts the caret at the end, following
    // again.
    void scrollPage(int direction);
    bool isAtEnd() const;      // the last line is visible at the bottom
    void setWordWrap(bool on); // default on
    bool wordWrap() const;

    // toPlainText().mid(start, length), read without building the whole text.
    QString textRange(qsizetype start, qsizetype length) const;
    // The line holding a position (its CR LF counts with it) and where a line starts.
    qsizetype lineAtPosition(qsizetype position) const { return m_store.lineAt(position); }
    qsizetype lineStartPosition(qsizetype index) const { return m_store.lineStart(index); }
    qsizetype caretPosition() const { return m_caret; }
    // Bytes held by the stored lines.
    qsizetype storedBytes() const { return m_store.memoryUsed(); }
    // The most stored text (compressed size) kept before the oldest lines are dropped, a page at
    // a time; the first line then says how many went. See LineStore.
    void setStoreBudget(qsizetype bytes);
    qsizetype firstVisibleLine() const;
    // Visual rows of the line at the current width.
    int rowCount(qsizetype index) const;
    // The caret rectangle at position in viewport coordinates; empty when not on screen.
    QRect cursorRect(qsizetype position) const;
    // The position nearest to a point of the viewport.
    qsizetype positionAt(const QPoint &point) const;
    // Makes the row holding position visible, scrolling as little as possible.
    void ensureVisible(qsizetype position);
    // The link under a point of the viewport; empty when none.
    QString linkAt(const QPoint &point) const;

    // Draws the last line appended as one that names the user.
    void markLastLineAsMention();
    bool isMention(qsizetype line) const;

    // Selects the next (or previous) match of needle after (before) the selection, without
    // regard to letter case, wrapping around once, and scrolls it into view. False when the
    // text holds none. A screen reader is told the whole line found, or "not found".
    bool find(const QString &needle, bool backward = false);
    // Shows the find field over the output and gives it the focus.
    void openFind();
    // The find field is closed: the caret goes back where it was before the find (at the end,
    // following, when it was there).
    void closeFind();
    // Printable keys pressed in the box go to this widget (a window's input box) with the focus.
    void setTypingTarget(QWidget *target);
    QWidget *typingTarget() const { return m_typingTarget; }

public slots:
    void copy();
    void selectAll();

signals:
    void selectionChanged();
    // A line for the user about something the box could not do (a link nothing opens).
    void report(const QString &line);
    // A text for a screen reader to say at once: what a find found.
    void announce(const QString &text);

protected:
    bool event(QEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    // A visual row: row `row` of stored line `line`.
    struct Row {
        qsizetype line = 0;
        int row = 0;
        bool operator<(const Row &o) const {
            return line < o.line || (line == o.line && row < o.row);
        }
        bool operator==(const Row &o) const { return line == o.line && row == o.row; }
    };
    enum class Unit { Char, Word, Line };

    // Where the view is pinned: at a top row, or with the last row of a line at the bottom (the
    // end of the text, or where the end was when the view last followed it).
    Row top() const;
    Row endTop() const;
    Row topForBottom(Row bottom) const;
    Row moveRows(Row from, qsizetype delta) const;
    qreal rowTop(Row row) const;
    qreal viewHeight() const;
    void setTop(Row row);
    void scrollRows(qsizetype delta);
    void pinToEnd();

    void setCaret(qsizetype caret, bool keepAnchor);
    void setAnchorAndCaret(qsizetype anchor, qsizetype caret);
    qsizetype clampPosition(qsizetype position) const;
    Row rowOf(qsizetype position) const;
    void keepX(qsizetype position, Row from);
    qsizetype moveVertically(qsizetype position, qsizetype rows);
    qsizetype moveByMessage(qsizetype position, qsizetype messages);
    qsizetype moveInLine(qsizetype position, int direction, QTextLayout::CursorMode mode) const;
    qsizetype unitStart(qsizetype position, Unit unit) const;
    qsizetype unitEnd(qsizetype position, Unit unit) const;
    void extendDragTo(qsizetype position);
    // A left press starts a drag: returns false (event ignored) for other buttons.
    bool beginDrag(QMouseEvent *event, qsizetype &position);
    // Selects the whole word or line at position and drags by that unit from then on.
    void selectUnit(qsizetype position, Unit unit);
    bool handleKey(QKeyEvent *event);
    qsizetype pageRows() const;
    static bool isOwnKey(const QKeyEvent *event);

    struct Match {
        qsizetype start = -1;
        qsizetype end = -1;
    };
    // The first match starting at or after from, or the last ending at or before it.
    Match search(const QString &needle, qsizetype from, bool backward) const;
    qsizetype hitLine(const QPoint &point, QTextLine *row) const;

    void followDrop(const LineStore::Shift &shift);
    void requestFlush(bool repaint);
    void flush();
    void updateScrollBars();
    void syncLayoutSettings();
    void notifyAccessibility();

    LineStore m_store;
    std::vector<qsizetype> m_mentions; // sorted
    mutable OutputViewLayouts m_layouts;
    QPointer<OutputFindBar> m_findBar; // beside the box, not in it (see OutputFindBar)
    qsizetype m_anchor = 0;
    qsizetype m_caret = 0;
    qreal m_desiredX = -1; // x the caret keeps while moving up and down

    bool m_pinnedBottom = false;
    Row m_top;                   // when pinned to a top row
    qsizetype m_bottomLine = -1; // when pinned at the bottom
    int m_hOffset = 0;
    bool m_syncingBars = false;
    int m_wheelRemainder = 0;

    bool m_flushPending = false;
    bool m_repaintPending = false;
    static constexpr qint64 MinRepaintMs = 15;
    QElapsedTimer m_lastRepaint;
    QTimer m_repaintTimer;
    bool m_wrap = true;
    // What the last paint showed, so that appends below a full screen need no repaint.
    qsizetype m_paintedLastLine = -1;
    bool m_paintedFull = false;

    // Mouse selection: the unit chosen by the click count and the unit under the first press.
    bool m_dragging = false;
    Unit m_dragUnit = Unit::Char;
    qsizetype m_dragStart = 0;
    qsizetype m_dragEnd = 0;
    QPoint m_lastMouse;
    QPoint m_pressPoint;
    bool m_pressOnLink = false; // a link opens on release; the caret stays unless it is a drag
    // The selection before the find field opened, and whether the caret was at the end.
    qsizetype m_findAnchor = 0;
    qsizetype m_findCaret = 0;
    bool m_findFromEnd = false;
    QPointer<QWidget> m_typingTarget;
    QPoint m_doubleClickPos;
    QElapsedTimer m_sinceDoubleClick;
    QBasicTimer m_autoScroll;

    AccessibleText m_accessibleText{*this};
    // Accessibility notifications pending for the next flush: the first line appended, and
    // whether the user moved the caret or the selection.
    qsizetype m_a11yInsertFrom = -1;
    bool m_a11yCaretMoved = false;
};
