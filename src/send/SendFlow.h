#pragma once
// One send, from a mail document to a finished run, shared by the main window and the
// command line so that both take the same tested path: the checks before the start, the
// database mode, the selection, the run marker, the worker, the outcomes and their
// write-back. Each front end keeps only its own interaction.
//
// How a front end drives it (all calls on the thread that created the flow, which must run
// an event loop while the worker lives):
//
//   1. CSendFlow flow(settings);                 the run's settings, taken once
//   2. the mail:
//        window:        flow.useDocument(document, store, preparedBody)
//                       the open document and the store of its recipients; outcomes go into
//                       that store's working copy, the document stays the window's.
//        command line:  flow.openProject(path, ui)
//                       reads the project into a store of the flow's own, or continues the
//                       working copy of an interrupted run of it; outcomes are written back
//                       into the project file when the run ends.
//   3. flow.check(SendKind::Send or Test)      the checks before the Transmission dialog
//   4. flow.chooseSelection(mode)              merge send only: loads the selection
//      flow.prepare(ui, questions)             every check before the first mail and the
//                                               questions
//      Each step answers with a RunRefusal; refusalText() is what both front ends tell of
//      one, and a front end stops at any but RefusalReason::None.
//   5. flow.start(progress)                    the worker runs on its own thread; it reaches
//                                               the front end only through `progress` (the
//                                               window: a CSendProgressRelay, whose prompts
//                                               are asked on the interface thread through
//                                               IUserInteraction) and the send log
//      flow.cancel()                           any time, sticky (also before the worker runs);
//                                               the mail being transmitted is finished first,
//                                               a second cancel stops at once
//      A run holds the project's lock (CProjectLock): a second run of the same project file,
//      from either front end, is refused (OpenResult::Busy, RefusalReason::ProjectBusy).
//   6. finished() is emitted once the worker has ended and the outcomes are safe; summary()
//      then tells the status, the counts, a lost outcome, a log that could not be written
//      and the write-back. The window then takes the marker (takeMarker) and finishes it
//      once the document is saved. The command line does 5 and 6
//      in one call, runToEnd(progress), which spins a local event loop.
//
// Without a run (a refused check, an empty selection) close() ends the flow; the destructor
// does it too, and with a run still going it cancels it and waits for the worker (which never
// waits for the interface thread: its prompts are abandoned by the cancel).

#include <QHash>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "compose/CodePage.h"
#include "compose/MailDocument.h"
#include "db/RunAttachment.h"
#include "db/SuppressionList.h"
#include "db/TDbData.h"
#include "resources/UserInteraction.h"
#include "send/MailJob.h"
#include "send/RunMarker.h"
#include "send/RunTypes.h"
#include "send/SendLimits.h"
#include "send/SendLog.h"
#include "send/SendProgress.h"

