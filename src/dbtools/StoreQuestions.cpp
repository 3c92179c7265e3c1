#include "dbtools/StoreQuestions.h"

#include "resources/Strings.h"

namespace pw::dbtools {

db::CreateResult CreateDatabase(db::TDbData& store, const QString& logPath, IUserInteraction& ui) {
    db::CreateResult result = store.CreateDatabase(logPath, db::ExistingFile::Report);
    if (store.LastCreationLog() == db::CreationLog::NotWritten)
        inform(ui, str(ids::kDbLogFailed));
    if (result == db::CreateResult::Exists) {
        const Answer a = ask(ui, str(ids::kDbFileExistsReplace), MessageKind::YesNoCancelDefaultNo);
        result = store.CreateDatabase(
            logPath, a == Answer::Yes ? db::ExistingFile::Replace : db::ExistingFile::Keep);
    }
    if (result == db::CreateResult::Failed)
        inform(ui, str(ids::kCouldNotCreateDatabase) + supportAddress());
    return result;
}

bool ConfirmClose(db::TDbData& store, IUserInteraction& ui) {
    if (!store.IsModified())
        return true;
    switch (ask(ui, str(ids::kDbSaveChanges), MessageKind::YesNoCancel)) {
        case Answer::Cancel:
            return false;
        case Answer::Yes:
            return store.EndChanges(db::UnsavedChanges::Save);
        default:
            return store.EndChanges(db::UnsavedChanges::Discard);
    }
}

bool OpenServer(db::TDbData& store, const db::ServerLogin& login, IUserInteraction& ui) {
    const db::ServerOpenResult opened = store.OpenServer(login);
    if (!opened)
        inform(ui, opened.failure);
    return opened.opened();
}

void TellChangedElsewhere(db::TDbData& store, IUserInteraction& ui) {
    if (const std::optional<QString> told = store.TakeChangedElsewhere())
        inform(ui, *told);
}

}  // namespace pw::dbtools
