#include "db/TDbData.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

#include "db/RecordImport.h"
#include "resources/Strings.h"

namespace pw::db {

namespace {

constexpr const char* kUser = "SYSDBA";
constexpr const char* kPassword = "vellumcap";
// Character set NONE rather than ASCII: the engine refuses every byte above 127 in an ASCII
// column, and NONE keeps "n bytes per VARCHAR(n)" for the UTF-8 text stored here.
constexpr const char* kCharSet = "NONE";
constexpr const char* kCreateParams = "PAGE_SIZE 8192 DEFAULT CHARACTER SET NONE";
constexpr int kAllowedSizes[] = {50, 100, 150, 200, 250};

// The schema, statement by statement. BOOLEAN is a reserved word of the engine, so the domain
// is named as a quoted identifier (the stored name stays BOOLEAN).
QStringList creationScript() {
    QStringList s{
        QStringLiteral(
            "CREATE DOMAIN \"BOOLEAN\" AS SMALLINT DEFAULT 1 NOT NULL CHECK (VALUE IN (0, 1, 2));"),
        QStringLiteral("CREATE DOMAIN STANDARTID AS INTEGER DEFAULT -1 NOT NULL;"),
        QStringLiteral("CREATE DOMAIN STANDARTSTRING AS VARCHAR(%STR_SIZE%);"),
        QStringLiteral("CREATE GENERATOR GEN_GROUPS_ID;"),
        QStringLiteral("SET GENERATOR GEN_GROUPS_ID TO 0;"),
        QStringLiteral("CREATE GENERATOR GEN_MAILS_ID;"),
        QStringLiteral("SET GENERATOR GEN_MAILS_ID TO 0;"),
        QStringLiteral("CREATE TABLE GROUP_MAIL ( IDGROUP  STANDARTID, IDMAIL   STANDARTID );"),
        QStringLiteral("CREATE TABLE GROUPS ( ID STANDARTID NOT NULL, NAME   STANDARTSTRING, NOTES "
                       " STANDARTSTRING );"),
        QStringLiteral("CREATE TABLE MAIL_FIELDS ( ORDER_F STANDARTID, FIELD STANDARTSTRING, "
                       "CAPTION STANDARTSTRING );"),
        QStringLiteral("CREATE TABLE MAILS ( ID STANDARTID NOT NULL, SENDED \"BOOLEAN\" DEFAULT 1, "
                       "SENDING \"BOOLEAN\", "
                       "ADDRESS  STANDARTSTRING, NAME STANDARTSTRING, FIELD3 STANDARTSTRING, "
                       "FIELD4 STANDARTSTRING, "
                       "FIELD5 STANDARTSTRING, FIELD6 STANDARTSTRING, FIELD7 STANDARTSTRING, "
                       "FIELD8 STANDARTSTRING, "
                       "FIELD9 STANDARTSTRING, FIELD10 STANDARTSTRING, FIELD11 STANDARTSTRING, "
                       "FIELD12 STANDARTSTRING, "
                       "FIELD13 STANDARTSTRING, FIELD14 STANDARTSTRING, FIELD15 STANDARTSTRING, "
                       "FIELD16 STANDARTSTRING, "
                       "FIELD17 STANDARTSTRING, FIELD18 STANDARTSTRING, FIELD19 STANDARTSTRING, "
                       "FIELD20 STANDARTSTRING );"),
        QStringLiteral("CREATE TABLE TEMP_DUBLIC_VALUES ( DUBLIC_VALUE  STANDARTSTRING );"),
        QStringLiteral("CREATE INDEX IDX_DUBLIC_KEYS ON TEMP_DUBLIC_VALUES (DUBLIC_VALUE);"),
        QStringLiteral("ALTER TABLE GROUPS ADD CONSTRAINT PK_GROUPS PRIMARY KEY (ID);"),
        QStringLiteral(
            "ALTER TABLE GROUP_MAIL ADD CONSTRAINT PK_GROUP_MAIL PRIMARY KEY (IDGROUP, IDMAIL);"),
        QStringLiteral("ALTER TABLE MAILS ADD CONSTRAINT PK_MAILS PRIMARY KEY (ID);"),
        QStringLiteral("ALTER TABLE GROUP_MAIL ADD CONSTRAINT FK_GROUP_GM FOREIGN KEY (IDGROUP) "
                       "REFERENCES GROUPS "
                       "(ID) ON DELETE CASCADE;"),
        QStringLiteral("ALTER TABLE GROUP_MAIL ADD CONSTRAINT FK_MAIL_GM FOREIGN KEY (IDMAIL) "
                       "REFERENCES MAILS (ID) "
                       "ON DELETE CASCADE;"),
        QStringLiteral("CREATE PROCEDURE AUTODELDUBLIC AS begin /* Procedure Text */ suspend; end"),
        QStringLiteral("CREATE TRIGGER GROUPS_BI FOR GROUPS ACTIVE BEFORE INSERT POSITION 0 AS "
                       "BEGIN IF (NEW.ID IS "
                       "NULL) THEN NEW.ID = GEN_ID(GEN_GROUPS_ID,1); END"),
        QStringLiteral("CREATE TRIGGER MAILS_BI FOR MAILS ACTIVE BEFORE INSERT POSITION 0 AS BEGIN "
                       "IF (NEW.ID IS "
                       "NULL) THEN NEW.ID = GEN_ID(GEN_MAILS_ID,1); END"),
    };
    for (int k = 1; k <= kFieldCount; ++k)
        s << QStringLiteral(
                 "INSERT INTO MAIL_FIELDS (ORDER_F, FIELD, CAPTION) VALUES (%1, '%2', NULL);")
                 .arg(k)
                 .arg(ColumnNames()[k - 1]);
    return s;
}

// Copies src over dst so that dst is either the old file or the whole new one.
bool copyReplacing(const QString& src, const QString& dst) {
    QFile in(src);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QSaveFile out(dst);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    char buf[1 << 16];
    for (;;) {
        const qint64 n = in.read(buf, sizeof buf);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (out.write(buf, n) != n)
            return false;
    }
    return out.commit();
}

constexpr auto kPrivateFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr auto kPrivateFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

// Unique-key violations are what AddToGroup expects for a record already in the group.
bool isDuplicateKey(const IBPP::Exception& e) {
    const auto* sql = dynamic_cast<const IBPP::SQLException*>(&e);
    return sql && (sql->EngineCode() == 335544665 /* unique_key_violation */ ||
                   sql->EngineCode() == 335544349 /* no_dup */);
}

}  // namespace

// ---- helpers ----------------------------------------------------------------------------------

const std::array<QString, kFieldCount>& ColumnNames() {
    static const std::array<QString, kFieldCount> names = [] {
        std::array<QString, kFieldCount> n;
        n[0] = QStringLiteral("ADDRESS");
        n[1] = QStringLiteral("NAME");
        for (int k = 3; k <= kFieldCount; ++k)
            n[k - 1] = QStringLiteral("FIELD%1").arg(k);
        return n;
    }();
    return names;
}

QString DefaultCaption(int position) {
    if (position < 0 || position >= kFieldCount)
        return {};
    return pw::str(ids::kDefaultCaption1 + position);
}

QString SqlLiteral(const QString& text) {
    QString out = text;
    out.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + out + QLatin1Char('\'');
}

QString FieldColumn(const QString& name) {
    const QString upper = name.trimmed().toUpper();
    for (const QString& c : ColumnNames()) {
        if (c == upper)
            return c;
    }
    return {};
}

void ReportDroppedError(const DiagnosticSink& sink, const char* operation,
                        const std::exception& e) {
    const QString text = QStringLiteral("%1 failed: %2")
                             .arg(QString::fromUtf8(operation), QString::fromUtf8(e.what()));
    // the engine's own words are for the log; only without one do they go to the terminal
    if (sink)
        sink(text);
    else
        std::fprintf(stderr, "Postwick database: %s\n", text.toUtf8().constData());
}

void RaiseStoreError() {
    try {
        throw;
    } catch (const IBPP::Exception& e) {
        throw StoreError(e.what());
    }
}

// ---- construction -----------------------------------------------------------------------------

TDbData::TDbData(DbFolders folders, IUserInteraction& ui)
    : m_folders(std::move(folders)), m_ui(ui), m_script(creationScript()) {
    for (int i = 0; i < kFieldCount; ++i)
        m_captions[i] = DefaultCaption(i);
}

TDbData::~TDbData() {
    // The handles go in order: the lists' statements, main transaction (rolled back),
    // attachment.
    ReleaseList();
    for (RecordCache* c : m_caches)
        c->setStore(nullptr);
    m_caches.clear();
    m_mainTr.reset();
    std::lock_guard<std::mutex> lock(m_dbMutex);
    m_db.reset();
}

void TDbData::SetDiagnostics(DiagnosticSink sink) {
    std::lock_guard<std::mutex> lock(m_sinkMutex);
    m_sink = std::move(sink);
}

DiagnosticSink TDbData::Diagnostics() const {
    std::lock_guard<std::mutex> lock(m_sinkMutex);
    return m_sink;
}

void TDbData::ReportDroppedError(const char* operation, const std::exception& e) const {
    db::ReportDroppedError(Diagnostics(), operation, e);
}

void TDbData::SetStrFieldSize(int size) {
    m_strFieldSize = 100;
    for (int allowed : kAllowedSizes)
        if (size == allowed)
            m_strFieldSize = size;
}

IBPP::Database TDbData::Database() const {
    std::lock_guard<std::mutex> lock(m_dbMutex);
    return m_db;
}

bool TDbData::IsOpen() const {
    std::lock_guard<std::mutex> lock(m_dbMutex);
    return m_db && m_db->IsConnected();
}

bool TDbData::CanWrite() const {
    return IsOpen() && m_mainTr && m_mainTr->IsStarted();
}

IBPP::Database TDbData::MakeDatabase(const QString& path, bool forCreation) const {
    IBPP::Database db =
        IBPP::DatabaseFactory("", QFile::encodeName(path).toStdString(), kUser, kPassword, "",
                              kCharSet, forCreation ? kCreateParams : "");
    // A working copy is a scratch copy of the user's file: its pages go through the system's
    // file cache instead of one synchronous write each, which made a long main transaction
    // over 20000 records wait on the disk for seconds. Committed pages are still written to
    // the file at commit, so a crashed run leaves its outcomes in the working copy.
    db->SetForcedWrites(false);
    if (m_pageCache == PageCache::Bounded)
        db->SetPageBuffers(kBoundedPageBuffers);
    return db;
}

IBPP::Database WorkingCopyDatabase(const QString& path) {
    IBPP::Database db = IBPP::DatabaseFactory("", QFile::encodeName(path).toStdString(), kUser,
                                              kPassword, "", kCharSet, "");
    db->SetPageBuffers(kBoundedPageBuffers);
    return db;
}

// ---- working copies ---------------------------------------------------------------------------

QString TDbData::MakeWorkingCopyPath() {
    QDir dir(m_folders.workingCopyFolder);
    if (!dir.exists()) {
        QDir().mkpath(m_folders.workingCopyFolder);
        QFile::setPermissions(m_folders.workingCopyFolder, kPrivateFolder);
    }
    for (int n = 1;; ++n) {
        const QString path = m_folders.workingCopyFolder + QStringLiteral("PZP_data_%1.pzb").arg(n);
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink()) {
            m_workingCopy = path;
            return path;
        }
    }
}

