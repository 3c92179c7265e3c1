#pragma once
// What the program does with the reports of the bounce mailbox, and what it remembers between
// reads ("bounces.json" in the user data folder): where the last read of the mailbox ended,
// the soft bounces of each address, and every decision, so that the user can see and undo it.
//
// Only a report whose returned identifier is valid for the recipient is acted on: a hard
// bounce or a complaint puts the address on the suppression list with the reason and the
// report's date; soft bounces are counted and suppress once they came from enough different
// runs within the window; auto-replies and delivery notices are no failures. A mail asking
// to unsubscribe ("unsubscribe" + address in its subject, as the List-Unsubscribe mailto
// link writes it) suppresses the address it names when it comes from that address.

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <vector>

#include "bounces/BounceReport.h"
#include "bounces/Mailbox.h"

namespace pw::db {
class CSuppressionList;
}

namespace pw::bounces {

inline constexpr const char* kBounceBookFileName = "bounces.json";

struct SoftBounceRule {
    int threshold = 3;  // soft bounces from different runs ...
    int days = 30;      // ... within this many days
};

enum class BounceAction {
    Suppressed,    // put on the suppression list
    Counted,       // a soft bounce, below the threshold
    NoFailure,     // an auto-reply or a delivery notice
    Unproven,      // no valid identifier: nothing done
    Unrecognised,  // not a report at all: left alone
    Undone,        // the user took the decision back
};
// The action's word in the book's file ("no-failure").
[[nodiscard]] const char* ActionName(BounceAction action);

struct BounceDecision {
    QDateTime reportDate;
    QString recipient;
    BounceKind kind = BounceKind::Soft;
    QString status;
    QString reason;
    QString runId;
    BounceAction action = BounceAction::Unproven;
    QString report;  // the mail the decision came from
};

enum class BookSaved { Saved, Failed };

struct Applied {
    std::vector<BounceDecision> decisions;
    enum class List { Written, Failed } list = List::Written;  // Failed: stopped part-way
};

class CBounceBook {
public:
    // folder ends in '/'.
    explicit CBounceBook(QString userDataFolder, SoftBounceRule rule = {});

    // A missing file is an empty book; false when it exists but cannot be read.
    [[nodiscard]] bool load();
    [[nodiscard]] BookSaved save() const;

    [[nodiscard]] const MailboxPosition& position() const { return m_position; }
    void setPosition(const MailboxPosition& p) { m_position = p; }

    // Acts on one message of the mailbox (or a refusal seen while sending, as a report of
    // one recipient with its run) and records what was decided.
    [[nodiscard]] Applied apply(const BounceReport& report, const QByteArray& key,
                                db::CSuppressionList& list, const QDateTime& now);
    // The address leaves the suppression list and its count starts again; its decisions
    // show that they were undone.
    [[nodiscard]] bool undo(const QString& address, db::CSuppressionList& list);

    [[nodiscard]] int softCount(const QString& address, const QDateTime& now) const;
    [[nodiscard]] const std::vector<BounceDecision>& decisions() const { return m_decisions; }

private:
    bool suppress(const QString& address, const QString& why, db::CSuppressionList& list);

    QString m_folder;
    SoftBounceRule m_rule;
    MailboxPosition m_position;
    QJsonObject m_soft;  // address -> [{"run", "date"}]
    std::vector<BounceDecision> m_decisions;
};

}  // namespace pw::bounces
