#include "db/RecordCache.h"

#include <algorithm>

#include "db/TDbData.h"

namespace pw::db {

RecordCache::RecordCache(IRecordCacheOwner* owner)
    : m_owner(owner),
      m_texts(kCapacity),
      m_sent(kCapacity, 0),
      m_selected(kCapacity, 1),
      m_rowIds(kCapacity, -1),
      m_orderedIds(kCapacity, -1) {}

RecordCache::~RecordCache() {
    if (m_store)
        m_store->UnregisterCache(this);
}

void RecordCache::clear() {
    for (auto& t : m_texts)
        t.reset();
    std::fill(m_rowIds.begin(), m_rowIds.end(), -1);
    std::fill(m_orderedIds.begin(), m_orderedIds.end(), -1);
    std::fill(m_selected.begin(), m_selected.end(), 1);
    std::fill(m_sent.begin(), m_sent.end(), 0);
    m_rowCount = 0;
    m_viewCount = 0;
    m_fetched = 0;
    m_listRows = 0;
}

int RecordCache::rowOfId(int recordId) const {
    if (recordId < 0)
        return -1;
    for (int r = 0; r < m_rowCount; ++r)
        if (m_orderedIds[r] == recordId || (isFetched(r) && m_rowIds[r] == recordId))
            return r;
    return -1;
}

bool RecordCache::appendRow(int id, int sent, bool selected,
                            const std::array<QString, kFieldCount>& texts) {
    if (m_rowCount >= kCapacity)
        return false;
    const int r = m_rowCount;
    if (m_owner)
        m_owner->rowsAboutToBeInserted(r, r);
    m_rowIds[r] = id;
    m_orderedIds[r] = id;
    m_sent[r] = sent;
    m_selected[r] = selected ? 1 : 0;
    m_texts[r] = std::make_unique<RowTexts>();
    for (int k = 0; k < kFieldCount; ++k)
        m_texts[r]->set(k, texts[k].toUtf8());
    ++m_rowCount;
    ++m_viewCount;
    if (m_owner)
        m_owner->rowsInserted(r, r);
    return true;
}

void RecordCache::announceRemoval(int row) const {
    if (m_owner && row >= 0 && row < m_rowCount)
        m_owner->rowsAboutToBeRemoved(row, row);
}

void RecordCache::removeRow(int row) {
    if (row < 0 || row >= m_rowCount)
        return;
    const auto shift = [&](auto& v) {
        std::move(v.begin() + row + 1, v.begin() + m_rowCount, v.begin() + row);
    };
    shift(m_texts);
    shift(m_sent);
    shift(m_selected);
    shift(m_rowIds);
    shift(m_orderedIds);
    const int last = m_rowCount - 1;
    m_texts[last].reset();
    m_sent[last] = 0;
    m_selected[last] = 1;
    m_rowIds[last] = -1;
    m_orderedIds[last] = -1;
    if (row < m_fetched)
        --m_fetched;
    if (row < m_listRows)
        --m_listRows;
    --m_rowCount;
    --m_viewCount;
    if (m_owner)
        m_owner->rowsRemoved(row, row);
}

int RecordCache::rowId(int row) const {
    return row >= 0 && row < kCapacity ? m_rowIds[row] : -1;
}
int RecordCache::orderedId(int row) const {
    return row >= 0 && row < kCapacity ? m_orderedIds[row] : -1;
}
int RecordCache::sent(int row) const {
    return row >= 0 && row < kCapacity ? m_sent[row] : 0;
}
bool RecordCache::selected(int row) const {
    return row >= 0 && row < kCapacity && m_selected[row] != 0;
}

QString RecordCache::text(int row, int field) const {
    if (row < 0 || row >= kCapacity || field < 0 || field >= kFieldCount || !m_texts[row])
        return {};
    return m_texts[row]->field(field);
}

void RecordCache::setSent(int row, int value) {
    if (row >= 0 && row < kCapacity)
        m_sent[row] = value;
}

void RecordCache::setSelected(int row, bool value) {
    if (row >= 0 && row < kCapacity)
        m_selected[row] = value ? 1 : 0;
}

void RecordCache::setText(int row, int field, const QString& text) {
    if (row < 0 || row >= kCapacity || field < 0 || field >= kFieldCount)
        return;
    if (!m_texts[row])
        m_texts[row] = std::make_unique<RowTexts>();
    m_texts[row]->set(field, text.toUtf8());
}

QString RecordCache::RowTexts::field(int k) const {
    return QString::fromUtf8(bytes.constData() + ends[k], ends[k + 1] - ends[k]);
}

void RecordCache::RowTexts::set(int k, const QByteArray& utf8) {
    const int delta = int(utf8.size()) - (ends[k + 1] - ends[k]);
    bytes.replace(ends[k], ends[k + 1] - ends[k], utf8);
    for (int i = k + 1; i <= kFieldCount; ++i)
        ends[i] += delta;
}

void RecordCache::notifyAboutToRefresh() const {
    if (m_owner)
        m_owner->listAboutToRefresh();
}

void RecordCache::notifyRefreshed() const {
    if (m_owner)
        m_owner->listRefreshed(m_rowCount);
}

void RecordCache::notifyRow(int row) const {
    if (m_owner)
        m_owner->rowChanged(row);
}

}  // namespace pw::db
