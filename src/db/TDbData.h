#pragma once
// The one recipient store of the process (namespace pw::db).
//
// It never works on the user's file: opening copies the file to a numbered working copy in
// the private working-copy folder, and every read and write goes to that copy through one
// long main transaction (write, read committed, no wait) that only Save commits. A new
// database is born as a working copy. Text is UTF-8 in the file (character set NONE, so a
// VARCHAR(n) holds n bytes).
//
// All operations run on the user-interface thread except SetSentFlag, which the send worker
// calls; it uses a short transaction of its own on an added reference of the database handle.
// Store operations that the caller must guard throw StoreError (the engine's text); those
// named so catch and report their errors themselves (ReportDroppedError), to the store's own
// diagnostics function. No engine handle or engine exception leaves this library.

#include <QString>
#include <QStringList>
#include <array>
#include <atomic>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_set>
#include <vector>

#include "db/ListTerms.h"
#include "db/RecordCache.h"
#include "db/ServerLogin.h"
#include "db/StoreError.h"

namespace pw::db {

struct DbFolders {
    QString userDataFolder;     // holds "db_log.txt"; ends in '/'
    QString workingCopyFolder;  // holds the working copies "PZP_data_%d.pzb"; ends in '/'
};

enum class CreateResult {
    Created,   // the working copy exists with the full schema (detached)
    Exists,    // a file is at the path: the caller asks whether to replace it and calls again
    Declined,  // an existing file was kept
    Failed,    // logged; the caller tells the user "Could not create database. ..."
};
// What a creation does with a file already at the working copy path: report it (Exists),
// replace it, or keep it (Declined). The log tells the same story either way.
enum class ExistingFile { Report, Replace, Keep };
// Whether the last creation could write "db_log.txt" (it goes on without it).
enum class CreationLog { Written, NotWritten };
// How unsaved changes end before a close: committed, or rolled back.
enum class UnsavedChanges { Save, Discard };

// A list on a server opened, or why not, in the words the user is shown.
struct ServerOpenResult {
    QString failure;  // "Could not open the database on the server ..."; empty when open
    [[nodiscard]] bool opened() const { return failure.isEmpty(); }
    explicit operator bool() const { return opened(); }
};
enum class SaveMode { Retaining, Ending };
// Where the open list lives: a working copy of the user's file, or a database on a server.
enum class StoreKind { WorkingCopy, Server };
// How long a write on a server waits for a row another desktop holds before it gives up.
inline constexpr int kServerLockTimeoutSeconds = 10;
enum class CloseMode { DeleteWorkingCopy, KeepWorkingCopy };
// How duplicate values compare: byte for byte, or as mail addresses, where blanks around the
// value and the letter case of the domain (after the "@") make no difference.
enum class DuplicateComparison { Exact, MailAddress };
// A value as the mail-address comparison sees it.
[[nodiscard]] QString MailAddressKey(const QString& value);
enum class SendSelectionMode { All = 0, Marked = 1, NotSent = 2 };
// The pages the engine caches for a working copy. A send run reads its recipients once, a
// page of them at a time: a small cache keeps its memory flat however long the list, where
// the engine's default cache grows with the file up to 16 MB.
enum class PageCache { EngineDefault, Bounded };
inline constexpr int kBoundedPageBuffers = 256;
enum class SentFlagResult {
    Written,     // committed to the working copy
    NoDatabase,  // nothing open
    Failed,      // a database error (reported)
    Deferred,    // the row holds an unsaved change of the main transaction: kept and written
                 // right after the next save or discard (WritePendingSentFlags)
};

// Field k (1..20) is column ADDRESS, NAME, FIELD3 .. FIELD20.
[[nodiscard]] const std::array<QString, kFieldCount>& ColumnNames();
// Default caption of position i (0..19): string 421 + i ("Mail Address", "Name", "field3"...).
[[nodiscard]] QString DefaultCaption(int position);

// Records for a send run: N record IDs and 20 arrays of N field texts.
struct SendSelection {
    int count = 0;
    std::vector<int> ids;
    std::array<std::vector<QString>, kFieldCount> fields;  // fields[k][i]: field k+1 of record i
    bool failed = false;  // the database could not be read: empty, but not for want of records
};

// One record as a tool lists it: the ID, the flags and the 20 field texts (NULL as empty).
struct ListedRecord {
    int id = -1;
    int sent = 0;
    int selected = 0;
    std::array<QString, kFieldCount> fields;
};

struct GroupInfo {
    int id = -1;
    QString name;
};

// One record as the table stores it: the flags and the 20 field values as stored bytes (no
// value for NULL).
struct StoredRecord {
    int id = -1;
    int sent = 0;
    int selected = 0;
    std::array<std::optional<QByteArray>, kFieldCount> fields;
};
// Which transaction a walk over the records reads through: the main one (the document as the
// user sees it, unsaved changes included) or a short one of its own that sees what is
// committed.
enum class RecordView { MainTransaction, Committed };
enum class RecordOrder { Stored, ById };
// Every field, or only one (0..19; the others stay without value).
inline constexpr int kAllFields = -1;

// A caption to write: field position 0..19 and its text.
struct CaptionChange {
    int position = 0;
    QString caption;
};

class RecordImport;
class TDbData;
class CRecipientList;

// Where dropped database errors are told ("<operation> failed: <engine text>").
using DiagnosticSink = std::function<void(const QString&)>;
// Tells the sink, or standard error when there is none.
void ReportDroppedError(const DiagnosticSink& sink, const char* operation, const std::exception& e);

// The records of the store: reads of the whole table, the import, the record form, deletion,
// counts, duplicates and address checks (main transaction; throw StoreError).
class CStoreRecords {
public:
    // Walks the records (none while closed): visit returns false to stop.
    void ForEachRecord(RecordView view, RecordOrder order, int onlyField,
                       const std::function<bool(const StoredRecord&)>& visit);
    // The distinct non-empty values of field (0..19) in the main transaction; none while
    // closed or for another field.
    [[nodiscard]] QStringList DistinctFieldValues(int field);
    // The highest record ID the main transaction sees (its unsaved records too); 0 for none.
    [[nodiscard]] int HighestRecordId();
    // A load of rows new records in a transaction of its own, whose lock waits end after
    // lockTimeoutSeconds (0: no end); nothing while closed.
    [[nodiscard]] std::unique_ptr<RecordImport> BeginImport(int rows, int lockTimeoutSeconds);

