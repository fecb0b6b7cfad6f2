// The command interpreter, driven through the real input boxes, while connection 1 is not
// connected: every report text and every rejection.

#include "app/Application.h"
#include "support/AppFixture.h"
#include "windows/Childs.h"

#include <QTest>

class tst_Commands : public QObject {
    Q_OBJECT
private slots:
    void reports_data();
    void reports();
    void windowCommands();
};

// windows: how many windows are open; from: the window the line is typed in. expect* give the
// lines each window holds afterwards, the typed line itself included where it lands.
void tst_Commands::reports_data() {
    QTest::addColumn<int>("windows");
    QTest::addColumn<int>("from");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("status");
    QTest::addColumn<QStringList>("window2");

    const QStringList none;
    QTest::newRow("empty command")
        << 1 << 1 << "/" << QStringList{"/", "Empty command given. []"} << none;
    QTest::newRow("blank command")
        << 1 << 1 << "/   " << QStringList{"/   ", "Empty command given. [   ]"} << none;
    QTest::newRow("unknown keyword")
        << 1 << 1 << "/MS #a hi" << QStringList{"/MS #a hi", "Unknown command: \"MS\" [MS #a hi]"}
        << none;
    QTest::newRow("unknown keeps case")
        << 2 << 2 << "/fOo bar" << none
        << QStringList{"/fOo bar", "Unknown command: \"fOo\" [fOo bar]"};
    QTest::newRow("plain text in status window is QUOTE")
        << 1 << 1 << "NICK me" << QStringList{"NICK me", "QUOTE: not connected"} << none;
    for (const char *cmd : {"MSG", "NOTICE", "QUOTE", "SERVER", "WINDOW"}) {
        const QString line = QString("/%1").arg(QString(cmd).toLower());
        QTest::newRow(qPrintable(QString("%1 without arguments").arg(cmd)))
            << 1 << 1 << line
            << QStringList{line, QString("Unknown command: \"%1\" [%1]").arg(line.mid(1))} << none;
    }
    QTest::newRow("DISCONNECT with argument")
        << 1 << 1 << "/disconnect now"
        << QStringList{"/disconnect now", "Unknown command: \"disconnect\" [disconnect now]"}
        << none;
    QTest::newRow("DISCONNECT not connected")
        << 2 << 2 << "/DISCONNECT" << QStringList{"DISCONNECT: not connected"}
        << QStringList{"/DISCONNECT"};
    QTest::newRow("QUIT not connected goes to status")
        << 2 << 2 << "/quit bye" << QStringList{"QUIT: not connected"} << QStringList{"/quit bye"};
    QTest::newRow("QUOTE not connected goes to status")
        << 2 << 2 << "/quote PRIVMSG x :y" << QStringList{"QUOTE: not connected"}
        << QStringList{"/quote PRIVMSG x :y"};
    QTest::newRow("MSG not connected stays in its window")
        << 2 << 2 << "/msg #a hi" << none << QStringList{"/msg #a hi", "MSG: not connected"};
    QTest::newRow("NOTICE not connected stays in its window")
        << 2 << 2 << "/NoTiCe bob hi" << none
        << QStringList{"/NoTiCe bob hi", "NOTICE: not connected"};
    QTest::newRow("ECHO alone writes an empty line")
        << 2 << 2 << "/echo" << none << QStringList{"/echo", ""};
    QTest::newRow("ECHO into window 2")
        << 2 << 1 << "/echo 2 hi there" << QStringList{"/echo 2 hi there"}
        << QStringList{"hi there"};
    QTest::newRow("ECHO out of range from the user stays here")
        << 1 << 1 << "/echo 2 hi there" << QStringList{"/echo 2 hi there", "hi there"} << none;
    QTest::newRow("ECHO out of range from another window stays there")
        << 2 << 2 << "/echo 5 hi" << none << QStringList{"/echo 5 hi", "hi"};
    QTest::newRow("SERVER without a port takes 6667")
        << 1 << 1 << "/server 127.0.0.1"
        << QStringList{"/server 127.0.0.1", "Connecting to Server 127.0.0.1, Port 6667..."} << none;
    QTest::newRow("ECHO word designator is dropped")
        << 1 << 1 << "/echo hi there" << QStringList{"/echo hi there", "there"} << none;
    QTest::newRow("ECHO 0 is the current window")
        << 2 << 2 << "/echo 0 hi" << none << QStringList{"/echo 0 hi", "hi"};
    QTest::newRow("ECHO keeps quotes")
        << 1 << 1 << "/echo 1 say \"a  b\" \""
        << QStringList{"/echo 1 say \"a  b\" \"", "say \"a  b\" \""} << none;
    QTest::newRow("ECHO huge number is a word")
        << 2 << 1 << "/echo 99999999999 x" << QStringList{"/echo 99999999999 x", "x"} << none;
    QTest::newRow("SERVER invalid port")
        << 2 << 2 << "/server localhost 70000" << none
        << QStringList{"/server localhost 70000", "SERVER: invalid port 70000"};
    QTest::newRow("SERVER port word")
        << 1 << 1 << "/server localhost abc"
        << QStringList{"/server localhost abc", "SERVER: invalid port abc"} << none;
    QTest::newRow("WINDOW unknown subcommand")
        << 1 << 1 << "/window foo"
        << QStringList{"/window foo", "Unknown command: \"window\" [window foo]"} << none;
    QTest::newRow("WINDOW CLOSE not a number")
        << 1 << 1 << "/window close x"
        << QStringList{"/window close x", "Unknown command: \"window\" [window close x]"} << none;
    QTest::newRow("WINDOW CLOSE out of range")
        << 2 << 1 << "/window close 9"
        << QStringList{"/window close 9", "Unknown command: \"window\" [window close 9]"} << none;
}

void tst_Commands::reports() {
    QFETCH(int, windows);
    QFETCH(int, from);
    QFETCH(QString, typed);
    QFETCH(QStringList, status);
    QFETCH(QStringList, window2);
    AppFixture f;
    for (int i = 1; i < windows; ++i)
        f.app()->Childs()->Add();
    f.type(from, typed);
    QCOMPARE(f.status(), status);
    if (windows >= 2)
        QCOMPARE(f.lines(2), window2);
}

void tst_Commands::windowCommands() {
    AppFixture f;
    f.type(1, "/window new extra words");
    f.type(1, "/WINDOW NEW");
    QCOMPARE(f.windowCount(), 3);
    f.type(1, "/window close 2");
    QCOMPARE(f.windowCount(), 2);
    QCOMPARE(f.window(2)->Caption(), QString("2 - unused"));
    f.type(2, "/window close 0");
    QCOMPARE(f.windowCount(), 1);
    f.app()->Childs()->Add();
    // Not from the user: 0 designates no window.
    QVERIFY(!f.app()->ProcessCommand("WINDOW CLOSE 0", false, 2));
    QVERIFY(f.app()->ProcessCommand("WINDOW CLOSE", false, 2));
    QCOMPARE(f.windowCount(), 1);
}

QTEST_MAIN(tst_Commands)
#include "tst_commands.moc"
