// The record grid's model over the real store, checked by Qt's model tester throughout.
#include <QAbstractItemModelTester>
#include <QMimeData>
#include <QtTest>

#include "DbFixture.h"
#include "dbtools/EditorSession.h"
#include "dbtools/RecordGridModel.h"
#include "resources/Strings.h"

using namespace pw;
using pw::dbtools::RecordGridModel;
using pw::test::DbWorld;
using pw::test::queryColumn;
using pw::test::Seen;

class TestGridModel : public QObject {
    Q_OBJECT
    std::unique_ptr<DbWorld> w;
    std::unique_ptr<RecordGridModel> model;
    std::unique_ptr<QAbstractItemModelTester> tester;
    db::TDbData& s() { return *w->store; }
    QVariant at(int row, int column, int role = Qt::DisplayRole) {
        return model->data(model->index(row, column), role);
    }

private slots:
    void init() {
        w = std::make_unique<DbWorld>();
        QVERIFY(w->createAndOpen(50));
        model = std::make_unique<RecordGridModel>(s(), w->ui);
        tester = std::make_unique<QAbstractItemModelTester>(
            model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        test::insertRecord(s(), 1, 0, 1, {"a@x", "Anna"});
        test::insertRecord(s(), 2, 2, 0, {"b@x", QString()});  // NULL name, failed send
        test::insertRecord(s(), 3, 1, 1, {"c@x", "O'Brien"});
        model->list().Refresh();
    }
    void cleanup() {
        tester.reset();
        model.reset();
        w.reset();
    }

    void showsFlagsTextsAndHeaders() {
        QCOMPARE(model->rowCount(), 3);
        QCOMPARE(model->columnCount(), 22);
        QCOMPARE(model->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "Sent");
        QCOMPARE(model->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "Select");
        QCOMPARE(model->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), "Mail Address");
        QCOMPARE(model->headerData(21, Qt::Horizontal, Qt::DisplayRole).toString(), "field20");
        QCOMPARE(at(1, 3).toString(), QString());  // NULL shows empty
        QCOMPARE(at(2, 3).toString(), "O'Brien");
        // failed for good (2) is shown as such, not as a ticked "Sent"
        QCOMPARE(at(1, 0, Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
        QCOMPARE(at(1, 0, Qt::ToolTipRole).toString(), pw::str(pw::ids::kGridFailedTip));
        QCOMPARE(at(0, 0, Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        QCOMPARE(at(1, 1, Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        QCOMPARE(at(1, 0, RecordGridModel::SentValueRole).toInt(), 2);
        QCOMPARE(at(2, 5, RecordGridModel::RecordIdRole).toInt(), 3);
        QVERIFY(!(model->flags(model->index(0, 0)) & Qt::ItemIsUserCheckable));
        QVERIFY(model->flags(model->index(0, 1)) & Qt::ItemIsUserCheckable);

        // What grid printing reads: the same texts in the same order.
        const dbtools::IGridSource& grid = *model;
        QCOMPARE(grid.gridRowCount(), 3);
        QCOMPARE(grid.gridHeader(3), "Name");
        QCOMPARE(grid.gridText(0, 3), "Anna");
        QVERIFY(grid.gridChecked(2, 0));
        QVERIFY(grid.gridIsCheckColumn(1) && !grid.gridIsCheckColumn(2));
        QCOMPARE(grid.gridColumnWidth(0), 50);
        QCOMPARE(grid.gridColumnWidth(2), 80);
    }

    void writesGoToTheStore() {
        QVERIFY(model->setData(model->index(1, 1), Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(
            queryColumn(s(), "select SENDING from MAILS where ID = 2", Seen::InMainTransaction),
            QStringList{"1"});
        QVERIFY(!model->setData(model->index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
        QVERIFY(model->setData(model->index(0, 3), QString::fromUtf8("山田花子"), Qt::EditRole));
        QCOMPARE(at(0, 3).toString(), QString::fromUtf8("山田花子"));

        // One byte over the field length: the store's message, the old value stays.
        QSignalSpy changed(model.get(), &QAbstractItemModel::dataChanged);
        QVERIFY(!model->setData(model->index(0, 3), QString(51, 'x'), Qt::EditRole));
        QCOMPARE(w->ui.askedTexts(), QStringList{str(ids::kDbFieldTooLong)});
        QCOMPARE(at(0, 3).toString(), QString::fromUtf8("山田花子"));
        QCOMPARE(changed.size(), 1);  // views showing the refused text read the cell again
    }

    void listChangesUnderTheTester() {
        QSignalSpy rebuilt(model.get(), &RecordGridModel::listRebuilt);
        model->list().SetOrder({db::SortKey::Field, 0, db::SortDirection::Descending});
        model->list().Refresh();
        QCOMPARE(rebuilt.size(), 1);
        QCOMPARE(at(0, 2).toString(), "c@x");
        s().Records().DeleteRecord(-1, 2);
        QCOMPARE(model->rowCount(), 2);
        QCOMPARE(at(1, 2).toString(), "a@x");
        test::insertRecord(s(), 7, 0, 1, {"z@x"});
        std::array<QString, db::kFieldCount> t;
        t[0] = "z@x";
        QVERIFY(model->list().AppendCachedRow(7, 0, true, t));
        QCOMPARE(model->rowCount(), 3);
        QCOMPARE(at(2, 2).toString(), "z@x");
        model->list().SwapFields(0, 1);
        QCOMPARE(at(2, 3).toString(), "z@x");
        model->setFilterOn(true);
        QVERIFY(at(0, 4, RecordGridModel::FilterOnRole).toBool());
        model->list().AddFilter({0, QString(70000, 'x'), db::FilterKind::Include});
        QVERIFY_THROWS_EXCEPTION(db::StoreError, model->list().Refresh());
        QCOMPARE(model->rowCount(), 0);
        model->list().ClearFilter();
        model->list().Refresh();
        QCOMPARE(model->rowCount(), 3);
        s().Close(db::CloseMode::KeepWorkingCopy);
        QCOMPARE(model->rowCount(), 0);
        QCOMPARE(at(0, 2), QVariant());
    }

    void rowsArePagedAsTheViewAsks_data() {
        QTest::addColumn<int>("records");    // with the three of init()
        QTest::addColumn<int>("row");        // the row the view goes to
        QTest::addColumn<QString>("order");  // then sorted so while there; empty: not sorted
        QTest::newRow("fewer than a page") << 3 << 2 << "";
        QTest::newRow("one page exactly") << 100 << 99 << "";
        QTest::newRow("the row past the last page") << 101 << 100 << "";
        QTest::newRow("several pages, the last row") << 250 << 249 << "";
        QTest::newRow("a sort while scrolled") << 250 << 180 << "ADDRESS desc";
        QTest::newRow("a sort while scrolled, ties by ID") << 250 << 120 << "SENDED asc";
        QTest::newRow("two editors, two filters") << 250 << 120 << "filters";
        QTest::newRow("far pages let go") << 5000 << 4999 << "";
    }
    void rowsArePagedAsTheViewAsks() {
        QFETCH(int, records);
        QFETCH(int, row);
        QFETCH(QString, order);
        if (records > 3)
            pw::test::execute(
                s(),
                QStringLiteral("execute block as declare i int = 4; begin while (i <= %1) do begin "
                               "insert into MAILS (ID, SENDED, SENDING, ADDRESS) values (:i, 0, 1, "
                               "'m' || :i || "
                               "'@x'); i = i + 1; end end")
                    .arg(records));
        model->list().Refresh();
        // The scroll bar covers every record at once, and only the first page was read.
        QCOMPARE(model->rowCount(), records);
        QCOMPARE(model->cache().fetchedCount(), std::min(records, int(db::RecordCache::kBatch)));
        QCOMPARE(at(records, 2), QVariant());
        QStringList addresses{"a@x", "b@x", "c@x"};
        for (int id = 4; id <= records; ++id)
            addresses << QStringLiteral("m%1@x").arg(id);
        QCOMPARE(at(row, 2).toString(), addresses[row]);
        QCOMPARE(at(row, 1, Qt::CheckStateRole).toInt(), row == 1 ? 0 : int(Qt::Checked));
        if (records > db::RecordCache::kHeldRows) {
            // every row visited, pages far from the view let go, and read again when asked
            for (int r = 0; r < records; r += db::RecordCache::kBatch)
                QCOMPARE(at(r, 2).toString(), addresses[r]);
            QVERIFY(model->cache().fetchedCount() <= db::RecordCache::kHeldRows);
            QCOMPARE(at(0, 2).toString(), addresses[0]);
            QCOMPARE(at(row, 2).toString(), addresses[row]);
        }
        if (order == "filters") {
            // Each window's list is its own: two filters at once, and one off leaves the other.
            dbtools::EditorSession a(s(), w->ui, {});
            dbtools::EditorSession b(s(), w->ui, {});
            a.open();
            b.open();
            a.filteringOn({0, "m1", db::FilterKind::Include});
            b.filteringOn({0, "m2", db::FilterKind::Include});
            const auto count = [&](const char* text) {
                return queryColumn(s(),
                                   QStringLiteral("select count(*) from MAILS where ADDRESS "
                                                  "containing '%1'")
                                       .arg(QLatin1String(text)),
                                   Seen::InMainTransaction)
                    .value(0)
                    .toInt();
            };
            QCOMPARE(a.grid().rowCount(), count("m1"));
            QCOMPARE(b.grid().rowCount(), count("m2"));
            QVERIFY(a.grid().gridText(a.grid().rowCount() - 1, 2).contains("m1"));
            QVERIFY(b.grid().gridText(b.grid().rowCount() - 1, 2).contains("m2"));
            a.filteringOff();
            QCOMPARE(a.grid().rowCount(), records);
            b.list().Refresh();
            QCOMPARE(b.grid().rowCount(), count("m2"));
            QCOMPARE(model->rowCount(), records);  // the grid of init() unfiltered throughout
            return;
        }
        if (order.isEmpty())
            return;
        // sorted while scrolled: the same model, every row where the new order puts it
        QSignalSpy rebuilt(model.get(), &RecordGridModel::listRebuilt);
        model->list().SetOrder(
            order == "ADDRESS desc"
                ? db::ListOrder{db::SortKey::Field, 0, db::SortDirection::Descending}
                : db::ListOrder{db::SortKey::Sent, -1, db::SortDirection::Ascending});
        model->list().Refresh();
        QCOMPARE(rebuilt.size(), 1);
        QCOMPARE(model->rowCount(), records);
        const QStringList sorted = queryColumn(
            s(), "select ADDRESS from MAILS order by " + order + ", ID", Seen::InMainTransaction);
        QCOMPARE(at(row, 2).toString(), sorted[row]);
        QCOMPARE(at(records - 1, 2).toString(), sorted.last());
        QCOMPARE(at(0, 2).toString(), sorted.first());
    }

    void dragsCarryRecordIds() {
        std::unique_ptr<QMimeData> mime(
            model->mimeData({model->index(2, 3), model->index(0, 2), model->index(0, 5)}));
        QCOMPARE(mime->data(RecordGridModel::kRecordIdsMime), QByteArray("1\n3\n"));
    }

    void captionRenamesReachTheHeader() {
        QSignalSpy headers(model.get(), &QAbstractItemModel::headerDataChanged);
        s().FieldCaptions().SetCaption(2, "City");
        model->captionsChanged();
        QCOMPARE(headers.size(), 1);
        QCOMPARE(model->headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(), "City");
    }
};

QTEST_GUILESS_MAIN(TestGridModel)
#include "test_grid_model.moc"
