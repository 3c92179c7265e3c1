// The access layer on the real embedded engine: preconditions, texts, values, NULLs.
#include <QtTest>

#include "DbFixture.h"

using namespace pw;
using pw::test::DbWorld;

namespace {

template <typename F>
QByteArray textOf(F&& f) {
    try {
        f();
    } catch (const IBPP::Exception& e) {
        return e.what();
    }
    return "no exception";
}

}  // namespace

class TestDbAccess : public QObject {
    Q_OBJECT
    std::unique_ptr<DbWorld> w;

private slots:
    void init() {
        w = std::make_unique<DbWorld>();
        QVERIFY(w->createAndOpen());
    }
    void cleanup() { w.reset(); }

    void dialectIsCheckedBeforeTheEngine() {
        const QString path = w->env.root() + "never.pzb";
        IBPP::Database db =
            IBPP::DatabaseFactory("", path.toStdString(), "SYSDBA", "x", "", "NONE", "");
        QCOMPARE(textOf([&] { db->Create(2); }),
                 QByteArray("*** IBPP::LogicException ***\n"
                            "Context: Database::Create\n"
                            "Message: Only dialects 1 and 3 are supported.\n\n"));
        QVERIFY(!QFile::exists(path));
        IBPP::Database noUser = IBPP::DatabaseFactory("", path.toStdString(), "", "", "", "", "");
        QVERIFY(textOf([&] { noUser->Create(3); }).contains("Message: Unspecified user name.\n"));
        QVERIFY(textOf([&] { noUser->Connect(); }).contains("Context: Database::Connect\n"));
    }

    void connectOnAnAttachedDatabaseDoesNothing() {
        IBPP::Database db = db::StoreHandles::Database(*w->store);
        QVERIFY(db->IsConnected());
        db->Connect();
        QVERIFY(db->IsConnected());
        QCOMPARE(db->Dialect(), 3);
    }

    void transactionPreconditions() {
        IBPP::Database db = db::StoreHandles::Database(*w->store);
        QVERIFY(textOf([&] { (void)IBPP::TransactionFactory(nullptr); })
                    .contains("Context: Transaction::AttachDatabase\nMessage: Can't attach a null "
                              "Database.\n"));
        IBPP::Transaction tr = IBPP::TransactionFactory(db);
        QCOMPARE(textOf([&] { tr->Commit(); }),
                 QByteArray("*** IBPP::LogicException ***\nContext: Transaction::Commit\n"
                            "Message: Transaction is not started.\n\n"));
        QVERIFY(
            textOf([&] { tr->CommitRetain(); }).contains("Context: Transaction::CommitRetain\n"));
        QVERIFY(textOf([&] {
                    tr->RollbackRetain();
                }).contains("Context: Transaction::RollbackRetain\n"));
        IBPP::Statement st = IBPP::StatementFactory(db, tr);
        QVERIFY(
            textOf([&] {
                st->Prepare("select 1 from RDB$DATABASE");
            }).contains("Context: Statement::Prepare\nMessage: ITransaction must be started.\n"));
        tr->Start();
        QVERIFY(textOf([&] {
                    tr->AttachDatabase(db);
                }).contains("Can't attach a Database if Transaction started."));
        QVERIFY(textOf([&] { st->Prepare(""); }).contains("Message: SQL statement can't be 0.\n"));
        QVERIFY(
            textOf([&] { st->Execute(); }).contains("Message: No statement has been prepared.\n"));
        QVERIFY(textOf([&] { (void)st->Fetch(); })
                    .contains("Context: Statement::Fetch\nMessage: No statement has been executed "
                              "or no result set "
                              "available.\n"));
        tr->Rollback();
    }

    void engineErrorsCarryTheEnginePart() {
        IBPP::Statement st = IBPP::StatementFactory(db::StoreHandles::Database(*w->store),
                                                    db::StoreHandles::MainTransaction(*w->store));
        try {
            st->Prepare("select nothing from NO_SUCH_TABLE");
            QFAIL("prepared a query on a missing table");
        } catch (const IBPP::SQLException& e) {
            const QByteArray t = e.what();
            QVERIFY2(
                t.startsWith("*** IBPP::SQLException ***\n"
                             "Context: Statement::Prepare( select nothing from NO_SUCH_TABLE )\n"
                             "Message: isc_dsql_prepare failed\n\n"),
                t.constData());
            QCOMPARE(e.SqlCode(), -204);
            QCOMPARE(e.EngineCode(), 335544569);
            QVERIFY(t.contains("SQL Message : -204\n"));
            QVERIFY(
                t.contains("Engine Code    : 335544569\nEngine Message :\nDynamic SQL Error\n"));
            QVERIFY(t.contains("NO_SUCH_TABLE"));
            QVERIFY(t.endsWith("\n"));
        }
    }

