#include "support/IrcTestClient.h"

#include <QTest>

IrcTestClient::IrcTestClient() {
    QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket, [this] {
        m_buffer += m_socket.readAll();
        for (qsizetype end; (end = m_buffer.indexOf("\r\n")) >= 0; m_buffer.remove(0, end + 2)) {
            const QByteArray line = m_buffer.left(end);
            if (line.startsWith("PING "))
                sendLine("PONG " + line.mid(5));
            lines.append(line);
        }
    });
}

bool IrcTestClient::connectTo(quint16 port, const QByteArray &nick) {
    m_nick = nick;
    m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    sendLine("NICK " + nick);
    sendLine("USER " + nick + " 0 * :Velloq test user " + nick);
    return waitForLine(":irc.velloq.test 001 " + nick + ' ', true);
}

void IrcTestClient::sendLine(const QByteArray &line) {
    m_socket.write(line + "\r\n");
}

bool IrcTestClient::waitForLine(const QByteArray &line, bool prefix, int ms) {
    return QTest::qWaitFor(
        [&] {
            for (qsizetype i = m_cursor; i < lines.size(); ++i) {
                if (prefix ? lines.at(i).startsWith(line) : lines.at(i) == line) {
                    m_cursor = i + 1;
                    return true;
                }
            }
            return false;
        },
        ms);
}

bool IrcTestClient::join(const QByteArray &channel) {
    sendLine("JOIN " + channel);
    return waitForLine(":irc.velloq.test 366 " + m_nick + ' ' + channel + ' ', true);
}

void IrcTestClient::quit() {
    if (m_socket.state() != QAbstractSocket::ConnectedState)
        return;
    sendLine("QUIT :bye");
    (void)QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::UnconnectedState; },
                          2000);
}
