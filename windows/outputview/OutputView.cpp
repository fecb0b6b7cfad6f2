#include "windows/outputview/OutputView.h"
#include "platform/EscapedErrors.h"

#include "text/IrcFormat.h"
#include "windows/ScreenReader.h"
#include "windows/outputview/OutputFindBar.h"
#include "windows/outputview/OutputViewAccessible.h"
#include "windows/outputview/OutputViewSupport.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScrollBar>
#include <QtDebug>
#include <algorithm>
#include <cstdlib>
#include <exception>

using OutputViewSupport::toInt;

OutputView::OutputView(QWidget *parent)
    : QAbstractScrollArea(parent), m_layouts(m_store, m_mentions) {
    OutputViewAccessible::install();
    m_repaintTimer.setSingleShot(true);
    connect(&m_repaintTimer, &QTimer::timeout, this, [this] { requestFlush(true); });
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    // The vertical bar stays so that the wrap width does not change when it would come and go.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setMouseTracking(true); // the pointer becomes a hand over links
    QPalette pal = palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(group, QPalette::Base, Qt::white);
        pal.setColor(group, QPalette::Text, group == QPalette::Disabled ? Qt::gray : Qt::black);
    }
    setPalette(pal);
    verticalScrollBar()->setSingleStep(1);
    syncLayoutSettings();
    updateScrollBars();
}

OutputView::~OutputView() {
    delete m_findBar.data();
}

// ---- Text ----

void OutputView::appendLine(const QString &line) {
    const qsizetype index = m_store.count();
    if (m_a11yInsertFrom < 0 && ScreenReader::listening())
        m_a11yInsertFrom = index;
    const LineStore::Shift shift = m_store.append(line);
    if (shift.lines != 0 || shift.positions != 0) {
        followDrop(shift);
        m_accessibleText.appended(m_store.count() - 1, line);
        requestFlush(true);
        return;
    }
    m_accessibleText.appended(index, line);
    // A line landing below a full screen changes only the scroll bar.
    requestFlush(!(m_paintedFull && index > m_paintedLastLine));
}

// The store dropped its oldest lines: whatever points into the text moves with the lines kept,
// and what pointed into the lines that went now points at the start, where the store says
// they went.
void OutputView::followDrop(const LineStore::Shift &shift) {
    const auto position = [&](qsizetype p) {
        return std::max<qsizetype>(p - shift.positions, 0);
    };
    const auto line = [&](qsizetype l) {
        return std::max<qsizetype>(l - shift.lines, 0);
    };
    m_anchor = position(m_anchor);
    m_caret = position(m_caret);
    m_dragStart = position(m_dragStart);
    m_dragEnd = position(m_dragEnd);
    if (m_a11yInsertFrom >= 0)
        m_a11yInsertFrom = line(m_a11yInsertFrom);
    m_accessibleText.dropped(shift.lines);
    // Line 0 is the store's note of the drop, never a mention.
    m_mentions.erase(m_mentions.begin(),
                     std::upper_bound(m_mentions.begin(), m_mentions.end(), shift.lines));
    for (qsizetype &mention : m_mentions)
        mention -= shift.lines;
    m_top = m_top.line - shift.lines > 0 ? Row{m_top.line - shift.lines, m_top.row} : Row{};
    if (m_bottomLine >= 0)
        m_bottomLine = line(m_bottomLine);
    m_paintedLastLine = -1;
    m_paintedFull = false;
    m_layouts.clear();
}

void OutputView::appendFollowing(const QString &line) {
    const bool caretAtEnd = selectionStart() == textLength() && selectionLength() == 0;
    appendLine(line);
    if (caretAtEnd)
        followEnd();
}

void OutputView::followEnd() {
    const bool userMoved = m_a11yCaretMoved;
    setSelection(textLength(), 0);
    scrollToEnd();
    m_a11yCaretMoved = userMoved; // following the end is not the user's move
}

qsizetype OutputView::lineCount() const {
    return m_store.count();
}

