// The workbook reader on workbooks written by independent writers: libxlsxwriter for the
// zip format and Perl's Spreadsheet::WriteExcel for the legacy one.
#include <xlsxwriter.h>
#include <zip.h>

#include <QFile>
#include <QProcess>
#include <QTest>

#include "ScriptedUserInteraction.h"
#include "TestEnv.h"
#include "exchange/ImportStore.h"
#include "exchange/Workbook.h"
#include "exchange/WorkbookImport.h"

using namespace pw;
using namespace pw::exchange;

namespace {

// Three sheets, the second active; its data start at C5.
bool writeSampleXlsx(const QString& path) {
    lxw_workbook* wb = workbook_new(path.toLocal8Bit().constData());
    if (!wb)
        return false;
    lxw_worksheet* first = workbook_add_worksheet(wb, "First");
    lxw_worksheet* data = workbook_add_worksheet(wb, "Daten");
    lxw_worksheet* third = workbook_add_worksheet(wb, "Third");
    lxw_format* date = workbook_add_format(wb);
    format_set_num_format(date, "yyyy-mm-dd");
    worksheet_write_string(first, 0, 0, "only on the first", nullptr);
    worksheet_write_string(third, 0, 0, "third", nullptr);
    // C5..G6: number, text with leading zeros, empty, date, truth value
    worksheet_write_number(data, 4, 2, 12.7, nullptr);
    worksheet_write_string(data, 4, 3, "007", nullptr);
    lxw_datetime when = {2024, 3, 15, 0, 0, 0};
    worksheet_write_datetime(data, 4, 5, &when, date);
    worksheet_write_boolean(data, 4, 6, 1, nullptr);
    worksheet_write_number(data, 5, 2, 0.4, nullptr);
    worksheet_write_string(data, 5, 3, "山田太郎", nullptr);
    worksheet_write_number(data, 5, 4, -3, nullptr);
    worksheet_activate(data);
    return workbook_close(wb) == LXW_NO_ERROR;
}

// A workbook of one sheet whose part is given as it is, for shapes no writer makes.
bool writeOneSheetXlsx(const QString& path, const QByteArray& sheet) {
    static const char rels[] =
        "<Relationships><Relationship Id='rId1' Target='xl/workbook.xml' Type='http://"
        "schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument'/>"
        "</Relationships>";
    static const char book[] =
        "<workbook xmlns:r='http://schemas.openxmlformats.org/officeDocument/2006/"
        "relationships'><sheets><sheet name='S' sheetId='1' r:id='rId1'/></sheets></workbook>";
    static const char bookRels[] =
        "<Relationships><Relationship Id='rId1' Target='worksheets/sheet1.xml' Type='http://"
        "schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet'/>"
        "</Relationships>";
    int err = 0;
    zip_t* z = zip_open(path.toLocal8Bit().constData(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (!z)
        return false;
    const auto add = [z](const char* name, const char* data, size_t size) {
        zip_file_add(z, name, zip_source_buffer(z, data, size, 0), ZIP_FL_OVERWRITE);
    };
    add("_rels/.rels", rels, sizeof rels - 1);
    add("xl/workbook.xml", book, sizeof book - 1);
    add("xl/_rels/workbook.xml.rels", bookRels, sizeof bookRels - 1);
    add("xl/worksheets/sheet1.xml", sheet.constData(), size_t(sheet.size()));
    return zip_close(z) == 0;
}

bool runPerl(const QString& script, const QString& path) {
    QProcess p;
    p.start("/usr/bin/perl", {"-e", script, path});
    if (!p.waitForFinished(60000))
        return false;
    if (p.exitCode() != 0)
        qWarning() << p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

const char* kSampleXls = R"(
use strict; use Spreadsheet::WriteExcel;
my $wb = Spreadsheet::WriteExcel->new($ARGV[0]) or die "cannot create";
my $first = $wb->add_worksheet('First');
my $data = $wb->add_worksheet('Daten');
my $third = $wb->add_worksheet('Third');
my $date = $wb->add_format(num_format => 'yyyy-mm-dd');
$first->write_string(0, 0, 'only on the first');
$third->write_string(0, 0, 'third');
$data->write_number(4, 2, 12.7);
$data->write_string(4, 3, '007');
$data->write_date_time(4, 5, '2024-03-15T', $date);
$data->write_number(5, 2, 0.4);
$data->write_number(5, 4, -3);
$data->activate();
$wb->close();
)";

struct Read {
    ReadResult result;
    ImportTable table;
    QStringList offered;
    int offeredActive = -1;
};

Read readWith(const QString& path, std::optional<int> answer) {
    Read r;
    SteppedProgress progress;
    r.result = readWorkbook(
        path, r.table,
        [&](const QStringList& names, int active) {
            r.offered = names;
            r.offeredActive = active;
            return answer;
        },
        progress);
    return r;
}

}  // namespace

class TestWorkbook : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        setLanguage(Language::English);
        QVERIFY(writeSampleXlsx(m_env.root() + "sample.xlsx"));
        QVERIFY(runPerl(kSampleXls, m_env.root() + "sample.xls"));
    }

