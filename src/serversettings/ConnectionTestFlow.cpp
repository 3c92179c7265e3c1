#include "serversettings/ConnectionTestFlow.h"

#include "resources/Strings.h"
#include "serversettings/CertificateTrust.h"

namespace pw::serversettings {

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
        if (hooks.waitForEnd && !hooks.waitForEnd(run))
            run.cancel();
        const ConnectionTestResult r = run.wait();
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
                const QString question =
                    certificateQuestion(r.certificate, r.refusalReason, r.host, r.port);
                if (ui.message(caption, question, MessageKind::YesNo) != Answer::Yes)
                    return r.verdict;
                const smtp::TrustedCertificate trusted{r.host, r.port, r.certificate.sha256};
                trustCertificate(editor.values().trusted, trusted);
                if (hooks.storeTrust)
                    hooks.storeTrust(trusted);
                continue;
            }
            case TestVerdict::Failed:
                break;
        }
        // "View Log" or close
        const Answer a = ui.message(
            str(ids::kTestViewLog),
            str(ids::kTestFailed) + QStringLiteral("\n\n") + str(ids::kTestViewLogQuestion),
            MessageKind::YesNo);
        if (a == Answer::Yes && hooks.openLog)
            hooks.openLog(log.path());
        return r.verdict;
    }
    return TestVerdict::CertificateRefused;
}

}  // namespace pw::serversettings
