// The client's windows and their output boxes: typed lines and history, numbering, the close
// guard, the Window menu, keyboard switching, shutdown, what a screen reader finds, and the output
// box's line store, selection, keys, following the end, find, formatting codes and links.

#include "app/Application.h"
#include "platform/VelloqError.h"
#include "support/AppFixture.h"
#include "text/IrcFormat.h"
#include "text/IrcLinks.h"
#include "text/IrcMentions.h"
#include "windows/Announcer.h"
#include "windows/Child.h"
#include "windows/Childs.h"
#include "windows/frmChild.h"
#include "windows/frmMain.h"
#include "windows/outputview/OutputView.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCryptographicHash>
#include <QImage>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

class tst_Windows : public QObject {
    Q_OBJECT

    static auto *box(const AppFixture &f, int i) { return f.window(i)->Form()->txtInput(); }
    static auto *a11y(QObject *object) { return QAccessible::queryAccessibleInterface(object); }
    // What the windows' announcers said to a screen reader.
    static inline QStringList heard;
    // A message that wraps onto several rows of an output box.
    static inline const QString Long = "bob: " + QString("so much to say ").repeated(20);
    static void hear(const AppFixture &f) {
        for (Announcer *announcer : f.app()->MainWindow()->findChildren<Announcer *>())
            if (!announcer->property("heard").toBool()) {
                announcer->setProperty("heard", true);
                connect(announcer, &Announcer::announced, [](const QString &t) { heard << t; });
            }
    }
    static QStringList menuTexts(QMenu *menu) {
        emit menu->aboutToShow(); // what opening the menu does
        QStringList texts;
        for (const QAction *action : menu->actions())
            texts.append(action->isSeparator() ? QStringLiteral("---") : action->text());
        return texts;
    }
    template <class... T> static void columns(std::initializer_list<const char *> names) {
        auto name = names.begin();
        (QTest::addColumn<T>(*name++), ...);
    }

    // One step of a session: "new" (a window), "default W command", "in W keys" (a click into
    // window W's input box, then keys: "←↑→↓" are the arrow keys, "\n" is Return), "keys K" (into
    // the focused box), "asked" (the user sent a raw line just now), "chord K" (in
    // the focused box, Ctrl held down around it as on a keyboard), "tab W input|output" (Tab, and
    // that box of window W has the focus), "close W" (its close box), "close all" (a walk over
    // the windows that closes them as it goes), "server line" (received on connection 1), "flood
    // W N" (N lines echoed into W), "choose W" (in the Window menu), "maximise W", "menu exit",
    // "close frame" and "failing close frame" (ExitClient throws); "paste W text" (text, "⏎" a
    // line break, pasted into window W's input box, then Return), "click W text" (in window W's
    // output, on text) and "context W text" (its context menu there, "Copy Link Address"); "key
    // K" (in the focused box), "title W" (a click on its title bar), "view W follows|stays" (its
    // caret is at the end and the last line in view, or not).
    // In "in W keys", "⇞⇟" are Page Up and Page Down.
    // "answer Send|Escape|Return" (the question that comes next).
    static void run(const AppFixture &f, const QString &step) {
        const QString verb = step.section(' ', 0, 0), rest = step.section(' ', 1);
        const int w = rest.section(' ', 0, 0).toInt();
        if (verb == "new") {
            f.app()->Childs()->Add();
        } else if (verb == "default") {
            f.window(w)->SetDefaultCommand(rest.section(' ', 1));
        } else if (verb == "in" || verb == "keys") {
            if (verb == "in")
                box(f, w)->setFocus();
            QWidget *focus = QApplication::focusWidget();
            for (QChar c : verb == "in" ? rest.section(' ', 1) : rest) {
                const qsizetype arrow = QStringLiteral("←↑→↓⇞⇟").indexOf(c);
                if (arrow >= 0)
                    QTest::keyClick(focus, Qt::Key(Qt::Key_Left + arrow));
                else
                    QTest::keyClick(focus, c == u'\n' ? '\r' : c.toLatin1());
            }
        } else if (step == "asked") {
            f.connection().NoteAsked();
        } else if (verb == "paste") {
            QGuiApplication::clipboard()->setText(rest.section(' ', 1).replace(u'⏎', u'\n'));
            box(f, w)->setFocus();
            QTest::keySequence(box(f, w), QKeySequence::Paste);
        } else if (verb == "answer") {
            f.answer(rest);
        } else if (verb == "click" || verb == "context") {
            OutputView *view = f.window(w)->Form()->txtOutput();
            const qsizetype on = view->toPlainText().lastIndexOf(rest.section(' ', 1)) + 1;
            const QPoint at = view->cursorRect(on).center();
            if (verb == "click")
                return QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->mapToGlobal(at));
            QApplication::sendEvent(view->viewport(), &event);
            QMenu *popup = view->findChildren<QMenu *>().last();
            QCOMPARE(popup->actions().first()->text(), "Copy &Link Address");
            popup->actions().first()->trigger();
            popup->close();
        } else if (verb == "chord") {
            QTest::keyPress(QApplication::focusWidget(), Qt::Key_Control);
            QTest::keySequence(QApplication::focusWidget(), QKeySequence::fromString(rest));
            QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Control);
        } else if (step == "close all") {
            for (const auto &window : f.app()->Childs()->NewEnum())
                window->CloseWindow(true);
        } else if (step.endsWith("close frame")) {
            const bool fails = step.startsWith("failing");
            const auto failure = connect(f.app(), &Application::ExitClientStarted, [fails] {
                if (fails)
                    throw VelloqError(VelloqError::InvalidArgument, QStringLiteral("exit failed"));
            });
            QCOMPARE(f.app()->MainWindow()->close(), !fails);
            disconnect(failure);
        } else if (verb == "close") {
            f.window(w)->Form()->SubWindow()->close();
        } else if (verb == "maximise") {
            f.window(w)->Form()->SubWindow()->showMaximized();
        } else if (verb == "server") {
            f.connection().FeedReceived(rest.toUtf8() + "\r\n");
        } else if (verb == "flood") {
            for (int i = 1; i <= rest.section(' ', 1).toInt(); ++i)
                f.window(w)->Echo(QString("line %1").arg(i));
        } else if (verb == "tab") {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            frmChild *form = f.window(w)->Form();
            QCOMPARE(QApplication::focusWidget(), rest.endsWith("output")
                                                      ? static_cast<QWidget *>(form->txtOutput())
                                                      : form->txtInput());
        } else if (verb == "choose") {
            menuTexts(f.app()->MainWindow()->mnuWindow());
            f.app()->MainWindow()->mnuWindow()->actions().at(2 + w)->trigger();
        } else if (verb == "key") {
            QTest::keySequence(QApplication::focusWidget(), QKeySequence::fromString(rest));
        } else if (verb == "title") {
            QMdiSubWindow *sub = f.window(w)->Form()->SubWindow();
            QTest::mouseClick(sub, Qt::LeftButton, {}, QPoint(sub->width() / 2, 8));
        } else if (verb == "view") {
            OutputView *view = f.window(w)->Form()->txtOutput();
            QCOMPARE(view->isAtEnd() && view->caretPosition() == view->textLength(),
                     rest.endsWith("follows"));
        } else if (step == "menu exit") {
            f.app()->MainWindow()->mnuFileExit()->trigger();
        } else {
            QFAIL(qPrintable("unknown step " + step));
        }
    }

