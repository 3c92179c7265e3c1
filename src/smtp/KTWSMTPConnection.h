#pragma once
// One client session with an SMTP server: connect (plain, implicit TLS or STARTTLS), greet,
// authenticate, transmit messages, QUIT. Every failure is a CKTWSMTPException carrying the
// error value and the server's last response.
//
// Threads: one thread uses a session at a time. The one exception is
// Disconnect(DisconnectMode::NotGraceful) (or Abort()), which another thread may call to cancel:
// it wakes a blocked connect, read or write at once, that operation fails with ECANCELED
// (facility 7), and the connection is closed.
//
// Wire log: when POSTWICK_SMTP_WIRE_LOG names a file (or "-" for standard error), the
// conversation is appended to it in "C: " / "S: " lines; credentials show as a placeholder and
// message data as its size.

#include "smtp/ConnectionType.h"
#include "smtp/KTWSMTPException.h"
#include "smtp/MimeEncoding.h"
#include "smtp/SSLSocket.h"
#include "smtp/SmtpAuth.h"
#include "smtp/WSocket.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace pw::smtp {

class CKTWSMTPMessage;
class CWireLog;

enum class DisconnectMode { NotGraceful, Graceful };

class CKTWSMTPConnection {
public:
    static constexpr int kDefaultTimeoutMs = 60000;
    // The reply to the end of the data may take this long (RFC 5321 4.5.3.2.6): the server is
    // delivering, and giving up early makes the mail look lost when it was taken.
    static constexpr int kDefaultFinalReplyTimeoutMs = 10 * 60 * 1000;
    // A reply longer than this is refused rather than buffered without end.
    static constexpr qsizetype kMaxResponseBytes = 256 * 1024;
    // MAIL FROM of the sender check: not a working address.
    static constexpr const char* kVerifySender = "postmaster@example.com";

    // "auto": HELO and EHLO name the host by its fully qualified name, or, when it has none,
    // by the address literal of the connection's local end ("[192.0.2.1]"), since receivers
    // refuse a bare host name.
    explicit CKTWSMTPConnection(const QString& heloHostName = QStringLiteral("auto"));
    // Still connected: disconnects gracefully, ignoring any error.
    ~CKTWSMTPConnection();
    CKTWSMTPConnection(const CKTWSMTPConnection&) = delete;
    CKTWSMTPConnection& operator=(const CKTWSMTPConnection&) = delete;

    void Connect(const QString& host, AuthMethod method, const QString& userName,
                 const QString& password, int port, ConnectionType type);
    // The OAuth 2.0 access token of the bearer methods (XOAuth2, OAuthBearer, OAuth2); with
    // one set, the automatic choice takes a bearer mechanism the server offers. It goes on
    // the wire only base64-encoded inside AUTH, never into the wire log.
    void SetBearerToken(const QString& token) { m_bearerToken = token; }
    void Disconnect(DisconnectMode mode);
    // Cancels from another thread: the same as Disconnect(DisconnectMode::NotGraceful).
    void Abort() noexcept;
    [[nodiscard]] bool IsConnected() const noexcept { return m_connected.load(); }

    void SendMessage(const CKTWSMTPMessage& message);
    // The same, and when PIPELINING is offered, the MAIL FROM, RCPT TOs and DATA of `next`
    // go in the same write as this message's end of data, so that a run of messages costs
    // one round trip each. This call still ends with the reply to this message's end of
    // data; the replies to `next`'s commands are read by SendMessage(next, ...), which must
    // be the next call, or by AbandonNext(). `next` must live until then. A `next` that
    // cannot be rendered (a file unreadable, over the SIZE limit) is simply not sent ahead.
    void SendMessage(const CKTWSMTPMessage& message, const CKTWSMTPMessage* next);
    // Called on the sending thread just before a message's data (with its end) is written:
    // from then on the server may take the mail, so a caller that must outlive a crash of
    // the process notes it as in flight there.
    void SetBeforeDataEnd(std::function<void()> hook) { m_beforeDataEnd = std::move(hook); }
    // Called on the sending thread once a message's end of data is written, before its reply
    // is awaited: work that need not hold the mail up is done in the round trip.
    void SetAwaitingReply(std::function<void()> hook) { m_awaitingReply = std::move(hook); }
    // The message sent ahead will not follow now: its replies are read, its transaction
    // reset, or, when the server already waits for its data, the connection is dropped
    // (nothing of it is delivered then). Disconnect and any other message do the same.
    void AbandonNext();
    // Whether commands of a message sent ahead wait for their replies.
    [[nodiscard]] bool HasNextPending() const { return m_pending.has_value(); }
    // "MAIL FROM:<kVerifySender>", 250 required (the connection test).
    void VerifySender();

