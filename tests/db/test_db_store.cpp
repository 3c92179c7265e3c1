// The recipient store operations and the record cache on the real embedded engine.
#include <QtTest>

#include "DbFixture.h"
#include "db/RecipientList.h"
#include "db/RecordImport.h"
#include "resources/Strings.h"

using namespace pw;
using pw::test::DbWorld;
using pw::test::queryColumn;
using pw::test::Seen;

namespace {

struct Owner : db::IRecordCacheOwner {
    QList<int> refreshed;
    QList<int> rows;
    void listRefreshed(int rowCount) override { refreshed << rowCount; }
    void rowChanged(int row) override { rows << row; }
};

QStringList fields(std::initializer_list<const char*> values) {
    QStringList out;
    for (const char* v : values)
        out << (v ? QString::fromUtf8(v) : QString());
    return out;
}

}  // namespace

class TestDbStore : public QObject {
    Q_OBJECT
    std::unique_ptr<DbWorld> w;
    std::unique_ptr<db::CRecipientList> list;
    db::RecordCache* cache = nullptr;
    Owner owner;

    db::TDbData& s() { return *w->store; }
    QStringList main(const QString& sql) { return queryColumn(s(), sql, Seen::InMainTransaction); }
    void makeList() {
        list = std::make_unique<db::CRecipientList>(s(), &owner);
        cache = &list->Cache();
    }

private slots:
    void init() {
        w = std::make_unique<DbWorld>();
        owner = Owner{};
        QVERIFY(w->createAndOpen());
        makeList();
    }
    void cleanup() {
        list.reset();
        w.reset();
    }

    void countsWithNoDatabase() {
        db::TDbData closed(w->folders);
        QCOMPARE(closed.Records().CountRecords(), 0);
        QCOMPARE(closed.Records().CountRecordsOrNone(), -1);
        QCOMPARE(closed.Groups().FindGroupByName("x"), -1);
        QCOMPARE(closed.Groups().AddGroup("x"), -1);
        QCOMPARE(closed.SendRun().LoadSendSelection(db::SendSelectionMode::All).count, 0);
        QCOMPARE(closed.SendRun().SetSentFlag(1, 1), db::SentFlagResult::NoDatabase);
        db::CRecipientList closedList(closed);
        closedList.Refresh();
        QVERIFY(!closedList.FetchAll());
        QVERIFY(w->ui.asked().isEmpty());
        test::insertRecord(s(), 1, 0, 1, {"a@x"});
        QCOMPARE(s().Records().CountRecords(), 1);
        QCOMPARE(s().Records().RecordCount(), 1);
    }

    void theListIsReadInPagesInListOrder() {
        for (int id = 1; id <= 130; ++id)
            test::insertRecord(s(), id, id % 3 == 0 ? 1 : 0, id % 2,
                               {QStringLiteral("m%1@x").arg(id), QString(), "c"});
        list->SetOrder({db::SortKey::Id, -1, db::SortDirection::Descending});
        list->Refresh();
        QCOMPARE(owner.refreshed, QList<int>{130});
        QCOMPARE(cache->rowCount(), 130);
        QCOMPARE(cache->fetchedCount(), db::RecordCache::kBatch);
        QCOMPARE(cache->rowId(0), 130);
        QCOMPARE(cache->rowId(100), 30);
        QCOMPARE(cache->rowId(130), -1);
        list->FetchRows(104);
        QCOMPARE(cache->fetchedCount(), 130);
        QCOMPARE(cache->rowId(104), 26);
        QCOMPARE(cache->text(104, 0), QStringLiteral("m26@x"));
        QCOMPARE(cache->text(104, 1), QString());  // NULL reads as empty
        QCOMPARE(cache->text(104, 2), QStringLiteral("c"));
        QCOMPARE(cache->sent(103), 1);  // ID 27
        QCOMPARE(cache->selected(103), true);
        QCOMPARE(cache->selected(104), false);
        list->FetchAll();
        QCOMPARE(cache->fetchedCount(), 130);

        // Filters hold together: a text held, a text not held, a whole value.
        list->AddFilter({0, "m1", db::FilterKind::Include});
        list->AddFilter({0, "0@", db::FilterKind::Include});
        list->AddFilter({0, "m12", db::FilterKind::Exclude});
        list->AddFilter({2, "c", db::FilterKind::Match});
        list->AddFilter({db::kFieldCount, "c", db::FilterKind::Match});  // no such field
        list->Refresh();
        list->FetchAll();
        QCOMPARE(cache->rowCount(), 4);  // 130, 110, 100, 10
        QCOMPARE(cache->rowId(3), 10);
        // Nothing but the literal reaches the statement.
        list->AddFilter({0, "x' or '1'='1", db::FilterKind::Exclude});
        list->Refresh();
        QCOMPARE(cache->rowCount(), 4);
        list->AddFilter({0, "x' or '1'='1", db::FilterKind::Match});
        list->Refresh();
        QCOMPARE(cache->rowCount(), 0);
        // Sorted by a field, ties go by ID.
        list->ClearFilter();
        list->SetOrder({db::SortKey::Field, 2, db::SortDirection::Descending});
        list->Refresh();
        QCOMPARE(cache->rowCount(), 130);
        QCOMPARE(cache->rowId(0), 1);
        QVERIFY(list->Filters().empty());
    }

