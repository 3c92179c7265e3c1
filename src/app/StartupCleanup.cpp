#include "app/StartupCleanup.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <set>
#include <vector>

#include "compose/MailFile.h"
#include "db/TDbData.h"

namespace pw::app {

namespace {

constexpr char kOwnerLock[] = ".postwick-owner";

bool olderThan(const QFileInfo& info, std::chrono::seconds grace) {
    const QDateTime changed = info.lastModified();
    return changed.isValid() && changed.secsTo(QDateTime::currentDateTime()) > grace.count();
}

// The record IDs of a recipient database: all of them, and those not sent yet.
struct Outcomes {
    std::set<int> all;
    std::set<int> notSent;
};

std::optional<Outcomes> readOutcomes(const QString& databaseFile, const QString& folder) {
    db::TDbData store(db::DbFolders{folder, folder});
    if (!store.OpenInPlace(databaseFile))
        return std::nullopt;
    Outcomes o;
    const db::SendSelection all = store.SendRun().LoadSendSelection(db::SendSelectionMode::All);
    const db::SendSelection notSent =
        store.SendRun().LoadSendSelection(db::SendSelectionMode::NotSent);
    store.Close(db::CloseMode::KeepWorkingCopy);
    if (all.failed || notSent.failed)
        return std::nullopt;
    o.all.insert(all.ids.begin(), all.ids.end());
    o.notSent.insert(notSent.ids.begin(), notSent.ids.end());
    return o;
}

}  // namespace

bool FileInUse(const QString& path) {
    struct stat target {};
    if (::stat(QFile::encodeName(path).constData(), &target) != 0)
        return false;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return true;  // cannot tell: count it as used
    bool used = false;
    while (!used) {
        const dirent* p = ::readdir(proc);
        if (!p)
            break;
        if (p->d_name[0] < '0' || p->d_name[0] > '9')
            continue;
        const QByteArray fdFolder = QByteArray("/proc/") + p->d_name + "/fd";
        DIR* fds = ::opendir(fdFolder.constData());
        if (!fds)
            continue;  // another user's process, or one that just ended
        while (const dirent* f = ::readdir(fds)) {
            if (f->d_name[0] == '.')
                continue;
            struct stat st {};
            const QByteArray link = fdFolder + '/' + f->d_name;
            if (::stat(link.constData(), &st) == 0 && st.st_dev == target.st_dev &&
                st.st_ino == target.st_ino) {
                used = true;
                break;
            }
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return used;
}

int RemoveOrphanedWorkingCopies(const QString& workingCopyFolder, std::chrono::seconds grace) {
    if (workingCopyFolder.isEmpty())
        return 0;
    static const QRegularExpression kCopyName(QStringLiteral("^PZP_data_[0-9]+\\.pzb$"));
    QDir dir(workingCopyFolder);
    int removed = 0;
    for (const QFileInfo& info :
         dir.entryInfoList({QStringLiteral("PZP_data_*.pzb")}, QDir::Files | QDir::Hidden)) {
        if (!kCopyName.match(info.fileName()).hasMatch() || info.isSymLink())
            continue;
        const QString copy = info.absoluteFilePath();
        // a marker's copy carries outcomes its project lacks: recovery deals with it
        if (QFileInfo::exists(send::markerPathFor(copy)))
            continue;
        if (!olderThan(info, grace) || FileInUse(copy))
            continue;
        if (QFile::remove(copy)) {
            QFile::remove(send::inFlightPathFor(copy));
            ++removed;
        }
    }
    return removed;
}

bool ProjectHoldsRunOutcomes(const send::InterruptedRun& run, const QString& scratchFolder,
                             const CodePage& textCodePage) {
    if (scratchFolder.isEmpty() || FileInUse(run.workingCopy))
        return false;
    struct Scratch {
        QString folder;
        ~Scratch() { QDir(folder).removeRecursively(); }
    } scratch{scratchFolder + QStringLiteral("settle/")};
    if (!QDir().mkpath(scratch.folder))
        return false;

    const QString projectDatabase = scratch.folder + QStringLiteral("project.pzb");
    MailFileReadOptions read;
    read.previewFolder = scratch.folder;
    read.currentCodePage = textCodePage;
    read.databaseTarget = [projectDatabase] { return projectDatabase; };
    const MailFileReadResult r = readMailFile(run.projectPath, read, nullptr);
    if (!r.ok() || r.contents->kind != MailFileKind::Project || !r.contents->complete ||
        r.contents->database != DatabaseOutcome::Written)
        return false;

    const std::optional<Outcomes> project = readOutcomes(projectDatabase, scratch.folder);
    const std::optional<Outcomes> copy = readOutcomes(run.workingCopy, scratch.folder);
    if (!project || !copy)
        return false;
    for (int id : copy->all) {
        if (copy->notSent.count(id))
            continue;  // the run has not reached this one: nothing to lose
        // reached by the run: the project must know it, unless the record is gone from it
        if (project->all.count(id) && project->notSent.count(id))
            return false;
    }
    return true;
}

CFolderOwnership::~CFolderOwnership() {
    if (m_fd >= 0)
        ::close(m_fd);  // releases the lock
}

std::unique_ptr<CFolderOwnership> CFolderOwnership::hold(const QString& folder) {
    const QByteArray path = QFile::encodeName(QDir(folder).filePath(QLatin1String(kOwnerLock)));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return nullptr;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<CFolderOwnership>(new CFolderOwnership(fd));
}

void HoldFolderForProcessLife(const QString& folder) {
    static std::vector<std::unique_ptr<CFolderOwnership>> held;
    if (auto lock = CFolderOwnership::hold(folder))
        held.push_back(std::move(lock));
}

bool IsFallbackTempFolder(const QString& folder) {
    const QString name = QFileInfo(QDir::cleanPath(folder)).fileName();
    const QString prefix = QStringLiteral("postwick-%1-").arg(::getuid());
    return name.startsWith(prefix) && name.size() == prefix.size() + 6;
}

int RemoveStaleFallbackFolders(const QString& tempRoot, const QString& ownFolder,
                               std::chrono::seconds grace) {
    if (tempRoot.isEmpty())
        return 0;
    QDir dir(tempRoot);
    const QString own = QDir::cleanPath(ownFolder);
    int removed = 0;
    const QString pattern = QStringLiteral("postwick-%1-*").arg(::getuid());
    for (const QFileInfo& info : dir.entryInfoList(
             {pattern}, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        const QString folder = info.absoluteFilePath();
        if (!IsFallbackTempFolder(folder) || QDir::cleanPath(folder) == own)
            continue;
        // only a real folder of ours: a link or someone else's folder is not touched
        struct stat st {};
        if (::lstat(QFile::encodeName(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode) ||
            st.st_uid != ::getuid())
            continue;
        const QByteArray lockPath = QFile::encodeName(folder + u'/' + QLatin1String(kOwnerLock));
        const int fd = ::open(lockPath.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        bool stale = false;
        if (fd >= 0) {
            // a live process holds the lock for as long as it runs
            stale = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
            ::close(fd);
        } else {
            // killed before it took the lock: stale once it has been quiet for a while
            stale = errno == ENOENT && olderThan(info, grace);
        }
        if (stale && QDir(folder).removeRecursively())
            ++removed;
    }
    return removed;
}

}  // namespace pw::app
