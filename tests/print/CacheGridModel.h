#pragma once
// A record grid over the store's record cache, as the editor shows it: "Sent" and "Select"
// check boxes, then the 20 fields under their captions, rows fetched as they are asked for.

#include <QAbstractTableModel>

#include "db/RecordCache.h"
#include "db/TDbData.h"

namespace pw::print::test {

class CacheGridModel : public QAbstractTableModel, public db::IRecordCacheOwner {
public:
    CacheGridModel(db::TDbData& store, db::RecordCache& cache) : m_store(store), m_cache(cache) {
        m_cache.setOwner(this);
        m_store.RegisterCache(&m_cache);
    }
    ~CacheGridModel() override {
        m_cache.setOwner(nullptr);
        m_store.RegisterCache(nullptr);
    }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : m_cache.rowCount();
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : db::kFieldCount + 2;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid()) {
            return {};
        }
        const int row = index.row();
        if (!m_cache.isFetched(row)) {
            m_store.FetchRows(row);
        }
        if (index.column() < 2) {
            if (role != Qt::CheckStateRole) {
                return {};
            }
            const bool on = index.column() == 0 ? m_cache.sent(row) != 0 : m_cache.selected(row);
            return on ? Qt::Checked : Qt::Unchecked;
        }
        if (role != Qt::DisplayRole) {
            return {};
        }
        return m_cache.text(row, index.column() - 2);
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override {
        if (o != Qt::Horizontal) {
            return {};
        }
        if (role == Qt::TextAlignmentRole) {
            return section < 2 ? int(Qt::AlignCenter) : int(Qt::AlignLeft | Qt::AlignVCenter);
        }
        if (role != Qt::DisplayRole) {
            return {};
        }
        if (section == 0) {
            return QStringLiteral("Sent");
        }
        if (section == 1) {
            return QStringLiteral("Select");
        }
        return m_store.Captions()[static_cast<size_t>(section - 2)];
    }

    void listRefreshed(int) override {
        beginResetModel();
        endResetModel();
    }
    void rowChanged(int row) override {
        emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    }

private:
    db::TDbData& m_store;
    db::RecordCache& m_cache;
};

}  // namespace pw::print::test
