#include "smtp/KTWSMTPConnection.h"

#include "smtp/KTWSMTPMessage.h"
#include "smtp/Ntlm.h"
#include "smtp/SmtpReply.h"
#include "smtp/SmtpTexts.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSysInfo>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

namespace pw::smtp {

namespace {

// Reply texts end up in logs and message boxes: control bytes of a hostile or broken server
// become "?" (CR, LF and tab stay).
QString responseText(const QByteArray& bytes) {
    QString text = QString::fromUtf8(bytes);
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != '\r' && u != '\n' && u != '\t') || u == 0x7f) {
            c = QLatin1Char('?');
        }
    }
    return text;
}

// The canonical name of this host as the resolver knows it (looked up once per host name).
QString canonicalHostName() {
    static QMutex mutex;
    static QString lastHost;
    static QString lastCanonical;
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    const QString host = QString::fromLocal8Bit(name);
    QMutexLocker lock(&mutex);
    if (host == lastHost) {
        return lastCanonical;
    }
    QString canonical = host;
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &result) == 0 && result != nullptr) {
        if (result->ai_canonname != nullptr) {
            canonical = QString::fromLocal8Bit(result->ai_canonname);
        }
        ::freeaddrinfo(result);
    }
    lastHost = host;
    lastCanonical = canonical;
    return canonical;
}

// "[192.0.2.1]" or "[IPv6:2001:db8::1]" for the local end of a connected socket.
QString localAddressLiteral(int handle) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (handle < 0 || ::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return QStringLiteral("[127.0.0.1]");
    }
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
        if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) {
            ::inet_ntop(AF_INET, &v6->sin6_addr.s6_addr[12], text, sizeof text);
            return QStringLiteral("[%1]").arg(QString::fromLatin1(text));
        }
        ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        return QStringLiteral("[IPv6:%1]").arg(QString::fromLatin1(text));
    }
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
    ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    return QStringLiteral("[%1]").arg(QString::fromLatin1(text));
}

// A message's header without its Date line, which an undated message takes from the clock at
// each rendering: what tells one message from another.
QByteArray headerIdentity(QByteArray header) {
    const qsizetype at = header.startsWith("Date: ") ? 0 : header.indexOf("\r\nDate: ");
    if (at >= 0) {
        const qsizetype from = at == 0 ? 0 : at + 2;
        const qsizetype end = header.indexOf("\r\n", from);
        header.remove(from, end < 0 ? header.size() - from : end + 2 - from);
    }
    return header;
}

bool containsEightBit(const QByteArray& bytes) {
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return true;
        }
    }
    return false;
}

}  // namespace

// The conversation in the notation of the test scripts, for diagnosing a server.
class CWireLog {
public:
    CWireLog() {
        const QByteArray target = qgetenv("POSTWICK_SMTP_WIRE_LOG");
        if (target == "-") {
            m_stderr = true;
        } else if (!target.isEmpty()) {
            m_file.setFileName(QString::fromLocal8Bit(target));
            if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
                std::fprintf(stderr, "SMTP wire log: cannot open %s\n", target.constData());
            }
        }
    }
    [[nodiscard]] bool enabled() const { return m_stderr || m_file.isOpen(); }
    void line(const char* prefix, const QByteArray& text) {
        if (!enabled()) {
            return;
        }
        QByteArray out = QByteArray(prefix) + text;
        while (out.endsWith('\n') || out.endsWith('\r')) {
            out.chop(1);
        }
        out.append('\n');
        if (m_stderr) {
            std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stderr);
        } else {
            m_file.write(out);
            m_file.flush();
        }
    }
    void reply(const QByteArray& bytes) {
        if (!enabled()) {
            return;
        }
        for (const QByteArray& l : bytes.split('\n')) {
            if (!l.isEmpty()) {
                line("S: ", l);
            }
        }
    }

private:
    bool m_stderr = false;
    QFile m_file;
};

// ---------------------------------------------------------------------------------------------

CKTWSMTPConnection::CKTWSMTPConnection(const QString& heloHostName)
    : m_wire(std::make_unique<CWireLog>()) {
    SetHeloHostName(heloHostName);
    m_socket.SetAbortSignal(&m_abort);
}

CKTWSMTPConnection::~CKTWSMTPConnection() {
    try {
        std::lock_guard lock(m_io);
        DisconnectLocked(DisconnectMode::Graceful);
    } catch (...) {
    }
    CloseTransport(false);
}

void CKTWSMTPConnection::SetHeloHostName(const QString& name) {
    m_heloAuto = name.isEmpty() || name.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0;
    // until a connection tells its local address
    m_heloHost = m_heloAuto ? QSysInfo::machineHostName() : name;
    if (m_heloHost.isEmpty()) {
        m_heloHost = QStringLiteral("localhost");
    }
}

