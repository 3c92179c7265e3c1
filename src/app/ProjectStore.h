#pragma once
// Saving and opening a project together with the recipient store whose database it carries.

#include "compose/MailFile.h"

namespace pw::db {
class TDbData;
}

namespace pw::app {

// Save project: the store is saved (committed, the transaction retained), closed keeping its
// working copy, the file written with the copy's bytes, and the copy opened again. A store
// that cannot be saved stops the save, since the file would carry stale records.
[[nodiscard]] WriteResult saveProject(const QString& path, const MailDocument& document,
                                      const ScheduledSending& scheduled,
                                      const QString& previewFolder, db::TDbData& store,
                                      const CodePage& currentCodePage, IUserInteraction* ui);

// Open: reads the file; a database in it replaces the store's (the old working copy deleted,
// the bytes written to a new one); then the store's working copy is opened.
[[nodiscard]] MailFileReadResult openProject(const QString& path, const QString& previewFolder,
                                             db::TDbData& store, const CodePage& currentCodePage,
                                             IUserInteraction* ui);

// The project file as this process last read or wrote it: another process that writes
// outcomes into it (the command line) changes it.
struct ProjectFileStamp {
    QString path;  // empty: no project file
    qint64 size = -1;
    qint64 modifiedMs = -1;
    quint64 inode = 0;  // the write-back renames a new file into place
    [[nodiscard]] bool operator==(const ProjectFileStamp&) const = default;
};
[[nodiscard]] ProjectFileStamp stampOf(const QString& path);

// Whether the store holds outcomes of a run of its own that the project file lacks.
enum class OwnOutcomes { Saved, Unsaved };
enum class OutcomesTaken { Unchanged, Taken, Failed };

// When the project file changed since `stamp`, its outcomes go into the store's working
// copy, and `stamp` becomes the file's: the file's are the newer ones, except that a
// recipient the store has an unsaved outcome of keeps it unless the file says "sent". A
// "sent" of the file is never lost. scratchFolder: a private folder, emptied afterwards.
[[nodiscard]] OutcomesTaken takeOutcomesRecordedElsewhere(ProjectFileStamp& stamp,
                                                          db::TDbData& store, OwnOutcomes own,
                                                          const QString& scratchFolder);

}  // namespace pw::app
