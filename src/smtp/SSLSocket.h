#pragma once
// TLS over a connected CWSocket, on OpenSSL. The socket is non-blocking underneath, so every
// wait goes through CWSocket (and therefore honours its abort signal, and the caller's timeout
// by the socket's clock).
// Failures are returned, not raised: the session raises its own codes with ErrorQueueText().

#include "smtp/WSocket.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <memory>

using SSL = struct ssl_st;
using SSL_CTX = struct ssl_ctx_st;

namespace pw::smtp {

// Whether the server's certificate and host name must check out against the system's trust
// store (SSL_CERT_FILE / SSL_CERT_DIR are honoured, as by OpenSSL itself).
enum class CertificateCheck { Verify, AcceptUnverified };

// What the server showed of itself in the last handshake: its own certificate, whether or not
// it was accepted, so that the user can judge it and trust exactly this one.
struct PeerCertificate {
    QString subject;
    QString issuer;
    QDateTime notBefore;  // UTC
    QDateTime notAfter;   // UTC
    QByteArray sha256;    // of the DER form, 32 bytes
    [[nodiscard]] bool isNull() const { return sha256.isEmpty(); }
    // "AB:CD:..." as certificate viewers show it.
    [[nodiscard]] QString fingerprintText() const;
};

// A server certificate the user trusts although it cannot be verified: exactly this one
// (SHA-256 of its DER form) for this host and port.
struct TrustedCertificate {
    QString host;  // compared without regard to case
    int port = 0;
    QByteArray sha256;
    friend bool operator==(const TrustedCertificate&, const TrustedCertificate&) = default;
};

// One OpenSSL context per connection; replacing it frees the previous one.
class CTlsContext {
public:
    CTlsContext() = default;
    // Creates a client context for any TLS version the library accepts (TLS 1.2 at least).
    [[nodiscard]] bool Create(CertificateCheck check);
    void Reset() noexcept { m_context.reset(); }
    [[nodiscard]] SSL_CTX* Get() const noexcept { return m_context.get(); }

private:
    struct Free {
        void operator()(SSL_CTX* c) const noexcept;
    };
    std::unique_ptr<SSL_CTX, Free> m_context;
};

class CSSLSocket {
public:
    CSSLSocket() = default;
    ~CSSLSocket();
    CSSLSocket(const CSSLSocket&) = delete;
    CSSLSocket& operator=(const CSSLSocket&) = delete;

    // Makes a TLS connection from the context and attaches it to the socket. On failure the
    // TLS connection is freed and the socket closed.
    [[nodiscard]] bool Create(SSL_CTX* context, CWSocket& socket);

    // The client handshake, at most timeoutMs long. hostName goes out as SNI and, with
    // CertificateCheck::Verify, must match the certificate. On failure VerifyFailure() tells
    // whether the certificate was the reason.
    [[nodiscard]] bool Handshake(const QString& hostName, CertificateCheck check, int timeoutMs);
    [[nodiscard]] bool VerifyFailed() const noexcept { return m_verifyFailed; }
    // The reason the certificate was refused ("self-signed certificate", ...), when it was.
    [[nodiscard]] QString VerifyFailure() const;

    // A certificate the user chose to trust for this host and port (its SHA-256): a server
    // that presents exactly it is accepted although it cannot be verified. Empty: none.
    void SetPinnedFingerprint(const QByteArray& sha256) { m_pinned = sha256; }
    // The server's certificate of the last handshake (null when none was received).
    [[nodiscard]] const PeerCertificate& Peer() const noexcept { return m_peer; }

    // Sends everything within timeoutMs; false on failure (see ErrorQueueText()).
    [[nodiscard]] bool SendAll(const char* data, size_t length, int timeoutMs);

    // Count received; 0 when the peer closed; CWSocket::kWouldBlock when the TLS layer merely
    // wants more network data; kFailed on a TLS failure.
    static constexpr long kFailed = -2;
    [[nodiscard]] long Receive(char* buffer, size_t length);

    // True at once when decrypted bytes are waiting; otherwise the socket's test.
    [[nodiscard]] bool IsReadable(int timeoutMs);

    // Graceful: asks the peer to shut down (up to three times). Frees the TLS connection and
    // closes the underlying socket.
    void Close(bool graceful) noexcept;
    [[nodiscard]] bool IsOpen() const noexcept { return m_ssl != nullptr; }

    // The TLS library's pending errors, one per line, each followed by CR LF; clears them.
    [[nodiscard]] static QString ErrorQueueText();
    // Also names a failed system call, a timeout or an abort of the last operation.
    [[nodiscard]] QString LastFailureText() const;

private:
    // Waits as the TLS layer asked; false on timeout.
    [[nodiscard]] bool WaitAsAsked(int sslError, int timeoutMs);

    SSL* m_ssl = nullptr;
    CWSocket* m_socket = nullptr;
    bool m_verifyFailed = false;
    long m_verifyResult = 0;
    QString m_failure;
    QByteArray m_pinned;
    PeerCertificate m_peer;
};

}  // namespace pw::smtp
