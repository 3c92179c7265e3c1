#pragma once
// A bulk load of new records (the import) in a transaction of its own beside the store's main
// one, so that it commits on its own. Rows go in through one prepared insert.
// Every operation throws StoreError; a load not committed is rolled back when it goes.

#include <array>
#include <memory>
#include <string>

#include "db/RecordCache.h"

namespace pw::db {

class TDbData;

class RecordImport {
public:
    ~RecordImport();
    RecordImport(const RecordImport&) = delete;
    RecordImport& operator=(const RecordImport&) = delete;

    // The next record: selected, not sent, its 20 field values as stored bytes (the field
    // length is the caller's to keep).
    void add(int id, const std::array<std::string, kFieldCount>& values);
    // Records inserted so far.
    [[nodiscard]] int written() const { return m_written; }
    void commit() { end(End::Commit); }
    void rollback() { end(End::Rollback); }

private:
    friend class CStoreRecords;
    RecordImport(const TDbData& store, int lockTimeoutSeconds);
    enum class End { Commit, Rollback };
    void end(End how);

    // the transaction and the statement, kept out of this header
    struct Engine;
    std::unique_ptr<Engine> m_engine;
    int m_written = 0;
};

}  // namespace pw::db
