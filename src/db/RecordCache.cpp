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

RecordCache::~RecordCache() = default;

void RecordCache::clear() {
    if (m_owner)
        m_owner->listAboutToRefresh();
    m_ids.clear();
    m_ids.shrink_to_fit();
    m_held.clear();
    m_reader.reset();
    m_truncated = false;
    if (m_owner)
        m_owner->listRefreshed(0);
}

void RecordCache::beginList(std::unique_ptr<IListReader> reader) {
    if (m_owner)
        m_owner->listAboutToRefresh();
    m_ids.clear();
    m_held.clear();
    m_reader = std::move(reader);
    m_truncated = false;
    // Whatever happens, the owner hears "done" after "about to": after a failure with an
    // empty list.
    struct Done {
        RecordCache& c;
        ~Done() {
            if (c.m_owner)
                c.m_owner->listRefreshed(c.rowCount());
        }
    } done{*this};
    try {
        // one more than the limit tells whether the list was longer
        std::vector<int> ids = m_reader->ids(m_limit + 1);
        if (int(ids.size()) > m_limit) {
            ids.resize(size_t(m_limit));
            m_truncated = true;
        }
        m_ids = std::move(ids);
        if (!m_ids.empty())
            readPage(0);
    } catch (...) {
        m_reader.reset();
        m_ids.clear();
        m_held.clear();
        throw;
    }
}

void RecordCache::readPage(int row) const {
    const int first = row - row % kBatch;
    const int end = std::min(first + kBatch, rowCount());
    std::vector<int> ids;
    ids.reserve(size_t(end - first));
    for (int r = first; r < end; ++r)
        if (!m_held.count(m_ids[size_t(r)]))
            ids.push_back(m_ids[size_t(r)]);
    if (ids.empty())
        return;
    letGo(row);
    std::vector<CachedRow> rows;
    rows.reserve(ids.size());
    if (m_reader)
        m_reader->rows(ids, rows);
    for (CachedRow& r : rows) {
        const int id = r.id;
        m_held[id] = std::move(r);
    }
    // A record gone from the file meanwhile reads as empty, and is not asked for again.
    for (const int id : ids) {
        if (!m_held.count(id)) {
            CachedRow& empty = m_held[id];
            empty.id = id;
            empty.selected = false;
        }
    }
}

void RecordCache::letGo(int row) const {
    if (int(m_held.size()) + kBatch <= kHeldRows)
        return;
    // Keep the half of what may be held that lies around the row asked for.
    const int first = std::max(0, row - kHeldRows / 4);
    const int end = std::min(rowCount(), row + kHeldRows / 4);
    std::unordered_map<int, CachedRow> kept;
    kept.reserve(size_t(kHeldRows));
    for (int r = first; r < end; ++r) {
        const auto it = m_held.find(m_ids[size_t(r)]);
        if (it != m_held.end())
            kept.emplace(it->first, std::move(it->second));
    }
    m_held.swap(kept);
}

const CachedRow* RecordCache::rowAt(int row) const {
    if (!isFetched(row))
        return nullptr;
    auto it = m_held.find(m_ids[size_t(row)]);
    if (it != m_held.end())
        return &it->second;
    try {
        readPage(row);
    } catch (const std::exception& e) {
        ReportDroppedError(m_store ? m_store->Diagnostics() : DiagnosticSink(),
                           "Reading rows of the list", e);
        // the page reads as empty until it is let go, rather than failing at every paint
        const int first = row - row % kBatch;
        for (int r = first; r < std::min(first + kBatch, rowCount()); ++r) {
            CachedRow& empty = m_held[m_ids[size_t(r)]];
            empty.id = m_ids[size_t(r)];
        }
    }
    it = m_held.find(m_ids[size_t(row)]);
    return it != m_held.end() ? &it->second : nullptr;
}

CachedRow* RecordCache::heldRow(int row) {
    if (!isFetched(row))
        return nullptr;
    const auto it = m_held.find(m_ids[size_t(row)]);
    return it != m_held.end() ? &it->second : nullptr;
}

FetchResult RecordCache::fetchUpTo(int row) noexcept {
    if (!isFetched(row) || m_held.count(m_ids[size_t(row)]))
        return FetchResult::Done;
    try {
        readPage(row);
        return FetchResult::Done;
    } catch (const std::exception& e) {
        ReportDroppedError(m_store ? m_store->Diagnostics() : DiagnosticSink(),
                           "Reading rows of the list", e);
        return FetchResult::Failed;
    }
}

int RecordCache::rowOfId(int recordId) const {
    if (recordId < 0)
        return -1;
    const auto it = std::find(m_ids.begin(), m_ids.end(), recordId);
    return it == m_ids.end() ? -1 : int(it - m_ids.begin());
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
    m_ids.push_back(id);
    m_held[id] = std::move(row);
    if (m_owner)
        m_owner->rowsInserted(r, r);
    return true;
}

void RecordCache::removeRecord(int recordId) {
    const int row = rowOfId(recordId);
    if (row < 0)
        return;
    if (m_owner)
        m_owner->rowsAboutToBeRemoved(row, row);
    m_ids.erase(m_ids.begin() + row);
    m_held.erase(recordId);
    if (m_owner)
        m_owner->rowsRemoved(row, row);
}

int RecordCache::rowId(int row) const {
    return isFetched(row) ? m_ids[size_t(row)] : -1;
}
int RecordCache::sent(int row) const {
    const CachedRow* r = rowAt(row);
    return r ? r->sent : 0;
}
bool RecordCache::selected(int row) const {
    const CachedRow* r = rowAt(row);
    return r && r->selected;
}

QString RecordCache::text(int row, int field) const {
    if (field < 0 || field >= kFieldCount)
        return {};
    const CachedRow* r = rowAt(row);
    return r ? r->field(field) : QString();
}

void RecordCache::setSent(int row, int value) {
    if (CachedRow* r = heldRow(row))
        r->sent = value;
}

void RecordCache::setSelected(int row, bool value) {
    if (CachedRow* r = heldRow(row))
        r->selected = value;
}

void RecordCache::setText(int row, int field, const QString& text) {
    if (CachedRow* r = heldRow(row); r && field >= 0 && field < kFieldCount)
        r->set(field, text.toUtf8());
}

void RecordCache::setSentEverywhere(int value) {
    for (auto& [id, r] : m_held)
        r.sent = value;
    if (!m_ids.empty() && m_owner)
        m_owner->rowsChanged(0, rowCount() - 1);
}

void RecordCache::setSelectedEverywhere(bool value) {
    for (auto& [id, r] : m_held)
        r.selected = value;
    if (!m_ids.empty() && m_owner)
        m_owner->rowsChanged(0, rowCount() - 1);
}

void RecordCache::notifyRowChanged(int row) const {
    if (m_owner)
        m_owner->rowChanged(row);
}

}  // namespace pw::db
