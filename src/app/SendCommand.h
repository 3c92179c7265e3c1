#pragma once
// The command-line sender:
//
//   postwick --send PROJECT.pzy [--selection all|selected|unsent] [--force] [--test]
//                [--dry-run DIR] [--check] [--database HOST/PORT:PATH]
//   postwick --send --help
//
// main() passes the process's arguments WITHOUT the program name (for example
// QCoreApplication::arguments().mid(1), or argv[1..argc-1] decoded with
// QString::fromLocal8Bit) when isSendCommandLine() says they are meant for it, and returns
// what runSendCommand() returns as the exit status. No window is opened and no display is
// needed: a QCoreApplication is enough (runSendCommand makes one when none exists).
//
// The run is the window's send run: the standard settings of the settings file with the
// project's server overrides, the project's own recipient database; progress and log entries
// are printed as lines on standard output, policy "Display dialog" prompts are asked on the
// terminal (answered as "Ignore error and continue sending" without one), Ctrl+C, SIGTERM and
// SIGHUP cancel in order (the mail being transmitted is finished, the outcomes go back into
// the project); a second one stops at once.
// The recipients' outcomes are written back into the project file at the end. A run of the
// same project that was killed part-way is picked up from its working copy (see
// send/RunMarker.h), so that "--selection unsent" sends only what is left.
// With --database the recipients are a list on a Firebird server (HOST/PORT:PATH or
// HOST:ALIAS), signed in to as ISC_USER with ISC_PASSWORD as Firebird's own tools do; their
// outcomes are recorded there as they happen and the project file is left as it is.

#include <QStringList>

#include "send/RunTypes.h"

namespace pw::app {

// Exit statuses of the command.
enum class SendExit : int {
    Complete = 0,
    WithErrors = 1,
    NoConnection = 2,
    Cancelled = 3,
    Unusable = 4,     // bad command line, unreadable settings or project, no database
    NotRecorded = 5,  // outcomes could not be recorded or written back (kept for the next run)
    CheckFoundProblem = 6,  // "--check": the deliverability check found a problem
};

// The exit status of a run refused before its first mail (SendExit::Complete when there was
// just nobody to send to).
[[nodiscard]] SendExit exitStatusOf(const send::RunRefusal& refusal);

// True when the arguments ask for the command-line sender ("--send" among them).
[[nodiscard]] bool isSendCommandLine(const QStringList& arguments);

[[nodiscard]] int runSendCommand(const QStringList& arguments);

struct SendCommandLine {
    QString projectPath;
    enum class Selection { All = 0, Selected = 1, Unsent = 2 } selection = Selection::All;
    bool force = false;  // "all" even when the last run did not reach everyone
    bool test = false;
    QString dryRunFolder;  // empty: send to the server
    bool check = false;    // check the deliverability, send nothing
    QString database;      // a server's database; empty: the project's own
    bool help = false;
    QString error;  // not empty: the command line cannot be used
};
[[nodiscard]] SendCommandLine parseSendCommandLine(const QStringList& arguments);

}  // namespace pw::app
