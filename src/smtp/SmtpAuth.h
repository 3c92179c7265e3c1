#pragma once
// The pieces of SMTP authentication that do not touch the wire: the method numbers, the
// automatic choice from an EHLO reply, challenge decoding and the credential encodings.

#include <QByteArray>
#include <QString>

#include <optional>

namespace pw::smtp {

// Numbers shared with the settings and the send run.
enum class AuthMethod : int {
    None = 0,
    CramMd5 = 1,
    Login = 2,
    Plain = 3,
    Ntlm = 4,
    Automatic = 5,
    // Bearer tokens of an OAuth 2.0 sign-in (RFC 7628 and the older XOAUTH2).
    XOAuth2 = 6,
    OAuthBearer = 7,
    // Whichever of the two the server offers, OAUTHBEARER first.
    OAuth2 = 8,
};

// Whether the method signs in with a bearer token rather than a password.
[[nodiscard]] bool isBearerMethod(AuthMethod method);

// The mechanisms a server lists after "AUTH" (or the old "AUTH="), from any line of its EHLO
// reply, upper-cased and separated by blanks; empty when it lists none.
[[nodiscard]] QString AuthMechanismsFromEhlo(const QString& ehloResponse);
// Whether the EHLO reply offers an extension keyword (e.g. "STARTTLS") on any line.
[[nodiscard]] bool EhloOffers(const QString& ehloResponse, const QString& keyword);

// The SIZE extension of an EHLO reply: nullopt when not offered, 0 when offered without a
// fixed limit, else the largest message the server takes, in octets.
[[nodiscard]] std::optional<qint64> EhloSizeLimit(const QString& ehloResponse);

// NTLM before CRAM-MD5 before LOGIN before PLAIN; None when none of them is listed.
[[nodiscard]] AuthMethod ChooseAuthMethod(const QString& mechanisms);
// With a bearer token: OAUTHBEARER, then XOAUTH2 when listed; otherwise the choice above.
enum class TokenAvailable { No, Yes };
[[nodiscard]] AuthMethod ChooseAuthMethod(const QString& mechanisms, TokenAvailable token);

// The initial responses of the bearer mechanisms, not yet base64. OAUTHBEARER: the GS2
// header with the authorisation identity, host and port, then "auth=Bearer" (RFC 7628 3.1);
// XOAUTH2: "user=", "auth=Bearer", separated by ^A.
[[nodiscard]] QByteArray OAuthBearerResponse(const QString& user, const QString& host, int port,
                                             const QString& token);
[[nodiscard]] QByteArray XOAuth2Response(const QString& user, const QString& token);
// The JSON status a server sends in the 334 challenge of a refused token ("status",
// "schemes", "scope"), as one readable line; empty when the challenge is no JSON object.
[[nodiscard]] QString BearerErrorStatus(const QByteArray& decodedChallenge);

// A "334 " reply's challenge: the text after the first four characters, base64-decoded with
// every character outside the alphabet skipped.
[[nodiscard]] QByteArray DecodeChallenge(const QByteArray& lastResponse);

// "\0" user "\0" password (empty authorisation identity), not yet base64.
[[nodiscard]] QByteArray PlainCredentials(const QString& user, const QString& password);
// user " " the 32 lower-case hex digits of HMAC-MD5(challenge, password); empty when MD5 is
// unavailable.
[[nodiscard]] QByteArray CramMd5Answer(const QString& user, const QString& password,
                                       const QByteArray& challenge);

// Overwrites the bytes with zeros (not optimised away) and empties the array.
void WipeBytes(QByteArray& bytes) noexcept;

}  // namespace pw::smtp
