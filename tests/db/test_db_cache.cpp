// The record cache seam: notices before and after every change of the list, several lists
// of one store at once, rows that join or leave the list without a refresh.
#include <QtTest>

#include "DbFixture.h"
#include "db/RecipientList.h"

using namespace pw;
using pw::test::DbWorld;

namespace {

// A list of the store whose cache writes every notice as a line, with the row count the
// cache had when it came.
struct Recorder : db::IRecordCacheOwner {
    QStringList log;
    db::CRecipientList list;
    db::RecordCache& cache;
    explicit Recorder(db::TDbData& store) : list(store, this), cache(list.Cache()) {}
    ~Recorder() override { cache.setOwner(nullptr); }  // no notices into a half-destroyed owner
    void note(const QString& what) {
        log << QStringLiteral("%1 [%2]").arg(what).arg(cache.rowCount());
    }
    void listAboutToRefresh() override { note("about to refresh"); }
    void listRefreshed(int n) override { note(QStringLiteral("refreshed %1").arg(n)); }
    void rowChanged(int r) override { note(QStringLiteral("row %1").arg(r)); }
    void rowsChanged(int f, int l) override { note(QStringLiteral("rows %1-%2").arg(f).arg(l)); }
    void rowsAboutToBeInserted(int f, int) override { note(QStringLiteral("insert %1").arg(f)); }
    void rowsInserted(int f, int) override { note(QStringLiteral("inserted %1").arg(f)); }
    void rowsAboutToBeRemoved(int f, int) override { note(QStringLiteral("remove %1").arg(f)); }
    void rowsRemoved(int f, int) override { note(QStringLiteral("removed %1").arg(f)); }
};

std::array<QString, db::kFieldCount> texts(const QString& address, const QString& name) {
    std::array<QString, db::kFieldCount> t;
    t[0] = address;
    t[1] = name;
    return t;
}

QList<int> fetchedIds(db::CRecipientList& l) {
    l.FetchAll();
    const db::RecordCache& c = l.Cache();
    QList<int> ids;
    for (int r = 0; r < c.rowCount(); ++r)
        ids << c.rowId(r);
    return ids;
}

}  // namespace

class TestDbCache : public QObject {
    Q_OBJECT
    std::unique_ptr<DbWorld> w;
    db::TDbData& s() { return *w->store; }

    void fill(int n) {
        for (int id = 1; id <= n; ++id)
            test::insertRecord(s(), id, 0, 1, {QStringLiteral("m%1@x").arg(id)});
    }

private slots:
    void init() {
        w = std::make_unique<DbWorld>();
        QVERIFY(w->createAndOpen());
    }
    void cleanup() { w.reset(); }

    void refreshIsAnnouncedBeforeTheCacheChanges() {
        Recorder rec(s());
        fill(3);
        rec.list.Refresh();
        test::insertRecord(s(), 4, 0, 1, {"d@x"});
        rec.list.Refresh();
        QCOMPARE(rec.log, QStringList({"about to refresh [0]", "refreshed 3 [3]",
                                       "about to refresh [3]", "refreshed 4 [4]"}));
        rec.log.clear();
        s().Close(db::CloseMode::KeepWorkingCopy);
        QCOMPARE(rec.log, QStringList({"about to refresh [4]", "refreshed 0 [0]"}));
    }

    void aFailedRefreshStillEndsWithAnEmptyList() {
        Recorder rec(s());
        db::RecordCache& cache = rec.cache;
        fill(2);
        rec.list.Refresh();
        rec.log.clear();
        // a text longer than any statement takes
        rec.list.AddFilter({0, QString(70000, 'x'), db::FilterKind::Include});
        QVERIFY_THROWS_EXCEPTION(db::StoreError, rec.list.Refresh());
        QCOMPARE(rec.log, QStringList({"about to refresh [2]", "refreshed 0 [0]"}));
        QVERIFY(rec.list.FetchRows(0));  // nothing to fetch, and nothing thrown
        QCOMPARE(cache.fetchedCount(), 0);
        rec.list.ClearFilter();
        rec.list.Refresh();
        QCOMPARE(cache.rowCount(), 2);
    }

