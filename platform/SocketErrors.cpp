#include "platform/SocketErrors.h"

#include <QRegularExpression>

QString SocketErrors::WithoutLibraryCodes(const QString &errorString) {
    // OpenSSL writes "error:<code>:<library>:<function>:<reason>"; only the reason is words.
    static const QRegularExpression code(QStringLiteral("error:[0-9A-Fa-f]+:[^:]*:[^:]*:"));
    QString text = errorString;
    text.remove(code);
    return text.trimmed();
}

QString SocketErrors::Reason(QAbstractSocket::SocketError error, const QString &errorString) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("connection refused");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("host not found");
    case QAbstractSocket::NetworkError:
        return QStringLiteral("network unreachable");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("timed out");
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("the server closed the connection");
    default:
        break;
    }
    // Qt's texts start with a capital letter; inside our report line they follow a colon.
    const QString text = WithoutLibraryCodes(errorString);
    if (text.isEmpty())
        return QStringLiteral("unknown network error");
    return text.front().toLower() + text.mid(1);
}
