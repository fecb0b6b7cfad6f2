// TLS connections against a private ngircd that serves TLS on a second loopback port: the "+port"
// form of SERVER, the certificate check and the reason shown when an attempt fails. The
// certificates are made by openssl for each run.

#include "connection/IRCConnection.h"
#include "platform/SocketElement.h"
#include "platform/TlsErrors.h"
#include "support/AppFixture.h"
#include "support/IrcServerFixture.h"
#include "support/IrcTestClient.h"

#include <QFile>
#include <QProcess>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Host = QStringLiteral("127.0.0.1");

QString where(quint16 port) {
    return QStringLiteral("Server 127.0.0.1, Port %1").arg(port);
}

// Extensions for the certificates below. The server certificates name 127.0.0.1, except
// "other-host", which is valid only for a name the test never connects to.
const char kOpensslConfig[] = "[req]\n"
                              "distinguished_name = dn\n"
                              "prompt = no\n"
                              "[dn]\n"
                              "CN = unused\n"
                              "[ca]\n"
                              "basicConstraints = critical, CA:TRUE\n"
                              "keyUsage = critical, keyCertSign, cRLSign\n"
                              "subjectKeyIdentifier = hash\n"
                              "[server]\n"
                              "basicConstraints = CA:FALSE\n"
                              "keyUsage = critical, digitalSignature\n"
                              "extendedKeyUsage = serverAuth\n"
                              "subjectAltName = IP:127.0.0.1, DNS:localhost\n"
                              "subjectKeyIdentifier = hash\n"
                              "[other-host]\n"
                              "basicConstraints = CA:FALSE\n"
                              "keyUsage = critical, digitalSignature\n"
                              "extendedKeyUsage = serverAuth\n"
                              "subjectAltName = DNS:irc.example.org\n"
                              "subjectKeyIdentifier = hash\n";

// The authority the tests trust, and server certificates:
//   good            by the trusted authority, for 127.0.0.1
//   self-signed     signed by its own key
//   other-host      by the trusted authority, for irc.example.org only
// Each lasts two days from now, so a run never depends on a fixed date.
class Certificates {
public:
    bool make(QString *error) {
        if (!m_dir.isValid())
            return fail(error, QStringLiteral("no temporary folder"));
        QFile config(path(QStringLiteral("openssl.cnf")));
        if (!config.open(QIODevice::WriteOnly) || config.write(kOpensslConfig) < 0)
            return fail(error, QStringLiteral("cannot write openssl.cnf"));
        config.close();
        return authority(QStringLiteral("trusted-ca"), error) &&
               server(QStringLiteral("good"), QStringLiteral("trusted-ca"),
                      QStringLiteral("server"), 2, error) &&
               server(QStringLiteral("other-host"), QStringLiteral("trusted-ca"),
                      QStringLiteral("other-host"), 2, error) &&
               openssl({"req", "-x509", "-extensions", "server", "-days", "2", "-subj",
                        "/CN=127.0.0.1", "-keyout", path("self-signed.key"), "-out",
                        path("self-signed.pem")},
                       error, true);
    }

    QString cert(const QString &name) const { return path(name + QStringLiteral(".pem")); }
    QString key(const QString &name) const { return path(name + QStringLiteral(".key")); }
    QSslCertificate trustedAuthority() const {
        const QList<QSslCertificate> found = QSslCertificate::fromPath(cert("trusted-ca"));
        return found.isEmpty() ? QSslCertificate() : found.first();
    }

private:
    QString path(const QString &file) const { return m_dir.filePath(file); }

    bool authority(const QString &name, QString *error) {
        return openssl({"req", "-x509", "-extensions", "ca", "-days", "2", "-subj",
                        "/CN=Velloq test authority " + name, "-keyout", key(name), "-out",
                        cert(name)},
                       error, true);
    }

    // The client also accepts a common name that matches, so "other-host" names irc.example.org
    // there as well; the others are valid for 127.0.0.1 by their alternative names alone.
    bool server(const QString &name, const QString &ca, const QString &extensions, int days,
                QString *error) {
        const QString request = path(name + QStringLiteral(".csr"));
        const QString commonName = extensions == QLatin1String("other-host")
                                       ? QStringLiteral("irc.example.org")
                                       : QStringLiteral("Velloq test server");
        return openssl({"req", "-new", "-subj", "/CN=" + commonName, "-keyout", key(name), "-out",
                        request},
                       error, true) &&
               openssl({"x509", "-req", "-in", request, "-CA", cert(ca), "-CAkey", key(ca),
                        "-set_serial", QString::number(++m_serial), "-days", QString::number(days),
                        "-extfile", path("openssl.cnf"), "-extensions", extensions, "-out",
                        cert(name)},
                       error, false);
    }

