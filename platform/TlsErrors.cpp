#include "platform/TlsErrors.h"

#include "platform/SocketErrors.h"

#include <QStringList>

namespace {
// Qt's texts start with a capital letter; inside our report line they follow a colon.
QString lowerFirst(const QString &text) {
    if (text.isEmpty())
        return text;
    return text.front().toLower() + text.mid(1);
}
} // namespace

QString TlsErrors::CertificateProblem(const QSslError &error) {
    switch (error.error()) {
    case QSslError::SelfSignedCertificate:
        return QStringLiteral("self-signed certificate");
    case QSslError::SelfSignedCertificateInChain:
        return QStringLiteral("self-signed certificate in the chain");
    // The chain ends at an authority that is not in the trusted set.
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
        return QStringLiteral("issued by an unknown authority");
    case QSslError::CertificateUntrusted:
    case QSslError::CertificateRejected:
        return QStringLiteral("the authority is not trusted for servers");
    case QSslError::InvalidCaCertificate:
        return QStringLiteral("invalid authority certificate in the chain");
    case QSslError::CertificateSignatureFailed:
    case QSslError::UnableToDecryptCertificateSignature:
    case QSslError::UnableToDecodeIssuerPublicKey:
        return QStringLiteral("bad certificate signature");
    case QSslError::CertificateNotYetValid:
        return QStringLiteral("the certificate is not yet valid");
    case QSslError::CertificateExpired:
        return QStringLiteral("the certificate has expired");
    case QSslError::CertificateRevoked:
        return QStringLiteral("the certificate has been revoked");
    case QSslError::InvalidPurpose:
        return QStringLiteral("the certificate is not meant for a server");
    case QSslError::HostNameMismatch:
        return QStringLiteral("the host name did not match any of the valid hosts for this "
                              "certificate");
    case QSslError::NoPeerCertificate:
        return QStringLiteral("the server sent no certificate");
    default:
        break;
    }
    const QString text = lowerFirst(error.errorString());
    return text.isEmpty() ? QStringLiteral("unknown certificate error") : text;
}

QString TlsErrors::CertificateReason(const QList<QSslError> &errors) {
    // Several errors often say the same thing about one chain; each problem is named once.
    QStringList problems;
    for (const QSslError &error : errors) {
        const QString problem = CertificateProblem(error);
        if (!problems.contains(problem))
            problems.append(problem);
    }
    return QStringLiteral("certificate not trusted: ") + problems.join(QStringLiteral("; "));
}

QString TlsErrors::FailureReason(const QList<QSslError> &certificateErrors,
                                 QAbstractSocket::SocketError error, const QString &errorString) {
    if (!certificateErrors.isEmpty())
        return CertificateReason(certificateErrors);
    switch (error) {
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("TLS handshake failed: the server closed the connection");
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return QStringLiteral("TLS handshake failed: ") +
               SocketErrors::WithoutLibraryCodes(errorString);
    default:
        return SocketErrors::Reason(error, errorString);
    }
}

QString TlsErrors::BrokenReason(QAbstractSocket::SocketError error, const QString &errorString) {
    switch (error) {
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return QStringLiteral("TLS connection failed: ") +
               SocketErrors::Reason(QAbstractSocket::UnknownSocketError, errorString);
    default:
        return SocketErrors::Reason(error, errorString);
    }
}
