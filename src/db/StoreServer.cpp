// A recipient list on a Firebird server: how it is named, opened, given its schema, and how
// its changes are committed and their conflicts with other desktops told.
#include <QCryptographicHash>
#include <QDir>
#include <QRegularExpression>
#include <map>
#include <utility>

#include "db/RecipientList.h"
#include "db/StoreEngine.h"
#include "resources/Strings.h"

namespace pw::db {

namespace {

std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}
std::map<QString, ServerLogin>& registry() {
    static std::map<QString, ServerLogin> r;
    return r;
}

// The engine's own words without the layer's context lines, for the user.
QString engineWords(const std::exception& e) {
    const QString text = QString::fromUtf8(e.what());
    const qsizetype blank = text.indexOf(QStringLiteral("\n\n"));
    return blank >= 0 ? text.mid(blank + 2).trimmed() : text.trimmed();
}

bool hasRelation(const IBPP::Statement& st, const char* name) {
    st->Execute(std::string("select count(*) from RDB$RELATIONS where RDB$RELATION_NAME = '") +
                name + "'");
    int32_t n = 0;
    if (st->Fetch())
        st->Get(1, n);
    return n > 0;
}

}  // namespace

bool IsServerConnection(const QString& location) {
    // host, an optional /port, a colon, then a path or an alias; a file path starts with '/'
    static const QRegularExpression server(
        QStringLiteral(R"(^[A-Za-z0-9][A-Za-z0-9.\-]*(/[0-9]{1,5})?:[^\s].*$)"));
    return server.match(location).hasMatch();
}

QString ServerConnectionName(const QString& host, int port, const QString& database) {
    const QString at = port == 3050 ? host : host + QLatin1Char('/') + QString::number(port);
    return at + QLatin1Char(':') + database;
}

void RegisterServer(const QString& path, const ServerLogin& login) {
    std::lock_guard<std::mutex> lock(registryMutex());
    registry()[path] = login;
}

std::optional<ServerLogin> RegisteredServer(const QString& path) {
    std::lock_guard<std::mutex> lock(registryMutex());
    const auto it = registry().find(path);
    if (it == registry().end())
        return std::nullopt;
    return it->second;
}

IBPP::Database ServerDatabase(const ServerLogin& login) {
    return IBPP::DatabaseFactory("", login.connection.toUtf8().toStdString(),
                                 login.user.toUtf8().toStdString(),
                                 login.password.toUtf8().toStdString(), "", kEngineCharSet, "");
}

QString TDbData::ServerConnection() const {
    if (m_kind != StoreKind::Server)
        return {};
    const std::optional<ServerLogin> login = RegisteredServer(m_workingCopy);
    return login ? login->connection : QString();
}

QString TDbData::ServerUser() const {
    const std::optional<ServerLogin> login =
        m_kind == StoreKind::Server ? RegisteredServer(m_workingCopy) : std::nullopt;
    return login ? login->user : QString();
}

ServerOpenResult TDbData::OpenServer(const ServerLogin& login) {
    Close(CloseMode::DeleteWorkingCopy);
    QDir().mkpath(m_folders.workingCopyFolder);
    const QByteArray key = (login.connection + QLatin1Char('\n') + login.user).toUtf8();
    m_workingCopy = m_folders.workingCopyFolder + QStringLiteral("server-") +
                    QString::fromLatin1(
                        QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16)) +
                    QStringLiteral(".pzs");
    RegisterServer(m_workingCopy, login);
    m_kind = StoreKind::Server;
    QString why;
    try {
        if (!EnsureServerSchema())
            why = pw::str(ids::kDbServerNotRecipientList);
    } catch (const IBPP::Exception& e) {
        ReportDroppedError("Opening the database on the server", e);
        why = engineWords(e);
    }
    if (why.isEmpty() && !OpenCurrent(false))
        why = pw::str(ids::kDbServerNotRecipientList);
    if (why.isEmpty())
        return {};
    m_workingCopy.clear();
    m_kind = StoreKind::WorkingCopy;
    return {pw::str(ids::kDbServerOpenFailed).arg(login.connection, why)};
}

