// Feeds arbitrary bytes to the delimited text reader and the preview preparation. Besides
// the sanitizers it checks that no row is empty of fields, that a line break stays inside a
// field only where the text has quotes and that every prepared value fits the field length in
// UTF-8 bytes.
//
// Build with clang and -DPOSTWICK_FUZZ=ON, then for example:
//   fuzz_csv_reader -max_len=4096 -rss_limit_mb=512 corpus

#include <cstdint>
#include <cstdlib>

#include "exchange/ImportSession.h"
#include "exchange/TextReader.h"

namespace {

class Silent : public pw::IUserInteraction {
public:
    pw::Answer message(const QString&, const QString&, pw::MessageKind) override {
        return pw::Answer::Ok;
    }
    std::unique_ptr<pw::IProgress> createProgress() override { return nullptr; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace pw::exchange;
    if (size < 1)
        return 0;
    const uint8_t flags = data[0];
    const QByteArrayView bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const Delimiter d = flags & 1 ? Delimiter::Tab : Delimiter::Comma;
    const LegacyCodePage legacy =
        flags & 2 ? LegacyCodePage::ShiftJis : LegacyCodePage::Windows1252;

    ImportSession session;
    SteppedProgress progress;
    const ReadResult r = readDelimitedBytes(bytes, d, session.table, progress, legacy, 64);
    if (r.rowCount != session.table.rowCount() || r.rowCount > 64)
        std::abort();
    // a quoted field keeps its line breaks; a UTF-7 text may spell its quotes in base64
    const bool quoted = bytes.contains('"') || bytes.contains('+');
    for (const ImportRow& row : session.table.rows) {
        if (row.isEmpty())
            std::abort();
        for (const QString& f : row) {
            if (!quoted && (f.contains(u'\r') || f.contains(u'\n')))
                std::abort();
        }
    }
    session.resetSelection();
    for (int i = 0; i < session.itemCount(); i += (flags >> 4) + 1)
        session.setChecked(i, true);
    session.setFirstRecordOption(flags & 4);
    Silent ui;
    const int fieldLength = 1 + (flags >> 3) * 7;
    QStringList captions;
    for (int i = 0; i < kFieldCount; ++i)
        captions << QStringLiteral("c%1").arg(i);
    (void)session.preparePreview(captions, fieldLength, kRecordLimit - 30, ui, progress);
    for (int line = 0; line < session.dataRowCount(); ++line) {
        for (int c = 0; c < kFieldCount; ++c) {
            if (session.cell(line, c).toUtf8().size() > fieldLength)
                std::abort();
        }
    }
    (void)session.moveColumn(int(flags % 21),
                             flags & 8 ? MoveDirection::Left : MoveDirection::Right);
    return 0;
}
