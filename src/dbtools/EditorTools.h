#pragma once
// The editor's cleaning tools without their windows: duplicates, address checks, find and
// replace, groups and automatic grouping. Each works on the column of the editor's cell
// cursor or on the grid in the order it shows, and writes through the store operations.
// Long runs show a progress display that can be cancelled; a cancelled run leaves the
// database as it was before it (an undo point of the main transaction).

#include <QAbstractTableModel>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "dbtools/EditorSession.h"

namespace pw::dbtools {

// Why a text cannot be a mail address (the test the send run applies before sending).
// Blanks around the stored text are no part of the address.
enum class AddressFault { None, NoAtMark, Comma, DoubleByte, Malformed };
[[nodiscard]] AddressFault checkAddress(const QString& text);
// The message of a fault (string id), 0 for None.
[[nodiscard]] int addressFaultMessage(AddressFault fault);

enum class ToolOutcome {
    Done,          // the tool ran
    Refused,       // the cursor is not on a field (told), or nothing to work on
    NothingFound,  // no invalid address, no match (told)
    Cancelled,     // the user cancelled; nothing changed
    Failed,        // a database error ended it; nothing changed
};

// "Find Duplicate Data": the records of the view whose value of the key field occurs more
// than once, by that value. Cells of the key column alternate between two runs of colour.
class DuplicateListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Role {
        RecordIdRole = Qt::UserRole + 1,  // int
        KeyRunRole,                       // int: 0 for the first run of equal keys, 1, 0, ...
        MarkedRole,                       // bool: the marked row's cell in the clicked column
        ShadeRole,                        // Shade: how the window colours the cell
    };
    // The cell colours of the window (gui/ turns them into colours): the marked cell, and
    // the key column's cells by run of equal keys.
    enum class Shade { None, Marked, FirstRun, SecondRun };

    // keyField 0..19; the records come from the view of list.
    DuplicateListModel(db::TDbData& store, db::CRecipientList& list, int keyField,
                       db::DuplicateComparison comparison = db::DuplicateComparison::Exact,
                       QObject* parent = nullptr);

    // Searches again and refills the list (database errors leave it empty).
    void search();
    // A click: on a field column (2 or higher) the row is marked with that column.
    void clickCell(int row, int column);
    [[nodiscard]] int markedRow() const { return m_markedRow; }
    [[nodiscard]] int markedColumn() const { return m_markedColumn; }
    // "Delete": deletes the marked record, searches again and clears the mark. False when
    // no row is marked.
    bool deleteMarked();
    [[nodiscard]] int keyField() const { return m_keyField; }
    [[nodiscard]] const std::vector<db::ListedRecord>& records() const { return m_rows; }

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

private:
    db::TDbData& m_store;
    db::CRecipientList& m_list;
    int m_keyField;
    db::DuplicateComparison m_comparison;
    std::vector<db::ListedRecord> m_rows;
    std::vector<int> m_runs;  // per row: 0 or 1
    int m_markedRow = -1;
    int m_markedColumn = -1;
};

// The choice of the "Auto Group" dialog.
struct AutoGroupChoice {
    bool on = false;
    int field = 0;  // 0..19
};

class EditorTools {
public:
    explicit EditorTools(EditorSession& session);

    // ---- duplicates ----
    // showWindow runs the duplicate window modally over the model; the editor's list is
    // refreshed afterwards.
    ToolOutcome findDuplicates(const std::function<void(DuplicateListModel&)>& showWindow);
    // Asks first, with the number of records that go; the deletion stays undoable until the
    // database is saved. For the mail-address field the user chooses how values compare.
    ToolOutcome deleteAllDuplicates();

    // ---- addresses ----
    // The next invalid address after the cursor's row (round to the first row).
    ToolOutcome checkAddresses();
    // Asks first, with the number of records that go.
    ToolOutcome deleteInvalidAddresses();

    // For the mail-address field (field 0): as mail addresses (the default) or exactly;
    // nothing when the user cancels. Other fields compare exactly without asking.
    [[nodiscard]] std::optional<db::DuplicateComparison> chooseComparison(int field) const;

    // ---- groups ----
    // OK of "Add Group" with the name typed (nothing for Cancel).
    ToolOutcome addGroup(const std::optional<QString>& name);
    ToolOutcome deleteSelectedGroup();
    // OK of "Auto Group": the setting changes (and is handed to the saver), and on Yes every
    // record joins the group its field names. Returns the memberships added.
    int applyAutoGroup(const AutoGroupChoice& choice);
    // Every record of the whole table joins the existing group named by its field value.
    // Returns the memberships added, -1 when cancelled or failed (nothing changed then).
    int autoGroupAll(int field);
    // Told when the automatic grouping setting changes (the settings file keeps it).
    std::function<void(const AutoGroupSetting&)> saveGrouping;

private:
    [[nodiscard]] bool cursorOnField(int titleId) const;
    // Yes to deleting `deleted` records (and taking `leftGroup` out of the group shown);
    // with nothing to delete it says so and returns false.
    [[nodiscard]] bool confirmDeletion(int titleId, int questionId, int deleted, int leftGroup);
    EditorSession& m_session;
};

// "Find and Replace" over the field cells of the grid, row by row, columns 2 to 21.
class FindReplace {
public:
    explicit FindReplace(EditorSession& session);

    void setFindText(const QString& text) { m_find = text; }
    void setReplaceText(const QString& text) { m_replace = text; }
    [[nodiscard]] bool replaceEnabled() const { return m_replaceEnabled; }
    // Row and grid column of the last match, (-1, -1) for none.
    [[nodiscard]] int matchRow() const { return m_matchRow; }
    [[nodiscard]] int matchColumn() const { return m_matchColumn; }

    // Moves the editor's cursor to the next match (asking to wrap at the end).
    bool findNext();
    // Replaces every occurrence in the cursor's cell; false when refused (too long) or not
    // a field.
    bool replace();
    // Every field of every row of the view; nothing is written when one value would grow
    // past the field length. The number of cells changed.
    int replaceAll();

private:
    bool searchFrom(int row, int column);
    EditorSession& m_session;
    QString m_find;
    QString m_replace;
    bool m_replaceEnabled = false;
    int m_matchRow = -1;
    int m_matchColumn = -1;
};

}  // namespace pw::dbtools
