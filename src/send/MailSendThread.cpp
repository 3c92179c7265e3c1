#include "send/MailSendThread.h"

#include <QDeadlineTimer>

#include "resources/Strings.h"
#include "send/ConnectProcedure.h"
#include "smtp/KTWSMTPMessage.h"

namespace pw::send {

CMailSendThread::CMailSendThread(SendRun run, std::unique_ptr<IMessageSource> source,
                                 std::unique_ptr<ISendTransport> transport,
                                 OutcomeRecorder recorder, ISendProgress& progress, CSendLog& log,
                                 QObject* parent)
    : QThread(parent),
      m_run(std::move(run)),
      m_source(std::move(source)),
      m_transport(std::move(transport)),
      m_recorder(std::move(recorder)),
      m_progress(progress),
      m_log(log),
      m_policy(errorPolicyFromSetting(m_run.pacing.sendContinue)) {}

CMailSendThread::~CMailSendThread() {
    if (isRunning()) {
        // The cancel also abandons a prompt the worker waits on, so it never waits for the
        // thread that is waiting here.
        cancel();
        wait();
    }
}

void CMailSendThread::cancel() {
    m_cancel.store(true);
    m_transport->abort();
    m_progress.abandonPrompts();
}

void CMailSendThread::run() {
    m_log.reset();
    // The cancel flag is not cleared: a cancel that came before the start still counts.
    m_errors.store(0);
    m_sent.store(0);
    m_everConnected.store(false);
    m_status.store(static_cast<int>(RunStatus::Running));

    try {
        runSteps();
    } catch (const std::exception& e) {
        // Nothing of the run is meant to throw; should anything, the run ends in order.
        log(str(ids::kLogUnableToConnect));
        m_status.store(static_cast<int>(RunStatus::Failed));
        (void)m_progress.prompt(SendPrompt::EscapedFailure, productName(),
                                escapedFailureText(0x80070000u, QString::fromUtf8(e.what()), {}));
    }

    log(str(ids::kLogEnded));
    if (m_errors.load() != 0 && !m_cancel.load())
        m_status.store(static_cast<int>(RunStatus::Failed));
    m_message.reset();
}

void CMailSendThread::runSteps() {
    m_progress.setStatus(str(ids::kSendStatusConnecting));
    connectProcedure();

    if (m_cancel.load()) {
        m_status.store(static_cast<int>(RunStatus::Cancelled));
    } else if (!m_transport->isConnected()) {
        m_status.store(static_cast<int>(RunStatus::Failed));
    } else if (m_run.mode == SendMode::Single) {
        m_total = 1;
        m_progress.setRange(1);
        (void)sendOne(1, m_source->texts(), -1, 0);
        m_progress.step();
        if (m_cancel.load())
            m_status.store(static_cast<int>(RunStatus::Cancelled));
    } else {
        const int n = static_cast<int>(m_run.recordIds.size());
        m_total = n;
        int batch = m_run.pacing.oneTimeSend;
        m_progress.setRange(n);
        for (int index = 0; index < n; ++index) {
            const int current = index + 1;
            if (index > 0 && m_run.pacing.sendWait != 0 && batch < 1) {
                m_progress.setStatus(str(ids::kSendStatusStandingBy));
                if (m_transport->isConnected())
                    disconnectGracefully();
                batch = m_run.pacing.oneTimeSend;
                if (pause(m_run.pacing.sendWait, kBatchPollMs) == PauseEnd::Cancelled) {
                    log(str(ids::kLogTerminatedByUser));
                    m_status.store(static_cast<int>(RunStatus::Cancelled));
                    break;
                }
                m_progress.setStatus(str(ids::kSendStatusConnecting));
                connectProcedure();
            }
            --batch;
            const MailTexts texts = m_source->merged(index);
            const Outcome outcome = sendOne(current, texts, index, index);
            if (outcome == Outcome::Sent)
                m_sent.fetch_add(1);
            if (m_recorder)
                m_recorder(m_run.recordIds[static_cast<size_t>(index)], outcome);
            if (m_cancel.load()) {
                m_status.store(static_cast<int>(RunStatus::Cancelled));
                break;
            }
            m_progress.step();
        }
    }

    if (m_status.load() != static_cast<int>(RunStatus::Failed) || m_transport->isConnected()) {
        m_progress.setStatus(str(ids::kSendStatusDisconnecting));
        disconnectGracefully();
        log(str(ids::kLogConnectionBroken));
    }
}

void CMailSendThread::disconnectGracefully() {
    const TransportResult r = m_transport->disconnect(true);
    // The mails already went out: a server that answers QUIT oddly or closes first does
    // not make the run a failure; the log keeps what it said.
    if (!r.ok && !r.description.isEmpty())
        log(r.description);
}

void CMailSendThread::connectProcedure() {
    const ConnectOutcome outcome =
        runConnectProcedure(*m_transport, m_run.server, m_cancel, [this](const ConnectAttempt& a) {
            log(str(a.result.ok ? ids::kLogConnected : ids::kLogUnableToConnect) +
                connectDetail(a.call));
        });
    if (outcome.connected)
        m_everConnected.store(true);
}

void CMailSendThread::applyAddressPolicy(int position, const QString& entry) {
    switch (m_policy) {
        case ErrorPolicy::Continue:
            m_errors.fetch_add(1);
            break;
        case ErrorPolicy::Ask: {
            const QString text =
                formatMessageText(str(ids::kPromptSkipped), {QString::number(position), entry});
            const Answer a = m_progress.prompt(SendPrompt::AddressSkipped,
                                               str(ids::kTransmissionErrorCaption), text);
            if (a == Answer::Cancel) {
                setCancel();
            } else {
                m_errors.fetch_add(1);
            }
            break;
        }
        case ErrorPolicy::Terminate:
            setCancel();
            break;
    }
}

Outcome CMailSendThread::sendOne(int number, const MailTexts& texts, int row, int position) {
    m_progress.setStatus(str(ids::kSendStatusCompiling));
    log(QString::number(number) + QLatin1Char(' ') + str(ids::kLogSubject));

    BuiltMessage built = m_source->build(texts, row);
    m_message = std::move(built.message);
    for (const QString& entry : built.logEntries)
        log(entry);
    log(str(ids::kLogMerging));
    m_progress.setCounter(number, m_total);

    const auto notSent = [this] {
        if (m_cancel.load())
            log(str(ids::kLogTerminated));
        return Outcome::NotSent;
    };

    if (!addressCheckPasses(texts.recipientField)) {
        const QString entry = str(ids::kLogDoubleByteAddress);
        log(entry);
        applyAddressPolicy(position, entry);
        return notSent();
    }
    if (!built.error.isEmpty() || !m_message) {
        // The message could not be made (its HTML file is unreadable): this mail fails like
        // an address that cannot be used, and the policy decides about the rest.
        const QString entry = built.error.isEmpty() ? str(ids::kLogProblem) : built.error;
        log(entry);
        applyAddressPolicy(position, entry);
        return notSent();
    }

    // A failure of the mail before may have closed the connection: this one starts on a new
    // one rather than failing once on the dead one.
    bool reconnectPending = !m_transport->isConnected();
    bool failedOnce = false;
    for (;;) {
        if (reconnectPending) {
            bool connected = false;
            for (int attempt = 0; attempt < 2 && !connected; ++attempt) {
                if (m_cancel.load())
                    return notSent();
                connectProcedure();
                if (m_transport->isConnected()) {
                    connected = true;
                    m_progress.setStatus(str(ids::kSendStatusConnecting));
                    log(str(ids::kLogReconnected));
                    reconnectPending = false;
                } else {
                    log(str(ids::kLogUnableToConnect));
                    if (m_cancel.load())
                        return notSent();
                    (void)m_progress.prompt(SendPrompt::ReconnectFailed,
                                            str(ids::kTransmissionErrorCaption),
                                            str(ids::kLogUnableToConnect));
                }
            }
            if (!connected) {
                setCancel();
                return notSent();
            }
        }

        m_progress.setStatus(str(ids::kSendStatusTransmitting));
        const TransportResult r = m_transport->send(*m_message);
        if (r.ok) {
            log(str(ids::kLogCompleted));
            if (m_cancel.load())
                log(str(ids::kLogTerminated));
            return Outcome::Sent;
        }

        for (const QString& entry : transmissionFailureEntries(r.lastResponseCode, r.description))
            log(entry);

        bool again = true;
        if (!failedOnce) {
            failedOnce = true;
            reconnectPending = true;
        } else {
            switch (m_policy) {
                case ErrorPolicy::Continue:
                    m_errors.fetch_add(1);
                    again = false;
                    log(str(ids::kLogRetransmissionFailed));
                    if (number != m_total && !m_cancel.load())
                        (void)pause(qint64(m_run.pacing.connectWait) * 60, kRetryPollMs);
                    break;
                case ErrorPolicy::Ask: {
                    log(str(ids::kLogRetransmissionFailed));
                    const QString text =
                        formatMessageText(str(ids::kPromptRetry),
                                          {QString::number(number),
                                           QString::number(r.lastResponseCode), r.description});
                    const Answer a = m_progress.prompt(SendPrompt::RetryMail,
                                                       str(ids::kTransmissionErrorCaption), text);
                    if (a == Answer::Yes) {
                        reconnectPending = true;
                        log(str(ids::kLogResumedByUser));
                    } else if (a == Answer::No) {
                        m_errors.fetch_add(1);
                        again = false;
                        log(str(ids::kLogCancelledByUser));
                    } else {
                        setCancel();
                    }
                    break;
                }
                case ErrorPolicy::Terminate:
                    setCancel();
                    break;
            }
        }
        if (m_cancel.load())
            return notSent();
        if (!again)
            return Outcome::NotSent;
    }
}

CMailSendThread::PauseEnd CMailSendThread::pause(qint64 seconds, int pollMs) {
    const QDateTime end = pauseEnd(QDateTime::currentDateTime(), seconds);
    const QString status = standingByText(end);
    for (;;) {
        if (m_cancel.load())
            return PauseEnd::Cancelled;
        m_progress.setStatus(status);
        if (QDateTime::currentDateTime() > end)
            return PauseEnd::Elapsed;
        // Sleep in short slices so that Cancel ends the pause at once.
        QDeadlineTimer slice(pollMs);
        while (!slice.hasExpired() && !m_cancel.load())
            QThread::msleep(50);
    }
}

}  // namespace pw::send
