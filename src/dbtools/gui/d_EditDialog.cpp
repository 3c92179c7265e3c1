#include "dbtools/gui/d_EditDialog.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QToolBar>

#include "dbtools/SuppressionTools.h"
#include "dbtools/gui/AddR.h"
#include "dbtools/gui/EditorToolDialogs.h"
#include "dbtools/gui/RecordGridDelegate.h"
#include "dbtools/gui/d_Filtering.h"
#include "print/gui/GridPrinting.h"
#include "print/gui/PrintChoosers.h"
#include "print/gui/TableViewPrintGrid.h"
#include "resources/Strings.h"
#include "ui_d_EditDialog.h"

namespace pw::dbtools {

namespace {

// The group list's pictures: a folder for every group, an open one for the group on show.
class GroupDelegate : public QStyledItemDelegate {
public:
    GroupDelegate(const GroupListModel& groups, QObject* parent)
        : QStyledItemDelegate(parent), m_groups(groups) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QStyle* style = option->widget ? option->widget->style() : QApplication::style();
        const bool shown = index.row() == m_groups.currentItem();
        option->icon = style->standardIcon(index.row() == 0 ? QStyle::SP_DriveHDIcon
                                           : shown          ? QStyle::SP_DirOpenIcon
                                                            : QStyle::SP_DirIcon);
        option->features |= QStyleOptionViewItem::HasDecoration;
        option->decorationSize = QSize(32, 32);
    }

private:
    const GroupListModel& m_groups;
};

struct CommandInfo {
    d_EditDialog::Command command;
    int text;
    QStyle::StandardPixmap icon;
};

using C = d_EditDialog::Command;
constexpr QStyle::StandardPixmap kNoIcon = QStyle::SP_CustomBase;

const CommandInfo kCommands[] = {
    {C::Exit, ids::kCmdExit, QStyle::SP_DialogCloseButton},
    {C::PageSetting, ids::kCmdPageSetting, kNoIcon},
    {C::Print, ids::kCmdPrint, kNoIcon},
    {C::OpenDatabase, ids::kCmdOpenDbFile, kNoIcon},
    {C::SaveDatabase, ids::kCmdSaveDb, kNoIcon},
    {C::SaveDatabaseAs, ids::kCmdSaveDbAs, kNoIcon},
    {C::MoveLeft, ids::kCmdMoveLeft, QStyle::SP_ArrowLeft},
    {C::MoveRight, ids::kCmdMoveRight, QStyle::SP_ArrowRight},
    {C::SelectAllRecords, ids::kCmdSelectAllRecords, kNoIcon},
    {C::SearchReplace, ids::kCmdSearchReplace, kNoIcon},
    {C::AddRecord, ids::kCmdAddRecord, QStyle::SP_FileIcon},
    {C::DeleteRecord, ids::kCmdDeleteRecord, QStyle::SP_TrashIcon},
    {C::AddGroup, ids::kCmdAddGroup, kNoIcon},
    {C::DeleteGroup, ids::kCmdDeleteGroup, kNoIcon},
    {C::AutoGroup, ids::kCmdAutoGroup, kNoIcon},
    {C::SelectAll, ids::kCmdSelectAll, QStyle::SP_DialogYesButton},
    {C::SelectNone, ids::kCmdSelectNone, QStyle::SP_DialogNoButton},
    {C::SelectUnsent, ids::kCmdSelectUnsent, QStyle::SP_DialogApplyButton},
    {C::ClearResult, ids::kCmdClearResult, kNoIcon},
    {C::SortAscending, ids::kCmdSortAsc, QStyle::SP_ArrowUp},
    {C::SortDescending, ids::kCmdSortDesc, QStyle::SP_ArrowDown},
    {C::FindDuplicates, ids::kCmdFindDuplicates, QStyle::SP_FileDialogContentsView},
    {C::DeleteDuplicates, ids::kCmdDeleteDuplicates, QStyle::SP_DialogDiscardButton},
    {C::CheckAddresses, ids::kCmdCheckAddresses, QStyle::SP_MessageBoxQuestion},
    {C::DeleteInvalid, ids::kCmdDeleteInvalid, kNoIcon},
    {C::FilterOn, ids::kCmdFilterOn, QStyle::SP_FileDialogDetailedView},
    {C::FilterOff, ids::kCmdFilterOff, QStyle::SP_FileDialogListView},
    {C::AddToSuppression, ids::kCmdAddToSuppression, kNoIcon},
    {C::AddressHistory, ids::kHistoryAddressCommand, kNoIcon},
};

// The editor's entries of the program's shortcut table.
QKeySequence shortcutOf(C command) {
    switch (command) {
        case C::AddRecord:
            return QKeySequence(Qt::CTRL | Qt::Key_Insert);
        case C::DeleteRecord:
            return QKeySequence(Qt::CTRL | Qt::Key_Delete);
        case C::AddGroup:
            return QKeySequence(Qt::SHIFT | Qt::Key_Insert);
        case C::DeleteGroup:
            return QKeySequence(Qt::SHIFT | Qt::Key_Delete);
        default:
            return {};
    }
}

QString objectNameOf(C command) {
    return QStringLiteral("action%1").arg(int(command));
}

}  // namespace

