#pragma once
// A Postfix of the test's own: its configuration, queue and log below one folder, smtpd on a
// loopback port (and a second one offering STARTTLS where a certificate is given), the strict
// MIME checks on, every accepted message discarded unless the setup routes it elsewhere.
// Postfix needs root to start; CI runs as root.

#include <QProcess>
#include <QString>

namespace pw::test {

// A daemon that drops root's privileges must reach a folder below root's own folders.
void letOthersThrough(const QString& folder);
[[nodiscard]] int freeLoopbackPort();
[[nodiscard]] bool loopbackListening(int port);

class PrivatePostfix {
public:
    struct Setup {
        QString certFile;  // with keyFile: the STARTTLS listener
        QString keyFile;
        QString mainLines;  // after the defaults in main.cf, so they win
    };
    ~PrivatePostfix() { stop(); }

    // Empty on success, else why it cannot run.
    [[nodiscard]] QString start(const QString& folder, const Setup& setup);
    void stop();
    // Until nothing is left in the queue (every message delivered or bounced), at most ms.
    [[nodiscard]] bool waitUntilQueueEmpty(int ms);

    [[nodiscard]] QString log() const;
    [[nodiscard]] int plainPort() const { return m_plainPort; }
    [[nodiscard]] int tlsPort() const { return m_tlsPort; }

private:
    QString m_folder;
    QProcess m_master;
    int m_plainPort = 0;
    int m_tlsPort = 0;
};

}  // namespace pw::test
