// Start-up time: from process start to the main window shown on a fresh working database.
//
//   bench_startup [runs]      starts itself `runs` times (default 7) in a fresh environment
//                             and prints the median and the extremes.
// Each child runs the real application start and exits as soon as the window reports that
// its fresh document is ready; before that it reports its CPU time and its peak memory (the
// idle window with its fresh document).

#include <sys/resource.h>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/gui/CPZPtestApp.h"
#include "app/gui/CPZPtestDlg.h"

int main(int argc, char* argv[]) {
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0) {
        return pw::app::RunPostwick(1, argv, [](pw::app::CPZPtestDlg& w) {
            rusage usage{};
            getrusage(RUSAGE_SELF, &usage);
            const double cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                                 (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
            std::printf("cpu %.1f\npeak %ld\n", cpuMs, usage.ru_maxrss);
            std::printf("started\n");
            std::fflush(stdout);
            w.close();
        });
    }
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    std::vector<double> ms, cpu, peakKb;
    for (int i = 0; i < runs; ++i) {
        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", home.path() + "/data");
        env.insert("XDG_STATE_HOME", home.path() + "/state");
        env.insert("XDG_RUNTIME_DIR", home.path());
        env.insert("QT_QPA_PLATFORM", env.value("QT_QPA_PLATFORM", "offscreen"));
        QProcess child;
        child.setProcessEnvironment(env);
        QElapsedTimer t;
        t.start();
        child.start(QString::fromLocal8Bit(argv[0]), {"--child"});
        if (!child.waitForStarted())
            return 1;
        QByteArray out;
        while (!out.contains("started\n") && child.state() != QProcess::NotRunning) {
            child.waitForReadyRead(10000);
            out += child.readAllStandardOutput();
        }
        const double elapsed = t.nsecsElapsed() / 1e6;
        child.waitForFinished(30000);
        if (!out.contains("started\n")) {
            std::fprintf(stderr, "run %d: the window did not start\n%s\n", i,
                         child.readAllStandardError().constData());
            return 1;
        }
        ms.push_back(elapsed);
        for (const QByteArray& line : out.split('\n')) {
            if (line.startsWith("cpu "))
                cpu.push_back(line.mid(4).toDouble());
            else if (line.startsWith("peak "))
                peakKb.push_back(line.mid(5).toDouble());
        }
    }
    std::sort(ms.begin(), ms.end());
    std::printf("startup_to_window_median: %.1f ms\n", ms[ms.size() / 2]);
    std::printf("startup_to_window_min: %.1f ms\n", ms.front());
    std::printf("startup_to_window_max: %.1f ms\n", ms.back());
    if (!cpu.empty() && !peakKb.empty()) {
        std::sort(cpu.begin(), cpu.end());
        std::sort(peakKb.begin(), peakKb.end());
        std::printf("startup_cpu_median: %.1f ms\n", cpu[cpu.size() / 2]);
        std::printf("idle_window_peak_rss_median: %.1f MiB\n", peakKb[peakKb.size() / 2] / 1024);
    }
    return 0;
}
