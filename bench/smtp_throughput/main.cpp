// Messages per second over one SMTP session to a fast local sink (Postfix's smtp-sink), beside
// Postfix's own smtp-source sending the same number of messages of the same size over one
// session in the same run. The session greets with EHLO and pipelines (the sink offers it);
// the "ehlo_no_login" figure is the same session told not to log in. Our message is padded
// until it renders to exactly the bytes smtp-source is told to send as its body; smtp-source
// adds its own few header lines to that. The rounds alternate which sender goes first, so
// that neither always meets a warmer sink. Prints "name: value unit" lines, medians of at
// least 3 rounds, CPU per message beside the rates.
//
//   bench_smtp_throughput [messages] [rounds]      (defaults 20000 and 3)

#include "smtp/KTWSMTPConnection.h"
#include "smtp/KTWSMTPMessage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace pw::smtp;

namespace {

const char* kSink = "/usr/sbin/smtp-sink";
const char* kSource = "/usr/sbin/smtp-source";
constexpr int kMessageBytes = 4096;

quint16 freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    (void)::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(s);
    return ntohs(a.sin_port);
}

bool listening(quint16 port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

CKTWSMTPMessage benchMessage() {
    CKTWSMTPMessage m;
    m.setFrom(CKTWSMTPAddress("Bench", "bench@example.org"));
    m.to().append(CKTWSMTPAddress("sink@example.org"));
    m.setSubject("Throughput");
    QString text;
    const auto rendered = [&m] {
        qsizetype bytes = m.header().size();
        m.writeBody([&bytes](QByteArrayView v) { bytes += v.size(); });
        return bytes;
    };
    m.rootPart().setText(text);
    while (rendered() < kMessageBytes - 64) {
        text += "The quick brown fox jumps over the lazy dog, 0123456789.\r\n";
        m.rootPart().setText(text);
    }
    // then character by character, up to the size exactly where the line ends allow it
    while (rendered() < kMessageBytes) {
        text.insert(0, QLatin1Char('x'));
        m.rootPart().setText(text);
    }
    return m;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double cpuMs(int who) {
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// One session sending `messages` copies; its rate in messages/s, its CPU per message in ms.
bool sendAll(const CKTWSMTPMessage& message, int messages, quint16 port, AuthMethod greeting,
             std::vector<double>& rates, std::vector<double>& cpu) {
    QElapsedTimer t;
    const double c0 = cpuMs(RUSAGE_SELF);
    t.start();
    try {
        CKTWSMTPConnection c("bench.test");
        c.Connect("127.0.0.1", greeting, "", "", port, ConnectionType::None);
        for (int i = 0; i < messages; ++i) {
            c.SendMessage(message, i + 1 < messages ? &message : nullptr);
        }
        c.Disconnect(DisconnectMode::Graceful);
    } catch (const CKTWSMTPException& e) {
        std::fprintf(stderr, "SMTP failure: %s\n", e.what());
        return false;
    }
    rates.push_back(messages * 1000.0 / std::max<qint64>(1, t.elapsed()));
    cpu.push_back((cpuMs(RUSAGE_SELF) - c0) / messages);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int messages = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int rounds = std::max(3, argc > 2 ? std::atoi(argv[2]) : 3);

    const quint16 port = freePort();
    QProcess sink;
    QStringList sinkArgs;
    if (geteuid() == 0) {
        sinkArgs << "-u"
                 << "nobody";  // it refuses to keep root's privileges
    }
    // no AUTH offered: the automatic choice greets with EHLO and does not log in
    sinkArgs << "-a" << QString("127.0.0.1:%1").arg(port) << "100";
    sink.start(kSink, sinkArgs);
    if (!sink.waitForStarted(5000)) {
        std::fprintf(stderr, "cannot start %s (Debian package postfix)\n", kSink);
        return 1;
    }
    for (int i = 0; i < 100 && !listening(port); ++i) {
        QThread::msleep(50);
    }

    const CKTWSMTPMessage message = benchMessage();
    std::vector<double> ours, oursCpu, helo, heloCpu, theirs, theirsCpu;
    const auto ourSessions = [&] {
        return sendAll(message, messages, port, AuthMethod::Automatic, ours, oursCpu) &&
               sendAll(message, messages, port, AuthMethod::None, helo, heloCpu);
    };
    for (int round = 0; round < rounds; ++round) {
        if (round % 2 == 0 && !ourSessions()) {
            return 1;
        }
        QProcess source;
        QElapsedTimer t;
        const double c0 = cpuMs(RUSAGE_CHILDREN);
        t.start();
        source.start(kSource, {"-d", "-s", "1", "-m", QString::number(messages), "-l",
                               QString::number(kMessageBytes), QString("127.0.0.1:%1").arg(port)});
        if (!source.waitForFinished(600000) || source.exitCode() != 0) {
            std::fprintf(stderr, "smtp-source failed: %s\n",
                         source.readAllStandardError().constData());
            return 1;
        }
        theirs.push_back(messages * 1000.0 / std::max<qint64>(1, t.elapsed()));
        theirsCpu.push_back((cpuMs(RUSAGE_CHILDREN) - c0) / messages);
        if (round % 2 == 1 && !ourSessions()) {
            return 1;
        }
    }
    // how much of a message's time is the rendering alone
    QElapsedTimer render;
    render.start();
    qsizetype renderedBytes = 0;
    for (int i = 0; i < messages; ++i) {
        renderedBytes += message.header().size();
        message.writeBody([&renderedBytes](QByteArrayView v) { renderedBytes += v.size(); });
    }
    const double renderRate = messages * 1000.0 / std::max<qint64>(1, render.elapsed());
    sink.terminate();
    sink.waitForFinished(3000);

    const double a = median(ours);
    const double b = median(theirs);
    std::printf("smtp_messages: %d messages\n", messages);
    std::printf("smtp_message_size: %lld bytes\n",
                static_cast<long long>(message.header().size() + [&message] {
                    qsizetype bytes = 0;
                    message.writeBody([&bytes](QByteArrayView v) { bytes += v.size(); });
                    return bytes;
                }()));
    std::printf("smtp_source_body_size: %d bytes\n", kMessageBytes);
    std::printf("smtp_rounds: %d\n", rounds);
    std::printf("smtp_session_rate: %.0f messages/s\n", a);
    std::printf("smtp_session_cpu: %.3f ms/message\n", median(oursCpu));
    std::printf("smtp_session_ehlo_no_login_rate: %.0f messages/s\n", median(helo));
    std::printf("smtp_session_ehlo_no_login_cpu: %.3f ms/message\n", median(heloCpu));
    std::printf("smtp_source_rate: %.0f messages/s\n", b);
    std::printf("smtp_source_cpu: %.3f ms/message\n", median(theirsCpu));
    std::printf("smtp_rate_ratio: %.0f %%\n", b > 0 ? 100.0 * a / b : 0.0);
    std::printf("smtp_render_rate: %.0f messages/s\n", renderRate);
    std::printf("smtp_rendered_size: %lld bytes\n",
                static_cast<long long>(renderedBytes / messages));
    return 0;
}
