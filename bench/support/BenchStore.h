#pragma once
// A working database of many records for the benchmarks that need one, filled inside the
// engine in one statement (a client-side loop would time the filling, not the subject).
#include <QString>
#include <cstdio>

#include "db/TDbData.h"

namespace pw::bench {

// fieldValues: the SQL of the field values after ID, SENDED and SENDING, each led by a
// comma, in terms of the record number :i; sentValue: the SQL of SENDED. SENDING is 1.
[[nodiscard]] inline bool createFilledStore(db::TDbData& store, int count,
                                            const QString& fieldValues,
                                            const QString& sentValue = QStringLiteral("0")) {
    if (store.CreateDatabase(store.MakeWorkingCopyPath()) != db::CreateResult::Created ||
        !store.Open()) {
        std::fprintf(stderr, "could not create the database\n");
        return false;
    }
    store.ExecuteImmediate(
        QStringLiteral("execute block as declare i integer = 1; begin while (i <= %1) do "
                       "begin insert into MAILS values (:i, %2, 1 %3); i = i + 1; end end")
            .arg(count)
            .arg(sentValue, fieldValues));
    if (!store.Save(db::SaveMode::Retaining) || store.CountRecords() != count) {
        std::fprintf(stderr, "could not fill the database\n");
        return false;
    }
    return true;
}

}  // namespace pw::bench
