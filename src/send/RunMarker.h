#pragma once
// Crash safety of a send run's outcomes.
//
// A merge send records every recipient's outcome in the database's working copy, committed
// at once. While a run of a project is under way, a marker file lies beside the working copy:
//
//     <working copy>.sending      e.g. ~/.local/state/Postwick/PZP_data_3.pzb.sending
//
// UTF-8 text, one "key=value" per line:
//
//     project=<absolute path of the project file>
//     size=<the project file's size in bytes when the run started>
//     modified=<its modification time then, milliseconds since the epoch>
//     started=<when the run started, ISO 8601 UTC>
//     unsaved=1       (only when the user closed the document without saving it since)
//
// It is written (complete, synced) before the first mail goes out and removed only after
// the outcomes have been written back into the project file. A marker that is still there
// at the next start therefore names a working copy whose outcomes the project file lacks:
// the application offers to recover it, and "--send" of the same project continues from it,
// so that no recipient already sent gets the mail again. While a run is alive it holds
// "<working copy>.sending.lock" (a QLockFile), which tells a live run from a crashed one.

#include <QDateTime>
#include <QLockFile>
#include <QString>
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

namespace pw::send {

struct InterruptedRun {
    QString workingCopy;  // the database file with the committed outcomes
    QString markerPath;
    QString projectPath;  // as recorded (absolute)
    qint64 projectSize = -1;
    qint64 projectModifiedMs = -1;
    QDateTime started;
    bool unsaved = false;  // left by a close without saving, not by a crash

    // Whether the project file is still the one the run started from: when it was saved
    // since, its own outcomes are newer and the working copy must not replace them.
    [[nodiscard]] bool projectUnchanged() const;
};

[[nodiscard]] QString markerPathFor(const QString& workingCopy);

// Held by a live run: the marker with its lock. Destroying it keeps the marker (a crash
// keeps it too); finish() removes it once the outcomes are safe in the project file.
class CRunMarker {
public:
    ~CRunMarker();
    CRunMarker(const CRunMarker&) = delete;
    CRunMarker& operator=(const CRunMarker&) = delete;

    // Writes the marker for a run of `projectPath` on `workingCopy`; nullptr when it cannot
    // be written (the run must not start then: its outcomes would not be recoverable).
    [[nodiscard]] static std::unique_ptr<CRunMarker> begin(const QString& workingCopy,
                                                           const QString& projectPath);
    // Removes the marker and releases the lock.
    void finish();
    // Records in the marker that its outcomes were left by a close without saving (the
    // working copy stays for the recovery at the next start); false when it cannot be written.
    bool noteUnsaved();

    [[nodiscard]] const QString& path() const { return m_path; }

private:
    CRunMarker(QString path, std::unique_ptr<QLockFile> lock);
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};

// Reads one marker; nullopt when it is not a marker of this program or names no project.
[[nodiscard]] std::optional<InterruptedRun> readMarker(const QString& markerPath);

// Every marker in the working-copy folder left by a run that is no longer alive and whose
// working copy still exists, oldest first.
[[nodiscard]] std::vector<InterruptedRun> findInterruptedRuns(const QString& workingCopyFolder);

// The interrupted run of this project (the same file, compared by canonical path), if any.
[[nodiscard]] std::optional<InterruptedRun> findInterruptedRun(const QString& workingCopyFolder,
                                                               const QString& projectPath);

// Removes a marker (and its stale lock) once its working copy has been dealt with.
void discardMarker(const InterruptedRun& run);

// The mail whose data is going out, noted beside the working copy ("<working copy>.inflight")
// from just before its end of data until its outcome is recorded. A run killed meanwhile
// (SIGKILL) leaves the note, and whoever takes up the copy counts that recipient as possibly
// delivered instead of sending the mail again. One write per change, no sync: the note has
// to outlive the process, not the machine.
class CInFlightRecord {
public:
    // nullptr when the note cannot be made (the run then goes on without it).
    [[nodiscard]] static std::unique_ptr<CInFlightRecord> open(const QString& workingCopy);
    ~CInFlightRecord();  // removes the note unless a mail is still noted
    CInFlightRecord(const CInFlightRecord&) = delete;
    CInFlightRecord& operator=(const CInFlightRecord&) = delete;

    // `who`: "number address", as the log names a possibly delivered mail. Each connection of
    // a run notes its own mail, in its own `slot`; a connection has two (`slotOf`), as the
    // mail before may wait for its outcome to be written while the next one goes.
    void set(int recordId, const QString& who, int slot = 0);
    void clear(int slot = 0);
    static constexpr int kConnections = 16;
    static constexpr int kSlots = 2 * kConnections;
    [[nodiscard]] static constexpr int slotOf(int connection, int second) {
        return connection + (second != 0 ? kConnections : 0);
    }

private:
    CInFlightRecord(int fd, QString path);
    void write(const QByteArray& text, int slot);
    int m_fd = -1;
    QString m_path;
    std::atomic<unsigned> m_noted{0};  // a bit per slot
};

[[nodiscard]] QString inFlightPathFor(const QString& workingCopy);
// Takes up the note a killed run left on `workingCopy`: a recipient whose outcome is still
// "not yet sent" there gets "sent" (its data went out) and is returned as "number address"
// (several, one a connection, joined by ", "); empty when nothing was in flight or its
// outcome had been recorded.
[[nodiscard]] QString settleInFlight(const QString& workingCopy);

// Held for the length of a run of one project file, by either front end, so that a second run
// of the same file is refused instead of sending every recipient twice. The lock is the
// operating system's lock on the project file itself (flock), so every path to the file (a
// hard link, a symbolic link, another folder name) and every user and state folder meets
// it; it goes with the process, so a crashed holder never blocks.
enum class ProjectLockResult {
    Held,
    Busy,        // another live run holds it
    Unreadable,  // the project file cannot be opened (missing, not a file, no permission)
};

class CProjectLock {
public:
    ~CProjectLock();
    CProjectLock(const CProjectLock&) = delete;
    CProjectLock& operator=(const CProjectLock&) = delete;
    // nullptr when it is not held; `result` (when given) says why.
    [[nodiscard]] static std::unique_ptr<CProjectLock> acquire(const QString& projectPath,
                                                               ProjectLockResult* result = nullptr);

private:
    explicit CProjectLock(int fd);
    int m_fd = -1;
};

// A note beside the lock that the last run of a project ended before it reached its whole
// selection (cancelled, stopped, the server lost), so that "send to all" can warn that it
// would send the mail again to those who have it. Cleared by a run that reaches everyone.
void noteUnfinishedRun(const QString& workingCopyFolder, const QString& projectPath);
void clearUnfinishedRun(const QString& workingCopyFolder, const QString& projectPath);
[[nodiscard]] bool lastRunUnfinished(const QString& workingCopyFolder, const QString& projectPath);

}  // namespace pw::send
