#include "windows/outputview/IrcFormat.h"
#include "windows/outputview/OutputView.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
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

// Takes the addresses the desktop would open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

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
    void copyPutsDrawnText();
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
    void formatting_data();
    void formatting();
    void mentions_data();
    void mentions();
    void findOverManyLines();
    void clickOpensLink();
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
        QCOMPARE(view.textRange(start, 100037), all.mid(start, 100037));
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
    // Text: "abc\r\n\r\ndef" (lines "abc", "", "def"); copied with LF line ends
    QTest::newRow("inside a line")
        << qsizetype(1) << qsizetype(2) << qsizetype(1) << qsizetype(2) << QStringLiteral("bc");
    QTest::newRow("across breaks")
        << qsizetype(2) << qsizetype(6) << qsizetype(2) << qsizetype(6) << QStringLiteral("c\n\nd");
    QTest::newRow("backwards") << qsizetype(9) << qsizetype(-4) << qsizetype(5) << qsizetype(4)
                               << QStringLiteral("\nde");
    QTest::newRow("half a break") << qsizetype(4) << qsizetype(2) << qsizetype(4) << qsizetype(2)
                                  << QStringLiteral("\n\n");
    QTest::newRow("clamped") << qsizetype(-5) << qsizetype(100) << qsizetype(0) << qsizetype(10)
                             << QStringLiteral("abc\n\ndef");
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

void tst_OutputView::copyPutsDrawnText() {
    OutputView view;
    view.appendLine(QStringLiteral("one\ttab \x03"
                                   "4colour"));
    view.appendLine(QStringLiteral("two\u2028sep"));
    view.setSelection(4, view.textLength() - 4);
    view.copy();
    // Formatting codes are left out, other controls copied as drawn, lines end in LF.
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("tab colour\ntwo\ufffdsep"));
}

