#include "dbtools/EditorSession.h"

#include "dbtools/StoreQuestions.h"
#include "resources/Strings.h"

namespace pw::dbtools {

int AutoAssignRecord(db::TDbData& store, const AutoGroupSetting& setting, int recordId,
                     const std::array<QString, db::kFieldCount>& fields) {
    if (!setting.enabled || setting.field < 0 || setting.field >= db::kFieldCount)
        return -1;
    const int group = store.Groups().FindGroupByName(fields[setting.field]);
    if (group < 0)
        return -1;
    store.Groups().AddToGroup(group, recordId);
    return group;
}

EditorSession::EditorSession(db::TDbData& store, IUserInteraction& ui, AutoGroupSetting grouping,
                             QObject* parent)
    : QObject(parent),
      m_store(store),
      m_ui(ui),
      m_grouping(grouping),
      m_grid(std::make_unique<RecordGridModel>(store, ui)),
      m_groups(std::make_unique<GroupListModel>(store, ui)) {
    connect(m_grid.get(), &RecordGridModel::listRebuilt, this, [this](int) {
        if (m_grid->cache().truncated() && !m_toldTruncated) {
            // A file made elsewhere, or a lowered limit: the first rows show, and the user
            // hears why.
            m_toldTruncated = true;
            inform(m_ui, str(ids::kDbTooManyRecords).arg(m_store.RecordLimit()));
        }
        emit listShown();
        // After a refresh the cursor is on row 0 of its column; the filter commands move it
        // off the rows afterwards.
        setCursor(0, cursorColumn());
        emit statusChanged(statusText());
    });
    connect(m_grid.get(), &QAbstractItemModel::rowsInserted, this,
            [this] { emit statusChanged(statusText()); });
    connect(m_grid.get(), &QAbstractItemModel::rowsRemoved, this,
            [this] { emit statusChanged(statusText()); });
    connect(m_groups.get(), &GroupListModel::recordsDropped, this,
            [this](int item) { selectGroup(item); });
    m_store.AddObserver(this);
}

void EditorSession::captionsReloaded() {
    m_grid->captionsChanged();
}

void EditorSession::databaseOpened() {
    m_toldTruncated = false;
    m_grid->setFilterOn(false);
    m_groups->setCurrentItem(0);
    m_groups->reload();
    selectGroup(0);
}

EditorSession::~EditorSession() {
    m_store.RemoveObserver(this);
    // The grid's cache goes first: its unregistering refills the list below it.
    m_grid.reset();
}

template <typename F>
void EditorSession::guarded(const char* what, F&& f) {
    try {
        f();
    } catch (const db::StoreError& e) {
        m_store.ReportDroppedError(what, e);
    }
}

void EditorSession::open() {
    // The modified flag is left as it is: changes made before the editor opened are still
    // unsaved and are asked about with the editor's own when it closes.
    m_grid->setCursorCell(0, -1);
    m_groups->reload();
    selectGroup(0);
}

CloseResult EditorSession::close() {
    if (!ConfirmClose(m_store, m_ui))
        return CloseResult::Cancelled;
    if (filterOn())
        filteringOff();
    return CloseResult::Closed;
}

void EditorSession::refresh() {
    guarded("Refreshing the list", [&] { list().Refresh(); });
}

// ---- cursor and cell editor -------------------------------------------------------------------

void EditorSession::clickCell(int row, int column) {
    if (column == kSentColumn && row >= 0 && row < m_grid->rowCount() &&
        m_grid->data(m_grid->index(row, column), RecordGridModel::SentValueRole).toInt() == 2)
        column = kSelectColumn;
    setCursor(row, column);
}

void EditorSession::setCursor(int row, int column) {
    m_grid->setCursorCell(row, column);
    emit cursorMoved(row, column);
}

QString EditorSession::cellEditorText() const {
    const int row = cursorRow();
    const int column = cursorColumn();
    if (column < kFirstFieldColumn || row < 0 || row >= m_grid->rowCount())
        return {};
    return m_grid->gridText(row, column);
}

bool EditorSession::writeCellEditor(const QString& text) {
    const int row = cursorRow();
    const int column = cursorColumn();
    if (m_grid->rowCount() == 0 || column < kFirstFieldColumn || row < 0 ||
        row >= m_grid->rowCount())
        return false;
    return m_grid->setData(m_grid->index(row, column), text.left(256), Qt::EditRole);
}

int EditorSession::cellEditorLimit() const {
    return m_store.StringFieldLength();
}

// ---- groups -----------------------------------------------------------------------------------

void EditorSession::selectGroup(int item) {
    if (item < 0 || item >= m_groups->rowCount())
        item = 0;
    m_groups->setCurrentItem(item);
    list().SetGroup(m_groups->groupId(item));
    refresh();
    emit groupChanged(item);
}

bool EditorSession::dropRowsOnGroup(int item, const QList<int>& rows) {
    QList<int> ids;
    for (int r : rows) {
        const int id = m_grid->data(m_grid->index(r, 0), RecordGridModel::RecordIdRole).toInt();
        if (id >= 0)
            ids << id;
    }
    if (!m_groups->addRecords(item, ids))
        return false;
    selectGroup(item);
    return true;
}

// ---- filtering, sorting, selection ------------------------------------------------------------

void EditorSession::filteringOn(const FilterChoice& choice) {
    if (choice.field < 0 || choice.field >= db::kFieldCount)
        return;
    list().AddFilter(choice);
    refresh();
    m_grid->setFilterOn(true);
    setCursor(-1, cursorColumn());
    emit filterChanged(true);
}

void EditorSession::filteringOff() {
    list().ClearFilter();
    refresh();
    m_grid->setFilterOn(false);
    setCursor(-1, cursorColumn());
    emit filterChanged(false);
}

void EditorSession::sort(SortDirection direction) {
    // The cursor's column: a flag, or field column - 2.
    const int column = cursorColumn();
    db::ListOrder order;
    order.direction = direction;
    if (column == kSentColumn) {
        order.key = db::SortKey::Sent;
    } else if (column == kSelectColumn) {
        order.key = db::SortKey::Selected;
    } else if (column >= kFirstFieldColumn && column < kGridColumnCount) {
        order.key = db::SortKey::Field;
        order.field = column - kFirstFieldColumn;
    } else {
        return;
    }
    list().SetOrder(order);
    refresh();
}

void EditorSession::setFlagOverView(const char* what, db::RowFlag which, int value) {
    bool inPlace = false;
    guarded(what,
            [&] { inPlace = list().SetFlagOverView(which, value) == db::ViewUpdate::InPlace; });
    if (!inPlace) {
        refresh();
        return;
    }
    // The rows stay as they were read; the rest is what a refresh does.
    emit listShown();
    setCursor(0, cursorColumn());
    emit statusChanged(statusText());
}

void EditorSession::selectAll() {
    setFlagOverView("Select All", db::RowFlag::Selected, 1);
}

void EditorSession::selectNone() {
    setFlagOverView("Select None", db::RowFlag::Selected, 0);
}

void EditorSession::selectUnsent() {
    guarded("Select Unsent Items", [&] {
        list().UpdateFlags({db::RowFlag::Selected, 1, db::FlagRows::NotSent, -1});
        list().UpdateFlags({db::RowFlag::Selected, 0, db::FlagRows::Sent, -1});
    });
    refresh();
}

void EditorSession::clearTransmissionResult() {
    setFlagOverView("Clear Transmission Result", db::RowFlag::Sent, 0);
}

// ---- records ----------------------------------------------------------------------------------

void EditorSession::deleteRecords(const QList<int>& rows) {
    if (m_grid->rowCount() == 0)
        return;
    if (m_ui.message(str(ids::kDeleteRecordTitle), str(ids::kDeleteRecordAsk),
                     MessageKind::YesNo) != Answer::Yes)
        return;
    QList<int> targets = rows;
    if (targets.isEmpty() && cursorRow() >= 0)
        targets << cursorRow();
    // IDs first: each deletion takes its row out of the grid at once.
    QList<int> ids;
    for (int r : targets) {
        const int id = m_grid->data(m_grid->index(r, 0), RecordGridModel::RecordIdRole).toInt();
        if (r >= 0 && r < m_grid->rowCount() && id >= 0)
            ids << id;
    }
    const int group = m_groups->groupId(selectedGroupItem());
    guarded("Delete Record", [&] {
        m_store.Records().DeleteRecords(group, std::vector<int>(ids.begin(), ids.end()));
    });
    m_grid->setCursorCell(0, cursorColumn());
    refresh();
}

void EditorSession::swapWith(int offset) {
    const int c = cursorColumn();
    const int other = c + offset;
    if (c < kFirstFieldColumn || other < kFirstFieldColumn || other >= kGridColumnCount)
        return;
    list().FetchAll();
    guarded("Moving field values",
            [&] { list().SwapFields(c - kFirstFieldColumn, other - kFirstFieldColumn); });
    setCursor(cursorRow(), other);
    emit documentChanged();
}

void EditorSession::moveLeft() {
    swapWith(-1);
}

void EditorSession::moveRight() {
    swapWith(+1);
}

void EditorSession::fetchAllRows() {
    list().FetchAll();
}

AddCheck EditorSession::checkAddRecord() {
    int count = 0;
    guarded("Counting the records", [&] { count = m_store.Records().CountRecords(); });
    const int limit = m_store.RecordLimit();
    if (count >= limit || m_grid->rowCount() >= limit) {
        m_ui.message(str(ids::kFieldInputTitle), str(ids::kRecordLimitReached).arg(limit),
                     MessageKind::Information);
        return AddCheck::Refused;
    }
    return AddCheck::Allowed;
}

void EditorSession::saveDatabase() {
    if (!m_store.Save(db::SaveMode::Retaining))
        return;
}

QString EditorSession::statusText() const {
    // the list's count, known from the refresh on
    return str(ids::kEditorStatus).arg(m_grid->rowCount());
}

}  // namespace pw::dbtools
