// A recipient list shared on a Firebird server: several desktops (stores and run attachments,
// each its own connection, and one other process) on one list of a private server.
#include <QProcess>
#include <QtTest>

#include "DbFixture.h"
#include "FirebirdTestServer.h"
#include "db/RunAttachment.h"
#include "db/SharedLists.h"
#include "db/SuppressionList.h"
#include "resources/Strings.h"

using namespace pw;
using namespace pw::test;

namespace {

enum class Scene {
    TwoStoresEdit,
    RunWhileOthersWork,
    KilledRun,
    DroppedConnection,
    BadLogin,
    SharedLists
};

const db::ServerLogin kAnn{{}, QStringLiteral("ANN"), QStringLiteral("sesame")};
const db::ServerLogin kBob{{}, QStringLiteral("BOB"), QStringLiteral("open")};
const db::ServerLogin kCat{{}, QStringLiteral("CAT"), QStringLiteral("purr")};

db::ServerLogin on(db::ServerLogin login, const QString& connection) {
    login.connection = connection;
    return login;
}

// The field as committed on the server, seen through any store's attachment.
QString committed(db::TDbData& store, const QString& column, int id) {
    const QStringList v = queryColumn(
        store, QStringLiteral("select %1 from MAILS where ID = %2").arg(column).arg(id));
    return v.value(0);
}

}  // namespace

class TestDbServer : public QObject {
    Q_OBJECT

    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<FirebirdTestServer> m_server;
    int m_lists = 0;

    bool serverUp() {
        return m_server->isRunning() ||
               m_server->start({{"ANN", "sesame"}, {"BOB", "open"}, {"CAT", "purr"}});
    }
    // A new empty database on the server, as its administrator would make it.
    QString emptyList() {
        return m_server->createDatabase(QStringLiteral("list%1.fdb").arg(++m_lists),
                                        {"ANN", "sesame"});
    }

private slots:
    void initTestCase() {
        QVERIFY(ensureProcessLockFolder());
        m_env = std::make_unique<TestEnv>();
        m_server = std::make_unique<FirebirdTestServer>(m_env->makeFolder("fbserver"));
        QVERIFY2(serverUp(), qPrintable(m_server->errorText()));
    }
    void cleanupTestCase() { m_server.reset(); }

    void serverNames_data() {
        QTest::addColumn<QString>("location");
        QTest::addColumn<bool>("server");
        QTest::newRow("host, port and path") << "db.example.org/3051:/srv/list.fdb" << true;
        QTest::newRow("host and alias") << "office:customers" << true;
        QTest::newRow("loopback address") << "127.0.0.1:/var/lib/list.fdb" << true;
        QTest::newRow("absolute file") << "/home/ann/list.pzb" << false;
        QTest::newRow("relative file with colon") << "lists/a:b.pzb" << false;
        QTest::newRow("host without database") << "office:" << false;
    }
    void serverNames() {
        QFETCH(QString, location);
        QFETCH(bool, server);
        QCOMPARE(db::IsServerConnection(location), server);
    }

    void sharedList_data() {
        QTest::addColumn<Scene>("scene");
        QTest::newRow("two stores edit one record: the stale one is told, nothing lost")
            << Scene::TwoStoresEdit;
        QTest::newRow("a run while another edits: a third desktop's send is refused")
            << Scene::RunWhileOthersWork;
        QTest::newRow("a killed run frees the lock; the resume skips what it sent")
            << Scene::KilledRun;
        QTest::newRow("the connection dropped mid-run: the run reattaches, no outcome lost")
            << Scene::DroppedConnection;
        QTest::newRow("a wrong password is told, nothing opened") << Scene::BadLogin;
        QTest::newRow("suppressions and the ledger of one desktop are every desktop's")
            << Scene::SharedLists;
    }

