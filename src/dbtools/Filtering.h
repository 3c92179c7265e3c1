#pragma once
// The filter conditions of the editor's "Data Filtering" dialog and the values it offers.

#include <QString>
#include <QStringList>

#include "db/ListTerms.h"

namespace pw::db {
class TDbData;
}

namespace pw::dbtools {

using FilterKind = db::FilterKind;
// What the dialog returns on OK: the field (0..19), the text and the kind of test.
using FilterChoice = db::ListFilter;

// The non-empty values of a field over the whole table, in the engine's order, for the
// dialog's "Text" list. Database errors give what was read so far.
[[nodiscard]] QStringList DistinctFieldValues(db::TDbData& store, int field);

}  // namespace pw::dbtools