bool TDbData::CopyIn(const QString& file) {
    const QString target = MakeWorkingCopyPath();
    QFile::remove(target);
    if (!QFile::copy(file, target))
        return false;
    QFile::setPermissions(target, kPrivateFile);
    return true;
}

// ---- creation ---------------------------------------------------------------------------------

CreateResult TDbData::CreateDatabase(const QString& logPath) {
    if (m_workingCopy.isEmpty())
        MakeWorkingCopyPath();

    // The log starts empty: an old longer log would otherwise keep its tail after this one.
    QDir().mkpath(m_folders.userDataFolder);
    QFile log(m_folders.userDataFolder + QStringLiteral("db_log.txt"));
    const bool logging =
        log.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
    if (!logging) {
        // No log, but the database can still be made: creation goes on and reports what it did.
        inform(m_ui, pw::str(ids::kDbLogFailed));
    }
    auto w = [&](const QString& text) {
        if (logging)
            log.write(text.toUtf8());
    };

    w(QStringLiteral("[TDbData::DbCreate Method]\n"));
    w(QStringLiteral(" - Path file: ") + logPath + QStringLiteral("\n"));
    bool madeByUs = true;
    const QFileInfo existing(m_workingCopy);
    if (existing.exists() || existing.isSymLink()) {
        w(QStringLiteral(" - Path file \"") + logPath +
          QStringLiteral("\" already exists. Asking for rewrite..."));
        const Answer a =
            ask(m_ui, pw::str(ids::kDbFileExistsReplace), MessageKind::YesNoCancelDefaultNo);
        if (a != Answer::Yes) {
            w(QStringLiteral("NO\n"));
            w(QStringLiteral("[RETURN_FALSE]\n"));
            return CreateResult::Declined;
        }
        w(QStringLiteral("YES\n"));
        // The user agreed to the replacement; the engine never creates over a file.
        madeByUs = QFile::remove(m_workingCopy);
    }

    IBPP::Database db;
    IBPP::Transaction tr;
    IBPP::Statement st;
    try {
        w(QStringLiteral(" - IBPP::DatabaseFactory...\n"));
        w(QStringLiteral("   . Mirror File: ") + m_workingCopy + QStringLiteral("\n"));
        db = MakeDatabase(m_workingCopy, true);
        w(QStringLiteral(" - IBPP::DatabaseFactory...DONE\n"));
        w(QStringLiteral(" - Creating DB..."));
        db->Create(3);
        w(QStringLiteral("DONE\n"));
        w(QStringLiteral(" - Connecting..."));
        db->Connect();
        w(QStringLiteral("DONE\n"));
        w(QStringLiteral(" - IBPP::TransactionFactory..."));
        tr = IBPP::TransactionFactory(db, IBPP::AccessMode::Write, IBPP::Isolation::ReadCommitted,
                                      IBPP::LockResolution::NoWait);
        w(QStringLiteral("DONE\n"));
        w(QStringLiteral(" - Starting Tr..."));
        tr->Start();
        w(QStringLiteral("DONE\n"));
        w(QStringLiteral(" - IBPP::StatementFactory..."));
        st = IBPP::StatementFactory(db, tr);
        w(QStringLiteral("DONE\n"));
        w(QStringLiteral(" - Executing scripts...\n"));
        const QString size = QString::number(m_strFieldSize);
        for (int i = 0; i < m_script.size(); ++i) {
            const QString& statement = m_script[i];
            w(QStringLiteral("   %1. ").arg(i) + statement + QStringLiteral("\n"));
            w(QStringLiteral("     - After %STR_SIZE% replacement: "));
            QString replaced = statement;
            replaced.replace(QStringLiteral("%STR_SIZE%"), size);
            w(replaced + QStringLiteral("\n"));
            w(QStringLiteral("     - ExecuteImmediate..."));
            st->ExecuteImmediate(Convert(replaced).toStdString());
            w(QStringLiteral("DONE\n"));
            w(QStringLiteral("      - CommitRetain..."));
            tr->CommitRetain();
            w(QStringLiteral("DONE\n"));
        }
        // Committed and detached before the log claims success.
        st->Close();
        tr->Commit();
        m_modified.store(true);
        db->Disconnect();
        w(QStringLiteral("[RETURN_TRUE]\n"));
        QFile::setPermissions(m_workingCopy, kPrivateFile);
        return CreateResult::Created;
    } catch (const IBPP::Exception& e) {
        w(QStringLiteral("ERROR\n[RETURN_FALSE]\n"));
        w(QStringLiteral("\n\nError details: ") + QString::fromUtf8(e.what()) +
          QStringLiteral("\n\n"));
        log.close();
        st.reset();
        tr.reset();
        db.reset();
        // No half-made database is left behind to be opened later.
        if (madeByUs)
            QFile::remove(m_workingCopy);
        ReportDroppedError("Creating the database", e);
        inform(m_ui, pw::str(ids::kCouldNotCreateDatabase) + pw::supportAddress());
        return CreateResult::Failed;
    }
}

// ---- open, save, close ------------------------------------------------------------------------

void TDbData::ResetListState() {
    m_group = -1;
    m_filter.clear();
    m_order = QStringLiteral(" ID asc ");
    m_listQuery.clear();
    ReleaseList();
    m_toldTruncated = false;
}

void TDbData::ReleaseList() {
    for (RecordCache* c : m_caches)
        c->stopReading();
}

bool TDbData::Open() {
    return OpenCurrent(true);
}

bool TDbData::OpenInPlace(const QString& workingCopy) {
    if (IsOpen() || !QFileInfo::exists(workingCopy))
        return false;
    m_workingCopy = workingCopy;
    // A recovered working copy holds the only record of a crashed run: never delete it here.
    return OpenCurrent(false);
}

