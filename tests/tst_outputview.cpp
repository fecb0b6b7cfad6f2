#include "windows/outputview/OutputView.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <memory>

namespace {

QString joined(const QStringList &lines) {
    return lines.join(QStringLiteral("\r\n"));
}

// Counts paint events reaching a widget.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

void echo(OutputView &view, const QString &line) {
    view.appendFollowing(line);
}

QStringList numbered(int count, const QString &prefix = QStringLiteral("line ")) {
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines << prefix + QString::number(i);
    return lines;
}

std::unique_ptr<OutputView> shownView(const QStringList &lines, QSize size = QSize(400, 300)) {
    auto view = std::make_unique<OutputView>();
    view->resize(size);
    for (const QString &line : lines)
        view->appendLine(line);
    view->show();
    if (!QTest::qWaitForWindowExposed(view.get()))
        qWarning("window not exposed");
    QCoreApplication::processEvents();
    return view;
}

} // namespace

class tst_OutputView : public QObject {
    Q_OBJECT
private slots:
    void init() { QGuiApplication::clipboard()->clear(); }
    void cleanup() { QVERIFY(QApplication::topLevelWidgets().isEmpty()); }

    void storesAndJoins_data();
    void storesAndJoins();
    void lengthAndRangesAgreeOverManyLines();
    void selection_data();
    void selection();
    void appendKeepsScrolledUpViewAndSelection();
    void followsEndWhileCaretAtEnd();
    void copyPutsStoredText();
    void selectAllAndClear();
    void keyboard_data();
    void keyboard();
    void mouseSelection();
    void wordWrapChangesRowsNotText();
    void displayText_data();
    void displayText();
    void breakingCharactersStayOnOneRow();
    void accessibility();
    void wheelAndRowScrolling();
    void contextMenu();
    void floodRepaintsOnce();
    void emptyHiddenAndHugeLinesAreSafe();
};

void tst_OutputView::storesAndJoins_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("one") << QStringList{QStringLiteral("hello")};
    QTest::newRow("two") << QStringList{QStringLiteral("a"), QStringLiteral("bc")};
    QTest::newRow("empty lines") << QStringList{QString(), QString(), QString()};
    QTest::newRow("non-BMP") << QStringList{QStringLiteral("a\U0001F600b"),
                                            QStringLiteral("\U00010348")};
    QTest::newRow("latin-1 and CJK")
        << QStringList{QStringLiteral("caf\u00e9 na\u00efve"), QStringLiteral("\u4f60\u597d")};
    QTest::newRow("lone surrogates")
        << QStringList{QString(QChar(0xD800)) + QStringLiteral("x") + QChar(0xDC00)};
    QTest::newRow("breaks inside a line")
        << QStringList{QStringLiteral("a\r\nb\nc\u2028d\u2029"), QStringLiteral("\x02"
                                                                                "bold\x0f")};
    QTest::newRow("NUL and DEL") << QStringList{QString(QChar(0)) + QStringLiteral("\x7f\u0085")};
    // Many pages: full pages are kept compressed and read back through a small cache.
    QStringList chat, mixed, noise;
    quint32 seed = 1;
    for (int i = 0; i < 20000; ++i) {
        chat << QStringLiteral("<n%1> the quick brown fox jumps over the lazy dog %2")
                    .arg(i % 97)
                    .arg(i);
        mixed << QStringLiteral("caf\u00e9 \u4f60\u597d \U0001F600 %1 ").arg(i) + QChar(0xD800);
        if (i < 3000) {
            QString line;
            for (int c = 0; c < 80; ++c) {
                seed = seed * 1103515245 + 12345;
                line += QChar(char16_t(0x21 + (seed >> 16) % 94));
            }
            noise << line;
        }
    }
    QTest::newRow("compressed pages, chat") << chat;
    QTest::newRow("compressed pages, UTF-8 and a lone surrogate") << mixed;
    QTest::newRow("pages that do not compress") << noise;
}

void tst_OutputView::storesAndJoins() {
    QFETCH(QStringList, lines);
    OutputView view;
    for (const QString &line : lines)
        view.appendLine(line);
    QCOMPARE(view.lineCount(), lines.size());
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(view.line(i), lines.at(i));
    // Back from the end, a page further at every step: cached pages give way to others.
    for (qsizetype i = lines.size() - 1; i >= 0; i -= 1009)
        QCOMPARE(view.line(i), lines.at(i));
    QCOMPARE(view.toPlainText(), joined(lines));
    QCOMPARE(view.textLength(), joined(lines).size());
}

