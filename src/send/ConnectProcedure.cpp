#include "send/ConnectProcedure.h"

namespace pw::send {

ConnectOutcome runConnectProcedure(ISendTransport& transport, const ServerRecord& server,
                                   const std::atomic<bool>& cancel, const AttemptObserver& observe,
                                   const ConnectCheck& check) {
    ConnectOutcome outcome;
    PortFallback fallback;
    const ConnectionKind kind = connectionKindFromSetting(server.smtpConnectionType);
    int port = server.smtpPort;
    for (;;) {
        fallback.markTried(port);
        (void)transport.disconnect(false);
        if (cancel.load()) {
            outcome.cancelled = true;
            return outcome;
        }
        ConnectAttempt attempt;
        attempt.call = connectCallFor(server, port);
        attempt.configuredPort = port == server.smtpPort;
        attempt.result = transport.connect(attempt.call);
        if (attempt.result.ok && cancel.load()) {
            // Cancelled while connecting: the abort may have come before the session began.
            (void)transport.disconnect(false);
            outcome.cancelled = true;
            return outcome;
        }
        if (attempt.result.ok && check) {
            attempt.result = check(attempt.call);
            if (!attempt.result.ok)
                (void)transport.disconnect(false);
        }
        if (observe)
            observe(attempt);
        outcome.last = attempt;
        if (attempt.result.ok) {
            outcome.connected = true;
            return outcome;
        }
        if (cancel.load()) {
            outcome.cancelled = true;
            return outcome;
        }
        const std::optional<int> next = fallback.next(kind, server.smtpAuthType);
        if (!next)
            return outcome;
        port = *next;
    }
}

}  // namespace pw::send
