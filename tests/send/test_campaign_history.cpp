// The campaign history from the run to what the user reads: a run against a real server on
// loopback with a sent, a refused, a suppressed and a possibly delivered recipient, a dry run
// and a test send, later bounces and an unsubscribe request; then the window's models,
// "--history" (tab-separated and CSV) and the charts must all show the same figures.
#include <QAbstractItemModelTester>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QXmlStreamReader>
#include <cstdio>

#include <poll.h>

#include "EngineLockFolder.h"
#include "QuietSendProgress.h"
#include "app/HistoryCommand.h"
#include "db/HistoryStore.h"
#include "db/SuppressionList.h"
#include "resources/Strings.h"
#include "send/HistoryModels.h"
#include "send/HistoryReport.h"
#include "send/RunHistory.h"
#include "send/SendFlow.h"
#include "test_send_world.h"

using namespace pw;
using namespace pw::send;

namespace {

struct Output {
    int exit = 0;
    QString out;
    QString err;
};

Output history(const QStringList& arguments, const QString& folder) {
    Output o;
    QTextStream out(&o.out);
    QTextStream err(&o.err);
    o.exit = app::runHistory(arguments, folder, out, err);
    return o;
}

// The cell of `column` in the line whose kind column says `kind` (tab-separated or CSV).
QString cellOf(const QString& table, const QString& kind, CampaignColumn column, QChar sep) {
    for (const QString& line : table.split(u'\n')) {
        const QStringList cells = line.split(sep);
        if (cells.size() == kCampaignColumns && cells[int(CampaignColumn::Kind)] == kind)
            return cells[int(column)];
    }
    return QStringLiteral("(no line)");
}

}  // namespace

class TestCampaignHistory : public QObject {
    Q_OBJECT
    std::unique_ptr<test::SendWorld> m_world;
    QString m_folder;
    QString m_runId;

    [[nodiscard]] SendFlowSettings settings(int port) const {
        SendFlowSettings s;
        s.folders = m_world->folders;
        s.previewFolder = m_world->env.root() + QStringLiteral("preview/");
        s.standardServer.smtpServer = QStringLiteral("127.0.0.1");
        s.standardServer.smtpPort = port;
        s.pacing = {100, 0, 0, ErrorPolicy::Continue};
        s.testEmailAddress = QStringLiteral("rcpt1@example.jp");
        return s;
    }

    [[nodiscard]] int campaignOf(db::CampaignKind kind) const {
        std::vector<db::CampaignRow> rows;
        (void)db::CHistoryStore(m_folder).ReadCampaigns(rows);
        for (const db::CampaignRow& r : rows)
            if (r.kind == kind)
                return r.id;
        return 0;
    }

private slots:
    void initTestCase() {
        setLanguage(Language::English);
        QVERIFY(test::ensureProcessLockFolder());
        m_world = std::make_unique<test::SendWorld>();
        m_folder = m_world->folders.userDataFolder;
        QVERIFY(m_world->createDatabase(6));
        db::CSuppressionList list(m_folder);
        QCOMPARE(list.Add({QStringLiteral("rcpt3@example.jp")}, QStringLiteral("asked")).added, 1);

        // rcpt2 refused at RCPT; the third mail's data goes out and the connection drops
        test::CaptureServer server(m_world->env.makeFolder(QStringLiteral("mail")),
                                   {QStringLiteral("--reject-rcpt"), QStringLiteral("rcpt2@"),
                                    QStringLiteral("--drop-data"), QStringLiteral("3")});
        QVERIFY(server.start());
        MailDocument document;
        document.senderAddress = QStringLiteral("shop@example.jp");
        document.subject = QStringLiteral("March news");
        document.recipientText = QStringLiteral("[[Mail Address]]");
        document.textBody = QStringLiteral("Hello [[Name]]");
        CSendLog log;
        log.setPath(m_folder + QStringLiteral("log.txt"));
        const auto run = [&](SendFlowSettings s, SendKind kind) {
            CSendFlow flow(std::move(s), log);
            flow.useDocument(document, *m_world->store, document.textBody);
            if (!flow.check(kind).ok())
                return SendSummary{};
            if (kind == SendKind::Send && !flow.chooseSelection(db::SendSelectionMode::All).ok())
                return SendSummary{};
            QuietSendProgress progress;
            return flow.runToEnd(progress);
        };
        const SendSummary sent = run(settings(server.port()), SendKind::Send);
        QCOMPARE(sent.sent, 4);  // rcpt5 possibly delivered among them
        QCOMPARE(sent.possiblyDelivered.size(), 1);
        QVERIFY(sent.historyCampaign > 0);
        m_runId = sent.runId;

        SendFlowSettings dry = settings(server.port());
        dry.dryRunFolder = m_world->env.makeFolder(QStringLiteral("dry"));
        QVERIFY(run(dry, SendKind::Send).historyCampaign > 0);
        document.subject = QStringLiteral("March news (test)");
        QVERIFY(run(settings(server.port()), SendKind::Test).historyCampaign > 0);

        // later words of the bounce mailbox: one for a run that is not ours is dropped
        db::CHistoryStore store(m_folder);
        const int notes =
            store.AddNotes({{m_runId, QStringLiteral("RCPT4@example.jp"), db::HistoryEvent::Bounced,
                             QStringLiteral("5.1.1 userunknown"), 1},
                            {QString(), QStringLiteral("rcpt6@example.jp"),
                             db::HistoryEvent::Unsubscribed, QStringLiteral("unsubscribe"), 2},
                            {QStringLiteral("0000000000000000"), QStringLiteral("rcpt1@example.jp"),
                             db::HistoryEvent::Complaint, QString(), 3}});
        QVERIFY2(store.LastError().isEmpty(), qPrintable(store.LastError()));
        QCOMPARE(notes, 2);
    }

