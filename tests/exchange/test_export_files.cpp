// The export writers that need no database: targets, lines, mail text and the HTML folder.
#include <QDir>
#include <QFile>
#include <QTest>

#include "ScriptedUserInteraction.h"
#include "TestEnv.h"
#include "exchange/Export.h"
#include "exchange/TextReader.h"
#include "resources/Strings.h"

using namespace pw;
using namespace pw::exchange;

class TestExportFiles : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { setLanguage(Language::English); }

    void targets_data() {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("path");
        QTest::addColumn<char>("delimiter");
        QTest::newRow("txt keeps the name, TAB") << "/d/out.txt"
                                                 << "/d/out.txt" << '\t';
        QTest::newRow("TXT in capitals is TAB too") << "/d/out.TXT"
                                                    << "/d/out.TXT" << '\t';
        QTest::newRow("dat becomes csv") << "/d/out.dat"
                                         << "/d/out.csv" << ',';
        QTest::newRow("no extension gets csv") << "/d/out"
                                               << "/d/out.csv" << ',';
        QTest::newRow("dot in a folder is no extension") << "/d/my.txt/out"
                                                         << "/d/my.txt/out.csv" << ',';
        QTest::newRow("csv stays") << "/d/out.csv"
                                   << "/d/out.csv" << ',';
    }
    void targets() {
        QFETCH(QString, chosen);
        QFETCH(QString, path);
        QFETCH(char, delimiter);
        const DatabaseExportTarget t = databaseExportTarget(chosen);
        QCOMPARE(t.path, path);
        QCOMPARE(t.delimiter, delimiter);
    }

    void lineWritesValuesUnescaped() {
        ExportValues v;
        v[0] = QByteArray("a\"b");
        v[1] = QByteArray("x,y");
        v[2] = QByteArray();  // empty, not NULL
        // v[3..19] NULL
        const QByteArray line = exportLine(v, ',');
        QVERIFY(line.startsWith("\"a\"b\",\"x,y\",\"\",\"\","));
        QVERIFY(line.endsWith("\"\"\n"));
        QCOMPARE(line.count('\n'), 1);
        QCOMPARE(line.count(','), 19 + 1);  // 19 separators and the one inside a value
    }

    void reimportOfUnescapedValues_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("survives");
        QTest::newRow("plain") << "Bonn" << true;
        QTest::newRow("delimiter inside") << "Smith, J" << true;
        QTest::newRow("single quote inside") << "12\" screen" << true;
        QTest::newRow("quote before the delimiter") << "say \",x" << false;
        QTest::newRow("line break") << "two\nlines" << false;
    }
    void reimportOfUnescapedValues() {
        // What the import makes of an exported line: values with a quote right before a
        // delimiter, or with a line break, do not come back as they were.
        QFETCH(QString, value);
        QFETCH(bool, survives);
        ExportValues v;
        v[0] = QByteArray("a@x");
        v[1] = value.toUtf8();
        const QByteArray line = exportLine(v, ',');
        const QList<QByteArray> lines = line.split('\n');
        const QStringList fields = splitFields(QString::fromUtf8(lines[0]), u',');
        const bool same = fields.size() == 20 && fields[1] == value;
        QCOMPARE(same, survives);
    }

    void captionsAreUtf8() {
        QStringList captions{"メール", "Name"};
        const QByteArray line = captionLine(captions, '\t');
        QVERIFY(line.startsWith(QStringLiteral("\"メール\"\t\"Name\"\t").toUtf8()));
        QCOMPARE(line.count('\t'), 19);
    }

    void noDatabaseGivesOnlyTheCaptionLine() {
        test::TestEnv env;
        const QString path = env.root() + "out.csv";
        QVERIFY(test::writeFile(path, QByteArray(5000, 'x')));
        QCOMPARE(exportDatabase({path, ','}, {"A", "B"}, true, nullptr), ExportOutcome::Written);
        const QByteArray bytes = test::readFile(path);
        QVERIFY(bytes.startsWith("\"A\",\"B\",\"\""));
        QCOMPARE(bytes.count('\n'), 1);
        QVERIFY(!bytes.contains('x'));
        QCOMPARE(exportDatabase({path, ','}, {"A"}, false, nullptr), ExportOutcome::Written);
        QCOMPARE(test::readFile(path).size(), 0);
    }

    void unwritableTargetIsTold() {
        test::ScriptedUserInteraction ui;
        QCOMPARE(exportDatabaseCommand("/nonexistent-folder/x.csv", {}, true, nullptr, ui),
                 ExportOutcome::CannotCreate);
        QCOMPARE(ui.asked().size(), 1);
    }

    void mailTextHasCrLfAndTxt() {
        test::TestEnv env;
        test::ScriptedUserInteraction ui;
        const auto path = exportMailText(env.root() + "mail.doc", "Hello\nさようなら\r\nend", ui);
        QVERIFY(path);
        QCOMPARE(*path, env.root() + "mail.txt");
        QCOMPARE(test::readFile(*path), QStringLiteral("Hello\r\nさようなら\r\nend").toUtf8());
    }

    void htmlFolderCopyReplacesAndStaysInside() {
        test::TestEnv env;
        const QString preview = env.makeFolder("preview");
        const QString chosen = env.makeFolder("chosen");
        QVERIFY(test::writeFile(preview + "index.html", "<html>1</html>"));
        QVERIFY(test::writeFile(preview + "pic.jpg", "JPEG"));
        QDir().mkpath(preview + "sub");
        QVERIFY(test::writeFile(preview + "sub/skip.txt", "no"));
        test::ScriptedUserInteraction ui;
        QVERIFY(exportHtmlMail(chosen, "Spring", preview, ui));
        QCOMPARE(ui.asked().back().text, QStringLiteral("Export completed."));
        QCOMPARE(test::readFile(chosen + "Spring/index.html"), QByteArray("<html>1</html>"));
        QVERIFY(!QFile::exists(chosen + "Spring/sub"));
        // A second export into the same folder replaces the files.
        QVERIFY(test::writeFile(preview + "index.html", "<html>2</html>"));
        QVERIFY(exportHtmlMail(chosen, "Spring", preview, ui));
        QCOMPARE(test::readFile(chosen + "Spring/index.html"), QByteArray("<html>2</html>"));
        // A template name that climbs out of the folder is refused.
        ui.clear();
        QVERIFY(!exportHtmlMail(chosen, "../escape", preview, ui));
        QCOMPARE(ui.asked().size(), 1);
        QCOMPARE(ui.asked()[0].text, QStringLiteral("Cannot create folder."));
        QCOMPARE(ui.asked()[0].caption, QStringLiteral("Export HTML Mail"));
        QVERIFY(!QFile::exists(env.root() + "escape"));
    }
};

QTEST_GUILESS_MAIN(TestExportFiles)
#include "test_export_files.moc"
