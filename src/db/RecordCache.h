#pragma once
// The rows of the recipient list that a grid shows, read in batches in list order from the
// one statement of the list. Each list (CRecipientList) owns one and hands it its reader at
// every refresh. No widgets here: a Qt item
// model sits on top through IRecordCacheOwner.

#include <QByteArray>
#include <QString>
#include <array>
#include <memory>
#include <unordered_map>
#include <vector>

namespace pw::db {

inline constexpr int kFieldCount = 20;
// The program's record limit unless the preferences raise it, and how far they may.
inline constexpr int kDefaultRecordLimit = 20000;
inline constexpr int kMaxRecordLimit = 1000000;
[[nodiscard]] constexpr int ClampRecordLimit(int limit) {
    return limit < kDefaultRecordLimit ? kDefaultRecordLimit
           : limit > kMaxRecordLimit   ? kMaxRecordLimit
                                       : limit;
}

class TDbData;

// Told what changes, so that a view can keep step. Every change that alters the row count
// comes as an "about to" and a "done" notice around it, so that an item model can call its
// begin/end pairs at the right moment; the cache holds the old rows until the "about to"
// notice has returned.
class IRecordCacheOwner {
public:
    virtual ~IRecordCacheOwner() = default;
    // The whole list is about to be rebuilt (a refresh, a close).
    virtual void listAboutToRefresh() {}
    // The list was rebuilt: empty the view, show rowCount rows, put the cursor on row 0.
    virtual void listRefreshed(int rowCount) = 0;
    // Row r changed (a flag or a cell was written).
    virtual void rowChanged(int row) = 0;
    // Rows first..last changed (fields exchanged in every fetched row).
    virtual void rowsChanged(int first, int last) {
        for (int r = first; r <= last; ++r)
            rowChanged(r);
    }
    // Rows are about to appear at first..last / have appeared there (read from the list, or
    // added by the record form).
    virtual void rowsAboutToBeInserted(int /*first*/, int /*last*/) {}
    virtual void rowsInserted(int /*first*/, int /*last*/) {}
    // Rows first..last are about to leave the list / have left it.
    virtual void rowsAboutToBeRemoved(int /*first*/, int /*last*/) {}
    virtual void rowsRemoved(int /*first*/, int /*last*/) {}
};

// One record as the list holds it: the 20 values as they come from the file (UTF-8), end to
// end in one buffer, so that a full list stays a fraction of what 20 separate wide strings a
// row take.
struct CachedRow {
    int id = -1;
    int sent = 0;
    bool selected = true;
    QByteArray bytes;
    std::array<int, kFieldCount + 1> ends{};  // ends[k + 1]: end of field k; ends[0] = 0

    [[nodiscard]] QString field(int k) const;
    void set(int k, const QByteArray& utf8);
    // Appends field k while a row is read field by field in order (k = 0, 1, ...).
    void appendField(int k, const char* data, qsizetype size);
};

// What one list reads through: the IDs of its records in list order, once per refresh, and
// the records of any IDs later, a page at a time, as a view comes to them. Throws the
// database layer's exceptions.
class IListReader {
public:
    virtual ~IListReader() = default;
    // The IDs of the list in order, at most `most` of them.
    virtual std::vector<int> ids(int most) = 0;
    // The rows of the records `ids`, in any order; a record no longer there is left out.
    virtual void rows(const std::vector<int>& ids, std::vector<CachedRow>& out) = 0;
};

enum class FetchResult { Done, Failed };

// The list's size is known from its refresh on (the IDs are read then, every one of them):
// a view's scroll bar covers every record at once. The records themselves are read a page at
// a time when a row of the page is asked for, and only the pages around the last one asked
// for are held, so that the memory does not grow with the list.
class RecordCache {
public:
    // Rows read at a time (one page).
    static constexpr int kBatch = 100;
    // Most rows held; beyond it the pages farthest from the row asked for last are let go.
    static constexpr int kHeldRows = 40 * kBatch;

