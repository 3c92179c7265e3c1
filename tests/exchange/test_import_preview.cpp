// Choosing columns, preparing the preview and moving columns, on real import tables.
#include <QTest>

#include "ScriptedUserInteraction.h"
#include "exchange/ImportSession.h"
#include "exchange/TextReader.h"
#include "resources/Strings.h"

using namespace pw;
using namespace pw::exchange;

namespace {

QStringList defaultCaptions() {
    QStringList c{"Mail Address", "Name"};
    for (int k = 3; k <= 20; ++k)
        c.append(QStringLiteral("field%1").arg(k));
    return c;
}

ImportSession sessionWith(const QList<QStringList>& rows) {
    ImportSession s;
    s.table.rows = rows;
    s.resetSelection();
    return s;
}

QList<QStringList> numberedRows(int count, int fields = 3) {
    QList<QStringList> rows;
    for (int i = 0; i < count; ++i) {
        QStringList row;
        for (int f = 0; f < fields; ++f)
            row.append(QStringLiteral("r%1c%2").arg(i).arg(f));
        rows.append(row);
    }
    return rows;
}

}  // namespace

class TestImportPreview : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { setLanguage(Language::English); }

    void selectionVerdicts() {
        ImportSession s = sessionWith({QStringList(25, "x")});
        QCOMPARE(s.itemCount(), 25);
        test::ScriptedUserInteraction ui;
        QCOMPARE(s.acceptSelection(ui), SelectionVerdict::NoneChecked);
        QCOMPARE(ui.asked().back().text, QStringLiteral("Please choose the items to import."));
        s.selectAll();
        QCOMPARE(s.acceptSelection(ui), SelectionVerdict::TooMany);
        QCOMPARE(ui.asked().back().caption, QStringLiteral("Select Data"));
        s.setChecked(0, false);
        s.setChecked(1, false);
        s.setChecked(2, false);
        s.setChecked(3, false);
        s.setChecked(4, false);
        QCOMPARE(s.checkedCount(), 20);
        QCOMPARE(s.acceptSelection(ui), SelectionVerdict::Accepted);
        s.selectNone();
        QCOMPARE(s.checkedCount(), 0);
    }

    void uncheckedColumnsBecomeEmptyTexts() {
        ImportSession s = sessionWith(numberedRows(3, 5));
        s.setChecked(3, true);
        test::ScriptedUserInteraction ui;
        SteppedProgress progress;
        const PreviewResult p = s.preparePreview(defaultCaptions(), 100, 0, ui, progress);
        QCOMPARE(p.dataRows, 3);
        QCOMPARE(p.headings, defaultCaptions());
        for (const QStringList& row : s.table.rows) {
            QCOMPARE(row.size(), 20);
            for (int j = 0; j < 20; ++j) {
                if (j == 3) {
                    QVERIFY(row[j].startsWith('r'));
                } else {
                    QVERIFY(row[j].isEmpty());
                    QVERIFY(!row[j].isNull() || row[j].isEmpty());
                }
            }
        }
        QVERIFY(ui.asked().isEmpty());
    }

    // The table keeps its rows as read and shows the preview's changes over them: read back,
    // they are what changing the rows in place gives, across its blocks of rows too.
    void rowsReadAsChangedInPlace_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("records");  // in the database before
        QTest::addColumn<bool>("firstRecord");
        QTest::addColumn<QList<int>>("moves");  // columns moved one to the right, in order
        QTest::newRow("a few rows") << 10 << 0 << false << QList<int>{};
        QTest::newRow("beyond one block, moved") << 2500 << 0 << true << QList<int>{0, 1, 5};
        QTest::newRow("cut inside the third block")
            << 3000 << kRecordLimit - 2100 << false << QList<int>{3};
    }
    void rowsReadAsChangedInPlace() {
        QFETCH(int, rows);
        QFETCH(int, records);
        QFETCH(bool, firstRecord);
        QFETCH(QList<int>, moves);
        QList<QStringList> raw;  // rows of 3 to 7 fields, some longer than 6 bytes
        for (int r = 0; r < rows; ++r) {
            QStringList row;
            for (int c = 0; c < 3 + r % 5; ++c)
                row << QString(r % 9, c % 2 ? QChar(u'é') : QChar(u'a'));
            raw << row;
        }
        ImportSession s = sessionWith(raw);
        s.setFirstRecordOption(firstRecord);
        s.setChecked(0, true);
        s.setChecked(2, true);
        test::ScriptedUserInteraction ui;
        SteppedProgress progress;
        (void)s.preparePreview(defaultCaptions(), 6, records, ui, progress);
        for (int m : moves)
            (void)s.moveColumn(m, MoveDirection::Right);

        QList<QStringList> expected = raw;
        const int first = firstRecord ? 1 : 0;
        expected.resize(std::min(rows, first + kRecordLimit - records));
        for (int r = first; r < expected.size(); ++r) {
            QStringList& row = expected[r];
            while (row.size() < kFieldCount)
                row << QString();
            for (int j = 0; j < row.size(); ++j)
                row[j] = j == 0 || j == 2 ? truncateToFieldLength(row[j], 6) : QString();
        }
        for (int m : moves) {
            for (QStringList& row : expected) {
                while (row.size() <= m + 1)
                    row << QString();
                row.swapItemsAt(m, m + 1);
            }
        }
        QCOMPARE(s.table.rowCount(), int(expected.size()));
        QVERIFY(s.table.rows == expected);
    }

    void firstRecordGivesHeadingsAndIsNoDataRow() {
        ImportSession s = sessionWith({{"E-mail", "Full name"}, {"a@x", "A"}, {"b@x", "B"}});
        s.setFirstRecordOption(true);
        s.selectAll();
        test::ScriptedUserInteraction ui;
        SteppedProgress progress;
        const PreviewResult p = s.preparePreview(defaultCaptions(), 100, 0, ui, progress);
        QCOMPARE(p.dataRows, 2);
        QCOMPARE(p.headings.size(), 20);
        QCOMPARE(p.headings[0], QStringLiteral("E-mail"));
        QCOMPARE(p.headings[1], QStringLiteral("Full name"));
        QCOMPARE(p.headings[2], QStringLiteral("field3"));
        QCOMPARE(s.cell(0, 0), QStringLiteral("a@x"));
        QCOMPARE(s.cell(1, 1), QStringLiteral("B"));
        QCOMPARE(s.cell(2, 0), QString());
    }

    void headingsFollowAWideFirstRow() {
        ImportSession s = sessionWith({QStringList(23, "h"), QStringList(23, "v")});
        s.setFirstRecordOption(true);
        s.setChecked(0, true);
        test::ScriptedUserInteraction ui;
        SteppedProgress progress;
        QCOMPARE(s.preparePreview(defaultCaptions(), 100, 0, ui, progress).headings.size(), 23);
    }

    void limitTenRecordsShort() {
        // 15 data rows into a database holding 19990: the message, and only 10 rows stay.
        ImportSession s = sessionWith(numberedRows(15));
        s.setChecked(0, true);
        test::ScriptedUserInteraction ui;
        SteppedProgress progress;
        const PreviewResult p =
            s.preparePreview(defaultCaptions(), 100, kRecordLimit - 10, ui, progress);
        QVERIFY(p.limitReached);
        QCOMPARE(p.dataRows, 10);
        QCOMPARE(s.table.rowCount(), 10);
        QCOMPARE(s.cell(9, 0), QStringLiteral("r9c0"));
        QCOMPARE(ui.asked().size(), 1);
        QCOMPARE(ui.asked()[0].caption, QStringLiteral("Import Data File"));
        QCOMPARE(ui.asked()[0].text, str(ids::kImportLimitReached).arg("20000", "10"));
    }

    void limitWithHeadingRowAndFullDatabase() {
        ImportSession s = sessionWith(numberedRows(4));
        s.setFirstRecordOption(true);
        s.setChecked(0, true);
        test::ScriptedUserInteraction ui;
        SteppedProgress progress;
        const PreviewResult p =
            s.preparePreview(defaultCaptions(), 100, kRecordLimit, ui, progress);
        QCOMPARE(p.dataRows, 0);
        QCOMPARE(s.table.rowCount(), 1);  // the heading row stays
        QVERIFY(p.limitReached);
    }

    void exactlyUpToTheLimitNeedsNoMessage() {
        ImportSession s = sessionWith(numberedRows(10));
        s.setChecked(0, true);
        test::ScriptedUserInteraction ui;
        SteppedProgress progress;
        const PreviewResult p =
            s.preparePreview(defaultCaptions(), 100, kRecordLimit - 10, ui, progress);
        QVERIFY(!p.limitReached);
        QCOMPARE(p.dataRows, 10);
        QVERIFY(ui.asked().isEmpty());
    }

    void truncationNamesTheColumns() {
        ImportSession s = sessionWith({{"short", "0123456789ABC", "x", "y", "toolongvalue"}});
        s.selectAll();
        test::ScriptedUserInteraction ui;
        SteppedProgress progress;
        const PreviewResult p = s.preparePreview(defaultCaptions(), 10, 0, ui, progress);
        QCOMPARE(s.cell(0, 1), QStringLiteral("0123456789"));
        QCOMPARE(s.cell(0, 4), QStringLiteral("toolongval"));
        QVERIFY(p.truncated[1]);
        QVERIFY(p.truncated[4]);
        QVERIFY(!p.truncated[0]);
        QCOMPARE(ui.asked().size(), 1);
        QCOMPARE(
            ui.asked()[0].text,
            QStringLiteral("The excess text will be trimmed from the field data:\nNAME\nFIELD5\n"));
        QCOMPARE(ui.asked()[0].caption, productName());
    }

    void truncation_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ascii exact") << "abcde" << 5 << "abcde";
        QTest::newRow("ascii cut") << "abcdef" << 5 << "abcde";
        QTest::newRow("japanese cut before a partial character") << "山田太郎" << 7 << "山田";
        QTest::newRow("japanese exact") << "山田太郎" << 12 << "山田太郎";
        QTest::newRow("two-byte letters") << "ééé" << 5 << "éé";
        QTest::newRow("surrogate pair kept whole")
            << QString::fromUtf8("a\xF0\x9F\x98\x80") << 4 << "a";
        QTest::newRow("zero length") << "abc" << 0 << "";
    }
    void truncation() {
        QFETCH(QString, value);
        QFETCH(int, bytes);
        QFETCH(QString, expected);
        const QString cut = truncateToFieldLength(value, bytes);
        QCOMPARE(cut, expected);
        QVERIFY(cut.toUtf8().size() <= bytes);
        // the table cuts the stored UTF-8 the same way
        QCOMPARE(utf8Text(cutUtf8(value.toUtf8(), bytes)), expected);
    }

    void noCheckedItemEmptiesTheTable() {
        ImportSession s = sessionWith(numberedRows(3));
        test::ScriptedUserInteraction ui;
        SteppedProgress progress;
        QCOMPARE(s.preparePreview(defaultCaptions(), 100, 0, ui, progress).dataRows, 0);
        QCOMPARE(s.table.rowCount(), 0);
    }

    void moveColumns() {
        ImportSession s = sessionWith({{"h0", "h1"}, {"a", "b"}});
        s.setFirstRecordOption(true);
        s.selectAll();
        test::ScriptedUserInteraction ui;
        SteppedProgress progress;
        (void)s.preparePreview(defaultCaptions(), 100, 0, ui, progress);
        QCOMPARE(s.moveColumn(0, MoveDirection::Right), 1);
        QCOMPARE(s.cell(0, 0), QStringLiteral("b"));
        QCOMPARE(s.cell(0, 1), QStringLiteral("a"));
        QCOMPARE(s.table.rows[0][1], QStringLiteral("h0"));  // the heading row moves too
        QCOMPARE(s.headings()[0], QStringLiteral("h1"));     // so do the headings
        // The first column cannot go left, the twentieth not right; nothing changes.
        QCOMPARE(s.moveColumn(0, MoveDirection::Left), 0);
        QCOMPARE(s.moveColumn(19, MoveDirection::Right), 19);
        QCOMPARE(s.cell(0, 0), QStringLiteral("b"));
        QCOMPARE(s.moveColumn(19, MoveDirection::Left), 18);
    }

    // An obvious heading row names the fields and ticks its columns; anything else starts
    // with nothing ticked and the data as data.
    void headingRowRecognised_data() {
        QTest::addColumn<QList<QStringList>>("rows");
        QTest::addColumn<QList<bool>>("ticked");  // the first record as names, the columns
        QTest::newRow("heading") << QList<QStringList>{{"Email", "氏名", ""}, {"a@x.jp", "T", "1"}}
                                 << QList<bool>{true, true, true, false};
        QTest::newRow("addresses from the start")
            << QList<QStringList>{{"a@x.jp", "T"}, {"b@x.jp", "J"}}
            << QList<bool>{false, false, false};
        QTest::newRow("no address")
            << QList<QStringList>{{"Name", "Code"}, {"T", "1"}} << QList<bool>{false, false, false};
    }
    void headingRowRecognised() {
        QFETCH(QList<QStringList>, rows);
        QFETCH(QList<bool>, ticked);
        const ImportSession s = sessionWith(rows);
        QList<bool> seen{s.firstRecordOption()};
        for (int i = 0; i < s.itemCount(); ++i)
            seen << s.isChecked(i);
        QCOMPARE(seen, ticked);
    }

    void csvFromTextThroughPreview() {
        // A whole small file: quoted field, doubled quotes (one quote each), through the split
        // and preview.
        ImportTable t;
        SteppedProgress progress;
        (void)readDelimitedBytes("mail,name\r\n\r\nx@y,\"Smith, \"\"J\"\"\"\r\n", Delimiter::Comma,
                                 t, progress, LegacyCodePage::Windows1252);
        ImportSession s;
        s.table = t;
        s.resetSelection();
        s.selectAll();
        s.setFirstRecordOption(true);
        test::ScriptedUserInteraction ui;
        (void)s.preparePreview(defaultCaptions(), 100, 0, ui, progress);
        QCOMPARE(s.dataRowCount(), 1);
        QCOMPARE(s.cell(0, 1), QStringLiteral("Smith, \"J\""));
    }
};

QTEST_GUILESS_MAIN(TestImportPreview)
#include "test_import_preview.moc"