namespace pw::send {

class CMessageAssembly;
class CMailSendThread;
class CSendLimiter;
class CRunHistory;
struct CharsetShortfall;

enum class SendKind { Send, Test };

// What the flow reads of the settings, once, when it is made.
struct SendFlowSettings {
    db::DbFolders folders;        // user data and working-copy folders (the command line's store)
    QString previewFolder;        // where the project's HTML files are; ends in '/'
    ServerRecord standardServer;  // the project's overrides are applied by the flow
    SendPacing pacing;
    int charsetRow = 0;                        // "Encode"
    CodePage textCodePage = CodePage::utf8();  // the mail texts of project files
    AddrSetType addrSetType = AddrSetType::AllTo;
    smtp::JapaneseExtras japaneseExtras = smtp::JapaneseExtras::Utf8;
    QString testEmailAddress;
    int strFieldSize = 100;
    // Not empty: a dry run; every message becomes a file there, no outcome is recorded.
    QString dryRunFolder;
    // The settings file, and why it could not be read (empty: it was read, or is missing).
    QString settingsFile;
    QString settingsFailure;
    // "SMTPPort" as written when it is no port number; empty when it is one.
    QString badPortText;
    // The largest file a mail may carry ("AttachmentSizeLimit", in MB).
    qint64 attachmentSizeLimit = qint64(25) * 1024 * 1024;
    // The program's own folders (a dry run may not write into them, nor below them).
    QStringList ownFolders;
    // The sending profiles the user set, by account (accountKey); an account without one
    // takes the preset of its host.
    QHash<QString, SendingProfile> sendingProfiles;
};

// Who answers the questions before the first mail.
enum class Asking {
    User,   // through the user-interaction interface: the window
    NoOne,  // the command line: each question has its answer given beforehand
};
// Sending to all addresses after a run that stopped part-way.
enum class OverInterrupted { Refuse, SendAll };

struct RunQuestions {
    Asking asking = Asking::User;
    // Asking::NoOne: the answer to sending all again ("--force"); a charset shortfall is kept
    // and told among the warnings.
    OverInterrupted overInterrupted = OverInterrupted::Refuse;
};

enum class OpenResult {
    Opened,      // the project and its database
    Resumed,     // the project, with the working copy of an interrupted run of it
    NoDatabase,  // the project, but its database cannot be opened (a single send still can)
    Unreadable,  // the file cannot be read as a project: nothing was changed
    Damaged,     // read only in part: sending and writing back would lose its rest
    Busy,        // another run of this project is under way: nothing was read
};

enum class WriteBackStatus {
    NotNeeded,  // nothing of the run is to go into a project file
    Written,
    Failed,  // the working copy (and its marker) are kept: the next run picks them up
};

struct WriteBack {
    WriteBackStatus status = WriteBackStatus::NotNeeded;
    QString workingCopy;  // where the outcomes are when the write-back failed
    QString message;
};

// A run's end as the front ends tell it: the worker's report, with what the flow adds.
struct SendSummary : RunReport {
    // Why start() refused the run (RefusalReason::None: it started).
    RunRefusal refusal{RefusalReason::NotChecked, {}, {}};
    QString runId;
    int suppressed = 0;  // left out for the suppression list (logged, outcome 2)
    QString logFailure;  // not empty: the send log could not be written (why)
    WriteBack writeBack;
    int historyCampaign = 0;  // the run's number in the campaign history, 0: not recorded
};

class CSendFlow : public QObject {
    Q_OBJECT
public:
    // `log` is the run's: the window's and the command line's are their own.
    CSendFlow(SendFlowSettings settings, CSendLog& log, QObject* parent = nullptr);
    ~CSendFlow() override;

    // ---- the mail ----
    void useDocument(const MailDocument& document, db::TDbData& store, const QString& preparedBody);
    [[nodiscard]] OpenResult openProject(const QString& projectPath, IUserInteraction& ui);
    // Before openProject: the recipients are the list on this server, not the project's
    // own. Their outcomes are recorded there as they happen; none go into the project.
    void useServerList(db::ServerLogin login) { m_serverList = std::move(login); }
    // How the password of a list on a server that the project remembers is found.
    void useServerPasswords(std::function<QString(const QString&, const QString&)> find) {
        m_serverPassword = std::move(find);
    }
    // Why the project could not be read (after Unreadable), for logs and the terminal.
    [[nodiscard]] const QString& openFailure() const { return m_openFailure; }
    // The working copy the resumed run continues (after OpenResult::Resumed).
    [[nodiscard]] QString resumedWorkingCopy() const;
    // "number address" of the mail the interrupted run had in flight when it was killed:
    // counted as sent, and named by the run as possibly delivered.
    [[nodiscard]] const QStringList& inFlightOfKilledRun() const { return m_inFlightOfKilledRun; }

