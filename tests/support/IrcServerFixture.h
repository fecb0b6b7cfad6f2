#pragma once

// A private IRC server for end-to-end tests: ngircd or InspIRCd, whichever the test names.
//
// start() writes the server's configuration into a fresh temporary folder, picks a free port on
// 127.0.0.1 (binding 127.0.0.1:0), runs the server in the foreground as a child process and waits
// until its log says it listens and the port accepts a connection. stop() (also run by the
// destructor) ends the process it started, by its PID. Both servers are set up alike: named
// irc.velloq.test, listening on 127.0.0.1 only, a one-line MOTD, no limits on connections or
// channels from one address, no flood penalties (lines are relayed at once however fast a test
// sends them), and no ident or DNS lookups (nothing leaves loopback, nothing waits on a lookup;
// registering needs only NICK and USER).
//
// ngircd (`ngircd -n -f <conf>`):
//   [Global]   Name, Listen, Ports, MotdPhrase, PidFile in the temporary folder, admin info set so
//              ngircd logs no warnings.
//   [Limits]   MaxConnectionsIP = 0, MaxJoins = 0, MaxPenaltyTime = 0; PingTimeout/PongTimeout as
//              set (ngircd's defaults 120/20 s; its minimum is 5 s). Nicks keep ngircd's RFC limit
//              of 9 characters.
//   [Options]  PAM = no, Ident = no, DNS = no. Users show as nick!~user@127.0.0.1. IncludeDir
//              points to an empty folder so the system's /etc/ngircd snippets are never read.
//   [SSL]      only after enableTls(): the given certificate and key, and a second free port.
//   Run as root, ngircd refuses to keep uid 0 and switches to "nobody"; the fixture then names
//   that user as ServerUID/ServerGID and hands it the temporary folder for its PID file. The
//   certificate and key are read before the switch, so they may stay readable by root only.
// InspIRCd 3 (`inspircd --config <conf> --nofork --nopid`, and --runasroot when run as root):
//   <server>, <admin>, <bind> for clients on 127.0.0.1, <files motd>, and one <connect> class for
//   127.0.0.1 with resolvehostnames="no", fakelag="no", a very high threshold and command rate,
//   generous send and receive queues, and pingfreq = the ping timeout. Users show as
//   nick!user@127.0.0.1. TLS is not offered.
//
// The binaries are looked up in /usr/sbin, /usr/local/sbin and PATH; the NGIRCD and INSPIRCD
// environment variables override that. start() fails with a message if the server is missing or
// does not come up: a test needing the server must fail then, never skip.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class QProcess;

class IrcServerFixture {
public:
    enum class Kind { Ngircd, InspIRCd };

    explicit IrcServerFixture(Kind kind = Kind::Ngircd);
    ~IrcServerFixture();
    IrcServerFixture(const IrcServerFixture &) = delete;
    IrcServerFixture &operator=(const IrcServerFixture &) = delete;

    Kind kind() const { return m_kind; }
    // "ngircd" or "InspIRCd", for messages.
    QString name() const;
    // How the server shows a user who registered with NICK nick and USER nick.
    QString userMask(const QString &nick) const;

    // Settings take effect at the next start(). Seconds; values below 5 are raised to 5. With a
    // short ping timeout the server PINGs an idle client after that many seconds; ngircd drops it
    // PongTimeout seconds later when no PONG came back (InspIRCd at its next PING).
    void setPingTimeout(int seconds);
    void setPongTimeout(int seconds);
    // ngircd only: adds an [SSL] section, TLS connections on a second port, tlsPort(). Call it
    // before the first start(), which picks the ports.
    void enableTls(const QString &certFile, const QString &keyFile);

    // Writes the configuration, starts the server and waits (up to ~10 s) until it accepts TCP
    // connections. On failure returns false and, when error is given, says why (with the server's
    // output). The first start picks the ports (trying again with new ones if another process
    // takes one first); a start after stop() reuses them, so clients can reconnect.
    bool start(QString *error = nullptr);
    // Ends the process (SIGTERM, then SIGKILL if it lingers) and waits for it. Safe to call twice.
    void stop();
    bool isRunning() const;

    quint16 port() const { return m_port; }
    quint16 tlsPort() const { return m_tlsPort; }
    QString serverName() const { return m_serverName; }
    // The PID of the last process started; kept after stop(), so a test can check it is gone.
    qint64 pid() const { return m_pid; }
    QString configPath() const;
    // Everything the server wrote to stdout/stderr so far, for diagnostics.
    QByteArray log() const;

private:
    bool startOnce(const QString &program, QString *error, bool *portTaken);
    bool writeConfig(QString *error);
    QString ngircdConfig(QString *error) const;
    QString inspircdConfig(QString *error) const;
    QStringList arguments() const;
    // What the server's output says about a port: taken by another process, or listened on.
    bool logSaysTaken(const QByteArray &output, quint16 port) const;
    bool logSaysReady(const QByteArray &output, const QList<quint16> &ports) const;

    Kind m_kind;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    mutable QByteArray m_log;
    QString m_serverName = QStringLiteral("irc.velloq.test");
    QString m_certFile;
    QString m_keyFile;
    int m_pingTimeout = 120;
    int m_pongTimeout = 20;
    quint16 m_port = 0;
    quint16 m_tlsPort = 0;
    qint64 m_pid = 0;
};
