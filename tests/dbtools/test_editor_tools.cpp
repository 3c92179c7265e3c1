// The editor's tools on real widgets over the real embedded database: duplicates, address
// checks, find and replace, groups and automatic grouping.
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QtTest>

#include "EditorFixture.h"
#include "RawStatement.h"
#include "WidgetTestSupport.h"
#include "dbtools/EditorTools.h"
#include "dbtools/StoreQuestions.h"
#include "dbtools/gui/d_EditDialog.h"
#include "resources/Strings.h"

using namespace pw;
using namespace pw::dbtools;
using C = d_EditDialog::Command;
using pw::test::child;
using pw::test::DbWorld;
using pw::test::insertRecord;
using pw::test::queryColumn;
using pw::test::Seen;

namespace {

// Runs act on the next modal dialog (the command that opens it blocks until it closes).
template <typename F>
void whenModal(F act) {
    pw::test::whenModal<QDialog>(act);
}

}  // namespace

class TestEditorTools : public QObject {
    Q_OBJECT
    std::unique_ptr<DbWorld> w;
    std::unique_ptr<d_EditDialog> dlg;
    db::TDbData& s() { return *w->store; }
    QStringList main(const QString& sql) { return queryColumn(s(), sql, Seen::InMainTransaction); }

    // A fresh database with the records (ID i+1, fields of the row) and the editor over it.
    void open(const QList<QStringList>& records, int fieldSize = 100) {
        dlg.reset();
        w = std::make_unique<DbWorld>();
        QVERIFY(w->createAndOpen(fieldSize));
        for (int i = 0; i < records.size(); ++i)
            insertRecord(s(), i + 1, 0, 1, records[i]);
        QVERIFY(s().Save(db::SaveMode::Retaining));
        dlg = std::make_unique<d_EditDialog>(s(), w->ui, EditorOptions{});
        dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
        w->ui.clear();
    }
    void cursor(int row, int column) { dlg->session().setCursor(row, column); }
    QStringList ids() { return main("select ID from MAILS order by ID"); }

private slots:
    void cleanup() {
        setLanguage(Language::English);
        dlg.reset();
        w.reset();
    }

    // ---- duplicates ----

