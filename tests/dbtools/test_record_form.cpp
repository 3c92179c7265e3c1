// The record form on the real editor: add and edit mode, the limits, automatic grouping.
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "EditorFixture.h"
#include "dbtools/gui/AddR.h"
#include "dbtools/gui/d_EditDialog.h"
#include "resources/Strings.h"

using namespace pw;
using namespace pw::dbtools;
using pw::test::DbWorld;
using pw::test::queryColumn;
using pw::test::Seen;

class TestRecordForm : public QObject {
    Q_OBJECT
    std::unique_ptr<DbWorld> w;
    std::unique_ptr<d_EditDialog> dlg;
    db::TDbData& s() { return *w->store; }
    QStringList main(const QString& sql) { return queryColumn(s(), sql, Seen::InMainTransaction); }
    RecordGridModel& grid() { return dlg->session().grid(); }

    void open(int records, AutoGroupSetting grouping = {}) {
        dlg.reset();
        w = std::make_unique<DbWorld>();
        QVERIFY(w->createAndOpen());
        test::fillRecords(s(), records);
        EditorOptions o;
        o.grouping = grouping;
        dlg = std::make_unique<d_EditDialog>(s(), w->ui, o);
    }
    static void type(AddR& f, int field, const QString& text) { f.edit(field)->setText(text); }

private slots:
    void cleanup() {
        dlg.reset();
        w.reset();
    }

    void addModeAppendsSelectedUnsentRecords() {
        open(0);
        AddR form(dlg->session(), RecordFormMode::Add);
        QCOMPARE(form.windowTitle(), "Add Data");
        QCOMPARE(form.findChild<QPushButton*>("button1030")->text(), "Add Another");
        QVERIFY(form.findChild<QPushButton*>("button1030")->isDefault());
        type(form, 0, "first@x");
        type(form, 1, QString::fromUtf8("山田"));
        QVERIFY(form.nextOne());
        QCOMPARE(form.edit(0)->text(), QString());  // empty for the next one
        type(form, 0, "second@x");
        QVERIFY(form.nextOne());
        form.reject();  // Cancel keeps what was added
        QCOMPARE(main("select ID || ' ' || SENDED || ' ' || SENDING || ' ' || ADDRESS || ' ' || "
                      "coalesce(FIELD20, 'null') from MAILS order by ID"),
                 QStringList({"1 0 1 first@x ", "2 0 1 second@x "}));
        QCOMPARE(grid().rowCount(), 2);
        QCOMPARE(grid().gridText(1, 2), "second@x");
        QCOMPARE(dlg->session().cursorRow(), 1);
        QVERIFY(grid().gridChecked(1, 1));
        QVERIFY(!grid().gridChecked(1, 0));

        // The ID after the highest one: a deleted last record's ID is given again.
        s().Records().DeleteRecord(-1, 2);
        AddR again(dlg->session(), RecordFormMode::Add);
        type(again, 0, "third@x");
        QVERIFY(again.done());
        QCOMPARE(main("select ID from MAILS where ADDRESS = 'third@x'"), QStringList{"2"});
    }

    void theRecordLimit_data() {
        QTest::addColumn<int>("limit");  // 0: the default
        QTest::addColumn<int>("records");
        QTest::newRow("the default") << 0 << 20000;
        QTest::newRow("raised by one") << 20001 << 20001;
    }
    void theRecordLimit() {
        QFETCH(int, limit);
        QFETCH(int, records);
        open(19999);
        if (limit > 0)
            s().SetRecordLimit(limit);
        AddR form(dlg->session(), RecordFormMode::Add);
        type(form, 0, "last@x");
        QVERIFY(form.nextOne());
        QCOMPARE(main("select count(*) from MAILS"), QStringList{"20000"});
        // Added while the list was read in part: the rest of the list comes before it.
        dlg->session().fetchAllRows();
        QCOMPARE(grid().rowCount(), 20000);
        QCOMPARE(grid().gridText(19999, 2), "last@x");
        type(form, 0, "one more@x");
        QCOMPARE(form.nextOne(), records > 20000);
        QCOMPARE(w->ui.askedTexts(), records > 20000
                                         ? QStringList()
                                         : QStringList{str(ids::kRecordLimitReached).arg(20000)});
        QCOMPARE(main("select count(*) from MAILS"), QStringList{QString::number(records)});
        QCOMPARE(grid().rowCount(), records);
    }

