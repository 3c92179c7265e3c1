// What a name server answers to the check's UDP query: the header, the question, the records
// with compressed names, TXT strings and MX exchanges. The query's ID is the packet's own (as a
// reply to it); it is read as the reply to a TXT query and to an MX query.

#include "send/DnsLookup.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (bytes.size() < 2)
        return 0;
    const quint16 id = quint16((quint8(bytes.at(0)) << 8) | quint8(bytes.at(1)));
    for (const auto type : {pw::send::DnsType::Txt, pw::send::DnsType::Mx}) {
        const std::optional<pw::send::DnsAnswer> a = pw::send::readDnsReply(bytes, id, type);
        // a reply that names records is Found, and one without none
        if (a && (a->status == pw::send::DnsStatus::Found) == a->records.isEmpty())
            __builtin_trap();
    }
    return 0;
}
