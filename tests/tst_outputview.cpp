// The output box: the line store, selection and keys, following the end, and how formatting
// codes, control characters and links are drawn.

#include "windows/outputview/IrcFormat.h"
#include "windows/outputview/OutputView.h"

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>
#include <memory>

namespace {

QStringList numbered(int count, const QString &prefix = QStringLiteral("line ")) {
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines << prefix + QString::number(i);
    return lines;
}

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

class tst_OutputView : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QVERIFY(QApplication::topLevelWidgets().isEmpty()); }

    void storesAndJoins_data();
    void storesAndJoins();
    void selection_data();
    void selection();
    void keyboard_data();
    void keyboard();
    void appendKeepsScrolledUpViewAndSelection();
    void copyAndFind();
    void displayText_data();
    void displayText();
    void formatting_data();
    void formatting();
    void mentions_data();
    void mentions();
};

void tst_OutputView::storesAndJoins_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("two") << QStringList{QStringLiteral("a"), QStringLiteral("bc")};
    QTest::newRow("empty lines") << QStringList{QString(), QString(), QString()};
    QTest::newRow("non-BMP and lone surrogates")
        << QStringList{QStringLiteral("a\U0001F600b"),
                       QString(QChar(0xD800)) + QStringLiteral("x") + QChar(0xDC00)};
    QTest::newRow("breaks, NUL and DEL inside a line") << QStringList{
        QStringLiteral("a\r\nb\nc\u2028d\u2029"), QString(QChar(0)) + QStringLiteral("\x7f\u0085")};
    // Many pages: full pages are kept compressed and read back through a small cache; pages end
    // by size, by line count (the run of empty lines) and by a line larger than a page.
    QStringList chat, noise;
    quint32 seed = 1;
    for (int i = 0; i < 20000; ++i) {
        chat << (i >= 3000 && i < 8000
                     ? QString()
                     : QStringLiteral("<n%1> caf\u00e9 \u4f60\U0001F600 %2").arg(i % 97).arg(i));
        if (i < 3000) {
            QString line;
            for (int c = 0; c < 80; ++c) {
                seed = seed * 1103515245 + 12345;
                line += QChar(char16_t(0x21 + (seed >> 16) % 94));
            }
            noise << line;
        }
    }
    chat[9000] = QString(100000, QLatin1Char('w'));
    QTest::newRow("compressed pages") << chat;
    QTest::newRow("pages that do not compress") << noise;
}

