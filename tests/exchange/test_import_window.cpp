// "Import DataBase...", "Export DataBase..." and "Export Mail..." through the main window and
// the real import windows, on files the test writes, into the real embedded database.
#include <xlsxwriter.h>

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QProcess>
#include <QProgressBar>
#include <QTabWidget>
#include <QTableView>

#include "../app/MainWindowFixture.h"
#include "DbFixture.h"
#include "IcuEncode.h"
#include "dbtools/gui/d_EditDialog.h"
#include "resources/Strings.h"

using namespace pw;
using pw::test::encodeWithIcu;
using pw::test::MainWindowFixture;
using pw::test::queryColumn;
using pw::test::Seen;

namespace {

void press(QWidget* dialog, QDialogButtonBox::StandardButton which) {
    dialog->findChild<QDialogButtonBox*>("buttonBox")->button(which)->click();
}

// What a test does in "Select Data to Import" and "DataBase Contents".
struct ImportScript {
    bool selectAll = true;
    bool firstRecord = false;
    int encodingItem = -1;  // an item of the encoding list to choose first
    int moveColumn = -1;    // a column moved one to the right
    bool openAfter = false;
    bool cancelContents = false;
    // read back from the windows
    QString encodingShown;
    QStringList items;
    QString notice;
    QStringList headings;
    QString title;
    QString contentsTitle;
    bool contentsShown = false;
    bool headingsCut = false;  // a column narrower than its heading
    bool progressFull = false;
};

}  // namespace

class TestImportWindow : public QObject {
    Q_OBJECT
    std::unique_ptr<MainWindowFixture> f;
    std::unique_ptr<QTemporaryDir> dir;
    db::TDbData& s() { return f->session->store(); }
    QStringList main(const QString& sql) { return queryColumn(s(), sql, Seen::InMainTransaction); }
    QString file(const QString& name, const QByteArray& bytes) {
        const QString path = dir->filePath(name);
        (void)test::writeFile(path, bytes);
        return path;
    }

