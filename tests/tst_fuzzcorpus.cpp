// Replays the fuzz seed corpus and every input that once made a fuzz target fail.

#include "FuzzTargets.h"

#include <QDir>
#include <QTest>

class tst_FuzzCorpus : public QObject {
    Q_OBJECT
private slots:
    void replay_data();
    void replay();
    void cleanupTestCase() { FuzzTargets::Shutdown(); }
};

void tst_FuzzCorpus::replay_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("file");
    const QDir root(
        qEnvironmentVariable("VELLOQ_FUZZ_DIR", QStringLiteral(QT_TESTCASE_SOURCEDIR "/fuzz")));
    for (const char *set : {"corpus", "regressions"})
        for (const QString &target :
             {QStringLiteral("stream"), QStringLiteral("commands"), QStringLiteral("words")}) {
            const QString name = QString::fromLatin1(set) + QLatin1Char('/') + target;
            const QFileInfoList files =
                QDir(root.filePath(name)).entryInfoList(QDir::Files, QDir::Name);
            // A seed corpus that is missing or empty fails, rather than replaying nothing.
            if (files.isEmpty() && QLatin1String(set) == QLatin1String("corpus"))
                QTest::newRow(qPrintable(name + " is missing or empty")) << target << QString();
            for (const QFileInfo &file : files)
                QTest::newRow(qPrintable(name + "/" + file.fileName()))
                    << target << file.absoluteFilePath();
        }
}

void tst_FuzzCorpus::replay() {
    QFETCH(QString, target);
    QFETCH(QString, file);
    QVERIFY2(!file.isEmpty(), "no seed inputs for this target");
    QFile input(file);
    QVERIFY(input.open(QIODevice::ReadOnly));
    const auto run = target == "stream"     ? FuzzTargets::ServerStream
                     : target == "commands" ? FuzzTargets::Command
                                            : FuzzTargets::Words;
    run(input.readAll());
}

QTEST_APPLESS_MAIN(tst_FuzzCorpus)
#include "tst_fuzzcorpus.moc"
