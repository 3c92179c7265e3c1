// The send flow as the window drives it: the checks before the start, a run driven from the
// event loop with the prompts relayed to the interface thread, a cancel that comes before the
// worker runs, and the end of a run while a prompt of the worker waits for this thread.
#include <unistd.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>

#include "EngineLockFolder.h"
#include "db/RecipientList.h"
#include "resources/Strings.h"
#include "send/MessageAssembly.h"
#include "send/SendFlow.h"
#include "send/Unsubscribe.h"
#include "smtp/Charsets.h"
#include "test_send_world.h"

using namespace pw;
using namespace pw::send;

namespace {

// Passes everything to the relay, and tells the test when the worker waits on a prompt.
class WatchedProgress : public ISendProgress {
public:
    explicit WatchedProgress(ISendProgress& inner) : m_inner(inner) {}
    void setStatus(const QString& t) override { m_inner.setStatus(t); }
    void setCounter(int c, int n) override { m_inner.setCounter(c, n); }
    void setRange(int n) override { m_inner.setRange(n); }
    void step() override { m_inner.step(); }
    Answer prompt(SendPrompt kind, const QString& caption, const QString& text) override {
        prompted.store(true);
        return m_inner.prompt(kind, caption, text);
    }
    void abandonPrompts() override { m_inner.abandonPrompts(); }
    std::atomic<bool> prompted{false};

private:
    ISendProgress& m_inner;
};

// Runs `whileAsked` inside the first question, as a box's own event loop lets anything happen.
class InsideTheQuestion : public test::ScriptedUserInteraction {
public:
    std::function<void()> whileAsked;
    Answer message(const QString& caption, const QString& text, MessageKind kind) override {
        if (auto f = std::exchange(whileAsked, {}))
            f();
        return test::ScriptedUserInteraction::message(caption, text, kind);
    }
};

struct FlowWorld {
    test::SendWorld world;
    CSendLog log;
    QString logPath;
    std::unique_ptr<test::CaptureServer> server;
    MailDocument document;

    explicit FlowWorld(QStringList serverArguments = {}) {
        logPath = world.folders.userDataFolder + QStringLiteral("log.txt");
        log.setPath(logPath);
        server = std::make_unique<test::CaptureServer>(world.env.makeFolder(QStringLiteral("mail")),
                                                       serverArguments);
        document.senderAddress = QStringLiteral("shop@example.jp");
        document.senderName = QStringLiteral("The Shop");
        document.subject = QStringLiteral("Hello [[Name]]");
        document.recipientText = QStringLiteral("[[Mail Address]]");
        document.textBody = QStringLiteral("Your code is [[field3]].\r\n");
    }

    SendFlowSettings settings(ErrorPolicy policy = ErrorPolicy::Continue) const {
        SendFlowSettings s;
        s.folders = world.folders;
        s.previewFolder = world.env.root() + QStringLiteral("preview/");
        s.standardServer.smtpServer = QStringLiteral("127.0.0.1");
        s.standardServer.smtpPort = server->port();
        s.pacing = {10, 0, 0, policy};
        s.testEmailAddress = QStringLiteral("me@example.jp");
        return s;
    }

    std::unique_ptr<CSendFlow> flow(ErrorPolicy policy = ErrorPolicy::Continue) {
        auto f = std::make_unique<CSendFlow>(settings(policy), log);
        f->useDocument(document, *world.store, document.textBody);
        return f;
    }

    QString logText() const { return QString::fromUtf8(test::readFile(logPath)); }
};

}  // namespace

