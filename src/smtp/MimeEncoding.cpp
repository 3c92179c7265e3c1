#include "smtp/MimeEncoding.h"

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
