#pragma once
// The engine side of the recipient store, for the store's own files, the other parts of this
// library and its tests: the attachment and the main transaction the store holds, and the
// helpers that work on engine handles. Nothing outside src/db includes it (tests/arch checks
// that).

#include <QString>
#include <QStringList>
#include <mutex>
#include <optional>

#include "db/IBPP.h"
#include "db/TDbData.h"

namespace pw::db {

// How every database file of this library is attached and created. Character set NONE rather
// than ASCII: the engine refuses every byte above 127 in an ASCII column, and NONE keeps "n
// bytes per VARCHAR(n)" for the UTF-8 text stored.
inline constexpr const char* kEngineUser = "SYSDBA";
inline constexpr const char* kEnginePassword = "vellumcap";
inline constexpr const char* kEngineCharSet = "NONE";
inline constexpr const char* kEngineCreateParams = "PAGE_SIZE 8192 DEFAULT CHARACTER SET NONE";

// The handle and the main transaction, empty while closed.
struct TDbData::Engine {
    mutable std::mutex dbMutex;  // guards db for the send worker's added reference
    IBPP::Database db;
    IBPP::Transaction mainTr;
    // On a server only: the lists read through a read-only read-committed transaction, which
    // holds back nobody's garbage collection however long a grid keeps its cursor.
    IBPP::Transaction readTr;

    [[nodiscard]] const IBPP::Transaction& ListTransaction() const {
        return readTr ? readTr : mainTr;
    }

    [[nodiscard]] IBPP::Database Database() const {
        std::lock_guard<std::mutex> lock(dbMutex);
        return db;
    }
};

// The one way user text reaches SQL: a string literal, quotes doubled ("O'Brien" -> 'O''Brien').
[[nodiscard]] QString SqlLiteral(const QString& text);
// The column name of a recipient field ("ADDRESS", "NAME", "FIELD3" .. "FIELD20", in any
// case) as SQL takes it; empty for any other text, so that a name read from a database file
// never becomes part of a statement.
[[nodiscard]] QString FieldColumn(const QString& name);

// A flag update's pieces: "SENDED = 1" and the condition of the rows it reaches.
[[nodiscard]] QString FlagAssignment(const FlagUpdate& update);
[[nodiscard]] QString FlagRowsCondition(const FlagUpdate& update);
// The value a comparison of duplicates looks at, as an expression of the engine.
[[nodiscard]] QString DuplicateKey(const QString& column, DuplicateComparison comparison);

// The schema of a new database, statement by statement ("%STR_SIZE%" for the field size).
[[nodiscard]] QStringList creationScript();

// A new, not yet connected handle on a working copy, as the store opens it with a bounded
// page cache (a send run's own attachment).
[[nodiscard]] IBPP::Database WorkingCopyDatabase(const QString& path);

// ---- lists on a server ----
// A store that opens a list on a server names it by a path of its own in the working-copy
// folder (no file is ever made there): the run markers and the run's own attachment go by that
// path, and every attachment made for it reaches the server with the login registered here.
void RegisterServer(const QString& path, const ServerLogin& login);
[[nodiscard]] std::optional<ServerLogin> RegisteredServer(const QString& path);
// A new, not yet connected handle on the server's database.
[[nodiscard]] IBPP::Database ServerDatabase(const ServerLogin& login);
// The run lock of a list on a server: row 1 is held (updated, never committed) by the run's
// attachment while it sends; row 2 names who that is.
inline constexpr const char* kRunLockTable = "RUN_LOCK";
// A table of the lists shared on the server (SharedLists.h): true when it is there. When it
// is missing and `create` says so it is made by `ddl` (statements up to a null) and granted
// to everybody who may open the list.
enum class CreateTable { IfMissing, No };
[[nodiscard]] bool EnsureSharedTable(const IBPP::Database& db, const char* name,
                                     const char* const* ddl, CreateTable create);

// ---- caption rows (the field-name dialog, the import, the template reader) ----
// Each works on the caller's database and started transaction with a statement of its own,
// and tells its dropped errors to the sink given.

// Binds the caption and the column name (upper-cased) to statementText
// ("UPDATE MAIL_FIELDS SET CAPTION = ? WHERE FIELD = ?" or the import's
// "UPDATE MAIL_FIELDS SET CAPTION=? WHERE FIELD=?"); true exactly when one row changed.
[[nodiscard]] bool UpdateCaption(const IBPP::Database& db, const IBPP::Transaction& tr,
                                 const QString& statementText, const QString& columnName,
                                 const QString& caption, const DiagnosticSink& diagnostics);
// Deletes the field's row and inserts it anew with the caption; a failure leaves the old row.
inline const QString kInsertCaptionRow =
    QStringLiteral("INSERT INTO MAIL_FIELDS (FIELD,CAPTION) VALUES (?,?)");
void ReplaceCaptionRow(const IBPP::Database& db, const IBPP::Transaction& tr,
                       const QString& insertText, const QString& columnName, const QString& caption,
                       const DiagnosticSink& diagnostics);

}  // namespace pw::db
