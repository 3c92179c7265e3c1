// Sends a 20000-recipient project (merged text body, HTML with two inline
// pictures, one 100 KB attachment) with "postwick --send" to Postfix's
// smtp-sink on loopback, "SendWait" 0, then the same mails with Python's
// smtplib and email package, and prints both rates, their ratio and Postwick's
// peak memory. The session greets with EHLO and the sink offers PIPELINING.
//
// With --rtt, both go through a relay of this program that adds that round trip
// (a real network path), Postwick with 1000 mails on one connection, Python with
// fewer (each of its mails costs four round trips); the round trips each mail
// waited for are counted at the relay. Medians of ROUNDS runs, CPU beside wall; odd rounds
// run the senders in the opposite order, so that none always comes first.
//
// With POSTWICK_BASELINE naming another build's postwick, every round runs that one too and
// its figures come prefixed "baseline_": before and after in one session.
//
//   bench_send_throughput [RECIPIENTS [ROUNDS]]    (defaults 20000, 3)
//   bench_send_throughput --rtt MS [MAILS [PYTHON_MAILS [ROUNDS]]]
//                                                  (defaults 50, 1000, 200, 3)
#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QThread>
#include <cstdio>
#include <optional>

#include "ChildRun.h"
#include "DelayProxy.h"
#include "SmtpSink.h"
#include "TestEnv.h"
#include "app/AppFolders.h"
#include "compose/MailFile.h"
#include "db/TDbData.h"
#include "support/BenchStore.h"
#include "support/BenchSupport.h"
#include "support/SinkSettings.h"

using pw::bench::ChildRun;
using pw::bench::runChild;