bool d_EditDialog::runLocks(Command command) {
    // moving about, printing and closing leave the database as it is
    switch (command) {
        case C::Exit:
        case C::PageSetting:
        case C::Print:
        case C::MoveLeft:
        case C::MoveRight:
        case C::SelectAllRecords:
        case C::AddressHistory:
            return false;
        default:
            return true;
    }
}

void d_EditDialog::setRunLocked(bool locked) {
    if (locked == m_runLocked)
        return;
    m_runLocked = locked;
    for (const auto& [command, a] : m_actions) {
        if (!runLocks(command))
            continue;
        if (locked) {
            m_enabledBeforeRun[command] = a->isEnabled();
            a->setEnabled(false);
        } else {
            a->setEnabled(m_enabledBeforeRun[command]);
        }
    }
    if (!locked)
        m_actions.at(C::AddRecord)->setEnabled(m_session->addRecordEnabled());
    m_form->cellEditor1004->setReadOnly(locked);
}

d_EditDialog::d_EditDialog(db::TDbData& store, IUserInteraction& ui, EditorOptions options,
                           QWidget* parent)
    : QDialog(parent),
      m_store(store),
      m_ui(ui),
      m_options(std::move(options)),
      m_form(std::make_unique<Ui::d_EditDialog>()),
      m_session(std::make_unique<EditorSession>(store, ui, m_options.grouping)),
      m_tools(std::make_unique<EditorTools>(*m_session)) {
    m_tools->saveGrouping = m_options.saveGrouping;
    m_form->setupUi(this);
    setWindowTitle(str(ids::kEditorTitle));
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    // The smallest size the window may be given (the template's hidden frame).
    setMinimumSize(640, 360);

    buildCommands();
    m_menuBar = new QMenuBar(this);
    m_menuBar->setObjectName(QStringLiteral("menuBar"));
    const auto addMenu = [&](const char* name, int text, std::initializer_list<C> items) {
        QMenu* menu = m_menuBar->addMenu(str(text));
        menu->setObjectName(QString::fromLatin1(name));
        for (C c : items) {
            if (c == C(0))
                menu->addSeparator();
            else
                menu->addAction(m_actions.at(c));
        }
    };
    addMenu("menuFile", ids::kMenuEditorFile,
            {C::OpenDatabase, C::SaveDatabase, C::SaveDatabaseAs, C(0), C::PageSetting, C::Print,
             C(0), C::Exit});
    addMenu("menuEdit", ids::kMenuEditorEdit,
            {C::MoveLeft, C::MoveRight, C(0), C::SelectAllRecords, C::SearchReplace, C(0),
             C::AddRecord, C::DeleteRecord, C(0), C::AddGroup, C::DeleteGroup, C::AutoGroup});
    addMenu("menuSelection", ids::kMenuSelection,
            {C::SelectAll, C::SelectNone, C::SelectUnsent, C::ClearResult});
    addMenu(
        "menuTools", ids::kMenuTools,
        {C::SortAscending, C::SortDescending, C(0), C::FindDuplicates, C::DeleteDuplicates, C(0),
         C::CheckAddresses, C::DeleteInvalid, C(0), C::AddToSuppression, C::AddressHistory});
    addMenu("menuFiltering", ids::kMenuFiltering, {C::FilterOn, C::FilterOff});
    layout()->setMenuBar(m_menuBar);
    buildToolbar();

    // The grid.
    QTableView* grid = m_form->grid1043;
    grid->setModel(&m_session->grid());
    grid->setItemDelegate(new RecordGridDelegate(grid));
    grid->setAccessibleName(str(ids::kRecordGrid));
    grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 6);
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    for (int c = 0; c < kGridColumnCount; ++c)
        grid->setColumnWidth(c, m_session->grid().gridColumnWidth(c) * 3 / 2);
    grid->viewport()->installEventFilter(this);
    connect(grid, &QAbstractItemView::clicked, this,
            [this](const QModelIndex& i) { m_session->clickCell(i.row(), i.column()); });
    connect(grid, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& i) {
        m_session->clickCell(i.row(), i.column());
        if (m_session->cursorColumn() < kFirstFieldColumn || m_session->cursorRow() < 0)
            return;
        int records = 0;
        try {
            records = m_store.Records().CountRecords();
        } catch (const db::StoreError& e) {
            m_store.ReportDroppedError("Counting the records", e);
        }
        openRecordForm(records > 0 ? RecordFormMode::Edit : RecordFormMode::Add);
    });

    // The group list.
    QListView* groups = m_form->groupList1045;
    groups->setModel(&m_session->groups());
    groups->setItemDelegate(new GroupDelegate(m_session->groups(), groups));
    groups->setAccessibleName(str(ids::kGroupList));
    groups->setGridSize(QSize(120, 75));
    groups->installEventFilter(this);
    connect(groups->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& i) {
                if (i.isValid() && i.row() != m_session->selectedGroupItem())
                    m_session->selectGroup(i.row());
            });
    m_form->splitter->setStretchFactor(1, 1);
    m_form->splitter->setSizes({150, 800});

    // The cell editor, the button bar, the status bar.
    m_form->cellEditor1004->setAccessibleName(str(ids::kCellEditor));
    m_form->cellEditor1004->setMaxLength(std::max(1, m_session->cellEditorLimit()));
    connect(m_form->cellEditor1004, &QLineEdit::textEdited, this, &d_EditDialog::onCellEdited);
    // The editor's keys come before the cell editor's own: Shift+Delete there deletes the
    // group, as everywhere in the window, instead of cutting the cell's text into the record.
    m_form->cellEditor1004->installEventFilter(this);
    const std::pair<QPushButton*, C> panel[] = {
        {m_form->moveLeftButton, C::MoveLeft},
        {m_form->moveRightButton, C::MoveRight},
        {m_form->deleteButton, C::DeleteRecord},
        {m_form->addButton, C::AddRecord},
        {m_form->findDuplicatesButton, C::FindDuplicates},
        {m_form->deleteDuplicatesButton, C::DeleteDuplicates}};
    for (const auto& [button, command] : panel) {
        QAction* a = m_actions.at(command);
        button->setText(command == C::DeleteRecord ? str(ids::kEditorButtonDelete)
                        : command == C::AddRecord  ? str(ids::kEditorButtonAdd)
                                                   : a->text());
        button->setAccessibleName(button->text());
        button->setAutoDefault(false);
        button->setEnabled(a->isEnabled());
        connect(button, &QPushButton::clicked, a, &QAction::trigger);
        connect(a, &QAction::changed, button, [b = button, a] { b->setEnabled(a->isEnabled()); });
    }
    m_form->fieldColumnsBox->setTitle(str(ids::kBoxFieldColumns));
    m_form->recordsBox->setTitle(str(ids::kBoxRecords));
    m_form->CDatabasePanel->setVisible(m_options.showButtons);
    m_toolBar->setVisible(m_options.showToolbar);
    m_status = new QLabel(m_form->statusBar);
    m_status->setObjectName(QStringLiteral("statusText"));
    m_form->statusBar->addWidget(m_status, 1);
    m_addressNote = new QLabel(m_form->statusBar);
    m_addressNote->setObjectName(QStringLiteral("addressNote"));
    m_form->statusBar->addWidget(m_addressNote);
    m_form->close1153->setText(str(ids::kClose));
    m_form->close1153->setAccessibleName(str(ids::kClose));
    m_form->close1153->setAutoDefault(false);
    connect(m_form->close1153, &QPushButton::clicked, this, &QDialog::accept);

    connect(m_session.get(), &EditorSession::cursorMoved, this, &d_EditDialog::onCursorMoved);
    connect(m_session.get(), &EditorSession::statusChanged, m_status, &QLabel::setText);
    connect(m_session.get(), &EditorSession::groupChanged, this, &d_EditDialog::onGroupChanged);
    connect(m_session.get(), &EditorSession::filterChanged, this,
            [this](bool on) { m_actions.at(C::FilterOff)->setEnabled(on); });
    connect(m_session.get(), &EditorSession::documentChanged, this, &d_EditDialog::documentChanged);
    connect(m_session.get(), &EditorSession::listShown, grid, &QAbstractItemView::clearSelection);

    askFilter = [this](FilterChoice& choice) {
        d_Filtering dialog(m_store, m_session->grid().rowCount() == 0, this);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        choice = dialog.choice();
        return true;
    };
    runRecordForm = [this](RecordFormMode mode) {
        AddR form(*m_session, mode, this);
        form.exec();
    };

    if (m_options.geometry.isValid())
        setGeometry(m_options.geometry);
    m_session->open();
    m_status->setText(m_session->statusText());
}

