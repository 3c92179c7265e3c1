#include "exchange/ImportSession.h"

#include "db/TDbData.h"
#include "resources/Strings.h"

namespace pw::exchange {

QString recipientColumnName(int field) {
    return field >= 0 && field < kFieldCount ? db::ColumnNames()[size_t(field)] : QString();
}

QString truncateToFieldLength(const QString& value, int maxBytes) {
    if (maxBytes <= 0)
        return QString();
    // Fast path: every UTF-16 unit is at least one byte, and at most three.
    if (value.size() * 3 <= maxBytes)
        return value;
    qsizetype bytes = 0;
    qsizetype i = 0;
    const qsizetype n = value.size();
    while (i < n) {
        const char16_t c = value[i].unicode();
        qsizetype units = 1;
        qsizetype width;
        if (c < 0x80) {
            width = 1;
        } else if (c < 0x800) {
            width = 2;
        } else if (QChar::isHighSurrogate(c) && i + 1 < n &&
                   QChar::isLowSurrogate(value[i + 1].unicode())) {
            width = 4;
            units = 2;
        } else {
            width = 3;  // also a lone surrogate, which the encoder writes as a replacement
        }
        if (bytes + width > maxBytes)
            break;
        bytes += width;
        i += units;
    }
    return i == n ? value : value.first(i);
}

namespace {
bool holdsAddress(const QString& value);
}  // namespace

void ImportSession::resetSelection() {
    m_checked.clear();
    if (table.rows.isEmpty())
        return;
    const ImportRow first = table.rows[0];
    m_checked.fill(false, first.size());
    // An obvious heading row (no address in it, one below it in a column it names): its
    // named columns are ticked and it gives the field names.
    if (table.rows.size() < 2)
        return;
    const ImportRow second = table.rows[1];
    bool headed = false;
    for (qsizetype c = 0; c < first.size(); ++c) {
        if (holdsAddress(first[c]))
            return;
        headed = headed ||
                 (c < second.size() && holdsAddress(second[c]) && !first[c].trimmed().isEmpty());
    }
    if (!headed)
        return;
    m_firstRecordOption = true;
    for (qsizetype c = 0, ticked = 0; c < first.size() && ticked < kFieldCount; ++c) {
        if (!first[c].trimmed().isEmpty()) {
            m_checked[c] = true;
            ++ticked;
        }
    }
}

QStringList ImportSession::items() const {
    return table.rows.isEmpty() ? QStringList() : table.rows.front();
}

void ImportSession::setChecked(int item, bool checked) {
    if (item >= 0 && item < m_checked.size())
        m_checked[item] = checked;
}

bool ImportSession::isChecked(int item) const {
    return item >= 0 && item < m_checked.size() && m_checked[item];
}

int ImportSession::checkedCount() const {
    return int(m_checked.count(true));
}

void ImportSession::selectAll() {
    m_checked.fill(true);
}

void ImportSession::selectNone() {
    m_checked.fill(false);
}

SelectionVerdict ImportSession::acceptSelection(IUserInteraction& ui) const {
    const int checked = checkedCount();
    if (checked > kFieldCount) {
        (void)ui.message(str(ids::kSelectDataCaption), str(ids::kTooManyImportFields),
                         MessageKind::Information);
        return SelectionVerdict::TooMany;
    }
    if (checked == 0) {
        (void)inform(ui, str(ids::kChooseItemsToImport));
        return SelectionVerdict::NoneChecked;
    }
    return SelectionVerdict::Accepted;
}

PreviewResult ImportSession::preparePreview(const QStringList& captions, int fieldLength,
                                            int recordCount, IUserInteraction& ui,
                                            SteppedProgress& progress, int recordLimit) {
    PreviewResult result;
    const int rows = table.rowCount();
    progress.setRange(0, rows);
    progress.setPosition(0);

    auto caption = [&](int i) { return i < captions.size() ? captions[i] : QString(); };
    m_headings.clear();
    if (m_firstRecordOption && !table.rows.isEmpty()) {
        const int width = table.rows.fieldCount(0);
        const int count = std::max<int>(kFieldCount, width);
        for (int i = 0; i < count; ++i)
            m_headings.append(i < width ? table.rows.text(0, i) : caption(i));
    } else {
        for (int i = 0; i < kFieldCount; ++i)
            m_headings.append(caption(i));
    }
    result.headings = m_headings;

    if (checkedCount() == 0) {
        table.clear();
        return result;
    }

    int n = recordCount;
    const int first = firstDataRow();
    int end = table.rowCount();
    for (int r = first; r < end; ++r) {
        if (n >= recordLimit) {
            // not "cancelled": what fits is imported, and the limit is the user's to raise
            (void)ui.message(
                str(ids::kImportDataFileCaption),
                str(ids::kImportLimitReached)
                    .arg(QString::number(recordLimit), QString::number(n - recordCount)),
                MessageKind::Information);
            end = r;
            result.limitReached = true;
            break;
        }
        const int width = table.rows.fieldCount(r);
        for (int j = 0; j < width && j < kFieldCount; ++j) {
            if (isChecked(j) && table.rows.field(r, j).size() > fieldLength)
                result.truncated[j] = true;
        }
        ++n;
        progress.advanceTo(r + 1);
    }
    // The rows stay as read; the table reads them emptied, cut and filled from here on.
    table.rows.resize(end);
    std::vector<bool> keep(size_t(m_checked.size()));
    for (qsizetype j = 0; j < m_checked.size(); ++j)
        keep[size_t(j)] = m_checked[j];
    table.rows.applyPreview(first, keep, fieldLength);
    result.dataRows = dataRowCount();

    bool anyCut = false;
    QString text = str(ids::kExcessTextTrimmed);
    for (int j = 0; j < kFieldCount; ++j) {
        if (!result.truncated[j])
            continue;
        anyCut = true;
        text += recipientColumnName(j) + u'\n';
    }
    if (anyCut)
        (void)inform(ui, text);
    return result;
}

int ImportSession::dataRowCount() const {
    return std::max(0, table.rowCount() - firstDataRow());
}

QString ImportSession::cell(int line, int column) const {
    const int r = line + firstDataRow();
    if (line < 0 || r >= table.rowCount() || column < 0)
        return QString();
    return table.rows.text(r, column);
}

int ImportSession::moveColumn(int selected, MoveDirection direction) {
    const int target = selected + int(direction);
    if (selected < 0 || selected >= kFieldCount || target < 0 || target >= kFieldCount) {
        return selected;
    }
    table.rows.swapColumns(selected, target);
    if (m_firstRecordOption && std::max(selected, target) < m_headings.size())
        m_headings.swapItemsAt(selected, target);
    return target;
}

namespace {

// name@domain.tld without blanks: enough to tell a column of addresses from one of names.
bool holdsAddress(const QString& value) {
    const QString text = value.trimmed();
    const qsizetype at = text.indexOf(u'@');
    return at > 0 && at == text.lastIndexOf(u'@') && text.indexOf(u'.', at) > at + 1 &&
           !text.endsWith(u'.') && !text.contains(u' ') && !text.contains(u'\t');
}

}  // namespace

int ImportSession::addressCount(int column) const {
    int n = 0;
    for (int line = 0; line < dataRowCount(); ++line) {
        if (holdsAddress(cell(line, column)))
            ++n;
    }
    return n;
}

int ImportSession::addressColumnOffer() const {
    if (dataRowCount() == 0 || addressCount(0) > 0)
        return -1;
    int best = -1;
    int most = 0;
    for (int column = 1; column < kFieldCount; ++column) {
        const int n = addressCount(column);
        if (n > most) {
            most = n;
            best = column;
        }
    }
    return best;
}

void ImportSession::moveColumnToFront(int column) {
    for (int c = column; c > 0; --c)
        (void)moveColumn(c, MoveDirection::Left);
}

}  // namespace pw::exchange
