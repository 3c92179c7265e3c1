// The record list: its state (group, filter, order), its one statement and the caches it
// fills a batch at a time.
#include <algorithm>
#include <functional>
#include <utility>

#include "db/StoreEngine.h"
#include "resources/Strings.h"

namespace pw::db {

namespace {

// The list as the cache reads it: the IDs in list order at the refresh, then the records of
// the pages a view comes to, each read in the store's main transaction of the moment (so
// that the window's unsaved changes show, and a save in between does not end the list).
class ListReader : public IListReader {
public:
    using Handles = std::function<std::pair<IBPP::Database, IBPP::Transaction>()>;
    ListReader(Handles handles, QString idQuery)
        : m_handles(std::move(handles)), m_idQuery(std::move(idQuery)) {}

    std::vector<int> ids(int most) override {
        IBPP::Statement st = statement();
        st->Execute((m_idQuery + QStringLiteral(" rows %1").arg(most)).toUtf8().toStdString());
        std::vector<int> out;
        int32_t id = -1;
        while (st->Fetch()) {
            st->Get(1, id);
            out.push_back(id);
        }
        return out;
    }

    void rows(const std::vector<int>& ids, std::vector<CachedRow>& out) override {
        if (ids.empty())
            return;
        // IDs are numbers of our own: the list goes into the statement as it is
        std::string sql = "select * from Mails where ID in (";
        for (size_t i = 0; i < ids.size(); ++i) {
            if (i > 0)
                sql += ',';
            sql += std::to_string(ids[i]);
        }
        sql += ')';
        IBPP::Statement st = statement();
        st->Execute(sql);
        CachedRow row;
        while (st->Fetch()) {
            int32_t id = -1;
            int32_t sent = 0;
            bool selected = false;
            st->Get(1, id);
            st->Get(2, sent);
            st->Get(3, selected);
            row.id = id;
            row.sent = sent;
            row.selected = selected;
            for (int k = 0; k < kFieldCount; ++k) {
                m_value.clear();
                if (st->Get(k + 4, m_value))
                    m_value.clear();
                row.appendField(k, m_value.data(), qsizetype(m_value.size()));
            }
            row.bytes.squeeze();
            out.push_back(std::move(row));
            row = CachedRow();
        }
    }

private:
    IBPP::Statement statement() {
        const auto [db, tr] = m_handles();
        if (!db || !tr || !tr->IsStarted())
            throw IBPP::LogicException("ListReader", "The database is not open.");
        return IBPP::StatementFactory(db, tr);
    }

    Handles m_handles;
    QString m_idQuery;
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

// ---- list state and cache ---------------------------------------------------------------------

void TDbData::ResetListState() {
    m_group = -1;
    m_filter.clear();
    m_order = QStringLiteral(" ID asc ");
    m_listQuery.clear();
    m_toldTruncated = false;
}

void TDbData::ReleaseList() {
    for (RecordCache* c : m_caches)
        c->stopReading();
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
    Engine* const engine = m_engine.get();
    cache->beginList(std::make_unique<ListReader>(
        [engine] { return std::make_pair(engine->Database(), engine->ListTransaction()); },
        QStringLiteral("select ID from Mails ") + where + ListOrder(m_order)));
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

}  // namespace pw::db
