#include "send/DnsLookup.h"

#include <QDnsLookup>
#include <QEventLoop>
#include <QHash>
#include <QMutex>
#include <QRandomGenerator>
#include <QTimer>
#include <QUdpSocket>
#include <QUrl>
#include <algorithm>
#include <functional>
#include <memory>

#include "resources/Strings.h"
#include "send/SendRules.h"

namespace pw::send {

namespace {

QMutex g_cacheMutex;
QHash<QString, DnsAnswer>& cache() {
    static QHash<QString, DnsAnswer> answers;
    return answers;
}

QString cacheKey(const DnsServer& server, const DnsQuestion& q) {
    return server.address.toString() + QLatin1Char('|') + QString::number(server.port) +
           (q.type == DnsType::Txt ? QLatin1String("|TXT|") : QLatin1String("|MX|")) +
           q.name.toLower();
}

DnsAnswer failed(const QString& why) {
    return DnsAnswer{DnsStatus::Failed, {}, why};
}

// ---- the UDP query of our own (RFC 1035, section 4) ----

constexpr quint16 kTypeTxt = 16;
constexpr quint16 kTypeMx = 15;

void putU16(QByteArray& out, quint16 v) {
    out.append(char(v >> 8));
    out.append(char(v & 0xff));
}

quint16 u16(const QByteArray& p, int at) {
    return quint16((quint8(p.at(at)) << 8) | quint8(p.at(at + 1)));
}

// The query, or nothing when the name cannot be one (a label over 63 octets, an empty one).
std::optional<QByteArray> queryPacket(quint16 id, const QString& name, DnsType type) {
    QByteArray out;
    putU16(out, id);
    putU16(out, 0x0100);  // recursion desired
    putU16(out, 1);
    putU16(out, 0);
    putU16(out, 0);
    putU16(out, 0);
    const QByteArray ace = QUrl::toAce(name);
    if (ace.isEmpty() || ace.size() > 253)
        return std::nullopt;
    for (const QByteArray& label : ace.split('.')) {
        if (label.isEmpty() || label.size() > 63)
            return std::nullopt;
        out.append(char(label.size()));
        out.append(label);
    }
    out.append('\0');
    putU16(out, type == DnsType::Txt ? kTypeTxt : kTypeMx);
    putU16(out, 1);  // IN
    return out;
}

// Reads a (possibly compressed) name at `at`; `at` moves past it in the record. False when
// the packet is malformed.
bool readName(const QByteArray& p, int& at, QString* name) {
    QByteArray text;
    int pos = at;
    bool jumped = false;
    for (int hops = 0; hops < 64; ++hops) {
        if (pos >= p.size())
            return false;
        const quint8 len = quint8(p.at(pos));
        if ((len & 0xc0) == 0xc0) {
            if (pos + 1 >= p.size())
                return false;
            if (!jumped)
                at = pos + 2;
            jumped = true;
            pos = ((len & 0x3f) << 8) | quint8(p.at(pos + 1));
            continue;
        }
        if (len == 0) {
            if (!jumped)
                at = pos + 1;
            if (name)
                *name = QUrl::fromAce(text);
            return true;
        }
        if (pos + 1 + len > p.size())
            return false;
        if (!text.isEmpty())
            text.append('.');
        text.append(p.mid(pos + 1, len));
        pos += 1 + len;
    }
    return false;
}

struct Reply {
    bool ours = false;  // the ID and the question type are the query's
    DnsAnswer answer;
};

Reply parseReply(const QByteArray& p, quint16 id, DnsType type) {
    Reply r;
    if (p.size() < 12 || u16(p, 0) != id || !(u16(p, 2) & 0x8000))
        return r;
    r.ours = true;
    const quint16 flags = u16(p, 2);
    const int rcode = flags & 0x0f;
    if (rcode == 3) {  // the name does not exist
        r.answer = DnsAnswer{DnsStatus::NoRecord, {}, {}};
        return r;
    }
    if (rcode != 0) {
        r.answer = failed(formatMessageText(str(ids::kDnsServerError), {QString::number(rcode)}));
        return r;
    }
    if (flags & 0x0200) {  // truncated: a TXT set too long for UDP
        r.answer = failed(str(ids::kDnsUnreadableReply));
        return r;
    }
    const int questions = u16(p, 4);
    const int answers = u16(p, 6);
    int at = 12;
    for (int i = 0; i < questions; ++i) {
        if (!readName(p, at, nullptr) || at + 4 > p.size()) {
            r.answer = failed(str(ids::kDnsUnreadableReply));
            return r;
        }
        at += 4;
    }
    const quint16 wanted = type == DnsType::Txt ? kTypeTxt : kTypeMx;
    QList<QPair<int, QString>> exchanges;
    QStringList texts;
    for (int i = 0; i < answers; ++i) {
        if (!readName(p, at, nullptr) || at + 10 > p.size()) {
            r.answer = failed(str(ids::kDnsUnreadableReply));
            return r;
        }
        const quint16 rrType = u16(p, at);
        const int length = u16(p, at + 8);
        const int data = at + 10;
        if (data + length > p.size()) {
            r.answer = failed(str(ids::kDnsUnreadableReply));
            return r;
        }
        at = data + length;
        if (rrType != wanted)
            continue;  // a CNAME on the way: its target's records follow
        if (type == DnsType::Txt) {
            // the strings of one record make one text (an SPF record may be split)
            QByteArray joined;
            for (int s = data; s < data + length;) {
                const int n = quint8(p.at(s));
                joined.append(p.mid(s + 1, std::min(n, data + length - s - 1)));
                s += 1 + n;
            }
            texts << QString::fromUtf8(joined);
        } else {
            if (length < 3)
                continue;
            int nameAt = data + 2;
            QString exchange;
            if (readName(p, nameAt, &exchange))
                exchanges.append({u16(p, data), exchange});
        }
    }
    std::stable_sort(exchanges.begin(), exchanges.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& e : exchanges)
        texts << e.second;
    r.answer = DnsAnswer{texts.isEmpty() ? DnsStatus::NoRecord : DnsStatus::Found, texts, {}};
    return r;
}

// One question on its way; `done` is called once, on the thread of the resolver.
using Done = std::function<void(DnsAnswer)>;

std::unique_ptr<QObject> askByUdp(const DnsServer& server, const DnsQuestion& q, Done done) {
    auto socket = std::make_unique<QUdpSocket>();
    const quint16 id = quint16(QRandomGenerator::global()->bounded(65536));
    const std::optional<QByteArray> packet = queryPacket(id, q.name, q.type);
    if (!packet) {
        QTimer::singleShot(0, socket.get(), [done] {
            done(DnsAnswer{DnsStatus::NoRecord, {}, {}});
        });
        return socket;
    }
    QUdpSocket* s = socket.get();
    // connected, so that a refusal of the port (nothing listens) comes back as an error
    QObject::connect(s, &QUdpSocket::connected, s, [s, bytes = *packet] { s->write(bytes); });
    QObject::connect(s, &QUdpSocket::readyRead, s, [s, id, type = q.type, done] {
        while (s->bytesAvailable() > 0) {
            const QByteArray reply = s->read(65536);
            if (reply.isEmpty())
                return;
            Reply r = parseReply(reply, id, type);
            if (r.ours) {
                s->disconnect();
                done(std::move(r.answer));
                return;
            }
        }
    });
    QObject::connect(s, &QUdpSocket::errorOccurred, s, [s, done](QAbstractSocket::SocketError) {
        const QString why = s->errorString();
        s->disconnect();
        done(failed(why));
    });
    s->connectToHost(server.address, server.port);
    return socket;
}

std::unique_ptr<QObject> askByQt(const DnsServer& server, const DnsQuestion& q, Done done) {
    auto lookup = std::make_unique<QDnsLookup>(
        q.type == DnsType::Txt ? QDnsLookup::TXT : QDnsLookup::MX, q.name);
    if (!server.address.isNull())
        lookup->setNameserver(server.address);
    QDnsLookup* l = lookup.get();
    QObject::connect(l, &QDnsLookup::finished, l, [l, type = q.type, done] {
        QStringList records;
        if (type == DnsType::Txt) {
            for (const QDnsTextRecord& t : l->textRecords())
                records << QString::fromUtf8(t.values().join());
        } else {
            QList<QDnsMailExchangeRecord> mx = l->mailExchangeRecords();
            std::stable_sort(mx.begin(), mx.end(), [](const auto& a, const auto& b) {
                return a.preference() < b.preference();
            });
            for (const QDnsMailExchangeRecord& m : mx)
                records << m.exchange();
        }
        l->disconnect();
        switch (l->error()) {
            case QDnsLookup::NoError:
                done(DnsAnswer{
                    records.isEmpty() ? DnsStatus::NoRecord : DnsStatus::Found, records, {}});
                return;
            case QDnsLookup::NotFoundError:
            // Qt 6.4 reports a name without records of the type (NODATA) so
            case QDnsLookup::InvalidReplyError:
                done(DnsAnswer{DnsStatus::NoRecord, {}, {}});
                return;
            default:
                done(failed(l->errorString()));
                return;
        }
    });
    l->lookup();
    return lookup;
}

}  // namespace

std::optional<DnsAnswer> readDnsReply(const QByteArray& packet, quint16 id, DnsType type) {
    Reply r = parseReply(packet, id, type);
    if (!r.ours)
        return std::nullopt;
    return std::move(r.answer);
}

std::optional<DnsServer> parseDnsServer(const QString& text) {
    const QString t = text.trimmed();
    QString host = t;
    QString port;
    if (t.startsWith(QLatin1Char('['))) {
        const qsizetype close = t.indexOf(QLatin1Char(']'));
        if (close < 0)
            return std::nullopt;
        host = t.mid(1, close - 1);
        const QString rest = t.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return std::nullopt;
            port = rest.mid(1);
        }
    } else if (t.count(QLatin1Char(':')) == 1) {
        host = t.section(QLatin1Char(':'), 0, 0);
        port = t.section(QLatin1Char(':'), 1);
    }
    DnsServer server;
    if (!server.address.setAddress(host))
        return std::nullopt;
    if (!port.isEmpty()) {
        bool ok = false;
        const uint p = port.toUInt(&ok);
        if (!ok || p == 0 || p > 65535)
            return std::nullopt;
        server.port = quint16(p);
    }
    return server;
}

