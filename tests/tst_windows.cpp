// The client's windows: start-up and shutdown, typed lines and history, numbering and the close
// guard, the Window menu, keyboard switching and what a screen reader finds.

#include "app/Application.h"
#include "app/modMain.h"
#include "connection/IRCConnections.h"
#include "platform/EscapedErrors.h"
#include "support/AppFixture.h"
#include "windows/Child.h"
#include "windows/Childs.h"
#include "windows/frmChild.h"
#include "windows/frmMain.h"
#include "windows/outputview/OutputView.h"

#include <QAccessible>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

class tst_Windows : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void shutdown_data();
    void shutdown();
    void failingExitKeepsMainWindow();
    void escapedErrorBecomesStatusLine();
    void commandFromTypedLine_data();
    void commandFromTypedLine();
    void emptyLineOnlyBeeps();
    void historyBrowsing();
    void historyKeepsFifty();
    void captionsAndNumbering();
    void statusWindowRefusesClose();
    void walkWhileClosing();
    void mentionMarksWindowList();
    void windowMenuEntries_data();
    void windowMenuEntries();
    void switchWindowsByKey_data();
    void switchWindowsByKey();
    void boxesHaveAccessibleNames_data();
    void boxesHaveAccessibleNames();
};

void tst_Windows::cleanup() {
    // No top-level window may outlive a test.
    AppFixture::settle();
    for (QWidget *w : QApplication::topLevelWidgets())
        QVERIFY2(!w->isVisible(), qPrintable(w->objectName() + " left visible"));
}

void tst_Windows::shutdown_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("EXIT command") << "command";
    QTest::newRow("EXIT with arguments") << "command-args";
    QTest::newRow("File menu Exit") << "menu";
    QTest::newRow("main window close box") << "close";
}

// Every path runs ExitClient exactly once, removes every window and ends with the main window
// gone.
void tst_Windows::shutdown() {
    QFETCH(QString, how);
    AppFixture f;
    f.type(1, "/window new");
    QSignalSpy exits(f.app(), &Application::ExitClientStarted);
    QPointer<frmMain> main = f.app()->MainWindow();
    QPointer<QMdiSubWindow> statusWindow = f.window(1)->Form()->SubWindow();
    if (how == "command")
        f.type(2, "/exit");
    else if (how == "command-args")
        f.type(1, "/EXIT now please");
    else if (how == "menu")
        main->mnuFileExit()->trigger();
    else
        QVERIFY(main->close());
    QCOMPARE(exits.size(), 1);
    QVERIFY(!f.running());
    AppFixture::settle();
    QVERIFY(main.isNull());
    QVERIFY(statusWindow.isNull());
}

// A close of the main window whose ExitClient fails is cancelled, and the error is shown.
void tst_Windows::failingExitKeepsMainWindow() {
    AppFixture f;
    const auto failure = connect(f.app(), &Application::ExitClientStarted, f.app(), [] {
        throw VelloqError(VelloqError::InvalidArgument, QStringLiteral("exit failed"));
    });
    QVERIFY(!f.app()->MainWindow()->close());
    QVERIFY(f.running());
    QVERIFY(f.app()->MainWindow()->isVisible());
    QCOMPARE(f.status(),
             QStringList{QString("Error %1: exit failed").arg(VelloqError::InvalidArgument)});
    disconnect(failure);
}

// ECHO 0 from a caller that is no user designates no window: the error reaches the caller, and
// at a toolkit entry point it becomes one status line while the program goes on.
void tst_Windows::escapedErrorBecomesStatusLine() {
    AppFixture f;
    QVERIFY_THROWS_EXCEPTION(VelloqError, f.app()->ProcessCommand("ECHO 0 hi", false, 0));
    // A menu handler whose work fails: the error surfaces in the status window.
    QAction probe;
    connect(&probe, &QAction::triggered, f.app(),
            [&] { Guarded([&] { f.app()->ProcessCommand("ECHO 0 hi", false, 0); }); });
    probe.trigger();
    QCOMPARE(f.status().size(), 1);
    QVERIFY2(f.status().first().startsWith("Error 9: "), qPrintable(f.status().first()));
    f.type(1, "/echo 1 still running");
    QCOMPARE(f.lastLine(1), QString("still running"));
}

