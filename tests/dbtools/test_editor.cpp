// The database editor on real widgets over the real embedded database.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTimer>
#include <QtTest>

#include "EditorFixture.h"
#include "RawStatement.h"
#include "dbtools/gui/RecordGridDelegate.h"
#include "dbtools/gui/d_EditDialog.h"
#include "resources/Strings.h"

using namespace pw;
using namespace pw::dbtools;
using C = d_EditDialog::Command;
using pw::test::DbWorld;
using pw::test::queryColumn;
using pw::test::Seen;

namespace {

// Types text the way an input method does (Japanese arrives as committed strings).
void typeText(QLineEdit* edit, const QString& text) {
    QInputMethodEvent e;
    e.setCommitString(text);
    QApplication::sendEvent(edit, &e);
}

QString status(d_EditDialog& d) {
    return d.findChild<QLabel*>("statusText")->text();
}

}  // namespace

class TestEditor : public QObject {
    Q_OBJECT
    std::unique_ptr<DbWorld> w;
    std::unique_ptr<d_EditDialog> dlg;
    db::TDbData& s() { return *w->store; }
    QStringList main(const QString& sql) { return queryColumn(s(), sql, Seen::InMainTransaction); }
    QTableView* grid() { return dlg->findChild<QTableView*>("grid1043"); }
    QListView* groups() { return dlg->findChild<QListView*>("groupList1045"); }
    QLineEdit* cell() { return dlg->findChild<QLineEdit*>("cellEditor1004"); }
    QAbstractItemModel* model() { return grid()->model(); }
    QString at(int row, int column) { return model()->index(row, column).data().toString(); }

    bool openWorld(int records, int fieldSize = 100, int filler = 0) {
        dlg.reset();
        w = std::make_unique<DbWorld>();
        if (!w->createAndOpen(fieldSize))
            return false;
        test::fillRecords(s(), records, filler);
        return s().Save(db::SaveMode::Retaining);
    }
    void openEditor() {
        dlg = std::make_unique<d_EditDialog>(s(), w->ui, EditorOptions{});
        dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    }
    // Every row of the view read, as a scroll to the end reads them.
    int listed() {
        dlg->session().fetchAllRows();
        return model()->rowCount();
    }
    void clickCell(int row, int column, bool onBox = false) {
        const QRect r = grid()->visualRect(model()->index(row, column));
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {},
                          onBox ? r.center() : r.topLeft() + QPoint(2, 2));
    }