    // ---- before the start ----
    [[nodiscard]] RunRefusal check(SendKind kind);
    // After a check of a single send that passed: the database holds records whose addresses
    // the literal recipient leaves unused (the window tells so).
    [[nodiscard]] bool databaseAddressesUnused() const { return m_addressesUnused; }
    [[nodiscard]] SendMode mode() const { return m_mode; }
    // Loads the recipients of a merge send (selectedCount()); a database that cannot be read
    // (damaged) is refused as such: "no data" would be a lie then. Recipients whose address
    // is on the suppression list are left out (and counted in suppressedCount()); a list that
    // cannot be read refuses the run, and so does a choice that holds nobody.
    [[nodiscard]] RunRefusal chooseSelection(db::SendSelectionMode mode);
    [[nodiscard]] int selectedCount() const { return int(m_ids->size()); }
    // How many recipients chooseSelection(mode) would load (merge send only, else 0; -1 when
    // the database cannot be read), for showing the choices before one is made.
    [[nodiscard]] int countSelection(db::SendSelectionMode mode) const;
    // A test send (after check(SendKind::Test)) merged with the values of the recipient at
    // this position of the list (0: the first), as that recipient's mail would read; false
    // when there is no such recipient. Without it the test mail goes unmerged.
    [[nodiscard]] bool useTestRecipient(int position);
    // Whether the mail's texts or HTML hold a placeholder of a field (after check()).
    [[nodiscard]] bool mailHasPlaceholders() const;
    [[nodiscard]] int suppressedCount() const { return int(m_suppressed.size()); }
    // Whether the last run of this project did not reach every recipient (it was cancelled,
    // stopped or killed): sending to all would send the mail again to those who have it. The
    // window asks before such a run, the command line wants "--force".
    [[nodiscard]] bool lastRunUnfinished() const;

    // Every check before the first mail, for both front ends, as far as the flow has come
    // (the command line also calls it before the project is read): the settings file was
    // read, the port is one and the charset a row of the table, every file of the mail is a
    // readable regular file within the size limit, a dry run's folder is usable and none of
    // the program's own, the folder that keeps the outcomes safe and the log can be written.
    // Then the questions, answered as `questions` says: sending to all over a run that
    // stopped part-way, and characters the charset cannot carry (UTF-8 taken for this run
    // when chosen). Last, for a run that records outcomes, the project's lock is taken and
    // the write-back into the project file tried: what the user decides comes first, so that
    // no question waits while the project is held. start() makes the checks again, not the
    // questions.
    [[nodiscard]] RunRefusal prepare(IUserInteraction& ui, const RunQuestions& questions);
    // What a front end that asks no one tells before the run (a charset shortfall), after
    // prepare().
    [[nodiscard]] const QStringList& warnings() const { return m_warnings; }
    // Placeholders of the mail that name no field (they would go out as written): named with
    // the fields that exist and asked once, by the window before the Transmission dialog or
    // else by prepare(); false when the user declines.
    [[nodiscard]] bool askAboutUnmatchedPlaceholders(IUserInteraction& ui);
    // The checks of prepare() that ask nothing and hold nothing (start() makes them again): a
    // front end makes them before its own dialogs too, so that a missing file or unreadable
    // settings are told before the user chooses the recipients.
    [[nodiscard]] RunRefusal checkFilesAndFolders() const;
    // The message of a refusal, naming what was found, as both front ends tell it (empty for
    // none, and for a question the user declined).
    [[nodiscard]] QString refusalText(const RunRefusal& refusal) const;

