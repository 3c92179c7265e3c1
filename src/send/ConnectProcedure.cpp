#include "send/ConnectProcedure.h"

#include "smtp/KTWSMTPException.h"
#include "smtp/SmtpTexts.h"

namespace pw::send {

namespace {

TransportResult tokenFailure(const AccessToken& t) {
    TransportResult r;
    r.ok = false;
    r.kind = FailureKind::Refused;
    r.errorCode = smtp::CKTWSMTPException::MakeError(smtp::CKTWSMTPException::kFacilityItf,
                                                     smtp::msg::kBearerTokenRefused);
    r.description = t.error;
    return r;
}

bool tokenRefused(const TransportResult& r) {
    return !r.ok &&
           r.errorCode == smtp::CKTWSMTPException::MakeError(smtp::CKTWSMTPException::kFacilityItf,
                                                             smtp::msg::kBearerTokenRefused);
}

}  // namespace

ConnectOutcome runConnectProcedure(ISendTransport& transport, const ServerRecord& server,
                                   const std::atomic<bool>& cancel, const AttemptObserver& observe,
                                   const ConnectCheck& check) {
    ConnectOutcome outcome;
    PortFallback fallback;
    const smtp::ConnectionType kind = server.smtpConnectionType;
    int port = server.smtpPort;
    bool refreshed = false;
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
        const bool withToken = server.tokens && callUsesToken(server, attempt.call);
        if (withToken) {
            const AccessToken t = server.tokens->accessToken(TokenNeed::Valid);
            if (!t.ok) {
                attempt.result = tokenFailure(t);
                if (observe)
                    observe(attempt);
                outcome.last = attempt;
                outcome.signInProblem = true;
                return outcome;
            }
            attempt.call.bearerToken = t.token;
        }
        attempt.result = transport.connect(attempt.call);
        if (withToken && tokenRefused(attempt.result) && !cancel.load()) {
            // Expired early or revoked: one new token, never a loop of them.
            if (refreshed) {
                outcome.signInProblem = true;
            } else {
                refreshed = true;
                (void)transport.disconnect(false);
                const AccessToken t = server.tokens->accessToken(TokenNeed::Fresh);
                if (!t.ok) {
                    attempt.result = tokenFailure(t);
                    outcome.signInProblem = true;
                } else {
                    attempt.call.bearerToken = t.token;
                    attempt.result = transport.connect(attempt.call);
                    outcome.signInProblem = tokenRefused(attempt.result);
                }
            }
        }
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
        if (outcome.signInProblem)
            return outcome;  // the same token on another port fares no better
        // A server that answered "not now" (432, 421, 454) is the right one on the right
        // port: its other ports say the same, later is what helps.
        const int code = attempt.result.lastResponseCode;
        if ((code >= 400 && code < 500) || attempt.result.kind == FailureKind::AccountLimit)
            return outcome;
        const std::optional<int> next = fallback.next(kind, server.smtpAuthType);
        if (!next)
            return outcome;
        port = *next;
    }
}

}  // namespace pw::send