bool TDbData::OpenCurrent(bool deleteOnFailure) {
    if (IsOpen() || m_workingCopy.isEmpty() || !QFileInfo::exists(m_workingCopy))
        return false;
    try {
        IBPP::Database db = MakeDatabase(m_workingCopy, false);
        db->Connect();
        {
            std::lock_guard<std::mutex> lock(m_dbMutex);
            m_db = db;
        }
        m_modified.store(false);
        ResetListState();
        m_mainTr =
            IBPP::TransactionFactory(db, IBPP::AccessMode::Write, IBPP::Isolation::ReadCommitted,
                                     IBPP::LockResolution::NoWait);
        m_mainTr->Start();
        LoadCaptions();
        for (IStoreObserver* o : std::vector<IStoreObserver*>(m_observers))
            o->captionsReloaded();
        ReadFieldLength();
        m_modified.store(false);
        for (IStoreObserver* o : std::vector<IStoreObserver*>(m_observers))
            o->databaseOpened();
        return IsOpen();
    } catch (const std::exception& e) {
        ReportDroppedError("Opening the database", e);
        ReleaseList();
        m_mainTr.reset();
        {
            std::lock_guard<std::mutex> lock(m_dbMutex);
            m_db.reset();
        }
        if (deleteOnFailure) {
            QFile::remove(m_workingCopy);
            m_workingCopy.clear();
        }
        return false;
    }
}

void TDbData::ReadFieldLength() {
    const IBPP::Database db = Database();
    IBPP::Transaction tr = IBPP::TransactionFactory(
        db, IBPP::AccessMode::Write, IBPP::Isolation::ReadCommitted, IBPP::LockResolution::NoWait);
    tr->Start();
    IBPP::Statement st = IBPP::StatementFactory(db, tr);
    st->Execute(
        "select RDB$FIELD_LENGTH from RDB$FIELDS \nwhere UPPER(RDB$FIELD_NAME) = 'STANDARTSTRING'");
    int32_t length = 0;
    if (st->Fetch())
        st->Get(1, length);
    m_fieldLength = length <= 0 ? 100 : length;
    st.reset();
    tr->Commit();
}

bool TDbData::OpenUserFile(const QString& file) {
    Close(CloseMode::DeleteWorkingCopy);
    if (!CopyIn(file)) {
        QFile::remove(m_workingCopy);
        m_workingCopy.clear();
        return false;
    }
    if (!Open())
        return false;
    try {
        SelectAllAfterOpen();
    } catch (const std::exception& e) {
        ReportDroppedError("Selecting every record after opening", e);
    }
    return true;
}

bool TDbData::Save(SaveMode mode) {
    const bool wasModified = m_modified.load();
    try {
        SaveCaptions();
        if (m_mainTr && m_mainTr->IsStarted()) {
            if (mode == SaveMode::Retaining) {
                m_mainTr->CommitRetain();
            } else {
                ReleaseList();  // the lists' cursors end with the transaction
                m_mainTr->Commit();
            }
        }
        m_modified.store(false);
        // Outcomes of the send run that waited for this save: the rows are free now.
        if (PendingSentFlags() > 0) {
            WritePendingSentFlags();
            m_modified.store(false);  // they are committed as they are written
        }
        return true;
    } catch (const std::exception& e) {
        ReportDroppedError("Saving the database", e);
        m_modified.store(wasModified);
        return false;
    }
}

bool TDbData::SaveAs(const QString& file) {
    if (QFileInfo(file).absoluteFilePath() == QFileInfo(m_workingCopy).absoluteFilePath())
        return Save(SaveMode::Retaining);
    try {
        if (!Save(SaveMode::Ending))
            return false;
        ReleaseList();
        if (m_mainTr && m_mainTr->IsStarted())
            m_mainTr->Rollback();
        m_mainTr.reset();
        if (IBPP::Database db = Database())
            db->Disconnect();
        {
            std::lock_guard<std::mutex> lock(m_dbMutex);
            m_db.reset();
        }
        // A failed copy is reported as a failed save; the working copy is reopened either way.
        const bool copied = copyReplacing(m_workingCopy, file);
        const bool opened = OpenCurrent(true);
        return copied && opened;
    } catch (const std::exception& e) {
        ReportDroppedError("Saving the database as", e);
        return false;
    }
}

bool TDbData::ConfirmClose() {
    if (!m_modified.load())
        return true;
    switch (ask(m_ui, pw::str(ids::kDbSaveChanges), MessageKind::YesNoCancel)) {
        case Answer::Cancel:
            return false;
        case Answer::Yes:
            return Save(SaveMode::Retaining);
        default:
            break;
    }
    try {
        if (m_mainTr && m_mainTr->IsStarted())
            m_mainTr->RollbackRetain();
    } catch (const IBPP::Exception& e) {
        ReportDroppedError("Discarding the changes", e);
    }
    // The user's changes are gone; the send run's outcomes are not the user's to discard.
    WritePendingSentFlags();
    return true;
}

void TDbData::Close(CloseMode mode) {
    for (RecordCache* c : m_caches)
        c->clear();
    try {
        if (m_mainTr && m_mainTr->IsStarted())
            m_mainTr->Rollback();
    } catch (const IBPP::Exception& e) {
        ReportDroppedError("Rolling back", e);
    }
    m_mainTr.reset();
    if (PendingSentFlags() > 0)
        WritePendingSentFlags();
    try {
        if (IBPP::Database db = Database())
            db->Disconnect();
    } catch (const IBPP::Exception& e) {
        ReportDroppedError("Detaching", e);
    }
    {
        std::lock_guard<std::mutex> lock(m_dbMutex);
        m_db.reset();
    }
    if (mode == CloseMode::DeleteWorkingCopy && !m_workingCopy.isEmpty()) {
        if (!m_workingCopyKept)
            QFile::remove(m_workingCopy);
        m_workingCopyKept = false;
        m_workingCopy.clear();
    }
}

void TDbData::Exec(const QString& sql) {
    IBPP::Statement st = IBPP::StatementFactory(Database(), m_mainTr);
    st->ExecuteImmediate(Convert(sql).toStdString());
}

void TDbData::ExecuteImmediate(const QString& sql) try {
    if (!CanWrite())
        return;
    Exec(sql);
    SetModified();
} catch (...) {
    RaiseStoreError();
}

// ---- list state and cache ---------------------------------------------------------------------

void TDbData::AddObserver(IStoreObserver* observer) {
    if (observer &&
        std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
        m_observers.push_back(observer);
}

void TDbData::RemoveObserver(IStoreObserver* observer) {
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer),
                      m_observers.end());
}

void TDbData::SetObserver(IStoreObserver* observer) {
    m_observers.clear();
    AddObserver(observer);
}

void TDbData::RegisterCache(RecordCache* cache) {
    if (!cache)
        return;
    if (cache->store() && cache->store() != this)
        cache->store()->UnregisterCache(cache);
    m_caches.erase(std::remove(m_caches.begin(), m_caches.end(), cache), m_caches.end());
    m_caches.push_back(cache);
    cache->setStore(this);
    cache->setLimit(m_recordLimit);
}

void TDbData::UnregisterCache(RecordCache* cache) {
    const auto it = std::find(m_caches.begin(), m_caches.end(), cache);
    if (it == m_caches.end())
        return;
    const bool wasActive = cache == m_caches.back();
    m_caches.erase(it);
    cache->stopReading();
    cache->setStore(nullptr);
    if (wasActive && !m_caches.empty())
        RefreshActiveCache();
}

void TDbData::RefreshActiveCache() {
    // The list state served the cache that went; the one below gets a list of its own.
    try {
        RefreshList();
    } catch (const std::exception& e) {
        ReportDroppedError("Refreshing the list", e);
    }
}

void TDbData::SetGroupRestriction(int groupId) {
    m_group = groupId <= 0 ? -1 : groupId;
}

void TDbData::AddFilterCondition(const QString& condition) {
    if (condition.isEmpty())
        m_filter.clear();
    else if (m_filter.isEmpty())
        m_filter = condition;
    else
        m_filter += QStringLiteral(" and ") + condition;
}

void TDbData::SetOrder(const QString& order) {
    m_order = order;
}

void TDbData::SetRecordLimit(int limit) {
    m_recordLimit = ClampRecordLimit(limit);
    for (RecordCache* c : m_caches)
        c->setLimit(m_recordLimit);
}

namespace {

// The list statement's rows as the cache takes them: ID, SENDED, SENDING, then the 20 fields
// (NULL as empty).
class ListStatementReader : public IListReader {
public:
    explicit ListStatementReader(IBPP::Statement statement) : m_st(std::move(statement)) {}
    bool read(CachedRow& row) override {
        if (!m_st->Fetch())
            return false;
        int32_t id = -1;
        int32_t sent = 0;
        bool selected = false;
        m_st->Get(1, id);
        m_st->Get(2, sent);
        m_st->Get(3, selected);
        row.id = id;
        row.sent = sent;
        row.selected = selected;
        for (int k = 0; k < kFieldCount; ++k) {
            m_value.clear();
            if (m_st->Get(k + 4, m_value))
                m_value.clear();
            row.appendField(k, m_value.data(), qsizetype(m_value.size()));
        }
        row.bytes.squeeze();
        return true;
    }

private:
    IBPP::Statement m_st;
    std::string m_value;
};

// ID as the last key: rows with equal keys come in one order, whichever statement reads them.
QString ListOrder(const QString& order) {
    const QString key = order.simplified().section(QLatin1Char(' '), 0, 0);
    if (key.compare(QLatin1String("ID"), Qt::CaseInsensitive) == 0)
        return QStringLiteral(" order by ") + order;
    return QStringLiteral(" order by ") + order + QStringLiteral(", ID");
}

}  // namespace