    // ---- the run ----
    // `transport` replaces the one the settings ask for (tests). `progress` must outlive the run.
    // RefusalReason::None when the worker runs; summary().refusal tells it too.
    [[nodiscard]] RunRefusal start(ISendProgress& progress,
                                   std::unique_ptr<ISendTransport> transport = {});
    [[nodiscard]] SendSummary runToEnd(ISendProgress& progress,
                                       std::unique_ptr<ISendTransport> transport = {});
    void cancel();
    // The charset row of the run: "Encode", unless the run was switched to another.
    [[nodiscard]] int charsetRow() const { return m_charsetRow; }
    // For this run only (the setting stays): UTF-8 when the user takes the offer.
    void useCharsetRow(int row) { m_charsetRow = row; }
    // What the run's charset cannot carry, over every recipient (after check and
    // chooseSelection).
    [[nodiscard]] CharsetShortfall charsetShortfall() const;
    // The messages this flow's run would send (after check and chooseSelection): the preview
    // shows them.
    [[nodiscard]] std::unique_ptr<CMessageAssembly> messageAssembly() const;
    [[nodiscard]] bool isRunning() const { return m_state == FlowState::Running; }
    [[nodiscard]] const SendSummary& summary() const { return m_summary; }
    // The pace of the account the run sends through, and how long `recipients` take at it
    // (with what the account sent in the last 24 hours), for the Transmission dialog.
    [[nodiscard]] SendingProfile sendingProfile() const;
    [[nodiscard]] QString estimateText(int recipients) const;
    // When the account's limits let the next mail go (now, when they hold nothing back).
    [[nodiscard]] QDateTime nextAllowedSend() const;
    // The server the run would send through: the standard one with the project's overrides.
    [[nodiscard]] ServerRecord serverRecord() const;
    // Recipients whose mail failed for good (outcome 2), -1 when that cannot be read.
    [[nodiscard]] int failedCount() const;

    // Ends a flow that started no run: the outcomes of a resumed run still go back.
    WriteBack close();

    // The window's run leaves its outcomes in the store, not yet in the project file: the
    // marker that makes them recoverable after a crash passes to the window, which finishes
    // it once the document is saved (or the outcomes are given up).
    [[nodiscard]] std::unique_ptr<CRunMarker> takeMarker() { return std::move(m_marker); }
    // Before start(): the marker of an earlier run whose outcomes are not yet in the project
    // file. A run on the same working copy goes on under it (its lock would refuse a new one);
    // the front end takes it back with takeMarker() whatever start() returns.
    void adoptMarker(std::unique_ptr<CRunMarker> marker) { m_marker = std::move(marker); }

signals:
    void finished();

private:
    void workerEnded();
    WriteBack endRun();
    [[nodiscard]] bool recordsOutcomes() const;
    void clearEarlierOutcomes(db::CRunAttachment& runDb);
    [[nodiscard]] MailJob makeJob() const;
    [[nodiscard]] bool projectWritable() const;
    // The project's lock and the write-back, for a run that records outcomes.
    [[nodiscard]] RunRefusal holdProject();
    [[nodiscard]] RunRefusal askQuestions(IUserInteraction& ui, const RunQuestions& questions);
    [[nodiscard]] RunRefusal refuseStart(RunRefusal refusal);
    [[nodiscard]] int countRecords();  // -1: no database, or it cannot be read
    // The suppression list into `reasons`; a refusal that says why when it is unreadable.
    [[nodiscard]] RunRefusal readSuppression(QHash<QString, QString>& reasons) const;
    [[nodiscard]] db::CSuppressionList suppressionList() const;
    // Every suppressed address's reason; empty text when all could be read, else what failed.
    [[nodiscard]] QString readSuppressionReasons(QHash<QString, QString>& reasons) const;
    // The selection without the rows that go to a suppressed address.
    void leaveOutSuppressed(const QHash<QString, QString>& reasons);
    [[nodiscard]] std::shared_ptr<IRecipientRows> selectionRows() const;
    [[nodiscard]] std::unique_ptr<CSendLimiter> makeLimiter() const;
    [[nodiscard]] std::shared_ptr<CRunHistory> beginHistory(const ServerRecord& server) const;
    void endHistory();

    SendFlowSettings m_settings;
    CSendLog& m_log;

