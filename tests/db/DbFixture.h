#pragma once
// One private world with a recipient store on a freshly created working copy.

#include <memory>

#include "EngineLockFolder.h"
#include "RawStatement.h"
#include "ScriptedUserInteraction.h"
#include "TestEnv.h"
#include "db/RecipientList.h"
#include "db/StoreHandles.h"
#include "db/TDbData.h"

namespace pw::test {

struct DbWorld {
    bool lockFolderReady = ensureProcessLockFolder();
    TestEnv env;
    ScriptedUserInteraction ui;
    db::DbFolders folders;
    std::unique_ptr<db::TDbData> store;

    DbWorld();
    // Creates a working copy (with the given field size) and opens it; false on failure.
    [[nodiscard]] bool createAndOpen(int strFieldSize = 100);
};

// Adds one record with explicit ID, flags and fields (fields[k] is field k+1; missing ones NULL).
void insertRecord(db::TDbData& store, int id, int sended, int sending, const QStringList& fields);

enum class Seen { Committed, InMainTransaction };
// Runs one query and returns the first column of every row as text ("<null>" for NULL): in a
// transaction of its own (what is committed) or in the store's main transaction.
[[nodiscard]] QStringList queryColumn(db::TDbData& store, const QString& sql,
                                      Seen seen = Seen::Committed);

}  // namespace pw::test