QString OutputView::line(qsizetype index) const {
    return m_store.line(index);
}

QString OutputView::toPlainText() const {
    return m_store.text(0, m_store.textLength());
}

qsizetype OutputView::textLength() const {
    return m_store.textLength();
}

QString OutputView::textRange(qsizetype start, qsizetype length) const {
    return m_store.text(start, length);
}

QString OutputView::copyText(qsizetype start, qsizetype length) const {
    start = clampPosition(start);
    const qsizetype end = clampPosition(start + length);
    QString out;
    if (end <= start)
        return out;
    for (qsizetype line = m_store.lineAt(start); line >= 0 && line < m_store.count(); ++line) {
        const qsizetype lineStart = m_store.lineStart(line);
        if (lineStart >= end)
            break;
        const qsizetype lineLength = m_store.lineLength(line);
        const qsizetype from = std::max<qsizetype>(start - lineStart, 0);
        const qsizetype to = std::min(end - lineStart, lineLength);
        if (from < to) {
            const QString stored = m_store.line(line);
            out +=
                IrcFormat::plain(QStringView(IrcFormat::parse(stored).text).mid(from, to - from));
        }
        if (end > lineStart + lineLength && line + 1 < m_store.count())
            out += QLatin1Char('\n'); // the line break, or part of it, is selected
    }
    return out;
}

void OutputView::markLastLineAsMention() {
    const qsizetype line = m_store.count() - 1;
    if (line < 0 || (!m_mentions.empty() && m_mentions.back() >= line))
        return;
    m_mentions.push_back(line);
    requestFlush(true);
}

void OutputView::setStoreBudget(qsizetype bytes) {
    m_store.setBudget(bytes);
}

bool OutputView::isMention(qsizetype line) const {
    return std::binary_search(m_mentions.begin(), m_mentions.end(), line);
}

void OutputView::clear() {
    m_store.clear();
    m_mentions.clear();
    m_layouts.clear();
    m_pinnedBottom = false;
    m_top = {};
    m_hOffset = 0;
    m_desiredX = -1;
    m_a11yInsertFrom = -1;
    m_accessibleText.clear();
    m_paintedLastLine = -1;
    m_paintedFull = false;
    setAnchorAndCaret(0, 0);
    updateScrollBars();
    viewport()->update();
    if (ScreenReader::listening()) {
        // The text that went is not handed over: it may be hundreds of megabytes.
        QAccessibleTextUpdateEvent event(this, 0, QString(), QString());
        QAccessible::updateAccessibility(&event);
    }
}

// ---- Selection ----

qsizetype OutputView::selectionStart() const {
    return std::min(m_anchor, m_caret);
}

qsizetype OutputView::selectionLength() const {
    return std::abs(m_caret - m_anchor);
}

void OutputView::setSelection(qsizetype start, qsizetype length) {
    m_desiredX = -1;
    const qsizetype anchor = clampPosition(start);
    const qsizetype caret = clampPosition(start + length);
    if (anchor == m_anchor && caret == m_caret)
        return;
    m_anchor = anchor;
    m_caret = caret;
    m_a11yCaretMoved = true;
    requestFlush(true);
    emit selectionChanged();
}

QString OutputView::selectedText() const {
    return copyText(selectionStart(), selectionLength());
}

void OutputView::copy() {
    if (selectionLength() > 0)
        QGuiApplication::clipboard()->setText(selectedText());
}

void OutputView::selectAll() {
    setAnchorAndCaret(0, m_store.textLength());
}

qsizetype OutputView::clampPosition(qsizetype position) const {
    return std::clamp<qsizetype>(position, 0, m_store.textLength());
}

void OutputView::setAnchorAndCaret(qsizetype anchor, qsizetype caret) {
    anchor = clampPosition(anchor);
    caret = clampPosition(caret);
    const bool changed = anchor != m_anchor || caret != m_caret;
    m_anchor = anchor;
    m_caret = caret;
    requestFlush(true);
    if (changed) {
        m_a11yCaretMoved = true;
        requestFlush(false);
        emit selectionChanged();
    }
}

