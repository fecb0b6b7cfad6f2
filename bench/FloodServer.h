#pragma once

#include <QByteArray>
#include <QObject>
#include <QThread>
#include <atomic>

class QTcpServer;
class QTcpSocket;

// A loopback IRC server in a thread of its own that confirms a channel join, sends a given
// number of channel messages as fast as the socket takes them, then "PING :done", and notes
// when "PONG :done" comes back.
class FloodServer : public QObject {
    Q_OBJECT
public:
    FloodServer(qint64 lines, const QByteArray &channel);
    ~FloodServer() override;

    quint16 port() const { return m_port; }
    bool finished() const { return m_finished.load(); }
    // From the first byte sent to the PONG received.
    double seconds() const { return m_seconds; }
    qint64 bytes() const { return m_data.size(); }

private:
    void start();
    void onConnection();
    void pump();
    void onReadyRead();

    QThread m_thread;
    QByteArray m_data;
    qint64 m_sent = 0;
    quint16 m_port = 0;
    QTcpServer *m_server = nullptr;
    QTcpSocket *m_peer = nullptr;
    QByteArray m_received;
    qint64 m_startNs = 0;
    double m_seconds = 0;
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_listening{false};
};