QString CKTWSMTPConnection::ChooseHeloName(const QString& canonicalHostName,
                                           const QString& addressLiteral) {
    static const QRegularExpression fqdn(QStringLiteral(
        "^(?=.{1,253}$)([A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?\\.)+[A-Za-z]([A-Za-z0-9-]{0,61}"
        "[A-Za-z0-9])?$"));
    QString name = canonicalHostName.trimmed();
    if (name.endsWith(QLatin1Char('.'))) {
        name.chop(1);
    }
    if (fqdn.match(name).hasMatch() &&
        !name.startsWith(QLatin1String("localhost"), Qt::CaseInsensitive)) {
        return name;
    }
    return addressLiteral;
}

QString CKTWSMTPConnection::AutomaticHeloName() const {
    return ChooseHeloName(canonicalHostName(), localAddressLiteral(m_socket.Handle()));
}

// --- transport -------------------------------------------------------------------------------

void CKTWSMTPConnection::OpenTransport(const QString& host, int port) {
    m_input.clear();
    // the resolver would take the number modulo 65536 and connect to another port
    if (port < 1 || port > 65535) {
        throw CWSocketException(EINVAL,
                                QStringLiteral("port %1 is not between 1 and 65535").arg(port));
    }
    m_socket.Connect(host, QString::number(port), SOCK_STREAM, m_timeoutMs);
}

void CKTWSMTPConnection::StartTls(const QString& host) {
    if (!m_tlsContext.Create(m_certificateCheck)) {
        const QString text = CSSLSocket::ErrorQueueText();
        CloseTransport(false);
        throw CKTWSMTPException::FromMessage(msg::kFailCreateSslContext, text);
    }
    if (!m_ssl.Create(m_tlsContext.Get(), m_socket)) {
        const QString text = CSSLSocket::ErrorQueueText();
        CloseTransport(false);
        throw CKTWSMTPException::FromMessage(msg::kFailCreateSslSocket, text);
    }
    QByteArray pinned;
    for (const TrustedCertificate& t : m_trusted) {
        if (t.port == m_port && t.host.compare(host, Qt::CaseInsensitive) == 0) {
            pinned = t.sha256;
        }
    }
    m_ssl.SetPinnedFingerprint(pinned);
    const bool shaken = m_ssl.Handshake(host, m_certificateCheck, m_timeoutMs);
    m_lastPeer = m_ssl.Peer();
    if (!shaken) {
        const bool refused = m_ssl.VerifyFailed();
        QString text = refused ? m_ssl.VerifyFailure() : QString();
        const QString queue = m_ssl.LastFailureText();
        if (refused) {
            text += QStringLiteral(" (host \"%1\")\r\n").arg(host);
        }
        text += queue;
        if (m_abort.IsTriggered()) {
            CloseTransport(false);
            throw CKTWSMTPException::FromSystemError(ECANCELED);
        }
        CloseTransport(false);
        throw CKTWSMTPException::FromMessage(
            refused ? msg::kCertificateRefused : msg::kFailConnectViaSsl, text);
    }
    if (m_wire->enabled()) {
        m_wire->line("", QByteArray("-- TLS established"));
    }
}

void CKTWSMTPConnection::CloseTransport(bool graceful) noexcept {
    if (m_ssl.IsOpen()) {
        m_ssl.Close(graceful);  // closes the socket too
    }
    m_socket.Close();
    m_tlsContext.Reset();
    m_input.clear();
    m_pending.reset();
}

void CKTWSMTPConnection::Transmit(const QByteArray& bytes) {
    if (m_ssl.IsOpen()) {
        if (!m_ssl.SendAll(bytes.constData(), static_cast<size_t>(bytes.size()), m_timeoutMs)) {
            if (m_abort.IsTriggered()) {
                throw CKTWSMTPException::FromSystemError(ECANCELED);
            }
            throw CKTWSMTPException::FromMessage(msg::kFailSendViaSsl, m_ssl.LastFailureText());
        }
        return;
    }
    try {
        m_socket.SendAll(bytes.constData(), static_cast<size_t>(bytes.size()), m_timeoutMs);
    } catch (const CWSocketException& e) {
        throw CKTWSMTPException::FromSocket(e);
    }
}

void CKTWSMTPConnection::TransmitPast(const QByteArray& bytes, qsizetype boundary, bool& passed) {
    passed = false;
    if (m_ssl.IsOpen()) {
        // TLS does not tell how much of a failed write went out: the boundary is a write's end
        Transmit(bytes.left(boundary));
        passed = true;
        if (bytes.size() > boundary) {
            Transmit(bytes.mid(boundary));
        }
        return;
    }
    size_t sent = 0;
    try {
        m_socket.SendAll(bytes.constData(), static_cast<size_t>(bytes.size()), m_timeoutMs, &sent);
    } catch (const CWSocketException& e) {
        passed = sent >= static_cast<size_t>(boundary);
        throw CKTWSMTPException::FromSocket(e);
    }
    passed = true;
}