// Long enough to spread over many storage pages: pages end by size, by line count (the run of
// empty lines) and by a line larger than a page.
void tst_OutputView::lengthAndRangesAgreeOverManyLines() {
    OutputView view;
    QStringList lines;
    const QString pieces[] = {
        QString(), QStringLiteral("plain ascii text"), QStringLiteral("\u00e9\u00e8 accents"),
        QStringLiteral("\U0001F600 emoji"), QStringLiteral("\u4f60\u597d\u4e16\u754c")};
    for (int i = 0; i < 12000; ++i) {
        QString line = i >= 3000 && i < 8000 ? QString() : pieces[i % 5] + QString::number(i);
        if (i == 9000)
            line = QString(100000, QLatin1Char('w'));
        lines << line;
        view.appendLine(line);
        if (i % 997 == 0)
            QCOMPARE(view.textLength(), joined(lines).size());
    }
    const QString all = joined(lines);
    QCOMPARE(view.textLength(), all.size());
    QCOMPARE(view.toPlainText(), all);
    const qsizetype starts[] = {0, 1, 17, 5000, 22222, 40000, all.size() - 100001, all.size() - 3};
    for (qsizetype start : starts) {
        view.setSelection(start, 100037);
        QCOMPARE(view.selectedText(), all.mid(start, 100037));
    }
    for (qsizetype index :
         {qsizetype(0), qsizetype(2999), qsizetype(3000), qsizetype(9000), qsizetype(11999)}) {
        const qsizetype start = view.lineStartPosition(index);
        QCOMPARE(all.mid(start, lines.at(index).size()), lines.at(index));
        QCOMPARE(view.lineAtPosition(start), index);
        QCOMPARE(view.lineAtPosition(start + lines.at(index).size() + (index < 11999 ? 1 : 0)),
                 index);
    }
}

void tst_OutputView::selection_data() {
    QTest::addColumn<qsizetype>("start");
    QTest::addColumn<qsizetype>("length");
    QTest::addColumn<qsizetype>("expectedStart");
    QTest::addColumn<qsizetype>("expectedLength");
    QTest::addColumn<QString>("text");
    // Text: "abc\r\n\r\ndef" (lines "abc", "", "def")
    QTest::newRow("inside a line")
        << qsizetype(1) << qsizetype(2) << qsizetype(1) << qsizetype(2) << QStringLiteral("bc");
    QTest::newRow("across breaks") << qsizetype(2) << qsizetype(6) << qsizetype(2) << qsizetype(6)
                                   << QStringLiteral("c\r\n\r\nd");
    QTest::newRow("backwards") << qsizetype(9) << qsizetype(-4) << qsizetype(5) << qsizetype(4)
                               << QStringLiteral("\r\nde");
    QTest::newRow("half a break") << qsizetype(4) << qsizetype(2) << qsizetype(4) << qsizetype(2)
                                  << QStringLiteral("\n\r");
    QTest::newRow("clamped") << qsizetype(-5) << qsizetype(100) << qsizetype(0) << qsizetype(10)
                             << QStringLiteral("abc\r\n\r\ndef");
    QTest::newRow("caret only") << qsizetype(3) << qsizetype(0) << qsizetype(3) << qsizetype(0)
                                << QString();
}

void tst_OutputView::selection() {
    QFETCH(qsizetype, start);
    QFETCH(qsizetype, length);
    QFETCH(qsizetype, expectedStart);
    QFETCH(qsizetype, expectedLength);
    QFETCH(QString, text);
    OutputView view;
    for (const char *line : {"abc", "", "def"})
        view.appendLine(QString::fromLatin1(line));
    QSignalSpy changed(&view, &OutputView::selectionChanged);
    view.setSelection(start, length);
    QCOMPARE(view.selectionStart(), expectedStart);
    QCOMPARE(view.selectionLength(), expectedLength);
    QCOMPARE(view.selectedText(), text);
    QCOMPARE(changed.size(), 1);
}

