#pragma once
// The bounce mailbox of the account: IMAP or POP3 through libcurl. Only messages that are new
// since the last read are fetched (IMAP: UIDVALIDITY and UID; POP3: UIDL), read-only: no
// message is deleted, flagged or moved, except recognised IMAP reports that the user has
// chosen to have moved into a folder of their own (moveToFolder).

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "compose/ServerConfig.h"
#include "send/SendRules.h"

namespace pw::bounces {

enum class MailboxProtocol { Imap, Pop3 };
enum class MailboxSecurity { Plain, StartTls, Tls };

struct MailboxAccount {
    MailboxProtocol protocol = MailboxProtocol::Pop3;
    MailboxSecurity security = MailboxSecurity::StartTls;
    QString host;
    int port = 0;  // 0: the protocol's own
    QString user;
    QString password;
    QString bearerToken;  // OAuth 2.0 sign-in instead of the password when set
    // The account's OAuth 2.0 sign-in: its access token becomes bearerToken for each read.
    std::shared_ptr<send::IAccessTokens> tokens;
    QString folder = QStringLiteral("INBOX");
    // IMAP: where recognised reports go once acted on ("Postwick/Reports"; '/' separates
    // levels); empty: they stay where they are.
    QString reportFolder;
    bool acceptUnverifiedCertificate = false;
};

// The account of the server settings: the POP3 server field holds a host name (POP3,
// STARTTLS when the server offers it) or a URL "pop3://", "pop3s://", "imap://" or
// "imaps://" with an optional port and, for IMAP, folder.
[[nodiscard]] MailboxAccount mailboxAccount(const ServerConfig& server);
// The same, signing in with the account's OAuth 2.0 sign-in where it has one.
[[nodiscard]] MailboxAccount mailboxAccount(const send::ServerRecord& server);

// Where the last read ended.
struct MailboxPosition {
    QString uidValidity;    // IMAP
    qint64 lastUid = 0;     // IMAP: the highest UID read
    QStringList seenUidls;  // POP3
};

struct FetchedMail {
    QString uid;  // IMAP UID or POP3 UIDL
    QByteArray message;
};

enum class MailboxOutcome { Read, NoConnection, Refused };

struct MailboxRead {
    MailboxOutcome outcome = MailboxOutcome::Read;
    QString error;  // the transfer's own words
    std::vector<FetchedMail> mails;
    MailboxPosition position;  // where this read ended
};

// Progress: messages done, messages to read.
using MailboxProgress = std::function<void(int, int)>;

[[nodiscard]] MailboxRead readNewMail(const MailboxAccount& account, const MailboxPosition& from,
                                      const MailboxProgress& progress = {});

enum class MoveOutcome {
    Moved,
    NotOffered,  // the server has neither MOVE nor UIDPLUS: nothing could move without risk
    Failed,      // nothing or not everything moved (error says why)
};
struct MailboxMove {
    MoveOutcome outcome = MoveOutcome::Moved;
    QString error;
};

// Moves these messages (IMAP UIDs of account.folder, valid under uidValidity) into
// account.reportFolder, creating it when missing: UID MOVE where the server offers it, else
// UID COPY, \Deleted and UID EXPUNGE of exactly these UIDs. Nothing moves when the folder's
// UIDVALIDITY changed since they were read.
[[nodiscard]] MailboxMove moveToFolder(const MailboxAccount& account, const QString& uidValidity,
                                       const QStringList& uids);

// A mailbox name as IMAP writes it (RFC 3501 5.1.3 modified UTF-7).
[[nodiscard]] QByteArray imapMailboxName(const QString& name);

}  // namespace pw::bounces
