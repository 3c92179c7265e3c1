#pragma once
// One send run on its own thread: connect (with the port fallback), walk the send selection
// in batches with pauses, have one message assembled per recipient, hand it to the
// transport, retry after a failure as its kind allows, apply the error policy, record every
// recipient's outcome and write the send log. Cancel (from the interface thread) lets a mail
// whose transmission is under way finish (its data and the server's final reply, within the
// normal timeouts) and then ends the run; away from a transmission (connecting, a pause, a
// prompt) it drops the connection at once. A second cancel drops it at once in any case.
//
// Retries: a permanent refusal (5xx) is not retried automatically; a refusal for now (4xx,
// 421 included) is tried again after a back-off within the configured waits and, still
// refused, left at 0 for "not yet sent"; a lost connection is restored and the mail tried once
// more. A mail whose data went out completely without a reply is never sent again: it counts
// as sent and the log says it may have been delivered. Outcomes: 1 sent, 2 failed for good,
// 0 not sent for reasons of the moment (a cancel, a lost server, a refusal for now).
//
// Where the server pipelines, a mail that follows at once (no batch pause before it) is built
// while the mail before it goes, and its commands travel with that mail's end of data: a run
// costs about one round trip per mail. Its outcome is still recorded from its own replies.
//
// Where the account's profile allows several connections at once (and the run can open more),
// a merge send opens them beside its own: each is a worker of this class on a thread of its
// own, taking the next row from the run's shared rows, pipelining as above, under the one
// limiter of the run. A row goes to exactly one connection; a connection the server refuses
// for the number of connections gives its row back and leaves the others to it. A stop of one
// (a lost server, an outcome not recorded) and a cancel stop them all. Each mail's log entries
// are written as one block.
//
// The worker reaches the user only through ISendProgress and the log. It reads the
// recipients' values as it goes, a page at a time (through its message source), and records
// each outcome through its own attachment to the working copy (its recorder).

#include <QDateTime>
#include <QString>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "db/TDbData.h"
#include "send/RunTypes.h"
#include "send/SendClock.h"
#include "send/SendLanes.h"
#include "send/SendLedger.h"
#include "send/SendLog.h"
#include "send/SendProgress.h"
#include "send/SendRules.h"
#include "send/SendTransport.h"

namespace pw::send {

using smtp::CKTWSMTPMessage;

class CInFlightRecord;
class IRunObserver;

struct SendRun {
    SendMode mode = SendMode::Merge;
    ServerRecord server;
    SendPacing pacing;
    std::vector<int> recordIds;  // of the selection, in its order (merge send)
    std::vector<SuppressedRecipient> suppressed;
    std::shared_ptr<ISendClock> clock;  // the pauses' time; none: the wall clock
    // Where the mail whose data goes out is noted until its outcome is recorded (merge send
    // of a project); none: not noted.
    std::shared_ptr<CInFlightRecord> inFlight;
    // "number address" of the mail a killed run of this working copy had in flight: counted
    // as possibly delivered, named in the log and the summary.
    QStringList inFlightOfKilledRun;
    // The account's pace; none: no limits beyond the batches.
    std::shared_ptr<CSendLimiter> limiter;
    // Told each recipient's end (the campaign history); none: nobody.
    std::shared_ptr<IRunObserver> observer;
    // Another connection to the same server, for the profile's further connections at once;
    // none: the run sends over one.
    std::function<std::unique_ptr<ISendTransport>()> moreConnections;
};

class CMailSendThread : public QThread {
    Q_OBJECT
public:
    CMailSendThread(SendRun run, std::unique_ptr<IMessageSource> source,
                    std::unique_ptr<ISendTransport> transport, OutcomeRecorder recorder,
                    ISendProgress& progress, CSendLog& log, QObject* parent = nullptr);
    ~CMailSendThread() override;

    // From the interface thread (Cancel button, Ctrl+C): sets the cancel flag. A transmission
    // under way is finished first (cutting it off would leave the server with a mail it may or
    // may not deliver); otherwise, and at the second call, the connection is dropped at once.
    void cancel();
    // Whether cancel() has been called at least twice (the run ends without waiting).
    [[nodiscard]] bool stoppedAtOnce() const { return m_cancelRequests.load() > 1; }
    [[nodiscard]] bool isCancelled() const { return m_cancel.load(); }

    // What the run did, read after the worker has ended (every connection's counted in).
    [[nodiscard]] const RunReport& report() const { return m_report; }

    // The polling step of the pauses; a batch pause wakes every second, a retry pause every
    // 200 ms. Cancel is noticed at every slice.
    static constexpr int kBatchPollMs = 1000;
    static constexpr int kRetryPollMs = 200;
    // A mail the server refuses for now is tried this many more times, after a back-off.
    static constexpr int kLaterTries = 2;
    // After this many mails in a row left for later the run stops: the server refuses all.
    static constexpr int kLaterInARow = 3;
    // A mail met this many replies about the account's limit: the run stops (the server says
    // so whatever the wait), its recipient and the rest left for "not yet sent".
    static constexpr int kLimitTries = 6;
    // A wait for the account's pace longer than this is not spent on an open connection.
    static constexpr qint64 kHoldConnectionMs = 60 * 1000;

protected:
    void run() override;

private:
    // A further connection of `parent`'s run: its own transport, everything else shared.
    CMailSendThread(CMailSendThread& parent, int lane, std::unique_ptr<ISendTransport> transport);
    enum class PauseEnd { Elapsed, Cancelled };
    enum class Decision { Again, GiveUp };

