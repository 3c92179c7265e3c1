#include "exchange/WorkbookImport.h"

#include "exchange/Workbook.h"
#include "resources/Strings.h"

namespace pw::exchange {

ReadResult readWorkbook(const QString& path, ImportTable& table, const WorksheetChooser& choose,
                        SteppedProgress& progress, int maxRows, WorkbookDateForm dateForm) {
    table.clear();
    ReadResult result;
    std::unique_ptr<Workbook> book = Workbook::open(path, result);
    if (!book)
        return result;

    const QStringList names = book->sheetNames();
    int sheet = book->activeSheet();
    if (names.size() < 2) {
        sheet = 0;
    } else if (choose) {
        if (const std::optional<int> chosen = choose(names, book->activeSheet());
            chosen && *chosen >= 0 && *chosen < names.size()) {
            sheet = *chosen;
        }
    }

    UsedRange range;
    if (!book->readUsedRange(sheet, maxRows, range, result))
        return result;
    result.stoppedAtLimit = range.stoppedAtLimit;

    progress.setRange(0, range.rows);
    progress.setPosition(0);
    progress.show();
    for (int r = 0; r < range.rows; ++r) {
        ImportRow row;
        row.reserve(range.columns);
        for (int c = 0; c < range.columns; ++c) {
            const CellValue& v = range.at(r, c);
            switch (v.kind) {
                case CellValue::Kind::Number:
                    row.append(formatWorkbookNumber(v.number));
                    break;
                case CellValue::Kind::Text:
                    row.append(v.text);
                    break;
                case CellValue::Kind::Date:
                    row.append(formatWorkbookDate(v.number, dateForm));
                    break;
                case CellValue::Kind::Empty:
                case CellValue::Kind::Other:
                    row.append(QString());
                    break;
            }
        }
        table.rows.append(row);  // copied into the compact rows
        progress.advanceTo(r + 1);
    }
    result.rowCount = table.rowCount();
    return result;
}

void reportReadFailure(IUserInteraction& ui, const ReadResult& result) {
    QString text;
    switch (result.status) {
        case ReadStatus::Ok:
            break;
        case ReadStatus::CannotOpen:
            text = str(ids::kCannotOpenSourceFile).arg(result.detail);
            break;
        case ReadStatus::TooLarge:
            text = str(ids::kImportFileTooLarge);
            break;
        case ReadStatus::NotAWorkbook:
            text = str(ids::kNotAWorkbook);
            break;
        case ReadStatus::Encrypted:
            text = str(ids::kWorkbookEncrypted);
            break;
        case ReadStatus::Damaged:
            text = str(ids::kWorkbookDamaged).arg(result.detail);
            break;
        case ReadStatus::NulCharacters:
            text = str(ids::kImportNulCharacters).arg(result.encoding);
            break;
    }
    if (!text.isEmpty()) {
        const bool workbook = result.status == ReadStatus::NotAWorkbook ||
                              result.status == ReadStatus::Encrypted ||
                              result.status == ReadStatus::Damaged;
        (void)ui.message(str(workbook ? ids::kImportFromExcelCaption : ids::kImportDataFileCaption),
                         text, MessageKind::Information);
        return;
    }
    if (result.legacyFallback) {
        (void)inform(ui, str(ids::kLegacyEncodingUsed).arg(result.encoding));
    }
    if (result.lossy)
        (void)inform(ui, str(ids::kUndecodableBytes).arg(result.encoding));
}

}  // namespace pw::exchange
