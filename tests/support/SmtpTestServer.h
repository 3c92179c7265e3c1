#pragma once
// A real SMTP server (Debian's python3-aiosmtpd) on loopback, started and stopped by a test,
// and the TLS certificates such tests need. The server is tests/smtp/servers/aiosmtpd_server.py;
// its options are described there.
//
//   pw::test::TestCertificates certs(env.makeFolder("certs"));
//   pw::test::SmtpTestServer server;
//   QVERIFY2(server.start({"--mode", "tls", "--cert", certs.serverCert(), "--key",
//                          certs.serverKey(), "--user", "ann:secret", "--out", outDir}),
//            qPrintable(server.errorText()));
//   ... connect to 127.0.0.1:server.port() ...

#include <QProcess>
#include <QString>
#include <QStringList>

namespace pw::test {

class SmtpTestServer {
public:
    SmtpTestServer() = default;
    ~SmtpTestServer();
    SmtpTestServer(const SmtpTestServer&) = delete;
    SmtpTestServer& operator=(const SmtpTestServer&) = delete;

    // Starts the server and waits until it listens; false (see errorText()) otherwise.
    [[nodiscard]] bool start(const QStringList& arguments, int timeoutMs = 20000);
    // The same for another helper of tests/smtp/servers/ that prints "READY <port>" and ends
    // when its input closes (e.g. "trickle_proxy.py").
    [[nodiscard]] bool startScript(const QString& scriptName, const QStringList& arguments,
                                   int timeoutMs = 20000);
    void stop();
    [[nodiscard]] quint16 port() const { return m_port; }
    // The event lines the server printed so far ("AUTH ok LOGIN ann", ...).
    [[nodiscard]] QStringList events();
    [[nodiscard]] QString errorText() const { return m_error; }

    // The launcher script beside the smtp tests.
    [[nodiscard]] static QString scriptPath();

private:
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
    QByteArray m_out;
};

// Certificates made with the openssl command line in a folder of the test:
// a test CA; a server certificate for "localhost" and 127.0.0.1 signed by it; a self-signed
// one for the same names; and one signed by the CA for "mail.example.org" only.
class TestCertificates {
public:
    explicit TestCertificates(const QString& folder);
    [[nodiscard]] bool ok() const { return m_ok; }
    [[nodiscard]] QString errorText() const { return m_error; }

    [[nodiscard]] QString caCert() const { return m_dir + "ca.pem"; }
    [[nodiscard]] QString serverCert() const { return m_dir + "server.pem"; }
    [[nodiscard]] QString serverKey() const { return m_dir + "server.key"; }
    [[nodiscard]] QString selfSignedCert() const { return m_dir + "self.pem"; }
    [[nodiscard]] QString selfSignedKey() const { return m_dir + "self.key"; }
    [[nodiscard]] QString otherHostCert() const { return m_dir + "other.pem"; }
    [[nodiscard]] QString otherHostKey() const { return m_dir + "other.key"; }
    // The SHA-256 of a certificate file's DER form as openssl computes it (32 bytes; empty
    // when openssl fails): what a program showing or pinning it must agree with.
    [[nodiscard]] static QByteArray sha256(const QString& certFile);

private:
    bool run(const QStringList& arguments);
    QString m_dir;
    bool m_ok = false;
    QString m_error;
};

}  // namespace pw::test
