#include "smtp/HmacMd5.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace pw::smtp {

std::optional<QByteArray> Md5(const QByteArray& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.constData(), static_cast<size_t>(data.size()), digest, &length, EVP_md5(),
                   nullptr) != 1 ||
        length != 16) {
        return std::nullopt;
    }
    return QByteArray(reinterpret_cast<const char*>(digest), 16);
}

std::optional<QByteArray> HmacMd5(const QByteArray& data, const QByteArray& key) {
    constexpr int kBlock = 64;
    QByteArray k = key;
    if (k.size() > kBlock) {
        const auto hashed = Md5(k);
        if (!hashed) {
            return std::nullopt;
        }
        k = *hashed;
    }
    QByteArray inner(kBlock, '\0');
    QByteArray outer(kBlock, '\0');
    for (int i = 0; i < kBlock; ++i) {
        const char b = i < k.size() ? k[i] : '\0';
        inner[i] = static_cast<char>(b ^ 0x36);
        outer[i] = static_cast<char>(b ^ 0x5c);
    }
    const auto innerDigest = Md5(inner + data);
    std::optional<QByteArray> result;
    if (innerDigest) {
        result = Md5(outer + *innerDigest);
    }
    // the pads are the key in disguise
    OPENSSL_cleanse(inner.data(), static_cast<size_t>(inner.size()));
    OPENSSL_cleanse(outer.data(), static_cast<size_t>(outer.size()));
    if (k.size() > 0 && !k.isSharedWith(key)) {
        OPENSSL_cleanse(k.data(), static_cast<size_t>(k.size()));
    }
    return result;
}

QByteArray DigestToHex(const QByteArray& digest) {
    return digest.toHex();
}

}  // namespace pw::smtp
