#pragma once
// Reading a delimited text file (CSV, tab-separated text, DAT) into the import table.

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include "exchange/ImportTable.h"
#include "exchange/SteppedProgress.h"
#include "resources/Strings.h"

namespace pw::exchange {

enum class Delimiter { Comma = 1, Tab = 2 };

[[nodiscard]] constexpr QChar delimiterChar(Delimiter d) {
    return d == Delimiter::Tab ? QChar(u'\t') : QChar(u',');
}

// The extension of the file name from its last dot, the dot included; empty without one.
[[nodiscard]] QString importExtension(const QString& path);

enum class ReaderKind { DelimitedText, Workbook };
// Exactly ".xls" or ".xlsx" (case-sensitive) goes to the workbook reader.
[[nodiscard]] ReaderKind readerFor(const QString& path);
// ".csv" (exactly) is comma-delimited without asking; every other text file asks.
[[nodiscard]] bool delimiterNeedsAsking(const QString& path);

// Splits one record into fields. A field starting with a double quote is read as spreadsheet
// programs write it: delimiters and line breaks inside are text, "" is one quote, and the
// quote before the delimiter (or the end) closes it. A quoted field that never closes that
// way is read as before: the quoted state runs to the next quote, after which the delimiter
// ends it, and a field whose first and last characters are quotes loses those two. Quotes
// inside an unquoted field are text.
[[nodiscard]] QStringList splitFields(QStringView line, QChar delimiter);

// Cuts a text into records: the non-empty runs between CR and LF, except that a quoted field
// holding line breaks keeps them (when it closes; once one does not close, lines are records
// for the rest of the text). Stops after maxRecords + 1 records.
[[nodiscard]] QList<QStringView> splitRecords(QStringView text, QChar delimiter, int maxRecords);

// The code page a file without signature falls back to when it is not valid UTF-8.
enum class LegacyCodePage { ShiftJis, Windows1252 };
[[nodiscard]] LegacyCodePage legacyCodePageFor(Language language);

struct DecodedText {
    QString text;
    QString encoding;
    bool legacyFallback = false;
    bool lossy = false;
    bool hadNul = false;  // the text held NUL characters (removed from text)
};

// The encoding a user chose in place of the detected one (Detect: decide from the bytes).
enum class TextEncoding { Detect, Utf8, ShiftJis, EucJp, Iso2022Jp, Windows1252, Utf16LE };
// The choices in the order the import window offers them, with their display names.
[[nodiscard]] const QList<TextEncoding>& textEncodingChoices();
[[nodiscard]] QString textEncodingName(TextEncoding encoding);
// Decodes with the chosen encoding; a signature of that encoding is dropped.
[[nodiscard]] DecodedText decodeImportTextAs(QByteArrayView bytes, TextEncoding encoding,
                                             LegacyCodePage legacy);

// Decodes a whole file: a UTF-7, UTF-8 or UTF-16 signature decides (and is dropped);
// otherwise valid UTF-8 is UTF-8 and anything else the legacy code page. NUL characters
// are dropped: the store's texts cannot hold them.
[[nodiscard]] DecodedText decodeImportText(QByteArrayView bytes, LegacyCodePage legacy);

// Fills the table from text already in memory (the file reader's second half).
// A text holding NUL characters is refused (ReadStatus::NulCharacters): it is no text file
// of the kinds read here, and dropping them would join or split values silently.
ReadResult readDelimitedBytes(QByteArrayView bytes, Delimiter delimiter, ImportTable& table,
                              SteppedProgress& progress, LegacyCodePage legacy,
                              int maxRows = kMaxReaderRows,
                              TextEncoding encoding = TextEncoding::Detect);

// The text reader: fills the table from the file and returns what happened; rowCount 0
// means there is nothing to import. Reading stops after maxRows non-empty lines.
ReadResult readDelimitedFile(const QString& path, Delimiter delimiter, ImportTable& table,
                             SteppedProgress& progress, LegacyCodePage legacy,
                             int maxRows = kMaxReaderRows,
                             TextEncoding encoding = TextEncoding::Detect);

// Largest file prefix the text reader decodes in memory. UTF-8 (the usual case) is not held
// whole: it goes into the table as it is read, kReadPieceBytes at a time.
inline constexpr qint64 kMaxTextBytes = 256LL * 1024 * 1024;
inline constexpr qint64 kReadPieceBytes = 4 * 1024 * 1024;

}  // namespace pw::exchange
