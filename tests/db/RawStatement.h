#pragma once
// Statements of a test's or benchmark's own against the store's open database: setting up
// rows the program's own operations would take long to make, or cannot make at all.

#include <QString>

namespace pw::db {
class TDbData;
}

namespace pw::test {

// Runs the statement in the store's main transaction, as the store's own changes are: marks a
// working copy modified, commits on a server. Nothing while closed; an engine error is thrown
// as db::StoreError.
void execute(db::TDbData& store, const QString& sql);

}  // namespace pw::test