void tst_OutputView::selectAllAndClear() {
    OutputView view;
    view.appendLine(QStringLiteral("x"));
    view.appendLine(QStringLiteral("yz"));
    view.selectAll();
    QCOMPARE(view.selectedText(), QStringLiteral("x\nyz"));
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
    QCOMPARE(view->selectedText(), QStringLiteral("pha beta gamma\ndelta\nepsi"));
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
    // A NUL does not cut what a screen reader gets: it reads what is drawn.
    view->appendLine(QStringLiteral("a") + QChar(0) +
                     QStringLiteral("b \x02"
                                    "c"));
    view->appendLine(QStringLiteral("after"));
    const QString all = iface->text(QAccessible::Value);
    QCOMPARE(all.size(), view->textLength());
    QVERIFY(all.endsWith(QStringLiteral("a\u2400b \u2060c\r\nafter")));
    QCOMPARE(text->text(0, text->characterCount()), all);
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
    QCOMPARE(view->selectedText(), QStringLiteral("one\ntwo"));
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

// Stored line -> the text drawn without codes, its styled runs ("start+length flags", positions
// in that text) and the links found in it.
void tst_OutputView::formatting_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("runs");
    QTest::addColumn<QString>("links");
    const auto row = [](const char *name, const char *stored, const char *plain, const char *runs,
                        const char *links = "") {
        QTest::newRow(name) << QString::fromUtf8(stored) << QString::fromUtf8(plain)
                            << QString::fromUtf8(runs) << QString::fromUtf8(links);
    };
    row("plain", "just text", "just text", "");
    row("bold on and off",
        "\x02"
        "bold\x02 x",
        "bold x", "0+4 b");
    row("italic underline strike mono", "\x1di\x1d\x1fu\x1f\x1es\x1e\x11m", "iusm",
        "0+1 i; 1+1 u; 2+1 s; 3+1 m");
    row("reverse", "\x16r\x16n", "rn", "0+1 r");
    row("reset ends all",
        "\x02\x1d\x03"
        "4ab\x0f"
        "c",
        "abc", "0+2 b i fg#ff0000");
    row("colour",
        "\x03"
        "04red\x03 x",
        "red x", "0+3 fg#ff0000");
    row("one digit",
        "\x03"
        "4r",
        "r", "0+1 fg#ff0000");
    row("fg and bg",
        "\x03"
        "09,01g",
        "g", "0+1 fg#00fc00 bg#000000");
    row("bg stays for a new fg",
        "\x03"
        "4,2a\x03"
        "5b",
        "ab", "0+1 fg#ff0000 bg#00007f; 1+1 fg#7f0000 bg#00007f");
    row("extended table",
        "\x03"
        "52x\x03"
        "88y\x03"
        "98z",
        "xyz", "0+1 fg#ff0000; 1+1 fg#000000; 2+1 fg#ffffff");
    row("99 is the default",
        "\x03"
        "4a\x03"
        "99b",
        "ab", "0+1 fg#ff0000");
    row("three digits: two are the colour",
        "\x03"
        "123",
        "3", "0+1 fg#0000fc");
    row("no fg: the comma is text",
        "\x03"
        "4a\x03,5x",
        "a,5x", "0+1 fg#ff0000");
    row("comma without bg is text",
        "\x03"
        "4,x",
        ",x", "0+2 fg#ff0000");
    row("hex",
        "\x04"
        "FF8800o\x04"
        "p",
        "op", "0+1 fg#ff8800");
    row("hex with bg",
        "\x04"
        "ff8800,000000o",
        "o", "0+1 fg#ff8800 bg#000000");
    row("short hex is text",
        "\x04"
        "FF00 x",
        "FF00 x", "");
    row("codes at the end", "a\x02\x03", "a", "");
    row("colour at the end",
        "a\x03"
        "04,",
        "a,", "1+1 fg#ff0000");
    row("other controls stay visible",
        "\x02"
        "a\x01\x07",
        "a\u2401\u2407", "0+3 b");
    row("the bot's line",
        "\x02"
        "bold\x02 \x03"
        "04red\x03 \x1ditalic\x1d \x1funder\x1f \x03"
        "09,01green on "
        "black\x0f plain https://example.org/page",
        "bold red italic under green on black plain https://example.org/page",
        "0+4 b; 5+3 fg#ff0000; 9+6 i; 16+5 u; 22+14 fg#00fc00 bg#000000",
        "https://example.org/page");
    row("link ends a sentence", "see http://a.org/x. ok", "see http://a.org/x. ok", "",
        "http://a.org/x");
    row("link in brackets", "(https://a.org/b)", "(https://a.org/b)", "", "https://a.org/b");
    row("brackets inside a link", "https://w.org/F_(b)), x", "https://w.org/F_(b)), x", "",
        "https://w.org/F_(b)");
    row("www and irc", "www.ex.com, irc://irc.x.net/#c", "www.ex.com, irc://irc.x.net/#c", "",
        "http://www.ex.com irc://irc.x.net/#c");
    row("other schemes and inside words", "ftp://a.org mailto:a@b xhttp://a.org http:// x",
        "ftp://a.org mailto:a@b xhttp://a.org http:// x", "", "");
    row("a code ends a link", "\x1fhttps://a.org\x1f/b", "https://a.org/b", "0+13 u",
        "https://a.org");
}

void tst_OutputView::formatting() {
    QFETCH(QString, stored);
    QFETCH(QString, plain);
    QFETCH(QString, runs);
    QFETCH(QString, links);
    const IrcFormat::Line line = IrcFormat::parse(stored);
    QCOMPARE(line.text.size(), stored.size()); // one drawn unit per stored unit
    QCOMPARE(IrcFormat::plain(line.text), plain);
    const auto at = [&line](qsizetype drawn) { // drawn position -> position in the plain text
        return drawn - line.text.left(drawn).count(QChar(IrcFormat::Hidden));
    };
    QStringList described;
    for (const IrcFormat::Run &run : line.runs) {
        const IrcFormat::Style &st = run.style;
        QString d = QStringLiteral("%1+%2")
                        .arg(at(run.start))
                        .arg(at(run.start + run.length) - at(run.start));
        for (const auto &[on, flag] : {std::pair{st.bold, "b"},
                                       {st.italic, "i"},
                                       {st.underline, "u"},
                                       {st.strike, "s"},
                                       {st.mono, "m"},
                                       {st.reverse, "r"}})
            if (on)
                d += QLatin1Char(' ') + QLatin1String(flag);
        if (st.fg.isValid())
            d += QStringLiteral(" fg") + st.fg.name();
        if (st.bg.isValid())
            d += QStringLiteral(" bg") + st.bg.name();
        described << d;
    }
    QCOMPARE(described.join(QStringLiteral("; ")), runs);
    QStringList urls;
    for (const IrcFormat::Link &link : IrcFormat::links(line.text))
        urls << link.url;
    QCOMPARE(urls.join(QLatin1Char(' ')), links);
    // Drawn, copied and read aloud alike.
    OutputView view;
    view.appendLine(stored);
    view.appendLine(QStringLiteral("next"));
    QCOMPARE(view.drawnText(0, view.textLength()), line.text + QStringLiteral("\r\nnext"));
    view.selectAll();
    QCOMPARE(view.selectedText(), plain + QStringLiteral("\nnext"));
}

