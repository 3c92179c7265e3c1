#include "send/RecipientPages.h"

#include <algorithm>

namespace pw::send {

RowState CLoadedRows::state(int row) {
    return row >= 0 && row < count() ? RowState::Present : RowState::Gone;
}

const FieldTexts* CLoadedRows::values(int row) {
    return row >= 0 && row < count() ? &m_rows[size_t(row)] : nullptr;
}

CPagedRows::CPagedRows(std::shared_ptr<db::CRunAttachment> database,
                       std::shared_ptr<const std::vector<int>> ids, int pageSize)
    : m_database(std::move(database)),
      m_ids(std::move(ids)),
      m_pageSize(std::clamp(pageSize, 1, int(db::CRunAttachment::kMaxPage))) {}

CPagedRows::Page* CPagedRows::pageOf(int row) {
    if (row < 0 || row >= count())
        return nullptr;
    const int first = row - row % m_pageSize;
    for (Page& p : m_pages) {
        if (p.first == first)
            return &p;
    }
    // the mail made ahead may need the next page while this one is still in use: two kept
    Page& page = m_pages[m_older];
    m_older = 1 - m_older;
    const size_t n = size_t(std::min(m_pageSize, count() - first));
    page.first = first;
    page.values.assign(n, FieldTexts{});
    page.states.assign(n, RowState::Unreadable);
    const int* ids = m_ids->data() + first;
    const auto read = m_database ? m_database->ReadRecords(ids, n) : std::nullopt;
    if (!read)
        return &page;
    // both ascending: each record found takes its row, the rows left are gone
    size_t at = 0;
    for (size_t i = 0; i < n; ++i) {
        while (at < read->size() && (*read)[at].id < ids[i])
            ++at;
        if (at < read->size() && (*read)[at].id == ids[i]) {
            page.values[i] = (*read)[at].fields;
            page.states[i] = RowState::Present;
        } else {
            page.states[i] = RowState::Gone;
        }
    }
    return &page;
}

RowState CPagedRows::state(int row) {
    const Page* p = pageOf(row);
    return p ? p->states[size_t(row - p->first)] : RowState::Gone;
}

const FieldTexts* CPagedRows::values(int row) {
    Page* p = pageOf(row);
    if (!p || p->states[size_t(row - p->first)] != RowState::Present)
        return nullptr;
    return &p->values[size_t(row - p->first)];
}

}  // namespace pw::send
