// The send worker records outcomes from its own thread while the main transaction is open.
#include <QProcess>
#include <QtTest>
#include <csignal>
#include <future>
#include <mutex>
#include <thread>

#include "DbFixture.h"
#include "db/RunAttachment.h"

using namespace pw;
using pw::test::DbWorld;
using pw::test::queryColumn;
using pw::test::Seen;

namespace {

db::SentFlagResult fromWorker(db::TDbData& store, int id, int outcome) {
    return std::async(std::launch::async,
                      [&store, id, outcome] { return store.SendRun().SetSentFlag(id, outcome); })
        .get();
}

}  // namespace

class TestDbSentFlag : public QObject {
    Q_OBJECT
    std::unique_ptr<DbWorld> w;
    std::unique_ptr<db::CRecipientList> list;
    db::RecordCache* cache = nullptr;
    std::mutex diagMutex;
    QStringList diagnostics;

    db::TDbData& s() { return *w->store; }

private slots:
    void init() {
        w = std::make_unique<DbWorld>();
        QVERIFY(w->createAndOpen());
        list = std::make_unique<db::CRecipientList>(s());
        cache = &list->Cache();
        for (int id = 1; id <= 3; ++id)
            test::insertRecord(s(), id, 0, 1, {QStringLiteral("m%1@x").arg(id)});
        QVERIFY(s().Save(db::SaveMode::Retaining));
        diagnostics.clear();
        s().SetDiagnostics([this](const QString& text) {
            std::lock_guard<std::mutex> lock(diagMutex);
            diagnostics << text;
        });
    }
    void cleanup() {
        list.reset();
        w.reset();
    }

    void anOutcomeFromTheWorkerIsCommittedAndSeenByTheNextRefresh() {
        list->Refresh();
        list->FetchAll();
        QCOMPARE(cache->sent(0), 0);
        // The main transaction holds an unrelated change the whole time.
        test::insertRecord(s(), 99, 0, 1, {"pending@x"});
        QCOMPARE(fromWorker(s(), 1, 1), db::SentFlagResult::Written);
        QCOMPARE(fromWorker(s(), 2, 2), db::SentFlagResult::Written);
        QVERIFY(s().IsModified());
        // Committed at once: another transaction sees it, but not the pending insert.
        QCOMPARE(queryColumn(s(), "select ID || ':' || SENDED from MAILS order by ID"),
                 (QStringList{"1:1", "2:2", "3:0"}));
        list->Refresh();
        list->FetchAll();
        QCOMPARE(cache->rowCount(), 4);
        QCOMPARE(cache->sent(0), 1);
        QCOMPARE(cache->sent(1), 2);
        QVERIFY(diagnostics.isEmpty());
    }

    void outcomesStayInTheWorkingCopyWhenTheRunIsLost() {
        QCOMPARE(fromWorker(s(), 3, 1), db::SentFlagResult::Written);
        const QString copy = s().WorkingCopyPath();
        // Nothing saved: the main transaction is rolled back, as a crash would leave it.
        s().Close(db::CloseMode::KeepWorkingCopy);
        db::TDbData recovered(w->folders);
        QVERIFY(recovered.OpenInPlace(copy));
        QCOMPARE(queryColumn(recovered, "select SENDED from MAILS where ID = 3"), QStringList{"1"});
    }

    void aRowWithAnUnsavedChangeDoesNotStopTheRun() {
        list->Refresh();
        list->SetRowFlag(0, db::RowFlag::Selected, 0);  // unsaved change of record 1
        // deferred rather than waited for: a write that waited for the lock would never end
        QCOMPARE(fromWorker(s(), 1, 1), db::SentFlagResult::Deferred);
        QCOMPARE(s().SendRun().PendingSentFlags(), 1);
        {
            std::lock_guard<std::mutex> lock(diagMutex);
            QCOMPARE(diagnostics.size(), 1);
            QVERIFY2(diagnostics.first().contains("record 1 (kept until the database is saved)"),
                     qPrintable(diagnostics.first()));
        }
        // Other records go on being written at once, and the main transaction stays usable.
        QCOMPARE(fromWorker(s(), 2, 2), db::SentFlagResult::Written);
        QCOMPARE(queryColumn(s(), "select ID || ':' || SENDED from MAILS order by ID"),
                 (QStringList{"1:0", "2:2", "3:0"}));
        // The save frees the row and writes the kept outcome with it.
        QVERIFY(s().Save(db::SaveMode::Retaining));
        QCOMPARE(s().SendRun().PendingSentFlags(), 0);
        QCOMPARE(
            queryColumn(s(), "select ID || ':' || SENDED || ':' || SENDING from MAILS order by ID"),
            (QStringList{"1:1:0", "2:2:1", "3:0:1"}));
    }