    // Inserts a record with the ID after the highest one (not the generator), selected and not
    // sent; empty texts are stored as empty, not NULL. Returns the new ID.
    int AddRecord(const std::array<QString, kFieldCount>& texts);
    // Writes the 20 fields of one record; the flags stay as they are.
    void UpdateRecord(int recordId, const std::array<QString, kFieldCount>& texts);

    // A record that leaves a list's view (deleted, or out of the group shown) leaves its
    // cache at once, with the owner told.
    void DeleteRecord(int groupId, int recordId);
    // The same for many records through one prepared statement; the list is left as it was
    // for the caller's one refresh of its list.
    void DeleteRecords(int groupId, const std::vector<int>& recordIds);
    void DeleteAllRecords();
    int CountRecords();        // 0 with no database
    int CountRecordsOrNone();  // -1 with no database
    [[nodiscard]] int RecordCount() const;

    // Fills TEMP_DUBLIC_VALUES with the non-empty values of the field that more than one
    // record of the whole table holds (compared as stored bytes, or as mail addresses).
    // Returns how many distinct values that is. field is 0..19; another does nothing.
    int FindDuplicateValues(int field, DuplicateComparison comparison = DuplicateComparison::Exact);
    // Deletes a record and its memberships; it leaves the lists.
    void DeleteRecordEverywhere(int recordId);
    // Of each set of records of the whole table that share a non-empty value of the field,
    // keeps the first the ordered walk gives and deletes the others, through AUTODELDUBLIC's
    // body (the procedure is rewritten with it as well). Returns the records deleted.
    int DeleteAllDuplicates(int field, DuplicateComparison comparison = DuplicateComparison::Exact);
    // Deletes every record of the whole table whose value of the field has no "@" followed
    // later by a "." (NULL values included). Returns the records deleted.
    int DeleteRecordsWithoutAddress(int field);

private:
    friend class TDbData;
    explicit CStoreRecords(TDbData& store) : m_store(store) {}
    TDbData& m_store;
};

// Undo points inside the main transaction, for long commands that may be cancelled (throw
// StoreError).
class CUndoPoints {
public:
    void SetUndoPoint(const QString& name);
    void UndoToPoint(const QString& name);
    void ReleaseUndoPoint(const QString& name);

private:
    friend class TDbData;
    explicit CUndoPoints(TDbData& store) : m_store(store) {}
    TDbData& m_store;
};

// The groups of records (main transaction; throw StoreError).
class CStoreGroups {
public:
    // Every membership as (group ID, record ID), in the main transaction.
    [[nodiscard]] std::vector<std::pair<int, int>> ListGroupMemberships();
    int FindGroupByName(const QString& name);  // -1 if none
    int AddGroup(const QString& name);         // new ID, -1 with no database
    void RenameGroup(int groupId, const QString& name);
    void DeleteGroup(int groupId);
    void AddToGroup(int groupId, int recordId);  // errors (already a member) are dropped
    [[nodiscard]] std::vector<GroupInfo> ListGroups();

private:
    friend class TDbData;
    explicit CStoreGroups(TDbData& store) : m_store(store) {}
    TDbData& m_store;
};

// The captions of the 20 fields.
class CStoreCaptions {
public:
    // Reads MAIL_FIELDS (work transaction) into the caption table and the captions list.
    void LoadCaptions();
    // LoadCaptions, then every observer relabels (captionsReloaded).
    void ReloadCaptions();
    // Writes the captions list back through the main transaction; errors are dropped.
    void SaveCaptions();
    // Writes the changed captions in a transaction of its own (lock waits ending after
    // lockTimeoutSeconds, 0: no end) and commits it: a field without a row gets one
    // (ReplaceCaptionRow). Throws StoreError (nothing is committed then). The captions in
    // memory stay as they were until LoadCaptions.
    void WriteCaptions(const std::vector<CaptionChange>& changes, int lockTimeoutSeconds);
    // Caption of field k+1 (k = 0..19) and the list of "COLUMN=caption" entries.
    [[nodiscard]] const std::array<QString, kFieldCount>& Captions() const;
    void SetCaption(int position, const QString& caption);
    [[nodiscard]] const QStringList& CaptionsList() const;

private:
    friend class TDbData;
    explicit CStoreCaptions(TDbData& store) : m_store(store) {}
    TDbData& m_store;
};

// What a send run reads and writes: its recipients and their outcomes.
class CStoreSendRun {
public:
    [[nodiscard]] SendSelection LoadSendSelection(SendSelectionMode mode);
    // How many recipients LoadSendSelection(mode) would give now; -1 when it cannot be read.
    [[nodiscard]] int CountSendSelection(SendSelectionMode mode);
    // From the send worker: records the outcome (1 sent, 2 not sent) and commits it to the
    // working copy at once. A row locked by an unsaved change of the main transaction is not
    // waited for (the wait could only end when the user saves, and it would hold the shared
    // attachment meanwhile): the outcome is kept, reported, and written by
    // WritePendingSentFlags, which Save, the discard of ConfirmClose and Close call.
    SentFlagResult SetSentFlag(int recordId, int outcome);
    // Keeps an outcome that another attachment (the run's) found locked by an unsaved change:
    // written as SetSentFlag's deferred ones are. Any thread.
    void DeferSentFlag(int recordId, int outcome);
    // Writes the kept outcomes in short transactions of their own; returns how many remain.
    int WritePendingSentFlags();
    [[nodiscard]] int PendingSentFlags() const;

private:
    friend class TDbData;
    explicit CStoreSendRun(TDbData& store) : m_store(store) {}
    TDbData& m_store;
};

// Told when the store reloaded its captions (relabel the controls) and when an open database
// was (re)opened (the database editor refills its grid).
class IStoreObserver {
public:
    virtual ~IStoreObserver() = default;
    virtual void captionsReloaded() {}
    virtual void databaseOpened() {}
};

class TDbData {
public:
    explicit TDbData(DbFolders folders);
    ~TDbData();
    TDbData(const TDbData&) = delete;
    TDbData& operator=(const TDbData&) = delete;

