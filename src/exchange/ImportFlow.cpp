#include "exchange/ImportFlow.h"

#include <algorithm>

#include "db/TDbData.h"
#include "resources/Strings.h"

namespace pw::exchange {

// ---- the item list ----------------------------------------------------------------------------

ImportItemsModel::ImportItemsModel(ImportSession& session, QObject* parent)
    : QAbstractListModel(parent), m_session(session) {}

void ImportItemsModel::reset() {
    beginResetModel();
    endResetModel();
}

int ImportItemsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_session.itemCount();
}

QVariant ImportItemsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return m_session.items().value(index.row());
    if (role == Qt::CheckStateRole)
        return m_session.isChecked(index.row()) ? Qt::Checked : Qt::Unchecked;
    return {};
}

Qt::ItemFlags ImportItemsModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
           Qt::ItemNeverHasChildren;
}

bool ImportItemsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::CheckStateRole || index.row() >= rowCount())
        return false;
    m_session.setChecked(index.row(), value.toInt() == Qt::Checked);
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

// ---- the preview ------------------------------------------------------------------------------

ImportPreviewModel::ImportPreviewModel(ImportSession& session, QObject* parent)
    : QAbstractTableModel(parent), m_session(session) {}

void ImportPreviewModel::reset() {
    beginResetModel();
    m_selected = -1;
    m_selectedLine = -1;
    endResetModel();
}

void ImportPreviewModel::clickCell(int line, int column) {
    if (line < 0 || line >= rowCount() || column < 0 || column >= columnCount())
        return;
    m_selected = column;
    m_selectedLine = line;
    emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

void ImportPreviewModel::move(MoveDirection direction) {
    if (m_selected < 0)
        return;
    const int target = m_session.moveColumn(m_selected, direction);
    if (target == m_selected)
        return;
    m_selected = target;
    emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

int ImportPreviewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_session.dataRowCount();
}

int ImportPreviewModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_session.headings().size());
}

QVariant ImportPreviewModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return m_session.cell(index.row(), index.column());
    if (role == SelectedColumnRole)
        return index.row() == m_selectedLine && index.column() == m_selected;
    return {};
}

QVariant ImportPreviewModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    return m_session.headings().value(section);
}

// ---- the flow ---------------------------------------------------------------------------------

ImportFlow::ImportFlow(db::TDbData& store, IUserInteraction& ui, ImportSettings settings)
    : m_store(store), m_ui(ui), m_settings(settings) {}

ReadResult ImportFlow::read(TextEncoding encoding, IImportWindows* windows) {
    SteppedProgress progress(m_progress);
    beginImportProgress(progress);
    const DelimiterChooser delimiter = [&]() -> std::optional<Delimiter> {
        std::optional<Delimiter> d = windows ? windows->chooseDelimiter() : std::nullopt;
        m_delimiter = d.value_or(Delimiter::Comma);
        return d;
    };
    const WorksheetChooser sheet = [&](const QStringList& names, int active) {
        return windows ? windows->chooseWorksheet(names, active) : std::optional<int>();
    };
    if (windows) {
        return readImportFile(m_path, m_session.table, delimiter, sheet, m_ui, progress,
                              m_settings.legacy, encoding, maxReaderRows(m_store.RecordLimit()),
                              m_settings.dateForm);
    }
    // Reading again: the delimiter chosen the first time.
    const Delimiter chosen = m_delimiter;
    return readImportFile(
        m_path, m_session.table, [chosen] { return std::optional<Delimiter>(chosen); }, sheet, m_ui,
        progress, m_settings.legacy, encoding, maxReaderRows(m_store.RecordLimit()),
        m_settings.dateForm);
}

void ImportFlow::run(const QString& path, IImportWindows& windows, IProgress* progress) {
    m_path = path;
    m_progress = progress;
    m_text = readerFor(path) == ReaderKind::DelimitedText;
    m_delimiter = Delimiter::Comma;
    m_read = read(TextEncoding::Detect, &windows);
    m_detected = m_read.encoding;
    if (m_read.rowCount > 0) {
        m_session.resetSelection();
        windows.selectData(*this);
    }
    m_progress = nullptr;  // the command's window ends with the command
}

