#include "bounces/MailboxRun.h"

#include "db/HistoryStore.h"
#include "db/SuppressionList.h"
#include "resources/Strings.h"
#include "send/MailSendThread.h"
#include "send/Tracking.h"

#include <QDir>
#include <QRegularExpression>
#include <algorithm>

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

// A report all of whose recipients were decided on: one with a forged or unproven part, and
// mail that is no report, stay where the user can see them.
bool actedOn(const BounceReport& report, const Applied& applied) {
    return report.type != ReportType::NotAReport && !applied.decisions.empty() &&
           std::all_of(
               applied.decisions.begin(), applied.decisions.end(), [](const BounceDecision& d) {
                   return d.action == BounceAction::Suppressed ||
                          d.action == BounceAction::Counted || d.action == BounceAction::NoFailure;
               });
}

// Reads with the sign-in's access token when the account has one; a token the server refuses
// before anything was read (expired early, revoked) is worth one fresh one, never a loop.
MailboxRead readSignedIn(MailboxAccount& account, const MailboxPosition& from,
                         const MailboxProgress& progress) {
    MailboxRead read;
    for (const send::TokenNeed need : {send::TokenNeed::Valid, send::TokenNeed::Fresh}) {
        if (account.tokens) {
            const send::AccessToken t = account.tokens->accessToken(need);
            if (!t.ok)
                return {MailboxOutcome::Refused, t.error, {}, from};
            account.bearerToken = t.token;
        }
        read = readNewMail(account, from, progress);
        if (!account.tokens || read.outcome != MailboxOutcome::Refused || !read.mails.empty())
            break;
    }
    return read;
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

MailboxRunResult readMailbox(const MailboxAccount& configured, const QString& folder,
                             SoftBounceRule rule, const MailboxProgress& progress) {
    MailboxAccount account = configured;
    MailboxRunResult result;
    const QString bookPath = QDir(folder).filePath(QString::fromLatin1(kBounceBookFileName));
    if (account.host.isEmpty())
        return {MailboxRunOutcome::NoMailbox, {}, str(ids::kBounceMailboxNone)};
    CBounceBook book(folder, rule);
    if (!book.load())
        return {
            MailboxRunOutcome::BookUnreadable, {}, str(ids::kBounceBookUnreadable).arg(bookPath)};
    const QByteArray key = send::trackingKey(folder);
    const MailboxRead read = readSignedIn(account, book.position(), progress);
    const bool moving =
        account.protocol == MailboxProtocol::Imap && !account.reportFolder.trimmed().isEmpty();
    QStringList toMove;
    db::CSuppressionList list(folder);
    MailboxPosition reached = book.position();
    const QDateTime now = QDateTime::currentDateTime();
    std::vector<BounceDecision> decided;
    for (const FetchedMail& mail : read.mails) {
        const BounceReport report = readReport(mail.message);
        const Applied applied = book.apply(report, key, list, now);
        decided.insert(decided.end(), applied.decisions.begin(), applied.decisions.end());
        if (applied.list == Applied::List::Failed) {
            result.outcome = MailboxRunOutcome::SuppressionFailed;
            result.message = str(ids::kBounceSuppressionFailed).arg(list.LastError());
            break;
        }
        ++result.summary.messages;
        count(result.summary, applied);
        if (moving && actedOn(report, applied))
            toMove.append(mail.uid);
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
    // moved only once the decisions are kept: a report is never out of sight and undecided
    if (!toMove.isEmpty()) {
        const MailboxMove moved = moveToFolder(account, read.position.uidValidity, toMove);
        if (moved.outcome == MoveOutcome::Moved)
            result.summary.moved = int(toMove.size());
        else
            result.message =
                str(ids::kBounceMoveFailed)
                    .arg(account.reportFolder.trimmed(), moved.outcome == MoveOutcome::NotOffered
                                                             ? str(ids::kBounceMoveNotOffered)
                                                             : moved.error);
    }
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
    const QString text = str(ids::kBounceMailboxSummary)
                             .arg(s.messages)
                             .arg(s.suppressed)
                             .arg(s.counted)
                             .arg(s.noFailure)
                             .arg(s.unproven)
                             .arg(s.unrecognised);
    return s.moved > 0 ? text + str(ids::kBounceMoved).arg(s.moved) : text;
}

}  // namespace pw::bounces
