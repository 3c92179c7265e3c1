// The database editor window on 20000 records (or the count given after the number of runs)
// of 20 fields of 100 bytes, offscreen, step by step, each step ending with the grid painted:
// opened up to the first screen of rows; the last record reached by dragging the scroll bar
// to its end (as often as it takes); scrolled from the first to the last row a page at a
// time (up to 20000 records); every row selected in the grid (Select All Records); every
// record ticked (Select All); sorted by a field; filtered. Per step the median of the runs
// (at least 3), CPU beside wall, and the peak memory of that step alone (the peak is started
// afresh before each step, so the fill and the steps before do not count).
#include <QApplication>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "RawStatement.h"
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

struct Step {
    std::vector<double> wall, cpu, peakMb;
};

// The step timed, its CPU counted over every thread, its own peak memory read after it.
void measure(Step& step, const std::function<void()>& f) {
    resetPeakRss();
    step.wall.push_back(timeMs(f, step.cpu, CpuClock::Process));
    step.peakMb.push_back(double(peakRssKiB()) / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
    offscreenUnlessSet();
    QApplication app(argc, argv);
    const int runs = std::max(3, runsArgument(argc, argv, 5));
    const int records = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20000;
    const bool scrollAll = records <= 20000;
    QTemporaryDir dir;
    SilentUser ui;
    pw::db::TDbData store(foldersIn(dir));
    store.SetStrFieldSize(100);
    store.SetRecordLimit(records);  // every record listed
    const int listed = std::min(records, store.RecordLimit());
    if (!createFilledStore(store, records, fullFieldValues()))
        return 1;
    std::printf("editor_records: %d records\n", records);
    std::printf("rounds: %d\n", runs);
    // "f3-7": the records whose number starts with 7.
    int filtered = 0;
    for (int i = 1; i <= records; ++i)
        filtered += QByteArray::number(i).startsWith('7') ? 1 : 0;

    std::map<std::string, Step> steps;
    const char* order[] = {"editor_open_first_screen",    "editor_last_record_reached",
                           "editor_scroll_all_pages",     "editor_select_all_rows_repainted",
                           "editor_select_all_repainted", "editor_sort_repainted",
                           "editor_filter_repainted"};
    int pagesPainted = 0;
    int jumps = 0;
    for (int r = 0; r < runs; ++r) {
        pw::dbtools::EditorOptions options;
        options.geometry = QRect(0, 0, 1200, 800);
        std::unique_ptr<pw::dbtools::d_EditDialog> editor;
        QTableView* grid = nullptr;
        measure(steps["editor_open_first_screen"], [&] {
            editor = std::make_unique<pw::dbtools::d_EditDialog>(store, ui, options);
            editor->show();
            // the first paint comes from the event loop once the window is exposed
            while (!editor->windowHandle() || !editor->windowHandle()->isExposed())
                QApplication::processEvents();
            QApplication::processEvents();
            grid = editor->findChild<QTableView*>(QStringLiteral("grid1043"));
        });
        pw::db::RecordCache& cache = editor->session().grid().cache();
        if (cache.fetchedCount() == 0 || cache.fetchedCount() > 200) {
            std::fprintf(stderr, "first screen: %d rows fetched\n", cache.fetchedCount());
            return 2;
        }
        QScrollBar* bar = grid->verticalScrollBar();
        const auto lastRowShown = [&] {
            return grid->model()->rowCount() == listed &&
                   grid->rowAt(grid->viewport()->height() - 1) == listed - 1;
        };
        measure(steps["editor_last_record_reached"], [&] {
            // a grid that learns its length as it reads needs more than one drag
            for (jumps = 1; jumps <= 100000; ++jumps) {
                bar->setValue(bar->maximum());
                grid->viewport()->repaint();
                if (lastRowShown())
                    break;
                QApplication::processEvents();
            }
        });
        if (!lastRowShown() || grid->model()->index(listed - 1, 3).data().toString().isEmpty()) {
            std::fprintf(stderr, "the last record is not shown\n");
            return 3;
        }
        bar->setValue(0);

        if (scrollAll) {
            PaintCounter counter;
            grid->viewport()->installEventFilter(&counter);
            measure(steps["editor_scroll_all_pages"], [&] {
                for (int v = 0;; v += bar->pageStep()) {
                    bar->setValue(std::min(v, bar->maximum()));
                    grid->viewport()->repaint();
                    if (v >= bar->maximum())
                        break;
                }
            });
            pagesPainted = counter.paints;
            grid->viewport()->removeEventFilter(&counter);
            bar->setValue(0);
        }

        measure(steps["editor_select_all_rows_repainted"], [&] {
            editor->run(C::SelectAllRecords);
            grid->viewport()->repaint();
        });
        grid->clearSelection();

        // Every record unselected and saved first, so that Select All changes all of them.
        pw::test::execute(store, QStringLiteral("update MAILS set SENDING = 0"));
        if (!store.Save(pw::db::SaveMode::Retaining))
            return 4;
        editor->run(C::SelectNone);
        measure(steps["editor_select_all_repainted"], [&] {
            editor->run(C::SelectAll);
            grid->viewport()->repaint();
        });
        if (!grid->model()->index(0, 1).data(Qt::CheckStateRole).toInt() ||
            store.Records().CountRecords() != records)
            return 5;

        // descending by the third field: "f3-9999" and the like first
        editor->session().setCursor(0, 4);
        measure(steps["editor_sort_repainted"], [&] {
            editor->run(C::SortDescending);
            grid->viewport()->repaint();
        });
        if (grid->model()->rowCount() != listed)
            return 6;
        editor->session().setCursor(0, 4);
        editor->run(C::SortAscending);

        editor->askFilter = [](pw::dbtools::FilterChoice& choice) {
            choice = {2, QStringLiteral("f3-7"), pw::dbtools::FilterKind::Include};
            return true;
        };
        measure(steps["editor_filter_repainted"], [&] {
            editor->run(C::FilterOn);
            grid->viewport()->repaint();
        });
        editor->session().list().FetchAll();
        if (grid->model()->rowCount() != std::min(filtered, listed)) {
            std::fprintf(stderr, "filtered: %d rows\n", grid->model()->rowCount());
            return 7;
        }
        editor->run(C::FilterOff);
        if (!store.Save(pw::db::SaveMode::Retaining))
            return 8;
        editor->accept();
    }
    for (const char* name : order) {
        const auto it = steps.find(name);
        if (it == steps.end())
            continue;
        std::printf("%s: %.1f ms\n", name, median(it->second.wall));
        std::printf("%s_cpu: %.1f ms\n", name, median(it->second.cpu));
        std::printf("%s_peak_memory: %.1f MB\n", name, median(it->second.peakMb));
    }
    std::printf("editor_last_record_drags: %d\n", jumps);
    if (scrollAll)
        std::printf("editor_scroll_pages_painted: %d pages\n", pagesPainted);
    store.Close(pw::db::CloseMode::DeleteWorkingCopy);
    return 0;
}