    void activeSheetAndValues_data() {
        QTest::addColumn<QString>("file");
        QTest::newRow("xlsx") << "sample.xlsx";
        QTest::newRow("xls") << "sample.xls";
    }
    void activeSheetAndValues() {
        QFETCH(QString, file);
        // Cancel in the sheet choice takes the sheet that was active when saved.
        const Read r = readWith(m_env.root() + file, std::nullopt);
        QVERIFY2(r.result.status == ReadStatus::Ok, qPrintable(r.result.detail));
        QCOMPARE(r.offered, (QStringList{"First", "Daten", "Third"}));
        QCOMPARE(r.offeredActive, 1);
        QCOMPARE(r.result.rowCount, 2);
        const QStringList row0 = r.table.rows[0];
        const QStringList row1 = r.table.rows[1];
        // Data start at C5: C5 is field 0 of row 0; every row is as wide as the used range.
        QCOMPARE(row0.size(), row1.size());
        QCOMPARE(row0[0], QStringLiteral("12.7"));  // as the sheet shows it
        QCOMPARE(row0[1], QStringLiteral("007"));   // text keeps its zeros
        QCOMPARE(row0[2], QString());               // empty cell
        QCOMPARE(row0[3], QLocale::system().toString(QDate(2024, 3, 15), QLocale::ShortFormat));
        QCOMPARE(row1[0], QStringLiteral("0.4"));
        QCOMPARE(row1[2], QStringLiteral("-3"));
        if (file.endsWith(".xlsx")) {
            QCOMPARE(row0.size(), 5);
            QCOMPARE(row0[4], QStringLiteral("TRUE"));  // truth value
            QCOMPARE(row1[1], QStringLiteral("山田太郎"));
        } else {
            QCOMPARE(row0.size(), 4);
        }
    }

