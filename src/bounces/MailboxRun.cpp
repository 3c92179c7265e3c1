#include "bounces/MailboxRun.h"

#include "db/SuppressionList.h"
#include "resources/Strings.h"
#include "send/Tracking.h"

#include <QDir>

namespace pw::bounces {

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
    for (const FetchedMail& mail : read.mails) {
        const Applied applied = book.apply(readReport(mail.message), key, list, now);
        if (applied.list == Applied::List::Failed) {
            result.outcome = MailboxRunOutcome::SuppressionFailed;
            result.message = str(ids::kBounceSuppressionFailed).arg(list.LastError());
            break;
        }
        ++result.summary.messages;
        for (const BounceDecision& d : applied.decisions) {
            switch (d.action) {
                case BounceAction::Suppressed:
                    ++result.summary.suppressed;
                    break;
                case BounceAction::Counted:
                    ++result.summary.counted;
                    break;
                case BounceAction::NoFailure:
                    ++result.summary.noFailure;
                    break;
                case BounceAction::Unproven:
                    ++result.summary.unproven;
                    break;
                case BounceAction::Unrecognised:
                    ++result.summary.unrecognised;
                    break;
                case BounceAction::Undone:  // only the user undoes
                    break;
            }
        }
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
