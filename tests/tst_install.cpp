// What `cmake --install` puts into a prefix: the program and everything a Linux desktop looks for
// to list, show and describe it, checked file by file and by the desktop's own validators.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

namespace {

const QString kAppId = QStringLiteral("io.velloq.Velloq");
const QString kVersion = QStringLiteral("%1.%2.%3")
                             .arg(VELLOQ_VERSION_MAJOR)
                             .arg(VELLOQ_VERSION_MINOR)
                             .arg(VELLOQ_VERSION_PATCH);

struct Run {
    int exitCode = -1;
    QString output;
};

Run run(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(300000)) {
        result.output = QStringLiteral("%1 did not finish: %2").arg(program, process.errorString());
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.output = QString::fromLocal8Bit(process.readAll());
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

// One value from the build folder's CMakeCache.txt ("NAME:TYPE=value").
QString cacheValue(const QString &buildDir, const QString &name) {
    QFile cache(buildDir + QStringLiteral("/CMakeCache.txt"));
    if (!cache.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    while (!cache.atEnd()) {
        const QString line = QString::fromUtf8(cache.readLine()).trimmed();
        if (line.startsWith(name + QLatin1Char(':'))) {
            const qsizetype equals = line.indexOf(QLatin1Char('='));
            return line.mid(equals + 1);
        }
    }
    return QString();
}

// The keys of the [Desktop Entry] group.
QHash<QString, QString> readDesktopEntry(const QString &path) {
    QHash<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    bool inGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inGroup = line == QStringLiteral("[Desktop Entry]");
        else if (inGroup && line.contains(QLatin1Char('=')) && !line.startsWith(QLatin1Char('#')))
            keys.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
    }
    return keys;
}

// The AppStream facts the desktop relies on, with the first release (the newest) only.
struct Metainfo {
    QString id, launchable, icon, binary, release, screenshot;
};

Metainfo readMetainfo(const QString &path) {
    Metainfo info;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return info;
    QXmlStreamReader xml(&file);
    QStringList open; // the elements around the current one
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement) {
            open.removeLast();
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QString name = xml.name().toString();
        const QString where = open.join(QLatin1Char('/'));
        QString *text = nullptr;
        if (where == QLatin1String("component") && name == QLatin1String("id"))
            text = &info.id;
        else if (where == QLatin1String("component") && name == QLatin1String("launchable"))
            text = &info.launchable;
        else if (where == QLatin1String("component") && name == QLatin1String("icon"))
            text = &info.icon;
        else if (where == QLatin1String("component/provides") && name == QLatin1String("binary"))
            text = &info.binary;
        else if (where == QLatin1String("component/screenshots/screenshot") &&
                 name == QLatin1String("image") && info.screenshot.isEmpty())
            text = &info.screenshot;
        if (where == QLatin1String("component/releases") && name == QLatin1String("release") &&
            info.release.isEmpty())
            info.release = xml.attributes().value(QLatin1String("version")).toString();
        if (text)
            *text = xml.readElementText(); // reads up to and including the end element
        else
            open.append(name);
    }
    return info;
}

} // namespace

class tst_Install : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void installedFiles_data();
    void installedFiles();
    void desktopEntry_data();
    void desktopEntry();
    void metainfoMatchesEntry();
    void manualPage();
    void validators_data();
    void validators();

private:
    QString path(const QString &relative) const { return m_prefix.filePath(relative); }

    QTemporaryDir m_prefix;
    QString m_buildDir;
    QString m_sourceDir;
};

// Installs the build this test belongs to (the folder above tests/) into a fresh prefix.
void tst_Install::initTestCase() {
    QVERIFY(m_prefix.isValid());
    m_buildDir = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/.."));
    m_sourceDir = cacheValue(m_buildDir, QStringLiteral("Velloq_SOURCE_DIR"));
    const QString cmake = cacheValue(m_buildDir, QStringLiteral("CMAKE_COMMAND"));
    QVERIFY2(!cmake.isEmpty() && !m_sourceDir.isEmpty(),
             qPrintable(QStringLiteral("no CMake cache in %1").arg(m_buildDir)));
    const Run install = run(cmake, {QStringLiteral("--install"), m_buildDir,
                                    QStringLiteral("--prefix"), m_prefix.path()});
    QVERIFY2(install.exitCode == 0, qPrintable(install.output));
}

void tst_Install::installedFiles_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("iconSize"); // pixels of a PNG icon; 0 for other files
    QTest::newRow("program") << "bin/velloq" << 0;
    QTest::newRow("desktop entry") << "share/applications/" + kAppId + ".desktop" << 0;
    QTest::newRow("AppStream") << "share/metainfo/" + kAppId + ".metainfo.xml" << 0;
    QTest::newRow("scalable icon") << "share/icons/hicolor/scalable/apps/" + kAppId + ".svg" << 0;
    QTest::newRow("48 px icon") << "share/icons/hicolor/48x48/apps/" + kAppId + ".png" << 48;
    QTest::newRow("128 px icon") << "share/icons/hicolor/128x128/apps/" + kAppId + ".png" << 128;
    QTest::newRow("manual page") << "share/man/man1/velloq.1.gz" << 0;
    QTest::newRow("copyright") << "share/doc/velloq/copyright" << 0;
    QTest::newRow("changelog") << "share/doc/velloq/changelog.gz" << 0;
}