    // Runs openssl; a "req" also gets our configuration and a fresh P-256 key without passphrase.
    bool openssl(QStringList arguments, QString *error, bool newKey) {
        if (newKey)
            arguments += QStringList{"-config", path("openssl.cnf"), "-newkey",
                                     "ec",      "-pkeyopt",          "ec_paramgen_curve:prime256v1",
                                     "-nodes"};
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("openssl"), arguments);
        if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0)
            return fail(error, QStringLiteral("openssl %1 failed: %2 %3")
                                   .arg(arguments.join(' '), process.errorString(),
                                        QString::fromLocal8Bit(process.readAll())));
        return true;
    }

    static bool fail(QString *error, const QString &message) {
        *error = message;
        return false;
    }

    QTemporaryDir m_dir;
    int m_serial = 1;
};

} // namespace

class tst_Tls : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void reasonTexts_data();
    void reasonTexts();
    void talksOverTls();
    void untrustedCertificate_data();
    void untrustedCertificate();

private:
    // A private ngircd serving the named server certificate on its TLS port, and a client that
    // trusts the test's authority.
    bool startServer(IrcServerFixture &ircd, const QString &certificate);

    Certificates m_certificates;
};

void tst_Tls::initTestCase() {
    QVERIFY2(QSslSocket::supportsSsl(), "Qt has no TLS backend here");
    QString error;
    QVERIFY2(m_certificates.make(&error), qPrintable(error));
    QVERIFY(!m_certificates.trustedAuthority().isNull());
}

void tst_Tls::cleanup() {
    SocketElement::SetExtraCaCertificates({});
}

bool tst_Tls::startServer(IrcServerFixture &ircd, const QString &certificate) {
    ircd.enableTls(m_certificates.cert(certificate), m_certificates.key(certificate));
    QString error;
    if (!ircd.start(&error)) {
        qWarning("%s", qPrintable(error));
        return false;
    }
    SocketElement::SetExtraCaCertificates({m_certificates.trustedAuthority()});
    return true;
}

// Several certificate errors often say one thing: it is named once; different ones are all named.
void tst_Tls::reasonTexts_data() {
    using E = QSslError;
    QTest::addColumn<QList<QSslError>>("errors");
    QTest::addColumn<int>("socketError");
    QTest::addColumn<QString>("socketText");
    QTest::addColumn<QString>("reason");
    QTest::newRow("unknown issuer, said twice")
        << QList<E>{E(E::UnableToGetLocalIssuerCertificate), E(E::UnableToVerifyFirstCertificate)}
        << int(QAbstractSocket::SslHandshakeFailedError) << "x"
        << "certificate not trusted: issued by an unknown authority";
    QTest::newRow("expired and wrong host")
        << QList<E>{E(E::CertificateExpired), E(E::HostNameMismatch)}
        << int(QAbstractSocket::SslHandshakeFailedError) << "x"
        << "certificate not trusted: the certificate has expired; the host name did not match "
           "any of the valid hosts for this certificate";
    QTest::newRow("handshake, with the library's codes")
        << QList<E>{} << int(QAbstractSocket::SslHandshakeFailedError)
        << "Error during SSL handshake: error:0A00010B:SSL routines::wrong version number"
        << "TLS handshake failed: Error during SSL handshake: wrong version number";
    QTest::newRow("closed in the handshake")
        << QList<E>{} << int(QAbstractSocket::RemoteHostClosedError) << "ignored"
        << "TLS handshake failed: the server closed the connection";
}

void tst_Tls::reasonTexts() {
    QFETCH(QList<QSslError>, errors);
    QFETCH(int, socketError);
    QFETCH(QString, socketText);
    QFETCH(QString, reason);
    QCOMPARE(TlsErrors::FailureReason(
                 errors, static_cast<QAbstractSocket::SocketError>(socketError), socketText),
             reason);
}

