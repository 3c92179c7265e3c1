#include "app/ProgramFiles.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

#ifndef POSTWICK_VERSION
#define POSTWICK_VERSION "0"
#endif

namespace pw::app {

QString manualPath(const QString& executableFolder, Language language) {
    const QDir exe(executableFolder);
    const QStringList folders = {exe.filePath(QStringLiteral("manual")),
                                 exe.filePath(QStringLiteral("../share/postwick/manual"))};
    QStringList names;
    if (language == Language::Japanese)
        names << QStringLiteral("index.ja.html");
    names << QStringLiteral("index.html");
    for (const QString& name : names) {
        for (const QString& folder : folders) {
            const QFileInfo f(QDir(folder).filePath(name));
            if (f.isFile())
                return f.canonicalFilePath();
        }
    }
    return {};
}

QString programVersion() {
    return QStringLiteral(POSTWICK_VERSION);
}

int printVersion() {
    std::printf("postwick %s\n", POSTWICK_VERSION);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace pw::app