    // What the window's table, "--history" and "--history --csv" show for each campaign.
    void figures_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("expected");
        const auto row = [](const char* name, db::CampaignKind k, CampaignColumn c, int v) {
            QTest::newRow(name) << int(k) << int(c) << v;
        };
        using K = db::CampaignKind;
        using C = CampaignColumn;
        row("run: recipients", K::Send, C::Recipients, 6);
        row("run: sent", K::Send, C::Sent, 3);
        row("run: refused", K::Send, C::Failed, 1);
        row("run: suppressed", K::Send, C::Suppressed, 1);
        row("run: possibly delivered", K::Send, C::Possibly, 1);
        row("run: left unsent", K::Send, C::Unsent, 0);
        row("run: bounced later", K::Send, C::Bounced, 1);
        row("run: complaint of another run", K::Send, C::Complaints, 0);
        row("run: unsubscribed later", K::Send, C::Unsubscribed, 1);
        row("dry run: recipients", K::DryRun, C::Recipients, 6);
        row("dry run: sent as files", K::DryRun, C::Sent, 5);
        row("dry run: suppressed", K::DryRun, C::Suppressed, 1);
        row("dry run: no bounce attached", K::DryRun, C::Bounced, 0);
        row("test send: recipients", K::Test, C::Recipients, 1);
        row("test send: sent", K::Test, C::Sent, 1);
        row("test send: unsubscribe not attached", K::Test, C::Unsubscribed, 0);
    }
    void figures() {
        QFETCH(int, kind);
        QFETCH(int, column);
        QFETCH(int, expected);
        const QString kindName = kindText(db::CampaignKind(kind));

        CampaignListModel model(m_folder);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model.reload(), db::HistoryRead::Read);
        QCOMPARE(model.rowCount(), 3);
        int found = -1;
        for (int r = 0; r < model.rowCount(); ++r)
            if (model.index(r, int(CampaignColumn::Kind)).data() == kindName)
                found = r;
        QVERIFY(found >= 0);
        QCOMPARE(model.index(found, column).data().toInt(), expected);

        const Output text = history({QStringLiteral("--history")}, m_folder);
        QCOMPARE(text.exit, 0);
        QCOMPARE(cellOf(text.out, kindName, CampaignColumn(column), u'\t'),
                 QString::number(expected));
        const Output csv =
            history({QStringLiteral("--history"), QStringLiteral("--csv")}, m_folder);
        QCOMPARE(csv.exit, 0);
        QCOMPARE(cellOf(QString(csv.out).remove(u'\r'), kindName, CampaignColumn(column), u','),
                 QString::number(expected));
    }

    // A campaign's recipients: the window's filtered list and "--history ID".
    void recipientsOfTheRun_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("later");
        QTest::newRow("sent") << "rcpt1@example.jp" << int(db::HistoryOutcome::Sent) << ""
                              << "";
        QTest::newRow("refused, with the reply")
            << "rcpt2@example.jp" << int(db::HistoryOutcome::Failed) << "550 Mailbox unavailable"
            << "";
        QTest::newRow("suppressed")
            << "rcpt3@example.jp" << int(db::HistoryOutcome::Suppressed) << ""
            << "";
        QTest::newRow("sent, bounced later")
            << "rcpt4@example.jp" << int(db::HistoryOutcome::Sent) << ""
            << "Bounced";
        QTest::newRow("possibly delivered")
            << "rcpt5@example.jp" << int(db::HistoryOutcome::PossiblyDelivered) << ""
            << "";
        QTest::newRow("sent, unsubscribed later")
            << "rcpt6@example.jp" << int(db::HistoryOutcome::Sent) << ""
            << "Unsubscribed";
    }
    void recipientsOfTheRun() {
        QFETCH(QString, address);
        QFETCH(int, outcome);
        QFETCH(QString, reply);
        QFETCH(QString, later);
        const int id = campaignOf(db::CampaignKind::Send);
        CampaignRecipientsModel model(m_folder, id);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model.setFilter({outcome, address}), db::HistoryRead::Read);
        QCOMPARE(model.rowCount(), 1);
        const auto cell = [&](RecipientColumn c) { return model.index(0, int(c)).data(); };
        QCOMPARE(cell(RecipientColumn::Address).toString(), address);
        QCOMPARE(cell(RecipientColumn::Outcome).toString(),
                 outcomeText(db::HistoryOutcome(outcome)));
        QVERIFY2(cell(RecipientColumn::Reply).toString().contains(reply),
                 qPrintable(cell(RecipientColumn::Reply).toString()));
        QCOMPARE(reply.isEmpty(), cell(RecipientColumn::Reply).toString().isEmpty());
        QCOMPARE(cell(RecipientColumn::Later).toString(), later);

        const Output out = history({QStringLiteral("--history"), QString::number(id)}, m_folder);
        QCOMPARE(out.exit, 0);
        QCOMPARE(out.out.count(u'\n'), 7);  // the header and six recipients
        const qsizetype at = out.out.indexOf(u'\t' + address + u'\t');
        QVERIFY(at > 0);
        const QString line = out.out.mid(at, out.out.indexOf(u'\n', at) - at);
        QVERIFY2(line.contains(u'\t' + outcomeText(db::HistoryOutcome(outcome)) + u'\t'),
                 qPrintable(line));

        // the recipient's history over every campaign, in any case
        AddressHistoryModel mine(m_folder, address.toUpper());
        QAbstractItemModelTester mineTester(&mine,
                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(mine.reload(), db::HistoryRead::Read);
        QCOMPARE(mine.rowCount(), address == "rcpt1@example.jp" ? 3 : 2);
    }

    // The charts hold the table's figures: every mark of the SVG names its campaign, series
    // and value, and each is the model's cell (rates from the cells).
    void chartsHoldTheTable() {
        CampaignListModel model(m_folder);
        QCOMPARE(model.reload(), db::HistoryRead::Read);
        std::vector<db::CampaignRow> rows;
        QCOMPARE(db::CHistoryStore(m_folder).ReadCampaigns(rows), db::HistoryRead::Read);
        const auto cell = [&](int campaign, CampaignColumn c) {
            for (int r = 0; r < model.rowCount(); ++r)
                if (model.index(r, 0).data(Qt::UserRole).toInt() == campaign)
                    return model.index(r, int(c)).data().toDouble();
            return -1.0;
        };
        const std::map<QString, CampaignColumn> columns = {
            {"sent", CampaignColumn::Sent},
            {"possibly", CampaignColumn::Possibly},
            {"failed", CampaignColumn::Failed},
            {"suppressed", CampaignColumn::Suppressed},
            {"unsent", CampaignColumn::Unsent}};
        int marks = 0;
        for (const Chart& chart : {outcomeChart(rows), rateChart(rows)}) {
            QCOMPARE(chart.campaignIds, std::vector<int>{campaignOf(db::CampaignKind::Send)});
            QXmlStreamReader svg(chartSvg(chart));
            while (!svg.atEnd()) {
                if (svg.readNext() != QXmlStreamReader::StartElement ||
                    !svg.attributes().hasAttribute("data-series"))
                    continue;
                const int id = svg.attributes().value("data-campaign").toInt();
                const QString series = svg.attributes().value("data-series").toString();
                const double value = svg.attributes().value("data-value").toDouble();
                const double out =
                    cell(id, CampaignColumn::Sent) + cell(id, CampaignColumn::Possibly);
                double expected = -1;
                if (series == "bounceRate")
                    expected = 100 * cell(id, CampaignColumn::Bounced) / out;
                else if (series == "complaintRate")
                    expected = 100 * cell(id, CampaignColumn::Complaints) / out;
                else
                    expected = cell(id, columns.at(series));
                QCOMPARE(value, expected);
                ++marks;
            }
            QVERIFY2(!svg.hasError(), qPrintable(svg.errorString()));
        }
        QCOMPARE(marks, 5 + 2);
        QCOMPARE(rateChart(rows).series[0].values, std::vector<double>{25.0});  // 1 of 4
        QCOMPARE(rateChart(rows).thresholds, (std::vector<double>{2.0, 0.3}));
    }

    // The recipient list reads a page at a time and filters by the address or the reply.
    void pagesAndFilters_data() {
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("matching");
        QTest::newRow("all") << 0 << "" << 1201;
        QTest::newRow("failed only") << int(db::HistoryOutcome::Failed) << "" << 120;
        QTest::newRow("part of an address, any case") << 0 << "USER100" << 11;
        QTest::newRow("part of the reply") << 0 << "quota" << 120;
        QTest::newRow("nothing") << int(db::HistoryOutcome::Unsent) << "" << 0;
    }
    void pagesAndFilters() {
        QFETCH(int, outcome);
        QFETCH(QString, text);
        QFETCH(int, matching);
        test::TestEnv env;
        const QString folder = env.makeFolder(QStringLiteral("user")) + u'/';
        db::CHistoryStore store(folder);
        {
            std::unique_ptr<db::CHistoryWriter> writer = store.OpenWriter();
            QVERIFY(writer);
            const int id = writer->BeginCampaign({});
            QVERIFY(id > 0);
            std::vector<db::HistoryRecipient> group;
            for (int p = 1; p <= 1201; ++p) {
                const bool fails = p % 10 == 0;
                db::HistoryRecipient r;
                r.position = p;
                r.address = QStringLiteral("user%1@example.jp").arg(p);
                r.outcome = fails ? db::HistoryOutcome::Failed : db::HistoryOutcome::Sent;
                r.reply = fails ? QStringLiteral("552 over quota") : QString();
                group.push_back(r);
                if (group.size() == 500 || p == 1201) {
                    QVERIFY(writer->AddRecipients(id, group));
                    group.clear();
                }
            }
            QVERIFY(writer->EndCampaign(id, db::CampaignEnd::Completed, 1));
        }
        CampaignRecipientsModel model(folder, 1);
        QCOMPARE(model.setFilter({outcome, text}), db::HistoryRead::Read);
        QCOMPARE(model.rowCount(), std::min(matching, CampaignRecipientsModel::kPageRows));
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model.setFilter({outcome, text}), db::HistoryRead::Read);
        while (model.canFetchMore({}))
            model.fetchMore({});
        QCOMPARE(model.rowCount(), matching);
        for (int r = 1; r < model.rowCount(); ++r)  // in the order of the run, none twice
            QVERIFY(model.index(r, 0).data().toInt() > model.index(r - 1, 0).data().toInt());

        QBuffer csv;
        csv.open(QIODevice::WriteOnly);
        QCOMPARE(writeRecipientsCsv(store, 1, {outcome, text}, csv), db::HistoryRead::Read);
        QCOMPARE(int(csv.data().count("\r\n")), matching + 1);
    }

    // Bad command lines and a history that is not there say so and change nothing.
    void commandLineRefusals_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("told");
        QTest::newRow("not a number") << QStringList{"--history", "march"} << 4 << "Usage:";
        QTest::newRow("two numbers") << QStringList{"--history", "1", "2"} << 4 << "Usage:";
        QTest::newRow("no such campaign")
            << QStringList{"--history", "99"} << 4 << "no campaign number 99";
        QTest::newRow("nothing recorded yet")
            << QStringList{"--history"} << 0 << "No campaign has been recorded yet.";
    }
    void commandLineRefusals() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exit);
        QFETCH(QString, told);
        test::TestEnv env;
        const QString folder = env.makeFolder(QStringLiteral("user")) + u'/';
        const Output o = history(arguments, folder);
        QCOMPARE(o.exit, exit);
        QVERIFY2(o.err.contains(told), qPrintable(o.err));
        QVERIFY(!QFile::exists(folder + QLatin1String(db::kHistoryFileName)));
    }

    // What the history cannot spoil, and what a run that never came to its recipients
    // leaves: each named, as left unsent.
    void runsOfTheirOwn_data() {
        QTest::addColumn<bool>("cancelFirst");
        QTest::addColumn<bool>("historyUsable");
        QTest::addColumn<int>("recipients");
        QTest::addColumn<bool>("readerBeside");  // a window reading in another process
        QTest::newRow("cancelled before the first mail") << true << true << 3 << false;
        QTest::newRow("history that cannot be written: the run goes on")
            << false << false << 3 << false;
        // the writer lets go of the file between its groups of rows, and waits for a reader
        // that holds it: three groups (a dry run, no server needed), none lost
        QTest::newRow("a window reading at the same moment from another process")
            << false << true << 2 * CRunHistory::kGroupRows + 7 << true;
    }
    void runsOfTheirOwn() {
        QFETCH(bool, cancelFirst);
        QFETCH(bool, historyUsable);
        QFETCH(int, recipients);
        QFETCH(bool, readerBeside);
        test::SendWorld world;
        QVERIFY(world.createDatabase(recipients));
        const QString folder = world.folders.userDataFolder;
        if (!historyUsable)  // a folder where the file would be
            QVERIFY(QDir().mkpath(folder + QLatin1String(db::kHistoryFileName)));
        test::CaptureServer server(world.env.makeFolder(QStringLiteral("mail")));
        QVERIFY(server.start());
        QProcess reader;
        if (readerBeside) {
            QVERIFY(db::CHistoryStore(folder).OpenWriter());  // an earlier run made the file
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("PW_HISTORY_READER"), folder);
            reader.setProcessEnvironment(env);
            reader.start(QCoreApplication::applicationFilePath(), {});
            QVERIFY(reader.waitForReadyRead(60000));  // it has read once: the run starts now
        }
        MailDocument document;
        document.senderAddress = QStringLiteral("shop@example.jp");
        document.recipientText = QStringLiteral("[[Mail Address]]");
        CSendLog log;
        log.setPath(folder + QStringLiteral("log.txt"));
        SendFlowSettings s = settings(server.port());
        s.folders = world.folders;
        if (readerBeside)
            s.dryRunFolder = world.env.makeFolder(QStringLiteral("dry"));
        CSendFlow flow(s, log);
        flow.useDocument(document, *world.store, {});
        QCOMPARE(flow.check(SendKind::Send).reason, RefusalReason::None);
        QVERIFY(flow.chooseSelection(db::SendSelectionMode::All).ok());
        QCOMPARE(flow.selectedCount(), recipients);
        if (cancelFirst)
            flow.cancel();
        QuietSendProgress progress;
        const SendSummary summary = flow.runToEnd(progress);
        const int mailed = cancelFirst ? 0 : recipients;
        QCOMPARE(summary.sent, mailed);
        QCOMPARE(server.count(), readerBeside ? 0 : mailed);
        QCOMPARE(summary.historyCampaign > 0, historyUsable);
        if (readerBeside) {
            reader.closeWriteChannel();                  // its input ends: it stops reading
            if (reader.state() != QProcess::NotRunning)  // unless a read failed and ended it
                QVERIFY(reader.waitForFinished(60000));
            const QByteArray told = reader.readAllStandardOutput();
            QVERIFY2(reader.exitCode() == 0 && told.startsWith("read"), told.right(400));
        }
        if (!historyUsable)
            return;
        db::CampaignRow row;
        QCOMPARE(db::CHistoryStore(folder).ReadCampaign(summary.historyCampaign, row),
                 db::HistoryRead::Read);
        QCOMPARE(row.end, cancelFirst ? db::CampaignEnd::Cancelled : db::CampaignEnd::Completed);
        QCOMPARE(row.recipients, recipients);
        QCOMPARE(row.unsent, recipients - mailed);
        std::vector<db::HistoryRecipient> rows;
        QCOMPARE(db::CHistoryStore(folder).ReadRecipients(summary.historyCampaign, {}, rows, 0,
                                                          recipients + 1),
                 db::HistoryRead::Read);
        QCOMPARE(int(rows.size()), recipients);
        for (int p = 1; p <= recipients; ++p)  // every position once, in order
            QCOMPARE(rows[size_t(p - 1)].position, p);
        QCOMPARE(rows.back().address, QStringLiteral("rcpt%1@example.jp").arg(recipients));
        QCOMPARE(rows.back().outcome,
                 cancelFirst ? db::HistoryOutcome::Unsent : db::HistoryOutcome::Sent);
    }

    // A cell a spreadsheet would run as a formula stays text; separators and quotes stay in
    // their cell.
    void csvCells_data() {
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("plain") << "rcpt1@example.jp" << QByteArray("rcpt1@example.jp\r\n");
        QTest::newRow("comma") << "550 no, never" << QByteArray("\"550 no, never\"\r\n");
        QTest::newRow("quote") << "say \"hi\"" << QByteArray("\"say \"\"hi\"\"\"\r\n");
        QTest::newRow("line break") << "a\nb" << QByteArray("\"a\nb\"\r\n");
        QTest::newRow("formula") << "=HYPERLINK(1)" << QByteArray("'=HYPERLINK(1)\r\n");
        QTest::newRow("at sign first") << "@SUM(A1)" << QByteArray("'@SUM(A1)\r\n");
        QTest::newRow("negative number kept") << "-12" << QByteArray("-12\r\n");
        QTest::newRow("Japanese in UTF-8") << "田中様" << QString("田中様\r\n").toUtf8();
    }
    void csvCells() {
        QFETCH(QString, cell);
        QFETCH(QByteArray, line);
        QCOMPARE(csvLine({cell}), line);
    }

    // Long Japanese texts are cut to their columns on a character's boundary, never inside.
    void japaneseTextsKeptWhole() {
        test::TestEnv env;
        const QString folder = env.makeFolder(QStringLiteral("user"));
        db::CHistoryStore store(folder);
        db::CampaignStart start;
        start.subject = QString(400, QChar(0x6F22)) + QStringLiteral("x");  // 1201 bytes
        start.sender = QStringLiteral("山田商店 <shop@example.jp>");
        {
            const auto writer = store.OpenWriter();
            QVERIFY(writer);
            const int id = writer->BeginCampaign(start);
            db::HistoryRecipient r;
            r.position = 1;
            r.address = QStringLiteral("Tanaka@Example.JP");
            r.reply = QStringLiteral("550 宛先不明 ") + QString(500, QChar(0x3042));
            QVERIFY(writer->AddRecipients(id, {r}));
            QVERIFY(writer->EndCampaign(id, db::CampaignEnd::Completed, 1));
        }
        db::CampaignRow row;
        QCOMPARE(store.ReadCampaign(1, row), db::HistoryRead::Read);
        QCOMPARE(row.subject, QString(333, QChar(0x6F22)));  // 999 bytes of whole characters
        QCOMPARE(row.sender, start.sender);
        std::vector<db::AddressCampaign> mine;
        QCOMPARE(store.ReadAddress(QStringLiteral("tanaka@example.jp"), mine),
                 db::HistoryRead::Read);
        QCOMPARE(mine.size(), size_t(1));
        QVERIFY(mine[0].recipient.reply.startsWith(QStringLiteral("550 宛先不明 あ")));
        QVERIFY(!mine[0].recipient.reply.contains(QChar::ReplacementCharacter));
    }

    void cleanupTestCase() { m_world.reset(); }
};

// The child of the reader row: a window's reads of the history, again and again until the test
// closes its input, each told as a line; a read that fails ends it with 1.
static int readHistoryUntilTold(const QString& folder) {
    const db::CHistoryStore store(folder);
    pollfd input{0, POLLIN, 0};
    for (;;) {
        std::vector<db::CampaignRow> campaigns;
        std::vector<db::HistoryRecipient> rows;
        db::HistoryRead r = store.ReadCampaigns(campaigns);
        if (r != db::HistoryRead::Failed && !campaigns.empty())
            r = store.ReadRecipients(campaigns.front().id, {}, rows, 0, 5000);
        if (r == db::HistoryRead::Failed) {
            std::printf("failed: %s\n", qPrintable(store.LastError()));
            return 1;
        }
        std::printf("read %d\n", int(rows.size()));
        std::fflush(stdout);
        if (::poll(&input, 1, 20) != 0)  // a window's pause between reads; the input ended
            return 0;
    }
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("PW_HISTORY_READER"))
        return readHistoryUntilTold(qEnvironmentVariable("PW_HISTORY_READER"));
    TestCampaignHistory test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "test_campaign_history.moc"
