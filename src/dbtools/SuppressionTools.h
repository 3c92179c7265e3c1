#pragma once
// The suppression list as the editor and its window use it: "Add to suppression list" for
// records of the grid, and the list model of the window that lists, searches, removes and
// exports the entries.

#include <QAbstractTableModel>
#include <QList>
#include <vector>

#include "db/SuppressionList.h"
#include "dbtools/EditorSession.h"

namespace pw::dbtools {

enum class AddOutcome { Added, Cancelled, NothingToAdd, Failed };

// Asks for the reason, then puts the address (field 1) of every row (the cursor's row when
// none) on the list and tells the user what happened.
AddOutcome AddRowsToSuppressionList(EditorSession& session, const QList<int>& rows);

// Adds addresses read elsewhere (an import), telling the user what happened.
AddOutcome AddAddressesToSuppressionList(db::CSuppressionList& list, IUserInteraction& ui,
                                         const QStringList& addresses, const QString& reason);

class SuppressionListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { AddressColumn, ReasonColumn, AddedColumn, ColumnCount };

    SuppressionListModel(db::CSuppressionList& list, IUserInteraction& ui,
                         QObject* parent = nullptr);

    // Reads the list again (a message when it cannot be read); the search stays.
    void reload();
    // Shows the entries whose address or reason holds the text (any case).
    void setSearch(const QString& text);
    [[nodiscard]] int totalCount() const { return int(m_all.size()); }
    // Asks, then removes the entries of the given rows.
    bool removeRows(const QList<int>& rows);
    // Writes the entries shown as "address,reason,added" lines (UTF-8); false with a message.
    bool exportTo(const QString& path) const;
    [[nodiscard]] QString addressAt(int row) const;

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

private:
    void applySearch();

    db::CSuppressionList& m_list;
    IUserInteraction& m_ui;
    std::vector<db::SuppressedEntry> m_all;
    std::vector<int> m_shown;  // indexes into m_all
    QString m_search;
};

}  // namespace pw::dbtools