static QLineEdit *input(const AppFixture &f, int w) {
    return f.window(w)->Form()->txtInput();
}
static OutputView *output(const AppFixture &f, int w) {
    return f.window(w)->Form()->txtOutput();
}

void tst_Windows::commandFromTypedLine_data() {
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
void tst_Windows::commandFromTypedLine() {
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

void tst_Windows::emptyLineOnlyBeeps() {
    AppFixture f;
    f.type(1, "");
    QVERIFY(f.status().isEmpty());
    QVERIFY(f.window(1)->History().isEmpty());
}

void tst_Windows::historyBrowsing() {
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

void tst_Windows::historyKeepsFifty() {
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

void tst_Windows::captionsAndNumbering() {
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

void tst_Windows::statusWindowRefusesClose() {
    AppFixture f;
    QMdiSubWindow *sub = f.window(1)->Form()->SubWindow();
    QVERIFY(!sub->close());
    QCOMPARE(f.status(), QStringList{"Attempt to close status window!"});
    f.type(1, "/window close");
    QCOMPARE(f.lastLine(1), QString("Attempt to close status window!"));
    QCOMPARE(f.windowCount(), 1);
    QVERIFY(sub->isVisible());
}

// A walk over the windows may close them as it goes: every window is visited once.
void tst_Windows::walkWhileClosing() {
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

// A line naming the user in a window that is not active marks it in the Window menu until the
// window is activated; the caption stays.
void tst_Windows::mentionMarksWindowList() {
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

namespace {

frmMain *frame(const AppFixture &f) {
    return f.app()->MainWindow();
}

// Starts the client with the status window and extra plain windows, the frame shown, active
// and large enough for four windows side by side.
void openWindows(const AppFixture &f, int extra) {
    for (int i = 0; i < extra; ++i)
        f.type(1, QStringLiteral("/window new"));
    frmMain *main = frame(f);
    main->resize(900, 700);
    main->show();
    main->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(main));
}

QMdiSubWindow *sub(const AppFixture &f, int index) {
    return f.window(index)->Form()->SubWindow();
}

QStringList menuTexts(QMenu *menu) {
    emit menu->aboutToShow(); // what opening the menu does
    QStringList texts;
    for (const QAction *action : menu->actions())
        texts.append(action->isSeparator() ? QStringLiteral("---") : action->text());
    return texts;
}

QString accessibleText(QObject *object, QAccessible::Text which) {
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(which) : QStringLiteral("<no accessible interface>");
}

} // namespace

void tst_Windows::windowMenuEntries_data() {
    QTest::addColumn<int>("extraWindows");
    QTest::addColumn<QStringList>("expected");
    const QStringList head{"&Tile", "&Cascade", "---"};
    QTest::newRow("status window only") << 0 << head + QStringList{"1 - status"};
    QTest::newRow("three windows")
        << 2 << head + QStringList{"1 - status", "2 - unused", "3 - unused"};
}

// Tile and Cascade stand above the list of windows, and stay there however often the menu
// is opened.
void tst_Windows::windowMenuEntries() {
    QFETCH(int, extraWindows);
    QFETCH(QStringList, expected);
    AppFixture f;
    openWindows(f, extraWindows);
    QMenu *menu = frame(f)->mnuWindow();
    QCOMPARE(menuTexts(menu), expected);
    QCOMPARE(menuTexts(menu), expected);
    QCOMPARE(menu->findChildren<QActionGroup *>().size(), 1);

    // Choosing a window from the list activates it.
    frame(f)->mdiArea()->setActiveSubWindow(sub(f, f.windowCount()));
    menu->actions().at(3)->trigger();
    QCOMPARE(frame(f)->mdiArea()->activeSubWindow(), sub(f, 1));
}

void tst_Windows::switchWindowsByKey_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("to");
    const int ctrl = Qt::ControlModifier;
    const int ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
    QTest::newRow("Ctrl+Tab to the next") << 1 << int(Qt::Key_Tab) << ctrl << 2;
    QTest::newRow("Ctrl+Tab wraps to the first") << 3 << int(Qt::Key_Tab) << ctrl << 1;
    // With Shift held a keyboard reports Backtab; some input methods still send Tab.
    QTest::newRow("Ctrl+Shift+Tab to the previous") << 3 << int(Qt::Key_Backtab) << ctrlShift << 2;
    QTest::newRow("Ctrl+Shift+Tab wraps to the last")
        << 1 << int(Qt::Key_Backtab) << ctrlShift << 3;
    QTest::newRow("Ctrl+Shift with plain Tab") << 2 << int(Qt::Key_Tab) << ctrlShift << 1;
}

// The key pressed in a window's input box activates the neighbouring window at once and puts
// the keyboard focus into that window's input box, ready for typing.
void tst_Windows::switchWindowsByKey() {
    QFETCH(int, from);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, to);
    AppFixture f;
    openWindows(f, 2);
    QMdiArea *area = frame(f)->mdiArea();
    area->setActiveSubWindow(sub(f, from));
    QLineEdit *input = f.window(from)->Form()->txtInput();
    input->setFocus();
    QCOMPARE(QApplication::focusWidget(), input);

    // As on a real keyboard, Ctrl goes down before the key and comes up after it; QMdiArea
    // watches the Ctrl release too, and the window must move only once.
    QTest::keyPress(input, Qt::Key_Control);
    QTest::keyClick(input, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Control);

    QCOMPARE(area->activeSubWindow(), sub(f, to));
    QTRY_COMPARE(QApplication::focusWidget(), f.window(to)->Form()->txtInput());
    QCOMPARE(input->text(), QString()); // the key typed nothing
}

void tst_Windows::boxesHaveAccessibleNames_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("captions");
    QTest::newRow("at start") << "" << QStringList{"1 - status", "2 - unused", "3 - unused"};
    // Closing window 2 renumbers window 3; its boxes are renamed with it.
    QTest::newRow("after renumbering")
        << "/window close 2" << QStringList{"1 - status", "2 - unused"};
}

// A screen reader announces each box with its role and the window it belongs to, and finds
// the output box read-only.
void tst_Windows::boxesHaveAccessibleNames() {
    QFETCH(QString, command);
    QFETCH(QStringList, captions);
    AppFixture f;
    openWindows(f, 2);
    if (!command.isEmpty())
        f.type(1, command);
    QCOMPARE(f.windowCount(), captions.size());
    for (int i = 1; i <= captions.size(); ++i) {
        frmChild *form = f.window(i)->Form();
        QCOMPARE(accessibleText(form->txtInput(), QAccessible::Name),
                 QStringLiteral("Input, ") + captions.at(i - 1));
        QCOMPARE(accessibleText(form->txtOutput(), QAccessible::Name),
                 QStringLiteral("Output, ") + captions.at(i - 1));
        QAccessibleInterface *output = QAccessible::queryAccessibleInterface(form->txtOutput());
        QVERIFY(output->state().readOnly);
        QVERIFY(!QAccessible::queryAccessibleInterface(form->txtInput())->state().readOnly);
    }
    // No box anywhere in the frame is left without a name.
    for (QWidget *box : frame(f)->findChildren<QWidget *>()) {
        if (qobject_cast<QLineEdit *>(box) || qobject_cast<OutputView *>(box))
            QVERIFY2(!accessibleText(box, QAccessible::Name).isEmpty(),
                     qPrintable(box->objectName()));
    }
}

QTEST_MAIN(tst_Windows)
#include "tst_windows.moc"