d_EditDialog::~d_EditDialog() {
    // The grid goes before the session's models.
    m_form->grid1043->setModel(nullptr);
    m_form->groupList1045->setModel(nullptr);
}

QAction* d_EditDialog::action(Command command) const {
    const auto it = m_actions.find(command);
    return it == m_actions.end() ? nullptr : it->second;
}

void d_EditDialog::buildCommands() {
    for (const CommandInfo& info : kCommands) {
        auto* a = new QAction(str(info.text), this);
        a->setObjectName(objectNameOf(info.command));
        if (info.icon != kNoIcon)
            a->setIcon(style()->standardIcon(info.icon));
        if (const QKeySequence key = shortcutOf(info.command); !key.isEmpty()) {
            a->setShortcut(key);
            a->setShortcutContext(Qt::WindowShortcut);
        }
        const C command = info.command;
        connect(a, &QAction::triggered, this, [this, command] { run(command); });
        m_actions[info.command] = a;
    }
    m_actions.at(C::FilterOff)->setEnabled(false);
    m_actions.at(C::OpenDatabase)->setEnabled(bool(m_options.openDatabaseFile));
    m_actions.at(C::AddressHistory)->setEnabled(bool(m_options.showAddressHistory));
}

void d_EditDialog::buildToolbar() {
    m_toolBar = new QToolBar(this);
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setAccessibleName(str(ids::kToolbar));
    m_toolBar->setIconSize(QSize(20, 20));
    const C order[] = {C::Exit,
                       C(0),
                       C::MoveLeft,
                       C::MoveRight,
                       C::AddRecord,
                       C::DeleteRecord,
                       C(0),
                       C::SelectAll,
                       C::SelectNone,
                       C::SelectUnsent,
                       C(0),
                       C::SortAscending,
                       C::SortDescending,
                       C::FindDuplicates,
                       C::DeleteDuplicates,
                       C::CheckAddresses,
                       C(0),
                       C::FilterOn,
                       C::FilterOff};
    for (C c : order) {
        if (c == C(0))
            m_toolBar->addSeparator();
        else
            m_toolBar->addAction(m_actions.at(c));
    }
    static_cast<QBoxLayout*>(layout())->insertWidget(0, m_toolBar);
}

