// The chat window: typed lines, history, Echo's caret rule, layout, numbering and close guard.

#include "app/Application.h"
#include "support/AppFixture.h"
#include "windows/Childs.h"
#include "windows/frmMain.h"
#include "windows/outputview/OutputView.h"

#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

class tst_ChildWindow : public QObject {
    Q_OBJECT
private slots:
    void commandFromTypedLine_data();
    void commandFromTypedLine();
    void emptyLineOnlyBeeps();
    void historyBrowsing();
    void historyKeepsFifty();
    void historyOnEmptyHistory();
    void lineBreakCharactersSwallowed();
    void ctrlReturnActsLikeReturn();
    void echoFollowsOnlyAtEnd();
    void echoFirstLineHasNoBreak();
    void captionsAndNumbering();
    void statusWindowRefusesClose();
    void userCloseOfPlainWindow();
    void removingStatusWindowPromotesNext();
    void clearRaisesCloseLastFirst();
    void walkWhileClosing();
    void itemOutOfRangeFails();
    void resizeLayout();
    void mentionMarksWindowList();
    void typingInOutputGoesToInput();
};

static QLineEdit *input(const AppFixture &f, int w) {
    return f.window(w)->Form()->txtInput();
}
static OutputView *output(const AppFixture &f, int w) {
    return f.window(w)->Form()->txtOutput();
}

void tst_ChildWindow::commandFromTypedLine_data() {
    QTest::addColumn<QString>("defaultCommand");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("echoed");
    QTest::newRow("slash is stripped") << ""
                                       << "/echo 2 x"
                                       << "x";
    QTest::newRow("plain without default") << ""
                                           << "echo 2 y"
                                           << "y";
    QTest::newRow("default command in front") << "ECHO 2"
                                              << "hello world"
                                              << "hello world";
    QTest::newRow("slash beats default") << "ECHO 1"
                                         << "/echo 2 z"
                                         << "z";
}

// The typed line is echoed as typed, then the command runs (here ECHO into window 2).
void tst_ChildWindow::commandFromTypedLine() {
    QFETCH(QString, defaultCommand);
    QFETCH(QString, typed);
    QFETCH(QString, echoed);
    AppFixture f;
    f.type(1, "/window new");
    f.type(1, "/window new");
    f.window(3)->SetDefaultCommand(defaultCommand);
    f.type(3, typed);
    QCOMPARE(f.lines(3), QStringList{typed});
    QCOMPARE(f.lines(2), QStringList{echoed});
    QCOMPARE(f.window(3)->History(), QStringList{typed});
    QVERIFY(input(f, 3)->text().isEmpty());
}

void tst_ChildWindow::emptyLineOnlyBeeps() {
    AppFixture f;
    f.type(1, "");
    QVERIFY(f.status().isEmpty());
    QVERIFY(f.window(1)->History().isEmpty());
}

void tst_ChildWindow::historyBrowsing() {
    AppFixture f;
    f.type(1, "/echo 1 one");
    f.type(1, "/echo 1 two");
    QLineEdit *in = input(f, 1);
    in->setText("draft");
    in->setCursorPosition(2);
    QTest::keyClick(in, Qt::Key_Up);
    QCOMPARE(in->text(), QString("/echo 1 two"));
    QCOMPARE(in->cursorPosition(), in->text().size());
    QTest::keyClick(in, Qt::Key_Up);
    QCOMPARE(in->text(), QString("/echo 1 one"));
    QTest::keyClick(in, Qt::Key_Up); // stays on the oldest
    QCOMPARE(in->text(), QString("/echo 1 one"));
    in->setText("edited"); // an edit of a recalled line is lost when browsing moves on
    QTest::keyClick(in, Qt::Key_Down);
    QCOMPARE(in->text(), QString("/echo 1 two"));
    QTest::keyClick(in, Qt::Key_Down);
    QCOMPARE(in->text(), QString("draft"));
    QCOMPARE(in->cursorPosition(), 2);
    QTest::keyClick(in, Qt::Key_Down); // not browsing: nothing changes
    QCOMPARE(in->text(), QString("draft"));
    QCOMPARE(in->cursorPosition(), 2);
}

