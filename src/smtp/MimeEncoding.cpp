#include "smtp/MimeEncoding.h"

#include "smtp/Charsets.h"

#include <algorithm>
#include <string_view>

namespace pw::smtp {

QByteArray base64Lines(QByteArrayView bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const qsizetype groups = (bytes.size() + 2) / 3;
    const qsizetype chars = groups * 4;
    const qsizetype lines = (chars + 75) / 76;
    QByteArray out(chars + (lines > 0 ? (lines - 1) * 2 : 0), Qt::Uninitialized);
    char* o = out.data();
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    qsizetype left = bytes.size();
    int column = 0;
    while (left > 0) {
        if (column == 76) {
            *o++ = '\r';
            *o++ = '\n';
            column = 0;
        }
        const unsigned b0 = in[0];
        const unsigned b1 = left > 1 ? in[1] : 0;
        const unsigned b2 = left > 2 ? in[2] : 0;
        o[0] = kAlphabet[b0 >> 2];
        o[1] = kAlphabet[((b0 & 0x03) << 4) | (b1 >> 4)];
        o[2] = left > 1 ? kAlphabet[((b1 & 0x0F) << 2) | (b2 >> 6)] : '=';
        o[3] = left > 2 ? kAlphabet[b2 & 0x3F] : '=';
        o += 4;
        column += 4;
        in += 3;
        left -= 3;
    }
    return out;
}

QByteArray quotedPrintable(QByteArrayView bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(bytes.size() + bytes.size() / 2 + 16);
    int line = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const bool last = i + 1 == bytes.size();
        if ((c >= '!' && c <= '<') || (c >= '>' && c <= '~')) {
            out.append(static_cast<char>(c));
            ++line;
        } else if ((c == ' ' || c == '\t') && line < 64 && !last) {
            out.append(static_cast<char>(c));
            ++line;
        } else {
            out.append('=');
            out.append(kHex[c >> 4]);
            out.append(kHex[c & 0x0F]);
            line += 3;
        }
        if (line > 64) {
            out.append("=\r\n", 3);
            line = 0;
        }
    }
    return out;
}

QByteArray encodedWord(const QString& charset, QByteArrayView bytes) {
    QByteArray out = "=?";
    out += charset.toUtf8();
    out += "?B?";
    out += QByteArray::fromRawData(bytes.data(), bytes.size()).toBase64();
    out += "?=";
    return out;
}

QByteArray dotFix(QByteArrayView bytes) {
    qsizetype extra = bytes.startsWith('.') ? 1 : 0;
    for (qsizetype i = 0; i + 2 < bytes.size(); ++i) {
        if (bytes[i] == '\r' && bytes[i + 1] == '\n' && bytes[i + 2] == '.') {
            ++extra;
        }
    }
    if (extra == 0) {
        return bytes.toByteArray();
    }
    QByteArray out;
    out.reserve(bytes.size() + extra);
    if (bytes.startsWith('.')) {
        out.append('.');
    }
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        out.append(bytes[i]);
        if (bytes[i] == '\n' && i > 0 && bytes[i - 1] == '\r' && i + 1 < bytes.size() &&
            bytes[i + 1] == '.') {
            out.append('.');
        }
    }
    return out;
}

}  // namespace pw::smtp

namespace pw::smtp {

QByteArray quotedPrintableText(QByteArrayView bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    // 76 characters per line with the "=" of a soft break
    constexpr int kRoom = 75;
    QByteArray out;
    out.reserve(bytes.size() + bytes.size() / 2 + 16);
    int line = 0;
    auto put = [&](const char* piece, int length) {
        if (line + length > kRoom) {
            out.append("=\r\n", 3);
            line = 0;
        }
        out.append(piece, length);
        line += length;
    };
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\r' && i + 1 < n && bytes[i + 1] == '\n') {
            out.append("\r\n", 2);
            line = 0;
            ++i;
            continue;
        }
        const bool beforeBreak =
            i + 1 == n || (bytes[i + 1] == '\r' && i + 2 < n && bytes[i + 2] == '\n');
        const bool literal =
            (c >= '!' && c <= '~' && c != '=') || ((c == ' ' || c == '\t') && !beforeBreak);
        if (literal) {
            const char ch = static_cast<char>(c);
            put(&ch, 1);
        } else {
            const char encoded[3] = {'=', kHex[c >> 4], kHex[c & 0x0F]};
            put(encoded, 3);
        }
    }
    return out;
}

