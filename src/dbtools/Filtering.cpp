#include "dbtools/Filtering.h"

#include "db/TDbData.h"

namespace pw::dbtools {

QString FilterCondition(const QString& columnName, FilterKind kind, const QString& text) {
    const QString literal = db::SqlLiteral(text);
    switch (kind) {
        case FilterKind::Include:
            return QStringLiteral("(%1 containing %2)").arg(columnName, literal);
        case FilterKind::Exclude:
            return QStringLiteral("(%1 not containing %2)").arg(columnName, literal);
        case FilterKind::Match:
        default:
            return QStringLiteral("(%1 = %2)").arg(columnName, literal);
    }
}

QStringList DistinctFieldValues(db::TDbData& store, int field) {
    try {
        return store.DistinctFieldValues(field);
    } catch (const db::StoreError& e) {
        store.ReportDroppedError("Reading the values of a field", e);
    }
    return {};
}

}  // namespace pw::dbtools