void tst_OutputView::appendKeepsScrolledUpViewAndSelection() {
    auto view = shownView(numbered(1000));
    view->scrollToEnd();
    QCoreApplication::processEvents();
    QVERIFY(view->isAtEnd());
    view->verticalScrollBar()->setValue(400); // the user drags the bar up
    view->setSelection(view->lineStartPosition(405), 4);
    QCOMPARE(view->firstVisibleLine(), 400);
    for (const QString &line : numbered(500, QStringLiteral("new ")))
        echo(*view, line);
    QCoreApplication::processEvents();
    QCOMPARE(view->firstVisibleLine(), 400);
    QCOMPARE(view->selectionStart(), view->lineStartPosition(405));
    QCOMPARE(view->selectedText(), QStringLiteral("line"));
    QVERIFY(!view->isAtEnd());
    QCOMPARE(view->verticalScrollBar()->value(), 400);

    // Scrolled up with the caret still at the end: the caller follows; without it the view stays.
    view->setSelection(view->textLength(), 0);
    view->appendLine(QStringLiteral("quiet"));
    QCoreApplication::processEvents();
    QCOMPARE(view->firstVisibleLine(), 400);
}

void tst_OutputView::followsEndWhileCaretAtEnd() {
    auto view = shownView({});
    for (const QString &line : numbered(300))
        echo(*view, line);
    QCoreApplication::processEvents();
    QVERIFY(view->isAtEnd());
    QVERIFY(view->firstVisibleLine() > 250);
    QCOMPARE(view->selectionStart(), view->textLength());
    QCOMPARE(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
    QVERIFY(!view->cursorRect(view->textLength()).isEmpty());

    // A line appended without following leaves the last line below the view.
    view->appendLine(QStringLiteral("unfollowed"));
    QCoreApplication::processEvents();
    QVERIFY(!view->isAtEnd());
    view->scrollToEnd();
    QVERIFY(view->isAtEnd());
}

void tst_OutputView::copyPutsStoredText() {
    OutputView view;
    view.appendLine(QStringLiteral("one\ttab \x03"
                                   "4colour"));
    view.appendLine(QStringLiteral("two\u2028sep"));
    view.setSelection(4, view.textLength() - 4);
    view.copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("tab \x03"
                                                                  "4colour\r\ntwo\u2028sep"));
}

void tst_OutputView::selectAllAndClear() {
    OutputView view;
    view.appendLine(QStringLiteral("x"));
    view.appendLine(QStringLiteral("yz"));
    view.selectAll();
    QCOMPARE(view.selectedText(), QStringLiteral("x\r\nyz"));
    view.clear();
    QCOMPARE(view.lineCount(), 0);
    QCOMPARE(view.textLength(), 0);
    QCOMPARE(view.selectionStart(), 0);
    QCOMPARE(view.selectionLength(), 0);
    QVERIFY(view.toPlainText().isEmpty());
}

void tst_OutputView::keyboard_data() {
    // Text: "hello world\r\nsecond\r\nlast" ; caret starts at position `from`.
    QTest::addColumn<qsizetype>("from");
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<qsizetype>("start");
    QTest::addColumn<qsizetype>("length");
    const qsizetype end = 25;
    QTest::newRow("Ctrl+End") << qsizetype(0) << QKeySequence(Qt::CTRL | Qt::Key_End) << end
                              << qsizetype(0);
    QTest::newRow("Ctrl+Home") << end << QKeySequence(Qt::CTRL | Qt::Key_Home) << qsizetype(0)
                               << qsizetype(0);
    QTest::newRow("Shift+Right x3")
        << qsizetype(0)
        << QKeySequence(Qt::SHIFT | Qt::Key_Right, Qt::SHIFT | Qt::Key_Right,
                        Qt::SHIFT | Qt::Key_Right)
        << qsizetype(0) << qsizetype(3);
    QTest::newRow("Right over a break")
        << qsizetype(11) << QKeySequence(Qt::Key_Right) << qsizetype(13) << qsizetype(0);
    QTest::newRow("Left over a break")
        << qsizetype(13) << QKeySequence(Qt::Key_Left) << qsizetype(11) << qsizetype(0);
    QTest::newRow("Shift+End") << qsizetype(2) << QKeySequence(Qt::SHIFT | Qt::Key_End)
                               << qsizetype(2) << qsizetype(9);
    QTest::newRow("Home") << qsizetype(16) << QKeySequence(Qt::Key_Home) << qsizetype(13)
                          << qsizetype(0);
    QTest::newRow("Down keeps column")
        << qsizetype(3) << QKeySequence(Qt::Key_Down) << qsizetype(16) << qsizetype(0);
    QTest::newRow("Shift+Up") << qsizetype(23) << QKeySequence(Qt::SHIFT | Qt::Key_Up)
                              << qsizetype(15) << qsizetype(8);
    QTest::newRow("Ctrl+Shift+End")
        << qsizetype(19) << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_End) << qsizetype(19)
        << qsizetype(6);
    QTest::newRow("Ctrl+A") << qsizetype(5) << QKeySequence(Qt::CTRL | Qt::Key_A) << qsizetype(0)
                            << end;
    QTest::newRow("Ctrl+Right") << qsizetype(0) << QKeySequence(Qt::CTRL | Qt::Key_Right)
                                << qsizetype(6) << qsizetype(0);
    QTest::newRow("PageDown") << qsizetype(0) << QKeySequence(Qt::Key_PageDown) << qsizetype(21)
                              << qsizetype(0);
}

