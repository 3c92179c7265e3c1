#include "app/ProjectStore.h"

#include "db/TDbData.h"
#include "resources/Strings.h"
#include "resources/UserInteraction.h"

namespace pw::app {

WriteResult saveProject(const QString& path, const MailDocument& document,
                        const ScheduledSending& scheduled, const QString& previewFolder,
                        db::TDbData& store, const CodePage& currentCodePage, IUserInteraction* ui) {
    ProjectWriteOptions options{previewFolder, {}, currentCodePage};
    const bool hadDatabase = store.IsOpen();
    if (hadDatabase) {
        if (!store.Save(db::SaveMode::Retaining)) {
            const QString message = str(ids::kDatabaseNotSaved);
            if (ui) {
                (void)ui->message(str(ids::kSaveCaption), message, MessageKind::Information);
            }
            return WriteResult{WriteStatus::Failed, message};
        }
        options.workingCopyPath = store.WorkingCopyPath();
        store.Close(db::CloseMode::KeepWorkingCopy);
    }
    WriteResult result = writeProjectFile(path, document, scheduled, options, ui);
    if (hadDatabase && !store.Open() && ui) {
        (void)ui->message(str(ids::kSaveCaption), str(ids::kStoreNotReopened),
                          MessageKind::Information);
    }
    return result;
}

MailFileReadResult openProject(const QString& path, const QString& previewFolder,
                               db::TDbData& store, const CodePage& currentCodePage,
                               IUserInteraction* ui) {
    MailFileReadOptions options;
    options.previewFolder = previewFolder;
    options.currentCodePage = currentCodePage;
    options.databaseTarget = [&store] {
        store.Close(db::CloseMode::DeleteWorkingCopy);
        return store.MakeWorkingCopyPath();
    };
    MailFileReadResult result = readMailFile(path, options, ui);
    // a file that could not be read has told why already
    if (!store.Open() && result.ok() && ui)
        inform(*ui, str(ids::kStoreNotReopened));
    return result;
}

}  // namespace pw::app