    void flagsAndCellsAreWrittenAndShown() {
        test::insertRecord(s(), 1, 0, 1, {"a@x"});
        list->Refresh();
        list->SetRowFlag(0, db::RowFlag::Sent, 2);
        list->SetRowFlag(0, db::RowFlag::Selected, 0);
        QCOMPARE(cache->sent(0), 2);
        QCOMPARE(cache->selected(0), false);
        QCOMPARE(main("select SENDED || '/' || SENDING from MAILS"), QStringList{"2/0"});
        QCOMPARE(list->SetCell(0, 1, QStringLiteral("Yamada")), db::CellWrite::Written);
        QCOMPARE(main("select NAME from MAILS"), QStringList{"Yamada"});
        QCOMPARE(owner.rows, (QList<int>{0, 0, 0}));
        QCOMPARE(list->SetCell(0, db::kFieldCount, "x"), db::CellWrite::NotWritten);
        QCOMPARE(list->SetCell(1, 0, "x"), db::CellWrite::NotWritten);  // no such row
        QVERIFY(s().IsModified());
    }

    void quotesSurviveEveryOperation() {
        const QString obrien = QStringLiteral("O'Brien");
        test::insertRecord(s(), 1, 0, 1, {"a@x", "plain"});
        list->Refresh();
        QCOMPARE(list->SetCell(0, 0, obrien), db::CellWrite::Written);
        QCOMPARE(main("select ADDRESS from MAILS"), QStringList{obrien});
        list->FetchAll();
        list->SwapFields(0, 1);
        QCOMPARE(main("select ADDRESS || '|' || NAME from MAILS"), QStringList{"plain|O'Brien"});
        QCOMPARE(cache->text(0, 1), obrien);
        list->Refresh();
        list->FetchAll();
        QCOMPARE(cache->text(0, 1), obrien);

        const int id = s().Groups().AddGroup(QStringLiteral("Mc'Donald's"));
        QCOMPARE(s().Groups().FindGroupByName(QStringLiteral("Mc'Donald's")), id);
        QCOMPARE(s().Groups().FindGroupByName(QStringLiteral("mc'donald's")),
                 -1);  // exact comparison
        s().Groups().RenameGroup(id, obrien);
        QCOMPARE(s().Groups().FindGroupByName(obrien), id);
        QCOMPARE(s().Groups().ListGroups().front().name, obrien);
        // Nothing but the literal reaches the statement.
        QCOMPARE(s().Groups().FindGroupByName(QStringLiteral("x' or '1'='1")), -1);
    }