void CKTWSMTPConnection::SendLine(const QByteArray& line, const char* logText) {
    m_wire->line("C: ", logText != nullptr ? QByteArray(logText) : line);
    Transmit(line + "\r\n");
}

bool CKTWSMTPConnection::WaitReadable(int timeoutMs) {
    try {
        return m_ssl.IsOpen() ? m_ssl.IsReadable(timeoutMs) : m_socket.IsReadable(timeoutMs);
    } catch (const CWSocketException& e) {
        throw CKTWSMTPException::FromSocket(e);
    }
}

long CKTWSMTPConnection::ReceiveSome(char* buffer, size_t length) {
    if (m_ssl.IsOpen()) {
        const long n = m_ssl.Receive(buffer, length);
        if (n == CSSLSocket::kFailed) {
            throw CKTWSMTPException::FromMessage(msg::kFailReceiveViaSsl, m_ssl.LastFailureText());
        }
        return n;
    }
    try {
        return m_socket.Receive(buffer, length);
    } catch (const CWSocketException& e) {
        throw CKTWSMTPException::FromSocket(e);
    }
}

// --- replies ---------------------------------------------------------------------------------

void CKTWSMTPConnection::SetLastResponse(const QByteArray& bytes, int code) {
    m_lastResponseBytes = bytes;
    m_lastResponse = responseText(bytes);
    m_lastResponseCode = code;
}

bool CKTWSMTPConnection::TakeResponseFromBuffer() {
    const SmtpReplyEnd end = FindReplyEnd(m_input);
    if (end.length == 0) {
        return false;
    }
    const QByteArray reply = m_input.left(end.length);
    m_input.remove(0, end.length);
    m_wire->reply(reply);
    SetLastResponse(reply, end.code);
    return true;
}

bool CKTWSMTPConnection::ReadResponse(int timeoutMs) {
    // one limit for the whole reply: a server dribbling bytes cannot hold the session longer
    const auto deadline =
        m_socket.Now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : m_timeoutMs);
    char buffer[4096];
    m_replyIncomplete = true;
    for (;;) {
        if (TakeResponseFromBuffer()) {
            m_replyIncomplete = false;
            return true;
        }
        if (m_input.size() > kMaxResponseBytes) {
            QByteArray head = m_input.left(512);
            m_input.clear();
            SetLastResponse(head, 0);
            m_lastResponse +=
                QStringLiteral("... (reply longer than %1 bytes refused)").arg(kMaxResponseBytes);
            return false;
        }
        // the wait is sliced on the socket's clock: it ends no later than the deadline
        if (!WaitReadable(m_socket.RemainingMs(deadline))) {
            SetLastResponse(m_input.left(4096), 0);
            return false;
        }
        const long n = ReceiveSome(buffer, sizeof buffer - 1);
        if (n == 0) {
            SetLastResponse(m_input.left(4096), 0);
            m_input.clear();
            Raise(msg::kGracefulDisconnect);
        }
        if (n > 0) {
            m_input.append(buffer, n);
        }
    }
}

void CKTWSMTPConnection::Raise(int errorId) {
    throw CKTWSMTPException::FromMessage(errorId, m_lastResponse);
}

void CKTWSMTPConnection::ReadCommandResponse(int expected, int errorId, int alsoExpected) {
    if (!ReadResponse() || (m_lastResponseCode != expected &&
                            (alsoExpected < 0 || m_lastResponseCode != alsoExpected))) {
        Raise(errorId);
    }
}

void CKTWSMTPConnection::Command(const QByteArray& line, int expected, int errorId,
                                 int alsoExpected) {
    SendLine(line);
    ReadCommandResponse(expected, errorId, alsoExpected);
}

// --- the session -----------------------------------------------------------------------------

