#include "serversettings/OAuthSignIn.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <array>
#include <memory>

#include "resources/Strings.h"

namespace pw::serversettings {

OAuthPreset oauthPreset(OAuthProvider provider) {
    OAuthPreset p;
    switch (provider) {
        case OAuthProvider::Microsoft365:
            // "common": work and school accounts of any tenant; offline_access brings the
            // refresh token, openid and email the account's name; IMAP and POP read the
            // bounce mailbox (Google's one scope covers them)
            p.authorizeUrl =
                QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/authorize");
            p.tokenUrl =
                QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/token");
            p.scope = QStringLiteral(
                "https://outlook.office.com/SMTP.Send "
                "https://outlook.office.com/IMAP.AccessAsUser.All "
                "https://outlook.office.com/POP.AccessAsUser.All offline_access openid email");
            p.smtpServer = QStringLiteral("smtp.office365.com");
            break;
        case OAuthProvider::Google:
            p.authorizeUrl = QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth");
            p.tokenUrl = QStringLiteral("https://oauth2.googleapis.com/token");
            p.scope = QStringLiteral("https://mail.google.com/ openid email");
            p.smtpServer = QStringLiteral("smtp.gmail.com");
            break;
        case OAuthProvider::None:
        case OAuthProvider::Custom:
            p.smtpPort = 0;
            p.smtpConnectionType = smtp::ConnectionType::None;
            break;
    }
    return p;
}

namespace {

// Plain http:// only where nothing travels over a network (a test server, a local proxy).
bool isLoopbackHost(const QString& host) {
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

}  // namespace

QString OAuthValues::insecureEndpoint() const {
    for (const QString& url : {effectiveAuthorizeUrl(), effectiveTokenUrl()}) {
        const QUrl u(url);
        if (u.scheme() == QLatin1String("http") && !isLoopbackHost(u.host()))
            return url;
    }
    return {};
}

QString OAuthValues::effectiveAuthorizeUrl() const {
    return provider == OAuthProvider::Custom ? authorizeUrl : oauthPreset(provider).authorizeUrl;
}

QString OAuthValues::effectiveTokenUrl() const {
    return provider == OAuthProvider::Custom ? tokenUrl : oauthPreset(provider).tokenUrl;
}

QString OAuthValues::effectiveScope() const {
    return provider == OAuthProvider::Custom ? scope : oauthPreset(provider).scope;
}

bool OAuthValues::configured() const {
    const auto isWeb = [](const QString& url) {
        const QUrl u(url);
        return u.isValid() &&
               (u.scheme() == QLatin1String("https") ||
                (u.scheme() == QLatin1String("http") && isLoopbackHost(u.host()))) &&
               !u.host().isEmpty();
    };
    return provider != OAuthProvider::None && !clientId.trimmed().isEmpty() &&
           isWeb(effectiveAuthorizeUrl()) && isWeb(effectiveTokenUrl());
}

QByteArray pkceVerifier() {
    static const char kUnreserved[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
    QByteArray v(64, Qt::Uninitialized);
    for (char& c : v)
        c = kUnreserved[QRandomGenerator::system()->bounded(int(sizeof kUnreserved - 1))];
    return v;
}

QByteArray pkceChallenge(const QByteArray& verifier) {
    return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QString accountOfIdToken(const QString& idToken) {
    const QStringList parts = idToken.split(QLatin1Char('.'));
    if (parts.size() != 3)
        return {};
    const QByteArray payload = QByteArray::fromBase64(
        parts[1].toLatin1(), QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    const QJsonObject o = QJsonDocument::fromJson(payload).object();
    const QString email = o.value(QLatin1String("email")).toString();
    return email.isEmpty() ? o.value(QLatin1String("preferred_username")).toString() : email;
}

namespace {

// "error" and "error_description" of a token endpoint's refusal (RFC 6749 5.2).
struct EndpointError {
    QString code;
    QString text;  // the description, else the code
};

EndpointError endpointError(const QByteArray& body) {
    const QJsonObject o = QJsonDocument::fromJson(body).object();
    EndpointError e;
    e.code = o.value(QLatin1String("error")).toString();
    const QString description = o.value(QLatin1String("error_description")).toString();
    e.text = description.isEmpty() ? e.code : e.code + QStringLiteral(": ") + description;
    return e;
}

QByteArray formField(const char* key, const QString& value) {
    return QByteArray(key) + '=' + QUrl::toPercentEncoding(value);
}

QNetworkRequest tokenRequest(const OAuthValues& values, int timeoutMs) {
    QNetworkRequest request{QUrl(values.effectiveTokenUrl())};
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Accept", "application/json");
    request.setTransferTimeout(timeoutMs);
    return request;
}

qint64 expiresIn(const QJsonObject& o) {
    const QJsonValue e = o.value(QLatin1String("expires_in"));
    const qint64 seconds = e.isString() ? e.toString().toLongLong() : e.toInteger(3600);
    return seconds > 0 ? seconds : 3600;
}

// The token endpoint's answer to the code: its JSON, or why there is none.
struct TokenAnswer {
    QJsonObject json;
    QString error;
};

TokenAnswer tokenAnswer(QNetworkReply& reply, int timeoutMs) {
    TokenAnswer a;
    const QByteArray body = reply.readAll();
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply.error() == QNetworkReply::NoError && status == 200) {
        a.json = QJsonDocument::fromJson(body).object();
        if (a.json.isEmpty())
            a.error = str(ids::kOAuthNoAnswer);
        return a;
    }
    if (reply.error() == QNetworkReply::OperationCanceledError ||
        reply.error() == QNetworkReply::TimeoutError) {
        a.error = str(ids::kOAuthTimeout).arg(timeoutMs / 1000.0);
        return a;
    }
    const EndpointError e = endpointError(body);
    if (!e.code.isEmpty())
        a.error = e.text;
    else if (status == 0)
        a.error = str(ids::kOAuthUnreachable).arg(reply.errorString());
    else
        a.error = QStringLiteral("HTTP %1").arg(status);
    return a;
}

// A state of 192 bits: no other process on this machine can guess it.
QString randomState() {
    std::array<quint32, 6> words{};
    QRandomGenerator::system()->fillRange(words.data(), qsizetype(words.size()));
    const QByteArray bytes(reinterpret_cast<const char*>(words.data()), sizeof words);
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// The request line of a call to the loopback port, read as the provider's redirect.
struct Redirect {
    int status = 400;  // 200: a redirect to our path; else what the caller is answered
    QString state;
    QString code;
    QString error;
    QString description;
};

constexpr qsizetype kMaxRedirectRequest = 16 * 1024;

Redirect parseRedirect(const QByteArray& requestLine) {
    Redirect r;
    const QList<QByteArray> parts = requestLine.split(' ');
    if (parts.size() != 3 || !parts[2].startsWith("HTTP/"))
        return r;
    if (parts[0] != "GET") {
        r.status = 405;
        return r;
    }
    const QByteArray& target = parts[1];
    const qsizetype mark = target.indexOf('?');
    if ((mark < 0 ? target : target.left(mark)) != "/") {
        r.status = 404;
        return r;
    }
    // form encoding (RFC 6749 4.1.2): a plus is a space
    QByteArray query = mark < 0 ? QByteArray() : target.mid(mark + 1);
    query.replace('+', "%20");
    const QUrlQuery items(QString::fromUtf8(query));
    const auto value = [&items](const char* key) {
        return items.queryItemValue(QString::fromLatin1(key), QUrl::FullyDecoded);
    };
    r.status = 200;
    r.state = value("state");
    r.code = value("code");
    r.error = value("error");
    r.description = value("error_description");
    return r;
}

// Plain text, whatever the text holds: nothing of a caller is ever shown as a page.
void answerBrowser(QTcpSocket& socket, int status, const QString& text) {
    const QByteArray body = text.toUtf8();
    const char* reason = status == 200   ? "OK"
                         : status == 404 ? "Not Found"
                         : status == 405 ? "Method Not Allowed"
                                         : "Bad Request";
    socket.write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
                 "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                 QByteArray::number(body.size()) +
                 "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body);
    socket.flush();  // the sign-in may end, and the socket with it, before the event loop runs
    socket.disconnectFromHost();
}

}  // namespace

bool waitWithBusyDisplay(IUserInteraction& ui, const QString& text,
                         const std::function<bool()>& done, const std::function<void()>& onCancel) {
    std::unique_ptr<IProgress> progress = ui.createProgress();
    progress->setCaption(str(ids::kSsCaption));
    progress->setText(text);
    progress->setRange(0, 0);
    bool cancelled = false;
    progress->setCancellable([&cancelled, &onCancel] {
        cancelled = true;
        if (onCancel)
            onCancel();  // wakes the work's own wait at once
    });
    progress->show();
    QEventLoop loop;
    QTimer poll;
    int tick = 0;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        progress->setPosition(++tick);
        if (done() || cancelled || progress->cancelRequested())
            loop.quit();
    });
    poll.start(20);
    loop.exec();
    progress->hide();
    return !cancelled && !progress->cancelRequested();
}

SignInResult signIn(const OAuthValues& values, IUserInteraction& ui, const SignInHooks& hooks) {
    SignInResult result;
    const QString caption = str(ids::kSsCaption);
    const auto fail = [&](const QString& error) {
        result.status = SignInResult::Status::Failed;
        result.error = str(ids::kOAuthSignInFailed).arg(error);
        (void)ui.message(caption, result.error, MessageKind::Information);
        return result;
    };
    if (const QString plain = values.insecureEndpoint(); !plain.isEmpty())
        return fail(str(ids::kOAuthNotHttps).arg(plain));
    if (!values.configured()) {
        result.error = str(ids::kOAuthNoClient);
        (void)ui.message(caption, result.error, MessageKind::Information);
        return result;
    }

    bool ended = false;
    bool taken = false;  // the redirect of this sign-in came
    QString error;
    QJsonObject granted;
    const QString state = randomState();
    const QByteArray verifier = pkceVerifier();
    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> tokenReply;
    // the redirect comes back to this machine only (RFC 8252 7.3), on a port of the system's
    QTcpServer listener;
    if (!listener.listen(QHostAddress::LocalHost, 0))
        return fail(str(ids::kOAuthNoLoopback));
    const QString redirectUri = QStringLiteral("http://127.0.0.1:%1/").arg(listener.serverPort());
    const auto exchange = [&](const QString& code) {
        QByteArray body = formField("grant_type", QStringLiteral("authorization_code")) + '&' +
                          formField("code", code) + '&' + formField("redirect_uri", redirectUri) +
                          '&' + formField("client_id", values.clientId.trimmed()) + '&' +
                          formField("code_verifier", QString::fromLatin1(verifier));
        if (!values.clientSecret.isEmpty())
            body += '&' + formField("client_secret", values.clientSecret);
        tokenReply.reset(network.post(tokenRequest(values, hooks.tokenTimeoutMs), body));
        QObject::connect(tokenReply.get(), &QNetworkReply::finished, [&] {
            ended = true;
            const TokenAnswer a = tokenAnswer(*tokenReply, hooks.tokenTimeoutMs);
            if (a.error.isEmpty())
                granted = a.json;
            else
                error = a.error;
        });
    };

    // Any local process can call the port: only the answer carrying this sign-in's state
    // counts, whether it brings a code or an error; anything else is turned away and the
    // real one still awaited.
    QObject::connect(&listener, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = listener.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            auto request = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [&, socket, request] {
                request->append(socket->readAll());
                const qsizetype headerEnd = request->indexOf("\r\n\r\n");
                if (headerEnd < 0 && request->size() <= kMaxRedirectRequest)
                    return;
                QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
                const Redirect r = parseRedirect(request->left(request->indexOf("\r\n")));
                if (r.status != 200 || taken || r.state != state) {
                    answerBrowser(*socket, r.status == 200 ? 400 : r.status,
                                  str(ids::kOAuthBrowserForeign));
                    return;
                }
                taken = true;
                listener.close();
                if (!r.error.isEmpty()) {
                    ended = true;
                    error = r.description.isEmpty()
                                ? r.error
                                : r.error + QStringLiteral(": ") + r.description;
                    answerBrowser(*socket, 200, str(ids::kOAuthBrowserNotDone));
                } else if (r.code.isEmpty()) {
                    ended = true;
                    error = str(ids::kOAuthNoAnswer);
                    answerBrowser(*socket, 200, str(ids::kOAuthBrowserNotDone));
                } else {
                    answerBrowser(*socket, 200, str(ids::kOAuthBrowserDone));
                    exchange(r.code);
                }
            });
        }
    });

