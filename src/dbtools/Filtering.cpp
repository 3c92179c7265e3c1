#include "dbtools/Filtering.h"

#include "db/TDbData.h"

namespace pw::dbtools {

QStringList DistinctFieldValues(db::TDbData& store, int field) {
    try {
        return store.Records().DistinctFieldValues(field);
    } catch (const db::StoreError& e) {
        store.ReportDroppedError("Reading the values of a field", e);
    }
    return {};
}

}  // namespace pw::dbtools
