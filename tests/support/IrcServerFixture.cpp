#include "support/IrcServerFixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

#include <pwd.h>
#include <unistd.h>

namespace {

// RFC 7919's ffdhe2048 group. Without a DHFile ngircd (GnuTLS) generates fresh parameters at every
// start, which takes a second or more.
const char kDhParams[] = "-----BEGIN DH PARAMETERS-----\n"
                         "MIIBCAKCAQEA//////////+t+FRYortKmq/cViAnPTzx2LnFg84tNpWp4TZBFGQz\n"
                         "+8yTnc4kmz75fS/jY2MMddj2gbICrsRhetPfHtXV/WVhJDP1H18GbtCFY2VVPe0a\n"
                         "87VXE15/V8k1mE8McODmi3fipona8+/och3xWKE2rec1MKzKT0g6eXq8CrGCsyT7\n"
                         "YdEIqUuyyOP7uWrat2DX9GgdT0Kj3jlN9K5W7edjcrsZCwenyO4KbXCeAvzhzffi\n"
                         "7MA0BM0oNC9hkXL+nOmFg/+OTxIy7vKBg8P+OxtMb61zO7X8vC7CIAXFjvGDfRaD\n"
                         "ssbzSibBsu/6iGtCOGEoXJf//////////wIBAg==\n"
                         "-----END DH PARAMETERS-----\n";

const int kStartTimeoutMs = 10000;
const int kStartAttempts = 3;

// Free ports picked by binding 127.0.0.1:0. All servers stay open until every port is picked so
// the two ports differ. Another process may still take a port before the server binds it; start()
// then tries again with new ports.
QList<quint16> pickFreePorts(int count) {
    QList<QTcpServer *> servers;
    QList<quint16> ports;
    for (int i = 0; i < count; ++i) {
        auto *server = new QTcpServer;
        if (server->listen(QHostAddress::LocalHost, 0))
            ports.append(server->serverPort());
        servers.append(server);
    }
    qDeleteAll(servers);
    return ports;
}

// The NGIRCD or INSPIRCD environment variable, else the sbin folders, else PATH.
QString findProgram(const QString &program, const char *variable) {
    const QString fromEnv = qEnvironmentVariable(variable);
    if (!fromEnv.isEmpty())
        return fromEnv;
    const QString inSbin = QStandardPaths::findExecutable(
        program, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
    if (!inSbin.isEmpty())
        return inSbin;
    return QStandardPaths::findExecutable(program);
}

void setError(QString *error, const QString &message) {
    if (error)
        *error = message;
}

} // namespace

IrcServerFixture::IrcServerFixture(Kind kind) : m_kind(kind) {}

IrcServerFixture::~IrcServerFixture() {
    stop();
}

QString IrcServerFixture::name() const {
    return m_kind == Kind::Ngircd ? QStringLiteral("ngircd") : QStringLiteral("InspIRCd");
}

QString IrcServerFixture::userMask(const QString &nick) const {
    // ngircd marks a user name that no ident answer confirmed with a "~".
    const QString user = m_kind == Kind::Ngircd ? QLatin1Char('~') + nick : nick;
    return nick + QLatin1Char('!') + user + QStringLiteral("@127.0.0.1");
}

void IrcServerFixture::setPingTimeout(int seconds) {
    m_pingTimeout = qMax(5, seconds);
}

void IrcServerFixture::setPongTimeout(int seconds) {
    m_pongTimeout = qMax(5, seconds);
}

void IrcServerFixture::enableTls(const QString &certFile, const QString &keyFile) {
    m_certFile = QFileInfo(certFile).absoluteFilePath();
    m_keyFile = QFileInfo(keyFile).absoluteFilePath();
}

QString IrcServerFixture::configPath() const {
    const QString file =
        m_kind == Kind::Ngircd ? QStringLiteral("ngircd.conf") : QStringLiteral("inspircd.conf");
    return m_dir ? m_dir->filePath(file) : QString();
}

QByteArray IrcServerFixture::log() const {
    if (m_process)
        m_log += m_process->readAll();
    return m_log;
}

bool IrcServerFixture::isRunning() const {
    return m_process && m_process->state() != QProcess::NotRunning;
}

bool IrcServerFixture::writeConfig(QString *error) {
    const QString conf = m_kind == Kind::Ngircd ? ngircdConfig(error) : inspircdConfig(error);
    if (conf.isEmpty())
        return false;
    QFile file(configPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(conf.toUtf8()) < 0) {
        setError(error, QStringLiteral("cannot write %1").arg(configPath()));
        return false;
    }
    return true;
}

QString IrcServerFixture::ngircdConfig(QString *error) const {
    const QString includeDir = m_dir->filePath(QStringLiteral("conf.d"));
    const QString dhFile = m_dir->filePath(QStringLiteral("dhparams.pem"));
    QDir().mkpath(includeDir);

    QString conf;
    conf += QStringLiteral("[Global]\n");
    conf += QStringLiteral("Name = %1\n").arg(m_serverName);
    conf += QStringLiteral("Info = Velloq test server\n");
    conf += QStringLiteral("AdminInfo1 = Velloq tests\nAdminInfo2 = Loopback\n");
    conf += QStringLiteral("AdminEMail = tests@velloq.test\n");
    conf += QStringLiteral("Listen = 127.0.0.1\n");
    conf += QStringLiteral("Ports = %1\n").arg(m_port);
    conf += QStringLiteral("MotdPhrase = \"Welcome to the Velloq test server\"\n");
    conf += QStringLiteral("PidFile = %1\n").arg(m_dir->filePath(QStringLiteral("ngircd.pid")));

    // ngircd will not keep uid 0: started by root it switches to another user, who must then
    // be able to write the PID file into our folder.
    if (::geteuid() == 0) {
        const passwd *nobody = ::getpwnam("nobody");
        if (!nobody) {
            setError(error, QStringLiteral("running as root but there is no user \"nobody\" for "
                                           "ngircd to switch to"));
            return QString();
        }
        conf += QStringLiteral("ServerUID = %1\nServerGID = %2\n")
                    .arg(nobody->pw_uid)
                    .arg(nobody->pw_gid);
        if (::chown(QFile::encodeName(m_dir->path()).constData(), nobody->pw_uid, nobody->pw_gid) !=
            0) {
            setError(error, QStringLiteral("cannot hand %1 to user nobody").arg(m_dir->path()));
            return QString();
        }
    }

    conf += QStringLiteral("\n[Limits]\n");
    conf += QStringLiteral("MaxConnectionsIP = 0\nMaxJoins = 0\nMaxPenaltyTime = 0\n");
    conf += QStringLiteral("PingTimeout = %1\nPongTimeout = %2\n")
                .arg(m_pingTimeout)
                .arg(m_pongTimeout);

    conf += QStringLiteral("\n[Options]\n");
    conf += QStringLiteral("PAM = no\nIdent = no\nDNS = no\n");
    conf += QStringLiteral("IncludeDir = %1\n").arg(includeDir);

    if (m_tlsPort != 0) {
        QFile dh(dhFile);
        if (!dh.open(QIODevice::WriteOnly) || dh.write(kDhParams) < 0) {
            setError(error, QStringLiteral("cannot write %1").arg(dhFile));
            return QString();
        }
        conf += QStringLiteral("\n[SSL]\n");
        conf += QStringLiteral("CertFile = %1\nKeyFile = %2\n").arg(m_certFile, m_keyFile);
        conf += QStringLiteral("DHFile = %1\n").arg(dhFile);
        conf += QStringLiteral("Ports = %1\n").arg(m_tlsPort);
    }

    return conf;
}

QString IrcServerFixture::inspircdConfig(QString *error) const {
    if (m_tlsPort != 0) {
        setError(error, QStringLiteral("the InspIRCd fixture offers no TLS"));
        return QString();
    }
    const QString motd = m_dir->filePath(QStringLiteral("motd.txt"));
    QFile motdFile(motd);
    if (!motdFile.open(QIODevice::WriteOnly) ||
        motdFile.write("Welcome to the Velloq test server\n") < 0) {
        setError(error, QStringLiteral("cannot write %1").arg(motd));
        return QString();
    }
    QString conf;
    conf += QStringLiteral("<server name=\"%1\" description=\"Velloq test server\" "
                           "network=\"VelloqTest\">\n")
                .arg(m_serverName);
    conf += QStringLiteral("<admin name=\"Velloq tests\" nick=\"tests\" "
                           "email=\"tests@velloq.test\">\n");
    conf +=
        QStringLiteral("<bind address=\"127.0.0.1\" port=\"%1\" type=\"clients\">\n").arg(m_port);
    conf += QStringLiteral("<files motd=\"%1\">\n").arg(motd);
    conf += QStringLiteral("<connect allow=\"127.0.0.1\" resolvehostnames=\"no\" "
                           "useident=\"no\" fakelag=\"no\" threshold=\"1000000\" "
                           "commandrate=\"1000000\" recvq=\"1M\" softsendq=\"1M\" "
                           "hardsendq=\"8M\" localmax=\"1000\" globalmax=\"1000\" "
                           "maxchans=\"1000\" limit=\"10000\" timeout=\"60\" "
                           "pingfreq=\"%1\">\n")
                .arg(m_pingTimeout);
    conf += QStringLiteral("<performance clonesonconnect=\"no\" quietbursts=\"yes\">\n");
    return conf;
}

QStringList IrcServerFixture::arguments() const {
    if (m_kind == Kind::Ngircd)
        return {QStringLiteral("-n"), QStringLiteral("-f"), configPath()};
    QStringList args{QStringLiteral("--config"), configPath(), QStringLiteral("--nofork"),
                     QStringLiteral("--nopid")};
    if (::geteuid() == 0)
        args << QStringLiteral("--runasroot");
    return args;
}

// ngircd logs each port it binds ("Now listening on [127.0.0.1]:PORT") and then "ready."; a port
// it cannot bind does not stop it when another one works. InspIRCd lists the ports it could not
// bind ("127.0.0.1:PORT: Address already in use.") and then says it is running. Either way the
// log decides whether our ports are served by this process rather than whatever else holds them.
bool IrcServerFixture::logSaysTaken(const QByteArray &output, quint16 port) const {
    const QByteArray number = QByteArray::number(port);
    if (m_kind == Kind::Ngircd)
        return output.contains("Can't bind socket to address 127.0.0.1:" + number + ' ');
    return output.contains("127.0.0.1:" + number + ": ");
}

bool IrcServerFixture::logSaysReady(const QByteArray &output, const QList<quint16> &ports) const {
    if (m_kind == Kind::InspIRCd)
        return output.contains("InspIRCd is now running as");
    for (quint16 port : ports)
        if (!output.contains("Now listening on [127.0.0.1]:" + QByteArray::number(port) + ' '))
            return false;
    return output.contains(" ready.");
}

bool IrcServerFixture::start(QString *error) {
    if (isRunning()) {
        setError(error, name() + QStringLiteral(" is already running"));
        return false;
    }
    const bool ngircd = m_kind == Kind::Ngircd;
    const QString program = ngircd ? findProgram(QStringLiteral("ngircd"), "NGIRCD")
                                   : findProgram(QStringLiteral("inspircd"), "INSPIRCD");
    if (program.isEmpty()) {
        setError(error, QStringLiteral("%1 not found (looked in /usr/sbin, /usr/local/sbin and "
                                       "PATH; set %2 to its path)")
                            .arg(name(), ngircd ? "NGIRCD" : "INSPIRCD"));
        return false;
    }
    if (!m_dir) {
        m_dir = std::make_unique<QTemporaryDir>();
        if (!m_dir->isValid()) {
            setError(
                error,
                QStringLiteral("cannot create a temporary folder: %1").arg(m_dir->errorString()));
            m_dir.reset();
            return false;
        }
    }

    // Ports are picked at the first start only; a later start() after stop() listens on the same
    // ones, so clients can reconnect to the address they knew.
    const bool freshPorts = m_port == 0;
    for (int attempt = 1; attempt <= kStartAttempts; ++attempt) {
        if (freshPorts) {
            const QList<quint16> ports = pickFreePorts(2);
            if (ports.size() != 2) {
                setError(error, QStringLiteral("cannot find a free port on 127.0.0.1"));
                return false;
            }
            m_port = ports.at(0);
            m_tlsPort = m_certFile.isEmpty() ? 0 : ports.at(1);
        }
        bool portTaken = false;
        if (startOnce(program, error, &portTaken))
            return true;
        if (!portTaken || !freshPorts)
            return false;
    }
    return false;
}

bool IrcServerFixture::startOnce(const QString &program, QString *error, bool *portTaken) {
    m_log.clear();
    m_pid = 0;
    if (!writeConfig(error))
        return false;

    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setWorkingDirectory(m_dir->path());
    m_process->start(program, arguments());
    if (!m_process->waitForStarted(5000)) {
        setError(error, QStringLiteral("cannot run %1: %2").arg(program, m_process->errorString()));
        m_process.reset();
        return false;
    }
    m_pid = m_process->processId();

    QList<quint16> ports{m_port};
    if (m_tlsPort != 0)
        ports.append(m_tlsPort);
    const QDeadlineTimer deadline(kStartTimeoutMs);
    QString failure;
    while (failure.isEmpty()) {
        const bool exited = m_process->waitForFinished(50);
        const QByteArray output = log();
        for (quint16 port : ports) {
            if (logSaysTaken(output, port)) {
                *portTaken = true;
                failure = QStringLiteral("port %1 is taken").arg(port);
            }
        }
        if (!failure.isEmpty())
            break;
        if (exited) {
            failure =
                QStringLiteral("%1 exited with code %2").arg(name()).arg(m_process->exitCode());
            break;
        }
        if (logSaysReady(output, ports)) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_port);
            if (probe.waitForConnected(1000)) {
                probe.abort();
                return true;
            }
            failure = QStringLiteral("port %1 does not accept connections: %2")
                          .arg(m_port)
                          .arg(probe.errorString());
            break;
        }
        if (deadline.hasExpired())
            failure =
                QStringLiteral("%1 did not come up within %2 ms").arg(name()).arg(kStartTimeoutMs);
    }

    const QByteArray output = log();
    stop();
    setError(error, QStringLiteral("%1 (config %2). %3's output:\n%4")
                        .arg(failure, configPath(), name(), QString::fromLocal8Bit(output)));
    return false;
}

void IrcServerFixture::stop() {
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate(); // SIGTERM to the PID we started
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    log();
    m_process.reset();
}
