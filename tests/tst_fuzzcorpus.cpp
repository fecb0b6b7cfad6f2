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
            const QDir dir(root.filePath(QString::fromLatin1(set) + QLatin1Char('/') + target));
            for (const QFileInfo &file : dir.entryInfoList(QDir::Files, QDir::Name))
                QTest::newRow(
                    qPrintable(QString::fromLatin1(set) + "/" + target + "/" + file.fileName()))
                    << target << file.absoluteFilePath();
        }
}

void tst_FuzzCorpus::replay() {
    QFETCH(QString, target);
    QFETCH(QString, file);
    QFile input(file);
    QVERIFY(input.open(QIODevice::ReadOnly));
    const auto run = target == "stream"     ? FuzzTargets::ServerStream
                     : target == "commands" ? FuzzTargets::Command
                                            : FuzzTargets::Words;
    run(input.readAll());
}

QTEST_APPLESS_MAIN(tst_FuzzCorpus)
#include "tst_fuzzcorpus.moc"
