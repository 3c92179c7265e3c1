// The Firebird access layer: binding of the client library, exceptions, database,
// transaction and statement objects over the engine's DSQL interface.

#include "db/IBPP.h"

#include <dlfcn.h>
#include <ibase.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

// isc_interprete is bound by name like every other entry point, though the library marks it
// deprecated; fb_interpret is preferred where present.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace IBPP {

namespace {

// ---- the client library binding ---------------------------------------------------------------

struct Gds {
    void* handle = nullptr;
    bool ready = false;
#define PW_GDS_ENTRIES(X)          \
    X(isc_create_database)         \
    X(isc_attach_database)         \
    X(isc_detach_database)         \
    X(isc_drop_database)           \
    X(isc_database_info)           \
    X(isc_open_blob2)              \
    X(isc_create_blob2)            \
    X(isc_close_blob)              \
    X(isc_cancel_blob)             \
    X(isc_get_segment)             \
    X(isc_put_segment)             \
    X(isc_blob_info)               \
    X(isc_array_lookup_bounds)     \
    X(isc_array_get_slice)         \
    X(isc_array_put_slice)         \
    X(isc_vax_integer)             \
    X(isc_sqlcode)                 \
    X(isc_sql_interprete)          \
    X(isc_interprete)              \
    X(isc_que_events)              \
    X(isc_cancel_events)           \
    X(isc_start_multiple)          \
    X(isc_commit_transaction)      \
    X(isc_commit_retaining)        \
    X(isc_rollback_transaction)    \
    X(isc_rollback_retaining)      \
    X(isc_dsql_execute_immediate)  \
    X(isc_dsql_allocate_statement) \
    X(isc_dsql_describe)           \
    X(isc_dsql_describe_bind)      \
    X(isc_dsql_prepare)            \
    X(isc_dsql_execute)            \
    X(isc_dsql_execute2)           \
    X(isc_dsql_fetch)              \
    X(isc_dsql_free_statement)     \
    X(isc_dsql_set_cursor_name)    \
    X(isc_dsql_sql_info)           \
    X(isc_service_attach)          \
    X(isc_service_detach)          \
    X(isc_service_start)           \
    X(isc_service_query)
#define PW_GDS_MEMBER(name) decltype(&::name) name = nullptr;
    PW_GDS_ENTRIES(PW_GDS_MEMBER)
#undef PW_GDS_MEMBER
    // Bounded interpretation of a status vector; absent only from very old libraries.
    decltype(&::fb_interpret) fb_interpret = nullptr;
};

Gds g_gds;
std::mutex g_gdsMutex;

std::string executableFolder() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    std::string path(buf, static_cast<size_t>(n));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::vector<std::string> splitFolders(const char* list) {
    std::vector<std::string> out;
    std::string s(list);
    size_t start = 0;
    while (start <= s.size()) {
        const size_t colon = s.find(':', start);
        std::string part =
            s.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!part.empty()) {
            if (part.back() != '/')
                part += '/';
            out.push_back(part);
        }
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    return out;
}

bool ownedPrivateFolder(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

// Makes path a folder of ours with mode 0700; refuses one that another user owns or a link.
bool makePrivateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return false;
    if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0)
        return false;
    return ownedPrivateFolder(path);
}

