#include "support/IrcTestClient.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTest>

namespace {

int remainingMs(const QDeadlineTimer &deadline) {
    return int(qMax<qint64>(0, deadline.remainingTime()));
}

} // namespace

IrcTestClient::IrcTestClient(QObject *parent) : QObject(parent) {
    connect(&m_socket, &QTcpSocket::readyRead, this, &IrcTestClient::readLines);
}

IrcTestClient::~IrcTestClient() {
    m_socket.disconnect(this);
    m_socket.abort();
}

bool IrcTestClient::fail(const QString &message) {
    m_error = message;
    return false;
}

bool IrcTestClient::connectTo(quint16 port, const QString &nick, int ms) {
    const QDeadlineTimer deadline(ms);
    m_socket.abort();
    m_buffer.clear();
    clearLines();
    m_error.clear();
    m_nick = nick;

    m_socket.connectToHost(QHostAddress::LocalHost, port);
    const bool settled = QTest::qWaitFor(
        [this] {
            return m_socket.state() == QAbstractSocket::ConnectedState ||
                   m_socket.state() == QAbstractSocket::UnconnectedState;
        },
        remainingMs(deadline));
    if (!settled || m_socket.state() != QAbstractSocket::ConnectedState)
        return fail(QStringLiteral("cannot connect to 127.0.0.1:%1: %2")
                        .arg(port)
                        .arg(m_socket.errorString()));

    sendLine("NICK " + nick.toUtf8());
    sendLine("USER " + nick.toUtf8() + " 0 * :Velloq test user " + nick.toUtf8());

    // The welcome, or the first error numeric (nick in use, erroneous nick, ...) or ERROR.
    static const QRegularExpression outcome(QStringLiteral("^(:\\S+ (001|4\\d\\d) |ERROR )"));
    QByteArray line;
    if (!waitForLine(outcome, remainingMs(deadline), &line))
        return fail(QStringLiteral("no welcome from 127.0.0.1:%1 within %2 ms").arg(port).arg(ms));
    if (!line.contains(" 001 "))
        return fail(
            QStringLiteral("registration as %1 refused: %2").arg(nick, QString::fromUtf8(line)));
    return true;
}

bool IrcTestClient::isConnected() const {
    return m_socket.state() == QAbstractSocket::ConnectedState;
}

void IrcTestClient::sendLine(const QByteArray &line) {
    m_socket.write(line + "\r\n");
    m_socket.flush();
}

void IrcTestClient::readLines() {
    m_buffer += m_socket.readAll();
    qsizetype start = 0;
    for (qsizetype end; (end = m_buffer.indexOf('\n', start)) >= 0; start = end + 1) {
        QByteArray line = m_buffer.mid(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith("PING "))
            sendLine("PONG " + line.mid(5));
        m_lines.append(line);
    }
    m_buffer.remove(0, start);
}

bool IrcTestClient::waitForLine(const QRegularExpression &re, int ms, QByteArray *matched) {
    auto found = [&] {
        for (qsizetype i = m_cursor; i < m_lines.size(); ++i) {
            if (re.match(QString::fromUtf8(m_lines.at(i))).hasMatch()) {
                if (matched)
                    *matched = m_lines.at(i);
                m_cursor = i + 1;
                return true;
            }
        }
        return false;
    };
    return found() || QTest::qWaitFor(found, ms);
}

void IrcTestClient::clearLines() {
    m_lines.clear();
    m_cursor = 0;
}

bool IrcTestClient::join(const QString &channel, int ms) {
    const QDeadlineTimer deadline(ms);
    const QString nick = QRegularExpression::escape(m_nick);
    const QString chan = QRegularExpression::escape(channel);
    sendLine("JOIN " + channel.toUtf8());
    const QRegularExpression echo(QStringLiteral("^:%1!\\S+ JOIN :?%2$").arg(nick, chan),
                                  QRegularExpression::CaseInsensitiveOption);
    const QRegularExpression endOfNames(QStringLiteral("^:\\S+ 366 %1 %2 ").arg(nick, chan),
                                        QRegularExpression::CaseInsensitiveOption);
    if (!waitForLine(echo, remainingMs(deadline)))
        return fail(QStringLiteral("%1 saw no echo of JOIN %2").arg(m_nick, channel));
    if (!waitForLine(endOfNames, remainingMs(deadline)))
        return fail(QStringLiteral("%1 saw no end of names for %2").arg(m_nick, channel));
    return true;
}

void IrcTestClient::quit() {
    if (m_socket.state() != QAbstractSocket::ConnectedState)
        return;
    sendLine("QUIT :bye");
    if (!QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::UnconnectedState; },
                         2000))
        m_socket.abort();
}
