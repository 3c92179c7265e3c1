#include "smtp/SSLSocket.h"

#include <QDateTime>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

namespace pw::smtp {

namespace {

// A BIO over the socket handle that writes with MSG_NOSIGNAL: OpenSSL's own socket BIO uses
// write(), and a peer that resets the connection would then end the whole process by SIGPIPE.
int bioWrite(BIO* bio, const char* data, int length) {
    const int fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
    BIO_clear_retry_flags(bio);
    for (;;) {
        const ssize_t n = ::send(fd, data, static_cast<size_t>(length), MSG_NOSIGNAL);
        if (n >= 0) {
            return static_cast<int>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            BIO_set_retry_write(bio);
        }
        return -1;
    }
}

int bioRead(BIO* bio, char* buffer, int length) {
    const int fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
    BIO_clear_retry_flags(bio);
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, static_cast<size_t>(length), 0);
        if (n >= 0) {
            return static_cast<int>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            BIO_set_retry_read(bio);
        }
        return -1;
    }
}

long bioCtrl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int bioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

int bioDestroy(BIO*) {
    return 1;
}

BIO_METHOD* socketBioMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "postwick socket");
        if (m != nullptr) {
            BIO_meth_set_write(m, bioWrite);
            BIO_meth_set_read(m, bioRead);
            BIO_meth_set_ctrl(m, bioCtrl);
            BIO_meth_set_create(m, bioCreate);
            BIO_meth_set_destroy(m, bioDestroy);
        }
        return m;
    }();
    return method;
}

QString nameText(const X509_NAME* name) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio == nullptr) {
        return {};
    }
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    QString text = QString::fromUtf8(data, length > 0 ? static_cast<qsizetype>(length) : 0);
    BIO_free(bio);
    return text;
}

QDateTime timeOf(const ASN1_TIME* time) {
    struct tm t {};
    if (time == nullptr || ASN1_TIME_to_tm(time, &t) != 1) {
        return {};
    }
    return QDateTime(QDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday),
                     QTime(t.tm_hour, t.tm_min, t.tm_sec), Qt::UTC);
}

PeerCertificate describe(const X509* cert) {
    PeerCertificate peer;
    if (cert == nullptr) {
        return peer;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(cert, EVP_sha256(), digest, &length) != 1) {
        return peer;
    }
    peer.sha256 = QByteArray(reinterpret_cast<const char*>(digest), static_cast<int>(length));
    peer.subject = nameText(X509_get_subject_name(cert));
    peer.issuer = nameText(X509_get_issuer_name(cert));
    peer.notBefore = timeOf(X509_get0_notBefore(cert));
    peer.notAfter = timeOf(X509_get0_notAfter(cert));
    return peer;
}

}  // namespace

QString PeerCertificate::fingerprintText() const {
    return QString::fromLatin1(sha256.toHex(':').toUpper());
}

// ---------------------------------------------------------------------------------------------

void CTlsContext::Free::operator()(SSL_CTX* c) const noexcept {
    SSL_CTX_free(c);
}

bool CTlsContext::Create(CertificateCheck check) {
    m_context.reset();
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr) {
        return false;
    }
    m_context.reset(context);
    if (check == CertificateCheck::Verify) {
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        if (SSL_CTX_set_default_verify_paths(context) != 1) {
            m_context.reset();
            return false;
        }
    } else {
        SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------

CSSLSocket::~CSSLSocket() {
    Close(false);
}

bool CSSLSocket::Create(SSL_CTX* context, CWSocket& socket) {
    Close(false);
    m_verifyFailed = false;
    m_failure.clear();
    BIO_METHOD* method = socketBioMethod();
    SSL* ssl = context != nullptr && method != nullptr ? SSL_new(context) : nullptr;
    BIO* bio = ssl != nullptr ? BIO_new(method) : nullptr;
    if (bio == nullptr) {
        SSL_free(ssl);
        socket.Close();
        return false;
    }
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(socket.Handle())));
    SSL_set_bio(ssl, bio, bio);
    m_ssl = ssl;
    m_socket = &socket;
    return true;
}

bool CSSLSocket::WaitAsAsked(int sslError, int timeoutMs) {
    try {
        const bool ready = sslError == SSL_ERROR_WANT_WRITE ? m_socket->IsWritable(timeoutMs)
                                                            : m_socket->IsReadable(timeoutMs);
        if (!ready) {
            m_failure = CWSocketException::textFor(ETIMEDOUT);
        }
        return ready;
    } catch (const CWSocketException& e) {
        m_failure = e.text();
        return false;
    }
}

