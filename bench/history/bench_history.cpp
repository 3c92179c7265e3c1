// A year of weekly campaigns to 20,000 recipients (52 x 20,000 = 1,040,000 recipient rows) in
// the campaign history, then what the user waits for: the History window's campaign table and
// its report page (charts), one campaign's recipients (the first page, a filtered page, all of
// them as CSV) and one recipient's campaigns. Then what recording costs a run: the time each
// recipient's end takes on the worker's thread (the only part on the run's path) and the
// wait at the run's end for what is not yet written, for a run of 20,000 told all at once
// (the worst case) and at the pace of a fast run.
//
//   bench_history [RUNS [FOLDER]]   (default 7; FOLDER keeps the filled history between calls)
#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <thread>

#include "db/HistoryStore.h"
#include "send/HistoryModels.h"
#include "send/HistoryReport.h"
#include "send/RunHistory.h"
#include "support/BenchSupport.h"

using namespace pw;

namespace {

constexpr int kCampaigns = 52;
constexpr int kRecipients = 20000;

QString address(int i) {
    return QStringLiteral("customer%1@example.jp").arg(i);
}

// Every fiftieth recipient fails with a reply, one in a hundred was suppressed.
db::HistoryRecipient row(int position) {
    db::HistoryRecipient r;
    r.position = position;
    r.address = address(position);
    r.outcome = position % 50 == 0    ? db::HistoryOutcome::Failed
                : position % 100 == 1 ? db::HistoryOutcome::Suppressed
                                      : db::HistoryOutcome::Sent;
    if (r.outcome == db::HistoryOutcome::Failed)
        r.reply = QStringLiteral("550 5.1.1 <%1>: Recipient address rejected").arg(r.address);
    r.atMs = QDateTime::currentMSecsSinceEpoch();
    return r;
}

bool fill(const QString& folder) {
    db::CHistoryStore store(folder);
    std::unique_ptr<db::CHistoryWriter> writer = store.OpenWriter();
    if (!writer) {
        std::fprintf(stderr, "cannot open the history: %s\n", qPrintable(store.LastError()));
        return false;
    }
    const qint64 yearAgo = QDateTime::currentMSecsSinceEpoch() - qint64(365) * 86400 * 1000;
    std::vector<db::HistoryNote> notes;
    for (int c = 0; c < kCampaigns; ++c) {
        db::CampaignStart start;
        start.runId = QStringLiteral("%1").arg(c + 1, 16, 16, QLatin1Char('0'));
        start.subject = QStringLiteral("Newsletter week %1").arg(c + 1);
        start.startedMs = yearAgo + qint64(c) * 7 * 86400 * 1000;
        const int id = writer->BeginCampaign(start);
        std::vector<db::HistoryRecipient> group;
        for (int p = 1; p <= kRecipients; ++p) {
            group.push_back(row(p));
            if (int(group.size()) == send::CRunHistory::kGroupRows || p == kRecipients) {
                if (!writer->AddRecipients(id, group)) {
                    std::fprintf(stderr, "%s\n", qPrintable(writer->LastError()));
                    return false;
                }
                group.clear();
            }
        }
        if (!writer->EndCampaign(id, db::CampaignEnd::Completed, start.startedMs + 3600 * 1000))
            return false;
        for (int p = 7; p <= kRecipients; p += 97)
            notes.push_back({start.runId, address(p), db::HistoryEvent::Bounced,
                             QStringLiteral("5.2.2 mailboxfull"), start.startedMs});
    }
    writer.reset();
    return store.AddNotes(notes) > 0;
}

struct Figure {
    std::vector<double> wall, cpu;
    void print(const char* name) const {
        std::printf("%s: %.1f ms\n", name, bench::median(wall));
        std::printf("%s_cpu: %.1f ms\n", name, bench::median(cpu));
    }
};

template <typename F>
void measure(Figure& f, int runs, F&& body) {
    for (int i = 0; i < runs; ++i)
        f.wall.push_back(bench::timeMs(body, f.cpu, bench::CpuClock::Process));
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int runs = bench::runsArgument(argc, argv, 7);
    QTemporaryDir temporary;
    QString folder = argc > 2 ? QString::fromLocal8Bit(argv[2]) : temporary.path();
    if (!folder.endsWith(u'/'))
        folder += u'/';
    QDir().mkpath(folder);
    QTemporaryDir locks;
    if (qEnvironmentVariableIsEmpty("FIREBIRD_LOCK"))
        qputenv("FIREBIRD_LOCK", QFile::encodeName(locks.path()));

    const db::CHistoryStore store(folder);
    if (!QFileInfo::exists(store.FilePath())) {
        std::vector<double> cpu;
        const double ms = bench::timeMs([&] { (void)fill(folder); }, cpu, bench::CpuClock::Process);
        std::printf("fill_rows: %d rows\n", kCampaigns * kRecipients);
        std::printf("fill_per_row: %.1f us\n", ms * 1000.0 / (kCampaigns * kRecipients));
        std::printf("fill_per_row_cpu: %.1f us\n",
                    cpu.front() * 1000.0 / (kCampaigns * kRecipients));
    }
    std::printf("history_file: %.1f MB\n", double(QFileInfo(store.FilePath()).size()) / 1048576.0);
    std::printf("runs: %d\n", runs);

    Figure open, report, campaign, filtered, csv, recipient;
    measure(open, runs, [&] {
        send::CampaignListModel model(folder);
        if (model.reload() != db::HistoryRead::Read || model.rowCount() != kCampaigns)
            std::fprintf(stderr, "the campaigns were not read\n");
    });
    measure(report, runs, [&] {
        std::vector<db::CampaignRow> rows;
        (void)store.ReadCampaigns(rows);
        if (send::reportHtml(rows).isEmpty())
            std::fprintf(stderr, "no report\n");
    });
    measure(campaign, runs, [&] {
        send::CampaignRecipientsModel model(folder, kCampaigns / 2);
        if (model.setFilter({}) != db::HistoryRead::Read || model.rowCount() == 0)
            std::fprintf(stderr, "the recipients were not read\n");
    });
    measure(filtered, runs, [&] {
        send::CampaignRecipientsModel model(folder, kCampaigns / 2);
        (void)model.setFilter({int(db::HistoryOutcome::Failed), QStringLiteral("rejected")});
        if (model.rowCount() != kRecipients / 50)
            std::fprintf(stderr, "the filter found %d\n", model.rowCount());
    });
    measure(csv, runs, [&] {
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        (void)send::writeRecipientsCsv(store, kCampaigns / 2, {}, out);
    });
    measure(recipient, runs, [&] {
        send::AddressHistoryModel model(folder, QStringLiteral("Customer7@EXAMPLE.jp"));
        (void)model.reload();
        if (model.rowCount() != kCampaigns)
            std::fprintf(stderr, "the address was in %d campaigns\n", model.rowCount());
    });
    open.print("open_window_campaigns");
    report.print("open_window_report_page");
    campaign.print("open_campaign_first_page");
    filtered.print("open_campaign_filtered");
    csv.print("campaign_csv_all_20000");
    recipient.print("recipient_history");

    // What a run of 20,000 pays: each recipient's end told on the worker's thread, and the
    // wait for the last group at its end (a fresh history each time, so the file grows).
    std::vector<double> perMail, perMailCpu, finish, finishCpu;
    for (int i = 0; i < runs; ++i) {
        QTemporaryDir own;
        const QString runFolder = own.path() + u'/';
        send::CRunHistory history(runFolder, {}, kRecipients, {});
        std::vector<double> cpu;
        const double ms = bench::timeMs(
            [&] {
                for (int p = 1; p <= kRecipients; ++p)
                    history.recipientDone({p, address(p), send::Outcome::Sent, {}, {}});
            },
            cpu, bench::CpuClock::Thread);
        perMail.push_back(ms * 1000.0 / kRecipients);
        perMailCpu.push_back(cpu.front() * 1000.0 / kRecipients);
        finish.push_back(bench::timeMs([&] { history.finish(send::RunStatus::Completed, {}); },
                                       finishCpu, bench::CpuClock::Thread));
        if (history.campaignId() == 0)
            std::fprintf(stderr, "not recorded: %s\n", qPrintable(history.failure()));
    }
    // The same at the pace of a fast real run (2,000 mails a second to a local sink): the
    // writer keeps up, and the end waits only for the last group.
    std::vector<double> pacedFinish, pacedFinishCpu;
    for (int i = 0; i < std::min(runs, 3); ++i) {
        QTemporaryDir own;
        send::CRunHistory history(own.path() + u'/', {}, kRecipients, {});
        const auto begin = std::chrono::steady_clock::now();
        for (int p = 1; p <= kRecipients; ++p) {
            std::this_thread::sleep_until(begin + std::chrono::microseconds(500) * p);
            history.recipientDone({p, address(p), send::Outcome::Sent, {}, {}});
        }
        pacedFinish.push_back(bench::timeMs([&] { history.finish(send::RunStatus::Completed, {}); },
                                            pacedFinishCpu, bench::CpuClock::Thread));
    }
    std::printf("record_per_mail_on_worker: %.2f us\n", bench::median(perMail));
    std::printf("record_per_mail_on_worker_cpu: %.2f us\n", bench::median(perMailCpu));
    std::printf("record_end_of_run_wait: %.1f ms\n", bench::median(finish));
    std::printf("record_end_of_run_wait_cpu: %.1f ms\n", bench::median(finishCpu));
    std::printf("record_end_of_run_wait_paced: %.1f ms\n", bench::median(pacedFinish));
    std::printf("record_end_of_run_wait_paced_cpu: %.1f ms\n", bench::median(pacedFinishCpu));
    return 0;
}
