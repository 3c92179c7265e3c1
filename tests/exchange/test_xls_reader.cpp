// The legacy workbook reader on files from an independent writer (Perl's
// Spreadsheet::WriteExcel), on an Excel 95 file in Shift_JIS put together record by record,
// and on the hostile files that once overran the decoding of an outside library.
#include <QDir>
#include <QProcess>
#include <QTest>

#include "ScriptedUserInteraction.h"
#include "TestEnv.h"
#include "exchange/Workbook.h"
#include "exchange/WorkbookImport.h"
#include "resources/Strings.h"

using namespace pw;
using namespace pw::exchange;

namespace {

// Runs a Perl body with $wb (the workbook) and $s (its first sheet, "Sheet1") defined.
bool writeXls(const QString& body, const QString& path) {
    const QString script = QStringLiteral(
                               "use strict; use utf8; use Spreadsheet::WriteExcel;"
                               "my $wb = Spreadsheet::WriteExcel->new($ARGV[0]) or die;"
                               "my $s = $wb->add_worksheet('Sheet1');") +
                           body + QStringLiteral("; $wb->close() or die;");
    QProcess p;
    p.start("/usr/bin/perl", {"-e", script, path});
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning() << p.readAllStandardError();
        return false;
    }
    return true;
}

struct Read {
    ReadResult result;
    ImportTable table;
    QStringList offered;
    int offeredActive = -1;
};

Read readWith(const QString& path, std::optional<int> answer = std::nullopt) {
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

// A field of the table, or a marker that it is missing.
QString field(const ImportTable& t, int row, int column) {
    if (row >= t.rowCount() || column >= t.rows[row].size())
        return QStringLiteral("<missing>");
    return t.rows[row][column];
}

}  // namespace

