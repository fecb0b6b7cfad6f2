#pragma once

#include <QByteArray>
#include <QList>
#include <QTcpSocket>

// "Another user" on the test IRC server: a plain socket client that registers with NICK/USER,
// answers the server's PINGs by itself and records every line it receives, so an end-to-end
// test can check what went on the wire. Every wait spins the event loop (the client under test
// lives in the same thread).
class IrcTestClient {
public:
    IrcTestClient();

    // Connects to 127.0.0.1:port and registers as nick (user name = nick); false if no welcome.
    bool connectTo(quint16 port, const QByteArray &nick);
    // Sends one protocol line; CR LF is added.
    void sendLine(const QByteArray &line);
    // Waits for a line equal to line, or starting with it when prefix is set. The search starts
    // after the line found last, so successive calls expect lines in this order.
    bool waitForLine(const QByteArray &line, bool prefix = false, int ms = 5000);
    // Joins the channel and waits for the end of its name list: the membership is complete.
    bool join(const QByteArray &channel);
    // Sends QUIT and waits (briefly) for the server to close the connection.
    void quit();

    // Every line received (without CR LF), PINGs included.
    QList<QByteArray> lines;

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
    QByteArray m_nick;
    qsizetype m_cursor = 0;
};
