#pragma once
// Whether a send run is under way, and which commands it locks: those that touch the run's
// database, working copy, log, settings or project file. The window disables them for the
// run's length and asks refuses() wherever a command can still arrive (another window, a
// signal, a dropped file); Exit asks, then cancels the run.

#include <span>

#include "resources/UserInteraction.h"

namespace pw::app {

class CRunState {
public:
    // The commands a run locks, in menu order.
    [[nodiscard]] static std::span<const int> lockedCommands();
    [[nodiscard]] static bool locks(int commandId);

    void setRunning(bool running) { m_running = running; }
    [[nodiscard]] bool running() const { return m_running; }

    // True, after telling the user why, when a run is under way and `commandId` is locked.
    [[nodiscard]] bool refuses(int commandId, IUserInteraction& ui) const;
    // The same for what is not a command (a dropped project file).
    [[nodiscard]] bool refuses(IUserInteraction& ui) const;

private:
    bool m_running = false;
};

}  // namespace pw::app
