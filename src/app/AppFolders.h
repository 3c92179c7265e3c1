#pragma once
// The folders the program works in. All names are fixed; the program never asks where to
// put them. Every folder text ends in '/'.

#include <QCoreApplication>
#include <QString>
#include <memory>

#include "compose/TemplatePlaces.h"

namespace pw::app {

struct AppFolders {
    QString programFolder;      // the executable's folder, "Debug"/"Release" tails cut off
    QString userDataFolder;     // $XDG_DATA_HOME/Postwick/: settings, logs
    QString tempFolder;         // private per-user temporary folder (mode 0700)
    QString workingCopyFolder;  // private per-user folder of database working copies

    [[nodiscard]] QString mainPreviewFolder() const { return tempFolder + "PostwickMainPreview/"; }
    [[nodiscard]] QString wizardPreviewFolder() const {
        return tempFolder + "PostwickWizardPreview/";
    }
    // the user's own mail and HTML templates; the shipped ones are read from the program's data
    [[nodiscard]] QString templateFolder() const { return userDataFolder + "Template/"; }
    [[nodiscard]] QString htmlTemplateFolder() const { return userDataFolder + "HTML TEMPLATE/"; }
    [[nodiscard]] QString logFilePath() const { return userDataFolder + "log.txt"; }
    // The settings file: the executable's base name with ".ini".
    [[nodiscard]] QString settingsPath(const QString& executableBaseName) const {
        return userDataFolder + executableBaseName + ".ini";
    }
};

// The program folder from the executable's folder: from the first "Debug" on everything is
// cut off, then the same for "Release" ("/work/Debug/" gives "/work/").
[[nodiscard]] QString ProgramFolderFrom(const QString& executableFolder);

// A private folder for this user below `parent`: created with mode 0700 if missing; an
// existing one must be a real folder owned by the user with no access for others. Returns
// the folder (ending in '/') or an empty text.
[[nodiscard]] QString PrivateFolder(const QString& parent, const QString& name);

// Works the folders out from the environment (XDG_DATA_HOME, XDG_STATE_HOME,
// XDG_RUNTIME_DIR, HOME) and the executable's folder. Creates nothing but the private
// temporary folder, which must exist before its name can be trusted.
[[nodiscard]] AppFolders DetermineFolders(const QString& executableFolder);

// A command-line mode's start: the core application, made here when the caller has none (the
// handle keeps it alive), and the folders worked out from its executable.
struct CommandLineStart {
    std::unique_ptr<QCoreApplication> ownApp;
    AppFolders folders;
};
[[nodiscard]] CommandLineStart StartCommandLine();

enum class FolderResult { Ok, Failed };

// Creates a folder if missing (mode 0700); "CreateDirectory failed (%d)\n" with the system error
// number on standard output when that fails for another reason than "already exists". An
// existing folder of the user's that others can enter is closed to them.
[[nodiscard]] FolderResult CreateFolder(const QString& path);
// The mail templates and the HTML templates: the user's own and the shipped ones.
[[nodiscard]] TemplatePlaces MailTemplatePlaces(const AppFolders& f);
[[nodiscard]] TemplatePlaces HtmlTemplatePlaces(const AppFolders& f);

// Creates the two preview folders and the user's "Template/"; shipped data is never touched.
void CreateWorkingFolders(const AppFolders& f);
// Deletes every file (not subfolders) directly in a folder.
void EmptyFolder(const QString& folder);
// Copies every file (not subfolders) of one folder into another, replacing files of the same
// name.
void CopyFolderFiles(const QString& from, const QString& to);
// Removes the preview folders ("PostwickSend-<pid>") that command-line runs killed before
// their end left in the temporary folder; a folder whose process still runs is kept.
void RemoveStaleSendFolders(const QString& tempFolder);
// Deletes every "*.pzb" file directly in a folder.
void DeleteDatabaseFiles(const QString& folder);

}  // namespace pw::app
