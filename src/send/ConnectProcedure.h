#pragma once
// The connect procedure of a send run, with its port fallback: the configured port first,
// then the fallback ports the connection kind and authentication call for, each at most once.
// The connection test runs the same procedure; each caller logs the attempts its own way.

#include <atomic>
#include <functional>

#include "send/SendRules.h"
#include "send/SendTransport.h"

namespace pw::send {

// One attempt, as it ended.
struct ConnectAttempt {
    ConnectCall call;
    TransportResult result;
    bool configuredPort = false;  // the server record's port rather than a fallback
};

struct ConnectOutcome {
    bool connected = false;
    bool cancelled = false;
    // No access token could be had, or the server refused a fresh one: no other port can
    // help, and the user has to sign in again.
    bool signInProblem = false;
    ConnectAttempt last;  // the successful attempt, or the last one that failed
};

using AttemptObserver = std::function<void(const ConnectAttempt&)>;
// A further check of a fresh connection; its failure counts as a failed attempt (and the
// connection is dropped).
using ConnectCheck = std::function<TransportResult(const ConnectCall&)>;

// Tries until connected, cancelled (checked before every attempt and after every failure)
// or out of ports. Every attempt is reported to `observe` when it has ended. A call that signs
// in with a token gets one from the server record's sign-in before it is made; when the
// server refuses it, one fresh token is fetched and the same port tried again, once.
[[nodiscard]] ConnectOutcome runConnectProcedure(ISendTransport& transport,
                                                 const ServerRecord& server,
                                                 const std::atomic<bool>& cancel,
                                                 const AttemptObserver& observe,
                                                 const ConnectCheck& check = {});

}  // namespace pw::send
