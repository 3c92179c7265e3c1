// Sending from the window to a real aiosmtpd: a merge run of 50 with the window responsive all
// the way, the summary and its "View Log", a cancelled run, closing during a run, a run
// started over unsaved edits of the database, and a run refused for its server's certificate.

#include <unistd.h>
#include <QLabel>
#include <QProgressBar>

#include "MainWindowFixture.h"
#include "RawStatement.h"
#include "app/ProjectStore.h"
#include "app/SendCommand.h"
#include "app/gui/SendWindows.h"
#include "dbtools/gui/d_EditDialog.h"
#include "resources/Strings.h"
#include "send/RunMarker.h"
#include "serversettings/gui/d_ServerSettings.h"

using namespace pw;
using namespace pw::app;
using pw::test::MainWindowFixture;

namespace {

bool waitRunEnded(CPZPtestDlg& w, int ms = 120000) {
    QSignalSpy ended(&w, &CPZPtestDlg::sendRunEnded);
    return ended.wait(ms);
}

QString progressCounter(CPZPtestDlg& w) {
    auto* label = w.findChild<QLabel*>(QStringLiteral("counterLine"));
    return label ? label->text() : QString();
}

// Records with SENDED = 0 (value 0) or not 0.
int sentFlags(db::TDbData& store, int value) {
    const int all = store.SendRun().LoadSendSelection(db::SendSelectionMode::All).count;
    const int unsent = store.SendRun().LoadSendSelection(db::SendSelectionMode::NotSent).count;
    return value == 0 ? unsent : all - unsent;
}

}  // namespace