    // Observers are told in the order they were added; each removes itself before it goes.
    void AddObserver(IStoreObserver* observer);
    void RemoveObserver(IStoreObserver* observer);
    // Replaces every observer by this one (none for nullptr).
    void SetObserver(IStoreObserver* observer);
    [[nodiscard]] const DbFolders& Folders() const { return m_folders; }

    // The dropped database errors of this store, and of everything that works on it (its
    // caches, the tools, the import), go to this function; without one, to standard error.
    // Any thread: the send worker reports through it too.
    void SetDiagnostics(DiagnosticSink sink);
    [[nodiscard]] DiagnosticSink Diagnostics() const;
    void ReportDroppedError(const char* operation, const std::exception& e) const;

    // ---- the file: creation, working copies, open, save, close ----

    // "StrFieldSize" for the next creation (50, 100, 150, 200 or 250; other values give 100).
    void SetStrFieldSize(int size);
    [[nodiscard]] int StrFieldSize() const { return m_strFieldSize; }
    // For the next Open or creation; the first attachment to a file in the process decides.
    void SetPageCache(PageCache cache) { m_pageCache = cache; }

    // A new working copy name "<folder>PZP_data_<n>.pzb" (smallest unused n), remembered as
    // the current working copy path. Creates the folder (mode 0700) if missing.
    QString MakeWorkingCopyPath();
    [[nodiscard]] const QString& WorkingCopyPath() const { return m_workingCopy; }

