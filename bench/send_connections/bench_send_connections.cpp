// A merge run of MAILS recipients through the send worker to Postfix's smtp-sink (which offers
// PIPELINING) behind a relay that adds a 50 ms round trip, over 1, 2 and 4 connections at
// once, the relay profile's pace lifted (its 840 a minute would cap every count at 14 mails a
// second: the figure here is what the connections add). Rounds alternate the counts; medians
// of ROUNDS, mails per second on the wall clock, CPU time of the process beside it.
//
//   bench_send_connections [ROUNDS [MAILS [RTT_MS]]]   (defaults 3, 400, 50)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <cstdio>

#include "DelayProxy.h"
#include "SmtpSink.h"
#include "send/MailSendThread.h"
#include "send/MessageAssembly.h"
#include "support/BenchSupport.h"

using namespace pw;
using namespace pw::send;

namespace {

class NoProgress : public ISendProgress {
public:
    void setStatus(const QString&) override {}
    void setCounter(int, int) override {}
    void setRange(int) override {}
    void step() override {}
    Answer prompt(SendPrompt, const QString&, const QString& text) override {
        std::fprintf(stderr, "prompt: %s\n", qPrintable(text));
        return Answer::Cancel;
    }
};

struct Round {
    double mailsPerSecond = 0;
    double cpuMsPerMail = 0;
    int sent = 0;
};

Round sendOver(int connections, int mails, quint16 port) {
    MailJob job;
    job.senderAddress = QStringLiteral("shop@example.jp");
    job.senderName = QStringLiteral("The Shop");
    job.subject = QStringLiteral("Hello [[Name]]");
    job.recipientText = QStringLiteral("[[Mail Address]]");
    job.bodyText = QStringLiteral("Dear [[Name]],\r\nyour code is [[field3]].\r\n");
    job.messageIdDomain = QStringLiteral("127.0.0.1");
    for (int k = 0; k < kMergeFieldCount; ++k)
        job.captions[size_t(k)] = k == 0   ? QStringLiteral("Mail Address")
                                  : k == 1 ? QStringLiteral("Name")
                                           : QStringLiteral("field%1").arg(k + 1);
    std::vector<FieldTexts> rows(static_cast<size_t>(mails));
    SendRun run;
    for (int i = 0; i < mails; ++i) {
        rows[size_t(i)][0] = QStringLiteral("rcpt%1@example.jp").arg(i + 1);
        rows[size_t(i)][1] = QStringLiteral("Name %1").arg(i + 1);
        rows[size_t(i)][2] = QStringLiteral("value-%1").arg(i + 1);
        run.recordIds.push_back(i + 1);
    }
    run.server.smtpServer = QStringLiteral("127.0.0.1");
    run.server.smtpPort = port;
    run.server.smtpAuthType = SmtpAuthType::LogOnUsing;  // EHLO, nothing offered: no login
    run.server.smtpVerifMethod = VerifMethod::Automatic;
    run.server.smtpConnectionType = smtp::ConnectionType::None;
    SendingProfile profile = presetProfile(ProfilePreset::Relay);
    profile.perMinute = 0;
    profile.connections = connections;
    run.limiter = std::make_shared<CSendLimiter>(profile, nullptr, QDateTime::currentDateTime());
    run.moreConnections = [] { return std::make_unique<CSmtpTransport>(); };
    NoProgress progress;
    CSendLog log;  // not active: writes nothing
    CMailSendThread worker(run, std::make_unique<CMessageAssembly>(job, std::move(rows)),
                           std::make_unique<CSmtpTransport>(), {}, progress, log);
    std::vector<double> cpu;
    const double ms = bench::timeMs(
        [&] {
            worker.start();
            worker.wait();
        },
        cpu, bench::CpuClock::Process);
    Round r;
    r.sent = worker.report().sent;
    r.mailsPerSecond = 1000.0 * r.sent / ms;
    r.cpuMsPerMail = cpu.back() / std::max(1, r.sent);
    return r;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int rounds = bench::runsArgument(argc, argv, 3);
    const int mails = argc > 2 ? std::max(8, std::atoi(argv[2])) : 400;
    const int rttMs = argc > 3 ? std::max(0, std::atoi(argv[3])) : 50;
    QProcess sink;
    const int port = bench::freePort();
    if (port == 0 || !bench::startSmtpSink(sink, port))
        return 1;
    bench::DelayProxy proxy(quint16(port), rttMs / 2);
    if (!proxy.start())
        return 1;
    const int counts[] = {1, 2, 4};
    std::vector<double> rate[3], cpu[3];
    for (int round = 0; round < rounds; ++round)
        for (int c = 0; c < 3; ++c) {
            const Round r = sendOver(counts[c], mails, proxy.port());
            if (r.sent != mails) {
                std::fprintf(stderr, "%d connections sent %d of %d\n", counts[c], r.sent, mails);
                return 1;
            }
            rate[c].push_back(r.mailsPerSecond);
            cpu[c].push_back(r.cpuMsPerMail);
        }
    sink.kill();
    sink.waitForFinished();
    std::printf("rtt: %d ms\n", rttMs);
    std::printf("mails: %d\n", mails);
    std::printf("rounds: %d\n", rounds);
    for (int c = 0; c < 3; ++c) {
        std::printf("send_rate_%d_connections: %.1f mails/s\n", counts[c], bench::median(rate[c]));
        std::printf("cpu_per_mail_%d_connections: %.2f ms\n", counts[c], bench::median(cpu[c]));
    }
    std::printf("speedup_2_connections: %.2f x\n", bench::median(rate[1]) / bench::median(rate[0]));
    std::printf("speedup_4_connections: %.2f x\n", bench::median(rate[2]) / bench::median(rate[0]));
    return 0;
}
