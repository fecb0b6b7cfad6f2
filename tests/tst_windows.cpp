// The client's windows and their output boxes: typed lines and history, numbering, the close
// guard, the Window menu, keyboard switching, shutdown, what a screen reader finds, and the output
// box's line store, selection, keys, following the end, find, formatting codes and links.

#include "app/Application.h"
#include "platform/EscapedErrors.h"
#include "support/AppFixture.h"
#include "windows/Child.h"
#include "windows/Childs.h"
#include "windows/frmChild.h"
#include "windows/frmMain.h"
#include "windows/outputview/IrcFormat.h"
#include "windows/outputview/OutputView.h"

#include <QAccessible>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

class tst_Windows : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void typing_data();
    void typing();
    void sessions_data();
    void sessions();
    void storesAndJoins_data();
    void storesAndJoins();
    void selectionAndKeys_data();
    void selectionAndKeys();
    void appendKeepsScrolledUpViewAndSelection();
    void find();
    void formatting_data();
    void formatting();
};

// No top-level window may outlive a test.
void tst_Windows::cleanup() {
    AppFixture::settle();
    for (QWidget *w : QApplication::topLevelWidgets())
        QVERIFY2(!w->isVisible(), qPrintable(w->objectName() + " left visible"));
}

namespace {

QMdiSubWindow *sub(const AppFixture &f, int index) {
    return f.window(index)->Form()->SubWindow();
}

QLineEdit *input(const AppFixture &f, int index) {
    return f.window(index)->Form()->txtInput();
}

QString accessibleName(QObject *object) {
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(QAccessible::Name) : QStringLiteral("<no accessible interface>");
}

QStringList menuTexts(QMenu *menu) {
    emit menu->aboutToShow(); // what opening the menu does
    QStringList texts;
    for (const QAction *action : menu->actions())
        texts.append(action->isSeparator() ? QStringLiteral("---") : action->text());
    return texts;
}

// One step of a session: "type W line", "close W" (its close box), "close all" (a walk over the
// windows that closes them as it goes), "mention W", "activate W", "choose W" (from the Window
// menu), "keys K" (in the focused input box, Ctrl held down around it as on a keyboard), "menu
// exit", "close frame", "failing close frame" (ExitClient throws) and "failing menu" (a menu
// handler whose work throws).
void run(const AppFixture &f, const QString &step) {
    const QString verb = step.section(' ', 0, 0), what = step.section(' ', 1, 1);
    const int w = what.toInt();
    frmMain *frame = f.app()->MainWindow();
    if (verb == "new") {
        f.app()->Childs()->Add();
    } else if (verb == "type") {
        f.type(w, step.section(' ', 2));
    } else if (step == "close all") {
        for (const auto &window : f.app()->Childs()->NewEnum())
            window->CloseWindow(true);
    } else if (verb == "mention") {
        f.window(w)->EchoMention("<amy> bob: hi");
    } else if (verb == "activate") {
        frame->mdiArea()->setActiveSubWindow(sub(f, w));
        input(f, w)->setFocus();
    } else if (verb == "choose") {
        menuTexts(frame->mnuWindow());
        frame->mnuWindow()->actions().at(2 + w)->trigger();
    } else if (verb == "keys") {
        const QKeyCombination key = QKeySequence::fromString(what)[0];
        QTest::keyPress(QApplication::focusWidget(), Qt::Key_Control);
        QTest::keyClick(QApplication::focusWidget(), key.key(), key.keyboardModifiers());
        QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Control);
    } else if (step == "menu exit") {
        frame->mnuFileExit()->trigger();
    } else if (step == "close frame") {
        QVERIFY(frame->close());
    } else if (step == "failing close frame") {
        const auto failure = QObject::connect(f.app(), &Application::ExitClientStarted, [] {
            throw VelloqError(VelloqError::InvalidArgument, QStringLiteral("exit failed"));
        });
        QVERIFY(!frame->close());
        QObject::disconnect(failure);
    } else if (step == "failing menu") {
        QAction probe;
        QObject::connect(&probe, &QAction::triggered,
                         [&] { Guarded([&] { f.app()->ProcessCommand("ECHO 0 hi", false, 0); }); });
        probe.trigger();
    } else if (verb == "close") {
        sub(f, w)->close();
    } else {
        QFAIL(qPrintable("unknown step " + step));
    }
}

} // namespace

