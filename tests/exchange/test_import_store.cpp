// Storing imports and exporting the database, on the real embedded engine.
#include <QTest>

#include "DbFixture.h"
#include "exchange/Export.h"
#include "exchange/ImportFlow.h"
#include "exchange/ImportStore.h"
#include "resources/Strings.h"

using namespace pw;
using namespace pw::exchange;
using pw::test::queryColumn;
using pw::test::Seen;

namespace {

QStringList captionsOf(db::TDbData& store) {
    QStringList out;
    for (const QString& c : store.FieldCaptions().Captions())
        out.append(c);
    return out;
}

struct RelabelCount : db::IStoreObserver {
    int told = 0;
    void captionsReloaded() override { ++told; }
};

}  // namespace

class TestImportStore : public QObject {
    Q_OBJECT
    std::unique_ptr<test::DbWorld> w;

    db::TDbData& s() { return *w->store; }
    QStringList committed(const QString& sql) { return queryColumn(s(), sql, Seen::Committed); }

    // Reads text through the real reader into a session, checks the given columns and
    // prepares the preview against the open store.
    ImportSession prepared(const QByteArray& text, QList<int> checked, bool firstRecord,
                           PreviewResult* preview = nullptr) {
        ImportSession session;
        SteppedProgress progress;
        (void)readDelimitedBytes(text, Delimiter::Comma, session.table, progress,
                                 LegacyCodePage::Windows1252);
        session.resetSelection();
        for (int c : checked)
            session.setChecked(c, true);
        session.setFirstRecordOption(firstRecord);
        const PreviewResult p =
            session.preparePreview(captionsOf(s()), s().StringFieldLength(),
                                   s().Records().CountRecords(), w->ui, progress);
        if (preview)
            *preview = p;
        return session;
    }

    StoreResult store(const ImportSession& session, AutoGrouping grouping = {}) {
        SteppedProgress progress;
        return storeImport(s(), session, grouping, w->ui, progress);
    }

private slots:
    void initTestCase() { setLanguage(Language::English); }
    void init() {
        w = std::make_unique<test::DbWorld>();
        QVERIFY(w->createAndOpen());
        s().FieldCaptions().LoadCaptions();
    }
    void cleanup() { w.reset(); }

    void rowsAreCommittedWithNewIdsAndCaptions() {
        test::insertRecord(s(), 7, 1, 0, {"old@x", "Old"});
        const ImportSession session = prepared(
            "E-mail,Full name,Town,Note\r\n"
            "a@x,\"Smith, \"\"J\"\"\",Bonn,n1\r\n\r\n"
            "b@x,O'Brien,Köln,n2\r\n",
            {0, 1, 3}, true);
        const StoreResult r = store(session);
        QVERIFY(!r.failed);
        QCOMPARE(r.stored, 2);
        // Committed: another transaction sees them. The heading row is no record.
        QCOMPARE(committed("select ID from MAILS where ID > 7 order by ID"),
                 (QStringList{"8", "9"}));
        QCOMPARE(committed("select ADDRESS from MAILS where ID > 7 order by ID"),
                 (QStringList{"a@x", "b@x"}));
        QCOMPARE(committed("select NAME from MAILS where ID = 8"), QStringList{"Smith, \"J\""});
        QCOMPARE(committed("select NAME from MAILS where ID = 9"), QStringList{"O'Brien"});
        QCOMPARE(committed("select SENDED || '/' || SENDING from MAILS where ID = 8"),
                 QStringList{"0/1"});
        // The unchecked column is an empty text, not NULL, and all 20 fields are written.
        QCOMPARE(committed("select '[' || FIELD3 || ']' from MAILS where ID = 9"),
                 QStringList{"[]"});
        QCOMPARE(committed("select '[' || FIELD20 || ']' from MAILS where ID = 9"),
                 QStringList{"[]"});
        QCOMPARE(committed("select FIELD4 from MAILS where ID = 9"), QStringList{"n2"});
        // The headings of row 0 became the captions of ADDRESS and NAME.
        QVERIFY(r.captionsChanged);
        QCOMPARE(s().FieldCaptions().Captions()[0], QStringLiteral("E-mail"));
        QCOMPARE(s().FieldCaptions().Captions()[1], QStringLiteral("Full name"));
        QCOMPARE(s().FieldCaptions().Captions()[2], QStringLiteral("Town"));
        QCOMPARE(committed("select CAPTION from MAIL_FIELDS where FIELD = 'NAME'"),
                 QStringList{"Full name"});
        QVERIFY(s().IsModified());
    }

