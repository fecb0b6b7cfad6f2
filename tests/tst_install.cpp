// What `cmake --install` puts into a prefix: every file a Linux desktop looks for is there, and
// the desktop's own checkers accept them.

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kAppId = QStringLiteral("io.velloq.Velloq");

// Runs a program to its end; its exit code (-1 when it could not run) and what it printed.
int run(const QString &program, const QStringList &arguments, QString &output) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(300000);
    output = QString::fromLocal8Bit(process.readAll()) + process.errorString();
    return finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

class tst_Install : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void installedFiles_data();
    void installedFiles();
    void validators_data();
    void validators();

private:
    QTemporaryDir m_prefix;
};

// Installs the build this test belongs to (the folder above tests/) into a fresh prefix.
void tst_Install::initTestCase() {
    QVERIFY(m_prefix.isValid());
    const QString buildDir = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    QString output;
    QVERIFY2(run(QStringLiteral("cmake"), {"--install", buildDir, "--prefix", m_prefix.path()},
                 output) == 0,
             qPrintable(output));
}

void tst_Install::installedFiles_data() {
    QTest::addColumn<QString>("file");
    for (const QString &file :
         QStringList{QStringLiteral("bin/velloq"), "share/applications/" + kAppId + ".desktop",
                     "share/metainfo/" + kAppId + ".metainfo.xml",
                     "share/icons/hicolor/scalable/apps/" + kAppId + ".svg",
                     "share/icons/hicolor/48x48/apps/" + kAppId + ".png",
                     "share/icons/hicolor/128x128/apps/" + kAppId + ".png",
                     QStringLiteral("share/man/man1/velloq.1.gz"),
                     QStringLiteral("share/doc/velloq/copyright"),
                     QStringLiteral("share/doc/velloq/changelog.gz")})
        QTest::newRow(qPrintable(file)) << file;
}

void tst_Install::installedFiles() {
    QFETCH(QString, file);
    const QFileInfo info(m_prefix.filePath(file));
    QVERIFY2(info.isFile() && info.size() > 0, qPrintable(file + " is missing"));
}

void tst_Install::validators_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    const QString root = m_prefix.path() + QLatin1Char('/');
    QTest::newRow("desktop entry")
        << "desktop-file-validate"
        << QStringList{root + "share/applications/" + kAppId + ".desktop"};
    QTest::newRow("AppStream file")
        << "appstreamcli"
        << QStringList{"validate", "--no-net", root + "share/metainfo/" + kAppId + ".metainfo.xml"};
    QTest::newRow("AppStream tree")
        << "appstreamcli" << QStringList{"validate-tree", "--no-net", m_prefix.path()};
    // man prints nothing to its error output when the page formats without a warning.
    QTest::newRow("manual page")
        << "sh"
        << QStringList{"-c", "test -z \"$(man --warnings -E UTF-8 -l \"$0\" 2>&1 >/dev/null)\"",
                       root + "share/man/man1/velloq.1.gz"};
}

// The checkers the desktop and the distributions use pass on the installed files.
void tst_Install::validators() {
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QVERIFY2(!QStandardPaths::findExecutable(program).isEmpty(),
             qPrintable(program + " is missing: run scripts/install-deps test"));
    QString output;
    QVERIFY2(run(program, arguments, output) == 0, qPrintable(output));
}

QTEST_GUILESS_MAIN(tst_Install)
#include "tst_install.moc"
