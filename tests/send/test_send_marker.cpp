// The marker that lets the outcomes of a killed run be picked up again.
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTest>

#include "TestEnv.h"
#include "send/RunMarker.h"

using namespace pw;
using namespace pw::send;

class TestSendMarker : public QObject {
    Q_OBJECT
private slots:
    void liveRunIsNotOfferedCrashedRunIs() {
        test::TestEnv env;
        const QString folder = env.makeFolder("state");
        const QString copy = folder + "PZP_data_1.pzb";
        const QString project = env.root() + "mail.pzy";
        QVERIFY(test::writeFile(copy, "database bytes"));
        QVERIFY(test::writeFile(project, "project bytes"));

        {
            std::unique_ptr<CRunMarker> marker = CRunMarker::begin(copy, project);
            QVERIFY(marker);
            QVERIFY(QFile::exists(markerPathFor(copy)));
            // While the run lives, nobody takes its working copy away.
            QVERIFY(findInterruptedRuns(folder).empty());
            QVERIFY(!CRunMarker::begin(copy, project));
        }
        // The run ended without finish(): as after a crash, the marker stays.
        const std::vector<InterruptedRun> runs = findInterruptedRuns(folder);
        QCOMPARE(runs.size(), size_t(1));
        QCOMPARE(runs[0].workingCopy, copy);
        QCOMPARE(runs[0].projectPath, QFileInfo(project).canonicalFilePath());
        QVERIFY(runs[0].projectUnchanged());
        QVERIFY(runs[0].started.isValid());

        // Found by the project's path, however it is spelled.
        QVERIFY(findInterruptedRun(folder, env.root() + "./mail.pzy"));
        QVERIFY(!findInterruptedRun(folder, env.root() + "other.pzy"));

        // A project saved since the run started has newer outcomes of its own, also when
        // it is as long as before (its time stamp set, as a clock that moved on would).
        QVERIFY(test::writeFile(project, "PROJECT BYTES"));
        QFile saved(project);
        QVERIFY(saved.open(QIODevice::ReadWrite));
        QVERIFY(saved.setFileTime(QDateTime::currentDateTime().addSecs(3600),
                                  QFileDevice::FileModificationTime));
        saved.close();
        QVERIFY(!findInterruptedRun(folder, project)->projectUnchanged());

        discardMarker(runs[0]);
        QVERIFY(findInterruptedRuns(folder).empty());
        QVERIFY(QFile::exists(copy));  // the database itself is the caller's to remove
    }

    void finishedRunLeavesNothing() {
        test::TestEnv env;
        const QString folder = env.makeFolder("state");
        const QString copy = folder + "PZP_data_2.pzb";
        QVERIFY(test::writeFile(copy, "db"));
        QVERIFY(test::writeFile(env.root() + "p.pzy", "p"));
        std::unique_ptr<CRunMarker> marker = CRunMarker::begin(copy, env.root() + "p.pzy");
        QVERIFY(marker);
        marker->finish();
        QVERIFY(!QFile::exists(markerPathFor(copy)));
        QVERIFY(findInterruptedRuns(folder).empty());
    }

    void markerWithoutItsDatabaseIsIgnored() {
        test::TestEnv env;
        const QString folder = env.makeFolder("state");
        QVERIFY(test::writeFile(folder + "PZP_data_3.pzb.sending", "project=/x/y.pzy\n"));
        QVERIFY(findInterruptedRuns(folder).empty());
    }

    void foreignFilesAreNotMarkers_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("no project line") << QByteArray("size=3\nmodified=4\n");
        QTest::newRow("binary") << QByteArray("\x00\x01\x02=\xff", 5);
    }
    void foreignFilesAreNotMarkers() {
        QFETCH(QByteArray, text);
        test::TestEnv env;
        const QString folder = env.makeFolder("state");
        QVERIFY(test::writeFile(folder + "PZP_data_4.pzb", "db"));
        QVERIFY(test::writeFile(folder + "PZP_data_4.pzb.sending", text));
        QVERIFY(findInterruptedRuns(folder).empty());
    }
};

QTEST_GUILESS_MAIN(TestSendMarker)
#include "test_send_marker.moc"
