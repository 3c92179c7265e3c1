#pragma once
// The bounce reader on the command line:
//
//   postwick --read-bounces FILE...      classify mail files (one message each, or an mbox);
//                                        touches no database
//
// One line per recipient on standard output, tab-separated: file, index (the recipient's
// number in the file, from 1, counted on through every report of an mbox), recipient,
// status, kind, reason. A file that names no failed recipient gives one line with index 0.

#include <QStringList>
#include <QTextStream>

namespace pw::bounces {

// Exit statuses, numbered as the command-line sender's.
enum class ReadBouncesExit : int {
    Complete = 0,
    WithErrors = 1,  // some files could not be read; the others were
    Unusable = 4,    // bad command line
};

[[nodiscard]] bool isReadBouncesCommandLine(const QStringList& arguments);

// arguments without the program name.
[[nodiscard]] ReadBouncesExit runReadBounces(const QStringList& arguments, QTextStream& out,
                                             QTextStream& err);

}  // namespace pw::bounces
