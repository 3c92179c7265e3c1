#pragma once
// What a mail in the bounce mailbox says about the recipients of a run: delivery status
// notifications and the many texts that stand in for them, auto-replies and complaint
// reports. The mail is parsed by GMime; the reading itself is ours.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <vector>

namespace pw::bounces {

// What a sender should do about a recipient.
enum class BounceKind {
    Hard,       // the address cannot receive: stop mailing it
    Soft,       // full, blocked, expired, rate-limited: count it
    Complaint,  // the recipient called the mail spam: stop mailing it
    AutoReply,  // a vacation or other automatic answer: not a failure
    Delivered,  // a success notice: not a failure
};
// "hard", "soft", "complaint", "auto-reply", "delivered".
[[nodiscard]] QString kindName(BounceKind kind);

struct RecipientOutcome {
    QString recipient;  // the address, lower case; empty when none could be found
    QString status;     // enhanced status code "5.1.1"; empty for complaints and auto-replies
    QString replyCode;  // the SMTP reply code "550" where the report has one
    QString reason;     // short reason: "userunknown", "mailboxfull", "vacation", ...
    BounceKind kind = BounceKind::Soft;
    QString diagnostic;  // the server's own words, on one line
    QString runId;       // the run that mailed it, when the report returns a valid identifier
};

enum class ReportType { NotAReport, Bounce, Complaint, AutoReply };

struct BounceReport {
    ReportType type = ReportType::NotAReport;
    std::vector<RecipientOutcome> recipients;  // in the order the report lists them
    QDateTime date;                            // the report's Date header
    QString subject;
    QString from;             // the address that wrote the mail
    QStringList trackingIds;  // our identifiers of the returned message, as found
    QString returnedTo;       // the returned message's first recipient
    QString source;           // the message itself, as read from the mailbox, for showing
};

// One message.
[[nodiscard]] BounceReport readReport(const QByteArray& message);
// A file holding one message or an mbox of several.
[[nodiscard]] std::vector<BounceReport> readMailFile(const QByteArray& data);

// Checks the report's identifiers with the user's key: a recipient whose identifier is valid
// gets its run; a report that named no recipient takes the returned message's, when its
// identifier is valid for it. Recipients without a valid identifier stay unproven.
void traceRecipients(BounceReport& report, const QByteArray& key);

// A refusal the server gave while the run was sending ("550 5.1.1 <a@b>: User unknown" at
// RCPT) as a report of that one recipient, carrying the run's identifier for it, so that it
// counts as a bounce read from the mailbox would.
[[nodiscard]] BounceReport refusalReport(const QString& address, const QString& serverReply,
                                         const QString& trackingId, const QDateTime& when);

// The parts of the classification that need no mail, for the rejections seen while sending:
// the reason a server's reply gives, and the kind that follows from it.
[[nodiscard]] QString reasonOf(const QString& status, const QString& replyCode,
                               const QString& text);
[[nodiscard]] BounceKind kindOf(const QString& reason, const QString& status);

}  // namespace pw::bounces
