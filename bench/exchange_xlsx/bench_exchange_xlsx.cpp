// Reading a 20000-row, 20-column workbook (written by libxlsxwriter) into the import table.
#include <sys/resource.h>
#include <time.h>
#include <xlsxwriter.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "exchange/WorkbookImport.h"

using namespace pw::exchange;

static double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.path() + "/recipients.xlsx";
    lxw_workbook* wb = workbook_new(path.toLocal8Bit().constData());
    lxw_worksheet* ws = workbook_add_worksheet(wb, nullptr);
    for (int r = 0; r < kRecordLimit; ++r) {
        const QByteArray mail = "user" + QByteArray::number(r) + "@example.com";
        worksheet_write_string(ws, lxw_row_t(r), 0, mail.constData(), nullptr);
        for (int c = 1; c < kFieldCount; ++c) {
            if (c % 2) {
                worksheet_write_number(ws, lxw_row_t(r), lxw_col_t(c), r * 20.0 + c, nullptr);
            } else {
                const QByteArray v = "value " + QByteArray::number(r * 20 + c);
                worksheet_write_string(ws, lxw_row_t(r), lxw_col_t(c), v.constData(), nullptr);
            }
        }
    }
    if (workbook_close(wb) != LXW_NO_ERROR)
        return 1;

    std::vector<double> cpu, times;
    for (int run = 0; run < 5; ++run) {
        ImportTable table;
        SteppedProgress progress;
        QElapsedTimer t;
        t.start();
        const double cpu0 = cpuMs();
        const ReadResult r = readWorkbook(path, table, nullptr, progress);
        times.push_back(double(t.nsecsElapsed()) / 1e6);
        cpu.push_back(cpuMs() - cpu0);
        if (r.rowCount != kRecordLimit || table.rows[0].size() != kFieldCount) {
            std::printf("unexpected: %d rows\n", r.rowCount);
            return 1;
        }
    }
    std::sort(times.begin(), times.end());
    std::sort(cpu.begin(), cpu.end());
    // CPU time of the whole process (the engine's threads included): steadier than the wall
    // clock on a busy machine.
    std::printf("xlsx_read_20000x20_cpu_median: %.0f ms\n", cpu[cpu.size() / 2]);
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    std::printf("xlsx_read_20000x20_median: %.0f ms\n", times[times.size() / 2]);
    std::printf("xlsx_read_peak_rss: %ld KB\n", u.ru_maxrss);
    return 0;
}
