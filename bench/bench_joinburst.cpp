// Times a burst of channel joins: N distinct "JOIN :#cN" lines about us, taken in one read, until
// every channel window is open. Prints one row per burst size.
//
// Usage: bench_joinburst [sizes...]   (default 250 500 1000; offscreen unless QT_QPA_PLATFORM is
// set)
#include "BenchSupport.h"
#include "app/Application.h"
#include "app/modMain.h"
#include "connection/IRCConnection.h"
#include "connection/IRCConnections.h"
#include "windows/Childs.h"

#include <cstdio>

namespace {

QByteArray burst(int count) {
    QByteArray bytes = ":srv 001 me :Welcome\r\n";
    for (int i = 1; i <= count; ++i)
        bytes += ":me!u@h JOIN :#c" + QByteArray::number(i) + "\r\n";
    return bytes;
}

// Milliseconds from the read until the last window is open and the event loop is idle again.
double timeBurst(int count) {
    modMain::Main();
    Application *app = modMain::CurrentApplication();
    QCoreApplication::processEvents();
    const QByteArray bytes = burst(count);
    const double ms = bench::msOf([&] {
        app->Connections()->Item(1)->FeedReceived(bytes);
        while (app->Childs()->Count() < count + 1)
            QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    });
    app->ExitClient();
    QCoreApplication::processEvents();
    modMain::ReleaseApplication();
    QCoreApplication::processEvents();
    return ms;
}

} // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qt(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QList<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.append(QByteArray(argv[i]).toInt());
    if (sizes.isEmpty())
        sizes = {250, 500, 1000};

    std::printf("| %-32s | %12s |\n", "JOIN lines in one read", "time (ms)");
    std::printf("|%s|%s|\n", QByteArray(34, '-').constData(), QByteArray(14, '-').constData());
    for (int count : sizes)
        std::printf("| %-32d | %12.1f |\n", count, timeBurst(count));
    return 0;
}
