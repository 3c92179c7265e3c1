// The database file: creation with its log, the schema as Firebird's own tool sees it,
// working copies, open, save, save as, confirm close and close.
#include <sys/stat.h>
#include <QProcess>
#include <QtTest>

#include "DbFixture.h"
#include "dbtools/StoreQuestions.h"
#include "resources/Strings.h"

using namespace pw;
using pw::test::DbWorld;

namespace {

QByteArray readAll(const QString& path) {
    return test::readFile(path);
}

// Firebird's isql on a detached database file.
QByteArray isql(const QStringList& args, const QByteArray& input = {}) {
    QProcess p;
    p.start(QStringLiteral("isql-fb"), args);
    if (!p.waitForStarted(10000))
        return "isql-fb did not start";
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    return p.readAllStandardOutput() + p.readAllStandardError();
}

// Collapses runs of blanks and line breaks, so that layout choices of the tool do not matter.
QByteArray squeezed(QByteArray text) {
    return text.simplified();
}

}  // namespace

class TestDbFile : public QObject {
    Q_OBJECT
    std::unique_ptr<DbWorld> w;
    QString logPath() const { return w->folders.userDataFolder + "db_log.txt"; }

private slots:
    void init() { w = std::make_unique<DbWorld>(); }
    void cleanup() { w.reset(); }

