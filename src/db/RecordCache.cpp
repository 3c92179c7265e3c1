#include "db/RecordCache.h"

namespace pw::db {

RecordCache::RecordCache(IRecordCacheOwner* owner)
    : m_owner(owner),
      m_texts(kCapacity),
      m_sent(kCapacity, 0),
      m_selected(kCapacity, 1),
      m_rowIds(kCapacity, -1),
      m_orderedIds(kCapacity, -1) {}

RecordCache::~RecordCache() = default;

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

void RecordCache::notifyRefreshed() const {
    if (m_owner)
        m_owner->listRefreshed(m_rowCount);
}

void RecordCache::notifyRow(int row) const {
    if (m_owner)
        m_owner->rowChanged(row);
}

}  // namespace pw::db
