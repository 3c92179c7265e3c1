// The record cache seam: notices before and after every change of the list, several caches
// registered at once, rows that join or leave the list without a refresh.
#include <QtTest>

#include "DbFixture.h"

using namespace pw;
using pw::test::DbWorld;

namespace {

// A cache registered with the store that writes every notice as a line, with the row count
// the cache had when it came.
struct Recorder : db::IRecordCacheOwner {
    QStringList log;
    db::RecordCache cache{this};
    explicit Recorder(db::TDbData& store) { store.RegisterCache(&cache); }
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

QList<int> fetchedIds(db::TDbData& s, db::RecordCache& c) {
    s.FetchAll();
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
        s().RefreshList();
        test::insertRecord(s(), 4, 0, 1, {"d@x"});
        s().RefreshList();
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
        s().RefreshList();
        rec.log.clear();
        s().SetOrder(QStringLiteral(" NO_SUCH_COLUMN asc"));
        QVERIFY_THROWS_EXCEPTION(IBPP::Exception, s().RefreshList());
        QCOMPARE(rec.log, QStringList({"about to refresh [2]", "refreshed 0 [0]"}));
        QVERIFY(s().FetchRows(0));  // nothing to fetch, and nothing thrown
        QCOMPARE(cache.fetchedCount(), 0);
        s().SetOrder(QStringLiteral(" ID asc "));
        s().RefreshList();
        QCOMPARE(cache.rowCount(), 2);
    }

    void severalCachesTakeTurns() {
        fill(3);
        auto below = std::make_unique<db::RecordCache>();
        s().RegisterCache(below.get());
        s().RefreshList();
        QCOMPARE(below->rowCount(), 3);
        {
            Recorder rec(s());
            db::RecordCache& editor = rec.cache;
            QCOMPARE(s().Cache(), &editor);
            s().SetGroupRestriction(s().AddGroup("G"));
            s().RefreshList();
            QCOMPARE(editor.rowCount(), 0);
            QCOMPARE(below->rowCount(), 3);  // the inactive cache keeps what it showed
        }  // the editor's cache unregisters itself; the one below is refilled for the new view
        QCOMPARE(s().Cache(), below.get());
        QCOMPARE(below->rowCount(), 0);
        s().SetGroupRestriction(-1);
        s().RefreshList();
        QCOMPARE(fetchedIds(s(), *below), QList<int>({1, 2, 3}));

        // Registering again moves a cache to the top; unregistering twice is harmless.
        db::RecordCache other;
        s().RegisterCache(&other);
        s().RegisterCache(below.get());
        QCOMPARE(s().Cache(), below.get());
        s().UnregisterCache(below.get());
        s().UnregisterCache(below.get());
        QCOMPARE(s().Cache(), &other);
        QCOMPARE(other.rowCount(), 3);
        // A store that goes first leaves its caches unregistered, not dangling.
        s().RegisterCache(below.get());
        w.reset();
        QCOMPARE(below->store(), nullptr);
        QCOMPARE(other.store(), nullptr);
        below.reset();
    }

    void deletedRecordsLeaveTheListAtOnce_data() {
        QTest::addColumn<int>("fetchedBefore");  // rows read before the deletion
        QTest::addColumn<int>("deleteId");
        QTest::addColumn<QList<int>>("after");
        QTest::newRow("fetched row") << 5 << 2 << QList<int>({1, 3, 4, 5});
        QTest::newRow("row not yet fetched") << 2 << 4 << QList<int>({1, 2, 3, 5});
        QTest::newRow("first row, nothing fetched") << 0 << 1 << QList<int>({2, 3, 4, 5});
        QTest::newRow("last row") << 1 << 5 << QList<int>({1, 2, 3, 4});
    }
    void deletedRecordsLeaveTheListAtOnce() {
        QFETCH(int, fetchedBefore);
        QFETCH(int, deleteId);
        QFETCH(QList<int>, after);
        Recorder rec(s());
        db::RecordCache& cache = rec.cache;
        fill(5);
        s().RefreshList();
        if (fetchedBefore > 0)
            QVERIFY(s().FetchRows(fetchedBefore - 1));
        rec.log.clear();
        s().DeleteRecord(-1, deleteId);
        const int row = deleteId - 1;
        QCOMPARE(rec.log, QStringList({QStringLiteral("remove %1 [5]").arg(row),
                                       QStringLiteral("removed %1 [4]").arg(row)}));
        QCOMPARE(fetchedIds(s(), cache), after);
        QCOMPARE(cache.text(0, 0), QStringLiteral("m%1@x").arg(after.first()));
    }

