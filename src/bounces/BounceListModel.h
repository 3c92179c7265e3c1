#pragma once
// What the "Bounces and Replies" window shows and does, without widgets: the decisions of the
// bounce record as a table (the recognised reports, or apart the mail that was no report),
// reading the mailbox now with a progress display, and undoing the decision on an address.

#include <QAbstractTableModel>
#include <QHash>
#include <vector>

#include "bounces/BounceBook.h"
#include "bounces/MailboxRun.h"

namespace pw {
class IUserInteraction;
}

namespace pw::bounces {

enum class BounceListPart { Recognised, Unrecognised };

class BounceListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        DateColumn,
        RecipientColumn,
        KindColumn,
        StatusColumn,
        ReasonColumn,
        CampaignColumn,
        ActionColumn,
        ColumnCount
    };

    explicit BounceListModel(BounceListPart part, QObject* parent = nullptr);

    // Shows the book's decisions of this part, the newest first; campaigns names each run
    // (campaignNames), a run it lacks shows no campaign.
    void reload(const CBounceBook& book, const QHash<QString, QString>& campaigns = {});
    [[nodiscard]] const BounceDecision* decisionAt(int row) const;

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

private:
    BounceListPart m_part;
    std::vector<BounceDecision> m_rows;
    QHash<QString, QString> m_campaigns;
};

// The words the window uses for a kind and an action.
[[nodiscard]] QString kindText(BounceKind kind);
[[nodiscard]] QString actionText(BounceAction action);

// The campaigns of the book's runs as the history of the folder keeps them: run identifier ->
// "subject (date)". Runs the history does not know are left out.
[[nodiscard]] QHash<QString, QString> campaignNames(const QString& folder, const CBounceBook& book);

// Reads the mailbox with a progress display; tells the user what went wrong, if anything.
[[nodiscard]] MailboxRunResult readMailboxNow(const MailboxAccount& account, const QString& folder,
                                              SoftBounceRule rule, IUserInteraction& ui);

// An address's failures for the editor: "Bounces: 2, the last 5.1.1 userunknown
// (2026-12-10)"; empty when none is recorded or the last was undone.
[[nodiscard]] QString bounceNote(const CBounceBook& book, const QString& address);

enum class UndoOutcome { Undone, NotAsked, Failed };
// Asks, then takes the address off the suppression list and resets its count, in the book of
// the folder; a message when it cannot.
[[nodiscard]] UndoOutcome undoAddress(const QString& folder, const QString& address,
                                      IUserInteraction& ui);

}  // namespace pw::bounces