void tst_OutputView::keyboard() {
    QFETCH(qsizetype, from);
    QFETCH(QKeySequence, keys);
    QFETCH(qsizetype, start);
    QFETCH(qsizetype, length);
    auto view = shownView(
        {QStringLiteral("hello world"), QStringLiteral("second"), QStringLiteral("last")});
    view->setSelection(from, 0);
    for (int i = 0; i < keys.count(); ++i)
        QTest::keyClick(view.get(), keys[i].key(), keys[i].keyboardModifiers());
    QCOMPARE(view->selectionStart(), start);
    QCOMPARE(view->selectionLength(), length);
}

void tst_OutputView::mouseSelection() {
    auto view = shownView({QStringLiteral("alpha beta gamma"), QStringLiteral("delta"),
                           QStringLiteral("epsilon zeta")});
    QWidget *viewport = view->viewport();
    const auto at = [&](qsizetype position) {
        const QRect r = view->cursorRect(position);
        return QPoint(r.x() + 1, r.center().y());
    };
    const qsizetype third = view->lineStartPosition(2);

    QTest::mousePress(viewport, Qt::LeftButton, {}, at(2));
    QTest::mouseMove(viewport, at(third + 4));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, at(third + 4));
    QCOMPARE(view->selectionStart(), 2);
    QCOMPARE(view->selectedText(), QStringLiteral("pha beta gamma\r\ndelta\r\nepsi"));
    QVERIFY(view->hasFocus());

    QTest::mouseClick(viewport, Qt::LeftButton, Qt::ShiftModifier, at(8));
    QCOMPARE(view->selectedText(), QStringLiteral("pha be"));

    QTest::mouseDClick(viewport, Qt::LeftButton, {}, at(third + 10));
    QCOMPARE(view->selectedText(), QStringLiteral("zeta"));
    // A third click on the same spot takes the whole line.
    QTest::mouseClick(viewport, Qt::LeftButton, {}, at(third + 10));
    QCOMPARE(view->selectedText(), QStringLiteral("epsilon zeta"));
}

void tst_OutputView::wordWrapChangesRowsNotText() {
    const QString longLine = QStringLiteral("word ").repeated(60) +
                             QString(300, QLatin1Char('x')); // a long blank-free tail
    auto view = shownView({QStringLiteral("short"), longLine}, QSize(300, 200));
    QVERIFY(view->wordWrap());
    QCOMPARE(view->rowCount(0), 1);
    const int wrappedRows = view->rowCount(1);
    QVERIFY2(wrappedRows > 5, qPrintable(QString::number(wrappedRows)));
    view->resize(600, 200);
    QCoreApplication::processEvents();
    QVERIFY(view->rowCount(1) < wrappedRows);
    view->setWordWrap(false);
    QCOMPARE(view->rowCount(1), 1);
    QVERIFY(view->horizontalScrollBar()->maximum() > 0);
    QCOMPARE(view->line(1), longLine);
    QCOMPARE(view->lineCount(), 2);
}

