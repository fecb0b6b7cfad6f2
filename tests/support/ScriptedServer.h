#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

class QTcpSocket;

// A loopback server for byte-exact tests: it listens on 127.0.0.1 on a free port, accepts the
// client under test, sends it exactly the bytes a test gives (optionally one read per chunk) and
// records everything the client sends.
//
// The client under test lives in the same thread, so every wait here spins the event loop until
// its condition holds or the time runs out; nothing blocks the thread.
class ScriptedServer : public QObject {
    Q_OBJECT

public:
    explicit ScriptedServer(QObject *parent = nullptr);
    ~ScriptedServer() override;

    // Listens on 127.0.0.1 on a port the system picks; port() tells which.
    bool listen();
    quint16 port() const;

    // Waits for a connection that no earlier call has returned yet (one accepted while the test
    // was waiting for something else counts). Only the latest connection is kept: accepting a new
    // one drops the previous one and starts a fresh record of received bytes.
    bool waitForClient(int ms = 5000);
    // How many connections have been accepted since listen().
    int connectionCount() const;

    // Writes the bytes to the current client and flushes them to the system.
    void send(const QByteArray &bytes);
    // Sends each chunk so that the peer receives it as a separate read: the chunk is written and
    // flushed, then the event loop runs for gapMs (letting the peer read it) before the next one.
    void sendChunks(const QList<QByteArray> &chunks, int gapMs = 30);

    // From now on the server reads nothing more from the current client, like a server that
    // has stopped reading: what the client sends piles up on its side.
    void stopReading();

    // Everything the current client has sent so far.
    QByteArray received() const;
    // The complete lines received so far, cut at CR LF, without the CR LF.
    QList<QByteArray> receivedLines() const;
    void clearReceived();
    bool waitForReceived(const QByteArray &needle, int ms = 5000);
    // Waits until at least count complete lines have been received.
    bool waitForLines(int count, int ms = 5000);

    // The server ends the connection: closeClient() closes it in order after sending what is
    // queued (the peer sees a remote close), abortClient() resets it at once.
    void closeClient();
    void abortClient();
    bool clientConnected() const;
    // Waits until the connection is gone (normally because the peer closed it).
    bool waitForDisconnect(int ms = 5000);

private:
    void acceptPending();

    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QByteArray m_received;
    int m_accepted = 0;
    int m_claimed = 0;
    bool m_reading = true;
};
