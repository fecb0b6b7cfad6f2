#pragma once

// A private IRC server for end-to-end tests, ngircd or InspIRCd 3, named irc.velloq.test and
// listening on free ports of 127.0.0.1 only. start() writes its configuration into a temporary
// folder: no ident or DNS lookups, no flood penalties (unless the server's own flood limits are
// asked for), no limits per address, a one-line MOTD.
// ngircd also serves TLS on a second port, with a certificate for 127.0.0.1 made by openssl and
// signed by a test authority (authority()), and PINGs a client idle for 5 s, dropping it 5 s
// later if no PONG came. The server is stopped by the PID of the process started, and by a
// watchdog of its own if the test process ends without stopping it. A test that needs the server
// fails when it cannot start: never skips.

#include <QProcess>
#include <QSslCertificate>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class IrcServerFixture {
public:
    enum class Kind { Ngircd, InspIRCd };
    // Flood: the server paces and cuts off fast talkers as its default configuration does.
    enum class Limits { None, Flood };

    explicit IrcServerFixture(Kind kind, Limits limits = Limits::None)
        : m_kind(kind), m_limits(limits) {}
    ~IrcServerFixture() { stop(); }

    // Starts the server and waits until its ports accept connections; on failure says why.
    bool start(QString *error);
    void stop();

    Kind kind() const { return m_kind; }
    quint16 port() const { return m_port; }
    quint16 tlsPort() const { return m_tlsPort; }
    QSslCertificate authority() const;

private:
    bool makeCertificates(QString *error) const;
    QString config() const;
    bool startOnce(QString *error);

    Kind m_kind;
    Limits m_limits;
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    quint16 m_tlsPort = 0;
};