// Keys typed into window 2's input box: "↑", "↓" and "←" are the arrow keys, "\n" is Return,
// anything else is typed. After them: the input box ("|" marks the caret) and both windows.
void tst_Windows::typing_data() {
    QTest::addColumn<QString>("defaultCommand");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QStringList>("window2");
    QTest::addColumn<QStringList>("status");
    QTest::newRow("slash is stripped") << ""
                                       << "/echo 1 x\n"
                                       << "|" << QStringList{"/echo 1 x"} << QStringList{"x"};
    QTest::newRow("plain without default") << ""
                                           << "echo 1 y\n"
                                           << "|" << QStringList{"echo 1 y"} << QStringList{"y"};
    QTest::newRow("default command in front")
        << "ECHO 1"
        << "hello world\n"
        << "|" << QStringList{"hello world"} << QStringList{"hello world"};
    QTest::newRow("slash beats default") << "ECHO 2"
                                         << "/echo 1 z\n"
                                         << "|" << QStringList{"/echo 1 z"} << QStringList{"z"};
    QTest::newRow("empty line only beeps, is not recalled")
        << "ECHO 1"
        << "\n↑"
        << "|" << QStringList{} << QStringList{};
    const QString two = "/echo 1 a\n/echo 1 b\ndraft←←←";
    const QStringList typed{"/echo 1 a", "/echo 1 b"}, echoed{"a", "b"};
    QTest::newRow("Up recalls the newest, caret at the end") << "" << two + "↑"
                                                             << "/echo 1 b|" << typed << echoed;
    QTest::newRow("Up stops at the oldest; Down drops an edit") << "" << two + "↑↑↑x↓"
                                                                << "/echo 1 b|" << typed << echoed;
    QTest::newRow("Down past the newest: the draft and its caret, then nothing")
        << "" << two + "↑↓↓"
        << "dr|aft" << typed << echoed;
    QString fifty;
    QStringList lines, numbers;
    for (int i = 1; i <= 51; ++i) {
        lines << QString("/echo 1 %1").arg(i);
        numbers << QString::number(i);
        fifty += lines.last() + "\n";
    }
    QTest::newRow("fifty lines kept")
        << "" << fifty + QString(60, u'↑') << "/echo 1 2|" << lines << numbers;
}

void tst_Windows::typing() {
    QFETCH(QString, defaultCommand);
    QFETCH(QString, keys);
    QFETCH(QString, input);
    AppFixture f;
    f.app()->Childs()->Add();
    f.window(2)->SetDefaultCommand(defaultCommand);
    QLineEdit *in = ::input(f, 2);
    in->setFocus();
    const QHash<QChar, Qt::Key> special{
        {u'↑', Qt::Key_Up}, {u'↓', Qt::Key_Down}, {u'←', Qt::Key_Left}, {u'\n', Qt::Key_Return}};
    for (QChar c : keys) {
        if (special.contains(c))
            QTest::keyClick(in, special[c]);
        else
            QTest::keyClicks(in, QString(c));
    }
    QCOMPARE(in->text(), QString(input).remove('|'));
    QCOMPARE(in->cursorPosition(), input.indexOf('|'));
    QTEST(f.lines(2), "window2");
    QTEST(f.status(), "status");
}

