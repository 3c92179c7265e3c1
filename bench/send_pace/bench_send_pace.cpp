// The rate a run keeps at the "30 a minute" profile (Microsoft 365's figure), as the send
// worker asks its limiter: the next slot, the mail's transmission (two round trips of 50 ms:
// the pipelined envelope and the end of the data), then the mail counted. The time is the
// worker's clock seam, advanced instead of waited for, so two hours of sending take a blink.
// The rate is mails per minute between the first mail and the last (a burst at the start is
// the limit's own: 30 in any 60 s). Rounds alternate a ledger on disk and none (the ledger's
// cost), medians of ROUNDS, CPU beside wall.
//
//   bench_send_pace [ROUNDS [MAILS]]   (defaults 5, 3600)
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimeZone>
#include <cstdio>

#include "send/SendLedger.h"
#include "send/SendLimits.h"
#include "support/BenchSupport.h"

using namespace pw;

namespace {

struct Round {
    double perMinute = 0;  // on the run's clock
    int worstMinute = 0;   // most mails in any 60 s
    double wallUsPerMail = 0;
};

Round sendAtPace(int mails, const QString& ledgerFolder, std::vector<double>& cpu) {
    constexpr qint64 kRoundTripMs = 50;
    send::SendingProfile profile = send::presetProfile(send::ProfilePreset::Microsoft365);
    profile.perDay = 0;  // the minute's limit alone decides the rate here
    QDateTime now(QDate(2026, 12, 1), QTime(9, 0), Qt::UTC);
    std::unique_ptr<send::CSendLedger> ledger;
    if (!ledgerFolder.isEmpty())
        ledger = std::make_unique<send::CSendLedger>(ledgerFolder, QStringLiteral("me@bench"));
    send::CSendLimiter limiter(profile, std::move(ledger), now);
    std::vector<qint64> at;
    at.reserve(size_t(mails));
    const double wall = bench::timeMs(
        [&] {
            for (int i = 0; i < mails; ++i) {
                now = std::max(now, limiter.nextSlot(now));
                now = now.addMSecs(2 * kRoundTripMs);
                limiter.sent(now);
                at.push_back(now.toMSecsSinceEpoch());
            }
        },
        cpu);
    Round r;
    r.perMinute = 60000.0 * double(mails - 1) / double(at.back() - at.front());
    for (size_t i = 0, first = 0; i < at.size(); ++i) {
        while (at[i] - at[first] >= 60000)
            ++first;
        r.worstMinute = std::max(r.worstMinute, int(i - first + 1));
    }
    r.wallUsPerMail = wall * 1000.0 / mails;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = bench::runsArgument(argc, argv, 5);
    const int mails = argc > 2 ? std::max(61, std::atoi(argv[2])) : 3600;
    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    std::vector<double> rate[2], worst[2], wall[2], cpu[2];
    for (int round = 0; round < rounds; ++round)
        for (int withLedger = 0; withLedger < 2; ++withLedger) {
            const QString ledgerFolder =
                withLedger ? folder.filePath(QStringLiteral("r%1/").arg(round)) : QString();
            if (withLedger)
                QDir().mkpath(ledgerFolder);
            std::vector<double> roundCpu;
            const Round r = sendAtPace(mails, ledgerFolder, roundCpu);
            rate[withLedger].push_back(r.perMinute);
            worst[withLedger].push_back(r.worstMinute);
            wall[withLedger].push_back(r.wallUsPerMail);
            cpu[withLedger].push_back(roundCpu.back() * 1000.0 / mails);
        }
    using bench::median;
    std::printf("profile_per_minute: 30 mails/min\n");
    std::printf("mails: %d\n", mails);
    std::printf("rounds: %d\n", rounds);
    const char* names[2] = {"", "_ledger"};
    for (int l = 0; l < 2; ++l) {
        const double r = median(rate[l]);
        std::printf("send_rate%s: %.2f mails/min\n", names[l], r);
        std::printf("send_rate_off_by%s: %.2f %%\n", names[l], 100.0 * (r - 30.0) / 30.0);
        std::printf("most_in_any_minute%s: %.0f mails\n", names[l], median(worst[l]));
        std::printf("limiter_wall_per_mail%s: %.1f us\n", names[l], median(wall[l]));
        std::printf("limiter_cpu_per_mail%s: %.1f us\n", names[l], median(cpu[l]));
    }
    return 0;
}
