// The whole grid of 20000 records (22 columns, Japanese names) laid out and printed to PDF
// through the editor's grid model, as "Print..." and the PDF button do: the layout alone, the
// layout with every page written, pages per second and the peak memory.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPrinter>
#include <QTableView>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "db/TDbData.h"
#include "dbtools/RecordGridModel.h"
#include "print/gui/CPrintDBGridVw.h"
#include "print/gui/TableViewPrintGrid.h"

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

double processCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

template <typename F>
double timeMs(F&& f, std::vector<double>& cpu) {
    QElapsedTimer t;
    const double c0 = processCpuMs();
    t.start();
    f();
    cpu.push_back(processCpuMs() - c0);
    return double(t.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    QTemporaryDir dir;
    SilentUser ui;
    pw::db::DbFolders folders{dir.path() + "/data/", dir.path() + "/state/"};
    pw::db::TDbData store(folders, ui);
    if (store.CreateDatabase(store.MakeWorkingCopyPath()) != pw::db::CreateResult::Created ||
        !store.Open()) {
        std::fprintf(stderr, "could not create the database\n");
        return 1;
    }
    QString fields = QStringLiteral(
        ", 'user' || :i || '@example.jp', '山田 太郎 ' || :i, '東京都千代田区丸の内 ' || :i");
    for (int k = 4; k <= pw::db::kFieldCount; ++k)
        fields += QStringLiteral(", 'f%1-' || :i").arg(k);
    store.ExecuteImmediate(
        QStringLiteral("execute block as declare i integer = 1; begin while (i <= 20000) do "
                       "begin insert into MAILS values (:i, mod(:i, 2), 1 %1); i = i + 1; end "
                       "end")
            .arg(fields));
    pw::dbtools::RecordGridModel model(store);
    store.RefreshList();
    QTableView view;
    view.setModel(&model);
    pw::print::TableViewPrintGrid grid(view, [&] { store.FetchAll(); });
    if (grid.rowCount() != 20000) {
        std::fprintf(stderr, "expected 20000 rows, got %d\n", grid.rowCount());
        return 1;
    }

    std::vector<double> fetchCpu;
    const double fetchMs = timeMs([&] { grid.fetchAll(); }, fetchCpu);

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
        layoutWall.push_back(timeMs([&] { (void)printView.beginPrinting(printer); }, layoutCpu));
        pw::print::PrintOutcome outcome{};
        printWall.push_back(timeMs([&] { outcome = printView.printPages(printer); }, printCpu));
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
