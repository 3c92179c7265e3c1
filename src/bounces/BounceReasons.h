#pragma once
// The reason vocabulary of bounce reading and the status code a reason stands for when a
// report gives none.

#include <QString>

namespace pw::bounces {

// The reason of one recipient: the server's words about it first, then a specific status
// code, then the words around them.
[[nodiscard]] QString reasonOf(const QString& status, const QString& replyCode,
                               const QString& diagnostic, const QString& surrounding);

// "x.0.9NN" for a reason a report states only in words (NN fixed per reason, x 4 for a
// temporary failure); empty for reasons without one.
[[nodiscard]] QString pseudoStatus(const QString& reason, bool transient);

// The enhanced status code that names a reason without a number of its own ("5.3.4" for a
// message too big); empty for the others.
[[nodiscard]] QString standardStatus(const QString& reason, bool transient);

}  // namespace pw::bounces
