#pragma once
// Where a send run hands its messages: an SMTP session on a server, or, for a dry run, a
// folder that receives every message as a numbered ".eml" file. Failures come back as
// results (the session's exceptions are caught here), so the run decides on codes and texts.

#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "send/SendLimits.h"
#include "send/SendRules.h"

namespace pw::smtp {
class CKTWSMTPMessage;
class CKTWSMTPConnection;
}  // namespace pw::smtp

namespace pw::send {

using smtp::CKTWSMTPConnection;
using smtp::CKTWSMTPMessage;

// What kind of failure a result reports; the run decides on retries by it.
enum class FailureKind {
    None,
    Refused,            // the server refused for good (a 5xx reply): trying again cannot help
    RefusedForNow,      // the server refused for now (a 4xx reply): worth a later try
    Connection,         // the connection failed, or no reply came before all data was out
    Local,              // the message cannot go as it is (a file of it cannot be read)
    PossiblyDelivered,  // all data went out and no reply came: the server may have the mail
    AccountLimit,       // the account is over a sending limit: no recipient's fault (`limit`)
};

struct TransportResult {
    bool ok = true;
    FailureKind kind = FailureKind::None;
    quint32 errorCode = 0;  // the session's error value (facility and code)
    QString description;
    QString lastResponse;
    int lastResponseCode = 0;
    SmtpStage stage = SmtpStage::Other;  // the command the refusal answered
    LimitReply limit = LimitReply::None;
    // The server's certificate could not be verified (nor was it trusted): `certificate`
    // is the one it presented.
    bool certificateRefused = false;
    smtp::PeerCertificate certificate;

    [[nodiscard]] static TransportResult success() { return {}; }
};

// A connection refused because the server's certificate could not be verified (nor was it
// trusted): what the user needs to judge the certificate, and where it was presented.
struct CertificateRefusal {
    smtp::PeerCertificate certificate;
    QString reason;  // the client's description of the refusal
    QString host;
    int port = 0;
};

class ISendTransport {
public:
    virtual ~ISendTransport() = default;
    [[nodiscard]] virtual TransportResult connect(const ConnectCall& call) = 0;
    [[nodiscard]] virtual TransportResult send(const CKTWSMTPMessage& message) = 0;
    // Whether sendBefore writes the next message's commands ahead on this connection (the
    // server pipelines). Only then is it worth having the next message ready early.
    [[nodiscard]] virtual bool sendsAhead() const { return false; }
    // Sends `message` with `next`'s commands written behind its end of data. The result is
    // `message`'s. The next call must be send or sendBefore of `next`, or abandonNext()
    // (disconnect does the same); `next` must live until then.
    [[nodiscard]] virtual TransportResult sendBefore(const CKTWSMTPMessage& message,
                                                     const CKTWSMTPMessage& next) {
        (void)next;
        return send(message);
    }
    // `next` of sendBefore will not follow now: nothing of it is delivered.
    virtual void abandonNext() {}
    // Called just before a message's end of data goes out (transports that deliver nothing
    // before it never call it).
    virtual void setBeforeDataEnd(std::function<void()> hook) { (void)hook; }
    // Called once a message's end of data is out, while its reply is awaited (transports
    // that await nothing never call it).
    virtual void setAwaitingReply(std::function<void()> hook) { (void)hook; }
    // Graceful: QUIT and its reply; otherwise the connection is dropped at once.
    [[nodiscard]] virtual TransportResult disconnect(bool graceful) = 0;
    [[nodiscard]] virtual bool isConnected() const = 0;
    // From the interface thread while the worker may be blocked in the session: drops the
    // connection so that a send in progress fails at once.
    virtual void abort() = 0;
    // Whether connections go over the network (a password signed in without TLS is exposed).
    [[nodiscard]] virtual bool overNetwork() const { return true; }
    // The log entries of a successful connect and of the end of the run's connection: what
    // this transport really did.
    [[nodiscard]] virtual QString connectedEntry(const ConnectCall& call) const;
    [[nodiscard]] virtual QString disconnectedEntry() const;
};

// A real SMTP session.
class CSmtpTransport : public ISendTransport {
public:
    explicit CSmtpTransport(bool acceptUnverifiedCertificate = false);
    // With the server's certificate choices: the blanket accept and the trusted certificates.
    explicit CSmtpTransport(const ServerRecord& server);
    ~CSmtpTransport() override;