    void setCellHoldsExactlyTheFieldLengthInBytes() {
        // A field length of 50 bytes: Japanese text takes three bytes a character in the file.
        w = std::make_unique<DbWorld>();
        QVERIFY(w->createAndOpen(50));
        makeList();
        QCOMPARE(s().StringFieldLength(), 50);
        test::insertRecord(s(), 1, 0, 1, {"a@x", "before"});
        list->Refresh();
        const QString fits = QString(16, QChar(0x5C71)) + QStringLiteral("ab");  // 48 + 2 bytes
        QCOMPARE(fits.toUtf8().size(), 50);
        QCOMPARE(list->SetCell(0, 1, fits), db::CellWrite::Written);
        QCOMPARE(main("select NAME from MAILS"), QStringList{fits});

        const QString over = fits + QStringLiteral("c");
        QCOMPARE(list->SetCell(0, 1, over), db::CellWrite::TooLong);
        QCOMPARE(main("select NAME from MAILS"), QStringList{fits});
        QCOMPARE(cache->text(0, 1), fits);
        // One character that is too wide by a byte.
        QCOMPARE(list->SetCell(0, 1, QString(16, QChar(0x5C71)) + QChar(0x3042)),
                 db::CellWrite::TooLong);
        QVERIFY(w->ui.asked().isEmpty());  // the caller tells
        QVERIFY(s().Save(db::SaveMode::Retaining));
        QCOMPARE(queryColumn(s(), "select NAME from MAILS"), QStringList{fits});
    }

    void deleteRecordInAndOutOfAGroup() {
        for (int id = 1; id <= 3; ++id)
            test::insertRecord(s(), id, 0, 1, {QStringLiteral("m%1@x").arg(id)});
        const int g = s().Groups().AddGroup("Friends");
        s().Groups().AddToGroup(g, 1);
        s().Groups().AddToGroup(g, 2);
        s().Records().DeleteRecord(g, 1);  // leaves the group, stays a record
        QCOMPARE(main("select count(*) from MAILS"), QStringList{"3"});
        QCOMPARE(main("select IDMAIL from GROUP_MAIL"), QStringList{"2"});
        s().Records().DeleteRecord(0, 2);  // the record goes, and its membership with it
        s().Records().DeleteRecord(-1, 3);
        QCOMPARE(main("select ID from MAILS"), QStringList{"1"});
        QVERIFY(main("select IDMAIL from GROUP_MAIL").isEmpty());
    }

    void addToGroupTwiceChangesNothing() {
        test::insertRecord(s(), 1, 0, 1, {"a@x"});
        const int g = s().Groups().AddGroup("G");
        s().Groups().AddToGroup(g, 1);
        s().Groups().AddToGroup(g, 1);
        QCOMPARE(main("select count(*) from GROUP_MAIL"), QStringList{"1"});
        s().Groups().DeleteGroup(g);
        QCOMPARE(main("select count(*) from GROUP_MAIL"), QStringList{"0"});
        QCOMPARE(s().Groups().ListGroups().size(), size_t(0));
    }

    void flagUpdatesReachTheirRows() {
        for (int id = 1; id <= 4; ++id)
            test::insertRecord(s(), id, 0, 0, {QStringLiteral("m%1@x").arg(id)});
        QCOMPARE(s().Groups().AddGroup("one"), 1);
        QCOMPARE(s().Groups().AddGroup("two"), 2);
        QCOMPARE(s().Groups().AddGroup("three"), 3);
        s().Groups().AddToGroup(3, 2);
        s().Groups().AddToGroup(3, 4);
        list->SetGroup(3);
        list->Refresh();
        QCOMPARE(cache->rowCount(), 2);
        // Over the view: the group's records only.
        list->UpdateFlags({db::RowFlag::Selected, 1, db::FlagRows::All, -1});
        QCOMPARE(main("select ID from MAILS where SENDING = 1 order by ID"),
                 (QStringList{"2", "4"}));
        // Over the whole table: one record, then the rows by their outcome.
        s().UpdateFlags({db::RowFlag::Sent, 1, db::FlagRows::Record, 4});
        s().UpdateFlags({db::RowFlag::Selected, 0, db::FlagRows::Sent, -1});
        s().UpdateFlags({db::RowFlag::Sent, 2, db::FlagRows::NotSent, -1});
        QCOMPARE(main("select ID || ':' || SENDED || SENDING from MAILS order by ID"),
                 (QStringList{"1:20", "2:21", "3:20", "4:10"}));
        list->SetGroup(0);
        QCOMPARE(list->Group(), -1);
        s().SelectAllAfterOpen();
        QCOMPARE(queryColumn(s(), "select count(*) from MAILS where SENDING = 1"),
                 QStringList{"4"});
    }