QString ImportFlow::encodingText() const {
    if (!m_text)
        return {};
    if (m_encoding == TextEncoding::Detect)
        return str(ids::kEncodingDetected).arg(m_detected);
    return m_read.encoding;
}

bool ImportFlow::reread(TextEncoding encoding) {
    if (!m_text)
        return false;
    m_encoding = encoding;
    m_read = read(encoding, nullptr);
    m_session.resetSelection();
    return m_read.rowCount > 0;
}

std::optional<std::pair<int, int>> ImportFlow::fieldCountRange() const {
    const ImportRows& rows = m_session.table.rows;
    if (rows.isEmpty())
        return std::nullopt;
    int low = rows.fieldCount(0);
    int high = low;
    for (qsizetype r = 1; r < rows.size(); ++r) {
        low = std::min(low, rows.fieldCount(r));
        high = std::max(high, rows.fieldCount(r));
    }
    if (low == high)
        return std::nullopt;
    return std::make_pair(low, high);
}

SelectionVerdict ImportFlow::acceptSelection() {
    return m_session.acceptSelection(m_ui);
}

PreviewResult ImportFlow::preparePreview(SteppedProgress& progress) {
    QStringList captions;
    for (const QString& c : m_store.FieldCaptions().Captions())
        captions << c;
    int records = 0;
    try {
        records = m_store.Records().CountRecords();
    } catch (const db::StoreError& e) {
        m_store.ReportDroppedError("Counting the records", e);
    }
    return m_session.preparePreview(captions, m_store.StringFieldLength(), records, m_ui, progress,
                                    m_store.RecordLimit());
}

bool ImportFlow::confirmAddressColumn() {
    const int column = m_session.addressColumnOffer();
    if (column < 0)
        return true;
    const QString heading = m_session.headings().value(column);
    // one pass, so that a caption holding "%2" stays as it is
    const QString text = str(ids::kImportAddressColumnOffer)
                             .arg(m_store.FieldCaptions().Captions()[0],
                                  heading.isEmpty() ? QString::number(column + 1) : heading,
                                  QString::number(m_session.addressCount(column)),
                                  QString::number(m_session.dataRowCount()));
    switch (m_ui.message(str(ids::kImportDataFileCaption), text, MessageKind::YesNoCancel)) {
        case Answer::Yes:
            m_session.moveColumnToFront(column);
            return true;
        case Answer::No:
            return true;
        default:
            return false;
    }
}

StoreResult ImportFlow::storeRows(bool openDatabaseChecked) {
    SteppedProgress progress(m_progress);
    if (m_progress) {
        m_progress->setText(str(ids::kStoringData));
        m_progress->setCancellable();
        m_progress->show();
    }
    StoreResult result = storeImport(m_store, m_session, m_settings.grouping, m_ui, progress);
    m_stored = result;
    if (!result.cancelled)
        m_after = afterImport(openDatabaseChecked);
    return result;
}

// ---- the command ------------------------------------------------------------------------------

QString chooserFilter(const QString& tableFilter) {
    const QStringList parts = tableFilter.split(u'|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString label = parts[i].trimmed();
        if (label.isEmpty())
            break;
        if (const qsizetype open = label.indexOf(u'('); open >= 0)
            label = label.left(open).trimmed();
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(u';'))
            if (!p.trimmed().isEmpty())
                patterns << p.trimmed();
        out << QStringLiteral("%1 (%2)").arg(label, patterns.join(u' '));
    }
    return out.join(QStringLiteral(";;"));
}

std::unique_ptr<ImportFlow> runImportCommand(db::TDbData& store, IUserInteraction& ui,
                                             const ImportSettings& settings,
                                             IImportWindows& windows) {
    FileRequest request;
    request.mode = FileChoice::OpenFile;
    request.caption = str(ids::kTipImportDataFile);
    request.filters = chooserFilter(str(ids::kImportFileFilter));
    const QStringList chosen = ui.chooseFiles(request);
    if (chosen.isEmpty())
        return nullptr;
    const std::unique_ptr<IProgress> progress = ui.createProgress();
    auto flow = std::make_unique<ImportFlow>(store, ui, settings);
    flow->run(chosen.front(), windows, progress.get());
    return flow;
}

}  // namespace pw::exchange