    void leavingAnotherGroupKeepsTheRow() {
        db::RecordCache cache;
        s().RegisterCache(&cache);
        fill(2);
        const int shown = s().AddGroup("shown");
        const int other = s().AddGroup("other");
        for (int g : {shown, other})
            for (int id : {1, 2})
                s().AddToGroup(g, id);
        s().SetGroupRestriction(shown);
        s().RefreshList();
        s().DeleteRecord(other, 1);  // membership of a group not on show: the list stays
        QCOMPARE(cache.rowCount(), 2);
        s().DeleteRecord(shown, 1);
        QCOMPARE(fetchedIds(s(), cache), QList<int>({2}));
    }

    void appendedAndEditedRowsShowWithoutARefresh() {
        Recorder rec(s());
        db::RecordCache& cache = rec.cache;
        fill(3);
        s().RefreshList();
        QVERIFY(s().FetchRows(0));  // the list is only partly read when the record is added
        rec.log.clear();
        test::insertRecord(s(), 9, 0, 1, {"new@x", "New"});
        QVERIFY(s().AppendCachedRow(9, 0, true, texts("new@x", "New")));
        QCOMPARE(rec.log, QStringList({"insert 3 [3]", "inserted 3 [4]"}));
        QVERIFY(cache.isFetched(3));
        QVERIFY(!cache.isFetched(2));
        QCOMPARE(fetchedIds(s(), cache), QList<int>({1, 2, 3, 9}));  // fetching stops before it
        QCOMPARE(cache.text(3, 1), QStringLiteral("New"));
        QCOMPARE(cache.selected(3), true);

        rec.log.clear();
        s().UpdateCachedRow(1, texts("two@x", QString::fromUtf8("山田")));
        QCOMPARE(rec.log, QStringList({"row 1 [4]"}));
        QCOMPARE(cache.text(1, 1), QString::fromUtf8("山田"));

        // Exchanging fields reaches the added row too, in the cache and in the file.
        rec.log.clear();
        s().SwapFields(0, 1);
        QCOMPARE(rec.log, QStringList({"rows 0-3 [4]"}));
        QCOMPARE(cache.text(3, 0), QStringLiteral("New"));
        QCOMPARE(test::queryColumn(s(), "select ADDRESS from MAILS where ID = 9",
                                   test::Seen::InMainTransaction),
                 QStringList{"New"});
    }

    void aFullCacheTakesNoMoreRows() {
        db::RecordCache cache;
        s().RegisterCache(&cache);
        s().ExecuteImmediate(QStringLiteral(
            "execute block as declare i int = 1; begin while (i <= 20000) do begin "
            "insert into MAILS (ID, SENDED, SENDING, ADDRESS) values (:i, 0, 1, 'a'); "
            "i = i + 1; end end"));
        s().RefreshList();
        QCOMPARE(cache.rowCount(), db::RecordCache::kCapacity);
        QVERIFY(!s().AppendCachedRow(20001, 0, true, texts("x", "y")));
        QCOMPARE(cache.rowCount(), db::RecordCache::kCapacity);
    }
};

QTEST_GUILESS_MAIN(TestDbCache)
#include "test_db_cache.moc"
