#pragma once
// The application object: the process from start to end with the main window.

#include <functional>

namespace pw::app {

class CPZPtestDlg;

// Called once the main window is shown on its fresh document (benchmarks and tests use it).
using StartedHook = std::function<void(CPZPtestDlg&)>;

// Runs Postwick with its window; returns the process exit status.
int RunPostwick(int argc, char* argv[], const StartedHook& onStarted = {});

}  // namespace pw::app
