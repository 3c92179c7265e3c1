#pragma once
// NTLM client messages with NTLMv2 responses, built from the published NTLM protocol
// description on OpenSSL's MD5 (MD4 and RC4 are written here: OpenSSL 3 keeps them in its
// legacy provider, which a system need not load).

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace pw::smtp {

namespace ntlm {
inline constexpr std::uint32_t kNegotiateUnicode = 0x00000001;
inline constexpr std::uint32_t kNegotiateOem = 0x00000002;
inline constexpr std::uint32_t kRequestTarget = 0x00000004;
inline constexpr std::uint32_t kNegotiateNtlm = 0x00000200;
inline constexpr std::uint32_t kNegotiateAlwaysSign = 0x00008000;
inline constexpr std::uint32_t kNegotiateExtendedSessionSecurity = 0x00080000;
inline constexpr std::uint32_t kNegotiateTargetInfo = 0x00800000;
inline constexpr std::uint32_t kNegotiateVersion = 0x02000000;
inline constexpr std::uint32_t kNegotiate128 = 0x20000000;
inline constexpr std::uint32_t kNegotiateKeyExchange = 0x40000000;
inline constexpr std::uint32_t kNegotiate56 = 0x80000000;

[[nodiscard]] QByteArray Md4(const QByteArray& data);
[[nodiscard]] QByteArray Rc4(const QByteArray& key, const QByteArray& data);
// NTOWFv2: HMAC-MD5 keyed with MD4(UTF-16LE password) over UTF-16LE(upper(user) + domain).
[[nodiscard]] QByteArray NtOwfV2(const QString& password, const QString& user,
                                 const QString& domain);

// The parts of a server's CHALLENGE message the client needs.
struct Challenge {
    std::uint32_t flags = 0;
    QByteArray serverChallenge;  // 8 bytes
    QByteArray targetInfo;       // AV pairs, as sent
    QString targetName;
};
// Nothing when the bytes are not a well-formed CHALLENGE message.
[[nodiscard]] std::optional<Challenge> ParseChallenge(const QByteArray& message);
}  // namespace ntlm

class CNTLMClientAuth {
public:
    // "DOMAIN\user" splits at the first backslash.
    void SetCredentials(const QString& userName, const QString& password);

    // The NEGOTIATE message.
    [[nodiscard]] QByteArray NegotiateMessage() const;
    // The AUTHENTICATE message answering a CHALLENGE message; nothing when the challenge is
    // malformed.
    [[nodiscard]] std::optional<QByteArray> AuthenticateMessage(const QByteArray& challenge);

    // Fixed values instead of fresh random ones, for the published test vectors.
    void SetFixedRandomness(const QByteArray& clientChallenge, std::uint64_t timestamp,
                            const QByteArray& sessionKey);

    // Results of the last AuthenticateMessage, for tests.
    [[nodiscard]] const QByteArray& NtProofStr() const { return m_ntProofStr; }
    [[nodiscard]] const QByteArray& LmResponse() const { return m_lmResponse; }
    [[nodiscard]] const QByteArray& SessionBaseKey() const { return m_sessionBaseKey; }
    [[nodiscard]] const QByteArray& EncryptedSessionKey() const { return m_encryptedKey; }

    void Clear();

private:
    QString m_user;
    QString m_domain;
    QString m_password;
    bool m_fixed = false;
    QByteArray m_fixedClientChallenge;
    std::uint64_t m_fixedTimestamp = 0;
    QByteArray m_fixedSessionKey;

    QByteArray m_ntProofStr;
    QByteArray m_lmResponse;
    QByteArray m_sessionBaseKey;
    QByteArray m_encryptedKey;
};

}  // namespace pw::smtp
