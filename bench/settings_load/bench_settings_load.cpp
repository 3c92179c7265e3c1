// The settings file with many keys (a long server list, keys other programs added): loading
// it with every setting read, and writing it back, for 10 000 and 40 000 keys.
//
//   bench_settings_load [runs]     default 5 runs per size; medians of wall and CPU time
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "app/IniFile.h"
#include "app/Settings.h"

namespace {

double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A settings file as a user's grows: the program's own keys, then `keys` more spread over
// ten sections.
QByteArray settingsText(int keys) {
    QByteArray text =
        "[SETUP]\r\nSMTPServer=mail.example.com\r\nSMTPPort=587\r\nFrom=news@example.com"
        "\r\nOneTimeSend=20\r\n[WINDOW]\r\nShowFieldWnd=1\r\n";
    const int perSection = keys / 10;
    for (int s = 0; s < 10; ++s) {
        text += "[Extra" + QByteArray::number(s) + "]\r\n";
        for (int k = 0; k < perSection; ++k)
            text += "Key" + QByteArray::number(k) + "=value of key " + QByteArray::number(k) +
                    " in section " + QByteArray::number(s) + "\r\n";
    }
    return text;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    QTemporaryDir dir;
    for (int keys : {10000, 40000}) {
        const QString path = dir.filePath(QStringLiteral("postwick-%1.ini").arg(keys));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(settingsText(keys)) < 0)
            return 1;
        f.close();
        std::vector<double> loadWall, loadCpu, saveWall, saveCpu;
        for (int i = 0; i < runs; ++i) {
            pw::app::CIniFile ini(path);
            QElapsedTimer t;
            double c = cpuMs();
            t.start();
            if (!ini.Load())
                return 1;
            const pw::app::Settings s = pw::app::ReadSettings(ini);
            loadWall.push_back(double(t.nsecsElapsed()) / 1e6);
            loadCpu.push_back(cpuMs() - c);
            if (s.server.smtpPort != 587)
                return 1;
            c = cpuMs();
            t.restart();
            if (!ini.Save())
                return 1;
            saveWall.push_back(double(t.nsecsElapsed()) / 1e6);
            saveCpu.push_back(cpuMs() - c);
        }
        const int k = keys / 1000;
        std::printf("settings_load_%dk_keys_wall_median: %.1f ms\n", k, median(loadWall));
        std::printf("settings_load_%dk_keys_cpu_median: %.1f ms\n", k, median(loadCpu));
        std::printf("settings_save_%dk_keys_wall_median: %.1f ms\n", k, median(saveWall));
        std::printf("settings_save_%dk_keys_cpu_median: %.1f ms\n", k, median(saveCpu));
    }
    return 0;
}
