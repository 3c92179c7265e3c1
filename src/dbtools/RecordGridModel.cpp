#include "dbtools/RecordGridModel.h"

#include <QMimeData>
#include <set>

#include "db/TDbData.h"
#include "dbtools/StoreQuestions.h"
#include "resources/Strings.h"

namespace pw::dbtools {

RecordGridModel::RecordGridModel(db::TDbData& store, IUserInteraction& ui, QObject* parent)
    : QAbstractTableModel(parent),
      m_store(store),
      m_ui(ui),
      m_list(std::make_unique<db::CRecipientList>(store, this)) {}

RecordGridModel::~RecordGridModel() {
    // The list's going may refill the list below this one; nothing may reach this model then.
    m_list->Cache().setOwner(nullptr);
    m_list.reset();
}

void RecordGridModel::setFilterOn(bool on) {
    if (m_filterOn == on)
        return;
    m_filterOn = on;
    if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, kGridColumnCount - 1),
                         {FilterOnRole, Qt::ForegroundRole});
}

void RecordGridModel::captionsChanged() {
    emit headerDataChanged(Qt::Horizontal, kFirstFieldColumn, kGridColumnCount - 1);
}

void RecordGridModel::setCursorCell(int row, int column) {
    const int oldRow = m_cursorRow;
    m_cursorRow = row;
    m_cursorColumn = column;
    for (int r : {oldRow, row})
        if (r >= 0 && r < rowCount())
            emit dataChanged(index(r, 0), index(r, kGridColumnCount - 1), {CursorRole});
}

int RecordGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : cache().rowCount();
}

int RecordGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kGridColumnCount;
}

QVariant RecordGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !holds(index.row()))
        return {};
    const int row = index.row();
    const int column = index.column();
    switch (role) {
        case Qt::ToolTipRole:
            if (column == kSentColumn)
                return cache().sent(row) == 1   ? str(ids::kGridSentTip)
                       : cache().sent(row) == 2 ? str(ids::kGridFailedTip)
                                                : str(ids::kGridNotSentTip);
            [[fallthrough]];
        case Qt::DisplayRole:
        case Qt::EditRole:
            if (column >= kFirstFieldColumn)
                return cache().text(row, column - kFirstFieldColumn);
            return {};
        case Qt::CheckStateRole:
            // a recipient that failed for good is no ticked "Sent"
            if (column == kSentColumn) {
                const int sent = cache().sent(row);
                return sent == 1 ? Qt::Checked : sent == 2 ? Qt::PartiallyChecked : Qt::Unchecked;
            }
            if (column == kSelectColumn)
                return cache().selected(row) ? Qt::Checked : Qt::Unchecked;
            return {};
        case Qt::TextAlignmentRole:
            if (column < kFirstFieldColumn)
                return int(Qt::AlignCenter);
            return int(Qt::AlignLeft | Qt::AlignVCenter);
        case RecordIdRole:
            return cache().rowId(row);
        case SentValueRole:
            return cache().sent(row);
        case FilterOnRole:
            return m_filterOn;
        case CursorRole:
            return row == m_cursorRow && column == m_cursorColumn;
        default:
            return {};
    }
}

QVariant RecordGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kGridColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole)
        return gridHeader(section);
    if (role == Qt::TextAlignmentRole && section < kFirstFieldColumn)
        return int(Qt::AlignCenter);
    return {};
}

Qt::ItemFlags RecordGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f =
        Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
    // "Sent" is shown, never toggled; "Select" toggles; the fields are typed in the cell editor.
    if (index.column() == kSelectColumn)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

