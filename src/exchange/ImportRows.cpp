#include "exchange/ImportRows.h"

#include <algorithm>
#include <numeric>

namespace pw::exchange {

QString utf8Text(QByteArrayView bytes) {
    QString out;
    while (bytes.size() >= 3 && uchar(bytes[0]) == 0xEF && uchar(bytes[1]) == 0xBB &&
           uchar(bytes[2]) == 0xBF) {
        out += QChar(0xFEFF);
        bytes = bytes.sliced(3);
    }
    return out.isEmpty() ? QString::fromUtf8(bytes) : out + QString::fromUtf8(bytes);
}

QByteArrayView cutUtf8(QByteArrayView bytes, int maxBytes) {
    if (maxBytes <= 0)
        return {};
    if (bytes.size() <= maxBytes)
        return bytes;
    qsizetype end = maxBytes;
    // back to the first byte of the character that did not fit
    while (end > 0 && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80)
        --end;
    return bytes.first(end);
}

ImportRows::ImportRows() {
    std::iota(m_order.begin(), m_order.end(), uint8_t(0));
}

ImportRows::ImportRows(const QList<ImportRow>& rows) : ImportRows() {
    for (const ImportRow& r : rows)
        append(r);
}

ImportRows& ImportRows::operator=(const QList<ImportRow>& rows) {
    *this = ImportRows(rows);
    return *this;
}

void ImportRows::append(const ImportRow& row) {
    for (const QString& f : row) {
        const QByteArray bytes = f.toUtf8();
        appendToField(bytes.constData(), bytes.size());
        endField();
    }
    endRow();
}

void ImportRows::appendToField(const char* bytes, qsizetype size) {
    if (m_blocks.empty() || qsizetype(m_blocks.back().rowEnds.size()) == kBlockRows)
        m_blocks.emplace_back();
    m_blocks.back().text.append(bytes, size);
    m_fieldOpen = true;
}

void ImportRows::endField() {
    if (!m_fieldOpen)
        appendToField(nullptr, 0);
    Block& b = m_blocks.back();
    b.fieldEnds.push_back(uint32_t(b.text.size()));
    m_fieldOpen = false;
}

void ImportRows::endRow() {
    if (m_blocks.empty() || qsizetype(m_blocks.back().rowEnds.size()) == kBlockRows)
        m_blocks.emplace_back();
    Block& b = m_blocks.back();
    b.rowEnds.push_back(uint32_t(b.fieldEnds.size()));
    ++m_rowCount;
}

int ImportRows::rawFieldCount(qsizetype row) const {
    const Block& b = m_blocks[size_t(row / kBlockRows)];
    const qsizetype r = row % kBlockRows;
    return int(b.rowEnds[size_t(r)] - (r ? b.rowEnds[size_t(r - 1)] : 0));
}

QByteArrayView ImportRows::rawField(qsizetype row, int column) const {
    const Block& b = m_blocks[size_t(row / kBlockRows)];
    const qsizetype r = row % kBlockRows;
    const uint32_t first = r ? b.rowEnds[size_t(r - 1)] : 0;
    if (column < 0 || uint32_t(column) >= b.rowEnds[size_t(r)] - first)
        return {};
    const uint32_t f = first + uint32_t(column);
    const uint32_t begin = f ? b.fieldEnds[f - 1] : 0;
    return QByteArrayView(b.text.constData() + begin, qsizetype(b.fieldEnds[f] - begin));
}

int ImportRows::fieldCount(qsizetype row) const {
    if (row < 0 || row >= m_rowCount)
        return 0;
    int n = std::max(rawFieldCount(row), m_movedWidth);
    return viewed(row) ? std::max(n, kFieldCount) : n;
}

QByteArrayView ImportRows::field(qsizetype row, int column) const {
    if (row < 0 || row >= m_rowCount || column < 0)
        return {};
    const int source = sourceColumn(column);
    const QByteArrayView raw = rawField(row, source);
    if (!viewed(row))
        return raw;
    if (size_t(source) >= m_keep.size() || !m_keep[size_t(source)])
        return {};
    return cutUtf8(raw, m_fieldLength);
}

ImportRow ImportRows::operator[](qsizetype row) const {
    ImportRow out;
    const int n = fieldCount(row);
    out.reserve(n);
    for (int c = 0; c < n; ++c)
        out.append(text(row, c));
    return out;
}

bool ImportRows::operator==(const QList<ImportRow>& rows) const {
    if (rows.size() != m_rowCount)
        return false;
    for (qsizetype r = 0; r < m_rowCount; ++r) {
        if ((*this)[r] != rows[r])
            return false;
    }
    return true;
}

void ImportRows::resize(qsizetype rows) {
    if (rows < 0 || rows >= m_rowCount)
        return;
    m_blocks.resize(size_t((rows + kBlockRows - 1) / kBlockRows));
    if (!m_blocks.empty()) {
        Block& b = m_blocks.back();
        b.rowEnds.resize(size_t(rows - qsizetype(m_blocks.size() - 1) * kBlockRows));
        const uint32_t fields = b.rowEnds.empty() ? 0 : b.rowEnds.back();
        b.fieldEnds.resize(fields);
        b.text.truncate(fields ? qsizetype(b.fieldEnds.back()) : 0);
    }
    m_rowCount = rows;
    m_fieldOpen = false;
}

void ImportRows::clear() {
    *this = ImportRows();
}

void ImportRows::applyPreview(qsizetype from, const std::vector<bool>& keepByColumn,
                              int fieldLength) {
    std::vector<bool> keep(std::max<size_t>(keepByColumn.size(), kFieldCount), false);
    for (size_t c = 0; c < keepByColumn.size(); ++c) {
        const size_t source = size_t(sourceColumn(int(c)));
        if (source < keep.size())
            keep[source] = keepByColumn[c];
    }
    if (m_previewFrom >= 0) {
        for (size_t c = 0; c < keep.size(); ++c)
            keep[c] = keep[c] && c < m_keep.size() && m_keep[c];
        fieldLength = std::min(fieldLength, m_fieldLength);
        from = std::min(from, m_previewFrom);
    }
    m_keep = std::move(keep);
    m_fieldLength = fieldLength;
    m_previewFrom = from;
}

void ImportRows::swapColumns(int a, int b) {
    if (a < 0 || b < 0 || a >= kFieldCount || b >= kFieldCount)
        return;
    std::swap(m_order[size_t(a)], m_order[size_t(b)]);
    m_movedWidth = std::max(m_movedWidth, std::max(a, b) + 1);
}

}  // namespace pw::exchange
