// The main window's commands on real widgets: the send request's checks, keys, drag and drop,
// the charset popup, the default database, the Test button, and what bad input leaves.

#include <QDialog>
#include <QFontMetricsF>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QUdpSocket>
#include <stdexcept>
#include <thread>

#include "MainWindowFixture.h"
#include "RawStatement.h"
#include "app/ScheduledSend.h"
#include "resources/Strings.h"
#include "send/SendLimits.h"
#include "send/SendRules.h"
#include "smtp/Charsets.h"

using namespace pw;
using namespace pw::app;
using pw::test::MainWindowFixture;

namespace {

void drop(QWidget* target, const QStringList& paths) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& p : paths)
        urls.append(p.contains("://") ? QUrl(p) : QUrl::fromLocalFile(p));
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent dropEvent(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &dropEvent);
}

// Starts aiosmtpd writing what it receives into a folder of the test.
bool startServer(test::SmtpTestServer& server, const QString& out) {
    return server.start({"--out", out});
}

bool waitRunEnded(CPZPtestDlg& w, int ms = 60000) {
    QSignalSpy ended(&w, &CPZPtestDlg::sendRunEnded);
    return ended.wait(ms);
}

}  // namespace

class TestMainWindowCommands : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setLanguage(Language::English); }

    void everyControlAndCommandIsReachable() {
        MainWindowFixture f;
        QVERIFY(f.open());
        for (const char* name :
             {"headerGroup", "headerToggle", "senderAddress", "senderName", "recipient", "subject",
              "mailTabs", "textBody", "sendButton", "testButton", "previewButton",
              "attachmentGroup", "attachmentToggle", "attachmentList", "deleteAttachmentButton"}) {
            auto* w = f.find<QWidget>(name);
            QVERIFY2(w, name);
            QVERIFY2(!w->accessibleName().isEmpty(), name);
            QVERIFY2(w->property("controlId").toInt() > 0, name);
        }
        for (const CommandInfo& c : commandTable()) {
            QAction* a = f.command(c.id);
            QVERIFY2(a, qPrintable(QString::number(c.id)));
            QCOMPARE(a->data().toInt(), c.id);
            if (c.keys)
                QCOMPARE(a->shortcut(), QKeySequence(QString::fromLatin1(c.keys)));
            // a command nobody has filled in yet is never a dead click
            if (c.owner == CommandOwner::Elsewhere && !a->property("commandHandled").toBool())
                QVERIFY2(!a->isEnabled(), qPrintable(a->text()));
        }
        auto* toolbar = f.find<QToolBar>("mainToolbar");
        QCOMPARE(toolbar->actions().size(), 19);
        int buttons = 0;
        for (QAction* a : toolbar->actions()) {
            if (a->isSeparator())
                continue;
            ++buttons;
            QVERIFY(!a->toolTip().isEmpty());
            QVERIFY(!toolbar->widgetForAction(a)->accessibleName().isEmpty());
        }
        QCOMPARE(buttons, 15);
        // every button shows its picture, and all of them fit a window 800 pixels wide
        f.window->resize(800, 600);
        QTRY_COMPARE(f.window->width(), 800);
        QVERIFY(toolbar->sizeHint().width() <= 800);
        for (QAction* a : toolbar->actions()) {
            if (a->isSeparator())
                continue;
            QVERIFY2(!a->icon().isNull(), qPrintable(a->toolTip()));
            QTRY_VERIFY2(toolbar->widgetForAction(a)->isVisible(), qPrintable(a->toolTip()));
        }
        // the minimum size is the invisible frame's
        QCOMPARE(f.window->minimumSize(), f.find<QWidget>("minimumFrame")->size());
    }

    void sendRequestChecksBeforeTheTransmissionDialog_data() {
        QTest::addColumn<QString>("recipient");
        QTest::addColumn<int>("records");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty recipient") << QString() << 3 << str(ids::kNoMailAddress);
        QTest::newRow("placeholder, empty database")
            << "[[Mail Address]]" << 0 << str(ids::kNoDataInDatabase);
    }
    void sendRequestChecksBeforeTheTransmissionDialog() {
        QFETCH(QString, recipient);
        QFETCH(int, records);
        QFETCH(QString, message);
        MainWindowFixture f(test::sendingSettings(1));
        QVERIFY(f.open());
        f.addRecipients(records);
        f.find<QLineEdit>("recipient")->setText(recipient);
        bool dialogShown = false;
        QPointer<QTimer> watch = MainWindowFixture::whenModal("d_Transmission", [&](QWidget* d) {
            dialogShown = true;
            static_cast<QDialog*>(d)->reject();
        });
        f.command(cmd::kSend)->trigger();
        QApplication::processEvents();
        delete watch.data();
        QCOMPARE(f.ui.askedTexts(), QStringList{message});
        QVERIFY(!dialogShown);
        QVERIFY(!f.window->SendRunActive());
    }

    // The check before sending shows its findings through the user interaction before the
    // Transmission dialog (a lookup that fails is a warning, never a pass): Cancel stops the
    // request there, Continue goes on to the dialog.
    void sendRequestShowsTheCheckFirst_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("dialogShown");
        QTest::newRow("cancel") << str(ids::kCheckCancel) << false;
        QTest::newRow("continue") << str(ids::kCheckContinue) << true;
    }
    void sendRequestShowsTheCheckFirst() {
        QFETCH(QString, button);
        QFETCH(bool, dialogShown);
        QUdpSocket probe;  // a port nothing listens on: the name server is not there
        QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
        const QByteArray server = "127.0.0.1:" + QByteArray::number(probe.localPort());
        probe.close();
        qputenv("POSTWICK_DNS_SERVER", server);
        MainWindowFixture f(test::sendingSettings(1, "CheckBeforeSending=1\r\n"));
        QVERIFY(f.open());
        f.addRecipients(3);
        f.find<QLineEdit>("recipient")->setText("[[Mail Address]]");
        f.find<QLineEdit>("subject")->setText("Autumn news");
        f.find<QPlainTextEdit>("textBody")->setPlainText("Hello, our autumn catalogue is out.");
        f.ui.scriptChoices({button});
        bool shown = false;
        QPointer<QTimer> watch = MainWindowFixture::whenModal("d_Transmission", [&](QWidget* d) {
            shown = true;
            static_cast<QDialog*>(d)->reject();
        });
        f.command(cmd::kSend)->trigger();
        QApplication::processEvents();
        delete watch.data();
        qunsetenv("POSTWICK_DNS_SERVER");
        QCOMPARE(f.ui.choicesAsked().size(), 1);
        const ChoiceRequest& asked = f.ui.choicesAsked().first();
        QCOMPARE(asked.caption, str(ids::kCheckCaption));
        QVERIFY2(asked.text.contains("Could not look up shop.example"), qPrintable(asked.text));
        QCOMPARE(shown, dialogShown);
        QVERIFY(!f.window->SendRunActive());
    }

    // A settings file that cannot be read is told at start, no run goes with the defaults
    // in its place, and the close does not write the defaults over it.
    void unreadableSettingsAreToldAndKept() {
        MainWindowFixture f(
            "[SETUP]\r\nSMTPServer=127.0.0.1\r\n\tSMTPPort=2525\r\nFrom=me@example.org\r\n");
        const QByteArray before = test::readFile(f.settingsPath);
        QVERIFY(f.open());
        QTRY_VERIFY(!f.ui.askedTexts().isEmpty());
        const QString told = f.ui.askedTexts().first();
        QVERIFY2(told.contains(QDir::toNativeSeparators(f.settingsPath)) &&
                     told.contains("line 4 begins with the byte 0x09"),
                 qPrintable(told));
        f.ui.clear();
        f.find<QLineEdit>("recipient")->setText("solo@example.org");
        f.command(cmd::kSend)->trigger();
        QCOMPARE(f.ui.askedTexts().size(), 1);
        QVERIFY2(f.ui.askedTexts()[0].startsWith("The settings file"),
                 qPrintable(f.ui.askedTexts()[0]));
        QVERIFY(!f.window->SendRunActive());
        f.ui.script({Answer::No, Answer::No});
        f.window->close();
        f.window.reset();
        QCOMPARE(test::readFile(f.settingsPath), before);
    }

    // Each choice shows whom it reaches; one that reaches nobody says why, not "no data".
    void transmissionChoicesCountAndExplain_data() {
        QTest::addColumn<QString>("update");
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QList<int>>("counts");
        QTest::addColumn<QString>("message");
        // recipients with an earlier outcome, which the dialog says a run clears (0: no word)
        QTest::addColumn<int>("earlier");
        QTest::newRow("all sent, not yet sent chosen")
            << "update MAILS set SENDED=1"
            << "sendToUnsent" << QList<int>{3, 3, 0} << str(ids::kNothingLeftUnsent) << 3;
        QTest::newRow("none marked, selected chosen")
            << "update MAILS set SENDING=0"
            << "sendToSelected" << QList<int>{3, 0, 3} << str(ids::kNoRecipientMarked) << 0;
        QTest::newRow("one failed, not yet sent chosen")
            << "update MAILS set SENDED=2-mod(ID,2)"
            << "sendToUnsent" << QList<int>{3, 3, 0}
            << send::formatMessageText(str(ids::kNothingLeftUnsentSomeFailed), {"1"}) << 3;
        QTest::newRow("one left unsent, cancelled") << "update MAILS set SENDED=1 where ID<3"
                                                    << "" << QList<int>{3, 3, 1} << QString() << 2;
        // "Send later...": a saved project gets its timer, shown (and cancelled) at the next
        // Send; a time gone by or a project never saved schedules nothing
        const QString later = "2099-01-02 09:30";
        QTest::newRow("send later")
            << "saved " + later << "sendLaterButton" << QList<int>{3, 3, 3}
            << send::formatMessageText(str(ids::kScheduledDone), {"later.pzy", later}) << 0;
        QTest::newRow("send later, a time gone by")
            << "saved 2001-01-02 09:30"
            << "sendLaterButton" << QList<int>{3, 3, 3}
            << send::formatMessageText(str(ids::kSendLaterBadTime), {"2001-01-02 09:30"}) << 0;
        QTest::newRow("send later, never saved")
            << "unsaved " + later << "sendLaterButton" << QList<int>{3, 3, 3}
            << str(ids::kSaveBeforeScheduling) << 0;
    }
    void transmissionChoicesCountAndExplain() {
        QFETCH(QString, update);
        QFETCH(QString, choice);
        QFETCH(QList<int>, counts);
        QFETCH(QString, message);
        QFETCH(int, earlier);
        MainWindowFixture f(test::sendingSettings(1));
        QVERIFY(f.open());
        f.addRecipients(3);
        const QString units = f.env.makeFolder("units");
        QList<QStringList> systemctl;
        f.window->SetScheduler(units, [&systemctl](const QStringList& a) {
            systemctl << a;
            return 0;
        });
        const bool later = choice == "sendLaterButton";
        if (later) {
            if (update.startsWith("saved"))
                f.session->document().projectFilePath = f.env.root() + "later.pzy";
            f.ui.scriptTexts({update.section(' ', 1)});
        } else {
            pw::test::execute(f.session->store(), update);
        }
        (void)f.session->store().Save(db::SaveMode::Retaining);
        f.find<QLineEdit>("recipient")->setText("[[Mail Address]]");
        QStringList labels;
        QString noteShown;
        QPointer<QTimer> watch = MainWindowFixture::whenModal("d_Transmission", [&](QWidget* d) {
            for (const char* name : {"sendToAll", "sendToSelected", "sendToUnsent"})
                labels << d->findChild<QAbstractButton*>(name)->text();
            const QLabel* note = d->findChild<QLabel*>("earlierOutcomesNote");
            noteShown = note->isVisibleTo(d) ? note->text() : QString();
            labels << d->findChild<QLabel*>("sendEstimate")->text();
            if (choice.isEmpty()) {
                d->findChild<QPushButton*>("cancelButton")->click();
                return;
            }
            if (later)
                return d->findChild<QPushButton*>(choice)->click();
            d->findChild<QAbstractButton*>(choice)->setChecked(true);
            d->findChild<QPushButton*>("okButton")->click();
        });
        f.command(cmd::kSend)->trigger();
        QTRY_VERIFY(!watch);
        QCOMPARE(labels.size(), 4);
        // "all" is chosen when the dialog opens; a loopback server has no limits
        QCOMPARE(labels[3], send::sendEstimateText(3, {}));
        for (int i = 0; i < 3; ++i) {
            const QString shown = counts[i] == 1 ? QStringLiteral("(1 recipient)")
                                                 : QStringLiteral("(%1 recipients)").arg(counts[i]);
            QVERIFY2(labels[i].endsWith(shown), qPrintable(labels[i]));
        }
        QCOMPARE(f.ui.askedTexts(), message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(noteShown,
                 earlier ? str(ids::kTransmissionEarlierOutcomes).arg(earlier) : QString());
        QVERIFY(!f.window->SendRunActive());
        const QList<app::ScheduledSend> scheduled = app::scheduledSends(units);
        QCOMPARE(scheduled.size(), message.startsWith("The recipients of") ? 1 : 0);
        if (scheduled.isEmpty()) {
            QVERIFY(systemctl.isEmpty());
            return;
        }
        // saved first: the timer's run reads the file
        QVERIFY(QFile::exists(f.env.root() + "later.pzy"));
        QCOMPARE(scheduled[0].when.toLocalTime().toString("yyyy-MM-dd HH:mm"), "2099-01-02 09:30");
        f.ui.clear();
        f.ui.scriptChoices({str(ids::kScheduledCancel)});
        watch = MainWindowFixture::whenModal("d_Transmission", [](QWidget* d) {
            d->findChild<QPushButton*>("cancelButton")->click();
        });
        f.command(cmd::kSend)->trigger();
        QTRY_VERIFY(!watch);
        QCOMPARE(f.ui.askedTexts(), QStringList{send::formatMessageText(str(ids::kScheduledShown),
                                                                        {"2099-01-02 09:30"})});
        QVERIFY(app::scheduledSends(units).isEmpty());
        QCOMPARE(systemctl.value(2), (QStringList{"disable", "--now", scheduled[0].unit}));
    }

    void literalAddressWithRecordsSendsOneMail() {
        test::SmtpTestServer server;
        const QString out = f_out();
        QVERIFY2(startServer(server, out), qPrintable(server.errorText()));
        MainWindowFixture f(test::sendingSettings(server.port()));
        QVERIFY(f.open());
        f.addRecipients(5);
        f.find<QLineEdit>("recipient")->setText("solo@example.org");
        f.find<QLineEdit>("subject")->setText("One for you");
        f.find<QPlainTextEdit>("textBody")->setPlainText("Hello");
        MainWindowFixture::answerTransmission();
        f.find<QPushButton>("sendButton")->click();
        QVERIFY(waitRunEnded(*f.window));
        QCOMPARE(f.ui.askedTexts().value(0), str(ids::kDatabaseAddressesNotUsed));
        const QStringList mails = test::capturedMessages(out);
        QCOMPARE(mails.size(), 1);
        QVERIFY(test::readFile(QString(mails[0]).replace(".eml", ".json"))
                    .contains("solo@example.org"));
        // no record was touched by a single send
        QCOMPARE(
            f.session->store().SendRun().LoadSendSelection(db::SendSelectionMode::NotSent).count,
            5);
        QCOMPARE(f.ui.choicesAsked().size(), 1);
        QVERIFY(f.ui.choicesAsked()[0].text.startsWith(str(ids::kSummaryComplete)));
        server.stop();
    }

    void enterAndEscapeNeverCloseAndTypingMarksModified() {
        MainWindowFixture f;
        QVERIFY(f.open());
        QVERIFY(!f.window->DocumentModified());
        auto* subject = f.find<QLineEdit>("subject");
        subject->setText("Sale");
        subject->setFocus();
        QTest::keyClick(subject, Qt::Key_Return);
        QTest::keyClick(subject, Qt::Key_Escape);
        QTest::keyClick(f.window.get(), Qt::Key_Escape);
        QVERIFY(f.window->isVisible());
        QCOMPARE(subject->text(), QStringLiteral("Sale"));
        QVERIFY(f.window->DocumentModified());
        QVERIFY(f.shownTitle().endsWith('*'));
        // in the body Enter is a line break
        auto* body = f.find<QPlainTextEdit>("textBody");
        body->setFocus();
        QTest::keyClicks(body, "a");
        QTest::keyClick(body, Qt::Key_Return);
        QTest::keyClicks(body, "b");
        QCOMPARE(body->toPlainText(), QStringLiteral("a\nb"));
    }

    void droppedFilesAreListedAsDroppedAndDeletedOneByOne() {
        MainWindowFixture f;
        QVERIFY(f.open());
        const QString file = f.env.root() + "price list.pdf";
        QVERIFY(test::writeFile(file, "%PDF"));
        drop(f.window.get(), {file});
        drop(f.window.get(), {file});
        auto* list = f.find<QListWidget>("attachmentList");
        QCOMPARE(list->count(), 2);
        QCOMPARE(f.window->Attachments(), QStringList({file, file}));
        QVERIFY(f.command(cmd::kDeleteFile)->isEnabled());
        list->item(1)->setSelected(true);
        f.ui.script({Answer::Yes});
        f.find<QPushButton>("deleteAttachmentButton")->click();
        QCOMPARE(f.ui.asked().last().text, str(ids::kDeleteAttachmentQuestion));
        QCOMPARE(f.ui.asked().last().kind, MessageKind::YesNo);
        QCOMPARE(list->count(), 1);
        QCOMPARE(f.window->Attachments(), QStringList{file});
        // No keeps the list
        list->item(0)->setSelected(true);
        f.ui.script({Answer::No});
        f.command(cmd::kDeleteFile)->trigger();
        QCOMPARE(list->count(), 1);
    }

    // A file dropped on a text field is attached like one dropped on the window, not pasted
    // as its file:// URL; a web link stays the field's.
    void filesDroppedOnTextFieldsAreAttached_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("dropped");
        for (const char* field :
             {"textBody", "senderAddress", "senderName", "recipient", "subject"})
            QTest::newRow(field) << field << "price list.pdf";
        QTest::newRow("web link on the subject") << "subject"
                                                 << "https://shop.example/offer";
    }
    void filesDroppedOnTextFieldsAreAttached() {
        QFETCH(QString, field);
        QFETCH(QString, dropped);
        MainWindowFixture f;
        QVERIFY(f.open());
        const bool link = dropped.contains("://");
        const QString file = link ? dropped : f.env.root() + dropped;
        if (!link)
            QVERIFY(test::writeFile(file, "%PDF"));
        auto* body = f.find<QPlainTextEdit>("textBody");
        auto* edit = f.window->findChild<QLineEdit*>(field);
        drop(field == "textBody" ? body->viewport() : static_cast<QWidget*>(edit), {file});
        QCOMPARE(f.window->Attachments(), link ? QStringList() : QStringList{file});
        const QString text = field == "textBody" ? body->toPlainText() : edit->text();
        QVERIFY2(!text.contains("file:"), qPrintable(text));
    }

    // What "Set line length to text window width" sends: every line as the editor would show
    // it, the lines below the visible part too.
    void bodyLinesAreWrappedOffScreenToo() {
        MainWindowFixture f;
        QVERIFY(f.open());
        auto* body = f.find<QPlainTextEdit>("textBody");
        QStringList text;
        for (int i = 0; i < 201; ++i)
            text << QStringLiteral("line %1 ").arg(i) + QString("word ").repeated(60);
        body->setPlainText(text.join('\n'));
        QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
        const QStringList lines = DisplayedLines(*body);
        QVERIFY2(lines.size() > 2 * 201, qPrintable(QString::number(lines.size())));
        const QFontMetricsF metrics(body->font());
        const qreal room = body->viewport()->width();
        for (const QString& line : lines)
            QVERIFY2(metrics.horizontalAdvance(line.trimmed()) <= room, qPrintable(line));
        // the last line, far below the window, is broken too
        const qsizetype last = lines.indexOf(lines.filter(QStringLiteral("line 200 ")).value(0));
        QVERIFY(last > 0 && lines.size() - last > 1);
    }

    void statusLineReadsAsSentences_data() {
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("attachments");
        QTest::addColumn<QString>("text");
        const QString length = "The field's set length is 100 symbols.";
        QTest::newRow("nothing") << 0 << 0 << length;
        QTest::newRow("one of each")
            << 1 << 1 << length + " There is 1 item in the database. There is 1 attachment.";
        QTest::newRow("several")
            << 3 << 2 << length + " There are 3 items in the database. There are 2 attachments.";
    }
    void statusLineReadsAsSentences() {
        QFETCH(int, records);
        QFETCH(int, attachments);
        QFETCH(QString, text);
        MainWindowFixture f;
        QVERIFY(f.open());
        f.addRecipients(records);
        QStringList files;
        for (int i = 0; i < attachments; ++i) {
            files << f.env.root() + QStringLiteral("file%1.txt").arg(i);
            QVERIFY(test::writeFile(files.last(), "x"));
        }
        QVERIFY(f.window->AddAttachments(files));
        QCOMPARE(f.find<QLabel>("mainStatusLine")->text(), text);
        // what the store could not do, from any thread, is told there too
        std::thread([&f] {
            f.session->store().ReportDroppedError("Writing a grid cell",
                                                  std::runtime_error("refused"));
        }).join();
        QTRY_COMPARE(f.window->statusBar()->currentMessage(),
                     str(ids::kDatabaseErrorStatus).arg("Writing a grid cell failed: refused"));
    }

    void charsetItemIsCheckedAloneAndKeptAtClose() {
        MainWindowFixture f;
        QVERIFY(f.open());
        auto* popup = f.find<QMenu>("menuCharacterEncoding");
        QVERIFY(popup);
        int items = 0, separators = 0;
        for (QAction* a : popup->actions())
            a->isSeparator() ? ++separators : ++items;
        QVERIFY(items >= 23);
        QVERIFY(separators > 0);
        // outside a Japanese locale a new document starts in UTF-8
        QVERIFY(f.command(cmd::kCharsetFirst + smtp::utf8CharsetRow())->isChecked());
        f.command(cmd::kCharsetFirst + 5)->trigger();
        for (QAction* a : popup->actions()) {
            if (!a->isSeparator())
                QCOMPARE(a->isChecked(), a->data().toInt() == cmd::kCharsetFirst + 5);
        }
        f.window->close();
        f.window.reset();
        CIniFile ini(f.settingsPath);
        QVERIFY(ini.Load());
        QCOMPARE(ini.GetText("SETUP", "Encode", "?"), QStringLiteral("5"));
    }

    void defaultDatabaseCommandWritesAndClearsThePath() {
        MainWindowFixture f;
        QVERIFY(f.open());
        QAction* item = f.command(cmd::kDefaultDatabase);
        QCOMPARE(f.find<QMenu>("menuDatabase")->actions().first(), item);
        // no database file of the user's yet
        item->trigger();
        QCOMPARE(f.ui.askedTexts().value(0), str(ids::kNoDatabaseFileOpened));
        QVERIFY(!item->isChecked());

        const QString file = f.env.root() + "customers.pzb";
        QVERIFY(f.session->store().SaveAs(file));
        f.session->setDatabaseFile(file);
        item->trigger();
        QVERIFY(item->isChecked());
        CIniFile ini(f.settingsPath);
        QVERIFY(ini.Load());
        QCOMPARE(ini.GetText("SETUP", "DefaultDBPath", "?"), QFileInfo(file).absoluteFilePath());
        QCOMPARE(f.ui.askedTexts().value(1), str(ids::kDefaultDatabaseSet).arg(file));

        item->trigger();
        QVERIFY(!item->isChecked());
        QVERIFY(ini.Load());
        QCOMPARE(ini.GetText("SETUP", "DefaultDBPath", "?"), QString());
        QCOMPARE(f.ui.askedTexts().value(2), str(ids::kNoDefaultDatabase));
    }

    void testButtonSendsOneMailToTheTestAddress_data() {
        QTest::addColumn<QString>("testAddress");
        QTest::newRow("no test address") << QString();
        QTest::newRow("test address") << "me@shop.example";
    }
    void testButtonSendsOneMailToTheTestAddress() {
        QFETCH(QString, testAddress);
        test::SmtpTestServer server;
        const QString out = f_out();
        QVERIFY2(startServer(server, out), qPrintable(server.errorText()));
        MainWindowFixture f(test::sendingSettings(
            server.port(), "TestEmailAddress=" + testAddress.toUtf8() + "\r\n"));
        QVERIFY(f.open());
        f.addRecipients(4);
        f.find<QLineEdit>("recipient")->setText("[[Mail Address]]");
        f.find<QLineEdit>("subject")->setText("Dear [[Name]]");
        f.find<QPlainTextEdit>("textBody")->setPlainText("Hello [[Name]]");
        QSignalSpy runs(f.window.get(), &app::CPZPtestDlg::runStateChanged);
        f.ui.scriptChoices({str(ids::kTestMergeNone)});  // the merged test is offered first
        f.find<QPushButton>("testButton")->click();
        if (testAddress.isEmpty()) {
            QCOMPARE(f.ui.askedTexts(), QStringList{str(ids::kNoTestAddress)});
            // nothing queued starts a run later: a mail goes only through one
            QCoreApplication::processEvents();
            QCOMPARE(runs.count(), 0);
            QVERIFY(!f.window->SendRunActive());
            QCOMPARE(test::capturedMessages(out).size(), 0);
            return;
        }
        QVERIFY(waitRunEnded(*f.window));
        const QStringList mails = test::capturedMessages(out);
        QCOMPARE(mails.size(), 1);
        QVERIFY(test::readFile(QString(mails[0]).replace(".eml", ".json"))
                    .contains(testAddress.toUtf8()));
        // the test mail is sent as typed, and no recipient is marked sent
        QVERIFY(test::readFile(mails[0]).contains("Hello [[Name]]"));
        QCOMPARE(
            f.session->store().SendRun().LoadSendSelection(db::SendSelectionMode::NotSent).count,
            4);
    }

    void badInputGetsAMessageAndLosesNothing() {
        test::SmtpTestServer server;
        const QString out = f_out();
        QVERIFY2(startServer(server, out), qPrintable(server.errorText()));
        MainWindowFixture f(test::sendingSettings(server.port()));
        QVERIFY(f.open());
        auto* list = f.find<QListWidget>("attachmentList");

        // a folder
        const QString folder = f.env.makeFolder("pictures");
        drop(f.window.get(), {folder});
        QCOMPARE(f.ui.askedTexts().value(0),
                 str(ids::kDroppedFolder).arg(QDir::toNativeSeparators(folder)));
        QCOMPARE(list->count(), 0);

        // a file that goes away before the send
        const QString file = f.env.root() + "flyer.pdf";
        QVERIFY(test::writeFile(file, "%PDF"));
        drop(f.window.get(), {file});
        QVERIFY(QFile::remove(file));
        f.find<QLineEdit>("recipient")->setText("solo@example.org");
        f.ui.clear();
        f.command(cmd::kSend)->trigger();
        QCOMPARE(f.ui.askedTexts().size(), 1);
        QVERIFY(f.ui.askedTexts()[0].contains(QDir::toNativeSeparators(file)));
        QVERIFY(!f.window->SendRunActive());
        QCOMPARE(list->count(), 1);  // kept for the user to deal with

        // a project that cannot be opened
        const QString broken = f.env.root() + "broken.pzy";
        QVERIFY(test::writeFile(broken, "mlDB and nothing a project holds"));
        f.window->SetModified(false);
        const QString title = f.shownTitle();
        f.ui.clear();
        f.ui.scriptFiles({{broken}});
        f.command(cmd::kOpen)->trigger();
        QCOMPARE(f.ui.askedTexts(), QStringList{str(ids::kFileCannotBeOpened)});
        QCOMPARE(f.shownTitle(), title);
        QVERIFY(f.session->store().IsOpen());
        QCOMPARE(list->count(), 1);

        // an unreachable server
        f.ui.clear();
        f.ui.script({Answer::Yes});
        list->selectAll();
        f.command(cmd::kDeleteFile)->trigger();
        server.stop();
        MainWindowFixture::answerTransmission();
        f.command(cmd::kSend)->trigger();
        QVERIFY(waitRunEnded(*f.window));
        QVERIFY(f.ui.choicesAsked().last().text.startsWith(str(ids::kSummaryErrors)));
        QVERIFY(f.command(cmd::kSend)->isEnabled());
        QCOMPARE(f.find<QLineEdit>("recipient")->text(), QStringLiteral("solo@example.org"));
    }

private:
    QString f_out() {
        m_dirs.push_back(std::make_unique<QTemporaryDir>());
        return m_dirs.back()->path() + '/';
    }
    std::vector<std::unique_ptr<QTemporaryDir>> m_dirs;
};

QTEST_MAIN(TestMainWindowCommands)
#include "test_mainwin_commands.moc"