void TDbData::RefreshList() try {
    if (!CanWrite())
        return;
    QString where;
    if (m_group > 0)
        where = QStringLiteral(" where (ID in (select IDMail from GROUP_MAIL where IDGroup = %1)) ")
                    .arg(m_group);
    if (!m_filter.isEmpty()) {
        if (where.isEmpty())
            where = QStringLiteral(" where ") + m_filter;
        else
            where += QStringLiteral(" and ") + m_filter;
    }
    m_listQuery = QStringLiteral("select * from Mails ") + where + ListOrder(m_order);
    RecordCache* const cache = Cache();
    if (!cache)
        return;
    cache->setLimit(m_recordLimit);
    IBPP::Statement st;
    try {
        st = IBPP::StatementFactory(Database(), m_mainTr);
        st->Execute(Convert(m_listQuery).toStdString());
    } catch (...) {
        cache->clear();
        throw;
    }
    cache->beginList(std::make_unique<ListStatementReader>(std::move(st)));
    TellIfTruncated(*cache);
} catch (...) {
    RaiseStoreError();
}

void TDbData::TellIfTruncated(const RecordCache& cache) {
    if (!cache.truncated() || m_toldTruncated)
        return;
    // A file made elsewhere, or a lowered limit: show the first rows, say so.
    m_toldTruncated = true;
    inform(m_ui, pw::str(ids::kDbTooManyRecords).arg(m_recordLimit));
}

bool TDbData::FetchRows(int row) noexcept {
    RecordCache* const c = Cache();
    if (!c || !CanWrite())
        return false;
    const bool ok = c->fetchUpTo(row) == FetchResult::Done;
    TellIfTruncated(*c);
    return ok;
}

bool TDbData::FetchAll() noexcept {
    return FetchRows(m_recordLimit);
}

bool TDbData::FetchMore(RecordCache& cache) noexcept {
    if (!CanWrite())
        return false;
    const bool ok = cache.fetchMore() == FetchResult::Done;
    TellIfTruncated(cache);
    return ok;
}

bool TDbData::AppendCachedRow(int recordId, int sent, bool selected,
                              const std::array<QString, kFieldCount>& texts) {
    RecordCache* const c = Cache();
    return c && c->appendRow(recordId, sent, selected, texts);
}

void TDbData::UpdateCachedRow(int row, const std::array<QString, kFieldCount>& texts) {
    RecordCache* const c = Cache();
    if (!c || row < 0 || row >= c->rowCount())
        return;
    for (int k = 0; k < kFieldCount; ++k)
        c->setText(row, k, texts[k]);
    c->notifyRowChanged(row);
}

// ---- flags and values -------------------------------------------------------------------------

void TDbData::SetRowFlag(int row, RowFlag which, int value) try {
    RecordCache* const cache = Cache();
    if (!CanWrite() || !cache)
        return;
    FetchRows(row);
    const int id = cache->rowId(row);
    if (id < 0 || !cache->isFetched(row))
        return;
    const char* column = which == RowFlag::Sent ? "Sended" : "Sending";
    Exec(QStringLiteral("update Mails set %1 = %2 where ID = %3")
             .arg(QLatin1String(column))
             .arg(value)
             .arg(id));
    if (which == RowFlag::Sent)
        cache->setSent(row, value);
    else
        cache->setSelected(row, value != 0);
    SetModified();
    cache->notifyRowChanged(row);
} catch (...) {
    RaiseStoreError();
}

bool TDbData::SetCell(int row, int gridColumn, const QString& text) try {
    RecordCache* const cache = Cache();
    if (!CanWrite() || !cache)
        return false;
    const int field = gridColumn - 2;  // grid columns 2..21 show fields 0..19
    if (field < 0 || field >= kFieldCount)
        return false;
    if (Convert(text).size() > m_fieldLength) {
        inform(m_ui, pw::str(ids::kDbFieldTooLong));
        return false;
    }
    FetchRows(row);
    if (!cache->isFetched(row))
        return false;
    const int id = cache->rowId(row);
    Exec(QStringLiteral("update Mails set %1 = ").arg(ColumnNames()[field]) + SqlLiteral(text) +
         QStringLiteral(" where ID = %1").arg(id));
    cache->setText(row, field, text);
    SetModified();
    cache->notifyRowChanged(row);
    return true;
} catch (...) {
    RaiseStoreError();
}

QString TDbData::BulkUpdateStatement(bool view, const QString& assignment,
                                     const QString& condition) const {
    QString where;
    if (view) {
        const qsizetype w = m_listQuery.indexOf(QStringLiteral(" where "));
        if (w >= 0) {
            const qsizetype o = m_listQuery.indexOf(QStringLiteral(" order by "), w);
            where = o >= 0 ? m_listQuery.mid(w, o - w) : m_listQuery.mid(w);
        }
    }
    if (!condition.isEmpty()) {
        if (where.isEmpty())
            where = QStringLiteral(" where ") + condition;
        else
            where += QStringLiteral(" and ") + condition;
    }
    return QStringLiteral("update Mails set ") + assignment + QLatin1Char(' ') + where;
}

void TDbData::BulkUpdate(bool view, const QString& assignment, const QString& condition) try {
    if (!CanWrite())
        return;
    Exec(BulkUpdateStatement(view, assignment, condition));
    SetModified();
} catch (...) {
    RaiseStoreError();
}

bool TDbData::SetFlagOverView(RowFlag which, int value) try {
    const QString column =
        which == RowFlag::Sent ? QStringLiteral("Sended") : QStringLiteral("Sending");
    BulkUpdate(true, QStringLiteral(" %1 = %2 ").arg(column).arg(value),
               QStringLiteral(" (%1 <> %2) ").arg(column).arg(value));
    RecordCache* const cache = Cache();
    // The view is the group and the filter: unless either names the flag, every row listed,
    // the ones added since the refresh included, is one the statement gave the value.
    if (!CanWrite() || !cache || m_filter.contains(column, Qt::CaseInsensitive) ||
        m_order.contains(column, Qt::CaseInsensitive))
        return false;
    if (which == RowFlag::Sent)
        cache->setSentEverywhere(value);
    else
        cache->setSelectedEverywhere(value != 0);
    return true;
} catch (...) {
    RaiseStoreError();
}

void TDbData::SwapFields(int fieldI, int fieldJ) try {
    RecordCache* const cache = Cache();
    if (!CanWrite() || !cache || fieldI < 0 || fieldI >= kFieldCount || fieldJ < 0 ||
        fieldJ >= kFieldCount || fieldI == fieldJ)
        return;
    RecordCache& c = *cache;
    // Every row held: read from the list, and added by the record form after it.
    for (int r = 0; r < c.rowCount(); ++r) {
        const QString a = c.text(r, fieldI);
        const QString b = c.text(r, fieldJ);
        Exec(QStringLiteral("update Mails set %1 = ").arg(ColumnNames()[fieldI]) + SqlLiteral(b) +
             QStringLiteral(", %1 = ").arg(ColumnNames()[fieldJ]) + SqlLiteral(a) +
             QStringLiteral(" where ID = %1").arg(c.rowId(r)));
        c.setText(r, fieldI, b);
        c.setText(r, fieldJ, a);
        SetModified();
    }
    if (c.rowCount() > 0 && c.owner())
        c.owner()->rowsChanged(0, c.rowCount() - 1);
} catch (...) {
    RaiseStoreError();
}

void TDbData::SelectAllAfterOpen() try {
    BulkUpdate(false, QStringLiteral(" Sending = 1 "), QStringLiteral(" (Sending <> 1) "));
    if (!Save(SaveMode::Retaining))
        return;
} catch (...) {
    RaiseStoreError();
}

// ---- the record form ----------------------------------------------------------------------------

