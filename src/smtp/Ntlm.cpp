#include "smtp/Ntlm.h"

#include "smtp/HmacMd5.h"

#include <QDateTime>

#include <array>
#include <cstring>

#include <openssl/crypto.h>
#include <openssl/rand.h>

namespace pw::smtp {

namespace ntlm {

namespace {

std::uint32_t rotl(std::uint32_t x, int s) {
    return (x << s) | (x >> (32 - s));
}

void md4Block(std::array<std::uint32_t, 4>& h, const unsigned char* block) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
        x[i] = static_cast<std::uint32_t>(block[i * 4]) |
               (static_cast<std::uint32_t>(block[i * 4 + 1]) << 8) |
               (static_cast<std::uint32_t>(block[i * 4 + 2]) << 16) |
               (static_cast<std::uint32_t>(block[i * 4 + 3]) << 24);
    }
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    auto f = [](std::uint32_t p, std::uint32_t q, std::uint32_t r) { return (p & q) | (~p & r); };
    auto g = [](std::uint32_t p, std::uint32_t q, std::uint32_t r) {
        return (p & q) | (p & r) | (q & r);
    };
    auto hh = [](std::uint32_t p, std::uint32_t q, std::uint32_t r) { return p ^ q ^ r; };
    static constexpr int s1[4] = {3, 7, 11, 19};
    static constexpr int s2[4] = {3, 5, 9, 13};
    static constexpr int s3[4] = {3, 9, 11, 15};
    static constexpr int order2[16] = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
    static constexpr int order3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    // each step works on the registers rotated by one: (a,b,c,d), (d,a,b,c), (c,d,a,b), ...
    std::uint32_t* r[4] = {&a, &d, &c, &b};
    for (int i = 0; i < 16; ++i) {
        std::uint32_t& t = *r[i % 4];
        std::uint32_t& u = *r[(i + 3) % 4];
        std::uint32_t& v = *r[(i + 2) % 4];
        std::uint32_t& w = *r[(i + 1) % 4];
        t = rotl(t + f(u, v, w) + x[i], s1[i % 4]);
    }
    for (int i = 0; i < 16; ++i) {
        std::uint32_t& t = *r[i % 4];
        std::uint32_t& u = *r[(i + 3) % 4];
        std::uint32_t& v = *r[(i + 2) % 4];
        std::uint32_t& w = *r[(i + 1) % 4];
        t = rotl(t + g(u, v, w) + x[order2[i]] + 0x5A827999u, s2[i % 4]);
    }
    for (int i = 0; i < 16; ++i) {
        std::uint32_t& t = *r[i % 4];
        std::uint32_t& u = *r[(i + 3) % 4];
        std::uint32_t& v = *r[(i + 2) % 4];
        std::uint32_t& w = *r[(i + 1) % 4];
        t = rotl(t + hh(u, v, w) + x[order3[i]] + 0x6ED9EBA1u, s3[i % 4]);
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
}

void put16(QByteArray& out, std::uint16_t v) {
    out.append(static_cast<char>(v & 0xff));
    out.append(static_cast<char>(v >> 8));
}

void put32(QByteArray& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.append(static_cast<char>((v >> (8 * i)) & 0xff));
    }
}

void put64(QByteArray& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        out.append(static_cast<char>((v >> (8 * i)) & 0xff));
    }
}

std::uint16_t get16(const QByteArray& in, qsizetype at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(in[at]) |
                                      (static_cast<unsigned char>(in[at + 1]) << 8));
}

std::uint32_t get32(const QByteArray& in, qsizetype at) {
    return static_cast<std::uint32_t>(get16(in, at)) |
           (static_cast<std::uint32_t>(get16(in, at + 2)) << 16);
}

QByteArray utf16le(const QString& s) {
    QByteArray out;
    out.reserve(s.size() * 2);
    for (QChar c : s) {
        put16(out, c.unicode());
    }
    return out;
}