// Steps (see run()) -> the windows listed in the Window menu ("*" marks a mention), the status
// window's lines and the active window. An empty list: the client has ended.
void tst_Windows::sessions_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("windows");
    QTest::addColumn<QStringList>("status");
    QTest::addColumn<int>("active");
    const QString add = "new";
    const QStringList one{"1 - status"}, three{"1 - status", "2 - unused", "3 - unused"};
    QTest::newRow("status window only") << QStringList{} << one << QStringList{} << 1;
    QTest::newRow("the newest is active") << QStringList{add, add} << three << QStringList{} << 3;
    QTest::newRow("a close renumbers")
        << QStringList{add, add, add, "close 2"} << three << QStringList{} << 3;
    QTest::newRow("the status window refuses to close")
        << QStringList{"close 1", "type 1 /window close"} << one
        << QStringList{"Attempt to close status window!", "/window close",
                       "Attempt to close status window!"}
        << 1;
    QTest::newRow("a walk closing every window")
        << QStringList{add, add, add, add, "close all"} << one
        << QStringList{"Attempt to close status window!"} << 1;
    const QStringList mentioned{add, "activate 1", "mention 1", "mention 2"};
    QTest::newRow("a mention marks an inactive window")
        << mentioned << QStringList{"1 - status", "* 2 - unused"} << QStringList{"<amy> bob: hi"}
        << 1;
    QTest::newRow("activating clears the mark")
        << mentioned + QStringList{"activate 2"} << QStringList{"1 - status", "2 - unused"}
        << QStringList{"<amy> bob: hi"} << 2;
    QTest::newRow("chosen in the menu")
        << QStringList{add, add, "choose 1"} << three << QStringList{} << 1;
    const auto key = [&](int from, const char *keys, int to) {
        QTest::addRow("%s from %d", keys, from)
            << QStringList{add, add, QString("activate %1").arg(from), QString("keys ") + keys}
            << three << QStringList{} << to;
    };
    key(1, "Ctrl+Tab", 2);
    key(3, "Ctrl+Tab", 1);
    // With Shift held a keyboard reports Backtab; some input methods still send Tab.
    key(3, "Ctrl+Shift+Backtab", 2);
    key(1, "Ctrl+Shift+Backtab", 3);
    key(2, "Ctrl+Shift+Tab", 1);
    QTest::newRow("a failing exit keeps the client")
        << QStringList{"failing close frame"} << one
        << QStringList{QString("Error %1: exit failed").arg(VelloqError::InvalidArgument)} << 1;
    QTest::newRow("an escaped error is one status line")
        << QStringList{"failing menu", "type 1 /echo 1 on"} << one
        << QStringList{"Error 9: Subscript out of range: position 0 of 1", "/echo 1 on", "on"} << 1;
    QTest::newRow("EXIT") << QStringList{add, "type 2 /exit"} << QStringList{} << QStringList{}
                          << 0;
    QTest::newRow("EXIT with arguments")
        << QStringList{add, "type 1 /EXIT now please"} << QStringList{} << QStringList{} << 0;
    QTest::newRow("File menu Exit")
        << QStringList{add, "menu exit"} << QStringList{} << QStringList{} << 0;
    QTest::newRow("main window close box")
        << QStringList{add, "close frame"} << QStringList{} << QStringList{} << 0;
}

// Whatever happened, the menu lists the windows under Tile and Cascade however often it opens,
// each box is named for its window, and the active window has the keyboard focus.
void tst_Windows::sessions() {
    QFETCH(QStringList, steps);
    QFETCH(QStringList, windows);
    QFETCH(int, active);
    AppFixture f;
    QPointer<frmMain> frame = f.app()->MainWindow();
    frame->resize(900, 700);
    frame->show();
    frame->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(frame));
    QSignalSpy exits(f.app(), &Application::ExitClientStarted);
    QPointer<QMdiSubWindow> statusWindow = sub(f, 1);
    for (const QString &step : steps)
        run(f, step);
    if (windows.isEmpty()) { // ExitClient ran once and took every window with it
        QCOMPARE(exits.size(), 1);
        QVERIFY(!f.running());
        AppFixture::settle();
        QVERIFY(frame.isNull());
        QVERIFY(statusWindow.isNull());
        return;
    }
    QTEST(f.status(), "status");
    const QStringList head{"&Tile", "&Cascade", "---"};
    QCOMPARE(menuTexts(frame->mnuWindow()), head + windows);
    QCOMPARE(menuTexts(frame->mnuWindow()), head + windows);
    QCOMPARE(frame->mnuWindow()->findChildren<QActionGroup *>().size(), 1);
    QTRY_COMPARE(frame->mdiArea()->activeSubWindow(), sub(f, active)); // after a burst of opens
    QTRY_COMPARE(QApplication::focusWidget(), input(f, active));
    for (int i = 1; i <= windows.size(); ++i) {
        const QString caption = windows[i - 1].remove(QStringLiteral("* "));
        frmChild *form = f.window(i)->Form();
        QVERIFY(form->SubWindow()->isVisible());
        QCOMPARE(accessibleName(form->txtInput()), "Input, " + caption);
        QCOMPARE(accessibleName(form->txtOutput()), "Output, " + caption);
        QVERIFY(QAccessible::queryAccessibleInterface(form->txtOutput())->state().readOnly);
        QVERIFY(!QAccessible::queryAccessibleInterface(form->txtInput())->state().readOnly);
        QCOMPARE(form->txtInput()->text(), QString()); // no key typed anything
    }
    for (QWidget *box : frame->findChildren<QWidget *>()) // no box anywhere without a name
        if (qobject_cast<QLineEdit *>(box) || qobject_cast<OutputView *>(box))
            QVERIFY2(!accessibleName(box).isEmpty(), qPrintable(box->objectName()));
}

