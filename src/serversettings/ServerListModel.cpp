#include "serversettings/ServerListModel.h"

#include "resources/Strings.h"

namespace pw::serversettings {

CServerListModel::CServerListModel(const CServerList& list, QObject* parent)
    : QAbstractTableModel(parent), m_list(list) {}

int CServerListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_list.size();
}

int CServerListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 5;
}

QVariant CServerListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_list.size() ||
        (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const ServerProfile& p = m_list.at(index.row());
    switch (index.column()) {
        case 0:
            return p.name;
        case 1:
            return p.from;
        case 2:
            return p.smtpServer;
        case 3:
            return p.popServer;
        case 4:
            return p.userId;
        default:
            return {};
    }
}

QVariant CServerListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static constexpr int kColumns[] = {ids::kSsColumnName, ids::kSsColumnFrom, ids::kSsColumnSmtp,
                                       ids::kSsColumnPop, ids::kSsColumnUser};
    return section >= 0 && section < 5 ? QVariant(str(kColumns[section])) : QVariant();
}

void CServerListModel::reload() {
    beginResetModel();
    endResetModel();
}

}  // namespace pw::serversettings
