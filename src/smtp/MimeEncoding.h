#pragma once
// The transfer and header encodings of the message renderer.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

namespace pw::smtp {

// base64 in lines of 76 characters separated by CR LF, no CR LF after the last line.
[[nodiscard]] QByteArray base64Lines(QByteArrayView bytes);
// Quoted-printable: "!" ... "~" except "=" copied; blank and tab copied while the line is
// shorter than 64 characters; every other byte (line breaks included) as =XX; a soft break
// once a line passes 64 characters. A blank or tab at the very end is encoded too, since
// a transport may strip it from the end of a line.
[[nodiscard]] QByteArray quotedPrintable(QByteArrayView bytes);
// Quoted-printable for text: the text's CR LF pairs stay line breaks, a blank or tab before
// one is encoded (a transport may strip it), lines are at most 76 characters with their
// soft break, and "=" and every byte outside "!" ... "~" (blank and tab aside) is =XX.
[[nodiscard]] QByteArray quotedPrintableText(QByteArrayView bytes);
// "=?charset?B?...?=" over bytes already in that charset.
[[nodiscard]] QByteArray encodedWord(const QString& charset, QByteArrayView bytes);
// The text as encoded words of the charset, each at most 75 characters and cut between
// characters, so that no reader has to take an overlong word.
[[nodiscard]] QList<QByteArray> encodedWords(QStringView text, const QString& charset, int codePage,
                                             int maxLength = 75);
// RFC 2231 parameter value chars: "%XX" for every byte but letters, digits and
// "!#$&+-.^_`|~".
[[nodiscard]] QByteArray percentEncoded(QByteArrayView bytes);
// Prepares bytes for the inside of DATA: a "." at the start of any line is doubled, the
// first line included.
[[nodiscard]] QByteArray dotFix(QByteArrayView bytes);

// What the path to the server carries in a message body: 7-bit only, or 8-bit too (the
// server offered 8BITMIME).
enum class BodyTransport { SevenBit, EightBit };

// The transfer encoding a text body needs: as it is when it is 7-bit (or 8-bit over an 8-bit
// path) with no line longer than 998 octets and no NUL; otherwise quoted-printable, or
// base64 when most of it is 8-bit (Japanese text), which is then shorter.
enum class TextEncoding { SevenBit, EightBit, QuotedPrintable, Base64 };
[[nodiscard]] TextEncoding textEncodingFor(QByteArrayView bytes, BodyTransport transport);
[[nodiscard]] const char* textEncodingName(TextEncoding encoding);
// The bytes in that encoding (not yet dot-fixed).
[[nodiscard]] QByteArray encodeText(QByteArrayView bytes, TextEncoding encoding);

// The longest line SMTP carries, without its CR LF.
inline constexpr int kMaxLineOctets = 998;

}  // namespace pw::smtp
