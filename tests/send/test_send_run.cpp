// Whole send runs against a real SMTP server on loopback, with a real recipient database;
// what arrived is read back with Python's email package.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QMutex>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

#include "EngineLockFolder.h"
#include "RawStatement.h"
#include "ScriptedServer.h"
#include "db/RunAttachment.h"
#include "resources/Strings.h"
#include "send/MailSendThread.h"
#include "send/MessageAssembly.h"
#include "test_send_world.h"

using namespace pw;
using namespace pw::send;

namespace {

// The test's progress display: remembers what the worker showed, answers prompts from a
// script (then with the prompt's first button).
class RecordingProgress : public ISendProgress {
public:
    void setStatus(const QString& text) override { add(QStringLiteral("status: ") + text); }
    void setCounter(int current, int total) override {
        add(QStringLiteral("counter: ") + counterText(current, total));
    }
    void setRange(int total) override { add(QStringLiteral("range: %1").arg(total)); }
    void step() override { add(QStringLiteral("step")); }
    Answer prompt(SendPrompt kind, const QString& caption, const QString& text) override {
        QMutexLocker lock(&m_mutex);
        m_prompts.append({kind, caption + QStringLiteral(" | ") + text});
        if (!m_answers.isEmpty())
            return m_answers.takeFirst();
        return kind == SendPrompt::RetryMail ? Answer::Yes : Answer::Ok;
    }
    void script(QList<Answer> answers) { m_answers = std::move(answers); }
    QStringList events() const {
        QMutexLocker lock(&m_mutex);
        return m_events;
    }
    QList<QPair<SendPrompt, QString>> prompts() const {
        QMutexLocker lock(&m_mutex);
        return m_prompts;
    }
    // When the status line first showed text starting with `prefix`; invalid if never.
    QDateTime firstStatus(const QString& prefix) const {
        QMutexLocker lock(&m_mutex);
        for (qsizetype i = 0; i < m_events.size(); ++i) {
            if (m_events[i].startsWith(QStringLiteral("status: ") + prefix))
                return m_times[i];
        }
        return {};
    }

private:
    void add(const QString& e) {
        QMutexLocker lock(&m_mutex);
        m_events.append(e);
        m_times.append(QDateTime::currentDateTime());
    }
    mutable QMutex m_mutex;
    QStringList m_events;
    QList<QDateTime> m_times;
    QList<QPair<SendPrompt, QString>> m_prompts;
    QList<Answer> m_answers;
};

struct RunFixture {
    test::SendWorld world;
    CSendLog log;
    RecordingProgress progress;
    QString logPath;
    QString preview;
    std::unique_ptr<test::CaptureServer> server;
    MailJob setup;
    SendRun run;
    std::shared_ptr<test::FakeClock> clock = std::make_shared<test::FakeClock>();
    QList<QPair<int, int>> outcomes;  // record ID, outcome, in the order recorded
    std::function<void(int)> beforeOutcome;
    std::function<void(int)> afterOutcome;
    int recordFails = -1;  // the record whose outcome the recorder reports as lost
    int pageSize = CPagedRows::kPageSize;

    explicit RunFixture(QStringList serverArguments = {}) {
        logPath = world.folders.userDataFolder + QStringLiteral("log.txt");
        log.setPath(logPath);
        log.setActive();
        preview = world.env.makeFolder(QStringLiteral("preview"));
        server = std::make_unique<test::CaptureServer>(world.env.makeFolder(QStringLiteral("mail")),
                                                       serverArguments);
        setup.senderAddress = QStringLiteral("shop@example.jp");
        setup.senderName = QStringLiteral("The Shop");
        setup.subject = QStringLiteral("Hello [[Name]]");
        setup.recipientText = QStringLiteral("[[Mail Address]]");
        setup.bodyText =
            QStringLiteral("Dear [[Name]],\r\nyour code is [[field3]].\r\n.a line with a dot\r\n");
        setup.mainPreviewFolder = preview;
        setup.charsetRow = 0;
        for (int k = 0; k < db::kFieldCount; ++k)
            setup.captions[size_t(k)] = db::DefaultCaption(k);
        setup.messageIdDomain = QStringLiteral("127.0.0.1");
        run.server.smtpServer = QStringLiteral("127.0.0.1");
        run.server.smtpAuthType = SmtpAuthType::None;
        run.server.smtpConnectionType = smtp::ConnectionType::None;
        run.clock = clock;
    }

    bool start() {
        if (!server->start())
            return false;
        run.server.smtpPort = server->port();
        return true;
    }

    // Runs the worker to its end on the given selection; merge unless `single`.
    std::unique_ptr<CMailSendThread> go(
        SendMode mode = SendMode::Merge,
        db::SendSelectionMode selection = db::SendSelectionMode::All,
        std::unique_ptr<ISendTransport> transport = {}) {
        // as the flow does: the IDs chosen now, the values read in pages by the run
        std::vector<int> ids;
        if (mode == SendMode::Merge) {
            db::CRunAttachment chooser(world.store->WorkingCopyPath(), {});
            ids = chooser.SelectionIds(selection).value_or(std::vector<int>{});
        }
        run.mode = mode;
        run.recordIds = ids;
        auto runDb = std::make_shared<db::CRunAttachment>(
            world.store->WorkingCopyPath(), [this](const QString& text) { log.append(text); });
        auto source =
            mode == SendMode::Merge
                ? std::make_unique<CMessageAssembly>(
                      setup, std::make_shared<CPagedRows>(
                                 runDb, std::make_shared<const std::vector<int>>(ids), pageSize))
                : std::make_unique<CMessageAssembly>(setup, std::vector<FieldTexts>{});
        if (!transport)
            transport = std::make_unique<CSmtpTransport>();
        if (!run.moreConnections)
            run.moreConnections = [] { return std::make_unique<CSmtpTransport>(); };
        auto worker = std::make_unique<CMailSendThread>(
            run, std::move(source), std::move(transport),
            [this, runDb](int id, Outcome o) {
                if (beforeOutcome)
                    beforeOutcome(id);
                const auto written = runDb->WriteOutcome(id, int(o));
                outcomes.append({id, int(o)});
                if (afterOutcome)
                    afterOutcome(id);
                if (recordFails == id)
                    return RecordResult::NotRecorded;
                if (written == db::CRunAttachment::OutcomeWrite::RecordGone)
                    return RecordResult::RecordGone;
                return written == db::CRunAttachment::OutcomeWrite::Written
                           ? RecordResult::Recorded
                           : RecordResult::NotRecorded;
            },
            progress, log);
        return worker;
    }

    static void runToEnd(CMailSendThread& worker, int timeoutMs = 120000) {
        worker.start();
        QVERIFY(worker.wait(QDeadlineTimer(timeoutMs)));
    }

    // The texts of log.txt after the time stamps, in order.
    QStringList logEntries() const {
        QStringList out;
        const QString text = QString::fromUtf8(test::readFile(logPath));
        for (const QString& line : text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
            const qsizetype at = line.indexOf(QStringLiteral(" / "));
            out << (at >= 0 ? line.mid(at + 3) : line);
        }
        return out;
    }
    int countEntries(const QString& prefix) const {
        int n = 0;
        for (const QString& e : logEntries())
            n += e.startsWith(prefix) ? 1 : 0;
        return n;
    }
    QStringList messagePaths() const {
        QStringList paths;
        for (const QJsonValue& v : server->index())
            paths << server->folder() + QLatin1Char('/') +
                         v.toObject()[QStringLiteral("file")].toString();
        return paths;
    }
};

}  // namespace