    void captionsLoadWithDefaultsAndSaveInListOrder() {
        {
            // Written elsewhere and committed (a save would write the loaded captions back).
            IBPP::Transaction tr = IBPP::TransactionFactory(db::StoreHandles::Database(s()));
            tr->Start();
            IBPP::Statement st = IBPP::StatementFactory(db::StoreHandles::Database(s()), tr);
            st->ExecuteImmediate("update MAIL_FIELDS set CAPTION = 'City' where FIELD = 'FIELD3'");
            st->ExecuteImmediate("update MAIL_FIELDS set CAPTION = '' where FIELD = 'NAME'");
            // Rows out of their usual order: the list follows ORDER_F.
            st->ExecuteImmediate("update MAIL_FIELDS set ORDER_F = 0 where FIELD = 'FIELD20'");
            tr->Commit();
        }
        s().FieldCaptions().LoadCaptions();
        QCOMPARE(s().FieldCaptions().CaptionsList().at(0), QStringLiteral("FIELD20=Mail Address"));
        QCOMPARE(s().FieldCaptions().CaptionsList().at(1), QStringLiteral("ADDRESS=Name"));
        QCOMPARE(s().FieldCaptions().CaptionsList().at(3), QStringLiteral("FIELD3=City"));
        QCOMPARE(s().FieldCaptions().Captions()[3], QStringLiteral("City"));
        s().FieldCaptions().SetCaption(1, QStringLiteral("E-mail"));
        s().FieldCaptions().SaveCaptions();
        QVERIFY(s().IsModified());
        QCOMPARE(
            main("select ORDER_F || ':' || FIELD || ':' || coalesce(CAPTION, '-') from MAIL_FIELDS "
                 "where FIELD in ('FIELD20', 'ADDRESS', 'FIELD3') order by ORDER_F"),
            (QStringList{"1:FIELD20:Mail Address", "2:ADDRESS:E-mail", "4:FIELD3:City"}));
        QCOMPARE(main("select count(*) from MAIL_FIELDS where ORDER_F between 1 and 20"),
                 QStringList{"20"});
        QCOMPARE(db::DefaultCaption(0), QStringLiteral("Mail Address"));
        QCOMPARE(db::DefaultCaption(19), QStringLiteral("field20"));
    }

    void captionRowsAreUpdatedOrReplaced() {
        IBPP::Transaction tr = IBPP::TransactionFactory(db::StoreHandles::Database(s()));
        tr->Start();
        QVERIFY(db::UpdateCaption(db::StoreHandles::Database(s()), tr,
                                  "UPDATE MAIL_FIELDS SET CAPTION = ? WHERE FIELD = ?", "field3",
                                  QStringLiteral("Stadt"), s().Diagnostics()));
        // A database without the FIELD5 row: the update changes nothing, the replacement makes
        // the row in its field's place.
        IBPP::StatementFactory(db::StoreHandles::Database(s()), tr)
            ->ExecuteImmediate("delete from MAIL_FIELDS where FIELD = 'FIELD5'");
        QVERIFY(!db::UpdateCaption(db::StoreHandles::Database(s()), tr,
                                   "UPDATE MAIL_FIELDS SET CAPTION=? WHERE FIELD=?", "FIELD5",
                                   QStringLiteral("Tel"), s().Diagnostics()));
        db::ReplaceCaptionRow(db::StoreHandles::Database(s()), tr, db::kInsertCaptionRow, "FIELD5",
                              QStringLiteral("Tel"), s().Diagnostics());
        // A caption the row cannot hold leaves the old row in place.
        db::ReplaceCaptionRow(db::StoreHandles::Database(s()), tr, db::kInsertCaptionRow, "FIELD6",
                              QString(101, 'x'), s().Diagnostics());
        tr->Commit();
        s().FieldCaptions().LoadCaptions();
        QCOMPARE(s().FieldCaptions().Captions()[2], QStringLiteral("Stadt"));
        QCOMPARE(s().FieldCaptions().Captions()[4], QStringLiteral("Tel"));
        QCOMPARE(s().FieldCaptions().Captions()[5], QStringLiteral("field6"));
        QCOMPARE(s().FieldCaptions().CaptionsList().at(4), QStringLiteral("FIELD5=Tel"));
        QCOMPARE(queryColumn(s(), "select count(*) from MAIL_FIELDS"), QStringList{"20"});
    }

