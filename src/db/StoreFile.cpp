// The working copy's life: its name, its creation with the schema, open, save, save as,
// discard and close.
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "db/RecipientList.h"
#include "db/StoreEngine.h"

namespace pw::db {

namespace {

constexpr int kAllowedSizes[] = {50, 100, 150, 200, 250};

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

IBPP::Database makeDatabase(const QString& path, bool forCreation, PageCache pageCache) {
    if (const std::optional<ServerLogin> server = RegisteredServer(path))
        return ServerDatabase(*server);  // the server keeps its own writes and cache
    IBPP::Database db = IBPP::DatabaseFactory("", QFile::encodeName(path).toStdString(),
                                              kEngineUser, kEnginePassword, "", kEngineCharSet,
                                              forCreation ? kEngineCreateParams : "");
    // A working copy is a scratch copy of the user's file: its pages go through the system's
    // file cache instead of one synchronous write each, which made a long main transaction
    // over 20000 records wait on the disk for seconds. Committed pages are still written to
    // the file at commit, so a crashed run leaves its outcomes in the working copy.
    db->SetForcedWrites(false);
    if (pageCache == PageCache::Bounded)
        db->SetPageBuffers(kBoundedPageBuffers);
    return db;
}

// A fresh database made once is kept beside the working copies, named after what made it,
// and copied for the next: the engine's own creation and the schema script cost a start-up
// about 40 ms of CPU, a copy of the file under 1 ms.
QString blankDatabasePath(const QString& workingCopyFolder, const QStringList& script,
                          int strFieldSize) {
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(QByteArray(kEngineCreateParams));
    hash.addData(QByteArray::number(strFieldSize));
    for (const QString& statement : script)
        hash.addData(statement.toUtf8());
    QString folder = workingCopyFolder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder + QStringLiteral("blank/") + QString::fromLatin1(hash.result().toHex().left(16)) +
           QStringLiteral(".fdb");
}

// The blank copied to `path`, when there is one this engine opens.
bool copyBlankDatabase(const QString& blank, const QString& path) {
    if (!QFileInfo::exists(blank) || !QFile::copy(blank, path))
        return false;
    try {
        IBPP::Database db = makeDatabase(path, false, PageCache::EngineDefault);
        db->Connect();
        db->Disconnect();
        return true;
    } catch (const IBPP::Exception&) {
        // another engine's file: made anew, and the blank with it
        QFile::remove(path);
        QFile::remove(blank);
        return false;
    }
}

// Keeps a copy of the database just made at `path` as the blank for the next ones.
void keepBlankDatabase(const QString& path, const QString& blank) {
    if (QFileInfo::exists(blank) || !QDir().mkpath(QFileInfo(blank).path()))
        return;
    QFile::setPermissions(QFileInfo(blank).path(), kPrivateFolder);
    const QString part = blank + QStringLiteral(".part");
    QFile::remove(part);
    if (!QFile::copy(path, part) || !QFile::rename(part, blank))
        QFile::remove(part);
}

}  // namespace

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

void TDbData::SetStrFieldSize(int size) {
    m_strFieldSize = 100;
    for (int allowed : kAllowedSizes)
        if (size == allowed)
            m_strFieldSize = size;
}

IBPP::Database WorkingCopyDatabase(const QString& path) {
    if (const std::optional<ServerLogin> server = RegisteredServer(path))
        return ServerDatabase(*server);
    IBPP::Database db = IBPP::DatabaseFactory("", QFile::encodeName(path).toStdString(),
                                              kEngineUser, kEnginePassword, "", kEngineCharSet, "");
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
            m_kind = StoreKind::WorkingCopy;
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

CreateResult TDbData::CreateDatabase(const QString& logPath, ExistingFile existing) {
    if (m_workingCopy.isEmpty())
        MakeWorkingCopyPath();

    // The log starts empty: an old longer log would otherwise keep its tail after this one.
    QDir().mkpath(m_folders.userDataFolder);
    QFile log(m_folders.userDataFolder + QStringLiteral("db_log.txt"));
    const bool logging =
        log.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
    // No log, but the database can still be made: creation goes on and reports what it did.
    m_creationLog = logging ? CreationLog::Written : CreationLog::NotWritten;
    auto w = [&](const QString& text) {
        if (logging)
            log.write(text.toUtf8());
    };

    w(QStringLiteral("[TDbData::DbCreate Method]\n"));
    w(QStringLiteral(" - Path file: ") + logPath + QStringLiteral("\n"));
    bool madeByUs = true;
    const QFileInfo present(m_workingCopy);
    if (present.exists() || present.isSymLink()) {
        w(QStringLiteral(" - Path file \"") + logPath +
          QStringLiteral("\" already exists. Asking for rewrite..."));
        if (existing == ExistingFile::Report)
            return CreateResult::Exists;  // the caller asks, and this is written again
        if (existing == ExistingFile::Keep) {
            w(QStringLiteral("NO\n"));
            w(QStringLiteral("[RETURN_FALSE]\n"));
            return CreateResult::Declined;
        }
        w(QStringLiteral("YES\n"));
        // The user agreed to the replacement; the engine never creates over a file.
        madeByUs = QFile::remove(m_workingCopy);
    }

    const bool local = !RegisteredServer(m_workingCopy).has_value();
    const QString blank =
        local ? blankDatabasePath(m_folders.workingCopyFolder, m_script, m_strFieldSize)
              : QString();
    if (local && madeByUs && copyBlankDatabase(blank, m_workingCopy)) {
        w(QStringLiteral(" - Copied from ") + blank + QStringLiteral("\n[RETURN_TRUE]\n"));
        m_modified.store(true);
        QFile::setPermissions(m_workingCopy, kPrivateFile);
        return CreateResult::Created;
    }

    IBPP::Database db;
    IBPP::Transaction tr;
    IBPP::Statement st;
    try {
        w(QStringLiteral(" - IBPP::DatabaseFactory...\n"));
        w(QStringLiteral("   . Mirror File: ") + m_workingCopy + QStringLiteral("\n"));
        db = makeDatabase(m_workingCopy, true, m_pageCache);
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
        if (local)
            keepBlankDatabase(m_workingCopy, blank);
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
        return CreateResult::Failed;
    }
}

// ---- open, save, close ------------------------------------------------------------------------

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
    const bool server = m_kind == StoreKind::Server;
    if (IsOpen() || m_workingCopy.isEmpty() || (!server && !QFileInfo::exists(m_workingCopy)))
        return false;
    try {
        IBPP::Database db = makeDatabase(m_workingCopy, false, m_pageCache);
        db->Connect();
        {
            std::lock_guard<std::mutex> lock(m_engine->dbMutex);
            m_engine->db = db;
        }
        m_modified.store(false);
        for (CRecipientList* l : m_lists)
            l->ResetView();
        if (server) {
            // Others write the same rows: a write waits a while for theirs to end, and every
            // change is committed at once (Changed), so no row stays locked while a window
            // waits for its user.
            m_engine->mainTr = IBPP::TransactionFactory(
                db, IBPP::AccessMode::Write, IBPP::Isolation::ReadCommitted,
                IBPP::LockResolution::Wait, IBPP::tfNone, kServerLockTimeoutSeconds);
            m_engine->readTr = IBPP::TransactionFactory(db, IBPP::AccessMode::Read,
                                                        IBPP::Isolation::ReadCommitted);
            m_engine->readTr->Start();
        } else {
            m_engine->mainTr = IBPP::TransactionFactory(db, IBPP::AccessMode::Write,
                                                        IBPP::Isolation::ReadCommitted,
                                                        IBPP::LockResolution::NoWait);
        }
        m_engine->mainTr->Start();
        FieldCaptions().LoadCaptions();
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
        m_engine->mainTr.reset();
        m_engine->readTr.reset();
        {
            std::lock_guard<std::mutex> lock(m_engine->dbMutex);
            m_engine->db.reset();
        }
        if (deleteOnFailure && !server) {
            QFile::remove(m_workingCopy);
            m_workingCopy.clear();
        }
        return false;
    }
}

void TDbData::ReadFieldLength() {
    const IBPP::Database db = m_engine->Database();
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
        FieldCaptions().SaveCaptions();
        if (m_engine->mainTr && m_engine->mainTr->IsStarted()) {
            if (mode == SaveMode::Retaining) {
                m_engine->mainTr->CommitRetain();
            } else {
                m_engine->mainTr->Commit();
            }
        }
        m_modified.store(false);
        // Outcomes of the send run that waited for this save: the rows are free now.
        if (SendRun().PendingSentFlags() > 0) {
            SendRun().WritePendingSentFlags();
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
    if (m_kind == StoreKind::Server)
        return false;  // the list lives on the server; there is no copy to write out
    if (QFileInfo(file).absoluteFilePath() == QFileInfo(m_workingCopy).absoluteFilePath())
        return Save(SaveMode::Retaining);
    try {
        if (!Save(SaveMode::Ending))
            return false;
        // the lists read their pages in the main transaction of the moment: they go on
        // once the copy is open again
        if (m_engine->mainTr && m_engine->mainTr->IsStarted())
            m_engine->mainTr->Rollback();
        m_engine->mainTr.reset();
        if (IBPP::Database db = m_engine->Database())
            db->Disconnect();
        {
            std::lock_guard<std::mutex> lock(m_engine->dbMutex);
            m_engine->db.reset();
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

bool TDbData::EndChanges(UnsavedChanges what) {
    if (what == UnsavedChanges::Save)
        return Save(SaveMode::Retaining);
    try {
        if (m_engine->mainTr && m_engine->mainTr->IsStarted())
            m_engine->mainTr->RollbackRetain();
    } catch (const IBPP::Exception& e) {
        ReportDroppedError("Discarding the changes", e);
    }
    // The user's changes are gone; the send run's outcomes are not the user's to discard.
    SendRun().WritePendingSentFlags();
    return true;
}

void TDbData::Close(CloseMode mode) {
    for (CRecipientList* l : m_lists)
        l->Cache().clear();
    try {
        if (m_engine->mainTr && m_engine->mainTr->IsStarted())
            m_engine->mainTr->Rollback();
    } catch (const IBPP::Exception& e) {
        ReportDroppedError("Rolling back", e);
    }
    m_engine->mainTr.reset();
    try {
        if (m_engine->readTr && m_engine->readTr->IsStarted())
            m_engine->readTr->Commit();
    } catch (const IBPP::Exception& e) {
        ReportDroppedError("Ending the list's reads", e);
    }
    m_engine->readTr.reset();
    if (SendRun().PendingSentFlags() > 0)
        SendRun().WritePendingSentFlags();
    try {
        if (IBPP::Database db = m_engine->Database())
            db->Disconnect();
    } catch (const IBPP::Exception& e) {
        ReportDroppedError("Detaching", e);
    }
    {
        std::lock_guard<std::mutex> lock(m_engine->dbMutex);
        m_engine->db.reset();
    }
    if (mode == CloseMode::DeleteWorkingCopy && !m_workingCopy.isEmpty()) {
        if (!m_workingCopyKept && m_kind == StoreKind::WorkingCopy)
            QFile::remove(m_workingCopy);
        m_workingCopyKept = false;
        m_workingCopy.clear();
        m_kind = StoreKind::WorkingCopy;
    }
}

}  // namespace pw::db