bool RecordGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || !holds(index.row()))
        return false;
    const int row = index.row();
    const int column = index.column();
    bool stored = false;
    try {
        if (column == kSelectColumn && role == Qt::CheckStateRole) {
            const bool on = value.toInt() == Qt::Checked;
            m_list->SetRowFlag(row, db::RowFlag::Selected, on ? 1 : 0);
            stored = cache().selected(row) == on;
        } else if (column >= kFirstFieldColumn && role == Qt::EditRole) {
            const db::CellWrite written =
                m_list->SetCell(row, column - kFirstFieldColumn, value.toString());
            if (written == db::CellWrite::TooLong)
                inform(m_ui, str(ids::kDbFieldTooLong));
            else if (written == db::CellWrite::ChangedElsewhere)
                TellChangedElsewhere(m_store, m_ui);
            stored = written == db::CellWrite::Written;
        }
    } catch (const db::StoreError& e) {
        m_store.ReportDroppedError("Writing a grid cell", e);
        stored = false;
    }
    if (!stored)  // a view that showed the refused value reads the stored one again
        emit dataChanged(index, index);
    return stored;
}

QStringList RecordGridModel::mimeTypes() const {
    return {kRecordIdsMime};
}

QMimeData* RecordGridModel::mimeData(const QModelIndexList& indexes) const {
    std::set<int> rows;
    for (const QModelIndex& i : indexes)
        if (i.isValid())
            rows.insert(i.row());
    QByteArray ids;
    for (int r : rows) {
        if (!holds(r) || cache().rowId(r) < 0)
            continue;
        ids += QByteArray::number(cache().rowId(r)) + '\n';
    }
    auto* mime = new QMimeData;
    mime->setData(kRecordIdsMime, ids);
    return mime;
}

Qt::DropActions RecordGridModel::supportedDragActions() const {
    return Qt::CopyAction | Qt::LinkAction;
}

QString RecordGridModel::gridHeader(int column) const {
    if (column == kSentColumn)
        return str(ids::kGridSent);
    if (column == kSelectColumn)
        return str(ids::kGridSelect);
    if (column >= kFirstFieldColumn && column < kGridColumnCount)
        return m_store.FieldCaptions().Captions()[column - kFirstFieldColumn];
    return {};
}

int RecordGridModel::gridColumnWidth(int column) const {
    return column < kFirstFieldColumn ? 50 : 80;
}

bool RecordGridModel::gridIsCheckColumn(int column) const {
    return column == kSentColumn || column == kSelectColumn;
}

QString RecordGridModel::gridText(int row, int column) const {
    if (column < kFirstFieldColumn || column >= kGridColumnCount || !holds(row))
        return {};
    return cache().text(row, column - kFirstFieldColumn);
}

bool RecordGridModel::gridChecked(int row, int column) const {
    if (!holds(row))
        return false;
    if (column == kSentColumn)
        return cache().sent(row) != 0;
    if (column == kSelectColumn)
        return cache().selected(row);
    return false;
}

// ---- the cache's notices ----------------------------------------------------------------------

void RecordGridModel::listAboutToRefresh() {
    if (m_resetting)
        return;
    m_resetting = true;
    beginResetModel();
}

void RecordGridModel::listRefreshed(int rowCount) {
    if (!m_resetting)
        beginResetModel();
    m_resetting = false;
    endResetModel();
    emit listRebuilt(rowCount);
}

void RecordGridModel::rowChanged(int row) {
    if (row >= 0 && row < rowCount())
        emit dataChanged(index(row, 0), index(row, kGridColumnCount - 1));
}

void RecordGridModel::rowsChanged(int first, int last) {
    first = std::max(first, 0);
    last = std::min(last, rowCount() - 1);
    if (first <= last)
        emit dataChanged(index(first, 0), index(last, kGridColumnCount - 1));
}

void RecordGridModel::rowsAboutToBeInserted(int first, int last) {
    beginInsertRows({}, first, last);
}

void RecordGridModel::rowsInserted(int, int) {
    endInsertRows();
}

void RecordGridModel::rowsAboutToBeRemoved(int first, int last) {
    beginRemoveRows({}, first, last);
}

void RecordGridModel::rowsRemoved(int, int) {
    endRemoveRows();
}

}  // namespace pw::dbtools
