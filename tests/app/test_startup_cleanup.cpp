// What killed processes leave behind and the next start removes: orphaned working copies, the
// marker of a run killed after its write-back, and fallback temporary folders; never anything
// a live process uses or an outcome the project lacks.

#include <unistd.h>
#include <utime.h>

#include <ctime>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QtTest>

#include "AppTestFolders.h"
#include "RawStatement.h"
#include "ScriptedUserInteraction.h"
#include "TestEnv.h"
#include "app/AppSession.h"
#include "app/ProjectStore.h"
#include "app/RunRecovery.h"
#include "app/StartupCleanup.h"
#include "resources/Strings.h"
#include "send/RunMarker.h"

using namespace pw;
using namespace pw::app;

namespace {

bool age(const QString& path, int seconds) {
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    return f.setFileTime(QDateTime::currentDateTime().addSecs(-seconds),
                         QFileDevice::FileModificationTime);
}

void addRecipients(db::TDbData& store, int count) {
    for (int i = 1; i <= count; ++i)
        pw::test::execute(store, QStringLiteral("insert into MAILS (ID, SENDED, SENDING, ADDRESS) "
                                                "values (%1, 0, 1, 'r%1@example.com')")
                                     .arg(i));
}

}  // namespace

class TestStartupCleanup : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setLanguage(Language::English); }

    void orphanedWorkingCopies_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<bool>("marker");
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("removed");
        QTest::newRow("killed long ago") << "PZP_data_3.pzb" << 3600 << false << false << true;
        QTest::newRow("just made (being extracted)")
            << "PZP_data_3.pzb" << 5 << false << false << false;
        QTest::newRow("a run's marker names it")
            << "PZP_data_3.pzb" << 3600 << true << false << false;
        QTest::newRow("a process has it open")
            << "PZP_data_3.pzb" << 3600 << false << true << false;
        QTest::newRow("not a working copy") << "customers.pzb" << 3600 << false << false << false;
    }
    void orphanedWorkingCopies() {
        QFETCH(QString, name);
        QFETCH(int, ageSeconds);
        QFETCH(bool, marker);
        QFETCH(bool, open);
        QFETCH(bool, removed);
        test::TestEnv env;
        const QString folder = env.makeFolder("state/Postwick");
        const QString copy = folder + name;
        QVERIFY(test::writeFile(copy, "database bytes"));
        if (marker)
            QVERIFY(test::writeFile(send::markerPathFor(copy), "project=/x.pzy\n"));
        QVERIFY(age(copy, ageSeconds));
        QFile holder(copy);
        if (open)
            QVERIFY(holder.open(QIODevice::ReadOnly));
        QCOMPARE(RemoveOrphanedWorkingCopies(folder), removed ? 1 : 0);
        QCOMPARE(QFile::exists(copy), !removed);
    }

    void theDatabaseEngineKeepsAnOpenCopyInUse() {
        test::AppTestBed app;
        const auto s = app.startOnFreshDocument();
        QVERIFY(s);
        const QString copy = s->store().WorkingCopyPath();
        QVERIFY(age(copy, 3600));
        QVERIFY(FileInUse(copy));
        QCOMPARE(RemoveOrphanedWorkingCopies(app.folders.workingCopyFolder), 0);
        s->store().Close(db::CloseMode::KeepWorkingCopy);
        QVERIFY(!FileInUse(copy));
        QVERIFY(age(copy, 3600));  // detaching wrote to it; the next start is much later
        // the next start finds it: the window that had it was killed
        QVERIFY(app.start());
        QVERIFY(!QFile::exists(copy));
    }

    void markerOfARunKilledAfterItsWriteBack_data() {
        QTest::addColumn<bool>("writtenBack");
        QTest::newRow("outcomes written back") << true;
        QTest::newRow("project saved without them") << false;
    }
    void markerOfARunKilledAfterItsWriteBack() {
        QFETCH(bool, writtenBack);
        test::AppTestBed app;
        const QString project = app.env.root() + "mailing.pzy";
        QString runCopy;
        {
            const auto a = app.startOnFreshDocument();
            QVERIFY(a);
            db::TDbData& store = a->store();
            addRecipients(store, 3);
            MailDocument doc;
            doc.recipientText = "[[Mail Address]]";
            QVERIFY(app.saveProject(project, doc, store));
            runCopy = store.WorkingCopyPath();
            // the project's time stamp tells a later save apart
            QFile saved(project);
            QVERIFY(saved.open(QIODevice::ReadWrite));
            QVERIFY(saved.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                      QFileDevice::FileModificationTime));
            saved.close();
            auto marker = send::CRunMarker::begin(runCopy, project);
            QVERIFY(marker);
            if (!writtenBack) {
                // saved by someone else before the run reached anyone
                QVERIFY(app.saveProject(project, doc, store));
                runCopy = store.WorkingCopyPath();
            }
            QCOMPARE(store.SendRun().SetSentFlag(1, 1), db::SentFlagResult::Written);
            QCOMPARE(store.SendRun().SetSentFlag(2, 2), db::SentFlagResult::Written);
            if (writtenBack) {
                QVERIFY(app.saveProject(project, doc, store));
                QCOMPARE(store.WorkingCopyPath(), runCopy);
            }
            store.Close(db::CloseMode::KeepWorkingCopy);
            // the marker object goes without finish(): the kill before the marker's removal
        }
        QVERIFY(QFile::exists(send::markerPathFor(runCopy)));

        const auto b = app.start();
        QVERIFY(b);
        app.ui.clear();
        b->OfferRecovery();
        if (writtenBack)
            QVERIFY2(app.ui.asked().isEmpty(), qPrintable(app.ui.askedTexts().join('\n')));
        else
            QCOMPARE(app.ui.askedTexts(), QStringList{str(ids::kRecoveryOutdated).arg(project)});
        QVERIFY(!QFile::exists(send::markerPathFor(runCopy)));
        QVERIFY(!QFile::exists(runCopy));
    }

    void projectLackingAnOutcomeIsNotSettled() {
        test::AppTestBed app;
        const auto a = app.startOnFreshDocument();
        QVERIFY(a);
        db::TDbData& store = a->store();
        addRecipients(store, 2);
        const QString project = app.env.root() + "mailing.pzy";
        QVERIFY(app.saveProject(project, MailDocument{}, store));
        QCOMPARE(store.SendRun().SetSentFlag(2, 1), db::SentFlagResult::Written);
        send::InterruptedRun run;
        run.workingCopy = store.WorkingCopyPath();
        run.projectPath = project;
        const QString scratch = app.env.makeFolder("scratch");
        store.Close(db::CloseMode::KeepWorkingCopy);
        QVERIFY(!ProjectHoldsRunOutcomes(run, scratch, MailCodePage(0)));
        run.projectPath = app.env.root() + "missing.pzy";
        QVERIFY(!ProjectHoldsRunOutcomes(run, scratch, MailCodePage(0)));
        QVERIFY(QFile::exists(run.workingCopy));
    }

    void fallbackTemporaryFolders() {
        test::TestEnv env;
        const QString root = env.makeFolder("tmp-root");
        const QString prefix = root + QStringLiteral("postwick-%1-").arg(::getuid());
        const QString live = prefix + "LIVE01";
        const QString ended = prefix + "ENDED1";
        const QString unlocked = prefix + "NOLOCK";
        const QString own = prefix + "OWN001";
        const QString otherName = prefix + "TOOLONG1";
        for (const QString& d : {live, ended, unlocked, own, otherName})
            QVERIFY(QDir().mkpath(d + "/PostwickMainPreview"));
        auto liveLock = CFolderOwnership::hold(live);
        QVERIFY(liveLock);
        QVERIFY(!CFolderOwnership::hold(live));  // one holder at a time
        CFolderOwnership::hold(ended).reset();   // its process has gone

        QCOMPARE(RemoveStaleFallbackFolders(root, own), 1);
        QVERIFY(!QDir(ended).exists());
        for (const QString& kept : {live, unlocked, own, otherName})
            QVERIFY2(QDir(kept).exists(), qPrintable(kept));

        // killed before it took its lock: removed once quiet for longer than the grace
        const utimbuf hourAgo{std::time(nullptr) - 3600, std::time(nullptr) - 3600};
        QCOMPARE(::utime(QFile::encodeName(unlocked).constData(), &hourAgo), 0);
        QCOMPARE(RemoveStaleFallbackFolders(root, own), 1);
        QVERIFY(!QDir(unlocked).exists());
        QVERIFY(QDir(live).exists());

        QVERIFY(IsFallbackTempFolder(live));
        QVERIFY(!IsFallbackTempFolder(otherName));
        QVERIFY(!IsFallbackTempFolder(root + QStringLiteral("postwick-%1").arg(::getuid())));
    }
};

QTEST_MAIN(TestStartupCleanup)
#include "test_startup_cleanup.moc"
