#pragma once
// The rows of an import table, held compactly: the fields' UTF-8 bytes one after another in
// blocks of rows, with an end offset per field and per row. A million rows of 20 fields cost
// their text and 84 bytes each, not a string object and an allocation per field.
//
// The rows are read as they stand after the preview's changes, which are kept as a view
// over the stored bytes instead of rewriting them: columns exchanged by the moves, columns
// left unchecked read as empty, values cut to the field length, rows filled up to the 20
// recipient fields.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <vector>

namespace pw::exchange {

// UTF-8 as text. Unlike QString::fromUtf8 it keeps a byte order mark at the start, which in
// a field is a character like any other.
[[nodiscard]] QString utf8Text(QByteArrayView bytes);

// Recipient fields a row can fill; columns beyond these never reach the database.
inline constexpr int kFieldCount = 20;

using ImportRow = QStringList;

class ImportRows {
public:
    ImportRows();
    explicit ImportRows(const QList<ImportRow>& rows);
    ImportRows& operator=(const QList<ImportRow>& rows);

    // ---- filling, a row at a time ----
    void append(const ImportRow& row);
    // The bytes of the next field come in one or more pieces; valid UTF-8.
    void appendToField(const char* bytes, qsizetype size);
    void endField();
    void endRow();

    // ---- reading, as the rows stand ----
    [[nodiscard]] qsizetype size() const { return m_rowCount; }
    [[nodiscard]] bool isEmpty() const { return m_rowCount == 0; }
    [[nodiscard]] int fieldCount(qsizetype row) const;
    // Field `column` of the row in UTF-8; empty where the row has no such field. Valid until
    // the rows change.
    [[nodiscard]] QByteArrayView field(qsizetype row, int column) const;
    [[nodiscard]] QString text(qsizetype row, int column) const {
        return utf8Text(field(row, column));
    }
    [[nodiscard]] ImportRow operator[](qsizetype row) const;
    [[nodiscard]] ImportRow front() const { return (*this)[0]; }
    [[nodiscard]] ImportRow back() const { return (*this)[m_rowCount - 1]; }
    [[nodiscard]] bool operator==(const QList<ImportRow>& rows) const;

    class const_iterator {
    public:
        const_iterator(const ImportRows* rows, qsizetype row) : m_rows(rows), m_row(row) {}
        ImportRow operator*() const { return (*m_rows)[m_row]; }
        const_iterator& operator++() {
            ++m_row;
            return *this;
        }
        bool operator!=(const const_iterator& other) const { return m_row != other.m_row; }

    private:
        const ImportRows* m_rows;
        qsizetype m_row;
    };
    [[nodiscard]] const_iterator begin() const { return {this, 0}; }
    [[nodiscard]] const_iterator end() const { return {this, m_rowCount}; }

    // ---- changing ----
    // Drops the rows from `rows` on; a larger count changes nothing.
    void resize(qsizetype rows);
    void clear();

    // The preview: from row `from` on, raw column j keeps its text only when keep(j) says so
    // (every column past keep's size is emptied), cut to fieldLength bytes at a character
    // boundary, and every row reads as at least kFieldCount fields. keep is by the columns as
    // they stand now. A second preview narrows the first.
    void applyPreview(qsizetype from, const std::vector<bool>& keepByColumn, int fieldLength);
    // Exchanges two of the first kFieldCount columns in every row.
    void swapColumns(int a, int b);
    // The raw column that column c reads from.
    [[nodiscard]] int sourceColumn(int column) const {
        return column < kFieldCount ? m_order[size_t(column)] : column;
    }

private:
    // Rows per block: blocks keep the growing text from being copied as a whole.
    static constexpr qsizetype kBlockRows = 1024;
    struct Block {
        QByteArray text;
        std::vector<uint32_t> fieldEnds;  // end of each field in text
        std::vector<uint32_t> rowEnds;    // end of each row in fieldEnds
    };

    [[nodiscard]] QByteArrayView rawField(qsizetype row, int column) const;
    [[nodiscard]] int rawFieldCount(qsizetype row) const;
    [[nodiscard]] bool viewed(qsizetype row) const {
        return m_previewFrom >= 0 && row >= m_previewFrom;
    }

    std::vector<Block> m_blocks;
    qsizetype m_rowCount = 0;
    bool m_fieldOpen = false;
    // the view
    std::array<uint8_t, kFieldCount> m_order{};
    int m_movedWidth = 0;  // rows read as at least this many fields once columns moved
    qsizetype m_previewFrom = -1;
    std::vector<bool> m_keep;
    int m_fieldLength = 0;
};

// The longest prefix of whole characters of valid UTF-8 that fits into maxBytes bytes.
[[nodiscard]] QByteArrayView cutUtf8(QByteArrayView bytes, int maxBytes);

}  // namespace pw::exchange