CDnsResolver::CDnsResolver(DnsServer server, int timeoutMs)
    : m_server(std::move(server)), m_timeoutMs(timeoutMs) {}

CDnsResolver CDnsResolver::fromEnvironment() {
    const QString named = qEnvironmentVariable(kDnsServerVariable);
    if (named.trimmed().isEmpty())
        return CDnsResolver();
    if (const std::optional<DnsServer> server = parseDnsServer(named))
        return CDnsResolver(*server);
    CDnsResolver unusable;
    unusable.m_configError = formatMessageText(str(ids::kDnsBadServerVariable), {named});
    return unusable;
}

std::vector<DnsAnswer> CDnsResolver::resolve(const std::vector<DnsQuestion>& questions) {
    std::vector<DnsAnswer> answers(questions.size());
    std::vector<bool> answered(questions.size(), false);
    if (!m_configError.isEmpty()) {
        std::fill(answers.begin(), answers.end(), failed(m_configError));
        return answers;
    }
    {
        QMutexLocker lock(&g_cacheMutex);
        for (size_t i = 0; i < questions.size(); ++i) {
            const auto hit = cache().constFind(cacheKey(m_server, questions[i]));
            if (hit != cache().constEnd()) {
                answers[i] = *hit;
                answered[i] = true;
            }
        }
    }
    QEventLoop loop;
    int left = 0;
    std::vector<std::unique_ptr<QObject>> asking;
    const bool ownQuery = !m_server.address.isNull() && m_server.port != 53;
    for (size_t i = 0; i < questions.size(); ++i) {
        if (answered[i])
            continue;
        ++left;
        Done done = [&, i](DnsAnswer a) {
            if (answered[i])
                return;
            answered[i] = true;
            if (a.status != DnsStatus::Failed) {
                QMutexLocker lock(&g_cacheMutex);
                cache().insert(cacheKey(m_server, questions[i]), a);
            }
            answers[i] = std::move(a);
            if (--left == 0)
                loop.quit();
        };
        asking.push_back(ownQuery ? askByUdp(m_server, questions[i], std::move(done))
                                  : askByQt(m_server, questions[i], std::move(done)));
    }
    if (left > 0) {
        QTimer timeout;
        timeout.setSingleShot(true);
        QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
        timeout.start(m_timeoutMs);
        loop.exec();
    }
    for (const auto& a : asking)
        a->disconnect();  // a late answer finds no one
    const QString late =
        formatMessageText(str(ids::kDnsNoAnswer), {QString::number((m_timeoutMs + 999) / 1000)});
    for (size_t i = 0; i < questions.size(); ++i) {
        if (!answered[i])
            answers[i] = failed(late);
    }
    return answers;
}

void forgetDnsAnswers() {
    QMutexLocker lock(&g_cacheMutex);
    cache().clear();
}

}  // namespace pw::send
