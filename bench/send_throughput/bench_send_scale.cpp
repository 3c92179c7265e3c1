// How a send run grows with its list: "postwick --send" of projects of 1,000 to 200,000
// recipients with all 20 fields filled, to Postfix's smtp-sink on loopback ("SendWait" 0) and
// as a dry run into a folder. Per size the medians of ROUNDS runs: wall time and CPU per
// recipient, system time as a share of CPU, and the child's peak memory; then how far the
// sizes lie apart (peak memory and time per recipient, from the smallest size to the largest).
// The mail is a merged text mail, so that the figures are the run's own, not the MIME
// encoder's. The rounds alternate the order of the kinds (and of the programs, below), so
// that neither always runs on a warmer cache.
//
// With POSTWICK_BASELINE naming another build's postwick, every round runs that one too, in
// turn with this one, and its figures come prefixed "baseline_": before and after in one
// session on one machine.
//
//   bench_send_scale [SIZES [ROUNDS]]      (defaults 1000,20000,100000,200000 and 3; sizes
//                                           of 100,000 and more run once)
#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTcpServer>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <map>
#include <tuple>

#include "ChildRun.h"
#include "SmtpSink.h"
#include "TestEnv.h"
#include "app/AppFolders.h"
#include "compose/MailFile.h"
#include "db/TDbData.h"
#include "support/BenchStore.h"
#include "support/BenchSupport.h"
#include "support/SinkSettings.h"

namespace {

// A project of `count` recipients, every field filled; false when it cannot be made.
bool makeProject(const pw::app::AppFolders& folders, const QString& preview, const QString& project,
                 int count) {
    pw::db::TDbData store({folders.userDataFolder, folders.workingCopyFolder});
    const QString copy = pw::bench::makeCustomerCopy(store, count);
    if (copy.isEmpty())
        return false;

    pw::MailDocument doc;
    doc.senderAddress = QStringLiteral("sender@example.jp");
    doc.senderName = QStringLiteral("Bench Sender");
    doc.subject = QStringLiteral("Your order [[field3]]");
    doc.recipientText = QStringLiteral("[[Mail Address]]");
    QString body = QStringLiteral("Dear [[Name]],\r\n\r\n");
    for (int k = 3; k <= 20; ++k)
        body += QStringLiteral("field %1: [[field%1]]\r\n").arg(k);
    doc.textBody = body + QStringLiteral("\r\nKind regards\r\nThe shop\r\n");
    pw::ProjectWriteOptions options;
    options.previewFolder = preview;
    options.workingCopyPath = copy;
    const pw::WriteResult written = pw::writeProjectFile(project, doc, {}, options, nullptr);
    QFile::remove(copy);
    return written.ok();
}

struct Figures {
    std::vector<double> wallUs, cpuUs, systemShare, peakMb;
};

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    std::vector<int> sizes{1000, 20000, 100000, 200000};
    if (argc > 1) {
        sizes.clear();
        for (const QByteArray& n : QByteArray(argv[1]).split(','))
            if (n.toInt() > 0)
                sizes.push_back(n.toInt());
    }
    const int rounds = argc > 2 ? std::max(1, QByteArray(argv[2]).toInt()) : 3;
    pw::test::TestEnv env;

    const pw::app::AppFolders folders =
        pw::app::DetermineFolders(QStringLiteral(POSTWICK_BINARY).section('/', 0, -2) + '/');
    QDir().mkpath(folders.userDataFolder);
    const QString preview = env.makeFolder(QStringLiteral("preview"));

    const int port = pw::bench::freePort();
    QProcess sink;
    if (!pw::bench::startSmtpSink(sink, port))
        return 1;
    if (!pw::bench::writeSinkSettings(folders, port))
        return 1;

    QStringList programs{QStringLiteral(POSTWICK_BINARY)};
    if (const QString baseline = qEnvironmentVariable("POSTWICK_BASELINE"); !baseline.isEmpty())
        programs << baseline;
    const char* prefixes[] = {"", "baseline_"};
    // (program, kind, size): kind 0 send, 1 dry run
    std::map<std::tuple<int, int, int>, Figures> figures;
    const char* kinds[] = {"send", "dry_run"};
    for (const int count : sizes) {
        const QString project = env.root() + QStringLiteral("scale-%1.pzy").arg(count);
        if (!makeProject(folders, preview, project, count)) {
            std::fprintf(stderr, "cannot make the project of %d\n", count);
            return 1;
        }
        const int runs = count >= 100000 ? 1 : rounds;
        for (int round = 0; round < runs; ++round) {
            const int turns = 2 * int(programs.size());
            for (int turn = 0; turn < turns; ++turn) {
                // odd rounds go through the turns backwards
                const int t = round % 2 == 0 ? turn : turns - 1 - turn;
                const int program = t / 2;
                const int kind = t % 2;
                const QString dry = env.root() + QStringLiteral("dry-%1").arg(count);
                QStringList command{programs[program], QStringLiteral("--send"), project};
                if (kind == 1)
                    command << QStringLiteral("--dry-run") << dry;
                const pw::bench::ChildRun run = pw::bench::runChild(command, env.root() + "out");
                QDir(dry).removeRecursively();
                if (run.status != 0) {
                    std::fprintf(stderr, "%s of %d ended with %d\n", kinds[kind], count,
                                 run.status);
                    return 1;
                }
                Figures& f = figures[{program, kind, count}];
                f.wallUs.push_back(run.seconds * 1e6 / count);
                f.cpuUs.push_back(run.cpuSeconds * 1e6 / count);
                f.systemShare.push_back(
                    run.cpuSeconds > 0 ? 100.0 * run.systemSeconds / run.cpuSeconds : 0);
                f.peakMb.push_back(double(run.maxRssKb) / 1024.0);
            }
        }
        QFile::remove(project);
    }
    sink.kill();
    sink.waitForFinished(3000);

    using pw::bench::median;
    std::printf("rounds: %d\n", rounds);
    for (int t = 0; t < 2 * int(programs.size()); ++t) {
        const int program = t / 2;
        const int kind = t % 2;
        const QByteArray name = QByteArray(prefixes[program]) + kinds[kind];
        double memLow = 1e18, memHigh = 0, cpuLow = 1e18, cpuHigh = 0, systemHigh = 0;
        for (const int count : sizes) {
            const Figures& f = figures[{program, kind, count}];
            const double mem = median(f.peakMb);
            const double cpu = median(f.cpuUs);
            std::printf("%s_%d_time_per_recipient: %.1f us\n", name.constData(), count,
                        median(f.wallUs));
            std::printf("%s_%d_cpu_per_recipient: %.1f us\n", name.constData(), count, cpu);
            std::printf("%s_%d_system_share: %.1f %%\n", name.constData(), count,
                        median(f.systemShare));
            std::printf("%s_%d_peak_memory: %.1f MB\n", name.constData(), count, mem);
            memLow = std::min(memLow, mem);
            memHigh = std::max(memHigh, mem);
            cpuLow = std::min(cpuLow, cpu);
            cpuHigh = std::max(cpuHigh, cpu);
            systemHigh = std::max(systemHigh, median(f.systemShare));
        }
        std::printf("%s_peak_memory_spread: %.1f %%\n", name.constData(),
                    100.0 * (memHigh - memLow) / memLow);
        std::printf("%s_cpu_per_recipient_spread: %.1f %%\n", name.constData(),
                    100.0 * (cpuHigh - cpuLow) / cpuLow);
        std::printf("%s_system_share_max: %.1f %%\n", name.constData(), systemHigh);
    }
    return 0;
}