    void lengthIsCheckedBeforeAnythingIsWritten_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("saved");
        QTest::newRow("exactly the field length") << QString(100, 'a') << true;
        QTest::newRow("one character more") << QString(101, 'a') << false;
        QTest::newRow("few characters, too many bytes") << QString(34, QChar(0x5C71)) << false;
    }
    void lengthIsCheckedBeforeAnythingIsWritten() {
        QFETCH(QString, text);
        QFETCH(bool, saved);
        open(0);
        AddR form(dlg->session(), RecordFormMode::Add);
        form.show();
        type(form, 0, "valid@x");
        type(form, 7, text);
        QCOMPARE(form.done(), saved);
        QCOMPARE(main("select count(*) from MAILS"), QStringList{saved ? "1" : "0"});
        if (!saved) {
            QCOMPARE(w->ui.askedTexts(), QStringList{str(ids::kDbFieldTooLong)});
            QCOMPARE(form.focusWidget(), form.edit(7));
            QCOMPARE(form.edit(7)->selectedText(), text);
        }
    }

    void editModeStepsFromTheCursor() {
        open(5);
        dlg->session().setCursor(2, 4);
        AddR form(dlg->session(), RecordFormMode::Edit);
        QCOMPARE(form.windowTitle(), "Edit Database");
        QPushButton* next = form.findChild<QPushButton*>("button1030");
        QCOMPARE(next->text(), "Next Record");
        QCOMPARE(form.edit(0)->text(), "m3@example.jp");
        type(form, 1, "Third");
        QVERIFY(form.nextOne());
        QCOMPARE(dlg->session().cursorRow(), 3);
        QCOMPARE(form.edit(1)->text(), "Name 4");
        QVERIFY(form.nextOne());  // unchanged: saved as it is
        QCOMPARE(form.edit(1)->text(), "Name 5");
        // The last row: "Next Record" is off and Enter means "Done".
        QVERIFY(!next->isEnabled());
        QVERIFY(form.findChild<QPushButton*>("done")->isDefault());
        QVERIFY(!form.nextOne());
        type(form, 2, "changed");
        QVERIFY(form.done());
        QCOMPARE(main("select coalesce(NAME, '') || '/' || coalesce(FIELD3, '') || '/' || SENDED "
                      "from MAILS order by ID"),
                 QStringList({"Name 1/city1/0", "Name 2/city2/0", "Third/city3/0", "Name 4//0",
                              "Name 5/changed/1"}));
        QCOMPARE(grid().gridText(2, 3), "Third");  // the grid shows it at once
        QCOMPARE(grid().gridText(4, 4), "changed");
    }

    void automaticGroupingOnSave() {
        open(2, AutoGroupSetting{true, 1});
        const int g = s().Groups().AddGroup(QStringLiteral("O'Brien's"));
        AddR form(dlg->session(), RecordFormMode::Add);
        type(form, 0, "ob@x");
        type(form, 1, QStringLiteral("O'Brien's"));
        QVERIFY(form.nextOne());
        type(form, 0, "nobody@x");
        type(form, 1, QStringLiteral("no such group"));
        QVERIFY(form.done());
        QCOMPARE(main(QStringLiteral("select IDMAIL from GROUP_MAIL where IDGROUP = %1").arg(g)),
                 QStringList{"3"});
        // Edited records are grouped too; grouping off does nothing.
        dlg->session().setCursor(0, 2);
        AddR edit(dlg->session(), RecordFormMode::Edit);
        type(edit, 1, QStringLiteral("O'Brien's"));
        QVERIFY(edit.done());
        QCOMPARE(main("select count(*) from GROUP_MAIL"), QStringList{"2"});
        QCOMPARE(AutoAssignRecord(s(), {true, -1}, 2, {}), -1);
    }
};

QTEST_MAIN(TestRecordForm)
#include "test_record_form.moc"
