// What a send run reads and writes through the store: the send selection and its count, and
// the outcome writer with the outcomes it keeps for later.
#include <algorithm>
#include <map>

#include "db/StoreEngine.h"

namespace pw::db {

namespace {

QString sendSelectionWhere(SendSelectionMode mode) {
    if (mode == SendSelectionMode::Marked)
        return QStringLiteral("WHERE SENDING=1");
    if (mode == SendSelectionMode::NotSent)
        return QStringLiteral("WHERE SENDED=0");
    return QString();
}

enum class FlagWrite { Written, Locked, Failed };

// One outcome in a short transaction of its own (write, concurrency, no wait).
FlagWrite writeSentFlag(const IBPP::Database& db, int recordId, int outcome, bool reportLock,
                        const DiagnosticSink& diagnostics) {
    try {
        IBPP::Transaction tr =
            IBPP::TransactionFactory(db, IBPP::AccessMode::Write, IBPP::Isolation::Concurrency,
                                     IBPP::LockResolution::NoWait);
        tr->Start();
        IBPP::Statement st = IBPP::StatementFactory(db, tr);
        st->Prepare("UPDATE MAILS SET SENDED=? WHERE ID=?");
        st->Set(1, outcome);
        st->Set(2, recordId);
        st->Execute();
        st.reset();
        tr->Commit();
        return FlagWrite::Written;
    } catch (const IBPP::SQLException& e) {
        const bool locked = IBPP::IsLockConflict(e);
        if (!locked || reportLock)
            ReportDroppedError(
                diagnostics,
                QString::fromLatin1(locked ? "Recording the outcome of record %1 (kept until the "
                                             "database is saved)"
                                           : "Recording the outcome of record %1")
                    .arg(recordId)
                    .toUtf8()
                    .constData(),
                e);
        return locked ? FlagWrite::Locked : FlagWrite::Failed;
    } catch (const IBPP::Exception& e) {
        ReportDroppedError(
            diagnostics,
            QStringLiteral("Recording the outcome of record %1").arg(recordId).toUtf8().constData(),
            e);
        return FlagWrite::Failed;
    }
}

}  // namespace

// ---- the send run -----------------------------------------------------------------------------

int CStoreSendRun::CountSendSelection(SendSelectionMode mode) {
    const IBPP::Database db = m_store.m_engine->Database();
    if (!db || !db->IsConnected())
        return 0;
    try {
        // its own transaction, as LoadSendSelection reads, so that the count is what it gives
        IBPP::Transaction tr = IBPP::TransactionFactory(
            db, IBPP::AccessMode::Read, IBPP::Isolation::Concurrency, IBPP::LockResolution::Wait);
        tr->Start();
        IBPP::Statement st = IBPP::StatementFactory(db, tr);
        st->Execute(m_store
                        .Convert(QStringLiteral("select COUNT(ADDRESS) from MAILS ") +
                                 sendSelectionWhere(mode) + QStringLiteral(";"))
                        .toStdString());
        int32_t n = 0;
        if (st->Fetch())
            st->Get(1, n);
        st.reset();
        tr->Commit();
        return std::max(n, 0);
    } catch (const IBPP::Exception& e) {
        m_store.ReportDroppedError("Counting the send selection", e);
        return -1;
    }
}

SendSelection CStoreSendRun::LoadSendSelection(SendSelectionMode mode) {
    SendSelection sel;
    const IBPP::Database db = m_store.m_engine->Database();
    if (!db || !db->IsConnected())
        return sel;
    const QString where = sendSelectionWhere(mode);
    try {
        IBPP::Transaction tr = IBPP::TransactionFactory(
            db, IBPP::AccessMode::Write, IBPP::Isolation::Concurrency, IBPP::LockResolution::Wait);
        tr->Start();
        IBPP::Statement st = IBPP::StatementFactory(db, tr);
        st->Execute(m_store
                        .Convert(QStringLiteral("select COUNT(ADDRESS) from MAILS ") + where +
                                 QStringLiteral(";"))
                        .toStdString());
        int32_t n = 0;
        if (st->Fetch())
            st->Get(1, n);
        n = std::max(n, 0);
        sel.ids.reserve(static_cast<size_t>(n));
        for (auto& f : sel.fields)
            f.reserve(static_cast<size_t>(n));
        st->Execute(
            m_store.Convert(QStringLiteral("select * from MAILS ") + where + QStringLiteral(";"))
                .toStdString());
        std::string value;
        int taken = 0;
        while (taken < n && st->Fetch()) {
            // A record without an address cannot be sent: it does not take the place of one
            // that has an address (the count above leaves it out too).
            if (st->IsNull(4))
                continue;
            int32_t id = -1;
            st->Get(1, id);
            sel.ids.push_back(id);
            for (int k = 0; k < kFieldCount; ++k) {
                value.clear();
                if (st->Get(k + 4, value))
                    sel.fields[k].push_back(QString());
                else
                    sel.fields[k].push_back(
                        QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())));
            }
            ++taken;
        }
        sel.count = taken;
        st.reset();
        tr->Commit();
        return sel;
    } catch (const IBPP::Exception& e) {
        // Half a selection would send to some and not others: hand the run nothing instead.
        m_store.ReportDroppedError("Loading the send selection", e);
        SendSelection none;
        none.failed = true;
        return none;
    }
}

