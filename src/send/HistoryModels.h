#pragma once
// The tables of the History window over the campaign history. The campaigns and a campaign's
// recipients are read a page at a time as the view scrolls (canFetchMore / fetchMore), so a
// campaign of 20,000 recipients opens with its first page.

#include <QAbstractTableModel>
#include <vector>

#include "db/HistoryStore.h"

namespace pw::send {

// A table of the history read a page at a time, each page after the last row read.
template <typename Row>
class PagedHistoryModel : public QAbstractTableModel {
public:
    PagedHistoryModel(int pageRows, QObject* parent)
        : QAbstractTableModel(parent), m_pageRows(pageRows) {}

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(m_rows.size());
    }
    [[nodiscard]] bool canFetchMore(const QModelIndex& parent) const override {
        return !parent.isValid() && m_more && !m_telling;
    }
    void fetchMore(const QModelIndex& parent) override {
        if (!canFetchMore(parent) || m_rows.empty())
            return;
        std::vector<Row> page;
        if (readPage(&m_rows.back(), page, m_pageRows) != db::HistoryRead::Read) {
            m_more = false;
            return;
        }
        m_more = int(page.size()) == m_pageRows;
        if (page.empty())
            return;
        m_telling = true;
        beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + page.size()) - 1);
        m_rows.insert(m_rows.end(), page.begin(), page.end());
        endInsertRows();
        m_telling = false;
    }

protected:
    // At most `count` rows after `last` (from the first where it is null) into `page`.
    [[nodiscard]] virtual db::HistoryRead readPage(const Row* last, std::vector<Row>& page,
                                                   int count) const = 0;

    // The first page again.
    [[nodiscard]] db::HistoryRead restart() {
        m_telling = true;
        beginResetModel();
        const db::HistoryRead r = readPage(nullptr, m_rows, m_pageRows);
        m_more = int(m_rows.size()) == m_pageRows;
        endResetModel();
        m_telling = false;
        return r;
    }
    [[nodiscard]] const Row* rowAt(int row) const {
        return row >= 0 && row < int(m_rows.size()) ? &m_rows[size_t(row)] : nullptr;
    }

private:
    const int m_pageRows;
    std::vector<Row> m_rows;
    bool m_more = false;
    // A view that asks for more while a change is being told waits until it has been.
    bool m_telling = false;
};

class CampaignListModel : public PagedHistoryModel<db::CampaignRow> {
    Q_OBJECT
public:
    static constexpr int kPageRows = 200;
    explicit CampaignListModel(QString userDataFolder, QObject* parent = nullptr);

    // From the newest campaign again.
    [[nodiscard]] db::HistoryRead reload();
    [[nodiscard]] const db::CampaignRow* campaign(int row) const;
    [[nodiscard]] const QString& lastError() const { return m_store.LastError(); }

    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

private:
    [[nodiscard]] db::HistoryRead readPage(const db::CampaignRow* last,
                                           std::vector<db::CampaignRow>& page,
                                           int count) const override;
    db::CHistoryStore m_store;
};

class CampaignRecipientsModel : public PagedHistoryModel<db::HistoryRecipient> {
    Q_OBJECT
public:
    static constexpr int kPageRows = 500;
    CampaignRecipientsModel(QString userDataFolder, int campaign, QObject* parent = nullptr);

    // Shows the recipients that pass, from the first.
    [[nodiscard]] db::HistoryRead setFilter(const db::RecipientFilter& filter);
    [[nodiscard]] const db::RecipientFilter& filter() const { return m_filter; }
    [[nodiscard]] int campaign() const { return m_campaign; }
    [[nodiscard]] const db::CHistoryStore& store() const { return m_store; }

    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

private:
    [[nodiscard]] db::HistoryRead readPage(const db::HistoryRecipient* last,
                                           std::vector<db::HistoryRecipient>& page,
                                           int count) const override;
    db::CHistoryStore m_store;
    int m_campaign;
    db::RecipientFilter m_filter;
};

// Every campaign one address was in, newest first.
class AddressHistoryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum class Column { Date, Kind, Subject, Outcome, Reply, Later };
    static constexpr int kColumns = int(Column::Later) + 1;
    AddressHistoryModel(QString userDataFolder, QString address, QObject* parent = nullptr);
    [[nodiscard]] db::HistoryRead reload();
    [[nodiscard]] const std::vector<db::AddressCampaign>& rows() const { return m_rows; }

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

private:
    db::CHistoryStore m_store;
    QString m_address;
    std::vector<db::AddressCampaign> m_rows;
};

}  // namespace pw::send