const QByteArray kSignature("NTLMSSP\0", 8);
constexpr std::uint16_t kAvEol = 0;
constexpr std::uint16_t kAvFlags = 6;
constexpr std::uint16_t kAvTimestamp = 7;

}  // namespace

QByteArray Md4(const QByteArray& data) {
    std::array<std::uint32_t, 4> h = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
    QByteArray padded = data;
    padded.append('\x80');
    while (padded.size() % 64 != 56) {
        padded.append('\0');
    }
    put64(padded, static_cast<std::uint64_t>(data.size()) * 8);
    for (qsizetype i = 0; i < padded.size(); i += 64) {
        md4Block(h, reinterpret_cast<const unsigned char*>(padded.constData()) + i);
    }
    OPENSSL_cleanse(padded.data(), static_cast<size_t>(padded.size()));
    QByteArray out;
    for (std::uint32_t v : h) {
        put32(out, v);
    }
    return out;
}

QByteArray Rc4(const QByteArray& key, const QByteArray& data) {
    unsigned char s[256];
    for (int i = 0; i < 256; ++i) {
        s[i] = static_cast<unsigned char>(i);
    }
    if (key.isEmpty()) {
        return {};
    }
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + static_cast<unsigned char>(key[i % key.size()])) & 0xff;
        std::swap(s[i], s[j]);
    }
    QByteArray out(data.size(), '\0');
    int i = 0, j = 0;
    for (qsizetype n = 0; n < data.size(); ++n) {
        i = (i + 1) & 0xff;
        j = (j + s[i]) & 0xff;
        std::swap(s[i], s[j]);
        out[n] = static_cast<char>(data[n] ^ static_cast<char>(s[(s[i] + s[j]) & 0xff]));
    }
    OPENSSL_cleanse(s, sizeof s);
    return out;
}

QByteArray NtOwfV2(const QString& password, const QString& user, const QString& domain) {
    QByteArray passwordBytes = utf16le(password);
    QByteArray ntHash = Md4(passwordBytes);
    OPENSSL_cleanse(passwordBytes.data(), static_cast<size_t>(passwordBytes.size()));
    const auto key = HmacMd5(utf16le(user.toUpper() + domain), ntHash);
    OPENSSL_cleanse(ntHash.data(), static_cast<size_t>(ntHash.size()));
    return key.value_or(QByteArray());
}

std::optional<Challenge> ParseChallenge(const QByteArray& message) {
    if (message.size() < 32 || !message.startsWith(kSignature) || get32(message, 8) != 2) {
        return std::nullopt;
    }
    Challenge c;
    c.flags = get32(message, 20);
    c.serverChallenge = message.mid(24, 8);
    auto field = [&](qsizetype at) -> std::optional<QByteArray> {
        const std::uint16_t length = get16(message, at);
        const std::uint32_t offset = get32(message, at + 4);
        if (length == 0) {
            return QByteArray();
        }
        if (offset > static_cast<std::uint32_t>(message.size()) ||
            length > message.size() - static_cast<qsizetype>(offset)) {
            return std::nullopt;
        }
        return message.mid(offset, length);
    };
    const auto name = field(12);
    if (!name) {
        return std::nullopt;
    }
    if ((c.flags & kNegotiateUnicode) != 0) {
        for (qsizetype i = 0; i + 1 < name->size(); i += 2) {
            c.targetName.append(QChar(get16(*name, i)));
        }
    } else {
        c.targetName = QString::fromLatin1(*name);
    }
    if (message.size() >= 48) {
        const auto info = field(40);
        if (!info) {
            return std::nullopt;
        }
        c.targetInfo = *info;
    }
    return c;
}

}  // namespace ntlm

using namespace ntlm;

