#pragma once

#include <QAbstractSocket>
#include <QList>
#include <QSslError>
#include <QString>

// Why a TLS connection attempt failed, in plain words for the status window.
namespace TlsErrors {
// The words for one certificate problem, e.g. "self-signed certificate".
QString CertificateProblem(const QSslError &error);
// "certificate not trusted: " followed by the distinct problems, in the order found, joined by
// "; ".
QString CertificateReason(const QList<QSslError> &errors);
// The reason for a failed attempt: the certificate reason when the certificate was refused,
// "TLS handshake failed: ..." when the handshake broke down (a server closing the connection
// in the middle of it included), otherwise the socket's own error text.
QString FailureReason(const QList<QSslError> &certificateErrors, QAbstractSocket::SocketError error,
                      const QString &errorString);
// The reason for the failure of an established TLS connection: "TLS connection failed: " and
// the library's words without its error codes, or the plain reason of the socket error.
QString BrokenReason(QAbstractSocket::SocketError error, const QString &errorString);
} // namespace TlsErrors
