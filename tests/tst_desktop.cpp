// The client as a desktop application: the Window menu's Tile and Cascade, Ctrl+Tab between
// windows, and what a screen reader finds in the windows and the About box.

#include "app/Application.h"
#include "support/AppFixture.h"
#include "windows/Child.h"
#include "windows/frmChild.h"
#include "windows/frmMain.h"
#include "windows/outputview/OutputView.h"

#include <QAccessible>
#include <QActionGroup>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QTest>
#include <QTimer>

class tst_Desktop : public QObject {
    Q_OBJECT
private slots:
    void windowMenuEntries_data();
    void windowMenuEntries();
    void arrangeWindows_data();
    void arrangeWindows();
    void switchWindowsByKey_data();
    void switchWindowsByKey();
    void boxesHaveAccessibleNames_data();
    void boxesHaveAccessibleNames();
    void aboutBoxIsReadable();
    void cleanup();
};

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

// Every name and description in the accessible tree below iface, depth first.
void collectTexts(QAccessibleInterface *iface, QStringList &out) {
    if (!iface)
        return;
    for (QAccessible::Text which : {QAccessible::Name, QAccessible::Description}) {
        const QString text = iface->text(which);
        if (!text.isEmpty())
            out.append(text);
    }
    for (int i = 0; i < iface->childCount(); ++i)
        collectTexts(iface->child(i), out);
}

} // namespace

void tst_Desktop::cleanup() {
    // Nothing the client opened may outlive it.
    AppFixture::settle();
    const QWidgetList left = QApplication::topLevelWidgets();
    for (QWidget *widget : left)
        QVERIFY2(!widget->isVisible(), qPrintable(widget->metaObject()->className()));
}

void tst_Desktop::windowMenuEntries_data() {
    QTest::addColumn<int>("extraWindows");
    QTest::addColumn<QStringList>("expected");
    const QStringList head{"&Tile", "&Cascade", "---"};
    QTest::newRow("status window only") << 0 << head + QStringList{"1 - status"};
    QTest::newRow("three windows")
        << 2 << head + QStringList{"1 - status", "2 - unused", "3 - unused"};
}

// Tile and Cascade stand above the list of windows, and stay there however often the menu
// is opened.
void tst_Desktop::windowMenuEntries() {
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

void tst_Desktop::arrangeWindows_data() {
    QTest::addColumn<bool>("tile");
    QTest::addColumn<int>("active");
    QTest::newRow("tile") << true << 4;
    QTest::newRow("cascade") << false << 4;
    QTest::newRow("cascade, status window active") << false << 1;
    QTest::newRow("cascade, a middle window active") << false << 2;
}

// Tile lays the windows side by side without overlap, filling the frame; Cascade stacks them
// at one usable size, each one further down and to the right, the active one last, with every
// title bar in sight.
void tst_Desktop::arrangeWindows() {
    QFETCH(bool, tile);
    QFETCH(int, active);
    AppFixture f;
    openWindows(f, 3);
    QMdiArea *area = frame(f)->mdiArea();
    // Start from a heap of overlapping windows.
    for (int i = 1; i <= 4; ++i)
        sub(f, i)->setGeometry(10, 10, 300, 200);
    area->setActiveSubWindow(sub(f, active));

    (tile ? frame(f)->mnuWindowTile() : frame(f)->mnuWindowCascade())->trigger();

    const QRect viewport = area->viewport()->rect();
    for (int i = 1; i <= 4; ++i) {
        const QRect r = sub(f, i)->geometry();
        QVERIFY2(viewport.contains(r), qPrintable(QStringLiteral("window %1 outside").arg(i)));
        if (tile) {
            for (int j = i + 1; j <= 4; ++j)
                QVERIFY(!r.intersects(sub(f, j)->geometry()));
        } else {
            // Big enough to chat in, not just a title bar.
            QVERIFY(r.width() >= viewport.width() / 2);
            QVERIFY(r.height() >= viewport.height() / 2);
        }
    }
    QCOMPARE(area->activeSubWindow(), sub(f, active));
    if (!tile) {
        QList<int> order{1, 2, 3, 4};
        order.removeOne(active);
        order.append(active);
        for (int k = 1; k < 4; ++k) {
            const QRect before = sub(f, order[k - 1])->geometry();
            const QRect r = sub(f, order[k])->geometry();
            QCOMPARE(r.size(), before.size());
            QVERIFY(r.left() > before.left());
            QVERIFY(r.top() > before.top());
        }
        // No window covers the middle of another's title bar.
        const QList<QMdiSubWindow *> stacking = area->subWindowList(QMdiArea::StackingOrder);
        for (qsizetype k = 0; k < stacking.size(); ++k) {
            const QRect r = stacking[k]->geometry();
            const QPoint title(r.left() + r.width() / 2, r.top() + 4);
            for (qsizetype above = k + 1; above < stacking.size(); ++above)
                QVERIFY2(!stacking[above]->geometry().contains(title),
                         qPrintable(stacking[above]->windowTitle() + " covers the title of " +
                                    stacking[k]->windowTitle()));
        }
    }
    if (tile) {
        int covered = 0;
        for (int i = 1; i <= 4; ++i)
            covered += sub(f, i)->width() * sub(f, i)->height();
        QVERIFY(covered > viewport.width() * viewport.height() * 9 / 10);
    }
}

void tst_Desktop::switchWindowsByKey_data() {
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
void tst_Desktop::switchWindowsByKey() {
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

void tst_Desktop::boxesHaveAccessibleNames_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("captions");
    QTest::newRow("at start") << "" << QStringList{"1 - status", "2 - unused", "3 - unused"};
    // Closing window 2 renumbers window 3; its boxes are renamed with it.
    QTest::newRow("after renumbering")
        << "/window close 2" << QStringList{"1 - status", "2 - unused"};
}

// A screen reader announces each box with its role and the window it belongs to, and finds
// the output box read-only.
void tst_Desktop::boxesHaveAccessibleNames() {
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

// The About box opened from the menu (F1) exposes its title, every line and its button to a
// screen reader, and Return closes it.
void tst_Desktop::aboutBoxIsReadable() {
    AppFixture f;
    openWindows(f, 0);
    QStringList texts;
    QString title;
    QTimer::singleShot(0, [&] {
        QWidget *box = QApplication::activeModalWidget();
        QVERIFY(box);
        title = accessibleText(box, QAccessible::Name);
        collectTexts(QAccessible::queryAccessibleInterface(box), texts);
        QTest::keyClick(box, Qt::Key_Return);
    });
    QTest::keyClick(frame(f), Qt::Key_F1);

    QCOMPARE(title, QStringLiteral("Velloq 0.4.0"));
    QVERIFY(texts.contains("OK"));
    QVERIFY(texts.contains("Velloq 0.4.0"));
    QVERIFY(texts.contains("Zelk IRC Client"));
    QVERIFY(texts.contains("IRC stands for Internet Relay Chat."));
    QVERIFY(texts.contains("It's a form of communicating with people over the Internet."));
    QVERIFY(texts.filter(QStringLiteral("Copyright")).size() == 1);
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(tst_Desktop)
#include "tst_desktop.moc"