namespace {

std::unique_ptr<OutputView> shownView(const QStringList &lines) {
    auto view = std::make_unique<OutputView>();
    view->resize(400, 300);
    for (const QString &line : lines)
        view->appendLine(line);
    view->show();
    if (!QTest::qWaitForWindowExposed(view.get()))
        qWarning("window not exposed");
    QCoreApplication::processEvents();
    return view;
}

} // namespace

void tst_Windows::storesAndJoins_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("two") << QStringList{"a", "bc"};
    QTest::newRow("empty lines") << QStringList{"", "", ""};
    QTest::newRow("non-BMP and lone surrogates")
        << QStringList{"a\U0001F600b", QString(QChar(0xD800)) + "x" + QChar(0xDC00)};
    QTest::newRow("breaks, NUL and DEL inside a line")
        << QStringList{"a\r\nb\nc\u2028d\u2029", QString(QChar(0)) + "\x7f\u0085"};
    // Many pages: full pages are kept compressed and read back through a small cache; pages end
    // by size, by line count (the run of empty lines) and by a line larger than a page, here one
    // of four million units, kept whole.
    QStringList chat, noise;
    quint32 seed = 1;
    for (int i = 0; i < 20000; ++i) {
        chat << (i >= 3000 && i < 8000
                     ? QString()
                     : QString("<n%1> caf\u00e9 \u4f60\U0001F600 %2").arg(i % 97).arg(i));
        if (i < 3000) {
            QString line;
            for (int c = 0; c < 80; ++c) {
                seed = seed * 1103515245 + 12345;
                line += QChar(char16_t(0x21 + (seed >> 16) % 94));
            }
            noise << line;
        }
    }
    chat[9000] = QString((1 << 22) + 1, u'w');
    QTest::newRow("compressed pages") << chat;
    QTest::newRow("pages that do not compress") << noise;
}

void tst_Windows::storesAndJoins() {
    QFETCH(QStringList, lines);
    OutputView view;
    for (const QString &line : lines)
        view.appendLine(line);
    const QString all = lines.join("\r\n");
    QCOMPARE(view.lineCount(), lines.size());
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(view.line(i), lines.at(i));
    // Back from the end, a page further at every step: cached pages give way to others.
    for (qsizetype i = lines.size() - 1; i >= 0; i -= 1009) {
        QCOMPARE(view.line(i), lines.at(i));
        const qsizetype start = view.lineStartPosition(i);
        QCOMPARE(all.mid(start, lines.at(i).size()), lines.at(i));
        QCOMPARE(view.lineAtPosition(start), i);
    }
    QCOMPARE(view.toPlainText(), all);
    QCOMPARE(view.textLength(), all.size());
    for (qsizetype start : {qsizetype(0), all.size() / 3, all.size() - 3})
        QCOMPARE(view.textRange(start, 100037), all.mid(start, 100037));
}

