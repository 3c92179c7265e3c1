#include "app/AppFolders.h"
#include "app/StartupCleanup.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdio>

namespace pw::app {

namespace {

QString withSlash(QString p) {
    if (!p.endsWith('/'))
        p += '/';
    return p;
}

QString envFolder(const char* name) {
    const QString v = qEnvironmentVariable(name);
    return v.isEmpty() ? QString() : withSlash(v);
}

}  // namespace

QString ProgramFolderFrom(const QString& executableFolder) {
    QString f = withSlash(executableFolder);
    for (const char* tail : {"Debug", "Release"}) {
        const qsizetype at = f.indexOf(QLatin1String(tail));
        if (at >= 0)
            f.truncate(at);
    }
    return f;
}

QString PrivateFolder(const QString& parent, const QString& name) {
    const QString path = withSlash(parent) + name;
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return {};
    struct stat st {};
    // lstat: a link planted by someone else must not redirect our files
    if (::lstat(native.constData(), &st) != 0)
        return {};
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return {};
    if ((st.st_mode & 077) != 0 && ::chmod(native.constData(), 0700) != 0)
        return {};
    return path + '/';
}

AppFolders DetermineFolders(const QString& executableFolder) {
    AppFolders f;
    f.programFolder = ProgramFolderFrom(executableFolder);

    const QString uid = QString::number(::getuid());
    QString temp;
    if (const QString runtime = envFolder("XDG_RUNTIME_DIR"); !runtime.isEmpty())
        temp = PrivateFolder(runtime, QStringLiteral("postwick"));
    if (temp.isEmpty())
        temp = PrivateFolder(QDir::tempPath(), "postwick-" + uid);
    if (temp.isEmpty()) {
        // someone else holds the usual name: take a fresh unique one
        QByteArray tmpl =
            QFile::encodeName(withSlash(QDir::tempPath()) + "postwick-" + uid + "-XXXXXX");
        if (::mkdtemp(tmpl.data())) {
            temp = withSlash(QFile::decodeName(tmpl));
            // held while this process runs, so that a later start removes it only once we are gone
            HoldFolderForProcessLife(temp);
        }
    }
    f.tempFolder = temp;

    const QString home = envFolder("HOME");
    QString dataHome = envFolder("XDG_DATA_HOME");
    if (dataHome.isEmpty() && !home.isEmpty())
        dataHome = home + ".local/share/";
    if (dataHome.isEmpty())
        dataHome = f.tempFolder;
    f.userDataFolder = dataHome + "Postwick/";

    QString stateHome = envFolder("XDG_STATE_HOME");
    if (stateHome.isEmpty() && !home.isEmpty())
        stateHome = home + ".local/state/";
    if (stateHome.isEmpty())
        stateHome = f.tempFolder;
    f.workingCopyFolder = stateHome + "Postwick/";
    return f;
}

FolderResult CreateFolder(const QString& path) {
    // On a fresh account even ~/.local/share may be missing: make the parents too.
    const QStringList parts = path.split('/', Qt::SkipEmptyParts);
    QString at = path.startsWith('/') ? QStringLiteral("/") : QString();
    int error = 0;
    for (const QString& part : parts) {
        at += part + '/';
        const QByteArray native = QFile::encodeName(at);
        if (::mkdir(native.constData(), 0700) == 0 || errno == EEXIST)
            continue;
        error = errno;
        break;
    }
    if (error == 0 && QFileInfo(path).isDir()) {
        // a folder of ours found open to others (an older version, a copied home) is closed
        struct stat st {};
        const QByteArray native = QFile::encodeName(path);
        if (::lstat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
            st.st_uid == ::getuid() && (st.st_mode & 077) != 0) {
            (void)::chmod(native.constData(), st.st_mode & 0700);
        }
        return FolderResult::Ok;
    }
    std::printf("CreateDirectory failed (%d)\n", error != 0 ? error : ENOTDIR);
    std::fflush(stdout);
    return FolderResult::Failed;
}

TemplatePlaces MailTemplatePlaces(const AppFolders& f) {
    return {f.templateFolder(), shippedDataFolder(f.programFolder, QStringLiteral("Template"))};
}

TemplatePlaces HtmlTemplatePlaces(const AppFolders& f) {
    return {f.htmlTemplateFolder(),
            shippedDataFolder(f.programFolder, QStringLiteral("HTML TEMPLATE"))};
}

void CreateWorkingFolders(const AppFolders& f) {
    (void)CreateFolder(f.mainPreviewFolder());
    (void)CreateFolder(f.wizardPreviewFolder());
    (void)CreateFolder(f.templateFolder());
}

void EmptyFolder(const QString& folder) {
    if (folder.isEmpty())
        return;
    QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System))
        dir.remove(name);
}

void CopyFolderFiles(const QString& from, const QString& to) {
    QDir src(from);
    for (const QString& name : src.entryList(QDir::Files | QDir::Hidden)) {
        QFile::remove(to + name);
        QFile::copy(from + name, to + name);
    }
}

void RemoveStaleSendFolders(const QString& tempFolder) {
    if (tempFolder.isEmpty())
        return;
    QDir dir(tempFolder);
    const QString prefix = QStringLiteral("PostwickSend-");
    for (const QString& name : dir.entryList({prefix + '*'}, QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = name.mid(prefix.size()).toLongLong(&number);
        // only a folder whose process is gone: a live command keeps its files
        if (!number || pid <= 0 || pid > INT_MAX || ::kill(pid_t(pid), 0) == 0 || errno != ESRCH)
            continue;
        QDir(dir.filePath(name)).removeRecursively();
    }
}

void DeleteDatabaseFiles(const QString& folder) {
    QDir dir(folder);
    for (const QString& name : dir.entryList({QStringLiteral("*.pzb")}, QDir::Files | QDir::Hidden))
        dir.remove(name);
}

CommandLineStart StartCommandLine() {
    CommandLineStart start;
    static int argc = 1;
    static char name[] = "postwick";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        start.ownApp = std::make_unique<QCoreApplication>(argc, argv);
    start.folders = DetermineFolders(QCoreApplication::applicationDirPath() + QLatin1Char('/'));
    return start;
}

}  // namespace pw::app