int TDbData::AddRecord(const std::array<QString, kFieldCount>& texts) try {
    if (!CanWrite())
        return -1;
    const IBPP::Database db = Database();
    IBPP::Statement st = IBPP::StatementFactory(db, m_mainTr);
    st->Execute("select max(ID) from MAILS;");
    int32_t maxId = 0;
    if (st->Fetch() && st->Get(1, maxId))
        maxId = 0;  // NULL: the table is empty
    const int id = maxId + 1;
    st->Prepare(
        "insert into MAILS ( ID, ADDRESS, NAME, FIELD3, FIELD4, FIELD5, FIELD6, FIELD7, FIELD8, "
        "FIELD9, FIELD10, FIELD11, FIELD12, FIELD13, FIELD14, FIELD15, FIELD16, FIELD17, "
        "FIELD18, FIELD19, FIELD20) values ( ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
        "?, ? ,? ,?);");
    st->Set(1, int32_t(id));
    for (int k = 0; k < kFieldCount; ++k)
        st->Set(k + 2, Convert(texts[k]).toStdString());
    st->Execute();
    // The insert leaves the flags to their defaults, under which a new record would count as
    // sent.
    Exec(QStringLiteral("update Mails set Sending = 1 where ID = %1").arg(id));
    Exec(QStringLiteral("update Mails set Sended = 0 where ID = %1").arg(id));
    SetModified();
    return id;
} catch (...) {
    RaiseStoreError();
}

void TDbData::UpdateRecord(int recordId, const std::array<QString, kFieldCount>& texts) try {
    if (!CanWrite())
        return;
    IBPP::Statement st = IBPP::StatementFactory(Database(), m_mainTr);
    st->Prepare(
        "update MAILS set ADDRESS = ?, NAME = ?, FIELD3 = ?, FIELD4 = ?, FIELD5 = ?, FIELD6 = ?, "
        "FIELD7 = ?, FIELD8 = ?, FIELD9 = ?, FIELD10 = ?, FIELD11 = ?, FIELD12 = ?, FIELD13 = ?, "
        "FIELD14 = ?, FIELD15 = ?, FIELD16 = ?, FIELD17 = ?, FIELD18 = ?, FIELD19 = ?, FIELD20 = "
        "? where ID = ?");
    for (int k = 0; k < kFieldCount; ++k)
        st->Set(k + 1, Convert(texts[k]).toStdString());
    st->Set(21, int32_t(recordId));
    st->Execute();
    SetModified();
} catch (...) {
    RaiseStoreError();
}

// ---- deletion and counts ----------------------------------------------------------------------

void TDbData::DeleteRecord(int groupId, int recordId) try {
    if (!CanWrite())
        return;
    if (groupId > 0)
        Exec(QStringLiteral("DELETE FROM GROUP_MAIL WHERE IDGROUP = %1 AND IDMAIL = %2")
                 .arg(groupId)
                 .arg(recordId));
    else
        Exec(QStringLiteral("delete from MAILS where ID = %1").arg(recordId));
    SetModified();
    // The record leaves the view when it is gone, or when it left the group that is shown.
    if (groupId > 0 && groupId != m_group)
        return;
    if (RecordCache* const c = Cache())
        c->removeRecord(recordId);
} catch (...) {
    RaiseStoreError();
}

void TDbData::DeleteRecords(int groupId, const std::vector<int>& recordIds) try {
    if (!CanWrite() || recordIds.empty())
        return;
    IBPP::Statement st = IBPP::StatementFactory(Database(), m_mainTr);
    st->Prepare(groupId > 0 ? "DELETE FROM GROUP_MAIL WHERE IDGROUP = ? AND IDMAIL = ?"
                            : "delete from MAILS where ID = ?");
    // Whatever was deleted before an error stays inside the main transaction, as with one.
    for (int id : recordIds) {
        int p = 1;
        if (groupId > 0)
            st->Set(p++, int32_t(groupId));
        st->Set(p, int32_t(id));
        st->Execute();
        SetModified();
    }
} catch (...) {
    RaiseStoreError();
}

void TDbData::DeleteAllRecords() try {
    if (!CanWrite())
        return;
    Exec(QStringLiteral("DELETE FROM MAILS"));
    SetModified();
    if (!Save(SaveMode::Retaining))
        return;
} catch (...) {
    RaiseStoreError();
}

int TDbData::CountRecordsOrNone() try {
    if (!CanWrite())
        return -1;
    IBPP::Statement st = IBPP::StatementFactory(Database(), m_mainTr);
    st->Execute("select count(*) from MAILS");
    int32_t n = 0;
    if (st->Fetch())
        st->Get(1, n);
    m_recordCount = n;
    return n;
} catch (...) {
    RaiseStoreError();
}

int TDbData::CountRecords() try {
    if (!CanWrite()) {
        m_recordCount = 0;
        return 0;
    }
    return CountRecordsOrNone();
} catch (...) {
    RaiseStoreError();
}

// ---- duplicates, address checks, undo points ---------------------------------------------------

namespace {

// The value a comparison of duplicates looks at, as an expression of the engine.
QString DuplicateKey(const QString& column, DuplicateComparison comparison) {
    if (comparison == DuplicateComparison::Exact)
        return column;
    const QString t = QStringLiteral("TRIM(%1)").arg(column);
    const QString at = QStringLiteral("POSITION('@' IN %1)").arg(t);
    return QStringLiteral(
               "(CASE WHEN %2 > 0 THEN SUBSTRING(%1 FROM 1 FOR %2) || "
               "LOWER(SUBSTRING(%1 FROM %2 + 1)) ELSE %1 END)")
        .arg(t, at);
}

}  // namespace

QString MailAddressKey(const QString& value) {
    qsizetype from = 0;
    qsizetype to = value.size();
    while (from < to && value[from] == u' ')
        ++from;
    while (to > from && value[to - 1] == u' ')
        --to;
    QString key = value.mid(from, to - from);
    const qsizetype at = key.indexOf(u'@');
    for (qsizetype i = at + 1; at >= 0 && i < key.size(); ++i) {
        if (key[i] >= u'A' && key[i] <= u'Z')
            key[i] = QChar(key[i].unicode() + 32);
    }
    return key;
}

int TDbData::FindDuplicateValues(const QString& column, DuplicateComparison comparison) try {
    const QString field = FieldColumn(column);
    if (!CanWrite() || field.isEmpty())
        return 0;
    const QString key = DuplicateKey(field, comparison);
    // Only the scratch table changes here: the modified flag stays as it is.
    Exec(QStringLiteral("delete from TEMP_DUBLIC_VALUES"));
    // Grouped by the value and its length in bytes: the engine's comparison ignores trailing
    // blanks, and "a" and "a " are not the same value. Empty values are no shared value.
    Exec(QStringLiteral("insert into TEMP_DUBLIC_VALUES (DUBLIC_VALUE) select %1 from MAILS "
                        "where %1 <> '' group by %1, octet_length(%1) having count(*)>1")
             .arg(key));
    Exec(QStringLiteral("SET STATISTICS INDEX IDX_DUBLIC_KEYS"));
    IBPP::Statement st = IBPP::StatementFactory(Database(), m_mainTr);
    st->Execute("select count(*) from TEMP_DUBLIC_VALUES");
    int32_t n = 0;
    if (st->Fetch())
        st->Get(1, n);
    return n;
} catch (...) {
    RaiseStoreError();
}

std::vector<ListedRecord> TDbData::ListDuplicateRecords(const QString& column,
                                                        DuplicateComparison comparison) try {
    std::vector<ListedRecord> out;
    const QString field = FieldColumn(column);
    if (!CanWrite() || field.isEmpty())
        return out;
    const QString key = DuplicateKey(field, comparison);
    const IBPP::Database db = Database();
    // The exact values (bytes) the search found; the IN test below ignores trailing blanks.
    QSet<QByteArray> values;
    {
        IBPP::Statement st = IBPP::StatementFactory(db, m_mainTr);
        st->Execute("select DUBLIC_VALUE from TEMP_DUBLIC_VALUES");
        std::string v;
        while (st->Fetch()) {
            if (!st->Get(1, v))
                values.insert(QByteArray(v.data(), qsizetype(v.size())));
        }
    }
    if (values.isEmpty())
        return out;
    // Compared as mail addresses: the engine's form of each record's value, by record.
    std::map<int, QByteArray> keyOfRecord;
    if (comparison != DuplicateComparison::Exact) {
        IBPP::Statement st = IBPP::StatementFactory(db, m_mainTr);
        st->Execute(Convert(QStringLiteral("select ID, %1 from MAILS where %1 <> ''").arg(key))
                        .toStdString());
        std::string v;
        while (st->Fetch()) {
            int32_t id = 0;
            st->Get(1, id);
            v.clear();
            if (!st->Get(2, v))
                keyOfRecord[id] = QByteArray(v.data(), qsizetype(v.size()));
        }
    }
    QString sql = m_listQuery.isEmpty() ? QStringLiteral("select * from Mails ") : m_listQuery;
    const qsizetype order = sql.indexOf(QStringLiteral(" order by "));
    if (order >= 0)
        sql.truncate(order);
    sql += sql.contains(QStringLiteral(" where ")) ? QStringLiteral(" and ")
                                                   : QStringLiteral(" where ");
    sql += QStringLiteral(" (%1 in (select DUBLIC_VALUE from TEMP_DUBLIC_VALUES)) ").arg(key);
    sql += QStringLiteral(" order by %1, octet_length(%1), ID").arg(key);
    const int keyField =
        int(std::find(ColumnNames().begin(), ColumnNames().end(), field) - ColumnNames().begin());
    IBPP::Statement st = IBPP::StatementFactory(db, m_mainTr);
    st->Execute(Convert(sql).toStdString());
    std::string v;
    while (st->Fetch()) {
        ListedRecord r;
        int32_t n = 0;
        st->Get(1, n);
        r.id = n;
        st->Get(2, n);
        r.sent = n;
        st->Get(3, n);
        r.selected = n;
        QByteArray keyBytes;
        for (int k = 0; k < kFieldCount; ++k) {
            v.clear();
            if (!st->Get(k + 4, v)) {
                r.fields[size_t(k)] = QString::fromUtf8(v.data(), qsizetype(v.size()));
                if (k == keyField)
                    keyBytes = QByteArray(v.data(), qsizetype(v.size()));
            }
        }
        if (comparison != DuplicateComparison::Exact) {
            const auto it = keyOfRecord.find(r.id);
            keyBytes = it != keyOfRecord.end() ? it->second : QByteArray();
        }
        if (values.contains(keyBytes))
            out.push_back(std::move(r));
    }
    return out;
} catch (...) {
    RaiseStoreError();
}