void CKTWSMTPConnection::Connect(const QString& host, AuthMethod method, const QString& userName,
                                 const QString& password, int port, ConnectionType type) {
    std::lock_guard lock(m_io);
    if (m_connected.load()) {
        DisconnectLocked(DisconnectMode::NotGraceful);
    }
    m_abort.Reset();
    m_wire = std::make_unique<CWireLog>();
    m_type = type;
    m_host = host;
    m_port = port;
    m_lastPeer = PeerCertificate();
    m_lastEhlo.clear();
    m_eightBitMime = false;
    m_pipelining = false;
    m_sizeOffered = false;
    m_sizeLimit = 0;
    m_usedMethod = AuthMethod::None;
    SetLastResponse({}, 0);
    if (m_wire->enabled()) {
        m_wire->line("", QStringLiteral("-- connect %1 port %2 type %3")
                             .arg(host)
                             .arg(port)
                             .arg(static_cast<int>(type))
                             .toUtf8());
    }
    try {
        OpenTransport(host, port);
    } catch (const CWSocketException& e) {
        CloseTransport(false);
        throw CKTWSMTPException::FromSocket(e);
    }
    if (m_heloAuto) {
        m_heloHost = AutomaticHeloName();
    }
    if (type == ConnectionType::SslTls) {
        StartTls(host);
    }
    m_connected.store(true);
    try {
        ReadCommandResponse(220, msg::kUnexpectedLoginResponse);
        if (type == ConnectionType::StartTls) {
            const QString offer = Ehlo();
            if (!EhloOffers(offer, QStringLiteral("STARTTLS"))) {
                Raise(msg::kStartTlsNotOffered);
            }
            Command("STARTTLS", 220, msg::kUnexpectedStartTlsResponse);
            // bytes sent before the handshake must not pass for protected ones
            m_input.clear();
            StartTls(host);
            const QString ehlo = Ehlo();
            if (method != AuthMethod::None) {
                Authenticate(ResolveMethod(method, ehlo), userName, password);
            }
        } else if (method != AuthMethod::None) {
            const QString ehlo = Ehlo();
            Authenticate(ResolveMethod(method, ehlo), userName, password);
        } else {
            EhloOrHelo();
        }
    } catch (const CKTWSMTPException&) {
        const bool aborted = m_abort.IsTriggered();
        // a server that did not finish its last reply is in no state for QUIT: waiting for
        // its answer would only double the time until the failure is reported
        const bool talking = !aborted && !m_replyIncomplete;
        // the caller classifies the failure by the reply that caused it, not by QUIT's
        const QByteArray bytes = m_lastResponseBytes;
        const QString text = m_lastResponse;
        const int code = m_lastResponseCode;
        try {
            DisconnectLocked(talking ? DisconnectMode::Graceful : DisconnectMode::NotGraceful);
        } catch (...) {
        }
        m_lastResponseBytes = bytes;
        m_lastResponse = text;
        m_lastResponseCode = code;
        if (aborted) {
            throw CKTWSMTPException::FromSystemError(ECANCELED);
        }
        throw;
    }
}

AuthMethod CKTWSMTPConnection::ResolveMethod(AuthMethod method, const QString& ehlo) const {
    if (method != AuthMethod::Automatic) {
        return method;
    }
    return ChooseAuthMethod(AuthMechanismsFromEhlo(ehlo),
                            m_bearerToken.isEmpty() ? TokenAvailable::No : TokenAvailable::Yes);
}

void CKTWSMTPConnection::Helo() {
    Command("HELO " + m_heloHost.toUtf8(), 250, msg::kUnexpectedHeloResponse);
}

void CKTWSMTPConnection::EhloOrHelo() {
    // EHLO even without login: pipelining, 8BITMIME and SIZE serve a plain relay as well.
    // Only a server that does not know EHLO (RFC 5321 4.1.4) is greeted with HELO.
    SendLine("EHLO " + m_heloHost.toUtf8());
    if (!ReadResponse()) {
        Raise(msg::kUnexpectedEhloResponse);
    }
    const int code = m_lastResponseCode;
    if (code == 250) {
        TakeEhloOffer();
        return;
    }
    if (code != 500 && code != 502 && code != 504) {
        Raise(msg::kUnexpectedEhloResponse);
    }
    Helo();
}

QString CKTWSMTPConnection::Ehlo() {
    Command("EHLO " + m_heloHost.toUtf8(), 250, msg::kUnexpectedEhloResponse);
    TakeEhloOffer();
    return m_lastResponse;
}

void CKTWSMTPConnection::TakeEhloOffer() {
    m_lastEhlo = m_lastResponse;
    m_eightBitMime = EhloOffers(m_lastEhlo, QStringLiteral("8BITMIME"));
    m_pipelining = EhloOffers(m_lastEhlo, QStringLiteral("PIPELINING"));
    const std::optional<qint64> size = EhloSizeLimit(m_lastEhlo);
    m_sizeOffered = size.has_value();
    m_sizeLimit = size.value_or(0);
}

void CKTWSMTPConnection::Authenticate(AuthMethod method, const QString& user,
                                      const QString& password) {
    m_usedMethod = method;
    switch (method) {
        case AuthMethod::CramMd5:
            AuthCramMd5(user, password);
            break;
        case AuthMethod::Login:
            AuthLogin(user, password);
            break;
        case AuthMethod::Plain:
            AuthPlain(user, password);
            break;
        case AuthMethod::Ntlm:
            AuthNtlm(user, password);
            break;
        case AuthMethod::XOAuth2:
        case AuthMethod::OAuthBearer:
            AuthBearer(method, user);
            break;
        case AuthMethod::OAuth2: {
            // the mechanism the server offers; a server that offers neither is tried with
            // XOAUTH2, whose refusal then names the server's own reply
            const AuthMethod chosen =
                ChooseAuthMethod(AuthMechanismsFromEhlo(m_lastEhlo), TokenAvailable::Yes);
            m_usedMethod = chosen == AuthMethod::OAuthBearer ? chosen : AuthMethod::XOAuth2;
            AuthBearer(m_usedMethod, user);
            break;
        }
        case AuthMethod::None:
        case AuthMethod::Automatic:
            m_usedMethod = AuthMethod::None;
            break;
    }
}

