#pragma once
// "postwick --history [--csv]" lists the recorded campaigns, newest first; "postwick --history
// [--csv] ID" one campaign's recipients in the order of its run. Tab-separated columns, or CSV
// with "--csv". Exit statuses as the sender's: 0 listed, 4 a bad command line, an unknown
// campaign or a history that cannot be read.

#include <QStringList>
#include <QTextStream>

namespace pw::app {

[[nodiscard]] bool isHistoryCommandLine(const QStringList& arguments);
// arguments without the program name; the history of the user data folder `folder`.
[[nodiscard]] int runHistory(const QStringList& arguments, const QString& folder, QTextStream& out,
                             QTextStream& err);
[[nodiscard]] int runHistoryCommand(const QStringList& arguments);

}  // namespace pw::app
