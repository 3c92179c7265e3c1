#include "app/RunState.h"

#include <algorithm>

#include "app/Commands.h"
#include "resources/Strings.h"

namespace pw::app {

namespace {

constexpr int kLocked[] = {
    cmd::kNew,                  // replaces the document and the working copy the run writes to
    cmd::kOpen,                 //
    cmd::kSave,                 // commits and copies the working copy out
    cmd::kSaveAs,               //
    cmd::kSelectTemplate,       // a template rewrites the field captions
    cmd::kPreview,              // a flow of its own over the run's database
    cmd::kDefaultDatabase,      // swaps the database
    cmd::kEditDatabase,         // the editor opens, saves and deletes records
    cmd::kImportDatabase,       //
    cmd::kExportDatabase,       //
    cmd::kClearDatabase,        // deletes every record
    cmd::kEditFieldName,        // rewrites the captions the run merges with
    cmd::kServerSettings,       // its connection test starts the log afresh
    cmd::kUnsubscribeSettings,  // kept in the run's database
};

}  // namespace

std::span<const int> CRunState::lockedCommands() {
    return kLocked;
}

bool CRunState::locks(int commandId) {
    return std::find(std::begin(kLocked), std::end(kLocked), commandId) != std::end(kLocked);
}

bool CRunState::refuses(int commandId, IUserInteraction& ui) const {
    return locks(commandId) && refuses(ui);
}

bool CRunState::refuses(IUserInteraction& ui) const {
    if (!m_running)
        return false;
    inform(ui, str(ids::kRunLocksCommand));
    return true;
}

}  // namespace pw::app
