#pragma once
// The database editor "DataBase Contents": the group list, the record grid with the cell
// editor below it, the toolbar, the button bar, the status bar and the menus. A thin view
// over EditorSession; the main window runs it modally from "Edit DataBase...".

#include <QDialog>
#include <QRect>
#include <functional>
#include <map>
#include <memory>

#include "dbtools/EditorSession.h"
#include "dbtools/EditorTools.h"
#include "dbtools/RecordForm.h"

namespace Ui {
class d_EditDialog;
}
class QAction;
class QMenuBar;
class QToolBar;
class QLabel;
namespace pw::print {
class GridPrinting;
class TableViewPrintGrid;
class QtPrintChoosers;
}  // namespace pw::print

namespace pw::dbtools {

struct EditorOptions {
    bool showToolbar = true;  // "Toolbar" is 1
    bool showButtons = true;  // "UI" is 1: the button bar is shown
    AutoGroupSetting grouping;
    QRect geometry;                                  // "DBForm"; empty: the default size
    std::function<void(const QRect&)> saveGeometry;  // at close
    // The "Auto Group" dialog changed the automatic grouping ("AutoGroupEnabled",
    // "AutoGroupField").
    std::function<void(const AutoGroupSetting&)> saveGrouping;
    // The user's database file the working copy came from (Save As proposes its name).
    QString databaseFile;
    // "Open a database file": the main window replaces its database by the chosen file.
    // Without it the command stays off.
    std::function<void(const QString& file)> openDatabaseFile;
    // After "Save the database as": the chosen file is the main window's database file now.
    std::function<void(const QString& file)> databaseSavedAs;
    // True, after telling the user why, while a send run works on this database.
    std::function<bool()> runRefuses;
    // What came back from an address (its bounce count and last reason), shown in the status
    // bar for the record under the cursor; empty: nothing to show.
    std::function<QString(const QString& address)> addressNote;
    // Shows the campaigns an address was in; none: the command stays disabled.
    std::function<void(const QString& address)> showAddressHistory;
};

// The file "Save the database as" writes: ".pzb" added unless the chosen name has it.
[[nodiscard]] QString DatabaseFileFor(const QString& chosen);

class d_EditDialog : public QDialog {
    Q_OBJECT
public:
    // Every command of the window; the ids are those of the program's command table.
    enum class Command {
        Exit = 32841,
        PageSetting = 32839,
        Print = 32840,
        MoveLeft = 32813,
        MoveRight = 32814,
        SelectAllRecords = 32888,
        SearchReplace = 32858,
        AddRecord = 32815,
        DeleteRecord = 32816,
        SelectAll = 32818,
        SelectNone = 32819,
        SelectUnsent = 32820,
        ClearResult = 32821,
        SortAscending = 32822,
        SortDescending = 32823,
        FindDuplicates = 32824,
        DeleteDuplicates = 32825,
        CheckAddresses = 32826,
        DeleteInvalid = 32891,
        FilterOn = 32827,
        FilterOff = 32828,
        AddGroup = 32842,
        DeleteGroup = 32843,
        AutoGroup = 32895,
        OpenDatabase = 32836,
        SaveDatabase = 32837,
        SaveDatabaseAs = 32838,
        AddToSuppression = 32950,  // the selected records' addresses never get mail again
        AddressHistory = 32951,    // the campaigns the address under the cursor was in
    };

    d_EditDialog(db::TDbData& store, IUserInteraction& ui, EditorOptions options,
                 QWidget* parent = nullptr);
    ~d_EditDialog() override;

    [[nodiscard]] EditorSession& session() { return *m_session; }
    [[nodiscard]] EditorTools& tools() { return *m_tools; }
    [[nodiscard]] QAction* action(Command command) const;
    // The grid source for printing what the grid shows.
    [[nodiscard]] const IGridSource& gridSource() const { return m_session->grid(); }

    // Runs a command as its menu item would (disabled commands do nothing).
    void run(Command command);

    // The "Data Filtering" dialog the Filtering On command runs; tests replace it to answer
    // it. Returns false when cancelled.
    std::function<bool(FilterChoice&)> askFilter;
    // The record form; tests replace it to drive the form they are given.
    std::function<void(RecordFormMode)> runRecordForm;

    // Rereads the captions into the grid headers (after a rename).
    void captionsChanged();

    // A send run began (or ended) while the editor is open: every command that changes the
    // database is off for its length, and one that still arrives is refused with a message.
    // Closing then keeps the edits in the database unsaved, for the main window's save.
    void setRunLocked(bool locked);
    [[nodiscard]] static bool runLocks(Command command);

signals:
    // Field values moved: the main window's document counts as changed.
    void documentChanged();

protected:
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildCommands();
    void buildToolbar();
    void onCursorMoved(int row, int column);
    void onGroupChanged(int item);
    void onCellEdited(const QString& text);
    void openRecordForm(RecordFormMode mode);
    void openDatabase();
    void saveDatabaseAs();
    QList<int> selectedRows() const;
    print::GridPrinting& printing();

    db::TDbData& m_store;
    IUserInteraction& m_ui;
    EditorOptions m_options;
    std::unique_ptr<Ui::d_EditDialog> m_form;
    std::unique_ptr<EditorSession> m_session;
    std::unique_ptr<EditorTools> m_tools;
    QMenuBar* m_menuBar = nullptr;
    QToolBar* m_toolBar = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_addressNote = nullptr;
    std::map<Command, QAction*> m_actions;
    bool m_closing = false;
    bool m_runLocked = false;
    std::map<Command, bool> m_enabledBeforeRun;
    // declared last: the printing refers to the grid and the choosers above it
    std::unique_ptr<print::TableViewPrintGrid> m_printGrid;
    std::unique_ptr<print::QtPrintChoosers> m_printChoosers;
    std::unique_ptr<print::GridPrinting> m_printing;
};

}  // namespace pw::dbtools
