#pragma once
// MD5 and HMAC-MD5 (RFC 2104) for CRAM-MD5 and NTLM, with MD5 from OpenSSL.

#include <QByteArray>

#include <optional>

namespace pw::smtp {

// The 16-byte MD5 digest, or nothing when the library refuses (a FIPS-only setup).
[[nodiscard]] std::optional<QByteArray> Md5(const QByteArray& data);

// HMAC-MD5: a key over 64 bytes is replaced by its MD5 digest.
[[nodiscard]] std::optional<QByteArray> HmacMd5(const QByteArray& data, const QByteArray& key);

// Lower-case hexadecimal digits of a digest.
[[nodiscard]] QByteArray DigestToHex(const QByteArray& digest);

class CKTWMD5 {
public:
    [[nodiscard]] std::optional<QByteArray> HMAC(const QByteArray& data,
                                                 const QByteArray& key) const {
        return HmacMd5(data, key);
    }
};

}  // namespace pw::smtp
