#pragma once
// The transfer and header encodings of the message renderer.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace pw::smtp {

// base64 in lines of 76 characters separated by CR LF, no CR LF after the last line.
[[nodiscard]] QByteArray base64Lines(QByteArrayView bytes);
// Quoted-printable: "!" ... "~" except "=" copied; blank and tab copied while the line is
// shorter than 64 characters; every other byte (line breaks included) as =XX; a soft break
// once a line passes 64 characters. A blank or tab at the very end is encoded too, since
// a transport may strip it from the end of a line.
[[nodiscard]] QByteArray quotedPrintable(QByteArrayView bytes);
// "=?charset?B?...?=" over bytes already in that charset.
[[nodiscard]] QByteArray encodedWord(const QString& charset, QByteArrayView bytes);
// Prepares bytes for the inside of DATA: a "." at the start of any line is doubled, the
// first line included.
[[nodiscard]] QByteArray dotFix(QByteArrayView bytes);

}  // namespace pw::smtp