void OutputView::setCaret(qsizetype caret, bool keepAnchor) {
    setAnchorAndCaret(keepAnchor ? m_anchor : caret, caret);
    ensureVisible(m_caret);
}

// ---- Deferred work ----

void OutputView::requestFlush(bool repaint) {
    m_repaintPending = m_repaintPending || repaint;
    if (m_flushPending)
        return;
    m_flushPending = true;
    QMetaObject::invokeMethod(this, &OutputView::flush, Qt::QueuedConnection);
}

// Runs once per event-loop turn after appends or selection changes: one scroll bar update, one
// repaint and one round of accessibility notifications, however many lines came in. Under a
// flood the turns come faster than a screen refreshes: repaints then wait for the next frame,
// at most one every MinRepaintMs.
void OutputView::flush() {
    m_flushPending = false;
    updateScrollBars();
    if (m_repaintPending) {
        const qint64 since = m_lastRepaint.isValid() ? m_lastRepaint.elapsed() : MinRepaintMs;
        if (since >= MinRepaintMs) {
            m_repaintPending = false;
            viewport()->update();
            m_lastRepaint.start();
        } else if (!m_repaintTimer.isActive()) {
            m_repaintTimer.start(int(MinRepaintMs - since));
        }
    }
    notifyAccessibility();
}

void OutputView::notifyAccessibility() {
    const qsizetype insertFrom = m_a11yInsertFrom;
    m_a11yInsertFrom = -1;
    const bool caretMoved = m_a11yCaretMoved;
    m_a11yCaretMoved = false;
    // Nothing listens unless a screen reader bridge is on; then skip building the text.
    if (!ScreenReader::listening())
        return;
    if (insertFrom >= 0 && insertFrom < m_store.count()) {
        const qsizetype from = m_accessibleText.lineStart(insertFrom);
        QAccessibleTextInsertEvent event(this, toInt(from),
                                         m_accessibleText.text(from, m_accessibleText.length()));
        QAccessible::updateAccessibility(&event);
    }
    if (caretMoved) {
        // The caret event lets a screen reader read the line, word or character reached.
        const int caret = toInt(m_accessibleText.offsetOf(m_caret));
        QAccessibleTextCursorEvent moved(this, caret);
        QAccessible::updateAccessibility(&moved);
        QAccessibleTextSelectionEvent selection(
            this, toInt(m_accessibleText.offsetOf(selectionStart())),
            toInt(m_accessibleText.offsetOf(selectionStart() + selectionLength(), true)));
        selection.setCursorPosition(caret);
        QAccessible::updateAccessibility(&selection);
    }
}

// ---- Events ----

bool OutputView::event(QEvent *event) {
    bool handled = true;
    Guarded([&] {
        // Keys the box handles itself win over window shortcuts while it has focus.
        if (event->type() == QEvent::ShortcutOverride && isOwnKey(static_cast<QKeyEvent *>(event)))
            event->accept();
        else
            handled = QAbstractScrollArea::event(event);
    });
    return handled;
}

bool OutputView::viewportEvent(QEvent *event) {
    bool handled = true;
    Guarded([&] { handled = QAbstractScrollArea::viewportEvent(event); });
    return handled;
}

void OutputView::resizeEvent(QResizeEvent *event) {
    QAbstractScrollArea::resizeEvent(event);
    syncLayoutSettings();
    if (m_findBar)
        m_findBar->place();
    if (!m_pinnedBottom && m_store.count() > 0 && !(top() < endTop()))
        pinToEnd(); // a wider view leaves no blank space below the last line
    updateScrollBars();
}

void OutputView::changeEvent(QEvent *event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        syncLayoutSettings();
        updateScrollBars();
    }
    viewport()->update();
}

void OutputView::focusInEvent(QFocusEvent *event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void OutputView::focusOutEvent(QFocusEvent *event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}