// Text "hello world", "", "second", "last": a selection set (from, length), then keys ->
// the selection and the text it copies, lines ended by LF.
void tst_Windows::selectionAndKeys_data() {
    QTest::addColumn<qsizetype>("from");
    QTest::addColumn<qsizetype>("length");
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<qsizetype>("start");
    QTest::addColumn<qsizetype>("selected");
    QTest::addColumn<QString>("text");
    const auto row = [](const char *name, qsizetype from, qsizetype length, QKeySequence keys,
                        qsizetype start, qsizetype selected, const char *text) {
        QTest::newRow(name) << from << length << keys << start << selected << QString(text);
    };
    row("across breaks", 9, 8, {}, 9, 8, "ld\n\nse");
    row("backwards", 17, -4, {}, 13, 4, "\nse");
    row("half a break", 12, 2, {}, 12, 2, "\n\n");
    row("clamped", -5, 100, {}, 0, 27, "hello world\n\nsecond\nlast");
    row("Ctrl+End", 0, 0, Qt::CTRL | Qt::Key_End, 27, 0, "");
    row("Right over a break", 11, 0, Qt::Key_Right, 13, 0, "");
    row("Left over a break", 13, 0, Qt::Key_Left, 11, 0, "");
    row("Shift+End", 2, 0, Qt::SHIFT | Qt::Key_End, 2, 9, "llo world");
    row("Down keeps the column", 17, 0, Qt::Key_Down, 25, 0, "");
    row("Shift+Up", 25, 0, Qt::SHIFT | Qt::Key_Up, 17, 8, "cond\nla");
    row("Ctrl+Right", 0, 0, Qt::CTRL | Qt::Key_Right, 6, 0, "");
}

void tst_Windows::selectionAndKeys() {
    QFETCH(qsizetype, from);
    QFETCH(qsizetype, length);
    QFETCH(QKeySequence, keys);
    auto view = shownView({"hello world", "", "second", "last"});
    view->setSelection(from, length);
    for (int i = 0; i < keys.count(); ++i)
        QTest::keyClick(view.get(), keys[i].key(), keys[i].keyboardModifiers());
    QTEST(view->selectionStart(), "start");
    QTEST(view->selectionLength(), "selected");
    QTEST(view->selectedText(), "text");
}

// New lines follow the end while the caret is there; a user who scrolled up or selected
// something keeps the view and the selection.
void tst_Windows::appendKeepsScrolledUpViewAndSelection() {
    auto view = shownView({});
    for (int i = 0; i < 1500; ++i) {
        if (i == 1000) {
            QCoreApplication::processEvents();
            QVERIFY(view->isAtEnd());
            QCOMPARE(view->selectionStart(), view->textLength());
            view->verticalScrollBar()->setValue(400); // the user drags the bar up
            view->setSelection(view->lineStartPosition(405), 4);
        }
        view->appendFollowing(QString("line %1").arg(i));
    }
    QCoreApplication::processEvents();
    QCOMPARE(view->firstVisibleLine(), 400);
    QCOMPARE(view->selectionStart(), view->lineStartPosition(405));
    QCOMPARE(view->selectedText(), "line");
    QVERIFY(!view->isAtEnd());
}

// Find goes round and ignores case and a colour's digits; nothing found moves nothing.
void tst_Windows::find() {
    OutputView view;
    for (int i = 0; i < 3000; ++i)
        view.appendLine(i == 10     ? QString("needle one, \u00c9T\u00c9")
                        : i == 2000 ? QString("the \x02Nee\x03"
                                              "04dle\x03 two")
                                    : QString("line %1 of hay").arg(i));
    view.setSelection(view.textLength(), 0);
    const auto found = [&](const char *text, bool backwards, qsizetype line) {
        return view.find(text, backwards) && view.lineAtPosition(view.selectionStart()) == line;
    };
    QVERIFY(found("NEEDLE", true, 2000));
    QCOMPARE(view.selectedText(), "Needle");
    QVERIFY(found("needle", true, 10));
    QVERIFY(found("needle", false, 2000));
    QVERIFY(found("needle", false, 10)); // round from the start
    QVERIFY(!view.find("04dle"));
    QVERIFY(!view.find("absent"));
    QCOMPARE(view.lineAtPosition(view.selectionStart()), 10);
}