    // How long one reply (and one write, and the TLS handshake) may take.
    void SetTimeout(int milliseconds) { m_timeoutMs = milliseconds > 0 ? milliseconds : 1; }
    [[nodiscard]] int Timeout() const { return m_timeoutMs; }
    void SetFinalReplyTimeout(int milliseconds) {
        m_finalReplyTimeoutMs = milliseconds > 0 ? milliseconds : 1;
    }
    // The time every deadline of the session reads, its sockets' included (the steady clock
    // unless a test gives its own). The waits are sliced, so that a clock that runs faster is
    // noticed at once.
    using SteadyNow = smtp::SteadyNow;
    void SetClock(SteadyNow now) { m_socket.SetClock(std::move(now)); }
    // After SendMessage failed: whether the whole message, end of data included, had gone out
    // with no reply to it (the connection ended, the wait timed out or was cancelled). The
    // server may have taken the mail, so sending it again could deliver it twice.
    [[nodiscard]] bool PossiblyDelivered() const { return m_possiblyDelivered; }
    void SetHeloHostName(const QString& name);
    [[nodiscard]] const QString& HeloHostName() const { return m_heloHost; }
    // The name for HELO and EHLO: the canonical host name when it is fully qualified (a dot,
    // letters, digits and hyphens, not "localhost..."), else the address literal.
    [[nodiscard]] static QString ChooseHeloName(const QString& canonicalHostName,
                                                const QString& addressLiteral);
    // What the last EHLO offered for sending: 8BITMIME and SIZE (with its limit, 0 for none).
    [[nodiscard]] bool EightBitMimeOffered() const { return m_eightBitMime; }
    [[nodiscard]] bool SizeOffered() const { return m_sizeOffered; }
    // PIPELINING offered: MAIL FROM, RCPT TO and DATA of a message go as one group.
    [[nodiscard]] bool PipeliningOffered() const { return m_pipelining; }
    [[nodiscard]] qint64 SizeLimit() const { return m_sizeLimit; }
    // Verify by default; AcceptUnverified is the stored choice for self-signed servers.
    void SetCertificateCheck(CertificateCheck check) { m_certificateCheck = check; }
    [[nodiscard]] CertificateCheck GetCertificateCheck() const { return m_certificateCheck; }
    // Certificates accepted for their host and port although they cannot be verified.
    void SetTrustedCertificates(QList<TrustedCertificate> trusted) {
        m_trusted = std::move(trusted);
    }
    // The certificate the server presented in the last Connect (null without TLS), also
    // when it was refused.
    [[nodiscard]] const PeerCertificate& LastPeerCertificate() const { return m_lastPeer; }
    // The last EHLO reply of the last Connect (empty when the server knew only HELO).
    [[nodiscard]] const QString& LastEhloReply() const { return m_lastEhlo; }

    [[nodiscard]] const QString& LastResponse() const { return m_lastResponse; }
    [[nodiscard]] int LastResponseCode() const { return m_lastResponseCode; }
    // The method Connect authenticated with (the automatic choice resolved).
    [[nodiscard]] AuthMethod UsedAuthMethod() const { return m_usedMethod; }

private:
    // --- transport
    void OpenTransport(const QString& host, int port);
    void StartTls(const QString& host);
    void CloseTransport(bool graceful) noexcept;
    void Transmit(const QByteArray& bytes);
    // Transmit, and when it fails, whether the first `boundary` bytes had all gone out.
    void TransmitPast(const QByteArray& bytes, qsizetype boundary, bool& passed);
    // Sends a command line (without CR LF in `line`); `logText` replaces it in the wire log.
    void SendLine(const QByteArray& line, const char* logText = nullptr);
    [[nodiscard]] bool WaitReadable(int timeoutMs);
    [[nodiscard]] long ReceiveSome(char* buffer, size_t length);

