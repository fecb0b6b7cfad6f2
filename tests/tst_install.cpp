// What `cmake --install` puts into a prefix: every file a Linux desktop looks for is there, and
// the desktop's own checkers accept them.

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

static const QString kAppId = QStringLiteral("io.velloq.Velloq");

class tst_Install : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void installedFiles_data();
    void installedFiles();

private:
    QTemporaryDir m_prefix;
};

// Installs the build this test belongs to (the folder above tests/) into a fresh prefix.
void tst_Install::initTestCase() {
    QVERIFY(m_prefix.isValid());
    const QString buildDir = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    QCOMPARE(QProcess::execute("cmake", {"--install", buildDir, "--prefix", m_prefix.path()}), 0);
}

// Every file a Linux desktop looks for, and the checker the desktop and the distributions run
// on it, if any ("%1" stands for the file; no file: the whole prefix).
void tst_Install::installedFiles_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("checker");
    const QString share = QStringLiteral("share/"), app = kAppId;
    QTest::newRow("program") << "bin/velloq" << QStringList{};
    QTest::newRow("desktop entry")
        << share + "applications/" + app + ".desktop" << QStringList{"desktop-file-validate", "%1"};
    QTest::newRow("AppStream file") << share + "metainfo/" + app + ".metainfo.xml"
                                    << QStringList{"appstreamcli", "validate", "--no-net", "%1"};
    QTest::newRow("AppStream tree")
        << QString() << QStringList{"appstreamcli", "validate-tree", "--no-net", "%1"};
    QTest::newRow("icon") << share + "icons/hicolor/scalable/apps/" + app + ".svg" << QStringList{};
    QTest::newRow("icon 48") << share + "icons/hicolor/48x48/apps/" + app + ".png" << QStringList{};
    QTest::newRow("icon 128") << share + "icons/hicolor/128x128/apps/" + app + ".png"
                              << QStringList{};
    // man prints nothing to its error output when the page formats without a warning.
    QTest::newRow("manual page")
        << "share/man/man1/velloq.1.gz"
        << QStringList{"sh", "-c",
                       "test -z \"$(man --warnings -E UTF-8 -l \"$0\" 2>&1 >/dev/null)\"", "%1"};
    QTest::newRow("copyright") << "share/doc/velloq/copyright" << QStringList{};
    QTest::newRow("changelog") << "share/doc/velloq/changelog.gz" << QStringList{};
}

void tst_Install::installedFiles() {
    QFETCH(QString, file);
    QFETCH(QStringList, checker);
    const QString path = file.isEmpty() ? m_prefix.path() : m_prefix.filePath(file);
    const QFileInfo info(path);
    QVERIFY2(file.isEmpty() || (info.isFile() && info.size() > 0),
             qPrintable(file + " is missing"));
    if (checker.isEmpty())
        return;
    const QString program = checker.takeFirst();
    QVERIFY2(!QStandardPaths::findExecutable(program).isEmpty(),
             qPrintable(program + " is missing: run scripts/install-deps test"));
    // What the checker prints goes to this test's output.
    QCOMPARE(QProcess::execute(program, checker.replaceInStrings(QStringLiteral("%1"), path)), 0);
}

QTEST_GUILESS_MAIN(tst_Install)
#include "tst_install.moc"
