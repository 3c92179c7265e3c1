// Start-up time: from process start to the main window shown and painted on a fresh working
// database, beside a bare Qt window (a QWidget shown and painted) started the same way in the
// same rounds, the two taking turns to go first.
//
//   bench_startup [runs]      starts itself `runs` times (default 7, at least 3) each way in
//                             a fresh environment and prints the medians and the extremes.
// Each child runs the real application start and exits as soon as the window reports that
// its fresh document is ready and has painted it; before that it reports its CPU time and
// its peak memory (the idle window with its fresh document).

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

#include <QApplication>
#include <QWidget>

#include "app/gui/CPZPtestApp.h"
#include "app/gui/CPZPtestDlg.h"

namespace {

void reportStarted() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    std::printf("cpu %.1f\npeak %ld\n", cpuMs, usage.ru_maxrss);
    std::printf("started\n");
    std::fflush(stdout);
}

struct Figures {
    std::vector<double> ms, cpu, peakKb;
};

void print(const char* name, Figures& f) {
    std::sort(f.ms.begin(), f.ms.end());
    std::printf("%s_median: %.1f ms\n", name, f.ms[f.ms.size() / 2]);
    std::printf("%s_min: %.1f ms\n", name, f.ms.front());
    std::printf("%s_max: %.1f ms\n", name, f.ms.back());
    if (!f.cpu.empty() && !f.peakKb.empty()) {
        std::sort(f.cpu.begin(), f.cpu.end());
        std::sort(f.peakKb.begin(), f.peakKb.end());
        std::printf("%s_cpu_median: %.1f ms\n", name, f.cpu[f.cpu.size() / 2]);
        std::printf("%s_peak_rss_median: %.1f MiB\n", name, f.peakKb[f.peakKb.size() / 2] / 1024);
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0) {
        return pw::app::RunPostwick(1, argv, [](pw::app::CPZPtestDlg& w) {
            w.repaint();
            reportStarted();
            w.close();
        });
    }
    if (argc > 1 && std::strcmp(argv[1], "--bare") == 0) {
        QApplication app(argc, argv);
        QWidget w;
        w.resize(800, 600);
        w.show();
        w.repaint();
        reportStarted();
        return 0;
    }
    const int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 7;
    Figures postwick, bare;
    for (int turn = 0; turn < 2 * runs; ++turn) {
        // the two take turns to go first
        const bool isBare = (turn % 2 == 1) != ((turn / 2) % 2 == 1);
        Figures& f = isBare ? bare : postwick;
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
        child.start(QString::fromLocal8Bit(argv[0]), {isBare ? "--bare" : "--child"});
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
            std::fprintf(stderr, "run %d: the window did not start\n%s\n", turn,
                         child.readAllStandardError().constData());
            return 1;
        }
        f.ms.push_back(elapsed);
        for (const QByteArray& line : out.split('\n')) {
            if (line.startsWith("cpu "))
                f.cpu.push_back(line.mid(4).toDouble());
            else if (line.startsWith("peak "))
                f.peakKb.push_back(line.mid(5).toDouble());
        }
    }
    print("startup_to_window", postwick);
    print("bare_qt_window", bare);
    std::printf("startup_over_bare_qt_window: %.2f x\n",
                postwick.ms[postwick.ms.size() / 2] / bare.ms[bare.ms.size() / 2]);
    return 0;
}