    QList<QPointer<QTimer>> m_watches;
    void watch(ImportScript& script) {
        m_watches << MainWindowFixture::whenModal("d_DatabaseImport", [this, &script](QWidget* d) {
            script.title = d->windowTitle();
            auto* encoding = d->findChild<QComboBox*>("encoding");
            if (script.encodingItem >= 0)
                encoding->activated(script.encodingItem);
            script.encodingShown = encoding->isVisible() ? encoding->currentText() : QString();
            auto* list = d->findChild<QListView*>("list");
            QAbstractItemModelTester tester(list->model(),
                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
            script.items.clear();
            for (int r = 0; r < list->model()->rowCount(); ++r)
                script.items << list->model()->index(r, 0).data().toString();
            auto* notice = d->findChild<QLabel*>("notice");
            script.notice = notice->isVisible() ? notice->text() : QString();
            if (script.selectAll)
                d->findChild<QPushButton*>("selectAll")->click();
            d->findChild<QCheckBox*>("firstRecord")->setChecked(script.firstRecord);
            press(d, QDialogButtonBox::Ok);
            if (!script.contentsShown)
                d->close();  // refused: the dialog stays until told otherwise
        });
        m_watches << MainWindowFixture::whenModal(
            "d_DataBaseImportContents", [&script](QWidget* d) {
                script.contentsShown = true;
                script.contentsTitle = d->windowTitle();
                auto* preview = d->findChild<QTableView*>("preview");
                QAbstractItemModelTester tester(
                    preview->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
                script.headings.clear();
                for (int c = 0; c < preview->model()->columnCount(); ++c) {
                    script.headings << preview->model()->headerData(c, Qt::Horizontal).toString();
                    script.headingsCut |=
                        preview->columnWidth(c) < preview->horizontalHeader()->sectionSizeHint(c);
                }
                auto* bar = d->findChild<QProgressBar*>("progress");
                script.progressFull = bar->value() == bar->maximum();
                if (script.moveColumn >= 0 && preview->model()->rowCount() > 0) {
                    const QRect r =
                        preview->visualRect(preview->model()->index(0, script.moveColumn));
                    QTest::mouseClick(preview->viewport(), Qt::LeftButton, {}, r.center());
                    d->findChild<QPushButton*>("moveRight")->click();
                }
                d->findChild<QCheckBox*>("openAfter")->setChecked(script.openAfter);
                press(d, script.cancelContents ? QDialogButtonBox::Cancel : QDialogButtonBox::Ok);
            });
    }
    void runImport(const QString& path, ImportScript& script) {
        f->ui.scriptFiles({{path}});
        watch(script);
        f->command(app::cmd::kImportDatabase)->trigger();
        // A window the import did not show must not be answered for a later test.
        for (const QPointer<QTimer>& t : std::exchange(m_watches, {}))
            delete t.data();
    }

private slots:
    void init() {
        setLanguage(Language::English);
        f = std::make_unique<MainWindowFixture>("[SETUP]\r\nOpenDatabaseAfterImport=0\r\n");
        QVERIFY(f->open());
        dir = std::make_unique<QTemporaryDir>();
    }
    void cleanup() {
        setLanguage(Language::English);
        f.reset();
        dir.reset();
    }

    void commandsAreOn() {
        for (int id : {app::cmd::kImportDatabase, app::cmd::kExportDatabase, app::cmd::kExportMail})
            QVERIFY(f->command(id)->isEnabled());
    }

    void shiftJisKeepsEveryCharacter_data() {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("shown");
        QTest::newRow("Japanese user") << int(Language::Japanese) << "Shift_JIS (CP932) (自動判定)";
        QTest::newRow("English user, chosen by hand")
            << int(Language::English) << "Shift_JIS (CP932)";
    }
    void shiftJisKeepsEveryCharacter() {
        QFETCH(int, language);
        QFETCH(QString, shown);
        setLanguage(Language(language));
        const QString name = QStringLiteral("髙橋 ①㈱ ｶﾀｶﾅ");
        const QByteArray bytes = encodeWithIcu("windows-31j", "taro@example.jp," + name + "\r\n");
        QVERIFY(!bytes.isEmpty());
        ImportScript script;
        if (Language(language) == Language::English)
            script.encodingItem = 2;  // the file is not Windows-1252: the user says what it is
        runImport(file("sjis.csv", bytes), script);
        QCOMPARE(script.encodingShown, shown);
        QCOMPARE(script.items, (QStringList{"taro@example.jp", name}));
        QCOMPARE(main("select NAME from MAILS"), QStringList{name});
        QCOMPARE(main("select SENDING from MAILS"), QStringList{"1"});
        QVERIFY(!script.headingsCut);
        QVERIFY(script.progressFull);
    }

    void utf8SignatureIsNoData() {
        ImportScript script;
        runImport(file("bom.csv", "\xEF\xBB\xBFhanako@example.jp,山田\n"), script);
        QCOMPARE(script.encodingShown, "UTF-8 (detected)");
        QCOMPARE(main("select ADDRESS from MAILS"), QStringList{"hanako@example.jp"});
        QCOMPARE(main("select NAME from MAILS"), QStringList{"山田"});
    }

    void firstRecordNamesFieldsAndColumnsMove() {
        ImportScript script;
        script.firstRecord = true;
        script.moveColumn = 0;
        runImport(file("named.csv", "Name,Mail\n鈴木,s@example.jp\n佐藤,t@example.jp\n"), script);
        QCOMPARE(script.headings.mid(0, 3), (QStringList{"Name", "Mail", "field3"}));
        // The values of the first two columns changed places, and their headings with them.
        QCOMPARE(main("select ADDRESS from MAILS order by ID"),
                 (QStringList{"s@example.jp", "t@example.jp"}));
        QCOMPARE(main("select NAME from MAILS order by ID"), (QStringList{"鈴木", "佐藤"}));
        QCOMPARE(main("select FIELD3 from MAILS order by ID"), (QStringList{"", ""}));
        QCOMPARE(s().FieldCaptions().Captions()[0], "Mail");
        QCOMPARE(s().FieldCaptions().Captions()[1], "Name");
    }

    void workbookSheetChosen() {
        const QString path = dir->filePath("two.xlsx");
        lxw_workbook* wb = workbook_new(path.toLocal8Bit().constData());
        lxw_worksheet* a = workbook_add_worksheet(wb, "Erste");
        lxw_worksheet* b = workbook_add_worksheet(wb, "二番目");
        worksheet_write_string(a, 0, 0, "first@example.jp", nullptr);
        worksheet_write_string(b, 0, 0, "second@example.jp", nullptr);
        worksheet_write_number(b, 0, 1, 12.7, nullptr);
        QCOMPARE(workbook_close(wb), LXW_NO_ERROR);
        QStringList sheets;
        MainWindowFixture::whenModal("d_SelectWorksheet", [&](QWidget* d) {
            auto* list = d->findChild<QComboBox*>("sheets");
            for (int i = 0; i < list->count(); ++i)
                sheets << list->itemText(i);
            list->setCurrentIndex(1);
            press(d, QDialogButtonBox::Ok);
        });
        ImportScript script;
        runImport(path, script);
        QCOMPARE(sheets, (QStringList{"Erste", "二番目"}));
        QCOMPARE(script.encodingShown, QString());
        QCOMPARE(main("select ADDRESS || '|' || NAME from MAILS"),
                 QStringList{"second@example.jp|12.7"});  // as the sheet shows it
    }

    void legacyWorkbook() {
        const QString path = dir->filePath("old.xls");
        QProcess perl;
        perl.start("/usr/bin/perl",
                   {"-e",
                    "use Spreadsheet::WriteExcel; my $wb = Spreadsheet::WriteExcel->new($ARGV[0]); "
                    "my $s = $wb->add_worksheet('S'); $s->write_string(0, 0, 'old@example.jp'); "
                    "$s->write_string(0, 1, '007'); $wb->close();",
                    path});
        QVERIFY(perl.waitForFinished(60000) && perl.exitCode() == 0);
        ImportScript script;
        runImport(path, script);
        QCOMPARE(script.items, (QStringList{"old@example.jp", "007"}));
        QCOMPARE(main("select NAME from MAILS"), QStringList{"007"});
    }

    void recordLimitStopsThePreview() {
        pw::test::execute(
            s(),
            "execute block as declare i int = 1; begin while (i <= 19999) do begin insert into "
            "MAILS (ID, SENDED, SENDING, ADDRESS) values (:i, 0, 0, 'x' || :i); i = i + 1; end "
            "end");
        QVERIFY(s().Save(db::SaveMode::Retaining));
        ImportScript script;
        runImport(file("three.csv", "a@x.jp\nb@x.jp\nc@x.jp\n"), script);
        QVERIFY(f->ui.askedTexts().contains(str(ids::kImportLimitReached).arg("20000", "1")));
        QCOMPARE(main("select count(*) from MAILS"), QStringList{"20000"});
        QCOMPARE(main("select ADDRESS from MAILS where ID = 20000"), QStringList{"a@x.jp"});
    }

    void badInput_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        QTest::newRow("NUL byte") << "nul.csv" << QByteArray("a@x.jp,b\0c\nd@x.jp,e\n", 20)
                                  << "The file contains NUL characters when read as UTF-8, so "
                                     "it is not a text file that can be imported. Nothing was "
                                     "imported.";
        QTest::newRow("not a workbook") << "fake.xlsx" << QByteArray("a,b\nc,d\n")
                                        << "The file is not an Excel workbook, or it is damaged.";
        QTest::newRow("300 MB") << "huge.csv" << QByteArray() << "The file is too large to import.";
    }
    void badInput() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        QString path = file(name, bytes);
        if (bytes.isEmpty()) {
            QFile big(path);
            QVERIFY(big.open(QIODevice::WriteOnly));
            QVERIFY(big.resize(300LL * 1024 * 1024));  // sparse: no disk used
        }
        ImportScript script;
        runImport(path, script);
        QVERIFY2(f->ui.askedTexts().contains(message), qPrintable(f->ui.askedTexts().join('|')));
        QVERIFY(script.items.isEmpty());
        QCOMPARE(main("select count(*) from MAILS"), QStringList{"0"});
    }

