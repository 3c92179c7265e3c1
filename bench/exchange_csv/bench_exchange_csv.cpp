// Import of a full database's worth of delimited text: a 20000-row, 20-column CSV from the
// file to committed records, on the embedded engine.
#include <sys/resource.h>
#include <time.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "db/TDbData.h"
#include "exchange/ImportStore.h"

using namespace pw;
using namespace pw::exchange;

namespace {

class Silent : public IUserInteraction {
public:
    Answer message(const QString&, const QString&, MessageKind) override { return Answer::Ok; }
    std::unique_ptr<IProgress> createProgress() override { return nullptr; }
};

long peakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

}  // namespace

static double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("FIREBIRD_LOCK", (dir.path() + "/lock").toUtf8());
    const QString csv = dir.path() + "/recipients.csv";
    {
        QFile f(csv);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        for (int r = 0; r < kRecordLimit; ++r) {
            QByteArray line = "user" + QByteArray::number(r) + "@example.com";
            for (int c = 1; c < kFieldCount; ++c)
                line += ",\"value " + QByteArray::number(r * 20 + c) + "\"";
            f.write(line + "\r\n");
        }
    }
    Silent ui;
    db::DbFolders folders{dir.path() + "/data/", dir.path() + "/copies/"};
    std::vector<double> cpu, times, readTimes, previewTimes;
    for (int run = 0; run < 3; ++run) {
        db::TDbData store(folders, ui);
        store.SetStrFieldSize(100);
        if (store.CreateDatabase(store.MakeWorkingCopyPath()) != db::CreateResult::Created ||
            !store.Open()) {
            std::printf("cannot create the database\n");
            return 1;
        }
        store.LoadCaptions();
        QStringList captions;
        for (const QString& c : store.Captions())
            captions << c;

        QElapsedTimer t;
        t.start();
        const double cpu0 = cpuMs();
        ImportSession session;
        SteppedProgress progress;
        const ReadResult read = readDelimitedFile(csv, Delimiter::Comma, session.table, progress,
                                                  LegacyCodePage::Windows1252);
        const qint64 readNs = t.nsecsElapsed();
        session.resetSelection();
        session.selectAll();
        (void)session.preparePreview(captions, store.StringFieldLength(), store.CountRecords(), ui,
                                     progress);
        const qint64 previewNs = t.nsecsElapsed();
        const StoreResult stored = storeImport(store, session, {}, ui, progress);
        readTimes.push_back(double(readNs) / 1e6);
        previewTimes.push_back(double(previewNs - readNs) / 1e6);
        times.push_back(double(t.nsecsElapsed()) / 1e6);
        cpu.push_back(cpuMs() - cpu0);
        if (read.rowCount != kRecordLimit || stored.stored != kRecordLimit) {
            std::printf("unexpected: read %d stored %d\n", read.rowCount, stored.stored);
            return 1;
        }
        store.Close(db::CloseMode::DeleteWorkingCopy);
    }
    std::sort(times.begin(), times.end());
    std::sort(cpu.begin(), cpu.end());
    // CPU time of the whole process (the engine's threads included): steadier than the wall
    // clock on a busy machine.
    std::printf("csv_import_20000x20_cpu_median: %.0f ms\n", cpu[cpu.size() / 2]);
    std::sort(readTimes.begin(), readTimes.end());
    std::sort(previewTimes.begin(), previewTimes.end());
    std::printf("csv_read_20000x20_median: %.0f ms\n", readTimes[readTimes.size() / 2]);
    std::printf("csv_preview_20000x20_median: %.0f ms\n", previewTimes[previewTimes.size() / 2]);
    std::printf("csv_import_20000x20_median: %.0f ms\n", times[times.size() / 2]);
    std::printf("csv_import_peak_rss: %ld KB\n", peakRssKb());
    return 0;
}
