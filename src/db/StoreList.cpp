// The record list: its state (group, filter, order), its one statement and the caches it
// fills a batch at a time.
#include <algorithm>

#include "db/StoreEngine.h"
#include "resources/Strings.h"

namespace pw::db {

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

// ---- list state and cache ---------------------------------------------------------------------

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
    IBPP::Statement st;
    try {
        st = IBPP::StatementFactory(m_engine->Database(), m_engine->ListTransaction());
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

}  // namespace pw::db
