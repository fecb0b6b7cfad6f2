#include "FloodServer.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

namespace {
constexpr qint64 Slice = 1 << 20;        // bytes handed to the socket at a time
constexpr qint64 QueueLimit = 4 << 20;   // keep at most this much queued in the socket
qint64 nowNs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer c;
        c.start();
        return c;
    }();
    return clock.nsecsElapsed();
}
} // namespace

FloodServer::FloodServer(qint64 lines, const QByteArray &channel) {
    // About 95 bytes a line, as busy channels carry them.
    static const char *const talk[] = {
        "the quick brown fox jumps over the lazy dog while the server floods the channel",
        "nothing to see here, just another line of channel talk, keep scrolling please",
        "did anyone read the release notes? the new version is out and it is quite fast"};
    m_data.reserve(lines * 100 + 256);
    m_data += ":irc.bench 001 me :Welcome\r\n:me!me@bench.example JOIN :" + channel + "\r\n";
    for (qint64 i = 0; i < lines; ++i) {
        m_data += ":nick";
        m_data += QByteArray::number(i % 97);
        m_data += "!user@host.example PRIVMSG " + channel + " :";
        m_data += talk[i % 3];
        m_data += "\r\n";
    }
    m_data += "PING :done\r\n";

    moveToThread(&m_thread);
    connect(&m_thread, &QThread::started, this, &FloodServer::start);
    m_thread.start();
    while (!m_listening.load())
        QThread::msleep(1);
}

FloodServer::~FloodServer() {
    m_thread.quit();
    m_thread.wait();
}

void FloodServer::start() {
    m_server = new QTcpServer(this);
    m_server->listen(QHostAddress::LocalHost, 0);
    m_port = m_server->serverPort();
    connect(m_server, &QTcpServer::newConnection, this, &FloodServer::onConnection);
    m_listening.store(true);
}

void FloodServer::onConnection() {
    m_peer = m_server->nextPendingConnection();
    connect(m_peer, &QTcpSocket::bytesWritten, this, &FloodServer::pump);
    connect(m_peer, &QTcpSocket::readyRead, this, &FloodServer::onReadyRead);
    m_startNs = nowNs();
    pump();
}

void FloodServer::pump() {
    while (m_sent < m_data.size() && m_peer->bytesToWrite() < QueueLimit) {
        const qint64 n = qMin(Slice, m_data.size() - m_sent);
        m_peer->write(m_data.constData() + m_sent, n);
        m_sent += n;
    }
}

void FloodServer::onReadyRead() {
    m_received += m_peer->readAll();
    if (!m_finished.load() && m_received.contains("PONG :done\r\n")) {
        m_seconds = double(nowNs() - m_startNs) / 1e9;
        m_finished.store(true);
    }
}
