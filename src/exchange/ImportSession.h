#pragma once
// The logic behind the two import dialogs: choosing the columns to keep, preparing the
// preview (limit, truncation, headings) and lining the columns up with the recipient
// fields. The dialogs only show this state and pass the user's clicks in.

#include <QList>
#include <QString>
#include <QStringList>
#include <array>

#include "exchange/ImportTable.h"
#include "exchange/SteppedProgress.h"
#include "resources/UserInteraction.h"

namespace pw::exchange {

// The store's column name of field index 0..19, as the import names a field it cut.
[[nodiscard]] QString recipientColumnName(int field);

// The longest prefix of whole characters whose UTF-8 form fits into maxBytes bytes. The
// store's fields hold bytes, so a character count alone would let a Japanese value be cut
// again, silently and possibly inside a character, when it is stored.
[[nodiscard]] QString truncateToFieldLength(const QString& value, int maxBytes);

enum class SelectionVerdict { Accepted, TooMany, NoneChecked };

enum class MoveDirection { Left = -1, Right = 1 };

struct PreviewResult {
    QStringList headings;
    std::array<bool, kFieldCount> truncated{};
    bool limitReached = false;
    int dataRows = 0;
};

class ImportSession {
public:
    ImportTable table;

    // "Select Data to Import": one item per field of row 0, all unchecked.
    void resetSelection();
    [[nodiscard]] QStringList items() const;
    [[nodiscard]] int itemCount() const { return int(m_checked.size()); }
    void setChecked(int item, bool checked);
    [[nodiscard]] bool isChecked(int item) const;
    [[nodiscard]] int checkedCount() const;
    void selectAll();
    void selectNone();

    // "Use the data from the first record as the data field names."
    void setFirstRecordOption(bool on) { m_firstRecordOption = on; }
    [[nodiscard]] bool firstRecordOption() const { return m_firstRecordOption; }

    // OK of "Select Data to Import": tells the user why the dialog stays, if it does.
    [[nodiscard]] SelectionVerdict acceptSelection(IUserInteraction& ui) const;

    // Prepares the "DataBase Contents" preview: headings from the captions (or row 0),
    // unchecked columns emptied, values cut to the field length, rows past the record
    // limit dropped, with the messages that go with it. captions holds the 20 current
    // captions, fieldLength the store's text field size in bytes, recordCount the records
    // the database holds now, recordLimit the most it may hold.
    PreviewResult preparePreview(const QStringList& captions, int fieldLength, int recordCount,
                                 IUserInteraction& ui, SteppedProgress& progress,
                                 int recordLimit = kRecordLimit);

    [[nodiscard]] const QStringList& headings() const { return m_headings; }
    [[nodiscard]] int firstDataRow() const { return m_firstRecordOption ? 1 : 0; }
    [[nodiscard]] int dataRowCount() const;
    // Field `column` of the line-th data row; empty where the row has no such field.
    [[nodiscard]] QString cell(int line, int column) const;

    // "Move To Right" / "Move To Left" with the selected column: exchanges it with its
    // neighbour in every row and returns the new selected column; returns the selection
    // unchanged (and does nothing) when the neighbour is outside the 20 fields.
    // With the first-record option the column's heading (its caption to be) moves with it.
    int moveColumn(int selected, MoveDirection direction);

    // The column that holds the most mail addresses of the data rows when column 0 (bound
    // for the mail-address field) holds none; -1 when there is nothing to offer.
    [[nodiscard]] int addressColumnOffer() const;
    // How many data rows of the column hold a mail address.
    [[nodiscard]] int addressCount(int column) const;
    // Moves the column to position 0; the columns before it move one to the right.
    void moveColumnToFront(int column);

private:
    QList<bool> m_checked;
    bool m_firstRecordOption = false;
    QStringList m_headings;
};

}  // namespace pw::exchange
