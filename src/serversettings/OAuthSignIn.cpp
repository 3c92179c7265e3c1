#include "serversettings/OAuthSignIn.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QOAuth2AuthorizationCodeFlow>
#include <QOAuthHttpServerReplyHandler>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>
#include <memory>

#include "resources/Strings.h"

namespace pw::serversettings {

OAuthProvider oauthProviderFromSetting(int value) {
    switch (value) {
        case 1:
            return OAuthProvider::Microsoft365;
        case 2:
            return OAuthProvider::Google;
        case 3:
            return OAuthProvider::Custom;
        default:
            return OAuthProvider::None;
    }
}

OAuthPreset oauthPreset(OAuthProvider provider) {
    OAuthPreset p;
    switch (provider) {
        case OAuthProvider::Microsoft365:
            // "common": work and school accounts of any tenant; offline_access brings the
            // refresh token, openid and email the account's name
            p.authorizeUrl =
                QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/authorize");
            p.tokenUrl =
                QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/token");
            p.scope =
                QStringLiteral("https://outlook.office.com/SMTP.Send offline_access openid email");
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
               (u.scheme() == QLatin1String("https") || u.scheme() == QLatin1String("http")) &&
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
    if (!values.configured()) {
        result.error = str(ids::kOAuthNoClient);
        (void)ui.message(caption, result.error, MessageKind::Information);
        return result;
    }

    QNetworkAccessManager network;
    QOAuth2AuthorizationCodeFlow flow;
    flow.setNetworkAccessManager(&network);
    flow.setAuthorizationUrl(QUrl(values.effectiveAuthorizeUrl()));
    flow.setAccessTokenUrl(QUrl(values.effectiveTokenUrl()));
    flow.setClientIdentifier(values.clientId.trimmed());
    if (!values.clientSecret.isEmpty())
        flow.setClientIdentifierSharedKey(values.clientSecret);
    flow.setScope(values.effectiveScope());
    // the redirect comes back to this machine only (RFC 8252 7.3), on a port of the system's
    auto* handler = new QOAuthHttpServerReplyHandler(QHostAddress::LocalHost, 0, &flow);
    if (!handler->isListening())
        return fail(str(ids::kOAuthNoLoopback));
    handler->setCallbackText(str(ids::kOAuthBrowserDone));
    flow.setReplyHandler(handler);
    const QByteArray verifier = pkceVerifier();
    flow.setModifyParametersFunction(
        [verifier](QAbstractOAuth::Stage stage, QMultiMap<QString, QVariant>* parameters) {
            if (stage == QAbstractOAuth::Stage::RequestingAuthorization) {
                parameters->insert(QStringLiteral("code_challenge"), pkceChallenge(verifier));
                parameters->insert(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
            } else if (stage == QAbstractOAuth::Stage::RequestingAccessToken) {
                parameters->insert(QStringLiteral("code_verifier"), verifier);
            }
        });

    bool ended = false;
    QString error;
    QTimer tokenTimeout;
    tokenTimeout.setSingleShot(true);
    QObject::connect(&tokenTimeout, &QTimer::timeout, [&] {
        ended = true;
        error = str(ids::kOAuthTimeout).arg(hooks.tokenTimeoutMs / 1000.0);
    });
    QObject::connect(&flow, &QAbstractOAuth::authorizeWithBrowser, [&](const QUrl& url) {
        const QString address = url.toString(QUrl::FullyEncoded);
        if (!ui.openUrl(address))
            (void)ui.message(caption, str(ids::kOAuthBrowserFailed).arg(address),
                             MessageKind::Information);
    });
    QObject::connect(
        &flow, &QAbstractOAuth2::authorizationCallbackReceived, [&](const QVariantMap& data) {
            if (data.contains(QStringLiteral("error"))) {
                ended = true;
                error = data.value(QStringLiteral("error")).toString();
                const QString d = data.value(QStringLiteral("error_description")).toString();
                if (!d.isEmpty())
                    error += QStringLiteral(": ") + d;
                return;
            }
            tokenTimeout.start(hooks.tokenTimeoutMs);
        });
    QObject::connect(&flow, &QAbstractOAuth::granted, [&] { ended = true; });
    QObject::connect(&flow, &QAbstractOAuth2::error,
                     [&](const QString& code, const QString& description, const QUrl&) {
                         ended = true;
                         error = description.isEmpty() ? code
                                                       : code + QStringLiteral(": ") + description;
                     });
    // Qt's flow drops a refused token request without a word: the reply tells why.
    QObject::connect(&network, &QNetworkAccessManager::finished, [&](QNetworkReply* reply) {
        if (reply->error() == QNetworkReply::NoError)
            return;
        const EndpointError e = endpointError(reply->peek(64 * 1024));
        ended = true;
        error = e.code.isEmpty() ? reply->errorString() : e.text;
    });

    flow.grant();
    const std::function<bool()> done = [&ended] { return ended; };
    const bool waited = hooks.waitForEnd ? hooks.waitForEnd(done)
                                         : waitWithBusyDisplay(ui, str(ids::kOAuthWaiting), done);
    handler->close();
    if (!waited && !ended) {
        result.status = SignInResult::Status::Cancelled;
        return result;
    }
    if (!error.isEmpty() || flow.status() != QAbstractOAuth::Status::Granted)
        return fail(error.isEmpty() ? str(ids::kOAuthNoAnswer) : error);
    if (flow.refreshToken().isEmpty())
        return fail(str(ids::kOAuthNoRefreshToken));
    result.status = SignInResult::Status::SignedIn;
    result.accessToken = flow.token();
    result.refreshToken = flow.refreshToken();
    result.accessExpiry = flow.expirationAt().toUTC();
    result.account =
        accountOfIdToken(flow.extraTokens().value(QStringLiteral("id_token")).toString());
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
    ++m_refreshes;
    send::AccessToken t;
    const auto form = [](const char* key, const QString& value) {
        return QByteArray(key) + '=' + QUrl::toPercentEncoding(value);
    };
    QByteArray body = form("grant_type", QStringLiteral("refresh_token")) + '&' +
                      form("refresh_token", m_values.refreshToken) + '&' +
                      form("client_id", m_values.clientId.trimmed());
    if (!m_values.clientSecret.isEmpty())
        body += '&' + form("client_secret", m_values.clientSecret);
    if (!m_values.effectiveScope().isEmpty())
        body += '&' + form("scope", m_values.effectiveScope());

    // A manager of this thread's own: runs and tests call from their worker threads.
    QNetworkAccessManager network;
    QNetworkRequest request{QUrl(m_values.effectiveTokenUrl())};
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Accept", "application/json");
    request.setTransferTimeout(m_timeoutMs);
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
        const QJsonValue e = o.value(QLatin1String("expires_in"));
        qint64 seconds = e.isString() ? e.toString().toLongLong() : e.toInteger(3600);
        if (seconds <= 0)
            seconds = 3600;
        m_values.accessToken = access;
        m_values.accessExpiry = m_clock().addSecs(seconds);
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
