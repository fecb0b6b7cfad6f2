#pragma once

#include <QByteArray>
#include <QObject>

class QTcpServer;
class QTcpSocket;

// A loopback IRC server that confirms a channel join, sends a given number of channel messages
// (about 95 bytes each, or 200 random printable characters each, which do not compress) as fast
// as the socket takes them, then "PING :done", and notes when "PONG :done" comes back. The
// benchmark runs it in a process of its own, so that its buffers do not count as the client's
// memory.
class FloodServer : public QObject {
    Q_OBJECT
public:
    enum class Text { Talk, Random };
    FloodServer(qint64 lines, const QByteArray &channel, Text text = Text::Talk);

    quint16 listen();
    qint64 bytes() const { return m_data.size(); }

signals:
    // From the first byte sent to the PONG received.
    void finished(double seconds);

private:
    void onConnection();
    void pump();
    void onReadyRead();

    QByteArray m_data;
    qint64 m_sent = 0;
    QTcpServer *m_server = nullptr;
    QTcpSocket *m_peer = nullptr;
    QByteArray m_received;
    qint64 m_startNs = 0;
    bool m_done = false;
};

// Starts the server in a child process; returns its port, and later its result.
class FloodProcess {
public:
    FloodProcess(qint64 lines, const QByteArray &channel,
                 FloodServer::Text text = FloodServer::Text::Talk);
    quint16 port() const { return m_port; }
    qint64 bytes() const { return m_bytes; }
    // Whether the child's result is there to read (wait() then returns at once).
    bool resultReady() const;
    // Waits for the child's result: the seconds from first byte to PONG (negative on failure).
    double wait();

private:
    int m_fd = -1;
    int m_pid = -1;
    quint16 m_port = 0;
    qint64 m_bytes = 0;
};
