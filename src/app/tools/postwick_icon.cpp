// Writes the program's icon as PNG files for the desktop: postwick_icon <folder> <size>...
// gives <folder>/<size>x<size>/apps/postwick.png for each size.

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <cstdio>

#include "app/gui/AppIcon.h"

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: postwick_icon FOLDER SIZE...\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 8 || size > 1024)
            return 2;
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        if (!QDir().mkpath(folder) ||
            !pw::app::postwickIconImage(size).save(folder + QStringLiteral("/postwick.png")))
            return 1;
    }
    return 0;
}