bool TDbData::EnsureServerSchema() {
    const std::optional<ServerLogin> login = RegisteredServer(m_workingCopy);
    if (!login)
        return false;
    IBPP::Database db = ServerDatabase(*login);
    db->Connect();
    IBPP::Transaction tr = IBPP::TransactionFactory(
        db, IBPP::AccessMode::Write, IBPP::Isolation::ReadCommitted, IBPP::LockResolution::NoWait);
    tr->Start();
    IBPP::Statement st = IBPP::StatementFactory(db, tr);
    if (!hasRelation(st, "MAILS")) {
        // only an empty database is made a recipient list, never one that holds other data
        st->Execute("select count(*) from RDB$RELATIONS where coalesce(RDB$SYSTEM_FLAG, 0) = 0");
        int32_t tables = 0;
        if (st->Fetch())
            st->Get(1, tables);
        if (tables > 0)
            return false;
        const QString size = QString::number(m_strFieldSize);
        for (QString statement : m_script) {
            st->ExecuteImmediate(
                Convert(statement.replace(QStringLiteral("%STR_SIZE%"), size)).toStdString());
            tr->CommitRetain();
        }
        // The list is the office's: whoever the server lets in works on it, not only its maker.
        for (const char* grant :
             {"GRANT ALL ON MAILS TO PUBLIC", "GRANT ALL ON GROUPS TO PUBLIC",
              "GRANT ALL ON GROUP_MAIL TO PUBLIC", "GRANT ALL ON MAIL_FIELDS TO PUBLIC",
              "GRANT ALL ON TEMP_DUBLIC_VALUES TO PUBLIC",
              "GRANT EXECUTE ON PROCEDURE AUTODELDUBLIC TO PUBLIC",
              "GRANT USAGE ON GENERATOR GEN_MAILS_ID TO PUBLIC",
              "GRANT USAGE ON GENERATOR GEN_GROUPS_ID TO PUBLIC"})
            st->ExecuteImmediate(grant);
        tr->CommitRetain();
    }
    if (!hasRelation(st, kRunLockTable)) {
        st->ExecuteImmediate(
            "CREATE TABLE RUN_LOCK ( ID INTEGER NOT NULL PRIMARY KEY, HOLDER "
            "VARCHAR(200), STARTED TIMESTAMP )");
        tr->CommitRetain();
        st->ExecuteImmediate("INSERT INTO RUN_LOCK (ID) VALUES (1)");
        st->ExecuteImmediate("INSERT INTO RUN_LOCK (ID) VALUES (2)");
        st->ExecuteImmediate("GRANT ALL ON RUN_LOCK TO PUBLIC");
    }
    st.reset();
    tr->Commit();
    db->Disconnect();
    return true;
}

void TDbData::Changed() {
    if (m_kind == StoreKind::WorkingCopy)
        m_modified.store(true);
    else if (m_undoModified.empty())
        CommitServerChange();
}

void TDbData::CommitServerChange() {
    const IBPP::Transaction& tr = m_engine->mainTr;
    if (!tr || !tr->IsStarted())
        return;
    try {
        tr->CommitRetain();
    } catch (const IBPP::Exception&) {
        // what could not be committed must not ride along with the next change
        try {
            tr->RollbackRetain();
        } catch (const IBPP::Exception& e) {
            ReportDroppedError("Undoing an uncommitted change", e);
        }
        throw;
    }
}

void TDbData::NoteChangedElsewhere(int recordId, int row, CRecipientList* list) {
    try {
        m_engine->mainTr->RollbackRetain();
    } catch (const IBPP::Exception& e) {
        ReportDroppedError("Undoing a conflicting change", e);
    }
    std::array<QString, kFieldCount> texts;
    QStringList shown;
    try {
        IBPP::Statement st =
            IBPP::StatementFactory(m_engine->Database(), m_engine->ListTransaction());
        st->Execute(
            QStringLiteral("select * from MAILS where ID = %1").arg(recordId).toStdString());
        if (st->Fetch()) {
            std::string value;
            for (int k = 0; k < kFieldCount; ++k) {
                value.clear();
                if (!st->Get(k + 4, value))
                    texts[size_t(k)] = QString::fromUtf8(value.data(), qsizetype(value.size()));
                if (!texts[size_t(k)].isEmpty())
                    shown << m_captions[size_t(k)] + QStringLiteral(": ") + texts[size_t(k)];
            }
        }
    } catch (const IBPP::Exception& e) {
        ReportDroppedError("Reading the record changed elsewhere", e);
    }
    if (list)
        list->UpdateCachedRow(row, texts);
    m_changedElsewhere = pw::str(ids::kDbChangedByOther).arg(shown.join(QLatin1Char('\n')));
}

std::optional<QString> TDbData::TakeChangedElsewhere() {
    return std::exchange(m_changedElsewhere, std::nullopt);
}

}  // namespace pw::db
