#pragma once
// TXT and MX records of the sender's domain, looked up before a run. An answer is one of
// three things, so that a lookup that failed never reads as "no record" (a false problem) nor
// as a record (a false pass). Answers are kept for the session; failures are not, so that a
// check after the network came back asks again.
//
// The name server is the system's, or the one POSTWICK_DNS_SERVER names as HOST:PORT (an
// office whose resolver is not the system's, and the tests). QDnsLookup asks it when it
// listens on port 53; Qt 6.4's QDnsLookup can name no other port, so a server on another
// port is asked by a plain UDP query of our own.

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace pw::send {

enum class DnsType { Txt, Mx };
enum class DnsStatus {
    Found,
    NoRecord,  // the name or its records of that type do not exist
    Failed,    // no usable answer: no network, no server, a timeout, a server failure
};

struct DnsQuestion {
    QString name;
    DnsType type = DnsType::Txt;
};

struct DnsAnswer {
    DnsStatus status = DnsStatus::Failed;
    // TXT: each record's strings joined; MX: the exchange host names, by preference
    QStringList records;
    QString error;  // after Failed: why
};

inline constexpr const char* kDnsServerVariable = "POSTWICK_DNS_SERVER";
inline constexpr int kDnsTimeoutMs = 5000;

struct DnsServer {
    QHostAddress address;  // null: the system's resolver
    quint16 port = 53;
};
// "HOST:PORT", "[IPv6]:PORT" or a bare address (port 53); nothing for another text.
[[nodiscard]] std::optional<DnsServer> parseDnsServer(const QString& text);

class CDnsResolver {
public:
    explicit CDnsResolver(DnsServer server = {}, int timeoutMs = kDnsTimeoutMs);
    // The server POSTWICK_DNS_SERVER names (the system's when it is unset); a value that
    // names none is kept in configError() and every lookup fails with it.
    [[nodiscard]] static CDnsResolver fromEnvironment();
    [[nodiscard]] const QString& configError() const { return m_configError; }

    // Asks every question at once and waits for the answers (running a local event loop),
    // at most the timeout. One answer per question, in order.
    [[nodiscard]] std::vector<DnsAnswer> resolve(const std::vector<DnsQuestion>& questions);

private:
    DnsServer m_server;
    int m_timeoutMs;
    QString m_configError;
};

// A name server's reply to the query `id` for records of `type` (RFC 1035), as the UDP query
// reads it; nothing when the packet is no reply to that query.
[[nodiscard]] std::optional<DnsAnswer> readDnsReply(const QByteArray& packet, quint16 id,
                                                    DnsType type);

// Forgets the answers of the session (tests start each case afresh).
void forgetDnsAnswers();

}  // namespace pw::send
