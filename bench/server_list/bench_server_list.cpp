// The editor's work on 20000 records of a list on a Firebird server on loopback, beside the
// same on a working copy: the first screen, a filter (its first screen) and Select All.
// Needs the server package that scripts/install-deps.sh unpacks.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <vector>

#include "FirebirdTestServer.h"
#include "db/RecipientList.h"
#include "db/TDbData.h"
#include "support/BenchStore.h"
#include "support/BenchSupport.h"

using namespace pw::bench;

namespace {

constexpr int kRecords = 20000;

bool measure(pw::db::TDbData& store, const char* where, int runs) {
    pw::db::CRecipientList list(store);
    const pw::db::RecordCache& cache = list.Cache();
    std::vector<double> first, filter, selectAll, firstCpu, filterCpu, selectAllCpu;
    for (int r = 0; r < runs; ++r) {
        list.ClearFilter();
        first.push_back(timeMs(
            [&] {
                list.Refresh();
                list.FetchRows(49);
            },
            firstCpu));
        if (cache.fetchedCount() == 0)
            return false;
        filter.push_back(timeMs(
            [&] {
                list.AddFilter({0, QStringLiteral("f1-1"), pw::db::FilterKind::Include});
                list.Refresh();
                list.FetchRows(49);
            },
            filterCpu));
        list.ClearFilter();
        list.Refresh();
        selectAll.push_back(timeMs(
            [&] {
                if (list.SetFlagOverView(pw::db::RowFlag::Selected, r % 2) !=
                    pw::db::ViewUpdate::InPlace)
                    list.Refresh();
            },
            selectAllCpu));
    }
    std::printf("%s_first_screen: %.1f ms\n", where, median(first));
    std::printf("%s_filter: %.1f ms\n", where, median(filter));
    std::printf("%s_select_all: %.1f ms\n", where, median(selectAll));
    std::printf("%s_first_screen_cpu: %.1f ms\n", where, median(firstCpu));
    std::printf("%s_filter_cpu: %.1f ms\n", where, median(filterCpu));
    std::printf("%s_select_all_cpu: %.1f ms\n", where, median(selectAllCpu));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    QTemporaryDir dir;

    pw::db::TDbData file(foldersIn(dir));
    if (!createFilledStore(file, kRecords, fullFieldValues()) || !measure(file, "file", runs))
        return 1;
    file.Close(pw::db::CloseMode::DeleteWorkingCopy);

    pw::test::FirebirdTestServer server(dir.path() + QStringLiteral("/server"));
    if (!server.start({{"ANN", "sesame"}})) {
        std::fprintf(stderr, "%s\n", server.errorText().toUtf8().constData());
        return 2;
    }
    const QString list = server.createDatabase(QStringLiteral("bench.fdb"), {"ANN", "sesame"});
    pw::db::TDbData shared(foldersIn(dir));
    if (list.isEmpty() ||
        !shared.OpenServer({list, QStringLiteral("ANN"), QStringLiteral("sesame")}) ||
        !fillStore(shared, kRecords, fullFieldValues()) || !measure(shared, "server", runs))
        return 3;
    return 0;
}