    QUrl authorize(values.effectiveAuthorizeUrl());
    QString query = authorize.query(QUrl::FullyEncoded);
    const auto add = [&query](const char* key, const QString& value) {
        query += (query.isEmpty() ? QString() : QStringLiteral("&")) +
                 QString::fromLatin1(formField(key, value));
    };
    add("response_type", QStringLiteral("code"));
    add("client_id", values.clientId.trimmed());
    add("redirect_uri", redirectUri);
    if (!values.effectiveScope().isEmpty())
        add("scope", values.effectiveScope());
    add("state", state);
    add("code_challenge", QString::fromLatin1(pkceChallenge(verifier)));
    add("code_challenge_method", QStringLiteral("S256"));
    authorize.setQuery(query, QUrl::StrictMode);
    const QString address = authorize.toString(QUrl::FullyEncoded);
    if (!ui.openUrl(address))
        (void)ui.message(caption, str(ids::kOAuthBrowserFailed).arg(address),
                         MessageKind::Information);

    const std::function<bool()> done = [&ended] { return ended; };
    const bool waited = hooks.waitForEnd ? hooks.waitForEnd(done)
                                         : waitWithBusyDisplay(ui, str(ids::kOAuthWaiting), done);
    listener.close();
    if (!waited && !ended) {
        if (tokenReply)
            tokenReply->abort();
        result.status = SignInResult::Status::Cancelled;
        return result;
    }
    if (!error.isEmpty())
        return fail(error);
    const QString access = granted.value(QLatin1String("access_token")).toString();
    const QString refresh = granted.value(QLatin1String("refresh_token")).toString();
    if (access.isEmpty())
        return fail(str(ids::kOAuthNoAnswer));
    if (refresh.isEmpty())
        return fail(str(ids::kOAuthNoRefreshToken));
    result.status = SignInResult::Status::SignedIn;
    result.accessToken = access;
    result.refreshToken = refresh;
    result.accessExpiry = QDateTime::currentDateTimeUtc().addSecs(expiresIn(granted));
    result.account = accountOfIdToken(granted.value(QLatin1String("id_token")).toString());
    return result;
}

