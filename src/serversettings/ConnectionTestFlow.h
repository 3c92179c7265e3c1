#pragma once
// The connection test as the user meets it: a busy display with Cancel while the test runs on
// its own thread, then the verdict. A refused certificate is shown with its details and may
// be trusted for its host and port, after which the test runs again.

#include <functional>

#include "resources/UserInteraction.h"
#include "send/SendLog.h"
#include "serversettings/ConnectionTest.h"
#include "serversettings/ServerSettingsEditor.h"

namespace pw::serversettings {

struct ConnectionTestHooks {
    // Waits until the run has finished (true) or the user cancelled it (false; the run is
    // then cancelled). Empty: the busy display of the user interaction, with Cancel.
    std::function<bool(CConnectionTestRun& run)> waitForEnd;
    // Stores a newly trusted certificate at once (its own settings section).
    std::function<void(const smtp::TrustedCertificate&)> storeTrust;
    // Opens the send log (the "View Log" button).
    std::function<void(const QString& path)> openLog;
    // True, after telling the user why, while a send run writes the log the test would start
    // afresh.
    std::function<bool()> runRefuses;
};

// Runs the test of the editor's standard fields and advanced values; returns the last verdict.
TestVerdict runConnectionTestFlow(CServerSettingsEditor& editor, IUserInteraction& ui,
                                  send::CSendLog& log, const ConnectionTestHooks& hooks);

}  // namespace pw::serversettings
