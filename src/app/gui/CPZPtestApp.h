#pragma once
// The application object: the process from start to end with the main window.

namespace pw::app {

// Runs Postwick with its window; returns the process exit status.
int RunPostwick(int argc, char* argv[]);

}  // namespace pw::app
