#pragma once
// The rows of the recipient list that a grid shows, read in batches in list order from the
// one statement of the list. One cache per list window; the window owns it and registers it
// with TDbData, which hands it the list's reader at every refresh. No widgets here: a Qt item
// model sits on top through IRecordCacheOwner.

#include <QByteArray>
#include <QString>
#include <array>
#include <memory>
#include <unordered_set>
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

// The open statement of one list: gives its rows in list order. Throws the database layer's
// exceptions.
class IListReader {
public:
    virtual ~IListReader() = default;
    // The next row into row (all of it written); false at the end of the list.
    virtual bool read(CachedRow& row) = 0;
};

enum class FetchResult { Done, Failed };

class RecordCache {
public:
    // Rows a view is given at a time.
    static constexpr int kBatch = 100;

    explicit RecordCache(IRecordCacheOwner* owner = nullptr);
    // Unregisters itself from the store it is registered with.
    ~RecordCache();
    RecordCache(const RecordCache&) = delete;
    RecordCache& operator=(const RecordCache&) = delete;

    void setOwner(IRecordCacheOwner* owner) { m_owner = owner; }
    [[nodiscard]] IRecordCacheOwner* owner() const { return m_owner; }
    // The store this cache is registered with, or none (set by the store's registration).
    [[nodiscard]] TDbData* store() const { return m_store; }
    void setStore(TDbData* store) { m_store = store; }

    // Most rows the list shows (the record limit), at least 1.
    void setLimit(int limit) { m_limit = limit < 1 ? 1 : limit; }
    [[nodiscard]] int limit() const { return m_limit; }

    // Drops every row and the reader, with the owner told.
    void clear();
    // A new list: the old rows go, the reader's rows come in batches; the first batch is read
    // at once. The owner hears "about to refresh" and "refreshed". A failure of that first
    // read ends the list where it failed and is thrown.
    void beginList(std::unique_ptr<IListReader> reader);

    // The list's statement goes (its transaction ends); the rows held stay.
    void stopReading() { m_reader.reset(); }

    // Rows held: read from the list, plus rows added since.
    [[nodiscard]] int rowCount() const { return int(m_rows.size()); }
    // How many rows came from the list statement.
    [[nodiscard]] int fetchedCount() const { return m_listRows; }
    // Whether the list has rows not read yet (and room for them under the limit).
    [[nodiscard]] bool canFetchMore() const { return m_reader != nullptr; }
    // The list held more rows than the limit lets it show.
    [[nodiscard]] bool truncated() const { return m_truncated; }
    [[nodiscard]] bool isFetched(int row) const { return row >= 0 && row < rowCount(); }

    // Reads rows until row r is held, or the list ends; a database error ends the list
    // (reported) and gives Failed. Owners hear of the rows as one insertion.
    FetchResult fetchUpTo(int row) noexcept;
    FetchResult fetchMore() noexcept { return fetchUpTo(m_listRows + kBatch - 1); }
    FetchResult fetchAll() noexcept { return fetchUpTo(m_limit); }

    // ID of row r, -1 past the end.
    [[nodiscard]] int rowId(int row) const;
    // Row holding the record, -1 when it is not listed.
    [[nodiscard]] int rowOfId(int recordId) const;
    [[nodiscard]] int sent(int row) const;
    [[nodiscard]] bool selected(int row) const;
    // Field k (0..19) of row r; empty past the end.
    [[nodiscard]] QString text(int row, int field) const;

    // Written by the store after its statements ran.
    void setSent(int row, int value);
    void setSelected(int row, bool value);
    void setText(int row, int field, const QString& text);
    // Every row, and every row read later from this list, takes the flag.
    void setSentEverywhere(int value);
    void setSelectedEverywhere(bool value);
    // Appends a row after the list's rows (the record form's new record), with the owner
    // told; false when the limit is reached.
    bool appendRow(int id, int sent, bool selected, const std::array<QString, kFieldCount>& texts);
    // Takes the record's row out (the owner is told first and may still read it then); a
    // record not read yet is skipped when the list reaches it.
    void removeRecord(int recordId);

    // Tells the owner that row r changed.
    void notifyRowChanged(int row) const;

private:
    // Reads at most count rows of the list, after the rows held; throws.
    void readRows(int count, std::vector<CachedRow>& rows);
    void insertRead(std::vector<CachedRow>&& rows);

    IRecordCacheOwner* m_owner = nullptr;
    TDbData* m_store = nullptr;
    int m_limit = kDefaultRecordLimit;
    std::vector<CachedRow> m_rows;
    // Rows 0..m_listRows-1 come from the list statement; rows from there up were added later.
    int m_listRows = 0;
    std::unique_ptr<IListReader> m_reader;
    bool m_truncated = false;
    // Left the list, or added after it, since the refresh: skipped when the list gives them.
    std::unordered_set<int> m_skipIds;
    // Flags given every row of the list since the refresh, for rows read later.
    int m_laterSent = -1;
    int m_laterSelected = -1;
};

}  // namespace pw::db