// Registers, joins and talks over TLS with a user on the server's plain port, then reconnects.
void tst_Tls::talksOverTls() {
    IrcServerFixture ircd;
    QVERIFY(startServer(ircd, "good"));
    AppFixture f;
    const quint16 port = ircd.tlsPort();
    const QString typed = "+" + QString::number(port);
    f.type(1, "/server 127.0.0.1 " + typed);
    QVERIFY(f.waitForLine(1, "Connected to " + where(port), 10000));
    QCOMPARE(f.status(), (QStringList{"/server 127.0.0.1 " + typed,
                                      "Connecting to Server 127.0.0.1, Port " + typed + "...",
                                      "Connected to " + where(port)}));
    QVERIFY(f.connection().Connected());
    QVERIFY(f.connection().Tls());

    f.type(1, "NICK alice");
    f.type(1, "USER alice 0 * :Alice");
    QVERIFY(f.waitForLine(1, "<- Server(1): [:irc.velloq.test 001 alice ", 5000, true));

    IrcTestClient bob;
    QVERIFY2(bob.connectTo(ircd.port(), "bob"), qPrintable(bob.errorString()));
    QVERIFY2(bob.join("#tls"), qPrintable(bob.errorString()));
    f.type(1, "JOIN #tls");
    QVERIFY(f.waitForLine(1, "Joined Channel #tls"));
    QCOMPARE(f.windowCount(), 2);
    QVERIFY(bob.waitForLine(QRegularExpression("^:alice!~alice@127\\.0\\.0\\.1 JOIN :?#tls$")));

    f.type(2, QString::fromUtf8("hello over TLS, café"));
    QByteArray line;
    QVERIFY(bob.waitForLine(QRegularExpression(" PRIVMSG #tls "), 5000, &line));
    QCOMPARE(line, QByteArray(":alice!~alice@127.0.0.1 PRIVMSG #tls :hello over TLS, caf\xC3\xA9"));

    bob.sendLine("PRIVMSG #tls :hi alice");
    QVERIFY(f.waitForLine(2, "<bob> hi alice"));

    // The server ends the session after QUIT: a close, not a failure.
    f.type(1, "/quit bye");
    QVERIFY(bob.waitForLine(QRegularExpression("^:alice!\\S+ QUIT ")));
    QVERIFY(f.waitForLine(1, "Disconnected from " + where(port)));
    QTest::qWait(200);
    // The channel window stays, no longer joined.
    const QStringList status = f.status();
    QCOMPARE(status.mid(status.size() - 2),
             (QStringList{"Disconnected from " + where(port), "Left Channel #tls"}));
    QVERIFY2(status.at(status.size() - 3).startsWith("Server(1) ERROR: "),
             qPrintable(status.join('\n')));
    QVERIFY(!f.connection().Connected());

    // Connecting again goes to the same port with TLS again: the server only registers a client
    // that completed the handshake.
    QVERIFY(!f.connection().Reconnect());
    QTRY_COMPARE_WITH_TIMEOUT(f.status().count("Connected to " + where(port)), 2, 10000);
    f.type(1, "NICK again");
    f.type(1, "USER again 0 * :Again");
    QVERIFY(f.waitForLine(1, "<- Server(1): [:irc.velloq.test 001 again ", 5000, true));
}

// The certificate is refused: the failed line, then the reason; the attempt ends there.
void tst_Tls::untrustedCertificate_data() {
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<QString>("reason");
    QTest::newRow("self-signed") << "self-signed"
                                 << "certificate not trusted: self-signed certificate";
    QTest::newRow("other host name")
        << "other-host"
        << "certificate not trusted: the host name did not match any of the valid hosts for "
           "this certificate";
}

void tst_Tls::untrustedCertificate() {
    QFETCH(QString, certificate);
    QFETCH(QString, reason);
    IrcServerFixture ircd;
    QVERIFY(startServer(ircd, certificate));
    AppFixture f;
    const quint16 port = ircd.tlsPort();
    f.type(1, QStringLiteral("/server 127.0.0.1 +%1").arg(port));
    QVERIFY(f.waitForLine(1, "Server(1): ", 10000, true));
    QTest::qWait(200);
    QCOMPARE(f.status().mid(2),
             (QStringList{"Connection to " + where(port) + " failed", "Server(1): " + reason}));
    QVERIFY(!f.connection().Connected());
}

QTEST_MAIN(tst_Tls)
#include "tst_tls.moc"