    void duplicateWindowListsSharedValues_data() {
        QTest::addColumn<QStringList>("addresses");  // "<null>" for NULL
        QTest::addColumn<bool>("asAddresses");       // the comparison chosen
        QTest::addColumn<QStringList>("listed");     // IDs in list order
        QTest::addColumn<QList<int>>("runs");
        QTest::newRow("three equal") << QStringList{"a@x.jp", "b@x.jp", "a@x.jp", "a@x.jp"} << false
                                     << QStringList{"1", "3", "4"} << QList<int>{0, 0, 0};
        QTest::newRow("case differs")
            << QStringList{"A@x.jp", "a@x.jp"} << false << QStringList{} << QList<int>{};
        QTest::newRow("empty and NULL are no value")
            << QStringList{"", "", "<null>", "<null>", "c@x.jp", "c@x.jp"} << false
            << QStringList{"5", "6"} << QList<int>{0, 0};
        QTest::newRow("Japanese and accented, two runs")
            << QStringList{"髙橋", "高橋", "髙橋", "José", "José", "Jose"} << false
            << QStringList{"4", "5", "1", "3"} << QList<int>{0, 0, 1, 1};
        QTest::newRow("trailing blank is another value")
            << QStringList{"a", "a ", "b", "b"} << false << QStringList{"3", "4"}
            << QList<int>{0, 0};
        QTest::newRow("none") << QStringList{"a", "b"} << false << QStringList{} << QList<int>{};
        QTest::newRow("as addresses: domain case and blanks")
            << QStringList{"USER007@Example.COM", "user007@example.com", " USER007@example.com  ",
                           "x@y.jp"}
            << true << QStringList{"1", "3"} << QList<int>{0, 0};
        QTest::newRow("as addresses: the name part keeps its case")
            << QStringList{"Taro@X.JP", "taro@x.jp", "髙@X.jp", "髙@x.JP"} << true
            << QStringList{"3", "4"} << QList<int>{0, 0};
    }
    void duplicateWindowListsSharedValues() {
        QFETCH(QStringList, addresses);
        QFETCH(bool, asAddresses);
        QFETCH(QStringList, listed);
        QFETCH(QList<int>, runs);
        QList<QStringList> records;
        for (const QString& a : addresses)
            records << QStringList{a == "<null>" ? QString() : a};
        open(records);
        cursor(0, 2);
        const QString comparison =
            str(asAddresses ? ids::kCompareAsAddresses : ids::kCompareExactly);
        w->ui.scriptChoices({comparison});
        QStringList seen;
        QList<int> seenRuns;
        whenModal([&](QDialog* d) {
            QCOMPARE(d->windowTitle(), "Find Duplicate Data");
            auto* list = child<QTableView>(d, "list1043");
            QAbstractItemModelTester tester(list->model(),
                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
            for (int r = 0; r < list->model()->rowCount(); ++r) {
                seen
                    << list->model()->index(r, 0).data(DuplicateListModel::RecordIdRole).toString();
                seenRuns << list->model()->index(r, 2).data(DuplicateListModel::KeyRunRole).toInt();
            }
            if (!seenRuns.isEmpty())
                QCOMPARE(list->model()->index(0, 2).data(Qt::BackgroundRole).value<QColor>(),
                         QColor(0, 255, 0));
            child<QPushButton>(d, "cancelButton")->click();
        });
        dlg->run(C::FindDuplicates);
        QCOMPARE(seen, listed);
        QCOMPARE(seenRuns, runs);
    }

    void deletingInTheWindowSearchesAgain() {
        open({{"a@x.jp"}, {"a@x.jp"}, {"b@x.jp"}, {"b@x.jp"}, {"b@x.jp"}});
        cursor(0, 2);
        int rowsAfter = -1;
        whenModal([&](QDialog* d) {
            auto* list = child<QTableView>(d, "list1043");
            QCOMPARE(list->model()->rowCount(), 5);
            // A click on the flag columns marks nothing.
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualRect(list->model()->index(0, 0)).center());
            child<QPushButton>(d, "deleteButton")->click();
            QCOMPARE(list->model()->rowCount(), 5);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualRect(list->model()->index(0, 3)).center());
            child<QPushButton>(d, "deleteButton")->click();
            // Record 1 went, and record 2 has no duplicate any more.
            rowsAfter = list->model()->rowCount();
            d->reject();
        });
        dlg->run(C::FindDuplicates);
        QCOMPARE(rowsAfter, 3);
        QCOMPARE(ids(), (QStringList{"2", "3", "4", "5"}));
        QVERIFY(s().IsModified());
    }

    void deleteAllKeepsOneOfEachAndDiscardUndoes() {
        open({{"a@x.jp"},
              {"b@x.jp"},
              {"a@x.jp"},
              {QString()},
              {QString()},
              {""},
              {""},
              {"髙@x.jp"},
              {"髙@x.jp"},
              {"a@x.jp"}});
        pw::test::execute(s(), "insert into GROUPS (ID, NAME, NOTES) values (1, 'G', '')");
        pw::test::execute(s(), "insert into GROUP_MAIL (IDGROUP, IDMAIL) values (1, 3)");
        cursor(0, 2);
        const QString exactly = str(ids::kCompareExactly);
        w->ui.scriptChoices({exactly, exactly});
        w->ui.script({Answer::Yes});
        dlg->run(C::DeleteDuplicates);
        QCOMPARE(w->ui.askedTexts().last(), "Duplicate data has been deleted.");
        // The oldest of each value stays; NULL and empty values are not shared values.
        QCOMPARE(ids(), (QStringList{"1", "2", "4", "5", "6", "7", "8"}));
        QCOMPARE(main("select count(*) from GROUP_MAIL"), QStringList{"0"});
        QCOMPARE(dlg->session().grid().rowCount(), 7);
        // Nothing is saved yet: discarding brings every record back.
        QCOMPARE(queryColumn(s(), "select count(*) from MAILS"), QStringList{"10"});
        w->ui.script({Answer::No});
        QVERIFY(dbtools::ConfirmClose(s(), w->ui));
        QCOMPARE(main("select count(*) from MAILS"), QStringList{"10"});
        // The procedure carries the body of the removal once saved.
        cursor(0, 2);
        w->ui.script({Answer::Yes});
        dlg->run(C::DeleteDuplicates);
        QVERIFY(s().Save(db::SaveMode::Retaining));
        const QStringList body = queryColumn(
            s(),
            "select cast(RDB$PROCEDURE_SOURCE as varchar(4000)) from RDB$PROCEDURES where "
            "RDB$PROCEDURE_NAME = 'AUTODELDUBLIC'");
        QVERIFY2(body.value(0).contains("FOR SELECT ID, ADDRESS FROM MAILS"),
                 qPrintable(body.value(0)));
        QCOMPARE(queryColumn(s(), "select count(*) from MAILS"), QStringList{"7"});
    }

    void duplicateCommandsRefuseFlagColumns_data() {
        QTest::addColumn<int>("command");
        QTest::newRow("find") << int(C::FindDuplicates);
        QTest::newRow("delete all") << int(C::DeleteDuplicates);
        QTest::newRow("invalid") << int(C::DeleteInvalid);
    }
    void duplicateCommandsRefuseFlagColumns() {
        QFETCH(int, command);
        open({{"a"}, {"a"}});
        cursor(0, 1);
        dlg->run(C(command));
        QCOMPARE(w->ui.askedTexts(),
                 QStringList{"Please select a record.\n(You can only select an input field)"});
        QCOMPARE(ids().size(), 2);
    }

    // ---- addresses ----

    void addressRule_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("fault");
        QTest::newRow("plain") << "taro@example.jp" << int(AddressFault::None);
        QTest::newRow("half-width katakana") << "ﾀﾛｳ@example.jp" << int(AddressFault::None);
        QTest::newRow("empty") << "" << int(AddressFault::NoAtMark);
        QTest::newRow("no at") << "taro.example.jp" << int(AddressFault::NoAtMark);
        QTest::newRow("at and comma")
            << "taro@example.jp,hanako@example.jp" << int(AddressFault::Comma);
        QTest::newRow("full-width letter") << "ｔaro@example.jp" << int(AddressFault::DoubleByte);
        QTest::newRow("full-width at") << "taro＠example.jp" << int(AddressFault::NoAtMark);
        QTest::newRow("double at") << "taro@@example.jp" << int(AddressFault::Malformed);
        QTest::newRow("trailing dot") << "taro@example.jp." << int(AddressFault::Malformed);
        QTest::newRow("no dot in domain") << "taro@localhost" << int(AddressFault::Malformed);
        QTest::newRow("blank") << "taro @example.jp" << int(AddressFault::Malformed);
        QTest::newRow("blanks around") << " taro@example.jp\t " << int(AddressFault::None);
        QTest::newRow("ideographic blank after")
            << "taro@example.jp\u3000" << int(AddressFault::DoubleByte);
    }
    void addressRule() {
        QFETCH(QString, text);
        QFETCH(int, fault);
        QCOMPARE(int(checkAddress(text)), fault);
    }

    void checkStopsAtFirstInvalidInGridOrder_data() {
        QTest::addColumn<QString>("bad");
        QTest::addColumn<QString>("message");
        QTest::newRow("double at") << "taro@@example.jp"
                                   << "Mail address is not of the form name@domain.";
        QTest::newRow("full-width") << "ｔａｒｏ@example.jp"
                                    << "Mail address contains double-byte characters.";
        QTest::newRow("trailing dot") << "taro@example.jp."
                                      << "Mail address is not of the form name@domain.";
    }
    void checkStopsAtFirstInvalidInGridOrder() {
        QFETCH(QString, bad);
        QFETCH(QString, message);
        open({{"a@x.jp"}, {bad}, {"nothing"}});
        cursor(0, 2);
        dlg->run(C::CheckAddresses);
        QCOMPARE(w->ui.askedTexts(), QStringList{message});
        QCOMPARE(w->ui.asked().value(0).caption, "Check Mail Addresses");
        QCOMPARE(dlg->session().cursorRow(), 1);
        // Again: the next one, then round to the first again.
        w->ui.clear();
        dlg->run(C::CheckAddresses);
        QCOMPARE(w->ui.askedTexts(), QStringList{str(ids::kAddressNoAtMark)});
        QCOMPARE(dlg->session().cursorRow(), 2);
        w->ui.clear();
        dlg->run(C::CheckAddresses);
        QCOMPARE(w->ui.askedTexts(), QStringList{message});
        QCOMPARE(dlg->session().cursorRow(), 1);
        // On a flag column nothing is shown; a clean grid says so.
        w->ui.clear();
        cursor(0, 0);
        dlg->run(C::CheckAddresses);
        QVERIFY(w->ui.askedTexts().isEmpty());
        QCOMPARE(ids().size(), 3);
    }

    void deleteInvalidInGroupAndWholeTable() {
        open({{"a@x.jp"}, {"b@@x.jp"}, {"c, d@x.jp"}, {"no address"}, {QString()}, {"e@x.jp"}});
        pw::test::execute(s(), "insert into GROUPS (ID, NAME, NOTES) values (1, 'G', '')");
        for (int id : {1, 2, 3})
            pw::test::execute(
                s(),
                QStringLiteral("insert into GROUP_MAIL (IDGROUP, IDMAIL) values (1, %1)").arg(id));
        dlg->session().groups().reload();
        dlg->session().selectGroup(1);
        cursor(0, 2);
        w->ui.script({Answer::Yes});
        dlg->run(C::DeleteInvalid);
        QCOMPARE(w->ui.askedTexts().value(1), "All Invalid Addresses deleted.");
        QVERIFY2(w->ui.askedTexts()[0].startsWith(str(ids::kConfirmDeleteInvalid).arg(2) + '\n' +
                                                  str(ids::kConfirmLeaveGroup).arg(2)),
                 qPrintable(w->ui.askedTexts()[0]));
        // In the group the failing members only left it (b@@x.jp has "@" and "." so it stays
        // in the table); the whole-table statement deleted the records without "@...".
        QCOMPARE(main("select IDMAIL from GROUP_MAIL order by IDMAIL"), QStringList{"1"});
        QCOMPARE(ids(), (QStringList{"1", "2", "3", "6"}));
        w->ui.clear();
        dlg->session().selectGroup(0);
        cursor(0, 2);
        w->ui.script({Answer::Yes});
        dlg->run(C::DeleteInvalid);
        QCOMPARE(ids(), (QStringList{"1", "6"}));
    }

    // Both cleanups say how many records go before anything is kept (blanks around an
    // address do not make it invalid); No leaves everything, a Yes is undone by not saving.
    void cleanupAsksWithTheCountAndUndoes_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("answer");  // -1: nothing to delete, nothing asked
        QTest::addColumn<QStringList>("kept");
        const int dup = int(C::DeleteDuplicates), bad = int(C::DeleteInvalid);
        QTest::newRow("duplicates, yes") << dup << int(Answer::Yes) << QStringList{"1", "3", "4"};
        QTest::newRow("duplicates, no")
            << dup << int(Answer::No) << QStringList{"1", "2", "3", "4"};
        QTest::newRow("invalid, yes") << bad << int(Answer::Yes) << QStringList{"1", "2", "4"};
        QTest::newRow("invalid, none") << bad << -1 << QStringList{"1"};
    }
    void cleanupAsksWithTheCountAndUndoes() {
        QFETCH(int, command);
        QFETCH(int, answer);
        QFETCH(QStringList, kept);
        open(answer < 0
                 ? QList<QStringList>{{" a@x.jp "}}
                 : QList<QStringList>{{"a@x.jp"}, {"a@X.JP "}, {"no, address"}, {" b@x.jp\t"}});
        cursor(0, 2);
        w->ui.scriptChoices({str(ids::kCompareAsAddresses)});
        w->ui.script({Answer(answer)});
        dlg->run(C(command));
        // the comparison's choice comes first for the mail-address field
        const auto said = w->ui.asked().value(command == int(C::DeleteDuplicates));
        const int question = command == int(C::DeleteDuplicates) ? ids::kConfirmDeleteDuplicates
                                                                 : ids::kConfirmDeleteInvalid;
        QCOMPARE(said.text, answer < 0
                                ? str(ids::kNothingToDelete)
                                : str(question).arg(1) + "\n\n" + str(ids::kDeletionUndoHint));
        QCOMPARE(ids(), kept);
        QCOMPARE(dlg->session().grid().rowCount(), kept.size());
        QCOMPARE(s().IsModified(), answer == int(Answer::Yes));
        w->ui.script({Answer::No});
        QVERIFY(dbtools::ConfirmClose(s(), w->ui));
        QCOMPARE(ids().size(), answer < 0 ? 1 : 4);
    }

    void cancelledDeletionLeavesEverything() {
        dlg.reset();
        w = std::make_unique<DbWorld>();
        QVERIFY(w->createAndOpen());
        test::fillRecords(s(), 5000);
        pw::test::execute(s(), "update MAILS set ADDRESS = 'bad' where mod(ID, 2) = 0");
        QVERIFY(s().Save(db::SaveMode::Retaining));
        dlg = std::make_unique<d_EditDialog>(s(), w->ui, EditorOptions{});
        cursor(0, 2);
        w->ui.cancelProgressAt(1000);
        dlg->run(C::DeleteInvalid);
        QCOMPARE(w->ui.askedTexts(), QStringList{"Cancelled. The database is as it was before."});
        QCOMPARE(main("select count(*) from MAILS"), QStringList{"5000"});
        QVERIFY(!s().IsModified());
        dlg->session().fetchAllRows();
        QCOMPARE(dlg->session().grid().rowCount(), 5000);
    }

    // ---- find and replace ----

    void findAndReplaceJapaneseInGridOrder() {
        open({{"a@x.jp", "東京 太郎", "東京"}, {"b@x.jp", "大阪", "東京都"}, {"c@x.jp", "京都"}});
        int found = 0;
        QList<QPair<int, int>> cells;
        whenModal([&](QDialog* d) {
            QCOMPARE(d->windowTitle(), "Find and Replace");
            auto* replace = child<QPushButton>(d, "replace1007");
            QVERIFY(!replace->isEnabled());
            child<QLineEdit>(d, "find1004")->setText("東京");
            child<QLineEdit>(d, "replace1005")->setText("江戸");
            for (int i = 0; i < 3; ++i) {
                child<QPushButton>(d, "findNext1006")->click();
                cells << qMakePair(dlg->session().cursorRow(), dlg->session().cursorColumn());
            }
            QVERIFY(replace->isEnabled());
            // After the last match: wrap to the start on Yes.
            w->ui.script({Answer::Yes});
            child<QPushButton>(d, "findNext1006")->click();
            cells << qMakePair(dlg->session().cursorRow(), dlg->session().cursorColumn());
            replace->click();
            found =
                w->ui.askedTexts().count("Text not found. Search again for begining of database?");
            child<QPushButton>(d, "replaceAll1030")->click();
            child<QPushButton>(d, "doneButton")->click();
        });
        cursor(-1, 2);
        dlg->run(C::SearchReplace);
        QCOMPARE(cells, (QList<QPair<int, int>>{{0, 3}, {0, 4}, {1, 4}, {0, 3}}));
        QCOMPARE(found, 1);
        QCOMPARE(main("select NAME from MAILS order by ID"),
                 (QStringList{"江戸 太郎", "大阪", "京都"}));
        QCOMPARE(main("select FIELD3 from MAILS order by ID"),
                 (QStringList{"江戸", "江戸都", "<null>"}));
        QCOMPARE(dlg->session().grid().gridText(1, 4), "江戸都");
        QVERIFY(w->ui.askedTexts().contains("All replacements were implemented."));
    }

    void replaceLongerThanFieldIsRefused() {
        const QString long47 = QString(47, u'a');
        open({{"a@e.jp", "xx"}, {"b@e.jp", long47 + "x"}}, 50);
        FindReplace fr(dlg->session());
        fr.setFindText("x");
        fr.setReplaceText(QString(5, u'y'));
        QCOMPARE(fr.replaceAll(), 0);
        QCOMPARE(w->ui.asked().size(), 1);
        QVERIFY(w->ui.askedTexts().value(0).startsWith(
            "The length of the field text exceeds the set field length!"));
        QCOMPARE(main("select NAME from MAILS order by ID"), (QStringList{"xx", long47 + "x"}));
        // Within the limit everything changes (both occurrences of a cell too).
        w->ui.clear();
        fr.setReplaceText("yy");
        QCOMPARE(fr.replaceAll(), 2);
        QCOMPARE(main("select NAME from MAILS order by ID"), (QStringList{"yyyy", long47 + "yy"}));
    }

    // ---- groups ----

    void groupsAddRenameDelete() {
        open({{"a@x.jp", "Team A"}, {"b@x.jp", "team a"}});
        whenModal([&](QDialog* d) {
            QCOMPARE(d->windowTitle(), "Add Group");
            child<QLineEdit>(d, "groupName")->setText("Team A");
            d->accept();
        });
        dlg->run(C::AddGroup);
        QCOMPARE(main("select NAME from GROUPS"), QStringList{"Team A"});
        QCOMPARE(dlg->session().selectedGroupItem(), 1);
        // The same name again is refused; another case is another group.
        whenModal([&](QDialog* d) {
            child<QLineEdit>(d, "groupName")->setText("Team A");
            d->accept();
        });
        dlg->run(C::AddGroup);
        QCOMPARE(w->ui.askedTexts(), QStringList{"Group already exists."});
        QCOMPARE(dlg->tools().addGroup(QStringLiteral("team a")), ToolOutcome::Done);
        QCOMPARE(dlg->tools().addGroup(QString()), ToolOutcome::Refused);
        // Rename in place to a name with an apostrophe.
        auto& groups = dlg->session().groups();
        QAbstractItemModelTester tester(&groups,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(groups.setData(groups.index(1), QStringLiteral("O'Brien's team"), Qt::EditRole));
        QCOMPARE(main("select NAME from GROUPS order by ID"),
                 (QStringList{"O'Brien's team", "team a"}));
        // Members by hand; deleting the group leaves its records.
        dlg->session().selectGroup(0);
        QVERIFY(dlg->session().dropRowsOnGroup(1, {0, 1}));
        w->ui.clear();
        w->ui.script({Answer::Yes});
        dlg->run(C::DeleteGroup);
        QCOMPARE(w->ui.askedTexts(), QStringList{"Do you want to delete this group?"});
        QCOMPARE(main("select NAME from GROUPS"), QStringList{"team a"});
        QCOMPARE(main("select count(*) from GROUP_MAIL"), QStringList{"0"});
        QCOMPARE(ids().size(), 2);
        QCOMPARE(dlg->session().selectedGroupItem(), 0);
        w->ui.clear();
        dlg->run(C::DeleteGroup);
        QCOMPARE(w->ui.askedTexts(), QStringList{"The root group cannot be modified!"});
    }

    void autoGroupAllRecordsOnce() {
        open({{"a@x.jp", "Team A"},
              {"b@x.jp", "Team B"},
              {"c@x.jp", "team a"},
              {"d@x.jp", "Team A"}});
        pw::test::execute(s(), "insert into GROUPS (ID, NAME, NOTES) values (1, 'Team A', '')");
        AutoGroupSetting saved;
        dlg->tools().saveGrouping = [&](const AutoGroupSetting& g) { saved = g; };
        for (int round = 0; round < 2; ++round) {
            w->ui.script({Answer::Yes});
            whenModal([&](QDialog* d) {
                QCOMPARE(d->windowTitle(), "Auto Group");
                auto* list = child<QComboBox>(d, "fieldList");
                QVERIFY(list->isEnabled() == (round == 1));
                child<QCheckBox>(d, "autoGroupOn")->setChecked(true);
                QVERIFY(list->isEnabled());
                list->setCurrentIndex(1);
                d->accept();
            });
            dlg->run(C::AutoGroup);
            QCOMPARE(main("select IDMAIL from GROUP_MAIL order by IDMAIL"),
                     (QStringList{"1", "4"}));
        }
        QVERIFY(saved.enabled);
        QCOMPARE(saved.field, 1);
        QCOMPARE(dlg->session().grouping().field, 1);
        // Off: the setting goes to -1 and nothing is asked.
        w->ui.clear();
        QCOMPARE(dlg->tools().applyAutoGroup({false, 1}), 0);
        QCOMPARE(saved.field, -1);
        QVERIFY(w->ui.askedTexts().isEmpty());
    }

    void japaneseTexts() {
        setLanguage(Language::Japanese);
        open({{"a"}, {"a"}});
        cursor(0, 2);
        QStringList titles;
        for (C c : {C::FindDuplicates, C::SearchReplace, C::AddGroup, C::AutoGroup}) {
            whenModal([&](QDialog* d) {
                titles << d->windowTitle();
                d->reject();
            });
            dlg->run(c);
        }
        QCOMPARE(titles,
                 (QStringList{"重複データの検索", "検索と置換", "グループの追加", "自動グループ"}));
        w->ui.clear();
        dlg->run(C::CheckAddresses);
        QCOMPARE(w->ui.askedTexts().value(0), "メールアドレスに @ マークが含まれていません。");
    }
};

QTEST_MAIN(TestEditorTools)
#include "test_editor_tools.moc"
