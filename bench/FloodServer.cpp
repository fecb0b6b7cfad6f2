#include "FloodServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
constexpr qint64 Slice = 1 << 20;      // bytes handed to the socket at a time
constexpr qint64 QueueLimit = 4 << 20; // keep at most this much queued in the socket

qint64 nowNs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer c;
        c.start();
        return c;
    }();
    return clock.nsecsElapsed();
}

struct Report {
    quint16 port;
    qint64 bytes;
    double seconds;
};

bool writeAll(int fd, const void *data, size_t size) {
    return ::write(fd, data, size) == static_cast<ssize_t>(size);
}
bool readAll(int fd, void *data, size_t size) {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, static_cast<char *>(data) + got, size - got);
        if (n <= 0)
            return false;
        got += size_t(n);
    }
    return true;
}
} // namespace

FloodServer::FloodServer(qint64 lines, const QByteArray &channel, Text text) {
    static const char *const talk[] = {
        "the quick brown fox jumps over the lazy dog while we all watch",
        "nothing to see here, just another line of talk, keep scrolling",
        "did anyone read the release notes? the new version is quite fast"};
    const qsizetype lineBytes = text == Text::Random ? 240 : 100;
    m_data.reserve(lines * lineBytes + 256);
    m_data += ":irc.bench 001 me :Welcome\r\n:me!me@bench.example JOIN :" + channel + "\r\n";
    QRandomGenerator random(21);
    for (qint64 i = 0; i < lines; ++i) {
        m_data += ":n";
        m_data += QByteArray::number(i % 97);
        m_data += "!u@h.example PRIVMSG " + channel + " :";
        if (text == Text::Random)
            for (int k = 0; k < 200; ++k)
                m_data += char('!' + random.bounded(94)); // '!'..'~'
        else
            m_data += talk[i % 3];
        m_data += "\r\n";
    }
    m_data += "PING :done\r\n";
}

quint16 FloodServer::listen() {
    m_server = new QTcpServer(this);
    m_server->listen(QHostAddress::LocalHost, 0);
    connect(m_server, &QTcpServer::newConnection, this, &FloodServer::onConnection);
    return m_server->serverPort();
}

void FloodServer::onConnection() {
    m_peer = m_server->nextPendingConnection();
    m_server->close(); // one client per server: later ones are refused
    connect(m_peer, &QTcpSocket::bytesWritten, this, &FloodServer::pump);
    connect(m_peer, &QTcpSocket::readyRead, this, &FloodServer::onReadyRead);
    connect(m_peer, &QTcpSocket::disconnected, this, [this] {
        if (!m_done)
            emit finished(-1);
    });
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
    if (!m_done && m_received.contains("PONG :done\r\n")) {
        m_done = true;
        emit finished(double(nowNs() - m_startNs) / 1e9);
    }
}

FloodProcess::FloodProcess(qint64 lines, const QByteArray &channel, FloodServer::Text text) {
    int fds[2];
    if (::pipe(fds) != 0)
        return;
    m_pid = ::fork();
    if (m_pid == 0) { // the server's own process: no client code, no window
        ::close(fds[0]);
        int argc = 1;
        char name[] = "flood-server";
        char *argv[] = {name, nullptr};
        QCoreApplication app(argc, argv);
        FloodServer server(lines, channel, text);
        Report report{server.listen(), server.bytes(), 0};
        writeAll(fds[1], &report, sizeof report);
        QObject::connect(&server, &FloodServer::finished, [&](double seconds) {
            report.seconds = seconds;
            writeAll(fds[1], &report, sizeof report);
            ::_exit(0);
        });
        app.exec();
        ::_exit(1);
    }
    ::close(fds[1]);
    m_fd = fds[0];
    Report report{};
    if (readAll(m_fd, &report, sizeof report)) {
        m_port = report.port;
        m_bytes = report.bytes;
    }
}

bool FloodProcess::resultReady() const {
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

double FloodProcess::wait() {
    Report report{};
    const bool ok = readAll(m_fd, &report, sizeof report);
    ::close(m_fd);
    if (m_pid > 0)
        ::waitpid(m_pid, nullptr, 0);
    return ok ? report.seconds : -1;
}
