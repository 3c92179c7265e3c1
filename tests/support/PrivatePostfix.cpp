#include "PrivatePostfix.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QtTest>

#include "TestEnv.h"

namespace pw::test {

void letOthersThrough(const QString& folder) {
    for (QString dir = QDir::cleanPath(folder); dir != "/" && !dir.isEmpty();
         dir = QFileInfo(dir).path()) {
        if (QFileInfo(dir).ownerId() == 0)
            QFile::setPermissions(dir, QFileInfo(dir).permissions() | QFile::ExeOther |
                                           QFile::ExeGroup | QFile::ReadOther);
    }
}

int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool loopbackListening(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

QString PrivatePostfix::start(const QString& folder, const Setup& setup) {
    if (::geteuid() != 0)
        return QStringLiteral("Postfix needs root to start (CI runs as root)");
    if (QStandardPaths::findExecutable("postfix", {"/usr/sbin", "/usr/bin"}).isEmpty())
        return QStringLiteral("postfix is not installed (scripts/install-deps.sh)");
    m_folder = folder;
    QDir().mkpath(folder + "conf");
    QDir().mkpath(folder + "queue");
    QDir().mkpath(folder + "data");
    // the daemons run as the postfix user and must reach the queue
    letOthersThrough(folder);
    QProcess chown;
    chown.start("chown", {"postfix", folder + "data"});
    chown.waitForFinished(10000);
    const bool tls = !setup.certFile.isEmpty() && !setup.keyFile.isEmpty();
    m_plainPort = freeLoopbackPort();
    m_tlsPort = tls ? freeLoopbackPort() : 0;
    QString main = QStringLiteral(
                       "compatibility_level = 3.6\n"
                       "queue_directory = %1queue\n"
                       "data_directory = %1data\n"
                       "maillog_file_prefixes = %1\n"
                       "maillog_file = %1maillog\n"
                       "mail_owner = postfix\n"
                       "setgid_group = postdrop\n"
                       "inet_interfaces = 127.0.0.1\n"
                       "inet_protocols = ipv4\n"
                       "myhostname = postfix.test\n"
                       "mydestination =\n"
                       "mynetworks = 127.0.0.0/8\n"
                       "smtpd_relay_restrictions = permit_mynetworks, reject\n"
                       "default_transport = discard:accepted\n"
                       "local_transport = discard:accepted\n"
                       "relay_transport = discard:accepted\n"
                       "alias_maps =\n"
                       "alias_database =\n"
                       "smtputf8_enable = no\n"
                       "biff = no\n"
                       "strict_8bitmime = yes\n"
                       "strict_7bit_headers = yes\n"
                       "strict_8bitmime_body = yes\n"
                       "strict_mime_encoding_domain = yes\n")
                       .arg(folder);
    if (tls) {
        main += QStringLiteral("smtpd_tls_cert_file = %1\nsmtpd_tls_key_file = %2\n")
                    .arg(setup.certFile, setup.keyFile);
    }
    main += setup.mainLines;
    QString master = QStringLiteral("127.0.0.1:%1 inet n - n - - smtpd\n").arg(m_plainPort);
    if (tls) {
        master +=
            QStringLiteral("127.0.0.1:%1 inet n - n - - smtpd -o smtpd_tls_security_level=may\n")
                .arg(m_tlsPort);
    }
    for (const char* service : {"pickup unix n - n 60 1 pickup",
                                "cleanup unix n - n - 0 cleanup",
                                "qmgr unix n - n 300 1 qmgr",
                                "tlsmgr unix - - n 1000? 1 tlsmgr",
                                "rewrite unix - - n - - trivial-rewrite",
                                "bounce unix - - n - 0 bounce",
                                "defer unix - - n - 0 bounce",
                                "trace unix - - n - 0 bounce",
                                "verify unix - - n - 1 verify",
                                "flush unix n - n 1000? 0 flush",
                                "proxymap unix - - n - - proxymap",
                                "smtp unix - - n - - smtp",
                                "relay unix - - n - - smtp",
                                "lmtp unix - - n - - lmtp",
                                "showq unix n - n - - showq",
                                "error unix - - n - - error",
                                "retry unix - - n - - error",
                                "discard unix - - n - - discard",
                                "local unix - n n - - local",
                                "anvil unix - - n - 1 anvil",
                                "scache unix - - n - 1 scache",
                                "postlog unix-dgram n - n - 1 postlogd"}) {
        master += QString::fromLatin1(service) + '\n';
    }
    if (!writeFile(folder + "conf/main.cf", main.toUtf8()) ||
        !writeFile(folder + "conf/master.cf", master.toUtf8()))
        return QStringLiteral("cannot write the configuration");
    m_master.start("postfix", {"-c", folder + "conf", "start-fg"});
    if (!m_master.waitForStarted(10000))
        return QStringLiteral("postfix did not start");
    if (QTest::qWaitFor(
            [&] {
                return (loopbackListening(m_plainPort) && (!tls || loopbackListening(m_tlsPort))) ||
                       m_master.state() == QProcess::NotRunning;
            },
            30000) &&
        m_master.state() != QProcess::NotRunning)
        return {};
    return QStringLiteral("postfix did not listen: %1 %2")
        .arg(QString::fromUtf8(m_master.readAll()), log());
}

void PrivatePostfix::stop() {
    if (m_master.state() == QProcess::NotRunning)
        return;
    QProcess::execute("postfix", {"-c", m_folder + "conf", "stop"});
    if (!m_master.waitForFinished(20000) && m_master.state() != QProcess::NotRunning) {
        m_master.terminate();  // only while it runs: its pid is ours then
        m_master.waitForFinished(5000);
    }
}

bool PrivatePostfix::waitUntilQueueEmpty(int ms) {
    return QTest::qWaitFor(
        [&] {
            QProcess q;
            q.start("postqueue", {"-c", m_folder + "conf", "-j"});
            return q.waitForFinished(10000) && q.exitCode() == 0 &&
                   q.readAllStandardOutput().trimmed().isEmpty();
        },
        ms);
}

QString PrivatePostfix::log() const {
    return QString::fromUtf8(readFile(m_folder + "maillog"));
}

}  // namespace pw::test
