#pragma once
// The connection test of the server settings: the send run's connect procedure with its port
// fallback, a check that a session without login would take mail, its own log entries, and
// the verdict. It runs on a thread of its own; Cancel drops the connection at once.

#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "send/SendLog.h"
#include "send/SendRules.h"
#include "send/SendTransport.h"

namespace pw::serversettings {

enum class TestVerdict { Success, Failed, Cancelled, CertificateRefused };

struct ConnectionTestResult {
    TestVerdict verdict = TestVerdict::Failed;
    // A fallback port that answered when the configured one did not.
    std::optional<int> workingPort;
    // Plain connection with login, and the server offers STARTTLS: the password went over the
    // network in the clear although it need not have.
    bool startTlsSuggested = false;
    // With Failed: why the configured port did not do, as the client knows it (the system's
    // text for a connect, the server's reply, the TLS error).
    QString failureReason;
    // With CertificateRefused: what the server presented, why it was refused, and where.
    smtp::PeerCertificate certificate;
    QString refusalReason;
    QString host;
    int port = 0;
};

// How long one reply may take during the test: it is interactive, and every port tried
// may wait this long.
inline constexpr int kTestTimeoutMs = 20000;

// Runs the test on the calling thread. The log is reset and made active first.
[[nodiscard]] ConnectionTestResult runConnectionTest(const send::ServerRecord& server,
                                                     send::CSmtpTransport& transport,
                                                     send::CSendLog& log,
                                                     const std::atomic<bool>& cancel);

// One test on its own thread.
class CConnectionTestRun {
public:
    CConnectionTestRun(send::ServerRecord server, send::CSendLog& log);
    // Cancels a test still running and waits for its thread (which then ends at once).
    ~CConnectionTestRun();
    CConnectionTestRun(const CConnectionTestRun&) = delete;
    CConnectionTestRun& operator=(const CConnectionTestRun&) = delete;

    void start();
    // From any thread: the test ends as soon as its current network wait is woken.
    void cancel();
    [[nodiscard]] bool finished() const { return m_finished.load(); }
    // Waits for the end of the test; the result.
    [[nodiscard]] ConnectionTestResult wait();

private:
    send::ServerRecord m_server;
    send::CSendLog& m_log;
    std::unique_ptr<send::CSmtpTransport> m_transport;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_finished{false};
    std::thread m_thread;
    ConnectionTestResult m_result;
};

}  // namespace pw::serversettings
