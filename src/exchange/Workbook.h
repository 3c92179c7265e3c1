#pragma once
// A workbook read by the system itself: what the import needs from a spreadsheet
// application, namely the sheet names in order, the active sheet and the used range of one
// sheet as typed values. ".xlsx" is read from its zip and XML, ".xls" from its records.

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

#include "exchange/ImportTable.h"

namespace pw::exchange {

struct CellValue {
    // Date: number is the serial day (days since 1899-12-30, the time as its fraction).
    // Other: error values.
    enum class Kind { Empty, Number, Text, Date, Other };
    Kind kind = Kind::Empty;
    double number = 0;
    QString text;
};

// The block of used cells of one sheet, from its top-left used cell.
struct UsedRange {
    int firstRow = 0;     // 0-based row of the top-left cell
    int firstColumn = 0;  // 0-based column of the top-left cell
    int rows = 0;
    int columns = 0;
    std::vector<CellValue> cells;  // row-major, rows * columns
    bool stoppedAtLimit = false;   // rows past the limit were not read
    bool columnsCut = false;       // columns past kMaxWorkbookColumns were not read

    [[nodiscard]] const CellValue& at(int row, int column) const {
        return cells[size_t(row) * size_t(columns) + size_t(column)];
    }
};

// Columns read at most: only the first 20 can reach the database; the rest are shown for
// choosing only, and an unbounded width would let one far cell multiply the memory.
inline constexpr int kMaxWorkbookColumns = 256;
// Decompressed bytes read from any one part of a zip workbook (zip bombs stop here).
inline constexpr qint64 kMaxWorkbookPartBytes = 128LL * 1024 * 1024;

class Workbook {
public:
    virtual ~Workbook() = default;

    // Opens a workbook by its content (zip or legacy compound file); null with the reason
    // in status when it is none or cannot be read.
    [[nodiscard]] static std::unique_ptr<Workbook> open(const QString& path, ReadResult& status);

    [[nodiscard]] virtual QStringList sheetNames() const = 0;
    // 0-based index of the sheet that was active when the workbook was saved.
    [[nodiscard]] virtual int activeSheet() const = 0;
    // Reads the used range of one sheet, at most maxRows rows of it.
    [[nodiscard]] virtual bool readUsedRange(int sheet, int maxRows, UsedRange& out,
                                             ReadResult& status) = 0;
};

[[nodiscard]] std::unique_ptr<Workbook> openXlsxWorkbook(const QString& path, ReadResult& status);
[[nodiscard]] std::unique_ptr<Workbook> openXlsWorkbook(const QString& path, ReadResult& status);

// True for a number format that shows a date or a time (built-in or custom code).
[[nodiscard]] bool isDateFormat(int numFmtId, const QString& formatCode);

// The value as the sheet shows it in a general format: its shortest decimal form to 15
// significant digits, no grouping, no exponent (12.7 stays 12.7, 1e20 is written out).
[[nodiscard]] QString formatWorkbookNumber(double value);

// How dates of a workbook are written into the import's fields.
enum class WorkbookDateForm { LocaleShort, Iso };
// A serial day as a date (with its time when it has one, the time alone below one day).
[[nodiscard]] QString formatWorkbookDate(double serial, WorkbookDateForm form);
// A "d" cell's ISO 8601 text as a serial day; nullopt-like NaN when it is none.
[[nodiscard]] double serialOfIsoDate(const QString& text);

}  // namespace pw::exchange
