// Assembles and renders personalised messages as a send run does (a merged text body of
// about 2 KB, an HTML part with two inline pictures of 50 KB, a 1 MB attachment) into a sink
// that only counts, and prints the rate and the memory figures.
//
//   bench_mime_render [messages]   (default 20000)

#include "send/MessageAssembly.h"
#include "smtp/EncodedFileCache.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>
#include <fstream>

using namespace pw::send;

namespace {

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray randomBytes(qsizetype size) {
    QByteArray b(size, Qt::Uninitialized);
    QRandomGenerator rng(7);
    for (qsizetype i = 0; i < size; ++i) {
        b[i] = static_cast<char>(rng.bounded(256));
    }
    return b;
}

long residentKb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peakKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 20000;
    QTemporaryDir dir;
    const QString preview = dir.path() + "/PostwickMainPreview/";
    QDir().mkpath(preview);
    const QString html = QString::fromUtf8(
                             "<html><body background=\"back.jpg\"><h1>[[Name]] 様</h1>"
                             "<p>いつもご利用ありがとうございます。①㈱髙</p>"
                             "<img src=\"pic.png\"></body></html>")
                             .repeated(4);
    if (!writeFile(preview + "index.html", html.toUtf8()) ||
        !writeFile(preview + "pic.png", randomBytes(50 * 1024)) ||
        !writeFile(preview + "back.jpg", randomBytes(50 * 1024)) ||
        !writeFile(dir.path() + "/catalogue.pdf", randomBytes(1024 * 1024))) {
        std::fprintf(stderr, "cannot write the files\n");
        return 1;
    }

    MailJob job;
    job.charsetRow = 1;  // iso-2022-jp
    job.captions[0] = "Mail Address";
    job.captions[1] = "Name";
    for (int k = 2; k < kMergeFieldCount; ++k) {
        job.captions[static_cast<size_t>(k)] = QStringLiteral("field%1").arg(k + 1);
    }
    job.senderName = QString::fromUtf8("山田商店");
    job.senderAddress = "shop@example.jp";
    job.recipientText = "[[Mail Address]]";
    job.subject = QString::fromUtf8("[[Name]] 様 ご案内 ①");
    job.bodyText = QString::fromUtf8("[[Name]] 様\r\n\r\n") +
                   QString::fromUtf8(
                       "いつもご利用いただきありがとうございます。会員番号 "
                       "[[field3]] のお客様へのご案内です。\r\n")
                       .repeated(18);
    job.htmlFileName = "Template";
    job.htmlFiles = {"index.html", "pic.png", "back.jpg"};
    job.mainPreviewFolder = preview;
    job.attachments = {dir.path() + "/catalogue.pdf"};
    job.messageIdDomain = "smtp.example.jp";

    std::vector<FieldTexts> rows(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        rows[static_cast<size_t>(i)][0] = QStringLiteral("user%1@example.jp").arg(i);
        rows[static_cast<size_t>(i)][1] = QString::fromUtf8("顧客%1").arg(i);
        rows[static_cast<size_t>(i)][2] = QString::number(100000 + i);
    }
    CMessageAssembly assembly(job, std::move(rows));

    qint64 bytes = 0;
    const pw::smtp::ByteSink sink = [&bytes](QByteArrayView chunk) { bytes += chunk.size(); };
    std::unique_ptr<pw::smtp::CKTWSMTPMessage> message;
    long residentAfterWarmUp = 0;
    QElapsedTimer timer;
    const double cpuAtStart = cpuSeconds();
    timer.start();
    for (int i = 0; i < count; ++i) {
        BuiltMessage built = assembly.build(assembly.merged(i), i);
        if (!built.error.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(built.error));
            return 1;
        }
        message = std::move(built.message);  // the run keeps one message at a time
        sink(message->header());
        sink("\r\n");
        message->writeBody(sink);
        if (i == std::min(count - 1, 999)) {
            residentAfterWarmUp = residentKb();
        }
    }
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpuAtStart;
    const long residentAtEnd = residentKb();
    const auto stats = pw::smtp::EncodedFileCache::stats();

    std::printf("messages: %d count\n", count);
    std::printf("messages_per_second: %.0f msg/s\n", count / seconds);
    // the rate on one core of its own, which a busy machine's wall clock does not show
    std::printf("messages_per_cpu_second: %.0f msg/s\n", count / cpu);
    std::printf("rendered_megabytes_per_second: %.0f MB/s\n", bytes / seconds / 1e6);
    std::printf("bytes_per_message: %lld bytes\n", static_cast<long long>(bytes / count));
    std::printf("file_encodings: %lld count\n", static_cast<long long>(stats.misses));
    std::printf("resident_after_1000: %ld KB\n", residentAfterWarmUp);
    std::printf("resident_at_end: %ld KB\n", residentAtEnd);
    std::printf("resident_growth: %ld KB\n", residentAtEnd - residentAfterWarmUp);
    std::printf("peak_resident: %ld KB\n", peakKb());
    return 0;
}
