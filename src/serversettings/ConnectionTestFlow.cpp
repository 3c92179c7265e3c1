#include "serversettings/ConnectionTestFlow.h"

#include "resources/Strings.h"
#include "serversettings/CertificateTrust.h"
#include "serversettings/OAuthSignIn.h"

namespace pw::serversettings {

namespace {

bool waitWithProgress(IUserInteraction& ui, CConnectionTestRun& run) {
    return waitWithBusyDisplay(
        ui, str(ids::kTestBusy), [&run] { return run.finished(); }, [&run] { run.cancel(); });
}

}  // namespace

TestVerdict runConnectionTestFlow(CServerSettingsEditor& editor, IUserInteraction& ui,
                                  send::CSendLog& log, const ConnectionTestHooks& hooks) {
    const QString caption = str(ids::kSsCaption);
    if (!isPlausibleHostName(editor.values().standard.smtpServer.trimmed())) {
        (void)ui.message(caption, str(ids::kSsHostIncorrect), MessageKind::Information);
        return TestVerdict::Failed;
    }
    // Trusting a certificate runs the test again; a server that changes its certificate on
    // every connection cannot make this go round for ever.
    for (int round = 0; round < 3; ++round) {
        CConnectionTestRun run(editor.testServer(), log);
        run.start();
        const bool ended = hooks.waitForEnd ? hooks.waitForEnd(run) : waitWithProgress(ui, run);
        if (!ended)
            run.cancel();
        const ConnectionTestResult r = run.wait();
        editor.keepTestedSignIn();
        switch (r.verdict) {
            case TestVerdict::Success:
                (void)ui.message(caption, str(ids::kTestSuccess), MessageKind::Information);
                if (r.startTlsSuggested)
                    (void)ui.message(caption, str(ids::kTestStartTlsSuggestion),
                                     MessageKind::Information);
                return r.verdict;
            case TestVerdict::Cancelled:
                return r.verdict;
            case TestVerdict::CertificateRefused: {
                const auto trusted =
                    askToTrust(ui, caption, {r.certificate, r.refusalReason, r.host, r.port});
                if (!trusted)
                    return r.verdict;
                trustCertificate(editor.values().trusted, *trusted);
                if (hooks.storeTrust)
                    hooks.storeTrust(*trusted);
                continue;
            }
            case TestVerdict::Failed:
                break;
        }
        // the summary box of a send run: "View Log" or OK
        ChoiceRequest box;
        box.caption = caption;
        box.text = r.failureReason.isEmpty() ? str(ids::kTestFailed)
                                             : str(ids::kTestFailedReason).arg(r.failureReason);
        box.buttons = {str(ids::kTestViewLog), str(ids::kSsOk)};
        box.defaultButton = 1;
        box.escapeButton = 1;
        box.icon = ChoiceIcon::Warning;
        if (ui.choose(box) == 0 && hooks.openLog)
            hooks.openLog(log.path());
        return r.verdict;
    }
    return TestVerdict::CertificateRefused;
}

}  // namespace pw::serversettings
