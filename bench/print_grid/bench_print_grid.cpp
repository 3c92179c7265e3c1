// The whole grid of 20000 records (22 columns, Japanese names) laid out and printed to PDF
// through the editor's grid model, as "Print..." and the PDF button do: the layout alone, the
// layout with every page written, pages per second and the peak memory.
#include <QApplication>
#include <QFile>
#include <QPrinter>
#include <QTableView>
#include <QTemporaryDir>
#include <cstdio>
#include <vector>

#include "db/TDbData.h"
#include "dbtools/RecordGridModel.h"
#include "print/gui/CPrintDBGridVw.h"
#include "print/gui/TableViewPrintGrid.h"
#include "support/BenchStore.h"
#include "support/BenchSupport.h"

using namespace pw::bench;

int main(int argc, char** argv) {
    offscreenUnlessSet();
    QApplication app(argc, argv);
    const int runs = runsArgument(argc, argv, 3);
    QTemporaryDir dir;
    SilentUser ui;
    pw::db::TDbData store(foldersIn(dir));
    QString fields = QStringLiteral(
        ", 'user' || :i || '@example.jp', '山田 太郎 ' || :i, '東京都千代田区丸の内 ' || :i");
    for (int k = 4; k <= pw::db::kFieldCount; ++k)
        fields += QStringLiteral(", 'f%1-' || :i").arg(k);
    if (!createFilledStore(store, 20000, fields, QStringLiteral("mod(:i, 2)")))
        return 1;
    pw::dbtools::RecordGridModel model(store, ui);
    model.list().Refresh();
    QTableView view;
    view.setModel(&model);
    pw::print::TableViewPrintGrid grid(view, [&] { model.list().FetchAll(); });
    if (grid.rowCount() != 20000) {
        std::fprintf(stderr, "expected 20000 rows, got %d\n", grid.rowCount());
        return 1;
    }

    std::vector<double> fetchCpu;
    const double fetchMs = timeMs([&] { grid.fetchAll(); }, fetchCpu, CpuClock::Process);

    pw::print::CPrintDBGridVw printView(ui);
    printView.setGrid(&grid);
    printView.setColumns(pw::print::printColumns(grid, {}));
    std::vector<double> layoutWall, layoutCpu, printWall, printCpu;
    int pages = 0;
    qint64 bytes = 0;
    for (int run = 0; run < runs; ++run) {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath(QStringLiteral("grid.pdf")));
        layoutWall.push_back(
            timeMs([&] { (void)printView.beginPrinting(printer); }, layoutCpu, CpuClock::Process));
        pw::print::PrintOutcome outcome{};
        printWall.push_back(
            timeMs([&] { outcome = printView.printPages(printer); }, printCpu, CpuClock::Process));
        if (outcome != pw::print::PrintOutcome::Printed) {
            std::fprintf(stderr, "printing failed\n");
            return 1;
        }
        pages = printView.layout().pageCount;
        bytes = QFile(dir.filePath(QStringLiteral("grid.pdf"))).size();
    }
    const double wall = median(printWall);
    std::printf("print_grid_rows: %d rows\n", grid.rowCount());
    std::printf("print_grid_pages: %d pages\n", pages);
    std::printf("print_grid_pdf_size: %.1f MB\n", double(bytes) / 1e6);
    std::printf("print_grid_fetch_all_wall: %.0f ms\n", fetchMs);
    std::printf("print_grid_fetch_all_cpu: %.0f ms\n", fetchCpu.front());
    std::printf("print_grid_layout_wall_median: %.0f ms\n", median(layoutWall));
    std::printf("print_grid_layout_cpu_median: %.0f ms\n", median(layoutCpu));
    std::printf("print_grid_layout_and_pdf_wall_median: %.0f ms\n", wall);
    std::printf("print_grid_layout_and_pdf_cpu_median: %.0f ms\n", median(printCpu));
    std::printf("print_grid_pages_per_second_wall: %.1f pages/s\n", pages * 1000.0 / wall);
    std::printf("print_grid_pages_per_second_cpu: %.1f pages/s\n",
                pages * 1000.0 / median(printCpu));
    std::printf("print_grid_peak_rss: %.1f MB\n", double(peakRssKiB()) / 1024.0);
    std::printf("print_grid_runs: %d runs\n", runs);
    return 0;
}