    void severalListsHoldTheirOwnViews() {
        fill(3);
        auto below = std::make_unique<db::CRecipientList>(s());
        below->Refresh();
        QCOMPARE(below->Cache().rowCount(), 3);
        {
            Recorder editor(s());
            editor.list.SetGroup(s().Groups().AddGroup("G"));
            editor.list.Refresh();
            QCOMPARE(editor.cache.rowCount(), 0);
            below->Refresh();
            QCOMPARE(below->Cache().rowCount(), 3);  // its own view, not the other's group
            s().Groups().AddToGroup(editor.list.Group(), 2);
            s().Records().DeleteRecord(-1, 1);  // a deleted record leaves every list showing it
            QCOMPARE(fetchedIds(*below), QList<int>({2, 3}));
            test::insertRecord(s(), 4, 0, 1, {"d@x"});
        }  // the last list goes; the one before it is read anew (the other may have changed it)
        QCOMPARE(fetchedIds(*below), QList<int>({2, 3, 4}));
        // A store that goes first leaves its lists without it, not dangling.
        db::CRecipientList other(s());
        w.reset();
        QCOMPARE(below->Store(), nullptr);
        QCOMPARE(other.Store(), nullptr);
        QCOMPARE(other.Cache().store(), nullptr);
        below->Refresh();  // nothing to read, and nothing thrown
        below.reset();
    }

    void deletedRecordsLeaveTheListAtOnce_data() {
        QTest::addColumn<int>("records");
        QTest::addColumn<QString>("order");      // every record has the same NAME (NULL)
        QTest::addColumn<int>("fetchedBefore");  // rows read before the deletion
        QTest::addColumn<int>("deleteId");
        QTest::newRow("row read") << 5 << "ID" << 5 << 2;
        QTest::newRow("first row") << 5 << "ID" << 0 << 1;
        QTest::newRow("last row") << 5 << "ID" << 1 << 5;
        QTest::newRow("equal sort keys") << 5 << "NAME asc" << 5 << 3;
        QTest::newRow("equal sort keys, descending") << 5 << "NAME desc" << 0 << 4;
        QTest::newRow("row not read yet") << 150 << "ID" << 0 << 120;
        QTest::newRow("equal keys, row not read yet") << 150 << "NAME asc" << 0 << 101;
    }
    void deletedRecordsLeaveTheListAtOnce() {
        QFETCH(int, records);
        QFETCH(QString, order);
        QFETCH(int, fetchedBefore);
        QFETCH(int, deleteId);
        Recorder rec(s());
        db::RecordCache& cache = rec.cache;
        fill(records);
        rec.list.SetOrder(order == "ID"
                              ? db::ListOrder{}
                              : db::ListOrder{db::SortKey::Field, 1,
                                              order == "NAME desc" ? db::SortDirection::Descending
                                                                   : db::SortDirection::Ascending});
        rec.list.Refresh();
        if (fetchedBefore > 0)
            QVERIFY(rec.list.FetchRows(fetchedBefore - 1));
        const int held = cache.rowCount();
        rec.log.clear();
        s().Records().DeleteRecord(-1, deleteId);
        // Ties go by ID: the record's own row leaves, and no other.
        const int row = deleteId - 1;
        QCOMPARE(rec.log,
                 row < held
                     ? QStringList({QStringLiteral("remove %1 [%2]").arg(row).arg(held),
                                    QStringLiteral("removed %1 [%2]").arg(row).arg(held - 1)})
                     : QStringList());
        QList<int> after;
        for (int id = 1; id <= records; ++id)
            if (id != deleteId)
                after << id;
        QCOMPARE(fetchedIds(rec.list), after);
        QCOMPARE(cache.text(0, 0), QStringLiteral("m%1@x").arg(after.first()));
    }