void tst_OutputView::displayText_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << QStringLiteral("plain text") << QStringLiteral("plain text");
    QTest::newRow("NUL") << QString(QChar(0)) << QStringLiteral("\u2400");
    QTest::newRow("CR LF") << QStringLiteral("a\r\nb") << QStringLiteral("a\u240d\u240ab");
    QTest::newRow("TAB") << QStringLiteral("\t") << QStringLiteral("\u2409");
    QTest::newRow("IRC formatting") << QStringLiteral("\x02\x03\x0f\x16\x1d\x1f")
                                    << QStringLiteral("\u2402\u2403\u240f\u2416\u241d\u241f");
    QTest::newRow("VT FF") << QStringLiteral("\x0b\x0c") << QStringLiteral("\u240b\u240c");
    QTest::newRow("DEL") << QStringLiteral("\x7f") << QStringLiteral("\u2421");
    QTest::newRow("C1 and NEL") << QStringLiteral("\u0080\u0085\u009f")
                                << QStringLiteral("\ufffd\ufffd\ufffd");
    QTest::newRow("separators") << QStringLiteral("\u2028\u2029") << QStringLiteral("\ufffd\ufffd");
    QTest::newRow("lone surrogates")
        << QString(QChar(0xDC00)) + QChar(0xD800) << QStringLiteral("\ufffd\ufffd");
    QTest::newRow("surrogate pair") << QStringLiteral("\U0001F600") << QStringLiteral("\U0001F600");
    QTest::newRow("accents and CJK")
        << QStringLiteral("\u00e9\u4f60") << QStringLiteral("\u00e9\u4f60");
}

void tst_OutputView::displayText() {
    QFETCH(QString, line);
    QFETCH(QString, shown);
    QCOMPARE(OutputView::displayText(line), shown);
}

void tst_OutputView::breakingCharactersStayOnOneRow() {
    const QString line = QStringLiteral("a\nb\rc\r\nd\u2028e\u2029f\x0b"
                                        "g\x0c"
                                        "h\u0085i");
    auto view = shownView({line}, QSize(600, 200));
    QCOMPARE(view->lineCount(), 1);
    QCOMPARE(view->rowCount(0), 1);
    view->setWordWrap(false);
    QCOMPARE(view->rowCount(0), 1);
    QCOMPARE(view->line(0), line);
}

void tst_OutputView::accessibility() {
    auto view = shownView({QStringLiteral("first line"), QStringLiteral("second words here")});
    view->setAccessibleName(QStringLiteral("Output"));
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(view.get());
    QVERIFY(iface);
    QCOMPARE(iface->role(), QAccessible::EditableText);
    QVERIFY(iface->state().readOnly);
    QVERIFY(iface->state().multiLine);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Output"));
    QAccessibleTextInterface *text = iface->textInterface();
    QVERIFY(text);
    QCOMPARE(text->characterCount(), view->textLength());
    QCOMPARE(text->text(0, text->characterCount()), view->toPlainText());

    view->setSelection(19, 5);
    QCOMPARE(text->cursorPosition(), 24);
    QCOMPARE(text->selectionCount(), 1);
    int start = -1;
    int end = -1;
    text->selection(0, &start, &end);
    QCOMPARE(start, 19);
    QCOMPARE(end, 24);

    QCOMPARE(text->textAtOffset(3, QAccessible::LineBoundary, &start, &end),
             QStringLiteral("first line\r\n"));
    QCOMPARE(start, 0);
    QCOMPARE(end, 12);
    QCOMPARE(text->textAtOffset(20, QAccessible::WordBoundary, &start, &end),
             QStringLiteral("words"));
    QCOMPARE(text->textAtOffset(12, QAccessible::CharBoundary, &start, &end), QStringLiteral("s"));
    QCOMPARE(text->textAfterOffset(3, QAccessible::LineBoundary, &start, &end),
             QStringLiteral("second words here"));
    QCOMPARE(text->textBeforeOffset(14, QAccessible::LineBoundary, &start, &end),
             QStringLiteral("first line\r\n"));

    text->setCursorPosition(5);
    QCOMPARE(view->selectionStart(), 5);
    QCOMPARE(view->selectionLength(), 0);
    const QRect rect = text->characterRect(5);
    QVERIFY(rect.isValid());
    QCOMPARE(text->offsetAtPoint(rect.topLeft() + QPoint(1, rect.height() / 2)), 5);
}

