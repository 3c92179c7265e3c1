#pragma once
// The recipients of a merge send as the run reads them: the record IDs chosen at the start,
// their values read through the run's own attachment a page at a time. At most two pages are
// in memory, so the run's memory does not grow with the number of recipients.

#include <memory>
#include <vector>

#include "db/RunAttachment.h"
#include "send/MailJob.h"

namespace pw::send {

// A row's record as the run finds it when its mail is made.
enum class RowState {
    Present,
    Gone,        // deleted since the choice: nobody gets its mail
    Unreadable,  // the database cannot be read: the run cannot go on
};

// The values of the rows of a merge send, in the order of the selection.
class IRecipientRows {
public:
    virtual ~IRecipientRows() = default;
    [[nodiscard]] virtual int count() const = 0;
    [[nodiscard]] virtual RowState state(int row) = 0;
    // The values of a present row; null otherwise.
    [[nodiscard]] virtual const FieldTexts* values(int row) = 0;
};

// Rows held in memory (a single send's none, the preview's and the tests' few).
class CLoadedRows : public IRecipientRows {
public:
    explicit CLoadedRows(std::vector<FieldTexts> rows) : m_rows(std::move(rows)) {}
    [[nodiscard]] int count() const override { return int(m_rows.size()); }
    [[nodiscard]] RowState state(int row) override;
    [[nodiscard]] const FieldTexts* values(int row) override;

private:
    std::vector<FieldTexts> m_rows;
};

class CPagedRows : public IRecipientRows {
public:
    static constexpr int kPageSize = 500;
    CPagedRows(std::shared_ptr<db::CRunAttachment> database,
               std::shared_ptr<const std::vector<int>> ids, int pageSize = kPageSize);
    [[nodiscard]] int count() const override { return int(m_ids->size()); }
    [[nodiscard]] RowState state(int row) override;
    [[nodiscard]] const FieldTexts* values(int row) override;

private:
    struct Page {
        int first = -1;                  // the first row, -1: none
        std::vector<FieldTexts> values;  // per row of the page
        std::vector<RowState> states;    // per row of the page
    };
    [[nodiscard]] Page* pageOf(int row);

    std::shared_ptr<db::CRunAttachment> m_database;
    std::shared_ptr<const std::vector<int>> m_ids;
    int m_pageSize;
    Page m_pages[2];
    int m_older = 0;  // the page replaced next
};

}  // namespace pw::send
