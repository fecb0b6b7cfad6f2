#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

class QTcpSocket;

// One TCP client socket of the main window's socket array. Its notifications mean what a chat
// client expects of its socket component, which differs from QTcpSocket's signals:
//  - Closed means the server closed the connection; a close of our own never raises it.
//  - A connection reset or closed by the peer is a close, not a failure.
//  - Close hands what is queued to the system first, so lines sent just before it still go out.
class SocketElement : public QObject {
    Q_OBJECT
public:
    // Socket states as the program reads them; only Connected is tested.
    enum State : qint16 {
        Closed_ = 0,
        Open = 1,
        Listening = 2,
        ConnectionPending = 3,
        ResolvingHost = 4,
        HostResolved = 5,
        Connecting = 6,
        Connected_ = 7,
        Closing = 8,
        Error_ = 9
    };

    explicit SocketElement(QObject *parent = nullptr);
    ~SocketElement() override;

    void Connect(const QString &host, quint16 port);
    // Connects again to the host and port given last.
    void Connect();
    void Close();
    void SendData(const QByteArray &data);
    // Hands over everything received and not yet fetched.
    QByteArray GetData();
    qint64 BytesAvailable() const;
    qint16 SocketState() const;

    QString RemoteHost() const { return m_host; }
    quint16 RemotePort() const { return m_port; }

signals:
    void Closed();
    void Connected();
    void DataArrival(qint32 bytesTotal);
    void Error(qint16 number, const QString &description);
    void SendComplete();
    void SendProgress(qint32 bytesSent, qint32 bytesRemaining);

private:
    void detach();
    void onErrorOccurred(int error);
    void onDisconnected();
    void onBytesWritten(qint64 bytes);

    QPointer<QTcpSocket> m_socket;
    QString m_host;
    quint16 m_port = 0;
    bool m_endReported = false; // a close or failure was already raised for this attempt
};
