#pragma once
// Storing the previewed import rows as new recipient records, with group membership and,
// when the first record named the fields, new captions.

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "exchange/ImportSession.h"
#include "exchange/TextReader.h"
#include "exchange/WorkbookImport.h"

namespace pw::db {
class TDbData;
}

namespace pw::exchange {

// Automatic grouping: when on, field groupField (0..19) of each row names the group the
// new record joins, if a group of exactly that name exists.
struct AutoGrouping {
    bool enabled = false;
    int groupField = -1;
};

struct StoreResult {
    int stored = 0;          // records committed
    int memberships = 0;     // group memberships added afterwards
    bool failed = false;     // a database error; nothing of the rows was committed
    bool cancelled = false;  // the user cancelled; nothing of this import was committed
    bool captionsChanged = false;
    bool captionsFailed = false;
    QString error;  // the database's text of a failure
};

// Seconds the import's own transactions wait for a row another transaction holds before
// giving up, so that an import never hangs on the store's long main transaction.
inline constexpr int kImportLockTimeoutSeconds = 5;

// OK of "DataBase Contents": stores every data row of the session (prepared by
// preparePreview) in one transaction, adds the group memberships, then replaces the
// captions that the headings changed (first-record option only). A failure rolls the rows
// back and tells the user; the caption step still runs.
StoreResult storeImport(db::TDbData& store, const ImportSession& session,
                        const AutoGrouping& grouping, IUserInteraction& ui,
                        SteppedProgress& progress);

// What "Open database after importing" asks for once the storing is done.
struct AfterImport {
    bool openEditor = false;        // run "Edit DataBase..."
    bool clearOpenSetting = false;  // "OpenDatabaseAfterImport" becomes 0
};
[[nodiscard]] constexpr AfterImport afterImport(bool openDatabaseChecked) {
    return {openDatabaseChecked, !openDatabaseChecked};
}

// The progress window of an import before reading: caption "Load data", text " Reading
// data", at position 0, not shown yet (the reader shows it once it knows the line count).
void beginImportProgress(SteppedProgress& progress);

// The reading half of "Import DataBase...": the workbook reader for exactly ".xls" or
// ".xlsx", the text reader otherwise (asking for the delimiter unless the file is ".csv";
// nothing chosen keeps the comma). Failures and a guessed legacy encoding are told to the
// user. Returns the result with the row count (0: nothing to import).
using DelimiterChooser = std::function<std::optional<Delimiter>()>;
ReadResult readImportFile(const QString& path, ImportTable& table,
                          const DelimiterChooser& chooseDelimiter,
                          const WorksheetChooser& chooseWorksheet, IUserInteraction& ui,
                          SteppedProgress& progress, LegacyCodePage legacy,
                          TextEncoding encoding = TextEncoding::Detect,
                          int maxRows = kMaxReaderRows,
                          WorkbookDateForm dateForm = WorkbookDateForm::LocaleShort);

}  // namespace pw::exchange