    void theSendSelectionByMode() {
        test::insertRecord(s(), 1, 0, 1, fields({"a@x", "A"}));
        test::insertRecord(s(), 2, 1, 1, fields({"b@x", "B"}));
        test::insertRecord(s(), 3, 0, 0, fields({nullptr, "no address"}));
        test::insertRecord(s(), 4, 2, 0, fields({"d@x", "D", "x3"}));
        test::insertRecord(s(), 5, 1, 0, fields({"e@x"}));
        QVERIFY(s().Save(db::SaveMode::Retaining));

        auto ids = [](const db::SendSelection& sel) {
            QList<int> out(sel.ids.begin(), sel.ids.end());
            std::sort(out.begin(), out.end());
            return out;
        };
        const db::SendSelection all = s().SendRun().LoadSendSelection(db::SendSelectionMode::All);
        QCOMPARE(all.count, 4);  // the record without an address is not a recipient
        QCOMPARE(ids(all), (QList<int>{1, 2, 4, 5}));
        for (const auto& f : all.fields)
            QCOMPARE(int(f.size()), 4);
        const auto at = std::find(all.ids.begin(), all.ids.end(), 4) - all.ids.begin();
        QCOMPARE(all.fields[0][at], QStringLiteral("d@x"));
        QCOMPARE(all.fields[2][at], QStringLiteral("x3"));
        QCOMPARE(all.fields[19][at], QString());
        QCOMPARE(ids(s().SendRun().LoadSendSelection(db::SendSelectionMode::Marked)),
                 (QList<int>{1, 2}));
        QCOMPARE(ids(s().SendRun().LoadSendSelection(db::SendSelectionMode::NotSent)),
                 (QList<int>{1}));
        s().UpdateFlags({db::RowFlag::Sent, 1, db::FlagRows::All, -1});
        QVERIFY(s().Save(db::SaveMode::Retaining));
        QCOMPARE(s().SendRun().LoadSendSelection(db::SendSelectionMode::NotSent).count, 0);
    }

    void deleteAllRecordsSaves() {
        test::insertRecord(s(), 1, 0, 1, {"a@x"});
        s().Records().DeleteAllRecords();
        QVERIFY(!s().IsModified());
        QCOMPARE(queryColumn(s(), "select count(*) from MAILS"), QStringList{"0"});
    }

    void aDatabaseMadeElsewhereWithTooManyRecords() {
        pw::test::execute(
            s(),
            "execute block as declare i integer = 1; begin while (i <= 20005) do begin "
            "insert into MAILS (ID, SENDED, SENDING, ADDRESS) values (:i, 0, 1, 'r' || :i || "
            "'@x'); "
            "i = i + 1; end end");
        list->Refresh();  // the IDs tell it at once
        QCOMPARE(cache->rowCount(), db::kDefaultRecordLimit);
        QVERIFY(cache->truncated());
        QVERIFY(w->ui.asked().isEmpty());  // the window tells
        QCOMPARE(cache->rowId(19999), 20000);
        QCOMPARE(cache->text(19999, 0), QStringLiteral("r20000@x"));
        // A raised limit lists them all.
        s().SetRecordLimit(20005);
        list->Refresh();
        list->FetchAll();
        QCOMPARE(cache->rowCount(), 20005);
        QVERIFY(!cache->truncated());
    }