    // Creates the working copy at the current working copy path with the full schema, writing
    // "db_log.txt" in the user data folder; logPath is the path written to the log.
    [[nodiscard]] CreateResult CreateDatabase(const QString& logPath,
                                              ExistingFile existing = ExistingFile::Report);
    [[nodiscard]] CreationLog LastCreationLog() const { return m_creationLog; }
    // New working copy path, the user's file copied there.
    [[nodiscard]] bool CopyIn(const QString& file);
    // Attaches to the working copy and starts the main transaction. False if already open,
    // if the working copy is missing, or if it is not a database of this kind (then the
    // working copy is deleted).
    [[nodiscard]] bool Open();
    // Recovery: makes an existing working copy (left by a crashed run) the current one and
    // opens it in place, without copying. The file is kept when it cannot be opened.
    [[nodiscard]] bool OpenInPlace(const QString& workingCopy);
    // Close with delete, copy in, open, select all (the user's Open command and start-up).
    [[nodiscard]] bool OpenUserFile(const QString& file);
    // Closes what is open and attaches to a list on a Firebird server in place of a working
    // copy: the schema is made in an empty database, every change is committed as it is
    // made, and writes wait at most kServerLockTimeoutSeconds for a row held elsewhere.
    // WorkingCopyPath() names it afterwards for the run's own attachment. The caller tells
    // the user why it failed.
    [[nodiscard]] ServerOpenResult OpenServer(const ServerLogin& login);
    [[nodiscard]] StoreKind Kind() const { return m_kind; }
    // The server's database of an open list on a server; empty for a file.
    [[nodiscard]] QString ServerConnection() const;
    [[nodiscard]] QString ServerUser() const;
    // Writes the captions, commits the main transaction (retaining it or ending it), clears
    // the modified flag. False on any database error (transaction and flag stay as they were).
    [[nodiscard]] bool Save(SaveMode mode);
    // Commits and copies the working copy out to file (replacing it), then reopens.
    [[nodiscard]] bool SaveAs(const QString& file);
    // Before a close of a modified store, the user's choice: saved (retaining), or discarded.
    // The send run's kept outcomes are written either way. False when the save failed.
    [[nodiscard]] bool EndChanges(UnsavedChanges what);
    // Rolls back, detaches and, when asked, deletes the working copy and forgets its path.
    void Close(CloseMode mode);
    // The working copy holds what must outlive the document (the outcomes of a send run
    // whose other changes the user discards): a close that would delete it leaves it on disk
    // and forgets it instead. Cleared by that close.
    void SetWorkingCopyKept(bool kept) { m_workingCopyKept = kept; }

    [[nodiscard]] bool IsOpen() const;
    [[nodiscard]] bool IsModified() const { return m_modified.load(); }
    // A list on a server has nothing to save: its changes are committed as they are made.
    void SetModified() {
        if (m_kind == StoreKind::WorkingCopy)
            m_modified.store(true);
    }
    // Length of STANDARTSTRING read at the last open: the byte limit of a field value.
    [[nodiscard]] int StringFieldLength() const { return m_fieldLength; }