void tst_ChildWindow::historyKeepsFifty() {
    AppFixture f;
    for (int i = 1; i <= 51; ++i)
        f.type(1, QString("/echo 1 %1").arg(i));
    const QStringList history = f.window(1)->History();
    QCOMPARE(history.size(), 50);
    QCOMPARE(history.first(), QString("/echo 1 2"));
    QCOMPARE(history.last(), QString("/echo 1 51"));
    QLineEdit *in = input(f, 1);
    for (int i = 0; i < 60; ++i)
        QTest::keyClick(in, Qt::Key_Up);
    QCOMPARE(in->text(), QString("/echo 1 2"));
}

void tst_ChildWindow::historyOnEmptyHistory() {
    AppFixture f;
    QLineEdit *in = input(f, 1);
    in->setText("abc");
    in->setCursorPosition(1);
    QTest::keyClick(in, Qt::Key_Up);
    QCOMPARE(in->text(), QString("abc"));
    QCOMPARE(in->cursorPosition(), 1); // the arrow never moves the caret
    QTest::keyClick(in, Qt::Key_Down);
    QCOMPARE(in->cursorPosition(), 1);
}

void tst_ChildWindow::lineBreakCharactersSwallowed() {
    AppFixture f;
    QLineEdit *in = input(f, 1);
    in->setText("ab");
    QTest::keyClick(in, Qt::Key_J, Qt::ControlModifier); // types a line feed on X11
    QKeyEvent cr(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(13)));
    QApplication::sendEvent(in, &cr);
    QKeyEvent lf(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(10)));
    QApplication::sendEvent(in, &lf);
    QCOMPARE(in->text(), QString("ab"));
    QVERIFY(f.status().isEmpty());
}

void tst_ChildWindow::ctrlReturnActsLikeReturn() {
    AppFixture f;
    QLineEdit *in = input(f, 1);
    in->setText("/echo 1 x");
    QTest::keyClick(in, Qt::Key_Return, Qt::ControlModifier);
    in->setText("/echo 1 y");
    QTest::keyClick(in, Qt::Key_Enter, Qt::KeypadModifier | Qt::ShiftModifier);
    QCOMPARE(f.status(), (QStringList{"/echo 1 x", "x", "/echo 1 y", "y"}));
}

void tst_ChildWindow::echoFollowsOnlyAtEnd() {
    AppFixture f;
    auto w = f.window(1);
    OutputView *out = output(f, 1);
    w->Echo("first");
    w->Echo("second");
    QCOMPARE(out->selectionStart(), out->textLength());
    QCOMPARE(out->selectionLength(), 0);
    out->setSelection(2, 3); // the user selects "rst"
    w->Echo("third");
    QCOMPARE(out->selectionStart(), 2);
    QCOMPARE(out->selectionLength(), 3);
    QCOMPARE(out->selectedText(), QString("rst"));
    out->setSelection(out->textLength(), 0); // caret back at the end: it follows again
    w->Echo("fourth");
    QCOMPARE(out->selectionStart(), out->textLength());
    QCOMPARE(out->toPlainText(), QString("first\r\nsecond\r\nthird\r\nfourth"));
}

void tst_ChildWindow::echoFirstLineHasNoBreak() {
    AppFixture f;
    f.window(1)->Echo("");
    f.window(1)->Echo("x");
    QCOMPARE(output(f, 1)->toPlainText(), QString("x")); // the empty text left the box empty
    f.type(1, "/window new");
    f.window(2)->Echo("only");
    QCOMPARE(output(f, 2)->toPlainText(), QString("only"));
}

