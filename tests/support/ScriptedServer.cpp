#include "support/ScriptedServer.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>

ScriptedServer::ScriptedServer(QObject *parent) : QObject(parent) {
    connect(&m_server, &QTcpServer::newConnection, this, &ScriptedServer::acceptPending);
}

ScriptedServer::~ScriptedServer() {
    if (m_client)
        m_client->abort();
}

bool ScriptedServer::listen() {
    if (m_server.isListening())
        return true;
    if (!m_server.listen(QHostAddress::LocalHost, 0)) {
        qWarning("ScriptedServer: cannot listen on 127.0.0.1: %s",
                 qPrintable(m_server.errorString()));
        return false;
    }
    return true;
}

quint16 ScriptedServer::port() const {
    return m_server.serverPort();
}

void ScriptedServer::acceptPending() {
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_client) {
            m_client->disconnect(this);
            m_client->abort();
            m_client->deleteLater();
        }
        m_client = socket;
        m_received.clear();
        m_reading = true;
        ++m_accepted;
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (socket == m_client && m_reading)
                m_received += socket->readAll();
        });
    }
}

bool ScriptedServer::waitForClient(int ms) {
    if (m_accepted == m_claimed && !QTest::qWaitFor([this] { return m_accepted > m_claimed; }, ms))
        return false;
    m_claimed = m_accepted;
    return true;
}

int ScriptedServer::connectionCount() const {
    return m_accepted;
}

void ScriptedServer::send(const QByteArray &bytes) {
    if (!m_client) {
        qWarning("ScriptedServer::send: no client");
        return;
    }
    m_client->write(bytes);
    m_client->flush();
}

void ScriptedServer::sendChunks(const QList<QByteArray> &chunks, int gapMs) {
    for (const QByteArray &chunk : chunks) {
        if (!m_client) {
            qWarning("ScriptedServer::sendChunks: no client");
            return;
        }
        m_client->write(chunk);
        m_client->flush();
        if (m_client->bytesToWrite() > 0)
            m_client->waitForBytesWritten(1000);
        QTest::qWait(gapMs);
    }
}

void ScriptedServer::stopReading() {
    m_reading = false;
    if (m_client)
        m_client->setReadBufferSize(1);
}

QByteArray ScriptedServer::received() const {
    return m_received;
}

QList<QByteArray> ScriptedServer::receivedLines() const {
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype end; (end = m_received.indexOf("\r\n", start)) >= 0; start = end + 2)
        lines.append(m_received.mid(start, end - start));
    return lines;
}

void ScriptedServer::clearReceived() {
    m_received.clear();
}

bool ScriptedServer::waitForReceived(const QByteArray &needle, int ms) {
    return m_received.contains(needle) ||
           QTest::qWaitFor([&] { return m_received.contains(needle); }, ms);
}

bool ScriptedServer::waitForLines(int count, int ms) {
    // Counting CR LF pairs is enough: each one ends a complete line.
    auto enough = [&] {
        return m_received.count("\r\n") >= count;
    };
    return enough() || QTest::qWaitFor(enough, ms);
}

void ScriptedServer::closeClient() {
    if (m_client)
        m_client->disconnectFromHost();
}

void ScriptedServer::abortClient() {
    if (m_client)
        m_client->abort();
}

bool ScriptedServer::clientConnected() const {
    return m_client && m_client->state() == QAbstractSocket::ConnectedState;
}

bool ScriptedServer::waitForDisconnect(int ms) {
    auto gone = [this] {
        return !m_client || m_client->state() == QAbstractSocket::UnconnectedState;
    };
    return gone() || QTest::qWaitFor(gone, ms);
}
