#include "platform/SocketElement.h"

#include "platform/SocketErrors.h"
#include "platform/TlsErrors.h"

#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

namespace {
// How long a socket we let go may take to hand its last lines to the server.
constexpr int LingerMs = 5000;

QList<QSslCertificate> &extraCaCertificates() {
    static QList<QSslCertificate> certificates;
    return certificates;
}
} // namespace

SocketElement::SocketElement(QObject *parent, int handshakeTimeoutMs)
    : QObject(parent), m_handshakeTimeoutMs(handshakeTimeoutMs),
      m_handshakeTimer(new QTimer(this)) {
    m_handshakeTimer->setSingleShot(true);
    connect(m_handshakeTimer, &QTimer::timeout, this, &SocketElement::onHandshakeTimeout);
}

SocketElement::~SocketElement() {
    detach();
}

void SocketElement::SetExtraCaCertificates(const QList<QSslCertificate> &certificates) {
    extraCaCertificates() = certificates;
}

void SocketElement::Connect(const QString &host, quint16 port, bool tls) {
    m_host = host;
    m_port = port;
    m_tls = tls;
    Connect();
}

// A QSslSocket serves both kinds: without connectToHostEncrypted it is a plain TCP socket.
void SocketElement::Connect() {
    detach();
    m_endReported = false;
    m_established = false;
    m_certificateErrors.clear();
    auto *socket = new QSslSocket(this);
    m_socket = socket;
    socket->setReadBufferSize(ReadBufferBytes);
    // An attempt the system refuses at once fails inside connectToHost: its report waits for
    // the event loop, so that the caller can say it is connecting first.
    m_inConnect = true;
    struct Reset {
        bool &flag;
        ~Reset() { flag = false; }
    } reset{m_inConnect};
    // A TLS connection is up once the handshake is done, not at the TCP connect before it.
    if (m_tls) {
        connect(socket, &QSslSocket::encrypted, this, &SocketElement::onConnected);
        connect(socket, &QAbstractSocket::connected, this, &SocketElement::onTcpConnected);
    } else {
        connect(socket, &QAbstractSocket::connected, this, &SocketElement::onConnected);
    }
    connect(socket, &QSslSocket::readyRead, this, [this, socket] {
        emit DataArrival(static_cast<qint32>(
            qMin<qint64>(socket->bytesAvailable(), std::numeric_limits<qint32>::max())));
    });
    connect(socket, &QSslSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) { onErrorOccurred(error); });
    connect(socket, &QSslSocket::disconnected, this, &SocketElement::onDisconnected);
    connect(socket, &QSslSocket::bytesWritten, this, &SocketElement::onBytesWritten);
    // The host lookup and the handshake run asynchronously: the window keeps answering meanwhile.
    if (!m_tls) {
        socket->connectToHost(m_host, m_port);
        return;
    }
    if (!QSslSocket::supportsSsl()) {
        fail(QAbstractSocket::SslInternalError,
             QStringLiteral("TLS handshake failed: TLS is not available on this system"));
        return;
    }
    // Certificate errors come before the failure they cause: they are kept to name the reason.
    // They are never ignored, so the handshake fails on any of them.
    connect(socket, &QSslSocket::sslErrors, this,
            [this](const QList<QSslError> &errors) { m_certificateErrors += errors; });
    socket->setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!extraCaCertificates().isEmpty()) {
        QSslConfiguration config = socket->sslConfiguration();
        config.setCaCertificates(QSslConfiguration::systemCaCertificates() + extraCaCertificates());
        socket->setSslConfiguration(config);
    }
    // The host name given is the name the certificate must be valid for.
    socket->connectToHostEncrypted(m_host, m_port);
}

// Our own close: the socket is cut from this element first, so that none of its later signals
// is taken for the server's close, then it hands its queued lines over and goes quietly.
void SocketElement::Close() {
    detach();
}