void tst_ChildWindow::captionsAndNumbering() {
    AppFixture f;
    for (int i = 0; i < 3; ++i)
        f.type(1, "/window new");
    QCOMPARE(f.windowCount(), 4);
    QCOMPARE(f.window(4)->Caption(), QString("4 - unused"));
    f.window(1)->SetDefaultCommand("MSG x");
    f.window(2)->Delete();
    QCOMPARE(f.windowCount(), 3);
    QCOMPARE(f.window(2)->Caption(), QString("2 - unused"));
    QCOMPARE(f.window(3)->Caption(), QString("3 - unused"));
    QCOMPARE(f.window(3)->Index(), 3);
    // Any add or removal gives window 1 its default command back.
    QCOMPARE(f.window(1)->DefaultCommand(), QString("QUOTE"));
}

void tst_ChildWindow::statusWindowRefusesClose() {
    AppFixture f;
    QMdiSubWindow *sub = f.window(1)->Form()->SubWindow();
    QVERIFY(!sub->close());
    QCOMPARE(f.status(), QStringList{"Attempt to close status window!"});
    f.type(1, "/window close");
    QCOMPARE(f.lastLine(1), QString("Attempt to close status window!"));
    QCOMPARE(f.windowCount(), 1);
    QVERIFY(sub->isVisible());
}

void tst_ChildWindow::userCloseOfPlainWindow() {
    AppFixture f;
    f.type(1, "/window new");
    auto w = f.window(2);
    QSignalSpy closed(w.get(), &Child::CloseWindowEvent);
    QPointer<QMdiSubWindow> sub = w->Form()->SubWindow();
    sub->close();
    QCOMPARE(closed.size(), 1);
    QCOMPARE(closed.first().first().toBool(), true);
    QCOMPARE(f.windowCount(), 1);
    QCOMPARE(w->Index(), -1);
    AppFixture::settle();
    QVERIFY(sub.isNull());
    QVERIFY(w->Delete()); // nothing left to do but the notification
    QCOMPARE(closed.size(), 2);
}

void tst_ChildWindow::removingStatusWindowPromotesNext() {
    AppFixture f;
    f.type(1, "/window new");
    f.window(2)->SetDefaultCommand("MSG #x");
    f.app()->Childs()->Remove(1);
    QCOMPARE(f.windowCount(), 1);
    QCOMPARE(f.window(1)->Caption(), QString("1 - status"));
    QCOMPARE(f.window(1)->DefaultCommand(), QString("QUOTE"));
}

void tst_ChildWindow::clearRaisesCloseLastFirst() {
    AppFixture f;
    f.type(1, "/window new");
    f.type(1, "/window new");
    QList<int> order;
    for (int i = 1; i <= 3; ++i)
        connect(f.window(i).get(), &Child::CloseWindowEvent, f.app(),
                [&order, i](bool user) { order << (user ? -i : i); });
    f.app()->Childs()->Clear();
    QCOMPARE(order, (QList<int>{3, 2, 1}));
    QCOMPARE(f.app()->Childs()->Count(), 0);
    f.app()->Childs()->Add(); // let the fixture find a status window again
}

// A walk over the windows may close them as it goes: every window is visited once.
void tst_ChildWindow::walkWhileClosing() {
    AppFixture f;
    QStringList keys;
    for (int i = 2; i <= 5; ++i)
        f.type(1, "/window new");
    for (const auto &window : f.app()->Childs()->NewEnum())
        keys << window->InstanceKey();
    QStringList visited;
    for (const auto &window : f.app()->Childs()->NewEnum()) {
        visited << window->InstanceKey();
        window->CloseWindow(true);
    }
    QCOMPARE(visited, keys);
    QCOMPARE(f.app()->Childs()->Count(), 1); // the status window refused
}

