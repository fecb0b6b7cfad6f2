// Floods an output box with lines of ~80 characters and prints what it costs: append rate, peak
// memory, bytes per stored line, and the time of a jump to the end, a resize with word wrap on
// and the paint of one screen, and a find from the end to the start. Then the costs a hostile
// line brings: finding the links of "http://x" and 65,000 ")" and showing that line, and the
// mention check of a 32,000-character nick against 65,000-character lines. Last, boxes kept at
// their stored-text budget: the heap they take against the budget for several kinds of lines, and
// what a screen reader's query costs right after old lines were dropped and between drops.
//
// Usage: bench_outputview [lines|budget]   (default 1000000; "budget": only the last part; runs
// offscreen unless QT_QPA_PLATFORM is set)
#include "BenchSupport.h"
#include "text/IrcFormat.h"
#include "text/IrcLinks.h"
#include "text/IrcMentions.h"
#include "windows/outputview/OutputView.h"

#include <QAccessible>
#include <QAccessibleTextInterface>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QRandomGenerator>
#include <QScrollBar>
#include <cstdio>
#include <ctime>
#include <functional>
#include <malloc.h>

namespace {

using bench::msOf;
using bench::sendKey;
using bench::statusMiB;

// Lines as a channel shows them: a time, a nick and ~60 characters of talk.
QStringList sampleLines() {
    const QStringList words = {
        QStringLiteral("the"),   QStringLiteral("server"),  QStringLiteral("channel"),
        QStringLiteral("flood"), QStringLiteral("message"), QStringLiteral("quick"),
        QStringLiteral("brown"), QStringLiteral("fox"),     QStringLiteral("jumps"),
        QStringLiteral("over"),  QStringLiteral("lazy"),    QStringLiteral("dog")};
    QStringList lines;
    for (int i = 0; i < 4096; ++i) {
        QString line =
            QStringLiteral("[12:%1] <nick%2> ").arg(i % 60, 2, 10, QLatin1Char('0')).arg(i % 97);
        for (unsigned w = unsigned(i); line.size() < 80; w = w * 7 + 3)
            line += words.at(int(w % unsigned(words.size()))) + QLatin1Char(' ');
        lines << line.left(80);
    }
    return lines;
}

// Bytes the heap has handed out and not taken back.
qsizetype heapBytes() {
    const struct mallinfo2 info = mallinfo2();
    return qsizetype(info.uordblks + info.hblkhd);
}

// Boxes filled with three times their budget's worth of one kind of line: the heap they take
// against the budget, and what the box itself counts.
void budgetFigures(const QStringList &talk) {
    const qsizetype budget = qsizetype(4) << 20;
    const qsizetype lines = 3 * budget / 8; // a line costs 8 bytes at least
    QStringList noise;
    for (int i = 0; i < 4096; ++i) {
        QString line(200, Qt::Uninitialized);
        for (QChar &c : line)
            c = QChar(u' ' + QRandomGenerator::global()->bounded(95));
        noise << line;
    }
    const QList<std::pair<const char *, QStringList>> kinds = {
        {"empty lines", {QString()}},
        {"one-letter lines", {QStringLiteral("a")}},
        {"a repeated 40-character line", {QString(40, QLatin1Char('r'))}},
        {"chat lines of ~80 characters", talk},
        {"random 200-character lines", noise}};
    {
        OutputView warmUp; // what the first box of a process allocates once for all
        warmUp.appendLine(QStringLiteral("warm"));
    }
    std::printf("  boxes at a budget of %.0f MiB, %lld lines each:\n", double(budget) / 1048576.0,
                static_cast<long long>(lines));
    for (const auto &[name, sample] : kinds) {
        const qsizetype before = heapBytes();
        qsizetype kept = 0;
        qsizetype counted = 0;
        const double ms = msOf([&, &sample = sample] {
            OutputView box;
            box.setStoreBudget(budget);
            for (qsizetype i = 0; i < lines; ++i)
                box.appendLine(sample.at(int(i % sample.size())));
            // The store's cache of decompressed pages fills as the lines are read.
            for (qsizetype i = 0; i < box.lineCount(); i += 997)
                box.line(i);
            kept = box.lineCount();
            counted = box.storedBytes();
            const qsizetype heap = heapBytes() - before;
            std::printf("    %-30s heap %6.2f MiB (%.2f x budget), counted %6.2f MiB, %lld lines "
                        "kept",
                        name, double(heap) / 1048576.0, double(heap) / double(budget),
                        double(counted) / 1048576.0, static_cast<long long>(kept));
        });
        std::printf(", %.0f ms\n", ms);
    }
}

// A box at its budget, a formatted line in every 50, read by a screen reader: the query a reader
// makes for a new line (the line at the end), right after old pages were dropped and between
// drops, as the median of several drops.
void queryAfterDropFigures(const QStringList &talk) {
    const qsizetype budget = qsizetype(16) << 20;
    OutputView box;
    box.setStoreBudget(budget);
    QAccessible::setActive(true);
    QAccessibleTextInterface *reader = QAccessible::queryAccessibleInterface(&box)->textInterface();
    const auto query = [&] {
        int start = 0, end = 0;
        return msOf([&] {
            reader->textAtOffset(reader->characterCount() - 1, QAccessible::LineBoundary, &start,
                                 &end);
        });
    };
    std::vector<double> afterDrop, between;
    qsizetype i = 0;
    for (; afterDrop.size() < 7 && i < 50000000; ++i) {
        const qsizetype before = box.lineCount();
        box.appendLine(i % 50 == 0 ? QStringLiteral("\x02\x03"
                                                    "04,02bold red\x0f ") +
                                         talk.at(int(i % talk.size()))
                                   : talk.at(int(i % talk.size())));
        if (i == 0)
            query(); // the reader starts reading
        if (box.lineCount() < before) {
            afterDrop.push_back(query());
            box.appendLine(talk.at(0));
            between.push_back(query());
        }
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? -1.0 : v[v.size() / 2];
    };
    std::printf("  a screen reader's query of the last line, budget %.0f MiB, %lld lines kept: "
                "%.3f ms right after a drop, %.3f ms between drops (median of %zu drops)\n",
                double(budget) / 1048576.0, static_cast<long long>(box.lineCount()),
                median(afterDrop), median(between), afterDrop.size());
}

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qsizetype count = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    const QStringList samples = sampleLines();
    if (argc > 1 && QByteArray(argv[1]) == "budget") {
        budgetFigures(samples);
        queryAfterDropFigures(samples);
        return 0;
    }
    const QString firstLine = QStringLiteral("[12:00] <nick0> the needle is in the first line");