SentFlagResult CStoreSendRun::SetSentFlag(int recordId, int outcome) {
    const IBPP::Database db =
        m_store.m_engine->Database();  // an added reference, taken under the lock
    if (!db || !db->IsConnected())
        return SentFlagResult::NoDatabase;
    switch (writeSentFlag(db, recordId, outcome, true, m_store.Diagnostics())) {
        case FlagWrite::Written: {
            std::lock_guard<std::mutex> lock(m_store.m_pendingMutex);
            m_store.m_pendingOutcomes.erase(recordId);  // a later outcome replaces a kept one
            m_store.m_modified.store(true);
            return SentFlagResult::Written;
        }
        case FlagWrite::Locked: {
            std::lock_guard<std::mutex> lock(m_store.m_pendingMutex);
            m_store.m_pendingOutcomes[recordId] = outcome;
            return SentFlagResult::Deferred;
        }
        case FlagWrite::Failed:
            break;
    }
    return SentFlagResult::Failed;
}

void CStoreSendRun::DeferSentFlag(int recordId, int outcome) {
    std::lock_guard<std::mutex> lock(m_store.m_pendingMutex);
    m_store.m_pendingOutcomes[recordId] = outcome;
}

int CStoreSendRun::PendingSentFlags() const {
    std::lock_guard<std::mutex> lock(m_store.m_pendingMutex);
    return static_cast<int>(m_store.m_pendingOutcomes.size());
}

int CStoreSendRun::WritePendingSentFlags() {
    std::map<int, int> pending;
    {
        std::lock_guard<std::mutex> lock(m_store.m_pendingMutex);
        pending.swap(m_store.m_pendingOutcomes);
    }
    const IBPP::Database db = m_store.m_engine->Database();
    const DiagnosticSink diagnostics = m_store.Diagnostics();
    std::map<int, int> left;
    for (const auto& [id, outcome] : pending) {
        if (!db || !db->IsConnected() ||
            writeSentFlag(db, id, outcome, false, diagnostics) != FlagWrite::Written)
            left.emplace(id, outcome);
        else
            m_store.m_modified.store(true);
    }
    std::lock_guard<std::mutex> lock(m_store.m_pendingMutex);
    // Outcomes the worker recorded meanwhile are newer than the ones kept here.
    for (const auto& [id, outcome] : left)
        m_store.m_pendingOutcomes.emplace(id, outcome);
    return static_cast<int>(m_store.m_pendingOutcomes.size());
}

}  // namespace pw::db