    void sharedList() {
        QFETCH(Scene, scene);
        QVERIFY2(serverUp(), qPrintable(m_server->errorText()));
        const QString list = emptyList();
        QVERIFY2(!list.isEmpty(), qPrintable(m_server->errorText()));
        DbWorld ann;
        DbWorld bob;
        if (scene == Scene::BadLogin) {
            db::ServerLogin wrong = on(kAnn, list);
            wrong.password = QStringLiteral("sesam");
            const db::ServerOpenResult refused = ann.store->OpenServer(wrong);
            QVERIFY(!refused);
            QVERIFY(!ann.store->IsOpen());
            QCOMPARE(ann.store->Kind(), db::StoreKind::WorkingCopy);
            QVERIFY2(refused.failure.startsWith(
                         str(ids::kDbServerOpenFailed).arg(list, QString()).trimmed()),
                     qPrintable(refused.failure));
            return;
        }
        // the first desktop makes the schema in the empty database, the second finds it
        QVERIFY(ann.store->OpenServer(on(kAnn, list)));
        QCOMPARE(ann.store->Kind(), db::StoreKind::Server);
        QCOMPARE(ann.store->ServerConnection(), list);
        for (int id = 1; id <= 3; ++id)
            insertRecord(*ann.store, id, 0, 1, {QStringLiteral("r%1@example.org").arg(id)});
        QVERIFY(!ann.store->IsModified());  // committed as made: nothing to save
        QVERIFY(bob.store->OpenServer(on(kBob, list)));
        QCOMPARE(committed(*bob.store, "ADDRESS", 3), QStringLiteral("r3@example.org"));

        if (scene == Scene::TwoStoresEdit) {
            db::CRecipientList annList(*ann.store);
            db::CRecipientList bobList(*bob.store);
            const db::RecordCache& annGrid = annList.Cache();
            const db::RecordCache& bobGrid = bobList.Cache();
            annList.Refresh();
            bobList.Refresh();
            QCOMPARE(annList.SetCell(0, 0, QStringLiteral("ann@example.org")),
                     db::CellWrite::Written);
            // another field of the same record is no conflict
            QCOMPARE(bobList.SetCell(0, 1, QStringLiteral("Bobby")), db::CellWrite::Written);
            QVERIFY(!bob.store->TakeChangedElsewhere());
            // the address Bob sees is stale: told with the value now, not overwritten
            QCOMPARE(bobList.SetCell(0, 0, QStringLiteral("bob@example.org")),
                     db::CellWrite::ChangedElsewhere);
            const QString told = bob.store->TakeChangedElsewhere().value_or(QString());
            QVERIFY2(told.startsWith(str(ids::kDbChangedByOther).section('\n', 0, 0)) &&
                         told.contains(QStringLiteral("ann@example.org")),
                     qPrintable(told));
            QVERIFY(!bob.store->TakeChangedElsewhere());  // told once
            QCOMPARE(bobGrid.text(0, 0), QStringLiteral("ann@example.org"));
            QCOMPARE(committed(*bob.store, "ADDRESS", 1), QStringLiteral("ann@example.org"));
            QCOMPARE(committed(*ann.store, "NAME", 1), QStringLiteral("Bobby"));
            // now that Bob sees it, his change goes through
            QCOMPARE(bobList.SetCell(0, 0, QStringLiteral("bob@example.org")),
                     db::CellWrite::Written);
            QCOMPARE(committed(*ann.store, "ADDRESS", 1), QStringLiteral("bob@example.org"));
            // a deselect of the whole list is everybody's at once, and Ann's grid shows it
            QCOMPARE(annList.SetFlagOverView(db::RowFlag::Selected, 0), db::ViewUpdate::InPlace);
            QCOMPARE(queryColumn(*bob.store, "select SENDING from MAILS order by ID"),
                     (QStringList{"0", "0", "0"}));
            QVERIFY(!annGrid.selected(0));
            QVERIFY(!ann.store->IsModified());
            return;
        }

        if (scene == Scene::SharedLists) {
            // Ann's desktop suppresses an address; Bob's, with a home of its own, respects it
            db::CSuppressionList annList(*ann.store);
            QCOMPARE(annList.FilePath(), list);
            QCOMPARE(
                annList.Add({"Gone@Example.org", "x@example.org"}, "asked to be removed").added, 2);
            QHash<QString, QString> reasons;
            QCOMPARE(db::CSuppressionList(*bob.store).ReadReasons(reasons), db::ListRead::Read);
            QCOMPARE(reasons.value("gone@example.org"), QStringLiteral("asked to be removed"));
            QVERIFY(db::CSuppressionList(*bob.store).Remove({"x@example.org"}));
            std::vector<db::SuppressedEntry> entries;
            QCOMPARE(annList.Read(entries), db::ListRead::Read);
            QCOMPARE(entries.size(), size_t(1));
            QVERIFY(!QFileInfo::exists(ann.folders.userDataFolder + db::kSuppressionFileName));
            // one account's ledger, written from both desktops, read from where one left off
            const QString account = QStringLiteral("smtp.example.org|office");
            db::CServerLedger annLedger(on(kAnn, list), account);
            db::CServerLedger bobLedger(on(kBob, list), account);
            std::vector<db::LedgerRow> rows;
            QVERIFY(bobLedger.RowsAfter(0, rows));  // none yet, and no table: nothing failed
            QVERIFY(rows.empty());
            QVERIFY(annLedger.Append('S', 1000, 0));
            QVERIFY(bobLedger.Append('D', 2000, 450));
            QVERIFY(db::CServerLedger(on(kAnn, list), "other|account").Append('S', 3000, 0));
            QVERIFY(annLedger.RowsAfter(0, rows));
            QCOMPARE(rows.size(), size_t(2));
            QCOMPARE(rows[0].kind, 'S');
            QCOMPARE(rows[0].atMs, qint64(1000));
            QCOMPARE(rows[1].count, 450);
            QCOMPARE(annLedger.LastId(), rows[1].id);
            QVERIFY(annLedger.RowsAfter(rows[0].id, rows));
            QCOMPARE(rows.size(), size_t(1));
            // the choice off: each desktop's own file again
            db::SetShareOnServer(db::ShareOnServer::Off);
            const QString home = db::CSuppressionList(*ann.store).FilePath();
            db::SetShareOnServer(db::ShareOnServer::On);
            QCOMPARE(home, ann.folders.userDataFolder + db::kSuppressionFileName);
            return;
        }

        QStringList annLog;
        db::CRunAttachment annRun(ann.store->WorkingCopyPath(),
                                  [&annLog](const QString& t) { annLog << t; });
        QString heldBy;
        if (scene == Scene::RunWhileOthersWork) {
            QCOMPARE(annRun.TakeRunLock(QStringLiteral("ann@desk1"), &heldBy),
                     db::CRunAttachment::RunLock::Taken);
            QCOMPARE(annRun.WriteOutcome(1, 1), db::CRunAttachment::OutcomeWrite::Written);
            // the outcome is on the server as it happens; Bob edits meanwhile
            QCOMPARE(committed(*bob.store, "SENDED", 1), QStringLiteral("1"));
            pw::test::execute(*bob.store,
                              QStringLiteral("update MAILS set NAME = 'B' where ID = 2"));
            DbWorld cat;
            QVERIFY(cat.store->OpenServer(on(kCat, list)));
            db::CRunAttachment catRun(cat.store->WorkingCopyPath(), {});
            QCOMPARE(catRun.TakeRunLock(QStringLiteral("cat@desk3"), &heldBy),
                     db::CRunAttachment::RunLock::Held);
            QCOMPARE(heldBy, QStringLiteral("ann@desk1"));
            QCOMPARE(annRun.WriteOutcome(2, 1), db::CRunAttachment::OutcomeWrite::Written);
            annRun.Detach();  // the run's end
            QCOMPARE(catRun.TakeRunLock(QStringLiteral("cat@desk3"), &heldBy),
                     db::CRunAttachment::RunLock::Taken);
            // a working copy shares nothing
            DbWorld file;
            QVERIFY(file.createAndOpen());
            db::CRunAttachment fileRun(file.store->WorkingCopyPath(), {});
            QCOMPARE(fileRun.TakeRunLock(QStringLiteral("x"), &heldBy),
                     db::CRunAttachment::RunLock::NotShared);
            QVERIFY2(annLog.isEmpty(), qPrintable(annLog.join('\n')));
        } else if (scene == Scene::KilledRun) {
            // another process sends record 1, holds the lock, and is killed
            QProcess run;
            run.setProcessChannelMode(QProcess::MergedChannels);
            run.start(QStringLiteral("stdbuf"),
                      {"-o0", "isql-fb", "-q", "-user", "ANN", "-password", "sesame", list});
            QVERIFY(run.waitForStarted());
            run.write(
                "update MAILS set SENDED = 1 where ID = 1; commit;\n"
                "set transaction no wait;\n"
                "update RUN_LOCK set HOLDER = HOLDER where ID = 1;\n"
                "select 'HOLDING' from RDB$DATABASE;\n");
            QByteArray out;
            while (!out.contains("HOLDING") && run.waitForReadyRead(30000))
                out += run.readAll();
            QVERIFY2(out.contains("HOLDING"), out.constData());
            QCOMPARE(annRun.TakeRunLock(QStringLiteral("ann@desk1"), &heldBy),
                     db::CRunAttachment::RunLock::Held);
            run.kill();
            QVERIFY(run.waitForFinished());
            // the server frees the lock when it sees the connection go
            QTRY_COMPARE_WITH_TIMEOUT(annRun.TakeRunLock(QStringLiteral("ann@desk1"), &heldBy),
                                      db::CRunAttachment::RunLock::Taken, 30000);
            const std::optional<std::vector<int>> rest =
                annRun.SelectionIds(db::SendSelectionMode::NotSent);
            QVERIFY(rest);
            QCOMPARE(*rest, (std::vector<int>{2, 3}));
        } else if (scene == Scene::DroppedConnection) {
            QCOMPARE(annRun.TakeRunLock(QStringLiteral("ann@desk1"), &heldBy),
                     db::CRunAttachment::RunLock::Taken);
            QCOMPARE(annRun.WriteOutcome(1, 1), db::CRunAttachment::OutcomeWrite::Written);
            m_server->stop();
            QCOMPARE(annRun.WriteOutcome(2, 1), db::CRunAttachment::OutcomeWrite::Failed);
            QCOMPARE(annLog.size(), 1);
            QVERIFY2(serverUp(), qPrintable(m_server->errorText()));
            // the run attaches anew, takes its lock again, and writes what failed
            QCOMPARE(annRun.WriteOutcome(2, 1), db::CRunAttachment::OutcomeWrite::Written);
            DbWorld cat;
            QVERIFY(cat.store->OpenServer(on(kCat, list)));
            QCOMPARE(queryColumn(*cat.store, "select SENDED from MAILS order by ID"),
                     (QStringList{"1", "1", "0"}));
            db::CRunAttachment catRun(cat.store->WorkingCopyPath(), {});
            QCOMPARE(catRun.TakeRunLock(QStringLiteral("cat@desk3"), &heldBy),
                     db::CRunAttachment::RunLock::Held);
        }
    }
};

QTEST_GUILESS_MAIN(TestDbServer)
#include "test_db_server.moc"
