#pragma once
// A send run's own attachment to the working copy of its recipients. The run reads its
// recipients through it a page at a time and records every outcome through it, so that its
// memory does not grow with the number of recipients and nothing the window does to its own
// attachment (a save, a close) can take the run's database away.
//
// One thread at a time: the interface thread before a run (the choice of recipients, the
// checks over all of them), the worker's thread during it. Each read and each write is a
// short transaction of its own; the window's unsaved changes are not seen. Database errors are
// told to the diagnostics function given (the run's log), never thrown.

#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "db/RecordCache.h"

namespace pw::db {

enum class SendSelectionMode;

class CRunAttachment {
public:
    using Diagnostics = std::function<void(const QString&)>;
    // Attaches at the first use, on the thread that uses it.
    CRunAttachment(QString workingCopy, Diagnostics diagnostics);
    ~CRunAttachment();
    CRunAttachment(const CRunAttachment&) = delete;
    CRunAttachment& operator=(const CRunAttachment&) = delete;

    [[nodiscard]] const QString& workingCopy() const { return m_path; }
    // Lets go of the file (the next use attaches again). Before anyone copies, saves or
    // closes the working copy: the engine writes an attachment's pages out at its end.
    void Detach();

    // The record IDs of the choice, ascending; records without an address are left out. None
    // when the database cannot be read.
    [[nodiscard]] std::optional<std::vector<int>> SelectionIds(SendSelectionMode mode);

    struct Record {
        int id = -1;
        std::array<QString, kFieldCount> fields;  // NULL as empty
    };
    // The records of `ids` (ascending, at most kMaxPage) that still exist, ascending. None
    // when the database cannot be read.
    static constexpr size_t kMaxPage = 1000;
    [[nodiscard]] std::optional<std::vector<Record>> ReadRecords(const int* ids, size_t count);

    enum class OutcomeWrite {
        Written,     // exactly one row took the outcome, committed
        RecordGone,  // no record has this ID any more
        Locked,      // the row holds an unsaved change of the window's transaction
        Failed,      // a database error (told)
    };
    [[nodiscard]] OutcomeWrite WriteOutcome(int recordId, int outcome);
    // Sets the outcome of every record of the choice back to 0 in one statement, committed:
    // a new run starts from nobody reached. Never RecordGone.
    [[nodiscard]] OutcomeWrite ClearOutcomes(SendSelectionMode mode);

    // (ID, outcome) of every record, ascending by ID; none when the database cannot be read.
    using Outcomes = std::vector<std::pair<int, int>>;
    [[nodiscard]] std::optional<Outcomes> ReadOutcomes();
    // Writes the outcomes given in one transaction; records no longer there are passed over.
    [[nodiscard]] OutcomeWrite WriteOutcomes(const Outcomes& outcomes);

    // One run at a time per list on a server, across every desktop: the run takes the list's
    // lock row through this attachment and holds it until the attachment ends (Detach, or the
    // server seeing the connection go when the process dies). A working copy has nothing to
    // share (NotShared). holder says who sends; heldBy is told who does when it is Held.
    enum class RunLock { Taken, NotShared, Held, Failed };
    [[nodiscard]] RunLock TakeRunLock(const QString& holder, QString* heldBy);

private:
    [[nodiscard]] bool Attach();
    void Tell(const QString& operation, const std::exception& e) const;

    QString m_path;
    Diagnostics m_diagnostics;
    // the engine's handle, kept out of this header
    struct Engine;
    std::unique_ptr<Engine> m_engine;
};

}  // namespace pw::db
