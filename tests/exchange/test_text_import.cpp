// The delimited text reader: line and field splitting, signatures and the legacy code page
// fallback, on real files.
#include <QTemporaryDir>
#include <QTest>

#include "IcuEncode.h"
#include "ScriptedUserInteraction.h"
#include "TestEnv.h"
#include "exchange/ImportStore.h"
#include "exchange/TextReader.h"

using namespace pw;
using namespace pw::exchange;
using pw::test::encodeWithIcu;

namespace {

ImportTable readBytes(const QByteArray& bytes, Delimiter d = Delimiter::Comma,
                      ReadResult* result = nullptr,
                      LegacyCodePage legacy = LegacyCodePage::Windows1252,
                      int maxRows = kMaxReaderRows) {
    ImportTable table;
    SteppedProgress progress;
    const ReadResult r = readDelimitedBytes(bytes, d, table, progress, legacy, maxRows);
    if (result)
        *result = r;
    return table;
}

// The same through a file and the file reader.
ImportTable readFile(const QByteArray& bytes, ReadResult& result, int maxRows = kMaxReaderRows) {
    test::TestEnv env;
    const QString path = env.root() + "read.csv";
    ImportTable table;
    if (!test::writeFile(path, bytes))
        return table;
    SteppedProgress progress;
    result = readDelimitedFile(path, Delimiter::Comma, table, progress, LegacyCodePage::Windows1252,
                               maxRows);
    return table;
}

// Filler lines before `tail`, so that byte `at` of the tail is the first byte of the file
// reader's second piece; the filler's rows go to rows first.
QByteArray acrossPieces(qsizetype at, const QByteArray& tail, QList<QStringList>& rows) {
    QByteArray text;
    const qsizetype start = kReadPieceBytes - at;
    const QByteArray filler(390, 'x');
    for (int i = 0; text.size() < start - 800; ++i) {
        text += "f" + QByteArray::number(i) + "," + filler + "\n";
        rows.append(QStringList{"f" + QString::number(i), QString::fromLatin1(filler)});
    }
    const QByteArray pad(start - text.size() - 3, 'p');
    text += "z," + pad + "\n";
    rows.append(QStringList{"z", QString::fromLatin1(pad)});
    return text + tail;
}

}  // namespace

