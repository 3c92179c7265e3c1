#include "db/RecordCache.h"

#include <algorithm>

#include "db/TDbData.h"

namespace pw::db {

QString CachedRow::field(int k) const {
    return QString::fromUtf8(bytes.constData() + ends[k], ends[k + 1] - ends[k]);
}

void CachedRow::set(int k, const QByteArray& utf8) {
    const int delta = int(utf8.size()) - (ends[k + 1] - ends[k]);
    bytes.replace(ends[k], ends[k + 1] - ends[k], utf8);
    for (int i = k + 1; i <= kFieldCount; ++i)
        ends[i] += delta;
}

void CachedRow::appendField(int k, const char* data, qsizetype size) {
    if (k == 0)
        bytes.clear();
    bytes.append(data, size);
    ends[k + 1] = int(bytes.size());
}

RecordCache::RecordCache(IRecordCacheOwner* owner) : m_owner(owner) {}

RecordCache::~RecordCache() {
    if (m_store)
        m_store->UnregisterCache(this);
}

void RecordCache::clear() {
    if (m_owner)
        m_owner->listAboutToRefresh();
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_listRows = 0;
    m_reader.reset();
    m_truncated = false;
    m_skipIds.clear();
    m_laterSent = -1;
    m_laterSelected = -1;
    if (m_owner)
        m_owner->listRefreshed(0);
}

void RecordCache::beginList(std::unique_ptr<IListReader> reader) {
    if (m_owner)
        m_owner->listAboutToRefresh();
    m_rows.clear();
    m_listRows = 0;
    m_reader = std::move(reader);
    m_truncated = false;
    m_skipIds.clear();
    m_laterSent = -1;
    m_laterSelected = -1;
    // Whatever happens, the owner hears "done" after "about to": after a failure with the
    // rows read before it.
    struct Done {
        RecordCache& c;
        ~Done() {
            if (c.m_owner)
                c.m_owner->listRefreshed(c.rowCount());
        }
    } done{*this};
    std::vector<CachedRow> rows;
    try {
        readRows(kBatch, rows);
    } catch (...) {
        m_reader.reset();
        m_rows = std::move(rows);
        m_listRows = rowCount();
        throw;
    }
    m_rows = std::move(rows);
    m_listRows = rowCount();
}

void RecordCache::readRows(int count, std::vector<CachedRow>& rows) {
    CachedRow row;
    while (m_reader && count > 0) {
        if (rowCount() + int(rows.size()) >= m_limit) {
            // Full: one row more tells whether the list was longer than the limit.
            while (m_reader->read(row))
                if (!m_skipIds.count(row.id)) {
                    m_truncated = true;
                    break;
                }
            m_reader.reset();
            return;
        }
        if (!m_reader->read(row)) {
            m_reader.reset();
            return;
        }
        if (m_skipIds.count(row.id))
            continue;
        if (m_laterSent >= 0)
            row.sent = m_laterSent;
        if (m_laterSelected >= 0)
            row.selected = m_laterSelected != 0;
        rows.push_back(std::move(row));
        row = CachedRow();
        --count;
    }
}

void RecordCache::insertRead(std::vector<CachedRow>&& rows) {
    if (rows.empty())
        return;
    const int first = m_listRows;
    const int last = first + int(rows.size()) - 1;
    if (m_owner)
        m_owner->rowsAboutToBeInserted(first, last);
    m_rows.insert(m_rows.begin() + first, std::make_move_iterator(rows.begin()),
                  std::make_move_iterator(rows.end()));
    m_listRows = last + 1;
    if (m_owner)
        m_owner->rowsInserted(first, last);
}

FetchResult RecordCache::fetchUpTo(int row) noexcept {
    std::vector<CachedRow> rows;
    try {
        if (m_reader && row >= m_listRows)
            readRows(std::min(row, m_limit) - m_listRows + 1, rows);
        insertRead(std::move(rows));
        return FetchResult::Done;
    } catch (const std::exception& e) {
        // The rows read before the error are shown; the rest of the list stays unread.
        m_reader.reset();
        ReportDroppedError(m_store ? m_store->Diagnostics() : DiagnosticSink(),
                           "Fetching rows of the list", e);
        insertRead(std::move(rows));
        return FetchResult::Failed;
    }
}

int RecordCache::rowOfId(int recordId) const {
    if (recordId < 0)
        return -1;
    for (int r = 0; r < rowCount(); ++r)
        if (m_rows[size_t(r)].id == recordId)
            return r;
    return -1;
}

bool RecordCache::appendRow(int id, int sent, bool selected,
                            const std::array<QString, kFieldCount>& texts) {
    if (rowCount() >= m_limit)
        return false;
    const int r = rowCount();
    if (m_owner)
        m_owner->rowsAboutToBeInserted(r, r);
    CachedRow row;
    row.id = id;
    row.sent = sent;
    row.selected = selected;
    for (int k = 0; k < kFieldCount; ++k) {
        const QByteArray utf8 = texts[size_t(k)].toUtf8();
        row.appendField(k, utf8.constData(), utf8.size());
    }
    m_rows.push_back(std::move(row));
    // The list may still reach the record: it is shown once, here.
    if (m_reader)
        m_skipIds.insert(id);
    if (m_owner)
        m_owner->rowsInserted(r, r);
    return true;
}

void RecordCache::removeRecord(int recordId) {
    if (m_reader)
        m_skipIds.insert(recordId);
    const int row = rowOfId(recordId);
    if (row < 0)
        return;
    if (m_owner)
        m_owner->rowsAboutToBeRemoved(row, row);
    m_rows.erase(m_rows.begin() + row);
    if (row < m_listRows)
        --m_listRows;
    if (m_owner)
        m_owner->rowsRemoved(row, row);
}

int RecordCache::rowId(int row) const {
    return isFetched(row) ? m_rows[size_t(row)].id : -1;
}
int RecordCache::sent(int row) const {
    return isFetched(row) ? m_rows[size_t(row)].sent : 0;
}
bool RecordCache::selected(int row) const {
    return isFetched(row) && m_rows[size_t(row)].selected;
}

QString RecordCache::text(int row, int field) const {
    if (!isFetched(row) || field < 0 || field >= kFieldCount)
        return {};
    return m_rows[size_t(row)].field(field);
}

void RecordCache::setSent(int row, int value) {
    if (isFetched(row))
        m_rows[size_t(row)].sent = value;
}

void RecordCache::setSelected(int row, bool value) {
    if (isFetched(row))
        m_rows[size_t(row)].selected = value;
}

void RecordCache::setText(int row, int field, const QString& text) {
    if (isFetched(row) && field >= 0 && field < kFieldCount)
        m_rows[size_t(row)].set(field, text.toUtf8());
}

void RecordCache::setSentEverywhere(int value) {
    m_laterSent = value;
    for (CachedRow& r : m_rows)
        r.sent = value;
    if (!m_rows.empty() && m_owner)
        m_owner->rowsChanged(0, rowCount() - 1);
}

void RecordCache::setSelectedEverywhere(bool value) {
    m_laterSelected = value ? 1 : 0;
    for (CachedRow& r : m_rows)
        r.selected = value;
    if (!m_rows.empty() && m_owner)
        m_owner->rowsChanged(0, rowCount() - 1);
}

void RecordCache::notifyRowChanged(int row) const {
    if (m_owner)
        m_owner->rowChanged(row);
}

}  // namespace pw::db
