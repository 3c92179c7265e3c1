// Store figures on 20000 records with all 20 fields filled to the field length (100 bytes):
// the list refresh with the first screen, every row read once in list order (the cache holds
// the pages around the row read last), the send selection, a bulk update over the view, and
// the peak memory after every row was read.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <vector>

#include "db/RecipientList.h"
#include "db/TDbData.h"
#include "support/BenchStore.h"
#include "support/BenchSupport.h"

using namespace pw::bench;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    pw::db::TDbData store(foldersIn(dir));
    store.SetStrFieldSize(100);
    if (!createFilledStore(store, 20000, fullFieldValues()))
        return 1;

    // Every row read once first: the figure a window whose user visits every record costs.
    pw::db::CRecipientList list(store);
    const pw::db::RecordCache& cache = list.Cache();
    const auto readEveryRow = [&cache] {
        for (int r = 0; r < cache.rowCount(); ++r)
            (void)cache.text(r, 0);
    };
    list.Refresh();
    readEveryRow();
    const double fullCacheMb = double(peakRssKiB()) / 1024.0;

    constexpr int runs = 7;
    std::vector<double> refresh, fetchAll, selection, bulk;
    std::vector<double> refreshCpu, fetchAllCpu, selectionCpu, bulkCpu;
    for (int r = 0; r < runs; ++r) {
        refresh.push_back(timeMs(
            [&] {
                list.Refresh();
                list.FetchRows(49);
            },
            refreshCpu));
        if (cache.fetchedCount() == 0 || cache.fetchedCount() > 100)
            return 2;
        fetchAll.push_back(timeMs(readEveryRow, fetchAllCpu));
        if (cache.rowCount() != 20000 || cache.fetchedCount() > pw::db::RecordCache::kHeldRows)
            return 3;
        selection.push_back(timeMs(
            [&] {
                const pw::db::SendSelection sel =
                    store.SendRun().LoadSendSelection(pw::db::SendSelectionMode::All);
                if (sel.count != 20000)
                    std::exit(4);
            },
            selectionCpu));
        bulk.push_back(timeMs(
            [&] {
                list.UpdateFlags({pw::db::RowFlag::Selected, r % 2, pw::db::FlagRows::All, -1});
            },
            bulkCpu));
    }
    list.Refresh();
    list.FetchAll();
    std::printf("db_refresh_first50: %.1f ms\n", median(refresh));
    std::printf("db_read_every_row: %.1f ms\n", median(fetchAll));
    std::printf("db_send_selection_all: %.1f ms\n", median(selection));
    std::printf("db_bulk_update_view: %.1f ms\n", median(bulk));
    std::printf("db_refresh_first50_cpu: %.1f ms\n", median(refreshCpu));
    std::printf("db_read_every_row_cpu: %.1f ms\n", median(fetchAllCpu));
    std::printf("db_send_selection_all_cpu: %.1f ms\n", median(selectionCpu));
    std::printf("db_bulk_update_view_cpu: %.1f ms\n", median(bulkCpu));
    std::printf("db_peak_memory_every_row_read: %.1f MB\n", fullCacheMb);
    std::printf("db_peak_memory_cache_and_selection: %.1f MB\n", double(peakRssKiB()) / 1024.0);
    store.Close(pw::db::CloseMode::DeleteWorkingCopy);
    return 0;
}