namespace {

constexpr std::uint32_t kClientFlags =
    kNegotiateUnicode | kNegotiateOem | kRequestTarget | kNegotiateNtlm | kNegotiateAlwaysSign |
    kNegotiateExtendedSessionSecurity | kNegotiate128 | kNegotiateKeyExchange | kNegotiate56;

// The server's AV pairs with MsvAvFlags saying that a MIC follows, when the server sent a
// timestamp (which makes the MIC mandatory). Nothing when the list is malformed.
std::optional<QByteArray> clientAvPairs(const QByteArray& info, std::optional<std::uint64_t>& ts) {
    QByteArray out;
    bool haveFlags = false;
    qsizetype at = 0;
    for (;;) {
        if (at + 4 > info.size()) {
            if (info.isEmpty()) {
                break;
            }
            return std::nullopt;
        }
        const std::uint16_t id = get16(info, at);
        const std::uint16_t length = get16(info, at + 2);
        if (at + 4 + length > info.size()) {
            return std::nullopt;
        }
        const QByteArray value = info.mid(at + 4, length);
        at += 4 + length;
        if (id == kAvEol) {
            break;
        }
        if (id == kAvTimestamp && length == 8) {
            std::uint64_t v = 0;
            for (int i = 7; i >= 0; --i) {
                v = (v << 8) | static_cast<unsigned char>(value[i]);
            }
            ts = v;
        }
        if (id == kAvFlags && length == 4) {
            haveFlags = true;
            continue;  // written below with the MIC bit added
        }
        put16(out, id);
        put16(out, length);
        out.append(value);
    }
    if (ts || haveFlags) {
        std::uint32_t flags = 0;
        const qsizetype flagsAt = info.indexOf(QByteArray("\x06\x00\x04\x00", 4));
        if (haveFlags && flagsAt >= 0 && flagsAt + 8 <= info.size()) {
            flags = get32(info, flagsAt + 4);
        }
        if (ts) {
            flags |= 0x2;
        }
        put16(out, kAvFlags);
        put16(out, 4);
        put32(out, flags);
    }
    put16(out, kAvEol);
    put16(out, 0);
    return out;
}

std::uint64_t fileTimeNow() {
    // 100-nanosecond intervals since 1601-01-01
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    return (static_cast<std::uint64_t>(ms) + 11644473600000ull) * 10000ull;
}

QByteArray randomBytes(int n) {
    QByteArray out(n, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), n) != 1) {
        return {};
    }
    return out;
}

void wipe(QByteArray& b) {
    if (!b.isEmpty()) {
        OPENSSL_cleanse(b.data(), static_cast<size_t>(b.size()));
    }
    b.clear();
}

}  // namespace

void CNTLMClientAuth::SetCredentials(const QString& userName, const QString& password) {
    const qsizetype slash = userName.indexOf(QLatin1Char('\\'));
    if (slash >= 0) {
        m_domain = userName.left(slash);
        m_user = userName.mid(slash + 1);
    } else {
        m_domain.clear();
        m_user = userName;
    }
    m_password = password;
}

void CNTLMClientAuth::SetFixedRandomness(const QByteArray& clientChallenge, std::uint64_t timestamp,
                                         const QByteArray& sessionKey) {
    m_fixed = true;
    m_fixedClientChallenge = clientChallenge;
    m_fixedTimestamp = timestamp;
    m_fixedSessionKey = sessionKey;
}

void CNTLMClientAuth::Clear() {
    m_password.fill(QChar(0));
    m_password.clear();
    wipe(m_sessionBaseKey);
    wipe(m_encryptedKey);
    wipe(m_ntProofStr);
    wipe(m_lmResponse);
}

QByteArray CNTLMClientAuth::NegotiateMessage() const {
    QByteArray m = kSignature;
    put32(m, 1);
    put32(m, kClientFlags);
    // empty domain and workstation fields
    for (int i = 0; i < 2; ++i) {
        put16(m, 0);
        put16(m, 0);
        put32(m, 32);
    }
    return m;
}

