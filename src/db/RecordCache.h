#pragma once
// The rows of the recipient list that a grid shows, fetched lazily in list order from the
// store's list query. One cache per list window; the window owns it and registers it with
// TDbData. No widgets here: a Qt item model sits on top through IRecordCacheOwner.

#include <QByteArray>
#include <QString>
#include <array>
#include <memory>
#include <vector>

namespace pw::db {

inline constexpr int kFieldCount = 20;

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
    // Rows are about to appear at first..last / have appeared there.
    virtual void rowsAboutToBeInserted(int /*first*/, int /*last*/) {}
    virtual void rowsInserted(int /*first*/, int /*last*/) {}
    // Rows first..last are about to leave the list / have left it.
    virtual void rowsAboutToBeRemoved(int /*first*/, int /*last*/) {}
    virtual void rowsRemoved(int /*first*/, int /*last*/) {}
};

class RecordCache {
public:
    // The program's record limit: the list shows at most this many rows.
    static constexpr int kCapacity = 20000;

    explicit RecordCache(IRecordCacheOwner* owner = nullptr);
    // Unregisters itself from the store it is registered with.
    ~RecordCache();
    RecordCache(const RecordCache&) = delete;
    RecordCache& operator=(const RecordCache&) = delete;

    void setOwner(IRecordCacheOwner* owner) { m_owner = owner; }
    [[nodiscard]] IRecordCacheOwner* owner() const { return m_owner; }
    // The store this cache is registered with, or none.
    [[nodiscard]] TDbData* store() const { return m_store; }

    // Drops every row: IDs -1, selected 1, sent 0, row count 0.
    void clear();

    // Rows the current list query returns (at most kCapacity), plus rows added since.
    [[nodiscard]] int rowCount() const { return m_rowCount; }
    // Rows of the view before the limit was applied (above kCapacity for an oversized file).
    [[nodiscard]] int viewCount() const { return m_viewCount; }
    [[nodiscard]] bool truncated() const { return m_viewCount > m_rowCount; }
    // How many rows have been fetched from the list statement.
    [[nodiscard]] int fetchedCount() const { return m_fetched; }
    // Whether row r holds its values: fetched from the list, or added after the refresh.
    [[nodiscard]] bool isFetched(int row) const {
        return row >= 0 && (row < m_fetched || (row >= m_listRows && row < m_rowCount));
    }

    // ID of row r once fetched, -1 before.
    [[nodiscard]] int rowId(int row) const;
    // ID of row r of the list, known for every row after a refresh; -1 past the end.
    [[nodiscard]] int orderedId(int row) const;
    // Row of the list holding the record, -1 when it is not listed.
    [[nodiscard]] int rowOfId(int recordId) const;
    [[nodiscard]] int sent(int row) const;
    [[nodiscard]] bool selected(int row) const;
    // Field k (0..19) of row r; empty when the row is not fetched.
    [[nodiscard]] QString text(int row, int field) const;

    // Written by TDbData.
    void setSent(int row, int value);
    void setSelected(int row, bool value);
    void setText(int row, int field, const QString& text);

private:
    friend class TDbData;
    // One row's 20 values as they come from the file (UTF-8), end to end in one buffer: a
    // full cache of 20000 rows stays a fraction of what 400000 separate wide strings take.
    struct RowTexts {
        QByteArray bytes;
        std::array<int, kFieldCount + 1> ends{};  // ends[k + 1]: end of field k; ends[0] = 0
        [[nodiscard]] QString field(int k) const;
        void set(int k, const QByteArray& utf8);
    };

    void notifyAboutToRefresh() const;
    void notifyRefreshed() const;
    void notifyRow(int row) const;
    // Appends a row after the list's rows (the record form's new record); false when full.
    bool appendRow(int id, int sent, bool selected, const std::array<QString, kFieldCount>& texts);
    // Takes row r out of the list, moving the rows below up by one: first the owner is told
    // (it may still read the row then), then the row goes.
    void announceRemoval(int row) const;
    void removeRow(int row);

    IRecordCacheOwner* m_owner = nullptr;
    TDbData* m_store = nullptr;
    std::vector<std::unique_ptr<RowTexts>> m_texts;
    std::vector<int> m_sent;
    std::vector<unsigned char> m_selected;
    std::vector<int> m_rowIds;
    std::vector<int> m_orderedIds;
    int m_rowCount = 0;
    int m_viewCount = 0;
    int m_fetched = 0;
    // Rows 0..m_listRows-1 come from the list statement; rows from there up were added later.
    int m_listRows = 0;
};

}  // namespace pw::db
