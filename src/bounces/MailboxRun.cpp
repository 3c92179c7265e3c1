#include "bounces/MailboxRun.h"

#include "db/HistoryStore.h"
#include "db/SuppressionList.h"
#include "resources/Strings.h"
#include "send/MailSendThread.h"
#include "send/Tracking.h"

#include <QDir>
#include <QRegularExpression>

namespace pw::bounces {

namespace {

void count(MailboxSummary& summary, const Applied& applied) {
    for (const BounceDecision& d : applied.decisions) {
        switch (d.action) {
            case BounceAction::Suppressed:
                ++summary.suppressed;
                break;
            case BounceAction::Counted:
                ++summary.counted;
                break;
            case BounceAction::NoFailure:
                ++summary.noFailure;
                break;
            case BounceAction::Unproven:
                ++summary.unproven;
                break;
            case BounceAction::Unrecognised:
                ++summary.unrecognised;
                break;
            case BounceAction::Undone:  // only the user undoes
                break;
        }
    }
}

// The addresses a refusal is about: the mail's only recipient, or those of several that the
// reply names (the others may have been accepted).
QStringList refusedAddresses(const send::RecipientRefusal& refusal) {
    static const QRegularExpression address(QStringLiteral("[^\\s<>,;\"]+@[^\\s<>,;\"]+"));
    QStringList all;
    for (auto m = address.globalMatch(refusal.addresses); m.hasNext();)
        all.append(m.next().captured().toLower());
    if (all.size() <= 1)
        return all;
    QStringList named;
    for (const QString& a : all)
        if (refusal.reply.contains(a, Qt::CaseInsensitive))
            named.append(a);
    return named;
}

// What the decisions tell the campaign history: bounces and complaints of a proven run,
// unsubscribe requests that were acted on.
std::vector<db::HistoryNote> historyNotes(const std::vector<BounceDecision>& decisions) {
    std::vector<db::HistoryNote> notes;
    for (const BounceDecision& d : decisions) {
        if (d.recipient.isEmpty())
            continue;
        db::HistoryNote n{d.runId, d.recipient, db::HistoryEvent::Bounced,
                          d.status.isEmpty() ? d.reason : d.status + QLatin1Char(' ') + d.reason,
                          d.reportDate.toMSecsSinceEpoch()};
        if (d.runId.isEmpty()) {
            if (d.action != BounceAction::Suppressed || d.reason != QLatin1String("unsubscribe"))
                continue;
            n.event = db::HistoryEvent::Unsubscribed;
        } else if (d.action == BounceAction::Unproven || d.kind == BounceKind::AutoReply ||
                   d.kind == BounceKind::Delivered) {
            continue;
        } else if (d.kind == BounceKind::Complaint) {
            n.event = db::HistoryEvent::Complaint;
        }
        notes.push_back(std::move(n));
    }
    return notes;
}

}  // namespace

MailboxRunResult countRefusals(const std::vector<send::RecipientRefusal>& refusals,
                               const QString& runId, const QString& folder, SoftBounceRule rule) {
    MailboxRunResult result;
    const QString bookPath = QDir(folder).filePath(QString::fromLatin1(kBounceBookFileName));
    CBounceBook book(folder, rule);
    if (!book.load())
        return {
            MailboxRunOutcome::BookUnreadable, {}, str(ids::kBounceBookUnreadable).arg(bookPath)};
    const send::RunTracking run{send::trackingKey(folder), runId};
    db::CSuppressionList list(folder);
    const QDateTime now = QDateTime::currentDateTime();
    for (const send::RecipientRefusal& refusal : refusals) {
        for (const QString& a : refusedAddresses(refusal)) {
            BounceReport report = refusalReport(a, refusal.reply, send::trackingId(run, a), now);
            report.source = a + QStringLiteral(": ") + refusal.reply;
            const Applied applied = book.apply(report, run.key, list, now);
            if (applied.list == Applied::List::Failed) {
                result.outcome = MailboxRunOutcome::SuppressionFailed;
                result.message = str(ids::kBounceSuppressionFailed).arg(list.LastError());
                break;
            }
            count(result.summary, applied);
        }
    }
    if (book.save() == BookSaved::Failed && result.outcome == MailboxRunOutcome::Done)
        return {MailboxRunOutcome::BookUnwritable, result.summary,
                str(ids::kBounceBookUnwritable).arg(bookPath)};
    return result;
}

MailboxRunResult readMailbox(const MailboxAccount& account, const QString& folder,
                             SoftBounceRule rule, const MailboxProgress& progress) {
    MailboxRunResult result;
    const QString bookPath = QDir(folder).filePath(QString::fromLatin1(kBounceBookFileName));
    if (account.host.isEmpty())
        return {MailboxRunOutcome::NoMailbox, {}, str(ids::kBounceMailboxNone)};
    CBounceBook book(folder, rule);
    if (!book.load())
        return {
            MailboxRunOutcome::BookUnreadable, {}, str(ids::kBounceBookUnreadable).arg(bookPath)};
    const QByteArray key = send::trackingKey(folder);
    const MailboxRead read = readNewMail(account, book.position(), progress);
    db::CSuppressionList list(folder);
    MailboxPosition reached = book.position();
    const QDateTime now = QDateTime::currentDateTime();
    std::vector<BounceDecision> decided;
    for (const FetchedMail& mail : read.mails) {
        const Applied applied = book.apply(readReport(mail.message), key, list, now);
        decided.insert(decided.end(), applied.decisions.begin(), applied.decisions.end());
        if (applied.list == Applied::List::Failed) {
            result.outcome = MailboxRunOutcome::SuppressionFailed;
            result.message = str(ids::kBounceSuppressionFailed).arg(list.LastError());
            break;
        }
        ++result.summary.messages;
        count(result.summary, applied);
        // the position moves message by message, so a failure part-way repeats only the rest
        if (account.protocol == MailboxProtocol::Imap) {
            reached.uidValidity = read.position.uidValidity;
            reached.lastUid = mail.uid.toLongLong();
        } else {
            reached.seenUidls.append(mail.uid);
        }
    }
    if (result.outcome == MailboxRunOutcome::Done && read.outcome == MailboxOutcome::Read)
        reached = read.position;
    book.setPosition(reached);
    // The history is a record beside the decisions: one it cannot take does not undo them.
    db::CHistoryStore history(folder);
    (void)history.AddNotes(historyNotes(decided));
    if (book.save() == BookSaved::Failed && result.outcome == MailboxRunOutcome::Done)
        return {MailboxRunOutcome::BookUnwritable, result.summary,
                str(ids::kBounceBookUnwritable).arg(bookPath)};
    if (result.outcome == MailboxRunOutcome::Done && read.outcome != MailboxOutcome::Read) {
        result.outcome = read.outcome == MailboxOutcome::Refused ? MailboxRunOutcome::Refused
                                                                 : MailboxRunOutcome::NoConnection;
        result.message =
            str(read.outcome == MailboxOutcome::Refused ? ids::kBounceMailboxRefused
                                                        : ids::kBounceMailboxNoConnection)
                .arg(account.host, read.error);
    }
    return result;
}

QString summaryText(const MailboxSummary& s) {
    return str(ids::kBounceMailboxSummary)
        .arg(s.messages)
        .arg(s.suppressed)
        .arg(s.counted)
        .arg(s.noFailure)
        .arg(s.unproven)
        .arg(s.unrecognised);
}

}  // namespace pw::bounces