std::optional<QByteArray> CNTLMClientAuth::AuthenticateMessage(const QByteArray& challengeBytes) {
    const auto challenge = ParseChallenge(challengeBytes);
    if (!challenge) {
        return std::nullopt;
    }
    std::optional<std::uint64_t> serverTime;
    const auto avPairs = clientAvPairs(challenge->targetInfo, serverTime);
    if (!avPairs) {
        return std::nullopt;
    }
    const bool unicode = (challenge->flags & kNegotiateUnicode) != 0;
    const std::uint32_t flags = (challenge->flags & kClientFlags) | (unicode ? 0 : kNegotiateOem) |
                                (challenge->flags & kNegotiateVersion);
    const QByteArray clientChallenge = m_fixed ? m_fixedClientChallenge : randomBytes(8);
    const std::uint64_t timestamp = m_fixed ? m_fixedTimestamp : serverTime.value_or(fileTimeNow());
    if (clientChallenge.size() != 8) {
        return std::nullopt;
    }

    QByteArray responseKey = NtOwfV2(m_password, m_user, m_domain);
    QByteArray temp;
    temp.append("\x01\x01\x00\x00\x00\x00\x00\x00", 8);
    put64(temp, timestamp);
    temp.append(clientChallenge);
    put32(temp, 0);
    temp.append(*avPairs);
    put32(temp, 0);
    m_ntProofStr = HmacMd5(challenge->serverChallenge + temp, responseKey).value_or(QByteArray());
    const QByteArray ntResponse = m_ntProofStr + temp;
    if (serverTime) {
        m_lmResponse = QByteArray(24, '\0');
    } else {
        m_lmResponse = HmacMd5(challenge->serverChallenge + clientChallenge, responseKey)
                           .value_or(QByteArray()) +
                       clientChallenge;
    }
    m_sessionBaseKey = HmacMd5(m_ntProofStr, responseKey).value_or(QByteArray());
    wipe(responseKey);
    if (m_ntProofStr.size() != 16 || m_sessionBaseKey.size() != 16) {
        return std::nullopt;
    }
    QByteArray exportedKey;
    if ((flags & kNegotiateKeyExchange) != 0) {
        exportedKey = m_fixed ? m_fixedSessionKey : randomBytes(16);
        if (exportedKey.size() != 16) {
            return std::nullopt;
        }
        m_encryptedKey = Rc4(m_sessionBaseKey, exportedKey);
    } else {
        exportedKey = m_sessionBaseKey;
        m_encryptedKey.clear();
    }

    const QByteArray domain = unicode ? utf16le(m_domain) : m_domain.toLatin1();
    const QByteArray user = unicode ? utf16le(m_user) : m_user.toLatin1();
    const QByteArray workstation;

    // header 64 bytes, version 8, MIC 16, then the payload
    constexpr std::uint32_t kPayload = 88;
    QByteArray m = kSignature;
    put32(m, 3);
    QByteArray payload;
    auto field = [&](const QByteArray& value) {
        put16(m, static_cast<std::uint16_t>(value.size()));
        put16(m, static_cast<std::uint16_t>(value.size()));
        put32(m, kPayload + static_cast<std::uint32_t>(payload.size()));
        payload.append(value);
    };
    field(m_lmResponse);
    field(ntResponse);
    field(domain);
    field(user);
    field(workstation);
    field(m_encryptedKey);
    put32(m, flags);
    m.append("\x06\x01\xb1\x1d\x00\x00\x00\x0f", 8);  // version 6.1.7601, NTLM revision 15
    const qsizetype micAt = m.size();
    m.append(QByteArray(16, '\0'));
    m.append(payload);
    if (serverTime) {
        const auto mic = HmacMd5(NegotiateMessage() + challengeBytes + m, exportedKey);
        if (!mic) {
            return std::nullopt;
        }
        m.replace(micAt, 16, *mic);
    }
    wipe(exportedKey);
    return m;
}

}  // namespace pw::smtp
