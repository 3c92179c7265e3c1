#pragma once
// Postfix's smtp-sink on a free loopback port: the receiving end of the send benchmarks.
#include <unistd.h>
#include <QProcess>
#include <QTcpServer>
#include <QThread>
#include <cstdio>

namespace pw::bench {

inline int freePort() {
    QTcpServer s;
    if (!s.listen(QHostAddress::LocalHost, 0))
        return 0;
    return s.serverPort();
}

// No AUTH is offered: the session greets with EHLO and sends without logging in.
inline bool startSmtpSink(QProcess& sink, int port) {
    QStringList args;
    if (::getuid() == 0)
        args << QStringLiteral("-u") << QStringLiteral("nobody");  // it refuses root
    args << QStringLiteral("-a") << QStringLiteral("127.0.0.1:%1").arg(port)
         << QStringLiteral("256");
    sink.start(QStringLiteral("/usr/sbin/smtp-sink"), args);
    if (!sink.waitForStarted(5000)) {
        std::fprintf(stderr, "smtp-sink does not start\n");
        return false;
    }
    QThread::msleep(300);  // until it listens
    return true;
}

}  // namespace pw::bench