// ---------------------------------------------------------------------------------------------

COAuthTokens::COAuthTokens(OAuthValues values, RefreshTokenStore store, Clock clock)
    : m_values(std::move(values)), m_store(std::move(store)), m_clock(std::move(clock)) {
    if (!m_clock)
        m_clock = [] { return QDateTime::currentDateTimeUtc(); };
}

bool COAuthTokens::signedIn() const {
    std::lock_guard lock(m_mutex);
    return !m_values.refreshToken.isEmpty() || !m_values.accessToken.isEmpty();
}

OAuthValues COAuthTokens::current() const {
    std::lock_guard lock(m_mutex);
    return m_values;
}

int COAuthTokens::refreshCount() const {
    std::lock_guard lock(m_mutex);
    return m_refreshes;
}

send::AccessToken COAuthTokens::accessToken(send::TokenNeed need) {
    std::lock_guard lock(m_mutex);
    send::AccessToken t;
    if (!m_deadSignIn.isEmpty()) {
        t.error = m_deadSignIn;
        t.signInNeeded = true;
        return t;
    }
    const bool fresh = !m_values.accessToken.isEmpty() && m_values.accessExpiry.isValid() &&
                       m_clock().secsTo(m_values.accessExpiry) > kRenewMarginSeconds;
    if (need == send::TokenNeed::Valid && fresh) {
        t.ok = true;
        t.token = m_values.accessToken;
        return t;
    }
    if (m_values.refreshToken.isEmpty()) {
        t.error = str(ids::kOAuthNotSignedIn);
        t.signInNeeded = true;
        return t;
    }
    return refresh();
}

