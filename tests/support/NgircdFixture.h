#pragma once

// A private ngircd for end-to-end tests.
//
// start() writes ngircd.conf into a fresh temporary folder and runs `ngircd -n -f <conf>` in the
// foreground as a child process. The configuration keeps everything on loopback and makes the
// server quick and predictable for tests:
//   [Global]   Name = irc.velloq.test; Listen = 127.0.0.1 only; Ports = a free port picked just
//              before start (binding 127.0.0.1:0); a one-line MOTD (MotdPhrase); PidFile in the
//              temporary folder; admin info set so ngircd logs no warnings.
//   [Limits]   MaxConnectionsIP = 0 and MaxJoins = 0 (no limits: tests open many connections and
//              channels from one address); MaxPenaltyTime = 0 (no flood penalties, so lines are
//              relayed at once however fast a test sends them); PingTimeout/PongTimeout as set
//              (ngircd's defaults 120/20 s; its minimum is 5 s). Nicks keep ngircd's RFC limit of
//              9 characters.
//   [Options]  PAM = no, Ident = no, DNS = no: registering needs only NICK and USER (no password),
//              and the server never contacts anything, so nothing leaves loopback and nothing waits
//              on a lookup. Users show as nick!~user@127.0.0.1. IncludeDir points to an empty
//              folder so the system's /etc/ngircd snippets are never read.
//   [SSL]      only after enableTls(): the given certificate and key, and a second free port.
// Run as root, ngircd refuses to keep uid 0 and switches to "nobody"; the fixture then names that
// user as ServerUID/ServerGID and hands it the temporary folder so it can write its PID file.
// The certificate and key are read before the switch, so they may stay readable by root only.
//
// The binary is /usr/sbin/ngircd (or `ngircd` on PATH; the NGIRCD environment variable overrides
// both). start() fails with a message if it is missing or does not come up: a test needing the
// server must fail then, never skip. stop() (also run by the destructor) ends the process it
// started, by its PID.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class QProcess;

class NgircdFixture {
public:
    NgircdFixture();
    ~NgircdFixture();
    NgircdFixture(const NgircdFixture &) = delete;
    NgircdFixture &operator=(const NgircdFixture &) = delete;

    // Settings take effect at the next start(). Seconds; values below 5 are raised to 5 by ngircd.
    // With a short PingTimeout the server PINGs an idle client after that many seconds and drops
    // it PongTimeout seconds later when no PONG came back.
    void setPingTimeout(int seconds);
    void setPongTimeout(int seconds);
    // Adds an [SSL] section: TLS connections on a second port, tlsPort(). Call it before the
    // first start(), which picks the ports.
    void enableTls(const QString &certFile, const QString &keyFile);

    // Writes the configuration, starts ngircd and waits (up to ~10 s) until it accepts TCP
    // connections. On failure returns false and, when error is given, says why (with ngircd's log).
    // The first start picks the ports (trying again with new ones if another process takes one
    // first); a start after stop() reuses them, so clients can reconnect to the same address.
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
    // Everything ngircd wrote to stdout/stderr so far, for diagnostics.
    QByteArray log() const;

private:
    bool startOnce(const QString &program, QString *error, bool *portTaken);
    bool writeConfig(QString *error);

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
