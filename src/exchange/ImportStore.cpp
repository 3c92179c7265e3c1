#include "exchange/ImportStore.h"

#include <QHash>
#include <algorithm>
#include <string>

#include "db/RecordImport.h"
#include "db/TDbData.h"
#include "resources/Strings.h"

namespace pw::exchange {

namespace {

bool asciiBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The value without the blanks around it, as QString::trimmed() takes them: only a value
// that begins or ends with a blank, or with a character beyond ASCII, takes the long way.
void assignTrimmed(std::string& out, QByteArrayView value) {
    const bool plainEnds =
        value.isEmpty() || (uchar(value.front()) < 0x80 && uchar(value.back()) < 0x80 &&
                            !asciiBlank(value.front()) && !asciiBlank(value.back()));
    if (plainEnds) {
        out.assign(value.data(), size_t(value.size()));
        return;
    }
    const QByteArray trimmed = QString::fromUtf8(value).trimmed().toUtf8();
    out.assign(trimmed.constData(), size_t(trimmed.size()));
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
            // The last ID as the store's own transaction sees it, so that records it added
            // and has not saved yet are not given again.
            int lastId = store.Records().HighestRecordId();
            const std::unique_ptr<db::RecordImport> load =
                store.Records().BeginImport(table.rowCount() - first, kImportLockTimeoutSeconds);
            if (!load)
                return result;
            const bool grouped =
                grouping.enabled && grouping.groupField >= 0 && grouping.groupField < kFieldCount;
            QHash<QByteArray, int> groupIds;  // one lookup per distinct name
            std::array<std::string, kFieldCount> values;
            const ImportRows& rows = table.rows;
            for (int r = first; r < table.rowCount(); ++r) {
                const int id = ++lastId;
                // blanks around an address are no part of it (the send ignores them too)
                std::string& address = values[0];
                assignTrimmed(address, rows.field(r, 0));
                address.resize(size_t(
                    cutUtf8(QByteArrayView(address.data(), qsizetype(address.size())), fieldLength)
                        .size()));
                for (int j = 1; j < kFieldCount; ++j) {
                    const QByteArrayView v = cutUtf8(rows.field(r, j), fieldLength);
                    values[size_t(j)].assign(v.data(), size_t(v.size()));
                }
                load->add(id, values);
                if (grouped) {
                    const QByteArrayView name = rows.field(r, grouping.groupField);
                    auto it = groupIds.find(name.toByteArray());
                    if (it == groupIds.end()) {
                        // The lookup quotes the name as a literal itself (apostrophes doubled).
                        it = groupIds.insert(name.toByteArray(),
                                             store.Groups().FindGroupByName(
                                                 QString::fromUtf8(cutUtf8(name, fieldLength))));
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
            if (result.cancelled) {
                // Nothing of this import stays, the captions included.
                load->rollback();
                pairs.clear();
                (void)ui.message(str(ids::kImportDataFileCaption), str(ids::kImportCancelled),
                                 MessageKind::Information);
                return result;
            }
            load->commit();
            result.stored = load->written();
            store.SetModified();
        } catch (const db::StoreError& e) {
            // The transaction rolls back when released: nothing of this import stays.
            result.failed = true;
            result.error = QString::fromLocal8Bit(e.what());
            pairs.clear();
            store.ReportDroppedError("import", e);
            (void)ui.message(str(ids::kImportDataFileCaption), str(ids::kImportStoreFailed),
                             MessageKind::Information);
        }
    }
    // A membership the database refuses is dropped by the store with its words in the
    // diagnostics: counted here on the way through, so the user hears of it.
    int membershipsLost = 0;
    const db::DiagnosticSink diagnostics = store.Diagnostics();
    store.SetDiagnostics([&membershipsLost, &diagnostics](const QString& text) {
        ++membershipsLost;
        if (diagnostics)
            diagnostics(text);
    });
    for (const auto& [group, record] : pairs) {
        const int lostBefore = membershipsLost;
        try {
            store.Groups().AddToGroup(group, record);
        } catch (const db::StoreError& e) {
            store.ReportDroppedError("import group membership", e);
        }
        if (membershipsLost == lostBefore)
            ++result.memberships;
    }
    store.SetDiagnostics(diagnostics);
    if (membershipsLost > 0)  // the records stay; told once, not once per record
        (void)ui.message(str(ids::kImportDataFileCaption),
                         str(ids::kImportMembershipsFailed).arg(membershipsLost),
                         MessageKind::Information);

    if (session.firstRecordOption()) {
        const QStringList& headings = session.headings();
        const auto captions = store.FieldCaptions().Captions();
        try {
            std::vector<db::CaptionChange> changes;
            for (int i = 0; i < kFieldCount && i < headings.size(); ++i) {
                if (headings[i] != captions[size_t(i)])
                    changes.push_back({i, headings[i]});
            }
            store.FieldCaptions().WriteCaptions(changes, kImportLockTimeoutSeconds);
            result.captionsChanged = !changes.empty();
            if (result.captionsChanged)
                store.SetModified();
            // the field window and the other observers relabel with the new captions
            store.FieldCaptions().ReloadCaptions();
        } catch (const db::StoreError& e) {
            result.captionsFailed = true;
            result.captionsChanged = false;
            store.ReportDroppedError("import captions", e);
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
                          int maxRows, WorkbookDateForm dateForm) {
    ReadResult result;
    if (readerFor(path) == ReaderKind::Workbook) {
        result = readWorkbook(path, table, chooseWorksheet, progress, maxRows, dateForm);
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
