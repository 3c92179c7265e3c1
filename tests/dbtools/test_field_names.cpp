// Field names: the checks, the dialog's save outside the main transaction, the field window.
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "EditorFixture.h"
#include "RawStatement.h"
#include "dbtools/FieldNames.h"
#include "dbtools/StoreQuestions.h"
#include "dbtools/gui/d_EditDialog.h"
#include "dbtools/gui/d_FieldShow.h"
#include "dbtools/gui/d_FieldsNameEdit.h"
#include "resources/Strings.h"

using namespace pw;
using namespace pw::dbtools;
using pw::test::DbWorld;
using pw::test::queryColumn;

class TestFieldNames : public QObject {
    Q_OBJECT
    std::unique_ptr<DbWorld> w;
    db::TDbData& s() { return *w->store; }
    QStringList committed(const QString& sql) { return queryColumn(s(), sql); }

private slots:
    void init() {
        w = std::make_unique<DbWorld>();
        QVERIFY(w->createAndOpen());
        test::fillRecords(s(), 3);
    }
    void cleanup() { w.reset(); }

    void captionChecks_data() {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("message");  // empty: accepted
        QTest::newRow("plain rename") << 2 << "City"
                                      << "";
        QTest::newRow("Japanese") << 2 << QString::fromUtf8("市区町村") << "";
        QTest::newRow("empty") << 2 << "" << str(ids::kCaptionEmpty).arg(3);
        QTest::newRow("blanks only") << 2 << "  " << str(ids::kCaptionEmpty).arg(3);
        QTest::newRow("opening brackets") << 4 << "a[[b" << str(ids::kCaptionBrackets).arg(5);
        QTest::newRow("closing brackets") << 4 << "a]]" << str(ids::kCaptionBrackets).arg(5);
        QTest::newRow("another field's name")
            << 5 << "Name" << str(ids::kCaptionDuplicate).arg(2).arg(6).arg("Name");
        QTest::newRow("too long for the database")
            << 5 << QString(101, 'c') << str(ids::kCaptionTooLong).arg(6).arg(100);
    }
    void captionChecks() {
        QFETCH(int, field);
        QFETCH(QString, caption);
        QFETCH(QString, message);
        const Captions stored = s().FieldCaptions().Captions();
        Captions edited = stored;
        edited[field] = caption;
        int bad = -1;
        QCOMPARE(CaptionProblem(edited, stored, 100, &bad), message);
        if (!message.isEmpty())
            QCOMPARE(bad, field);
    }

    void oldBadCaptionsAreShownAsTheyAre() {
        Captions stored = s().FieldCaptions().Captions();
        stored[3] = "dup";
        stored[4] = "dup";
        QVERIFY(CaptionProblem(stored, stored, 100).isEmpty());
    }

    void renameReachesTheTableGridAndFieldWindow() {
        d_EditDialog editor(s(), w->ui, EditorOptions{});
        d_FieldShow fields(s());
        int documentMarks = 0;
        d_FieldsNameEdit dialog(s(), w->ui, [&] { ++documentMarks; });
        QCOMPARE(dialog.edit(2)->text(), "field3");
        dialog.edit(2)->setText("City");
        dialog.accept();
        QCOMPARE(dialog.lastResult(), FieldNamesResult::Saved);
        // Committed at once, outside the main transaction.
        QCOMPARE(committed("select CAPTION from MAIL_FIELDS where FIELD = 'FIELD3'"),
                 QStringList{"City"});
        QCOMPARE(editor.session().grid().headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(),
                 "City");
        QCOMPARE(fields.button(2)->text(), "City");
        QCOMPARE(documentMarks, 1);
        QVERIFY(s().IsModified());
        // Discarding the main transaction does not undo it.
        w->ui.script({Answer::No});
        QVERIFY(dbtools::ConfirmClose(s(), w->ui));
        s().FieldCaptions().LoadCaptions();
        QCOMPARE(s().FieldCaptions().Captions()[2], "City");
    }

    void refusedNamesKeepTheDialogOpen() {
        d_FieldsNameEdit dialog(s(), w->ui, {});
        dialog.show();
        dialog.edit(6)->setText("x]]");
        dialog.accept();
        QCOMPARE(dialog.lastResult(), FieldNamesResult::Refused);
        QVERIFY(dialog.isVisible());
        QCOMPARE(w->ui.askedTexts(), QStringList{str(ids::kCaptionBrackets).arg(7)});
        QCOMPARE(
            committed("select coalesce(CAPTION, '<null>') from MAIL_FIELDS where FIELD = 'FIELD7'"),
            QStringList{"<null>"});
    }

    void aMissingRowIsMadeAtItsPosition() {
        pw::test::execute(s(), "delete from MAIL_FIELDS where FIELD = 'FIELD5'");
        QVERIFY(s().Save(db::SaveMode::Retaining));
        Captions edited = s().FieldCaptions().Captions();
        edited[4] = "Phone";
        QCOMPARE(SaveFieldNames(s(), w->ui, edited, {}), FieldNamesResult::Saved);
        QCOMPARE(
            committed("select ORDER_F || ' ' || CAPTION from MAIL_FIELDS where FIELD = 'FIELD5'"),
            QStringList{"5 Phone"});
        QCOMPARE(s().FieldCaptions().Captions()[0], "Mail Address");  // nothing shifted
        QCOMPARE(s().FieldCaptions().Captions()[4], "Phone");
    }

    void okWithoutChanges() {
        QVERIFY(s().Save(db::SaveMode::Retaining));
        QVERIFY(!s().IsModified());
        int marks = 0;
        QCOMPARE(SaveFieldNames(s(), w->ui, s().FieldCaptions().Captions(), [&] { ++marks; }),
                 FieldNamesResult::Saved);
        QVERIFY(s().IsModified());
        QCOMPARE(marks, 0);
        db::TDbData closed(w->folders);
        QCOMPARE(SaveFieldNames(closed, w->ui, s().FieldCaptions().Captions(), {}),
                 FieldNamesResult::NoDatabase);
    }

    void fieldWindowPastesIntoTheMainWindow_data() {
        QTest::addColumn<QString>("windowName");
        QTest::addColumn<QString>("inserted");
        QTest::newRow("main window") << d_FieldShow::kMainWindowName << "Dear [[Name]]";
        QTest::newRow("template wizard") << d_FieldShow::kWizardName << "Dear [[Name]]";
        QTest::newRow("another window") << "someOtherWindow"
                                        << "Dear ";
    }
    void fieldWindowPastesIntoTheMainWindow() {
        QFETCH(QString, windowName);
        QFETCH(QString, inserted);
        QWidget window;
        window.setObjectName(windowName);
        auto* subject = new QLineEdit("Dear ", &window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        subject->setFocus();
        subject->end(false);
        d_FieldShow fields(s());
        fields.show();
        fields.setPreviousWindow(&window);
        QTest::mouseClick(fields.button(1), Qt::LeftButton);
        QCOMPARE(QApplication::clipboard()->text(), "[[Name]]");
        QCOMPARE(subject->text(), inserted);
    }
};

QTEST_MAIN(TestFieldNames)
#include "test_field_names.moc"
