#include "support/IrcServerFixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

namespace {

bool writeFile(const QString &path, const QByteArray &data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

bool run(const QString &program, const QStringList &arguments, QString *error) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        return true;
    *error = program + ' ' + arguments.join(' ') + ": " + process.errorString() + ' ' +
             QString::fromLocal8Bit(process.readAll());
    return false;
}

bool accepts(quint16 port) {
    QTcpSocket probe;
    probe.connectToHost(QStringLiteral("127.0.0.1"), port);
    return probe.waitForConnected(200);
}

} // namespace

QSslCertificate IrcServerFixture::authority() const {
    const QList<QSslCertificate> found = QSslCertificate::fromPath(m_dir.filePath("ca.pem"));
    return found.isEmpty() ? QSslCertificate() : found.first();
}

// An authority, and a server certificate it signs that is valid for 127.0.0.1 alone (by its
// alternative name; the common name is no host), each lasting two days from now.
bool IrcServerFixture::makeCertificates(QString *error) const {
    const QString cnf = m_dir.filePath("req.cnf");
    const auto make = [&](const char *subject, const char *name, const QStringList &extensions) {
        return run("openssl",
                   QStringList{"req", "-x509", "-nodes", "-days", "2", "-newkey", "ec", "-pkeyopt",
                               "ec_paramgen_curve:prime256v1", "-config", cnf, "-subj", subject,
                               "-keyout", m_dir.filePath(name + QString(".key")), "-out",
                               m_dir.filePath(name + QString(".pem"))} +
                       extensions,
                   error);
    };
    return writeFile(cnf, "[req]\ndistinguished_name = dn\n[dn]\n") &&
           make("/CN=Velloq test authority", "ca",
                {"-addext", "basicConstraints=critical,CA:TRUE", "-addext",
                 "keyUsage=critical,keyCertSign"}) &&
           make("/CN=Velloq test server", "server",
                {"-addext", "subjectAltName=IP:127.0.0.1", "-CA", m_dir.filePath("ca.pem"),
                 "-CAkey", m_dir.filePath("ca.key")});
}

QString IrcServerFixture::config() const {
    const bool flood = m_limits == Limits::Flood;
    if (m_kind == Kind::InspIRCd)
        return QStringLiteral(
                   "<server name=\"irc.velloq.test\" description=\"Velloq test server\" "
                   "network=\"VelloqTest\">\n"
                   "<admin name=\"Velloq tests\" nick=\"tests\" email=\"tests@velloq.test\">\n"
                   "<bind address=\"127.0.0.1\" port=\"%1\" type=\"clients\">\n"
                   "<files motd=\"%2\">\n"
                   "<connect allow=\"127.0.0.1\" resolvehostnames=\"no\" useident=\"no\" "
                   "%3localmax=\"1000\" globalmax=\"1000\">\n")
            .arg(m_port)
            .arg(m_dir.filePath("motd.txt"),
                 flood ? QString()
                       : QStringLiteral("fakelag=\"no\" threshold=\"1000000\" "
                                        "commandrate=\"1000000\" "));
    // Run as root, ngircd switches to another user, who must be able to write its PID file.
    QString user;
    if (const passwd *nobody = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr) {
        user = QStringLiteral("ServerUID = %1\nServerGID = %2\n")
                   .arg(nobody->pw_uid)
                   .arg(nobody->pw_gid);
        if (::chown(QFile::encodeName(m_dir.path()).constData(), nobody->pw_uid, nobody->pw_gid) !=
            0)
            return QString();
    }
    return QStringLiteral("[Global]\nName = irc.velloq.test\nListen = 127.0.0.1\nPorts = %1\n"
                          "MotdPhrase = \"Welcome to the Velloq test server\"\nPidFile = %2\n%3"
                          "[Limits]\nMaxConnectionsIP = 0\nMaxJoins = 0\n%8"
                          "PingTimeout = 5\nPongTimeout = 5\n"
                          "[Options]\nPAM = no\nIdent = no\nDNS = no\nIncludeDir = %4\n"
                          "[SSL]\nCertFile = %5\nKeyFile = %6\nPorts = %7\n")
        .arg(m_port)
        .arg(m_dir.filePath("ngircd.pid"), user, m_dir.filePath("conf.d"),
             m_dir.filePath("server.pem"), m_dir.filePath("server.key"))
        .arg(m_tlsPort)
        .arg(flood ? QString() : QStringLiteral("MaxPenaltyTime = 0\n"));
}

