#pragma once
// The record grid's model: 22 columns ("Sent", "Select", the 20 fields) over the store's
// record cache. It never copies rows: each cell is read from the cache. Its rows are the ones
// the list holds, every one from the refresh on (the scroll bar covers the whole list); the
// cache reads the page of a row the view asks for and lets go of pages far from it.
// Colours are the delegate's; the model gives what they depend on (the sent value, the filter
// state) through its roles.

#include <QAbstractTableModel>
#include <memory>

#include "db/RecipientList.h"
#include "dbtools/GridSource.h"
#include "resources/UserInteraction.h"

namespace pw::db {
class TDbData;
}

namespace pw::dbtools {

inline constexpr int kSentColumn = 0;
inline constexpr int kSelectColumn = 1;
inline constexpr int kFirstFieldColumn = 2;
inline constexpr int kGridColumnCount = kFirstFieldColumn + db::kFieldCount;

class RecordGridModel : public QAbstractTableModel,
                        public db::IRecordCacheOwner,
                        public IGridSource {
    Q_OBJECT
public:
    enum Role {
        RecordIdRole = Qt::UserRole + 1,  // int: the row's record ID (the item data)
        SentValueRole,                    // int: SENDED of the row (0, 1, 2)
        FilterOnRole,                     // bool: the view is filtered (text shown in blue)
        CursorRole,                       // bool: the cell is under the cell cursor
    };

    // Makes the grid's own list of the store; a refused write is told through ui.
    RecordGridModel(db::TDbData& store, IUserInteraction& ui, QObject* parent = nullptr);
    ~RecordGridModel() override;

    [[nodiscard]] db::CRecipientList& list() { return *m_list; }
    [[nodiscard]] db::RecordCache& cache() { return m_list->Cache(); }
    [[nodiscard]] const db::RecordCache& cache() const { return m_list->Cache(); }
    [[nodiscard]] db::TDbData& store() const { return m_store; }

    void setFilterOn(bool on);
    [[nodiscard]] bool filterOn() const { return m_filterOn; }
    // The captions changed: every field header is read again.
    void captionsChanged();

    // The cell cursor (row -1: none; column -1: none yet). Its cell is drawn highlighted.
    void setCursorCell(int row, int column);
    [[nodiscard]] int cursorRow() const { return m_cursorRow; }
    [[nodiscard]] int cursorColumn() const { return m_cursorColumn; }

    // QAbstractTableModel
    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;
    // "Select" (CheckStateRole) writes the selection flag at once; a field (EditRole) writes the
    // cell. False when the store refused (the cell then shows the stored value again).
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    [[nodiscard]] QStringList mimeTypes() const override;
    [[nodiscard]] QMimeData* mimeData(const QModelIndexList& indexes) const override;
    [[nodiscard]] Qt::DropActions supportedDragActions() const override;

    // IGridSource
    [[nodiscard]] int gridRowCount() const override { return cache().rowCount(); }
    [[nodiscard]] int gridColumnCount() const override { return kGridColumnCount; }
    [[nodiscard]] QString gridHeader(int column) const override;
    [[nodiscard]] int gridColumnWidth(int column) const override;
    [[nodiscard]] bool gridIsCheckColumn(int column) const override;
    [[nodiscard]] QString gridText(int row, int column) const override;
    [[nodiscard]] bool gridChecked(int row, int column) const override;

    // The drag format of grid rows: their record IDs as decimal text, one a line.
    static inline const QString kRecordIdsMime =
        QStringLiteral("application/x-postwick-record-ids");

signals:
    // The list was rebuilt with this many rows (the editor moves its cursor and status).
    void listRebuilt(int rowCount);

private:
    // IRecordCacheOwner
    void listAboutToRefresh() override;
    void listRefreshed(int rowCount) override;
    void rowChanged(int row) override;
    void rowsChanged(int first, int last) override;
    void rowsAboutToBeInserted(int first, int last) override;
    void rowsInserted(int first, int last) override;
    void rowsAboutToBeRemoved(int first, int last) override;
    void rowsRemoved(int first, int last) override;

    [[nodiscard]] bool holds(int row) const { return row >= 0 && row < cache().rowCount(); }

    db::TDbData& m_store;
    IUserInteraction& m_ui;
    std::unique_ptr<db::CRecipientList> m_list;
    bool m_resetting = false;
    bool m_filterOn = false;
    int m_cursorRow = 0;
    int m_cursorColumn = -1;
};

}  // namespace pw::dbtools