namespace {

void put(const QString& path, const QByteArray& bytes) {
    if (!pw::test::writeFile(path, bytes))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
}

QByteArray randomBytes(int n) {
    QByteArray b(n, Qt::Uninitialized);
    QRandomGenerator gen(42);
    for (int i = 0; i < n; ++i)
        b[i] = char(gen.bounded(256));
    return b;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const bool delayed = argc > 1 && QByteArray(argv[1]) == "--rtt";
    const auto number = [argc, argv](int i, int fallback) {
        return argc > i ? std::max(1, QByteArray(argv[i]).toInt()) : fallback;
    };
    const int rttMs = delayed ? number(2, 50) : 0;
    const int count = delayed ? number(3, 1000) : number(1, 20000);
    const int pythonCount = delayed ? std::min(count, number(4, 200)) : count;
    const int rounds = delayed ? number(5, 3) : number(2, 3);
    pw::test::TestEnv env;

    const pw::app::AppFolders folders =
        pw::app::DetermineFolders(QStringLiteral(POSTWICK_BINARY).section('/', 0, -2) + '/');
    QDir().mkpath(folders.userDataFolder);
    const QString data = env.makeFolder(QStringLiteral("benchdata"));
    const QString preview = env.makeFolder(QStringLiteral("preview"));

    // ---- the recipients ----
    pw::db::TDbData store({folders.userDataFolder, folders.workingCopyFolder});
    const QString copy = store.MakeWorkingCopyPath();
    if (store.CreateDatabase(copy) != pw::db::CreateResult::Created || !store.Open()) {
        std::fprintf(stderr, "cannot create the database\n");
        return 1;
    }
    QByteArray tsv;
    for (int i = 1; i <= count; ++i) {
        const QByteArray address = "rcpt" + QByteArray::number(i) + "@example.jp";
        const QByteArray name = "Customer " + QByteArray::number(i);
        const QByteArray code = "C-" + QByteArray::number(100000 + i);
        tsv += address + '\t' + name + '\t' + code + '\n';
    }
    QString fields =
        QStringLiteral(", 'rcpt' || :i || '@example.jp', 'Customer ' || :i, 'C-' || (100000 + :i)");
    for (int k = 4; k <= pw::db::kFieldCount; ++k)
        fields += QStringLiteral(", null");
    if (!pw::bench::fillStore(store, count, fields))
        return 1;
    store.SetModified();
    if (!store.Save(pw::db::SaveMode::Ending))
        return 1;
    store.Close(pw::db::CloseMode::KeepWorkingCopy);

    // ---- the mail ----
    const QString subject = QStringLiteral("Your order [[field3]]");
    const QString body = QStringLiteral(
        "Dear [[Name]],\r\n\r\nthank you for your order [[field3]].\r\nWe will "
        "send it to "
        "[[Mail Address]] when it is ready.\r\n\r\nKind regards\r\nThe shop\r\n");
    const QByteArray html =
        "<html><body><p>Dear [[Name]],</p><p>your order [[field3]] is on its "
        "way.</p>"
        "<img src=\"logo.png\"><img src=\"photo.png\"></body></html>\r\n";
    put(preview + "index.html", html);
    put(preview + "logo.png", randomBytes(8 * 1024));
    put(preview + "photo.png", randomBytes(24 * 1024));
    const QString attachment = data + "catalogue.pdf";
    put(attachment, randomBytes(100 * 1024));
    put(data + "recipients.tsv", tsv);
    put(data + "subject.txt", subject.toUtf8());
    put(data + "body.txt", body.toUtf8());
    put(data + "index.html", html);
    put(data + "logo.png", randomBytes(8 * 1024));
    put(data + "photo.png", randomBytes(24 * 1024));
    put(data + "pictures.txt", "logo.png photo.png\n");
    put(data + "attachment.txt", "catalogue.pdf\n");

    pw::MailDocument doc;
    doc.senderAddress = QStringLiteral("sender@example.jp");
    doc.senderName = QStringLiteral("Bench Sender");
    doc.subject = subject;
    doc.recipientText = QStringLiteral("[[Mail Address]]");
    doc.textBody = body;
    doc.attachments = {attachment};
    doc.htmlTemplateName = QStringLiteral("bench");
    doc.pictureList = {QStringLiteral("index.html"), QStringLiteral("logo.png"),
                       QStringLiteral("photo.png")};
    const QString project = env.root() + "bench.pzy";
    pw::ProjectWriteOptions options;
    options.previewFolder = preview;
    options.workingCopyPath = copy;
    const pw::WriteResult written = pw::writeProjectFile(project, doc, {}, options, nullptr);
    QFile::remove(copy);
    if (!written.ok()) {
        std::fprintf(stderr, "cannot write the project: %s\n", qPrintable(written.message));
        return 1;
    }

    // ---- the sink and the settings ----
    const int port = pw::bench::freePort();
    QProcess sink;
    if (!pw::bench::startSmtpSink(sink, port))
        return 1;
    pw::bench::DelayProxy proxy(quint16(port), rttMs / 2);
    if (delayed && !proxy.start()) {
        std::fprintf(stderr, "the delay relay does not start\n");
        return 1;
    }
    const int target = delayed ? proxy.port() : port;
    if (!pw::bench::writeSinkSettings(folders, target))
        return 1;

    long peakKb = 0;
    // One sender's run through the relay: its rate, CPU and relay turns per mail.
    struct Figures {
        std::vector<double> rates, cpu, turns;
    };
    const auto measure = [&](const char* who, const QStringList& command, const QString& out,
                             int mails, Figures& f) -> std::optional<ChildRun> {
        proxy.resetTurns();
        const ChildRun run = runChild(command, out);
        if (run.status != 0) {
            std::fprintf(stderr, "%s ended with %d\n", who, run.status);
            return std::nullopt;
        }
        f.rates.push_back(mails / run.seconds);
        f.cpu.push_back(run.cpuSeconds * 1000.0 / mails);
        f.turns.push_back(double(proxy.turns()) / mails);
        return run;
    };
    struct Sender {
        const char* who;
        QStringList command;
        QString out;
        int mails;
        Figures figures;
    };
    std::vector<Sender> senders;
    senders.push_back({"postwick --send",
                       {QStringLiteral(POSTWICK_BINARY), QStringLiteral("--send"), project},
                       env.root() + "postwick.out",
                       count,
                       {}});
    const QString baseline = qEnvironmentVariable("POSTWICK_BASELINE");
    if (!baseline.isEmpty())
        senders.push_back({"the baseline postwick --send",
                           {baseline, QStringLiteral("--send"), project},
                           env.root() + "baseline.out",
                           count,
                           {}});
    senders.push_back(
        {"the python sender",
         {QStringLiteral(POSTWICK_PYTHON), QStringLiteral(POSTWICK_BENCH_DIR "/python_sender.py"),
          data, QStringLiteral("127.0.0.1"), QString::number(target), QString::number(pythonCount)},
         env.root() + "python.out",
         pythonCount,
         {}});
    for (int round = 0; round < rounds; ++round) {
        for (size_t turn = 0; turn < senders.size(); ++turn) {
            Sender& s = senders[round % 2 == 0 ? turn : senders.size() - 1 - turn];
            const auto run = measure(s.who, s.command, s.out, s.mails, s.figures);
            if (!run)
                return 1;
            if (&s == &senders.front())
                peakKb = std::max(peakKb, run->maxRssKb);
        }
    }
    const Figures& pwFigures = senders.front().figures;
    const Figures& pyFigures = senders.back().figures;
    const std::vector<double>& pwRates = pwFigures.rates;
    const std::vector<double>& pwCpu = pwFigures.cpu;
    const std::vector<double>& pwTurns = pwFigures.turns;
    const std::vector<double>& pyRates = pyFigures.rates;
    const std::vector<double>& pyCpu = pyFigures.cpu;
    const std::vector<double>& pyTurns = pyFigures.turns;
    proxy.stop();
    sink.kill();
    sink.waitForFinished(3000);
    using pw::bench::median;
    const double pwRate = median(pwRates);
    const double pyRate = median(pyRates);
    const char* path = delayed ? "_delayed" : "";
    if (delayed)
        std::printf("round_trip: %d ms\n", rttMs);
    std::printf("recipients: %d mails\n", count);
    std::printf("python_recipients: %d mails\n", pythonCount);
    std::printf("rounds: %d\n", rounds);
    std::printf("postwick_send_rate%s: %.1f mails/s\n", path, pwRate);
    std::printf("postwick_cpu_per_mail%s: %.2f ms\n", path, median(pwCpu));
    std::printf("python_smtplib_rate%s: %.1f mails/s\n", path, pyRate);
    std::printf("python_cpu_per_mail%s: %.2f ms\n", path, median(pyCpu));
    std::printf("rate_ratio%s: %.2f x\n", path, pwRate / pyRate);
    if (delayed) {
        std::printf("postwick_round_trips_per_mail: %.2f\n", median(pwTurns));
        std::printf("python_round_trips_per_mail: %.2f\n", median(pyTurns));
    }
    std::printf("postwick_peak_memory: %.1f MB\n", double(peakKb) / 1024.0);
    if (senders.size() > 2) {
        const Figures& b = senders[1].figures;
        std::printf("baseline_postwick_send_rate%s: %.1f mails/s\n", path, median(b.rates));
        std::printf("baseline_postwick_cpu_per_mail%s: %.2f ms\n", path, median(b.cpu));
        if (delayed)
            std::printf("baseline_postwick_round_trips_per_mail: %.2f\n", median(b.turns));
    }
    return 0;
}
