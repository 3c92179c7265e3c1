#include "smtp/SmtpReply.h"

namespace pw::smtp {

namespace {

int replyCode(const char* line, qsizetype length) {
    if (length < 3) {
        return 0;
    }
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        if (line[i] < '0' || line[i] > '9') {
            return 0;
        }
        code = code * 10 + (line[i] - '0');
    }
    return code;
}

}  // namespace

SmtpReplyEnd FindReplyEnd(const QByteArray& received) {
    qsizetype start = 0;
    while (start < received.size()) {
        const qsizetype end = received.indexOf('\n', start);
        if (end < 0) {
            return {};
        }
        const char* line = received.constData() + start;
        qsizetype length = end - start;
        if (length > 0 && line[length - 1] == '\r') {
            --length;
        }
        const int code = replyCode(line, length);
        const bool continues = length >= 4 && code != 0 && line[3] == '-';
        start = end + 1;
        if (!continues) {
            return {start, code};
        }
    }
    return {};
}

}  // namespace pw::smtp
