// The database editor window on 20000 records (or the count given after the number of runs)
// of 20 fields of 100 bytes, offscreen: opened up to the first screen of rows painted,
// scrolled from the first to the last row a page at a time (each page painted before the
// next; only up to 20000 records), Select All with the grid repainted, a filter applied with
// the grid repainted, and the peak memory with every row visited.
#include <QApplication>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "db/TDbData.h"
#include "dbtools/gui/d_EditDialog.h"
#include "support/BenchStore.h"
#include "support/BenchSupport.h"

using namespace pw::bench;
using C = pw::dbtools::d_EditDialog::Command;

namespace {

// Counts the grid's paints, to show that each page was really drawn.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

void print(const char* name, const std::vector<double>& wall, const std::vector<double>& cpu) {
    std::printf("%s: %.1f ms\n", name, median(wall));
    std::printf("%s_cpu: %.1f ms\n", name, median(cpu));
}

}  // namespace

int main(int argc, char** argv) {
    offscreenUnlessSet();
    QApplication app(argc, argv);
    const int runs = runsArgument(argc, argv, 7);
    const int records = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20000;
    const bool scrollAll = records <= 20000;
    QTemporaryDir dir;
    SilentUser ui;
    pw::db::TDbData store(foldersIn(dir), ui);
    store.SetStrFieldSize(100);
    // every record listed, where the store lets the limit be raised
    const auto raiseLimit = [](auto& s, int n) {
        if constexpr (requires { s.SetRecordLimit(n); }) {
            s.SetRecordLimit(n);
            return n;
        }
        return std::min(n, 20000);
    };
    const int listed = raiseLimit(store, records);
    if (!createFilledStore(store, records, fullFieldValues()))
        return 1;
    std::printf("editor_records: %d records\n", records);
    // "f3-7": the records whose number starts with 7.
    int filtered = 0;
    for (int i = 1; i <= records; ++i)
        filtered += QByteArray::number(i).startsWith('7') ? 1 : 0;

    std::vector<double> open, openCpu, scroll, scrollCpu, selectAll, selectAllCpu, filter,
        filterCpu;
    double peakMb = 0;
    int pagesPainted = 0;
    for (int r = 0; r < runs; ++r) {
        pw::dbtools::EditorOptions options;
        options.geometry = QRect(0, 0, 1200, 800);
        std::unique_ptr<pw::dbtools::d_EditDialog> editor;
        QTableView* grid = nullptr;
        open.push_back(timeMs(
            [&] {
                editor = std::make_unique<pw::dbtools::d_EditDialog>(store, ui, options);
                editor->show();
                // the first paint comes from the event loop once the window is exposed
                while (!editor->windowHandle() || !editor->windowHandle()->isExposed())
                    QApplication::processEvents();
                QApplication::processEvents();
                grid = editor->findChild<QTableView*>(QStringLiteral("grid1043"));
            },
            openCpu, CpuClock::Process));
        pw::db::RecordCache& cache = editor->session().grid().cache();
        if (cache.fetchedCount() == 0 || cache.fetchedCount() > 200) {
            std::fprintf(stderr, "first screen: %d rows fetched\n", cache.fetchedCount());
            return 2;
        }

        PaintCounter counter;
        grid->viewport()->installEventFilter(&counter);
        QScrollBar* bar = grid->verticalScrollBar();
        if (scrollAll)
            scroll.push_back(timeMs(
                [&] {
                    for (int v = 0;; v += bar->pageStep()) {
                        bar->setValue(std::min(v, bar->maximum()));
                        grid->viewport()->repaint();
                        if (v >= bar->maximum())
                            break;
                    }
                },
                scrollCpu, CpuClock::Process));
        else
            store.FetchAll();
        if (cache.fetchedCount() != listed) {
            std::fprintf(stderr, "scrolled: %d rows fetched\n", cache.fetchedCount());
            return 3;
        }
        pagesPainted = counter.paints;
        if (r == 0)  // later openings reuse what the first one took
            peakMb = double(peakRssKiB()) / 1024.0;
        grid->viewport()->removeEventFilter(&counter);
        bar->setValue(0);

        // Every record unselected and saved first, so that Select All changes all of them.
        store.ExecuteImmediate(QStringLiteral("update MAILS set SENDING = 0"));
        if (!store.Save(pw::db::SaveMode::Retaining))
            return 4;
        editor->run(C::SelectNone);
        selectAll.push_back(timeMs(
            [&] {
                editor->run(C::SelectAll);
                grid->viewport()->repaint();
            },
            selectAllCpu, CpuClock::Process));
        if (!grid->model()->index(0, 1).data(Qt::CheckStateRole).toInt() ||
            store.CountRecords() != records)
            return 5;

        editor->askFilter = [](pw::dbtools::FilterChoice& choice) {
            choice = {2, QStringLiteral("f3-7"), pw::dbtools::FilterKind::Include};
            return true;
        };
        filter.push_back(timeMs(
            [&] {
                editor->run(C::FilterOn);
                grid->viewport()->repaint();
            },
            filterCpu, CpuClock::Process));
        store.FetchAll();
        if (grid->model()->rowCount() != filtered) {
            std::fprintf(stderr, "filtered: %d rows\n", grid->model()->rowCount());
            return 6;
        }
        editor->run(C::FilterOff);
        if (!store.Save(pw::db::SaveMode::Retaining))
            return 7;
        editor->accept();
    }
    print("editor_open_first_screen", open, openCpu);
    if (scrollAll)
        print("editor_scroll_all_pages", scroll, scrollCpu);
    if (scrollAll)
        std::printf("editor_scroll_pages_painted: %d pages\n", pagesPainted);
    print("editor_select_all_repainted", selectAll, selectAllCpu);
    print("editor_filter_repainted", filter, filterCpu);
    std::printf("editor_peak_memory_all_rows_visited: %.1f MB\n", peakMb);
    store.Close(pw::db::CloseMode::DeleteWorkingCopy);
    return 0;
}
