#pragma once
// The decisions of a send run that need no server: which port to try next, which connect
// call the server record asks for, whether a recipient address may go out, the error policy,
// the pause end, the log entries of a failed transmission and the prompt texts.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "compose/ServerConfig.h"
#include "smtp/SSLSocket.h"
#include "smtp/SmtpAuth.h"

namespace pw::send {

// Written to SENDED for every recipient of a merge send: 2 only for a mail that cannot go
// (refused for good, an unusable address or message), 0 for one that may go in a later run.
enum class Outcome : int { NotYetSent = 0, Sent = 1, NotSent = 2 };

// How a run stands, and how it ended: Completed without errors, Failed (errors, or no
// connection), Cancelled by the user.
enum class RunStatus : int {
    NotStarted = 0,
    Running = 1,
    Failed = 2,
    Cancelled = 3,
    Completed = 4
};

// What a run does when a mail finally fails: go on with the next, ask the user, or end the
// run. The numbers are those "SendContinue" stores.
enum class ErrorPolicy : int { Continue = 1, Ask = 3, Terminate = 4 };

// Where a run gets the access token of a sign-in: the server settings keep the sign-in and
// renew its token. Called from the worker's thread and the connection test's.
enum class TokenNeed {
    Valid,  // one that is still valid for a while (renewed when it is about to expire)
    Fresh,  // a new one: the server refused the one held
};
struct AccessToken {
    bool ok = false;
    QString token;
    QString error;              // why there is none, for the log and the user
    bool signInNeeded = false;  // the sign-in itself expired or was revoked
};
class IAccessTokens {
public:
    virtual ~IAccessTokens() = default;
    [[nodiscard]] virtual bool signedIn() const = 0;
    [[nodiscard]] virtual AccessToken accessToken(TokenNeed need) = 0;
};

// The server a run connects with, and what it needs besides the settings: the certificates
// the user trusts for their host and port although they cannot be verified, and the sign-in
// of the account when there is one (an OAuth 2.0 provider).
struct ServerRecord : ServerConfig {
    QList<smtp::TrustedCertificate> trustedCertificates;
    std::shared_ptr<IAccessTokens> tokens;
};

// The standard settings with the project's non-empty SMTP server, POP3 server, user ID and
// password in their place.
[[nodiscard]] ServerRecord effectiveServer(const ServerRecord& standard,
                                           const ServerConfig& project);

// The Connect call for one attempt.
struct ConnectCall {
    QString host;
    smtp::AuthMethod method = smtp::AuthMethod::None;
    QString userName;
    QString password;
    int port = 25;
    smtp::ConnectionType kind = smtp::ConnectionType::None;
    QString authText;     // "No Auth", "SMTP" or "OAuth2", for the log
    QString bearerToken;  // the access token of the bearer methods (never logged)
};

// Whether the call signs in with an access token: an OAuth 2.0 method, or the automatic
// choice of an account that is signed in.
[[nodiscard]] bool callUsesToken(const ServerRecord& server, const ConnectCall& call);

[[nodiscard]] ConnectCall connectCallFor(const ServerRecord& server, int port);

// "( host:port / auth )" appended to the connect entries.
[[nodiscard]] QString connectDetail(const ConnectCall& call);

// The ports the connect procedure falls back to. Each of 25, 26, 465 and 587 is tried at
// most once, so the procedure always ends.
class PortFallback {
public:
    void markTried(int port);
    [[nodiscard]] bool wasTried(int port) const;
    // The next port after a failed attempt, or none when the procedure gives up.
    [[nodiscard]] std::optional<int> next(smtp::ConnectionType kind, SmtpAuthType smtpAuthType);

private:
    bool m_tried25 = false;
    bool m_tried26 = false;
    bool m_tried465 = false;
    bool m_tried587 = false;
};

// Every port the connect procedure tries, in order, when every attempt fails.
[[nodiscard]] QList<int> fallbackSequence(const ServerRecord& server);

// A recipient field may go out when it is empty or every character is below U+0080 or a
// half-width form (U+FF61 ... U+FF9F).
[[nodiscard]] bool addressCheckPasses(const QString& recipientField);

// End of a pause of the given seconds from its start; the pause is over once the clock is
// strictly later than this.
[[nodiscard]] QDateTime pauseEnd(const QDateTime& start, qint64 seconds);
// "Standing by", the end date and time in the locale's short formats.
[[nodiscard]] QString standingByText(const QDateTime& end);

// The entries logged after a failed SendMessage: the problem line with the response code,
// the explanation of a known code followed by the description, or the description alone.
[[nodiscard]] QStringList transmissionFailureEntries(int responseCode, const QString& description);

// Seconds before try `attempt` (1, 2, ...) of a mail the server refused for now: the retry
// wait ("ConnectWait", minutes), else the batch pause ("SendWait", seconds), else 30 seconds,
// times the attempt.
[[nodiscard]] qint64 laterBackoffSeconds(int connectWaitMinutes, int sendWaitSeconds, int attempt);

// A failure's description as the end of a log entry: " - " and the text on one line, or
// nothing for an empty text.
[[nodiscard]] QString failureReason(const QString& description);

// Fills a message-table text: "%n!d!" and "%n" insert argument n (1-based), and "%"
// followed by a line break stands for that line break.
[[nodiscard]] QString formatMessageText(const QString& text, const QStringList& arguments);

// The box for a failure that escaped the run: "Error:%08X ... Description:%s[, Response:%s]".
[[nodiscard]] QString escapedFailureText(quint32 errorCode, const QString& description,
                                         const QString& response);

}  // namespace pw::send