    // The mail and its store: the window's, or the flow's own.
    MailDocument m_document;
    QString m_body;
    std::optional<ScheduledSending> m_scheduled;
    db::TDbData* m_store = nullptr;
    std::unique_ptr<db::TDbData> m_ownStore;
    // The window's flow leaves the outcomes in its store; the command line's writes them back.
    enum class OutcomesGo { IntoStore, IntoProject };
    OutcomesGo m_outcomesGo = OutcomesGo::IntoStore;
    QString m_projectPath;
    std::optional<InterruptedRun> m_interrupted;
    QString m_extractedCopy;
    bool m_resumeFailed = false;
    QStringList m_inFlightOfKilledRun;
    QString m_openFailure;
    std::optional<db::ServerLogin> m_serverList;
    std::function<QString(const QString&, const QString&)> m_serverPassword;

    int m_charsetRow = 0;
    // Where the flow is: the steps before the start pass in order, a run ends once.
    enum class FlowState {
        Unchecked,  // new, or the last check() did not pass
        Checked,    // check() passed (a single send may start)
        Chosen,     // and the recipients of a merge send are chosen
        Running,    // the worker runs
        Ended,      // the worker has ended; the outcomes are being settled
        Closed,     // nothing left to do
    };
    FlowState m_state = FlowState::Unchecked;
    [[nodiscard]] bool checked() const {
        return m_state == FlowState::Checked || m_state == FlowState::Chosen;
    }
    // A step before the start; once a run has begun, the checks change nothing of it.
    void step(FlowState s) {
        if (m_state < FlowState::Running)
            m_state = s;
    }
    SendMode m_mode = SendMode::Single;
    QString m_recipientField;
    FieldTexts m_captions;
    // The chosen records, ascending; their values are read in pages when needed, through
    // m_reader on this thread and through the run's own attachment on the worker's.
    std::shared_ptr<const std::vector<int>> m_ids = std::make_shared<const std::vector<int>>();
    std::shared_ptr<db::CRunAttachment> m_reader;
    std::shared_ptr<db::CRunAttachment> m_runDb;  // the worker's, while it runs
    UnsubscribeSettings m_unsubscribe;
    QString m_runId = newRunId();  // the run's part of every message's tracking identifier
    std::vector<SuppressedRecipient> m_suppressed;
    bool m_addressesUnused = false;
    QStringList m_warnings;

    std::unique_ptr<CProjectLock> m_projectLock;
    std::unique_ptr<CRunMarker> m_marker;
    db::SendSelectionMode m_selectionMode = db::SendSelectionMode::All;
    std::shared_ptr<std::atomic<int>> m_reached = std::make_shared<std::atomic<int>>(0);
    std::unique_ptr<CMailSendThread> m_worker;
    int m_cancelRequests = 0;
    SendSummary m_summary;
    SendKind m_kind = SendKind::Send;
    std::shared_ptr<CRunHistory> m_history;
    std::optional<FieldTexts> m_testSample;
    enum class PlaceholdersAsked { No, Yes };
    PlaceholdersAsked m_placeholdersAsked = PlaceholdersAsked::No;
};

// The summary of a finished run, for the window's box and the terminal: how it ended, how
// many were sent, failed, skipped, left for "not yet sent" and possibly delivered (named),
// and a password that went without TLS.
[[nodiscard]] QString summaryText(const SendSummary& summary);

// The question before a run whose charset cannot carry some of its characters: keep the
// charset (they arrive as "?"), send this run in UTF-8, or do not send.
enum class CharsetChoice { KeepCharset, UseUtf8, Cancel };
[[nodiscard]] CharsetChoice askAboutCharsetShortfall(IUserInteraction& ui,
                                                     const CharsetShortfall& shortfall, int row);
// The same as one warning line, for the command line.
[[nodiscard]] QString charsetShortfallWarning(const CharsetShortfall& shortfall, int row);
// Before a test send of a mail with placeholders: merged with the first recipient (the
// default button), with another the user names by its number in the list, or unmerged.
enum class TestMerge { Merged, Unmerged, Cancelled };
[[nodiscard]] TestMerge askTestRecipient(CSendFlow& flow, IUserInteraction& ui);

}  // namespace pw::send
