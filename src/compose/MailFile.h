#pragma once
// Project files (".pzy": the whole mail, its HTML files and a copy of the recipient database)
// and mail template files (".pzt": header texts, body and the twenty field captions).
//
// Both share one binary container: big-endian numbers, texts preceded by their lengths or in
// zero-padded 256-byte slots, a four-byte kind tag of which only the fourth byte counts.
// The functions here read and write the files; the commands around them (dialogs, the
// recipient store's close and reopen) belong to their callers.

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "compose/CodePage.h"
#include "compose/MailDocument.h"

namespace pw {

class IUserInteraction;

enum class MailFileKind {
    OldTemplate,  // 'A', read only
    Project,      // 'D'
    Template,     // 'E'
};

inline constexpr int kFieldCaptionCount = 20;

// What became of the database a project file may carry.
enum class DatabaseOutcome {
    NotInFile,    // no "DBYF" section: the database in use stays
    NotWanted,    // the caller gave no target; the bytes were not written
    Written,      // the bytes are now in MailFileContents::databasePath
    WriteFailed,  // the target could not be written (nothing left there)
};

struct MailFileReadOptions {
    // Main preview folder: its files are replaced by the HTML mail's files. Files of the
    // project go there and nowhere else, whatever names the file gives them.
    QString previewFolder;
    // Called once, only when the file carries a database, just before its bytes are written:
    // returns the path of the new working copy (the caller closes the store, deleting the
    // old copy, and makes the path). An empty path, or no callback, drops the bytes.
    std::function<QString()> databaseTarget;
    // The current charset's code page: sender name, subject and body.
    CodePage currentCodePage = CodePage::utf8();
};

struct MailFileContents {
    MailFileKind kind = MailFileKind::Project;
    // Header texts, body and, for a project, attachments, HTML template name, picture list
    // (the files now in the preview folder) and the project settings; projectFilePath is the
    // path read; the modified flag is clear.
    MailDocument document;
    // Only a project file carries them; otherwise the process keeps its values.
    std::optional<ScheduledSending> scheduled;
    // Only a template file (kind E) carries them: twenty captions in field order.
    std::optional<QStringList> captions;
    DatabaseOutcome database = DatabaseOutcome::NotInFile;
    QString databasePath;
    // The list on a database server the project was saved with; empty: its own database.
    QString serverList;
    QString serverUser;
    // false when a later section was cut off or damaged and its rest was given up (the
    // document holds what came before, as the program always read such files).
    bool complete = true;
};

struct MailFileReadResult {
    std::optional<MailFileContents> contents;  // nullopt: the file cannot be opened
    QString failure;                           // why, for logs and the command line
    [[nodiscard]] bool ok() const { return contents.has_value(); }
};

// Reads a project or template file of any kind A, D or E. The fixed part (header, texts,
// settings block, captions) must be whole, or nothing is changed and the result fails; after
// it the preview folder is emptied and the rest is read as far as it is sound. With a user
// interface, a failure shows "This file cannot be opened." (caption "Load"); without one
// (Select Template) nothing is shown.
[[nodiscard]] MailFileReadResult readMailFile(const QString& path,
                                              const MailFileReadOptions& options,
                                              IUserInteraction* ui);

enum class WriteStatus {
    Written,
    Refused,  // a text does not fit its place in the file; nothing was written
    Failed,   // the file or one of its sources could not be written or read
};

struct WriteResult {
    WriteStatus status = WriteStatus::Failed;
    QString message;  // what the user was (or would be) told
    [[nodiscard]] bool ok() const { return status == WriteStatus::Written; }
};

struct ProjectWriteOptions {
    // Main preview folder: with an HTML template name, every file directly in it is stored.
    QString previewFolder;
    // The recipient database's working copy, stored whole after "DBYF" (the caller has saved
    // it and closed the store keeping the copy). Empty: the project carries no database.
    QString workingCopyPath;
    CodePage currentCodePage = CodePage::utf8();
    // The list on a database server and its user, remembered in place of a database.
    QString serverList{};
    QString serverUser{};
};

// Writes a project file (kind D). A new file is written beside the old one and replaces it only
// when complete, so a failure half-way leaves the previous file as it was. Texts that do not
// fit their places are refused before anything is written. Messages go to the user interface
// when one is given.
[[nodiscard]] WriteResult writeProjectFile(const QString& path, const MailDocument& document,
                                           const ScheduledSending& scheduled,
                                           const ProjectWriteOptions& options,
                                           IUserInteraction* ui);

// Writes a template file (kind E): header texts, body (at most 65,535 bytes here), empty server
// slots and the twenty captions (missing ones are written empty).
[[nodiscard]] WriteResult writeTemplateFile(const QString& path, const MailDocument& document,
                                            const QStringList& captions,
                                            const CodePage& currentCodePage, IUserInteraction* ui);

// The name under which a project's HTML file is written into the preview folder: the part
// after the last '/' or '\'; nullopt for a name that must not be written (empty, "." or "..").
[[nodiscard]] std::optional<QString> previewFileName(const QString& storedName);

// The scheduled time as the six local-time fields the file stores (year, month, day, hour,
// minute, second); year, month, day 0 and the rest 0xFFFF when it has no local time.
struct LocalTimeFields {
    quint16 year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    friend bool operator==(const LocalTimeFields&, const LocalTimeFields&) = default;
};
[[nodiscard]] LocalTimeFields toLocalTimeFields(qint64 secondsSinceEpoch);
// The reverse, daylight saving decided by the date; 0 for fields that name no local time.
[[nodiscard]] qint64 fromLocalTimeFields(const LocalTimeFields& fields);

}  // namespace pw