send::AccessToken COAuthTokens::refresh() {
    send::AccessToken t;
    if (const QString plain = m_values.insecureEndpoint(); !plain.isEmpty()) {
        t.error = str(ids::kOAuthRefreshFailed).arg(str(ids::kOAuthNotHttps).arg(plain));
        return t;
    }
    ++m_refreshes;
    QByteArray body = formField("grant_type", QStringLiteral("refresh_token")) + '&' +
                      formField("refresh_token", m_values.refreshToken) + '&' +
                      formField("client_id", m_values.clientId.trimmed());
    if (!m_values.clientSecret.isEmpty())
        body += '&' + formField("client_secret", m_values.clientSecret);
    if (!m_values.effectiveScope().isEmpty())
        body += '&' + formField("scope", m_values.effectiveScope());

    // A manager of this thread's own: runs and tests call from their worker threads.
    QNetworkAccessManager network;
    const QNetworkRequest request = tokenRequest(m_values, m_timeoutMs);
    std::unique_ptr<QNetworkReply> reply(network.post(request, body));
    body.fill('\0');
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();

    const QByteArray answer = reply->readAll();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QJsonObject o = QJsonDocument::fromJson(answer).object();
    if (reply->error() == QNetworkReply::NoError && status == 200) {
        const QString access = o.value(QLatin1String("access_token")).toString();
        if (access.isEmpty()) {
            t.error = str(ids::kOAuthRefreshFailed).arg(str(ids::kOAuthNoAnswer));
            return t;
        }
        m_values.accessToken = access;
        m_values.accessExpiry = m_clock().addSecs(expiresIn(o));
        const QString rotated = o.value(QLatin1String("refresh_token")).toString();
        if (!rotated.isEmpty() && rotated != m_values.refreshToken) {
            m_values.refreshToken = rotated;
            if (m_store)
                m_store(rotated);
        }
        t.ok = true;
        t.token = access;
        return t;
    }
    if (reply->error() == QNetworkReply::OperationCanceledError ||
        reply->error() == QNetworkReply::TimeoutError) {
        t.error = str(ids::kOAuthTimeout).arg(m_timeoutMs / 1000.0);
        return t;
    }
    const EndpointError e = endpointError(answer);
    if (e.code == QLatin1String("invalid_grant")) {
        // expired, revoked, or the password changed: only a new sign-in helps
        m_values.accessToken.clear();
        m_deadSignIn = str(ids::kOAuthSignInAgain).arg(e.text);
        t.error = m_deadSignIn;
        t.signInNeeded = true;
        return t;
    }
    if (status == 0) {
        t.error = str(ids::kOAuthUnreachable).arg(reply->errorString());
        return t;
    }
    t.error = str(ids::kOAuthRefreshFailed)
                  .arg(e.code.isEmpty() ? QStringLiteral("HTTP %1").arg(status) : e.text);
    return t;
}

}  // namespace pw::serversettings
