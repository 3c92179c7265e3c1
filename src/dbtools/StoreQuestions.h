#pragma once
// The questions and messages about the recipient store's file, asked where the user is: the
// store itself only says what it found.

#include <QString>

#include "db/TDbData.h"
#include "resources/UserInteraction.h"

namespace pw::dbtools {

// Creates the working copy; a file already there is replaced only when the user agrees
// (default No). A log that could not be written and a failed creation are told.
[[nodiscard]] db::CreateResult CreateDatabase(db::TDbData& store, const QString& logPath,
                                              IUserInteraction& ui);
// Asks whether to save a modified store before it closes; false when the user cancelled or
// the save failed.
[[nodiscard]] bool ConfirmClose(db::TDbData& store, IUserInteraction& ui);
// Opens a list on a server, telling the user why when it cannot be opened.
[[nodiscard]] bool OpenServer(db::TDbData& store, const db::ServerLogin& login,
                              IUserInteraction& ui);
// Tells the user of another desktop's change that refused the last write, if there was one.
void TellChangedElsewhere(db::TDbData& store, IUserInteraction& ui);

}  // namespace pw::dbtools
