#pragma once

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A loopback server for byte-exact tests: it listens on 127.0.0.1 on a port the system picks,
// accepts the client under test, sends it exactly the bytes a test gives and records everything
// the client sends.
//
// The client under test lives in the same thread, so every wait here spins the event loop until
// its condition holds or the time runs out; nothing blocks the thread.
class ScriptedServer {
public:
    ScriptedServer();
    quint16 port() const { return m_server.serverPort(); }

    // Waits for a connection that no earlier call has returned yet. Only the latest connection
    // is kept: accepting a new one drops the previous one and starts a fresh record.
    bool waitForClient(int ms = 5000);
    bool clientConnected() const {
        return m_client && m_client->state() == QAbstractSocket::ConnectedState;
    }
    // Writes the bytes to the current client and flushes them to the system.
    void send(const QByteArray &bytes);
    // From now on the server reads nothing more, like a server that has stopped reading: what
    // the client sends piles up on its side.
    void stopReading();

    // Everything the current client has sent so far, and its complete lines without CR LF.
    QByteArray received() const { return m_received; }
    QList<QByteArray> receivedLines() const;
    // Waits until at least count complete lines have been received.
    bool waitForLines(int count, int ms = 5000);

    // Closes the connection in order after sending what is queued: the peer sees a remote close.
    void closeClient() { m_client->disconnectFromHost(); }
    // Waits until the connection is gone (normally because the peer closed it).
    bool waitForDisconnect(int ms = 5000);

private:
    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QByteArray m_received;
    int m_accepted = 0;
    int m_claimed = 0;
    bool m_reading = true;
};
