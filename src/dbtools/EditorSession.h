#pragma once
// The database editor without its window: the grid and group models, the cell cursor, the
// filter state and every command of the editor, driven by the window or by a test. Database
// errors of a command end it and are reported (never thrown past this class).

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "dbtools/Filtering.h"
#include "dbtools/GroupListModel.h"
#include "dbtools/RecordGridModel.h"

namespace pw::dbtools {

// Automatic grouping of saved records: field `field` (0..19) names the group they join.
struct AutoGroupSetting {
    bool enabled = false;
    int field = -1;
};

// Puts the record into the existing group named by its field value, when grouping is on.
// Returns the group joined, -1 for none.
int AutoAssignRecord(db::TDbData& store, const AutoGroupSetting& setting, int recordId,
                     const std::array<QString, db::kFieldCount>& fields);

using SortDirection = db::SortDirection;
enum class CloseResult { Closed, Cancelled };
enum class AddCheck { Allowed, Refused };

class EditorSession : public QObject, public db::IStoreObserver {
    Q_OBJECT
public:
    EditorSession(db::TDbData& store, IUserInteraction& ui, AutoGroupSetting grouping,
                  QObject* parent = nullptr);
    ~EditorSession() override;

    [[nodiscard]] RecordGridModel& grid() { return *m_grid; }
    // The grid's own list: its group, filter and order are this window's alone.
    [[nodiscard]] db::CRecipientList& list() { return m_grid->list(); }
    [[nodiscard]] GroupListModel& groups() { return *m_groups; }
    [[nodiscard]] db::TDbData& store() { return m_store; }
    [[nodiscard]] IUserInteraction& ui() { return m_ui; }
    [[nodiscard]] const AutoGroupSetting& grouping() const { return m_grouping; }
    void setGrouping(const AutoGroupSetting& grouping) { m_grouping = grouping; }

    // The window opens: cursor on row 0, column -1, the modified flag cleared, the groups
    // listed and "All Records" shown.
    void open();
    // Confirms (save question) and turns the filter off; Cancelled keeps the editor open.
    [[nodiscard]] CloseResult close();

    // ---- cursor and cell editor ----
    [[nodiscard]] int cursorRow() const { return m_grid->cursorRow(); }
    [[nodiscard]] int cursorColumn() const { return m_grid->cursorColumn(); }
    // A click on a cell: the cursor moves there, except that column 0 of a record whose
    // send failed puts it in column 1.
    void clickCell(int row, int column);
    void setCursor(int row, int column);
    // What the cell editor shows: the cursor cell's text, empty for the flag columns.
    [[nodiscard]] QString cellEditorText() const;
    // The cell editor writes through SetCell while the grid has rows and the cursor is on a
    // field. False when nothing was written (refused, or not a field).
    bool writeCellEditor(const QString& text);
    // The cell editor takes at most this many characters.
    [[nodiscard]] int cellEditorLimit() const;

    // ---- groups ----
    void selectGroup(int item);
    [[nodiscard]] int selectedGroupItem() const { return m_groups->currentItem(); }
    [[nodiscard]] bool addRecordEnabled() const { return selectedGroupItem() == 0; }
    // Rows of the grid (in view order) dropped on a group item.
    bool dropRowsOnGroup(int item, const QList<int>& rows);

    // ---- commands ----
    [[nodiscard]] bool filterOn() const { return m_grid->filterOn(); }
    void filteringOn(const FilterChoice& choice);
    void filteringOff();
    void sort(SortDirection direction);
    void selectAll();
    void selectNone();
    void selectUnsent();
    void clearTransmissionResult();
    // Asks first; rows are grid rows (the cursor's row when empty). Under a group only the
    // memberships go.
    void deleteRecords(const QList<int>& rows);
    void moveLeft();
    void moveRight();
    // Every row of the view read, so that a selection can hold all of them.
    void fetchAllRows();
    // Add Record (and the record form's next add) is refused at the record limit.
    [[nodiscard]] AddCheck checkAddRecord();
    void saveDatabase();

    [[nodiscard]] QString statusText() const;

signals:
    void cursorMoved(int row, int column);
    void statusChanged(const QString& text);
    void filterChanged(bool on);
    void groupChanged(int item);
    // Field values moved between columns: the main window's document counts as changed.
    void documentChanged();
    // The list was shown afresh (refreshed, or every row's flag changed): no grid row stays
    // selected.
    void listShown();

private:
    // IStoreObserver: new captions reach the grid's headers at once.
    void captionsReloaded() override;
    // Another database was opened under the editor: its groups and records are shown.
    void databaseOpened() override;

    template <typename F>
    void guarded(const char* what, F&& f);
    void refresh();
    // A flag set over the view, the grid brought up to date in place when the list stays.
    void setFlagOverView(const char* what, db::RowFlag which, int value);
    void swapWith(int offset);

    db::TDbData& m_store;
    IUserInteraction& m_ui;
    AutoGroupSetting m_grouping;
    std::unique_ptr<RecordGridModel> m_grid;
    std::unique_ptr<GroupListModel> m_groups;
    // A list longer than the record limit is told once per open database.
    bool m_toldTruncated = false;
};

}  // namespace pw::dbtools
