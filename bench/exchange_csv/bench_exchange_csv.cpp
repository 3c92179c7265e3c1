// Import of a full database's worth of delimited text: a 20000-row, 20-column CSV from the
// file to committed records, on the embedded engine; beside it, in the same run, Python's csv
// module reading the same file into a new sqlite3 database (python_import.py).
//
//   bench_exchange_csv [RUNS [ROWS]]
//
// ROWS beyond 20000 raise the record limit to match, for the peak memory of large imports.
#include <sys/resource.h>
#include <time.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

// One run of the Python reference: its own figures of wall and CPU time, or false.
bool runPython(const QString& csv, const QString& database, int expectedRows, double& wallMs,
               double& cpuMs) {
    QFile::remove(database);
    QProcess p;
    p.start(QStringLiteral(POSTWICK_PYTHON),
            {QStringLiteral(POSTWICK_BENCH_DIR "/python_import.py"), csv, database});
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        return false;
    bool rows = false;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> kv = line.split(':');
        if (kv.size() != 2)
            continue;
        if (kv[0] == "python_rows")
            rows = kv[1].trimmed().toInt() == expectedRows;
        else if (kv[0] == "python_ms")
            wallMs = kv[1].trimmed().toDouble();
        else if (kv[0] == "python_cpu_ms")
            cpuMs = kv[1].trimmed().toDouble();
    }
    return rows;
}

double medianOf(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
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
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int rows = argc > 2 ? std::max(kRecordLimit, std::atoi(argv[2])) : kRecordLimit;
    {
        QFile f(csv);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        for (int r = 0; r < rows; ++r) {
            QByteArray line = "user" + QByteArray::number(r) + "@example.com";
            for (int c = 1; c < kFieldCount; ++c)
                line += ",\"value " + QByteArray::number(r * 20 + c) + "\"";
            f.write(line + "\r\n");
        }
    }
    Silent ui;
    db::DbFolders folders{dir.path() + "/data/", dir.path() + "/copies/"};
    std::vector<double> cpu, times, readTimes, previewTimes, pyTimes, pyCpu;
    for (int run = 0; run < runs; ++run) {
        double pyMs = 0;
        double pyCpuMs = 0;
        if (!runPython(csv, dir.path() + "/python.sqlite", rows, pyMs, pyCpuMs)) {
            std::printf("the python import failed\n");
            return 1;
        }
        pyTimes.push_back(pyMs);
        pyCpu.push_back(pyCpuMs);
        db::TDbData store(folders);
        store.SetStrFieldSize(100);
        store.SetRecordLimit(rows);
        if (store.CreateDatabase(store.MakeWorkingCopyPath()) != db::CreateResult::Created ||
            !store.Open()) {
            std::printf("cannot create the database\n");
            return 1;
        }
        store.FieldCaptions().LoadCaptions();
        QStringList captions;
        for (const QString& c : store.FieldCaptions().Captions())
            captions << c;

        QElapsedTimer t;
        t.start();
        const double cpu0 = cpuMs();
        ImportSession session;
        SteppedProgress progress;
        const ReadResult read =
            readDelimitedFile(csv, Delimiter::Comma, session.table, progress,
                              LegacyCodePage::Windows1252, maxReaderRows(store.RecordLimit()));
        const qint64 readNs = t.nsecsElapsed();
        session.resetSelection();
        session.selectAll();
        (void)session.preparePreview(captions, store.StringFieldLength(),
                                     store.Records().CountRecords(), ui, progress,
                                     store.RecordLimit());
        const qint64 previewNs = t.nsecsElapsed();
        const StoreResult stored = storeImport(store, session, {}, ui, progress);
        readTimes.push_back(double(readNs) / 1e6);
        previewTimes.push_back(double(previewNs - readNs) / 1e6);
        times.push_back(double(t.nsecsElapsed()) / 1e6);
        cpu.push_back(cpuMs() - cpu0);
        if (read.rowCount != rows || stored.stored != rows) {
            std::printf("unexpected: read %d stored %d\n", read.rowCount, stored.stored);
            return 1;
        }
        store.Close(db::CloseMode::DeleteWorkingCopy);
    }
    // CPU time of the whole process (the engine's threads included): steadier than the wall
    // clock on a busy machine.
    const int n = rows;
    std::printf("csv_import_%dx20_cpu_median: %.0f ms\n", n, medianOf(cpu));
    std::printf("csv_read_%dx20_median: %.0f ms\n", n, medianOf(readTimes));
    std::printf("csv_preview_%dx20_median: %.0f ms\n", n, medianOf(previewTimes));
    std::printf("csv_import_%dx20_median: %.0f ms\n", n, medianOf(times));
    std::printf("csv_import_peak_rss: %ld KB\n", peakRssKb());
    std::printf("python_csv_sqlite3_%dx20_median: %.0f ms\n", n, medianOf(pyTimes));
    std::printf("python_csv_sqlite3_%dx20_cpu_median: %.0f ms\n", n, medianOf(pyCpu));
    std::printf("csv_import_to_python_ratio: %.2f\n",
                medianOf(times) / std::max(1.0, medianOf(pyTimes)));
    std::printf("csv_import_to_python_cpu_ratio: %.2f\n",
                medianOf(cpu) / std::max(1.0, medianOf(pyCpu)));
    return 0;
}