    // A run's writer: one transaction for the whole run, each outcome committed as it is
    // written (another attachment sees it while the writer lives, as a kill would leave it),
    // a refused write leaving the writer usable for the next.
    void theRunsWriterCommitsEachOutcome_data() {
        QTest::addColumn<int>("firstId");
        QTest::addColumn<int>("firstResult");  // CRunAttachment::OutcomeWrite
        QTest::addColumn<QString>("first");    // record 1 as the store then sees it
        using W = db::CRunAttachment::OutcomeWrite;
        QTest::newRow("written") << 1 << int(W::Written) << "1:1";
        QTest::newRow("a record gone") << 42 << int(W::RecordGone) << "1:0";
        QTest::newRow("a row the window holds") << 1 << int(W::Locked) << "1:0";
    }
    void theRunsWriterCommitsEachOutcome() {
        QFETCH(int, firstId);
        QFETCH(int, firstResult);
        QFETCH(QString, first);
        using W = db::CRunAttachment::OutcomeWrite;
        if (W(firstResult) == W::Locked) {
            list->Refresh();
            list->SetRowFlag(0, db::RowFlag::Selected, 0);  // unsaved change of record 1
        }
        db::CRunAttachment run(s().WorkingCopyPath(), {});
        QCOMPARE(int(run.WriteOutcome(firstId, 1)), firstResult);
        QCOMPARE(run.WriteOutcome(2, 2), W::Written);
        QCOMPARE(queryColumn(s(), "select ID || ':' || SENDED from MAILS order by ID"),
                 (QStringList{first, "2:2", "3:0"}));
        // let go (a save, a close) and taken up again with a writer of its own
        run.Detach();
        QCOMPARE(run.WriteOutcome(3, 1), W::Written);
        QCOMPARE(queryColumn(s(), "select SENDED from MAILS where ID = 3"), QStringList{"1"});
    }

    void aKeptOutcomeSurvivesDiscardingTheUsersChanges() {
        list->Refresh();
        list->SetRowFlag(2, db::RowFlag::Sent, 0);  // record 3
        QCOMPARE(fromWorker(s(), 3, 2), db::SentFlagResult::Deferred);
        QVERIFY(s().EndChanges(db::UnsavedChanges::Discard));
        QCOMPARE(s().SendRun().PendingSentFlags(), 0);
        QCOMPARE(queryColumn(s(), "select SENDED from MAILS where ID = 3"), QStringList{"2"});

        list->Refresh();
        list->SetRowFlag(1, db::RowFlag::Selected, 0);  // record 2
        QCOMPARE(fromWorker(s(), 2, 1), db::SentFlagResult::Deferred);
        const QString copy = s().WorkingCopyPath();
        s().Close(db::CloseMode::KeepWorkingCopy);
        db::TDbData reopened(w->folders);
        QVERIFY(reopened.OpenInPlace(copy));
        QCOMPARE(queryColumn(reopened, "select SENDED || '/' || SENDING from MAILS where ID = 2"),
                 QStringList{"1/1"});
    }

    void outcomesSurviveAKilledProcess() {
        const QString copy = s().WorkingCopyPath();
        s().Close(db::CloseMode::KeepWorkingCopy);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PW_DB_CRASH_CHILD", copy);
        env.insert("PW_DB_CRASH_DATA", w->folders.userDataFolder);
        env.insert("PW_DB_CRASH_STATE", w->folders.workingCopyFolder);
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QVERIFY2(child.readAllStandardOutput().contains("recorded"),
                 child.readAllStandardError().constData());

        db::TDbData after(w->folders);
        QVERIFY(after.OpenInPlace(copy));
        // The committed outcome is there; the unsaved change died with the process.
        QCOMPARE(queryColumn(after, "select ID || ':' || SENDED from MAILS order by ID"),
                 (QStringList{"1:0", "2:1", "3:0"}));
    }
};

// The child of outcomesSurviveAKilledProcess: opens the working copy, leaves an unsaved change,
// records one outcome from a worker thread and dies without any clean-up.
static int crashChild(const QString& copy) {
    (void)test::ensureProcessLockFolder();  // without it the first attach fails, and says so
    db::TDbData store(db::DbFolders{qEnvironmentVariable("PW_DB_CRASH_DATA"),
                                    qEnvironmentVariable("PW_DB_CRASH_STATE")});
    if (!store.OpenInPlace(copy))
        return 3;
    test::insertRecord(store, 50, 0, 1, {"unsaved@x"});
    if (fromWorker(store, 2, 1) != db::SentFlagResult::Written)
        return 4;
    std::printf("recorded\n");
    std::fflush(stdout);
    std::raise(SIGKILL);
    return 5;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("PW_DB_CRASH_CHILD"))
        return crashChild(qEnvironmentVariable("PW_DB_CRASH_CHILD"));
    TestDbSentFlag test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_db_sentflag.moc"