class TestMainWindowSend : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setLanguage(Language::English); }

    void mergeSendOfFiftyKeepsTheWindowResponsive() {
        test::SmtpTestServer server;
        QTemporaryDir out;
        QVERIFY2(server.start({"--out", out.path()}), qPrintable(server.errorText()));
        MainWindowFixture f(test::sendingSettings(server.port(), "LogView=1\r\n"));
        QVERIFY(f.open());
        f.addRecipients(50);
        f.find<QLineEdit>("recipient")->setText("[[Mail Address]]");
        f.find<QLineEdit>("subject")->setText("Offer for [[Name]]");
        f.find<QPlainTextEdit>("textBody")->setPlainText("Dear [[Name]],\nsee you.");

        // the interface thread must keep turning while the worker sends
        int ticks = 0;
        QTimer heartbeat;
        heartbeat.setInterval(20);
        connect(&heartbeat, &QTimer::timeout, this, [&] { ++ticks; });
        QStringList counters;
        QTimer watcher;
        watcher.setInterval(5);
        connect(&watcher, &QTimer::timeout, this, [&] {
            const QString c = progressCounter(*f.window);
            if (!c.isEmpty() && (counters.isEmpty() || counters.last() != c))
                counters.append(c);
        });

        // the window as it stands when the run has ended, the last counter included
        connect(f.window.get(), &CPZPtestDlg::sendRunEnded, this,
                [&] { counters.append(progressCounter(*f.window)); });
        f.ui.scriptChoices({str(ids::kMainButtonViewLog)});
        MainWindowFixture::answerTransmission();
        heartbeat.start();
        watcher.start();
        f.command(cmd::kSend)->trigger();
        QVERIFY(f.window->SendRunActive());
        QVERIFY(!f.command(cmd::kSend)->isEnabled());  // one run at a time
        QVERIFY(waitRunEnded(*f.window));
        heartbeat.stop();
        watcher.stop();

        QCOMPARE(counters.last(), QStringLiteral("50  /  50"));
        // on a quiet machine the run takes a fraction of a second: what counts is that the
        // timer kept firing (how long the interface thread waits is the benchmarks' business)
        QVERIFY2(ticks >= 1, qPrintable(QString::number(ticks)));

        const QStringList mails = test::capturedMessages(out.path() + '/');
        QCOMPARE(mails.size(), 50);
        // each one merged with its own recipient
        QSet<QByteArray> greetings, envelopes;
        for (const QString& m : mails) {
            const QByteArray mail = test::readFile(m);
            const qsizetype at = mail.indexOf("Dear Person ");
            QVERIFY(at >= 0);
            greetings.insert(mail.mid(at, mail.indexOf(',', at) - at));
            envelopes.insert(test::readFile(QString(m).replace(".eml", ".json")));
        }
        QCOMPARE(greetings.size(), 50);
        QCOMPARE(envelopes.size(), 50);
        QCOMPARE(sentFlags(f.session->store(), 0), 0);

        QCOMPARE(f.ui.choicesAsked().size(), 1);
        const ChoiceRequest& summary = f.ui.choicesAsked()[0];
        QCOMPARE(summary.caption, str(ids::kSummaryCaption));
        QVERIFY(summary.text.startsWith(str(ids::kSummaryComplete)));
        QCOMPARE(summary.buttons.value(summary.defaultButton), str(ids::kMainButtonViewLog));
        QCOMPARE(f.launched.size(), 1);
        QCOMPARE(f.launched[0].toLocalFile(), f.folders.logFilePath());
        QVERIFY(test::readFile(f.folders.logFilePath()).contains("Mail transmission ended."));
        // the log window was fed while "LogView" was on
        auto* log = f.window->findChild<CLogWindow*>(QStringLiteral("d_log"));
        QVERIFY(log);
        QTRY_VERIFY(log->text().contains(QStringLiteral("Mail transmission ended.")));
        // outcomes are in the working copy, not yet in a project file: the save question is due
        QVERIFY(f.window->DocumentModified());

        // a second run, cancelled from the progress window while it waits between batches
        f.session->settings().oneTimeSend = 5;
        f.session->settings().sendWait = 60;
        f.ui.clear();
        MainWindowFixture::answerTransmission("sendToAll");
        f.command(cmd::kSend)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(progressCounter(*f.window), QStringLiteral("5  /  50"), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(f.window->findChild<CSendProgressForm*>()->statusText().startsWith(
                                     str(ids::kSendStatusStandingBy)),
                                 20000);
        QSignalSpy ended(f.window.get(), &CPZPtestDlg::sendRunEnded);
        f.window->findChild<CSendProgressForm*>()->findChild<QPushButton*>("cancelButton")->click();
        // well before the minute's pause is over
        QVERIFY(ended.wait(30000));
        QVERIFY(f.ui.choicesAsked().last().text.startsWith(str(ids::kSummaryCancelled)));
        QCOMPARE(test::capturedMessages(out.path() + '/').size(), 55);
        server.stop();
    }

    // While a run lives, every command that touches its database, working copy, log,
    // settings or project is disabled, and refused where it still arrives; none of them
    // changes what the run works on, and the run records every outcome.
    void commandsLockedDuringARun_data() {
        QTest::addColumn<int>("command");
        // not empty: that window was opened by the command before the run started
        QTest::addColumn<QString>("openBefore");
        QTest::newRow("editor open before the run") << cmd::kEditDatabase << "d_EditDialog";
        QTest::newRow("Server Settings open before the run")
            << cmd::kServerSettings << "d_ServerSettings";
        QTest::newRow("New") << cmd::kNew << QString();
        QTest::newRow("Open") << cmd::kOpen << QString();
        QTest::newRow("Save") << cmd::kSave << QString();
        QTest::newRow("Save As") << cmd::kSaveAs << QString();
        QTest::newRow("Select Template") << cmd::kSelectTemplate << QString();
        QTest::newRow("Preview") << cmd::kPreview << QString();
        QTest::newRow("Default Database") << cmd::kDefaultDatabase << QString();
        QTest::newRow("Edit Database") << cmd::kEditDatabase << QString();
        QTest::newRow("Import DataBase") << cmd::kImportDatabase << QString();
        QTest::newRow("Export DataBase") << cmd::kExportDatabase << QString();
        QTest::newRow("Clear DataBase") << cmd::kClearDatabase << QString();
        QTest::newRow("Edit Field Names") << cmd::kEditFieldName << QString();
        QTest::newRow("Server Settings") << cmd::kServerSettings << QString();
        QTest::newRow("Unsubscribe Settings") << cmd::kUnsubscribeSettings << QString();
    }
    void commandsLockedDuringARun() {
        QFETCH(int, command);
        QFETCH(QString, openBefore);
        test::SmtpTestServer server;
        QTemporaryDir out;
        // a second per mail: the run outlasts whatever the command would do
        QVERIFY2(server.start({"--out", out.path(), "--data-delay", "1000"}),
                 qPrintable(server.errorText()));
        MainWindowFixture f(test::sendingSettings(server.port()));
        QVERIFY(f.open());
        f.addRecipients(3);
        f.find<QLineEdit>("recipient")->setText("[[Mail Address]]");
        const QString project = f.env.root() + "locked.pzy";
        QVERIFY(f.window->SaveProjectAs(project));
        const QByteArray projectBytes = test::readFile(project);
        db::TDbData& store = f.session->store();
        const QString copy = store.WorkingCopyPath();

        f.ui.clear();
        f.ui.scriptChoices({str(ids::kButtonOk)});
        bool lockedInside = openBefore.isEmpty();
        const auto send = [&] {
            MainWindowFixture::answerTransmission();
            f.command(cmd::kSend)->trigger();
        };
        // a window opened before the run: its own commands ask the run too
        const auto inside = [&](QWidget* d) {
            send();
            using C = dbtools::d_EditDialog::Command;
            auto* editor = qobject_cast<dbtools::d_EditDialog*>(d);
            auto* dialog = qobject_cast<serversettings::d_ServerSettings*>(d);
            const bool off = editor
                                 ? !editor->action(C::ClearResult)->isEnabled()
                                 : !d->findChild<QPushButton*>("testConnectionButton")->isEnabled();
            editor ? editor->run(C::ClearResult) : dialog->testConnection();
            lockedInside = off && f.ui.askedTexts().last() == str(ids::kRunLocksCommand);
            editor ? editor->run(C::Exit) : dialog->reject();  // the editor asks no save question
        };
        if (openBefore.isEmpty())
            send();
        else if (QPointer<QTimer> t = MainWindowFixture::whenModal(openBefore, inside); t)
            f.command(command)->trigger();
        QVERIFY(lockedInside);
        QVERIFY(f.window->SendRunActive());
        QVERIFY(f.window->runState().running());
        QAction* action = f.command(command);
        QVERIFY(!action->isEnabled());
        action->trigger();  // a disabled action: nothing happens
        QVERIFY(f.window->runState().refuses(command, f.ui));
        QCOMPARE(f.ui.askedTexts().last(), str(ids::kRunLocksCommand));
        QCOMPARE(store.WorkingCopyPath(), copy);
        QVERIFY(store.IsOpen());
        QCOMPARE(store.Records().CountRecords(), 3);
        QCOMPARE(test::readFile(project), projectBytes);

        QVERIFY(waitRunEnded(*f.window));
        QVERIFY(f.ui.choicesAsked().value(0).text.startsWith(str(ids::kSummaryComplete)));
        QCOMPARE(test::capturedMessages(out.path() + '/').size(), 3);
        QCOMPARE(sentFlags(store, 0), 0);
        QVERIFY(test::readFile(f.folders.logFilePath()).contains("Mail transmission ended."));
        QVERIFY(action->isEnabled());
        QVERIFY(!f.window->runState().refuses(command, f.ui));
        server.stop();
    }

    void closingDuringARunAsksThenCancelsAndWaits() {
        test::SmtpTestServer server;
        QTemporaryDir out;
        QVERIFY2(server.start({"--out", out.path()}), qPrintable(server.errorText()));
        MainWindowFixture f(
            test::sendingSettings(server.port(), "OneTimeSend=2\r\nSendWait=60\r\n"));
        QVERIFY(f.open());
        f.addRecipients(6);
        const QString workingCopy = f.session->store().WorkingCopyPath();
        f.find<QLineEdit>("recipient")->setText("[[Mail Address]]");
        MainWindowFixture::answerTransmission();
        f.command(cmd::kSend)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(progressCounter(*f.window), QStringLiteral("2  /  6"), 60000);

        // No: the window stays and the run goes on
        f.ui.script({Answer::No});
        QVERIFY(!f.window->close());
        QVERIFY(f.window->SendRunActive());
        // Yes: the run is cancelled, ends, and then the close sequence runs (save question: No)
        f.ui.script({Answer::Yes, Answer::No});
        f.window->close();
        QTRY_VERIFY_WITH_TIMEOUT(!f.window->isVisible(), 10000);
        QVERIFY(!f.window->SendRunActive());
        QVERIFY(!QFile::exists(workingCopy));
        QCOMPARE(f.ui.asked().first().text, str(ids::kRunInProgressClose));
        QCOMPARE(test::capturedMessages(out.path() + '/').size(), 2);
        f.window.reset();
        server.stop();
    }

    void runOverUnsavedDatabaseEditsRecordsEveryOutcome() {
        test::SmtpTestServer server;
        QTemporaryDir out;
        QVERIFY2(server.start({"--out", out.path()}), qPrintable(server.errorText()));
        MainWindowFixture f(test::sendingSettings(server.port()));
        QVERIFY(f.open());
        f.addRecipients(4);
        // an edit of the main transaction, not saved: it holds the rows the run writes
        pw::test::execute(f.session->store(), "update MAILS set NAME = 'Edited' where ID <= 4");
        f.find<QLineEdit>("recipient")->setText("[[Mail Address]]");
        MainWindowFixture::answerTransmission();
        f.command(cmd::kSend)->trigger();
        QVERIFY(waitRunEnded(*f.window));
        QCOMPARE(test::capturedMessages(out.path() + '/').size(), 4);

        // saved as a project: every outcome is in it
        const QString project = f.env.root() + "spring.pzy";
        QVERIFY(f.window->SaveProjectAs(project));
        f.window->close();
        f.window.reset();
        test::ScriptedUserInteraction ui;
        db::TDbData store(db::DbFolders{f.folders.userDataFolder, f.folders.workingCopyFolder});
        QVERIFY(
            openProject(project, f.env.makeFolder("preview2"), store, CodePage::utf8(), &ui).ok());
        QCOMPARE(store.SendRun().LoadSendSelection(db::SendSelectionMode::NotSent).count, 0);
        QCOMPARE(store.SendRun().LoadSendSelection(db::SendSelectionMode::All).count, 4);
        store.Close(db::CloseMode::DeleteWorkingCopy);
        server.stop();
    }

    // After a run of a saved project the next one starts without a save, and closing with
    // "No" keeps who was mailed: the next start offers to write it into the project.
    void nextRunNeedsNoSaveAndNoKeepsWhoWasMailed() {
        test::SmtpTestServer server;
        QTemporaryDir out;
        QVERIFY2(server.start({"--out", out.path()}), qPrintable(server.errorText()));
        MainWindowFixture f(test::sendingSettings(server.port()));
        QVERIFY(f.open());
        f.addRecipients(3);
        f.find<QLineEdit>("recipient")->setText("[[Mail Address]]");
        const QString project = f.env.root() + "autumn.pzy";
        QVERIFY(f.window->SaveProjectAs(project));
        for (int run = 1; run <= 2; ++run) {
            f.ui.clear();
            f.ui.scriptChoices({str(ids::kButtonOk)});
            MainWindowFixture::answerTransmission();
            f.command(cmd::kSend)->trigger();
            QVERIFY(waitRunEnded(*f.window));
            QVERIFY(f.ui.choicesAsked().value(0).text.startsWith(str(ids::kSummaryComplete)));
            QCOMPARE(test::capturedMessages(out.path() + '/').size(), 3 * run);
        }
        const QString copy = f.session->store().WorkingCopyPath();
        f.ui.clear();
        f.ui.script({Answer::No});
        f.window->close();
        QTRY_VERIFY(!f.window->isVisible());
        f.window.reset();
        QCOMPARE(f.ui.askedTexts(), QStringList{str(ids::kDocumentNotSaved)});
        QVERIFY(QFile::exists(copy));
        QVERIFY(
            send::readMarker(send::markerPathFor(copy)).value_or(send::InterruptedRun{}).unsaved);

        test::ScriptedUserInteraction ui;
        CAppSession next(f.folders, f.settingsPath, ui);
        (void)next.Start();
        ui.script({Answer::Yes});
        next.OfferRecovery();
        QVERIFY(ui.asked().value(0).text.startsWith(
            str(ids::kRecoveryOfferUnsaved).arg(project).section("%2", 0, 0)));
        QCOMPARE(ui.asked().value(1).text, str(ids::kRecoveryDone));  // the copy went into it
        QVERIFY(!QFile::exists(copy));
        QVERIFY(next.Close(false, {}, {}) == CAppSession::CloseResult::Closed);
    }

    // A command-line run while the window has the project: the window takes its outcomes before
    // a choice and a save (no second copy, no "sent" lost); with unsaved outcomes of its own
    // the window holds the project and the command line is refused.
    void commandLineRunWhileTheWindowHasTheProject_data() {
        QTest::addColumn<QString>("window");
        QTest::newRow("nothing unsaved: the window re-reads") << "saved";
        QTest::newRow("its own run unsaved: the command line is refused") << "own run";
        QTest::newRow("nothing unsaved, saved at once") << "save only";
        QTest::newRow("no crash marker: both refuse in the same words") << "marker";
    }
    void commandLineRunWhileTheWindowHasTheProject() {
        QFETCH(QString, window);
        test::SmtpTestServer server;
        QTemporaryDir out;
        QVERIFY2(server.start({"--out", out.path()}), qPrintable(server.errorText()));
        MainWindowFixture f(test::sendingSettings(server.port()));
        QVERIFY(f.open());
        f.addRecipients(4);
        f.find<QLineEdit>("recipient")->setText("[[Mail Address]]");
        const QString project = f.env.root() + "monthly.pzy";
        QVERIFY(f.window->SaveProjectAs(project));
        f.ui.scriptChoices({str(ids::kButtonOk), str(ids::kButtonOk)});
        if (window == "own run") {
            MainWindowFixture::answerTransmission();
            f.command(cmd::kSend)->trigger();
            QVERIFY(waitRunEnded(*f.window));
        }
        // the command line of this very program, its settings the window's
        const QString cliSettings = f.folders.settingsPath(
            QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
        QVERIFY(QFile::copy(f.settingsPath, cliSettings));
        if (window == "marker") {
            // a folder where each run's crash marker goes: neither may start
            const QString copies = QFileInfo(f.session->store().WorkingCopyPath()).absolutePath();
            for (int n = 1; n <= 4; ++n)
                QVERIFY(QDir().mkpath(copies + QStringLiteral("/PZP_data_%1.pzb.sending").arg(n)));
            MainWindowFixture::answerTransmission();
            f.command(cmd::kSend)->trigger();
            QVERIFY2(f.ui.askedTexts().contains(str(ids::kRunCannotStart)),
                     qPrintable(f.ui.askedTexts().join('|')));
            QTemporaryFile err;
            QVERIFY(err.open());
            std::fflush(stderr);
            const int saved = ::dup(2);
            ::dup2(err.handle(), 2);
            const int refused = app::runSendCommand({"--send", project});
            std::fflush(stderr);
            ::dup2(saved, 2);
            ::close(saved);
            QCOMPARE(refused, int(SendExit::Unusable));
            const QString told = QString::fromLocal8Bit(test::readFile(err.fileName()));
            QVERIFY2(told.contains(str(ids::kRunCannotStart)), qPrintable(told));
            QCOMPARE(test::capturedMessages(out.path() + '/').size(), 0);
            return;
        }
        const int exit = app::runSendCommand({"--send", project, "--selection", "unsent"});
        QCOMPARE(exit, window == "own run" ? int(SendExit::Unusable) : 0);

        f.ui.clear();
        if (window != "save only") {
            MainWindowFixture::answerTransmission("sendToUnsent");
            f.command(cmd::kSend)->trigger();
            QTRY_COMPARE(f.ui.askedTexts(), QStringList{str(ids::kNothingLeftUnsent)});
        }
        QVERIFY(f.window->SaveProjectTo(project));
        QCOMPARE(test::capturedMessages(out.path() + '/').size(), 4);
        test::ScriptedUserInteraction ui;
        CAppSession next(f.folders, f.settingsPath, ui);
        (void)next.Start();
        QVERIFY(next.OpenProjectFile(project));
        QCOMPARE(sentFlags(next.store(), 1), 4);
        QVERIFY(next.Close(false, {}, {}) == CAppSession::CloseResult::Closed);
    }

    // A run refused for the server's certificate asks the connection test's question; yes
    // makes the next run deliver, and another key on the same host and port is refused again.
    void refusedCertificateIsAskedAboutAndTrusted() {
        MainWindowFixture f(test::sendingSettings(25));
        test::TestCertificates certs(f.env.makeFolder("certs"));
        QVERIFY2(certs.ok(), qPrintable(certs.errorText()));
        QTemporaryDir out;
        auto server = std::make_unique<test::SmtpTestServer>();
        QVERIFY2(server->start({"--mode", "tls", "--cert", certs.selfSignedCert(), "--key",
                                certs.selfSignedKey(), "--out", out.path()}),
                 qPrintable(server->errorText()));
        const quint16 port = server->port();
        QVERIFY(f.open());
        f.session->settings().server.smtpPort = port;
        f.session->settings().server.smtpConnectionType = smtp::ConnectionType::SslTls;
        f.addRecipients(2);
        f.find<QLineEdit>("recipient")->setText("[[Mail Address]]");

        const auto run = [&f] {
            f.ui.clear();
            f.ui.scriptChoices({str(ids::kButtonOk)});
            MainWindowFixture::answerTransmission();
            f.command(cmd::kSend)->trigger();
            return waitRunEnded(*f.window);
        };
        const auto trustQuestions = [&f] {
            QStringList texts;
            for (const test::AskedMessage& m : f.ui.asked()) {
                if (m.kind == MessageKind::YesNo && m.caption == str(ids::kSendCaptionBox))
                    texts << m.text;
            }
            return texts;
        };
        const auto fingerprint = [](const QString& certFile) {
            return QString::fromLatin1(
                test::TestCertificates::sha256(certFile).toHex(':').toUpper());
        };

        f.ui.script({Answer::Yes});
        QVERIFY(run());
        QStringList asked = trustQuestions();
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked[0].contains(fingerprint(certs.selfSignedCert())), qPrintable(asked[0]));
        QVERIFY2(asked[0].contains("self-signed") &&
                     asked[0].contains(QStringLiteral("127.0.0.1:%1").arg(port)),
                 qPrintable(asked[0]));
        QVERIFY(f.ui.choicesAsked().last().text.startsWith(str(ids::kSummaryErrors)));
        QCOMPARE(test::capturedMessages(out.path() + '/').size(), 0);
        QCOMPARE(sentFlags(f.session->store(), 0), 2);  // refused at connect: nothing recorded
        QVERIFY(test::readFile(f.settingsPath).contains("[CERTIFICATES]"));

        QVERIFY(run());
        QCOMPARE(trustQuestions(), QStringList());
        QVERIFY(f.ui.choicesAsked().last().text.startsWith(str(ids::kSummaryComplete)));
        QCOMPARE(test::capturedMessages(out.path() + '/').size(), 2);

        server.reset();
        test::SmtpTestServer rekeyed;
        QVERIFY2(rekeyed.start({"--mode", "tls", "--port", QString::number(port), "--cert",
                                certs.otherHostCert(), "--key", certs.otherHostKey(), "--out",
                                out.path()}),
                 qPrintable(rekeyed.errorText()));
        const QByteArray settingsBefore = test::readFile(f.settingsPath);
        f.ui.script({Answer::No});
        QVERIFY(run());
        asked = trustQuestions();
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked[0].contains(fingerprint(certs.otherHostCert())), qPrintable(asked[0]));
        QCOMPARE(test::capturedMessages(out.path() + '/').size(), 2);
        QCOMPARE(test::readFile(f.settingsPath), settingsBefore);  // no is no
    }
};

QTEST_MAIN(TestMainWindowSend)
#include "test_mainwin_send.moc"
