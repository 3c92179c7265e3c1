#pragma once
// The rows read from an import file or worksheet, shared by both readers, the preview and
// the storing. A row is an ordered list of text fields; rows may differ in length.

#include <QString>

#include "exchange/ImportRows.h"

namespace pw::exchange {

// The program's record limit unless the preferences raise it (the store's RecordLimit): the
// database never holds more recipients than that.
inline constexpr int kRecordLimit = 20000;
// Rows a reader keeps at most: a heading row, a full database's worth of data rows and one
// more, so that the preview still sees that the limit was passed. Anything further could
// never be stored, and holding it would only cost memory.
[[nodiscard]] constexpr int maxReaderRows(int recordLimit) {
    return recordLimit + 2;
}
inline constexpr int kMaxReaderRows = maxReaderRows(kRecordLimit);

struct ImportTable {
    ImportRows rows;

    [[nodiscard]] int rowCount() const { return int(rows.size()); }
    void clear() { rows.clear(); }
};

// What a reader reports besides the rows it filled.
enum class ReadStatus {
    Ok,             // rows were read (possibly none)
    CannotOpen,     // the file could not be opened
    TooLarge,       // beyond what an import can hold; nothing read
    NotAWorkbook,   // neither a zip workbook nor a legacy workbook
    Encrypted,      // password-protected workbook
    Damaged,        // a workbook whose parts cannot be read
    NulCharacters,  // a text file holding NUL characters (binary data, or a wrong encoding)
};

struct ReadResult {
    ReadStatus status = ReadStatus::Ok;
    int rowCount = 0;
    // Rows beyond kMaxReaderRows were left unread.
    bool stoppedAtLimit = false;
    // The encoding the text was decoded with ("UTF-8", "UTF-7", "UTF-16LE", "Shift_JIS
    // (CP932)", "Windows-1252"); empty for workbooks.
    QString encoding;
    // Set when the file was not valid in its encoding and had to be decoded with the
    // legacy code page of the user's language.
    bool legacyFallback = false;
    // Bytes that even the legacy code page could not decode (shown as U+FFFD).
    bool lossy = false;
    // A detail of a failure (the system's description, a library's error text).
    QString detail;
};

}  // namespace pw::exchange
