#pragma once
// The filter conditions of the editor's "Data Filtering" dialog and the values it offers.

#include <QString>
#include <QStringList>

namespace pw::db {
class TDbData;
}

namespace pw::dbtools {

enum class FilterKind { Match = 0, Include = 1, Exclude = 2 };

// What the dialog returns on OK: the field (0..19), the text and the kind of test.
struct FilterChoice {
    int field = -1;
    QString text;
    FilterKind kind = FilterKind::Match;
};

// "(%s = '%s')", "(%s containing '%s')" or "(%s not containing '%s')" with the column name
// and the text as a literal (quotes doubled).
[[nodiscard]] QString FilterCondition(const QString& columnName, FilterKind kind,
                                      const QString& text);

// The non-empty values of a field over the whole table, in the engine's order, for the
// dialog's "Text" list. Database errors give what was read so far.
[[nodiscard]] QStringList DistinctFieldValues(db::TDbData& store, int field);

}  // namespace pw::dbtools
