// The ordinary build's stand-in for libFuzzer: runs a target's entry point once over every
// file named on the command line or found below a named folder (in name order), so that the
// test suite replays each seed corpus and every past finding on every change.

#include <QByteArray>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    QStringList inputs;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (QFileInfo(arg).isDir()) {
            QStringList found;
            QDirIterator it(arg, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext())
                found.append(it.next());
            found.sort();
            inputs += found;
        } else {
            inputs.append(arg);
        }
    }
    int replayed = 0;
    for (const QString& path : inputs) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
            return 1;
        }
        const QByteArray bytes = file.readAll();
        std::fprintf(stderr, "%s\n", qPrintable(path));
        (void)LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                     size_t(bytes.size()));
        ++replayed;
    }
    std::printf("replayed: %d inputs\n", replayed);
    // A replay that found nothing to run guards nothing.
    return replayed > 0 ? 0 : 1;
}