    void valuesNullsAndColumnNames() {
        test::insertRecord(*w->store, 7, 0, 1, {"a@example.com", QString()});
        IBPP::Statement st = IBPP::StatementFactory(db::StoreHandles::Database(*w->store),
                                                    db::StoreHandles::MainTransaction(*w->store));
        st->Execute("select ID, NAME, ADDRESS as MAILTO, SENDING from MAILS");
        QVERIFY(textOf([&] {
                    int32_t x;
                    st->Get(1, x);
                }).contains("Context: Statement::Get\nMessage: The row is not initialized.\n"));
        QVERIFY(st->Fetch());
        int32_t id = 0;
        QVERIFY(!st->Get("id", id));  // lower case finds ID
        QCOMPARE(id, 7);
        std::string name = "untouched";
        QVERIFY(st->Get("Name", name));  // NULL: true, destination kept
        QCOMPARE(name, std::string("untouched"));
        std::string mail;
        QVERIFY(!st->Get("mailto", mail));  // the alias is found first
        QCOMPARE(mail, std::string("a@example.com"));
        bool sending = false;
        QVERIFY(!st->Get(4, sending));
        QVERIFY(sending);
        QVERIFY(textOf([&] {
                    (void)st->ColumnNum("");
                }).contains("Message: Column name <empty> not found.\n"));
        QVERIFY(textOf([&] {
                    (void)st->ColumnNum("NOPE");
                }).contains("Context: Row::ColumnNum\nMessage: Could not find matching column.\n"));
        QVERIFY(textOf([&] {
                    int32_t x;
                    st->Get("MAILTO", x);
                }).startsWith("*** IBPP::WrongType ***\n"));
        QVERIFY(!st->Fetch());
    }

    void parametersMustAllBeSet() {
        IBPP::Statement st = IBPP::StatementFactory(db::StoreHandles::Database(*w->store),
                                                    db::StoreHandles::MainTransaction(*w->store));
        st->Prepare("update MAILS set NAME = ? where ID = ?");
        QCOMPARE(st->Parameters(), 2);
        st->Set(1, "x");
        QCOMPARE(textOf([&] { st->Execute(); }),
                 QByteArray("*** IBPP::LogicException ***\nContext: Statement::Execute\n"
                            "Message: All parameters must be specified.\n\n"));
    }

    void affectedRowsCountsWhatTheStatementChanged() {
        for (int id = 1; id <= 3; ++id)
            test::insertRecord(*w->store, id, 0, 1, {QStringLiteral("m%1@x").arg(id)});
        IBPP::Statement st = IBPP::StatementFactory(db::StoreHandles::Database(*w->store),
                                                    db::StoreHandles::MainTransaction(*w->store));
        st->Prepare("update MAILS set SENDED = ? where ID >= ?");
        st->Set(1, 1);
        st->Set(2, 2);
        st->Execute();
        QCOMPARE(st->AffectedRows(), 2);
        st->Prepare("delete from MAILS where ID = ?");
        st->Set(1, 99);
        st->Execute();
        QCOMPARE(st->AffectedRows(), 0);
        st->Prepare("insert into MAILS (ID, SENDED, SENDING) values (?, 0, 0)");
        st->Set(1, 10);
        st->Execute();
        QCOMPARE(st->AffectedRows(), 1);
    }

    void japaneseAndAccentedTextSurvivesAMailsRow() {
        const QString name = QStringLiteral("山田 太郎 — Zoë Ångström");
        const QString city = QStringLiteral("ｶﾀｶﾅ東京都渋谷区");
        test::insertRecord(*w->store, 1, 0, 1, {QStringLiteral("taro@example.jp"), name, city});
        QVERIFY(w->store->Save(db::SaveMode::Retaining));
        QCOMPARE(test::queryColumn(*w->store, "select NAME from MAILS"), QStringList{name});
        QCOMPARE(test::queryColumn(*w->store, "select FIELD3 from MAILS"), QStringList{city});
        // Bound as a parameter, too.
        IBPP::Statement st = IBPP::StatementFactory(db::StoreHandles::Database(*w->store),
                                                    db::StoreHandles::MainTransaction(*w->store));
        st->Prepare("update MAILS set FIELD4 = ? where ID = 1");
        st->Set(1, name.toUtf8().toStdString());
        st->Execute();
        QCOMPARE(
            test::queryColumn(*w->store, "select FIELD4 from MAILS", test::Seen::InMainTransaction),
            QStringList{name});
    }
};

QTEST_GUILESS_MAIN(TestDbAccess)
#include "test_db_access.moc"