bool CSSLSocket::Handshake(const QString& hostName, CertificateCheck check, int timeoutMs) {
    if (m_ssl == nullptr) {
        return false;
    }
    m_failure.clear();
    const QByteArray host = hostName.toUtf8();
    unsigned char probe[16];
    const bool isAddress = inet_pton(AF_INET, host.constData(), probe) == 1 ||
                           inet_pton(AF_INET6, host.constData(), probe) == 1;
    if (!isAddress && !host.isEmpty()) {
        SSL_set_tlsext_host_name(m_ssl, host.constData());
    }
    if (check == CertificateCheck::Verify) {
        X509_VERIFY_PARAM* param = SSL_get0_param(m_ssl);
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        const int ok = isAddress ? X509_VERIFY_PARAM_set1_ip_asc(param, host.constData())
                                 : X509_VERIFY_PARAM_set1_host(param, host.constData(), 0);
        if (ok != 1) {
            return false;
        }
        // The library still checks the chain and the name during the handshake, but the
        // verdict is taken once it is done: so a refused server's certificate can be shown,
        // and a certificate the user trusts for this server accepted.
        SSL_set_verify(m_ssl, SSL_VERIFY_NONE, nullptr);
    }
    m_peer = PeerCertificate();
    const auto deadline = m_socket->Now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        ERR_clear_error();
        errno = 0;
        const int rc = SSL_connect(m_ssl);
        if (rc == 1) {
            m_peer = describe(SSL_get0_peer_certificate(m_ssl));
            if (check != CertificateCheck::Verify) {
                return true;
            }
            m_verifyResult = SSL_get_verify_result(m_ssl);
            if (m_peer.isNull()) {
                // no certificate at all proves nothing about the server
                m_verifyResult = X509_V_ERR_UNSPECIFIED;
            }
            if (m_verifyResult == X509_V_OK ||
                (!m_pinned.isEmpty() && !m_peer.isNull() && m_peer.sha256 == m_pinned)) {
                return true;
            }
            m_verifyFailed = true;
            return false;
        }
        const int error = SSL_get_error(m_ssl, rc);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            if (!WaitAsAsked(error, m_socket->RemainingMs(deadline))) {
                return false;
            }
            continue;
        }
        m_peer = describe(SSL_get0_peer_certificate(m_ssl));
        m_verifyResult = SSL_get_verify_result(m_ssl);
        m_verifyFailed = check == CertificateCheck::Verify && m_verifyResult != X509_V_OK;
        if (error == SSL_ERROR_SYSCALL && errno != 0) {
            m_failure = CWSocketException::textFor(errno);
        } else if (error == SSL_ERROR_SYSCALL || error == SSL_ERROR_ZERO_RETURN) {
            m_failure = QStringLiteral("the server closed the connection during the handshake");
        }
        return false;
    }
}

QString CSSLSocket::VerifyFailure() const {
    if (!m_verifyFailed) {
        return {};
    }
    return QString::fromUtf8(X509_verify_cert_error_string(m_verifyResult));
}

bool CSSLSocket::SendAll(const char* data, size_t length, int timeoutMs) {
    if (m_ssl == nullptr) {
        return false;
    }
    m_failure.clear();
    const auto deadline = m_socket->Now() + std::chrono::milliseconds(timeoutMs);
    while (length > 0) {
        ERR_clear_error();
        errno = 0;
        size_t written = 0;
        const int rc = SSL_write_ex(m_ssl, data, length, &written);
        if (rc == 1) {
            data += written;
            length -= written;
            continue;
        }
        const int error = SSL_get_error(m_ssl, rc);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            if (!WaitAsAsked(error, m_socket->RemainingMs(deadline))) {
                return false;
            }
            continue;
        }
        if (error == SSL_ERROR_SYSCALL && errno != 0) {
            m_failure = CWSocketException::textFor(errno);
        }
        return false;
    }
    return true;
}

long CSSLSocket::Receive(char* buffer, size_t length) {
    if (m_ssl == nullptr) {
        return kFailed;
    }
    m_failure.clear();
    ERR_clear_error();
    errno = 0;
    size_t count = 0;
    const int rc = SSL_read_ex(m_ssl, buffer, length, &count);
    if (rc == 1) {
        return static_cast<long>(count);
    }
    const int error = SSL_get_error(m_ssl, rc);
    switch (error) {
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
            // a record split across segments, or a post-handshake message: not a failure
            return CWSocket::kWouldBlock;
        case SSL_ERROR_ZERO_RETURN:
            return 0;
        case SSL_ERROR_SYSCALL:
            if (errno == 0) {
                // closed without close_notify: a closed connection all the same
                return 0;
            }
            m_failure = CWSocketException::textFor(errno);
            return kFailed;
        default:
            return kFailed;
    }
}

bool CSSLSocket::IsReadable(int timeoutMs) {
    if (m_ssl != nullptr && SSL_pending(m_ssl) > 0) {
        return true;
    }
    if (m_socket == nullptr) {
        throw CWSocketException(ENOTCONN);
    }
    return m_socket->IsReadable(timeoutMs);
}

void CSSLSocket::Close(bool graceful) noexcept {
    if (m_ssl != nullptr) {
        if (graceful) {
            for (int attempt = 0; attempt < 3; ++attempt) {
                if (SSL_shutdown(m_ssl) != 0) {
                    break;
                }
                std::this_thread::yield();
            }
        }
        SSL_free(m_ssl);
        m_ssl = nullptr;
        ERR_clear_error();
    }
    if (m_socket != nullptr) {
        m_socket->Close();
        m_socket = nullptr;
    }
}

QString CSSLSocket::ErrorQueueText() {
    QString text;
    char buffer[256];
    while (const unsigned long code = ERR_get_error()) {
        ERR_error_string_n(code, buffer, sizeof buffer);
        text += QString::fromUtf8(buffer) + QStringLiteral("\r\n");
    }
    return text;
}

QString CSSLSocket::LastFailureText() const {
    QString text = ErrorQueueText();
    if (!m_failure.isEmpty()) {
        text += m_failure + QStringLiteral("\r\n");
    }
    return text;
}

}  // namespace pw::smtp