    // What the other subsystems read and load through the store, and that a failure reaches
    // them as the store's error with the engine's text, never as an engine exception.
    void theSurfaceReadsLoadsAndFailsAsStoreErrors_data() {
        QTest::addColumn<QString>("step");
        QTest::addColumn<QString>("expected");  // what was read; "!" for a StoreError
        QTest::newRow("walk, main transaction") << "walk main"
                                                << "3:0:a@x 1:1:<null>";
        QTest::newRow("walk, committed") << "walk committed"
                                         << "3:0:a@x";
        QTest::newRow("walk, by ID") << "walk id"
                                     << "1:1:<null> 3:0:a@x";
        QTest::newRow("distinct values") << "distinct"
                                         << "a@x";
        QTest::newRow("highest ID") << "highest"
                                    << "3";
        QTest::newRow("import committed") << "import"
                                          << "3:0:a@x 4:0:b@x";
        QTest::newRow("import of a used ID") << "import used"
                                             << "!";
        QTest::newRow("bad statement") << "bad statement"
                                       << "!";
        QTest::newRow("bad list") << "bad list"
                                  << "!";
        // told, not thrown: each store's to its own sink (own/other after each)
        QTest::newRow("dropped errors, a sink per store") << "two sinks"
                                                          << "1/0 1/1";
    }
    void theSurfaceReadsLoadsAndFailsAsStoreErrors() {
        QFETCH(QString, step);
        QFETCH(QString, expected);
        pw::test::insertRecord(s(), 3, 0, 1, fields({"a@x"}));
        QVERIFY(s().Save(db::SaveMode::Retaining));
        pw::test::insertRecord(s(), 1, 1, 1, {});
        QStringList got;
        const auto walk = [&](db::RecordView view, db::RecordOrder order) {
            s().Records().ForEachRecord(view, order, 0, [&](const db::StoredRecord& r) {
                const auto& a = r.fields[0];
                got << QStringLiteral("%1:%2:%3")
                           .arg(r.id)
                           .arg(r.sent)
                           .arg(a ? QString::fromUtf8(*a) : QStringLiteral("<null>"));
                return true;
            });
        };
        try {
            if (step == "walk main")
                walk(db::RecordView::MainTransaction, db::RecordOrder::Stored);
            else if (step == "walk committed")
                walk(db::RecordView::Committed, db::RecordOrder::Stored);
            else if (step == "walk id")
                walk(db::RecordView::MainTransaction, db::RecordOrder::ById);
            else if (step == "distinct")
                got = s().Records().DistinctFieldValues(0);
            else if (step == "highest")
                got << QString::number(s().Records().HighestRecordId());
            else if (step == "bad statement")
                pw::test::execute(s(), "update NO_SUCH_TABLE set X = 1");
            else if (step == "bad list") {
                list->AddFilter({0, QString(70000, 'x'), db::FilterKind::Include});
                list->Refresh();
            } else if (step == "two sinks") {
                db::TDbData other(w->folders);
                QVERIFY(other.CreateDatabase(other.MakeWorkingCopyPath()) ==
                            db::CreateResult::Created &&
                        other.Open());
                QStringList own, others;
                s().SetDiagnostics([&](const QString& text) { own << text; });
                other.SetDiagnostics([&](const QString& text) { others << text; });
                s().Groups().AddToGroup(999, 3);  // no such group
                got << QStringLiteral("%1/%2").arg(own.size()).arg(others.size());
                other.Groups().AddToGroup(999, 3);
                got << QStringLiteral("%1/%2").arg(own.size()).arg(others.size());
                s().SetDiagnostics({});
                QVERIFY2(others.value(0).startsWith("Adding a record to a group failed: "),
                         qPrintable(others.value(0)));
            } else {
                const auto load = s().Records().BeginImport(1, 1);
                std::array<std::string, db::kFieldCount> values{"b@x"};
                load->add(step == "import used" ? 3 : 4, values);
                load->commit();
                walk(db::RecordView::Committed, db::RecordOrder::ById);
            }
        } catch (const db::StoreError& e) {
            QVERIFY(!dynamic_cast<const IBPP::Exception*>(&e));
            QVERIFY(!QByteArray(e.what()).isEmpty());
            got << QStringLiteral("!");
        }
        QCOMPARE(got.join(' '), expected);
    }
};

QTEST_GUILESS_MAIN(TestDbStore)
#include "test_db_store.moc"