bool IrcServerFixture::start(QString *error) {
    const bool ngircd = m_kind == Kind::Ngircd;
    if (!m_dir.isValid() || !QDir(m_dir.path()).mkdir("conf.d") ||
        !writeFile(m_dir.filePath("motd.txt"), "Welcome to the Velloq test server\n")) {
        *error = "cannot write into a temporary folder";
        return false;
    }
    if (ngircd && !makeCertificates(error))
        return false;
    // Another process may take a free port before the server binds it: then try new ones.
    for (int attempt = 0; attempt < 3; ++attempt)
        if (startOnce(error))
            return true;
    return false;
}

namespace {

// Runs in the server's process before it becomes the server (only calls safe between fork and
// exec): leaves a watchdog that kills the server once the test process is gone, however it ended
// (a crash, a time limit's kill), and ends with the server otherwise. It watches a pipe whose
// write end only the test process keeps (children lose it when they start their program). A
// parent-death signal would not do: ngircd run as root changes its user, which cancels it.
void leaveWatchdog(const int *lifeline) {
    const pid_t server = ::getpid();
    if (lifeline[0] < 0 || ::fork() != 0)
        return;
    ::close(lifeline[1]);
    pollfd hangUp{lifeline[0], POLLIN, 0};
    while (::getppid() == server)
        if (::poll(&hangUp, 1, 200) > 0)
            ::kill(server, SIGKILL);
    ::_exit(0);
}

} // namespace

bool IrcServerFixture::startOnce(QString *error) {
    QTcpServer first, second;
    first.listen(QHostAddress::LocalHost);
    second.listen(QHostAddress::LocalHost);
    m_port = first.serverPort();
    m_tlsPort = m_kind == Kind::Ngircd ? second.serverPort() : 0;
    first.close();
    second.close();
    const QString file = m_dir.filePath("server.conf"), conf = config();
    if (conf.isEmpty() || !writeFile(file, conf.toUtf8())) {
        *error = "cannot write " + file;
        return false;
    }
    QStringList arguments{"-n", "-f", file};
    if (m_kind == Kind::InspIRCd)
        arguments = QStringList{"--config", file, "--nofork", "--nopid"} +
                    (::geteuid() == 0 ? QStringList{"--runasroot"} : QStringList{});
    const QString name = m_kind == Kind::Ngircd ? "ngircd" : "inspircd";
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    static int lifeline[2] = {-1, -1};
    if (lifeline[0] < 0)
        static_cast<void>(::pipe2(lifeline, O_CLOEXEC));
    m_process->setChildProcessModifier([] { leaveWatchdog(lifeline); });
    m_process->start(QStandardPaths::findExecutable(name, {"/usr/sbin", "/usr/local/sbin"}),
                     arguments);
    const QDeadlineTimer deadline(10000);
    while (!m_process->waitForFinished(50) && !deadline.hasExpired())
        if (accepts(m_port) && (m_tlsPort == 0 || accepts(m_tlsPort)))
            return true;
    *error = name + " did not come up on 127.0.0.1:" + QString::number(m_port) + ": " +
             m_process->errorString() + ' ' + QString::fromLocal8Bit(m_process->readAll());
    stop();
    return false;
}

void IrcServerFixture::stop() {
    if (!m_process)
        return;
    m_process->terminate(); // SIGTERM to the PID we started
    if (!m_process->waitForFinished(5000))
        m_process->kill();
    m_process->waitForFinished(5000);
    m_process.reset();
}