class TestSendFlow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        setLanguage(Language::English);
        QVERIFY(test::ensureProcessLockFolder());
    }

    void checksBeforeTheStart_data() {
        QTest::addColumn<int>("records");
        QTest::addColumn<QString>("recipient");
        QTest::addColumn<bool>("test");
        QTest::addColumn<QString>("testAddress");
        QTest::addColumn<RefusalReason>("result");
        QTest::addColumn<SendMode>("mode");
        const QString merge = QStringLiteral("[[Mail Address]]");
        const QString literal = QStringLiteral("one@example.jp");
        const QString me = QStringLiteral("me@example.jp");
        QTest::newRow("no recipient") << 3 << QStringLiteral("  ") << false << me
                                      << RefusalReason::NoRecipient << SendMode::Single;
        QTest::newRow("placeholder, empty database")
            << 0 << merge << false << me << RefusalReason::NoData << SendMode::Merge;
        QTest::newRow("placeholder with records")
            << 5 << merge << false << me << RefusalReason::None << SendMode::Merge;
        QTest::newRow("literal with records")
            << 5 << literal << false << me << RefusalReason::None << SendMode::Single;
        QTest::newRow("literal, empty database")
            << 0 << literal << false << me << RefusalReason::None << SendMode::Single;
        QTest::newRow("test without address")
            << 5 << merge << true << QString() << RefusalReason::NoTestAddress << SendMode::Single;
        QTest::newRow("test over a merge")
            << 5 << merge << true << me << RefusalReason::None << SendMode::Single;
    }
    void checksBeforeTheStart() {
        QFETCH(int, records);
        QFETCH(QString, recipient);
        QFETCH(bool, test);
        QFETCH(QString, testAddress);
        QFETCH(RefusalReason, result);
        QFETCH(SendMode, mode);
        FlowWorld w;
        QVERIFY(w.world.createDatabase(records));
        w.document.recipientText = recipient;
        SendFlowSettings s = w.settings();
        s.testEmailAddress = testAddress;
        CSendFlow flow(s, w.log);
        flow.useDocument(w.document, *w.world.store, w.document.textBody);
        QCOMPARE(flow.check(test ? SendKind::Test : SendKind::Send).reason, result);
        if (result == RefusalReason::None)
            QCOMPARE(flow.mode(), mode);
        // only a literal recipient beside records leaves the database's addresses unused
        QCOMPARE(flow.databaseAddressesUnused(),
                 !test && records > 0 && recipient == QStringLiteral("one@example.jp"));
        // Nothing starts before the checks (and, for a merge, the selection) passed.
        test::ScriptedUserInteraction ui;
        CSendProgressRelay relay(ui);
        if (result != RefusalReason::None)
            QCOMPARE(flow.start(relay).reason, RefusalReason::NotChecked);
        else if (mode == SendMode::Merge)
            QCOMPARE(flow.start(relay).reason, RefusalReason::NotChecked);
    }

    // The preparation asks the window's user when the charset cannot carry some characters:
    // the answer keeps it, takes UTF-8 for this run, or sends nothing; a row the table does not
    // have is refused with a message. With no one to ask (the command line), the charset is
    // kept and the shortfall told as a warning.
    void charsetQuestionBeforeTheStart_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("proceeds");
        QTest::addColumn<int>("runRow");
        QTest::addColumn<int>("choicesAsked");
        QTest::newRow("UTF-8 taken") << 3 << "Send in UTF-8" << true << 23 << 1;
        QTest::newRow("kept") << 3 << "Send in English (US-ASCII)" << true << 3 << 1;
        QTest::newRow("cancelled") << 3 << "Cancel" << false << 3 << 1;
        QTest::newRow("a charset that carries everything asks nothing")
            << 23 << "" << true << 23 << 0;
        QTest::newRow("row out of range refused") << 24 << "" << false << 24 << 0;
        QTest::newRow("no one to ask: kept and told") << 3 << "-" << true << 3 << 0;
    }
    void charsetQuestionBeforeTheStart() {
        QFETCH(int, row);
        QFETCH(QString, button);
        QFETCH(bool, proceeds);
        QFETCH(int, runRow);
        QFETCH(int, choicesAsked);
        FlowWorld w;
        QVERIFY(w.world.createDatabase(2));
        w.document.subject = QString::fromUtf8("Überblick für [[Name]]");
        SendFlowSettings s = w.settings();
        s.charsetRow = row;
        CSendFlow flow(s, w.log);
        flow.useDocument(w.document, *w.world.store, w.document.textBody);
        QCOMPARE(flow.check(SendKind::Send).reason, RefusalReason::None);
        QVERIFY(flow.chooseSelection(db::SendSelectionMode::All).ok());
        QCOMPARE(flow.selectedCount(), 2);
        test::ScriptedUserInteraction ui;
        const bool noOne = button == "-";
        if (!button.isEmpty() && !noOne)
            ui.scriptChoices({button});
        const RunRefusal prepared =
            flow.prepare(ui, {noOne ? Asking::NoOne : Asking::User, OverInterrupted::Refuse});
        QCOMPARE(prepared.ok(), proceeds);
        QCOMPARE(flow.charsetRow(), runRow);
        QCOMPARE(ui.choicesAsked().size(), choicesAsked);
        if (choicesAsked > 0)
            QVERIFY2(ui.choicesAsked()[0].text.startsWith("2 characters of this run"),
                     qPrintable(ui.choicesAsked()[0].text));
        QCOMPARE(flow.warnings().size(), noOne ? 1 : 0);
        if (row == 24) {
            QVERIFY(flow.refusalText(prepared).contains("(\"Encode\" = 24) names no charset"));
            CSendProgressRelay relay(ui);
            QCOMPARE(flow.start(relay).reason, RefusalReason::BadCharset);
        }
    }

    // Every placeholder of the mail is merged for each recipient, whatever the database's
    // language and field names (renamed: "position=caption", as a heading row does), or the
    // user is asked once before the first mail, naming it and the fields there are.
    void placeholdersMergedOrAsked_data() {
        QTest::addColumn<QStringList>("c");
        for (const char* c : {"en,,[[Mail Address]],Hi [[Name]],<p>[[Name]]</p>,",
                              "ja,,[[メールアドレス]],[[名前]]様,<p>[[名前]]</p>,",
                              "ja,1=氏名,[[メールアドレス]],[[氏名]]様,<p>[[名前]]</p>,[[名前]]",
                              "en,0=Email,[[Mail Address]],Hi [[Name]],,[[Mail Address]]",
                              "en,1=Kunde,[[Mail Address]],Hi [[Kunde]],<p>[[Kunde]]</p>,",
                              "en,,[[Mail Address]],Hi [[Nmae]],,[[Nmae]]"})
            QTest::newRow(c) << QString(c).split(',');
    }
    void placeholdersMergedOrAsked() {
        QFETCH(QStringList, c);  // language, renamed, recipient, subject, HTML, unmatched
        setLanguage(c[0] == "ja" ? Language::Japanese : Language::English);
        FlowWorld w;
        QVERIFY(w.world.createDatabase(2));
        if (!c[1].isEmpty())
            w.world.store->FieldCaptions().SetCaption(c[1].section('=', 0, 0).toInt(),
                                                      c[1].section('=', 1));
        w.world.store->FieldCaptions().SaveCaptions();
        const UnsubscribeSettings u{
            {}, "https://x.jp/u?e=[[Mail Address]]", {}, FooterChoice::On, {}, {}};
        QCOMPARE(saveUnsubscribeSettings(*w.world.store, u), UnsubscribeCheck::Ok);
        QVERIFY(w.world.store->Save(db::SaveMode::Retaining));
        w.document.recipientText = c[2];
        w.document.subject = c[3];
        SendFlowSettings s = w.settings();
        s.charsetRow = smtp::utf8CharsetRow();
        if (!c[4].isEmpty()) {
            QVERIFY(QDir().mkpath(s.previewFolder));
            QVERIFY(test::writeFile(s.previewFolder + "index.html", c[4].toUtf8()));
            w.document.htmlTemplateName = "T";
            w.document.pictureList = {"index.html"};
        }
        CSendFlow flow(s, w.log);
        flow.useDocument(w.document, *w.world.store, "Body");
        QVERIFY(flow.check(SendKind::Send).reason != RefusalReason::NoRecipient);
        (void)flow.chooseSelection(db::SendSelectionMode::All);
        test::ScriptedUserInteraction ui;
        ui.script({Answer::No});
        // asked once: the window before the Transmission dialog, prepare() not again
        const bool window = flow.askAboutUnmatchedPlaceholders(ui);
        QCOMPARE(flow.prepare(ui, {}).ok(), true);
        setLanguage(Language::English);
        QCOMPARE(ui.asked().size(), c[5].isEmpty() ? 0 : 1);
        QCOMPARE(window, c[5].isEmpty());
        if (!window) {
            const QString& question = ui.asked()[0].text;
            QVERIFY(question.contains(c[5]) &&
                    question.contains(w.world.store->FieldCaptions().Captions()[1]));
            return;
        }
        const auto assembly = flow.messageAssembly();
        for (int row = 0; row < 2; ++row) {
            const BuiltMessage built = assembly->build(assembly->merged(row), row);
            QString mail = built.message->subject() + built.message->customHeaders().join("\n");
            std::function<void(const smtp::CKTWSMTPBodyPart&)> walk = [&](const auto& part) {
                mail += part.text();
                for (int i = 0; i < part.childCount(); ++i)
                    walk(*part.child(i));
            };
            walk(built.message->rootPart());
            const QString address = QString("rcpt%1@example.jp").arg(row + 1);
            QVERIFY2(!mail.contains("[[") && mail.contains(QString("Name %1").arg(row + 1)) &&
                         mail.contains("e=rcpt" + QString::number(row + 1) + "%40example.jp") &&
                         mail.count(address) == 2,  // the text and the HTML footer
                     qPrintable(mail));
        }
    }

    // "Test" of a mail with placeholders reads as the picked recipient's mail would (the
    // first by default), and still goes to the test address only.
    void testSendMergesAPickedRecipient_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("subject");  // empty: nothing sent
        QTest::newRow("the first") << ""
                                   << ""
                                   << "Hello Name 1";
        QTest::newRow("the second") << "Choose a Recipient..."
                                    << "2"
                                    << "Hello Name 2";
        QTest::newRow("unmerged") << "Unmerged"
                                  << ""
                                  << "Hello [[Name]]";
        QTest::newRow("no such recipient") << "Choose a Recipient..."
                                           << "9"
                                           << "";
    }
    void testSendMergesAPickedRecipient() {
        QFETCH(QString, button);
        QFETCH(QString, number);
        QFETCH(QString, subject);
        FlowWorld w;
        QVERIFY(w.world.createDatabase(2));
        auto flow = w.flow();
        QCOMPARE(flow->check(SendKind::Test).reason, RefusalReason::None);
        test::ScriptedUserInteraction ui;
        ui.scriptChoices({button.isEmpty() ? "As the First Recipient's" : button});
        ui.scriptTexts({number});
        const bool sent = askTestRecipient(*flow, ui) != TestMerge::Cancelled;
        QCOMPARE(sent, !subject.isEmpty());
        const auto assembly = flow->messageAssembly();
        const BuiltMessage built = assembly->build(assembly->texts(), -1);
        if (sent)
            QCOMPARE(built.message->subject() + built.message->to().value(0).address(),
                     subject + "me@example.jp");
    }

    // The window's way: start, go on processing events, learn of the end by the signal.
    // Outcomes go into the window's store, including the one of a record with an unsaved
    // change, whose deferral the run's log reports.
    void windowRunKeepsTheEventLoopGoing() {
        FlowWorld w;
        QVERIFY(w.world.createDatabase(6));
        QVERIFY(w.server->start());
        db::CRecipientList list(*w.world.store);
        list.Refresh();
        list.SetRowFlag(1, db::RowFlag::Selected, 0);  // unsaved change of record 2
        const QString project = w.world.env.root() + QStringLiteral("customers.pzy");
        QVERIFY(test::writeFile(project, "stands in for the project file"));
        w.document.projectFilePath = project;

        auto flow = w.flow();
        QCOMPARE(flow->check(SendKind::Send).reason, RefusalReason::None);
        QVERIFY(flow->chooseSelection(db::SendSelectionMode::All).ok());
        QCOMPARE(flow->selectedCount(), 6);
        test::ScriptedUserInteraction ui;
        CSendProgressRelay relay(ui);
        QStringList counters;
        connect(&relay, &CSendProgressRelay::counterChanged,
                [&](const QString& t) { counters << t; });
        QSignalSpy ended(flow.get(), &CSendFlow::finished);
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(5);

        QCOMPARE(flow->start(relay).reason, RefusalReason::None);
        QVERIFY(flow->isRunning());
        QCOMPARE(flow->start(relay).reason, RefusalReason::AlreadyRunning);
        QVERIFY(ended.wait(120000));
        QVERIFY(!flow->isRunning());
        QVERIFY2(ticks > 0, "the event loop did not run during the send");
        QCOMPARE(counters.last(), QStringLiteral("6  /  6"));
        QCOMPARE(flow->summary().status, RunStatus::Completed);
        QCOMPARE(flow->summary().sent, 6);
        QCOMPARE(w.server->count(), 6);
        QVERIFY2(
            w.logText().contains(QStringLiteral("record 2 (kept until the database is saved)")),
            qPrintable(w.logText()));
        QCOMPARE(w.world.store->SendRun().PendingSentFlags(), 1);
        QVERIFY(w.world.store->Save(db::SaveMode::Retaining));
        QCOMPARE(w.world.sentFlags(), QList<int>(6, 1));

        // The outcomes are not in the project file yet: the marker that recovers them after a
        // crash passes to the window.
        std::unique_ptr<CRunMarker> marker = flow->takeMarker();
        QVERIFY(marker);
        QVERIFY(QFile::exists(marker->path()));
        marker->finish();
        QVERIFY(!QFile::exists(markerPathFor(w.world.store->WorkingCopyPath())));
    }

    void cancelBeforeTheWorkerRunsIsKept_data() {
        QTest::addColumn<bool>("beforeStart");
        QTest::newRow("before start") << true;
        QTest::newRow("right after start") << false;
    }
    void cancelBeforeTheWorkerRunsIsKept() {
        QFETCH(bool, beforeStart);
        FlowWorld w;
        QVERIFY(w.world.createDatabase(3));
        QVERIFY(w.server->start());
        auto flow = w.flow();
        QCOMPARE(flow->check(SendKind::Send).reason, RefusalReason::None);
        QVERIFY(flow->chooseSelection(db::SendSelectionMode::All).ok());
        QCOMPARE(flow->selectedCount(), 3);
        test::ScriptedUserInteraction ui;
        CSendProgressRelay relay(ui);
        QSignalSpy ended(flow.get(), &CSendFlow::finished);
        if (beforeStart)
            flow->cancel();
        QCOMPARE(flow->start(relay).reason, RefusalReason::None);
        if (!beforeStart)
            flow->cancel();
        QVERIFY(ended.wait(60000));
        QCOMPARE(flow->summary().status, RunStatus::Cancelled);
        QCOMPARE(w.server->count(), 0);
        QCOMPARE(w.world.sentFlags(), QList<int>(3, 0));
    }

    // The window closes while the worker waits for an answer on the interface thread: the
    // flow's end cancels the run, the prompt is abandoned, and nobody waits for anybody.
    // A stop signal (a cancel) or the window's end (the flow destroyed) while the retry
    // question waits, unanswered, on the interface thread: the prompt is abandoned, nothing
    // touches what is gone (run under AddressSanitizer too), and the outcome is written.
    void endingWithAPromptOpenDoesNotHang_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("stop signal while the retry question is open") << "stop";
        QTest::newRow("window closed while the prompt is queued") << "destroyed";
        // the question's box is up; in its loop the run is stopped, ends, and its owner lets go
        // of the relay, which is still inside the question
        QTest::newRow("run ended inside the open question") << "inside";
    }
    void endingWithAPromptOpenDoesNotHang() {
        QFETCH(QString, how);
        FlowWorld w({QStringLiteral("--reject-rcpt"), QStringLiteral("rcpt")});
        QVERIFY(w.world.createDatabase(3));
        QVERIFY(w.server->start());
        auto flow = w.flow(ErrorPolicy::Ask);  // "Display dialog"
        QCOMPARE(flow->check(SendKind::Send).reason, RefusalReason::None);
        QVERIFY(flow->chooseSelection(db::SendSelectionMode::All).ok());
        QCOMPARE(flow->selectedCount(), 3);
        InsideTheQuestion ui;
        auto relay = std::make_unique<CSendProgressRelay>(ui);
        WatchedProgress watched(*relay);
        QSignalSpy ended(flow.get(), &CSendFlow::finished);
        QCOMPARE(flow->start(watched).reason, RefusalReason::None);

        // No events are processed here, so the prompt stays unanswered.
        while (!watched.prompted.load())
            QThread::yieldCurrentThread();
        if (how == "inside") {
            ui.whileAsked = [&] {
                QVERIFY(relay->asking());
                flow->cancel();
                QVERIFY(ended.wait(60000));
                relay.reset();
            };
            QTRY_VERIFY_WITH_TIMEOUT(!relay, 60000);
        } else if (how == "destroyed") {
            flow.reset();
            relay.reset();  // the window's members go, the relay after the flow
        } else {
            flow->cancel();
            QVERIFY(ended.wait(60000));
        }
        if (flow)
            QCOMPARE(flow->summary().status, RunStatus::Cancelled);

        // The abandoned prompt is never shown afterwards.
        QCoreApplication::processEvents();
        QCOMPARE(ui.asked().size(), how == "inside" ? 1 : 0);
        QCOMPARE(w.server->count(), 0);
        QCOMPARE(w.world.sentFlags().first(), 2);
    }

    // The project's lock keeps a second run of the same file out while a run is under way,
    // and a run that did not reach everyone is remembered until one does.
    void projectLockAndUnfinishedRun() {
        FlowWorld w;
        QVERIFY(w.world.createDatabase(3));
        QVERIFY(w.server->start());
        const QString project = w.world.env.root() + QStringLiteral("customers.pzy");
        QVERIFY(test::writeFile(project, "stands in for the project file"));
        w.document.projectFilePath = project;
        test::ScriptedUserInteraction ui;

        SendFlowSettings paced = w.settings();
        paced.pacing = {1, 60, 0, ErrorPolicy::Continue};  // one mail, then a long batch pause
        auto first = std::make_unique<CSendFlow>(paced, w.log);
        first->useDocument(w.document, *w.world.store, w.document.textBody);
        QCOMPARE(first->check(SendKind::Send).reason, RefusalReason::None);
        QVERIFY(first->chooseSelection(db::SendSelectionMode::All).ok());
        QCOMPARE(first->selectedCount(), 3);
        QVERIFY(!first->lastRunUnfinished());
        {
            std::unique_ptr<CProjectLock> other = CProjectLock::acquire(project);
            QVERIFY(other);
            CSendProgressRelay relay(ui);
            QCOMPARE(first->start(relay).reason, RefusalReason::ProjectBusy);
        }
        CSendProgressRelay relay(ui);
        QSignalSpy ended(first.get(), &CSendFlow::finished);
        QCOMPARE(first->start(relay).reason, RefusalReason::None);
        QVERIFY(!CProjectLock::acquire(project));
        // the file is locked, not its name: a hard link or a symbolic link meets the same lock
        const QString hardLink = w.world.env.root() + QStringLiteral("hard.pzy");
        const QString symLink = w.world.env.root() + QStringLiteral("sym.pzy");
        QVERIFY(::link(QFile::encodeName(project), QFile::encodeName(hardLink)) == 0);
        QVERIFY(QFile::link(project, symLink));
        ProjectLockResult why = ProjectLockResult::Held;
        QVERIFY(!CProjectLock::acquire(hardLink, &why));
        QCOMPARE(why, ProjectLockResult::Busy);
        QVERIFY(!CProjectLock::acquire(symLink));
        QVERIFY(!CProjectLock::acquire(project + QStringLiteral(".none"), &why));
        QCOMPARE(why, ProjectLockResult::Unreadable);
        QTRY_VERIFY_WITH_TIMEOUT(w.server->count() == 1, 30000);
        first->cancel();
        QVERIFY(ended.wait(60000));
        QVERIFY(CProjectLock::acquire(project));
        if (std::unique_ptr<CRunMarker> m = first->takeMarker())
            m->finish();

        auto second = w.flow();
        QCOMPARE(second->check(SendKind::Send).reason, RefusalReason::None);
        QVERIFY(second->lastRunUnfinished());
        QVERIFY(second->chooseSelection(db::SendSelectionMode::NotSent).ok());
        QCOMPARE(second->selectedCount(), 2);
        CSendProgressRelay relay2(ui);
        QCOMPARE(second->runToEnd(relay2).status, RunStatus::Completed);
        if (std::unique_ptr<CRunMarker> m = second->takeMarker())
            m->finish();
        QCOMPARE(w.server->count(), 3);

        auto third = w.flow();
        QCOMPARE(third->check(SendKind::Send).reason, RefusalReason::None);
        QVERIFY(!third->lastRunUnfinished());
    }
};

QTEST_GUILESS_MAIN(TestSendFlow)
#include "test_send_flow.moc"
