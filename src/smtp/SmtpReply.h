#pragma once
// Where an SMTP reply ends in the bytes received so far. A reply is its lines up to the first
// line that is not a continuation ("ddd-text"): a "ddd text" line, a bare "ddd", or a line
// that is no reply line at all (which its code 0 then refuses). Lines end in CR LF or LF.

#include <QByteArray>

namespace pw::smtp {

struct SmtpReplyEnd {
    qsizetype length = 0;  // bytes of the reply, line ends included; 0 while incomplete
    int code = 0;          // the three digits of its last line, 0 when they are no digits
};

[[nodiscard]] SmtpReplyEnd FindReplyEnd(const QByteArray& received);

}  // namespace pw::smtp