    // --- replies
    // Reads one complete reply; false on timeout or an oversized reply (the last response
    // then holds what arrived). Raises 271 when the server closes the connection.
    [[nodiscard]] bool ReadResponse(int timeoutMs = -1);
    [[nodiscard]] bool TakeResponseFromBuffer();
    void SetLastResponse(const QByteArray& bytes, int code);
    // Reads a reply and raises `errorId` unless its code is one of the expected ones.
    void ReadCommandResponse(int expected, int errorId, int alsoExpected = -1);
    void Command(const QByteArray& line, int expected, int errorId, int alsoExpected = -1);
    // One command of a transaction and the replies it takes.
    struct Step {
        QByteArray line;
        int expected;
        int alsoExpected;
        int errorId;
    };
    // A message rendered for this session: its DATA text (end of data included), the
    // header it starts with, and its commands (MAIL FROM, RCPT TOs, DATA).
    struct Prepared {
        QByteArray header;
        QByteArray data;
        std::vector<Step> steps;
    };
    // The commands of a message written ahead, waiting for their replies.
    struct Pending {
        const CKTWSMTPMessage* message = nullptr;
        Prepared prepared;
    };
    [[nodiscard]] BodyTransport Transport() const;
    // Raises kMessageTooLarge over the SIZE limit and the file errors of the body.
    [[nodiscard]] Prepared Prepare(const CKTWSMTPMessage& message);
    [[nodiscard]] static QByteArray GroupBytes(const std::vector<Step>& steps);
    void LogGroup(const std::vector<Step>& steps);
    // Reads the replies of a written group in order, each with the check it gets one at a
    // time; all are read before a refusal is raised, so the dialogue stays in step.
    void ReadGroupReplies(const std::vector<Step>& steps);
    // AbandonNext without the lock.
    void SettlePending() noexcept;
    // "RSET" after a refusal inside a transaction; a failure ends the session.
    void ResetTransaction();
    [[noreturn]] void Raise(int errorId);

    // --- session steps
    void Helo();
    [[nodiscard]] QString Ehlo();
    // A session without login: EHLO, and HELO when the server does not know EHLO.
    void EhloOrHelo();
    // The extensions of the EHLO reply just read.
    void TakeEhloOffer();
    // The automatic HELO name for the connection just opened.
    [[nodiscard]] QString AutomaticHeloName() const;
    void Authenticate(AuthMethod method, const QString& user, const QString& password);
    void AuthLogin(const QString& user, const QString& password);
    void AuthPlain(const QString& user, const QString& password);
    void AuthCramMd5(const QString& user, const QString& password);
    void AuthNtlm(const QString& user, const QString& password);
    // XOAUTH2 or OAUTHBEARER with the bearer token, its initial response on the command line.
    void AuthBearer(AuthMethod method, const QString& user);
    // The automatic choice resolved against the EHLO reply.
    [[nodiscard]] AuthMethod ResolveMethod(AuthMethod method, const QString& ehlo) const;
    void SendCredential(QByteArray& encoded);
    void DisconnectLocked(DisconnectMode mode);
    // Ends the session when a failed transaction left it out of step (or was cancelled).
    void AfterTransactionFailure(const CKTWSMTPException& e);

    std::mutex m_io;  // held by the owning thread for each operation
    CAbortSignal m_abort;
    CWSocket m_socket;
    CSSLSocket m_ssl;
    CTlsContext m_tlsContext;
    std::unique_ptr<CWireLog> m_wire;

    std::atomic<bool> m_connected{false};
    ConnectionType m_type = ConnectionType::None;
    QString m_heloHost;
    bool m_heloAuto = false;
    bool m_eightBitMime = false;
    bool m_pipelining = false;
    bool m_sizeOffered = false;
    qint64 m_sizeLimit = 0;
    QString m_host;
    QString m_bearerToken;
    int m_timeoutMs = kDefaultTimeoutMs;
    int m_finalReplyTimeoutMs = kDefaultFinalReplyTimeoutMs;
    std::function<void()> m_beforeDataEnd;
    std::function<void()> m_awaitingReply;
    bool m_possiblyDelivered = false;
    CertificateCheck m_certificateCheck = CertificateCheck::Verify;
    AuthMethod m_usedMethod = AuthMethod::None;
    int m_port = 0;
    QList<TrustedCertificate> m_trusted;
    PeerCertificate m_lastPeer;
    QString m_lastEhlo;

    QString m_lastResponse;
    QByteArray m_lastResponseBytes;
    int m_lastResponseCode = 0;
    QByteArray m_input;  // received bytes not yet part of a reply
    std::optional<Pending> m_pending;
    bool m_replyIncomplete = false;  // the last read ended without a complete reply
};

}  // namespace pw::smtp
