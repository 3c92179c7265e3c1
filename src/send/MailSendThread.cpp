#include "send/MailSendThread.h"

#include <QLocale>

#include "resources/DisplayLocale.h"
#include "resources/Strings.h"
#include "send/ConnectProcedure.h"
#include "send/RunHistory.h"
#include "send/RunMarker.h"
#include "smtp/EncodedFileCache.h"
#include "smtp/KTWSMTPMessage.h"

namespace pw::send {

namespace {

// The run's message source, one connection at a time: it reads the run's pages.
class CSharedSource : public IMessageSource {
public:
    CSharedSource(std::shared_ptr<IMessageSource> inner, std::shared_ptr<CSendLanes> lanes)
        : m_inner(std::move(inner)), m_lanes(std::move(lanes)) {}
    MailTexts texts() const override {
        QMutexLocker lock(&m_lanes->sourceMutex);
        return m_inner->texts();
    }
    RowState rowState(int row) override {
        QMutexLocker lock(&m_lanes->sourceMutex);
        return m_inner->rowState(row);
    }
    MailTexts merged(int row) const override {
        QMutexLocker lock(&m_lanes->sourceMutex);
        return m_inner->merged(row);
    }
    BuiltMessage build(const MailTexts& texts, int row) override {
        QMutexLocker lock(&m_lanes->sourceMutex);
        return m_inner->build(texts, row);
    }

private:
    std::shared_ptr<IMessageSource> m_inner;
    std::shared_ptr<CSendLanes> m_lanes;
};

}  // namespace

CMailSendThread::CMailSendThread(SendRun run, std::unique_ptr<IMessageSource> source,
                                 std::unique_ptr<ISendTransport> transport,
                                 OutcomeRecorder recorder, ISendProgress& progress, CSendLog& log,
                                 QObject* parent)
    : QThread(parent),
      m_run(std::move(run)),
      m_clock(m_run.clock ? m_run.clock : systemClock()),
      m_limiter(m_run.limiter
                    ? m_run.limiter
                    : std::make_shared<CSendLimiter>(SendingProfile{}, nullptr, m_clock->now())),
      m_lanes(std::make_shared<CSendLanes>(int(m_run.recordIds.size()))),
      m_sharedSource(std::move(source)),
      m_source(std::make_unique<CSharedSource>(m_sharedSource, m_lanes)),
      m_transport(std::move(transport)),
      m_serialProgress(std::make_shared<CSerialProgress>(progress, m_lanes->progressMutex)),
      m_progress(*m_serialProgress),
      m_log(log),
      m_policy(m_run.pacing.errorPolicy) {
    if (recorder) {
        m_recorder = [inner = std::move(recorder), lanes = m_lanes](int id, Outcome outcome) {
            QMutexLocker lock(&lanes->recordMutex);
            return inner(id, outcome);
        };
    }
    if (m_run.inFlight) {
        // from this moment a kill could leave the server with the mail and the record at 0
        m_transport->setBeforeDataEnd([this] { noteInFlight(); });
    }
    m_transport->setAwaitingReply([this] { awaitingReply(); });
}

CMailSendThread::CMailSendThread(CMailSendThread& parent, int lane,
                                 std::unique_ptr<ISendTransport> transport)
    : m_run(parent.m_run),
      m_clock(parent.m_clock),
      m_limiter(parent.m_limiter),
      m_lanes(parent.m_lanes),
      m_lane(lane),
      m_sharedSource(parent.m_sharedSource),
      m_source(std::make_unique<CSharedSource>(m_sharedSource, m_lanes)),
      m_transport(std::move(transport)),
      m_recorder(parent.m_recorder),
      m_serialProgress(parent.m_serialProgress),
      m_progress(*m_serialProgress),
      m_log(parent.m_log),
      m_policy(parent.m_policy),
      m_total(parent.m_total),
      m_bufferLog(true) {
    // the first connection told these
    m_run.suppressed.clear();
    m_run.inFlightOfKilledRun.clear();
    if (m_run.inFlight)
        m_transport->setBeforeDataEnd([this] { noteInFlight(); });
    m_transport->setAwaitingReply([this] { awaitingReply(); });
}

void CMailSendThread::noteInFlight() {
    if (m_sendingRecordId < 0)
        return;
    // the slot the mail before does not hold while its outcome is being written
    const int first = CInFlightRecord::slotOf(m_lane, 0);
    m_noteSlot = m_settleSlot == first ? CInFlightRecord::slotOf(m_lane, 1) : first;
    m_run.inFlight->set(m_sendingRecordId, m_sendingWho, m_noteSlot);
}

void CMailSendThread::clearInFlight() {
    if (m_run.inFlight && m_noteSlot >= 0)
        m_run.inFlight->clear(std::exchange(m_noteSlot, -1));
}

void CMailSendThread::settle() {
    if (m_settle)
        std::exchange(m_settle, {})();
    m_settleSlot = -1;
}

void CMailSendThread::awaitingReply() {
    settle();
    // The mail after the one whose commands went ahead is built in this round trip too, so
    // that a reply is followed by the next data at once. Only built: whether it goes ahead
    // is decided in its turn, as for any other row.
    if (m_prebuilt || m_claimed < 0 || !m_transport->sendsAhead() || m_cancel.load() ||
        m_lanes->stopped())
        return;
    const int row = m_lanes->take();
    if (row < 0)
        return;
    if (m_source->rowState(row) != RowState::Present) {
        m_lanes->giveBack(row);  // the loop deals with it in its turn
        return;
    }
    MailTexts texts = m_source->merged(row);
    BuiltMessage built = m_source->build(texts, row);
    m_prebuilt = Ahead{row, std::move(texts), std::move(built)};
}

void CMailSendThread::log(const QString& text) {
    if (m_bufferLog)
        m_pendingLog.append(text);
    else
        m_log.append(text);
}

void CMailSendThread::flushLog() {
    if (m_pendingLog.isEmpty())
        return;
    QMutexLocker lock(&m_lanes->logMutex);
    for (const QString& text : std::as_const(m_pendingLog))
        m_log.append(text);
    m_pendingLog.clear();
}

CMailSendThread::~CMailSendThread() {
    if (isRunning()) {
        // The cancel also abandons a prompt the worker waits on, so it never waits for the
        // thread that is waiting here; twice, so that no transmission is waited for.
        cancel();
        cancel();
        wait();
    }
}

void CMailSendThread::cancel() {
    // The flag is set before the in-flight mark is read, and the worker sets the mark before
    // it reads the flag: either the worker sees the cancel and sends nothing more, or this
    // sees the transmission and leaves it to finish.
    QMutexLocker lock(&m_moreMutex);
    m_cancel.store(true);
    const int requests = m_cancelRequests.fetch_add(1) + 1;
    if (requests > 1 || !m_inFlight.load())
        m_transport->abort();
    m_progress.abandonPrompts();
    for (const auto& more : m_more)
        more->cancel();
}

void CMailSendThread::run() {
    // the run's pictures and attachments are opened and checked at their first mail only
    // (per thread: every connection renders its own messages)
    const smtp::EncodedFileCache::RunScope files;
    if (m_lane > 0) {
        try {
            runMoreConnection();
        } catch (const std::exception&) {
            stopFailed();  // as the first connection's run does: the run ends in order
        }
        return;
    }
    m_log.reset();
    // The cancel flag is not cleared: a cancel that came before the start still counts.
    m_report.errors = 0;
    m_report.sent = 0;
    m_report.everConnected = false;
    m_report.status = RunStatus::Running;

    try {
        runSteps();
    } catch (const std::exception& e) {
        // Nothing of the run is meant to throw; should anything, the run ends in order.
        log(str(ids::kLogUnableToConnect));
        m_report.status = RunStatus::Failed;
        (void)m_progress.prompt(SendPrompt::EscapedFailure, productName(),
                                escapedFailureText(0x80070000u, QString::fromUtf8(e.what()), {}));
    }

    log(str(ids::kLogEnded));
    if (m_report.errors != 0 && !m_cancel.load())
        m_report.status = RunStatus::Failed;
    if (m_report.status == RunStatus::Running)
        m_report.status = RunStatus::Completed;
    m_message.reset();
    m_ahead.reset();
    m_prebuilt.reset();
}

void CMailSendThread::runSteps() {
    // the log starts afresh with the run: a killed run's mail in flight and the skipped
    // recipients come first
    for (const QString& who : m_run.inFlightOfKilledRun) {
        log(str(ids::kLogKilledInFlight));
        log(formatMessageText(str(ids::kLogPossiblyDeliveredTo), {who}));
        m_report.possiblyDelivered.append(who);
    }
    for (const SuppressedRecipient& r : m_run.suppressed) {
        log(formatMessageText(
            str(ids::kLogSuppressed),
            {r.address, r.reason.isEmpty() ? str(ids::kSuppressedNoReason) : r.reason}));
    }
    if (!m_run.suppressed.empty())
        m_progress.setSuppressed(int(m_run.suppressed.size()));
    if (!m_limiter->profile().limitsNothing())
        log(formatMessageText(str(ids::kLogPacedTo), {limitsText(m_limiter->profile())}));
    m_progress.setStatus(str(ids::kSendStatusConnecting));
    int limitReplies = 0;
    (void)connectWithinLimits(limitReplies);

    if (m_cancel.load()) {
        m_report.status = RunStatus::Cancelled;
    } else if (!m_transport->isConnected()) {
        m_report.status = RunStatus::Failed;
    } else if (m_run.mode == SendMode::Single) {
        m_total = 1;
        m_progress.setRange(1);
        const MailTexts texts = m_source->texts();
        const size_t refusals = m_report.refusals.size();
        const qsizetype possibly = m_report.possiblyDelivered.size();
        const Outcome outcome = sendOne(1, texts, -1, 0);
        count(outcome);
        tell(1, texts, outcome, refusals, possibly)();
        m_progress.step();
        if (m_cancel.load())
            m_report.status = RunStatus::Cancelled;
    } else {
        const int n = static_cast<int>(m_run.recordIds.size());
        m_total = n;
        m_progress.setRange(n);
        startMoreConnections();
        sendRows();
        endMoreConnections();
    }
    if (m_stopFailed.load() && !m_cancel.load())
        m_report.status = RunStatus::Failed;

    if (m_report.status != RunStatus::Failed || m_transport->isConnected()) {
        m_progress.setStatus(str(ids::kSendStatusDisconnecting));
        disconnectGracefully();
        log(m_transport->disconnectedEntry());
    }
}

void CMailSendThread::sendRows() {
    m_lanes->active.fetch_add(1);
    int batch = m_run.pacing.oneTimeSend;
    bool firstMail = true;
    // a stop of another connection ends this one before its next mail
    for (int index = takeRow(); index >= 0 && !m_lanes->stopped();
         index = takeRow(), firstMail = false) {
        const int current = index + 1;
        const RowState state =
            m_ahead && m_ahead->row == index ? RowState::Present : m_source->rowState(index);
        if (state != RowState::Present)
            settle();
        if (state == RowState::Gone) {
            // deleted since the choice: nobody is left to get its mail
            log(formatMessageText(str(ids::kLogRecordGoneSkipped),
                                  {QString::number(m_run.recordIds[size_t(index)])}));
            ++m_report.skipped;
            m_progress.step();
            continue;
        }
        if (state == RowState::Unreadable) {
            log(str(ids::kLogRecipientsUnreadable));
            ++m_report.errors;
            stopFailed();
            m_report.status = RunStatus::Failed;
            break;
        }
        if (!firstMail && m_run.pacing.sendWait != 0 && batch < 1) {
            settle();
            m_progress.setStatus(str(ids::kSendStatusStandingBy));
            if (m_transport->isConnected())
                disconnectGracefully();
            batch = m_run.pacing.oneTimeSend;
            if (pause(m_run.pacing.sendWait, kBatchPollMs) == PauseEnd::Cancelled) {
                if (!m_cancel.load())
                    break;  // another connection stopped the run
                log(str(ids::kLogTerminatedByUser));
                m_report.status = RunStatus::Cancelled;
                break;
            }
            m_progress.setStatus(str(ids::kSendStatusConnecting));
            connectProcedure();
        }
        if (waitForSlot() == PauseEnd::Cancelled) {
            if (!m_cancel.load())
                break;  // another connection stopped the run
            log(str(ids::kLogTerminatedByUser));
            m_report.status = RunStatus::Cancelled;
            break;
        }
        --batch;
        const MailTexts texts =
            m_ahead && m_ahead->row == index ? m_ahead->texts : m_source->merged(index);
        // the next mail may go ahead unless a batch pause comes first
        const bool pauseNext = m_run.pacing.sendWait != 0 && batch < 1;
        // nor when the account's pace holds it back
        const bool paceNext = m_limiter->nextSlot(m_clock->now(), 1, m_lane) > m_clock->now();
        if (!pauseNext && !paceNext && m_claimed < 0)
            m_claimed = m_prebuilt ? m_prebuilt->row : m_lanes->take();
        const int nextRow = !pauseNext && !paceNext ? m_claimed : -1;
        const size_t refusals = m_report.refusals.size();
        const qsizetype possibly = m_report.possiblyDelivered.size();
        const Outcome outcome = sendOne(current, texts, index, index, nextRow);
        if (m_leaving) {
            // the server takes no more connections: this row and the one taken ahead go
            // to the connections that stay
            settle();
            m_lanes->giveBack(index);
            if (m_claimed >= 0)
                m_lanes->giveBack(std::exchange(m_claimed, -1));
            else if (m_prebuilt)
                m_lanes->giveBack(m_prebuilt->row);
            m_prebuilt.reset();
            flushLog();
            break;
        }
        count(outcome);
        const int recordId = m_run.recordIds[static_cast<size_t>(index)];
        const int slot = m_noteSlot;
        m_settle = [this, told = tell(current, texts, outcome, refusals, possibly), recordId,
                    outcome, slot] {
            told();
            if (const RecordResult recorded =
                    m_recorder ? m_recorder(recordId, outcome) : RecordResult::Recorded;
                recorded != RecordResult::Recorded) {
                // Going on would send mails whose outcomes are lost, and a later run would
                // send them again; the note stays for whoever takes up the copy.
                log(formatMessageText(
                    str(recorded == RecordResult::RecordGone ? ids::kLogRecordGone
                                                             : ids::kLogOutcomeNotRecorded),
                    {QString::number(recordId)}));
                m_report.outcomeLost = true;
                stopFailed();
                if (m_noteSlot == slot)
                    m_noteSlot = -1;
            } else if (m_run.inFlight && slot >= 0) {
                m_run.inFlight->clear(slot);
                if (m_noteSlot == slot)
                    m_noteSlot = -1;
            }
        };
        m_settleSlot = slot;
        // Its successor's commands went with its end of data: the outcome is written while
        // that mail's reply is awaited, so no mail waits on the writing of another's.
        if (!m_wentAhead)
            settle();
        flushLog();
        if (m_cancel.load() || m_stopFailed.load() || m_lanes->stopped()) {
            settle();
            m_report.status = m_cancel.load() ? RunStatus::Cancelled : RunStatus::Failed;
            break;
        }
        m_progress.step();
    }
    settle();
    flushLog();
    m_limiter->release(m_lane);
    m_lanes->active.fetch_sub(1);
}

int CMailSendThread::takeRow() {
    // A row built early that did not go ahead is built again in its turn: a pause may have
    // come between, and its mail takes the time it goes.
    if (m_claimed >= 0) {
        if (m_prebuilt && m_prebuilt->row == m_claimed)
            m_prebuilt.reset();
        return std::exchange(m_claimed, -1);
    }
    if (m_prebuilt) {
        const int row = m_prebuilt->row;
        m_prebuilt.reset();
        return row;
    }
    return m_lanes->take();
}

void CMailSendThread::count(Outcome outcome) {
    switch (outcome) {
        case Outcome::Sent:
            ++m_report.sent;
            break;
        case Outcome::NotSent:
            ++(m_skippedMail ? m_report.skipped : m_report.failed);
            break;
        case Outcome::NotYetSent:
            ++m_report.later;
            break;
    }
}

void CMailSendThread::disconnectGracefully() {
    const TransportResult r = m_transport->disconnect(true);
    // The mails already went out: a server that answers QUIT oddly or closes first does
    // not make the run a failure; the log keeps what it said.
    if (!r.ok && !r.description.isEmpty())
        log(r.description);
}

bool CMailSendThread::holdForLimit(LimitReply kind, QString reply, int& limitReplies) {
    reply.replace(QLatin1String("\r\n"), QLatin1String(" "));
    log(formatMessageText(str(ids::kLogAccountLimit), {reply.simplified()}));
    const QDateTime until = m_limiter->afterLimitReply(kind, m_clock->now(), m_lane);
    const QString when = displayLocale().toString(until, QLocale::ShortFormat);
    if (++limitReplies > kLimitTries) {
        log(formatMessageText(str(ids::kLogLimitGivesUp), {when}));
        ++m_report.errors;
        stopFailed();
        return false;
    }
    log(formatMessageText(str(ids::kLogLimitWait), {when}));
    flushLog();
    if (waitUntil(until, WaitShow::Countdown) == PauseEnd::Cancelled) {
        log(formatMessageText(str(ids::kLogLimitCancelled), {when}));
        return false;
    }
    return true;
}

bool CMailSendThread::connectWithinLimits(int& limitReplies) {
    for (;;) {
        connectProcedure();
        if (m_transport->isConnected())
            return true;
        if (m_cancel.load() || m_connectLimit == LimitReply::None ||
            !holdForLimit(m_connectLimit, m_connectReply, limitReplies))
            return false;
    }
}

void CMailSendThread::startMoreConnections() {
    const int wanted =
        std::min(m_limiter->profile().connections, static_cast<int>(m_run.recordIds.size()));
    if (wanted <= 1 || !m_run.moreConnections || m_cancel.load())
        return;
    log(formatMessageText(str(ids::kLogConnectionsAtOnce), {QString::number(wanted)}));
    // from here the connections' entries interleave: each mail's go as one block
    m_bufferLog = true;
    for (int lane = 1; lane < wanted; ++lane) {
        std::unique_ptr<ISendTransport> transport = m_run.moreConnections();
        if (!transport)
            break;
        QMutexLocker lock(&m_moreMutex);
        auto more = std::unique_ptr<CMailSendThread>(
            new CMailSendThread(*this, lane, std::move(transport)));
        // a cancel that came first counts for it too
        for (int i = 0; i < m_cancelRequests.load(); ++i)
            more->cancel();
        more->start();
        m_more.push_back(std::move(more));
    }
}

void CMailSendThread::runMoreConnection() {
    connectProcedure();
    if (!m_transport->isConnected()) {
        // the others send its share
        if (m_connectLimit != LimitReply::None)
            log(formatMessageText(str(ids::kLogFewerConnections), {m_connectReply}));
        flushLog();
        return;
    }
    sendRows();
    if (m_transport->isConnected()) {
        disconnectGracefully();
        log(m_transport->disconnectedEntry());
    }
    flushLog();
}

void CMailSendThread::endMoreConnections() {
    for (const auto& more : m_more) {
        more->wait();
        // what the run counts is every connection's
        m_report.add(more->m_report);
        if (more->m_stopFailed.load())
            m_stopFailed.store(true);
    }
    m_bufferLog = false;
}

void CMailSendThread::connectProcedure() {
    const ConnectOutcome outcome =
        runConnectProcedure(*m_transport, m_run.server, m_cancel, [this](const ConnectAttempt& a) {
            if (!a.result.ok && a.result.certificateRefused && !m_report.certificateRefused)
                m_report.certificateRefused = CertificateRefusal{
                    a.result.certificate, a.result.description, a.call.host, a.call.port};
            // A failure names the reason the client knows (refused, handshake, STARTTLS,
            // password, certificate).
            log(a.result.ok ? m_transport->connectedEntry(a.call)
                            : str(ids::kLogUnableToConnect) + connectDetail(a.call) +
                                  failureReason(a.result.description));
            // said once a run: the password of every connection went the same way
            if (a.result.ok && m_transport->overNetwork() &&
                a.call.method != smtp::AuthMethod::None &&
                a.call.kind == smtp::ConnectionType::None &&
                !std::exchange(m_report.signedInWithoutTls, true))
                log(str(ids::kLogClearTextSignIn));
        });
    const TransportResult& last = outcome.last.result;
    m_connectLimit = !outcome.connected && last.kind == FailureKind::AccountLimit
                         ? last.limit
                         : LimitReply::None;
    QString reply = last.lastResponse.isEmpty() ? last.description : last.lastResponse;
    m_connectReply = reply.replace(QLatin1String("\r\n"), QLatin1String(" ")).simplified();
    if (outcome.connected)
        m_report.everConnected = true;
    if (outcome.signInProblem)
        m_report.signInProblem = true;
}

void CMailSendThread::applyAddressPolicy(int position, const QString& entry) {
    switch (m_policy) {
        case ErrorPolicy::Continue:
            ++m_report.errors;
            break;
        case ErrorPolicy::Ask: {
            const QString text =
                formatMessageText(str(ids::kPromptSkipped), {QString::number(position), entry});
            const Answer a = m_progress.prompt(SendPrompt::AddressSkipped,
                                               str(ids::kTransmissionErrorCaption), text);
            if (a == Answer::Cancel) {
                setCancel();
            } else {
                ++m_report.errors;
            }
            break;
        }
        case ErrorPolicy::Terminate:
            ++m_report.errors;
            stopFailed();
            break;
    }
}

CMailSendThread::Decision CMailSendThread::finalFailure(int number, const TransportResult& r,
                                                        bool retried) {
    switch (m_policy) {
        case ErrorPolicy::Continue:
            ++m_report.errors;
            if (retried) {
                log(str(ids::kLogRetransmissionFailed));
                // A server in trouble gets a rest; a plain refusal of one recipient does not.
                if (number != m_total && !m_cancel.load())
                    (void)pause(qint64(m_run.pacing.connectWait) * 60, kRetryPollMs);
            }
            return Decision::GiveUp;
        case ErrorPolicy::Ask: {
            if (retried)
                log(str(ids::kLogRetransmissionFailed));
            // the server is not kept waiting for the mail sent ahead while the user thinks
            m_transport->abandonNext();
            const QString text = formatMessageText(
                str(ids::kPromptRetry),
                {QString::number(number), QString::number(r.lastResponseCode), r.description});
            const Answer a =
                m_progress.prompt(SendPrompt::RetryMail, str(ids::kTransmissionErrorCaption), text);
            if (a == Answer::Yes) {
                log(str(ids::kLogResumedByUser));
                return Decision::Again;
            }
            if (a == Answer::No) {
                ++m_report.errors;
                log(str(ids::kLogCancelledByUser));
                return Decision::GiveUp;
            }
            setCancel();
            return Decision::GiveUp;
        }
        case ErrorPolicy::Terminate:
            ++m_report.errors;
            stopFailed();
            return Decision::GiveUp;
    }
    return Decision::GiveUp;
}

namespace {

// The addresses the check is of: a display name may be written in any script.
QString recipientAddresses(const CKTWSMTPMessage* message, const QString& field) {
    if (!message)
        return field;
    QString addresses;
    for (const auto* list : {&message->to(), &message->cc(), &message->bcc()}) {
        for (const smtp::CKTWSMTPAddress& a : *list)
            addresses += a.address() + QLatin1Char(' ');
    }
    return addresses;
}

}  // namespace

std::function<void()> CMailSendThread::tell(int position, const MailTexts& texts, Outcome outcome,
                                            size_t refusals, qsizetype possibly) {
    if (!m_run.observer)
        return [] {};
    RecipientDone done;
    done.position = position;
    done.address = recipientAddresses(m_message.get(), texts.recipientField).simplified();
    done.outcome = outcome;
    if (m_report.possiblyDelivered.size() > possibly)
        done.kind = RecipientDone::Kind::PossiblyDelivered;
    if (outcome != Outcome::Sent)
        done.reply =
            m_report.refusals.size() > refusals ? m_report.refusals.back().reply : m_lastReply;
    return [observer = m_run.observer, done = std::move(done)] { observer->recipientDone(done); };
}

const CKTWSMTPMessage* CMailSendThread::messageAhead(int nextRow) {
    if (nextRow < 0 || m_cancel.load() || !m_transport->sendsAhead())
        return nullptr;
    if (m_prebuilt && m_prebuilt->row == nextRow) {
        m_ahead = std::move(m_prebuilt);
        m_prebuilt.reset();
    }
    if (!(m_ahead && m_ahead->row == nextRow) && m_source->rowState(nextRow) != RowState::Present)
        return nullptr;  // the loop deals with it in its turn
    if (!m_ahead || m_ahead->row != nextRow) {
        MailTexts texts = m_source->merged(nextRow);
        BuiltMessage built = m_source->build(texts, nextRow);
        m_ahead = Ahead{nextRow, std::move(texts), std::move(built)};
    }
    const BuiltMessage& b = m_ahead->built;
    // a mail that will not be sent goes nowhere ahead either
    if (!b.message || !b.error.isEmpty() ||
        !addressCheckPasses(recipientAddresses(b.message.get(), m_ahead->texts.recipientField)))
        return nullptr;
    return b.message.get();
}

Outcome CMailSendThread::sendOne(int number, const MailTexts& texts, int row, int position,
                                 int nextRow) {
    m_progress.setStatus(str(ids::kSendStatusCompiling));
    m_skippedMail = false;
    m_wentAhead = false;
    m_lastReply.clear();
    // The mail before is settled by the time this one ends, and at once unless this one's
    // commands went ahead with its end of data.
    const struct Settled {
        CMailSendThread* thread;
        ~Settled() { thread->settle(); }
    } settled{this};
    if (!(m_ahead && m_ahead->row == row && row >= 0))
        settle();
    log(QString::number(number) + QLatin1Char(' ') + str(ids::kLogSubject));

    // Built already when it went ahead of the mail before (the same object: the session
    // knows its commands by it).
    BuiltMessage built;
    if (m_ahead && m_ahead->row == row && row >= 0) {
        built = std::move(m_ahead->built);
        m_ahead.reset();
    } else {
        built = m_source->build(texts, row);
    }
    m_message = std::move(built.message);
    for (const QString& entry : built.logEntries)
        log(entry);
    log(str(ids::kLogMerging));
    m_progress.setCounter(number, m_total);

    // A mail that cannot go as it is: 2, out of reach of "not yet sent".
    const auto notSent = [this] {
        if (m_cancel.load())
            log(str(ids::kLogTerminated));
        return Outcome::NotSent;
    };
    // A mail that did not go out for reasons of the moment: left for "not yet sent".
    const auto later = [this] {
        if (m_cancel.load())
            log(str(ids::kLogTerminated));
        return Outcome::NotYetSent;
    };

    if (!addressCheckPasses(recipientAddresses(m_message.get(), texts.recipientField))) {
        const QString entry = str(ids::kLogDoubleByteAddress);
        m_lastReply = entry;
        log(entry);
        applyAddressPolicy(position, entry);
        m_skippedMail = true;
        return notSent();
    }
    if (!built.error.isEmpty() || !m_message) {
        // The message could not be made (its HTML file is unreadable): this mail fails like
        // an address that cannot be used, and the policy decides about the rest.
        const QString entry = built.error.isEmpty() ? str(ids::kLogProblem) : built.error;
        m_lastReply = entry;
        log(entry);
        applyAddressPolicy(position, entry);
        m_skippedMail = true;
        return notSent();
    }

    // A failure of the mail before may have closed the connection: this one starts on a new
    // one rather than failing once on the dead one.
    bool reconnectPending = !m_transport->isConnected();
    bool failedOnce = false;
    int laterTries = 0;
    int limitReplies = 0;
    for (bool first = true;; first = false) {
        // A mail tried again goes before the one sent ahead of it: that one is taken back.
        if (!first) {
            m_transport->abandonNext();
            reconnectPending = reconnectPending || !m_transport->isConnected();
        }
        if (m_cancel.load())
            return later();
        if (reconnectPending) {
            settle();
            bool connected = false;
            for (int attempt = 0; attempt < 2 && !connected; ++attempt) {
                if (m_cancel.load())
                    return later();
                connectProcedure();
                if (m_transport->isConnected()) {
                    connected = true;
                    m_progress.setStatus(str(ids::kSendStatusConnecting));
                    log(str(ids::kLogReconnected));
                    reconnectPending = false;
                } else {
                    log(str(ids::kLogUnableToConnect));
                    if (m_cancel.load())
                        return later();
                    if (m_report.signInProblem || m_connectLimit != LimitReply::None)
                        break;  // only a new sign-in helps: no second try, no question
                    (void)m_progress.prompt(SendPrompt::ReconnectFailed,
                                            str(ids::kTransmissionErrorCaption),
                                            str(ids::kLogUnableToConnect));
                }
            }
            if (!connected && m_connectLimit != LimitReply::None) {
                // Refused for the account, not for the mail: one connection fewer while
                // others send, else the wait the limit asks for.
                if (m_lane > 0 && othersGoOn()) {
                    log(formatMessageText(str(ids::kLogFewerConnections), {m_connectReply}));
                    m_leaving = true;
                    return later();
                }
                if (!holdForLimit(m_connectLimit, m_connectReply, limitReplies))
                    return later();
                continue;
            }
            if (!connected) {
                // The server is gone: the run ends as failed, not as cancelled.
                log(str(ids::kLogServerLost));
                ++m_report.errors;
                stopFailed();
                return later();
            }
        }

        m_progress.setStatus(str(ids::kSendStatusTransmitting));
        const CKTWSMTPMessage* next = messageAhead(nextRow);
        m_sendingRecordId = row >= 0 && m_run.mode == SendMode::Merge
                                ? m_run.recordIds[static_cast<size_t>(row)]
                                : -1;
        m_sendingWho = QString::number(number) + QLatin1Char(' ') +
                       recipientAddresses(m_message.get(), texts.recipientField).trimmed();
        m_inFlight.store(true);
        if (m_cancel.load()) {
            m_inFlight.store(false);
            m_transport->abandonNext();
            return later();
        }
        const TransportResult r =
            next ? m_transport->sendBefore(*m_message, *next) : m_transport->send(*m_message);
        m_inFlight.store(false);
        settle();  // where the transport did not while awaiting the reply
        if (!r.ok && r.kind != FailureKind::PossiblyDelivered)
            clearInFlight();  // a reply or a broken connection: the server did not take it
        if (r.ok) {
            m_wentAhead = next != nullptr;
            m_limiter->sent(m_clock->now(), m_lane);
            m_laterInARow = 0;
            log(str(ids::kLogCompleted));
            if (m_cancel.load())
                log(str(ids::kLogTerminated));
            return Outcome::Sent;
        }

        for (const QString& entry : transmissionFailureEntries(r.lastResponseCode, r.description))
            log(entry);
        m_lastReply = r.lastResponse.isEmpty() ? r.description : r.lastResponse;

        if (r.kind == FailureKind::PossiblyDelivered) {
            // Sending it again could deliver it twice: it counts as sent, and the log says why
            // someone should check.
            log(str(ids::kLogPossiblyDelivered));
            const QString who = m_sendingWho;
            m_report.possiblyDelivered.append(who);
            log(formatMessageText(str(ids::kLogPossiblyDeliveredTo), {who}));
            m_limiter->sent(m_clock->now(), m_lane);
            if (!m_cancel.load())
                ++m_report.errors;
            return Outcome::Sent;
        }
        if (m_cancel.load())
            return later();

        Decision decision = Decision::GiveUp;
        switch (r.kind) {
            case FailureKind::AccountLimit: {
                // Trying the next recipients now would only burn them: this one stays unsent,
                // and nothing goes until the limit allows, on a new connection then.
                m_transport->abandonNext();
                if (m_transport->isConnected())
                    (void)m_transport->disconnect(true);
                reconnectPending = true;
                if (!holdForLimit(r.limit,
                                  r.lastResponse.isEmpty() ? r.description : r.lastResponse,
                                  limitReplies))
                    return later();
                continue;
            }
            case FailureKind::RefusedForNow: {
                if (++laterTries <= kLaterTries) {
                    const qint64 wait = laterBackoffSeconds(m_run.pacing.connectWait,
                                                            m_run.pacing.sendWait, laterTries);
                    log(formatMessageText(str(ids::kLogRefusedForNow), {QString::number(wait)}));
                    // 421: the server closes; it is asked again on a new connection.
                    if (r.lastResponseCode == 421 || !m_transport->isConnected()) {
                        (void)m_transport->disconnect(false);
                        reconnectPending = true;
                    }
                    if (pause(wait, kRetryPollMs) == PauseEnd::Cancelled)
                        return later();
                    continue;
                }
                log(str(ids::kLogLeftForLater));
                ++m_report.errors;
                if (++m_laterInARow >= kLaterInARow) {
                    // A rate limit or an overloaded server: trying the rest now only burns them.
                    log(str(ids::kLogServerRefusesAll));
                    stopFailed();
                }
                return later();
            }
            case FailureKind::Refused:
                log(str(ids::kLogRefusedForGood));
                decision = finalFailure(number, r, false);
                if (decision == Decision::Again) {
                    reconnectPending = !m_transport->isConnected();
                } else {
                    m_report.refusals.push_back(
                        {recipientAddresses(m_message.get(), texts.recipientField).trimmed(),
                         r.lastResponse.isEmpty() ? r.description : r.lastResponse});
                    return notSent();
                }
                break;
            case FailureKind::Connection:
            case FailureKind::Local:
            case FailureKind::None:
            case FailureKind::PossiblyDelivered:
                if (!failedOnce) {
                    failedOnce = true;
                    reconnectPending = true;
                    continue;
                }
                decision = finalFailure(number, r, true);
                if (decision == Decision::Again) {
                    reconnectPending = true;
                } else {
                    return r.kind == FailureKind::Local ? notSent() : later();
                }
                break;
        }
    }
}

CMailSendThread::PauseEnd CMailSendThread::waitForSlot() {
    const QDateTime now = m_clock->now();
    const QDateTime slot = m_limiter->nextSlot(now, 0, m_lane);
    if (slot <= now)
        return PauseEnd::Elapsed;
    settle();
    const bool long_ = now.msecsTo(slot) > kHoldConnectionMs;
    if (long_) {
        // a day's limit: no connection is held open through it
        log(formatMessageText(str(ids::kLogLimitWait),
                              {displayLocale().toString(slot, QLocale::ShortFormat)}));
        if (m_transport->isConnected())
            disconnectGracefully();
    }
    if (waitUntil(slot, long_ ? WaitShow::Countdown : WaitShow::Quiet) == PauseEnd::Cancelled) {
        if (long_)
            log(formatMessageText(str(ids::kLogLimitCancelled),
                                  {displayLocale().toString(slot, QLocale::ShortFormat)}));
        return PauseEnd::Cancelled;
    }
    if (!m_transport->isConnected()) {
        m_progress.setStatus(str(ids::kSendStatusConnecting));
        connectProcedure();
    }
    return PauseEnd::Elapsed;
}

CMailSendThread::PauseEnd CMailSendThread::waitUntil(const QDateTime& end, WaitShow show) {
    m_transport->abandonNext();
    const QString until = displayLocale().toString(end, QLocale::ShortFormat);
    QString shown;
    for (;;) {
        if (m_cancel.load() || m_lanes->stopped())
            return PauseEnd::Cancelled;
        const qint64 left = m_clock->now().msecsTo(end);
        if (left <= 0)
            return PauseEnd::Elapsed;
        if (show == WaitShow::Countdown) {
            // minutes while it is long, seconds at the end: the line changes when its text does
            const QString text = formatMessageText(str(ids::kStatusLimitCountdown),
                                                   {durationText((left + 999) / 1000), until});
            if (text != shown)
                m_progress.setStatus(shown = text);
        }
        m_clock->sleep(int(std::min<qint64>(left, kBatchPollMs)), m_cancel);
    }
}

CMailSendThread::PauseEnd CMailSendThread::pause(qint64 seconds, int pollMs) {
    m_transport->abandonNext();  // nor during a pause
    const QDateTime end = pauseEnd(m_clock->now(), seconds);
    const QString status = standingByText(end);
    for (;;) {
        if (m_cancel.load() || m_lanes->stopped())
            return PauseEnd::Cancelled;
        m_progress.setStatus(status);
        if (m_clock->now() > end)
            return PauseEnd::Elapsed;
        // Sleep in short slices so that Cancel ends the pause at once.
        m_clock->sleep(pollMs, m_cancel);
    }
}

void RunReport::add(const RunReport& other) {
    errors += other.errors;
    sent += other.sent;
    failed += other.failed;
    skipped += other.skipped;
    later += other.later;
    possiblyDelivered += other.possiblyDelivered;
    refusals.insert(refusals.end(), other.refusals.begin(), other.refusals.end());
    signedInWithoutTls = signedInWithoutTls || other.signedInWithoutTls;
    signInProblem = signInProblem || other.signInProblem;
    outcomeLost = outcomeLost || other.outcomeLost;
    if (!certificateRefused)
        certificateRefused = other.certificateRefused;
}

}  // namespace pw::send