private slots:
    // Every test runs as with a screen reader listening.
    void initTestCase() { QAccessible::setActive(true); }

    // No top-level window may outlive a test.
    void cleanup() {
        for (QWidget *w : QApplication::topLevelWidgets())
            QVERIFY2(!w->isVisible(), qPrintable(w->objectName() + " left visible"));
    }

    // Steps (see run()) -> the windows listed in the Window menu ("* " marks a mention), the
    // status window's lines, the active window and its input box ("|" marks the caret). No
    // windows: the client has ended.
    void sessions_data() {
        columns<QStringList, QStringList, QStringList, int, QString, QStringList>(
            {"steps", "windows", "status", "active", "input", "spoken"});
        const QStringList one{"1 - status"}, two{"1 - status", "2 - unused"},
            three{"1 - status", "2 - unused", "3 - unused"};
        const auto row = [](const QString &name, const QString &steps, const QStringList &windows,
                            const QStringList &status = {}, int active = 1, const char *input = "|",
                            const QStringList &spoken = {}) {
            QTest::newRow(qPrintable(name))
                << steps.split("; ") << windows << status << active << QString(input) << spoken;
        };
        // The status window with n lines come in while another window was active.
        const auto status = [](int n) {
            return "1 - status" + (n == 0   ? QString()
                                   : n == 1 ? QString(", 1 new line")
                                            : QString(", %1 new lines").arg(n));
        };
        // Typed into window 2, whose default command is given.
        const auto typed = [&](const char *name, const char *command, const QString &keys,
                               const char *input, const QStringList &lines,
                               const QStringList &spoken = {}) {
            row(name, QString("new; default 2 %1; in 2 ").arg(command) + keys,
                {status(lines.size()), "2 - unused"}, lines, 2, input, spoken);
        };
        typed("a command, with or without its slash", "", "/echo 1 x\necho 1 y\n", "|", {"x", "y"});
        // The empty line only beeps and is not recalled.
        typed("the default command in front, not before a slash", "ECHO 1",
              "hello world\n/echo 1 z\n\n↑", "/echo 1 z|", {"hello world", "z"});
        const QString draft = "/echo 1 a\n/echo 1 b\ndraft←←←";
        typed("Up to the oldest; Down drops edits", "", draft + "↑↑↑x↓", "/echo 1 b|", {"a", "b"});
        typed("Down past the newest: draft and caret", "", draft + "↑↓↓", "dr|aft", {"a", "b"});
        QString numbers;
        for (int i = 1; i <= 51; ++i)
            numbers += QString("%1\n").arg(i);
        // Said: the first line, then three and the count of the others a second later.
        typed("fifty lines kept", "ECHO 2", numbers + QString(60, u'↑'), "2|", {},
              {"1", "2\n3\n4\n46 more lines\n51"});
        const QString closed = "Attempt to close status window!";
        row("a close renumbers; chosen in the menu", "new; new; new; close 2; choose 1", three);
        row("a walk closing every window, the status window stays",
            "new; new; new; new; close all; close 1; in 1 /window close\n", one,
            {closed, closed, "/window close", closed}, 1, "|", {closed, closed + "\n" + closed});
        // Lines from amy name us; no other line does. A screen reader hears a line naming us
        // in another window after that window's name, without its codes, and what came in
        // when the window comes forward; the Window menu counts it.
        const QString welcome = "server :s 001 bob :hi; ", joined = "server :bob!u@h JOIN #c; in 1";
        const QStringList named{"1 - status", "* 2 - #c, 2 new lines, 1 mention"},
            withC{"1 - status", "2 - #c"},
            joinedC{"<- Server(1): [:s 001 bob :hi]", "Joined Channel #c"};
        const QString mentions = welcome + joined +
                                 "; server :amy!a@h PRIVMSG #c :hi \00304,12BOB\003!"
                                 "; server :cy!c@h PRIVMSG #c :bobby [bob] bob_";
        const QStringList heard{joinedC[0], "#c: <amy> hi BOB!", joinedC[1]};
        row("a line naming us marks an inactive window", mentions, named, joinedC, 1, "|", heard);
        row("activating clears the mark", mentions + "; in 2", withC, joinedC, 2, "|",
            {heard[0], heard[1], "2 - #c, 2 new lines, 1 mention", heard[2]});
        const QString nick513(513, u'n');
        row("a nick longer than any server allows is not ours",
            "server :s 001 " + nick513 + " :hi; server :x!u@h JOIN #c; in 1; server :cy!c@h " +
                "PRIVMSG #c :" + nick513,
            {"1 - status", "2 - #c, 1 new line"},
            {"<- Server(1): [:s 001 " + nick513 + " :hi]", "Joined Channel #c"}, 1, "|",
            {"<- Server(1): [:s 001 " + nick513 + " :hi]", "Joined Channel #c"});
        row("a report in the active window is said, the typed line not", "new; in 2 /echo 2 x\n",
            two, {}, 2, "|", {"x"});
        // The first line at once, then a few a second and how many were left out; nothing from
        // a window not active.
        row("a flood is said in part, and its newest line", "new; in 2; flood 1 5; flood 2 20",
            {status(5), "2 - unused"}, {"line 1", "line 2", "line 3", "line 4", "line 5"}, 2, "|",
            {"line 1", "line 2\nline 3\nline 4\n15 more lines\nline 20"});
        // Answers in the status window are said from another window, after its name; chatter
        // is not, even right after a command. Find says the line found.
        const QString answers = "server :s 433 bob alice :Nickname is already in use; server "
                                ":amy!a@h NOTICE bob :psst; server :amy!a@h JOIN #x; server "
                                ":s 372 bob :- motd; asked; server :s 311 bob amy a h * :Amy";
        row("answers are said", welcome + "new; in 2 /quote WHOIS amy\n; " + answers,
            {status(6), "2 - unused"},
            {"<- Server(1): [:s 001 bob :hi]", "QUOTE: not connected",
             "<- Server(1): [:s 433 bob alice :Nickname is already in use]",
             "<- Server(1): [:amy!a@h NOTICE bob :psst]", "<- Server(1): [:amy!a@h JOIN #x]",
             "<- Server(1): [:s 372 bob :- motd]", "<- Server(1): [:s 311 bob amy a h * :Amy]"},
            2, "|",
            {"<- Server(1): [:s 001 bob :hi]",
             "status: QUOTE: not connected\nstatus: alice Nickname is already in use\nstatus: "
             "-amy- psst\nstatus: amy a h * Amy"});
        row("find says the line found",
            "new; in 2; flood 2 3; chord Ctrl+F; keys e 2\n; keys x\n; chord Escape", two, {}, 2,
            "|", {"line 1", "line 2", "not found", "line 2\nline 3"});
        row("Tab to the output and back", "new; new; in 2; tab 2 output; tab 2 input", three, {},
            2);
        // A window that comes forward has the focus in its input, wherever it was before.
        row("forward with the focus in the input",
            "new; new; in 2; tab 2 output; chord Ctrl+Tab; chord Ctrl+Shift+Backtab; tab 2 output; "
            "choose 3; choose 2; tab 2 output; title 3; title 2",
            three, {}, 2);
        // Following the end again: after Return, a find that started there, a page down to the
        // bottom; a click on a link leaves it; a click elsewhere, Page Up, a find from there not.
        row("the view follows again",
            "new; default 2 ECHO 2; flood 2 30; click 2 line 25; flood 2 5; view 2 stays; chord "
            "Ctrl+F; key 1; key Return; key Escape; view 2 stays; in 2 see irc://irc.invalid/#c\n; "
            "view 2 follows; chord Ctrl+F; key Return; key Escape; view 2 follows; tab 2 output; "
            "click 2 irc:; "
            "view 2 follows; in 2 ⇞; flood 2 3; view 2 stays; in 2 ⇟⇟; view 2 follows",
            two, {}, 2, "|", {"line 1"});
        row("CLEAR keeps the history, CLOSE", "new; in 1 /echo 1 a\n/clear\n↑; in 2 /close\n", one,
            {}, 1, "/clear|", {"a"});
        row("Ctrl+Tab wraps", "new; new; in 3; chord Ctrl+Tab", three, {}, 1);
        row("Ctrl+Shift+Tab wraps", "new; new; in 1; chord Ctrl+Shift+Backtab", three, {}, 3);
        // Some input methods send Tab, not Backtab, with Shift held.
        row("Ctrl+Shift with plain Tab", "new; new; in 2; chord Ctrl+Shift+Tab", three, {}, 1);
        // Pasted lines are text for the default command, a "/" line too; the line the user had
        // started is entered as typed. Empty lines are left out.
        row("a paste of several lines, empty ones left out",
            "new; default 2 ECHO 1; in 2 /echo 1 ; paste 2 a⏎⏎/echo 1 b\r\n\rc⏎; in 2 \n↑",
            {status(3), "2 - unused"}, {"a", "/echo 1 b", "c"}, 2, "/echo 1 a|");
        // More than five lines: asked first (the status window shows what a screen reader reads
        // of the question); they go on Send, without Return. Escape and Return (Cancel is the
        // default) leave the input box as it was.
        const QString asked = "Send pasted lines: Send 6 lines to window 2? At one line every 2 s "
                              "this takes about 12 seconds.";
        row("a long paste is sent on Send",
            "new; default 2 ECHO 1; answer Send; paste 2 1⏎2⏎3⏎4⏎5⏎/quit",
            {status(7), "2 - unused"}, {asked, "1", "2", "3", "4", "5", "/quit"}, 2);
        row("a long paste is not sent on Escape or Return",
            "new; default 2 ECHO 1; in 2 ab←; answer Escape; paste 2 1⏎2⏎3⏎4⏎5⏎6; answer "
            "Return; paste 2 1⏎2⏎3⏎4⏎5⏎6",
            {status(2), "2 - unused"}, {asked, asked}, 2, "a|b");
        const QString link = "in 1 /echo 1 see irc://irc.invalid/#c.\n";
        row("a link with nothing to open it", link + "; click 1 irc:; in 1", one,
            {"/echo 1 see irc://irc.invalid/#c.", "see irc://irc.invalid/#c.",
             "Could not open link: irc://irc.invalid/#c"},
            1, "|", {"see irc://irc.invalid/#c.", "Could not open link: irc://irc.invalid/#c"});
        // Return in the output only goes back to the input; a paste there goes into the input.
        row("Copy Link Address",
            link + "; context 1 irc:; in 1 x; tab 1 output; key Return; tab 1 "
                   "output; chord Ctrl+V; tab 1 output; key Shift+Ins",
            one, {"/echo 1 see irc://irc.invalid/#c.", "see irc://irc.invalid/#c."}, 1,
            "xirc://irc.invalid/#circ://irc.invalid/#c|", {"see irc://irc.invalid/#c."});
        row("a failing exit keeps the client", "failing close frame; in 1 /echo 1 on\n", one,
            {"Error 5: exit failed", "/echo 1 on", "on"}, 1, "|", {"Error 5: exit failed", "on"});
        // A channel window is named after its channel, opens behind the current window, says
        // when it is not joined, and is renamed with its number; so is the maximised frame.
        const QString chat = "server :s 001 me :hi; server :me!u@h JOIN :#room; server "
                             ":me!u@h JOIN :#chat";
        const QStringList joins{"<- Server(1): [:s 001 me :hi]", "Joined Channel #room",
                                "Joined Channel #chat"},
            kicked =
                joins + QStringList{"Kicked from Channel #chat by op (out)", "Left Channel #chat"},
            // The first line at once, the next three a moment later, and the rest counted.
            saidInStatus{joins[0], QStringList(kicked.mid(1)).join('\n')};
        row("channel windows", chat + "; server :op!u@h KICK #chat me :out; new",
            {"1 - status", "2 - #room", "3 - #chat (not joined), 1 new line", "4 - unused"}, kicked,
            4, "|", saidInStatus);
        row("renamed while maximised",
            chat + "; in 3; maximise 3; close 2; server :op!u@h KICK "
                   "#chat me :out",
            {status(2), "2 - #chat (not joined)"}, kicked, 2, "|",
            {joins[0], kicked[3], joins[1] + "\n" + joins[2]});
        row("joined again",
            chat + "; server :op!u@h KICK #chat me :out; in 3; maximise 3; server "
                   ":me!u@h JOIN :#chat",
            {status(1), "2 - #room", "3 - #chat"}, kicked + QStringList{"Joined Channel #chat"}, 3,
            "|", {saidInStatus[0], "3 - #chat (not joined), 1 new line", saidInStatus[1]});
        row("EXIT", "new; in 2 /exit\n", {});
        row("EXIT with arguments", "new; in 1 /EXIT now please\n", {});
        row("File menu Exit", "new; menu exit", {});
        row("main window close box", "new; close frame", {});
    }

    // The menu lists the windows under Tile and Cascade however often it opens, each box is
    // named for its window, and the active window has the keyboard focus.
    void sessions() {
        heard.clear();
        QFETCH(QStringList, windows);
        QFETCH(int, active);
        QFETCH(QString, input);
        AppFixture f;
        QPointer<frmMain> frame = f.app()->MainWindow();
        frame->show();
        QVERIFY(QTest::qWaitForWindowActive(frame));
        QSignalSpy exits(f.app(), &Application::ExitClientStarted);
        QFETCH(QStringList, steps);
        for (const QString &step : steps) {
            hear(f);
            run(f, step);
        }
        if (windows.isEmpty()) { // ExitClient ran once and took every window with it
            QCOMPARE(exits.size(), 1);
            QVERIFY(!f.running());
            QTRY_VERIFY(frame.isNull()); // and every window in it
            return;
        }
        QTEST(f.status(), "status");
        QFETCH(QStringList, spoken);
        QTRY_COMPARE_WITH_TIMEOUT(heard, spoken, 2 * Announcer::Interval);
        const QStringList head{"&Tile", "&Cascade", "---"};
        QCOMPARE(menuTexts(frame->mnuWindow()), head + windows);
        QCOMPARE(menuTexts(frame->mnuWindow()), head + windows);
        // After a burst of opens the newest window becomes active in the next turn.
        QTRY_COMPARE(frame->mdiArea()->activeSubWindow(), f.window(active)->Form()->SubWindow());
        QTRY_COMPARE(QApplication::focusWidget(), box(f, active));
        const QMdiSubWindow *current = frame->mdiArea()->activeSubWindow();
        QCOMPARE(frame->windowTitle(),
                 current->isMaximized()
                     ? modMain::GetVersionTitle() + " - [" + current->windowTitle() + "]"
                     : modMain::GetVersionTitle());
        QCOMPARE(box(f, active)->text().insert(box(f, active)->cursorPosition(), '|'), input);
        for (int i = 1; i <= windows.size(); ++i) {
            static const QRegularExpression marks("^\\* |, \\d+ new lines?.*$");
            const QString caption = windows[i - 1].remove(marks);
            frmChild *form = f.window(i)->Form();
            QVERIFY(form->SubWindow()->isVisible());
            QCOMPARE(a11y(form->txtInput())->text(QAccessible::Name), "Input, " + caption);
            QCOMPARE(a11y(form->txtOutput())->text(QAccessible::Name), "Output, " + caption);
            QVERIFY(a11y(form->txtOutput())->state().readOnly);
            QVERIFY(!a11y(form->txtInput())->state().readOnly);
            // Lines naming the user are drawn marked, and no others.
            OutputView *output = form->txtOutput();
            const QImage drawn = output->viewport()->grab().toImage();
            for (qsizetype l = 0; l < f.lines(i).size(); ++l) {
                const bool mention = f.lines(i)[l].startsWith("<amy> ");
                QCOMPARE(output->isMention(l), mention);
                const QRect row = output->cursorRect(output->lineStartPosition(l));
                if (row.isEmpty() && !mention) // scrolled out of sight
                    continue;
                bool marked = false;
                for (int y = row.top(); y <= row.bottom() && !marked; ++y)
                    for (int x = 0; x < drawn.width() && !marked; ++x)
                        marked = drawn.pixel(x, y) == qRgb(0xff, 0xf0, 0xa0);
                QCOMPARE(marked, mention);
            }
        }
    }

    // Lines appended (every hundredth marked as a mention, one selected as it comes) with the
    // default budget or a small one -> read back by index, by position and as a whole. Over the
    // budget the oldest pages go and the first line says how many lines went; nothing else is
    // lost, and marks and the selection stay with their lines.
    void storesAndJoins_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<qsizetype>("budget");
        // Many pages: full pages are kept compressed and read back through a small cache; pages
        // end by size, by line count (the run of empty lines) and by a line larger than a page.
        // The first lines hold lone surrogates, and breaks, NUL and DEL inside a line.
        QStringList noise, chat{QString(QChar(0xD800)) + "x" + QChar(0xDC00),
                                "a\r\nb\nc\u2028d\u2029", QString(QChar(0)) + "\x7f\u0085"};
        for (qsizetype i = chat.size(); i < 20000; ++i)
            chat << (i >= 3000 && i < 8000 ? "" : QString("<n%1> café 你😀 %2").arg(i % 97).arg(i));
        chat[9000] = QString(100000, u'w');
        QTest::newRow("compressed pages") << chat << qsizetype(0);
        for (int i = 0; i < 20000; ++i)
            noise << QString(i % 7 ? "" : "\002\0034,5") +
                         QCryptographicHash::hash(QByteArray::number(i), QCryptographicHash::Sha512)
                             .toBase64();
        QTest::newRow("three times a small budget") << noise << qsizetype(512 * 1024);
        // What the store holds besides the text counts too: the lines' ends, the pages.
        for (const QString &line : {QString(), QString("a"), QString(40, u'r')})
            QTest::newRow(qPrintable("three times a budget of lines \"" + line + "\""))
                << QStringList(250000, line) << qsizetype(1 << 20);
    }

    void storesAndJoins() {
        QFETCH(QStringList, lines);
        QFETCH(qsizetype, budget);
        OutputView view;
        if (budget)
            view.setStoreBudget(budget);
        QAccessibleTextInterface *reader = a11y(&view)->textInterface();
        const qsizetype selected = lines.size() - 1000;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            view.appendLine(lines.at(i));
            if (i == 10) // a screen reader reads from the start on, and after each drop
                QVERIFY(reader->characterCount() > 0);
            if (i % 100 == 0)
                view.markLastLineAsMention();
            if (i == selected)
                view.setSelection(view.lineStartPosition(view.lineCount() - 1), lines.at(i).size());
        }
        qsizetype dropped = 0;
        if (budget) {
            const QRegularExpression notice("^\\((\\d{1,3}(,\\d{3})*) earlier lines dropped\\)$");
            const QRegularExpressionMatch match = notice.match(view.line(0));
            QVERIFY2(match.hasMatch(), qPrintable(view.line(0)));
            dropped = match.captured(1).remove(',').toLongLong();
            // What the store holds fits the budget, and fills it but for the room kept for the
            // cache and the page being filled, and the page-sized step of a drop.
            QVERIFY2(view.storedBytes() <= budget + budget / 100 &&
                         view.storedBytes() > budget - 7 * 64 * 1024,
                     qPrintable(QString::number(view.storedBytes())));
            lines = QStringList{view.line(0)} + lines.mid(dropped);
        }
        const auto original = [&](qsizetype l) {
            return budget ? dropped + l - 1 : l;
        };
        const QString all = lines.join("\r\n");
        QCOMPARE(view.lineCount(), lines.size());
        for (int i = 0; i < lines.size(); ++i) {
            QCOMPARE(view.line(i), lines.at(i));
            QCOMPARE(view.isMention(i), (!budget || i > 0) && original(i) % 100 == 0);
        }
        QCOMPARE(view.selectedText(), lines.at(budget ? selected - dropped + 1 : selected));
        // Back from the end, a page further at every step: cached pages give way to others.
        for (qsizetype i = lines.size() - 1; i >= 0; i -= 1009) {
            QCOMPARE(view.line(i), lines.at(i));
            const qsizetype start = view.lineStartPosition(i);
            QCOMPARE(all.mid(start, lines.at(i).size()), lines.at(i));
            QCOMPARE(view.lineAtPosition(start), i);
        }
        QCOMPARE(view.toPlainText(), all);
        QCOMPARE(view.textLength(), all.size());
        QString read;
        for (const QString &line : lines)
            read += AccessibleText::readable(line) + '\n';
        QCOMPARE(reader->text(0, reader->characterCount()), read);
        for (qsizetype start : {qsizetype(0), all.size() / 3, all.size() - 3})
            QCOMPARE(view.textRange(start, 100037), all.mid(start, 100037));
    }

    // Lines "héllo world", "", "second", "last", "the \002SEC\00304ond\003", a message that wraps
    // onto several rows (Long), "x😀y", "e\u0301t", "\002\003": a selection set (from, length),
    // then keys or a find ("find [back] text") -> the selection and the text it copies, lines
    // ended by LF. A find goes round, ignores case and a colour's digits, and moves nothing when it
    // finds nothing. Up and Down go by message. Or a screen reader reads ("read S E",
    // "line|word|char O", in its offsets, of "héllo world\n\nsecond\nlast\nthe SECond\n" + Long +
    // "\nx😀y\ne\u0301t\n\n") -> the text it gets; or sets the caret ("caret O": the text is the
    // character it then reads there) or a selection ("select|add S E"). Or 500 new lines come
    // ("follow").
    void selectionAndKeys_data() {
        columns<qsizetype, qsizetype, QString, qsizetype, qsizetype, QString>(
            {"from", "length", "action", "start", "selected", "text"});
        const auto row = [](const char *name, qsizetype from, qsizetype length, const char *action,
                            qsizetype start, qsizetype selected, const QString &text = "") {
            QTest::newRow(name) << from << length << QString(action) << start << selected
                                << QString(text);
        };
        row("across breaks", 9, 8, "", 9, 8, "ld\n\nse");
        row("backwards", 17, -4, "", 13, 4, "\nse");
        row("half a break", 12, 2, "", 12, 2, "\n\n");
        row("clamped", -5, 1000, "", 0, 366,
            "héllo world\n\nsecond\nlast\nthe SECond\n" + Long + "\nx😀y\ne\u0301t\n");
        row("Ctrl+End", 0, 0, "Ctrl+End", 366, 0);
        row("Up from a wrapped row to the message before", 351, 0, "Home,Up", 29, 0);
        row("Down from a message to the next, past its rows", 29, 0, "Down,Down", 353, 0);
        row("new lines followed from the end", 366, 0, "follow", 2866, 0);
        row("new lines keep a selection and the view", 9, 8, "follow", 9, 8, "ld\n\nse");
        row("Right over a break", 11, 0, "Right", 13, 0);
        row("Left over a break", 13, 0, "Left", 11, 0);
        row("Shift+End", 2, 0, "Shift+End", 2, 9, "llo world");
        row("Down keeps the column", 17, 0, "Down", 25, 0);
        row("Shift+Up", 25, 0, "Shift+Up", 17, 8, "cond\nla");
        row("Ctrl+Right", 0, 0, "Ctrl+Right", 6, 0);
        row("find back over case and codes", 44, 0, "find back second", 34, 9, "SECond");
        row("find goes round from the end", 44, 0, "find second", 15, 6, "second");
        row("find back goes round from the start", 10, 0, "find back SECOND", 34, 9, "SECond");
        row("a colour's digits are not found", 17, 2, "find 04ond", 17, 2, "co");
        row("selected from inside a colour's digits", 38, 3, "", 38, 3, "o");
        row("selected to inside a colour's digits", 33, 6, "", 33, 6, "SEC");
        row("Left over a colour code", 40, 0, "Left", 36, 0);
        row("read over a colour's digits", 0, 0, "read 27 33", 0, 0, "e SECo");
        row("read from the code on", 0, 0, "read 29 36", 0, 0, "SECond\n");
        row("read across lines", 0, 0, "read 14 30", 0, 0, "econd\nlast\nthe S");
        row("the line of a coloured word", 0, 0, "line 32", 0, 0, "the SECond\n");
        row("a coloured word", 0, 0, "word 31", 0, 0, "SECond");
        row("a wrapped message is one line", 0, 0, "line 236", 0, 0, Long + "\n");
        row("the last character, of a line of codes only", 0, 0, "char 351", 0, 0, "\n");
        row("a surrogate pair is one character", 0, 0, "char 343", 0, 0, "😀");
        row("a combining mark goes with its letter", 0, 0, "char 347", 0, 0, "e\u0301");
        row("caret set after a colour's digits", 0, 0, "caret 32", 40, 0, "o");
        row("caret set after a combining mark", 0, 0, "caret 349", 361, 0, "t");
        row("caret set on a line of codes only", 0, 0, "caret 351", 366, 0, "\n");
        row("selection set over codes", 0, 0, "select 29 35", 34, 10, "SECond");
        row("selection added between codes", 0, 0, "add 30 33", 35, 6, "ECo");
        row("selection set over a surrogate pair", 0, 0, "select 343 345", 354, 2, "😀");
    }

    void selectionAndKeys() {
        QFETCH(qsizetype, from);
        QFETCH(qsizetype, length);
        QFETCH(QString, action);
        OutputView view;
        for (const QString &line :
             QStringList{"héllo world", "", "second", "last", "the \002SEC\00304ond\003", Long,
                         "x😀y", "e\u0301t", "\002\003"})
            view.appendLine(line);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.setSelection(from, length);
        QAccessibleTextInterface *reader = a11y(&view)->textInterface();
        const auto at = [&](int offset, QAccessible::TextBoundaryType type) {
            int start = -1, end = -1;
            return reader->textAtOffset(offset, type, &start, &end);
        };
        const QStringList verb = action.split(' ');
        QString read;
        if (verb[0] == "find")
            view.find(verb.last(), verb[1] == "back");
        else if (verb[0] == "read")
            read = reader->text(verb[1].toInt(), verb[2].toInt());
        else if (verb[0] == "caret") {
            reader->setCursorPosition(verb[1].toInt());
            read = at(reader->cursorPosition(), QAccessible::CharBoundary);
        } else if (verb[0] == "select" || verb[0] == "add")
            verb[0] == "add" ? reader->addSelection(verb[1].toInt(), verb[2].toInt())
                             : reader->setSelection(0, verb[1].toInt(), verb[2].toInt());
        else if (verb[0] == "follow") { // 500 new lines: followed from the end only
            for (int i = 0; i < 500; ++i)
                view.appendFollowing("new");
            QCoreApplication::processEvents();
            QCOMPARE(view.isAtEnd(), from == 366 && length == 0);
            QCOMPARE(view.firstVisibleLine() == 0, !view.isAtEnd()); // the lines fit at the top
        } else if (verb.size() == 2)
            read = at(verb[1].toInt(), verb[0] == "line"   ? QAccessible::LineBoundary
                                       : verb[0] == "word" ? QAccessible::WordBoundary
                                                           : QAccessible::CharBoundary);
        else
            QTest::keySequence(&view, QKeySequence::fromString(action));
        QTEST(view.selectionStart(), "start");
        QTEST(view.selectionLength(), "selected");
        QTEST(read.isNull() ? view.selectedText() : read, "text");
        // A screen reader gets the selection as copied.
        int start = 0, end = 0;
        reader->selection(0, &start, &end);
        QCOMPARE(reader->text(start, end), view.selectedText());
    }

    // Stored line (codes in octal: \002 bold, \003 colour, \004 hex colour, \017 reset, \021 mono,
    // \026 reverse, \035 italic, \036 strike, \037 underline) -> the text drawn, each unit of a
    // code as "·" (empty: the stored line itself; without the "·" it is what is copied), its
    // styled runs ("start+length flags", positions in the copied text, then the links found in
    // it) and whether it names the nick.
    void formatting_data() {
        columns<QString, QString, QString, bool, QString>(
            {"stored", "drawn", "runs", "mention", "nick"});
        const auto row = [](const char *name, const QString &stored, const QString &drawn,
                            const char *runs, bool mention = false, const QString &nick = "bob") {
            QTest::newRow(name) << stored << (drawn.isEmpty() ? stored : drawn) << QString(runs)
                                << mention << nick;
        };
        row("styles", "\035i\035\037u\037\036s\036\021m\021\026r", "·i··u··s··m··r",
            "0+1 i; 1+1 u; 2+1 s; 3+1 m; 4+1 r");
        row("reset ends all, codes at the end", "\002\035\0034ab\017c\002\003", "····ab·c··",
            "0+2 b i fg#ff0000");
        row("bg stays for a new fg", "\0034,2a\0035b", "····a··b",
            "0+1 fg#ff0000 bg#00007f; 1+1 fg#7f0000 bg#00007f");
        row("extended table, 99, three digits", "\00352x\00398z\00399b\003123", "···x···z···b···3",
            "0+1 fg#ff0000; 1+1 fg#ffffff; 3+1 fg#0000fc");
        row("no fg: the comma is text", "\0034a\003,5x", "··a·,5x", "0+1 fg#ff0000");
        row("hex, short hex is text", "\004ff8800,000000o\004FF00 x", "··············o·FF00 x",
            "0+1 fg#ff8800 bg#000000");
        row("controls, separators and lone surrogates visible",
            QString("\002a") + QChar(0) + "\r\n\t\001\x7f\u0085\u2028\u2029" + QChar(0xDC00) +
                QChar(0xD800) + "\U0001F600\u4f60",
            "·a\u2400\u240d\u240a\u2409\u2401\u2421\ufffd\ufffd\ufffd\ufffd\ufffd\U0001F600\u4f60",
            "0+15 b");
        row("links: a sentence's end, brackets, www and irc",
            "see http://a.org/x. https://w.org/F_(b)), www.ex.com, irc://irc.x.net/#c", "",
            "http://a.org/x; https://w.org/F_(b); http://www.ex.com; irc://irc.x.net/#c");
        row("links: brackets around, quotes, case", "(a HTTP://X.org/a_(b)_c). 'www.q.org/' ", "",
            "HTTP://X.org/a_(b)_c; http://www.q.org/");
        row("links: only ) and punctuation after them",
            "http://x)))).,;:!?'" + QString(99, ')') + " http://(x)) http://.) www.a.b", "",
            "http://x; http://(x); http://www.a.b");
        row("not links", "ftp://a.org mailto:a@b xhttp://a.org http:// x", "", "");
        row("a code ends a link", "\037https://a.org\037/b", "·https://a.org·/b",
            "0+13 u; https://a.org");
        row("named in other case, in codes", "hi \002BOB!\002", "hi ·BOB!·", "3+4 b", true);
        row("in a word, nick characters", "bobby mybob bob_ [bob] {bob} b0b", "", "");
        row("named first", "Bob: hi", "", "", true);
        row("named last, after non-ASCII text", "héllo bob", "", "", true);
        row("a non-ASCII letter is part of the word", "héllo bobé ébob", "", "");
        row("a non-ASCII nick in other case", "hi JÜRGEN, hi", "", "", true, "jürgen");
        row("a nick outside the BMP in other case", "\U00010428x!", "", "", true, "\U00010400X");
        row("letters outside the BMP join a word", "\U0001D400bob bob\U0001D7CE", "", "");
        row("a sign outside the BMP ends a word", "\U0001F600bob", "", "", true);
        row("a long nick after its own beginning", "x.x.x.x.x.x.x.x.x.x.x.x.x.x.x.x.x.x.x.y", "",
            "", true, "x.x.x.x.x.x.x.x.x.x.x.x.x.x.x.x.x.y");
        row("a long nick inside a word", "ax.x.x.x.x.x.x.x.x.x.x.x.x.x.x.x.x.x.y", "", "", false,
            "x.x.x.x.x.x.x.x.x.x.x.x.x.x.x.x.x.x.y");
        row("a nick longer than the line", "bob", "", "", false, "bobby");
    }

    void formatting() {
        QFETCH(QString, stored);
        QFETCH(QString, drawn);
        QFETCH(QString, nick);
        const IrcFormat::Line line = IrcFormat::parse(stored);
        QCOMPARE(QString(line.text).replace(QChar(IrcFormat::Hidden), u'·'), drawn);
        const QString plain = QString(drawn).remove(u'·');
        QCOMPARE(IrcFormat::plain(line.text), plain);
        const auto at = [&drawn](qsizetype d) {
            return d - drawn.left(d).count(u'·');
        };
        QStringList runs;
        for (const IrcFormat::Run &run : line.runs) {
            const IrcFormat::Style &st = run.style;
            const qsizetype from = at(run.start), to = at(run.start + run.length);
            QString d = QString("%1+%2").arg(from).arg(to - from);
            const bool flags[] = {st.bold, st.italic, st.underline, st.strike, st.mono, st.reverse};
            for (int k = 0; k < 6; ++k)
                d += flags[k] ? QString(" ") + "biusmr"[k] : QString();
            runs << d + (st.fg.isValid() ? " fg" + st.fg.name() : "") +
                        (st.bg.isValid() ? " bg" + st.bg.name() : "");
        }
        for (const IrcFormat::Link &link : IrcFormat::links(line.text))
            runs << link.url;
        QTEST(runs.join("; "), "runs");
        QTEST(IrcFormat::mentions(stored, nick), "mention");
        OutputView view; // copied and read alike
        view.appendLine(stored);
        view.appendLine("next");
        QCOMPARE(a11y(&view)->textInterface()->text(0, -1), plain + "\nnext\n");
        view.selectAll();
        view.copy();
        QCOMPARE(QGuiApplication::clipboard()->text(), plain + "\nnext");
    }
};

QTEST_MAIN(tst_Windows)
#include "tst_windows.moc"