    void leavingAnotherGroupKeepsTheRow() {
        db::CRecipientList list(s());
        const db::RecordCache& cache = list.Cache();
        fill(2);
        const int shown = s().Groups().AddGroup("shown");
        const int other = s().Groups().AddGroup("other");
        for (int g : {shown, other})
            for (int id : {1, 2})
                s().Groups().AddToGroup(g, id);
        list.SetGroup(shown);
        list.Refresh();
        s().Records().DeleteRecord(other, 1);  // membership of a group not on show: the list stays
        QCOMPARE(cache.rowCount(), 2);
        s().Records().DeleteRecord(shown, 1);
        QCOMPARE(fetchedIds(list), QList<int>({2}));
    }

    void appendedAndEditedRowsShowWithoutARefresh() {
        Recorder rec(s());
        db::RecordCache& cache = rec.cache;
        fill(150);
        rec.list.Refresh();  // the list is only partly read when the record is added
        rec.log.clear();
        test::insertRecord(s(), 151, 0, 1, {"new@x", "New"});
        QVERIFY(rec.list.AppendCachedRow(151, 0, true, texts("new@x", "New")));
        QCOMPARE(rec.log, QStringList({"insert 150 [150]", "inserted 150 [151]"}));
        QVERIFY(cache.isFetched(150));
        // The rows read later come before it, and the list does not give it a second time.
        QList<int> ids;
        for (int id = 1; id <= 151; ++id)
            ids << id;
        QCOMPARE(fetchedIds(rec.list), ids);
        QCOMPARE(cache.text(150, 1), QStringLiteral("New"));
        QCOMPARE(cache.selected(150), true);

        rec.log.clear();
        rec.list.UpdateCachedRow(1, texts("two@x", QString::fromUtf8("山田")));
        QCOMPARE(rec.log, QStringList({"row 1 [151]"}));
        QCOMPARE(cache.text(1, 1), QString::fromUtf8("山田"));

        // Exchanging fields reaches the added row too, in the cache and in the file.
        rec.log.clear();
        rec.list.SwapFields(0, 1);
        QCOMPARE(rec.log, QStringList({"rows 0-150 [151]"}));
        QCOMPARE(cache.text(150, 0), QStringLiteral("New"));
        QCOMPARE(test::queryColumn(s(), "select ADDRESS from MAILS where ID = 151",
                                   test::Seen::InMainTransaction),
                 QStringList{"New"});
    }

    void aFullListTakesNoMoreRows_data() {
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("listed");  // rows of the 20000 records listed
        QTest::addColumn<bool>("appended");
        QTest::newRow("default limit") << 0 << 20000 << false;
        QTest::newRow("raised limit") << 30000 << 20000 << true;
        QTest::newRow("below the default: the default") << 100 << 20000 << false;
    }
    void aFullListTakesNoMoreRows() {
        QFETCH(int, limit);
        QFETCH(int, listed);
        QFETCH(bool, appended);
        db::CRecipientList list(s());
        const db::RecordCache& cache = list.Cache();
        if (limit > 0)
            s().SetRecordLimit(limit);
        pw::test::execute(
            s(), QStringLiteral(
                     "execute block as declare i int = 1; begin while (i <= 20000) do begin "
                     "insert into MAILS (ID, SENDED, SENDING, ADDRESS) values (:i, 0, 1, 'a'); "
                     "i = i + 1; end end"));
        list.Refresh();
        QCOMPARE(cache.rowCount(), listed);
        QCOMPARE(cache.fetchedCount(), db::RecordCache::kBatch);
        QVERIFY(list.FetchAll());
        QVERIFY(!cache.truncated());
        QCOMPARE(list.AppendCachedRow(20001, 0, true, texts("x", "y")), appended);
        QCOMPARE(cache.rowCount(), listed + (appended ? 1 : 0));
        QVERIFY(w->ui.asked().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDbCache)
#include "test_db_cache.moc"
