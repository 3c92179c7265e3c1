#include "app/BounceCommand.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "app/AppFolders.h"
#include "app/IniFile.h"
#include "app/Keyring.h"
#include "app/SendCommand.h"
#include "app/SendSettings.h"
#include "app/Settings.h"
#include "bounces/MailboxRun.h"
#include "bounces/ReadBouncesCommand.h"

namespace pw::app {

bounces::SoftBounceRule readSoftBounceRule(const QString& settingsPath) {
    CIniFile ini(settingsPath);
    (void)ini.Load();  // a missing file gives the defaults
    bounces::SoftBounceRule rule;
    rule.threshold =
        std::clamp(ini.GetInt("BOUNCES", "SoftBounceThreshold", rule.threshold), 1, 100);
    rule.days = std::clamp(ini.GetInt("BOUNCES", "SoftBounceDays", rule.days), 1, 3650);
    return rule;
}

QString readReportFolder(const QString& settingsPath) {
    CIniFile ini(settingsPath);
    (void)ini.Load();
    return ini.GetText("BOUNCES", "ReportFolder", {}).trimmed();
}

void storeReportFolder(const QString& settingsPath, const QString& folder, IUserInteraction& ui) {
    CIniFile ini(settingsPath);
    (void)ini.Load();  // a missing file is made; an unreadable one is never written over
    ini.SetText("BOUNCES", "ReportFolder", folder.trimmed());
    ini.SaveTelling(ui);
}

bounces::MailboxAccount settingsMailbox(const Settings& settings, const QString& settingsPath) {
    bounces::MailboxAccount account = bounces::mailboxAccount(standardServerRecord(settings));
    account.reportFolder = readReportFolder(settingsPath);
    return account;
}

QString countRunRefusals(const send::SendSummary& summary, const QString& userDataFolder,
                         const QString& settingsPath) {
    if (summary.refusals.empty() || userDataFolder.isEmpty())
        return {};
    return bounces::countRefusals(summary.refusals, summary.runId, userDataFolder,
                                  readSoftBounceRule(settingsPath))
        .message;
}

int runReadBouncesCommand(const QStringList& arguments) {
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (!arguments.contains(QLatin1String("--mailbox")))
        return static_cast<int>(bounces::runReadBounces(arguments, out, err));

    const CommandLineStart start = StartCommandLine();
    const AppFolders& folders = start.folders;
    if (folders.userDataFolder.isEmpty())
        return int(SendExit::Unusable);
    (void)CreateFolder(folders.userDataFolder);
    const QString exeName = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    const QString settingsPath =
        folders.settingsPath(exeName.isEmpty() ? QStringLiteral("postwick") : exeName);
    CIniFile ini(settingsPath);
    (void)ini.Load();  // a missing file gives the defaults: no mailbox, said so below
    Settings settings = ReadSettings(ini);
    LoadSecrets(settings, processKeyring());
    const bounces::SoftBounceRule rule = readSoftBounceRule(settingsPath);
    const bounces::MailboxRunResult result =
        bounces::readMailbox(settingsMailbox(settings, settingsPath), folders.userDataFolder, rule);
    if (result.summary.messages > 0 || result.outcome == bounces::MailboxRunOutcome::Done)
        out << bounces::summaryText(result.summary) << '\n';
    out.flush();
    if (!result.message.isEmpty())
        err << result.message << '\n';
    switch (result.outcome) {
        case bounces::MailboxRunOutcome::Done:
            return int(SendExit::Complete);
        case bounces::MailboxRunOutcome::NoConnection:
        case bounces::MailboxRunOutcome::Refused:
            return int(SendExit::NoConnection);
        case bounces::MailboxRunOutcome::NoMailbox:
        case bounces::MailboxRunOutcome::BookUnreadable:
            return int(SendExit::Unusable);
        case bounces::MailboxRunOutcome::BookUnwritable:
        case bounces::MailboxRunOutcome::SuppressionFailed:
            return int(SendExit::NotRecorded);
    }
    return int(SendExit::Unusable);
}

}  // namespace pw::app
