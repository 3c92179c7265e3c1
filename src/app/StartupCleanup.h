#pragma once
// What killed processes leave behind, found and removed at the next start: working copies no
// process uses and no run needs, run markers whose outcomes already are in their project, and
// the private temporary folders made when the usual one could not be used. Nothing that a
// live process uses, and no outcome a project lacks, is ever removed.

#include <QString>
#include <chrono>
#include <memory>

#include "compose/CodePage.h"
#include "send/RunMarker.h"

namespace pw::app {

// How long a file or folder is left alone after its last change: it may be in the making
// (a project's database being extracted before the run's marker is written).
inline constexpr std::chrono::seconds kLeftoverGrace{600};

// Whether a process of this user has the file open (the database engine of a window or a
// run, or a writer still filling it).
[[nodiscard]] bool FileInUse(const QString& path);

// Working copies "PZP_data_<n>.pzb" without a marker that no process has open and that were
// last changed before the grace: a window or a command-line run was killed with them. Their
// committed outcomes could not go anywhere (no marker names a project). Returns how many
// were removed.
int RemoveOrphanedWorkingCopies(const QString& workingCopyFolder,
                                std::chrono::seconds grace = kLeftoverGrace);

// A marker left by a kill between the write-back into the project and the marker's removal:
// the project changed since the run started because the run itself wrote it. True when the
// project's own database already holds every outcome of the working copy (each record the
// copy marks as sent or failed is so in the project, or gone from it); then nothing would be
// lost by removing the marker and its copy. scratchFolder is a private, empty folder.
[[nodiscard]] bool ProjectHoldsRunOutcomes(const send::InterruptedRun& run,
                                           const QString& scratchFolder,
                                           const CodePage& textCodePage);

// Holds the private temporary folder of this process for its life, so that another start
// can tell a live folder from one of a killed process (a lock only the kernel releases).
class CFolderOwnership {
public:
    ~CFolderOwnership();
    CFolderOwnership(const CFolderOwnership&) = delete;
    CFolderOwnership& operator=(const CFolderOwnership&) = delete;
    // nullptr when the folder cannot take the lock file.
    [[nodiscard]] static std::unique_ptr<CFolderOwnership> hold(const QString& folder);

private:
    explicit CFolderOwnership(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

// The folder held until the process ends (the fallback temporary folder, from the moment it
// is made).
void HoldFolderForProcessLife(const QString& folder);

// The fallback temporary folders "postwick-<uid>-XXXXXX" in `tempRoot` (made when
// "postwick-<uid>" was taken by someone else) whose process has ended: held by nobody, or,
// when they never got their lock, older than the grace. `ownFolder` is kept. Returns how many
// were removed.
int RemoveStaleFallbackFolders(const QString& tempRoot, const QString& ownFolder,
                               std::chrono::seconds grace = kLeftoverGrace);

// Whether a temporary folder is a fallback one of this user ("postwick-<uid>-XXXXXX").
[[nodiscard]] bool IsFallbackTempFolder(const QString& folder);

}  // namespace pw::app
