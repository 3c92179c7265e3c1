#pragma once
// One grid's list of recipients: its own group, filter and order, the cache it fills, and the
// writes made through its rows. Each window that shows records owns one, so that two windows
// on one database show two views. Nothing here talks to the user: results say what happened,
// and the caller tells.

#include <QString>
#include <array>
#include <memory>
#include <vector>

#include "db/ListTerms.h"
#include "db/RecordCache.h"

namespace pw::db {

class TDbData;
struct ListedRecord;
enum class DuplicateComparison;

enum class CellWrite {
    Written,
    TooLong,           // longer in bytes than the field length: nothing written
    ChangedElsewhere,  // another desktop changed the record first (told by the store)
    NotWritten,        // no such row or field, or nothing open
};
// After a flag set over the view: the cache took the value in place, or the list must be
// read anew (the view's order depends on the flag).
enum class ViewUpdate { InPlace, NeedsRefresh };

class CRecipientList {
public:
    // Registers with the store; the cache tells its owner of every change.
    explicit CRecipientList(TDbData& store, IRecordCacheOwner* owner = nullptr);
    // Unregisters; when it was the last list made, the one before it is read anew (this one
    // may have changed what it shows).
    ~CRecipientList();
    CRecipientList(const CRecipientList&) = delete;
    CRecipientList& operator=(const CRecipientList&) = delete;

    [[nodiscard]] RecordCache& Cache() { return *m_cache; }
    [[nodiscard]] const RecordCache& Cache() const { return *m_cache; }
    // The store, or none after it went.
    [[nodiscard]] TDbData* Store() const { return m_store; }

    // ---- the view (applied by the next Refresh) ----
    // A group ID (0 or less: every record).
    void SetGroup(int groupId);
    [[nodiscard]] int Group() const { return m_group; }
    // Joins the filters before (all must hold); a field outside 0..19 is ignored.
    void AddFilter(const ListFilter& filter);
    void ClearFilter() { m_filters.clear(); }
    [[nodiscard]] const std::vector<ListFilter>& Filters() const { return m_filters; }
    void SetOrder(const ListOrder& order);
    [[nodiscard]] const ListOrder& Order() const { return m_order; }

    // Reads the IDs of the view into the cache, which then reads the first page. Throws
    // StoreError; the cache's owner hears "about to" and "done" either way (an empty list
    // after a failure). Cache().truncated() tells when the view held more than the limit.
    void Refresh();
    // Never throw: a database error is reported and the result is false. FetchRows reads
    // the page of the row; FetchAll every row.
    bool FetchRows(int row) noexcept;
    bool FetchAll() noexcept;

    // The record form's own statements shown: a new record joins the end of the list (false
    // when the cache is full), an edited row takes its saved texts.
    bool AppendCachedRow(int recordId, int sent, bool selected,
                         const std::array<QString, kFieldCount>& texts);
    void UpdateCachedRow(int row, const std::array<QString, kFieldCount>& texts);

    // ---- writes through the rows (main transaction; throw StoreError) ----
    void SetRowFlag(int row, RowFlag which, int value);
    [[nodiscard]] CellWrite SetCell(int row, int field, const QString& text);
    // The flag update over the rows of the view (group and filter).
    void UpdateFlags(const FlagUpdate& update);
    // Every row of the view takes the flag's value.
    [[nodiscard]] ViewUpdate SetFlagOverView(RowFlag which, int value);
    // Fields 0..19 of every row exchanged, in the cache and in the file.
    void SwapFields(int fieldI, int fieldJ);
    // Every occurrence of find (exact, case-sensitive) replaced in the field of every record
    // of the view and of the rows held. The caller has made sure no value grows too long.
    void ReplaceInField(int field, const QString& find, const QString& replacement);
    // The records of the view whose value of the field (0..19) is one of those the store's
    // FindDuplicateValues found, by that value, so that equal values are adjacent.
    [[nodiscard]] std::vector<ListedRecord> ListDuplicateRecords(int field,
                                                                 DuplicateComparison comparison);

private:
    friend class TDbData;
    // " where ..." of the view and the extra condition, or empty.
    [[nodiscard]] QString Where(const QString& extra = {}) const;
    [[nodiscard]] QString OrderBy() const;
    // Another database opened: every record, by ID.
    void ResetView() {
        m_group = -1;
        m_filters.clear();
        m_order = {};
    }

    TDbData* m_store;
    std::unique_ptr<RecordCache> m_cache;
    int m_group = -1;
    std::vector<ListFilter> m_filters;
    ListOrder m_order;
};

}  // namespace pw::db
