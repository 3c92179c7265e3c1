#include "bounces/BounceListModel.h"

#include "db/HistoryStore.h"
#include "db/SuppressionList.h"
#include "resources/Strings.h"
#include "resources/UserInteraction.h"

namespace pw::bounces {

namespace {

bool belongs(const BounceDecision& d, BounceListPart part) {
    return (d.action == BounceAction::Unrecognised) == (part == BounceListPart::Unrecognised);
}

}  // namespace

QString kindText(BounceKind kind) {
    switch (kind) {
        case BounceKind::Hard:
            return str(ids::kBounceKindHard);
        case BounceKind::Soft:
            return str(ids::kBounceKindSoft);
        case BounceKind::Complaint:
            return str(ids::kBounceKindComplaint);
        case BounceKind::AutoReply:
            return str(ids::kBounceKindAutoReply);
        case BounceKind::Delivered:
            return str(ids::kBounceKindDelivered);
    }
    return {};
}

QString actionText(BounceAction action) {
    switch (action) {
        case BounceAction::Suppressed:
            return str(ids::kBounceActionSuppressed);
        case BounceAction::Counted:
            return str(ids::kBounceActionCounted);
        case BounceAction::NoFailure:
            return str(ids::kBounceActionNoFailure);
        case BounceAction::Unproven:
            return str(ids::kBounceActionUnproven);
        case BounceAction::Unrecognised:
            return str(ids::kBounceActionUnrecognised);
        case BounceAction::Undone:
            return str(ids::kBounceActionUndone);
    }
    return {};
}

BounceListModel::BounceListModel(BounceListPart part, QObject* parent)
    : QAbstractTableModel(parent), m_part(part) {}

void BounceListModel::reload(const CBounceBook& book, const QHash<QString, QString>& campaigns) {
    beginResetModel();
    m_rows.clear();
    m_campaigns = campaigns;
    const std::vector<BounceDecision>& all = book.decisions();
    for (auto d = all.rbegin(); d != all.rend(); ++d)
        if (belongs(*d, m_part))
            m_rows.push_back(*d);
    endResetModel();
}

const BounceDecision* BounceListModel::decisionAt(int row) const {
    return row >= 0 && row < int(m_rows.size()) ? &m_rows[size_t(row)] : nullptr;
}

int BounceListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int BounceListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant BounceListModel::data(const QModelIndex& index, int role) const {
    const BounceDecision* d = decisionAt(index.row());
    if (!d || !index.isValid() || index.column() >= ColumnCount)
        return {};
    if (role == Qt::ToolTipRole)
        return index.column() == ReasonColumn || index.column() == RecipientColumn
                   ? data(index, Qt::DisplayRole)
                   : QVariant();
    if (role != Qt::DisplayRole)
        return {};
    const bool known = m_part == BounceListPart::Recognised;
    switch (Column(index.column())) {
        case DateColumn:
            return d->reportDate.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        case RecipientColumn:
            return d->recipient;
        case KindColumn:
            return known ? kindText(d->kind) : QString();
        case StatusColumn:
            return d->status;
        case ReasonColumn:
            return d->reason;
        case CampaignColumn:
            return m_campaigns.value(d->runId);
        case ActionColumn:
            return actionText(d->action);
        case ColumnCount:
            break;
    }
    return {};
}

QVariant BounceListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static constexpr int kHeaders[ColumnCount] = {ids::kBounceColDate,   ids::kBounceColRecipient,
                                                  ids::kBounceColKind,   ids::kBounceColStatus,
                                                  ids::kBounceColReason, ids::kBounceColCampaign,
                                                  ids::kBounceColAction};
    return section >= 0 && section < ColumnCount ? str(kHeaders[section]) : QVariant();
}

QHash<QString, QString> campaignNames(const QString& folder, const CBounceBook& book) {
    QSet<QString> wanted;
    for (const BounceDecision& d : book.decisions())
        if (!d.runId.isEmpty())
            wanted.insert(d.runId);
    QHash<QString, QString> names;
    if (wanted.isEmpty())
        return names;
    // newest first, a page at a time, until every run is found or the history ends
    const db::CHistoryStore history(folder);
    std::vector<db::CampaignRow> page;
    int before = 0;
    while (names.size() < wanted.size() &&
           history.ReadCampaigns(page, before) == db::HistoryRead::Read && !page.empty()) {
        for (const db::CampaignRow& c : page) {
            if (wanted.contains(c.runId))
                names.insert(c.runId,
                             QStringLiteral("%1 (%2)").arg(
                                 c.subject, QDateTime::fromMSecsSinceEpoch(c.startedMs)
                                                .toString(QStringLiteral("yyyy-MM-dd HH:mm"))));
            before = c.id;
        }
    }
    return names;
}

MailboxRunResult readMailboxNow(const MailboxAccount& account, const QString& folder,
                                SoftBounceRule rule, IUserInteraction& ui) {
    const std::unique_ptr<IProgress> progress = ui.createProgress();
    progress->setCaption(str(ids::kBounceCaption));
    progress->setText(str(ids::kBounceReading).arg(account.host));
    progress->setRange(0, 0);
    progress->show();
    const MailboxRunResult result =
        readMailbox(account, folder, rule, [&progress](int done, int all) {
            progress->setRange(0, all);
            progress->setPosition(done);
        });
    progress->hide();
    (void)ui.message(str(ids::kBounceCaption),
                     result.message.isEmpty()
                         ? summaryText(result.summary)
                         : summaryText(result.summary) + QLatin1Char('\n') + result.message,
                     MessageKind::Information);
    return result;
}

QString bounceNote(const CBounceBook& book, const QString& address) {
    const QString a = address.trimmed().toLower();
    int count = 0;
    const BounceDecision* last = nullptr;
    for (const BounceDecision& d : book.decisions())
        if (d.recipient == a &&
            (d.action == BounceAction::Suppressed || d.action == BounceAction::Counted)) {
            ++count;
            last = &d;
        }
    if (!last)
        return {};
    return str(ids::kBounceNote)
        .arg(QString::number(count), last->status, last->reason,
             last->reportDate.toString(QStringLiteral("yyyy-MM-dd")));
}

UndoOutcome undoAddress(const QString& folder, const QString& address, IUserInteraction& ui) {
    if (address.isEmpty() ||
        ui.message(str(ids::kBounceCaption), str(ids::kBounceUndoAsk).arg(address),
                   MessageKind::YesNo) != Answer::Yes)
        return UndoOutcome::NotAsked;
    CBounceBook book(folder);
    db::CSuppressionList list(folder);
    if (!book.load()) {
        (void)ui.message(str(ids::kBounceCaption),
                         str(ids::kBounceUndoFailed)
                             .arg(address, folder + QString::fromLatin1(kBounceBookFileName)),
                         MessageKind::Information);
        return UndoOutcome::Failed;
    }
    if (!book.undo(address, list) || book.save() == BookSaved::Failed) {
        (void)ui.message(str(ids::kBounceCaption),
                         str(ids::kBounceUndoFailed).arg(address, list.LastError()),
                         MessageKind::Information);
        return UndoOutcome::Failed;
    }
    return UndoOutcome::Undone;
}

}  // namespace pw::bounces
