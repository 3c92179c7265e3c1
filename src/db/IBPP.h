#pragma once
// A small object layer over the Firebird client library, bound at run time.
//
// Handles are reference counted (std::shared_ptr): copies share one object and the last
// release frees it (a statement closes its engine statement, a transaction still started is
// rolled back, an attached database is detached; errors during that clean-up are ignored).
// Objects are not shared between threads at the same time: a thread that needs the database
// makes its own transaction and statement on an added reference of the database handle.
//
// Text is 8-bit (UTF-8 in this program) and passes through unchanged. Every failure is an
// exception of the three kinds below; nothing here talks to the user.

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace IBPP {

// ---- exceptions -------------------------------------------------------------------------------

class Exception : public std::exception {
public:
    ~Exception() override;
    // The full text: title line, "Context: ", "Message: ", a blank line, then the engine part.
    const char* what() const noexcept override;
    // The context alone, e.g. "Statement::Prepare( select 1 )".
    virtual const char* Context() const noexcept;
    // The full text again (same as what()).
    virtual const char* ErrorMessage() const noexcept;

protected:
    Exception() = default;
    std::string m_context;
    std::string m_message;
    std::string m_text;  // built by the most derived constructor
};

class LogicException : public Exception {
public:
    LogicException(const std::string& context, const char* format, ...)
        __attribute__((format(printf, 3, 4)));

protected:
    LogicException() = default;
};

class SQLException : public Exception {
public:
    // status: the engine's status vector (ISC_STATUS[20]) of the failed call.
    SQLException(const std::string& context, const intptr_t* status, const char* format, ...)
        __attribute__((format(printf, 4, 5)));
    // The SQL code derived from the status vector (-999 when it gives none).
    virtual int SqlCode() const noexcept { return m_sqlCode; }
    // The first engine status code, 0 when the status vector holds none.
    virtual int EngineCode() const noexcept { return m_engineCode; }

private:
    int m_sqlCode = -999;
    int m_engineCode = 0;
};

class WrongType : public LogicException {
public:
    WrongType(const std::string& context, const std::string& sqlType,
              const std::string& programType, const char* format, ...)
        __attribute__((format(printf, 5, 6)));
};

// ---- transaction attributes -----------------------------------------------------------------

enum class AccessMode { Write, Read };
enum class Isolation { Concurrency, ReadDirty, ReadCommitted, Consistency };
enum class LockResolution { Wait, NoWait };
enum TransactionFlag : unsigned {
    tfNone = 0,
    tfIgnoreLimbo = 1,
    tfAutoCommit = 2,
    tfNoAutoUndo = 4,
};

// ---- handles --------------------------------------------------------------------------------

class IDatabase;
class ITransaction;
class IStatement;
using Database = std::shared_ptr<IDatabase>;
using Transaction = std::shared_ptr<ITransaction>;
using Statement = std::shared_ptr<IStatement>;

class IDatabase {
public:
    virtual ~IDatabase() = default;
    // Creates the database file (CREATE DATABASE ... in the given dialect) and leaves it detached.
    virtual void Create(int dialect) = 0;
    virtual void Connect() = 0;
    virtual bool IsConnected() const = 0;
    virtual void Disconnect() = 0;
    virtual const std::string& DatabaseName() const = 0;
    virtual int Dialect() const = 0;
    // Before Connect: ask the engine to write pages synchronously (true) or through the
    // system's file cache (false); the choice is stored in the file. Unset leaves it as it is.
    virtual void SetForcedWrites(bool on) = 0;
    // Before Connect: the number of pages the engine caches for the file, when this is the
    // file's first attachment in the process (later ones share its cache). 0 or unset: the
    // engine's default.
    virtual void SetPageBuffers(int count) = 0;
};

class ITransaction {
public:
    virtual ~ITransaction() = default;
    virtual void AttachDatabase(const Database& db) = 0;
    virtual void Start() = 0;
    virtual bool IsStarted() const = 0;
    virtual void Commit() = 0;
    virtual void CommitRetain() = 0;
    virtual void Rollback() = 0;
    virtual void RollbackRetain() = 0;
};

class IStatement {
public:
    virtual ~IStatement() = default;
    virtual void Prepare(const std::string& sql) = 0;
    virtual void Execute(const std::string& sql) = 0;
    virtual void Execute() = 0;
    virtual void ExecuteImmediate(const std::string& sql) = 0;
    // Next row of the open result set; false at its end.
    virtual bool Fetch() = 0;
    virtual int AffectedRows() = 0;
    virtual void Close() = 0;
    virtual const std::string& Sql() const = 0;

    // Output columns are numbered from 1. Get returns true when the column is NULL, leaving
    // the destination as it was.
    virtual int Columns() = 0;
    virtual int ColumnNum(const std::string& name) = 0;
    virtual bool Get(int column, int32_t& value) = 0;
    virtual bool Get(int column, bool& value) = 0;
    virtual bool Get(int column, std::string& value) = 0;
    virtual bool Get(const std::string& column, int32_t& value) = 0;
    virtual bool Get(const std::string& column, bool& value) = 0;
    virtual bool Get(const std::string& column, std::string& value) = 0;
    virtual bool IsNull(int column) = 0;

    // Input parameters are numbered from 1; each must be set before Execute.
    virtual int Parameters() = 0;
    virtual void Set(int parameter, int32_t value) = 0;
    virtual void Set(int parameter, const char* value) = 0;
    virtual void Set(int parameter, const std::string& value) = 0;
    virtual void SetNull(int parameter) = 0;
};

// ---- factories --------------------------------------------------------------------------------
// Each binds the client library first, so the first call can fail with
// LogicException("GDS::Call()", "Can't find or load FBCLIENT.DLL or GDS32.DLL").

Database DatabaseFactory(const std::string& serverName, const std::string& databaseName,
                         const std::string& userName, const std::string& password,
                         const std::string& roleName, const std::string& charSet,
                         const std::string& createParams);

// lockTimeoutSeconds > 0 with LockResolution::Wait bounds the wait for a locked row: a
// conflict that outlasts it fails with the engine's lock-conflict error instead of blocking.
Transaction TransactionFactory(const Database& db, AccessMode access = AccessMode::Write,
                               Isolation isolation = Isolation::Concurrency,
                               LockResolution lockResolution = LockResolution::Wait,
                               unsigned flags = tfNone, int lockTimeoutSeconds = 0);

Statement StatementFactory(const Database& db, const Transaction& tr);

// ---- the client library binding ---------------------------------------------------------------

// Environment variable naming, colon-separated, the only folders searched for the client
// library (in place of the folder of the executable and the system's search). Tests point it
// at an empty folder for "no client library anywhere".
inline constexpr const char* kClientSearchVariable = "POSTWICK_FBCLIENT_DIRS";

// The files the binding tries, in order: beside the executable "libfbclient.so" and
// "libfbembed.so", then the system's "libfbclient.so.2" and "libfbclient.so" by name.
std::vector<std::string> ClientLibraryCandidates();

// Binds the client library if that has not happened yet (throws as the factories do).
void EnsureClientLibrary();

// The engine keeps lock files in a shared folder by default; before the first attach this
// points FIREBIRD_LOCK at a private per-user folder (mode 0700) unless the user set it.
// Returns the folder in effect. Called by the binding; callable on its own for tests.
std::string PreparePrivateLockFolder();

// Engine status codes a caller may want to tell apart.
bool IsLockConflict(const SQLException& e);
// The connection to a server is gone (network, server shut down): the handle is useless, a new
// attachment may work.
bool IsConnectionLost(const SQLException& e);

}  // namespace IBPP
