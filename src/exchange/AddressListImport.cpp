#include "exchange/AddressListImport.h"

#include <QFile>

#include "db/SuppressionList.h"
#include "exchange/TextReader.h"
#include "exchange/WorkbookImport.h"

namespace pw::exchange {

namespace {

// A tab anywhere in the start of the file: it is tab-separated.
Delimiter delimiterOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Delimiter::Comma;
    return file.read(64 * 1024).contains('\t') ? Delimiter::Tab : Delimiter::Comma;
}

}  // namespace

AddressListRead readAddressList(const QString& path, IUserInteraction& ui) {
    AddressListRead read;
    ImportTable table;
    SteppedProgress progress;
    ReadResult result;
    if (readerFor(path) == ReaderKind::Workbook) {
        result = readWorkbook(
            path, table, [](const QStringList&, int active) { return std::optional<int>(active); },
            progress);
    } else {
        result = readDelimitedFile(path, delimiterOf(path), table, progress,
                                   legacyCodePageFor(currentLanguage()));
    }
    if (result.status != ReadStatus::Ok) {
        reportReadFailure(ui, result);
        return read;
    }
    read.ok = true;
    for (const ImportRow& row : table.rows) {
        for (const QString& cell : row) {
            if (!db::NormalizeAddress(cell).isEmpty())
                read.addresses.append(cell.trimmed());
        }
    }
    return read;
}

}  // namespace pw::exchange