    void runSteps();
    // The rows of a merge send, taken one by one from the run's shared rows.
    void sendRows();
    // The next row this connection sends (the one it went ahead with, else the next free).
    [[nodiscard]] int takeRow();
    // The run's further connections, opened beside this one; then waited for, their counts
    // taken into this worker's.
    void startMoreConnections();
    void endMoreConnections();
    void runMoreConnection();
    void connectProcedure();
    // Connects; while the server refuses for the account's limit, waits as the limit says and
    // tries again, a few times.
    [[nodiscard]] bool connectWithinLimits(int& limitReplies);
    // After a reply for the account's limit: waits until the limit allows. False when the run
    // is to stop instead (cancelled, or refused too often).
    [[nodiscard]] bool holdForLimit(LimitReply kind, QString reply, int& limitReplies);
    // Whether this connection may close and leave its rows to the run's others.
    [[nodiscard]] bool othersGoOn() const { return m_lanes->active.load() > 1; }
    void flushLog();
    // `nextRow`: the row whose mail follows at once (no batch pause between), or -1; where
    // the server pipelines, its commands go with this mail's end of data.
    [[nodiscard]] Outcome sendOne(int number, const MailTexts& texts, int row, int position,
                                  int nextRow = -1);
    // The message of `nextRow`, built early to go ahead; null when it cannot go ahead.
    [[nodiscard]] const CKTWSMTPMessage* messageAhead(int nextRow);
    [[nodiscard]] PauseEnd pause(qint64 seconds, int pollMs);
    // Until the account's pace lets the next mail go; a long wait shows its countdown and
    // closes the connection first.
    [[nodiscard]] PauseEnd waitForSlot();
    enum class WaitShow { Quiet, Countdown };
    [[nodiscard]] PauseEnd waitUntil(const QDateTime& end, WaitShow show);
    void applyAddressPolicy(int position, const QString& entry);
    // The error policy for a mail that failed for good (after its retry, when it had one).
    [[nodiscard]] Decision finalFailure(int number, const TransportResult& r, bool retried);
    void disconnectGracefully();
    // Notes the mail whose end of data goes out now as in flight.
    void noteInFlight();
    // The note of the mail whose data went last; nothing once its outcome is settled.
    void clearInFlight();
    void count(Outcome outcome);
    // How the mail at `position` ended, told to the observer when called; `refusals` and
    // `possibly` are the sizes of those lists before it was sent.
    [[nodiscard]] std::function<void()> tell(int position, const MailTexts& texts, Outcome outcome,
                                             size_t refusals, qsizetype possibly);
    // The outcome of a mail whose successor went with its end of data is written while the
    // successor's reply is awaited, not before its data: this does what is left of it now.
    void settle();
    // While a mail's reply is awaited: settles the mail before and builds the one after next.
    void awaitingReply();
    void log(const QString& text);
    void setCancel() { m_cancel.store(true); }
    // The run ends after this mail with the "unable to send" status (nobody cancelled).
    void stopFailed() {
        m_stopFailed.store(true);
        m_lanes->stop();
    }

    SendRun m_run;
    std::shared_ptr<ISendClock> m_clock;
    std::shared_ptr<CSendLimiter> m_limiter;
    std::shared_ptr<CSendLanes> m_lanes;
    int m_lane = 0;  // 0: the run's first connection, whose worker the caller holds
    std::shared_ptr<IMessageSource> m_sharedSource;
    std::unique_ptr<IMessageSource> m_source;  // m_sharedSource, one connection at a time
    std::unique_ptr<ISendTransport> m_transport;
    OutcomeRecorder m_recorder;
    std::shared_ptr<CSerialProgress> m_serialProgress;
    ISendProgress& m_progress;
    CSendLog& m_log;
    ErrorPolicy m_policy;

    int m_total = 0;
    std::unique_ptr<CKTWSMTPMessage> m_message;
    // The next row's texts and message, built while this row's mail went.
    struct Ahead {
        int row = -1;
        MailTexts texts;
        BuiltMessage built;
    };
    std::optional<Ahead> m_ahead;
    // The row after m_claimed, taken and built while a reply was awaited.
    std::optional<Ahead> m_prebuilt;
    std::atomic<bool> m_cancel{false};
    std::atomic<int> m_cancelRequests{0};
    // Set while a message is handed to the transport: a first cancel lets it finish.
    std::atomic<bool> m_inFlight{false};
    // Written by this worker's thread only, read after its end.
    RunReport m_report;
    bool m_skippedMail = false;  // the last sendOne skipped its mail without a try
    bool m_wentAhead = false;    // the last sendOne's mail went with the next one's commands
    QString m_lastReply;         // why the last sendOne's mail failed
    std::atomic<bool> m_stopFailed{false};
    int m_laterInARow = 0;
    int m_claimed = -1;        // the row taken to go ahead of this connection's mail
    bool m_leaving = false;    // this connection closes; its row goes to the others
    bool m_bufferLog = false;  // several connections: a mail's entries go as one block
    QStringList m_pendingLog;
    LimitReply m_connectLimit = LimitReply::None;  // the last failed connection's, and its reply
    QString m_connectReply;
    QMutex m_moreMutex;
    std::vector<std::unique_ptr<CMailSendThread>> m_more;  // the further connections
    // The record and "number address" of the mail being handed to the transport.
    int m_sendingRecordId = -1;
    QString m_sendingWho;
    // The in-flight slot of the mail whose data went last (-1: settled), and the mail still
    // to settle with its slot: its note stays until its outcome is written.
    int m_noteSlot = -1;
    std::function<void()> m_settle;
    int m_settleSlot = -1;
};

}  // namespace pw::send