    void unevenLinesAreShownAndImported() {
        ImportScript script;
        runImport(file("uneven.csv", "a@x.jp\nb@x.jp,B\nc@x.jp,C,3\n"), script);
        QCOMPARE(script.notice,
                 "The lines of the file have different numbers of fields (from 1 to 3). Only the "
                 "fields of the first line can be imported; check that the columns line up "
                 "before importing.");
        // Every line is stored, with the fields the first line offered.
        QCOMPARE(main("select ADDRESS || '|' || NAME from MAILS order by ID"),
                 (QStringList{"a@x.jp|", "b@x.jp|", "c@x.jp|"}));
    }

    void autoGroupChosenInTheEditorGroupsTheImport() {
        // The rule is set where users set it, in the editor's "Auto Group"; the import after
        // the editor closed puts each record into the group its NAME names.
        pw::test::execute(s(),
                          "insert into GROUPS (ID, NAME, NOTES) values (7, 'O''Neil Team', '')");
        QVERIFY(s().Save(db::SaveMode::Retaining));
        f->ui.script({Answer::No});  // group the existing records now: there are none
        MainWindowFixture::whenModal("d_EditDialog", [](QWidget* editor) {
            MainWindowFixture::whenModal("d_AutoGroup", [](QWidget* d) {
                d->findChild<QCheckBox*>("autoGroupOn")->setChecked(true);
                d->findChild<QComboBox*>("fieldList")->setCurrentIndex(1);
                press(d, QDialogButtonBox::Ok);
            });
            static_cast<dbtools::d_EditDialog*>(editor)->run(
                dbtools::d_EditDialog::Command::AutoGroup);
            editor->findChild<QPushButton*>("close1153")->click();
        });
        f->command(app::cmd::kEditDatabase)->trigger();
        QCOMPARE(f->session->settings().autoGroupEnabled, 1);
        QCOMPARE(f->session->settings().autoGroupField, 1);
        ImportScript script;
        runImport(file("teams.csv", "a@x.jp,O'Neil Team\nb@x.jp,Other\nc@x.jp,O'Neil Team\n"),
                  script);
        QCOMPARE(main("select count(*) from MAILS"), QStringList{"3"});
        QCOMPARE(main("select m.ADDRESS from MAILS m join GROUP_MAIL g on g.IDMAIL = m.ID "
                      "where g.IDGROUP = 7 order by m.ADDRESS"),
                 (QStringList{"a@x.jp", "c@x.jp"}));
    }

