#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QSslError>
#include <QString>

class QSslSocket;
class QTimer;

// One TCP client socket of the main window's socket array, plain or TLS. Its notifications mean
// what a chat client expects of its socket component, which differs from QTcpSocket's signals:
//  - Closed means the server closed the connection; a close of our own never raises it.
//  - A connection reset or closed by the peer is a close, not a failure.
//  - Close hands what is queued to the system first, so lines sent just before it still go out.
//  - Each connection attempt ends in at most one Closed or Error.
// A TLS connection checks the server's certificate against the system's trusted authorities and
// the host name given to Connect; a certificate that fails is refused, never accepted silently.
// It counts as connected (Connected, state 7) only once the handshake is done, and its Error
// carries the reason in plain words (see TlsErrors), such as
// "certificate not trusted: self-signed certificate"; a TLS handshake that has not finished
// 30 s (or as set) after the TCP connection was made fails with "TLS handshake timed out".
// A plain connection that fails says why in plain words too ("connection refused").
// Lines waiting unsent are bounded: a server that stops reading is cut off (see SendData).
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

    // Unsent bytes a connection may hold before it is cut.
    static constexpr qint64 MaxUnsentBytes = 1024 * 1024;
    static constexpr int DefaultHandshakeTimeoutMs = 30000;

    explicit SocketElement(QObject *parent = nullptr,
                           int handshakeTimeoutMs = DefaultHandshakeTimeoutMs);
    ~SocketElement() override;

    void Connect(const QString &host, quint16 port, bool tls = false);
    // Connects again to the host and port given last, with TLS when it was asked for then.
    void Connect();
    void Close();
    // Queues data. When more than MaxUnsentBytes would then wait unsent (the server stopped
    // reading), the connection is cut at once, its queue dropped, and the result is false; no
    // Closed or Error is raised for it.
    bool SendData(const QByteArray &data);
    // Hands over everything received and not yet fetched.
    QByteArray GetData();
    // Moves up to max received bytes into data; returns how many (0 when none wait).
    qint64 Read(char *data, qint64 max);
    qint64 BytesAvailable() const;
    qint16 SocketState() const;

    QString RemoteHost() const { return m_host; }
    quint16 RemotePort() const { return m_port; }
    bool Tls() const { return m_tls; }

    // For tests only: authorities trusted by TLS connections besides the system's own, from the
    // next Connect on. An empty list returns to the system's authorities alone. There is no way
    // to switch the certificate check off.
    static void SetExtraCaCertificates(const QList<QSslCertificate> &certificates);
    // How long a TLS handshake may take from the TCP connection on, from the next Connect on.
    void SetHandshakeTimeout(int ms) { m_handshakeTimeoutMs = ms; }

    // At most this much received data waits in the element: beyond it the socket stops reading
    // until the program catches up, and the server is held back by TCP itself.
    static constexpr qint64 ReadBufferBytes = 256 * 1024;

signals:
    void Closed();
    void Connected();
    void DataArrival(qint32 bytesTotal);
    void Error(qint16 number, const QString &description);
    void SendComplete();
    void SendProgress(qint32 bytesSent, qint32 bytesRemaining);

private:
    enum class Leave { HandOver, Drop };
    void detach(Leave leave = Leave::HandOver);
    void onTcpConnected();
    void onHandshakeTimeout();
    void onConnected();
    void onErrorOccurred(int error);
    void onDisconnected();
    void onBytesWritten(qint64 bytes);
    void fail(qint16 number, const QString &description);

    QPointer<QSslSocket> m_socket;
    QString m_host;
    quint16 m_port = 0;
    bool m_tls = false;
    bool m_established = false;           // connected, and for TLS the handshake done
    bool m_endReported = false;           // a close or failure was already raised for this attempt
    bool m_inConnect = false;             // inside Connect: outcomes wait for the event loop
    QList<QSslError> m_certificateErrors; // of this attempt, gathered before its failure
    int m_handshakeTimeoutMs;
    QTimer *m_handshakeTimer;
};
