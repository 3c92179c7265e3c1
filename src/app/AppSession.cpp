#include "app/AppSession.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include "app/Keyring.h"
#include "app/ProjectStore.h"
#include "app/RecentList.h"
#include "app/RunRecovery.h"
#include "app/StartupCleanup.h"
#include "dbtools/StoreQuestions.h"
#include "send/SendLog.h"

#include "resources/DisplayLocale.h"
#include "resources/Strings.h"

namespace pw::app {

CAppSession::CAppSession(AppFolders folders, QString settingsPath, IUserInteraction& ui)
    : m_folders(std::move(folders)), m_settingsPath(std::move(settingsPath)), m_ui(ui) {}

CAppSession::~CAppSession() = default;

CAppSession::StartResult CAppSession::Start() {
    CreateWorkingFolders(m_folders);
    EmptyFolder(m_folders.mainPreviewFolder());
    EmptyFolder(m_folders.wizardPreviewFolder());
    RemoveStaleSendFolders(m_folders.tempFolder);
    // what killed runs and windows left: only what no live process uses and no run needs
    (void)RemoveStaleFallbackFolders(QDir::tempPath(), m_folders.tempFolder);
    if (CreateFolder(m_folders.userDataFolder) == FolderResult::Failed)
        return StartResult::EndProcess;
    (void)CreateFolder(m_folders.workingCopyFolder);
    (void)RemoveOrphanedWorkingCopies(m_folders.workingCopyFolder);
    m_sendLog.setPath(m_folders.logFilePath());
    m_store = std::make_unique<db::TDbData>(
        db::DbFolders{m_folders.userDataFolder, m_folders.workingCopyFolder});
    // Its dropped database errors go where the window tells them (the send log holds what
    // runs and connection tests record, and keeps nothing written before the first of them).
    m_store->SetRecordLimit(m_settings.recordLimit);
    return StartResult::Ready;
}

void CAppSession::ReadSettingsFile() {
    CIniFile ini(m_settingsPath);
    (void)ini.Load();  // a missing or damaged file leaves the defaults
    m_settings = ReadSettings(ini);
    ApplyShareListsChoice(m_settings);
    LoadSecrets(m_settings, processKeyring());
    if (m_store)
        m_store->SetRecordLimit(m_settings.recordLimit);
}

QString CAppSession::FreshRecipientText() const {
    const int field = m_settings.defaultRecipientField;
    if (field < 0 || field >= db::kFieldCount)
        return {};
    const QString caption = m_store && m_store->IsOpen()
                                ? m_store->FieldCaptions().Captions()[field]
                                : db::DefaultCaption(field);
    return "[[" + caption + "]]";
}

void CAppSession::OfferRecovery() {
    const std::vector<send::InterruptedRun> runs =
        send::findInterruptedRuns(m_folders.workingCopyFolder);
    if (runs.empty())
        return;
    const QString scratch = PrivateFolder(m_folders.tempFolder, QStringLiteral("PostwickRecovery"));
    for (const send::InterruptedRun& run : runs) {
        if (!run.projectUnchanged()) {
            if (ProjectHoldsRunOutcomes(run, scratch, MailCodePage(m_settings.encode))) {
                // killed between its write-back and the marker's removal: nothing to recover
                send::discardMarker(run);
                QFile::remove(run.workingCopy);
                continue;
            }
            // saved since the run: the file's own outcomes are newer than the copy's
            inform(m_ui, str(ids::kRecoveryOutdated).arg(run.projectPath));
            send::discardMarker(run);
            QFile::remove(run.workingCopy);
            continue;
        }
        const QString when =
            displayLocale().toString(run.started.toLocalTime(), QLocale::ShortFormat);
        const int offer = run.unsaved ? ids::kRecoveryOfferUnsaved : ids::kRecoveryOffer;
        if (ask(m_ui, str(offer).arg(run.projectPath, when), MessageKind::YesNoCancel) !=
            Answer::Yes)
            continue;  // kept: offered again at the next start, and "--send" picks it up
        QString inFlight;
        switch (RecoverInterruptedRun(run, scratch, MailCodePage(m_settings.encode), &inFlight)) {
            case RecoveryResult::Written:
                inform(m_ui, inFlight.isEmpty() ? str(ids::kRecoveryDone)
                                                : str(ids::kRecoveryDone) + QLatin1Char('\n') +
                                                      str(ids::kRecoveryInFlight).arg(inFlight));
                break;
            case RecoveryResult::ProjectChanged:
                inform(m_ui, str(ids::kRecoveryOutdated).arg(run.projectPath));
                break;
            case RecoveryResult::Failed:
                inform(m_ui, str(ids::kRecoveryFailed));
                break;
        }
    }
}

OutcomesTaken CAppSession::TakeOutcomesRecordedElsewhere(OwnOutcomes own) {
    if (m_projectStamp.path.isEmpty())
        return OutcomesTaken::Unchanged;
    return takeOutcomesRecordedElsewhere(
        m_projectStamp, *m_store, own,
        PrivateFolder(m_folders.tempFolder, QStringLiteral("PostwickReread")));
}

CAppSession::FreshResult CAppSession::PrepareFreshDocument() {
    m_projectStamp = {};
    m_store->Close(db::CloseMode::DeleteWorkingCopy);
    EmptyFolder(m_folders.mainPreviewFolder());
    EmptyFolder(m_folders.wizardPreviewFolder());

    // "DefaultDBPath" is read anew each time: the default-database command may have set it
    CIniFile ini(m_settingsPath);
    (void)ini.Load();
    const QString defaultDb = ini.GetText(kSetup, "DefaultDBPath", QString());
    m_store->SetStrFieldSize(m_settings.strFieldSize);

    if (!defaultDb.isEmpty()) {
        if (!QFileInfo(defaultDb).isFile()) {
            inform(m_ui, str(ids::kDefaultDbNotFound));
        } else if (m_store->OpenUserFile(defaultDb)) {
            m_defaultDbOpen = true;
            m_databaseFile = defaultDb;
            clearDocument(m_document, FreshRecipientText());
            return FreshResult::Ready;
        } else {
            // present but no database of ours: say so rather than "not found"
            inform(m_ui, str(ids::kDefaultDbUnreadable));
        }
    }
    m_defaultDbOpen = false;
    m_databaseFile.clear();
    const QString path = m_store->MakeWorkingCopyPath();
    if (dbtools::CreateDatabase(*m_store, path, m_ui) != db::CreateResult::Created)
        return FreshResult::EndProcess;
    if (!m_store->Open()) {
        // nothing usable exists: the same as a failed creation
        inform(m_ui, str(ids::kCouldNotCreateDatabase) + supportAddress());
        return FreshResult::EndProcess;
    }
    clearDocument(m_document, FreshRecipientText());
    return FreshResult::Ready;
}

CAppSession::ReplaceResult CAppSession::ReplaceDatabase(const QString& file) {
    if (!m_databaseFile.isEmpty() &&
        ask(m_ui, str(ids::kReplaceProjectDatabase), MessageKind::YesNo) != Answer::Yes)
        return ReplaceResult::Cancelled;
    if (m_store->IsOpen() && !dbtools::ConfirmClose(*m_store, m_ui))
        return ReplaceResult::Cancelled;
    {
        // Opening closes the current database for good: the file is tried on a copy of its
        // own first, so that a wrong file leaves the user with what they had.
        db::TDbData probe(m_store->Folders());
        const bool usable = probe.OpenUserFile(file);
        probe.Close(db::CloseMode::DeleteWorkingCopy);
        if (!usable) {
            inform(m_ui, str(ids::kNotADatabaseFile).arg(file));
            return ReplaceResult::Refused;
        }
    }
    m_store->SetStrFieldSize(m_settings.strFieldSize);
    if (!m_store->OpenUserFile(file)) {
        // it could be read a moment ago: go on with an empty database rather than none
        if (dbtools::CreateDatabase(*m_store, m_store->MakeWorkingCopyPath(), m_ui) !=
                db::CreateResult::Created ||
            !m_store->Open())
            inform(m_ui, str(ids::kStoreNotReopened));
        m_databaseFile.clear();
        inform(m_ui, str(ids::kNotADatabaseFile).arg(file));
        return ReplaceResult::Refused;
    }
    m_databaseFile = file;
    m_defaultDbOpen = false;
    return ReplaceResult::Replaced;
}

bool CAppSession::OpenProjectFile(const QString& path) {
    m_store->SetStrFieldSize(m_settings.strFieldSize);
    const MailFileReadResult r = openProject(path, m_folders.mainPreviewFolder(), *m_store,
                                             MailCodePage(m_settings.encode), &m_ui);
    if (!r.ok() || !m_store->IsOpen())
        return false;
    m_document = r.contents->document;
    m_projectStamp = stampOf(path);
    if (r.contents->scheduled)
        m_scheduled = *r.contents->scheduled;
    // the list now is the project's own copy or a server's, no file of the user's
    if (r.contents->database == DatabaseOutcome::Written || !r.contents->serverList.isEmpty())
        m_databaseFile.clear();
    CRecentList(m_folders.userDataFolder).addProject(path);
    return true;
}

CAppSession::CloseResult CAppSession::Close(bool documentModified,
                                            const std::function<bool()>& saveDocument,
                                            const std::function<void()>& cancelSendRun,
                                            const std::function<void()>& discarded) {
    if (documentModified) {
        const Answer a = m_ui.message(str(ids::kConfirmSaveCaption), str(ids::kDocumentNotSaved),
                                      MessageKind::YesNoCancel);
        if (a == Answer::Cancel)
            return CloseResult::Cancelled;
        if (a == Answer::Yes && saveDocument && !saveDocument())
            return CloseResult::Cancelled;
        if (a == Answer::No && discarded)
            discarded();
    }
    if (cancelSendRun)
        cancelSendRun();

    CIniFile ini(m_settingsPath);
    (void)ini.Load();
    WriteSettings(ini, m_settings);
    StoreSecrets(ini, m_settings, processKeyring());
    ini.SaveTelling(m_ui);  // an unwritable file loses this run's settings, nothing else

    if (m_store)
        m_store->Close(db::CloseMode::DeleteWorkingCopy);
    DeleteDatabaseFiles(m_folders.userDataFolder);
    EmptyFolder(m_folders.mainPreviewFolder());
    EmptyFolder(m_folders.wizardPreviewFolder());
    return CloseResult::Closed;
}

void CAppSession::Abandon() {
    if (m_store)
        m_store->Close(db::CloseMode::DeleteWorkingCopy);
    DeleteDatabaseFiles(m_folders.userDataFolder);
    EmptyFolder(m_folders.mainPreviewFolder());
    EmptyFolder(m_folders.wizardPreviewFolder());
}

void CAppSession::SavePlacement(const QString& name, const WindowPlacement& placement) const {
    CIniFile ini(m_settingsPath);
    (void)ini.Load();
    ini.SetText(kWindow, name, FormatPlacement(placement));
    ini.SaveTelling(m_ui);
}

void CAppSession::SaveAutoFrameText() const {
    CIniFile ini(m_settingsPath);
    (void)ini.Load();
    ini.SetText(kHistory, "AutoBoxText", m_settings.autoBoxText);
    ini.SaveTelling(m_ui);
}

QString CAppSession::LoadPlacementText(const QString& name) const {
    CIniFile ini(m_settingsPath);
    (void)ini.Load();
    return ini.GetText(kWindow, name, QStringLiteral("-10000,-10000,800,600,1"));
}

}  // namespace pw::app