    // What lands in the mail-address field: captions move with their columns, a column of
    // addresses is offered for the field before OK, blanks around an address are dropped.
    void importColumnChecks_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("answer");       // to the offer; -1: none is made
        QTest::addColumn<QString>("address");  // stored in record 1; empty: nothing stored
        QTest::addColumn<QString>("caption");  // of the mail-address field afterwards
        const QByteArray three = "Name,Town,Mail\nTaro,Bonn,t@x.jp\nJiro,Kyoto,\n";
        QTest::newRow("caption moves with its column (moved left)")
            << QByteArray("Name,Mail\nTaro,t@x.jp\n") << -1 << "t@x.jp"
            << "Mail";
        QTest::newRow("offer taken") << three << int(Answer::Yes) << "t@x.jp"
                                     << "Mail";
        QTest::newRow("offer declined") << three << int(Answer::No) << "Taro"
                                        << "Name";
        QTest::newRow("offer cancelled") << three << int(Answer::Cancel) << ""
                                         << "Mail Address";
        QTest::newRow("blanks around the address")
            << QByteArray("Mail,Name\n  t@x.jp \t,Taro\n") << -1 << "t@x.jp"
            << "Mail";
        QTest::newRow("ideographic and no-break blanks around the address")
            << QStringLiteral("Mail,Name\n\u3000t@x.jp\u00A0,Taro\n").toUtf8() << -1 << "t@x.jp"
            << "Mail";
        QTest::newRow("blanks inside the address stay")
            << QByteArray("Mail,Name\nt @x.jp,Taro\n") << -1 << "t @x.jp"
            << "Mail";
    }
    void importColumnChecks() {
        QFETCH(QByteArray, text);
        QFETCH(int, answer);
        QFETCH(QString, address);
        QFETCH(QString, caption);
        RelabelCount fieldWindow;
        s().AddObserver(&fieldWindow);
        ImportFlow flow(s(), w->ui, {});
        flow.session() = prepared(text, {0, 1, 2}, true);
        if (QTest::currentDataTag() == QByteArray("caption moves with its column (moved left)"))
            QCOMPARE(flow.session().moveColumn(1, MoveDirection::Left), 0);
        w->ui.clear();
        w->ui.script({Answer(answer)});
        const bool ok = flow.confirmAddressColumn();
        QCOMPARE(w->ui.asked().size(), answer >= 0 ? 1 : 0);
        if (ok)
            QVERIFY(!flow.storeRows(false).failed);
        s().RemoveObserver(&fieldWindow);
        QCOMPARE(committed("select ADDRESS from MAILS order by ID").value(0), address);
        QCOMPARE(s().FieldCaptions().Captions()[0], caption);
        QCOMPARE(fieldWindow.told, ok ? 1 : 0);
    }

    void aMissingCaptionRowIsReplaced() {
        pw::test::execute(s(), "delete from MAIL_FIELDS where FIELD = 'NAME'");
        QVERIFY(s().Save(db::SaveMode::Retaining));
        const ImportSession session = prepared("Mail,Who\r\na@x,A\r\n", {0, 1}, true);
        (void)store(session);
        QCOMPARE(committed("select CAPTION from MAIL_FIELDS where FIELD = 'NAME'"),
                 QStringList{"Who"});
    }

    void withoutTheOptionCaptionsStay() {
        const ImportSession session = prepared("Mail,Who\r\na@x,A\r\n", {0, 1}, false);
        const StoreResult r = store(session);
        QCOMPARE(r.stored, 2);
        QVERIFY(!r.captionsChanged);
        QCOMPARE(s().FieldCaptions().Captions()[0], QStringLiteral("Mail Address"));
    }

    void limitTenRecordsShortStoresTen() {
        pw::test::execute(
            s(),
            "execute block as declare i int = 1; begin while (i <= 19990) do begin "
            "insert into MAILS (ID, SENDED, SENDING, ADDRESS) values (:i, 0, 1, 'x'); "
            "i = i + 1; end end");
        QByteArray text;
        for (int i = 0; i < 15; ++i)
            text += "new" + QByteArray::number(i) + "@x\r\n";
        PreviewResult p;
        const ImportSession session = prepared(text, {0}, false, &p);
        QVERIFY(p.limitReached);
        QCOMPARE(p.dataRows, 10);
        QVERIFY(w->ui.askedTexts().contains(
            str(ids::kImportLimitReached).arg(QString::number(kRecordLimit), "10")));
        QCOMPARE(store(session).stored, 10);
        QCOMPARE(s().Records().CountRecords(), kRecordLimit);
        QCOMPARE(committed("select max(ADDRESS) from MAILS where ID > 19990"),
                 QStringList{"new9@x"});
    }

    void truncatedValuesFitTheFieldInBytes() {
        w = std::make_unique<test::DbWorld>();
        QVERIFY(w->createAndOpen(50));
        s().FieldCaptions().LoadCaptions();
        QCOMPARE(s().StringFieldLength(), 50);
        const QString longName = QString(30, QChar(u'山'));  // 90 bytes in UTF-8
        const QByteArray text = ("a@x," + longName + "," + QString(60, 'z') + "\r\n").toUtf8();
        const ImportSession session = prepared(text, {0, 1, 2}, false);
        QCOMPARE(w->ui.asked().size(), 1);
        QCOMPARE(w->ui.asked()[0].text, str(ids::kExcessTextTrimmed) + "NAME\nFIELD3\n");
        QVERIFY(!store(session).failed);
        // 16 whole characters (48 bytes): nothing cut inside a character.
        QCOMPARE(committed("select NAME from MAILS"), QStringList{QString(16, QChar(u'山'))});
        QCOMPARE(committed("select FIELD3 from MAILS"), QStringList{QString(50, 'z')});
    }

    void apostropheValueFindsItsGroup() {
        const int group = s().Groups().AddGroup("O'Brien's");
        const int other = s().Groups().AddGroup("Shop");
        QVERIFY(group > 0);
        QVERIFY(other > 0);
        const ImportSession session =
            prepared("a@x,A,O'Brien's\r\nb@x,B,Shop\r\nc@x,C,Nobody\r\nd@x,D,O'Brien's\r\n",
                     {0, 1, 2}, false);
        const StoreResult r = store(session, {true, 2});
        QCOMPARE(r.stored, 4);
        QCOMPARE(r.memberships, 3);
        QCOMPARE(
            queryColumn(s(),
                        QStringLiteral("select m.ADDRESS from GROUP_MAIL g join MAILS m on m.ID = "
                                       "g.IDMAIL where g.IDGROUP = %1 order by m.ID")
                            .arg(group),
                        Seen::InMainTransaction),
            (QStringList{"a@x", "d@x"}));
    }

    // Memberships the database refuses leave the records imported and are told once.
    void refusedMembershipsAreTold() {
        const int group = s().Groups().AddGroup("G");
        pw::test::execute(
            s(),
            QStringLiteral("alter table GROUP_MAIL add constraint CHK_NOT_G check (IDGROUP <> %1)")
                .arg(group));
        QVERIFY(s().Save(db::SaveMode::Retaining));
        const ImportSession session = prepared("a@x,A,G\r\nb@x,B,G\r\n", {0, 1, 2}, false);
        w->ui.clear();
        const StoreResult r = store(session, {true, 2});
        QCOMPARE(r.stored, 2);
        QCOMPARE(r.memberships, 0);
        QCOMPARE(w->ui.askedTexts().size(), 1);
        QVERIFY2(w->ui.askedTexts()[0].startsWith("The records were imported, but 2 of them"),
                 qPrintable(w->ui.askedTexts()[0]));
    }

    void aDatabaseErrorRollsEverythingBack() {
        // A real constraint makes the third row fail after two were inserted.
        pw::test::execute(s(),
                          "alter table MAILS add constraint CHK_NO_BOOM check (ADDRESS <> 'boom')");
        QVERIFY(s().Save(db::SaveMode::Retaining));
        const int group = s().Groups().AddGroup("G");
        const ImportSession session =
            prepared("Mail,Who,Grp\r\na@x,A,G\r\nb@x,B,G\r\nboom,C,G\r\n", {0, 1, 2}, true);
        w->ui.clear();
        const StoreResult r = store(session, {true, 2});
        QVERIFY(r.failed);
        QCOMPARE(r.stored, 0);
        QCOMPARE(r.memberships, 0);
        QCOMPARE(committed("select count(*) from MAILS"), QStringList{"0"});
        QCOMPARE(
            queryColumn(
                s(),
                QStringLiteral("select count(*) from GROUP_MAIL where IDGROUP = %1").arg(group),
                Seen::InMainTransaction),
            QStringList{"0"});
        QVERIFY(w->ui.askedTexts().contains(str(ids::kImportStoreFailed)));
        // The caption step still runs.
        QCOMPARE(s().FieldCaptions().Captions()[0], QStringLiteral("Mail"));
    }

    void noDatabaseStoresNothing() {
        db::TDbData closed(w->folders);
        ImportSession session;
        session.table.rows = {{"a@x"}};
        SteppedProgress progress;
        const StoreResult r = storeImport(closed, session, {}, w->ui, progress);
        QCOMPARE(r.stored, 0);
        QVERIFY(!r.failed);
    }

    void exportTwoRecordsAsTab() {
        test::insertRecord(s(), 1, 0, 1, {"a@x", "A \"q\""});
        test::insertRecord(s(), 2, 1, 0, {"b@x"});  // fields 2..20 NULL
        const QString path = w->env.root() + "out.TXT";
        QVERIFY(test::writeFile(path, QByteArray(10000, '#')));
        QCOMPARE(exportDatabase(databaseExportTarget(path), captionsOf(s()), true, &s()),
                 ExportOutcome::Written);
        const QByteArray bytes = test::readFile(path);
        QVERIFY(!bytes.contains('#'));
        QVERIFY(bytes.endsWith("\"\"\n"));
        const QList<QByteArray> lines = bytes.split('\n');
        QCOMPARE(lines.size(), 4);  // three lines and the empty rest after the last LF
        QVERIFY(lines[3].isEmpty());
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(lines[i].count('\t'), 19);
            QVERIFY(!lines[i].contains('\r'));
        }
        QVERIFY(lines[0].startsWith("\"Mail Address\"\t\"Name\"\t\"field3\""));
        QVERIFY(lines[1].startsWith("\"a@x\"\t\"A \"q\"\"\t\"\""));
        QCOMPARE(lines[2], QByteArray("\"b@x\"") + QByteArray("\t\"\"").repeated(19));
    }

    void exportDatGivesCsv() {
        test::insertRecord(s(), 1, 0, 1, {"a@x", "A"});
        const QString chosen = w->env.root() + "out.dat";
        QCOMPARE(exportDatabaseCommand(chosen, captionsOf(s()), false, &s(), w->ui),
                 ExportOutcome::Written);
        QVERIFY(!QFile::exists(chosen));
        const QByteArray bytes = test::readFile(w->env.root() + "out.csv");
        QVERIFY(bytes.startsWith("\"a@x\",\"A\",\"\","));
        QCOMPARE(bytes.count('\n'), 1);
    }

    void exportThenImportGivesTheSameRecords() {
        const QStringList a{"a@x", "Ann", "Bonn", "", "山田"};
        const QStringList b{"b@x", "Bob", "", "note 2", "x y"};
        test::insertRecord(s(), 1, 0, 1, a);
        test::insertRecord(s(), 2, 0, 1, b);
        QVERIFY(s().Save(db::SaveMode::Retaining));
        const QString path = w->env.root() + "round.csv";
        QCOMPARE(exportDatabase(databaseExportTarget(path), captionsOf(s()), true, &s()),
                 ExportOutcome::Written);
        s().Records().DeleteAllRecords();
        ImportSession session;
        SteppedProgress progress;
        QCOMPARE(readDelimitedFile(path, Delimiter::Comma, session.table, progress,
                                   LegacyCodePage::Windows1252)
                     .rowCount,
                 3);
        session.resetSelection();
        session.selectAll();
        session.setFirstRecordOption(true);
        (void)session.preparePreview(captionsOf(s()), s().StringFieldLength(),
                                     s().Records().CountRecords(), w->ui, progress);
        QCOMPARE(store(session).stored, 2);
        for (int k = 0; k < 5; ++k) {
            const QString column = db::ColumnNames()[k];
            QCOMPARE(
                committed(QStringLiteral("select coalesce(%1, '<null>') from MAILS order by ID")
                              .arg(column)),
                (QStringList{a[k], b[k]}));
        }
        QCOMPARE(s().FieldCaptions().Captions()[0], QStringLiteral("Mail Address"));
        QVERIFY(!store(session).captionsChanged);
    }
};

QTEST_GUILESS_MAIN(TestImportStore)
#include "test_import_store.moc"
