#pragma once
// The life of the process apart from its windows: the folders, the settings, the recipient
// store, the fresh document and the close sequence. The main window drives it; tests drive
// it headless with a scripted user.

#include <QRect>
#include <QString>
#include <functional>
#include <memory>

#include "app/AppFolders.h"
#include "app/ProjectStore.h"
#include "app/Settings.h"
#include "compose/MailDocument.h"
#include "db/TDbData.h"
#include "resources/UserInteraction.h"
#include "send/SendLog.h"

namespace pw::app {

class CAppSession {
public:
    CAppSession(AppFolders folders, QString settingsPath, IUserInteraction& ui);
    ~CAppSession();

    enum class StartResult { Ready, EndProcess };
    // Working folders created and emptied, the user data folder created (its failure ends
    // start-up), the recipient store made.
    [[nodiscard]] StartResult Start();

    // Reads every setting from the settings file (main-window initialisation).
    void ReadSettingsFile();
    [[nodiscard]] Settings& settings() { return m_settings; }
    // The send log of the window's runs and connection tests ("log.txt" once started).
    [[nodiscard]] send::CSendLog& sendLog() { return m_sendLog; }
    [[nodiscard]] const AppFolders& folders() const { return m_folders; }
    [[nodiscard]] const QString& settingsPath() const { return m_settingsPath; }
    [[nodiscard]] db::TDbData& store() { return *m_store; }
    [[nodiscard]] IUserInteraction& ui() { return m_ui; }

    // Offers to write back the outcomes of send runs that were killed part-way (their
    // working copies are still there) into their project files.
    void OfferRecovery();

    enum class FreshResult { Ready, EndProcess };
    // Closes the store (deleting its working copy), empties the preview folders, opens the
    // default database as a working copy or creates an empty one. EndProcess when no database
    // could be created (the user has been told).
    [[nodiscard]] FreshResult PrepareFreshDocument();
    // The recipient field of a fresh document: the placeholder of "DefaultRecipientField".
    [[nodiscard]] QString FreshRecipientText() const;
    // Whether the default database was opened at the last fresh document.
    [[nodiscard]] bool DefaultDatabaseOpen() const { return m_defaultDbOpen; }

    // The mail being composed.
    [[nodiscard]] MailDocument& document() { return m_document; }
    // The scheduled-sending values: process-wide, carried through every project file.
    [[nodiscard]] ScheduledSending& scheduled() { return m_scheduled; }
    // The user's database file the working copy was made from (the default database, or one
    // the database editor opened or saved); empty for a new or a project's database.
    [[nodiscard]] const QString& databaseFile() const { return m_databaseFile; }
    void setDatabaseFile(const QString& path) { m_databaseFile = path; }

    enum class ReplaceResult { Replaced, Cancelled, Refused };
    // The database editor's "Open a database file": asks before replacing a database file
    // that is set (and the store asks about unsaved edits); a file that is no database of
    // this kind is refused with a message before anything is closed.
    [[nodiscard]] ReplaceResult ReplaceDatabase(const QString& file);

    // Opens a project file named on the command line, with its recipient database. False
    // (after the message) when it cannot be opened; the caller then prepares a fresh document.
    [[nodiscard]] bool OpenProjectFile(const QString& path);

    // The project file as this window last read or wrote it.
    [[nodiscard]] ProjectFileStamp& projectStamp() { return m_projectStamp; }
    // Outcomes that another process (the command line) recorded into the project file since:
    // into the store, before a choice of recipients is offered or the project is saved.
    [[nodiscard]] OutcomesTaken TakeOutcomesRecordedElsewhere(OwnOutcomes own);

    enum class CloseResult { Closed, Cancelled };
    // The close sequence. saveDocument is asked to save the mail document when it is
    // modified and the user says Yes; it returns false when that did not happen. discarded
    // is told when the user says No, before anything is closed.
    [[nodiscard]] CloseResult Close(bool documentModified,
                                    const std::function<bool()>& saveDocument,
                                    const std::function<void()>& cancelSendRun,
                                    const std::function<void()>& discarded = {});
    // Ends without the close sequence (Getting Started left with "Exit"): nothing is asked
    // and no setting written, but the working copy, the "*.pzb" files of the user data folder
    // and the preview folders' files still go, as they would at a close.
    void Abandon();
    // Stores a window position under its name in "WINDOW" (load, set, save).
    void SavePlacement(const QString& name, const WindowPlacement& placement) const;
    // Writes the Auto Frame characters into the settings file at once: a program that ends
    // any other way than its close sequence would lose them.
    void SaveAutoFrameText() const;
    [[nodiscard]] QString LoadPlacementText(const QString& name) const;

private:
    AppFolders m_folders;
    QString m_settingsPath;
    IUserInteraction& m_ui;
    Settings m_settings;
    send::CSendLog m_sendLog;
    std::unique_ptr<db::TDbData> m_store;
    MailDocument m_document;
    ScheduledSending m_scheduled;
    QString m_databaseFile;
    bool m_defaultDbOpen = false;
    ProjectFileStamp m_projectStamp;
};

}  // namespace pw::app