void TDbData::DeleteRecordEverywhere(int recordId) try {
    if (!CanWrite())
        return;
    DeleteRecord(-1, recordId);
    Exec(QStringLiteral("delete from GROUP_MAIL where IDMAIL=%1").arg(recordId));
} catch (...) {
    RaiseStoreError();
}

int TDbData::DeleteAllDuplicates(const QString& column, DuplicateComparison comparison) try {
    const QString field = FieldColumn(column);
    if (!CanWrite() || field.isEmpty())
        return 0;
    const QString key = DuplicateKey(field, comparison);
    // The walk of the records in the order of their value: a record whose value equals (byte
    // for byte) the one just before it goes. Empty and NULL values are no shared value; of
    // equal values the oldest record (lowest ID) stays.
    const QString body =
        QStringLiteral(
            "DECLARE VARIABLE ID INTEGER; DECLARE VARIABLE PREVVALUE VARCHAR(255); "
            "DECLARE VARIABLE CURVALUE VARCHAR(255); BEGIN ID = -1; "
            "FOR SELECT ID, %1 FROM MAILS WHERE %1 <> '' ORDER BY %1, OCTET_LENGTH(%1), ID "
            "INTO :ID, :CURVALUE DO  BEGIN IF (ID <> -1) THEN BEGIN  IF (CURVALUE = :PREVVALUE "
            "AND OCTET_LENGTH(CURVALUE) = OCTET_LENGTH(:PREVVALUE)) THEN  BEGIN DELETE FROM "
            "MAILS WHERE ID=:ID; END  END PREVVALUE = :CURVALUE; END END")
            .arg(key);
    const int before = CountRecordsOrNone();
    // The engine applies a procedure's new body only when the transaction that altered it
    // commits, so running the procedure inside the main transaction would still run its old
    // body. The procedure is rewritten (kept once saved) and the same body runs as a block,
    // inside the main transaction, so that Save or discarding decides about the deletions.
    Exec(QStringLiteral("ALTER PROCEDURE AUTODELDUBLIC AS ") + body);
    Exec(QStringLiteral("EXECUTE BLOCK AS ") + body);
    SetModified();
    return before - CountRecordsOrNone();
} catch (...) {
    RaiseStoreError();
}

int TDbData::DeleteRecordsWithoutAddress(const QString& column) try {
    const QString key = FieldColumn(column);
    if (!CanWrite() || key.isEmpty())
        return 0;
    const int before = CountRecordsOrNone();
    Exec(QStringLiteral(
             "DELETE FROM MAILS WHERE ID NOT IN (SELECT ID FROM MAILS WHERE %1 LIKE '%@%.%')")
             .arg(key));
    SetModified();
    return before - CountRecordsOrNone();
} catch (...) {
    RaiseStoreError();
}

void TDbData::ReplaceInField(int field, const QString& find, const QString& replacement) try {
    if (!CanWrite() || field < 0 || field >= kFieldCount || find.isEmpty())
        return;
    const QString column = ColumnNames()[size_t(field)];
    // position() on bytes is case-sensitive; UTF-8 needles only match at character starts.
    Exec(BulkUpdateStatement(
        true,
        QStringLiteral("%1 = replace(%1, %2, %3)")
            .arg(column, SqlLiteral(find), SqlLiteral(replacement)),
        QStringLiteral("(position(%1 in %2) > 0)").arg(SqlLiteral(find), column)));
    SetModified();
    if (RecordCache* const c = Cache()) {
        int first = -1;
        int last = -1;
        for (int r = 0; r < c->rowCount(); ++r) {
            if (!c->isFetched(r))
                continue;
            QString text = c->text(r, field);
            if (!text.contains(find))
                continue;
            text.replace(find, replacement);
            c->setText(r, field, text);
            if (first < 0)
                first = r;
            last = r;
        }
        if (first >= 0 && c->owner())
            c->owner()->rowsChanged(first, last);
    }
} catch (...) {
    RaiseStoreError();
}

void TDbData::SetUndoPoint(const QString& name) try {
    if (!CanWrite())
        return;
    Exec(QStringLiteral("SAVEPOINT ") + name);
    m_undoModified[name] = m_modified.load();
} catch (...) {
    RaiseStoreError();
}

void TDbData::UndoToPoint(const QString& name) try {
    if (!CanWrite())
        return;
    Exec(QStringLiteral("ROLLBACK TO SAVEPOINT ") + name);
    if (const auto it = m_undoModified.find(name); it != m_undoModified.end()) {
        m_modified.store(it->second);
        m_undoModified.erase(it);
    }
} catch (...) {
    RaiseStoreError();
}

void TDbData::ReleaseUndoPoint(const QString& name) try {
    m_undoModified.erase(name);
    if (!CanWrite())
        return;
    Exec(QStringLiteral("RELEASE SAVEPOINT ") + name);
} catch (...) {
    RaiseStoreError();
}

// ---- groups -----------------------------------------------------------------------------------

int TDbData::FindGroupByName(const QString& name) try {
    if (!CanWrite())
        return -1;
    IBPP::Statement st = IBPP::StatementFactory(Database(), m_mainTr);
    st->Execute(Convert(QStringLiteral("select ID from GROUPS where Name = ") + SqlLiteral(name))
                    .toStdString());
    int32_t id = -1;
    if (st->Fetch())
        st->Get("ID", id);
    return id;
} catch (...) {
    RaiseStoreError();
}

int TDbData::AddGroup(const QString& name) try {
    if (!CanWrite())
        return -1;
    const IBPP::Database db = Database();
    IBPP::Statement st = IBPP::StatementFactory(db, m_mainTr);
    st->Execute("SELECT GEN_ID( GEN_GROUPS_ID, 1 ) FROM RDB$DATABASE");
    int32_t id = -1;
    if (st->Fetch())
        st->Get(1, id);
    st.reset();
    Exec(QStringLiteral("insert into GROUPS (ID, NAME, NOTES) values (%1, ").arg(id) +
         SqlLiteral(name) + QStringLiteral(", '')"));
    SetModified();
    return id;
} catch (...) {
    RaiseStoreError();
}

void TDbData::RenameGroup(int groupId, const QString& name) try {
    if (!CanWrite())
        return;
    Exec(QStringLiteral("update GROUPS set NAME = ") + SqlLiteral(name) +
         QStringLiteral(" where ID = %1").arg(groupId));
    SetModified();
} catch (...) {
    RaiseStoreError();
}

void TDbData::DeleteGroup(int groupId) try {
    if (!CanWrite())
        return;
    Exec(QStringLiteral("delete from GROUPS where ID = %1").arg(groupId));
    SetModified();
} catch (...) {
    RaiseStoreError();
}

void TDbData::AddToGroup(int groupId, int recordId) try {
    if (!CanWrite())
        return;
    try {
        Exec(QStringLiteral("insert into GROUP_MAIL ( IDGROUP, IDMAIL) values  ( %1, %2)")
                 .arg(groupId)
                 .arg(recordId));
        SetModified();
    } catch (const IBPP::Exception& e) {
        if (!isDuplicateKey(e))
            ReportDroppedError("Adding a record to a group", e);
    }
} catch (...) {
    RaiseStoreError();
}