private slots:
    void initTestCase() { QVERIFY(openWorld(20000)); }
    void cleanupTestCase() {
        setLanguage(Language::English);
        dlg.reset();
        w.reset();
    }
    void init() {
        if (!dlg)
            openEditor();
    }

    void showsTwentyThousandRecords() {
        QCOMPARE(model()->rowCount(), 20000);
        QCOMPARE(model()->headerData(0, Qt::Horizontal).toString(), "Sent");
        QCOMPARE(model()->headerData(1, Qt::Horizontal).toString(), "Select");
        QCOMPARE(model()->headerData(2, Qt::Horizontal).toString(), "Mail Address");
        QCOMPARE(model()->headerData(4, Qt::Horizontal).toString(), "field3");
        QCOMPARE(status(*dlg), "Number of records currently displayed= 20000");
        QCOMPARE(at(0, 2), "m1@example.jp");
        // Only what is on screen was read.
        auto& gm = static_cast<RecordGridModel&>(*model());
        QVERIFY2(gm.cache().fetchedCount() < 200,
                 qPrintable(QString::number(gm.cache().fetchedCount())));
        QCOMPARE(listed(), 20000);
        QCOMPARE(status(*dlg), "Number of records currently displayed= 20000");
        QCOMPARE(at(19999, 3), "Name 20000");
        QCOMPARE(at(6, 0), QString());
        // 2, failed for good: not shown as a ticked "Sent"
        QCOMPARE(model()->index(6, 0).data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
        QCOMPARE(model()->index(4, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));  // 1
        QCOMPARE(model()->index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        QCOMPARE(model()->index(0, 1).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QCOMPARE(model()->index(1, 1).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        grid()->scrollToTop();
    }

    void coloursFollowTheRules_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<bool>("selected");
        QTest::addColumn<bool>("filter");
        QTest::addColumn<QColor>("background");
        QTest::addColumn<QColor>("text");
        QPalette p;
        p.setColor(QPalette::Base, QColor(255, 255, 255));
        p.setColor(QPalette::Highlight, QColor(0, 120, 215));
        p.setColor(QPalette::Text, QColor(0, 0, 0));
        const QColor white(255, 255, 255), black(0, 0, 0), blue(0, 0, 255);
        // 255 + (0 - 255) * 85 / 255 = 170, 255 + (215 - 255) * 85 / 255 = 242 (cut toward 0)
        const QColor tint(170, 210, 242);
        QTest::newRow("plain") << 0 << 3 << false << false << white << black;
        QTest::newRow("failed send, Sent cell red")
            << 6 << 0 << false << false << QColor(255, 0, 0) << black;
        QTest::newRow("failed send, other cell") << 6 << 2 << false << false << white << black;
        QTest::newRow("selected row") << 0 << 3 << true << false << tint << black;
        QTest::newRow("selected red cell")
            << 6 << 0 << true << false << QColor(170, 40, 71) << black;
        QTest::newRow("cursor cell") << 2 << 4 << false << false << QColor(0, 120, 215) << black;
        QTest::newRow("filter on") << 0 << 3 << false << true << white << blue;
    }
    void coloursFollowTheRules() {
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(bool, selected);
        QFETCH(bool, filter);
        QFETCH(QColor, background);
        QFETCH(QColor, text);
        QPalette p;
        p.setColor(QPalette::Base, QColor(255, 255, 255));
        p.setColor(QPalette::Highlight, QColor(0, 120, 215));
        p.setColor(QPalette::Text, QColor(0, 0, 0));
        dlg->session().setCursor(2, 4);
        dlg->session().grid().setFilterOn(filter);
        QVERIFY(qobject_cast<RecordGridDelegate*>(grid()->itemDelegate()));
        const CellColours c = RecordGridDelegate::colours(model()->index(row, column), selected, p);
        dlg->session().grid().setFilterOn(false);
        QCOMPARE(c.background, background);
        QCOMPARE(c.text, text);
    }

    void clickingSelectFlipsSending() {
        QCOMPARE(main("select SENDING from MAILS where ID = 1"), QStringList{"1"});
        clickCell(0, 1, true);
        QCOMPARE(main("select SENDING from MAILS where ID = 1"), QStringList{"0"});
        QCOMPARE(model()->index(0, 1).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        clickCell(0, 1, true);
        QCOMPARE(main("select SENDING from MAILS where ID = 1"), QStringList{"1"});
        // "Sent" cannot be toggled; a click there on a failed record puts the cursor on "Select".
        clickCell(6, 0, true);
        QCOMPARE(main("select SENDED from MAILS where ID = 7"), QStringList{"2"});
        QCOMPARE(dlg->session().cursorColumn(), 1);
        QCOMPARE(cell()->text(), QString());
    }

    void typingInTheCellEditor() {
        clickCell(1, 3);
        QCOMPARE(cell()->text(), "Name 2");
        cell()->setFocus();
        cell()->selectAll();
        const QString japanese = QString::fromUtf8("山田 太郎");
        typeText(cell(), japanese);
        QCOMPARE(main("select NAME from MAILS where ID = 2"), QStringList{japanese});
        QCOMPARE(at(1, 3), japanese);

        // One byte over the field length (100): the store's message, the old value everywhere.
        w->ui.clear();
        const QString full = QString(33, QChar(0x5C71));  // 99 bytes
        cell()->selectAll();
        typeText(cell(), full);
        QCOMPARE(main("select NAME from MAILS where ID = 2"), QStringList{full});
        typeText(cell(), QStringLiteral("a"));  // 100 bytes: fits exactly
        QCOMPARE(at(1, 3), full + "a");
        typeText(cell(), QStringLiteral("b"));
        QCOMPARE(w->ui.askedTexts(), QStringList{str(ids::kDbFieldTooLong)});
        QCOMPARE(at(1, 3), full + "a");
        QCOMPARE(cell()->text(), full + "a");
        QCOMPARE(main("select NAME from MAILS where ID = 2"), QStringList{full + "a"});

        // On a flag column nothing is written.
        clickCell(1, 0);
        cell()->setFocus();
        typeText(cell(), QStringLiteral("zz"));
        QCOMPARE(main("select NAME from MAILS where ID = 2"), QStringList{full + "a"});
    }

    void statusFollowsGroupsAndFilters() {
        const int g = s().Groups().AddGroup(QStringLiteral("Tom's"));
        for (int id : {3, 5, 8})
            s().Groups().AddToGroup(g, id);
        dlg->session().groups().reload();
        groups()->setCurrentIndex(dlg->session().groups().index(1));
        QCOMPARE(status(*dlg), "Number of records currently displayed= 3");
        QVERIFY(!dlg->action(C::AddRecord)->isEnabled());
        QCOMPARE(at(2, 2), "m8@example.jp");
        groups()->setCurrentIndex(dlg->session().groups().index(0));
        QCOMPARE(status(*dlg), "Number of records currently displayed= 20000");
        QVERIFY(dlg->action(C::AddRecord)->isEnabled());

        // Two conditions on two fields, joined with "and"; one Filtering Off clears both.
        QList<FilterChoice> answers{{2, QStringLiteral("city3"), FilterKind::Match},
                                    {1, QStringLiteral("Name 1"), FilterKind::Include}};
        dlg->askFilter = [&](FilterChoice& c) {
            c = answers.takeFirst();
            return true;
        };
        QVERIFY(!dlg->action(C::FilterOff)->isEnabled());
        dlg->run(C::FilterOn);
        QCOMPARE(listed(), 2000);
        QCOMPARE(status(*dlg), "Number of records currently displayed= 2000");
        QVERIFY(dlg->action(C::FilterOff)->isEnabled());
        dlg->run(C::FilterOn);
        // IDs with i % 10 == 3, not a multiple of 4, whose name contains "Name 1".
        QCOMPARE(dlg->session().list().Filters().size(), size_t(2));
        const int n = listed();
        QCOMPARE(status(*dlg), QStringLiteral("Number of records currently displayed= %1").arg(n));
        QCOMPARE(
            main("select count(*) from MAILS where FIELD3 = 'city3' and NAME containing 'Name 1'"),
            QStringList{QString::number(n)});
        QVERIFY(model()->index(0, 2).data(RecordGridModel::FilterOnRole).toBool());
        QCOMPARE(dlg->session().cursorRow(), -1);
        dlg->run(C::FilterOff);
        QCOMPARE(listed(), 20000);
        QVERIFY(!dlg->action(C::FilterOff)->isEnabled());
    }

    void sortByAColumnWithEmptyValues() {
        dlg->session().setCursor(0, 4);  // FIELD3, empty for every 4th record
        dlg->run(C::SortDescending);
        QCOMPARE(at(0, 4), "city9");
        QCOMPARE(listed(), 20000);
        QCOMPARE(at(19999, 4), QString());
        dlg->run(C::SortAscending);
        QCOMPARE(at(0, 4), QString());
        QCOMPARE(listed(), 20000);
        QCOMPARE(at(4999, 4), QString());
        QCOMPARE(at(5000, 4), "city0");
        dlg->session().setCursor(0, 0);
        dlg->run(C::SortAscending);
        QCOMPARE(model()->index(0, 0).data(RecordGridModel::SentValueRole).toInt(), 0);
        dlg->session().list().SetOrder({});
        dlg->session().list().Refresh();
    }

    void selectionInsideAGroup() {
        const int g = s().Groups().FindGroupByName(QStringLiteral("Tom's"));
        QVERIFY(g > 0);
        groups()->setCurrentIndex(
            dlg->session().groups().index(dlg->session().groups().itemOfGroup(g)));
        const QString outside =
            "select count(*) from MAILS where ID not in (3, 5, 8) and SENDING = 1";
        const QStringList before = main(outside);
        dlg->run(C::SelectNone);
        QCOMPARE(main("select SENDING from MAILS where ID in (3, 5, 8) order by ID"),
                 QStringList({"0", "0", "0"}));
        QCOMPARE(main(outside), before);
        dlg->run(C::SelectAll);
        QCOMPARE(main("select SENDING from MAILS where ID in (3, 5, 8) order by ID"),
                 QStringList({"1", "1", "1"}));
        QCOMPARE(main(outside), before);
        QCOMPARE(model()->index(1, 1).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        // Clear Transmission Result and Select Unsent on the group only; a failed send keeps
        // its selection.
        pw::test::execute(s(), "update MAILS set SENDED = 2, SENDING = 0 where ID = 3");
        pw::test::execute(s(), "update MAILS set SENDED = 1 where ID = 5");
        dlg->run(C::SelectUnsent);
        QCOMPARE(main("select SENDING from MAILS where ID in (3, 5, 8) order by ID"),
                 QStringList({"0", "0", "1"}));
        dlg->run(C::ClearResult);
        QCOMPARE(main("select SENDED from MAILS where ID in (3, 5, 8) order by ID"),
                 QStringList({"0", "0", "0"}));
        QCOMPARE(main("select SENDED from MAILS where ID = 7"), QStringList{"2"});

        // Delete Record in the group takes the membership only.
        w->ui.script({Answer::Yes});
        grid()->selectRow(0);
        dlg->run(C::DeleteRecord);
        QCOMPARE(model()->rowCount(), 2);
        QCOMPARE(main("select count(*) from MAILS where ID = 3"), QStringList{"1"});
        groups()->setCurrentIndex(dlg->session().groups().index(0));
    }

    void flagsOverAViewReadOnlyInPart() {
        // Sorted by a field, the rows come from a sort the engine made when the list was read:
        // rows fetched after the command must show the flag it set all the same.
        dlg->session().setCursor(0, 4);
        dlg->run(C::SortDescending);
        auto& gm = static_cast<RecordGridModel&>(*model());
        QVERIFY(gm.cache().fetchedCount() < 1000);
        const auto countRows = [&](int column, int role, int value) {
            int n = 0;
            for (int r = 0; r < listed(); ++r)
                n += model()->index(r, column).data(role).toInt() == value;
            return n;
        };
        grid()->selectRow(3);
        dlg->run(C::SelectNone);
        QVERIFY(grid()->selectionModel()->selectedRows().isEmpty());
        QCOMPARE(dlg->session().cursorRow(), 0);
        QCOMPARE(main("select count(*) from MAILS where SENDING <> 0"), QStringList{"0"});
        QCOMPARE(countRows(1, Qt::CheckStateRole, Qt::Unchecked), 20000);
        dlg->run(C::SelectAll);
        QCOMPARE(countRows(1, Qt::CheckStateRole, Qt::Checked), 20000);
        dlg->session().list().Refresh();
        dlg->run(C::ClearResult);
        QCOMPARE(main("select count(*) from MAILS where SENDED <> 0"), QStringList{"0"});
        QCOMPARE(countRows(0, RecordGridModel::SentValueRole, 0), 20000);
        // A view the change can reorder or narrow is read again.
        pw::test::execute(s(), "update MAILS set SENDING = 0 where ID <= 10");
        dlg->session().setCursor(0, 1);
        dlg->run(C::SortAscending);
        QCOMPARE(model()->index(0, 1).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        dlg->run(C::SelectAll);
        QCOMPARE(countRows(1, Qt::CheckStateRole, Qt::Checked), 20000);

        pw::test::execute(s(),
                          "update MAILS set SENDING = mod(ID, 2), SENDED = iif(mod(ID, 7) = 0, 2, "
                          "iif(mod(ID, 5) = 0, 1, 0))");
        dlg->session().list().SetOrder({});
        dlg->session().list().Refresh();
    }

    void dropRowsOnAGroup() {
        const int item = dlg->session().groups().itemOfGroup(s().Groups().FindGroupByName("Tom's"));
        QVERIFY(!dlg->session().dropRowsOnGroup(0, {10, 11}));       // "All Records" takes nothing
        QVERIFY(dlg->session().dropRowsOnGroup(item, {10, 11, 4}));  // record 5 is a member
        QCOMPARE(dlg->session().selectedGroupItem(), item);
        QCOMPARE(model()->rowCount(), 4);
        QVERIFY(!dlg->session().dropRowsOnGroup(item, {0}));  // the group on show takes nothing
        groups()->setCurrentIndex(dlg->session().groups().index(0));
    }

    // The window's keys win over the cell editor's own: Shift+Delete is not the line edit's
    // Cut, Shift+Insert not its Paste.
    void editorKeysInTheCellEditor_data() {
        QTest::addColumn<int>("modifier");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("command");
        QTest::newRow("Shift+Delete deletes the group")
            << int(Qt::ShiftModifier) << int(Qt::Key_Delete) << int(C::DeleteGroup);
        QTest::newRow("Ctrl+Delete deletes the record")
            << int(Qt::ControlModifier) << int(Qt::Key_Delete) << int(C::DeleteRecord);
    }
    void editorKeysInTheCellEditor() {
        QFETCH(int, modifier);
        QFETCH(int, key);
        QFETCH(int, command);
        const int item = dlg->session().groups().itemOfGroup(s().Groups().FindGroupByName("Tom's"));
        groups()->setCurrentIndex(dlg->session().groups().index(item));
        clickCell(0, 3);
        const QString before = cell()->text();
        QVERIFY(!before.isEmpty());
        QApplication::clipboard()->setText(QStringLiteral("clipboard"));
        auto* action = dlg->findChild<QAction*>(QStringLiteral("action%1").arg(command));
        QVERIFY(action && action->isEnabled());
        QSignalSpy ran(action, &QAction::triggered);
        w->ui.clear();
        w->ui.script({Answer::No});
        cell()->setFocus();
        cell()->selectAll();
        QTest::keyClick(cell(), Qt::Key(key), Qt::KeyboardModifiers(modifier));
        QCOMPARE(ran.count(), 1);
        QCOMPARE(cell()->text(), before);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("clipboard"));
        QCOMPARE(w->ui.asked().size(), 1);  // the command's question, answered No
        groups()->setCurrentIndex(dlg->session().groups().index(0));
    }

    void renamingGroupsInPlace() {
        GroupListModel& g = dlg->session().groups();
        w->ui.clear();
        QVERIFY(!g.setData(g.index(0), "x", Qt::EditRole));
        QVERIFY(!g.setData(g.index(1), QString(), Qt::EditRole));
        QCOMPARE(w->ui.askedTexts(), QStringList{"No group name has been set!"});
        // 100 Japanese characters are 300 bytes: more than the field holds.
        QVERIFY(!g.setData(g.index(1), QString(100, QChar(0x30B0)), Qt::EditRole));
        QCOMPARE(w->ui.askedTexts().size(), 2);
        QVERIFY(g.setData(g.index(1), QString(33, QChar(0x30B0)), Qt::EditRole));
        QCOMPARE(s().Groups().ListGroups().front().name, QString(33, QChar(0x30B0)));
        QVERIFY(g.setData(g.index(1), "Tom's", Qt::EditRole));
    }

    void moveFieldValues() {
        dlg->session().setCursor(0, 2);
        dlg->run(C::MoveLeft);  // the first field column: nothing
        QCOMPARE(at(0, 2), "m1@example.jp");
        QSignalSpy changed(dlg.get(), &d_EditDialog::documentChanged);
        dlg->run(C::MoveRight);
        QCOMPARE(dlg->session().cursorColumn(), 3);
        QCOMPARE(at(0, 3), "m1@example.jp");
        QCOMPARE(main("select ADDRESS from MAILS where ID = 20000"), QStringList{"Name 20000"});
        QCOMPARE(changed.size(), 1);
        dlg->run(C::MoveLeft);
        QCOMPARE(main("select ADDRESS from MAILS where ID = 20000"),
                 QStringList{"m20000@example.jp"});
        dlg->session().setCursor(0, 21);
        dlg->run(C::MoveRight);  // the last column: nothing
        QCOMPARE(dlg->session().cursorColumn(), 21);
    }

    void fileCommandsOfTheDatabase() {
        // opening another file replaces the main window's database: off without the main window
        QVERIFY(!dlg->action(C::OpenDatabase)->isEnabled());
        QVERIFY(dlg->action(C::SaveDatabaseAs)->isEnabled());
        QCOMPARE(DatabaseFileFor("/d/customers"), QStringLiteral("/d/customers.pzb"));
        QCOMPARE(DatabaseFileFor("/d/CUSTOMERS.PZB"), QStringLiteral("/d/CUSTOMERS.PZB"));
        QCOMPARE(DatabaseFileFor("/d/list.csv"), QStringLiteral("/d/list.csv.pzb"));
        for (C c : {C::FindDuplicates, C::CheckAddresses, C::SearchReplace, C::AutoGroup})
            QVERIFY(dlg->action(c)->isEnabled());
        QVERIFY(dlg->findChild<QPushButton*>("findDuplicatesButton")->isEnabled());
        QCOMPARE(dlg->action(C::AddRecord)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Insert));
        QCOMPARE(dlg->findChild<QMenuBar*>("menuBar")->actions().size(), 5);
    }

    void printCommandsOpenTheirDialogs() {
        QString opened;
        QTimer::singleShot(0, [&] {
            if (QWidget* m = QApplication::activeModalWidget()) {
                opened = m->objectName();
                qobject_cast<QDialog*>(m)->reject();
            }
        });
        dlg->action(C::PageSetting)->trigger();
        QCOMPARE(opened, QStringLiteral("d_PrinterSetup"));
    }

    void closingAsksAndEndsWithOk() {
        QVERIFY(s().IsModified());
        w->ui.script({Answer::Cancel});
        dlg->run(C::Exit);
        QVERIFY(dlg->isVisible());
        w->ui.script({Answer::No});  // the edits are discarded with the main transaction
        dlg->run(C::Exit);
        QVERIFY(!dlg->isVisible());
        QCOMPARE(dlg->result(), int(QDialog::Accepted));
        QCOMPARE(main("select NAME from MAILS where ID = 2"), QStringList{"Name 2"});
        dlg.reset();
    }

    void oversizedAndShortFields() {
        // A file made elsewhere with 21000 records: the first 20000 and a message.
        QVERIFY(openWorld(21000, 50, 0));
        openEditor();  // the list's IDs tell it as the window opens
        QCOMPARE(w->ui.askedTexts(), QStringList{str(ids::kDbTooManyRecords).arg(20000)});
        QCOMPARE(listed(), 20000);
        QCOMPARE(at(0, 5), QString());  // NULL fields show empty
        QCOMPARE(cell()->maxLength(), 50);
        // 100-byte texts do not fit a 50-byte field.
        QVERIFY(!model()->setData(model()->index(0, 3), QString(100, 'y'), Qt::EditRole));
        QCOMPARE(at(0, 3), "Name 1");
        w->ui.clear();
        dlg->run(C::AddRecord);
        QCOMPARE(w->ui.askedTexts(), QStringList{str(ids::kRecordLimitReached).arg(20000)});
        QCOMPARE(w->ui.asked().first().caption, "Field Input");
        dlg.reset();
    }

    void japaneseTexts() {
        setLanguage(Language::Japanese);
        QVERIFY(openWorld(3));
        openEditor();
        const auto ja = [](int id) { return str(id, Language::Japanese); };
        QCOMPARE(dlg->windowTitle(), ja(ids::kEditorTitle));
        QStringList menus;
        for (QAction* a : dlg->findChild<QMenuBar*>("menuBar")->actions())
            menus << a->text();
        QCOMPARE(menus, QStringList({ja(ids::kMenuEditorFile), ja(ids::kMenuEditorEdit),
                                     ja(ids::kMenuSelection), ja(ids::kMenuTools),
                                     ja(ids::kMenuFiltering)}));
        for (QAction* a : dlg->findChildren<QAction*>()) {
            if (a->objectName().startsWith("action")) {
                QVERIFY2(!a->text().isEmpty(), qPrintable(a->objectName()));
                QVERIFY2(a->text().toLatin1() != a->text().toUtf8() || a->text() == "OK",
                         qPrintable(a->text()));
            }
        }
        for (QPushButton* b : dlg->findChildren<QPushButton*>())
            QVERIFY2(b->text().toUtf8().size() > b->text().size(), qPrintable(b->text()));
        QCOMPARE(model()->headerData(0, Qt::Horizontal).toString(), ja(ids::kGridSent));
        QCOMPARE(model()->headerData(1, Qt::Horizontal).toString(), ja(ids::kGridSelect));
        QCOMPARE(status(*dlg), ja(ids::kEditorStatus).arg(3));
        QCOMPARE(dlg->session().groups().index(0).data().toString(), ja(ids::kAllRecords));
        dlg.reset();
        setLanguage(Language::English);
    }

    // A name the database refuses: the old one stays, and the user is told why. Last, as the
    // constraint is saved with everything before it.
    void refusedGroupRenameIsTold() {
        GroupListModel& g = dlg->session().groups();
        const int group = s().Groups().AddGroup("Kept");
        QVERIFY(group > 0);
        g.reload();
        const int item = g.itemOfGroup(group);
        pw::test::execute(
            s(), "alter table GROUPS add constraint CHK_NOT_REFUSED check (NAME <> 'Refused')");
        QVERIFY(s().Save(db::SaveMode::Retaining));
        w->ui.clear();
        QVERIFY(!g.setData(g.index(item), "Refused", Qt::EditRole));
        QCOMPARE(w->ui.askedTexts().size(), 1);
        QVERIFY2(w->ui.askedTexts()[0].startsWith("The group could not be renamed: "),
                 qPrintable(w->ui.askedTexts()[0]));
        QCOMPARE(g.data(g.index(item), Qt::DisplayRole).toString(), QString("Kept"));
    }
};

QTEST_MAIN(TestEditor)
#include "test_editor.moc"
