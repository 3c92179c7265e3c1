#pragma once
// One read of the bounce mailbox: the new messages fetched, classified and acted on, the
// position and the decisions recorded. The window and "postwick --read-bounces --mailbox"
// both run it.

#include <QString>

#include "bounces/BounceBook.h"
#include "bounces/Mailbox.h"

namespace pw::send {
struct RecipientRefusal;
}

namespace pw::bounces {

struct MailboxSummary {
    int messages = 0;
    int suppressed = 0;
    int counted = 0;
    int noFailure = 0;
    int unproven = 0;
    int unrecognised = 0;
    int moved = 0;  // reports moved into the reports folder
};

enum class MailboxRunOutcome {
    Done,
    NoMailbox,          // no server is set
    NoConnection,       // the server cannot be reached (what was read before stays done)
    Refused,            // the sign-in or the folder was refused
    BookUnreadable,     // nothing was read
    BookUnwritable,     // acted on, but the position is lost: the next read reads them again
    SuppressionFailed,  // the list could not be written; the position stays for a retry
};

struct MailboxRunResult {
    MailboxRunOutcome outcome = MailboxRunOutcome::Done;
    MailboxSummary summary;
    QString message;  // for the user; when Done, only why the reports could not be moved
};

// folder: the user data folder (suppression list, tracking key, bounce book), ending in '/'.
// With account.reportFolder set, the IMAP reports whose every recipient was acted on are
// moved there once the decisions are recorded; the others stay as they were.
[[nodiscard]] MailboxRunResult readMailbox(const MailboxAccount& account, const QString& folder,
                                           SoftBounceRule rule,
                                           const MailboxProgress& progress = {});

// The refusals a run met while sending, acted on as the reports of their recipients would be
// (a "550 5.1.1" at RCPT suppresses as a bounce does). Outcome Done, BookUnreadable,
// BookUnwritable or SuppressionFailed.
[[nodiscard]] MailboxRunResult countRefusals(const std::vector<send::RecipientRefusal>& refusals,
                                             const QString& runId, const QString& folder,
                                             SoftBounceRule rule);

// The summary line of a read.
[[nodiscard]] QString summaryText(const MailboxSummary& s);

}  // namespace pw::bounces