std::vector<GroupInfo> TDbData::ListGroups() try {
    std::vector<GroupInfo> out;
    if (!CanWrite())
        return out;
    IBPP::Statement st = IBPP::StatementFactory(Database(), m_mainTr);
    st->Execute("select * from GROUPS order by ID");
    while (st->Fetch()) {
        GroupInfo g;
        int32_t id = -1;
        std::string name;
        st->Get("ID", id);
        st->Get("Name", name);
        g.id = id;
        g.name = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
        out.push_back(std::move(g));
    }
    return out;
} catch (...) {
    RaiseStoreError();
}

// ---- captions ---------------------------------------------------------------------------------

void TDbData::SetCaption(int position, const QString& caption) {
    if (position >= 0 && position < kFieldCount)
        m_captions[position] = caption;
}

void TDbData::LoadCaptions() try {
    const IBPP::Database db = Database();
    if (!db || !db->IsConnected())
        return;
    IBPP::Transaction tr = IBPP::TransactionFactory(
        db, IBPP::AccessMode::Write, IBPP::Isolation::Concurrency, IBPP::LockResolution::Wait);
    tr->Start();
    IBPP::Statement st = IBPP::StatementFactory(db, tr);
    st->Execute("select * from  MAIL_FIELDS order by ORDER_F");
    m_captionsList.clear();
    for (int i = 0; i < kFieldCount && st->Fetch(); ++i) {
        std::string field;
        std::string caption;
        st->Get("FIELD", field);
        const bool null = st->Get("Caption", caption);
        QString text =
            null ? QString()
                 : QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size()));
        if (text.isEmpty())
            text = DefaultCaption(i);
        m_captions[i] = text;
        m_captionsList << QString::fromUtf8(field.data(), static_cast<qsizetype>(field.size())) +
                              QLatin1Char('=') + text;
    }
    st.reset();
    tr->Commit();
} catch (...) {
    RaiseStoreError();
}

void TDbData::ReloadCaptions() try {
    LoadCaptions();
    for (IStoreObserver* o : std::vector<IStoreObserver*>(m_observers))
        o->captionsReloaded();
} catch (...) {
    RaiseStoreError();
}

void TDbData::SaveCaptions() try {
    if (!CanWrite())
        return;
    IBPP::Statement st = IBPP::StatementFactory(Database(), m_mainTr);
    try {
        st->Prepare("update MAIL_FIELDS set ORDER_F = ?, CAPTION = ? where FIELD = ? ");
        for (int i = 0; i < m_captionsList.size() && i < kFieldCount; ++i) {
            const QString& entry = m_captionsList[i];
            st->Set(1, i + 1);
            st->Set(2, Convert(m_captions[i]).toStdString());
            st->Set(3, Convert(entry.section(QLatin1Char('='), 0, 0)).toStdString());
            st->Execute();
        }
    } catch (const IBPP::Exception& e) {
        ReportDroppedError("Saving the field captions", e);
    }
    try {
        st->Close();
    } catch (const IBPP::Exception&) {
    }
    SetModified();
} catch (...) {
    RaiseStoreError();
}

// ---- the send run -----------------------------------------------------------------------------

namespace {

QString sendSelectionWhere(SendSelectionMode mode) {
    if (mode == SendSelectionMode::Marked)
        return QStringLiteral("WHERE SENDING=1");
    if (mode == SendSelectionMode::NotSent)
        return QStringLiteral("WHERE SENDED=0");
    return QString();
}

}  // namespace

int TDbData::CountSendSelection(SendSelectionMode mode) {
    const IBPP::Database db = Database();
    if (!db || !db->IsConnected())
        return 0;
    try {
        // its own transaction, as LoadSendSelection reads, so that the count is what it gives
        IBPP::Transaction tr = IBPP::TransactionFactory(
            db, IBPP::AccessMode::Read, IBPP::Isolation::Concurrency, IBPP::LockResolution::Wait);
        tr->Start();
        IBPP::Statement st = IBPP::StatementFactory(db, tr);
        st->Execute(Convert(QStringLiteral("select COUNT(ADDRESS) from MAILS ") +
                            sendSelectionWhere(mode) + QStringLiteral(";"))
                        .toStdString());
        int32_t n = 0;
        if (st->Fetch())
            st->Get(1, n);
        st.reset();
        tr->Commit();
        return std::max(n, 0);
    } catch (const IBPP::Exception& e) {
        ReportDroppedError("Counting the send selection", e);
        return -1;
    }
}

SendSelection TDbData::LoadSendSelection(SendSelectionMode mode) {
    SendSelection sel;
    const IBPP::Database db = Database();
    if (!db || !db->IsConnected())
        return sel;
    const QString where = sendSelectionWhere(mode);
    try {
        IBPP::Transaction tr = IBPP::TransactionFactory(
            db, IBPP::AccessMode::Write, IBPP::Isolation::Concurrency, IBPP::LockResolution::Wait);
        tr->Start();
        IBPP::Statement st = IBPP::StatementFactory(db, tr);
        st->Execute(Convert(QStringLiteral("select COUNT(ADDRESS) from MAILS ") + where +
                            QStringLiteral(";"))
                        .toStdString());
        int32_t n = 0;
        if (st->Fetch())
            st->Get(1, n);
        n = std::max(n, 0);
        sel.ids.reserve(static_cast<size_t>(n));
        for (auto& f : sel.fields)
            f.reserve(static_cast<size_t>(n));
        st->Execute(Convert(QStringLiteral("select * from MAILS ") + where + QStringLiteral(";"))
                        .toStdString());
        std::string value;
        int taken = 0;
        while (taken < n && st->Fetch()) {
            // A record without an address cannot be sent: it does not take the place of one
            // that has an address (the count above leaves it out too).
            if (st->IsNull(4))
                continue;
            int32_t id = -1;
            st->Get(1, id);
            sel.ids.push_back(id);
            for (int k = 0; k < kFieldCount; ++k) {
                value.clear();
                if (st->Get(k + 4, value))
                    sel.fields[k].push_back(QString());
                else
                    sel.fields[k].push_back(
                        QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())));
            }
            ++taken;
        }
        sel.count = taken;
        st.reset();
        tr->Commit();
        return sel;
    } catch (const IBPP::Exception& e) {
        // Half a selection would send to some and not others: hand the run nothing instead.
        ReportDroppedError("Loading the send selection", e);
        SendSelection none;
        none.failed = true;
        return none;
    }
}

namespace {

enum class FlagWrite { Written, Locked, Failed };

// One outcome in a short transaction of its own (write, concurrency, no wait).
FlagWrite writeSentFlag(const IBPP::Database& db, int recordId, int outcome, bool reportLock,
                        const DiagnosticSink& diagnostics) {
    try {
        IBPP::Transaction tr =
            IBPP::TransactionFactory(db, IBPP::AccessMode::Write, IBPP::Isolation::Concurrency,
                                     IBPP::LockResolution::NoWait);
        tr->Start();
        IBPP::Statement st = IBPP::StatementFactory(db, tr);
        st->Prepare("UPDATE MAILS SET SENDED=? WHERE ID=?");
        st->Set(1, outcome);
        st->Set(2, recordId);
        st->Execute();
        st.reset();
        tr->Commit();
        return FlagWrite::Written;
    } catch (const IBPP::SQLException& e) {
        const bool locked = IBPP::IsLockConflict(e);
        if (!locked || reportLock)
            ReportDroppedError(
                diagnostics,
                QString::fromLatin1(locked ? "Recording the outcome of record %1 (kept until the "
                                             "database is saved)"
                                           : "Recording the outcome of record %1")
                    .arg(recordId)
                    .toUtf8()
                    .constData(),
                e);
        return locked ? FlagWrite::Locked : FlagWrite::Failed;
    } catch (const IBPP::Exception& e) {
        ReportDroppedError(
            diagnostics,
            QStringLiteral("Recording the outcome of record %1").arg(recordId).toUtf8().constData(),
            e);
        return FlagWrite::Failed;
    }
}

}  // namespace

SentFlagResult TDbData::SetSentFlag(int recordId, int outcome) {
    const IBPP::Database db = Database();  // an added reference, taken under the lock
    if (!db || !db->IsConnected())
        return SentFlagResult::NoDatabase;
    switch (writeSentFlag(db, recordId, outcome, true, Diagnostics())) {
        case FlagWrite::Written: {
            std::lock_guard<std::mutex> lock(m_pendingMutex);
            m_pendingOutcomes.erase(recordId);  // a later outcome replaces a kept one
            m_modified.store(true);
            return SentFlagResult::Written;
        }
        case FlagWrite::Locked: {
            std::lock_guard<std::mutex> lock(m_pendingMutex);
            m_pendingOutcomes[recordId] = outcome;
            return SentFlagResult::Deferred;
        }
        case FlagWrite::Failed:
            break;
    }
    return SentFlagResult::Failed;
}