void CKTWSMTPConnection::AuthBearer(AuthMethod method, const QString& user) {
    const bool bearer = method == AuthMethod::OAuthBearer;
    const int unexpected =
        bearer ? msg::kUnexpectedOAuthBearerResponse : msg::kUnexpectedXOAuth2Response;
    const QByteArray command = bearer ? "AUTH OAUTHBEARER " : "AUTH XOAUTH2 ";
    if (m_bearerToken.isEmpty()) {
        SetLastResponse("no access token: not signed in", 0);
        Raise(msg::kBearerTokenRefused);
    }
    QByteArray response = bearer ? OAuthBearerResponse(user, m_host, m_port, m_bearerToken)
                                 : XOAuth2Response(user, m_bearerToken);
    QByteArray encoded = command + response.toBase64();
    WipeBytes(response);
    m_wire->line("C: ", command + "[credentials not logged]");
    encoded += "\r\n";
    try {
        Transmit(encoded);
    } catch (...) {
        WipeBytes(encoded);
        throw;
    }
    WipeBytes(encoded);
    if (!ReadResponse()) {
        Raise(unexpected);
    }
    if (m_lastResponseCode == 235) {
        return;
    }
    if (m_lastResponseCode == 334) {
        // A refused token comes as a challenge holding a JSON status (RFC 7628 3.2.2). The
        // client must answer it, with ^A for OAUTHBEARER and an empty line for XOAUTH2, and
        // the server then ends the exchange with its failure reply.
        const QString status = BearerErrorStatus(DecodeChallenge(m_lastResponseBytes));
        const QByteArray challenge = m_lastResponseBytes;
        SendLine(bearer ? QByteArray("AQ==") : QByteArray());
        const bool replied = ReadResponse();
        QByteArray text = status.isEmpty() ? QByteArray() : status.toUtf8() + "\r\n";
        text += replied ? m_lastResponseBytes : challenge;
        SetLastResponse(text, replied ? m_lastResponseCode : 0);
        Raise(msg::kBearerTokenRefused);
    }
    if (m_lastResponseCode >= 500 && m_lastResponseCode < 600) {
        Raise(msg::kBearerTokenRefused);  // "535 5.7.3 Authentication unsuccessful" at once
    }
    Raise(unexpected);
}

void CKTWSMTPConnection::SendCredential(QByteArray& encoded) {
    QByteArray line = encoded + "\r\n";
    WipeBytes(encoded);
    m_wire->line("C: ", QByteArray("[credentials not logged]"));
    try {
        Transmit(line);
    } catch (...) {
        WipeBytes(line);
        throw;
    }
    WipeBytes(line);
}

void CKTWSMTPConnection::AuthLogin(const QString& user, const QString& password) {
    Command("AUTH LOGIN", 334, msg::kUnexpectedAuthLoginResponse);
    // The prompt texts differ between servers ("Username:", "User Name"), and the mechanism
    // says not to rely on them: only a prompt plainly asking for the other item is refused.
    const QByteArray userPrompt = DecodeChallenge(m_lastResponseBytes).toLower();
    if (userPrompt.contains("pass") && !userPrompt.contains("user")) {
        Raise(msg::kUnexpectedAuthLoginUserRequest);
    }
    QByteArray encoded = user.toUtf8().toBase64();
    SendCredential(encoded);
    ReadCommandResponse(334, msg::kUnexpectedAuthLoginUserResponse);
    const QByteArray passwordPrompt = DecodeChallenge(m_lastResponseBytes).toLower();
    if (passwordPrompt.contains("user") && !passwordPrompt.contains("pass")) {
        Raise(msg::kUnexpectedAuthLoginPasswordRequest);
    }
    QByteArray pass = password.toUtf8();
    encoded = pass.toBase64();
    WipeBytes(pass);
    SendCredential(encoded);
    ReadCommandResponse(235, msg::kUnexpectedAuthLoginPasswordResponse);
}

void CKTWSMTPConnection::AuthPlain(const QString& user, const QString& password) {
    Command("AUTH PLAIN", 334, msg::kUnexpectedAuthPlainResponse);
    QByteArray credentials = PlainCredentials(user, password);
    QByteArray encoded = credentials.toBase64();
    WipeBytes(credentials);
    SendCredential(encoded);
    ReadCommandResponse(235, msg::kUnexpectedAuthPlainResponse);
}

