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

}  // namespace pw::app
