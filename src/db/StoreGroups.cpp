// The named groups of records and their memberships.
#include "db/StoreEngine.h"

namespace pw::db {

namespace {

// Unique-key violations are what AddToGroup expects for a record already in the group.
bool isDuplicateKey(const IBPP::Exception& e) {
    const auto* sql = dynamic_cast<const IBPP::SQLException*>(&e);
    return sql && (sql->EngineCode() == 335544665 /* unique_key_violation */ ||
                   sql->EngineCode() == 335544349 /* no_dup */);
}

}  // namespace

// ---- groups -----------------------------------------------------------------------------------

int CStoreGroups::FindGroupByName(const QString& name) try {
    if (!m_store.CanWrite())
        return -1;
    IBPP::Statement st =
        IBPP::StatementFactory(m_store.m_engine->Database(), m_store.m_engine->mainTr);
    st->Execute(
        m_store.Convert(QStringLiteral("select ID from GROUPS where Name = ") + SqlLiteral(name))
            .toStdString());
    int32_t id = -1;
    if (st->Fetch())
        st->Get("ID", id);
    return id;
} catch (...) {
    RaiseStoreError();
}

int CStoreGroups::AddGroup(const QString& name) try {
    if (!m_store.CanWrite())
        return -1;
    const IBPP::Database db = m_store.m_engine->Database();
    IBPP::Statement st = IBPP::StatementFactory(db, m_store.m_engine->mainTr);
    st->Execute("SELECT GEN_ID( GEN_GROUPS_ID, 1 ) FROM RDB$DATABASE");
    int32_t id = -1;
    if (st->Fetch())
        st->Get(1, id);
    st.reset();
    m_store.Exec(QStringLiteral("insert into GROUPS (ID, NAME, NOTES) values (%1, ").arg(id) +
                 SqlLiteral(name) + QStringLiteral(", '')"));
    m_store.Changed();
    return id;
} catch (...) {
    RaiseStoreError();
}

void CStoreGroups::RenameGroup(int groupId, const QString& name) try {
    if (!m_store.CanWrite())
        return;
    m_store.Exec(QStringLiteral("update GROUPS set NAME = ") + SqlLiteral(name) +
                 QStringLiteral(" where ID = %1").arg(groupId));
    m_store.Changed();
} catch (...) {
    RaiseStoreError();
}

void CStoreGroups::DeleteGroup(int groupId) try {
    if (!m_store.CanWrite())
        return;
    m_store.Exec(QStringLiteral("delete from GROUPS where ID = %1").arg(groupId));
    m_store.Changed();
} catch (...) {
    RaiseStoreError();
}

void CStoreGroups::AddToGroup(int groupId, int recordId) try {
    if (!m_store.CanWrite())
        return;
    try {
        m_store.Exec(QStringLiteral("insert into GROUP_MAIL ( IDGROUP, IDMAIL) values  ( %1, %2)")
                         .arg(groupId)
                         .arg(recordId));
        m_store.Changed();
    } catch (const IBPP::Exception& e) {
        if (!isDuplicateKey(e))
            m_store.ReportDroppedError("Adding a record to a group", e);
    }
} catch (...) {
    RaiseStoreError();
}

std::vector<GroupInfo> CStoreGroups::ListGroups() try {
    std::vector<GroupInfo> out;
    if (!m_store.CanWrite())
        return out;
    IBPP::Statement st =
        IBPP::StatementFactory(m_store.m_engine->Database(), m_store.m_engine->mainTr);
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

std::vector<std::pair<int, int>> CStoreGroups::ListGroupMemberships() try {
    std::vector<std::pair<int, int>> out;
    if (!m_store.CanWrite())
        return out;
    IBPP::Statement st =
        IBPP::StatementFactory(m_store.m_engine->Database(), m_store.m_engine->mainTr);
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

}  // namespace pw::db
