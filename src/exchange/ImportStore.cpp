#include "exchange/ImportStore.h"

#include <QHash>
#include <algorithm>
#include <string>

#include "db/TDbData.h"
#include "resources/Strings.h"

namespace pw::exchange {

namespace {

// The value as the store keeps it: UTF-8, cut at a character boundary to the field length.
std::string storedBytes(const QString& value, int fieldLength) {
    const QByteArray bytes = truncateToFieldLength(value, fieldLength).toUtf8();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

const char* const kInsertColumns =
    "insert into MAILS (ID, SENDED, SENDING, ADDRESS, NAME, FIELD3, FIELD4, FIELD5, FIELD6, "
    "FIELD7, FIELD8, FIELD9, FIELD10, FIELD11, FIELD12, FIELD13, FIELD14, FIELD15, FIELD16, "
    "FIELD17, FIELD18, FIELD19, FIELD20) values ";

// Rows one batch statement inserts: as many as keep its parameters within the engine's
// 64 KB message (20 texts of the field length and an ID a row), at most 16.
int batchRows(int fieldLength) {
    const int rowBytes = kFieldCount * (fieldLength + 2) + 8;
    return std::clamp(60000 / rowBytes, 1, 16);
}

// One statement for `rows` records: a block whose parameters are each row's ID and 20
// values, inserting them in order. One execution per batch instead of per record.
std::string batchInsert(int rows, int fieldLength) {
    std::string params;
    std::string body;
    for (int r = 0; r < rows; ++r) {
        const std::string n = std::to_string(r);
        params += (r ? ", I" : "I") + n + " integer = ?";
        body += std::string(kInsertColumns) + "(:I" + n + ", 0, 1";
        for (int k = 0; k < kFieldCount; ++k) {
            const std::string v = "V" + n + "_" + std::to_string(k);
            params += ", " + v + " varchar(" + std::to_string(fieldLength) + ") = ?";
            body += ", :" + v;
        }
        body += ");\n";
    }
    return "execute block (" + params + ") as begin\n" + body + "end";
}

}  // namespace

StoreResult storeImport(db::TDbData& store, const ImportSession& session,
                        const AutoGrouping& grouping, IUserInteraction& ui,
                        SteppedProgress& progress) {
    StoreResult result;
    const ImportTable& table = session.table;
    progress.setRange(0, table.rowCount());
    progress.setPosition(0);
    if (!store.IsOpen())
        return result;

    const int fieldLength = store.StringFieldLength();
    const int first = session.firstDataRow();
    std::vector<std::pair<int, int>> pairs;  // (group ID, record ID) in row order
    if (first < table.rowCount()) {
        try {
            const IBPP::Database db = store.Database();
            // The last ID as the store's own transaction sees it, so that records it added
            // and has not saved yet are not given again.
            int lastId = 0;
            {
                IBPP::Statement st = IBPP::StatementFactory(db, store.MainTransaction());
                st->Execute("select max(ID) from MAILS;");
                if (st->Fetch()) {
                    int32_t v = 0;
                    if (!st->Get(1, v))
                        lastId = v;
                }
                st->Close();
            }
            IBPP::Transaction tr = IBPP::TransactionFactory(
                db, IBPP::AccessMode::Write, IBPP::Isolation::Concurrency,
                IBPP::LockResolution::Wait, IBPP::tfNone, kImportLockTimeoutSeconds);
            tr->Start();
            // Full batches through the block, the rest one record at a time.
            const int batch = batchRows(fieldLength);
            IBPP::Statement block;
            IBPP::Statement single;
            int inBlock = 0;  // rows whose parameters are set in the block, not yet executed
            const int dataRows = table.rowCount() - first;
            const int blockRows = batch > 1 ? dataRows / batch * batch : 0;
            if (blockRows > 0) {
                block = IBPP::StatementFactory(db, tr);
                block->Prepare(batchInsert(batch, fieldLength));
            }
            if (blockRows < dataRows) {
                single = IBPP::StatementFactory(db, tr);
                single->Prepare(std::string(kInsertColumns) +
                                "(?, 0, 1, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                                "?, ?)");
            }
            const bool grouped =
                grouping.enabled && grouping.groupField >= 0 && grouping.groupField < kFieldCount;
            QHash<QString, int> groupIds;  // one lookup per distinct name
            int stored = 0;
            for (int r = first; r < table.rowCount(); ++r) {
                const ImportRow& row = table.rows[r];
                const int id = ++lastId;
                const bool inBatch = r - first < blockRows;
                IBPP::Statement& st = inBatch ? block : single;
                const int base = inBatch ? inBlock * (kFieldCount + 1) : 0;
                st->Set(base + 1, int32_t(id));
                for (int j = 0; j < kFieldCount; ++j) {
                    QString value = j < row.size() ? row[j] : QString();
                    // blanks around an address are no part of it (the send ignores them too)
                    if (j == 0)
                        value = value.trimmed();
                    st->Set(base + 2 + j, storedBytes(value, fieldLength));
                }
                if (!inBatch) {
                    st->Execute();
                    stored = r - first + 1;
                } else if (++inBlock == batch) {
                    st->Execute();
                    inBlock = 0;
                    stored = r - first + 1;
                }
                if (grouped) {
                    const QString name =
                        grouping.groupField < row.size() ? row[grouping.groupField] : QString();
                    auto it = groupIds.find(name);
                    if (it == groupIds.end()) {
                        // The lookup quotes the name as a literal itself (apostrophes doubled).
                        it = groupIds.insert(name, store.FindGroupByName(QString::fromUtf8(
                                                       storedBytes(name, fieldLength))));
                    }
                    if (*it >= 0)
                        pairs.emplace_back(*it, id);
                }
                progress.advanceTo(r + 1);
                if ((r - first) % 256 == 255 && progress.display() &&
                    progress.display()->cancelRequested()) {
                    result.cancelled = true;
                    break;
                }
            }
            if (block)
                block->Close();
            if (single)
                single->Close();
            if (result.cancelled) {
                // Nothing of this import stays, the captions included.
                tr->Rollback();
                pairs.clear();
                (void)ui.message(str(ids::kImportDataFileCaption), str(ids::kImportCancelled),
                                 MessageKind::Information);
                return result;
            }
            tr->Commit();
            result.stored = stored;
            store.SetModified();
        } catch (const std::exception& e) {
            // The transaction rolls back when released: nothing of this import stays.
            result.failed = true;
            result.error = QString::fromLocal8Bit(e.what());
            pairs.clear();
            db::ReportDroppedError("import", e);
            (void)ui.message(str(ids::kImportDataFileCaption), str(ids::kImportStoreFailed),
                             MessageKind::Information);
        }
    }
    for (const auto& [group, record] : pairs) {
        try {
            store.AddToGroup(group, record);
            ++result.memberships;
        } catch (const std::exception& e) {
            db::ReportDroppedError("import group membership", e);
        }
    }

    if (session.firstRecordOption()) {
        const QStringList& headings = session.headings();
        const auto captions = store.Captions();
        try {
            const IBPP::Database db = store.Database();
            IBPP::Transaction tr = IBPP::TransactionFactory(
                db, IBPP::AccessMode::Write, IBPP::Isolation::Concurrency,
                IBPP::LockResolution::Wait, IBPP::tfNone, kImportLockTimeoutSeconds);
            tr->Start();
            for (int i = 0; i < kFieldCount && i < headings.size(); ++i) {
                if (headings[i] == captions[size_t(i)])
                    continue;
                const QString column = recipientColumnName(i);
                if (!db::UpdateCaption(
                        db, tr, QStringLiteral("UPDATE MAIL_FIELDS SET CAPTION=? WHERE FIELD=?"),
                        column, headings[i])) {
                    db::ReplaceCaptionRow(db, tr, db::kInsertCaptionRow, column, headings[i]);
                }
                result.captionsChanged = true;
            }
            tr->Commit();
            if (result.captionsChanged)
                store.SetModified();
            // the field window and the other observers relabel with the new captions
            store.ReloadCaptions();
        } catch (const std::exception& e) {
            result.captionsFailed = true;
            result.captionsChanged = false;
            db::ReportDroppedError("import captions", e);
            (void)ui.message(str(ids::kImportDataFileCaption), str(ids::kImportCaptionsFailed),
                             MessageKind::Information);
        }
    }
    return result;
}

void beginImportProgress(SteppedProgress& progress) {
    if (IProgress* d = progress.display()) {
        d->setCaption(str(ids::kLoadDataCaption));
        d->setText(str(ids::kReadingData));
    }
    progress.setPosition(0);
}

ReadResult readImportFile(const QString& path, ImportTable& table,
                          const DelimiterChooser& chooseDelimiter,
                          const WorksheetChooser& chooseWorksheet, IUserInteraction& ui,
                          SteppedProgress& progress, LegacyCodePage legacy, TextEncoding encoding,
                          int maxRows) {
    ReadResult result;
    if (readerFor(path) == ReaderKind::Workbook) {
        result = readWorkbook(path, table, chooseWorksheet, progress, maxRows);
    } else {
        Delimiter delimiter = Delimiter::Comma;
        if (delimiterNeedsAsking(path) && chooseDelimiter) {
            delimiter = chooseDelimiter().value_or(Delimiter::Comma);
        }
        result = readDelimitedFile(path, delimiter, table, progress, legacy, maxRows, encoding);
    }
    reportReadFailure(ui, result);
    if (result.status != ReadStatus::Ok)
        table.clear();
    result.rowCount = result.status == ReadStatus::Ok ? table.rowCount() : 0;
    return result;
}

}  // namespace pw::exchange