    explicit RecordCache(IRecordCacheOwner* owner = nullptr);
    ~RecordCache();
    RecordCache(const RecordCache&) = delete;
    RecordCache& operator=(const RecordCache&) = delete;

    void setOwner(IRecordCacheOwner* owner) { m_owner = owner; }
    [[nodiscard]] IRecordCacheOwner* owner() const { return m_owner; }
    // The store whose list this cache is, for its diagnostics; none after the store went.
    [[nodiscard]] TDbData* store() const { return m_store; }
    void setStore(TDbData* store) { m_store = store; }

    // Most rows the list shows (the record limit), at least 1.
    void setLimit(int limit) { m_limit = limit < 1 ? 1 : limit; }
    [[nodiscard]] int limit() const { return m_limit; }

    // Drops every row and the reader, with the owner told.
    void clear();
    // A new list: the old rows go, the reader's IDs come at once (the row count), and the
    // first page is read. The owner hears "about to refresh" and "refreshed". A failure of
    // that first read ends the list where it failed and is thrown.
    void beginList(std::unique_ptr<IListReader> reader);

    // The list's reader goes: the rows held stay, the others read as empty.
    void stopReading() { m_reader.reset(); }

    // Rows of the list: every record listed, plus rows added since.
    [[nodiscard]] int rowCount() const { return int(m_ids.size()); }
    // How many rows are held (read and not yet let go).
    [[nodiscard]] int fetchedCount() const { return int(m_held.size()); }
    // The list held more rows than the limit lets it show.
    [[nodiscard]] bool truncated() const { return m_truncated; }
    [[nodiscard]] bool isFetched(int row) const { return row >= 0 && row < rowCount(); }

    // Reads the page of row r when it is not held; a database error is reported and gives
    // Failed (the row reads as empty).
    FetchResult fetchUpTo(int row) noexcept;

    // ID of row r, -1 past the end.
    [[nodiscard]] int rowId(int row) const;
    // Row holding the record, -1 when it is not listed.
    [[nodiscard]] int rowOfId(int recordId) const;
    // The values of row r, its page read first when it is not held.
    [[nodiscard]] int sent(int row) const;
    [[nodiscard]] bool selected(int row) const;
    // Field k (0..19) of row r; empty past the end.
    [[nodiscard]] QString text(int row, int field) const;

    // Written by the store after its statements ran (a row not held reads them from there).
    void setSent(int row, int value);
    void setSelected(int row, bool value);
    void setText(int row, int field, const QString& text);
    // Every row held takes the flag (the others read it from the store's statement).
    void setSentEverywhere(int value);
    void setSelectedEverywhere(bool value);
    // Appends a row after the list's rows (the record form's new record), with the owner
    // told; false when the limit is reached.
    bool appendRow(int id, int sent, bool selected, const std::array<QString, kFieldCount>& texts);
    // Takes the record's row out (the owner is told first and may still read it then).
    void removeRecord(int recordId);

    // Tells the owner that row r changed.
    void notifyRowChanged(int row) const;

private:
    // The row held for row r, its page read first; null past the end or when unreadable.
    [[nodiscard]] const CachedRow* rowAt(int row) const;
    [[nodiscard]] CachedRow* heldRow(int row);
    // Reads the page of row r; throws.
    void readPage(int row) const;
    // Lets go of the rows far from row r once too many are held.
    void letGo(int row) const;

    IRecordCacheOwner* m_owner = nullptr;
    TDbData* m_store = nullptr;
    int m_limit = kDefaultRecordLimit;
    std::vector<int> m_ids;  // row -> record ID
    // The rows read, by record ID; pages come and go as the view moves (hence mutable: a
    // reading call may read a page).
    mutable std::unordered_map<int, CachedRow> m_held;
    mutable std::unique_ptr<IListReader> m_reader;
    bool m_truncated = false;
};

}  // namespace pw::db
