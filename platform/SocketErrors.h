#pragma once

#include <QAbstractSocket>
#include <QString>

// Why a connection failed, in plain words for the status window.
namespace SocketErrors {
// "connection refused", "host not found", "network unreachable", "timed out"; for any other
// error the socket's own text, starting in lower case.
QString Reason(QAbstractSocket::SocketError error, const QString &errorString);
// The socket's text without the TLS library's error codes ("error:0A000119:SSL routines::").
QString WithoutLibraryCodes(const QString &errorString);
} // namespace SocketErrors