    TransportResult connect(const ConnectCall& call) override;
    TransportResult send(const CKTWSMTPMessage& message) override;
    bool sendsAhead() const override;
    TransportResult sendBefore(const CKTWSMTPMessage& message,
                               const CKTWSMTPMessage& next) override;
    void abandonNext() override;
    void setBeforeDataEnd(std::function<void()> hook) override;
    void setAwaitingReply(std::function<void()> hook) override;
    TransportResult disconnect(bool graceful) override;
    bool isConnected() const override;
    void abort() override;

    // "MAIL FROM" with a placeholder sender, 250 required: whether the server would take
    // mail on this connection (the connection test's check of a session without login).
    [[nodiscard]] TransportResult verifySender();
    // Whether the last EHLO reply offered this extension ("STARTTLS").
    [[nodiscard]] bool offered(const QString& keyword) const;
    // How long one reply may take (the connection test waits less than a run).
    void setTimeout(int milliseconds);
    // The time the session's deadlines read (empty: the steady clock), so that a test shows
    // a long wait without waiting it.
    void setClock(std::function<std::chrono::steady_clock::time_point()> now);

private:
    [[nodiscard]] TransportResult sendOn(const CKTWSMTPMessage& message,
                                         const CKTWSMTPMessage* next);
    std::unique_ptr<CKTWSMTPConnection> m_session;
};

// The dry run's own log in its folder: never the name of the real send log.
inline constexpr char kDryRunLogName[] = "dry-run-log.txt";

// Writes every message, exactly as it would follow DATA (without the dot fix), as
// "<folder>/NNNNN.eml", numbered from 1 or after the highest number already there, each a
// new file (0600) that never replaces or writes through anything already there. Connecting
// always succeeds.
//
// A message is written whole in one write under a hidden name. Every kSyncEvery messages and
// at the disconnect the batch is made durable in one pass and only then takes its names, the
// folder synced once after them: a crash leaves each message complete under its name or not
// there at all. Hidden files a crashed run left are removed when the next run starts.
class CDryRunTransport : public ISendTransport {
public:
    explicit CDryRunTransport(QString folder);
    ~CDryRunTransport() override;
    static constexpr int kSyncEvery = 200;

    TransportResult connect(const ConnectCall& call) override;
    TransportResult send(const CKTWSMTPMessage& message) override;
    TransportResult disconnect(bool graceful) override;
    bool isConnected() const override { return m_connected.load(); }
    void abort() override { m_connected.store(false); }
    bool overNetwork() const override { return false; }
    // A dry run connects nowhere: it says where the messages go.
    QString connectedEntry(const ConnectCall& call) const override;
    QString disconnectedEntry() const override;

    [[nodiscard]] int written() const { return m_number - m_first; }
    // Where the last message can be read now: its hidden name until its batch is named.
    [[nodiscard]] QString lastFile() const { return m_lastFile; }

private:
    // The batch written since the last sync reaches the disk and takes its names; false when
    // either failed (told at the disconnect).
    [[nodiscard]] bool sync();

    QString m_folder;
    std::atomic<bool> m_connected{false};
    std::vector<int> m_unnamed;  // numbers of the messages written but not named yet
    int m_syncError = 0;         // errno of a sync or naming that failed, until told
    QString m_syncFailure;       // the file it failed on, if one
    int m_number = 0;            // the number of the last file
    int m_first = 0;             // the highest number there before this run
    QString m_lastFile;
};

}  // namespace pw::send
