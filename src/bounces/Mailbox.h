#pragma once
// The bounce mailbox of the account: IMAP or POP3 through libcurl. Only messages that are new
// since the last read are fetched (IMAP: UIDVALIDITY and UID; POP3: UIDL), read-only: no
// message is deleted, flagged or moved.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

#include "compose/ServerConfig.h"

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
    QString folder = QStringLiteral("INBOX");
    bool acceptUnverifiedCertificate = false;
};

// The account of the server settings: the POP3 server field holds a host name (POP3,
// STARTTLS when the server offers it) or a URL "pop3://", "pop3s://", "imap://" or
// "imaps://" with an optional port and, for IMAP, folder.
[[nodiscard]] MailboxAccount mailboxAccount(const ServerConfig& server);

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

}  // namespace pw::bounces
