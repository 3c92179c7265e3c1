#pragma once
// Signing in to a mail provider by OAuth 2.0: the authorization-code flow with PKCE and a
// loopback redirect (RFC 8252) in the desktop browser, and the access tokens of a sign-in,
// renewed from its refresh token before they expire. Nothing of anyone's client registration
// is built in: the client ID (and secret) are settings.

#include <QDateTime>
#include <QString>
#include <functional>
#include <mutex>

#include "resources/UserInteraction.h"
#include "send/SendRules.h"

namespace pw::serversettings {

// "OAuthProvider", in the order the settings file numbers them.
enum class OAuthProvider : int { None = 0, Microsoft365 = 1, Google = 2, Custom = 3 };

// What a provider preset fills in: its endpoints, the scope SMTP sending needs, and the
// server to send through.
struct OAuthPreset {
    QString authorizeUrl;
    QString tokenUrl;
    QString scope;
    QString smtpServer;
    int smtpPort = 587;
    smtp::ConnectionType smtpConnectionType = smtp::ConnectionType::StartTls;
};
// Empty for None and Custom.
[[nodiscard]] OAuthPreset oauthPreset(OAuthProvider provider);

// A sign-in's configuration and, once signed in, its state.
struct OAuthValues {
    OAuthProvider provider = OAuthProvider::None;
    QString clientId;
    QString clientSecret;  // only where the provider wants one (Google's desktop clients)
    QString authorizeUrl;  // custom provider; the presets bring their own
    QString tokenUrl;
    QString scope;
    QString account;       // the account signed in, as the provider named it
    QString refreshToken;  // empty: not signed in
    // The access token of the sign-in, held in memory only.
    QString accessToken;
    QDateTime accessExpiry;
    friend bool operator==(const OAuthValues&, const OAuthValues&) = default;

    // The endpoints and scope in use: the preset's, or the custom ones.
    [[nodiscard]] QString effectiveAuthorizeUrl() const;
    [[nodiscard]] QString effectiveTokenUrl() const;
    [[nodiscard]] QString effectiveScope() const;
    // An endpoint in plain http:// to another machine (the first one), else empty: the code,
    // the tokens and the client secret would cross the network readable.
    [[nodiscard]] QString insecureEndpoint() const;
    // A provider, a client ID and both endpoints (https://, or http:// on loopback): a
    // sign-in can start.
    [[nodiscard]] bool configured() const;
    [[nodiscard]] bool signedIn() const { return !refreshToken.isEmpty(); }
};

// PKCE (RFC 7636): a verifier of 64 unreserved characters from a strong random source, and
// its S256 challenge (base64url of its SHA-256, without padding).
[[nodiscard]] QByteArray pkceVerifier();
[[nodiscard]] QByteArray pkceChallenge(const QByteArray& verifier);
// The account an OpenID id_token names ("email", else "preferred_username"); empty when the
// text is no such token. Its signature is not checked: the name is only shown.
[[nodiscard]] QString accountOfIdToken(const QString& idToken);

// The busy display with Cancel (caption "Server Settings") while the interface thread keeps
// serving its windows, until `done` or the user cancels (then `onCancel` runs at once).
// False when cancelled.
[[nodiscard]] bool waitWithBusyDisplay(IUserInteraction& ui, const QString& text,
                                       const std::function<bool()>& done,
                                       const std::function<void()>& onCancel = {});

struct SignInResult {
    enum class Status { SignedIn, Cancelled, Failed };
    Status status = Status::Failed;
    QString refreshToken;
    QString accessToken;
    QDateTime accessExpiry;  // UTC
    QString account;
    QString error;  // the message shown, with Failed
};

struct SignInHooks {
    // Waits until `done` says the flow ended (true) or the user gave up (false). Empty: a
    // busy display with Cancel through the user interaction.
    std::function<bool(const std::function<bool()>& done)> waitForEnd;
    // How long the token endpoint may take once the browser came back.
    int tokenTimeoutMs = 30000;
};

// The whole sign-in: listens on a loopback port, opens the provider's page in the browser
// (through IUserInteraction::openUrl), takes the redirect carrying its state (others are
// turned away and it keeps listening) and exchanges the code with the PKCE verifier. Failures
// are told to the user and returned.
[[nodiscard]] SignInResult signIn(const OAuthValues& values, IUserInteraction& ui,
                                  const SignInHooks& hooks = {});

// The access tokens of one sign-in, for connection tests and send runs (any thread).
class COAuthTokens : public send::IAccessTokens {
public:
    using Clock = std::function<QDateTime()>;
    // Told a new refresh token when the provider replaces the old one.
    using RefreshTokenStore = std::function<void(const QString&)>;

    // A token with less than this left is renewed before use.
    static constexpr int kRenewMarginSeconds = 300;
    static constexpr int kDefaultTimeoutMs = 30000;

    explicit COAuthTokens(OAuthValues values, RefreshTokenStore store = {}, Clock clock = {});

    [[nodiscard]] bool signedIn() const override;
    [[nodiscard]] send::AccessToken accessToken(send::TokenNeed need) override;

    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    // The sign-in as it is now: a renewed access token, a refresh token the provider replaced.
    [[nodiscard]] OAuthValues current() const;
    // How often the token endpoint was asked (tests, and nothing else).
    [[nodiscard]] int refreshCount() const;

private:
    [[nodiscard]] send::AccessToken refresh();

    mutable std::mutex m_mutex;
    OAuthValues m_values;
    RefreshTokenStore m_store;
    Clock m_clock;
    int m_timeoutMs = kDefaultTimeoutMs;
    int m_refreshes = 0;
    // The sign-in was found expired or revoked: the provider is not asked again until the
    // user signs in anew, so no run can go round asking it.
    QString m_deadSignIn;
};

}  // namespace pw::serversettings