// Each file where the desktop, man and the package tools look for it; icons at their size.
void tst_Install::installedFiles() {
    QFETCH(QString, file);
    QFETCH(int, iconSize);
    const QFileInfo info(path(file));
    QVERIFY2(info.isFile(), qPrintable(file + " is missing"));
    QVERIFY(info.size() > 0);
    if (file.startsWith(QStringLiteral("bin/")))
        QVERIFY(info.isExecutable());
    if (iconSize > 0) {
        const QImage icon(info.filePath());
        QCOMPARE(icon.size(), QSize(iconSize, iconSize));
        QVERIFY(icon.hasAlphaChannel());
        // The corners of the rounded square stay transparent; the middle is drawn.
        QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(icon.pixel(iconSize / 2, iconSize / 2)), 255);
    }
}

void tst_Install::desktopEntry_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("menu name") << "Name"
                               << "Velloq";
    QTest::newRow("menu categories") << "Categories"
                                     << "Network;IRCClient;Chat;";
    QTest::newRow("program") << "Exec"
                             << "velloq";
    QTest::newRow("icon") << "Icon" << kAppId;
    QTest::newRow("type") << "Type"
                          << "Application";
    QTest::newRow("no terminal") << "Terminal"
                                 << "false";
}

void tst_Install::desktopEntry() {
    QFETCH(QString, key);
    QFETCH(QString, value);
    const auto keys = readDesktopEntry(path("share/applications/" + kAppId + ".desktop"));
    QCOMPARE(keys.value(key), value);
}

// The AppStream component, the desktop entry, the icon and the program agree on one id and name,
// and the newest release is the version built.
void tst_Install::metainfoMatchesEntry() {
    const Metainfo info = readMetainfo(path("share/metainfo/" + kAppId + ".metainfo.xml"));
    QCOMPARE(info.id, kAppId);
    QCOMPARE(info.launchable, kAppId + ".desktop");
    QCOMPARE(info.icon, kAppId);
    QCOMPARE(info.binary, QStringLiteral("velloq"));
    QCOMPARE(info.release, kVersion);
    QVERIFY2(info.screenshot.startsWith(QStringLiteral("https://")), qPrintable(info.screenshot));
    QVERIFY(QFileInfo::exists(path("bin/" + info.binary)));
}

// man formats the page without a warning, and it names every command and says that the
// program takes no arguments.
void tst_Install::manualPage() {
    const QString page = path("share/man/man1/velloq.1.gz");
    if (QStandardPaths::findExecutable(QStringLiteral("man")).isEmpty())
        QSKIP("man is not installed");
    qputenv("MANWIDTH", "80");
    const Run warnings = run(QStringLiteral("sh"), {QStringLiteral("-c"),
                                                    QStringLiteral("man --warnings -E UTF-8 -l "
                                                                   "\"$0\" 2>&1 >/dev/null"),
                                                    page});
    QCOMPARE(warnings.exitCode, 0);
    QCOMPARE(warnings.output, QString());
    const Run text = run(QStringLiteral("man"), {QStringLiteral("-l"), page});
    QCOMPARE(text.exitCode, 0);
    const QString body = text.output;
    QVERIFY(body.contains(QStringLiteral("Velloq takes no arguments.")));
    for (const char *command : {"/server", "/disconnect", "/quote", "/msg", "/notice", "/quit",
                                "/echo", "/window", "/exit"})
        QVERIFY2(body.contains(QLatin1String(command)), command);
    for (const char *key : {"Ctrl+Tab", "Up", "F1"})
        QVERIFY2(body.contains(QLatin1String(key)), key);
}

void tst_Install::validators_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("package");
    const QString entry = "share/applications/" + kAppId + ".desktop";
    const QString metainfo = "share/metainfo/" + kAppId + ".metainfo.xml";
    QTest::newRow("desktop entry")
        << "desktop-file-validate" << QStringList{entry} << "desktop-file-utils";
    QTest::newRow("AppStream file")
        << "appstreamcli" << QStringList{"validate", "--no-net", metainfo} << "appstream";
    // The whole tree: the component against its desktop entry and icons.
    QTest::newRow("AppStream tree")
        << "appstreamcli" << QStringList{"validate-tree", "--no-net", "."} << "appstream";
}

// The checkers the desktop and the distributions use pass on the installed files.
void tst_Install::validators() {
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, package);
    const QString found = QStandardPaths::findExecutable(program);
    QVERIFY2(!found.isEmpty(), qPrintable(QStringLiteral("%1 is missing: install %2 "
                                                         "(scripts/install-deps test)")
                                              .arg(program, package)));
    for (QString &argument : arguments)
        if (!argument.startsWith(QLatin1Char('-')) && argument.contains(QLatin1Char('/')))
            argument = path(argument);
        else if (argument == QStringLiteral("."))
            argument = m_prefix.path();
    const Run check = run(found, arguments);
    qInfo().noquote() << program << arguments.first() << "said:" << check.output.trimmed();
    QVERIFY2(check.exitCode == 0, qPrintable(check.output));
}

QTEST_GUILESS_MAIN(tst_Install)
#include "tst_install.moc"