void TDbData::DeferSentFlag(int recordId, int outcome) {
    std::lock_guard<std::mutex> lock(m_pendingMutex);
    m_pendingOutcomes[recordId] = outcome;
}

int TDbData::PendingSentFlags() const {
    std::lock_guard<std::mutex> lock(m_pendingMutex);
    return static_cast<int>(m_pendingOutcomes.size());
}

int TDbData::WritePendingSentFlags() {
    std::map<int, int> pending;
    {
        std::lock_guard<std::mutex> lock(m_pendingMutex);
        pending.swap(m_pendingOutcomes);
    }
    const IBPP::Database db = Database();
    const DiagnosticSink diagnostics = Diagnostics();
    std::map<int, int> left;
    for (const auto& [id, outcome] : pending) {
        if (!db || !db->IsConnected() ||
            writeSentFlag(db, id, outcome, false, diagnostics) != FlagWrite::Written)
            left.emplace(id, outcome);
        else
            m_modified.store(true);
    }
    std::lock_guard<std::mutex> lock(m_pendingMutex);
    // Outcomes the worker recorded meanwhile are newer than the ones kept here.
    for (const auto& [id, outcome] : left)
        m_pendingOutcomes.emplace(id, outcome);
    return static_cast<int>(m_pendingOutcomes.size());
}

// ---- caption rows -----------------------------------------------------------------------------

bool UpdateCaption(const IBPP::Database& db, const IBPP::Transaction& tr,
                   const QString& statementText, const QString& columnName, const QString& caption,
                   const DiagnosticSink& diagnostics) {
    try {
        IBPP::Statement st = IBPP::StatementFactory(db, tr);
        st->Prepare(statementText.toUtf8().toStdString());
        st->Set(1, caption.toUtf8().toStdString());
        st->Set(2, columnName.toUpper().toUtf8().toStdString());
        st->Execute();
        return st->AffectedRows() == 1;
    } catch (const IBPP::Exception& e) {
        ReportDroppedError(diagnostics, "Updating a field caption", e);
        return false;
    }
}

void ReplaceCaptionRow(const IBPP::Database& db, const IBPP::Transaction& tr,
                       const QString& insertText, const QString& columnName, const QString& caption,
                       const DiagnosticSink& diagnostics) {
    IBPP::Statement st;
    bool savepoint = false;
    try {
        st = IBPP::StatementFactory(db, tr);
        // The delete and the insert stand or fall together: a caption the row cannot hold
        // must not leave the field without its row.
        st->ExecuteImmediate("SAVEPOINT PW_CAPTION_ROW");
        savepoint = true;
        st->Prepare("delete from MAIL_FIELDS where FIELD=?");
        st->Set(1, columnName.toUtf8().toStdString());
        st->Execute();
        st->Prepare(insertText.toUtf8().toStdString());
        st->Set(2, caption.toUtf8().toStdString());
        st->Set(1, columnName.toUtf8().toStdString());
        st->Execute();
        // The new row takes its field's place; with the domain default (-1) it would come
        // first when the captions are loaded in order and shift every caption by one.
        const auto& names = ColumnNames();
        const auto it = std::find(names.begin(), names.end(), columnName.toUpper());
        if (it != names.end()) {
            st->Prepare("update MAIL_FIELDS set ORDER_F = ? where FIELD = ? and ORDER_F = -1");
            st->Set(1, static_cast<int32_t>(it - names.begin()) + 1);
            st->Set(2, columnName.toUtf8().toStdString());
            st->Execute();
        }
        st->ExecuteImmediate("RELEASE SAVEPOINT PW_CAPTION_ROW");
    } catch (const IBPP::Exception& e) {
        ReportDroppedError(diagnostics, "Replacing a field caption row", e);
        if (savepoint && st) {
            try {
                st->ExecuteImmediate("ROLLBACK TO SAVEPOINT PW_CAPTION_ROW");
            } catch (const IBPP::Exception&) {
            }
        }
    }
}

// ---- whole-table reads, captions and the import ------------------------------------------------

void TDbData::ForEachRecord(RecordView view, RecordOrder order, int onlyField,
                            const std::function<bool(const StoredRecord&)>& visit) try {
    if (!CanWrite())
        return;
    const IBPP::Database db = Database();
    IBPP::Transaction tr = m_mainTr;
    if (view == RecordView::Committed) {
        // the last committed version of a row the main transaction holds changed
        tr = IBPP::TransactionFactory(db, IBPP::AccessMode::Read, IBPP::Isolation::ReadDirty,
                                      IBPP::LockResolution::NoWait);
        tr->Start();
    }
    {
        IBPP::Statement st = IBPP::StatementFactory(db, tr);
        st->Execute(order == RecordOrder::ById ? "select * from MAILS order by ID"
                                               : "select * from MAILS");
        StoredRecord record;
        std::string value;
        while (st->Fetch()) {
            int32_t n = -1;
            st->Get(1, n);
            record.id = n;
            n = 0;
            st->Get(2, n);
            record.sent = n;
            n = 0;
            st->Get(3, n);
            record.selected = n;
            for (int k = 0; k < kFieldCount; ++k) {
                record.fields[size_t(k)].reset();
                if (onlyField != kAllFields && k != onlyField)
                    continue;
                value.clear();
                if (!st->Get(k + 4, value))
                    record.fields[size_t(k)] = QByteArray(value.data(), qsizetype(value.size()));
            }
            if (!visit(record))
                break;
        }
    }
    if (view == RecordView::Committed)
        tr->Commit();
} catch (...) {
    RaiseStoreError();
}

QStringList TDbData::DistinctFieldValues(int field) try {
    QStringList out;
    if (field < 0 || field >= kFieldCount || !CanWrite())
        return out;
    IBPP::Statement st = IBPP::StatementFactory(Database(), m_mainTr);
    st->Execute(QStringLiteral("select distinct %1 from MAILS;")
                    .arg(ColumnNames()[field])
                    .toUtf8()
                    .toStdString());
    std::string value;
    while (st->Fetch()) {
        value.clear();
        if (!st->Get(1, value) && !value.empty())
            out << QString::fromUtf8(value.data(), qsizetype(value.size()));
    }
    return out;
} catch (...) {
    RaiseStoreError();
}

int TDbData::HighestRecordId() try {
    if (!CanWrite())
        return 0;
    IBPP::Statement st = IBPP::StatementFactory(Database(), m_mainTr);
    st->Execute("select max(ID) from MAILS;");
    int lastId = 0;
    if (st->Fetch()) {
        int32_t v = 0;
        if (!st->Get(1, v))
            lastId = v;
    }
    st->Close();
    return lastId;
} catch (...) {
    RaiseStoreError();
}

std::vector<std::pair<int, int>> TDbData::ListGroupMemberships() try {
    std::vector<std::pair<int, int>> out;
    if (!CanWrite())
        return out;
    IBPP::Statement st = IBPP::StatementFactory(Database(), m_mainTr);
    st->Execute("select IDGROUP, IDMAIL from GROUP_MAIL");
    while (st->Fetch()) {
        int32_t g = 0;
        int32_t m = 0;
        st->Get(1, g);
        st->Get(2, m);
        out.emplace_back(g, m);
    }
    return out;
} catch (...) {
    RaiseStoreError();
}

void TDbData::WriteCaptions(const std::vector<CaptionChange>& changes, int lockTimeoutSeconds) try {
    const IBPP::Database db = Database();
    if (!db)
        return;
    IBPP::Transaction tr =
        IBPP::TransactionFactory(db, IBPP::AccessMode::Write, IBPP::Isolation::Concurrency,
                                 IBPP::LockResolution::Wait, IBPP::tfNone, lockTimeoutSeconds);
    tr->Start();
    const DiagnosticSink diagnostics = Diagnostics();
    for (const CaptionChange& c : changes) {
        if (c.position < 0 || c.position >= kFieldCount)
            continue;
        const QString& column = ColumnNames()[size_t(c.position)];
        if (!UpdateCaption(db, tr,
                           QStringLiteral("UPDATE MAIL_FIELDS SET CAPTION = ? WHERE FIELD = ?"),
                           column, c.caption, diagnostics))
            ReplaceCaptionRow(db, tr, kInsertCaptionRow, column, c.caption, diagnostics);
    }
    tr->Commit();
} catch (...) {
    RaiseStoreError();
}

std::unique_ptr<RecordImport> TDbData::BeginImport(int rows, int lockTimeoutSeconds) try {
    const IBPP::Database db = Database();
    if (!db || !IsOpen())
        return nullptr;
    return std::unique_ptr<RecordImport>(
        new RecordImport(db, rows, m_fieldLength, lockTimeoutSeconds));
} catch (...) {
    RaiseStoreError();
}

}  // namespace pw::db
