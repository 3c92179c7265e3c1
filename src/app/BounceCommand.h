#pragma once
// "postwick --read-bounces FILE..." classifies mail files (see bounces/ReadBouncesCommand.h);
// "postwick --read-bounces --mailbox" reads the mailbox of the standard server settings, acts
// on what it finds as the window does and prints a summary. Exit statuses as the sender's:
// 0 done, 2 mailbox not reachable or sign-in refused, 4 nothing to read (no mailbox set, an
// unreadable record), 5 acted on but not recorded. The rule for temporary bounces is read
// from the settings file: "SoftBounceThreshold" (3) runs within "SoftBounceDays" (30) days,
// section "BOUNCES"; recognised reports are moved into the IMAP folder "ReportFolder" when set.

#include <QStringList>

#include "app/Settings.h"
#include "bounces/BounceBook.h"
#include "send/SendFlow.h"

namespace pw::app {

// arguments without the program name.
// The user's rule for temporary bounces from the settings file: so many runs within so many
// days suppress.
[[nodiscard]] bounces::SoftBounceRule readSoftBounceRule(const QString& settingsPath);

// The IMAP folder recognised reports are moved into ("ReportFolder", section "BOUNCES");
// empty: they stay in the mailbox.
[[nodiscard]] QString readReportFolder(const QString& settingsPath);
// Keeps the folder in the settings file, telling the user when the file cannot be written.
void storeReportFolder(const QString& settingsPath, const QString& folder, IUserInteraction& ui);

// The mailbox of the settings: the standard server's, signing in as its sending does, with the
// reports folder of the settings file.
[[nodiscard]] bounces::MailboxAccount settingsMailbox(const Settings& settings,
                                                      const QString& settingsPath);

// The refusals a run met, counted as bounces in the user data folder; the message for the
// user when they could not be (empty when they were, or when there were none).
[[nodiscard]] QString countRunRefusals(const send::SendSummary& summary,
                                       const QString& userDataFolder, const QString& settingsPath);

[[nodiscard]] int runReadBouncesCommand(const QStringList& arguments);

}  // namespace pw::app
