#pragma once
// The SMTP client's own user-visible texts (it links nothing else of the system), in the
// language chosen through SmtpLanguage.h.

#include <QString>

namespace pw::smtp {

// Message numbers of the session's and the authentication's errors.
namespace msg {
inline constexpr int kUnexpectedLoginResponse = 257;  // the greeting
inline constexpr int kUnexpectedEhloResponse = 258;
inline constexpr int kUnexpectedHeloResponse = 259;
inline constexpr int kUnexpectedQuitResponse = 260;
inline constexpr int kUnexpectedMailFromResponse = 261;
inline constexpr int kUnexpectedDataResponse = 262;
inline constexpr int kUnexpectedEndOfMessageResponse = 266;
inline constexpr int kUnexpectedRcptToResponse = 270;
inline constexpr int kGracefulDisconnect = 271;
inline constexpr int kUnexpectedAuthLoginResponse = 272;
inline constexpr int kUnexpectedAuthLoginUserRequest = 273;
inline constexpr int kUnexpectedAuthLoginUserResponse = 274;
inline constexpr int kUnexpectedAuthLoginPasswordRequest = 275;
inline constexpr int kUnexpectedAuthLoginPasswordResponse = 276;
inline constexpr int kUnexpectedAuthPlainResponse = 277;
inline constexpr int kUnexpectedCramMd5Response = 278;
inline constexpr int kUnexpectedCramMd5DigestResponse = 279;
inline constexpr int kUnexpectedAuthNtlmResponse = 516;
// Below the TLS numbers: a refusal of this message alone, the session stays usable.
inline constexpr int kMessageTooLarge = 517;
inline constexpr int kFailCreateSslSocket = 625;
inline constexpr int kStartTlsNotOffered = 626;
inline constexpr int kUnexpectedStartTlsResponse = 627;
inline constexpr int kCertificateRefused = 628;
inline constexpr int kFailReceiveViaSsl = 629;
inline constexpr int kFailCreateSslContext = 630;
inline constexpr int kFailConnectViaSsl = 631;
inline constexpr int kFailSendViaSsl = 632;
inline constexpr int kUnexpectedXOAuth2Response = 740;
inline constexpr int kUnexpectedOAuthBearerResponse = 741;
// The server refused the bearer token (expired, revoked, the wrong scope): worth one fresh
// token, never more.
inline constexpr int kBearerTokenRefused = 742;
}  // namespace msg

// The text of a message number in the current language; empty for an unknown number.
[[nodiscard]] QString smtpText(int id);
[[nodiscard]] bool hasSmtpText(int id);
// Every number with a text (for checks of the table).
[[nodiscard]] QList<int> smtpTextIds();

}  // namespace pw::smtp