class TestTextImport : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { setLanguage(Language::English); }

    void splitFields_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("delimiter");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("quoted field holding the delimiter") << "x,\"a,b\",y"
                                                            << "," << QStringList{"x", "a,b", "y"};
        QTest::newRow("doubled quotes are one quote") << "\"say \"\"hi\"\"\",2"
                                                      << "," << QStringList{"say \"hi\"", "2"};
        QTest::newRow("quote inside an unquoted field is text") << "ab\"c,d"
                                                                << "," << QStringList{"ab\"c", "d"};
        QTest::newRow("trailing delimiter gives an empty last field")
            << "a,b,"
            << "," << QStringList{"a", "b", ""};
        QTest::newRow("no delimiter gives one field") << "abc"
                                                      << "," << QStringList{"abc"};
        QTest::newRow("single quote character becomes empty") << "a,\""
                                                              << "," << QStringList{"a", ""};
        QTest::newRow("lone opening quote swallows the delimiter") << "\",x"
                                                                   << "," << QStringList{"\",x"};
        QTest::newRow("unterminated quote runs to the end") << "\"a,b"
                                                            << "," << QStringList{"\"a,b"};
        QTest::newRow("blanks stay") << " a , b "
                                     << "," << QStringList{" a ", " b "};
        QTest::newRow("tab delimiter leaves commas alone") << "a,b\tc"
                                                           << "\t" << QStringList{"a,b", "c"};
        QTest::newRow("quoted state only at field start") << "a\"b,c\",d"
                                                          << "," << QStringList{"a\"b", "c\"", "d"};
        QTest::newRow("empty quoted field") << "\"\",x"
                                            << "," << QStringList{"", "x"};
    }
    void splitFields() {
        QFETCH(QString, line);
        QFETCH(QString, delimiter);
        QFETCH(QStringList, fields);
        QCOMPARE(pw::exchange::splitFields(line, delimiter[0]), fields);
    }

    // Files as spreadsheet programs write them, and the lines around them read as they were.
    void csvQuoting_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QList<QStringList>>("rows");
        QTest::newRow("quoted comma and doubled quotes")
            << QByteArray("\"Acme \"\"Quoted\"\", Inc\",a@x.jp\r\n")
            << QList<QStringList>{{"Acme \"Quoted\", Inc", "a@x.jp"}};
        QTest::newRow("line break inside quotes")
            << QByteArray("\"two\r\nlines\",a@x.jp\r\nnext,b@x.jp\r\n")
            << QList<QStringList>{{"two\r\nlines", "a@x.jp"}, {"next", "b@x.jp"}};
        QTest::newRow("quote that never closes keeps the lines")
            << QByteArray("\"open,a@x.jp\nb,c\n\"d\ne\n")
            << QList<QStringList>{{"\"open,a@x.jp"}, {"b", "c"}, {"\"d"}, {"e"}};
        QTest::newRow("lone quote does not join the next line")
            << QByteArray("\"ab\"c,d\n\"x\",\"y\"\n")
            << QList<QStringList>{{"\"ab\"c", "d"}, {"x", "y"}};
        QTest::newRow("unescaped quote of an export")
            << QByteArray("\"12\" screen\",\"a@x.jp\"\n")
            << QList<QStringList>{{"12\" screen", "a@x.jp"}};
        QTest::newRow("no quotes, blank lines")
            << QByteArray("a,b\n\n c ,d\r\n") << QList<QStringList>{{"a", "b"}, {" c ", "d"}};
        QTest::newRow("byte order mark inside a field is text")
            << QByteArray("a,\xEF\xBB\xBF\"b\"\n")
            << QList<QStringList>{{"a", QStringLiteral("\uFEFF\"b\"")}};
        // The file reader reads UTF-8 in pieces; what the next piece holds decides these.
        QList<QStringList> rows;
        QByteArray text = acrossPieces(3, "\"a\"\"b\",c\n", rows);
        rows.append(QStringList{"a\"b", "c"});
        QTest::newRow("doubled quote across two pieces") << text << rows;
        rows.clear();
        text = acrossPieces(4, "\"ab\",c\n", rows);
        rows.append(QStringList{"ab", "c"});
        QTest::newRow("closing quote ends a piece") << text << rows;
        rows.clear();
        text = acrossPieces(4, "\"two\nlines\",\"x\"\n", rows);
        rows.append(QStringList{"two\nlines", "x"});
        QTest::newRow("line break inside quotes across two pieces") << text << rows;
        rows.clear();
        text = acrossPieces(1, "\xC3\xA9t\xC3\xA9,\"q\"\n\"open,y\nlast\n", rows);
        rows.append(QStringList{"été", "q"});
        rows.append(QStringList{"\"open,y"});
        rows.append(QStringList{"last"});
        QTest::newRow("character and open quote across two pieces") << text << rows;
    }
    void csvQuoting() {
        QFETCH(QByteArray, bytes);
        QFETCH(QList<QStringList>, rows);
        QCOMPARE(readBytes(bytes).rows, rows);
        // the splitting of decoded text reads the same
        QList<QStringList> split;
        const QString text = QString::fromUtf8(bytes);
        for (QStringView record : splitRecords(text, u',', int(rows.size())))
            split.append(pw::exchange::splitFields(record, u','));
        QCOMPARE(split, rows);
        ReadResult r;
        const ImportTable table = readFile(bytes, r, int(rows.size()) + 2);
        QCOMPARE(r.encoding, QStringLiteral("UTF-8"));
        QCOMPARE(table.rowCount(), int(rows.size()));
        QVERIFY(table.rows == rows);
    }

    void linesAndSignatures_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("firstField");
        QTest::addColumn<int>("rows");
        QTest::newRow("UTF-8 signature is dropped")
            << QByteArray("\xEF\xBB\xBFname,mail\r\nx,y\r\n") << "UTF-8"
            << "name" << 2;
        QTest::newRow("blank lines and mixed breaks are skipped")
            << QByteArray("a\r\n\r\n\n\rb\n\n") << "UTF-8"
            << "a" << 2;
        QTest::newRow("UTF-8 without signature") << QByteArray("M\xC3\xBCller,1\n") << "UTF-8"
                                                 << "Müller" << 1;
        QTest::newRow("UTF-7 signature") << QByteArray("+/v8-abc,d\r\n") << "UTF-7"
                                         << "abc" << 1;
        QTest::newRow("UTF-16LE signature") << QByteArray(
                                                   "\xFF\xFE"
                                                   "a\0,\0b\0\r\0\n\0c\0",
                                                   14)
                                            << "UTF-16LE"
                                            << "a" << 2;
        QTest::newRow("two bytes without signature") << QByteArray("ab") << "UTF-8"
                                                     << "ab" << 1;
        QTest::newRow("only line breaks") << QByteArray("\r\n\r\n") << "UTF-8"
                                          << "" << 0;
        QTest::newRow("ISO-2022-JP without signature")
            << QByteArray("\x1b$B3t<02q<R\x1b(B,a@x.jp\n") << "ISO-2022-JP"
            << QString::fromUtf8("株式会社") << 1;
        QTest::newRow("Windows-1252 fallback keeps accents")
            << QByteArray("Jos\xE9,caf\xE9\n") << "Windows-1252"
            << "José" << 1;
        // what decides the encoding may come after the first piece the file reader reads
        const QByteArray lines = QByteArray(249, 'a').append('\n').repeated(17000);
        QTest::newRow("Windows-1252 byte after the first piece")
            << lines + "caf\xE9\n"
            << "Windows-1252" << QString(249, 'a') << 17001;
        QTest::newRow("JIS escape after the first piece")
            << lines + "\x1b$B3t<0\x1b(B\n"
            << "ISO-2022-JP" << QString(249, 'a') << 17001;
    }
    void linesAndSignatures() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, encoding);
        QFETCH(QString, firstField);
        QFETCH(int, rows);
        ReadResult result;
        const ImportTable table = readBytes(bytes, Delimiter::Comma, &result);
        QCOMPARE(result.encoding, encoding);
        QCOMPARE(table.rowCount(), rows);
        QCOMPARE(result.rowCount, rows);
        if (rows > 0)
            QCOMPARE(table.rows[0][0], firstField);
        // the file reader decides the same, whether it reads the text as it is or decodes it
        ReadResult r;
        const ImportTable fromFile = readFile(bytes, r);
        QCOMPARE(r.encoding, encoding);
        QCOMPARE(fromFile.rowCount(), rows);
        for (int i = 0; i < rows; ++i)
            QCOMPARE(fromFile.rows[i], table.rows[i]);
    }

    void mostlyUtf8StaysUtf8() {
        // One stray Windows-1252 byte in a UTF-8 file must not garble the Japanese around it.
        QByteArray bytes = QStringLiteral("山田太郎,鈴木一郎,佐藤花子\n").toUtf8();
        bytes += "caf\xE9\n";
        ReadResult r;
        const ImportTable t = readBytes(bytes, Delimiter::Comma, &r);
        QCOMPARE(r.encoding, QStringLiteral("UTF-8"));
        QVERIFY(r.lossy);
        QVERIFY(!r.legacyFallback);
        QCOMPARE(t.rows[0], (QStringList{"山田太郎", "鈴木一郎", "佐藤花子"}));
        QCOMPARE(t.rows[1][0], QStringLiteral("caf\uFFFD"));
    }

    void kanjiOnlyShiftJisIsNotTakenForUtf8() {
        // Shift_JIS kanji pairs can form valid UTF-8 sequences by chance.
        const QString text =
            QStringLiteral("漢字漢字経済産業省環境省国土交通省厚生労働省,東京都千代田区丸の内");
        ReadResult r;
        const ImportTable t = readBytes(encodeWithIcu("windows-31j", text), Delimiter::Comma, &r,
                                        LegacyCodePage::ShiftJis);
        QVERIFY(r.legacyFallback);
        QCOMPARE(t.rows[0].join(','), text);
    }

    void shiftJisFileKeepsEveryCharacter() {
        test::TestEnv env;
        const QString names = QStringLiteral(
            "メール,氏名,会社\r\n"
            "taro@example.jp,山田太郎,株式会社ソフト①\r\n"
            "hanako@example.jp,佐藤花子,ｶﾀｶﾅ商店～\r\n");
        const QByteArray sjis = encodeWithIcu("windows-31j", names);
        QVERIFY(!sjis.isEmpty());
        QVERIFY(sjis != names.toUtf8());
        const QString path = env.root() + "japanese.csv";
        QVERIFY(test::writeFile(path, sjis));

        ImportTable table;
        SteppedProgress progress;
        test::ScriptedUserInteraction ui;
        const ReadResult r =
            readImportFile(path, table, nullptr, nullptr, ui, progress, LegacyCodePage::ShiftJis);
        QCOMPARE(r.status, ReadStatus::Ok);
        QCOMPARE(r.rowCount, 3);
        QVERIFY(r.legacyFallback);
        QVERIFY(!r.lossy);
        QCOMPARE(r.encoding, QStringLiteral("Shift_JIS (CP932)"));
        QCOMPARE(table.rows[1], (QStringList{"taro@example.jp", "山田太郎", "株式会社ソフト①"}));
        QCOMPARE(table.rows[2], (QStringList{"hanako@example.jp", "佐藤花子", "ｶﾀｶﾅ商店～"}));
        // The user is told which encoding was used.
        QCOMPARE(ui.asked().size(), 1);
        QVERIFY(ui.asked()[0].text.contains("Shift_JIS (CP932)"));
    }

    void undecodableBytesAreReported() {
        // 0x85 0x40 is unassigned in CP932: the reader says so instead of hiding it.
        ReadResult r;
        const ImportTable t =
            readBytes(QByteArray("a\x85\x40z\n"), Delimiter::Comma, &r, LegacyCodePage::ShiftJis);
        QVERIFY(r.legacyFallback);
        QVERIFY(r.lossy);
        QCOMPARE(t.rowCount(), 1);
        QVERIFY(t.rows[0][0].startsWith('a'));
        QVERIFY(t.rows[0][0].endsWith('z'));
        test::ScriptedUserInteraction ui;
        reportReadFailure(ui, r);
        QCOMPARE(ui.asked().size(), 2);
    }

    void readerStopsAfterTheRowsAnImportCanUse() {
        test::TestEnv env;
        QByteArray big;
        for (int i = 0; i < 5000; ++i)
            big += "row" + QByteArray::number(i) + ",x\r\n";
        const QString path = env.root() + "big.txt";
        QVERIFY(test::writeFile(path, big));
        ImportTable table;
        SteppedProgress progress;
        const ReadResult r = readDelimitedFile(path, Delimiter::Comma, table, progress,
                                               LegacyCodePage::Windows1252, 1234);
        QCOMPARE(r.rowCount, 1234);
        QVERIFY(r.stoppedAtLimit);
        QCOMPARE(table.rows.back()[0], QStringLiteral("row1233"));
    }

    void progressMovesInTwentieths() {
        test::ScriptedUserInteraction ui;
        auto display = ui.createProgress();
        SteppedProgress progress(display.get());
        beginImportProgress(progress);
        QByteArray bytes;
        for (int i = 0; i < 100; ++i)
            bytes += "a\n";
        ImportTable table;
        (void)readDelimitedBytes(bytes, Delimiter::Comma, table, progress,
                                 LegacyCodePage::Windows1252);
        QCOMPARE(progress.step(), 5);
        const QStringList positions = ui.progressLog().filter("position:");
        // 0, then only moves of more than one step: 6, 12, ... never every line.
        QVERIFY(positions.size() > 10);
        QVERIFY(positions.size() < 25);
        QVERIFY(ui.progressLog().contains("range: 0..100"));
        QVERIFY(ui.progressLog().contains("show"));
        QCOMPARE(ui.progressLog().mid(0, 2),
                 (QStringList{"caption: Load data", "text:  Reading data"}));
    }

    void readerChoice_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("workbook");
        QTest::addColumn<bool>("asks");
        QTest::newRow("csv") << "/d/a.csv" << false << false;
        QTest::newRow("CSV in capitals asks") << "/d/a.CSV" << false << true;
        QTest::newRow("xls") << "/d/a.xls" << true << false;
        QTest::newRow("xlsx") << "/d/a.xlsx" << true << false;
        QTest::newRow("XLS in capitals is text") << "/d/a.XLS" << false << true;
        QTest::newRow("dot in folder only") << "/d.xls/a" << false << true;
        QTest::newRow("dat") << "/d/a.dat" << false << true;
    }
    void readerChoice() {
        QFETCH(QString, path);
        QFETCH(bool, workbook);
        QFETCH(bool, asks);
        QCOMPARE(readerFor(path) == ReaderKind::Workbook, workbook);
        if (!workbook)
            QCOMPARE(delimiterNeedsAsking(path), asks);
    }

    void tabFileAsksAndCancelKeepsComma() {
        test::TestEnv env;
        const QString path = env.root() + "list.txt";
        QVERIFY(test::writeFile(path, "a\tb,c\n"));
        ImportTable table;
        SteppedProgress progress;
        test::ScriptedUserInteraction ui;
        int asked = 0;
        auto tab = [&]() -> std::optional<Delimiter> {
            ++asked;
            return Delimiter::Tab;
        };
        (void)readImportFile(path, table, tab, nullptr, ui, progress, LegacyCodePage::Windows1252);
        QCOMPARE(asked, 1);
        QCOMPARE(table.rows[0], (QStringList{"a", "b,c"}));
        auto cancel = []() -> std::optional<Delimiter> { return std::nullopt; };
        (void)readImportFile(path, table, cancel, nullptr, ui, progress,
                             LegacyCodePage::Windows1252);
        QCOMPARE(table.rows[0], (QStringList{"a\tb", "c"}));
    }

    void missingFileSaysSo() {
        ImportTable table;
        SteppedProgress progress;
        test::ScriptedUserInteraction ui;
        const ReadResult r = readImportFile("/nonexistent/x.csv", table, nullptr, nullptr, ui,
                                            progress, LegacyCodePage::Windows1252);
        QCOMPARE(r.rowCount, 0);
        QCOMPARE(r.status, ReadStatus::CannotOpen);
        QCOMPARE(ui.asked().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestTextImport)
#include "test_text_import.moc"