void CKTWSMTPConnection::AuthCramMd5(const QString& user, const QString& password) {
    Command("AUTH CRAM-MD5", 334, msg::kUnexpectedCramMd5Response);
    const QByteArray challenge = DecodeChallenge(m_lastResponseBytes);
    QByteArray answer = CramMd5Answer(user, password, challenge);
    if (answer.isEmpty()) {
        Raise(msg::kUnexpectedCramMd5Response);
    }
    QByteArray encoded = answer.toBase64();
    WipeBytes(answer);
    SendCredential(encoded);
    ReadCommandResponse(235, msg::kUnexpectedCramMd5DigestResponse);
}

void CKTWSMTPConnection::AuthNtlm(const QString& user, const QString& password) {
    if (user.isEmpty()) {
        // there is no logon session to borrow credentials from here
        SetLastResponse("NTLM needs a user name and password on this system", 0);
        Raise(msg::kUnexpectedAuthNtlmResponse);
    }
    CNTLMClientAuth ntlm;
    ntlm.SetCredentials(user, password);
    const QByteArray negotiate = ntlm.NegotiateMessage().toBase64();
    Command("AUTH NTLM " + negotiate, 334, msg::kUnexpectedAuthNtlmResponse);
    QByteArray challenge = DecodeChallenge(m_lastResponseBytes);
    if (challenge.isEmpty()) {
        // a server that does not take the first message with the command asks for it
        SendLine(negotiate);
        ReadCommandResponse(334, msg::kUnexpectedAuthNtlmResponse);
        challenge = DecodeChallenge(m_lastResponseBytes);
    }
    if (challenge.size() >= 16384) {
        Raise(msg::kUnexpectedAuthNtlmResponse);
    }
    auto authenticate = ntlm.AuthenticateMessage(challenge);
    ntlm.Clear();
    if (!authenticate) {
        Raise(msg::kUnexpectedAuthNtlmResponse);
    }
    QByteArray encoded = authenticate->toBase64();
    WipeBytes(*authenticate);
    SendCredential(encoded);
    ReadCommandResponse(235, msg::kUnexpectedAuthNtlmResponse);
}

void CKTWSMTPConnection::SendMessage(const CKTWSMTPMessage& message) {
    SendMessage(message, nullptr);
}

BodyTransport CKTWSMTPConnection::Transport() const {
    // Text goes as 8bit only to a server that offered 8BITMIME (after HELO: never).
    return m_eightBitMime ? BodyTransport::EightBit : BodyTransport::SevenBit;
}

CKTWSMTPConnection::Prepared CKTWSMTPConnection::Prepare(const CKTWSMTPMessage& message) {
    // The whole DATA text is rendered before the first command: a file that cannot be read
    // then fails this message alone and leaves the session usable.
    const BodyTransport transport = Transport();
    Prepared p;
    p.header = message.header(transport);
    p.data = p.header;
    p.data.append("\r\n");
    message.writeBody([&p](QByteArrayView bytes) { p.data.append(bytes); }, transport);
    p.data.append("\r\n.\r\n");
    if (m_sizeLimit > 0 && p.data.size() > m_sizeLimit) {
        // the server would take the whole transfer and then refuse it
        SetLastResponse(QStringLiteral("%1 bytes, the server takes at most %2 (SIZE)")
                            .arg(p.data.size())
                            .arg(m_sizeLimit)
                            .toUtf8(),
                        0);
        Raise(msg::kMessageTooLarge);
    }
    QByteArray mailFrom = "MAIL FROM:<" + message.from().address().toUtf8() + '>';
    if (m_sizeOffered) {
        mailFrom += " SIZE=" + QByteArray::number(p.data.size());
    }
    if (transport == BodyTransport::EightBit && containsEightBit(p.data)) {
        mailFrom += " BODY=8BITMIME";
    }
    p.steps.push_back({mailFrom, 250, -1, msg::kUnexpectedMailFromResponse});
    for (const auto* list : {&message.to(), &message.cc(), &message.bcc()}) {
        for (const CKTWSMTPAddress& a : *list) {
            p.steps.push_back({"RCPT TO:<" + a.address().toUtf8() + '>', 250, 251,
                               msg::kUnexpectedRcptToResponse});
        }
    }
    p.steps.push_back({"DATA", 354, -1, msg::kUnexpectedDataResponse});
    return p;
}

QByteArray CKTWSMTPConnection::GroupBytes(const std::vector<Step>& steps) {
    QByteArray group;
    for (const Step& step : steps) {
        group += step.line + "\r\n";
    }
    return group;
}

void CKTWSMTPConnection::LogGroup(const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        m_wire->line("C: ", step.line);
    }
}