    // Lists saved by LibreOffice (tests/exchange/data/make_workbooks.sh): every cell as the
    // sheet shows it, dates in the locale's short form or ISO, decimals and formula results
    // as their value, a merged cell once in its top-left field.
    void libreOfficeCellsAsShown_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<WorkbookDateForm>("form");
        const QString d = QStringLiteral(WORKBOOK_DATA "/libreoffice_list.");
        QTest::newRow("xlsx, locale dates") << d + "xlsx" << WorkbookDateForm::LocaleShort;
        QTest::newRow("xls, locale dates") << d + "xls" << WorkbookDateForm::LocaleShort;
        QTest::newRow("xlsx, ISO dates") << d + "xlsx" << WorkbookDateForm::Iso;
        QTest::newRow("xls, ISO dates") << d + "xls" << WorkbookDateForm::Iso;
    }
    void libreOfficeCellsAsShown() {
        QFETCH(QString, file);
        QFETCH(WorkbookDateForm, form);
        ImportTable table;
        SteppedProgress progress;
        const ReadResult r = readWorkbook(file, table, {}, progress, kMaxReaderRows, form);
        QVERIFY2(r.status == ReadStatus::Ok, qPrintable(r.detail));
        const auto date = [form](int y, int m, int day) {
            return form == WorkbookDateForm::Iso
                       ? QDate(y, m, day).toString(Qt::ISODate)
                       : QLocale::system().toString(QDate(y, m, day), QLocale::ShortFormat);
        };
        const QList<QStringList> expected = {
            {"メールアドレス", "氏名", "登録日", "金額", "合計", "地区"},
            {"u001@example.test", "髙橋 一郎", date(2024, 3, 15), "4936.5", "9873.25", "関東"},
            {"u002@example.test", "山﨑 花子", date(1999, 12, 31), "-0.125", "0", ""},
            {"u003@example.test", "佐藤 次郎", date(2026, 1, 2), "1234567", "2469134.25", "近畿"},
        };
        QCOMPARE(table.rows, expected);
        QCOMPARE(formatWorkbookDate(45366.75, WorkbookDateForm::Iso),
                 QStringLiteral("2024-03-15 18:00"));
        QCOMPARE(formatWorkbookDate(0.5, WorkbookDateForm::Iso), QStringLiteral("12:00"));
    }

    void chosenSheetIsRead_data() { activeSheetAndValues_data(); }
    void chosenSheetIsRead() {
        QFETCH(QString, file);
        const Read r = readWith(m_env.root() + file, 2);
        QCOMPARE(r.result.rowCount, 1);
        QCOMPARE(r.table.rows[0], QStringList{"third"});
    }

    void oneSheetIsReadWithoutAsking() {
        const QString path = m_env.root() + "single.xlsx";
        lxw_workbook* wb = workbook_new(path.toLocal8Bit().constData());
        lxw_worksheet* ws = workbook_add_worksheet(wb, nullptr);
        worksheet_write_string(ws, 0, 0, "a@example.com", nullptr);
        QCOMPARE(workbook_close(wb), LXW_NO_ERROR);
        const Read r = readWith(path, 0);
        QVERIFY(r.offered.isEmpty());
        // A single used cell gives one row of one field.
        QCOMPARE(r.result.rowCount, 1);
        QCOMPARE(r.table.rows[0], QStringList{"a@example.com"});
    }

    void emptySheetGivesNothing() {
        const QString path = m_env.root() + "empty.xlsx";
        lxw_workbook* wb = workbook_new(path.toLocal8Bit().constData());
        (void)workbook_add_worksheet(wb, nullptr);
        QCOMPARE(workbook_close(wb), LXW_NO_ERROR);
        const Read r = readWith(path, 0);
        QVERIFY2(r.result.status == ReadStatus::Ok, qPrintable(r.result.detail));
        QCOMPARE(r.result.rowCount, 0);
    }

    void millionRowsStopEarly() {
        const QString path = m_env.root() + "million.xlsx";
        // Written row by row to disk by the writer, as a real large export would be.
        lxw_workbook_options options = {};
        options.constant_memory = LXW_TRUE;
        lxw_workbook* wb = workbook_new_opt(path.toLocal8Bit().constData(), &options);
        lxw_worksheet* ws = workbook_add_worksheet(wb, nullptr);
        for (lxw_row_t r = 0; r < 1000000; ++r)
            worksheet_write_number(ws, r, 0, r, nullptr);
        QCOMPARE(workbook_close(wb), LXW_NO_ERROR);
        const Read r = readWith(path, 0);
        QVERIFY2(r.result.status == ReadStatus::Ok, qPrintable(r.result.detail));
        QVERIFY(r.result.stoppedAtLimit);
        QCOMPARE(r.result.rowCount, kMaxReaderRows);
        QCOMPARE(r.table.rows.back()[0], QString::number(kMaxReaderRows - 1));
    }

    void hostileFiles_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("status");
        QTest::newRow("text named xlsx")
            << QByteArray("name,mail\n") << "text.xlsx" << int(ReadStatus::NotAWorkbook);
        QTest::newRow("empty file") << QByteArray() << "empty.xls" << int(ReadStatus::NotAWorkbook);
        QTest::newRow("zip without workbook")
            << QByteArray() << "plain.xlsx" << int(ReadStatus::NotAWorkbook);
        QTest::newRow("cut short") << QByteArray() << "cut.xlsx" << -1;
        QTest::newRow("encrypted package")
            << QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + QByteArray(600, '\0') +
                   QByteArray("E\0n\0c\0r\0y\0p\0t\0e\0d\0P\0a\0c\0k\0a\0g\0e\0", 32)
            << "locked.xlsx" << int(ReadStatus::Encrypted);
        QTest::newRow("compound file that is no workbook")
            << QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + QByteArray(2000, '\x01')
            << "junk.xls" << int(ReadStatus::Damaged);
    }
    void hostileFiles() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, name);
        QFETCH(int, status);
        const QString path = m_env.root() + name;
        if (name == "plain.xlsx") {
            int err = 0;
            zip_t* z = zip_open(path.toLocal8Bit().constData(), ZIP_CREATE | ZIP_TRUNCATE, &err);
            static const char hello[] = "hello";
            zip_file_add(z, "hello.txt", zip_source_buffer(z, hello, 5, 0), 0);
            QCOMPARE(zip_close(z), 0);
        } else if (name == "cut.xlsx") {
            const QByteArray whole = test::readFile(m_env.root() + "sample.xlsx");
            QVERIFY(test::writeFile(path, whole.left(whole.size() / 2)));
        } else {
            QVERIFY(test::writeFile(path, bytes));
        }
        const Read r = readWith(path, 0);
        QCOMPARE(r.result.rowCount, 0);
        QVERIFY(r.result.status != ReadStatus::Ok);
        if (status >= 0)
            QCOMPARE(int(r.result.status), status);
        test::ScriptedUserInteraction ui;
        reportReadFailure(ui, r.result);
        QCOMPARE(ui.asked().size(), 1);
        QVERIFY(!ui.asked()[0].text.isEmpty());
    }

    void zipBombIsRefused() {
        // A shared-string part that inflates past what any import can hold.
        const QString path = m_env.root() + "bomb.xlsx";
        const test::ProcessResult p =
            test::runPython(R"(
import sys, zipfile
src = zipfile.ZipFile(sys.argv[1])
with zipfile.ZipFile(sys.argv[2], 'w', zipfile.ZIP_DEFLATED) as z:
    for item in src.infolist():
        if item.filename != 'xl/sharedStrings.xml':
            z.writestr(item, src.read(item.filename))
    with z.open('xl/sharedStrings.xml', 'w', force_zip64=True) as f:
        f.write(b'<?xml version="1.0"?><sst xmlns="x"><si><t>')
        block = b'a' * (1 << 20)
        for _ in range(140):
            f.write(block)
        f.write(b'</t></si></sst>')
)",
                            {m_env.root() + "sample.xlsx", path}, {}, 120000);
        QCOMPARE(p.exitCode, 0);
        QVERIFY(QFile(path).size() < 4 * 1024 * 1024);
        const Read r = readWith(path, 0);
        QCOMPARE(r.result.status, ReadStatus::TooLarge);
        QCOMPARE(r.result.rowCount, 0);
    }

    // Sheet parts no writer makes: numbers past the sheet's bounds are refused as damage,
    // a cell written again keeps one cell, rows far behind an earlier one are not kept.
    void handWrittenSheets_data() {
        QTest::addColumn<QByteArray>("sheetData");
        QTest::addColumn<int>("status");
        QTest::addColumn<QList<QStringList>>("rows");
        const QByteArray a1 = "<c r=\"A1\" t=\"inlineStr\"><is><t>a1</t></is></c>";
        QTest::newRow("row number past the sheet, then rows without one")
            << QByteArray("<row r=\"2147483647\"/><row/><row>") + a1 + "</row>"
            << int(ReadStatus::Damaged) << QList<QStringList>();
        QTest::newRow("rows without number counted past the last row")
            << QByteArray("<row r=\"1048576\"/><row><c t=\"inlineStr\"><is><t>x</t></is></c></row>")
            << int(ReadStatus::Damaged) << QList<QStringList>();
        QTest::newRow("cells without reference counted past the last column")
            << QByteArray("<row><c r=\"XFD1\"/><c/></row>") << int(ReadStatus::Damaged)
            << QList<QStringList>();
        QTest::newRow("one cell repeated")
            << QByteArray("<row r=\"1\">") + a1.repeated(20000) + "</row>" << int(ReadStatus::Ok)
            << QList<QStringList>{{"a1"}};
        QTest::newRow("a later cell at the same place replaces the first")
            << QByteArray("<row r=\"1\">") + a1 +
                   "<c r=\"A1\"><v>5</v></c><c r=\"B1\"><v>6</v></c></row>"
            << int(ReadStatus::Ok) << QList<QStringList>{{"5", "6"}};
        QTest::newRow("an earlier row drops the rows past the limit")
            << QByteArray(
                   "<row r=\"900\"><c r=\"A900\"><v>9</v></c></row><row r=\"2\">"
                   "<c r=\"A2\"><v>2</v></c></row>")
            << int(ReadStatus::Ok) << QList<QStringList>{{"2"}};
    }
    void handWrittenSheets() {
        QFETCH(QByteArray, sheetData);
        QFETCH(int, status);
        QFETCH(QList<QStringList>, rows);
        const QString path = m_env.root() + "hand.xlsx";
        const QByteArray sheet = "<worksheet><sheetData>" + sheetData + "</sheetData></worksheet>";
        QVERIFY(writeOneSheetXlsx(path, sheet));
        ImportTable table;
        SteppedProgress progress;
        const ReadResult r = readWorkbook(
            path, table, [](const QStringList&, int) { return 0; }, progress, 100);
        QCOMPARE(int(r.status), status);
        QCOMPARE(table.rows, rows);
        if (r.status == ReadStatus::Damaged) {
            test::ScriptedUserInteraction ui;
            reportReadFailure(ui, r);
            QVERIFY2(ui.asked().value(0).text.contains("past the last"),
                     qPrintable(ui.asked().value(0).text));
        }
    }

    void dateFormats_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("date");
        QTest::newRow("built-in date") << 14 << "" << true;
        QTest::newRow("built-in number") << 2 << "" << false;
        QTest::newRow("custom date") << 164 << "yyyy/mm/dd" << true;
        QTest::newRow("elapsed hours") << 165 << "[h]:mm" << true;
        QTest::newRow("quoted letters are no date") << 166 << "0 \"days\"" << false;
        QTest::newRow("colour and currency") << 167 << "[Red]#,##0;[Blue]-#,##0" << false;
        QTest::newRow("General") << 168 << "General" << false;
        QTest::newRow("scientific") << 169 << "0.00E+00" << false;
        QTest::newRow("escaped letter") << 170 << "0\\m" << false;
    }
    void dateFormats() {
        QFETCH(int, id);
        QFETCH(QString, code);
        QFETCH(bool, date);
        QCOMPARE(isDateFormat(id, code), date);
    }

    void numberFormatting_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("12.7") << 12.7 << "12.7";
        QTest::newRow("0.4") << 0.4 << "0.4";
        QTest::newRow("a sum's binary noise is not shown") << 0.1 + 0.2 << "0.3";
        QTest::newRow("negative zero") << -0.0 << "0";
        QTest::newRow("no grouping") << 1234567.0 << "1234567";
        QTest::newRow("phone-like number") << 9012345678.0 << "9012345678";
        QTest::newRow("huge") << 1e20 << "100000000000000000000";
    }
    void numberFormatting() {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(formatWorkbookNumber(value), text);
    }

    void capitalXlsIsReadAsText() {
        // ".XLS" goes to the text reader: the workbook bytes become text rows, not cells.
        const QString path = m_env.root() + "copy.XLS";
        QVERIFY(QFile::copy(m_env.root() + "sample.xls", path));
        ImportTable table;
        SteppedProgress progress;
        test::ScriptedUserInteraction ui;
        int askedSheet = 0;
        (void)readImportFile(
            path, table, [] { return std::optional<Delimiter>(); },
            [&](const QStringList&, int) {
                ++askedSheet;
                return std::optional<int>();
            },
            ui, progress, LegacyCodePage::Windows1252);
        QCOMPARE(askedSheet, 0);
    }

private:
    test::TestEnv m_env;
};

QTEST_GUILESS_MAIN(TestWorkbook)
#include "test_workbook.moc"
