#include "compose/PasswordScrambling.h"

#include <algorithm>

namespace pw {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// "0x" + digits read like strtol with base 0: the hex digits from the start, stopping at the
// first other character; with no hex digit at all the value is 0.
unsigned char pairValue(const char* digits, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const int digit = hexValue(digits[i]);
        if (digit < 0) {
            break;
        }
        value = value * 16 + digit;
    }
    return static_cast<unsigned char>(value);
}

}  // namespace

QByteArray scramblePassword(const QByteArray& password) {
    QByteArray hex = password.toHex();
    std::reverse(hex.begin(), hex.end());
    return hex;
}

QByteArray unscramblePassword(const QByteArray& scrambled) {
    QByteArray text = scrambled;
    std::reverse(text.begin(), text.end());
    QByteArray out;
    out.reserve(text.size() / 2 + 1);
    for (qsizetype i = 0; i < text.size(); i += 2) {
        const int count = i + 1 < text.size() ? 2 : 1;
        out.append(static_cast<char>(pairValue(text.constData() + i, count)));
    }
    return out;
}

}  // namespace pw