void tst_OutputView::mentions_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("nick");
    QTest::addColumn<bool>("mentioned");
    QTest::newRow("addressed") << "bob: hi"
                               << "bob" << true;
    QTest::newRow("other case, end of text") << "hi BOB!"
                                             << "bob" << true;
    QTest::newRow("inside formatting") << "hi \x02"
                                          "bob\x02"
                                       << "bob" << true;
    QTest::newRow("part of a word") << "bobby and mybob"
                                    << "bob" << false;
    QTest::newRow("nick characters join") << "bob_ [bob]"
                                          << "bob" << false;
    QTest::newRow("no nick yet") << "bob"
                                 << "" << false;
}

void tst_OutputView::mentions() {
    QFETCH(QString, text);
    QFETCH(QString, nick);
    QFETCH(bool, mentioned);
    QCOMPARE(IrcFormat::mentions(text, nick), mentioned);
}

void tst_OutputView::findOverManyLines() {
    OutputView view;
    for (int i = 0; i < 200000; ++i)
        view.appendLine(i == 10       ? QStringLiteral("needle one, \u00c9T\u00c9")
                        : i == 150000 ? QStringLiteral("the \x02Nee\x03"
                                                       "04dle\x03 two")
                                      : QStringLiteral("line %1 of hay").arg(i));
    view.setSelection(view.textLength(), 0);
    QVERIFY(view.find(QStringLiteral("NEEDLE"), true));
    QCOMPARE(view.lineAtPosition(view.selectionStart()), 150000);
    QCOMPARE(view.selectedText(), QStringLiteral("Needle"));
    QVERIFY(view.find(QStringLiteral("needle"), true));
    QCOMPARE(view.selectionStart(), view.lineStartPosition(10));
    QCOMPARE(view.selectedText(), QStringLiteral("needle"));
    QVERIFY(view.find(QStringLiteral("needle"), true)); // round from the end again
    QCOMPARE(view.lineAtPosition(view.selectionStart()), 150000);
    QVERIFY(view.find(QStringLiteral("needle"))); // forward: round from the start
    QCOMPARE(view.lineAtPosition(view.selectionStart()), 10);
    QVERIFY(view.find(QStringLiteral("hay")));
    QCOMPARE(view.lineAtPosition(view.selectionStart()), 11);
    QVERIFY(view.find(QStringLiteral("\u00e9t\u00e9")));
    QCOMPARE(view.selectedText(), QStringLiteral("\u00c9T\u00c9"));
    QVERIFY(!view.find(QStringLiteral("04dle"))); // a colour's digits are not text
    QVERIFY(!view.find(QStringLiteral("absent")));
    QCOMPARE(view.selectedText(), QStringLiteral("\u00c9T\u00c9")); // nothing found, nothing moved
}

void tst_OutputView::clickOpensLink() {
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    auto view = shownView({QStringLiteral("see \x02https://a.org/x\x02. now")});
    const auto at = [&](qsizetype position) {
        const QRect r = view->cursorRect(position);
        return QPoint(r.x() + 2, r.center().y());
    };
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at(1)); // plain text: nothing
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at(8));
    QCOMPARE(catcher.urls, (QList<QUrl>{QUrl(QStringLiteral("https://a.org/x"))}));
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at(6)); // a drag selects
    QTest::mouseMove(view->viewport(), at(12));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at(12));
    QCOMPARE(catcher.urls.size(), 1);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

QTEST_MAIN(tst_OutputView)
#include "tst_outputview.moc"