// Stored line -> the text drawn without codes and copied, its styled runs ("start+length flags",
// positions in that text), the links found in it and whether it names "bob".
void tst_Windows::formatting_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("runs");
    QTest::addColumn<QString>("links");
    QTest::addColumn<bool>("mention");
    const auto row = [](const char *name, const char *stored, const char *plain, const char *runs,
                        const char *links = "", bool mention = false) {
        QTest::newRow(name) << QString(stored) << QString(plain) << QString(runs) << QString(links)
                            << mention;
    };
    row("italic underline strike mono reverse", "\x1di\x1d\x1fu\x1f\x1es\x1e\x11m\x11\x16r",
        "iusmr", "0+1 i; 1+1 u; 2+1 s; 3+1 m; 4+1 r");
    row("reset ends all",
        "\x02\x1d\x03"
        "4ab\x0f"
        "c",
        "abc", "0+2 b i fg#ff0000");
    row("bg stays for a new fg",
        "\x03"
        "4,2a\x03"
        "5b",
        "ab", "0+1 fg#ff0000 bg#00007f; 1+1 fg#7f0000 bg#00007f");
    row("extended table and 99",
        "\x03"
        "52x\x03"
        "98z\x03"
        "99b",
        "xzb", "0+1 fg#ff0000; 1+1 fg#ffffff");
    row("three digits: two are the colour",
        "\x03"
        "123",
        "3", "0+1 fg#0000fc");
    row("no fg: the comma is text",
        "\x03"
        "4a\x03,5x",
        "a,5x", "0+1 fg#ff0000");
    row("hex with bg, short hex is text",
        "\x04"
        "ff8800,000000o\x04"
        "FF00 x",
        "oFF00 x", "0+1 fg#ff8800 bg#000000");
    row("codes at the end", "a\x02\x03", "a", "");
    row("other controls stay visible, a TAB, separators",
        "\x02"
        "a\x01\x07\tb\u2028",
        "a\u2401\u2407\u2409b\ufffd", "0+6 b");
    row("link ends a sentence", "see http://a.org/x. ok", "see http://a.org/x. ok", "",
        "http://a.org/x");
    row("brackets inside a link", "https://w.org/F_(b)), x", "https://w.org/F_(b)), x", "",
        "https://w.org/F_(b)");
    row("www and irc", "www.ex.com, irc://irc.x.net/#c", "www.ex.com, irc://irc.x.net/#c", "",
        "http://www.ex.com irc://irc.x.net/#c");
    row("other schemes and inside words", "ftp://a.org mailto:a@b xhttp://a.org http:// x",
        "ftp://a.org mailto:a@b xhttp://a.org http:// x", "", "");
    row("a code ends a link", "\x1fhttps://a.org\x1f/b", "https://a.org/b", "0+13 u",
        "https://a.org");
    row("addressed", "bob: hi", "bob: hi", "", "", true);
    row("named in other case, inside formatting",
        "hi \x02"
        "BOB!\x02",
        "hi BOB!", "3+4 b", "", true);
    row("part of a word, nick characters", "bobby mybob bob_ [bob]", "bobby mybob bob_ [bob]", "");
}

void tst_Windows::formatting() {
    QFETCH(QString, stored);
    QFETCH(QString, plain);
    const IrcFormat::Line line = IrcFormat::parse(stored);
    QCOMPARE(line.text.size(), stored.size()); // one drawn unit per stored unit
    QCOMPARE(IrcFormat::plain(line.text), plain);
    const auto at = [&line](qsizetype drawn) { // drawn position -> position in the plain text
        return drawn - line.text.left(drawn).count(QChar(IrcFormat::Hidden));
    };
    QStringList runs;
    for (const IrcFormat::Run &run : line.runs) {
        const IrcFormat::Style &st = run.style;
        QString d =
            QString("%1+%2").arg(at(run.start)).arg(at(run.start + run.length) - at(run.start));
        for (const auto &[on, flag] : {std::pair{st.bold, " b"},
                                       {st.italic, " i"},
                                       {st.underline, " u"},
                                       {st.strike, " s"},
                                       {st.mono, " m"},
                                       {st.reverse, " r"}})
            d += on ? flag : "";
        d += st.fg.isValid() ? " fg" + st.fg.name() : "";
        d += st.bg.isValid() ? " bg" + st.bg.name() : "";
        runs << d;
    }
    QTEST(runs.join("; "), "runs");
    QStringList urls;
    for (const IrcFormat::Link &link : IrcFormat::links(line.text))
        urls << link.url;
    QTEST(urls.join(' '), "links");
    QTEST(IrcFormat::mentions(stored, u"bob"), "mention");
    QVERIFY(!IrcFormat::mentions(stored, u"")); // no nick yet
    // Drawn and copied alike.
    OutputView view;
    view.appendLine(stored);
    view.appendLine("next");
    QCOMPARE(view.drawnText(0, view.textLength()), line.text + "\r\nnext");
    view.selectAll();
    view.copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), plain + "\nnext");
}

QTEST_MAIN(tst_Windows)
#include "tst_windows.moc"
