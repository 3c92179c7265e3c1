#include "send/HistoryModels.h"

#include "resources/Strings.h"
#include "send/HistoryReport.h"

namespace pw::send {

namespace {

QVariant shown(const QVariant& cell, int role) {
    if (role == Qt::DisplayRole)
        return cell;
    if (role == Qt::TextAlignmentRole && cell.typeId() == QMetaType::Int)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

}  // namespace

// ---- campaigns ----

CampaignListModel::CampaignListModel(QString userDataFolder, QObject* parent)
    : PagedHistoryModel(kPageRows, parent), m_store(std::move(userDataFolder)) {}

db::HistoryRead CampaignListModel::reload() {
    return restart();
}

db::HistoryRead CampaignListModel::readPage(const db::CampaignRow* last,
                                            std::vector<db::CampaignRow>& page, int count) const {
    return m_store.ReadCampaigns(page, last ? last->id : 0, count);
}

const db::CampaignRow* CampaignListModel::campaign(int row) const {
    return rowAt(row);
}

int CampaignListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kCampaignColumns;
}

QVariant CampaignListModel::data(const QModelIndex& index, int role) const {
    const db::CampaignRow* row = campaign(index.row());
    if (!row || index.column() < 0 || index.column() >= kCampaignColumns)
        return {};
    if (role == Qt::UserRole)
        return row->id;
    return shown(campaignCell(*row, CampaignColumn(index.column())), role);
}

QVariant CampaignListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    return section >= 0 && section < kCampaignColumns ? campaignHeader(CampaignColumn(section))
                                                      : QVariant();
}

// ---- a campaign's recipients ----

CampaignRecipientsModel::CampaignRecipientsModel(QString userDataFolder, int campaign,
                                                 QObject* parent)
    : PagedHistoryModel(kPageRows, parent),
      m_store(std::move(userDataFolder)),
      m_campaign(campaign) {}

db::HistoryRead CampaignRecipientsModel::setFilter(const db::RecipientFilter& filter) {
    m_filter = filter;
    return restart();
}

db::HistoryRead CampaignRecipientsModel::readPage(const db::HistoryRecipient* last,
                                                  std::vector<db::HistoryRecipient>& page,
                                                  int count) const {
    return m_store.ReadRecipients(m_campaign, m_filter, page, last ? last->position : 0, count);
}

int CampaignRecipientsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kRecipientColumns;
}

QVariant CampaignRecipientsModel::data(const QModelIndex& index, int role) const {
    const db::HistoryRecipient* row = rowAt(index.row());
    if (!row || index.column() < 0 || index.column() >= kRecipientColumns)
        return {};
    return shown(recipientCell(*row, RecipientColumn(index.column())), role);
}

QVariant CampaignRecipientsModel::headerData(int section, Qt::Orientation orientation,
                                             int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return {};
    return section >= 0 && section < kRecipientColumns ? recipientHeader(RecipientColumn(section))
                                                       : QVariant();
}

// ---- one address ----

AddressHistoryModel::AddressHistoryModel(QString userDataFolder, QString address, QObject* parent)
    : QAbstractTableModel(parent),
      m_store(std::move(userDataFolder)),
      m_address(std::move(address)) {}

db::HistoryRead AddressHistoryModel::reload() {
    beginResetModel();
    const db::HistoryRead r = m_store.ReadAddress(m_address, m_rows);
    endResetModel();
    return r;
}

int AddressHistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int AddressHistoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant AddressHistoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(m_rows.size()) || role != Qt::DisplayRole)
        return {};
    const db::AddressCampaign& a = m_rows[size_t(index.row())];
    switch (Column(index.column())) {
        case Column::Date:
            return dateText(a.campaign.startedMs);
        case Column::Kind:
            return kindText(a.campaign.kind);
        case Column::Subject:
            return a.campaign.subject;
        case Column::Outcome:
            return outcomeText(a.recipient.outcome);
        case Column::Reply:
            return a.recipient.reply;
        case Column::Later:
            return eventText(a.recipient.event);
    }
    return {};
}

QVariant AddressHistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return {};
    static const int ids[kColumns] = {ids::kHistoryColDate,    ids::kHistoryColKind,
                                      ids::kHistoryColSubject, ids::kHistoryColOutcome,
                                      ids::kHistoryColReply,   ids::kHistoryColLater};
    return section >= 0 && section < kColumns ? str(ids[section]) : QVariant();
}

}  // namespace pw::send