    OutputView view;
    QFont font(QStringLiteral("Courier New"));
    font.setPointSizeF(9.75);
    font.setStyleHint(QFont::Monospace);
    view.setFont(font);
    view.resize(800, 600);
    view.show();
    QCoreApplication::processEvents();
    const double rssBefore = statusMiB("VmRSS");

    // The chat window's rule: follow the end while the caret is there. One event-loop turn per
    // 800 lines, about what one 64 KiB read of the socket brings.
    qsizetype sampleBytes = 0;
    double eventLoopMs = 0;
    const double appendMs = msOf([&] {
        for (qsizetype i = 0; i < count; ++i) {
            // The first line holds the one match of the find measured below.
            const QString &line =
                i == 0 ? firstLine : samples.at(static_cast<int>(i % samples.size()));
            sampleBytes += line.size();
            view.appendFollowing(line);
            if (i % 800 == 799)
                eventLoopMs += msOf([] { QCoreApplication::processEvents(); });
        }
        eventLoopMs += msOf([] { QCoreApplication::processEvents(); });
    });
    const double rssAfter = statusMiB("VmRSS");

    QWidget *viewport = view.viewport();
    sendKey(&view, Qt::Key_Home, Qt::ControlModifier);
    viewport->repaint();
    const double ctrlEndMs = msOf([&] {
        sendKey(&view, Qt::Key_End, Qt::ControlModifier);
        viewport->repaint();
    });
    QScrollBar *bar = view.verticalScrollBar();
    bar->setValue(0);
    viewport->repaint();
    const double dragMs = msOf([&] {
        bar->setValue(bar->maximum() / 2);
        viewport->repaint();
        bar->setValue(bar->maximum());
        viewport->repaint();
    });
    const double resizeMs = msOf([&] {
        view.resize(560, 600);
        viewport->repaint();
    });
    const double resizeBackMs = msOf([&] {
        view.resize(800, 600);
        viewport->repaint();
    });
    const int repaints = 50;
    const double paintMs = msOf([&] {
                               for (int i = 0; i < repaints; ++i)
                                   viewport->repaint();
                           }) /
                           repaints;

    // One enormous line is laid out whole when it shows; measure what that costs.
    const QString huge = QStringLiteral("huge ") + QString(100000, QLatin1Char('h'));
    const double hugeMs = msOf([&] {
        view.appendLine(huge);
        view.appendLine(QStringLiteral("after the huge line"));
        view.scrollToEnd();
        QCoreApplication::processEvents();
        viewport->repaint();
    });
    const double hugeResizeMs = msOf([&] {
        view.resize(700, 600);
        viewport->repaint();
    });

