#include "support/ScriptedServer.h"

#include <QTest>

ScriptedServer::ScriptedServer() {
    QVERIFY2(m_server.listen(QHostAddress::LocalHost), qPrintable(m_server.errorString()));
    QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            if (m_client)
                m_client->abort();
            m_client = socket;
            m_received.clear();
            m_reading = true;
            ++m_accepted;
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                if (socket == m_client && m_reading)
                    m_received += socket->readAll();
            });
        }
    });
}

bool ScriptedServer::waitForClient(int ms) {
    if (!QTest::qWaitFor([this] { return m_accepted > m_claimed; }, ms))
        return false;
    m_claimed = m_accepted;
    return true;
}

void ScriptedServer::send(const QByteArray &bytes) {
    QVERIFY2(m_client, "no client");
    m_client->write(bytes);
    m_client->flush();
}

void ScriptedServer::stopReading() {
    m_reading = false;
    m_client->setReadBufferSize(1);
}

QList<QByteArray> ScriptedServer::receivedLines() const {
    QList<QByteArray> lines;
    for (qsizetype start = 0, end; (end = m_received.indexOf("\r\n", start)) >= 0; start = end + 2)
        lines.append(m_received.mid(start, end - start));
    return lines;
}

bool ScriptedServer::waitForLines(int count, int ms) {
    return QTest::qWaitFor([&] { return m_received.count("\r\n") >= count; }, ms);
}

bool ScriptedServer::waitForDisconnect(int ms) {
    return QTest::qWaitFor(
        [this] { return !m_client || m_client->state() == QAbstractSocket::UnconnectedState; }, ms);
}