    void cancelledStoringAddsNothing() {
        QByteArray csv;
        for (int i = 1; i <= 20000; ++i)
            csv +=
                "r" + QByteArray::number(i) + "@example.jp,Person " + QByteArray::number(i) + "\n";
        f->ui.cancelProgressAt(5000);
        ImportScript script;
        runImport(file("many.csv", csv), script);
        QVERIFY(f->ui.askedTexts().contains(
            "The import was cancelled. Nothing of this import was added."));
        QCOMPARE(main("select count(*) from MAILS"), QStringList{"0"});
    }

    void cancelStoresNothingAndKeepsTheSetting() {
        ImportScript script;
        script.cancelContents = true;
        runImport(file("x.csv", "a@x.jp\n"), script);
        QVERIFY(script.contentsShown);
        QCOMPARE(main("select count(*) from MAILS"), QStringList{"0"});
        // Nothing chosen at all: nothing asked, nothing stored.
        ImportScript none;
        none.selectAll = false;
        f->ui.clear();
        runImport(file("y.csv", "a@x.jp\n"), none);
        QCOMPARE(f->ui.askedTexts(), QStringList{"Please choose the items to import."});
        QVERIFY(!none.contentsShown);
    }

    void japaneseTitles() {
        setLanguage(Language::Japanese);
        ImportScript script;
        runImport(file("j.csv", "a@x.jp\n"), script);
        QCOMPARE(script.title, "インポートするデータの選択");
        QCOMPARE(script.contentsTitle, "データベースの内容");
    }

    // ---- export ----

    void exportDatabaseReadsBack_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("written");
        QTest::addColumn<char>("delimiter");
        QTest::newRow("CSV") << "out.csv"
                             << "out.csv" << ',';
        QTest::newRow("TAB") << "out.TXT"
                             << "out.TXT" << '\t';
        QTest::newRow("dat becomes csv") << "out.dat"
                                         << "out.csv" << ',';
    }
    void exportDatabaseReadsBack() {
        QFETCH(QString, name);
        QFETCH(QString, written);
        QFETCH(char, delimiter);
        test::insertRecord(s(), 1, 0, 1, {"a@x.jp", "髙橋 \"Q\""});
        f->ui.scriptFiles({{dir->filePath(name)}});
        f->command(app::cmd::kExportDatabase)->trigger();
        const QByteArray out = test::readFile(dir->filePath(written));
        const QList<QByteArray> lines = out.split('\n');
        QCOMPARE(lines.size(), 3);  // captions, the record, nothing after the last LF
        QCOMPARE(lines[0].split(delimiter).size(), 20);
        QCOMPARE(lines[1].split(delimiter).value(0), "\"a@x.jp\"");
        QCOMPARE(QString::fromUtf8(lines[1].split(delimiter).value(1)), "\"髙橋 \"Q\"\"");
        QCOMPARE(f->ui.filesAsked().value(0).caption, "Export Database");
    }

    void exportMailAsTextAndHtml() {
        f->window->textBody()->setPlainText("一行目\n二行目");
        f->ui.scriptFiles({{dir->filePath("mail.dat")}});
        f->command(app::cmd::kExportMail)->trigger();
        QCOMPARE(test::readFile(dir->filePath("mail.txt")), QString("一行目\r\n二行目").toUtf8());
        // The HTML tab with a template name: the preview folder is copied.
        const QString preview = f->folders.mainPreviewFolder();
        QVERIFY(test::writeFile(preview + "index.html", "<html>x</html>"));
        QVERIFY(test::writeFile(preview + "pic.png", "png"));
        f->session->document().htmlTemplateName = "Spring";
        f->find<QTabWidget>("mailTabs")->setCurrentIndex(1);
        f->ui.scriptFiles({{dir->path()}});
        f->command(app::cmd::kExportMail)->trigger();
        QCOMPARE(test::readFile(dir->filePath("Spring/index.html")), "<html>x</html>");
        QCOMPARE(test::readFile(dir->filePath("Spring/pic.png")), "png");
        QVERIFY(f->ui.askedTexts().contains("Export completed."));
    }
};

QTEST_MAIN(TestImportWindow)
#include "test_import_window.moc"
