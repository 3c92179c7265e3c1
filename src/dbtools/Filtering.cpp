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
    QStringList out;
    if (field < 0 || field >= db::kFieldCount || !store.IsOpen() || !store.MainTransaction())
        return out;
    try {
        IBPP::Statement st = IBPP::StatementFactory(store.Database(), store.MainTransaction());
        st->Execute(QStringLiteral("select distinct %1 from MAILS;")
                        .arg(db::ColumnNames()[field])
                        .toUtf8()
                        .toStdString());
        std::string value;
        while (st->Fetch()) {
            value.clear();
            if (!st->Get(1, value) && !value.empty())
                out << QString::fromUtf8(value.data(), qsizetype(value.size()));
        }
    } catch (const std::exception& e) {
        db::ReportDroppedError("Reading the values of a field", e);
    }
    return out;
}

}  // namespace pw::dbtools
