#include "serversettings/ConnectionTest.h"

#include <chrono>

#include "resources/Strings.h"
#include "send/ConnectProcedure.h"

namespace pw::serversettings {

using send::ConnectAttempt;
using send::ConnectCall;
using send::TransportResult;

ConnectionTestResult runConnectionTest(const send::ServerRecord& server,
                                       send::CSmtpTransport& transport, send::CSendLog& log,
                                       const std::atomic<bool>& cancel) {
    log.reset();
    log.setActive();
    ConnectionTestResult result;
    result.host = server.smtpServer;
    result.port = server.smtpPort;

    const smtp::ConnectionType kind = server.smtpConnectionType;
    // Without login a server greets anyone; whether it would take mail shows only at MAIL.
    send::ConnectCheck check;
    if (kind != smtp::ConnectionType::SslTls && !server.signsIn())
        check = [&transport](const ConnectCall&) { return transport.verifySender(); };

    const auto observe = [&](const ConnectAttempt& a) {
        if (a.result.ok) {
            if (a.configuredPort) {
                log.append(str(ids::kLogConnected) + send::connectDetail(a.call));
            } else {
                log.append(str(ids::kTestLogPortChange) + QLatin1Char(' ') +
                           QString::number(a.call.port) + QLatin1Char('.'));
            }
            if (kind == smtp::ConnectionType::None && server.signsIn() &&
                transport.offered(QStringLiteral("STARTTLS")))
                result.startTlsSuggested = true;
            return;
        }
        if (a.result.certificateRefused && result.certificate.isNull()) {
            result.certificate = a.result.certificate;
            result.refusalReason = a.result.description;
            result.port = a.call.port;
        }
        if (a.configuredPort) {
            log.append(str(ids::kLogUnableToConnect) + send::connectDetail(a.call));
            log.append(a.result.description);
            if (result.failureReason.isEmpty())
                result.failureReason = a.result.description.trimmed();
        }
    };

    const send::ConnectOutcome outcome =
        send::runConnectProcedure(transport, server, cancel, observe, check);
    if (outcome.connected) {
        (void)transport.disconnect(true);
        if (outcome.last.configuredPort) {
            result.verdict = TestVerdict::Success;
        } else {
            result.workingPort = outcome.last.call.port;
        }
        if (result.startTlsSuggested)
            log.append(str(ids::kTestLogStartTlsOffered));
        return result;
    }
    (void)transport.disconnect(false);
    if (outcome.cancelled || cancel.load()) {
        result.verdict = TestVerdict::Cancelled;
        log.append(str(ids::kTestLogCancelled));
    } else if (!result.certificate.isNull()) {
        result.verdict = TestVerdict::CertificateRefused;
    }
    return result;
}

CConnectionTestRun::CConnectionTestRun(send::ServerRecord server, send::CSendLog& log)
    : m_server(std::move(server)),
      m_log(log),
      m_transport(std::make_unique<send::CSmtpTransport>(m_server)) {
    m_transport->setTimeout(kTestTimeoutMs);
}

CConnectionTestRun::~CConnectionTestRun() {
    if (m_thread.joinable()) {
        cancel();
        m_thread.join();
    }
}

void CConnectionTestRun::start() {
    if (m_thread.joinable())
        return;
    m_thread = std::thread([this] {
        m_result = runConnectionTest(m_server, *m_transport, m_log, m_cancel);
        m_finished.store(true);
    });
}

void CConnectionTestRun::cancel() {
    m_cancel.store(true);
    m_transport->abort();
}

ConnectionTestResult CConnectionTestRun::wait() {
    // An abort that lands between two attempts is cleared by the next one's start; repeat it
    // until the procedure has seen the cancel flag.
    while (m_cancel.load() && !m_finished.load()) {
        m_transport->abort();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (m_thread.joinable())
        m_thread.join();
    return m_result;
}

}  // namespace pw::serversettings