class TestXlsReader : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { setLanguage(Language::English); }

    // Each row: a Perl body, the rows and columns of the used range, and "row:column:text"
    // checks of single fields.
    void cellValues_data() {
        QTest::addColumn<QString>("perl");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QStringList>("checks");
        QTest::newRow("rk and double numbers, date and money formats")
            << "my $d = $wb->add_format(num_format => 'dd/mm/yyyy');"
               "my $m = $wb->add_format(num_format => '#,##0.00');"
               "$s->write_number(3, 2, 1); $s->write_number(3, 3, 1.26);"
               "$s->write_number(3, 4, 123456789012); $s->write_number(3, 5, 45000, $d);"
               "$s->write_number(3, 6, 1234.56, $m); $s->write_number(3, 7, -42);"
            << 1 << 6
            << QStringList{
                   "0:0:1",
                   "0:1:1.26",
                   "0:2:123456789012",
                   "0:3:" + QLocale::system().toString(QDate(2023, 3, 15), QLocale::ShortFormat),
                   "0:4:1234.56",
                   "0:5:-42"};
        QTest::newRow("a formatted blank is not used")
            << "my $f = $wb->add_format(bg_color => 'yellow');"
               "$s->write_string(0, 0, 'a'); $s->write_blank(40, 9, $f);"
            << 1 << 1 << QStringList{"0:0:a"};
        QTest::newRow("last column")
            << "$s->write_number(2, 0, 7); $s->write_string(2, 255, 'far right');" << 1 << 256
            << QStringList{"0:0:7", "0:255:far right"};
        QTest::newRow("shared strings over many records")
            << "for my $r (0..2999) { $s->write_string($r, 0, \"user$r\\@example.jp\");"
               " $s->write_string($r, 1, \"山田 $r\"); }"
            << 3000 << 2
            << QStringList{"0:0:user0@example.jp", "2999:0:user2999@example.jp",
                           "2999:1:山田 2999"};
        QTest::newRow("8-bit text longer than a record")
            << "$s->write_string(0, 0, 'x' x 9000); $s->write_string(1, 0, 'after');" << 2 << 1
            << QStringList{"0:0:" + QString(9000, 'x'), "1:0:after"};
        // The earlier reader cut these texts at the first record boundary.
        QTest::newRow("Japanese text longer than a record")
            << "$s->write_string(0, 0, '日本語' x 3000); $s->write_string(1, 0, 'after');" << 2 << 1
            << QStringList{"0:0:" + QString("日本語").repeated(3000), "1:0:after"};
        // The earlier reader left out every formula cell.
        QTest::newRow("formula results as saved")
            << "$s->write_formula(1, 0, '=1+1', undef, 2);"
               "$s->write_formula(1, 1, '=\"ab\"&\"cd\"', undef, 'abcd');"
               "$s->write_formula(1, 2, '=TRUE', undef, 'TRUE');"
               "$s->write_formula(1, 3, '=NA()', undef, '#N/A');"
               "$s->write_formula(1, 4, '=\"\"', undef, '');"
               "$s->write_string(2, 0, 'next');"
            << 2 << 5 << QStringList{"0:0:2", "0:1:abcd", "0:2:TRUE", "0:3:", "0:4:", "1:0:next"};
        // The earlier reader refused the whole workbook for one empty text.
        QTest::newRow("empty text cell")
            << "$s->write_string(0, 0, ''); $s->write_string(0, 1, 'b');" << 1 << 2
            << QStringList{"0:0:", "0:1:b"};
    }
    void cellValues() {
        QFETCH(QString, perl);
        QFETCH(int, rows);
        QFETCH(int, columns);
        QFETCH(QStringList, checks);
        const QString path = m_env.root() + QTest::currentDataTag() + QStringLiteral(".xls");
        QVERIFY(writeXls(perl, path));
        const Read r = readWith(path);
        QVERIFY2(r.result.status == ReadStatus::Ok, qPrintable(r.result.detail));
        QCOMPARE(r.table.rowCount(), rows);
        for (const ImportRow& row : r.table.rows)
            QCOMPARE(row.size(), columns);
        for (const QString& check : checks) {
            const QStringList parts = check.split(':');
            const QString expected = check.section(':', 2);
            QCOMPARE(field(r.table, parts[0].toInt(), parts[1].toInt()), expected);
        }
    }

    void sheetNamesAndActiveSheet() {
        const QString path = m_env.root() + "sheets.xls";
        QVERIFY(
            writeXls("$s->write_string(0, 0, 'one');"
                     "my $b = $wb->add_worksheet('顧客リスト'); $b->write_string(0, 0, 'two');"
                     "my $c = $wb->add_worksheet('Third'); $c->write_string(0, 0, 'three');"
                     "$b->activate();",
                     path));
        const Read r = readWith(path);
        QCOMPARE(r.offered, (QStringList{"Sheet1", "顧客リスト", "Third"}));
        QCOMPARE(r.offeredActive, 1);
        QCOMPARE(field(r.table, 0, 0), QStringLiteral("two"));
        QCOMPARE(field(readWith(path, 2).table, 0, 0), QStringLiteral("three"));
    }

    void rowsPastTheLimitStayUnread() {
        const QString path = m_env.root() + "long.xls";
        QVERIFY(writeXls("for my $r (5..30004) { $s->write_number($r, 1, $r); }", path));
        const Read r = readWith(path);
        QVERIFY(r.result.stoppedAtLimit);
        QCOMPARE(r.table.rowCount(), kMaxReaderRows);
        QCOMPARE(field(r.table, 0, 0), QStringLiteral("5"));
        QCOMPARE(field(r.table, kMaxReaderRows - 1, 0), QString::number(5 + kMaxReaderRows - 1));
    }

    // Excel 95 kept texts as bytes in the workbook's code page.
    void excel95InShiftJis() {
        const QString path = m_env.root() + "excel95.xls";
        QVERIFY(writeXls("$s->write_string(0, 0, 'x' x 5000);", path));
        const test::ProcessResult p = test::runPython(R"(
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
def rec(t, body): return struct.pack('<HH', t, len(body)) + body
def bof(dt): return rec(0x0809, struct.pack('<HHHH', 0x0500, dt, 0, 0))
sheets = [('名簿'.encode('cp932'), rec(0x0204, struct.pack('<HHHH', 0, 0, 15, 2) + b'no')),
          ('データ'.encode('cp932'),
           rec(0x0204, struct.pack('<HHHH', 2, 1, 15, 4) + '山田'.encode('cp932')) +
           rec(0x0203, struct.pack('<HHHd', 2, 2, 15, 12.7)) +
           rec(0x027E, struct.pack('<HHHI', 3, 1, 15, (42 << 2) | 2)))]
glob = bof(5) + rec(0x0042, struct.pack('<H', 932)) + rec(0x003D, bytes(10) + struct.pack('<HHHHH', 1, 0, 1, 0, 0))
size = len(glob) + sum(4 + 6 + 1 + len(n) for n, _ in sheets) + 4
stream, bodies = b'', b''
for name, cells in sheets:
    stream += rec(0x0085, struct.pack('<IBBB', size + len(bodies), 0, 0, len(name)) + name)
    bodies += bof(0x10) + cells + rec(0x000A, b'')
stream = glob + stream + rec(0x000A, b'') + bodies
stream += bytes(4096 - len(stream))  # smaller streams would live in the mini stream
# the writer's workbook stream sits in regular sectors: put the new one in its place
sector = 1 << struct.unpack_from('<H', data, 0x1E)[0]
d = (struct.unpack_from('<I', data, 0x30)[0] + 1) * sector
for e in range(d, d + sector, 128):
    if data[e:e + 16] == 'Workbook'.encode('utf-16-le'):
        start, old = struct.unpack_from('<II', data, e + 0x74)
        assert old >= len(stream) and old >= 4096
        data[e:e + 64] = 'Book'.encode('utf-16-le').ljust(64, b'\0')
        struct.pack_into('<H', data, e + 0x40, 10)
        struct.pack_into('<I', data, e + 0x78, len(stream))
        at = (start + 1) * sector
        data[at:at + len(stream)] = stream
open(path, 'wb').write(data)
)",
                                                      {path});
        QCOMPARE(p.exitCode, 0);
        const Read r = readWith(path);
        QVERIFY2(r.result.status == ReadStatus::Ok, qPrintable(r.result.detail));
        QCOMPARE(r.offered, (QStringList{"名簿", "データ"}));
        QCOMPARE(r.offeredActive, 1);
        QCOMPARE(r.table.rowCount(), 2);
        QCOMPARE(r.table.rows[0], (QStringList{"山田", "12.7"}));
        QCOMPARE(r.table.rows[1], (QStringList{"42", ""}));
    }

    // Fuzzer findings, kept beside the fuzz target: each is a damaged workbook with a message.
    void hostileFilesAreDamaged_data() {
        QTest::addColumn<QString>("file");
        const QDir dir(POSTWICK_SOURCE_DIR "/fuzz/xlsx_reader/findings");
        for (const QString& name : dir.entryList({"xls_*"}, QDir::Files, QDir::Name))
            QTest::newRow(qPrintable(name)) << dir.filePath(name);
        QVERIFY(dir.entryList({"xls_*"}, QDir::Files).size() >= 12);
    }
    void hostileFilesAreDamaged() {
        QFETCH(QString, file);
        const QString path = m_env.root() + "hostile.xls";
        // the fuzz target's first byte says how to take the rest
        QVERIFY(test::writeFile(path, test::readFile(file).mid(1)));
        const Read r = readWith(path);
        QCOMPARE(r.result.status, ReadStatus::Damaged);
        QCOMPARE(r.table.rowCount(), 0);
        test::ScriptedUserInteraction ui;
        reportReadFailure(ui, r.result);
        QCOMPARE(ui.asked().size(), 1);
    }

private:
    test::TestEnv m_env;
};

QTEST_GUILESS_MAIN(TestXlsReader)
#include "test_xls_reader.moc"
