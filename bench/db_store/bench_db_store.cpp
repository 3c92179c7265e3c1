// Store figures on 20000 records with all 20 fields filled to the field length (100 bytes):
// the list refresh with the first screen, fetching everything, the send selection, a bulk
// update over the view, and the peak memory with the whole cache loaded.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "db/TDbData.h"

namespace {

class SilentUser : public pw::IUserInteraction {
public:
    pw::Answer message(const QString&, const QString& text, pw::MessageKind) override {
        std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
        return pw::Answer::Ok;
    }
    std::unique_ptr<pw::IProgress> createProgress() override { return nullptr; }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

long peakRssKiB() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Wall time of f; its CPU time on this thread (where the embedded engine runs) goes to cpu,
// which tells the work from waiting on a busy machine.
template <typename F>
double timeMs(F&& f, std::vector<double>& cpu) {
    QElapsedTimer t;
    const double c0 = threadCpuMs();
    t.start();
    f();
    cpu.push_back(threadCpuMs() - c0);
    return double(t.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    SilentUser ui;
    pw::db::DbFolders folders{dir.path() + "/data/", dir.path() + "/state/"};
    pw::db::TDbData store(folders, ui);
    store.SetStrFieldSize(100);
    if (store.CreateDatabase(store.MakeWorkingCopyPath()) != pw::db::CreateResult::Created ||
        !store.Open()) {
        std::fprintf(stderr, "could not create the database\n");
        return 1;
    }
    QString fields;
    for (int k = 1; k <= pw::db::kFieldCount; ++k)
        fields += QStringLiteral(", rpad('f%1-' || :i || '-', 100, 'abcdefghij')").arg(k);
    store.ExecuteImmediate(
        QStringLiteral("execute block as declare i integer = 1; begin while (i <= 20000) do "
                       "begin insert into MAILS values (:i, 0, 1 %1); i = i + 1; end end")
            .arg(fields));
    if (!store.Save(pw::db::SaveMode::Retaining) || store.CountRecords() != 20000) {
        std::fprintf(stderr, "could not fill the database\n");
        return 1;
    }

    // The full cache alone first: the figure a window showing every record costs.
    pw::db::RecordCache cache;
    store.RegisterCache(&cache);
    store.RefreshList();
    store.FetchAll();
    const double fullCacheMb = double(peakRssKiB()) / 1024.0;

    constexpr int runs = 7;
    std::vector<double> refresh, fetchAll, selection, bulk;
    std::vector<double> refreshCpu, fetchAllCpu, selectionCpu, bulkCpu;
    for (int r = 0; r < runs; ++r) {
        refresh.push_back(timeMs(
            [&] {
                store.RefreshList();
                store.FetchRows(49);
            },
            refreshCpu));
        if (cache.rowCount() != 20000 || cache.fetchedCount() != 50)
            return 2;
        fetchAll.push_back(timeMs([&] { store.FetchAll(); }, fetchAllCpu));
        if (cache.fetchedCount() != 20000)
            return 3;
        selection.push_back(timeMs(
            [&] {
                const pw::db::SendSelection sel =
                    store.LoadSendSelection(pw::db::SendSelectionMode::All);
                if (sel.count != 20000)
                    std::exit(4);
            },
            selectionCpu));
        bulk.push_back(timeMs(
            [&] {
                store.BulkUpdate(
                    true, r % 2 ? QStringLiteral(" Sending = 1 ") : QStringLiteral(" Sending = 0 "),
                    QString());
            },
            bulkCpu));
    }
    store.RefreshList();
    store.FetchAll();
    std::printf("db_refresh_first50: %.1f ms\n", median(refresh));
    std::printf("db_fetch_all: %.1f ms\n", median(fetchAll));
    std::printf("db_send_selection_all: %.1f ms\n", median(selection));
    std::printf("db_bulk_update_view: %.1f ms\n", median(bulk));
    std::printf("db_refresh_first50_cpu: %.1f ms\n", median(refreshCpu));
    std::printf("db_fetch_all_cpu: %.1f ms\n", median(fetchAllCpu));
    std::printf("db_send_selection_all_cpu: %.1f ms\n", median(selectionCpu));
    std::printf("db_bulk_update_view_cpu: %.1f ms\n", median(bulkCpu));
    std::printf("db_peak_memory_full_cache: %.1f MB\n", fullCacheMb);
    std::printf("db_peak_memory_cache_and_selection: %.1f MB\n", double(peakRssKiB()) / 1024.0);
    store.Close(pw::db::CloseMode::DeleteWorkingCopy);
    return 0;
}
