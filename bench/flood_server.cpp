// The loopback flood server on its own, for flooding other IRC clients the way bench_flood
// floods Velloq: it listens on 127.0.0.1, prints its port as the first line, serves one client
// (welcome, a join of #flood confirmed for the nick "me", LINES channel messages, "PING :done")
// and prints "seconds S" when "PONG :done" comes back, or "failed" if the client hangs up
// before that. Then it exits: 0 on a PONG, 1 otherwise.
//
// Usage: flood_server LINES
#include "FloodServer.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    bool ok = false;
    const qint64 lines = argc > 1 ? QByteArray(argv[1]).toLongLong(&ok) : 0;
    if (!ok || lines < 0) {
        std::fprintf(stderr, "usage: flood_server LINES\n");
        return 2;
    }
    FloodServer server(lines, "#flood");
    const quint16 port = server.listen();
    if (port == 0) {
        std::printf("failed\n");
        return 1;
    }
    std::printf("%u\n", unsigned(port));
    std::fflush(stdout);
    QObject::connect(&server, &FloodServer::finished, &app, [&](double seconds) {
        if (seconds < 0)
            std::printf("failed\n");
        else
            std::printf("seconds %.3f\n", seconds);
        std::fflush(stdout);
        app.exit(seconds < 0 ? 1 : 0);
    });
    return app.exec();
}