void tst_OutputView::wheelAndRowScrolling() {
    auto view = shownView(numbered(200));
    QCOMPARE(view->firstVisibleLine(), 0);
    const QPoint middle = view->viewport()->rect().center();
    QWheelEvent down(middle, view->viewport()->mapToGlobal(middle), QPoint(), QPoint(0, -120),
                     Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &down);
    QCOMPARE(view->firstVisibleLine(), QApplication::wheelScrollLines());
    QCOMPARE(view->verticalScrollBar()->value(), QApplication::wheelScrollLines());
    QTest::keyClick(view.get(), Qt::Key_Up, Qt::ControlModifier);
    QCOMPARE(view->firstVisibleLine(), QApplication::wheelScrollLines() - 1);
    QCOMPARE(view->selectionStart(), 0); // scrolling leaves the caret alone

    // Following the end survives a resize that rewraps the lines.
    view->appendLine(QStringLiteral("long ").repeated(200));
    view->scrollToEnd();
    view->resize(250, 300);
    QCoreApplication::processEvents();
    QVERIFY(view->isAtEnd());
    QCOMPARE(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
}

void tst_OutputView::contextMenu() {
    auto view = shownView({QStringLiteral("one"), QStringLiteral("two")});
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            view->viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(view->viewport(), &event);
    auto *menu = view->findChild<QMenu *>();
    QVERIFY(menu);
    const QList<QAction *> actions = menu->actions();
    QCOMPARE(actions.size(), 2);
    QVERIFY(!actions.at(0)->isEnabled()); // Copy, with nothing selected
    QVERIFY(actions.at(1)->isEnabled());
    actions.at(1)->trigger(); // Select All
    QCOMPARE(view->selectedText(), QStringLiteral("one\r\ntwo"));
    menu->close();
}

void tst_OutputView::floodRepaintsOnce() {
    auto view = shownView(numbered(10));
    view->setSelection(view->textLength(), 0);
    QTest::qWait(20);
    PaintCounter counter;
    view->viewport()->installEventFilter(&counter);
    for (int i = 0; i < 100000; ++i)
        echo(*view, QStringLiteral("flood line %1 with some more text to make it longer").arg(i));
    QCOMPARE(counter.paints, 0); // nothing painted inside the turn
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
        QTest::qWait(10);
    }
    QVERIFY2(counter.paints >= 1 && counter.paints <= 3,
             qPrintable(QString::number(counter.paints)));
    QVERIFY(view->isAtEnd());
    QCOMPARE(view->lineCount(), 100010);
    view->viewport()->removeEventFilter(&counter);
}

void tst_OutputView::emptyHiddenAndHugeLinesAreSafe() {
    OutputView hidden;
    QCOMPARE(hidden.toPlainText(), QString());
    QVERIFY(hidden.isAtEnd());
    QCOMPARE(hidden.positionAt(QPoint(10, 10)), 0);
    QVERIFY(hidden.cursorRect(0).isEmpty());
    for (auto key : {Qt::Key_End, Qt::Key_Down, Qt::Key_PageUp, Qt::Key_Right, Qt::Key_Home})
        QTest::keyClick(&hidden, key, Qt::ShiftModifier);
    hidden.copy();
    hidden.scrollToEnd();
    QVERIFY(!hidden.grab().isNull());
    QAccessibleTextInterface *text =
        QAccessible::queryAccessibleInterface(&hidden)->textInterface();
    int start = 0;
    int end = 0;
    QCOMPARE(text->textAtOffset(0, QAccessible::LineBoundary, &start, &end), QString());

    const QString huge = QStringLiteral("start ") + QString(100000, QLatin1Char('z'));
    hidden.appendLine(huge);
    hidden.appendLine(QStringLiteral("after"));
    QVERIFY(hidden.rowCount(0) > 10);
    QTest::keyClick(&hidden, Qt::Key_End, Qt::ControlModifier);
    QVERIFY(hidden.isAtEnd());
    QTest::keyClick(&hidden, Qt::Key_PageUp);
    QVERIFY(hidden.firstVisibleLine() == 0);
    QVERIFY(!hidden.grab().isNull());
    hidden.setWordWrap(false);
    QVERIFY(!hidden.grab().isNull());
    QCOMPARE(hidden.line(0), huge);
}

QTEST_MAIN(tst_OutputView)
#include "tst_outputview.moc"
