#pragma once
// A working database of many records for the benchmarks that need one, filled inside the
// engine in one statement (a client-side loop would time the filling, not the subject).
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstdio>

#include "RawStatement.h"
#include "db/TDbData.h"

namespace pw::bench {

// The folders of a benchmark's working database, below its temporary directory.
[[nodiscard]] inline db::DbFolders foldersIn(const QTemporaryDir& dir) {
    return {dir.path() + "/data/", dir.path() + "/state/"};
}

// The SQL of 20 field values of 100 bytes each, different in every record.
[[nodiscard]] inline QString fullFieldValues() {
    QString fields;
    for (int k = 1; k <= db::kFieldCount; ++k)
        fields += QStringLiteral(", rpad('f%1-' || :i || '-', 100, 'abcdefghij')").arg(k);
    return fields;
}

// Records 1..count into the open store, saved. fieldValues: the SQL of the 20 field values
// after ID, SENDED and SENDING, each led by a comma, in terms of the record number :i;
// sentValue: the SQL of SENDED. SENDING is 1.
[[nodiscard]] inline bool fillStore(db::TDbData& store, int count, const QString& fieldValues,
                                    const QString& sentValue = QStringLiteral("0")) {
    pw::test::execute(
        store, QStringLiteral("execute block as declare i integer = 1; begin while (i <= %1) do "
                              "begin insert into MAILS values (:i, %2, 1 %3); i = i + 1; end end")
                   .arg(count)
                   .arg(sentValue, fieldValues));
    if (!store.Save(db::SaveMode::Retaining) || store.Records().CountRecords() != count) {
        std::fprintf(stderr, "could not fill the database\n");
        return false;
    }
    return true;
}

// A new working database with fillStore's records.
[[nodiscard]] inline bool createFilledStore(db::TDbData& store, int count,
                                            const QString& fieldValues,
                                            const QString& sentValue = QStringLiteral("0")) {
    if (store.CreateDatabase(store.MakeWorkingCopyPath()) != db::CreateResult::Created ||
        !store.Open()) {
        std::fprintf(stderr, "could not create the database\n");
        return false;
    }
    return fillStore(store, count, fieldValues, sentValue);
}

// A saved and closed working copy of `count` customers (an address, a name, values), for the
// benchmarks that open a project on it; its path, or empty when it cannot be made.
[[nodiscard]] inline QString makeCustomerCopy(db::TDbData& store, int count) {
    const QString copy = store.MakeWorkingCopyPath();
    if (store.CreateDatabase(copy) != db::CreateResult::Created || !store.Open())
        return {};
    QString fields = QStringLiteral(", 'rcpt' || :i || '@example.jp', 'Customer ' || :i");
    for (int k = 3; k <= db::kFieldCount; ++k)
        fields += QStringLiteral(", 'value %1-' || :i").arg(k);
    if (!fillStore(store, count, fields))
        return {};
    store.SetModified();
    if (!store.Save(db::SaveMode::Ending))
        return {};
    store.Close(db::CloseMode::KeepWorkingCopy);
    return copy;
}

// The import benchmarks' CSV file: lines of an address, a Japanese name and two more fields.
[[nodiscard]] inline bool writeRecipientsCsv(const QString& path, int lines) {
    QByteArray csv;
    for (int i = 1; i <= lines; ++i)
        csv += "r" + QByteArray::number(i) + "@example.jp,名前 " + QByteArray::number(i) +
               ",field,more\n";
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(csv) == csv.size();
}

}  // namespace pw::bench
