// Start-up time: from process start to the main window shown and painted on a fresh working
// database, beside a bare Qt window (a QWidget shown and painted) started the same way in the
// same rounds, the two taking turns to go first.
//
//   bench_startup [runs [recipients]]
//                             starts itself `runs` times (default 7, at least 3) each way in
//                             a fresh environment and prints the medians and the extremes;
//                             a third way starts in the folders an earlier start left
//                             (startup_again), as a user's every start but the first;
//                             with `recipients`, a fourth way opens a project of that many
//                             recipients (every field filled) named on the command line, to
//                             its window shown with the project in it.
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
#include <QLabel>
#include <QWidget>

#include "app/gui/CPZPtestApp.h"
#include "app/gui/CPZPtestDlg.h"
#include "compose/MailFile.h"
#include "support/BenchStore.h"

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

// A project of `count` recipients with every field filled, its list inside the file.
bool makeProject(const QString& root, const QString& project, int count) {
    pw::db::TDbData store({root + "/data/", root + "/state/"});
    const QString copy = pw::bench::makeCustomerCopy(store, count);
    if (copy.isEmpty())
        return false;
    pw::MailDocument doc;
    doc.senderAddress = QStringLiteral("sender@example.jp");
    doc.subject = QStringLiteral("Your order [[field3]]");
    doc.recipientText = QStringLiteral("[[Mail Address]]");
    doc.textBody = QStringLiteral("Dear [[Name]],\r\n");
    pw::ProjectWriteOptions options;
    QDir().mkpath(root + "/preview");
    options.previewFolder = root + "/preview/";
    options.workingCopyPath = copy;
    const pw::WriteResult written = pw::writeProjectFile(project, doc, {}, options, nullptr);
    QFile::remove(copy);
    return written.ok();
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0) {
        // argv[2], when given, is the project the window opens
        char* childArgv[] = {argv[0], argc > 2 ? argv[2] : nullptr, nullptr};
        return pw::app::RunPostwick(argc > 2 ? 2 : 1, childArgv, [](pw::app::CPZPtestDlg& w) {
            w.repaint();
            if (QLabel* status = w.findChild<QLabel*>(QStringLiteral("mainStatusLine")))
                std::printf("status %s\n", qPrintable(status->text()));
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
    const int recipients = argc > 2 ? std::max(0, std::atoi(argv[2])) : 0;
    QTemporaryDir projectDir;
    const QString project = projectDir.path() + "/bench.pzy";
    if (recipients > 0 && !makeProject(projectDir.path(), project, recipients)) {
        std::fprintf(stderr, "cannot make the project\n");
        return 1;
    }
    const int ways = recipients > 0 ? 4 : 3;
    Figures postwick, bare, opened, again;
    // the folders of a user who started the program before (an unmeasured first start made
    // what it keeps there)
    QTemporaryDir usedHome;
    for (int turn = -1; turn < ways * runs; ++turn) {
        // the ways take turns to go first
        // 0 fresh, 1 bare, 2 again (an earlier start's folders), 3 project
        const int way = turn < 0 ? 2 : (turn + turn / ways) % ways;
        const bool isBare = way == 1;
        Figures warmUp;
        Figures& f = turn < 0   ? warmUp
                     : way == 0 ? postwick
                     : isBare   ? bare
                     : way == 2 ? again
                                : opened;
        QTemporaryDir freshHome;
        const QString home = way == 2 ? usedHome.path() : freshHome.path();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", home + "/data");
        env.insert("XDG_STATE_HOME", home + "/state");
        env.insert("XDG_RUNTIME_DIR", home);
        env.insert("QT_QPA_PLATFORM", env.value("QT_QPA_PLATFORM", "offscreen"));
        QProcess child;
        child.setProcessEnvironment(env);
        QElapsedTimer t;
        t.start();
        QStringList childArgs{isBare ? "--bare" : "--child"};
        if (way == 3)
            childArgs << project;
        child.start(QString::fromLocal8Bit(argv[0]), childArgs);
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
        // the status line counts the project's records: a project that failed to open
        // would time a fresh window instead
        if (way == 3 && !out.contains(" " + QByteArray::number(recipients) + " ")) {
            std::fprintf(stderr, "run %d: the project did not open\n%s\n", turn, out.constData());
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
    print("startup_again_to_window", again);
    if (recipients > 0) {
        const QByteArray name = "project_" + QByteArray::number(recipients) + "_to_window";
        print(name.constData(), opened);
    }
    std::printf("startup_over_bare_qt_window: %.2f x\n",
                postwick.ms[postwick.ms.size() / 2] / bare.ms[bare.ms.size() / 2]);
    return 0;
}
