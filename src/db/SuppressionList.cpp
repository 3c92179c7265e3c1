#include "db/SuppressionList.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include "db/LocalFileDatabase.h"
#include "db/SharedLists.h"
#include "db/StoreEngine.h"

namespace pw::db {

namespace {

constexpr int kAddressBytes = 320;  // the longest address SMTP allows
constexpr int kReasonBytes = 1000;

std::string bytes(const QString& text) {
    return text.toUtf8().toStdString();
}

QString text(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

constexpr const char* kSuppressedDdl[] = {
    "CREATE TABLE SUPPRESSED ( ADDRESS VARCHAR(320) NOT NULL PRIMARY KEY, "
    "REASON VARCHAR(1000), ADDED VARCHAR(20) )",
    nullptr};

// The database of the list attached, or nothing when it has none yet and `create` is No.
std::optional<IBPP::Database> attachList(const QString& file,
                                         const std::optional<ServerLogin>& server,
                                         CreateTable create) {
    if (server) {
        IBPP::Database db = ServerDatabase(*server);
        db->Connect();
        if (EnsureSharedTable(db, "SUPPRESSED", kSuppressedDdl, create))
            return db;
        db->Disconnect();
        return std::nullopt;
    }
    if (!QFileInfo::exists(file)) {
        if (create == CreateTable::No)
            return std::nullopt;
        CreateLocalFile(file, {kSuppressedDdl[0]});
    }
    return AttachLocalFile(file, FileWrites::Forced);
}

}  // namespace

QString NormalizeAddress(const QString& input) {
    QString s = input.trimmed();
    const qsizetype open = s.lastIndexOf(QLatin1Char('<'));
    if (open >= 0) {
        const qsizetype close = s.indexOf(QLatin1Char('>'), open);
        if (close < 0)
            return {};
        s = s.mid(open + 1, close - open - 1).trimmed();
    }
    if (s.startsWith(QLatin1StringView("mailto:"), Qt::CaseInsensitive))
        s = s.mid(7);
    const qsizetype at = s.lastIndexOf(QLatin1Char('@'));
    if (at <= 0 || at == s.size() - 1)
        return {};
    for (const QChar c : s) {
        if (c.isSpace() || c == u'<' || c == u'>' || c == u',' || c == u';')
            return {};
    }
    const QString normal = s.left(at) + QLatin1Char('@') + s.mid(at + 1).toLower();
    return normal.toUtf8().size() > kAddressBytes ? QString() : normal;
}

QString SuppressionKey(const QString& text) {
    return NormalizeAddress(text).toLower();
}

CSuppressionList::CSuppressionList(QString userDataFolder) : m_folder(std::move(userDataFolder)) {}

CSuppressionList::CSuppressionList(const TDbData& store)
    : m_folder(store.Folders().userDataFolder), m_server(SharedListsServer(store)) {}

QString CSuppressionList::FilePath() const {
    if (m_server)
        return m_server->connection;
    return m_folder + QString::fromLatin1(kSuppressionFileName);
}

ListRead CSuppressionList::Read(std::vector<SuppressedEntry>& entries) const {
    entries.clear();
    m_lastError.clear();
    try {
        const std::optional<IBPP::Database> attached =
            attachList(FilePath(), m_server, CreateTable::No);
        if (!attached)
            return ListRead::Missing;
        const IBPP::Database& db = *attached;
        IBPP::Transaction tr =
            IBPP::TransactionFactory(db, IBPP::AccessMode::Read, IBPP::Isolation::Concurrency);
        tr->Start();
        IBPP::Statement st = IBPP::StatementFactory(db, tr);
        st->Execute("select ADDRESS, REASON, ADDED from SUPPRESSED order by ADDRESS");
        while (st->Fetch()) {
            std::string address, reason, added;
            st->Get(1, address);
            if (st->Get(2, reason))
                reason.clear();
            if (st->Get(3, added))
                added.clear();
            entries.push_back({text(address), text(reason), text(added)});
        }
        st.reset();
        tr->Commit();
        db->Disconnect();
        return ListRead::Read;
    } catch (const IBPP::Exception& e) {
        m_lastError = QString::fromUtf8(e.what());
        entries.clear();
        return ListRead::Failed;
    }
}

ListRead CSuppressionList::ReadReasons(QHash<QString, QString>& reasons) const {
    reasons.clear();
    std::vector<SuppressedEntry> entries;
    const ListRead r = Read(entries);
    for (const SuppressedEntry& e : entries)
        reasons.insert(SuppressionKey(e.address), e.reason);
    return r;
}

SuppressionChange CSuppressionList::Add(const QStringList& addresses, const QString& reason) {
    SuppressionChange change;
    m_lastError.clear();
    QStringList normal;
    for (const QString& a : addresses) {
        const QString n = NormalizeAddress(a);
        if (n.isEmpty()) {
            if (!a.trimmed().isEmpty())
                change.invalid.append(a.trimmed());
        } else if (!normal.contains(n)) {
            normal.append(n);
        } else {
            ++change.already;
        }
    }
    if (normal.isEmpty())
        return change;
    const QString added = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    const std::string why = Utf8Prefix(reason.trimmed(), kReasonBytes);
    try {
        const IBPP::Database db = *attachList(FilePath(), m_server, CreateTable::IfMissing);
        IBPP::Transaction tr = IBPP::TransactionFactory(db);
        tr->Start();
        IBPP::Statement find = IBPP::StatementFactory(db, tr);
        find->Prepare("select count(*) from SUPPRESSED where ADDRESS = ?");
        IBPP::Statement insert = IBPP::StatementFactory(db, tr);
        insert->Prepare("insert into SUPPRESSED (ADDRESS, REASON, ADDED) values (?, ?, ?)");
        int made = 0;
        for (const QString& n : normal) {
            find->Set(1, bytes(n));
            find->Execute();
            int32_t count = 0;
            if (find->Fetch())
                find->Get(1, count);
            if (count > 0) {
                ++change.already;
                continue;
            }
            insert->Set(1, bytes(n));
            insert->Set(2, why);
            insert->Set(3, bytes(added));
            insert->Execute();
            ++made;
        }
        find.reset();
        insert.reset();
        tr->Commit();
        db->Disconnect();
        change.added = made;
    } catch (const IBPP::Exception& e) {
        m_lastError = QString::fromUtf8(e.what());
        change.added = 0;
        change.already = 0;
        change.failed = true;
    }
    return change;
}

bool CSuppressionList::Remove(const QStringList& addresses) {
    m_lastError.clear();
    if (addresses.isEmpty())
        return true;
    try {
        const std::optional<IBPP::Database> attached =
            attachList(FilePath(), m_server, CreateTable::No);
        if (!attached)
            return true;
        const IBPP::Database& db = *attached;
        IBPP::Transaction tr = IBPP::TransactionFactory(db);
        tr->Start();
        IBPP::Statement st = IBPP::StatementFactory(db, tr);
        st->Prepare("delete from SUPPRESSED where ADDRESS = ?");
        for (const QString& a : addresses) {
            const QString n = NormalizeAddress(a);
            st->Set(1, bytes(n.isEmpty() ? a : n));
            st->Execute();
        }
        st.reset();
        tr->Commit();
        db->Disconnect();
        return true;
    } catch (const IBPP::Exception& e) {
        m_lastError = QString::fromUtf8(e.what());
        return false;
    }
}

}  // namespace pw::db