class TestSendRun : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        setLanguage(Language::English);
        QVERIFY(test::ensureProcessLockFolder());
    }

    void mergeSendToFifty() {
        RunFixture f;
        QVERIFY(f.world.createDatabase(50));
        QVERIFY(f.start());
        auto worker = f.go();
        RunFixture::runToEnd(*worker);
        QCOMPARE(worker->report().status, RunStatus::Completed);  // 1: completed without errors
        QCOMPARE(worker->report().errors, 0);
        QCOMPARE(f.server->count(), 50);
        QCOMPARE(f.world.sentFlags(), QList<int>(50, 1));

        const QJsonArray parsed = test::parseMessages(f.messagePaths());
        QCOMPARE(parsed.size(), 50);
        QSet<QString> ids;
        for (int i = 0; i < 50; ++i) {
            const QJsonObject m = parsed[i].toObject();
            const int n = i + 1;  // the engine returns the records in insertion order here
            QCOMPARE(m["defects"].toInt(), 0);
            QCOMPARE(m["subject"].toString(), QStringLiteral("Hello Name %1").arg(n));
            QVERIFY2(m["to"].toString().contains(QStringLiteral("rcpt%1@example.jp").arg(n)),
                     qPrintable(m["to"].toString()));
            const QString text = m["text"].toString();
            QVERIFY2(text.contains(QStringLiteral("Dear Name %1,").arg(n)), qPrintable(text));
            QVERIFY(text.contains(QStringLiteral("your code is value-%1.").arg(n)));
            // The dot fix on the wire is undone by the server: the line keeps one dot.
            QVERIFY(text.contains(QStringLiteral("\n.a line with a dot")));
            QVERIFY(!text.contains(QStringLiteral("..a line")));
            ids.insert(m["message_id"].toString());
            const QJsonArray to = f.server->index()[i].toObject()["to"].toArray();
            QCOMPARE(to.size(), 1);
            QCOMPARE(to[0].toString(), QStringLiteral("rcpt%1@example.jp").arg(n));
        }
        QCOMPARE(ids.size(), 50);

        // The log: one connection, then per mail its entries in order, then the end.
        const QStringList log = f.logEntries();
        QVERIFY(log.first().startsWith(
            QStringLiteral("Connected to SMTP server. ( 127.0.0.1:%1 / No Auth )")
                .arg(f.server->port())));
        int at = 1;
        for (int n = 1; n <= 50; ++n) {
            QCOMPARE(log[at++], QStringLiteral("%1 Subject").arg(n));
            QVERIFY2(log[at].startsWith(QStringLiteral("Recipient ")), qPrintable(log[at]));
            QVERIFY(log[at++].contains(QStringLiteral("rcpt%1@example.jp").arg(n)));
            QCOMPARE(log[at++], QStringLiteral("Merging mail data."));
            QCOMPARE(log[at++], QStringLiteral("Mail transmission completed."));
        }
        QCOMPARE(log.mid(at),
                 (QStringList{"Disconnected from the SMTP server.", "Mail transmission ended."}));
        QVERIFY(f.progress.events().contains(QStringLiteral("counter: 50  /  50")));
        QCOMPARE(f.progress.events().count(QStringLiteral("step")), 50);
    }

    void sendWaitZeroMeansOneConnection() {
        RunFixture f;
        QVERIFY(f.world.createDatabase(6));
        QVERIFY(f.start());
        f.run.pacing.oneTimeSend = 1;
        f.run.pacing.sendWait = 0;
        auto worker = f.go();
        RunFixture::runToEnd(*worker);
        QCOMPARE(f.server->count(), 6);
        QCOMPARE(f.countEntries(QStringLiteral("Connected to SMTP server.")), 1);
        QVERIFY(f.progress.firstStatus(QStringLiteral("Standing by")).isNull());
    }

    void batchesOfThreeWithPauses() {
        RunFixture f;
        QVERIFY(f.world.createDatabase(7));
        QVERIFY(f.start());
        f.run.pacing.oneTimeSend = 3;
        f.run.pacing.sendWait = 1;
        auto worker = f.go();
        RunFixture::runToEnd(*worker);
        QCOMPARE(worker->report().status, RunStatus::Completed);
        QCOMPARE(f.server->count(), 7);
        // Mails 1-3, 4-6 and 7 each on a connection of their own.
        QCOMPARE(f.countEntries(QStringLiteral("Connected to SMTP server.")), 3);
        const QStringList log = f.logEntries();
        qsizetype second = 1;
        while (second < log.size() && !log[second].startsWith(QStringLiteral("Connected")))
            ++second;
        QVERIFY(second < log.size());
        QCOMPARE(log[second - 1], QStringLiteral("Mail transmission completed."));
        QCOMPARE(log[second + 1], QStringLiteral("4 Subject"));
        // Two pauses of just over a second each, on the run's clock.
        QVERIFY2(f.clock->sleptMs() > 2000 && f.clock->sleptMs() <= 4000,
                 qPrintable(QString::number(f.clock->sleptMs())));
        QVERIFY(!f.progress.firstStatus(QStringLiteral("Standing by ")).isNull());
        QCOMPARE(f.world.sentFlags(), QList<int>(7, 1));
    }

    void cancelDuringPauseEndsWithinASecond() {
        RunFixture f;
        QVERIFY(f.world.createDatabase(3));
        QVERIFY(f.start());
        f.run.pacing.oneTimeSend = 1;
        f.run.pacing.sendWait = 60;
        auto worker = f.go();
        // cancelled 5 s into the minute's pause, by the run's own clock
        std::atomic<qint64> cancelledAt{-1};
        f.clock->onSleep = [&](qint64 slept) {
            if (slept >= 5000 && cancelledAt.load() < 0) {
                cancelledAt.store(slept);
                worker->cancel();
            }
        };
        RunFixture::runToEnd(*worker);
        QVERIFY(cancelledAt.load() >= 0);
        // noticed at the next slice of the pause: within a second
        QVERIFY2(f.clock->sleptMs() - cancelledAt.load() <= CMailSendThread::kBatchPollMs,
                 qPrintable(QString::number(f.clock->sleptMs())));
        QCOMPARE(worker->report().status, RunStatus::Cancelled);
        QCOMPARE(f.server->count(), 1);
        QCOMPARE(f.world.sentFlags(), (QList<int>{1, 0, 0}));
        QVERIFY(f.logEntries().contains(QStringLiteral("Transmission terminated by user.")));
        // No reconnect after the cancelled pause.
        QCOMPARE(f.countEntries(QStringLiteral("Connected to SMTP server.")), 1);
        QCOMPARE(f.logEntries().last(), QStringLiteral("Mail transmission ended."));
    }

    // A cancel while a mail is in flight lets it finish (its data and the server's final
    // reply) and then ends the run; only a second cancel drops the connection at once, and
    // the mail whose data went out is then the one that may have been delivered.
    void cancelFinishesTheMailInFlight_data() {
        QTest::addColumn<int>("cancels");
        QTest::addColumn<int>("possiblyDelivered");
        QTest::addColumn<bool>("quitSent");
        QTest::newRow("one cancel: the mail is finished") << 1 << 0 << true;
        QTest::newRow("a second cancel: stopped at once") << 2 << 1 << false;
    }
    void cancelFinishesTheMailInFlight() {
        QFETCH(int, cancels);
        QFETCH(int, possiblyDelivered);
        QFETCH(bool, quitSent);
        test::ScriptedServer server({QStringLiteral(
            "S: 220 scripted\nC~ EHLO .+\nS: 250 hello\n"
            "C: MAIL FROM:<shop@example.jp>\nS: 250 ok\nC: RCPT TO:<rcpt1@example.jp>\nS: 250 ok\n"
            "C: DATA\nS: 354 go\nD\nW: 1500\nS: 250 queued\nC: QUIT\nS: 221 bye")});
        RunFixture f;
        QVERIFY(f.world.createDatabase(2));
        f.run.server.smtpPort = server.port();
        auto worker = f.go();
        worker->start();
        QTRY_VERIFY_WITH_TIMEOUT(server.received(0).contains("DATA"), 20000);
        for (int i = 0; i < cancels; ++i)
            worker->cancel();
        QVERIFY(worker->wait(QDeadlineTimer(30000)));
        const bool wholeScript = server.finish();
        QCOMPARE(wholeScript, quitSent);
        QCOMPARE(worker->report().status, RunStatus::Cancelled);
        QCOMPARE(worker->stoppedAtOnce(), cancels > 1);
        QCOMPARE(f.world.sentFlags(), (QList<int>{1, 0}));
        QCOMPARE(int(worker->report().possiblyDelivered.size()), possiblyDelivered);
        QCOMPARE(f.countEntries(QStringLiteral("Possibly delivered: mail 1 rcpt1@example.jp.")),
                 possiblyDelivered);
        QCOMPARE(f.countEntries(QStringLiteral("Mail transmission completed.")),
                 possiblyDelivered == 0 ? 1 : 0);
    }

    void singleSendTouchesNoRecord() {
        RunFixture f;
        QVERIFY(f.world.createDatabase(3));
        QVERIFY(f.start());
        f.setup.recipientText = QStringLiteral("someone@example.jp other@example.jp");
        f.setup.subject = QStringLiteral("Plain [[Name]]");
        auto worker = f.go(SendMode::Single);
        RunFixture::runToEnd(*worker);
        QCOMPARE(worker->report().status, RunStatus::Completed);
        QCOMPARE(f.server->count(), 1);
        QVERIFY(f.outcomes.isEmpty());
        QCOMPARE(f.world.sentFlags(), QList<int>(3, 0));
        const QJsonArray to = f.server->index()[0].toObject()["to"].toArray();
        QCOMPARE(to.size(), 2);
        const QJsonArray parsed = test::parseMessages(f.messagePaths());
        // Unmerged: the placeholder stays as typed.
        QCOMPARE(parsed[0].toObject()["subject"].toString(), QStringLiteral("Plain [[Name]]"));
    }

    void doubleByteAddress_data() {
        QTest::addColumn<ErrorPolicy>("policy");
        QTest::addColumn<QList<Answer>>("answers");
        QTest::addColumn<int>("status");
        QTest::addColumn<QList<int>>("flags");
        QTest::addColumn<int>("prompts");
        QTest::newRow("1 continue") << ErrorPolicy::Continue << QList<Answer>{}
                                    << int(RunStatus::Failed) << QList<int>{1, 2, 1, 1} << 0;
        QTest::newRow("3 asked, ok") << ErrorPolicy::Ask << QList<Answer>{Answer::Ok}
                                     << int(RunStatus::Failed) << QList<int>{1, 2, 1, 1} << 1;
        QTest::newRow("3 asked, cancel")
            << ErrorPolicy::Ask << QList<Answer>{Answer::Cancel} << int(RunStatus::Cancelled)
            << QList<int>{1, 2, 0, 0} << 1;
        // Nobody cancelled: the policy stops the run, which ends as failed.
        QTest::newRow("4 terminate") << ErrorPolicy::Terminate << QList<Answer>{}
                                     << int(RunStatus::Failed) << QList<int>{1, 2, 0, 0} << 0;
    }
    void doubleByteAddress() {
        QFETCH(ErrorPolicy, policy);
        QFETCH(QList<Answer>, answers);
        QFETCH(int, status);
        QFETCH(QList<int>, flags);
        QFETCH(int, prompts);
        RunFixture f;
        QVERIFY(f.world.createDatabase(4, [](int i) {
            return i == 1 ? QString::fromUtf8("ｔａｒｏ@example.jp")
                          : QStringLiteral("r%1@example.jp").arg(i);
        }));
        QVERIFY(f.start());
        f.run.pacing.errorPolicy = policy;
        f.progress.script(answers);
        auto worker = f.go();
        RunFixture::runToEnd(*worker);
        QCOMPARE(int(worker->report().status), status);
        QCOMPARE(f.world.sentFlags(), flags);
        QCOMPARE(f.progress.prompts().size(), prompts);
        if (prompts) {
            QVERIFY(f.progress.prompts()[0].second.contains(QStringLiteral(
                "Was unable to send mail number 1. \nMail cannot be sent as the mail "
                "address contains double-byte characters.")));
        }
        QVERIFY(f.logEntries().contains(QStringLiteral(
            "Mail cannot be sent as the mail address contains double-byte characters.")));
        for (const QJsonValue& v : f.server->index())
            QVERIFY(!v.toObject()["to"].toArray()[0].toString().contains(
                        QStringLiteral("example.jp")) ||
                    v.toObject()["to"].toArray()[0].toString().startsWith('r'));
    }

    // A refusal for good (550) is not retried: each mail is tried once, counted, marked 2,
    // and no retry pause follows, since the server is not in trouble.
    void everyMailRefusedUnderPolicyOne() {
        RunFixture f({QStringLiteral("--reject-rcpt"), QStringLiteral("@")});
        QVERIFY(f.world.createDatabase(3));
        QVERIFY(f.start());
        f.run.pacing.errorPolicy = ErrorPolicy::Continue;
        f.run.pacing.connectWait = 1;
        auto worker = f.go();
        RunFixture::runToEnd(*worker);
        QCOMPARE(worker->report().status, RunStatus::Failed);
        QCOMPARE(worker->report().errors, 3);
        QCOMPARE(f.server->count(), 0);
        QCOMPARE(f.world.sentFlags(), QList<int>(3, 2));
        QCOMPARE(f.countEntries(QStringLiteral("Reconnected to SMTP server.")), 0);
        QCOMPARE(f.countEntries(QStringLiteral("Retransmission was unsuccessful.")), 0);
        QCOMPARE(f.countEntries(QStringLiteral("A problem occurred during transmission. ( 550 )")),
                 3);
        QCOMPARE(f.countEntries(QStringLiteral("The server refused this mail for good")), 3);
        QCOMPARE(f.countEntries(QStringLiteral("Connected to SMTP server.")), 1);
        QVERIFY(f.progress.firstStatus(QStringLiteral("Standing by")).isNull());
    }

    void askPolicyRetriesUntilTheUserSkips() {
        RunFixture f({QStringLiteral("--reject-rcpt"), QStringLiteral("rcpt1@")});
        QVERIFY(f.world.createDatabase(2));
        QVERIFY(f.start());
        f.run.pacing.errorPolicy = ErrorPolicy::Ask;
        f.progress.script({Answer::Yes, Answer::No});
        auto worker = f.go();
        RunFixture::runToEnd(*worker);
        QCOMPARE(worker->report().status, RunStatus::Failed);
        QCOMPARE(worker->report().errors, 1);
        QCOMPARE(f.world.sentFlags(), (QList<int>{2, 1}));
        QCOMPARE(f.progress.prompts().size(), 2);
        QVERIFY(f.progress.prompts()[0].second.contains(
            QStringLiteral("Was unable to send mail number 1. \n[550]")));
        QVERIFY(f.logEntries().contains(QStringLiteral("Mail transmission resumed by  user.")));
        QVERIFY(f.logEntries().contains(QStringLiteral("Mail transmission cancelled by user.")));
        QCOMPARE(f.server->count(), 1);
    }

    // A stored number the preferences never write reads as Continue, which must never retry
    // without end.
    void continuePolicyNeverRetriesWithoutEnd() {
        RunFixture f({QStringLiteral("--reject-rcpt"), QStringLiteral("@")});
        QVERIFY(f.world.createDatabase(2));
        QVERIFY(f.start());
        f.run.pacing.errorPolicy = ErrorPolicy::Continue;
        auto worker = f.go();
        RunFixture::runToEnd(*worker, 30000);
        QCOMPARE(worker->report().status, RunStatus::Failed);
        QCOMPARE(f.world.sentFlags(), QList<int>(2, 2));
        QCOMPARE(f.countEntries(QStringLiteral("Reconnected to SMTP server.")), 0);
    }

    // The run opens and checks its files at its first mail only: a file gone before that fails
    // every mail; one deleted later goes with the rest as the run read it.
    void attachmentDeletedBeforeItsMail_data() {
        QTest::addColumn<int>("deletedAfter");  // the record whose outcome it follows, 0: none
        QTest::addColumn<QList<int>>("flags");
        QTest::addColumn<int>("delivered");
        QTest::addColumn<int>("reconnects");
        QTest::newRow("before the first mail") << 0 << QList<int>{2, 2, 2} << 0 << 3;
        QTest::newRow("after the first mail") << 1 << QList<int>{1, 1, 1} << 3 << 0;
    }
    void attachmentDeletedBeforeItsMail() {
        QFETCH(int, deletedAfter);
        QFETCH(QList<int>, flags);
        QFETCH(int, delivered);
        QFETCH(int, reconnects);
        RunFixture f;
        QVERIFY(f.world.createDatabase(3));
        QVERIFY(f.start());
        const QString attachment = f.world.env.root() + QStringLiteral("price list.txt");
        QVERIFY(test::writeFile(attachment, QByteArray(20000, 'x')));
        f.setup.attachments = {attachment};
        if (deletedAfter == 0)
            QFile::remove(attachment);
        f.afterOutcome = [&](int id) {
            if (id == deletedAfter)
                QFile::remove(attachment);
        };
        auto worker = f.go();
        RunFixture::runToEnd(*worker);
        QCOMPARE(worker->report().status,
                 delivered == 3 ? RunStatus::Completed : RunStatus::Failed);
        // Nothing of a failed mail was delivered in part.
        QCOMPARE(f.server->count(), delivered);
        QCOMPARE(f.world.sentFlags(), flags);
        QCOMPARE(f.countEntries(QStringLiteral("Reconnected to SMTP server.")), reconnects);
        QCOMPARE(f.logEntries().join('\n').contains(QStringLiteral("No such file or directory")),
                 delivered < 3);
        if (delivered == 0)
            return;
        const QJsonArray parsed = test::parseMessages(f.messagePaths());
        QCOMPARE(parsed.size(), delivered);
        for (const QJsonValue& mail : parsed)
            QCOMPARE(mail.toObject()["attachments"].toArray()[0].toString(),
                     QStringLiteral("price list.txt"));
    }

    void configuredPortClosed() {
        // The fallback ports of a plain session without authentication are 25 and 26; only
        // when nothing listens there does the run end without connection.
        for (int port : {25, 26}) {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
            if (probe.waitForConnected(300))
                QSKIP("something listens on port 25 or 26 here");
        }
        RunFixture f;
        QVERIFY(f.world.createDatabase(2));
        const int closed = test::closedPort();
        f.run.server.smtpServer = QStringLiteral("127.0.0.1");
        f.run.server.smtpPort = closed;
        auto worker = f.go();
        RunFixture::runToEnd(*worker);
        QCOMPARE(worker->report().status, RunStatus::Failed);
        QVERIFY(!worker->report().everConnected);
        // Each attempt's entry names the reason the client was given.
        const QString refused = QStringLiteral(" - Connection refused");
        QCOMPARE(f.logEntries(),
                 (QStringList{
                     QStringLiteral("Unable to connect to SMTP server. ( 127.0.0.1:%1 / No Auth )")
                             .arg(closed) +
                         refused,
                     "Unable to connect to SMTP server. ( 127.0.0.1:25 / No Auth )" + refused,
                     "Unable to connect to SMTP server. ( 127.0.0.1:26 / No Auth )" + refused,
                     "Mail transmission ended."}));
        QVERIFY(f.outcomes.isEmpty());
        QCOMPARE(f.world.sentFlags(), QList<int>(2, 0));
    }

    void droppedConnectionIsRestored() {
        // The server drops the line when the second mail begins; the reconnect restores it and
        // the mail goes on the new connection.
        const QString greet = QStringLiteral("S: 220 scripted\nC~ EHLO .+\nS: 250 hello\n");
        const QString mail = QStringLiteral(
            "C: MAIL FROM:<shop@example.jp>\nS: 250 ok\nC~ RCPT TO:<rcpt%1@example.jp>\nS: 250 ok\n"
            "C: DATA\nS: 354 go\nD\nS: 250 queued\n");
        test::ScriptedServer server(
            {greet + mail.arg(1) + QStringLiteral("C: MAIL FROM:<shop@example.jp>\nX"),
             greet + mail.arg(2) + QStringLiteral("C: QUIT\nS: 221 bye")});
        RunFixture f;
        QVERIFY(f.world.createDatabase(2));
        f.run.server.smtpPort = server.port();
        auto worker = f.go();
        RunFixture::runToEnd(*worker);
        QVERIFY2(server.finish(), qPrintable(server.report()));
        QCOMPARE(worker->report().status, RunStatus::Completed);
        QCOMPARE(f.world.sentFlags(), (QList<int>{1, 1}));
        QCOMPARE(f.countEntries(QStringLiteral("Reconnected to SMTP server.")), 1);
        QCOMPARE(f.countEntries(QStringLiteral("A problem occurred during transmission.")), 1);
    }

    void mailAfterAFailedRetryStartsOnANewConnection() {
        // Both tries of the first mail lose the line; the second mail reconnects before it
        // begins instead of failing once on the closed connection.
        const QString greet = QStringLiteral("S: 220 scripted\nC~ EHLO .+\nS: 250 hello\n");
        const QString lost = greet + QStringLiteral("C: MAIL FROM:<shop@example.jp>\nX");
        test::ScriptedServer server(
            {lost, lost,
             greet + QStringLiteral("C: MAIL FROM:<shop@example.jp>\nS: 250 ok\n"
                                    "C: RCPT TO:<rcpt2@example.jp>\nS: 250 ok\n"
                                    "C: DATA\nS: 354 go\nD\nS: 250 queued\nC: QUIT\nS: 221 bye")});
        RunFixture f;
        QVERIFY(f.world.createDatabase(2));
        f.run.server.smtpPort = server.port();
        f.run.pacing.errorPolicy = ErrorPolicy::Continue;  // go on with the next mail
        auto worker = f.go();
        RunFixture::runToEnd(*worker);
        QVERIFY2(server.finish(), qPrintable(server.report()));
        QCOMPARE(f.world.sentFlags().value(1), 1);
        QCOMPARE(f.countEntries(QStringLiteral("A problem occurred during transmission.")), 2);
        QCOMPARE(f.countEntries(QStringLiteral("Reconnected to SMTP server.")), 2);
    }

    void quitRefusedAfterTheMailsIsNoFailure() {
        const QString script = QStringLiteral(
            "S: 220 scripted\nC~ EHLO .+\nS: 250 hello\n"
            "C: MAIL FROM:<shop@example.jp>\nS: 250 ok\nC: RCPT TO:<rcpt1@example.jp>\nS: 250 ok\n"
            "C: DATA\nS: 354 go\nD\nS: 250 queued\nC: QUIT\nX");
        test::ScriptedServer server({script});
        RunFixture f;
        QVERIFY(f.world.createDatabase(1));
        f.run.server.smtpPort = server.port();
        auto worker = f.go();
        RunFixture::runToEnd(*worker);
        QVERIFY2(server.finish(), qPrintable(server.report()));
        QCOMPARE(worker->report().status, RunStatus::Completed);
        QCOMPARE(f.world.sentFlags(), QList<int>{1});
        QCOMPARE(f.logEntries().last(), QStringLiteral("Mail transmission ended."));
    }

    // A real server (aiosmtpd) told to offer PIPELINING gets every mail of a merged run once,
    // byte for byte as the same run sends them to it without pipelining.
    void pipelinedRunDeliversWhatTheUnpipelinedOneDoes() {
        RunFixture f({QStringLiteral("--pipelining")});
        constexpr int kMails = 30;
        QVERIFY(f.world.createDatabase(kMails));
        QVERIFY(f.start());
        // EHLO (automatic: nothing offered, no login)
        f.run.server.smtpAuthType = SmtpAuthType::LogOnUsing;
        f.run.server.smtpVerifMethod = VerifMethod::Automatic;
        const QString wireLog = f.world.env.root() + QStringLiteral("wire.txt");
        qputenv("POSTWICK_SMTP_WIRE_LOG", QFile::encodeName(wireLog));
        const auto unset = qScopeGuard([] { qunsetenv("POSTWICK_SMTP_WIRE_LOG"); });
        auto pipelined = f.go();
        RunFixture::runToEnd(*pipelined);
        qunsetenv("POSTWICK_SMTP_WIRE_LOG");
        QCOMPARE(pipelined->report().status, RunStatus::Completed);
        // every mail but the first had its commands sent ahead
        QCOMPARE(test::readFile(wireLog).count("-- one write: the data and the next"),
                 qsizetype(kMails - 1));

        test::CaptureServer plain(f.world.env.makeFolder(QStringLiteral("plain")));
        QVERIFY(plain.start());
        f.run.server.smtpPort = plain.port();
        auto unpipelined = f.go();
        RunFixture::runToEnd(*unpipelined);
        QCOMPARE(unpipelined->report().status, RunStatus::Completed);

        QCOMPARE(f.server->count(), kMails);
        QCOMPARE(plain.count(), kMails);
        const auto normalise = [](const QByteArray& bytes) {
            QList<QByteArray> lines = bytes.split('\n');
            lines.removeIf([](const QByteArray& l) {
                return l.startsWith("Date:") || l.startsWith("Message-ID:");
            });
            return lines.join('\n');
        };
        for (int i = 0; i < kMails; ++i) {
            const QJsonObject a = f.server->index()[i].toObject();
            const QJsonObject b = plain.index()[i].toObject();
            const QString to = QStringLiteral("rcpt%1@example.jp").arg(i + 1);
            QCOMPARE(a["to"].toArray(), QJsonArray{to});
            QCOMPARE(b["to"].toArray(), QJsonArray{to});
            QCOMPARE(normalise(f.server->messageBytes(a["file"].toString())),
                     normalise(plain.messageBytes(b["file"].toString())));
        }
    }

    void dryRunWritesWhatTheServerGets() {
        RunFixture f;
        QVERIFY(f.world.createDatabase(3));
        QVERIFY(f.start());
        const QString folder = f.world.env.makeFolder(QStringLiteral("dry"));
        auto dry = f.go(SendMode::Merge, db::SendSelectionMode::All,
                        std::make_unique<CDryRunTransport>(folder));
        RunFixture::runToEnd(*dry);
        QCOMPARE(dry->report().status, RunStatus::Completed);
        // the log says what a dry run did, not that it connected somewhere
        QCOMPARE(f.countEntries(QStringLiteral("Connected to SMTP server.")), 0);
        QCOMPARE(f.countEntries(QStringLiteral("Dry run: nothing is sent")), 1);
        QCOMPARE(f.countEntries(QStringLiteral("Dry run ended: 3 messages written to")), 1);
        QCOMPARE(f.countEntries(QStringLiteral("Disconnected from the SMTP server.")), 0);
        QStringList files =
            QDir(folder).entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name);
        QCOMPARE(files, (QStringList{"00001.eml", "00002.eml", "00003.eml"}));
        QCOMPARE(f.server->count(), 0);

        auto real = f.go();
        RunFixture::runToEnd(*real);
        QCOMPARE(f.server->count(), 3);
        // Byte for byte the same, apart from the lines that name the moment and the message.
        const auto normalise = [](QByteArray bytes) {
            QList<QByteArray> lines = bytes.split('\n');
            lines.removeIf([](const QByteArray& l) {
                return l.startsWith("Date:") || l.startsWith("Message-ID:");
            });
            return lines.join('\n');
        };
        for (int i = 0; i < 3; ++i) {
            const QByteArray d = test::readFile(folder + files[i]);
            const QByteArray s =
                f.server->messageBytes(f.server->index()[i].toObject()["file"].toString());
            QVERIFY(d.contains("\r\n.a line with a dot"));
            QVERIFY(!d.contains("\r\n..a line"));
            if (!d.contains("boundary"))
                QCOMPARE(normalise(d), normalise(s));
        }
    }

    // The wire of one recipient's mail on the scripted server, by the kind of refusal.
    void retriesByKindOfRefusal_data() {
        const QString greet = QStringLiteral("S: 220 scripted\nC~ EHLO .+\nS: 250 hello\n");
        const QString mail = QStringLiteral("C: MAIL FROM:<shop@example.jp>\nS: 250 ok\n");
        const QString rcpt = QStringLiteral("C: RCPT TO:<rcpt1@example.jp>\n");
        const QString data = QStringLiteral("C: DATA\nS: 354 go\nD\n");
        const QString quit = QStringLiteral("C: QUIT\nS: 221 bye");
        QTest::addColumn<QStringList>("scripts");
        QTest::addColumn<QList<int>>("flags");
        QTest::addColumn<int>("mailFroms");
        QTest::addColumn<bool>("backedOff");
        QTest::addColumn<bool>("signIn");  // AUTH LOGIN as "shop"
        QTest::newRow("550 to RCPT: not retried")
            << QStringList{greet + mail + rcpt + "S: 550 5.1.1 no such user\nC: RSET\nS: 250 ok\n" +
                           quit}
            << QList<int>{2} << 1 << false << false;
        QTest::newRow("554 to the data: not retried")
            << QStringList{greet + mail + rcpt + "S: 250 ok\n" + data + "S: 554 5.7.1 spam\n" +
                           quit}
            << QList<int>{2} << 1 << false << false;
        QTest::newRow("451 to RCPT: retried after a pause")
            << QStringList{greet + mail + rcpt + "S: 451 4.7.1 greylisted\nC: RSET\nS: 250 ok\n" +
                           mail + rcpt + "S: 250 ok\n" + data + "S: 250 queued\n" + quit}
            << QList<int>{1} << 2 << true << false;
        QTest::newRow("452 to the data: retried after a pause")
            << QStringList{greet + mail + rcpt + "S: 250 ok\n" + data +
                           "S: 452 4.2.2 mailbox full\n" + mail + rcpt + "S: 250 ok\n" + data +
                           "S: 250 queued\n" + quit}
            << QList<int>{1} << 2 << true << false;
        QTest::newRow("421 closes: retried on a new connection")
            << QStringList{greet + "C: MAIL FROM:<shop@example.jp>\nS: 421 4.7.0 try later\nX",
                           greet + mail + rcpt + "S: 250 ok\n" + data + "S: 250 queued\n" + quit}
            << QList<int>{1} << 2 << true << false;
        // A server that offers no SIZE learns the size only from the data: the whole mail goes
        // before the 552. It fails for good once, and the next mail goes on the same connection.
        const QString rcpt2 = QStringLiteral("C: RCPT TO:<rcpt2@example.jp>\n");
        QTest::newRow("552 after the whole data: failed once, the run goes on")
            << QStringList{greet + mail + rcpt + "S: 250 ok\n" + data +
                           "S: 552 5.3.4 message size exceeds fixed limit\n" + mail + rcpt2 +
                           "S: 250 ok\n" + data + "S: 250 queued\n" + quit}
            << QList<int>{2, 1} << 2 << false << false;
        // the account's limit said at the greeting or at the sign-in holds the run, and the
        // recipient goes when it allows: neither failed nor left for later
        QTest::newRow("432 concurrent connections at the greeting: held, then sent")
            << QStringList{"S: 432 4.3.2 Concurrent connections limit exceeded. Visit "
                           "https://aka.ms/concurrent_sending for more information.\nX",
                           greet + mail + rcpt + "S: 250 ok\n" + data + "S: 250 queued\n" + quit}
            << QList<int>{1} << 1 << false << false;
        const QString auth = QStringLiteral(
            "S: 220 scripted\nC~ EHLO .+\nS: 250-hello\nS: 250 AUTH LOGIN\nC: AUTH LOGIN\n"
            "S: 334 VXNlcm5hbWU6\nC~ .+\nS: 334 UGFzc3dvcmQ6\nC~ .+\n");
        QTest::newRow("454 too many sign-ins at AUTH: held, then sent")
            << QStringList{auth +
                               "S: 454 4.7.0 Too many login attempts, please try again "
                               "later. - gsmtp\nX",
                           auth + "S: 235 ok\n" + mail + rcpt + "S: 250 ok\n" + data +
                               "S: 250 queued\n" + quit}
            << QList<int>{1} << 1 << false << true;
    }
    void retriesByKindOfRefusal() {
        QFETCH(QStringList, scripts);
        QFETCH(QList<int>, flags);
        QFETCH(int, mailFroms);
        QFETCH(bool, backedOff);
        QFETCH(bool, signIn);
        test::ScriptedServer server(scripts);
        RunFixture f;
        QVERIFY(f.world.createDatabase(int(flags.size())));
        f.run.server.smtpPort = server.port();
        if (signIn) {
            f.run.server.smtpAuthType = SmtpAuthType::LogOnUsing;
            f.run.server.smtpVerifMethod = VerifMethod::Login;
            f.run.server.smtpUserName = QStringLiteral("shop");
            f.run.server.smtpPassword = QStringLiteral("secret");
        }
        f.run.pacing.sendWait = 1;  // the back-off: 1 s, then 2 s
        f.run.pacing.oneTimeSend = 10;
        auto worker = f.go();
        RunFixture::runToEnd(*worker);
        QVERIFY2(server.finish(), qPrintable(server.report()));
        QCOMPARE(f.world.sentFlags(), flags);
        int froms = 0;
        for (int c = 0; c < server.connectionCount(); ++c)
            froms += int(server.received(c).count("MAIL FROM:"));
        QCOMPARE(froms, mailFroms);
        QCOMPARE(f.countEntries(QStringLiteral("The server refused this mail for now")),
                 backedOff ? 1 : 0);
        if (backedOff)
            QVERIFY2(f.clock->sleptMs() >= 1000, qPrintable(QString::number(f.clock->sleptMs())));
        QCOMPARE(f.countEntries(QStringLiteral("The server refused this mail for good")),
                 int(flags.count(2)));
        // each refusal for good is kept with the server's words, to be counted as a bounce
        QCOMPARE(int(worker->report().refusals.size()), int(flags.count(2)));
        QCOMPARE(f.countEntries(str(ids::kLogAccountLimit).section(QLatin1Char(';'), 0, 0)),
                 scripts.size() > 1 && mailFroms == 1 ? 1 : 0);
        for (const RecipientRefusal& r : worker->report().refusals)
            QVERIFY2(r.addresses.contains("rcpt1@example.jp") && r.reply.startsWith("55"),
                     qPrintable(r.addresses + " " + r.reply));
    }

    // A server that pipelines gets each mail's commands behind the end of data of the mail
    // before. Whatever breaks in the middle, the outcomes recorded before it stay, the rest
    // goes on as the fault rules say, and no mail's data goes out twice.
    void pipelinedRun_data() {
        const QString greet =
            QStringLiteral("S: 220 scripted\nC~ EHLO .+\nS: 250-scripted\nS: 250 PIPELINING\n");
        const auto group = [](int n) {
            return QStringLiteral(
                       "C: MAIL FROM:<shop@example.jp>\nC: RCPT TO:<rcpt%1@example.jp>\nC: DATA\n")
                .arg(n);
        };
        const QString go = QStringLiteral("S: 250 ok\nS: 250 ok\nS: 354 go\nD\n");
        const QString queued = QStringLiteral("S: 250 queued\n");
        const QString quit = QStringLiteral("C: QUIT\nS: 221 bye");
        QTest::addColumn<QStringList>("scripts");
        QTest::addColumn<QList<int>>("flags");
        QTest::addColumn<int>("oneTimeSend");  // with a batch pause of 1 s; 0: no batches
        QTest::addColumn<int>("possiblyDelivered");
        QTest::addColumn<QList<int>>("copies");  // of each mail's data, over all connections
        QTest::newRow("closed inside the replies to a group sent ahead")
            << QStringList{greet + group(1) + go + group(2) + queued + go + group(3) + queued +
                               "S: 250 ok\nX",
                           greet + group(3) + go + group(4) + queued + go + queued + quit}
            << QList<int>{1, 1, 1, 1} << 0 << 0 << QList<int>{1, 1, 1, 1};
        QTest::newRow("closed before the reply to the data, a group behind it")
            << QStringList{greet + group(1) + go + group(2) + queued + go + group(3) + "X",
                           greet + group(3) + go + group(4) + queued + go + queued + quit}
            << QList<int>{1, 1, 1, 1} << 0 << 1 << QList<int>{1, 1, 1, 1};
        QTest::newRow("a recipient refused inside a group sent ahead")
            << QStringList{greet + group(1) + go + group(2) + queued +
                           "S: 250 ok\nS: 550 no such user\nS: 503 no\nC: RSET\nS: 250 ok\n" +
                           group(3) + go + queued + quit}
            << QList<int>{1, 2, 1} << 0 << 0 << QList<int>{1, 0, 1};
        QTest::newRow("the data refused for now, the mail sent ahead taken back")
            << QStringList{greet + group(1) + go + group(2) + "S: 452 4.2.2 mailbox full\n" +
                               "S: 250 ok\nS: 250 ok\nS: 354 go\n",
                           greet + group(1) + go + group(2) + queued + go + queued + quit}
            << QList<int>{1, 1} << 10 << 0 << QList<int>{2, 1};
        QTest::newRow("the last mail of a batch goes alone")
            << QStringList{greet + group(1) + go + group(2) + queued + go + queued + quit,
                           greet + group(3) + go + queued + quit}
            << QList<int>{1, 1, 1} << 2 << 0 << QList<int>{1, 1, 1};
    }
    void pipelinedRun() {
        QFETCH(QStringList, scripts);
        QFETCH(QList<int>, flags);
        QFETCH(int, oneTimeSend);
        QFETCH(int, possiblyDelivered);
        QFETCH(QList<int>, copies);
        test::ScriptedServer server(scripts);
        RunFixture f;
        QVERIFY(f.world.createDatabase(int(flags.size())));
        f.run.server.smtpPort = server.port();
        // EHLO (automatic: nothing offered, no login)
        f.run.server.smtpAuthType = SmtpAuthType::LogOnUsing;
        f.run.server.smtpVerifMethod = VerifMethod::Automatic;
        f.run.pacing.oneTimeSend = std::max(oneTimeSend, 1);
        f.run.pacing.sendWait = oneTimeSend > 0 ? 1 : 0;
        auto worker = f.go();
        RunFixture::runToEnd(*worker);
        QVERIFY2(server.finish(), qPrintable(server.report()));
        QCOMPARE(f.world.sentFlags(), flags);
        QCOMPARE(f.outcomes.size(), flags.size());  // each recorded once
        for (int n = 1; n <= flags.size(); ++n) {
            const QByteArray subject = "Subject: Hello Name " + QByteArray::number(n) + "\r\n";
            qsizetype sent = 0;
            for (int c = 0; c < server.connectionCount(); ++c)
                sent += server.received(c).count(subject);
            QCOMPARE(sent, qsizetype(copies[n - 1]));
        }
        QCOMPARE(f.countEntries(QStringLiteral("The connection ended after the whole mail")),
                 possiblyDelivered);
    }

    // A server whose SIZE limit the mail passes: refused before any of it is sent, for good,
    // and the next mail goes on the same connection.
    void overSizeMailIsNeitherSentNorRetried() {
        const QString ehlo = QStringLiteral(
            "S: 220 scripted\nC~ EHLO .+\nS: 250-scripted\nS: 250-8BITMIME\nS: 250 SIZE 200\n");
        test::ScriptedServer server({ehlo + "C: QUIT\nS: 221 bye"});
        RunFixture f;
        QVERIFY(f.world.createDatabase(2));
        f.run.server.smtpPort = server.port();
        // EHLO (automatic: nothing offered, no login)
        f.run.server.smtpAuthType = SmtpAuthType::LogOnUsing;
        f.run.server.smtpVerifMethod = VerifMethod::Automatic;
        auto worker = f.go();
        RunFixture::runToEnd(*worker);
        QVERIFY2(server.finish(), qPrintable(server.report()));
        QVERIFY(!server.received(0).contains("MAIL FROM"));
        QCOMPARE(f.world.sentFlags(), (QList<int>{2, 2}));
        QCOMPARE(f.countEntries(QStringLiteral("The server refused this mail for good")), 2);
        QCOMPARE(f.countEntries(QStringLiteral("Connected to SMTP server.")), 1);
    }

    // The connection closes after all data of mail 4 went out and before the reply: the
    // server may have the mail, so it is neither resent nor left for "not yet sent".
    void closedAfterTheDataIsNotResent() {
        const QString greet = QStringLiteral("S: 220 scripted\nC~ EHLO .+\nS: 250 hello\n");
        QString script = greet;
        for (int n = 1; n <= 4; ++n) {
            script +=
                QStringLiteral(
                    "C: MAIL FROM:<shop@example.jp>\nS: 250 ok\nC: RCPT TO:<rcpt%1@example.jp>\n"
                    "S: 250 ok\nC: DATA\nS: 354 go\nD\n")
                    .arg(n);
            script += n < 4 ? QStringLiteral("S: 250 queued\n") : QStringLiteral("X");
        }
        test::ScriptedServer server({script});
        RunFixture f;
        QVERIFY(f.world.createDatabase(5));
        f.run.server.smtpPort = server.port();
        auto worker = f.go();
        RunFixture::runToEnd(*worker);
        // Mail 5 needs a new connection, which the server refuses: nothing more was scripted.
        (void)server.finish();
        QCOMPARE(server.received(0).count("RCPT TO:<rcpt4@example.jp>"), 1);
        for (int c = 1; c < server.connectionCount(); ++c)
            QVERIFY(!server.received(c).contains("rcpt4@"));
        QCOMPARE(f.world.sentFlags().mid(0, 4), (QList<int>{1, 1, 1, 1}));
        QCOMPARE(f.countEntries(QStringLiteral("The connection ended after the whole mail")), 1);
        QCOMPARE(worker->report().status, RunStatus::Failed);
    }

    // The server takes 70 s to accept the data, longer than the reply timeout of every other
    // command: the mail is accepted once. The session's clock jumps those 70 s (then 70 more)
    // once the data is in, whichever of its readings sets the deadline.
    void lateFinalReplyIsAccepted() {
        test::ScriptedServer server({QStringLiteral(
            "S: 220 scripted\nC~ EHLO .+\nS: 250 hello\n"
            "C: MAIL FROM:<shop@example.jp>\nS: 250 ok\nC: RCPT TO:<rcpt1@example.jp>\nS: 250 ok\n"
            "C: DATA\nS: 354 go\nD\nW: 1000\nS: 250 queued at last\nC: QUIT\nS: 221 bye")});
        RunFixture f;
        QVERIFY(f.world.createDatabase(1));
        f.run.server.smtpPort = server.port();
        auto transport = std::make_unique<CSmtpTransport>();
        auto jumps = std::make_shared<std::atomic<int>>(0);
        transport->setClock([&server, jumps] {
            if (*jumps < 2 && server.received(0).contains("\r\n.\r\n"))
                ++*jumps;
            return std::chrono::steady_clock::now() + std::chrono::seconds(70) * jumps->load();
        });
        auto worker = f.go(SendMode::Merge, db::SendSelectionMode::All, std::move(transport));
        RunFixture::runToEnd(*worker);
        QVERIFY2(server.finish(), qPrintable(server.report()));
        QCOMPARE(server.connectionCount(), 1);
        QCOMPARE(worker->report().status, RunStatus::Completed);
        QCOMPARE(f.world.sentFlags(), QList<int>{1});
        QCOMPARE(jumps->load(), 2);
    }

    // Refusals for now on a real server: greylisted recipients go out on their second try;
    // a rate limit leaves the rest at 0 for "not yet sent" and ends the run, burning nobody.
    // Over several connections at once each recipient still gets one mail, whatever stops the
    // run, and connections the server refuses leave their share to the others.
    void refusedForNow_data() {
        QTest::addColumn<QStringList>("serverArguments");
        QTest::addColumn<int>("recipients");
        QTest::addColumn<int>("delivered");  // -1: whatever went before the cancel
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("connections");  // the profile's
        QTest::addColumn<int>("peak");         // sessions open at once; -1: not checked
        QTest::addColumn<int>("cancelAt");     // cancelled at this outcome; 0: not
        const QStringList slow{"--pipelining", "--data-delay", "20"};
        QTest::newRow("greylisting of two") << QStringList{"--greylist", "rcpt[24]@"} << 5 << 5
                                            << int(RunStatus::Completed) << 1 << -1 << 0;
        QTest::newRow("rate limit after 5")
            << QStringList{"--fail-data", "6"} << 20 << 5 << int(RunStatus::Failed) << 1 << -1 << 0;
        QTest::newRow("three connections, each recipient once")
            << slow << 40 << 40 << int(RunStatus::Completed) << 3 << 3 << 0;
        QTest::newRow("four wanted, the server takes two")
            << slow + QStringList{"--max-connections", "2"} << 40 << 40 << int(RunStatus::Completed)
            << 4 << 2 << 0;
        QTest::newRow("rate limit after 5 stops three connections")
            << QStringList{"--fail-data", "6"} << 20 << 5 << int(RunStatus::Failed) << 3 << -1 << 0;
        QTest::newRow("a cancel stops three connections after their mails")
            << slow << 40 << -1 << int(RunStatus::Cancelled) << 3 << -1 << 6;
    }
    void refusedForNow() {
        QFETCH(QStringList, serverArguments);
        QFETCH(int, recipients);
        QFETCH(int, delivered);
        QFETCH(int, status);
        QFETCH(int, connections);
        QFETCH(int, peak);
        QFETCH(int, cancelAt);
        RunFixture f(serverArguments);
        QVERIFY(f.world.createDatabase(recipients));
        QVERIFY(f.start());
        f.run.pacing.sendWait = 1;
        f.run.pacing.oneTimeSend = 100;
        SendingProfile profile;
        profile.connections = connections;
        f.run.limiter = std::make_shared<CSendLimiter>(profile, nullptr, f.clock->now());
        auto worker = f.go();
        f.afterOutcome = [&f, &worker, cancelAt](int) {
            if (f.outcomes.size() == cancelAt)
                worker->cancel();
        };
        RunFixture::runToEnd(*worker);
        QCOMPARE(int(worker->report().status), status);
        if (delivered < 0)
            delivered = f.server->count();
        QCOMPARE(f.server->count(), delivered);
        QHash<int, bool> recorded;  // each recipient's outcome once, by whichever connection
        for (const auto& [id, outcome] : f.outcomes)
            QVERIFY2(!std::exchange(recorded[id], true), qPrintable(QString::number(id)));
        // "peak refused": the most sessions open at once, the ones refused at the greeting
        const QList<QByteArray> seen =
            test::readFile(f.server->folder() + QStringLiteral("/connections.txt")).split(' ');
        if (peak > 0)
            QCOMPARE(seen.value(0).trimmed().toInt(), peak);
        const int refused = seen.value(1).trimmed().toInt();
        QCOMPARE(refused > 0, peak > 0 && peak < connections);
        QCOMPARE(f.countEntries(QStringLiteral("The server takes no further connection")), refused);
        QMap<QString, int> got;
        for (const QJsonValue& v : f.server->index())
            ++got[v.toObject()["to"].toArray()[0].toString()];
        for (int n : got)
            QCOMPARE(n, 1);
        const QList<int> flags = f.world.sentFlags();
        QCOMPARE(flags.count(1), delivered);
        QCOMPARE(flags.count(2), 0);  // nobody marked as failed for good
        QCOMPARE(flags.count(0), recipients - delivered);
    }

    // A Microsoft 365 and a Gmail that refuse past 30 a minute and 300 a day, in their words
    // and at their stages, on the run's clock: with the limits known the run never meets a
    // refusal; without, each refusal holds the run until the limit allows. Either way nobody
    // fails, nobody gets it twice, the first day takes 300 and the rest go on later days.
    void providerLimits_data() {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<bool>("profileKnowsLimits");
        QTest::addColumn<int>("connections");
        QTest::newRow("microsoft 365, paced") << "ms365" << true << 1;
        QTest::newRow("microsoft 365, refusals") << "ms365" << false << 1;
        QTest::newRow("gmail, paced") << "gmail" << true << 1;
        QTest::newRow("gmail, refusals") << "gmail" << false << 1;
        QTest::newRow("microsoft 365, three connections, paced") << "ms365" << true << 3;
        QTest::newRow("gmail, three connections, refusals") << "gmail" << false << 3;
    }
    void providerLimits() {
        QFETCH(QString, provider);
        QFETCH(bool, profileKnowsLimits);
        QFETCH(int, connections);
        constexpr int kRecipients = 1000;
        constexpr qint64 kDay = 86400000;
        QTemporaryDir clockDir;
        const QString clockFile = clockDir.filePath(QStringLiteral("now"));
        RunFixture f({"--provider", provider, "--per-minute", "30", "--per-day", "300", "--clock",
                      clockFile});
        // the server reads the run's time from the file: written in place, one write a sleep
        auto file = std::make_shared<QFile>(clockFile);
        QVERIFY(file->open(QIODevice::WriteOnly));
        auto writing = std::make_shared<QMutex>();  // the connections sleep on their threads
        const auto tell = [file, writing, clock = f.clock.get()](qint64) {
            QMutexLocker lock(writing.get());
            file->seek(0);
            file->write(QByteArray::number(clock->now().toMSecsSinceEpoch()).rightJustified(16));
            file->flush();
        };
        tell(0);
        f.clock->onSleep = tell;
        QVERIFY(f.world.createDatabase(kRecipients));
        QVERIFY(f.start());
        SendingProfile profile;
        if (profileKnowsLimits) {
            profile = presetProfile(ProfilePreset::Microsoft365);
            profile.perDay = 300;
        }
        profile.connections = connections;
        f.run.limiter = std::make_shared<CSendLimiter>(
            profile,
            std::make_unique<CSendLedger>(f.world.folders.userDataFolder, QStringLiteral("me@h")),
            f.clock->now());
        auto worker = f.go();
        RunFixture::runToEnd(*worker, 500000);
        QCOMPARE(worker->report().status, RunStatus::Completed);
        QCOMPARE(f.world.sentFlags(), QList<int>(kRecipients, 1));
        QCOMPARE(f.countEntries(str(ids::kLogCompleted)), kRecipients);
        QCOMPARE(
            f.countEntries(QStringLiteral("This account sends at most: 30 a minute, 300 a day")),
            profileKnowsLimits ? 1 : 0);

        QList<qint64> at;
        QMap<QString, int> got;
        for (const QJsonValue& v : f.server->index()) {
            at << qint64(v.toObject()["at"].toDouble());
            ++got[v.toObject()["to"].toArray()[0].toString()];
        }
        QCOMPARE(got.size(), kRecipients);
        QCOMPARE(*std::max_element(got.begin(), got.end()), 1);
        std::sort(at.begin(), at.end());
        for (int i = 0; i < at.size(); ++i) {
            const auto inWindow = [&](qint64 length) {
                return i -
                       int(std::upper_bound(at.begin(), at.end(), at[i] - length) - at.begin()) + 1;
            };
            QVERIFY2(inWindow(60000) <= 30 && inWindow(kDay) <= 300,
                     qPrintable(QString::number(i)));
        }
        QVERIFY(at[300] - at[0] >= kDay);

        const QStringList refusals =
            QString::fromLatin1(test::readFile(f.server->folder() + QStringLiteral("/limits.txt")))
                .split('\n', Qt::SkipEmptyParts);
        if (profileKnowsLimits) {
            QVERIFY2(refusals.isEmpty(), qPrintable(refusals.join(',')));
        } else {
            // the day's limit is met once and learnt; a rate refusal costs one reconnection
            // (a connection each: every one had a mail in flight when the day ran out)
            const qsizetype dayRefusals = refusals.filter(QStringLiteral(" day")).size();
            QVERIFY(dayRefusals >= 1 && dayRefusals <= connections);
            QVERIFY(refusals.size() <= connections * (kRecipients / 30 + 2));
            // a refusal closes each connection at most once: never one per recipient
            QVERIFY2(
                f.server->quits() <= connections * (refusals.size() + 8) &&
                    f.server->quits() < kRecipients / 5,
                qPrintable(QStringLiteral("%1 %2").arg(f.server->quits()).arg(refusals.size())));
        }
    }

    // The run reads its recipients two at a time; what happens to the database meanwhile.
    void changesDuringAPagedRun_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("delivered");
        QTest::addColumn<QList<int>>("flags");
        QTest::addColumn<bool>("failed");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("pipelined");
        QTest::newRow("none: two pages")
            << "" << 4 << QList<int>{1, 1, 1, 1} << false << "" << false;
        // Pipelined, a mail's outcome is written while the next one's reply is awaited: all
        // are written by the end, and a lost one stops the run after that next mail.
        QTest::newRow("none: two pages, pipelined")
            << "" << 4 << QList<int>{1, 1, 1, 1} << false << "" << true;
        QTest::newRow("outcome lost, pipelined")
            << "lose 2" << 3 << QList<int>{1, 1, 1, 0} << true
            << "The outcome of record 2 could not be recorded" << true;
        QTest::newRow("outcome lost") << "lose 2" << 2 << QList<int>{1, 1, 0, 0} << true
                                      << "The outcome of record 2 could not be recorded" << false;
        QTest::newRow("record gone while its mail went")
            << "delete 2 before" << 2 << QList<int>{1, 0, 0} << true
            << "Record 2 is no longer in the database" << false;
        QTest::newRow("record deleted between pages")
            << "delete 3 after 2" << 3 << QList<int>{1, 1, 1} << false
            << "Record 3 was deleted before its mail was made" << false;
        QTest::newRow("record added between pages")
            << "add 5 after 2" << 4 << QList<int>{1, 1, 1, 1, 0} << false << "" << false;
    }
    void changesDuringAPagedRun() {
        QFETCH(QString, change);
        QFETCH(int, delivered);
        QFETCH(QList<int>, flags);
        QFETCH(bool, failed);
        QFETCH(QString, entry);
        QFETCH(bool, pipelined);
        RunFixture f(pipelined ? QStringList{QStringLiteral("--pipelining")} : QStringList{});
        QVERIFY(f.world.createDatabase(4));
        QVERIFY(f.start());
        f.pageSize = 2;
        if (pipelined) {  // EHLO, where the server offers pipelining
            f.run.server.smtpAuthType = SmtpAuthType::LogOnUsing;
            f.run.server.smtpVerifMethod = VerifMethod::Automatic;
        }
        const QStringList words = change.split(' ');
        const auto edit = [&f](const QString& sql) {
            pw::test::execute(*f.world.store, sql);
            QVERIFY(f.world.store->Save(db::SaveMode::Retaining));
        };
        if (words.value(0) == "lose")
            f.recordFails = words[1].toInt();
        else if (change == "delete 2 before")
            f.beforeOutcome = [&](int id) {
                if (id == 2)
                    edit("DELETE FROM MAILS WHERE ID=2");
            };
        else if (!change.isEmpty())
            f.afterOutcome = [&](int id) {
                if (id != 2)
                    return;
                edit(words[0] == "delete" ? QString("DELETE FROM MAILS WHERE ID=3")
                                          : QString("INSERT INTO MAILS (ID, SENDED, SENDING, "
                                                    "ADDRESS, NAME) VALUES (5, 0, 1, "
                                                    "'rcpt5@example.jp', 'Name 5')"));
            };
        auto worker = f.go();
        RunFixture::runToEnd(*worker);
        QCOMPARE(worker->report().status, failed ? RunStatus::Failed : RunStatus::Completed);
        QCOMPARE(worker->report().outcomeLost, failed);
        QCOMPARE(f.server->count(), delivered);
        QCOMPARE(f.world.sentFlags(), flags);
        if (!entry.isEmpty())
            QCOMPARE(f.countEntries(entry), 1);
    }

    // The server goes away mid-run: the run ends as failed (nobody cancelled), and the
    // recipients it could not reach stay selectable by "not yet sent".
    void serverLostEndsAsFailed() {
        for (int port : {25, 26}) {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
            if (probe.waitForConnected(300))
                QSKIP("something listens on port 25 or 26 here");
        }
        // Mail 1 goes out, then the server drops the line and takes no more connections.
        test::ScriptedServer server({QStringLiteral(
            "S: 220 scripted\nC~ EHLO .+\nS: 250 hello\n"
            "C: MAIL FROM:<shop@example.jp>\nS: 250 ok\nC: RCPT TO:<rcpt1@example.jp>\n"
            "S: 250 ok\nC: DATA\nS: 354 go\nD\nS: 250 queued\nC: MAIL FROM:<shop@example.jp>\nX")});
        RunFixture f;
        QVERIFY(f.world.createDatabase(3));
        f.run.server.smtpPort = server.port();
        auto worker = f.go();
        RunFixture::runToEnd(*worker);
        QCOMPARE(worker->report().status, RunStatus::Failed);
        QVERIFY(!worker->isCancelled());
        QCOMPARE(f.world.sentFlags(), (QList<int>{1, 0, 0}));
        QCOMPARE(f.countEntries(QStringLiteral("The connection to the SMTP server could not be")),
                 1);
    }

    // Every failed connection attempt says why in its log entry.
    void connectFailureNamesItsReason_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("connectionType");
        QTest::addColumn<int>("authType");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("attempts");  // 0: as the port fallback goes
        const QString ehlo = QStringLiteral("S: 220 scripted\nC~ EHLO .+\n");
        QTest::newRow("STARTTLS not offered")
            << ehlo + "S: 250-hello\nS: 250 8BITMIME" << 2 << 0 << "STARTTLS" << 0;
        QTest::newRow("STARTTLS refused")
            << ehlo + "S: 250-hello\nS: 250 STARTTLS\nC: STARTTLS\nS: 454 4.7.0 TLS not available"
            << 2 << 0 << "454 4.7.0 TLS not available" << 1;
        QTest::newRow("wrong password")
            << ehlo +
                   "S: 250-hello\nS: 250 AUTH LOGIN\nC: AUTH LOGIN\nS: 334 VXNlcm5hbWU6\n"
                   "C~ .+\nS: 334 UGFzc3dvcmQ6\nC~ .+\nS: 535 5.7.8 bad credentials"
            << 0 << 1 << "535 5.7.8 bad credentials" << 0;
        QTest::newRow("TLS handshake")
            << QStringLiteral("S: 220 not a TLS server at all") << 1 << 0 << "SSL" << 0;
        // the server is there and says "not now": not ports 25 and 26 of the same host
        QTest::newRow("432 at the greeting")
            << QStringLiteral("S: 432 4.3.2 System not accepting network messages") << 0 << 0
            << "432 4.3.2" << 1;
    }
    void connectFailureNamesItsReason() {
        QFETCH(QString, script);
        QFETCH(int, connectionType);
        QFETCH(int, authType);
        QFETCH(QString, reason);
        QFETCH(int, attempts);
        test::ScriptedServer server({script});
        RunFixture f;
        QVERIFY(f.world.createDatabase(1));
        f.run.server.smtpPort = server.port();
        readStored(connectionType, f.run.server.smtpConnectionType);
        readStored(authType, f.run.server.smtpAuthType);
        f.run.server.smtpVerifMethod = VerifMethod::Login;
        f.run.server.smtpUserName = QStringLiteral("shop");
        f.run.server.smtpPassword = QStringLiteral("wrong");
        auto worker = f.go();
        RunFixture::runToEnd(*worker);
        (void)server.finish();
        const QString first = f.logEntries().value(0);
        QVERIFY2(first.startsWith(QStringLiteral("Unable to connect to SMTP server. ( 127.0.0.1:%1")
                                      .arg(server.port())),
                 qPrintable(first));
        QVERIFY2(first.contains(QStringLiteral(" - ")) && first.contains(reason),
                 qPrintable(first));
        QCOMPARE(f.world.sentFlags(), QList<int>{0});
        if (attempts > 0)
            QCOMPARE(f.countEntries(QStringLiteral("Unable to connect to SMTP server. ( ")),
                     attempts);
    }
};

QTEST_GUILESS_MAIN(TestSendRun)
#include "test_send_run.moc"