    const bool atEnd = view.isAtEnd();
    const qsizetype firstVisible = view.firstVisibleLine();
    const double peakMiB = statusMiB("VmHWM");
    // Find from the end: the only match is in the first line, so every line is searched.
    view.setSelection(view.textLength(), 0);
    bool found = false;
    // Processor time as well: on a busy machine the wall clock says more about the neighbours.
    const auto cpuMs = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
    };
    const double findCpuStart = cpuMs();
    const double findMs = msOf([&] { found = view.find(QStringLiteral("NEEDLE"), true); });
    const double findCpuMs = cpuMs() - findCpuStart;
    found = found && view.selectionStart() == view.lineStartPosition(0) + 20;
    // The same with a formatting code on every 50th line, so no block of lines is free of them
    // (the same box, refilled, so that the peak memory stays that of one million lines).
    OutputView &coloured = view;
    coloured.clear();
    for (qsizetype i = 0; i < count; ++i)
        coloured.appendLine(i == 0        ? firstLine
                            : i % 50 == 0 ? QStringLiteral("\x02\x03"
                                                           "04,02bold red\x0f ") +
                                                samples.at(static_cast<int>(i % samples.size()))
                                          : samples.at(static_cast<int>(i % samples.size())));
    coloured.setSelection(coloured.textLength(), 0);
    bool foundColoured = false;
    const double findColouredMs =
        msOf([&] { foundColoured = coloured.find(QStringLiteral("NEEDLE"), true); });

    // Hostile lines: each figure is the time of one line.
    const QString brackets = QStringLiteral("<x> http://x") + QString(65000, QLatin1Char(')'));
    std::size_t linkCount = 0;
    const double linksMs =
        msOf([&] { linkCount = IrcFormat::links(IrcFormat::parse(brackets).text).size(); });
    OutputView fresh;
    fresh.setFont(font);
    fresh.resize(800, 600);
    fresh.show();
    QCoreApplication::processEvents();
    const double bracketsShowMs = msOf([&] {
        fresh.appendFollowing(brackets);
        QCoreApplication::processEvents();
        fresh.viewport()->repaint();
    });
    const QString nick(32000, QLatin1Char('n'));
    const QString talk(65000, QLatin1Char('n'));
    QString talkAccent = talk;
    talkAccent[40000] = QChar(0xe9);
    bool named = false;
    const double mentionMs = msOf([&] { named = IrcFormat::mentions(talk, nick); });
    const double mentionAccentMs =
        msOf([&] { named = IrcFormat::mentions(talkAccent, nick) || named; });

    std::printf("bench_outputview: %lld lines of ~%.0f chars, viewport %dx%d, wrap %s\n",
                static_cast<long long>(count), double(sampleBytes) / double(count),
                viewport->width(), viewport->height(), view.wordWrap() ? "on" : "off");
    std::printf("  append with one repaint per 800 lines: %.0f lines/s (%.0f ms, of which event "
                "loop and painting %.0f ms)\n",
                double(count) / (appendMs / 1000.0), appendMs, eventLoopMs);
    std::printf("  appends alone: %.0f lines/s\n",
                double(count) / ((appendMs - eventLoopMs) / 1000.0));
    std::printf("  peak RSS (VmHWM): %.1f MiB; RSS before %.1f, after %.1f MiB\n", peakMiB,
                rssBefore, rssAfter);
    std::printf("  store: %.1f bytes/line (%.1f MiB); RSS growth %.1f bytes/line\n",
                double(view.storedBytes()) / double(count), view.storedBytes() / 1048576.0,
                (rssAfter - rssBefore) * 1048576.0 / double(count));
    std::printf("  Ctrl+End from the top, with repaint: %.2f ms\n", ctrlEndMs);
    std::printf("  scroll bar to middle then bottom, with repaints: %.2f ms\n", dragMs);
    std::printf("  resize 800->560 px with wrap, with repaint: %.2f ms (back: %.2f ms)\n", resizeMs,
                resizeBackMs);
    std::printf("  paint of one screen: %.3f ms\n", paintMs);
    std::printf(
        "  a 100,000-character line: append and show %.2f ms, resize with it shown %.2f ms\n",
        hugeMs, hugeResizeMs);
    std::printf("  find from the end to a match in the first line: %.1f ms, %.1f ms processor "
                "time (%s); with a formatted line in every 50: %.1f ms (%s)\n",
                findMs, findCpuMs, found ? "found" : "NOT FOUND", findColouredMs,
                foundColoured ? "found" : "NOT FOUND");
    std::printf("  \"http://x\" and 65,000 \")\": links found in %.2f ms (%zu), append and show "
                "%.2f ms\n",
                linksMs, linkCount, bracketsShowMs);
    std::printf("  a 32,000-character nick against a 65,000-character line: %.2f ms; with one "
                "non-ASCII character %.2f ms (%s)\n",
                mentionMs, mentionAccentMs, named ? "named" : "not named");
    std::printf("  at end: %s, first visible line %lld\n", atEnd ? "yes" : "no",
                static_cast<long long>(firstVisible));
    budgetFigures(samples);
    queryAfterDropFigures(samples);
    return 0;
}
