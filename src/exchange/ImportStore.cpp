#include "exchange/ImportStore.h"

#include <QHash>

#include "db/TDbData.h"
#include "resources/Strings.h"

namespace pw::exchange {

namespace {

// The value as the store keeps it: UTF-8, cut at a character boundary to the field length.
std::string storedBytes(const QString& value, int fieldLength) {
    const QByteArray bytes = truncateToFieldLength(value, fieldLength).toUtf8();
    return std::string(bytes.constData(), size_t(bytes.size()));
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
            IBPP::Statement ins = IBPP::StatementFactory(db, tr);
            ins->Prepare(
                "insert into MAILS (ID, SENDED, SENDING, ADDRESS, NAME, FIELD3, FIELD4, FIELD5, "
                "FIELD6, FIELD7, FIELD8, FIELD9, FIELD10, FIELD11, FIELD12, FIELD13, FIELD14, "
                "FIELD15, FIELD16, FIELD17, FIELD18, FIELD19, FIELD20) values (?, ?, ?, ?, ?, ?, "
                "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
            const bool grouped =
                grouping.enabled && grouping.groupField >= 0 && grouping.groupField < kFieldCount;
            QHash<QString, int> groupIds;  // one lookup per distinct name
            int stored = 0;
            for (int r = first; r < table.rowCount(); ++r) {
                const ImportRow& row = table.rows[r];
                const int id = ++lastId;
                ins->Set(1, int32_t(id));
                ins->Set(2, int32_t(0));
                ins->Set(3, int32_t(1));
                for (int j = 0; j < kFieldCount; ++j) {
                    QString value = j < row.size() ? row[j] : QString();
                    // blanks around an address are no part of it (the send ignores them too)
                    if (j == 0)
                        value = value.trimmed();
                    ins->Set(4 + j, storedBytes(value, fieldLength));
                }
                ins->Execute();
                ++stored;
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
            ins->Close();
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
                          SteppedProgress& progress, LegacyCodePage legacy, TextEncoding encoding) {
    ReadResult result;
    if (readerFor(path) == ReaderKind::Workbook) {
        result = readWorkbook(path, table, chooseWorksheet, progress);
    } else {
        Delimiter delimiter = Delimiter::Comma;
        if (delimiterNeedsAsking(path) && chooseDelimiter) {
            delimiter = chooseDelimiter().value_or(Delimiter::Comma);
        }
        result =
            readDelimitedFile(path, delimiter, table, progress, legacy, kMaxReaderRows, encoding);
    }
    reportReadFailure(ui, result);
    if (result.status != ReadStatus::Ok)
        table.clear();
    result.rowCount = result.status == ReadStatus::Ok ? table.rowCount() : 0;
    return result;
}

}  // namespace pw::exchange