void CKTWSMTPConnection::SendMessage(const CKTWSMTPMessage& message, const CKTWSMTPMessage* next) {
    std::lock_guard lock(m_io);
    m_possiblyDelivered = false;
    if (!m_connected.load()) {
        throw CKTWSMTPException::FromSystemError(m_abort.IsTriggered() ? ECANCELED : ENOTCONN);
    }
    // The commands of this message may have gone ahead with the last end of data. The
    // header (with its Message-ID) tells it from another message at the same address.
    std::optional<Prepared> ahead;
    if (m_pending && m_pending->message == &message &&
        headerIdentity(m_pending->prepared.header) == headerIdentity(message.header(Transport()))) {
        ahead = std::move(m_pending->prepared);
        m_pending.reset();
    } else if (m_pending) {
        SettlePending();
        if (!m_connected.load()) {
            throw CKTWSMTPException::FromSystemError(ENOTCONN);
        }
    }
    const bool groupWritten = ahead.has_value();
    const Prepared p = groupWritten ? std::move(*ahead) : Prepare(message);
    bool inTransaction = false;
    try {
        if (groupWritten) {
            inTransaction = true;
            ReadGroupReplies(p.steps);
        } else if (m_pipelining) {
            inTransaction = true;
            LogGroup(p.steps);
            Transmit(GroupBytes(p.steps));
            ReadGroupReplies(p.steps);
        } else {
            for (const Step& step : p.steps) {
                Command(step.line, step.expected, step.errorId, step.alsoExpected);
                inTransaction = true;
            }
        }
        // One write with the end of data in it (a separate small final write waits for the
        // peer's delayed acknowledgement), and behind it the next message's commands.
        QByteArray out = p.data;
        std::optional<Prepared> following;
        if (next != nullptr && m_pipelining) {
            const QByteArray lastBytes = m_lastResponseBytes;
            const int lastCode = m_lastResponseCode;
            try {
                following = Prepare(*next);
                out += GroupBytes(following->steps);
            } catch (const CKTWSMTPException&) {
                // it fails on its own turn, after this message's outcome
                SetLastResponse(lastBytes, lastCode);
            }
        }
        if (m_wire->enabled()) {
            if (following) {
                m_wire->line("",
                             QByteArray("-- one write: the data and the next message's commands"));
            }
            m_wire->line("C: ", QStringLiteral("[message data, %1 bytes, ending in CR LF . CR LF]")
                                    .arg(p.data.size())
                                    .toUtf8());
            if (following) {
                LogGroup(following->steps);
            }
        }
        inTransaction = false;  // the server's verdict on the data ends the transaction
        if (m_beforeDataEnd) {
            m_beforeDataEnd();
        }
        bool endOfDataOut = false;
        try {
            TransmitPast(out, p.data.size(), endOfDataOut);
        } catch (const CKTWSMTPException&) {
            // the end of data went out although the commands behind it did not
            m_possiblyDelivered = endOfDataOut;
            throw;
        }
        if (following) {
            m_pending = Pending{next, std::move(*following)};
        }
        // Closed, cancelled or timed out from here on, the mail may have been taken.
        m_possiblyDelivered = true;
        if (m_awaitingReply) {
            m_awaitingReply();
        }
        const bool replied = ReadResponse(m_finalReplyTimeoutMs);
        if (replied)
            m_possiblyDelivered = false;  // a reply, whatever it says, settles it
        if (!replied || m_lastResponseCode != 250)
            Raise(msg::kUnexpectedEndOfMessageResponse);
    } catch (const CKTWSMTPException& e) {
        AfterTransactionFailure(e);
        // A refused recipient or DATA leaves the server inside the transaction, and the next
        // message's MAIL FROM would be refused as nested.
        if (inTransaction && m_connected.load())
            ResetTransaction();
        throw;
    }
}

void CKTWSMTPConnection::ReadGroupReplies(const std::vector<Step>& steps) {
    int failedId = 0;
    QByteArray failedBytes;
    int failedCode = 0;
    for (const Step& step : steps) {
        if (!ReadResponse()) {
            Raise(failedId != 0 ? failedId : step.errorId);  // out of step: the session ends
        }
        const bool accepted = m_lastResponseCode == step.expected ||
                              (step.alsoExpected >= 0 && m_lastResponseCode == step.alsoExpected);
        if (!accepted && failedId == 0) {
            failedId = step.errorId;
            failedBytes = m_lastResponseBytes;
            failedCode = m_lastResponseCode;
        }
    }
    if (failedId == 0) {
        return;  // 354: the data follows
    }
    const bool dataTaken = m_lastResponseCode == 354;
    SetLastResponse(failedBytes, failedCode);
    if (dataTaken) {
        // DATA was taken although something before it was refused. Even an empty message
        // would reach the recipients that were accepted: the connection is dropped instead,
        // which makes the server discard the transaction.
        DisconnectLocked(DisconnectMode::NotGraceful);
        SetLastResponse(failedBytes, failedCode);
    }
    Raise(failedId);
}