void d_EditDialog::run(Command command) {
    QAction* a = action(command);
    if (runLocks(command) && m_options.runRefuses && m_options.runRefuses())
        return;
    if (!a || !a->isEnabled())
        return;
    EditorSession& s = *m_session;
    switch (command) {
        case C::Exit:
            accept();
            break;
        case C::MoveLeft:
            s.moveLeft();
            break;
        case C::MoveRight:
            s.moveRight();
            break;
        case C::SelectAllRecords:
            s.fetchAllRows();
            m_form->grid1043->selectAll();
            break;
        case C::AddRecord:
            if (s.checkAddRecord() == AddCheck::Allowed)
                openRecordForm(RecordFormMode::Add);
            break;
        case C::DeleteRecord:
            s.deleteRecords(selectedRows());
            break;
        case C::AddToSuppression:
            (void)AddRowsToSuppressionList(s, selectedRows());
            break;
        case C::AddressHistory: {
            const RecordGridModel& records = s.grid();
            const int row = m_form->grid1043->currentIndex().row();
            if (m_options.showAddressHistory && row >= 0 && row < records.rowCount())
                m_options.showAddressHistory(
                    records.data(records.index(row, kFirstFieldColumn), Qt::DisplayRole)
                        .toString()
                        .trimmed());
            break;
        }
        case C::SelectAll:
            s.selectAll();
            break;
        case C::SelectNone:
            s.selectNone();
            break;
        case C::SelectUnsent:
            s.selectUnsent();
            break;
        case C::ClearResult:
            s.clearTransmissionResult();
            break;
        case C::SortAscending:
            s.sort(SortDirection::Ascending);
            break;
        case C::SortDescending:
            s.sort(SortDirection::Descending);
            break;
        case C::FilterOn: {
            if (s.grid().rowCount() == 0)
                break;
            FilterChoice choice;
            if (askFilter && askFilter(choice))
                s.filteringOn(choice);
            break;
        }
        case C::FilterOff:
            s.filteringOff();
            break;
        case C::SaveDatabase:
            s.saveDatabase();
            break;
        case C::OpenDatabase:
            openDatabase();
            break;
        case C::SaveDatabaseAs:
            saveDatabaseAs();
            break;
        case C::PageSetting:
            printing().pageSetting();
            break;
        case C::FindDuplicates:
            (void)m_tools->findDuplicates([this](DuplicateListModel& model) {
                d_FindDuplicates window(model, this);
                window.exec();
            });
            break;
        case C::DeleteDuplicates:
            (void)m_tools->deleteAllDuplicates();
            break;
        case C::CheckAddresses:
            (void)m_tools->checkAddresses();
            break;
        case C::DeleteInvalid:
            (void)m_tools->deleteInvalidAddresses();
            break;
        case C::SearchReplace: {
            d_FindAndReplace window(s, this);
            window.exec();
            break;
        }
        case C::AddGroup: {
            d_AddGroup window(this);
            (void)m_tools->addGroup(window.ask());
            break;
        }
        case C::DeleteGroup:
            (void)m_tools->deleteSelectedGroup();
            break;
        case C::AutoGroup: {
            QStringList captions;
            for (const QString& c : m_store.FieldCaptions().Captions())
                captions << c;
            d_AutoGroup window(captions, s.grouping(), this);
            if (window.exec() == QDialog::Accepted)
                (void)m_tools->applyAutoGroup(window.choice());
            break;
        }
        case C::Print:
            printing().print();
            break;
        default:
            break;
    }
}

