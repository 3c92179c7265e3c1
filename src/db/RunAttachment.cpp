#include "db/RunAttachment.h"

#include <QStringList>

#include "db/StoreEngine.h"

namespace pw::db {

struct CRunAttachment::Engine {
    IBPP::Database db;
    // The outcome writer: one transaction and one prepared UPDATE for the whole run, each
    // outcome committed with the transaction kept (read committed, so that rows the window
    // saved meanwhile do not conflict with a snapshot of the run's start).
    IBPP::Transaction outcomeTr;
    IBPP::Statement outcomeSt;

    void endWriter() noexcept {
        try {
            outcomeSt.reset();
            if (outcomeTr && outcomeTr->IsStarted())
                outcomeTr->Commit();  // every outcome is committed already: nothing is lost
        } catch (const IBPP::Exception&) {
            try {
                if (outcomeTr)
                    outcomeTr->Rollback();
            } catch (const IBPP::Exception&) {
            }
        }
        outcomeTr.reset();
    }
    IBPP::Transaction runLock;  // holds the list's lock row on a server, never committed
    QString lockHolder;         // set while this run holds that lock
};

namespace {

// One short write that gives way at once to another writer (Locked: the caller keeps the
// outcomes and tries again) and tells every other failure.
template <typename Body, typename TellFn>
CRunAttachment::OutcomeWrite writeAtOnce(IBPP::Database& db, const Body& body, const TellFn& tell) {
    using OutcomeWrite = CRunAttachment::OutcomeWrite;
    try {
        IBPP::Transaction tr =
            IBPP::TransactionFactory(db, IBPP::AccessMode::Write, IBPP::Isolation::Concurrency,
                                     IBPP::LockResolution::NoWait);
        tr->Start();
        IBPP::Statement st = IBPP::StatementFactory(db, tr);
        body(st);
        st.reset();
        tr->Commit();
        return OutcomeWrite::Written;
    } catch (const IBPP::SQLException& e) {
        if (IBPP::IsLockConflict(e))
            return OutcomeWrite::Locked;
        tell(e);
        return OutcomeWrite::Failed;
    } catch (const IBPP::Exception& e) {
        tell(e);
        return OutcomeWrite::Failed;
    }
}

}  // namespace

CRunAttachment::CRunAttachment(QString workingCopy, Diagnostics diagnostics)
    : m_path(std::move(workingCopy)),
      m_diagnostics(std::move(diagnostics)),
      m_engine(std::make_unique<Engine>()) {}

CRunAttachment::~CRunAttachment() {
    Detach();
}

void CRunAttachment::Detach() {
    m_engine->endWriter();
    try {
        if (m_engine->runLock && m_engine->runLock->IsStarted())
            m_engine->runLock->Rollback();
    } catch (const IBPP::Exception& e) {
        Tell(QStringLiteral("Freeing the run lock"), e);
    }
    m_engine->runLock.reset();
    m_engine->lockHolder.clear();
    try {
        if (m_engine->db && m_engine->db->IsConnected())
            m_engine->db->Disconnect();
    } catch (const IBPP::Exception& e) {
        Tell(QStringLiteral("Detaching the recipients of the run"), e);
    }
    m_engine->db.reset();
}

void CRunAttachment::Tell(const QString& operation, const std::exception& e) const {
    // A lost server connection is not mended: the next use attaches anew (Attach).
    if (const auto* sql = dynamic_cast<const IBPP::SQLException*>(&e);
        sql && IBPP::IsConnectionLost(*sql)) {
        m_engine->runLock.reset();
        m_engine->db.reset();
    }
    const QString text =
        QStringLiteral("%1 failed: %2").arg(operation, QString::fromUtf8(e.what()));
    if (m_diagnostics)
        m_diagnostics(text);
}

bool CRunAttachment::Attach() {
    if (m_engine->db && m_engine->db->IsConnected())
        return true;
    try {
        m_engine->db = WorkingCopyDatabase(m_path);
        m_engine->db->Connect();
        if (!m_engine->lockHolder.isEmpty() && !m_engine->runLock) {
            // back after a lost connection: the run goes on only if nobody else began meanwhile
            const QString holder = std::exchange(m_engine->lockHolder, QString());
            if (TakeRunLock(holder, nullptr) != RunLock::Taken) {
                m_engine->db.reset();
                m_engine->lockHolder = holder;
                return false;
            }
        }
        return true;
    } catch (const IBPP::Exception& e) {
        m_engine->db.reset();
        Tell(QStringLiteral("Attaching the recipients of the run"), e);
        return false;
    }
}

std::optional<std::vector<int>> CRunAttachment::SelectionIds(SendSelectionMode mode) {
    if (!Attach())
        return std::nullopt;
    QString where = QStringLiteral("WHERE ADDRESS IS NOT NULL");
    if (mode == SendSelectionMode::Marked)
        where += QStringLiteral(" AND SENDING=1");
    else if (mode == SendSelectionMode::NotSent)
        where += QStringLiteral(" AND SENDED=0");
    try {
        IBPP::Transaction tr = IBPP::TransactionFactory(m_engine->db, IBPP::AccessMode::Read,
                                                        IBPP::Isolation::Concurrency);
        tr->Start();
        IBPP::Statement st = IBPP::StatementFactory(m_engine->db, tr);
        st->Execute(
            (QStringLiteral("select ID from MAILS ") + where + QStringLiteral(" order by ID;"))
                .toStdString());
        std::vector<int> ids;
        int32_t id = 0;
        while (st->Fetch()) {
            if (!st->Get(1, id))
                ids.push_back(id);
        }
        st.reset();
        tr->Commit();
        return ids;
    } catch (const IBPP::Exception& e) {
        Tell(QStringLiteral("Loading the send selection"), e);
        return std::nullopt;
    }
}

std::optional<std::vector<CRunAttachment::Record>> CRunAttachment::ReadRecords(const int* ids,
                                                                               size_t count) {
    std::vector<Record> out;
    if (count == 0)
        return out;
    if (count > kMaxPage || !Attach())
        return std::nullopt;
    // IDs are numbers of our own: the list goes into the statement as it is
    QStringList list;
    list.reserve(qsizetype(count));
    for (size_t i = 0; i < count; ++i)
        list << QString::number(ids[i]);
    try {
        IBPP::Transaction tr = IBPP::TransactionFactory(m_engine->db, IBPP::AccessMode::Read,
                                                        IBPP::Isolation::Concurrency);
        tr->Start();
        IBPP::Statement st = IBPP::StatementFactory(m_engine->db, tr);
        st->Execute((QStringLiteral("select * from MAILS where ID in (") +
                     list.join(QLatin1Char(',')) + QStringLiteral(") order by ID;"))
                        .toStdString());
        out.reserve(count);
        std::string value;
        while (st->Fetch()) {
            Record r;
            int32_t id = -1;
            st->Get(1, id);
            r.id = id;
            for (int k = 0; k < kFieldCount; ++k) {
                value.clear();
                if (!st->Get(k + 4, value))
                    r.fields[size_t(k)] =
                        QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
            }
            out.push_back(std::move(r));
        }
        st.reset();
        tr->Commit();
        return out;
    } catch (const IBPP::Exception& e) {
        Tell(QStringLiteral("Reading the recipients of the run"), e);
        return std::nullopt;
    }
}

CRunAttachment::OutcomeWrite CRunAttachment::WriteOutcome(int recordId, int outcome) {
    if (!Attach())
        return OutcomeWrite::Failed;
    Engine& e = *m_engine;
    try {
        if (!e.outcomeSt) {
            e.outcomeTr = IBPP::TransactionFactory(e.db, IBPP::AccessMode::Write,
                                                   IBPP::Isolation::ReadCommitted,
                                                   IBPP::LockResolution::NoWait);
            e.outcomeTr->Start();
            e.outcomeSt = IBPP::StatementFactory(e.db, e.outcomeTr);
            e.outcomeSt->Prepare("UPDATE MAILS SET SENDED=? WHERE ID=?");
        }
        e.outcomeSt->Set(1, outcome);
        e.outcomeSt->Set(2, recordId);
        e.outcomeSt->Execute();
        // nothing to undo when no row took it: the record is gone (IDs are unique)
        if (e.outcomeSt->AffectedRows() != 1)
            return OutcomeWrite::RecordGone;
        // committed at once, so that a kill after this loses nothing
        e.outcomeTr->CommitRetain();
        return OutcomeWrite::Written;
    } catch (const IBPP::SQLException& x) {
        if (IBPP::IsLockConflict(x)) {
            // the failed statement undid its own change; the writer goes on
            Tell(QStringLiteral("Recording the outcome of record %1 (kept until the database is "
                                "saved)")
                     .arg(recordId),
                 x);
            return OutcomeWrite::Locked;
        }
        e.endWriter();
        Tell(QStringLiteral("Recording the outcome of record %1").arg(recordId), x);
        return OutcomeWrite::Failed;
    } catch (const IBPP::Exception& x) {
        e.endWriter();
        Tell(QStringLiteral("Recording the outcome of record %1").arg(recordId), x);
        return OutcomeWrite::Failed;
    }
}

CRunAttachment::OutcomeWrite CRunAttachment::ClearOutcomes(SendSelectionMode mode) {
    if (mode == SendSelectionMode::NotSent)
        return OutcomeWrite::Written;  // its records are at 0 already
    if (!Attach())
        return OutcomeWrite::Failed;
    QString sql =
        QStringLiteral("UPDATE MAILS SET SENDED=0 WHERE ADDRESS IS NOT NULL AND SENDED<>0");
    if (mode == SendSelectionMode::Marked)
        sql += QStringLiteral(" AND SENDING=1");
    return writeAtOnce(
        m_engine->db, [&](IBPP::Statement& st) { st->Execute(sql.toStdString()); },
        [this](const IBPP::Exception& e) {
            Tell(QStringLiteral("Clearing the outcomes of the last run"), e);
        });
}

std::optional<CRunAttachment::Outcomes> CRunAttachment::ReadOutcomes() {
    if (!Attach())
        return std::nullopt;
    try {
        IBPP::Transaction tr = IBPP::TransactionFactory(m_engine->db, IBPP::AccessMode::Read,
                                                        IBPP::Isolation::Concurrency);
        tr->Start();
        IBPP::Statement st = IBPP::StatementFactory(m_engine->db, tr);
        st->Execute("select ID, SENDED from MAILS order by ID;");
        Outcomes out;
        int32_t id = 0;
        int32_t outcome = 0;
        while (st->Fetch()) {
            if (st->Get(1, id))
                continue;
            if (st->Get(2, outcome))
                outcome = 0;
            out.emplace_back(id, outcome);
        }
        st.reset();
        tr->Commit();
        return out;
    } catch (const IBPP::Exception& e) {
        Tell(QStringLiteral("Reading the outcomes"), e);
        return std::nullopt;
    }
}

CRunAttachment::OutcomeWrite CRunAttachment::WriteOutcomes(const Outcomes& outcomes) {
    if (!Attach())
        return OutcomeWrite::Failed;
    return writeAtOnce(
        m_engine->db,
        [&](IBPP::Statement& st) {
            st->Prepare("UPDATE MAILS SET SENDED=? WHERE ID=?");
            for (const auto& [id, outcome] : outcomes) {
                st->Set(1, outcome);
                st->Set(2, id);
                st->Execute();
            }
        },
        [this](const IBPP::Exception& e) { Tell(QStringLiteral("Writing the outcomes"), e); });
}

CRunAttachment::RunLock CRunAttachment::TakeRunLock(const QString& holder, QString* heldBy) {
    if (!RegisteredServer(m_path))
        return RunLock::NotShared;
    if (m_engine->runLock)
        return RunLock::Taken;
    if (!Attach())
        return RunLock::Failed;
    try {
        IBPP::Transaction tr =
            IBPP::TransactionFactory(m_engine->db, IBPP::AccessMode::Write,
                                     IBPP::Isolation::ReadCommitted, IBPP::LockResolution::NoWait);
        tr->Start();
        IBPP::Statement st = IBPP::StatementFactory(m_engine->db, tr);
        st->Execute("update RUN_LOCK set HOLDER = HOLDER where ID = 1");
        m_engine->runLock = tr;
        m_engine->lockHolder = holder;
    } catch (const IBPP::SQLException& e) {
        if (!IBPP::IsLockConflict(e)) {
            Tell(QStringLiteral("Taking the run lock"), e);
            return RunLock::Failed;
        }
        if (heldBy) {
            try {
                IBPP::Transaction tr = IBPP::TransactionFactory(
                    m_engine->db, IBPP::AccessMode::Read, IBPP::Isolation::ReadCommitted);
                tr->Start();
                IBPP::Statement st = IBPP::StatementFactory(m_engine->db, tr);
                st->Execute("select HOLDER from RUN_LOCK where ID = 2");
                std::string name;
                if (st->Fetch() && !st->Get(1, name))
                    *heldBy = QString::fromUtf8(name.data(), qsizetype(name.size()));
            } catch (const IBPP::Exception& e2) {
                Tell(QStringLiteral("Reading who holds the run lock"), e2);
            }
        }
        return RunLock::Held;
    } catch (const IBPP::Exception& e) {
        Tell(QStringLiteral("Taking the run lock"), e);
        return RunLock::Failed;
    }
    // Who sends is told in a row of its own: the lock row's change is never committed.
    const OutcomeWrite named = writeAtOnce(
        m_engine->db,
        [&holder](IBPP::Statement& st) {
            st->Prepare("update RUN_LOCK set HOLDER = ?, STARTED = CURRENT_TIMESTAMP where ID = 2");
            st->Set(1, holder.left(60).toUtf8().toStdString());
            st->Execute();
        },
        [this](const std::exception& e) {
            Tell(QStringLiteral("Naming the run lock's holder"), e);
        });
    (void)named;  // the lock is what counts; a holder left unnamed only shows an older name
    return RunLock::Taken;
}

}  // namespace pw::db
