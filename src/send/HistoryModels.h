#pragma once
// The tables of the History window over the campaign history. The campaigns and a campaign's
// recipients are read a page at a time as the view scrolls (canFetchMore / fetchMore), so a
// campaign of 20,000 recipients opens with its first page.

#include <QAbstractTableModel>
#include <vector>

#include "db/HistoryStore.h"

namespace pw::send {

class CampaignListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kPageRows = 200;
    explicit CampaignListModel(QString userDataFolder, QObject* parent = nullptr);

    // From the newest campaign again.
    [[nodiscard]] db::HistoryRead reload();
    [[nodiscard]] const db::CampaignRow* campaign(int row) const;
    [[nodiscard]] const QString& lastError() const { return m_store.LastError(); }

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;
    [[nodiscard]] bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    db::CHistoryStore m_store;
    std::vector<db::CampaignRow> m_rows;
    bool m_more = false;
    // A view that asks for more while a change is being told waits until it has been.
    bool m_telling = false;
};

class CampaignRecipientsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kPageRows = 500;
    CampaignRecipientsModel(QString userDataFolder, int campaign, QObject* parent = nullptr);

    // Shows the recipients that pass, from the first.
    [[nodiscard]] db::HistoryRead setFilter(const db::RecipientFilter& filter);
    [[nodiscard]] const db::RecipientFilter& filter() const { return m_filter; }
    [[nodiscard]] int campaign() const { return m_campaign; }
    [[nodiscard]] const db::CHistoryStore& store() const { return m_store; }

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;
    [[nodiscard]] bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    db::CHistoryStore m_store;
    int m_campaign;
    db::RecipientFilter m_filter;
    std::vector<db::HistoryRecipient> m_rows;
    bool m_more = false;
    bool m_telling = false;
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
