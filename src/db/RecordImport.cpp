#include "db/RecordImport.h"

#include <algorithm>

#include "db/StoreError.h"
#include "db/StoreHandles.h"

namespace pw::db {

namespace {

const char* const kInsertColumns =
    "insert into MAILS (ID, SENDED, SENDING, ADDRESS, NAME, FIELD3, FIELD4, FIELD5, FIELD6, "
    "FIELD7, FIELD8, FIELD9, FIELD10, FIELD11, FIELD12, FIELD13, FIELD14, FIELD15, FIELD16, "
    "FIELD17, FIELD18, FIELD19, FIELD20) values ";

// Rows one batch statement inserts: as many as keep its parameters within the engine's
// 64 KB message (20 texts of the field length and an ID a row), at most 16.
int batchRows(int fieldLength) {
    const int rowBytes = kFieldCount * (fieldLength + 2) + 8;
    return std::clamp(60000 / rowBytes, 1, 16);
}

// One statement for `rows` records: a block whose parameters are each row's ID and 20
// values, inserting them in order. One execution per batch instead of per record.
std::string batchInsert(int rows, int fieldLength) {
    std::string params;
    std::string body;
    for (int r = 0; r < rows; ++r) {
        const std::string n = std::to_string(r);
        params += (r ? ", I" : "I") + n + " integer = ?";
        body += std::string(kInsertColumns) + "(:I" + n + ", 0, 1";
        for (int k = 0; k < kFieldCount; ++k) {
            const std::string v = "V" + n + "_" + std::to_string(k);
            params += ", " + v + " varchar(" + std::to_string(fieldLength) + ") = ?";
            body += ", :" + v;
        }
        body += ");\n";
    }
    return "execute block (" + params + ") as begin\n" + body + "end";
}

}  // namespace

struct RecordImport::Engine {
    // declared so that the statements go before the transaction, which rolls back when released
    IBPP::Transaction tr;
    IBPP::Statement block;   // a batch of m_batch rows
    IBPP::Statement single;  // the rows after the last full batch
};

RecordImport::RecordImport(const TDbData& store, int rows, int fieldLength, int lockTimeoutSeconds)
    : m_engine(std::make_unique<Engine>()) {
    const IBPP::Database db = StoreHandles::Database(store);
    m_engine->tr =
        IBPP::TransactionFactory(db, IBPP::AccessMode::Write, IBPP::Isolation::Concurrency,
                                 IBPP::LockResolution::Wait, IBPP::tfNone, lockTimeoutSeconds);
    m_engine->tr->Start();
    // Full batches through the block, the rest one record at a time.
    m_batch = batchRows(fieldLength);
    m_blockRows = m_batch > 1 ? rows / m_batch * m_batch : 0;
    if (m_blockRows > 0) {
        m_engine->block = IBPP::StatementFactory(db, m_engine->tr);
        m_engine->block->Prepare(batchInsert(m_batch, fieldLength));
    }
    if (m_blockRows < rows) {
        m_engine->single = IBPP::StatementFactory(db, m_engine->tr);
        m_engine->single->Prepare(
            std::string(kInsertColumns) +
            "(?, 0, 1, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    }
}

RecordImport::~RecordImport() = default;

void RecordImport::add(int id, const std::array<std::string, kFieldCount>& values) try {
    const bool inBatch = m_added < m_blockRows;
    IBPP::Statement& st = inBatch ? m_engine->block : m_engine->single;
    const int base = inBatch ? m_inBlock * (kFieldCount + 1) : 0;
    st->Set(base + 1, int32_t(id));
    for (int j = 0; j < kFieldCount; ++j)
        st->Set(base + 2 + j, values[size_t(j)]);
    ++m_added;
    if (!inBatch) {
        st->Execute();
        m_written = m_added;
    } else if (++m_inBlock == m_batch) {
        st->Execute();
        m_inBlock = 0;
        m_written = m_added;
    }
} catch (...) {
    RaiseStoreError();
}

void RecordImport::end(End how) try {
    for (IBPP::Statement* st : {&m_engine->block, &m_engine->single})
        if (*st)
            (*st)->Close();
    if (how == End::Commit)
        m_engine->tr->Commit();
    else
        m_engine->tr->Rollback();
} catch (...) {
    RaiseStoreError();
}

}  // namespace pw::db