TextEncoding textEncodingFor(QByteArrayView bytes, BodyTransport transport) {
    qsizetype eightBit = 0;
    bool nul = false;
    bool bareBreak = false;
    qsizetype line = 0;
    qsizetype longest = 0;
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\r' && i + 1 < n && bytes[i + 1] == '\n') {
            longest = std::max(longest, line);
            line = 0;
            ++i;
            continue;
        }
        if (c == '\r' || c == '\n') {
            bareBreak = true;
        } else if (c == 0) {
            nul = true;
        } else if (c >= 0x80) {
            ++eightBit;
        }
        // the dot fix lengthens a line that starts with "."
        line += (line == 0 && c == '.') ? 2 : 1;
    }
    longest = std::max(longest, line);
    const bool fits = !nul && !bareBreak && longest <= kMaxLineOctets;
    if (fits && eightBit == 0) {
        return TextEncoding::SevenBit;
    }
    if (fits && transport == BodyTransport::EightBit) {
        return TextEncoding::EightBit;
    }
    return eightBit * 3 > n ? TextEncoding::Base64 : TextEncoding::QuotedPrintable;
}

const char* textEncodingName(TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::SevenBit:
            return "7bit";
        case TextEncoding::EightBit:
            return "8bit";
        case TextEncoding::QuotedPrintable:
            return "quoted-printable";
        case TextEncoding::Base64:
            return "base64";
    }
    return "7bit";
}

QByteArray encodeText(QByteArrayView bytes, TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::QuotedPrintable:
            return quotedPrintableText(bytes);
        case TextEncoding::Base64:
            return base64Lines(bytes);
        case TextEncoding::SevenBit:
        case TextEncoding::EightBit:
            break;
    }
    return bytes.toByteArray();
}

}  // namespace pw::smtp

namespace pw::smtp {

// Readers stop at 75 characters per encoded word (and lines have a hard limit), so a word
// that would be longer is cut between characters into several words.
QList<QByteArray> encodedWords(QStringView text, const QString& charset, int codePage,
                               int maxLength) {
    QList<QByteArray> words;
    const int room = maxLength - static_cast<int>(charset.toUtf8().size()) - 7;
    const qsizetype maxBytes = std::max(3, room / 4 * 3);
    qsizetype start = 0;
    while (start < text.size()) {
        QStringView rest = text.mid(start);
        QByteArray bytes = textToBytes(rest, charset, codePage);
        qsizetype take = rest.size();
        if (bytes.size() > maxBytes) {
            // the longest prefix of whole characters that fits, at least one character
            qsizetype lo = 1;
            qsizetype hi = rest.size() - 1;
            while (lo < hi) {
                const qsizetype mid = (lo + hi + 1) / 2;
                if (textToBytes(rest.first(mid), charset, codePage).size() <= maxBytes) {
                    lo = mid;
                } else {
                    hi = mid - 1;
                }
            }
            take = lo;
            if (take < rest.size() && rest[take - 1].isHighSurrogate()) {
                take = take > 1 ? take - 1 : take + 1;
            }
            bytes = textToBytes(rest.first(take), charset, codePage);
        }
        words.append(encodedWord(charset, bytes));
        start += take;
    }
    return words;
}

QByteArray percentEncoded(QByteArrayView bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    static constexpr std::string_view kPlain = "!#$&+-.^_`|~";
    QByteArray out;
    out.reserve(bytes.size() * 3);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            kPlain.find(static_cast<char>(c)) != std::string_view::npos) {
            out.append(static_cast<char>(c));
        } else {
            out.append('%');
            out.append(kHex[c >> 4]);
            out.append(kHex[c & 0x0F]);
        }
    }
    return out;
}

}  // namespace pw::smtp
