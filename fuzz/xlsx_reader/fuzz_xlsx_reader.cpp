// Feeds arbitrary bytes to the workbook reader. An input starting with byte 0 is the
// workbook file itself (zip, compound file or anything); otherwise it is split at its first
// NUL byte into a shared-string part and a sheet part, packed with a fixed workbook into a
// real zip, so that the XML readers see well-formed containers with hostile content.
//
// Build with clang and -DPOSTWICK_FUZZ=ON, then for example:
//   TMPDIR=/dev/shm fuzz_xlsx_reader -max_len=16384 -rss_limit_mb=1024 corpus

#include <zip.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

#include "exchange/Workbook.h"
#include "exchange/WorkbookImport.h"

namespace {

const char kRels[] =
    R"(<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
    R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)";
const char kWorkbook[] =
    R"(<?xml version="1.0"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
    R"(<bookViews><workbookView activeTab="1"/></bookViews><sheets><sheet name="A" sheetId="1" r:id="rId1"/><sheet name="B" sheetId="2" r:id="rId1"/></sheets></workbook>)";
const char kWorkbookRels[] =
    R"(<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
    R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)"
    R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/></Relationships>)";

void add(zip_t* z, const char* name, const char* data, size_t size) {
    zip_source_t* src = zip_source_buffer(z, data, size, 0);
    if (zip_file_add(z, name, src, ZIP_FL_OVERWRITE) < 0)
        zip_source_free(src);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace pw::exchange;
    static QTemporaryDir dir;
    const QString path = dir.path() + "/input.xlsx";
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    if (!input.isEmpty() && input[0] == '\0') {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(input.mid(1));
    } else {
        const qsizetype cut = input.indexOf('\0');
        const QByteArray shared = cut < 0 ? QByteArray() : input.left(cut);
        const QByteArray sheet = cut < 0 ? input : input.mid(cut + 1);
        int err = 0;
        zip_t* z = zip_open(path.toLocal8Bit().constData(), ZIP_CREATE | ZIP_TRUNCATE, &err);
        if (!z)
            return 0;
        add(z, "_rels/.rels", kRels, sizeof kRels - 1);
        add(z, "xl/workbook.xml", kWorkbook, sizeof kWorkbook - 1);
        add(z, "xl/_rels/workbook.xml.rels", kWorkbookRels, sizeof kWorkbookRels - 1);
        add(z, "xl/sharedStrings.xml", shared.constData(), size_t(shared.size()));
        add(z, "xl/worksheets/sheet1.xml", sheet.constData(), size_t(sheet.size()));
        if (zip_close(z) != 0) {
            zip_discard(z);
            return 0;
        }
    }
    ImportTable table;
    SteppedProgress progress;
    const ReadResult r = readWorkbook(
        path, table,
        [](const QStringList& names, int active) -> std::optional<int> {
            if (active < 0 || active >= names.size())
                std::abort();
            return std::nullopt;
        },
        progress, 200);
    if (r.rowCount > 200 || r.rowCount != table.rowCount())
        std::abort();
    for (const ImportRow& row : table.rows) {
        if (row.size() != table.rows.front().size() || row.size() > kMaxWorkbookColumns)
            std::abort();
    }
    return 0;
}