void tst_ChildWindow::itemOutOfRangeFails() {
    AppFixture f;
    QVERIFY_THROWS_EXCEPTION(VelloqError, f.app()->Childs()->Item(0));
    QVERIFY_THROWS_EXCEPTION(VelloqError, f.app()->Childs()->Item(2));
    QVERIFY_THROWS_EXCEPTION(VelloqError, f.app()->Childs()->Item(QString("nokey")));
    QVERIFY_THROWS_EXCEPTION(VelloqError, f.app()->Echo(5, "x"));
}

void tst_ChildWindow::resizeLayout() {
    AppFixture f;
    frmChild *form = f.window(1)->Form();
    QMdiSubWindow *sub = form->SubWindow();
    sub->showNormal();
    sub->resize(400, 300);
    QTest::qWait(20);
    const int W = form->width();
    const int H = form->height();
    QCOMPARE(output(f, 1)->geometry(), QRect(0, 0, W, H - 24));
    QCOMPARE(input(f, 1)->geometry().top(), H - 24);
    QCOMPARE(input(f, 1)->width(), W);
    QVERIFY(input(f, 1)->height() >= 12 && input(f, 1)->height() <= 24);
    // Under 25 pixels of height the output keeps its size; the input moves to H - 24.
    const QRect before = output(f, 1)->geometry();
    form->resize(W, 20);
    QCOMPARE(output(f, 1)->geometry(), before);
    QCOMPARE(input(f, 1)->geometry().top(), 20 - 24);
}

QTEST_MAIN(tst_ChildWindow)
#include "tst_childwindow.moc"

// A line naming the user in a window that is not active marks it in the Window menu until the
// window is activated; the caption stays.
void tst_ChildWindow::mentionMarksWindowList() {
    AppFixture f;
    f.type(1, "/window new");
    frmMain *frame = f.app()->MainWindow();
    QMdiArea *area = f.window(1)->Form()->SubWindow()->mdiArea();
    area->setActiveSubWindow(f.window(1)->Form()->SubWindow());
    const auto entries = [frame] {
        emit frame->mnuWindow()->aboutToShow();
        QStringList texts;
        for (QAction *a : frame->mnuWindow()->actions())
            if (a->isCheckable())
                texts << a->text();
        return texts;
    };
    f.window(2)->Echo("plain");
    f.window(1)->EchoMention("in the active window");
    QCOMPARE(entries(), (QStringList{"1 - status", "2 - unused"}));
    f.window(2)->EchoMention("<amy> bob: hi");
    QVERIFY(output(f, 2)->isMention(1));
    QVERIFY(!output(f, 2)->isMention(0));
    QCOMPARE(entries(), (QStringList{"1 - status", "* 2 - unused"}));
    QCOMPARE(f.window(2)->Caption(), QString("2 - unused"));
    area->setActiveSubWindow(f.window(2)->Form()->SubWindow());
    QCOMPARE(entries(), (QStringList{"1 - status", "2 - unused"}));
}

void tst_ChildWindow::typingInOutputGoesToInput() {
    AppFixture f;
    OutputView *out = output(f, 1);
    out->setFocus();
    QTest::keyClicks(out, "/q");
    QCOMPARE(input(f, 1)->text(), QString("/q"));
    QVERIFY(input(f, 1)->hasFocus() || !QApplication::focusWidget());
    QTest::keyClick(out, Qt::Key_C, Qt::ControlModifier); // the box's own keys stay its own
    QCOMPARE(input(f, 1)->text(), QString("/q"));
    // Ctrl+F from the input box opens the find field over the output; Escape closes it.
    f.window(1)->Echo("find me");
    QTest::keyClick(input(f, 1), Qt::Key_F, Qt::ControlModifier);
    auto *find = out->findChild<QLineEdit *>("txtFind");
    QVERIFY(find && find->isVisible());
    QTest::keyClicks(find, "ME");
    QTest::keyClick(find, Qt::Key_Return);
    QCOMPARE(out->selectedText(), QString("me"));
    QTest::keyClick(find, Qt::Key_Escape);
    QVERIFY(!find->isVisible());
}
