#include "app/ProjectStore.h"

#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <map>

#include "app/Keyring.h"
#include "db/RunAttachment.h"
#include "db/StoreError.h"

#include "db/TDbData.h"
#include "resources/Strings.h"
#include "resources/UserInteraction.h"

namespace pw::app {

WriteResult saveProject(const QString& path, const MailDocument& document,
                        const ScheduledSending& scheduled, const QString& previewFolder,
                        db::TDbData& store, const CodePage& currentCodePage, IUserInteraction* ui) {
    ProjectWriteOptions options{previewFolder, {}, currentCodePage};
    if (store.Kind() == db::StoreKind::Server) {
        // the list stays on its server, committed already: the project only names it
        options.serverList = store.ServerConnection();
        options.serverUser = store.ServerUser();
        return writeProjectFile(path, document, scheduled, options, ui);
    }
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
    if (result.ok() && !result.contents->serverList.isEmpty()) {
        const QString& connection = result.contents->serverList;
        const QString user = serverListUser(result.contents->serverUser);
        const db::ServerOpenResult opened =
            store.OpenServer({connection, user, serverListPassword(connection, user)});
        if (!opened && ui)
            inform(*ui, opened.failure);
        return result;
    }
    // a file that could not be read has told why already
    if (!store.Open() && result.ok() && ui)
        inform(*ui, str(ids::kStoreNotReopened));
    return result;
}

ProjectFileStamp stampOf(const QString& path) {
    ProjectFileStamp stamp;
    if (path.isEmpty())
        return stamp;
    stamp.path = QFileInfo(path).absoluteFilePath();
    struct stat st {};
    if (::stat(QFile::encodeName(stamp.path).constData(), &st) != 0)
        return stamp;
    stamp.size = qint64(st.st_size);
    stamp.modifiedMs = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    stamp.inode = quint64(st.st_ino);
    return stamp;
}

OutcomesTaken takeOutcomesRecordedElsewhere(ProjectFileStamp& stamp, db::TDbData& store,
                                            OwnOutcomes own, const QString& scratchFolder) {
    if (stamp.path.isEmpty() || !store.IsOpen() || scratchFolder.isEmpty())
        return OutcomesTaken::Unchanged;
    const ProjectFileStamp now = stampOf(stamp.path);
    if (now == stamp || now.size < 0)
        return OutcomesTaken::Unchanged;
    struct Scratch {
        QString folder;
        ~Scratch() { QDir(folder).removeRecursively(); }
    } scratch{scratchFolder + QStringLiteral("reread/")};
    if (!QDir().mkpath(scratch.folder))
        return OutcomesTaken::Failed;
    const QString theirCopy = scratch.folder + QStringLiteral("project.pzb");
    MailFileReadOptions read;
    read.previewFolder = scratch.folder;
    read.databaseTarget = [theirCopy] { return theirCopy; };
    const MailFileReadResult r = readMailFile(stamp.path, read, nullptr);
    if (!r.ok() || r.contents->kind != MailFileKind::Project ||
        r.contents->database != DatabaseOutcome::Written)
        return OutcomesTaken::Failed;

    std::optional<db::CRunAttachment::Outcomes> theirs;
    {
        db::CRunAttachment file(theirCopy, {});
        theirs = file.ReadOutcomes();
    }
    db::CRunAttachment mine(store.WorkingCopyPath(), {});
    const std::optional<db::CRunAttachment::Outcomes> ours = mine.ReadOutcomes();
    if (!theirs || !ours)
        return OutcomesTaken::Failed;
    const std::map<int, int> file(theirs->begin(), theirs->end());
    db::CRunAttachment::Outcomes changes;
    for (const auto& [id, outcome] : *ours) {
        const auto it = file.find(id);
        if (it == file.end())
            continue;  // added here since: the file knows nothing of it
        int merged = it->second;
        if (own == OwnOutcomes::Unsaved && it->second != 1 && outcome != 0)
            merged = outcome;
        if (merged != outcome)
            changes.emplace_back(id, merged);
    }
    const db::CRunAttachment::OutcomeWrite written =
        changes.empty() ? db::CRunAttachment::OutcomeWrite::Written : mine.WriteOutcomes(changes);
    mine.Detach();
    try {
        if (written == db::CRunAttachment::OutcomeWrite::Locked) {
            // a row holds an unsaved change of the window: its own transaction takes them,
            // and its save carries them into the file
            for (const auto& [id, outcome] : changes)
                store.UpdateFlags({db::RowFlag::Sent, outcome, db::FlagRows::Record, id});
        } else if (written != db::CRunAttachment::OutcomeWrite::Written) {
            return OutcomesTaken::Failed;
        }
        if (!changes.empty())
            store.RefreshLists();
    } catch (const db::StoreError& e) {
        store.ReportDroppedError("Taking the outcomes recorded by another run", e);
        return OutcomesTaken::Failed;
    }
    stamp = now;
    return OutcomesTaken::Taken;
}

}  // namespace pw::app
