#pragma once
// The reversible hexadecimal scrambling of stored passwords: every byte as two lowercase hex
// digits, the whole text reversed ("abc" becomes "362616").

#include <QByteArray>

namespace pw {

[[nodiscard]] QByteArray scramblePassword(const QByteArray& password);
// Accepts any text: pairs that are not hexadecimal give the bytes strtol would give them.
[[nodiscard]] QByteArray unscramblePassword(const QByteArray& scrambled);

}  // namespace pw