    // Open, with the main transaction started: the store can read and write.
    [[nodiscard]] bool CanWrite() const;
    // After a write that met another desktop's change of its record (CellWrite::ChangedElsewhere,
    // or a record form's refused save): what the user is told, "Someone else changed this
    // record meanwhile ..." with its values now; once, nothing otherwise.
    [[nodiscard]] std::optional<QString> TakeChangedElsewhere();

    // ---- the parts of the store ----

    [[nodiscard]] CStoreRecords& Records() { return *m_records; }
    [[nodiscard]] CUndoPoints& UndoPoints() { return *m_undoPoints; }
    [[nodiscard]] CStoreGroups& Groups() { return *m_groups; }
    [[nodiscard]] CStoreCaptions& FieldCaptions() { return *m_fieldCaptions; }
    [[nodiscard]] const CStoreCaptions& FieldCaptions() const { return *m_fieldCaptions; }
    [[nodiscard]] CStoreSendRun& SendRun() { return *m_sendRun; }

    // ---- the lists ----

    // The most records a list shows, an import fills and Add Record allows (the preference
    // "RecordLimit", kept within kDefaultRecordLimit..kMaxRecordLimit).
    void SetRecordLimit(int limit);
    [[nodiscard]] int RecordLimit() const { return m_recordLimit; }
    // Every list reads its view anew (records changed under them). Throws StoreError.
    void RefreshLists();
    // The flag update over the whole table (main transaction; throws StoreError).
    void UpdateFlags(const FlagUpdate& update);
    // Every record selected, then saved (a file just opened).
    void SelectAllAfterOpen();

private:
    friend struct StoreHandles;
    friend class CStoreRecords;
    friend class CUndoPoints;
    friend class CStoreGroups;
    friend class CStoreCaptions;
    friend class CStoreSendRun;
    friend class CRecipientList;
    // The engine's handles (db/StoreEngine.h).
    struct Engine;
    QByteArray Convert(const QString& sql) const { return sql.toUtf8(); }
    bool OpenCurrent(bool deleteOnFailure);
    void ReadFieldLength();
    void ReleaseList();
    // The column a list filters or sorts field k by: the captions' own, when it names a field.
    [[nodiscard]] QString ListColumn(int field) const;
    void Exec(const QString& sql);
    // A bulk update: on a server in a short transaction of its own (unless an undo point is
    // open), on a working copy in the main transaction.
    void RunUpdate(const QString& statement);
    // After each change: marks a working copy modified; on a server commits it (unless an
    // undo point is open: a long command then commits as a whole when it is released).
    void Changed();
    void CommitServerChange();
    bool EnsureServerSchema();
    // A write on a server met another desktop's change of the record: its value now is kept
    // for the caller to tell (TakeChangedElsewhere), and the grid shows it.
    void NoteChangedElsewhere(int recordId, int row, CRecipientList* list);

    DbFolders m_folders;
    mutable std::mutex m_sinkMutex;
    DiagnosticSink m_sink;
    std::vector<IStoreObserver*> m_observers;
    int m_strFieldSize = 100;
    const QStringList m_script;
    QString m_workingCopy;
    CreationLog m_creationLog = CreationLog::Written;
    std::optional<QString> m_changedElsewhere;

    std::unique_ptr<Engine> m_engine;
    std::atomic<bool> m_modified{false};
    int m_fieldLength = 100;
    PageCache m_pageCache = PageCache::EngineDefault;
    bool m_workingCopyKept = false;
    StoreKind m_kind = StoreKind::WorkingCopy;

    std::vector<CRecipientList*> m_lists;  // in the order they were made
    int m_recordLimit = kDefaultRecordLimit;
    int m_recordCount = 0;

    std::array<QString, kFieldCount> m_captions;
    QStringList m_captionsList;
    mutable std::mutex m_pendingMutex;
    std::map<int, int> m_pendingOutcomes;    // record ID -> outcome not yet written
    std::map<QString, bool> m_undoModified;  // undo point -> modified flag when it was set

    std::unique_ptr<CStoreRecords> m_records;
    std::unique_ptr<CUndoPoints> m_undoPoints;
    std::unique_ptr<CStoreGroups> m_groups;
    std::unique_ptr<CStoreCaptions> m_fieldCaptions;
    std::unique_ptr<CStoreSendRun> m_sendRun;
};

}  // namespace pw::db
