#pragma once

// What the end-to-end tests share: a private IRC server, the client started as the program starts
// it, and the lines the client received from the server. The user is always alice on 127.0.0.1,
// shown by the server as its userMask("alice") (alice!~alice@127.0.0.1 on ngircd).

#include "app/Application.h"
#include "connection/IRCConnections.h"
#include "support/AppFixture.h"
#include "support/IrcServerFixture.h"
#include "support/IrcTestClient.h"

#include <QElapsedTimer>
#include <QObject>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>

#include <optional>

// Runs one step of a test (a void function that may fail a check) and leaves the test when the
// step failed.
#define E2E_STEP(call)                                                                             \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

namespace e2e {

inline QString serverAndPort(quint16 port) {
    return QStringLiteral("Server 127.0.0.1, Port %1").arg(port);
}
inline QString connectedLine(quint16 port) {
    return QStringLiteral("Connected to ") + serverAndPort(port);
}
inline QString disconnectedLine(quint16 port) {
    return QStringLiteral("Disconnected from ") + serverAndPort(port);
}
// How the status window shows a received line that no rule handles.
inline QString unprocessed(const QString &line) {
    return QStringLiteral("<- Server(1): [") + line + QLatin1Char(']');
}
inline QRegularExpression exactly(const QString &line) {
    return QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(line) +
                              QLatin1Char('$'));
}

// Whether expected occurs in lines in this order, other lines allowed in between.
inline bool inOrder(const QStringList &lines, const QStringList &expected) {
    qsizetype next = 0;
    for (const QString &line : lines)
        if (next < expected.size() && line == expected.at(next))
            ++next;
    return next == expected.size();
}

// The lines of all that start with prefix.
inline QStringList startingWith(const QStringList &all, const QString &prefix) {
    QStringList out;
    for (const QString &line : all)
        if (line.startsWith(prefix))
            out.append(line);
    return out;
}
inline QStringList startingWith(const QList<QByteArray> &all, const QString &prefix) {
    QStringList decoded;
    for (const QByteArray &line : all)
        decoded.append(QString::fromUtf8(line));
    return startingWith(decoded, prefix);
}

// Every line the client received, as its connection hands it on, before it is processed.
class ReceivedLines : public QObject {
public:
    explicit ReceivedLines(IRCConnections *connections) {
        connect(connections, &IRCConnections::GetMessageRaw, this,
                [this](qint32, const QString &line, bool &) { lines.append(line); });
    }
    QStringList lines;
};

inline void startServer(IrcServerFixture &server) {
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
}

inline void connectUser(IrcTestClient &user, quint16 port, const QString &nick) {
    QVERIFY2(user.connectTo(port, nick), qPrintable(user.errorString()));
}

// Asks the server through probe whether nick is online (ISON); empty when no answer came.
inline std::optional<bool> isOnline(IrcTestClient &probe, const QString &nick) {
    static const QRegularExpression reply(QStringLiteral("^:\\S+ 303 \\S+ :"));
    probe.sendLine("ISON " + nick.toUtf8());
    QByteArray line;
    if (!probe.waitForLine(reply, 5000, &line))
        return std::nullopt;
    const QList<QByteArray> online = line.mid(line.indexOf(" :") + 2).split(' ');
    return online.contains(nick.toUtf8());
}

// Waits until the server has let nick's connection go.
inline void waitUntilOffline(IrcTestClient &probe, const QString &nick, int ms = 5000) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const std::optional<bool> online = isOnline(probe, nick);
        QVERIFY2(online.has_value(), "no ISON reply");
        if (!*online)
            return;
        QVERIFY2(clock.elapsed() < ms, qPrintable(nick + QStringLiteral(" is still online")));
        QTest::qWait(50);
    }
}

// Types the lines a user types to connect and register as nick, and waits for the end of the
// server's welcome (the end of its message of the day).
inline void connectAndRegister(const AppFixture &app, quint16 port,
                               const QString &nick = QStringLiteral("alice")) {
    app.type(1, QStringLiteral("/server 127.0.0.1 %1").arg(port));
    QVERIFY(app.waitForLine(1, connectedLine(port)));
    app.type(1, QStringLiteral("NICK ") + nick);
    app.type(1, QStringLiteral("USER %1 0 * :%1").arg(nick));
    QVERIFY(app.waitForLine(
        1, unprocessed(QStringLiteral(":irc.velloq.test 376 %1 :").arg(nick)).chopped(1), 5000,
        true));
}

// A private server with our client registered as alice and a second user, bob.
struct AliceAndBob {
    explicit AliceAndBob(IrcServerFixture::Kind kind = IrcServerFixture::Kind::Ngircd)
        : server(kind) {}
    IrcServerFixture server;
    AppFixture app;
    ReceivedLines received{app.app()->Connections()};
    IrcTestClient bob;
    quint16 port = 0;
};

inline void meet(AliceAndBob &s) {
    startServer(s.server);
    if (QTest::currentTestFailed())
        return;
    s.port = s.server.port();
    connectAndRegister(s.app, s.port);
    if (QTest::currentTestFailed())
        return;
    connectUser(s.bob, s.port, QStringLiteral("bob"));
}

} // namespace e2e
