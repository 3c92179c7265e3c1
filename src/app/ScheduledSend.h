#pragma once
// A run that the account's limit stopped goes on later by itself through the desktop's own
// scheduler: a systemd user timer that runs "postwick --send PROJECT --selection unsent" at
// the time the limit allows, and catches up after the computer was off (Persistent=true).
// One timer per project file: scheduling again moves it.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace pw::app {

// Runs "systemctl --user" with these arguments; the exit code (tests record the calls).
using SystemctlRunner = std::function<int(const QStringList& arguments)>;
[[nodiscard]] SystemctlRunner userSystemctl();
// "~/.config/systemd/user/" (XDG_CONFIG_HOME respected), where the user's units live.
[[nodiscard]] QString userUnitFolder();

struct ScheduledSend {
    QString unit;     // the timer's name, "postwick-send-<id>.timer"
    QString project;  // the project file it sends
    QDateTime when;   // UTC
};

enum class ScheduleResult { Scheduled, FolderUnwritable, SchedulerRefused };

// Writes the service and its timer and starts the timer.
[[nodiscard]] ScheduleResult scheduleSend(const QString& unitFolder, const QString& program,
                                          const QString& project, const QDateTime& when,
                                          const SystemctlRunner& systemctl);
// The timers of this program in the folder, soonest first.
[[nodiscard]] QList<ScheduledSend> scheduledSends(const QString& unitFolder);
// Stops the timer and removes both units; false when there was no such timer.
bool cancelScheduledSend(const QString& unitFolder, const QString& unit,
                         const SystemctlRunner& systemctl);

}  // namespace pw::app
