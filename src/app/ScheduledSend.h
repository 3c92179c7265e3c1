#pragma once
// A run that the account's limit stopped goes on later by itself through the desktop's own
// scheduler: a systemd user timer that runs "postwick --send PROJECT --selection unsent" at
// the time the limit allows, and catches up after the computer was off (Persistent=true).
// One timer per project file: scheduling again moves it.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

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

// Set by the timer's service for the run it starts: how many seconds that run waits for a
// project that another run is sending, instead of giving up at once.
inline constexpr char kScheduledWaitVariable[] = "POSTWICK_SCHEDULED_WAIT";
inline constexpr int kScheduledWaitSeconds = 3600;

enum class ScheduleResult { Scheduled, FolderUnwritable, SchedulerRefused };

// Writes the service and its timer and starts the timer.
[[nodiscard]] ScheduleResult scheduleSend(const QString& unitFolder, const QString& program,
                                          const QString& project, const QDateTime& when,
                                          const SystemctlRunner& systemctl);
// The timers of this program in the folder, soonest first.
[[nodiscard]] QList<ScheduledSend> scheduledSends(const QString& unitFolder);
// Held by a window for as long as it shows a saved project: a run the timer starts waits for
// the window, which would otherwise save its older outcomes over the run's.
class CProjectOpenMark {
public:
    ~CProjectOpenMark();
    CProjectOpenMark(const CProjectOpenMark&) = delete;
    CProjectOpenMark& operator=(const CProjectOpenMark&) = delete;
    // nullptr when the mark cannot be made (the run then does not wait for this window).
    [[nodiscard]] static std::unique_ptr<CProjectOpenMark> hold(const QString& stateFolder,
                                                                const QString& project);
    [[nodiscard]] const QString& project() const { return m_project; }

private:
    CProjectOpenMark(int fd, QString project, QByteArray path)
        : m_fd(fd), m_project(std::move(project)), m_path(std::move(path)) {}
    int m_fd = -1;
    QString m_project;
    QByteArray m_path;
};
// Whether a window (of any process of this user) shows the project.
[[nodiscard]] bool projectOpenInWindow(const QString& stateFolder, const QString& project);

// The continuation scheduled for this project file, if any.
[[nodiscard]] std::optional<ScheduledSend> scheduledSendOf(const QString& unitFolder,
                                                           const QString& project);
// Stops the timer and removes both units; false when there was no such timer.
bool cancelScheduledSend(const QString& unitFolder, const QString& unit,
                         const SystemctlRunner& systemctl);

}  // namespace pw::app
