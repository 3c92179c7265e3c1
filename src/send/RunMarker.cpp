#include "send/RunMarker.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "db/RunAttachment.h"
#include "send/SendRules.h"

namespace pw::send {
namespace {

constexpr char kSuffix[] = ".sending";

QString lockPathFor(const QString& markerPath) {
    return markerPath + QStringLiteral(".lock");
}

QString canonical(const QString& path) {
    const QFileInfo info(path);
    const QString c = info.canonicalFilePath();
    return c.isEmpty() ? info.absoluteFilePath() : c;
}

// The same file under another name (a hard link).
bool sameFile(const QString& a, const QString& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace

bool InterruptedRun::projectUnchanged() const {
    const QFileInfo info(projectPath);
    if (!info.exists())
        return false;
    return info.size() == projectSize &&
           info.lastModified().toMSecsSinceEpoch() == projectModifiedMs;
}

QString markerPathFor(const QString& workingCopy) {
    return workingCopy + QLatin1String(kSuffix);
}

CRunMarker::CRunMarker(QString path, std::unique_ptr<QLockFile> lock)
    : m_path(std::move(path)), m_lock(std::move(lock)) {}

CRunMarker::~CRunMarker() {
    if (m_lock)
        m_lock->unlock();
}

std::unique_ptr<CRunMarker> CRunMarker::begin(const QString& workingCopy,
                                              const QString& projectPath) {
    const QString path = markerPathFor(workingCopy);
    auto lock = std::make_unique<QLockFile>(lockPathFor(path));
    lock->setStaleLockTime(0);  // only a dead owner makes a lock stale, never its age
    if (!lock->tryLock(0))
        return nullptr;

    const QFileInfo project(projectPath);
    QByteArray text;
    text += "project=" + canonical(projectPath).toUtf8() + '\n';
    text += "size=" + QByteArray::number(project.size()) + '\n';
    text += "modified=" + QByteArray::number(project.lastModified().toMSecsSinceEpoch()) + '\n';
    text += "started=" + QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toUtf8() + '\n';

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        return nullptr;
    return std::unique_ptr<CRunMarker>(new CRunMarker(path, std::move(lock)));
}

bool CRunMarker::noteUnsaved() {
    QFile in(m_path);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QByteArray text = in.read(64 * 1024);
    in.close();
    if (text.contains("\nunsaved=1\n"))
        return true;
    if (!text.isEmpty() && !text.endsWith('\n'))
        text += '\n';
    text += "unsaved=1\n";
    QSaveFile file(m_path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
}

void CRunMarker::finish() {
    QFile::remove(m_path);
    QFile::remove(inFlightPathFor(m_path.chopped(qsizetype(sizeof kSuffix) - 1)));
    if (m_lock) {
        m_lock->unlock();
        m_lock.reset();
    }
}

std::optional<InterruptedRun> readMarker(const QString& markerPath) {
    QFile file(markerPath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // A marker is a few lines; anything larger is not one of ours.
    if (file.size() > 64 * 1024)
        return std::nullopt;
    InterruptedRun run;
    run.markerPath = markerPath;
    run.workingCopy = markerPath.left(markerPath.size() - qsizetype(sizeof(kSuffix) - 1));
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = line.left(eq);
        const QByteArray value = line.mid(eq + 1);
        bool ok = false;
        if (key == "project") {
            run.projectPath = QString::fromUtf8(value);
        } else if (key == "size") {
            const qint64 v = value.toLongLong(&ok);
            if (ok)
                run.projectSize = v;
        } else if (key == "modified") {
            const qint64 v = value.toLongLong(&ok);
            if (ok)
                run.projectModifiedMs = v;
        } else if (key == "started") {
            run.started = QDateTime::fromString(QString::fromUtf8(value), Qt::ISODate);
        } else if (key == "unsaved") {
            run.unsaved = value == "1";
        }
    }
    if (run.projectPath.isEmpty() || !markerPath.endsWith(QLatin1String(kSuffix)))
        return std::nullopt;
    return run;
}

std::vector<InterruptedRun> findInterruptedRuns(const QString& workingCopyFolder) {
    std::vector<InterruptedRun> runs;
    const QDir dir(workingCopyFolder);
    const QStringList names =
        dir.entryList({QStringLiteral("*") + QLatin1String(kSuffix)}, QDir::Files | QDir::Hidden,
                      QDir::Time | QDir::Reversed);
    for (const QString& name : names) {
        std::optional<InterruptedRun> run = readMarker(dir.filePath(name));
        if (!run || !QFileInfo::exists(run->workingCopy))
            continue;
        // A run that is still alive holds the lock.
        QLockFile probe(lockPathFor(run->markerPath));
        probe.setStaleLockTime(0);
        if (!probe.tryLock(0))
            continue;
        probe.unlock();
        runs.push_back(std::move(*run));
    }
    return runs;
}

std::optional<InterruptedRun> findInterruptedRun(const QString& workingCopyFolder,
                                                 const QString& projectPath) {
    const QString wanted = canonical(projectPath);
    for (InterruptedRun& run : findInterruptedRuns(workingCopyFolder)) {
        if (canonical(run.projectPath) == wanted || sameFile(run.projectPath, projectPath))
            return std::move(run);
    }
    return std::nullopt;
}

void discardMarker(const InterruptedRun& run) {
    QFile::remove(run.markerPath);
    QFile::remove(lockPathFor(run.markerPath));
    QFile::remove(inFlightPathFor(run.workingCopy));
}

namespace {

// The note is one block written at its start in one call: a kill never leaves half of it.
constexpr qsizetype kInFlightBlock = 1024;

}  // namespace

QString inFlightPathFor(const QString& workingCopy) {
    return workingCopy + QStringLiteral(".inflight");
}

std::unique_ptr<CInFlightRecord> CInFlightRecord::open(const QString& workingCopy) {
    const QString path = inFlightPathFor(workingCopy);
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return nullptr;
    std::unique_ptr<CInFlightRecord> record(new CInFlightRecord(fd, path));
    // the notes of an earlier run's further connections were settled before
    (void)!::ftruncate(fd, 0);
    record->clear();
    return record;
}

CInFlightRecord::CInFlightRecord(int fd, QString path) : m_fd(fd), m_path(std::move(path)) {}

CInFlightRecord::~CInFlightRecord() {
    ::close(m_fd);
    if (m_noted.load() == 0)
        QFile::remove(m_path);
}

void CInFlightRecord::write(const QByteArray& text, int slot) {
    QByteArray block = text.left(kInFlightBlock);
    block.append(kInFlightBlock - block.size(), '\n');
    // a failed note leaves the old one: the worst it does is name a mail that was recorded
    (void)!::pwrite(m_fd, block.constData(), size_t(block.size()), off_t(slot) * kInFlightBlock);
}

void CInFlightRecord::set(int recordId, const QString& who, int slot) {
    if (slot < 0 || slot >= kSlots)
        return;
    m_noted.fetch_or(1u << slot);
    QByteArray line = "mail=" + who.toUtf8();
    line.replace('\n', ' ').replace('\r', ' ');
    write("record=" + QByteArray::number(recordId) + '\n' + line.left(900) + '\n', slot);
}

void CInFlightRecord::clear(int slot) {
    if (slot < 0 || slot >= kSlots)
        return;
    m_noted.fetch_and(~(1u << slot));
    write("record=-1\n", slot);
}

QString settleInFlight(const QString& workingCopy) {
    const QString path = inFlightPathFor(workingCopy);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // a block per connection of the run
    std::vector<std::pair<int, QString>> noted;
    for (int slot = 0; slot < CInFlightRecord::kSlots && !file.atEnd(); ++slot) {
        int recordId = -1;
        QString who;
        for (const QByteArray& line : file.read(kInFlightBlock).split('\n')) {
            if (line.startsWith("record="))
                recordId = line.mid(7).toInt();
            else if (line.startsWith("mail="))
                who = QString::fromUtf8(line.mid(5));
        }
        if (recordId >= 0)
            noted.emplace_back(recordId, who);
    }
    file.close();
    if (noted.empty()) {
        QFile::remove(path);
        return {};
    }
    db::CRunAttachment copy(workingCopy, {});
    const std::optional<db::CRunAttachment::Outcomes> outcomes = copy.ReadOutcomes();
    if (!outcomes)
        return {};  // kept for a later try; the copy cannot be read now anyway
    QStringList settled;
    for (const auto& [recordId, who] : noted) {
        const auto it =
            std::lower_bound(outcomes->begin(), outcomes->end(), std::pair{recordId, 0},
                             [](const auto& a, const auto& b) { return a.first < b.first; });
        const bool unrecorded = it != outcomes->end() && it->first == recordId && it->second == 0;
        if (unrecorded && copy.WriteOutcome(recordId, int(Outcome::Sent)) !=
                              db::CRunAttachment::OutcomeWrite::Written)
            return {};
        if (unrecorded)
            settled << (who.isEmpty() ? QString::number(recordId) : who);
    }
    copy.Detach();
    QFile::remove(path);
    return settled.join(QStringLiteral(", "));
}

namespace {

QString projectStatePath(const QString& workingCopyFolder, const QString& projectPath,
                         const char* suffix) {
    const QByteArray hash =
        QCryptographicHash::hash(canonical(projectPath).toUtf8(), QCryptographicHash::Sha1).toHex();
    QString folder = workingCopyFolder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder + QStringLiteral("project-") + QString::fromLatin1(hash) + QLatin1String(suffix);
}

}  // namespace

CProjectLock::CProjectLock(int fd) : m_fd(fd) {}

CProjectLock::~CProjectLock() {
    ::close(m_fd);  // releases the lock
}

std::unique_ptr<CProjectLock> CProjectLock::acquire(const QString& projectPath,
                                                    ProjectLockResult* result) {
    const auto fail = [result](ProjectLockResult why) {
        if (result)
            *result = why;
        return nullptr;
    };
    const QByteArray path = QFile::encodeName(projectPath);
    // A save replaces the file by renaming a new one into place: a lock taken on the file
    // that was just replaced guards nothing, so it is taken again on the new one.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd < 0)
            return fail(ProjectLockResult::Unreadable);
        struct stat held {};
        if (::fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
            ::close(fd);
            return fail(ProjectLockResult::Unreadable);
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            if (error == EINTR)
                continue;
            return fail(error == EWOULDBLOCK ? ProjectLockResult::Busy
                                             : ProjectLockResult::Unreadable);
        }
        struct stat now {};
        if (::stat(path.constData(), &now) == 0 && now.st_dev == held.st_dev &&
            now.st_ino == held.st_ino) {
            if (result)
                *result = ProjectLockResult::Held;
            return std::unique_ptr<CProjectLock>(new CProjectLock(fd));
        }
        ::close(fd);
    }
    return fail(ProjectLockResult::Busy);
}

void noteUnfinishedRun(const QString& workingCopyFolder, const QString& projectPath) {
    QSaveFile file(projectStatePath(workingCopyFolder, projectPath, ".unfinished"));
    const QByteArray text = "project=" + canonical(projectPath).toUtf8() + "\nended=" +
                            QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toUtf8() + '\n';
    if (file.open(QIODevice::WriteOnly))
        (void)(file.write(text) == text.size() && file.commit());
}

void clearUnfinishedRun(const QString& workingCopyFolder, const QString& projectPath) {
    QFile::remove(projectStatePath(workingCopyFolder, projectPath, ".unfinished"));
}

bool lastRunUnfinished(const QString& workingCopyFolder, const QString& projectPath) {
    return QFileInfo::exists(projectStatePath(workingCopyFolder, projectPath, ".unfinished"));
}

}  // namespace pw::send
