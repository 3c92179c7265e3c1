// The windows of the other parts reached from the main window: each command opens its real
// window, and what that window does arrives back in the mail document, the store and the
// window.

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>

#include "MainWindowFixture.h"
#include "app/gui/d_StartForm.h"
#include "dbtools/gui/d_EditDialog.h"
#include "dbtools/gui/d_FieldShow.h"
#include "resources/Strings.h"
#include "send/PreviewSource.h"
#include "send/RunMarker.h"
#include "send/SendFlow.h"

using namespace pw;
using namespace pw::app;
using pw::test::MainWindowFixture;

namespace {

void pressOk(QWidget* dialog) {
    auto* box = dialog->findChild<QDialogButtonBox*>();
    QVERIFY(box);
    box->button(QDialogButtonBox::Ok)->click();
}

// The main window active again, as after a click into it (the field window came up beside it).
void activate(MainWindowFixture& f) {
    f.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
}

}  // namespace

class TestMainWindowWiring : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setLanguage(Language::English); }

    void everyCommandOfTheOtherWindowsIsWired() {
        MainWindowFixture f;
        QVERIFY(f.open());
        activate(f);
        for (int id :
             {cmd::kEditDatabase, cmd::kEditFieldName, cmd::kDisplayFieldWindow,
              cmd::kSelectHtmlTemplate, cmd::kEditHtmlTemplate, cmd::kPreview, cmd::kSelectTemplate,
              cmd::kSaveAsTemplate, cmd::kAutoLine, cmd::kAutoFrame, cmd::kCountCharacters,
              cmd::kCheckKatakana, cmd::kAutoWrap, cmd::kServerSettings, cmd::kUserPreferences})
            QVERIFY2(f.command(id)->property("commandHandled").toBool(),
                     qPrintable(QString::number(id)));
        // those with rules of their own keep them: Auto Line only for the text body, Edit HTML
        // Template only with an HTML mail
        f.find<QLineEdit>("subject")->setFocus();
        QTRY_VERIFY(!f.command(cmd::kAutoLine)->isEnabled());
        f.find<QPlainTextEdit>("textBody")->setFocus();
        QTRY_VERIFY(f.command(cmd::kAutoLine)->isEnabled());
        QVERIFY(!f.command(cmd::kEditHtmlTemplate)->isEnabled());
        QVERIFY(f.command(cmd::kPreview)->isEnabled());
    }

    // The frame characters of Auto Frame are in the settings file as soon as they are used,
    // not only after a normal close.
    void autoFrameCharactersAreStoredAtOnce() {
        MainWindowFixture f;
        QVERIFY(f.open());
        auto* body = f.find<QPlainTextEdit>("textBody");
        body->setPlainText("framed");
        f.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
        f.find<QLineEdit>("subject")->setFocus();
        body->setFocus();
        body->selectAll();
        QTRY_VERIFY(f.command(cmd::kAutoFrame)->isEnabled());
        const QString frame = QString::fromUtf8("\u25a0");
        MainWindowFixture::whenModal("d_AutoFrame", [&](QWidget* d) {
            d->findChild<QLineEdit*>("frameText")->setText(frame);
            static_cast<QDialog*>(d)->accept();
        });
        f.command(cmd::kAutoFrame)->trigger();
        QVERIFY(body->toPlainText().contains(frame));
        CIniFile ini(f.settingsPath);
        QVERIFY(ini.Load());
        QCOMPARE(ini.GetText("HISTORY", "AutoBoxText", "?"), frame);
    }

    void editDatabaseShowsTheStoreAndMarksTheDocumentModified() {
        MainWindowFixture f;
        QVERIFY(f.open());
        f.addRecipients(3);
        QVERIFY(!f.window->isWindowModified());
        int rows = -1;
        MainWindowFixture::whenModal("d_EditDialog", [&](QWidget* d) {
            rows = d->findChild<QTableView*>("grid1043")->model()->rowCount();
            d->findChild<QPushButton*>("close1153")->click();
        });
        f.command(cmd::kEditDatabase)->trigger();
        QCOMPARE(rows, 3);
        QVERIFY(f.window->isWindowModified());
        QVERIFY(f.find<QLabel>("mainStatusLine")
                    ->text()
                    .contains(str(ids::kStatusItems).arg(3).trimmed()));
    }

    void editorSavesTheDatabaseAsAFileAndOpensOneAgain() {
        MainWindowFixture f;
        QVERIFY(f.open());
        f.addRecipients(3);
        const QString chosen = f.env.root() + "customers";  // ".pzb" is added
        const QString junk = f.env.root() + "junk.pzb";
        QVERIFY(test::writeFile(junk, "not a database at all"));

        // Save As: the file is written and becomes the window's database file.
        f.ui.scriptFiles({{chosen}});
        MainWindowFixture::whenModal("d_EditDialog", [](QWidget* d) {
            auto* editor = static_cast<dbtools::d_EditDialog*>(d);
            editor->run(dbtools::d_EditDialog::Command::SaveDatabaseAs);
            editor->accept();
        });
        f.command(cmd::kEditDatabase)->trigger();
        QVERIFY(QFileInfo(chosen + ".pzb").isFile());
        QCOMPARE(f.session->databaseFile(), chosen + ".pzb");

        f.session->store().Records().DeleteAllRecords();
        QVERIFY(f.session->store().Save(db::SaveMode::Retaining));
        QCOMPARE(f.session->store().Records().CountRecords(), 0);
        // Open: a file that is no database is refused and the records stay; the saved one
        // replaces the database after the question.
        f.ui.clear();
        f.ui.scriptFiles({{junk}, {chosen + ".pzb"}});
        f.ui.script({Answer::Yes, Answer::Ok, Answer::Yes});
        int rowsShown = -1;
        MainWindowFixture::whenModal("d_EditDialog", [&](QWidget* d) {
            auto* editor = static_cast<dbtools::d_EditDialog*>(d);
            editor->run(dbtools::d_EditDialog::Command::OpenDatabase);
            editor->run(dbtools::d_EditDialog::Command::OpenDatabase);
            QAbstractItemModel* grid = d->findChild<QTableView*>("grid1043")->model();
            while (grid->canFetchMore({}))
                grid->fetchMore({});
            rowsShown = grid->rowCount();
            editor->accept();
        });
        f.command(cmd::kEditDatabase)->trigger();
        const QStringList asked = f.ui.askedTexts();
        QCOMPARE(asked.count(str(ids::kReplaceProjectDatabase)), 2);
        QCOMPARE(asked.count(str(ids::kNotADatabaseFile).arg(junk)), 1);
        QCOMPARE(rowsShown, 3);
        QCOMPARE(f.session->store().Records().CountRecords(), 3);
        QCOMPARE(f.session->databaseFile(), chosen + ".pzb");
    }

    void fieldWindowAndFieldNamesFollowEachOther() {
        MainWindowFixture f;
        QVERIFY(f.open());
        auto* fields = f.window->findChild<dbtools::d_FieldShow*>("d_FieldShow");
        QVERIFY(fields);
        QTRY_VERIFY(fields->isVisible());  // "ShowFieldWnd" is set by default
        QAction* display = f.command(cmd::kDisplayFieldWindow);
        QVERIFY(display->isChecked());
        display->trigger();
        QVERIFY(!fields->isVisible());
        QVERIFY(!display->isChecked());
        QVERIFY(!f.session->settings().showFieldWnd);
        display->trigger();
        QVERIFY(fields->isVisible());

        // A placeholder goes to the main window's last focused field.
        activate(f);
        auto* subject = f.find<QLineEdit>("subject");
        subject->setFocus();
        subject->setText("Hello ");
        subject->setCursorPosition(6);
        QTRY_COMPARE(f.window->lastFocusedField(), subject);
        fields->setPreviousWindow(f.window.get());
        fields->button(1)->click();
        QCOMPARE(subject->text(), QStringLiteral("Hello [[Name]]"));

        // Renamed in "Edit Field Names": the field window's button follows.
        f.window->SetModified(false);
        MainWindowFixture::whenModal("d_FieldsNameEdit", [](QWidget* d) {
            auto* edit = d->findChildren<QLineEdit*>().value(2);
            QVERIFY(edit);
            edit->setText("City");
            pressOk(d);
        });
        f.command(cmd::kEditFieldName)->trigger();
        QCOMPARE(fields->button(2)->text(), QStringLiteral("City"));
        QCOMPARE(f.session->store().FieldCaptions().Captions()[2], QStringLiteral("City"));
        QVERIFY(f.window->isWindowModified());
    }

    void previewStepsThroughTheRecipientsOfTheSend() {
        MainWindowFixture f;
        QVERIFY(f.open());
        f.addRecipients(3);
        f.find<QLineEdit>("recipient")->setText("[[Mail Address]]");
        f.find<QLineEdit>("subject")->setText("Hello [[Name]]");
        f.find<QPlainTextEdit>("textBody")->setPlainText("Dear [[Name]],\nsee you.");
        QStringList positions, texts;
        MainWindowFixture::whenModal("d_Preview", [&](QWidget* d) {
            auto* next = d->findChild<QPushButton*>("next");
            for (int i = 0; i < 3; ++i) {
                positions << d->findChild<QLabel*>("position")->text();
                texts << d->findChild<QPlainTextEdit*>("text")->toPlainText();
                next->click();
            }
            QVERIFY(!next->isEnabled());
            d->findChild<QPushButton*>("close")->click();
        });
        f.command(cmd::kPreview)->trigger();
        QCOMPARE(positions, QStringList({"1/3", "2/3", "3/3"}));
        QVERIFY(texts[1].contains("Subject: Hello Person 2"));
        QVERIFY(texts[2].contains("Dear Person 3,"));
        QVERIFY(!texts[0].contains("[[Name]]"));
        QVERIFY(!QFile::exists(f.folders.mainPreviewFolder() + "index.htm"));
    }

    void autoWrapReachesTheSendAndThePreview() {
        MainWindowFixture f("[SETUP]\r\nStartShortcut=0\r\nWrap=1\r\n");
        QVERIFY(f.open());
        QAction* item = f.command(cmd::kAutoWrap);
        QVERIFY(item->isVisible());
        QVERIFY(!item->isChecked());
        MainWindowFixture::whenModal("d_AutoWrap", [](QWidget* d) {
            d->findChild<QCheckBox*>("on")->setChecked(true);
            d->findChild<QLineEdit*>("length")->setText("10");
            pressOk(d);
        });
        item->trigger();
        QVERIFY(item->isChecked());
        QCOMPARE(f.window->autoWrap().lineLength, 10);

        f.find<QLineEdit>("recipient")->setText("someone@example.com");
        f.find<QPlainTextEdit>("textBody")->setPlainText("abcdefghijklmnopqrstuvwxyz");
        std::unique_ptr<send::CSendFlow> flow = f.window->MakeSendFlow();
        std::unique_ptr<IPreviewSource> source =
            send::previewOfSend(*flow, db::SendSelectionMode::All);
        const QString body = source->message(0).body;
        QVERIFY2(body.startsWith("abcdefghij\r\nklmnopqrst\r\n"), qPrintable(body));
    }

    void textToolsWorkOnTheBody() {
        MainWindowFixture f;
        QVERIFY(f.open());
        auto* body = f.find<QPlainTextEdit>("textBody");
        body->setPlainText(QStringLiteral("ｶﾞｯｺｳ abc"));
        f.window->SetModified(false);
        f.ui.script({Answer::Yes});
        f.command(cmd::kCheckKatakana)->trigger();
        QCOMPARE(body->toPlainText(), QStringLiteral("ガッコウ abc"));
        QVERIFY(f.window->isWindowModified());
        body->undo();
        QCOMPARE(body->toPlainText(), QStringLiteral("ｶﾞｯｺｳ abc"));

        QString characters, bytes;
        MainWindowFixture::whenModal("d_CountCharacters", [&](QWidget* d) {
            characters = d->findChild<QLabel*>("characters")->text();
            bytes = d->findChild<QLabel*>("bytes")->text();
            pressOk(d);
        });
        body->setPlainText("abc\nde");
        f.command(cmd::kCountCharacters)->trigger();
        QVERIFY2(characters.startsWith("6"), qPrintable(characters));
        QVERIFY2(bytes.startsWith("6"), qPrintable(bytes));
    }

    void preferencesApplyToTheWindowAtOnce() {
        MainWindowFixture f;
        QVERIFY(f.open());
        auto* toolbar = f.find<QToolBar>("mainToolbar");
        QVERIFY(toolbar->isVisible());
        QVERIFY(!f.command(cmd::kAutoWrap)->isVisible());
        MainWindowFixture::whenModal("d_UserPreferences", [](QWidget* d) {
            d->findChild<QAbstractButton*>("toolbarNo")->setChecked(true);
            d->findChild<QAbstractButton*>("wrapYes")->setChecked(true);
            pressOk(d);
        });
        f.command(cmd::kUserPreferences)->trigger();
        QVERIFY(!toolbar->isVisible());
        auto* tools = f.find<QMenu>("menuTools");
        QCOMPARE(tools->actions().last(), f.command(cmd::kAutoWrap));
        QVERIFY(f.command(cmd::kAutoWrap)->isVisible());
        QCOMPARE(f.session->settings().toolbar, 0);
    }

    void serverSettingsSenderShowsInTheWindow() {
        MainWindowFixture f;
        QVERIFY(f.open());
        MainWindowFixture::whenModal("d_ServerSettings", [](QWidget* d) {
            d->findChild<QLineEdit*>("fromEdit")->setText("office@shop.example");
            d->findChild<QLineEdit*>("nameEdit")->setText("Shop Office");
            pressOk(d);
        });
        f.command(cmd::kServerSettings)->trigger();
        QCOMPARE(f.find<QLineEdit>("senderAddress")->text(), QStringLiteral("office@shop.example"));
        QCOMPARE(f.find<QLineEdit>("senderName")->text(), QStringLiteral("Shop Office"));
        QCOMPARE(f.session->settings().server.from, QStringLiteral("office@shop.example"));
    }

    void gettingStartedAtStart_data() {
        QTest::addColumn<QString>("way");
        QTest::addColumn<bool>("keepShowing");
        QTest::newRow("open") << "open" << true;
        QTest::newRow("outside the choices, next time cleared") << "outside" << false;
        QTest::newRow("select html template") << "html" << true;
        QTest::newRow("exit") << "exit" << true;
        // only "Exit" ends the program: Esc and the close box put the box away
        QTest::newRow("escape") << "escape" << true;
        QTest::newRow("close box") << "close box" << false;
    }
    void gettingStartedAtStart() {
        QFETCH(QString, way);
        QFETCH(bool, keepShowing);
        MainWindowFixture f("[SETUP]\r\nStartShortcut=1\r\n");
        const QByteArray settingsBefore = test::readFile(f.settingsPath);
        bool chooserShown = false;
        QPointer<QTimer> chooser =
            MainWindowFixture::whenModal("d_HTMLTempSelect", [&](QWidget* d) {
                chooserShown = true;
                static_cast<QDialog*>(d)->reject();
            });
        QPointer<QTimer> start = MainWindowFixture::whenModal("d_StartForm", [&](QWidget* d) {
            auto* form = static_cast<d_StartForm*>(d);
            form->findChild<QCheckBox*>("displayNextTime")->setChecked(keepShowing);
            if (way == "exit") {
                form->findChild<QPushButton*>("exitButton")->click();
                return;
            }
            if (way == "escape") {
                QTest::keyClick(form, Qt::Key_Escape);
                return;
            }
            if (way == "close box") {
                form->close();
                return;
            }
            // the middle of the second, third area (Open, Select HTML Template) or none
            const QPoint at = way == "open"   ? form->fromDialogUnits(123, 75)
                              : way == "html" ? form->fromDialogUnits(203, 75)
                                              : form->fromDialogUnits(2, 2);
            QTest::mouseClick(form, Qt::LeftButton, {}, at);
        });
        QVERIFY(f.open());
        QTRY_VERIFY(!start);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        const QString workingCopy = f.session->store().WorkingCopyPath();
        if (way == "exit") {
            // ended at once: no close sequence, so no settings written, but no files left
            QTRY_VERIFY(!f.window->isVisible());
            QCOMPARE(test::readFile(f.settingsPath), settingsBefore);
            QVERIFY(!f.session->store().IsOpen());
            QVERIFY(QDir(f.folders.workingCopyFolder).entryList({"*.pzb"}, QDir::Files).isEmpty());
            f.window.reset();
            return;
        }
        QVERIFY(f.window->isVisible());
        QCOMPARE(f.ui.filesAsked().size(), way == "open" ? 1 : 0);
        QCOMPARE(chooserShown, way == "html");
        delete chooser;
        QCOMPARE(f.session->settings().startShortcut, keepShowing);

        // the next start shows it again only while "Display Next Time" stayed checked
        f.ui.script({Answer::No});
        f.window->close();
        f.window.reset();
        bool shownAgain = false;
        QPointer<QTimer> again = MainWindowFixture::whenModal("d_StartForm", [&](QWidget* d) {
            shownAgain = true;
            QTest::mouseClick(d, Qt::LeftButton, {}, QPoint(2, 2));
        });
        QVERIFY(f.open());
        // Getting Started is a call queued at the start: run it, and the dialog it opens
        QCoreApplication::processEvents();
        QCOMPARE(shownAgain, keepShowing);
        delete again;
    }

    void sendAsksBeforeSendingAllOverAnUnfinishedRun_data() {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<bool>("asked");
        QTest::newRow("all") << "sendToAll" << true;
        QTest::newRow("not yet sent") << "sendToUnsent" << false;
    }
    void sendAsksBeforeSendingAllOverAnUnfinishedRun() {
        QFETCH(QString, choice);
        QFETCH(bool, asked);
        MainWindowFixture f(test::sendingSettings(1));
        QVERIFY(f.open());
        f.addRecipients(2);
        f.find<QLineEdit>("recipient")->setText("[[Mail Address]]");
        const QString project = f.env.root() + "mailing.pzy";
        QVERIFY(f.window->SaveProjectAs(project));
        send::noteUnfinishedRun(f.folders.workingCopyFolder, project);
        // the project is held by another run: whatever the answers, nothing starts
        auto lock = send::CProjectLock::acquire(project);
        QVERIFY(lock);
        f.ui.clear();
        f.ui.script({Answer::No});
        const QByteArray name = choice.toLatin1();
        MainWindowFixture::answerTransmission(name.constData());
        f.command(cmd::kSend)->trigger();
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QVERIFY(!f.window->SendRunActive());
        const QStringList texts = f.ui.askedTexts();
        QCOMPARE(texts.contains(str(ids::kSendAllOverInterrupted)), asked);
        // asked and answered No: nothing more; not asked: on to the start, which the lock refuses
        QCOMPARE(texts.contains(str(ids::kSendProjectBusy)), !asked);
    }
};

QTEST_MAIN(TestMainWindowWiring)
#include "test_mainwin_wiring.moc"
