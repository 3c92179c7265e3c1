#pragma once
// What every benchmark program here measures with: medians, CPU time beside wall time (this
// machine is shared, so the CPU figure tells work from waiting), the peak memory, and a user
// that answers every question silently.
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include "resources/UserInteraction.h"

namespace pw::bench {

// Windows are measured offscreen unless the caller names a platform; call before the
// application object exists.
inline void offscreenUnlessSet() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// The number of runs: the first argument, else `fallback`.
[[nodiscard]] inline int runsArgument(int argc, char** argv, int fallback) {
    return argc > 1 ? std::max(1, std::atoi(argv[1])) : fallback;
}

class SilentUser : public IUserInteraction {
public:
    Answer message(const QString&, const QString& text, MessageKind) override {
        std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
        return Answer::Ok;
    }
    std::unique_ptr<IProgress> createProgress() override { return nullptr; }
};

inline double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// VmHWM of this process, or -1 where /proc does not tell.
inline long peakRssKiB() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// Starts VmHWM afresh from the present resident size, so that the next peakRssKiB() is the
// peak of what ran in between alone; false where the kernel does not allow it.
inline bool resetPeakRss() {
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

// The thread clock counts only the calling thread (where the embedded engine runs); the
// process clock counts helper threads too (painting, PDF writing).
enum class CpuClock { Thread, Process };

inline double cpuMs(CpuClock clock) {
    timespec ts{};
    clock_gettime(clock == CpuClock::Thread ? CLOCK_THREAD_CPUTIME_ID : CLOCK_PROCESS_CPUTIME_ID,
                  &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Wall time of f in ms; its CPU time goes to cpu.
template <typename F>
double timeMs(F&& f, std::vector<double>& cpu, CpuClock clock = CpuClock::Thread) {
    QElapsedTimer t;
    const double c0 = cpuMs(clock);
    t.start();
    f();
    cpu.push_back(cpuMs(clock) - c0);
    return double(t.nsecsElapsed()) / 1e6;
}

}  // namespace pw::bench
