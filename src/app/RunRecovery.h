#pragma once
// Recovering what a killed send run left behind: the outcomes it committed to its working
// copy go back into the project file it was sending, so that "not yet sent" continues where
// it stopped instead of sending everyone the mail again.

#include <QString>

#include "compose/CodePage.h"
#include "send/RunMarker.h"

namespace pw::app {

enum class RecoveryResult {
    Written,         // the project now carries the outcomes; marker and copy removed
    ProjectChanged,  // the project was saved since the run: its outcomes are the newer ones
    Failed,          // the project could not be read or written; marker and copy kept
};

// Writes the run's working copy into its project file. scratchFolder is a private folder for
// the project's HTML files while it is rewritten (emptied afterwards). The mail the run had
// in flight when it was killed counts as sent; `inFlight` (when given) gets its
// "number address", empty when there was none.
[[nodiscard]] RecoveryResult RecoverInterruptedRun(const send::InterruptedRun& run,
                                                   const QString& scratchFolder,
                                                   const CodePage& textCodePage,
                                                   QString* inFlight = nullptr);

}  // namespace pw::app