    void creationWritesTheWholeLog() {
        const QString path = w->store->MakeWorkingCopyPath();
        QVERIFY(path.endsWith("/state/Postwick/PZP_data_1.pzb"));
        QCOMPARE(w->store->CreateDatabase(path), db::CreateResult::Created);
        QVERIFY(w->ui.asked().isEmpty());
        QVERIFY(w->store->IsModified());
        QVERIFY(!w->store->IsOpen());  // creation leaves the file detached
        const QString log = QString::fromUtf8(readAll(logPath()));
        const QString head =
            "[TDbData::DbCreate Method]\n - Path file: " + path +
            "\n - IBPP::DatabaseFactory...\n   . Mirror File: " + path +
            "\n - IBPP::DatabaseFactory...DONE\n - Creating DB...DONE\n - Connecting...DONE\n"
            " - IBPP::TransactionFactory...DONE\n - Starting Tr...DONE\n"
            " - IBPP::StatementFactory...DONE\n - Executing scripts...\n";
        QVERIFY2(log.startsWith(head), qPrintable(log.left(600)));
        const QString boolean =
            "CREATE DOMAIN \"BOOLEAN\" AS SMALLINT DEFAULT 1 NOT NULL CHECK (VALUE IN (0, 1, 2));";
        QVERIFY(log.mid(head.size())
                    .startsWith("   0. " + boolean +
                                "\n     - After %STR_SIZE% replacement: " + boolean +
                                "\n     - ExecuteImmediate...DONE\n"
                                "      - CommitRetain...DONE\n"));
        QVERIFY(
            log.contains("   2. CREATE DOMAIN STANDARTSTRING AS VARCHAR(%STR_SIZE%);\n"
                         "     - After %STR_SIZE% replacement: CREATE DOMAIN STANDARTSTRING AS "
                         "VARCHAR(100);\n"));
        QVERIFY(
            log.contains("   40. INSERT INTO MAIL_FIELDS (ORDER_F, FIELD, CAPTION) VALUES (20, "
                         "'FIELD20', NULL);\n"));
        QCOMPARE(log.count("      - CommitRetain...DONE\n"), 41);
        QVERIFY(log.endsWith("      - CommitRetain...DONE\n[RETURN_TRUE]\n"));
        QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadOther | QFile::ReadGroup),
                 QFile::Permissions());
    }

    void anOldLongerLogLeavesNoTail() {
        QVERIFY(test::writeFile(logPath(), QByteArray(200000, 'x') + "OLD TAIL"));
        QVERIFY(w->createAndOpen());
        const QByteArray log = readAll(logPath());
        QVERIFY(!log.contains("OLD TAIL"));
        QVERIFY(log.startsWith("[TDbData::DbCreate Method]\n"));
    }

    void schemaAsFirebirdExtractsIt_data() {
        QTest::addColumn<QString>(
            "blank");  // the first database kept blank, as the second finds it
        QTest::newRow("made by the engine") << "";
        // a second fresh database is a copy of the first one kept blank
        QTest::newRow("copied from the blank one") << "kept";
        // a blank this engine does not open is made anew, and kept anew
        QTest::newRow("blank damaged: made anew") << "damaged";
    }
    void schemaAsFirebirdExtractsIt() {
        QFETCH(QString, blank);
        QVERIFY(w->createAndOpen());
        if (!blank.isEmpty()) {
            QVERIFY(w->store->Groups().AddGroup("Used") > 0);
            w->store->Close(db::CloseMode::DeleteWorkingCopy);
            const QDir blanks(w->folders.workingCopyFolder + "blank");
            const QStringList kept = blanks.entryList(QDir::Files);
            QCOMPARE(kept.size(), 1);
            if (blank == "damaged")
                QVERIFY(test::writeFile(blanks.filePath(kept[0]), QByteArray(8192, 'x')));
            QCOMPARE(w->store->CreateDatabase(w->store->MakeWorkingCopyPath()),
                     db::CreateResult::Created);
            QCOMPARE(readAll(logPath()).contains("Copied from"), blank == "kept");
            QVERIFY(QFileInfo(blanks.filePath(kept[0])).size() > 8192);
            QVERIFY(w->store->Open());
        }
        const QString path = w->store->WorkingCopyPath();
        w->store->Close(db::CloseMode::KeepWorkingCopy);  // one process attaches a file at a time
        const QByteArray ddl = isql({"-x", path, "-user", "SYSDBA"});
        const QByteArray s = squeezed(ddl);
        auto has = [&](const char* piece) {
            if (!s.contains(piece))
                qWarning().noquote() << "isql -x gave:\n" << ddl;
            return s.contains(piece);
        };
        QVERIFY(has("PAGE_SIZE 8192 DEFAULT CHARACTER SET NONE"));
        QVERIFY(has("CREATE DOMAIN \"BOOLEAN\" AS SMALLINT DEFAULT 1 NOT NULL;"));
        QVERIFY(has("ALTER DOMAIN \"BOOLEAN\" ADD CONSTRAINT CHECK (VALUE IN (0, 1, 2));"));
        QVERIFY(has("CREATE DOMAIN STANDARTID AS INTEGER DEFAULT -1 NOT NULL;"));
        QVERIFY(has("CREATE DOMAIN STANDARTSTRING AS VARCHAR(100);"));
        QVERIFY(has("CREATE GENERATOR GEN_GROUPS_ID;"));
        QVERIFY(has("CREATE GENERATOR GEN_MAILS_ID;"));
        QVERIFY(has("CREATE TABLE GROUP_MAIL (IDGROUP STANDARTID, IDMAIL STANDARTID,"));
        QVERIFY(has("CONSTRAINT PK_GROUP_MAIL PRIMARY KEY (IDGROUP, IDMAIL));"));
        QVERIFY(
            has("CREATE TABLE GROUPS (ID STANDARTID NOT NULL, NAME STANDARTSTRING, NOTES "
                "STANDARTSTRING, "
                "CONSTRAINT PK_GROUPS PRIMARY KEY (ID));"));
        QVERIFY(
            has("CREATE TABLE MAIL_FIELDS (ORDER_F STANDARTID, FIELD STANDARTSTRING, CAPTION "
                "STANDARTSTRING);"));
        QByteArray mails =
            "CREATE TABLE MAILS (ID STANDARTID NOT NULL, SENDED \"BOOLEAN\" DEFAULT 1, SENDING "
            "\"BOOLEAN\", ADDRESS STANDARTSTRING, NAME STANDARTSTRING,";
        for (int k = 3; k <= 20; ++k)
            mails += " FIELD" + QByteArray::number(k) + " STANDARTSTRING,";
        mails += " CONSTRAINT PK_MAILS PRIMARY KEY (ID));";
        QVERIFY(has(mails.constData()));
        QVERIFY(has("CREATE TABLE TEMP_DUBLIC_VALUES (DUBLIC_VALUE STANDARTSTRING);"));
        QVERIFY(has("CREATE INDEX IDX_DUBLIC_KEYS ON TEMP_DUBLIC_VALUES (DUBLIC_VALUE);"));
        QVERIFY(
            has("ALTER TABLE GROUP_MAIL ADD CONSTRAINT FK_GROUP_GM FOREIGN KEY (IDGROUP) "
                "REFERENCES GROUPS (ID) "
                "ON DELETE CASCADE;"));
        QVERIFY(
            has("ALTER TABLE GROUP_MAIL ADD CONSTRAINT FK_MAIL_GM FOREIGN KEY (IDMAIL) REFERENCES "
                "MAILS (ID) ON "
                "DELETE CASCADE;"));
        QVERIFY(
            has("CREATE TRIGGER GROUPS_BI FOR GROUPS ACTIVE BEFORE INSERT POSITION 0 AS BEGIN IF "
                "(NEW.ID IS "
                "NULL) THEN NEW.ID = GEN_ID(GEN_GROUPS_ID,1); END"));
        QVERIFY(
            has("CREATE TRIGGER MAILS_BI FOR MAILS ACTIVE BEFORE INSERT POSITION 0 AS BEGIN IF "
                "(NEW.ID IS "
                "NULL) THEN NEW.ID = GEN_ID(GEN_MAILS_ID,1); END"));
        QVERIFY(has("ALTER PROCEDURE AUTODELDUBLIC AS begin /* Procedure Text */ suspend; end"));

        // Contents: 20 caption rows with NULL captions, generators at 0, nothing else.
        const QByteArray rows =
            isql({"-q", path, "-user", "SYSDBA"},
                 "set list on;\n"
                 "select count(*) as FIELDROWS, count(CAPTION) as CAPTIONS, "
                 "min(ORDER_F) as LO, max(ORDER_F) as HI from MAIL_FIELDS;\n"
                 "select count(*) as RECIPIENTS from MAILS;\n"
                 "select count(*) as GROUPCOUNT from GROUPS;\n"
                 "select gen_id(GEN_GROUPS_ID, 0) as G1, gen_id(GEN_MAILS_ID, 0) as G2 "
                 "from RDB$DATABASE;\n");
        const QByteArray r = squeezed(rows);
        QVERIFY2(
            r.contains("FIELDROWS 20 CAPTIONS 0 LO 1 HI 20 RECIPIENTS 0 GROUPCOUNT 0 G1 0 G2 0"),
            rows.constData());
    }

    void newDatabaseGivesTheFirstGroupIdOne() {
        QVERIFY(w->createAndOpen());
        QCOMPARE(w->store->StringFieldLength(), 100);
        QCOMPARE(w->store->Records().CountRecords(), 0);
        QVERIFY(w->store->Groups().ListGroups().empty());
        QCOMPARE(w->store->Groups().AddGroup("First"), 1);
        QCOMPARE(w->store->FieldCaptions().CaptionsList().size(), 20);
        QCOMPARE(w->store->FieldCaptions().CaptionsList().first(),
                 QStringLiteral("ADDRESS=Mail Address"));
        QCOMPARE(w->store->FieldCaptions().CaptionsList().at(2), QStringLiteral("FIELD3=field3"));
    }

    void workingCopyNamesSkipExistingFiles() {
        QVERIFY(!QFileInfo::exists(w->folders.workingCopyFolder));
        const QString first = w->store->MakeWorkingCopyPath();
        struct stat st {};
        QCOMPARE(::stat(w->folders.workingCopyFolder.toUtf8().constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0700);
        QCOMPARE(first, w->folders.workingCopyFolder + "PZP_data_1.pzb");
        QVERIFY(test::writeFile(first, "left behind"));
        QCOMPARE(w->store->MakeWorkingCopyPath(), w->folders.workingCopyFolder + "PZP_data_2.pzb");
        QVERIFY(test::writeFile(w->folders.workingCopyFolder + "PZP_data_2.pzb", "left"));
        QVERIFY(QFile::link("/nonexistent", w->folders.workingCopyFolder + "PZP_data_3.pzb"));
        QCOMPARE(w->store->MakeWorkingCopyPath(), w->folders.workingCopyFolder + "PZP_data_4.pzb");
        QCOMPARE(w->store->WorkingCopyPath(), w->folders.workingCopyFolder + "PZP_data_4.pzb");
    }

    void aSecondCreationTakesTheNewFieldSize() {
        QVERIFY(w->createAndOpen(100));
        QCOMPARE(w->store->StringFieldLength(), 100);
        w->store->Close(db::CloseMode::DeleteWorkingCopy);
        w->store->SetStrFieldSize(250);
        const QString second = w->store->MakeWorkingCopyPath();
        QCOMPARE(w->store->CreateDatabase(second), db::CreateResult::Created);
        QVERIFY(readAll(logPath()).contains("AS VARCHAR(250);\n"));
        QVERIFY(w->store->Open());
        QCOMPARE(w->store->StringFieldLength(), 250);
        w->store->SetStrFieldSize(77);  // not one of the offered sizes
        QCOMPARE(w->store->StrFieldSize(), 100);
    }

    void anExistingFileIsReplacedOnlyWhenTheUserSaysSo() {
        const QString path = w->store->MakeWorkingCopyPath();
        QVERIFY(test::writeFile(path, "someone's bytes"));
        // the store only reports the file; the question is its caller's
        QCOMPARE(w->store->CreateDatabase(path), db::CreateResult::Exists);
        QVERIFY(w->ui.asked().isEmpty());
        w->ui.script({Answer::Cancel});
        QCOMPARE(dbtools::CreateDatabase(*w->store, path, w->ui), db::CreateResult::Declined);
        QCOMPARE(readAll(path), QByteArray("someone's bytes"));
        w->ui.clear();
        w->ui.script({Answer::No});
        QCOMPARE(dbtools::CreateDatabase(*w->store, path, w->ui), db::CreateResult::Declined);
        QCOMPARE(w->ui.askedTexts(), QStringList{str(ids::kDbFileExistsReplace)});
        QCOMPARE(w->ui.asked().first().kind, MessageKind::YesNoCancelDefaultNo);
        QCOMPARE(readAll(path), QByteArray("someone's bytes"));
        QVERIFY(QString::fromUtf8(readAll(logPath()))
                    .endsWith(" - Path file \"" + path +
                              "\" already exists. Asking for rewrite...NO\n[RETURN_FALSE]\n"));

        w->ui.script({Answer::Yes});
        QCOMPARE(dbtools::CreateDatabase(*w->store, path, w->ui), db::CreateResult::Created);
        QVERIFY(
            readAll(logPath()).contains("Asking for rewrite...YES\n - IBPP::DatabaseFactory...\n"));
        QVERIFY(w->store->Open());
    }

    void aCreationThatFailsIsLoggedAndTold() {
        // The working-copy folder lies below a plain file: the engine cannot create anything.
        QVERIFY(test::writeFile(w->env.root() + "blocker", "x"));
        w->folders.workingCopyFolder = w->env.root() + "blocker/sub/";
        w->store = std::make_unique<db::TDbData>(w->folders);
        const QString path = w->store->MakeWorkingCopyPath();
        QCOMPARE(dbtools::CreateDatabase(*w->store, path, w->ui), db::CreateResult::Failed);
        QCOMPARE(w->ui.askedTexts(),
                 QStringList{str(ids::kCouldNotCreateDatabase) + supportAddress()});
        const QByteArray log = readAll(logPath());
        QVERIFY2(
            log.contains(" - Creating DB...ERROR\n[RETURN_FALSE]\n\n\nError details: *** "
                         "IBPP::SQLException ***\n"
                         "Context: Database::Create\nMessage: isc_dsql_execute_immediate failed\n"),
            log.constData());
        QVERIFY(log.endsWith("\n\n"));
        QVERIFY(!w->store->Open());
    }

    void noLogStillCreatesAndSaysSo() {
        // The user data folder cannot be made (a file stands in its way), even for root.
        QVERIFY(test::writeFile(w->env.root() + "datafile", "x"));
        w->folders.userDataFolder = w->env.root() + "datafile/Postwick/";
        w->store = std::make_unique<db::TDbData>(w->folders);
        const QString path = w->store->MakeWorkingCopyPath();
        QCOMPARE(dbtools::CreateDatabase(*w->store, path, w->ui), db::CreateResult::Created);
        QCOMPARE(w->ui.askedTexts(), QStringList{str(ids::kDbLogFailed)});
        QVERIFY(w->store->Open());
    }

    void saveAsOntoTheWorkingCopyOnlyCommits() {
        QVERIFY(w->createAndOpen());
        test::insertRecord(*w->store, 1, 0, 1, {"a@x"});
        QVERIFY(w->store->IsModified());
        QVERIFY(test::queryColumn(*w->store, "select ADDRESS from MAILS").isEmpty());
        QVERIFY(w->store->SaveAs(w->store->WorkingCopyPath()));
        QVERIFY(!w->store->IsModified());
        QVERIFY(w->store->IsOpen());
        QCOMPARE(test::queryColumn(*w->store, "select ADDRESS from MAILS"), QStringList{"a@x"});
        QCOMPARE(QDir(w->folders.workingCopyFolder).entryList(QDir::Files).size(), 1);
    }

    void saveAsCopiesOutAndReopens() {
        QVERIFY(w->createAndOpen());
        test::insertRecord(*w->store, 1, 0, 1, {"a@x", QStringLiteral("Zoë")});
        const QString target = w->env.makeFolder("home") + "mine.pzb";
        QVERIFY(test::writeFile(target, "old contents"));
        QVERIFY(w->store->SaveAs(target));
        QVERIFY(w->store->IsOpen());
        QVERIFY(!w->store->IsModified());
        QVERIFY(readAll(target).size() > 100000);

        // The saved file opens as a new working copy with the record in it; the user's file is
        // never attached itself.
        w->store->Close(db::CloseMode::DeleteWorkingCopy);
        QVERIFY(w->store->OpenUserFile(target));
        QVERIFY(w->store->WorkingCopyPath() != target);
        QCOMPARE(test::queryColumn(*w->store, "select NAME from MAILS"),
                 QStringList{QStringLiteral("Zoë")});
    }

    void aFileThatIsNotADatabaseIsRefusedAndKept() {
        const QString user = w->env.makeFolder("home") + "garbage.pzb";
        const QByteArray bytes = QByteArray("not a database at all ") + QByteArray(9000, '\x07');
        QVERIFY(test::writeFile(user, bytes));
        QVERIFY(!w->store->OpenUserFile(user));
        QVERIFY(!w->store->IsOpen());
        QCOMPARE(readAll(user), bytes);
        QVERIFY(w->store->WorkingCopyPath().isEmpty());
        QVERIFY(QDir(w->folders.workingCopyFolder).entryList(QDir::Files).isEmpty());
        QVERIFY(w->ui.asked().isEmpty());
    }

    void aRecoveredWorkingCopyOpensInPlace() {
        QVERIFY(w->createAndOpen());
        test::insertRecord(*w->store, 5, 1, 1, {"kept@x"});
        QVERIFY(w->store->Save(db::SaveMode::Retaining));
        const QString left = w->store->WorkingCopyPath();
        w->store->Close(db::CloseMode::KeepWorkingCopy);
        QVERIFY(QFile::exists(left));

        db::TDbData next(w->folders);
        QVERIFY(next.OpenInPlace(left));
        QCOMPARE(next.WorkingCopyPath(), left);
        QCOMPARE(test::queryColumn(next, "select ADDRESS from MAILS"), QStringList{"kept@x"});
        next.Close(db::CloseMode::KeepWorkingCopy);

        // A damaged one is not deleted by a failed recovery.
        QVERIFY(test::writeFile(left, QByteArray(16384, 'z')));
        QVERIFY(!next.OpenInPlace(left));
        QVERIFY(QFile::exists(left));
    }

    // A file's page cache is set by its first attachment: a send run's store keeps it small,
    // so that the run's memory stays flat however long its list; the window's keeps the
    // engine's default.
    void thePageCacheFollowsTheStoresChoice_data() {
        QTest::addColumn<bool>("bounded");
        QTest::newRow("engine default") << false;
        QTest::newRow("bounded") << true;
    }
    void thePageCacheFollowsTheStoresChoice() {
        QFETCH(bool, bounded);
        w->store->SetPageCache(bounded ? db::PageCache::Bounded : db::PageCache::EngineDefault);
        QVERIFY(w->createAndOpen());
        const int buffers =
            test::queryColumn(*w->store, "select MON$PAGE_BUFFERS from MON$DATABASE")
                .value(0)
                .toInt();
        if (bounded)
            QCOMPARE(buffers, db::kBoundedPageBuffers);
        else
            QVERIFY(buffers > db::kBoundedPageBuffers);
    }

    void confirmCloseAsksOnlyWhenModified() {
        QVERIFY(w->createAndOpen());
        QVERIFY(dbtools::ConfirmClose(*w->store, w->ui));
        QVERIFY(w->ui.asked().isEmpty());

        test::insertRecord(*w->store, 1, 0, 1, {"a@x"});
        w->ui.script({Answer::Cancel});
        QVERIFY(!dbtools::ConfirmClose(*w->store, w->ui));
        QCOMPARE(w->ui.askedTexts(), QStringList{str(ids::kDbSaveChanges)});

        w->ui.script({Answer::No});
        QVERIFY(dbtools::ConfirmClose(*w->store, w->ui));
        QVERIFY(
            test::queryColumn(*w->store, "select ADDRESS from MAILS", test::Seen::InMainTransaction)
                .isEmpty());

        test::insertRecord(*w->store, 2, 0, 1, {"b@x"});
        w->ui.script({Answer::Yes});
        QVERIFY(dbtools::ConfirmClose(*w->store, w->ui));
        QCOMPARE(test::queryColumn(*w->store, "select ADDRESS from MAILS"), QStringList{"b@x"});
        QVERIFY(!w->store->IsModified());
    }

    void closeDeletesTheWorkingCopyOnlyWhenAsked() {
        QVERIFY(w->createAndOpen());
        const QString path = w->store->WorkingCopyPath();
        w->store->Close(db::CloseMode::KeepWorkingCopy);
        QVERIFY(QFile::exists(path));
        QCOMPARE(w->store->WorkingCopyPath(), path);
        QVERIFY(w->store->Open());
        w->store->Close(db::CloseMode::DeleteWorkingCopy);
        QVERIFY(!QFile::exists(path));
        QVERIFY(w->store->WorkingCopyPath().isEmpty());
        QVERIFY(!w->store->Open());
        QVERIFY(w->store->Save(db::SaveMode::Retaining));  // nothing open: nothing to fail
    }
};

QTEST_GUILESS_MAIN(TestDbFile)
#include "test_db_file.moc"
