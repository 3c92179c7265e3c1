#pragma once
// The registered servers as the dialog's list shows them: sender name, sender address,
// SMTP server, POP3 server, user ID.

#include <QAbstractTableModel>

#include "serversettings/ServerProfiles.h"

namespace pw::serversettings {

class CServerListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit CServerListModel(const CServerList& list, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The list changed underneath (a profile added or removed).
    void reload();

private:
    const CServerList& m_list;
};

}  // namespace pw::serversettings
