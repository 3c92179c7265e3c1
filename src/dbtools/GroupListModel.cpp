#include "dbtools/GroupListModel.h"

#include <QMimeData>

#include "dbtools/RecordGridModel.h"
#include "resources/Strings.h"

namespace pw::dbtools {

GroupListModel::GroupListModel(db::TDbData& store, IUserInteraction& ui, QObject* parent)
    : QAbstractListModel(parent), m_store(store), m_ui(ui) {
    m_items.push_back({-1, str(ids::kAllRecords)});
}

void GroupListModel::reload() {
    beginResetModel();
    m_items.assign(1, {-1, str(ids::kAllRecords)});
    try {
        for (db::GroupInfo& g : m_store.Groups().ListGroups())
            m_items.push_back(std::move(g));
    } catch (const db::StoreError& e) {
        m_store.ReportDroppedError("Listing the groups", e);
    }
    if (m_current >= int(m_items.size()))
        m_current = 0;
    endResetModel();
}

int GroupListModel::groupId(int item) const {
    return item > 0 && item < int(m_items.size()) ? m_items[item].id : -1;
}

int GroupListModel::itemOfGroup(int groupId) const {
    for (int i = 1; i < int(m_items.size()); ++i)
        if (m_items[i].id == groupId)
            return i;
    return -1;
}

bool GroupListModel::addRecords(int item, const QList<int>& recordIds) {
    if (item <= 0 || item >= int(m_items.size()) || item == m_current || recordIds.isEmpty())
        return false;
    for (int id : recordIds)
        m_store.Groups().AddToGroup(m_items[item].id, id);  // a member already stays as it is
    return true;
}

int GroupListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant GroupListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(m_items.size()))
        return {};
    const db::GroupInfo& g = m_items[index.row()];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
        case Qt::ToolTipRole:
        case Qt::AccessibleTextRole:
            return g.name;
        case GroupIdRole:
            return g.id;
        default:
            return {};
    }
}

Qt::ItemFlags GroupListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.row() > 0)
        f |= Qt::ItemIsEditable | Qt::ItemIsDropEnabled;
    return f;
}

bool GroupListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.row() <= 0 || role != Qt::EditRole)
        return false;
    const QString name = value.toString();
    if (name == m_items[index.row()].name)
        return false;
    if (name.isEmpty()) {
        inform(m_ui, str(ids::kNoGroupName));
        return false;
    }
    if (name.toUtf8().size() > m_store.StringFieldLength()) {
        inform(m_ui, str(ids::kDbFieldTooLong));
        return false;
    }
    try {
        m_store.Groups().RenameGroup(m_items[index.row()].id, name);
    } catch (const db::StoreError& e) {
        // the name stays as it was: say why, in the engine's words
        inform(m_ui, str(ids::kGroupRenameFailed).arg(QString::fromUtf8(e.what())));
        return false;
    }
    m_items[index.row()].name = name;
    emit dataChanged(index, index);
    return true;
}

QStringList GroupListModel::mimeTypes() const {
    return {RecordGridModel::kRecordIdsMime};
}

Qt::DropActions GroupListModel::supportedDropActions() const {
    return Qt::CopyAction | Qt::LinkAction;
}

bool GroupListModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int row, int,
                                     const QModelIndex& parent) const {
    // Only onto an item (not between items), never onto "All Records" or the group on show.
    const int item = parent.isValid() ? parent.row() : -1;
    return row < 0 && data && data->hasFormat(RecordGridModel::kRecordIdsMime) && item > 0 &&
           item != m_current;
}

bool GroupListModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                  const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent))
        return false;
    QList<int> ids;
    for (const QByteArray& line : data->data(RecordGridModel::kRecordIdsMime).split('\n')) {
        bool ok = false;
        const int id = line.toInt(&ok);
        if (ok && id >= 0)
            ids << id;
    }
    if (!addRecords(parent.row(), ids))
        return false;
    emit recordsDropped(parent.row());
    return true;
}

}  // namespace pw::dbtools
