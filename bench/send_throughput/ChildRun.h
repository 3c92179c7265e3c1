#pragma once
// One run of a child program, timed with wait4 so that its own CPU (user and system apart)
// and peak memory are known.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <cstdio>
#include <vector>

namespace pw::bench {

struct ChildRun {
    int status = -1;
    double seconds = 0;
    double cpuSeconds = 0;  // user and system
    double systemSeconds = 0;
    long maxRssKb = 0;
};

inline ChildRun runChild(const QStringList& command, const QString& outputFile) {
    ChildRun r;
    QList<QByteArray> args;
    for (const QString& a : command)
        args.append(QFile::encodeName(a));
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const QByteArray out = QFile::encodeName(outputFile);
    QElapsedTimer timer;
    timer.start();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (FILE* f = std::freopen(out.constData(), "w", stdout))
            (void)f;
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    r.seconds = double(timer.nsecsElapsed()) / 1e9;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.maxRssKb = usage.ru_maxrss;
    r.systemSeconds = double(usage.ru_stime.tv_sec) + double(usage.ru_stime.tv_usec) / 1e6;
    r.cpuSeconds =
        double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) / 1e6 + r.systemSeconds;
    return r;
}

}  // namespace pw::bench
