// Start-up, the About box and the three ways to shut the client down.

#include "app/Application.h"
#include "app/modMain.h"
#include "connection/IRCConnections.h"
#include "platform/AboutBox.h"
#include "platform/EscapedErrors.h"
#include "support/AppFixture.h"
#include "windows/Childs.h"
#include "windows/frmMain.h"

#include <QAction>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class tst_Application : public QObject {
    Q_OBJECT
private slots:
    void startUpState();
    void menus();
    void windowMenuListsOpenWindows();
    void shutdown_data();
    void shutdown();
    void failingExitKeepsMainWindow();
    void aboutBox();
    void escapedErrorBecomesStatusLine();
    void cleanup();
};

void tst_Application::cleanup() {
    // No top-level window may outlive a test.
    AppFixture::settle();
    for (QWidget *w : QApplication::topLevelWidgets())
        QVERIFY2(!w->isVisible(), qPrintable(w->objectName() + " left visible"));
}

void tst_Application::startUpState() {
    AppFixture f;
    QVERIFY(f.running());
    QCOMPARE(f.app()->MainWindow()->windowTitle(), QString("Velloq 0.4.0"));
    QCOMPARE(modMain::GetVersionTitle(), QString("Velloq 0.4.0"));
    QVERIFY(f.app()->MainWindow()->isVisible());
    QCOMPARE(f.windowCount(), 1);
    QCOMPARE(f.window(1)->Caption(), QString("1 - status"));
    QCOMPARE(f.window(1)->DefaultCommand(), QString("QUOTE"));
    QCOMPARE(f.app()->Connections()->Count(), 1);
    QCOMPARE(f.connection().Index(), 1);
    QVERIFY(!f.connection().Connected());
    QCOMPARE(f.connection().SocketIndex(), qint16(1));
    QVERIFY(f.app()->MainWindow()->wsConnection().Exists(0));
    QCOMPARE(f.status(), QStringList());
}

void tst_Application::menus() {
    AppFixture f;
    frmMain *main = f.app()->MainWindow();
    QStringList titles;
    for (QAction *a : main->menuBar()->actions())
        titles << a->text();
    QCOMPARE(titles, (QStringList{"&File", "&Window", "&?"}));
    QCOMPARE(main->mnuFileExit()->text(), QString("E&xit"));
    QCOMPARE(main->mnuHelpAbout()->text(), QString("&About"));
    QCOMPARE(main->mnuHelpAbout()->shortcut(), QKeySequence(Qt::Key_F1));
    QCOMPARE(main->mnuFileExit()->objectName(), QString("mnuFileExit"));
    QCOMPARE(main->mnuWindow()->objectName(), QString("mnuWindow"));
}

void tst_Application::windowMenuListsOpenWindows() {
    AppFixture f;
    f.type(1, "/window new");
    f.type(1, "/window new");
    f.type(3, "/window close");
    QMenu *menu = f.app()->MainWindow()->mnuWindow();
    emit menu->aboutToShow();
    // The open windows are the checkable entries, in window order.
    QStringList entries;
    QList<QAction *> windowEntries;
    for (QAction *a : menu->actions())
        if (a->isCheckable()) {
            entries << a->text();
            windowEntries << a;
        }
    QCOMPARE(entries, (QStringList{"1 - status", "2 - unused"}));
    // Choosing an entry activates that window.
    windowEntries.at(1)->trigger();
    QCOMPARE(f.app()->MainWindow()->mdiArea()->activeSubWindow(), f.window(2)->Form()->SubWindow());
}

void tst_Application::shutdown_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("EXIT command") << "command";
    QTest::newRow("EXIT with arguments") << "command-args";
    QTest::newRow("File menu Exit") << "menu";
    QTest::newRow("main window close box") << "close";
}

// Every path runs ExitClient exactly once, removes every window and ends with the main window
// gone.
void tst_Application::shutdown() {
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
void tst_Application::failingExitKeepsMainWindow() {
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

void tst_Application::aboutBox() {
    AppFixture f;
    QStringList seen;
    QString title;
    bool iconShown = false;
    QTimer::singleShot(50, [&] {
        auto *box = qobject_cast<AboutBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        title = box->windowTitle();
        for (const char *name :
             {"lblTitle", "lblSubtitle", "lblLine0", "lblLine1", "lblLine2", "lblLine3"})
            seen << box->findChild<QLabel *>(name)->text();
        iconShown = !box->findChild<QLabel *>("lblIcon")->pixmap().isNull();
        box->accept();
    });
    f.app()->MainWindow()->mnuHelpAbout()->trigger();
    QCOMPARE(title, QString("Velloq 0.4.0"));
    QCOMPARE(seen.size(), 6);
    QCOMPARE(seen.at(0), QString("Velloq 0.4.0"));
    QCOMPARE(seen.at(1), QString("Zelk IRC Client"));
    QVERIFY(seen.at(2).contains("Velloq authors"));
    QVERIFY(!seen.at(3).isEmpty());
    QCOMPARE(seen.at(4), QString("IRC stands for Internet Relay Chat."));
    QCOMPARE(seen.at(5), QString("It's a form of communicating with people over the Internet."));
    QVERIFY(iconShown);
    QVERIFY(!f.app()->MainWindow()->windowIcon().isNull());
}

// ECHO 0 from a caller that is no user designates no window: the error reaches the caller, and
// at a toolkit entry point it becomes one status line while the program goes on.
void tst_Application::escapedErrorBecomesStatusLine() {
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

QTEST_MAIN(tst_Application)
#include "tst_application.moc"
