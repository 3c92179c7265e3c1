// The records: flags and values, the record form, deletion and counts, duplicates, address
// checks, undo points, whole-table reads and the import's entry.
#include <QSet>
#include <algorithm>
#include <map>

#include "db/RecipientList.h"
#include "db/RecordImport.h"
#include "db/StoreEngine.h"
#include "resources/Strings.h"

namespace pw::db {

// The value a comparison of duplicates looks at.
QString DuplicateKey(const QString& column, DuplicateComparison comparison) {
    if (comparison == DuplicateComparison::Exact)
        return column;
    const QString t = QStringLiteral("TRIM(%1)").arg(column);
    const QString at = QStringLiteral("POSITION('@' IN %1)").arg(t);
    return QStringLiteral(
               "(CASE WHEN %2 > 0 THEN SUBSTRING(%1 FROM 1 FOR %2) || "
               "LOWER(SUBSTRING(%1 FROM %2 + 1)) ELSE %1 END)")
        .arg(t, at);
}

// ---- flags and values -------------------------------------------------------------------------

void TDbData::RunUpdate(const QString& statement) try {
    if (m_kind == StoreKind::Server && m_undoModified.empty()) {
        // A server writes every changed page synchronously, which no statement can avoid;
        // alone in a short transaction without an undo log the update is a little quicker
        // than in the long main transaction, and holds its rows only as long as it runs.
        const IBPP::Database db = m_engine->Database();
        IBPP::Transaction tr = IBPP::TransactionFactory(
            db, IBPP::AccessMode::Write, IBPP::Isolation::ReadCommitted, IBPP::LockResolution::Wait,
            IBPP::tfNoAutoUndo, kServerLockTimeoutSeconds);
        tr->Start();
        IBPP::Statement st = IBPP::StatementFactory(db, tr);
        st->ExecuteImmediate(Convert(statement).toStdString());
        st.reset();
        tr->Commit();
        return;
    }
    Exec(statement);
    Changed();
} catch (...) {
    RaiseStoreError();
}

void TDbData::SelectAllAfterOpen() try {
    UpdateFlags({RowFlag::Selected, 1, FlagRows::All, -1});
    if (!Save(SaveMode::Retaining))
        return;
} catch (...) {
    RaiseStoreError();
}

// ---- the record form ----------------------------------------------------------------------------

int CStoreRecords::AddRecord(const std::array<QString, kFieldCount>& texts) try {
    if (!m_store.CanWrite())
        return -1;
    const IBPP::Database db = m_store.m_engine->Database();
    IBPP::Statement st = IBPP::StatementFactory(db, m_store.m_engine->mainTr);
    st->Execute("select max(ID) from MAILS;");
    int32_t maxId = 0;
    if (st->Fetch() && st->Get(1, maxId))
        maxId = 0;  // NULL: the table is empty
    const int id = maxId + 1;
    st->Prepare(
        "insert into MAILS ( ID, ADDRESS, NAME, FIELD3, FIELD4, FIELD5, FIELD6, FIELD7, FIELD8, "
        "FIELD9, FIELD10, FIELD11, FIELD12, FIELD13, FIELD14, FIELD15, FIELD16, FIELD17, "
        "FIELD18, FIELD19, FIELD20) values ( ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
        "?, ? ,? ,?);");
    st->Set(1, int32_t(id));
    for (int k = 0; k < kFieldCount; ++k)
        st->Set(k + 2, m_store.Convert(texts[k]).toStdString());
    st->Execute();
    // The insert leaves the flags to their defaults, under which a new record would count as
    // sent.
    m_store.Exec(QStringLiteral("update Mails set Sending = 1 where ID = %1").arg(id));
    m_store.Exec(QStringLiteral("update Mails set Sended = 0 where ID = %1").arg(id));
    m_store.Changed();
    return id;
} catch (...) {
    RaiseStoreError();
}

void CStoreRecords::UpdateRecord(int recordId, const std::array<QString, kFieldCount>& texts) try {
    if (!m_store.CanWrite())
        return;
    IBPP::Statement st =
        IBPP::StatementFactory(m_store.m_engine->Database(), m_store.m_engine->mainTr);
    st->Prepare(
        "update MAILS set ADDRESS = ?, NAME = ?, FIELD3 = ?, FIELD4 = ?, FIELD5 = ?, FIELD6 = ?, "
        "FIELD7 = ?, FIELD8 = ?, FIELD9 = ?, FIELD10 = ?, FIELD11 = ?, FIELD12 = ?, FIELD13 = ?, "
        "FIELD14 = ?, FIELD15 = ?, FIELD16 = ?, FIELD17 = ?, FIELD18 = ?, FIELD19 = ?, FIELD20 = "
        "? where ID = ?");
    for (int k = 0; k < kFieldCount; ++k)
        st->Set(k + 1, m_store.Convert(texts[k]).toStdString());
    st->Set(21, int32_t(recordId));
    try {
        st->Execute();
    } catch (const IBPP::SQLException& e) {
        if (m_store.m_kind != StoreKind::Server || !IBPP::IsLockConflict(e))
            throw;
        m_store.NoteChangedElsewhere(recordId, -1, nullptr);
        throw;
    }
    m_store.Changed();
} catch (...) {
    RaiseStoreError();
}

// ---- deletion and counts ----------------------------------------------------------------------

void CStoreRecords::DeleteRecord(int groupId, int recordId) try {
    if (!m_store.CanWrite())
        return;
    if (groupId > 0)
        m_store.Exec(QStringLiteral("DELETE FROM GROUP_MAIL WHERE IDGROUP = %1 AND IDMAIL = %2")
                         .arg(groupId)
                         .arg(recordId));
    else
        m_store.Exec(QStringLiteral("delete from MAILS where ID = %1").arg(recordId));
    m_store.Changed();
    // The record leaves a view when it is gone, or when it left the group that is shown.
    for (CRecipientList* l : m_store.m_lists)
        if (groupId <= 0 || groupId == l->Group())
            l->Cache().removeRecord(recordId);
} catch (...) {
    RaiseStoreError();
}

void CStoreRecords::DeleteRecords(int groupId, const std::vector<int>& recordIds) try {
    if (!m_store.CanWrite() || recordIds.empty())
        return;
    IBPP::Statement st =
        IBPP::StatementFactory(m_store.m_engine->Database(), m_store.m_engine->mainTr);
    st->Prepare(groupId > 0 ? "DELETE FROM GROUP_MAIL WHERE IDGROUP = ? AND IDMAIL = ?"
                            : "delete from MAILS where ID = ?");
    // Whatever was deleted before an error stays inside the main transaction, as with one.
    for (int id : recordIds) {
        int p = 1;
        if (groupId > 0)
            st->Set(p++, int32_t(groupId));
        st->Set(p, int32_t(id));
        st->Execute();
        m_store.SetModified();  // a file keeps what went before an error; a server commits below
    }
    m_store.Changed();
} catch (...) {
    RaiseStoreError();
}

void CStoreRecords::DeleteAllRecords() try {
    if (!m_store.CanWrite())
        return;
    m_store.Exec(QStringLiteral("DELETE FROM MAILS"));
    m_store.Changed();
    if (!m_store.Save(SaveMode::Retaining))
        return;
} catch (...) {
    RaiseStoreError();
}

int CStoreRecords::RecordCount() const {
    return m_store.m_recordCount;
}

int CStoreRecords::CountRecordsOrNone() try {
    if (!m_store.CanWrite())
        return -1;
    IBPP::Statement st =
        IBPP::StatementFactory(m_store.m_engine->Database(), m_store.m_engine->mainTr);
    st->Execute("select count(*) from MAILS");
    int32_t n = 0;
    if (st->Fetch())
        st->Get(1, n);
    m_store.m_recordCount = n;
    return n;
} catch (...) {
    RaiseStoreError();
}

int CStoreRecords::CountRecords() try {
    if (!m_store.CanWrite()) {
        m_store.m_recordCount = 0;
        return 0;
    }
    return CountRecordsOrNone();
} catch (...) {
    RaiseStoreError();
}

// ---- duplicates, address checks, undo points ---------------------------------------------------

QString MailAddressKey(const QString& value) {
    qsizetype from = 0;
    qsizetype to = value.size();
    while (from < to && value[from] == u' ')
        ++from;
    while (to > from && value[to - 1] == u' ')
        --to;
    QString key = value.mid(from, to - from);
    const qsizetype at = key.indexOf(u'@');
    for (qsizetype i = at + 1; at >= 0 && i < key.size(); ++i) {
        if (key[i] >= u'A' && key[i] <= u'Z')
            key[i] = QChar(key[i].unicode() + 32);
    }
    return key;
}

int CStoreRecords::FindDuplicateValues(int field, DuplicateComparison comparison) try {
    if (!m_store.CanWrite() || field < 0 || field >= kFieldCount)
        return 0;
    const QString key = DuplicateKey(ColumnNames()[size_t(field)], comparison);
    // Only the scratch table changes here: the modified flag stays as it is.
    m_store.Exec(QStringLiteral("delete from TEMP_DUBLIC_VALUES"));
    // Grouped by the value and its length in bytes: the engine's comparison ignores trailing
    // blanks, and "a" and "a " are not the same value. Empty values are no shared value.
    m_store.Exec(
        QStringLiteral("insert into TEMP_DUBLIC_VALUES (DUBLIC_VALUE) select %1 from MAILS "
                       "where %1 <> '' group by %1, octet_length(%1) having count(*)>1")
            .arg(key));
    m_store.Exec(QStringLiteral("SET STATISTICS INDEX IDX_DUBLIC_KEYS"));
    IBPP::Statement st =
        IBPP::StatementFactory(m_store.m_engine->Database(), m_store.m_engine->mainTr);
    st->Execute("select count(*) from TEMP_DUBLIC_VALUES");
    int32_t n = 0;
    if (st->Fetch())
        st->Get(1, n);
    return n;
} catch (...) {
    RaiseStoreError();
}

void CStoreRecords::DeleteRecordEverywhere(int recordId) try {
    if (!m_store.CanWrite())
        return;
    DeleteRecord(-1, recordId);
    m_store.Exec(QStringLiteral("delete from GROUP_MAIL where IDMAIL=%1").arg(recordId));
} catch (...) {
    RaiseStoreError();
}

int CStoreRecords::DeleteAllDuplicates(int field, DuplicateComparison comparison) try {
    if (!m_store.CanWrite() || field < 0 || field >= kFieldCount)
        return 0;
    const QString key = DuplicateKey(ColumnNames()[size_t(field)], comparison);
    // The walk of the records in the order of their value: a record whose value equals (byte
    // for byte) the one just before it goes. Empty and NULL values are no shared value; of
    // equal values the oldest record (lowest ID) stays.
    const QString body =
        QStringLiteral(
            "DECLARE VARIABLE ID INTEGER; DECLARE VARIABLE PREVVALUE VARCHAR(255); "
            "DECLARE VARIABLE CURVALUE VARCHAR(255); BEGIN ID = -1; "
            "FOR SELECT ID, %1 FROM MAILS WHERE %1 <> '' ORDER BY %1, OCTET_LENGTH(%1), ID "
            "INTO :ID, :CURVALUE DO  BEGIN IF (ID <> -1) THEN BEGIN  IF (CURVALUE = :PREVVALUE "
            "AND OCTET_LENGTH(CURVALUE) = OCTET_LENGTH(:PREVVALUE)) THEN  BEGIN DELETE FROM "
            "MAILS WHERE ID=:ID; END  END PREVVALUE = :CURVALUE; END END")
            .arg(key);
    const int before = CountRecordsOrNone();
    // The engine applies a procedure's new body only when the transaction that altered it
    // commits, so running the procedure inside the main transaction would still run its old
    // body. The procedure is rewritten (kept once saved) and the same body runs as a block,
    // inside the main transaction, so that m_store.Save or discarding decides about the deletions.
    m_store.Exec(QStringLiteral("ALTER PROCEDURE AUTODELDUBLIC AS ") + body);
    m_store.Exec(QStringLiteral("EXECUTE BLOCK AS ") + body);
    m_store.Changed();
    return before - CountRecordsOrNone();
} catch (...) {
    RaiseStoreError();
}

int CStoreRecords::DeleteRecordsWithoutAddress(int field) try {
    if (!m_store.CanWrite() || field < 0 || field >= kFieldCount)
        return 0;
    const QString key = ColumnNames()[size_t(field)];
    const int before = CountRecordsOrNone();
    m_store.Exec(
        QStringLiteral(
            "DELETE FROM MAILS WHERE ID NOT IN (SELECT ID FROM MAILS WHERE %1 LIKE '%@%.%')")
            .arg(key));
    m_store.Changed();
    return before - CountRecordsOrNone();
} catch (...) {
    RaiseStoreError();
}

void CUndoPoints::SetUndoPoint(const QString& name) try {
    if (!m_store.CanWrite())
        return;
    m_store.Exec(QStringLiteral("SAVEPOINT ") + name);
    m_store.m_undoModified[name] = m_store.m_modified.load();
} catch (...) {
    RaiseStoreError();
}

void CUndoPoints::UndoToPoint(const QString& name) try {
    if (!m_store.CanWrite())
        return;
    m_store.Exec(QStringLiteral("ROLLBACK TO SAVEPOINT ") + name);
    if (const auto it = m_store.m_undoModified.find(name); it != m_store.m_undoModified.end()) {
        m_store.m_modified.store(it->second);
        m_store.m_undoModified.erase(it);
    }
} catch (...) {
    RaiseStoreError();
}

void CUndoPoints::ReleaseUndoPoint(const QString& name) try {
    m_store.m_undoModified.erase(name);
    if (!m_store.CanWrite())
        return;
    m_store.Exec(QStringLiteral("RELEASE SAVEPOINT ") + name);
    if (m_store.m_kind == StoreKind::Server && m_store.m_undoModified.empty())
        m_store.CommitServerChange();  // the long command's changes, held back until now
} catch (...) {
    RaiseStoreError();
}

// ---- whole-table reads and the import -----------------------------------------------------------

void CStoreRecords::ForEachRecord(RecordView view, RecordOrder order, int onlyField,
                                  const std::function<bool(const StoredRecord&)>& visit) try {
    if (!m_store.CanWrite())
        return;
    const IBPP::Database db = m_store.m_engine->Database();
    IBPP::Transaction tr = m_store.m_engine->mainTr;
    if (view == RecordView::Committed) {
        // the last committed version of a row the main transaction holds changed
        tr = IBPP::TransactionFactory(db, IBPP::AccessMode::Read, IBPP::Isolation::ReadDirty,
                                      IBPP::LockResolution::NoWait);
        tr->Start();
    }
    {
        IBPP::Statement st = IBPP::StatementFactory(db, tr);
        st->Execute(order == RecordOrder::ById ? "select * from MAILS order by ID"
                                               : "select * from MAILS");
        StoredRecord record;
        std::string value;
        while (st->Fetch()) {
            int32_t n = -1;
            st->Get(1, n);
            record.id = n;
            n = 0;
            st->Get(2, n);
            record.sent = n;
            n = 0;
            st->Get(3, n);
            record.selected = n;
            for (int k = 0; k < kFieldCount; ++k) {
                record.fields[size_t(k)].reset();
                if (onlyField != kAllFields && k != onlyField)
                    continue;
                value.clear();
                if (!st->Get(k + 4, value))
                    record.fields[size_t(k)] = QByteArray(value.data(), qsizetype(value.size()));
            }
            if (!visit(record))
                break;
        }
    }
    if (view == RecordView::Committed)
        tr->Commit();
} catch (...) {
    RaiseStoreError();
}

QStringList CStoreRecords::DistinctFieldValues(int field) try {
    QStringList out;
    if (field < 0 || field >= kFieldCount || !m_store.CanWrite())
        return out;
    IBPP::Statement st =
        IBPP::StatementFactory(m_store.m_engine->Database(), m_store.m_engine->mainTr);
    st->Execute(QStringLiteral("select distinct %1 from MAILS;")
                    .arg(ColumnNames()[field])
                    .toUtf8()
                    .toStdString());
    std::string value;
    while (st->Fetch()) {
        value.clear();
        if (!st->Get(1, value) && !value.empty())
            out << QString::fromUtf8(value.data(), qsizetype(value.size()));
    }
    return out;
} catch (...) {
    RaiseStoreError();
}

int CStoreRecords::HighestRecordId() try {
    if (!m_store.CanWrite())
        return 0;
    IBPP::Statement st =
        IBPP::StatementFactory(m_store.m_engine->Database(), m_store.m_engine->mainTr);
    st->Execute("select max(ID) from MAILS;");
    int lastId = 0;
    if (st->Fetch()) {
        int32_t v = 0;
        if (!st->Get(1, v))
            lastId = v;
    }
    st->Close();
    return lastId;
} catch (...) {
    RaiseStoreError();
}

// The row count no longer shapes the load: every record goes through the same insert.
std::unique_ptr<RecordImport> CStoreRecords::BeginImport(int /*rows*/, int lockTimeoutSeconds) try {
    const IBPP::Database db = m_store.m_engine->Database();
    if (!db || !m_store.IsOpen())
        return nullptr;
    return std::unique_ptr<RecordImport>(new RecordImport(m_store, lockTimeoutSeconds));
} catch (...) {
    RaiseStoreError();
}

}  // namespace pw::db