void SocketElement::detach(Leave leave) {
    m_handshakeTimer->stop();
    QSslSocket *socket = m_socket;
    m_socket = nullptr;
    if (!socket)
        return;
    socket->disconnect(this);
    socket->setParent(nullptr);
    // A TLS socket still in its handshake has nothing to hand over: it is cut at once.
    if (socket->state() == QAbstractSocket::ConnectedState && m_established &&
        leave == Leave::HandOver) {
        socket->flush();
        socket->disconnectFromHost();
    } else {
        socket->abort();
    }
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    QObject::connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(LingerMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}

bool SocketElement::SendData(const QByteArray &data) {
    if (!m_socket)
        return true;
    m_socket->write(data);
    if (m_socket->bytesToWrite() <= MaxUnsentBytes)
        return true;
    // Lines written during one event are queued until the event loop runs: give the system
    // what it takes now before deciding that the server has stopped reading.
    m_socket->flush();
    if (m_socket->bytesToWrite() <= MaxUnsentBytes)
        return true;
    m_endReported = true;
    detach(Leave::Drop);
    return false;
}

QByteArray SocketElement::GetData() {
    return m_socket ? m_socket->readAll() : QByteArray();
}

qint64 SocketElement::Read(char *data, qint64 max) {
    if (!m_socket || max <= 0)
        return 0;
    return qMax<qint64>(0, m_socket->read(data, max));
}

qint64 SocketElement::BytesAvailable() const {
    return m_socket ? m_socket->bytesAvailable() : 0;
}

qint16 SocketElement::SocketState() const {
    if (!m_socket)
        return Closed_;
    switch (m_socket->state()) {
    case QAbstractSocket::UnconnectedState:
        return m_endReported && m_socket->error() != QAbstractSocket::RemoteHostClosedError
                   ? Error_
                   : Closed_;
    case QAbstractSocket::HostLookupState:
        return ResolvingHost;
    case QAbstractSocket::ConnectingState:
        return Connecting;
    case QAbstractSocket::ConnectedState:
        // During the TLS handshake nothing may be sent or received yet.
        return m_established ? Connected_ : Connecting;
    case QAbstractSocket::BoundState:
        return Open;
    case QAbstractSocket::ListeningState:
        return Listening;
    case QAbstractSocket::ClosingState:
        return Closing;
    }
    return Closed_;
}

void SocketElement::onConnected() {
    m_handshakeTimer->stop();
    m_established = true;
    emit Connected();
}

// The TCP connection of a TLS attempt is made: from now on the handshake has a time limit.
void SocketElement::onTcpConnected() {
    m_handshakeTimer->start(m_handshakeTimeoutMs);
}

void SocketElement::onHandshakeTimeout() {
    if (m_established || m_endReported || !m_socket)
        return;
    detach(Leave::Drop);
    fail(QAbstractSocket::SocketTimeoutError, QStringLiteral("TLS handshake timed out"));
}

void SocketElement::onErrorOccurred(int error) {
    if (m_endReported)
        return;
    const auto socketError = static_cast<QAbstractSocket::SocketError>(error);
    // A server that closes during the TLS handshake has refused the connection: a failure.
    if (socketError == QAbstractSocket::RemoteHostClosedError && (!m_tls || m_established)) {
        m_endReported = true;
        emit Closed();
        return;
    }
    // Every failure names its reason in plain words.
    const QString errorString = m_socket ? m_socket->errorString() : QString();
    QString reason;
    if (!m_tls)
        reason = SocketErrors::Reason(socketError, errorString);
    else if (!m_established)
        reason = TlsErrors::FailureReason(m_certificateErrors, socketError, errorString);
    else
        reason = TlsErrors::BrokenReason(socketError, errorString);
    fail(static_cast<qint16>(error), reason);
}

void SocketElement::onDisconnected() {
    if (m_endReported)
        return;
    if (m_tls && !m_established) {
        fail(QAbstractSocket::RemoteHostClosedError,
             TlsErrors::FailureReason(m_certificateErrors, QAbstractSocket::RemoteHostClosedError,
                                      QString()));
        return;
    }
    m_endReported = true;
    emit Closed();
}

void SocketElement::fail(qint16 number, const QString &description) {
    m_endReported = true;
    if (!m_inConnect) {
        emit Error(number, description);
        return;
    }
    QTimer::singleShot(0, this, [this, socket = m_socket.data(), number, description] {
        if (m_socket == socket)
            emit Error(number, description);
    });
}

void SocketElement::onBytesWritten(qint64 bytes) {
    const qint64 remaining = m_socket ? m_socket->bytesToWrite() : 0;
    emit SendProgress(static_cast<qint32>(bytes), static_cast<qint32>(remaining));
    if (remaining == 0)
        emit SendComplete();
}
