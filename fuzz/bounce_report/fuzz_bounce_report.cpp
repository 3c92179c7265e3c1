// Feeds arbitrary bytes to the bounce reader, as one message and as an mbox. Besides the
// sanitizers it checks that every recipient it names is an address with one "@", that every
// status is an enhanced code of class 2, 4 or 5, and that the kind agrees with the reason.
//
// Build with clang and -DPOSTWICK_FUZZ=ON, then for example:
//   fuzz_bounce_report -max_len=16384 -rss_limit_mb=512 corpus fuzz/bounce_report/seeds

#include <QByteArray>
#include <QRegularExpression>
#include <cstdint>
#include <cstdlib>

#include "bounces/BounceReport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace pw::bounces;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    static const QRegularExpression code(QStringLiteral("^[245]\\.\\d{1,3}\\.\\d{1,3}$"));
    for (const QByteArray& input :
         {bytes, QByteArray("From x Thu Jan  1 00:00:00 2026\n") + bytes}) {
        for (const BounceReport& report : readMailFile(input)) {
            for (const RecipientOutcome& r : report.recipients) {
                if (!r.recipient.isEmpty() && r.recipient.count(QLatin1Char('@')) != 1)
                    abort();
                if (!r.status.isEmpty() && !code.match(r.status).hasMatch())
                    abort();
                if (kindOf(r.reason, r.status) != r.kind)
                    abort();
            }
        }
    }
    return 0;
}