void bindLocked() {
    if (g_gds.ready)
        return;
    PreparePrivateLockFolder();
    if (!g_gds.handle) {
        for (const std::string& candidate : ClientLibraryCandidates()) {
            g_gds.handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (g_gds.handle)
                break;
        }
    }
    if (!g_gds.handle)
        throw LogicException("GDS::Call()", "Can't find or load FBCLIENT.DLL or GDS32.DLL");
#define PW_GDS_RESOLVE(name)                                                           \
    g_gds.name = reinterpret_cast<decltype(g_gds.name)>(::dlsym(g_gds.handle, #name)); \
    if (!g_gds.name)                                                                   \
        throw LogicException("GDS:gds()", "Entry-point " #name " not found");
    PW_GDS_ENTRIES(PW_GDS_RESOLVE)
#undef PW_GDS_RESOLVE
    g_gds.fb_interpret =
        reinterpret_cast<decltype(g_gds.fb_interpret)>(::dlsym(g_gds.handle, "fb_interpret"));
    g_gds.ready = true;
}

Gds& gds() {
    if (!g_gds.ready)
        EnsureClientLibrary();
    return g_gds;
}

std::string vformat(const char* format, va_list args) {
    if (!format)
        return {};
    char buf[1024];
    std::vsnprintf(buf, sizeof buf, format, args);
    return buf;
}

std::string titleText(const char* kind, const std::string& context, const std::string& message) {
    std::string t = std::string("*** IBPP::") + kind + " ***\n";
    if (!context.empty())
        t += "Context: " + context + "\n";
    if (!message.empty())
        t += "Message: " + message + "\n";
    t += "\n";
    return t;
}

bool hasError(const ISC_STATUS* status) {
    return status[0] == 1 && status[1] != 0;
}

std::string upper32(const std::string& name) {
    std::string s = name.substr(0, 32);
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

std::vector<std::string> ClientLibraryCandidates() {
    std::vector<std::string> out;
    if (const char* dirs = std::getenv(kClientSearchVariable)) {
        for (const std::string& d : splitFolders(dirs)) {
            out.push_back(d + "libfbclient.so");
            out.push_back(d + "libfbembed.so");
            out.push_back(d + "libfbclient.so.2");
        }
        return out;
    }
    const std::string exe = executableFolder();
    if (!exe.empty()) {
        out.push_back(exe + "libfbclient.so");
        out.push_back(exe + "libfbembed.so");
    }
    out.emplace_back("libfbclient.so.2");
    out.emplace_back("libfbclient.so");
    return out;
}

void EnsureClientLibrary() {
    std::lock_guard<std::mutex> lock(g_gdsMutex);
    bindLocked();
}

std::string PreparePrivateLockFolder() {
    if (const char* set = std::getenv("FIREBIRD_LOCK"); set && *set)
        return set;
    std::string folder;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime && *runtime && ownedPrivateFolder(runtime)) {
        folder = std::string(runtime) + "/postwick-firebird";
        if (!makePrivateFolder(folder))
            folder.clear();
    }
    if (folder.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string base = (tmp && *tmp) ? tmp : "/tmp";
        if (base.back() == '/')
            base.pop_back();
        folder = base + "/postwick-firebird-" + std::to_string(::getuid());
        if (!makePrivateFolder(folder)) {
            // Someone else holds that name: take a fresh private folder instead.
            std::string templ = base + "/postwick-firebird-XXXXXX";
            std::vector<char> buf(templ.begin(), templ.end());
            buf.push_back('\0');
            folder = ::mkdtemp(buf.data()) ? std::string(buf.data()) : std::string();
        }
    }
    if (!folder.empty())
        ::setenv("FIREBIRD_LOCK", folder.c_str(), 0);
    const char* now = std::getenv("FIREBIRD_LOCK");
    return now ? now : "";
}

bool IsLockConflict(const SQLException& e) {
    const int c = e.EngineCode();
    return c == isc_lock_conflict || c == isc_deadlock || c == isc_update_conflict ||
           c == isc_lock_timeout;
}

bool IsConnectionLost(const SQLException& e) {
    const int c = e.EngineCode();
    return c == isc_network_error || c == isc_net_read_err || c == isc_net_write_err ||
           c == isc_lost_db_connection || c == isc_att_shutdown || c == isc_shutdown;
}

// ---- exceptions -------------------------------------------------------------------------------

Exception::~Exception() = default;
const char* Exception::what() const noexcept {
    return m_text.c_str();
}
const char* Exception::Context() const noexcept {
    return m_context.c_str();
}
const char* Exception::ErrorMessage() const noexcept {
    return m_text.c_str();
}

LogicException::LogicException(const std::string& context, const char* format, ...) {
    m_context = context;
    va_list args;
    va_start(args, format);
    m_message = vformat(format, args);
    va_end(args);
    m_text = titleText("LogicException", m_context, m_message);
}

SQLException::SQLException(const std::string& context, const intptr_t* status, const char* format,
                           ...) {
    m_context = context;
    va_list args;
    va_start(args, format);
    m_message = vformat(format, args);
    va_end(args);
    m_text = titleText("SQLException", m_context, m_message);

    ISC_STATUS_ARRAY sv{};
    if (status)
        std::copy(status, status + ISC_STATUS_LENGTH, sv);
    if (sv[0] == 1 && sv[1] != 0)
        m_engineCode = static_cast<int>(sv[1]);
    Gds& g = g_gds;
    if (!g.ready)
        return;
    m_sqlCode = static_cast<int>(g.isc_sqlcode(sv));
    if (m_sqlCode != -999) {
        char buf[512] = {};
        g.isc_sql_interprete(static_cast<short>(m_sqlCode), buf, sizeof buf);
        m_text += "SQL Message : " + std::to_string(m_sqlCode) + "\n" + buf + "\n\n";
    }
    m_text += "Engine Code    : " + std::to_string(m_engineCode) + "\n";
    m_text += "Engine Message :\n";
    const ISC_STATUS* p = sv;
    char line[1024];
    bool first = true;
    for (int guard = 0; guard < 64; ++guard) {
        line[0] = '\0';
        long n = 0;
        if (g.fb_interpret)
            n = g.fb_interpret(line, sizeof line, &p);
        else
            n = g.isc_interprete(line, const_cast<ISC_STATUS**>(&p));
        if (n <= 0)
            break;
        if (!first)
            m_text += "\n";
        m_text += line;
        first = false;
    }
    m_text += "\n";
}

WrongType::WrongType(const std::string& context, const std::string& sqlType,
                     const std::string& programType, const char* format, ...) {
    m_context = context;
    va_list args;
    va_start(args, format);
    m_message = vformat(format, args);
    va_end(args);
    m_text = titleText("WrongType", m_context, m_message);
    m_text +=
        "Incompatible types : SQL type " + sqlType + " against program type " + programType + "\n";
}

// ---- database ---------------------------------------------------------------------------------

namespace {

class DatabaseImpl : public IDatabase {
public:
    DatabaseImpl(std::string server, std::string name, std::string user, std::string password,
                 std::string role, std::string charset, std::string params)
        : m_server(std::move(server)),
          m_name(std::move(name)),
          m_user(std::move(user)),
          m_password(std::move(password)),
          m_role(std::move(role)),
          m_charset(std::move(charset)),
          m_params(std::move(params)) {}

    ~DatabaseImpl() override {
        if (m_handle) {
            ISC_STATUS_ARRAY status{};
            g_gds.isc_detach_database(status, &m_handle);
            m_handle = 0;
        }
    }

    void Create(int dialect) override {
        if (m_handle)
            throw LogicException("Database::Create", "Database is already connected.");
        if (m_name.empty())
            throw LogicException("Database::Create", "Unspecified database name.");
        if (m_user.empty())
            throw LogicException("Database::Create", "Unspecified user name.");
        if (dialect != 1 && dialect != 3)
            throw LogicException("Database::Create", "Only dialects 1 and 3 are supported.");
        Gds& g = gds();
        std::string sql = "CREATE DATABASE '";
        if (!m_server.empty())
            sql += m_server + ":";
        sql += quoted(m_name) + "' ";
        sql += "USER '" + quoted(m_user) + "' ";
        if (!m_password.empty())
            sql += "PASSWORD '" + quoted(m_password) + "' ";
        sql += m_params;
        ISC_STATUS_ARRAY status{};
        isc_tr_handle tr = 0;
        g.isc_dsql_execute_immediate(status, &m_handle, &tr, 0, sql.c_str(),
                                     static_cast<unsigned short>(dialect), nullptr);
        if (hasError(status)) {
            m_handle = 0;
            throw SQLException("Database::Create", status, "isc_dsql_execute_immediate failed");
        }
        m_dialect = dialect;
        if (m_handle) {
            g.isc_detach_database(status, &m_handle);
            m_handle = 0;
        }
    }

    void Connect() override {
        if (m_handle)
            return;
        if (m_name.empty())
            throw LogicException("Database::Connect", "Unspecified database name.");
        if (m_user.empty())
            throw LogicException("Database::Connect", "Unspecified user name.");
        Gds& g = gds();
        std::string dpb;
        dpb += static_cast<char>(isc_dpb_version1);
        addItem(dpb, isc_dpb_user_name, m_user);
        addItem(dpb, isc_dpb_password, m_password);
        if (!m_role.empty())
            addItem(dpb, isc_dpb_sql_role_name, m_role);
        if (!m_charset.empty())
            addItem(dpb, isc_dpb_lc_ctype, m_charset);
        if (m_forcedWrites >= 0) {
            dpb += static_cast<char>(isc_dpb_force_write);
            dpb += static_cast<char>(1);
            dpb += static_cast<char>(m_forcedWrites);
        }
        if (m_pageBuffers > 0) {
            // The embedded engine's shared cache leaves the attachment's buffer count aside and
            // takes the file's configuration: the count goes in as that.
            addItem(dpb, isc_dpb_config, "DefaultDbCachePages=" + std::to_string(m_pageBuffers));
        }
        const std::string target = m_server.empty() ? m_name : m_server + ":" + m_name;
        ISC_STATUS_ARRAY status{};
        g.isc_attach_database(status, 0, target.c_str(), &m_handle, static_cast<short>(dpb.size()),
                              dpb.data());
        if (hasError(status)) {
            m_handle = 0;
            throw SQLException("Database::Connect", status, "isc_attach_database failed");
        }
        const char items[] = {isc_info_ods_version, isc_info_db_sql_dialect, isc_info_end};
        char result[100] = {};
        g.isc_database_info(status, &m_handle, sizeof items, items, sizeof result, result);
        if (hasError(status)) {
            SQLException e("Database::Connect", status, "isc_database_info failed");
            detachQuietly();
            throw e;
        }
        int ods = 0;
        int dialect = 1;  // an engine that does not report a dialect speaks dialect 1
        const char* p = result;
        const char* end = result + sizeof result;
        while (p < end && *p != isc_info_end) {
            const char item = *p++;
            if (end - p < 2)
                break;
            const short len = static_cast<short>(g.isc_vax_integer(p, 2));
            p += 2;
            if (len < 0 || end - p < len)
                break;
            const int value = static_cast<int>(g.isc_vax_integer(p, len));
            if (item == isc_info_ods_version)
                ods = value;
            if (item == isc_info_db_sql_dialect)
                dialect = value;
            p += len;
        }
        if (ods <= 9) {
            detachQuietly();
            throw LogicException(
                "Database::Connect",
                "Unsupported Server : wrong ODS version (%d), at least '10' required.", ods);
        }
        if (dialect != 1 && dialect != 3) {
            detachQuietly();
            throw LogicException("Database::Connect", "Dialect 1 or 3 required");
        }
        m_dialect = dialect;
    }

    bool IsConnected() const override { return m_handle != 0; }

    void Disconnect() override {
        if (!m_handle)
            return;
        ISC_STATUS_ARRAY status{};
        gds().isc_detach_database(status, &m_handle);
        if (hasError(status))
            throw SQLException("Database::Disconnect", status, "isc_detach_database failed");
        m_handle = 0;
    }

    const std::string& DatabaseName() const override { return m_name; }
    int Dialect() const override { return m_dialect; }
    void SetForcedWrites(bool on) override { m_forcedWrites = on ? 1 : 0; }
    void SetPageBuffers(int count) override { m_pageBuffers = std::max(0, count); }

    isc_db_handle* handle() { return &m_handle; }

private:
    static std::string quoted(const std::string& s) {
        std::string out;
        for (char c : s) {
            out += c;
            if (c == '\'')
                out += '\'';
        }
        return out;
    }
    static void addItem(std::string& dpb, char item, const std::string& value) {
        dpb += item;
        dpb += static_cast<char>(std::min<size_t>(value.size(), 255));
        dpb += value.substr(0, 255);
    }
    void detachQuietly() {
        ISC_STATUS_ARRAY status{};
        g_gds.isc_detach_database(status, &m_handle);
        m_handle = 0;
    }

    std::string m_server, m_name, m_user, m_password, m_role, m_charset, m_params;
    isc_db_handle m_handle = 0;
    int m_dialect = 3;
    int m_forcedWrites = -1;
    int m_pageBuffers = 0;
};

// ---- transaction ------------------------------------------------------------------------------

// The engine's transaction existence block for isc_start_multiple.
struct Teb {
    isc_db_handle* database;
    int tpbLength;
    const char* tpb;
};

class TransactionImpl : public ITransaction {
public:
    TransactionImpl(AccessMode am, Isolation il, LockResolution lr, unsigned flags, int lockTimeout)
        : m_access(am), m_isolation(il), m_lock(lr), m_flags(flags), m_lockTimeout(lockTimeout) {}

    ~TransactionImpl() override {
        if (m_handle) {
            ISC_STATUS_ARRAY status{};
            g_gds.isc_rollback_transaction(status, &m_handle);
            m_handle = 0;
        }
    }

    void AttachDatabase(const Database& db) override {
        if (!db)
            throw LogicException("Transaction::AttachDatabase", "Can't attach a null Database.");
        if (m_handle)
            throw LogicException("Transaction::AttachDatabase",
                                 "Can't attach a Database if Transaction started.");
        m_db = std::static_pointer_cast<DatabaseImpl>(db);
    }

    void Start() override {
        if (m_handle)
            return;
        if (!m_db)
            throw LogicException("Transaction::Start", "No Database is attached.");
        if (!m_db->IsConnected())
            throw LogicException("Transaction::Start",
                                 "All attached Database should have been connected.");
        Gds& g = gds();
        std::string tpb;
        tpb += static_cast<char>(isc_tpb_version3);
        tpb += static_cast<char>(m_access == AccessMode::Write ? isc_tpb_write : isc_tpb_read);
        switch (m_isolation) {
            case Isolation::Concurrency:
                tpb += static_cast<char>(isc_tpb_concurrency);
                break;
            case Isolation::ReadDirty:
                tpb += static_cast<char>(isc_tpb_read_committed);
                tpb += static_cast<char>(isc_tpb_rec_version);
                break;
            case Isolation::ReadCommitted:
                tpb += static_cast<char>(isc_tpb_read_committed);
                tpb += static_cast<char>(isc_tpb_no_rec_version);
                break;
            case Isolation::Consistency:
                tpb += static_cast<char>(isc_tpb_consistency);
                break;
        }
        tpb += static_cast<char>(m_lock == LockResolution::Wait ? isc_tpb_wait : isc_tpb_nowait);
        if (m_lock == LockResolution::Wait && m_lockTimeout > 0) {
            tpb += static_cast<char>(isc_tpb_lock_timeout);
            tpb += static_cast<char>(4);
            for (int i = 0; i < 4; ++i)
                tpb += static_cast<char>((m_lockTimeout >> (8 * i)) & 0xff);
        }
        if (m_flags & tfIgnoreLimbo)
            tpb += static_cast<char>(isc_tpb_ignore_limbo);
        if (m_flags & tfAutoCommit)
            tpb += static_cast<char>(isc_tpb_autocommit);
        if (m_flags & tfNoAutoUndo)
            tpb += static_cast<char>(isc_tpb_no_auto_undo);
        Teb teb{m_db->handle(), static_cast<int>(tpb.size()), tpb.data()};
        ISC_STATUS_ARRAY status{};
        g.isc_start_multiple(status, &m_handle, 1, &teb);
        if (hasError(status)) {
            m_handle = 0;
            throw SQLException("Transaction::Start", status, "isc_start_multiple failed");
        }
    }

    bool IsStarted() const override { return m_handle != 0; }

    void Commit() override {
        Finish("Transaction::Commit", gds().isc_commit_transaction, "isc_commit_transaction failed",
               Ends::Yes);
    }

    void CommitRetain() override {
        Finish("Transaction::CommitRetain", gds().isc_commit_retaining,
               "isc_commit_retaining failed", Ends::No);
    }

    void Rollback() override {
        if (!m_handle)
            return;  // rolling back what never started is no error
        Finish("Transaction::Rollback", gds().isc_rollback_transaction,
               "isc_rollback_transaction failed", Ends::Yes);
    }

    void RollbackRetain() override {
        Finish("Transaction::RollbackRetain", gds().isc_rollback_retaining,
               "isc_rollback_retaining failed", Ends::No);
    }

    // The four ends of a transaction share their check and their error path.
    enum class Ends { Yes, No };
    template <typename Call>
    void Finish(const char* context, Call call, const char* failure, Ends ends) {
        if (!m_handle)
            throw LogicException(context, "Transaction is not started.");
        ISC_STATUS_ARRAY status{};
        call(status, &m_handle);
        if (hasError(status))
            throw SQLException(context, status, failure);
        if (ends == Ends::Yes)
            m_handle = 0;
    }

    isc_tr_handle* handle() { return &m_handle; }
    const std::shared_ptr<DatabaseImpl>& database() const { return m_db; }

private:
    AccessMode m_access;
    Isolation m_isolation;
    LockResolution m_lock;
    unsigned m_flags;
    int m_lockTimeout;
    std::shared_ptr<DatabaseImpl> m_db;
    isc_tr_handle m_handle = 0;
};

// ---- statement --------------------------------------------------------------------------------

// An XSQLDA with room for n variables and the buffers its variables point at.
class Sqlda {
public:
    explicit Sqlda(int n = 1) { resize(n); }
    void resize(int n) {
        n = std::max(n, 1);
        m_raw.assign(XSQLDA_LENGTH(n), 0);
        da()->version = SQLDA_VERSION1;
        da()->sqln = static_cast<ISC_SHORT>(n);
        m_data.clear();
        m_ind.clear();
    }
    XSQLDA* da() { return reinterpret_cast<XSQLDA*>(m_raw.data()); }
    int count() { return da()->sqld; }
    int capacity() { return da()->sqln; }
    XSQLVAR& var(int i) { return da()->sqlvar[i]; }

    // Buffers for output: one per described column, sized by its type.
    void allocateOutput() {
        const int n = count();
        m_data.assign(n, {});
        m_ind.assign(n, 0);
        for (int i = 0; i < n; ++i) {
            XSQLVAR& v = var(i);
            size_t size = 0;
            switch (v.sqltype & ~1) {
                case SQL_VARYING:
                    size = static_cast<size_t>(v.sqllen) + 2;
                    break;
                case SQL_TEXT:
                    size = static_cast<size_t>(v.sqllen);
                    break;
                default:
                    size = std::max<size_t>(static_cast<size_t>(v.sqllen), 8);
                    break;
            }
            m_data[i].assign(size + 1, 0);
            v.sqldata = m_data[i].data();
            v.sqlind = &m_ind[i];
            v.sqltype = static_cast<ISC_SHORT>(v.sqltype | 1);  // always report NULL through sqlind
        }
    }

private:
    std::vector<char> m_raw;
    std::vector<std::vector<char>> m_data;
    std::vector<ISC_SHORT> m_ind;
};

const char* sqlTypeName(const XSQLVAR& v) {
    switch (v.sqltype & ~1) {
        case SQL_VARYING:
            return "VARCHAR";
        case SQL_TEXT:
            return "CHAR";
        case SQL_SHORT:
            return v.sqlscale ? "NUMERIC(SMALLINT)" : "SMALLINT";
        case SQL_LONG:
            return v.sqlscale ? "NUMERIC(INTEGER)" : "INTEGER";
        case SQL_INT64:
            return v.sqlscale ? "NUMERIC(BIGINT)" : "BIGINT";
        case SQL_FLOAT:
            return "FLOAT";
        case SQL_DOUBLE:
            return "DOUBLE PRECISION";
        case SQL_D_FLOAT:
            return "D_FLOAT";
        case SQL_TIMESTAMP:
            return "TIMESTAMP";
        case SQL_TYPE_DATE:
            return "DATE";
        case SQL_TYPE_TIME:
            return "TIME";
        case SQL_BLOB:
            return "BLOB";
        case SQL_ARRAY:
            return "ARRAY";
        case SQL_BOOLEAN:
            return "BOOLEAN";
        default:
            return "UNKNOWN";
    }
}

class StatementImpl : public IStatement {
public:
    StatementImpl(std::shared_ptr<DatabaseImpl> db, std::shared_ptr<TransactionImpl> tr)
        : m_db(std::move(db)), m_tr(std::move(tr)) {}

    ~StatementImpl() override {
        if (m_handle) {
            ISC_STATUS_ARRAY status{};
            g_gds.isc_dsql_free_statement(status, &m_handle, DSQL_drop);
            m_handle = 0;
        }
    }

    void Prepare(const std::string& sql) override {
        checkReady("Statement::Prepare");
        if (sql.empty())
            throw LogicException("Statement::Prepare", "SQL statement can't be 0.");
        Gds& g = gds();
        Close();
        m_sql = sql;
        const std::string context = "Statement::Prepare( " + sql + " )";
        ISC_STATUS_ARRAY status{};
        g.isc_dsql_allocate_statement(status, m_db->handle(), &m_handle);
        if (hasError(status)) {
            m_handle = 0;
            throw SQLException(context, status, "isc_dsql_allocate_statement failed");
        }
        m_out.resize(32);
        g.isc_dsql_prepare(status, m_tr->handle(), &m_handle, 0, sql.c_str(),
                           static_cast<unsigned short>(m_db->Dialect()), m_out.da());
        if (hasError(status)) {
            SQLException e(context, status, "isc_dsql_prepare failed");
            Close();
            throw e;
        }
        const char typeItem[] = {isc_info_sql_stmt_type};
        char result[16] = {};
        g.isc_dsql_sql_info(status, &m_handle, sizeof typeItem, typeItem, sizeof result, result);
        if (hasError(status)) {
            SQLException e(context, status, "isc_dsql_sql_info failed");
            Close();
            throw e;
        }
        if (result[0] == isc_info_sql_stmt_type) {
            const short len = static_cast<short>(g.isc_vax_integer(result + 1, 2));
            m_type = static_cast<int>(g.isc_vax_integer(result + 3, len));
        }
        switch (m_type) {
            case isc_info_sql_stmt_select:
            case isc_info_sql_stmt_select_for_upd:
            case isc_info_sql_stmt_insert:
            case isc_info_sql_stmt_update:
            case isc_info_sql_stmt_delete:
            case isc_info_sql_stmt_ddl:
            case isc_info_sql_stmt_exec_procedure:
            case isc_info_sql_stmt_set_generator:
            case isc_info_sql_stmt_savepoint:
                break;
            default: {
                Close();
                throw LogicException(context, "Unknown or unsupported statement type");
            }
        }
        if (m_out.count() > m_out.capacity()) {
            const int n = m_out.count();
            m_out.resize(n);
            g.isc_dsql_describe(status, &m_handle, 1, m_out.da());
            if (hasError(status)) {
                SQLException e(context, status, "isc_dsql_describe failed");
                Close();
                throw e;
            }
        }
        m_out.allocateOutput();
        m_in.resize(1);
        g.isc_dsql_describe_bind(status, &m_handle, 1, m_in.da());
        if (hasError(status)) {
            SQLException e(context, status, "isc_dsql_describe_bind failed");
            Close();
            throw e;
        }
        if (m_in.count() > m_in.capacity()) {
            const int n = m_in.count();
            m_in.resize(n);
            g.isc_dsql_describe_bind(status, &m_handle, 1, m_in.da());
            if (hasError(status)) {
                SQLException e(context, status, "isc_dsql_describe_bind failed");
                Close();
                throw e;
            }
        }
        m_params.assign(static_cast<size_t>(m_in.count()), Param{});
        m_prepared = true;
    }

    void Execute(const std::string& sql) override {
        Prepare(sql);
        Execute();
    }

    void Execute() override {
        if (!m_prepared)
            throw LogicException("Statement::Execute", "No statement has been prepared.");
        for (const Param& p : m_params)
            if (!p.set)
                throw LogicException("Statement::Execute", "All parameters must be specified.");
        Gds& g = gds();
        // The context is made only for an error: a prepared insert runs once per record.
        const auto context = [this] { return "Statement::Execute( " + m_sql + " )"; };
        ISC_STATUS_ARRAY status{};
        closeCursor();
        bindParameters();
        XSQLDA* in = m_params.empty() ? nullptr : m_in.da();
        m_rowReady = false;
        if (m_type == isc_info_sql_stmt_exec_procedure && m_out.count() > 0) {
            g.isc_dsql_execute2(status, m_tr->handle(), &m_handle, 1, in, m_out.da());
            if (hasError(status))
                throw SQLException(context(), status, "isc_dsql_execute2 failed");
            m_rowReady = true;
            return;
        }
        g.isc_dsql_execute(status, m_tr->handle(), &m_handle, 1, in);
        if (hasError(status))
            throw SQLException(context(), status, "isc_dsql_execute failed");
        if (m_type == isc_info_sql_stmt_select || m_type == isc_info_sql_stmt_select_for_upd)
            m_cursorOpen = true;
    }

    void ExecuteImmediate(const std::string& sql) override {
        checkReady("Statement::ExecuteImmediate");
        if (sql.empty())
            throw LogicException("Statement::ExecuteImmediate", "SQL statement can't be 0.");
        ISC_STATUS_ARRAY status{};
        gds().isc_dsql_execute_immediate(status, m_db->handle(), m_tr->handle(), 0, sql.c_str(),
                                         static_cast<unsigned short>(m_db->Dialect()), nullptr);
        if (hasError(status))
            throw SQLException("Statement::ExecuteImmediate( " + sql + " )", status,
                               "isc_dsql_execute_immediate failed");
    }

    bool Fetch() override {
        if (!m_cursorOpen)
            throw LogicException("Statement::Fetch",
                                 "No statement has been executed or no result set available.");
        ISC_STATUS_ARRAY status{};
        const ISC_STATUS rc = gds().isc_dsql_fetch(status, &m_handle, 1, m_out.da());
        if (rc == 100) {
            m_rowReady = false;
            closeCursor();
            return false;
        }
        if (hasError(status)) {
            m_rowReady = false;
            throw SQLException("Statement::Fetch", status, "isc_dsql_fetch failed.");
        }
        m_rowReady = true;
        return true;
    }

    int AffectedRows() override {
        if (!m_db || !m_db->IsConnected()) {
            if (!m_db)
                throw LogicException("Statement::AffectedRows", "A Database must be attached.");
            throw LogicException("Statement::AffectedRows", "Database must be connected.");
        }
        if (!m_prepared)
            throw LogicException("Statement::AffectedRows", "No statement has been prepared.");
        Gds& g = gds();
        const char item[] = {isc_info_sql_records};
        char result[128] = {};
        ISC_STATUS_ARRAY status{};
        g.isc_dsql_sql_info(status, &m_handle, sizeof item, item, sizeof result, result);
        if (hasError(status))
            throw SQLException("Statement::AffectedRows", status, "isc_dsql_sql_info failed.");
        int wanted = 0;
        switch (m_type) {
            case isc_info_sql_stmt_insert:
                wanted = isc_info_req_insert_count;
                break;
            case isc_info_sql_stmt_update:
                wanted = isc_info_req_update_count;
                break;
            case isc_info_sql_stmt_delete:
                wanted = isc_info_req_delete_count;
                break;
            case isc_info_sql_stmt_select:
            case isc_info_sql_stmt_select_for_upd:
                wanted = isc_info_req_select_count;
                break;
            default:
                return 0;
        }
        if (result[0] != isc_info_sql_records)
            return 0;
        const char* p = result + 3;
        const char* end = result + sizeof result;
        while (p < end && *p != isc_info_end) {
            const char kind = *p++;
            if (end - p < 2)
                break;
            const short len = static_cast<short>(g.isc_vax_integer(p, 2));
            p += 2;
            if (len < 0 || end - p < len)
                break;
            const int value = static_cast<int>(g.isc_vax_integer(p, len));
            if (kind == wanted)
                return value;
            p += len;
        }
        return 0;
    }

    void Close() override {
        m_prepared = false;
        m_cursorOpen = false;
        m_rowReady = false;
        m_type = 0;
        m_params.clear();
        if (m_handle) {
            ISC_STATUS_ARRAY status{};
            gds().isc_dsql_free_statement(status, &m_handle, DSQL_drop);
            m_handle = 0;
            if (hasError(status))
                throw SQLException("Statement::Close", status, "isc_dsql_free_statement failed");
        }
    }

    const std::string& Sql() const override { return m_sql; }

    int Columns() override { return m_prepared ? m_out.count() : 0; }

    int ColumnNum(const std::string& name) override {
        if (name.empty())
            throw LogicException("Row::ColumnNum", "Column name <empty> not found.");
        const std::string wanted = upper32(name);
        const int n = m_prepared ? m_out.count() : 0;
        for (int i = 0; i < n; ++i) {
            const XSQLVAR& v = m_out.var(i);
            if (std::string(v.aliasname, static_cast<size_t>(v.aliasname_length)) == wanted)
                return i + 1;
        }
        for (int i = 0; i < n; ++i) {
            const XSQLVAR& v = m_out.var(i);
            if (std::string(v.sqlname, static_cast<size_t>(v.sqlname_length)) == wanted)
                return i + 1;
        }
        throw LogicException("Row::ColumnNum", "Could not find matching column.");
    }

    bool Get(int column, int32_t& value) override {
        XSQLVAR& v = column_(column);
        if (*v.sqlind == -1)
            return true;
        int64_t x = 0;
        if (!integerOf(v, x) || x < INT32_MIN || x > INT32_MAX)
            throw WrongType("Statement::Get", sqlTypeName(v), "int32_t", "Incompatible types.");
        value = static_cast<int32_t>(x);
        return false;
    }

    bool Get(int column, bool& value) override {
        XSQLVAR& v = column_(column);
        if (*v.sqlind == -1)
            return true;
        int64_t x = 0;
        if (!integerOf(v, x))
            throw WrongType("Statement::Get", sqlTypeName(v), "bool", "Incompatible types.");
        value = x != 0;
        return false;
    }

    bool Get(int column, std::string& value) override {
        XSQLVAR& v = column_(column);
        if (*v.sqlind == -1)
            return true;
        switch (v.sqltype & ~1) {
            case SQL_VARYING: {
                unsigned short len = 0;
                std::memcpy(&len, v.sqldata, 2);
                len = std::min<unsigned short>(len, static_cast<unsigned short>(v.sqllen));
                value.assign(v.sqldata + 2, len);
                return false;
            }
            case SQL_TEXT:
                value.assign(v.sqldata, static_cast<size_t>(v.sqllen));
                return false;
            default: {
                int64_t x = 0;
                if (v.sqlscale == 0 && integerOf(v, x)) {
                    value = std::to_string(x);
                    return false;
                }
                throw WrongType("Statement::Get", sqlTypeName(v), "std::string",
                                "Incompatible types.");
            }
        }
    }

    bool Get(const std::string& column, int32_t& value) override {
        return Get(ColumnNum(column), value);
    }
    bool Get(const std::string& column, bool& value) override {
        return Get(ColumnNum(column), value);
    }
    bool Get(const std::string& column, std::string& value) override {
        return Get(ColumnNum(column), value);
    }

    bool IsNull(int column) override { return *column_(column).sqlind == -1; }

    int Parameters() override { return m_prepared ? m_in.count() : 0; }

    void Set(int parameter, int32_t value) override {
        Param& p = param(parameter);
        p.kind = Param::Int;
        p.integer = value;
        p.set = true;
    }
    void Set(int parameter, const char* value) override {
        if (!value) {
            SetNull(parameter);
            return;
        }
        Set(parameter, std::string(value));
    }
    void Set(int parameter, const std::string& value) override {
        Param& p = param(parameter);
        if (value.size() > 32767)
            throw LogicException("Statement::Set[string]", "String size out of range.");
        p.kind = Param::Text;
        p.text = value;
        p.set = true;
    }
    void SetNull(int parameter) override {
        Param& p = param(parameter);
        p.kind = Param::Null;
        p.set = true;
    }

private:
    struct Param {
        enum Kind { Null, Int, Text } kind = Null;
        bool set = false;
        int32_t integer = 0;
        std::string text;
        ISC_SHORT ind = 0;
    };

    void checkReady(const char* context) {
        if (!m_db)
            throw LogicException(context, "An IDatabase must be attached.");
        if (!m_db->IsConnected())
            throw LogicException(context, "IDatabase must be connected.");
        if (!m_tr)
            throw LogicException(context, "An ITransaction must be attached.");
        if (!m_tr->IsStarted())
            throw LogicException(context, "ITransaction must be started.");
    }

    Param& param(int parameter) {
        if (!m_prepared)
            throw LogicException("Statement::Set", "No statement has been prepared.");
        if (parameter < 1 || parameter > static_cast<int>(m_params.size()))
            throw LogicException("Statement::Set", "Parameter index out of range.");
        return m_params[static_cast<size_t>(parameter - 1)];
    }

    XSQLVAR& column_(int column) {
        if (!m_rowReady)
            throw LogicException("Statement::Get", "The row is not initialized.");
        if (column < 1 || column > m_out.count())
            throw LogicException("Statement::Get", "Variable index out of range.");
        return m_out.var(column - 1);
    }

    static bool integerOf(const XSQLVAR& v, int64_t& out) {
        if (v.sqlscale != 0)
            return false;
        switch (v.sqltype & ~1) {
            case SQL_SHORT: {
                int16_t x;
                std::memcpy(&x, v.sqldata, sizeof x);
                out = x;
                return true;
            }
            case SQL_LONG: {
                int32_t x;
                std::memcpy(&x, v.sqldata, sizeof x);
                out = x;
                return true;
            }
            case SQL_INT64: {
                int64_t x;
                std::memcpy(&x, v.sqldata, sizeof x);
                out = x;
                return true;
            }
            case SQL_BOOLEAN:
                out = v.sqldata[0] != 0;
                return true;
            default:
                return false;
        }
    }

    // Points each input variable at the value given; the engine converts to the column's type.
    void bindParameters() {
        for (size_t i = 0; i < m_params.size(); ++i) {
            Param& p = m_params[i];
            XSQLVAR& v = m_in.var(static_cast<int>(i));
            v.sqlind = &p.ind;
            v.sqlscale = 0;
            v.sqlsubtype = 0;
            switch (p.kind) {
                case Param::Null:
                    p.ind = -1;
                    v.sqltype = static_cast<ISC_SHORT>(v.sqltype | 1);
                    break;
                case Param::Int:
                    p.ind = 0;
                    v.sqltype = SQL_LONG + 1;
                    v.sqllen = sizeof(int32_t);
                    v.sqldata = reinterpret_cast<ISC_SCHAR*>(&p.integer);
                    break;
                case Param::Text:
                    p.ind = 0;
                    v.sqltype = SQL_TEXT + 1;
                    v.sqllen = static_cast<ISC_SHORT>(p.text.size());
                    v.sqldata = p.text.data();
                    break;
            }
        }
    }

    void closeCursor() {
        if (!m_cursorOpen)
            return;
        m_cursorOpen = false;
        ISC_STATUS_ARRAY status{};
        gds().isc_dsql_free_statement(status, &m_handle, DSQL_close);
    }

    std::shared_ptr<DatabaseImpl> m_db;
    std::shared_ptr<TransactionImpl> m_tr;
    isc_stmt_handle m_handle = 0;
    std::string m_sql;
    Sqlda m_out;
    Sqlda m_in;
    std::vector<Param> m_params;
    int m_type = 0;
    bool m_prepared = false;
    bool m_cursorOpen = false;
    bool m_rowReady = false;
};

}  // namespace

// ---- factories --------------------------------------------------------------------------------

Database DatabaseFactory(const std::string& serverName, const std::string& databaseName,
                         const std::string& userName, const std::string& password,
                         const std::string& roleName, const std::string& charSet,
                         const std::string& createParams) {
    EnsureClientLibrary();
    return std::make_shared<DatabaseImpl>(serverName, databaseName, userName, password, roleName,
                                          charSet, createParams);
}

Transaction TransactionFactory(const Database& db, AccessMode access, Isolation isolation,
                               LockResolution lockResolution, unsigned flags,
                               int lockTimeoutSeconds) {
    EnsureClientLibrary();
    auto tr = std::make_shared<TransactionImpl>(access, isolation, lockResolution, flags,
                                                lockTimeoutSeconds);
    tr->AttachDatabase(db);
    return tr;
}

Statement StatementFactory(const Database& db, const Transaction& tr) {
    EnsureClientLibrary();
    return std::make_shared<StatementImpl>(std::static_pointer_cast<DatabaseImpl>(db),
                                           std::static_pointer_cast<TransactionImpl>(tr));
}

}  // namespace IBPP
