#pragma once
// The mail charsets the user picks from (settings key "Encode" is the row index) and the
// conversion of wide text into the bytes of a charset or a Windows code page.
//
// Characters a charset cannot carry become "?" (one per character), as Windows mail
// programs send them; encode() reports how many were replaced so callers can warn.

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <span>

namespace pw::smtp {

struct CharsetRow {
    int displayNameId;  // 525 ... 547
    const char* englishName;
    const char* japaneseName;
    const char* mimeName;  // goes into the mail
    bool separatorAfter;   // the Character Encoding menu has a separator after this row
    int windowsCodePage;   // byte counts of the automatic wrap, header texts of the send job
};

[[nodiscard]] std::span<const CharsetRow> charsetTable();
[[nodiscard]] int charsetCount();
// Whether a stored "Encode" names a row (callers refuse the others rather than guess).
[[nodiscard]] bool isCharsetRow(int index);
// The last row: UTF-8, which carries every character.
[[nodiscard]] int utf8CharsetRow();
// Row index out of range gives row 0.
[[nodiscard]] const CharsetRow& charsetRow(int index);
// The converter name (ICU) of a row's Windows code page ("windows-31j" for 932), which is
// what turns the mail texts of project files into text; null for an unknown number.
[[nodiscard]] const char* codePageConverterName(int windowsCodePage);
// The display name in the language of pw::smtp::textLanguage().
[[nodiscard]] QString charsetDisplayName(int index);
// Every row's transfer-encoding name, shown by the preview.
[[nodiscard]] inline QString charsetTransferEncodingName(int) {
    return QStringLiteral("7bit");
}

// The code page that converts text of this MIME charset (compared without regard to case),
// or 0 for a name the system does not know (texts then go out as UTF-8, the system's
// 8-bit code page). Rows without a Windows number get one of the private numbers below.
[[nodiscard]] int codePageForCharset(QStringView mimeName);

inline constexpr int kCodePageUtf8 = 65001;
inline constexpr int kCodePageIso8859_10 = 28600;
inline constexpr int kCodePageIso8859_14 = 28604;
inline constexpr int kCodePageIso8859_16 = 28606;
inline constexpr int kCodePageBig5Hkscs = 951;
inline constexpr int kCodePageWindowsSami2 = 100017;  // no Windows number exists

// Text to the bytes of a code page (0: UTF-8). substituted, when given, receives the number
// of characters that became "?".
[[nodiscard]] QByteArray encodeForCodePage(QStringView text, int codePage,
                                           int* substituted = nullptr);
// The part and header rule: "UTF-8" (any case) is UTF-8, otherwise the code page.
[[nodiscard]] QByteArray textToBytes(QStringView text, QStringView charset, int codePage,
                                     int* substituted = nullptr);
// Bytes of one character (a code point given as its UTF-16 units) in the code page: what the
// automatic wrap counts. A character the code page lacks weighs as its "?" does.
[[nodiscard]] int byteWeight(QStringView character, int codePage);

// How a Japanese mail (ISO-2022-JP, Shift_JIS, EUC-JP) carries the characters its standard
// repertoire, JIS X 0208, lacks (①, ㈱, 髙, 﨑): Windows sends them as its vendor codes,
// which strict readers show as U+FFFD.
enum class JapaneseExtras {
    Utf8,          // that recipient's mail goes in UTF-8 (the default)
    WindowsCodes,  // the Windows codes under the standard label, as before
    Replace,  // standard equivalents (① → (1), ㈱ → (株), 髙 → 高); the rest as Utf8
};
// Whether the charset's standard repertoire is JIS X 0208 (and ASCII, half-width katakana).
[[nodiscard]] bool isJisCharset(QStringView charset);
// How many characters of the text a JIS charset carries only as Windows codes (0 for the
// other charsets).
[[nodiscard]] int jisExtensionCount(QStringView text, QStringView charset);
// The text with each such character replaced by its standard equivalent where it has one.
[[nodiscard]] QString withStandardEquivalents(QStringView text);

}  // namespace pw::smtp