void d_EditDialog::openRecordForm(RecordFormMode mode) {
    if (runRecordForm)
        runRecordForm(mode);
    // The cursor's row is selected again and the cell editor shows its cell.
    const int row = m_session->cursorRow();
    if (row >= 0 && row < m_session->grid().rowCount())
        m_form->grid1043->selectRow(row);
    onCursorMoved(row, m_session->cursorColumn());
}

QString DatabaseFileFor(const QString& chosen) {
    if (chosen.endsWith(QStringLiteral(".pzb"), Qt::CaseInsensitive))
        return chosen;
    return chosen + QStringLiteral(".pzb");
}

void d_EditDialog::openDatabase() {
    FileRequest request;
    request.mode = FileChoice::OpenFile;
    request.caption = str(ids::kOpenDatabaseFileTitle);
    request.filters = str(ids::kDatabaseFileFilter);
    const QStringList files = m_ui.chooseFiles(request);
    if (files.isEmpty() || !m_options.openDatabaseFile)
        return;
    m_options.openDatabaseFile(files.first());
    // the store tells the session, which shows the new file's groups and records
}

void d_EditDialog::saveDatabaseAs() {
    FileRequest request;
    request.mode = FileChoice::SaveFile;
    request.caption = str(ids::kSaveDatabaseFileTitle);
    request.filters = str(ids::kDatabaseFileFilter);
    request.defaultSuffix = QStringLiteral("pzb");
    if (!m_options.databaseFile.isEmpty()) {
        const QFileInfo current(m_options.databaseFile);
        request.directory = current.absolutePath() + u'/' + current.completeBaseName();
    }
    const QStringList files = m_ui.chooseFiles(request);
    if (files.isEmpty())
        return;
    const QString file = DatabaseFileFor(files.first());
    if (!m_store.SaveAs(file) || !QFileInfo(file).isFile()) {
        // the working copy stays as it was; only the copy out failed
        inform(m_ui, str(ids::kDatabaseNotSavedAs).arg(QDir::toNativeSeparators(file)));
        return;
    }
    m_options.databaseFile = file;
    if (m_options.databaseSavedAs)
        m_options.databaseSavedAs(file);
}

