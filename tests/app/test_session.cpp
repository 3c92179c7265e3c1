// Start-up, the fresh document and the close sequence on the real embedded database.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include "AppTestFolders.h"
#include "RawStatement.h"
#include "ScriptedUserInteraction.h"
#include "TestEnv.h"
#include "app/AppSession.h"
#include "app/ProjectStore.h"
#include "app/RecentList.h"
#include "app/RunRecovery.h"
#include "compose/MailFile.h"
#include "resources/Strings.h"
#include "send/RunMarker.h"

using namespace pw;
using namespace pw::app;

namespace {

QStringList filesIn(const QString& folder, const QStringList& patterns = {}) {
    return QDir(folder).entryList(patterns, QDir::Files | QDir::Hidden);
}

}  // namespace

class TestSession : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setLanguage(Language::English); }

    void freshStartAndCloseLeaveOnlyTheSettings() {
        test::TestEnv env;
        const AppFolders f = test::appFoldersIn(env);
        test::ScriptedUserInteraction ui;
        CAppSession s(f, f.settingsPath("postwick"), ui);
        QVERIFY(test::writeFile(f.tempFolder + "PostwickMainPreview/old.html", "x") || true);
        // shipped templates beside the program stay readable for every user
        QVERIFY(QDir().mkpath(f.programFolder + "Template"));
        const QFile::Permissions shipped = QFileInfo(f.programFolder + "Template").permissions();
        QCOMPARE(s.Start(), CAppSession::StartResult::Ready);
        QVERIFY(QDir(f.mainPreviewFolder()).exists());
        QVERIFY(QDir(f.wizardPreviewFolder()).exists());
        QVERIFY(QDir(f.templateFolder()).exists());
        QVERIFY(f.templateFolder().startsWith(f.userDataFolder));
        QCOMPARE(QFileInfo(f.programFolder + "Template").permissions(), shipped);
        s.ReadSettingsFile();
        QCOMPARE(s.PrepareFreshDocument(), CAppSession::FreshResult::Ready);
        QVERIFY(ui.asked().isEmpty());
        QVERIFY(s.store().IsOpen());
        const QString workingCopy = s.store().WorkingCopyPath();
        QVERIFY(workingCopy.startsWith(f.workingCopyFolder));
        QVERIFY(QFile::exists(workingCopy));
        QCOMPARE(s.FreshRecipientText(), QStringLiteral("[[Mail Address]]"));

        // files that the close sequence must clear away
        QVERIFY(test::writeFile(f.mainPreviewFolder() + "index.html", "<html/>"));
        QVERIFY(test::writeFile(f.wizardPreviewFolder() + "pic.png", "png"));
        QDir().mkpath(f.mainPreviewFolder() + "sub");
        QVERIFY(test::writeFile(f.userDataFolder + "stray.pzb", "db"));

        QCOMPARE(s.Close(false, {}, {}), CAppSession::CloseResult::Closed);
        QVERIFY(!QFile::exists(workingCopy));
        QVERIFY(filesIn(f.userDataFolder, {"*.pzb"}).isEmpty());
        QVERIFY(filesIn(f.mainPreviewFolder()).isEmpty());
        QVERIFY(filesIn(f.wizardPreviewFolder()).isEmpty());
        QVERIFY(QDir(f.mainPreviewFolder() + "sub").exists());  // subfolders stay
        const QByteArray ini = test::readFile(f.settingsPath("postwick"));
        for (const char* key :
             {"[WINDOW]", "ShowFieldWnd=1", "[SETUP]", "SMTPPort=25", "StartShortcut=1",
              "StrFieldSize=100", "SMTPAcceptUnverifiedCert=0"})
            QVERIFY2(ini.contains(key), key);
        QVERIFY(filesIn(f.workingCopyFolder, {"*.pzb"}).isEmpty());
    }

    // a settings file that cannot be written is told; one left unread at start was told then
    void unwritableSettingsFileIsTold_data() {
        QTest::addColumn<QString>("path");  // below the test's root
        QTest::newRow("placement and close") << "plain/p.ini";
        QTest::newRow("file unread at start: not told twice") << "plain";
    }
    void unwritableSettingsFileIsTold() {
        QFETCH(QString, path);
        test::TestEnv env;
        // a file, not a folder: missing for reading, refused for writing, even for root
        QVERIFY(test::writeFile(env.root() + "plain", "\x01 no settings"));
        test::ScriptedUserInteraction ui;
        CAppSession s(test::appFoldersIn(env), env.root() + path, ui);
        s.SavePlacement("MAIN", WindowPlacement{});
        QCOMPARE(s.Close(false, {}, {}), CAppSession::CloseResult::Closed);
        const QString told =
            str(ids::kSettingsNotSaved).arg(QDir::toNativeSeparators(env.root() + path));
        QCOMPARE(ui.askedTexts(), (path == "plain" ? QStringList() : QStringList{told, told}));
        QCOMPARE(test::readFile(env.root() + "plain"), QByteArray("\x01 no settings"));
    }

    void defaultDatabaseProblems_data() {
        QTest::addColumn<QByteArray>("content");  // empty: the file is missing
        QTest::addColumn<int>("messageId");
        QTest::newRow("missing file") << QByteArray() << ids::kDefaultDbNotFound;
        QTest::newRow("not a database")
            << QByteArray("this is no database\n", 20) << ids::kDefaultDbUnreadable;
    }
    void defaultDatabaseProblems() {
        QFETCH(QByteArray, content);
        QFETCH(int, messageId);
        test::TestEnv env;
        const AppFolders f = test::appFoldersIn(env);
        const QString userDb = env.root() + "mine.pzb";
        if (!content.isEmpty())
            QVERIFY(test::writeFile(userDb, content));
        QDir().mkpath(f.userDataFolder);
        QVERIFY(test::writeFile(f.settingsPath("postwick"),
                                "[SETUP]\r\nDefaultDBPath=" + userDb.toUtf8() + "\r\n"));
        test::ScriptedUserInteraction ui;
        CAppSession s(f, f.settingsPath("postwick"), ui);
        QCOMPARE(s.Start(), CAppSession::StartResult::Ready);
        s.ReadSettingsFile();
        QCOMPARE(s.PrepareFreshDocument(), CAppSession::FreshResult::Ready);
        QCOMPARE(ui.askedTexts(), QStringList{str(messageId)});
        QVERIFY(s.store().IsOpen());
        QVERIFY(!s.DefaultDatabaseOpen());
        if (!content.isEmpty())
            QCOMPARE(test::readFile(userDb), content);  // the user's file untouched
        QCOMPARE(s.Close(false, {}, {}), CAppSession::CloseResult::Closed);
        // the default path survives the close: only its own command writes it
        QVERIFY(test::readFile(f.settingsPath("postwick")).contains("DefaultDBPath="));
    }

    void defaultDatabaseIsOpenedAsWorkingCopy() {
        test::TestEnv env;
        const AppFolders f = test::appFoldersIn(env);
        test::ScriptedUserInteraction ui;
        QString userDb = env.root() + "customers.pzb";
        {
            // make a real database to serve as the user's default file
            CAppSession maker(f, f.settingsPath("maker"), ui);
            QCOMPARE(maker.Start(), CAppSession::StartResult::Ready);
            QCOMPARE(maker.PrepareFreshDocument(), CAppSession::FreshResult::Ready);
            QVERIFY(maker.store().SaveAs(userDb));
            QCOMPARE(maker.Close(false, {}, {}), CAppSession::CloseResult::Closed);
        }
        const QByteArray before = test::readFile(userDb);
        QVERIFY(!before.isEmpty());
        QVERIFY(test::writeFile(f.settingsPath("postwick"),
                                "[SETUP]\r\nDefaultDBPath=" + userDb.toUtf8() + "\r\n"));
        CAppSession s(f, f.settingsPath("postwick"), ui);
        QCOMPARE(s.Start(), CAppSession::StartResult::Ready);
        s.ReadSettingsFile();
        QCOMPARE(s.PrepareFreshDocument(), CAppSession::FreshResult::Ready);
        QVERIFY(s.DefaultDatabaseOpen());
        QVERIFY(s.store().WorkingCopyPath() != userDb);
        QCOMPARE(s.Close(false, {}, {}), CAppSession::CloseResult::Closed);
        QVERIFY(QFile::exists(userDb));
    }

    void unusableUserDataFolderEndsStartUp() {
        test::TestEnv env;
        AppFolders f = test::appFoldersIn(env);
        // a plain file where the folder's parent should be: refused even for root
        QVERIFY(test::writeFile(env.root() + "blocker", "x"));
        f.userDataFolder = env.root() + "blocker/Postwick/";
        test::ScriptedUserInteraction ui;
        CAppSession s(f, f.settingsPath("postwick"), ui);
        QCOMPARE(s.Start(), CAppSession::StartResult::EndProcess);
        QVERIFY(ui.asked().isEmpty());
    }

    void databaseThatCannotBeCreatedEndsTheProcess() {
        test::TestEnv env;
        AppFolders f = test::appFoldersIn(env);
        QVERIFY(test::writeFile(env.root() + "blocker", "x"));
        f.workingCopyFolder = env.root() + "blocker/Postwick/";
        test::ScriptedUserInteraction ui;
        CAppSession s(f, f.settingsPath("postwick"), ui);
        QCOMPARE(s.Start(), CAppSession::StartResult::Ready);
        QCOMPARE(s.PrepareFreshDocument(), CAppSession::FreshResult::EndProcess);
        QCOMPARE(ui.asked().size(), 1);
        QCOMPARE(ui.asked()[0].text, str(ids::kCouldNotCreateDatabase) + supportAddress());
        QVERIFY(!s.store().IsOpen());
    }

    void cancellingTheSaveQuestionKeepsEverything() {
        test::AppTestBed app;
        test::ScriptedUserInteraction& ui = app.ui;
        const auto started = app.startOnFreshDocument();
        QVERIFY(started);
        CAppSession& s = *started;
        ui.script({Answer::Cancel});
        bool cancelled = false;
        QCOMPARE(s.Close(true, {}, [&] { cancelled = true; }), CAppSession::CloseResult::Cancelled);
        QCOMPARE(ui.asked().size(), 1);
        QCOMPARE(ui.asked()[0].caption, QStringLiteral("Confirm Save"));
        QCOMPARE(ui.asked()[0].kind, MessageKind::YesNoCancel);
        QVERIFY(!cancelled);
        QVERIFY(!QFile::exists(app.settingsPath()));
        QVERIFY(s.store().IsOpen());
        ui.script({Answer::No});
        QCOMPARE(s.Close(true, {}, [&] { cancelled = true; }), CAppSession::CloseResult::Closed);
        QVERIFY(cancelled);
    }

    // A killed run's outcomes go back into the project; the mail it had in flight (its data
    // gone out, its outcome not yet recorded) counts as sent and is named.
    void outcomesOfAKilledRunGoBackIntoTheProject_data() {
        QTest::addColumn<QString>("inFlight");
        QTest::addColumn<int>("connection");  // of the run, whose note it is
        QTest::newRow("between two mails") << QString() << 0;
        QTest::newRow("mail 2 in flight") << "2 b@example.com" << 0;
        QTest::newRow("mail 2 in flight on a third connection") << "2 b@example.com" << 2;
        // the note of a mail that went while the outcome of the one before was being written
        QTest::newRow("mail 2 in flight in a connection's second slot")
            << "2 b@example.com" << send::CInFlightRecord::slotOf(0, 1);
    }
    void outcomesOfAKilledRunGoBackIntoTheProject() {
        QFETCH(QString, inFlight);
        QFETCH(int, connection);
        test::AppTestBed app;
        const AppFolders& f = app.folders;
        test::ScriptedUserInteraction& ui = app.ui;
        const QString project = app.env.root() + "mailing.pzy";
        QString runCopy;
        {
            const auto a = app.startOnFreshDocument();
            QVERIFY(a);
            db::TDbData& store = a->store();
            pw::test::execute(store,
                              "insert into MAILS (ID, SENDED, SENDING, ADDRESS) values (1, 0, 1, "
                              "'a@example.com')");
            pw::test::execute(store,
                              "insert into MAILS (ID, SENDED, SENDING, ADDRESS) values (2, 0, 1, "
                              "'b@example.com')");
            MailDocument doc;
            doc.recipientText = "[[Mail Address]]";
            doc.subject = QString::fromUtf8("ご案内");
            // the mail texts are in the code page of the charset setting, as the session reads them
            QVERIFY(app.saveProject(project, doc, store));
            // the run that is killed: record 1 went out, and only the working copy knows
            QCOMPARE(store.SendRun().SetSentFlag(1, 1), db::SentFlagResult::Written);
            runCopy = store.WorkingCopyPath();
            auto marker = send::CRunMarker::begin(runCopy, project);
            QVERIFY(marker);
            if (!inFlight.isEmpty())
                send::CInFlightRecord::open(runCopy)->set(2, inFlight, connection);
            store.Close(db::CloseMode::KeepWorkingCopy);
            // the marker object goes away without finish(): what a kill leaves behind
        }
        QVERIFY(QFile::exists(send::markerPathFor(runCopy)));

        const auto b = app.start();
        QVERIFY(b);
        ui.clear();
        ui.script({Answer::Yes});
        b->OfferRecovery();
        QCOMPARE(ui.asked().size(), 2);
        QVERIFY(ui.asked()[0].text.contains(project));
        QCOMPARE(ui.asked()[1].text,
                 inFlight.isEmpty()
                     ? str(ids::kRecoveryDone)
                     : str(ids::kRecoveryDone) + '\n' + str(ids::kRecoveryInFlight).arg(inFlight));
        QVERIFY(!QFile::exists(runCopy));
        QVERIFY(!QFile::exists(send::markerPathFor(runCopy)));

        // the project now says record 1 was sent: "not yet sent" gives only record 2
        db::TDbData& store = b->store();
        const MailFileReadResult r = readMailFile(
            project,
            {f.mainPreviewFolder(), [&] { return store.MakeWorkingCopyPath(); }, MailCodePage(0)},
            nullptr);
        QVERIFY(r.ok());
        QCOMPARE(r.contents->document.subject, QString::fromUtf8("ご案内"));
        QVERIFY(store.Open());
        const db::SendSelection unsent =
            store.SendRun().LoadSendSelection(db::SendSelectionMode::NotSent);
        QCOMPARE(unsent.ids, inFlight.isEmpty() ? std::vector<int>{2} : std::vector<int>{});
        store.Close(db::CloseMode::DeleteWorkingCopy);

        ui.clear();
        b->OfferRecovery();  // nothing left to offer
        QVERIFY(ui.asked().isEmpty());
    }

    void programFolderDropsBuildTails_data() {
        QTest::addColumn<QString>("exe");
        QTest::addColumn<QString>("program");
        QTest::newRow("plain") << "/opt/postwick/bin"
                               << "/opt/postwick/bin/";
        QTest::newRow("Debug") << "/work/Debug"
                               << "/work/";
        QTest::newRow("Release with blank") << "/d/Release 2"
                                            << "/d/";
        QTest::newRow("Debug before Release") << "/x/Debug/Release"
                                              << "/x/";
    }
    void programFolderDropsBuildTails() {
        QFETCH(QString, exe);
        QFETCH(QString, program);
        QCOMPARE(ProgramFolderFrom(exe), program);
    }

    void privateTemporaryFolder() {
        test::TestEnv env;
        const QString p = PrivateFolder(env.root(), "priv");
        QVERIFY(!p.isEmpty());
        QCOMPARE(QFile::permissions(p) & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther),
                 0);
        // a link planted where the folder should be is refused
        QVERIFY(QFile::link(env.makeFolder("elsewhere"), env.root() + "planted"));
        QVERIFY(PrivateFolder(env.root(), "planted").isEmpty());
    }

    // The recent list over a script of steps: "p:name" opens project "name" (a file made in
    // the test's folder), "s:server|user" a server list, "gone:name" deletes that project
    // file, "choose:i" picks entry i. The list is then read back by a second instance.
    void recentList_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<int>("told");
        QTest::newRow("add, newest first")
            << QStringList{"p:a", "p:b"} << QStringList{"p:b", "p:a"} << QString() << 0;
        QTest::newRow("reopened moves up, once")
            << QStringList{"p:a", "p:b", "p:c", "p:a"} << QStringList{"p:a", "p:c", "p:b"}
            << QString() << 0;
        QTest::newRow("capped, the oldest goes")
            << QStringList{"p:1", "p:2", "p:3", "p:4", "p:5", "p:6", "p:7"}
            << QStringList{"p:7", "p:6", "p:5", "p:4", "p:3", "p:2"} << QString() << 0;
        QTest::newRow("server entry: per list and user, chosen without a file")
            << QStringList{"s:db1/3051:/srv/a.fdb|ann", "p:a", "s:db1/3051:/srv/a.fdb|bob",
                           "s:db1/3051:/srv/a.fdb|ANN", "choose:0"}
            << QStringList{"s:db1/3051:/srv/a.fdb|ANN", "s:db1/3051:/srv/a.fdb|bob", "p:a"}
            << "s:db1/3051:/srv/a.fdb|ANN" << 0;
        QTest::newRow("missing file: removed and told, nothing opened")
            << QStringList{"p:a", "p:b", "gone:a", "choose:1"} << QStringList{"p:b"} << QString()
            << 1;
        QTest::newRow("out of range: nothing")
            << QStringList{"p:a", "choose:3"} << QStringList{"p:a"} << QString() << 0;
    }

    void recentList() {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, expected);
        QFETCH(QString, chosen);
        QFETCH(int, told);
        test::TestEnv env;
        const QString data = env.makeFolder("data");
        const QString projects = env.makeFolder("projects");
        test::ScriptedUserInteraction ui;
        CRecentList recent(data);
        const auto shortName = [](const RecentEntry& e) {
            if (e.kind == RecentKind::ServerList)
                return "s:" + e.location + '|' + e.user;
            return "p:" + QFileInfo(e.location).completeBaseName();
        };
        QString picked;
        for (const QString& step : steps) {
            const QString arg = step.section(':', 1);
            if (step.startsWith("p:")) {
                QVERIFY(test::writeFile(projects + arg + ".pzy", "x"));
                // another spelling of the same file's path is the same entry
                recent.addProject(projects + "../projects/" + arg + ".pzy");
            } else if (step.startsWith("s:")) {
                recent.addServerList(arg.section('|', 0, 0), arg.section('|', 1));
            } else if (step.startsWith("gone:")) {
                QVERIFY(QFile::remove(projects + arg + ".pzy"));
            } else if (const auto e = recent.choose(arg.toInt(), ui)) {
                picked = shortName(*e);
            }
        }
        QStringList listed;
        for (const RecentEntry& e : CRecentList(data).entries()) {
            listed << shortName(e);
            QVERIFY(e.label().contains(e.user));
        }
        QCOMPARE(listed, expected);
        QCOMPARE(picked, chosen);
        QCOMPARE(int(ui.asked().size()), told);
        if (told)
            QVERIFY(ui.askedTexts().first().contains("a.pzy"));
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "test_session.moc"
