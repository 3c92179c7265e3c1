#pragma once
// The editor's group list: item 0 "All Records" (no group), then the groups in ID order.
// Labels are edited in place (a rename); grid rows dropped on a group join it.

#include <QAbstractListModel>
#include <vector>

#include "db/TDbData.h"
#include "resources/UserInteraction.h"

namespace pw::dbtools {

class GroupListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { GroupIdRole = Qt::UserRole + 1 };

    GroupListModel(db::TDbData& store, IUserInteraction& ui, QObject* parent = nullptr);

    // Item 0 and the store's groups (database errors leave item 0 alone).
    void reload();
    // The group ID of an item; -1 for "All Records" or no item.
    [[nodiscard]] int groupId(int item) const;
    [[nodiscard]] int itemOfGroup(int groupId) const;
    // The item whose group is on show (drops onto it add nothing).
    void setCurrentItem(int item) { m_current = item; }
    [[nodiscard]] int currentItem() const { return m_current; }

    // Adds every record of ids to the group of item; false when nothing may be dropped there
    // ("All Records", the group on show, no IDs).
    bool addRecords(int item, const QList<int>& recordIds);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;
    // A rename: item 0 cannot be renamed, an empty name is refused with a message.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    [[nodiscard]] QStringList mimeTypes() const override;
    [[nodiscard]] Qt::DropActions supportedDropActions() const override;
    [[nodiscard]] bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row,
                                       int column, const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

signals:
    // Records were dropped on this item: the editor shows that group.
    void recordsDropped(int item);

private:
    db::TDbData& m_store;
    IUserInteraction& m_ui;
    std::vector<db::GroupInfo> m_items;
    int m_current = 0;
};

}  // namespace pw::dbtools