void d_EditDialog::captionsChanged() {
    m_session->grid().captionsChanged();
}

print::GridPrinting& d_EditDialog::printing() {
    // made on first use and kept for this opening, so each opening starts from the defaults
    if (!m_printing) {
        m_printGrid = std::make_unique<print::TableViewPrintGrid>(
            *m_form->grid1043, [this] { m_session->fetchAllRows(); });
        m_printChoosers = std::make_unique<print::QtPrintChoosers>();
        m_printing =
            std::make_unique<print::GridPrinting>(*m_printGrid, m_ui, *m_printChoosers, this);
    }
    return *m_printing;
}

QList<int> d_EditDialog::selectedRows() const {
    QList<int> rows;
    for (const QModelIndex& i : m_form->grid1043->selectionModel()->selectedRows())
        rows << i.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void d_EditDialog::onCursorMoved(int row, int column) {
    QTableView* grid = m_form->grid1043;
    if (row >= 0 && row < m_session->grid().rowCount())
        grid->scrollTo(m_session->grid().index(row, std::max(column, 0)));
    const QSignalBlocker block(m_form->cellEditor1004);
    m_form->cellEditor1004->setText(m_session->cellEditorText());
    if (m_options.addressNote) {
        const RecordGridModel& records = m_session->grid();
        const QString address =
            row >= 0 && row < records.rowCount()
                ? records.data(records.index(row, kFirstFieldColumn), Qt::DisplayRole).toString()
                : QString();
        const QString note =
            address.trimmed().isEmpty() ? QString() : m_options.addressNote(address);
        m_addressNote->setText(note);
        m_addressNote->setAccessibleName(note);
    }
}

void d_EditDialog::onGroupChanged(int item) {
    m_actions.at(C::AddRecord)->setEnabled(!m_runLocked && m_session->addRecordEnabled());
    QListView* groups = m_form->groupList1045;
    const QModelIndex index = m_session->groups().index(item);
    if (groups->currentIndex() != index) {
        const QSignalBlocker block(groups->selectionModel());
        groups->setCurrentIndex(index);
    }
    groups->viewport()->update();
}

void d_EditDialog::onCellEdited(const QString& text) {
    if (!m_form->cellEditor1004->hasFocus() || m_runLocked)
        return;
    if (!m_session->writeCellEditor(text) && m_session->cursorColumn() >= kFirstFieldColumn) {
        // Refused (too long, a database error): the editor shows the stored value again.
        const QSignalBlocker block(m_form->cellEditor1004);
        m_form->cellEditor1004->setText(m_session->cellEditorText());
    }
}

void d_EditDialog::done(int result) {
    if (m_closing)
        return;
    // Close, Exit, Esc and the close box all close the same way. During a run the save
    // question is not asked: a save would copy the database the run writes to, and the
    // edits stay for the main window's save.
    if (m_runLocked) {
        if (m_session->filterOn())
            m_session->filteringOff();
    } else if (m_session->close() == CloseResult::Cancelled) {
        return;
    }
    m_closing = true;
    if (m_printing)
        m_printing->endPreview();
    if (m_options.saveGeometry)
        m_options.saveGeometry(geometry());
    Q_UNUSED(result);
    QDialog::done(QDialog::Accepted);
}

bool d_EditDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_form->cellEditor1004 && event->type() == QEvent::ShortcutOverride) {
        const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
        for (C c : {C::AddRecord, C::DeleteRecord, C::AddGroup, C::DeleteGroup}) {
            if (shortcutOf(c) == pressed) {
                event->ignore();  // not the line edit's: the window's shortcut runs
                return true;
            }
        }
    }
    if (watched == m_form->groupList1045 && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        run(C::DeleteGroup);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace pw::dbtools
