#include "platform/SocketElement.h"

#include <QTcpSocket>
#include <QTimer>

namespace {
// How long a socket we let go may take to hand its last lines to the server.
constexpr int LingerMs = 5000;
} // namespace

SocketElement::SocketElement(QObject *parent) : QObject(parent) {}

SocketElement::~SocketElement() { detach(); }

void SocketElement::Connect(const QString &host, quint16 port) {
    m_host = host;
    m_port = port;
    Connect();
}

void SocketElement::Connect() {
    detach();
    m_endReported = false;
    auto *socket = new QTcpSocket(this);
    m_socket = socket;
    connect(socket, &QTcpSocket::connected, this, &SocketElement::Connected);
    connect(socket, &QTcpSocket::readyRead, this,
            [this, socket] { emit DataArrival(static_cast<qint32>(qMin<qint64>(
                                 socket->bytesAvailable(), std::numeric_limits<qint32>::max()))); });
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) { onErrorOccurred(error); });
    connect(socket, &QTcpSocket::disconnected, this, &SocketElement::onDisconnected);
    connect(socket, &QTcpSocket::bytesWritten, this, &SocketElement::onBytesWritten);
    // The host lookup runs asynchronously: the window keeps answering meanwhile.
    socket->connectToHost(m_host, m_port);
}

// Our own close: the socket is cut from this element first, so that none of its later signals
// is taken for the server's close, then it hands its queued lines over and goes quietly.
void SocketElement::Close() { detach(); }

void SocketElement::detach() {
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    if (!socket)
        return;
    socket->disconnect(this);
    socket->setParent(nullptr);
    if (socket->state() == QAbstractSocket::ConnectedState) {
        socket->flush();
        socket->disconnectFromHost();
    } else {
        socket->abort();
    }
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(LingerMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}

void SocketElement::SendData(const QByteArray &data) {
    if (m_socket)
        m_socket->write(data);
}

QByteArray SocketElement::GetData() { return m_socket ? m_socket->readAll() : QByteArray(); }

qint64 SocketElement::BytesAvailable() const { return m_socket ? m_socket->bytesAvailable() : 0; }

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
        return Connected_;
    case QAbstractSocket::BoundState:
        return Open;
    case QAbstractSocket::ListeningState:
        return Listening;
    case QAbstractSocket::ClosingState:
        return Closing;
    }
    return Closed_;
}

void SocketElement::onErrorOccurred(int error) {
    if (m_endReported)
        return;
    m_endReported = true;
    if (error == QAbstractSocket::RemoteHostClosedError) {
        emit Closed();
        return;
    }
    const QString description = m_socket ? m_socket->errorString() : QString();
    emit Error(static_cast<qint16>(error), description);
}

void SocketElement::onDisconnected() {
    if (m_endReported)
        return;
    m_endReported = true;
    emit Closed();
}

void SocketElement::onBytesWritten(qint64 bytes) {
    const qint64 remaining = m_socket ? m_socket->bytesToWrite() : 0;
    emit SendProgress(static_cast<qint32>(bytes), static_cast<qint32>(remaining));
    if (remaining == 0)
        emit SendComplete();
}
