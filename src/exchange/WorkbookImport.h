#pragma once
// The workbook reader of the import: one worksheet's used range into the import table.

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "exchange/ImportTable.h"
#include "exchange/SteppedProgress.h"
#include "exchange/Workbook.h"
#include "resources/UserInteraction.h"

namespace pw::exchange {

// "Import from Excel": given the sheet names and the active sheet's index, returns the
// chosen index, or nothing for Cancel (the active sheet is then taken).
using WorksheetChooser =
    std::function<std::optional<int>(const QStringList& names, int activeSheet)>;

// Fills the table from one worksheet. A workbook with fewer than two worksheets is read
// without asking. Every row gets as many fields as the used range has columns, each cell as
// the sheet shows it: empty cells give empty texts, numbers (formula results too) their
// value, dates a date in `dateForm`, truth values TRUE or FALSE, texts stay as they are,
// and errors give an empty text. Failures leave the table empty and say why in the result.
ReadResult readWorkbook(const QString& path, ImportTable& table, const WorksheetChooser& choose,
                        SteppedProgress& progress, int maxRows = kMaxReaderRows,
                        WorkbookDateForm dateForm = WorkbookDateForm::LocaleShort);

// The message for a failed read (workbook or text), or nothing when there is none to show.
void reportReadFailure(IUserInteraction& ui, const ReadResult& result);

}  // namespace pw::exchange