void tst_OutputView::storesAndJoins() {
    QFETCH(QStringList, lines);
    OutputView view;
    for (const QString &line : lines)
        view.appendLine(line);
    const QString all = lines.join(QStringLiteral("\r\n"));
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

void tst_OutputView::selection_data() {
    QTest::addColumn<qsizetype>("start");
    QTest::addColumn<qsizetype>("length");
    QTest::addColumn<qsizetype>("expectedStart");
    QTest::addColumn<qsizetype>("expectedLength");
    QTest::addColumn<QString>("text");
    // Text: "abc\r\n\r\ndef" (lines "abc", "", "def"); copied with LF line ends
    QTest::newRow("across breaks")
        << qsizetype(2) << qsizetype(6) << qsizetype(2) << qsizetype(6) << QStringLiteral("c\n\nd");
    QTest::newRow("backwards") << qsizetype(9) << qsizetype(-4) << qsizetype(5) << qsizetype(4)
                               << QStringLiteral("\nde");
    QTest::newRow("half a break") << qsizetype(4) << qsizetype(2) << qsizetype(4) << qsizetype(2)
                                  << QStringLiteral("\n\n");
    QTest::newRow("clamped") << qsizetype(-5) << qsizetype(100) << qsizetype(0) << qsizetype(10)
                             << QStringLiteral("abc\n\ndef");
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
    view.setSelection(start, length);
    QCOMPARE(view.selectionStart(), expectedStart);
    QCOMPARE(view.selectionLength(), expectedLength);
    QCOMPARE(view.selectedText(), text);
}

void tst_OutputView::keyboard_data() {
    // Text: "hello world\r\nsecond\r\nlast" ; caret starts at position `from`.
    QTest::addColumn<qsizetype>("from");
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<qsizetype>("start");
    QTest::addColumn<qsizetype>("length");
    QTest::newRow("Ctrl+End") << qsizetype(0) << QKeySequence(Qt::CTRL | Qt::Key_End)
                              << qsizetype(25) << qsizetype(0);
    QTest::newRow("Right over a break")
        << qsizetype(11) << QKeySequence(Qt::Key_Right) << qsizetype(13) << qsizetype(0);
    QTest::newRow("Left over a break")
        << qsizetype(13) << QKeySequence(Qt::Key_Left) << qsizetype(11) << qsizetype(0);
    QTest::newRow("Shift+End") << qsizetype(2) << QKeySequence(Qt::SHIFT | Qt::Key_End)
                               << qsizetype(2) << qsizetype(9);
    QTest::newRow("Down keeps column")
        << qsizetype(3) << QKeySequence(Qt::Key_Down) << qsizetype(16) << qsizetype(0);
    QTest::newRow("Shift+Up") << qsizetype(23) << QKeySequence(Qt::SHIFT | Qt::Key_Up)
                              << qsizetype(15) << qsizetype(8);
    QTest::newRow("Ctrl+Right") << qsizetype(0) << QKeySequence(Qt::CTRL | Qt::Key_Right)
                                << qsizetype(6) << qsizetype(0);
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

// New lines follow the end while the caret is there; a user who scrolled up or selected
// something keeps the view and the selection.
void tst_OutputView::appendKeepsScrolledUpViewAndSelection() {
    auto view = shownView({});
    for (const QString &line : numbered(1000))
        view->appendFollowing(line);
    QCoreApplication::processEvents();
    QVERIFY(view->isAtEnd());
    QCOMPARE(view->selectionStart(), view->textLength());
    view->verticalScrollBar()->setValue(400); // the user drags the bar up
    view->setSelection(view->lineStartPosition(405), 4);
    for (const QString &line : numbered(500, QStringLiteral("new ")))
        view->appendFollowing(line);
    QCoreApplication::processEvents();
    QCOMPARE(view->firstVisibleLine(), 400);
    QCOMPARE(view->selectionStart(), view->lineStartPosition(405));
    QCOMPARE(view->selectedText(), QStringLiteral("line"));
    QVERIFY(!view->isAtEnd());
}

// Copy puts what is drawn, without formatting codes, lines ending in LF; find goes round and
// ignores case and a colour's digits.
void tst_OutputView::copyAndFind() {
    QGuiApplication::clipboard()->clear();
    OutputView view;
    view.appendLine(QStringLiteral("one\ttab \x03"
                                   "4colour"));
    view.appendLine(QStringLiteral("two\u2028sep"));
    view.setSelection(4, view.textLength() - 4);
    view.copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("tab colour\ntwo\ufffdsep"));
    view.clear();
    for (int i = 0; i < 3000; ++i)
        view.appendLine(i == 10     ? QStringLiteral("needle one, \u00c9T\u00c9")
                        : i == 2000 ? QStringLiteral("the \x02Nee\x03"
                                                     "04dle\x03 two")
                                    : QStringLiteral("line %1 of hay").arg(i));
    view.setSelection(view.textLength(), 0);
    QVERIFY(view.find(QStringLiteral("NEEDLE"), true));
    QCOMPARE(view.lineAtPosition(view.selectionStart()), 2000);
    QCOMPARE(view.selectedText(), QStringLiteral("Needle"));
    QVERIFY(view.find(QStringLiteral("needle"), true));
    QCOMPARE(view.lineAtPosition(view.selectionStart()), 10);
    QVERIFY(view.find(QStringLiteral("needle"))); // forward
    QCOMPARE(view.lineAtPosition(view.selectionStart()), 2000);
    QVERIFY(view.find(QStringLiteral("needle"))); // round from the start
    QCOMPARE(view.lineAtPosition(view.selectionStart()), 10);
    QVERIFY(!view.find(QStringLiteral("04dle")));
    QVERIFY(!view.find(QStringLiteral("absent")));
    QCOMPARE(view.lineAtPosition(view.selectionStart()), 10); // nothing found, nothing moved
}

void tst_OutputView::displayText_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("shown");
    QTest::newRow("NUL, CR LF, TAB") << QString(QChar(0)) + QStringLiteral("a\r\n\t")
                                     << QStringLiteral("\u2400a\u240d\u240a\u2409");
    QTest::newRow("IRC formatting") << QStringLiteral("\x02\x03\x0f\x16\x1d\x1f")
                                    << QStringLiteral("\u2402\u2403\u240f\u2416\u241d\u241f");
    QTest::newRow("DEL, C1 and separators")
        << QStringLiteral("\x7f\u0085\u2028\u2029") << QStringLiteral("\u2421\ufffd\ufffd\ufffd");
    QTest::newRow("lone surrogates, a pair, CJK")
        << QString(QChar(0xDC00)) + QChar(0xD800) + QStringLiteral("\U0001F600\u4f60")
        << QStringLiteral("\ufffd\ufffd\U0001F600\u4f60");
}

void tst_OutputView::displayText() {
    QFETCH(QString, line);
    QFETCH(QString, shown);
    QCOMPARE(OutputView::displayText(line), shown);
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
    row("other controls stay visible",
        "\x02"
        "a\x01\x07",
        "a\u2401\u2407", "0+3 b");
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
    // Drawn and copied alike.
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
    QTest::newRow("other case, inside formatting") << "hi \x02"
                                                      "BOB!\x02"
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

QTEST_MAIN(tst_OutputView)
#include "tst_outputview.moc"
