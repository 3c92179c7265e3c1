// The record grid's model over the real store, checked by Qt's model tester throughout.
#include <QAbstractItemModelTester>
#include <QMimeData>
#include <QtTest>

#include "DbFixture.h"
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
        model = std::make_unique<RecordGridModel>(s());
        tester = std::make_unique<QAbstractItemModelTester>(
            model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        test::insertRecord(s(), 1, 0, 1, {"a@x", "Anna"});
        test::insertRecord(s(), 2, 2, 0, {"b@x", QString()});  // NULL name, failed send
        test::insertRecord(s(), 3, 1, 1, {"c@x", "O'Brien"});
        s().RefreshList();
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
        s().SetOrder(" ADDRESS desc");
        s().RefreshList();
        QCOMPARE(rebuilt.size(), 1);
        QCOMPARE(at(0, 2).toString(), "c@x");
        s().DeleteRecord(-1, 2);
        QCOMPARE(model->rowCount(), 2);
        QCOMPARE(at(1, 2).toString(), "a@x");
        test::insertRecord(s(), 7, 0, 1, {"z@x"});
        std::array<QString, db::kFieldCount> t;
        t[0] = "z@x";
        QVERIFY(s().AppendCachedRow(7, 0, true, t));
        QCOMPARE(model->rowCount(), 3);
        QCOMPARE(at(2, 2).toString(), "z@x");
        s().SwapFields(0, 1);
        QCOMPARE(at(2, 3).toString(), "z@x");
        model->setFilterOn(true);
        QVERIFY(at(0, 4, RecordGridModel::FilterOnRole).toBool());
        s().SetOrder(" NO_SUCH asc");
        QVERIFY_THROWS_EXCEPTION(db::StoreError, s().RefreshList());
        QCOMPARE(model->rowCount(), 0);
        s().SetOrder(" ID asc ");
        s().RefreshList();
        QCOMPARE(model->rowCount(), 3);
        s().Close(db::CloseMode::KeepWorkingCopy);
        QCOMPARE(model->rowCount(), 0);
        QCOMPARE(at(0, 2), QVariant());
    }

    void rowsComeInBatchesThroughFetchMore_data() {
        QTest::addColumn<int>("records");  // with the three of init()
        QTest::newRow("fewer than a batch") << 3;
        QTest::newRow("one batch exactly") << 100;
        QTest::newRow("one more than a batch") << 101;
        QTest::newRow("several batches") << 250;
    }
    void rowsComeInBatchesThroughFetchMore() {
        QFETCH(int, records);
        for (int id = 4; id <= records; ++id)
            test::insertRecord(s(), id, 0, 1, {QStringLiteral("m%1@x").arg(id)});
        s().RefreshList();
        QCOMPARE(model->rowCount(), std::min(records, int(db::RecordCache::kBatch)));
        // Painting reads nothing: a row not held is no row of the model.
        QCOMPARE(at(records, 2), QVariant());
        QSignalSpy inserted(model.get(), &QAbstractItemModel::rowsInserted);
        int fetches = 0;
        while (model->canFetchMore({}) && fetches < 10) {
            model->fetchMore({});
            ++fetches;
        }
        QCOMPARE(model->rowCount(), records);
        QCOMPARE(inserted.size(), (records - 1) / db::RecordCache::kBatch);
        QVERIFY(!model->canFetchMore({}));
        QCOMPARE(at(records - 1, 2).toString(),
                 records > 3 ? QStringLiteral("m%1@x").arg(records) : QStringLiteral("c@x"));
    }

    void dragsCarryRecordIds() {
        std::unique_ptr<QMimeData> mime(
            model->mimeData({model->index(2, 3), model->index(0, 2), model->index(0, 5)}));
        QCOMPARE(mime->data(RecordGridModel::kRecordIdsMime), QByteArray("1\n3\n"));
    }

    void captionRenamesReachTheHeader() {
        QSignalSpy headers(model.get(), &QAbstractItemModel::headerDataChanged);
        s().SetCaption(2, "City");
        model->captionsChanged();
        QCOMPARE(headers.size(), 1);
        QCOMPARE(model->headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(), "City");
    }
};

QTEST_GUILESS_MAIN(TestGridModel)
#include "test_grid_model.moc"