void CKTWSMTPConnection::AbandonNext() {
    std::lock_guard lock(m_io);
    SettlePending();
}

void CKTWSMTPConnection::SettlePending() noexcept {
    if (!m_pending) {
        return;
    }
    const std::vector<Step> steps = std::move(m_pending->prepared.steps);
    m_pending.reset();
    // the caller may still report the reply before: keep it as the last response
    const QString response = m_lastResponse;
    const QByteArray bytes = m_lastResponseBytes;
    const int code = m_lastResponseCode;
    try {
        bool mailTaken = false;
        for (const Step& step : steps) {
            if (!ReadResponse()) {
                throw CKTWSMTPException::FromSystemError(ETIMEDOUT);
            }
            if (&step == &steps.front()) {
                mailTaken = m_lastResponseCode == 250;
            }
        }
        if (m_lastResponseCode == 354) {
            // A server waiting for the data cannot be told to stop: an empty message would
            // reach the recipients. Closing makes it discard the transaction.
            DisconnectLocked(DisconnectMode::NotGraceful);
        } else if (mailTaken) {
            Command("RSET", 250, msg::kUnexpectedMailFromResponse);
        }
    } catch (...) {
        try {
            DisconnectLocked(DisconnectMode::NotGraceful);
        } catch (...) {
        }
    }
    m_lastResponse = response;
    m_lastResponseBytes = bytes;
    m_lastResponseCode = code;
}

void CKTWSMTPConnection::ResetTransaction() {
    // the caller reports the refusal: keep its reply as the last response
    const QString response = m_lastResponse;
    const QByteArray bytes = m_lastResponseBytes;
    const int code = m_lastResponseCode;
    try {
        Command("RSET", 250, msg::kUnexpectedMailFromResponse);
    } catch (...) {
        DisconnectLocked(DisconnectMode::NotGraceful);
    }
    m_lastResponse = response;
    m_lastResponseBytes = bytes;
    m_lastResponseCode = code;
}

void CKTWSMTPConnection::VerifySender() {
    std::lock_guard lock(m_io);
    SettlePending();
    if (!m_connected.load()) {
        throw CKTWSMTPException::FromSystemError(ENOTCONN);
    }
    try {
        Command(QByteArray("MAIL FROM:<") + kVerifySender + '>', 250,
                msg::kUnexpectedMailFromResponse);
    } catch (const CKTWSMTPException& e) {
        AfterTransactionFailure(e);
        throw;
    }
}

void CKTWSMTPConnection::AfterTransactionFailure(const CKTWSMTPException& e) {
    if (m_abort.IsTriggered()) {
        DisconnectLocked(DisconnectMode::NotGraceful);
        throw CKTWSMTPException::FromSystemError(ECANCELED);
    }
    // A complete refusal leaves the dialogue in step. After a timeout, a cut-off reply or a
    // failed write, a late reply would be taken for the answer to the next command: the
    // session ends instead, and the caller connects again.
    const bool refusal = e.Facility() == CKTWSMTPException::kFacilityItf && !m_replyIncomplete &&
                         e.Code() != msg::kGracefulDisconnect &&
                         e.Code() < msg::kFailCreateSslSocket;
    if (!refusal) {
        DisconnectLocked(DisconnectMode::NotGraceful);
    }
}

void CKTWSMTPConnection::Disconnect(DisconnectMode mode) {
    if (mode == DisconnectMode::NotGraceful) {
        Abort();
        return;
    }
    std::lock_guard lock(m_io);
    DisconnectLocked(mode);
}

void CKTWSMTPConnection::Abort() noexcept {
    m_abort.Trigger();
    // When the owning thread is inside an operation it sees the signal at once and closes the
    // connection itself; otherwise the connection is closed here.
    std::unique_lock lock(m_io, std::try_to_lock);
    if (lock.owns_lock()) {
        m_connected.store(false);
        CloseTransport(false);
    }
}

void CKTWSMTPConnection::DisconnectLocked(DisconnectMode mode) {
    std::exception_ptr remembered;
    if (mode == DisconnectMode::Graceful) {
        SettlePending();  // QUIT while the server waits for data would be taken as data
    }
    if (m_connected.load() && mode == DisconnectMode::Graceful && !m_abort.IsTriggered()) {
        try {
            Command("QUIT", 221, msg::kUnexpectedQuitResponse);
        } catch (...) {
            remembered = std::current_exception();
        }
    }
    m_connected.store(false);
    CloseTransport(mode == DisconnectMode::Graceful);
    if (remembered) {
        std::rethrow_exception(remembered);
    }
}

}  // namespace pw::smtp
