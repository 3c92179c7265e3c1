// The connection test against real servers on loopback: plain, implicit TLS and STARTTLS with
// login; the sender check of a session without login; the port fallback and its log entry;
// Cancel against a server that never greets and a connect never answered; refused, trusted
// and re-keyed certificates.

#include <QFile>
#include <QTcpServer>
#include <QTest>

#include "FullBacklog.h"
#include "SmtpTestServer.h"
#include "TestEnv.h"
#include "resources/Strings.h"
#include "send/SendLog.h"
#include "serversettings/ConnectionTest.h"

using namespace pw::serversettings;
using pw::send::CSendLog;
using pw::send::ServerRecord;
using pw::test::SmtpTestServer;
using pw::test::TestCertificates;

namespace {

// A port on loopback that nothing listens on.
int closedPort() {
    QTcpServer s;
    if (!s.listen(QHostAddress::LocalHost, 0))
        return 1;
    return s.serverPort();
}

QStringList entries(const CSendLog& log) {
    QFile f(log.path());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList out;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const qsizetype slash = line.indexOf(" / ");
        if (slash >= 0)
            out << QString::fromUtf8(line.mid(slash + 3)).trimmed();
    }
    return out;
}

}  // namespace

class TestConnectionTest : public QObject {
    Q_OBJECT

    std::unique_ptr<pw::test::TestEnv> m_env;
    std::unique_ptr<TestCertificates> m_certs;
    CSendLog m_log;

    ServerRecord server(int port, int connectionType, int authType) const {
        ServerRecord r;
        r.smtpServer = "127.0.0.1";
        r.smtpPort = port;
        pw::readStored(connectionType, r.smtpConnectionType);
        pw::readStored(authType, r.smtpAuthType);
        r.smtpVerifMethod = pw::VerifMethod::Login;
        r.smtpUserName = "ann";
        r.smtpPassword = "secret";
        return r;
    }

    ConnectionTestResult test(const ServerRecord& r) {
        CConnectionTestRun run(r, m_log);
        run.start();
        return run.wait();
    }

private slots:
    void initTestCase() {
        pw::setLanguage(pw::Language::English);
        m_env = std::make_unique<pw::test::TestEnv>();
        m_certs = std::make_unique<TestCertificates>(m_env->makeFolder("certs"));
        QVERIFY2(m_certs->ok(), qPrintable(m_certs->errorText()));
        qputenv("SSL_CERT_FILE", m_certs->caCert().toLocal8Bit());
        m_log.setPath(m_env->root() + "log.txt");
    }

    void succeeds_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("connectionType");
        QTest::addColumn<int>("authType");
        QTest::addColumn<QString>("detail");
        QTest::newRow("plain, no login") << "plain" << 0 << 0 << "No Auth";
        QTest::newRow("plain, login") << "plain" << 0 << 5 << "SMTP";
        QTest::newRow("implicit TLS, login") << "tls" << 1 << 5 << "SMTP";
        QTest::newRow("STARTTLS, login") << "starttls" << 2 << 5 << "SMTP";
    }
    void succeeds() {
        QFETCH(QString, mode);
        QFETCH(int, connectionType);
        QFETCH(int, authType);
        QFETCH(QString, detail);
        SmtpTestServer s;
        QVERIFY2(s.start({"--mode", mode, "--cert", m_certs->serverCert(), "--key",
                          m_certs->serverKey(), "--user", "ann:secret"}),
                 qPrintable(s.errorText()));
        const ConnectionTestResult r = test(server(s.port(), connectionType, authType));
        QCOMPARE(int(r.verdict), int(TestVerdict::Success));
        QCOMPARE(entries(m_log),
                 QStringList{QString("Connected to SMTP server. ( 127.0.0.1:%1 / %2 )")
                                 .arg(s.port())
                                 .arg(detail)});
        if (authType != 0)
            QVERIFY2(s.events().join('\n').contains("AUTH ok"), qPrintable(s.events().join('\n')));
        // aiosmtpd offers STARTTLS only in its starttls mode; a plain login there is not run
        QCOMPARE(r.startTlsSuggested, false);
    }

    void loginServerWithoutLoginFailsAtSenderCheck() {
        SmtpTestServer s;
        QVERIFY2(s.start({"--user", "ann:secret", "--auth-required"}), qPrintable(s.errorText()));
        const QString wire = m_env->root() + "wire.txt";
        qputenv("POSTWICK_SMTP_WIRE_LOG", wire.toLocal8Bit());
        const ConnectionTestResult r = test(server(s.port(), 0, 0));
        qunsetenv("POSTWICK_SMTP_WIRE_LOG");
        QCOMPARE(int(r.verdict), int(TestVerdict::Failed));
        const QStringList log = entries(m_log);
        QCOMPARE(
            log.value(0),
            QString("Unable to connect to SMTP server. ( 127.0.0.1:%1 / No Auth )").arg(s.port()));
        QVERIFY2(log.size() == 2 && !log[1].isEmpty(), qPrintable(log.join('\n')));
        QCOMPARE(r.failureReason, log[1]);  // what the failure box shows
        const QByteArray conversation = pw::test::readFile(wire);
        QVERIFY(conversation.contains("MAIL FROM:"));
        QVERIFY(conversation.contains("-- connect 127.0.0.1 port 25 type 0"));
        QVERIFY(conversation.contains("-- connect 127.0.0.1 port 26 type 0"));
    }

    void answerOnFallbackPortOnly() {
        SmtpTestServer s;
        if (!s.start({"--port", "26"}))
            QSKIP("port 26 cannot be listened on here");
        const int configured = closedPort();
        const ConnectionTestResult r = test(server(configured, 0, 0));
        QCOMPARE(int(r.verdict), int(TestVerdict::Failed));
        QCOMPARE(r.workingPort, std::optional<int>(26));
        const QStringList log = entries(m_log);
        QCOMPARE(log.size(), 3);
        QCOMPARE(log[0], QString("Unable to connect to SMTP server. ( 127.0.0.1:%1 / No Auth )")
                             .arg(configured));
        QCOMPARE(log[2], QString("Port setting is incorrect, change to port 26."));
    }

    void cancelReturnsAtOnce_data() {
        QTest::addColumn<bool>("blackHole");
        QTest::newRow("server that never greets") << false;
        QTest::newRow("connect that is never answered") << true;
    }
    void cancelReturnsAtOnce() {
        QFETCH(bool, blackHole);
        QTcpServer silent;  // the system accepts; nobody ever greets
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        pw::test::FullBacklog hole;
        QVERIFY(hole.port() != 0);
        CConnectionTestRun run(server(blackHole ? hole.port() : silent.serverPort(), 0, 0), m_log);
        run.start();
        // the run waits for the greeting, or for the answer to its connect
        QTRY_VERIFY(blackHole ? hole.connectWaiting() : silent.hasPendingConnections());
        QVERIFY(!run.finished());
        // the run's own timeout is 20 s: ending as cancelled, not timed out, tells that
        // the cancel ended the wait, however loaded the machine
        run.cancel();
        const ConnectionTestResult r = run.wait();
        QCOMPARE(int(r.verdict), int(TestVerdict::Cancelled));
    }

    void certificateTrust() {
        SmtpTestServer s;
        QVERIFY2(s.start({"--mode", "tls", "--cert", m_certs->selfSignedCert(), "--key",
                          m_certs->selfSignedKey()}),
                 qPrintable(s.errorText()));
        ServerRecord record = server(s.port(), 1, 0);
        ConnectionTestResult r = test(record);
        QCOMPARE(int(r.verdict), int(TestVerdict::CertificateRefused));
        QCOMPARE(r.certificate.sha256, TestCertificates::sha256(m_certs->selfSignedCert()));
        QVERIFY2(r.refusalReason.contains("self-signed"), qPrintable(r.refusalReason));
        QVERIFY(!r.certificate.subject.isEmpty());
        QVERIFY(r.certificate.notAfter > r.certificate.notBefore);
        QCOMPARE(r.port, int(s.port()));

        // trusted for this host and port: accepted
        record.trustedCertificates = {{"127.0.0.1", int(s.port()), r.certificate.sha256}};
        QCOMPARE(int(test(record).verdict), int(TestVerdict::Success));
        // ... but not on another port
        ServerRecord elsewhere = record;
        elsewhere.trustedCertificates[0].port = s.port() + 1;
        QCOMPARE(int(test(elsewhere).verdict), int(TestVerdict::CertificateRefused));

        // another key on the same host and port is refused again
        const int port = s.port();
        s.stop();
        SmtpTestServer rekeyed;
        QVERIFY2(rekeyed.start({"--mode", "tls", "--port", QString::number(port), "--cert",
                                m_certs->otherHostCert(), "--key", m_certs->otherHostKey()}),
                 qPrintable(rekeyed.errorText()));
        r = test(record);
        QCOMPARE(int(r.verdict), int(TestVerdict::CertificateRefused));
        QCOMPARE(r.certificate.sha256, TestCertificates::sha256(m_certs->otherHostCert()));
    }
};

QTEST_GUILESS_MAIN(TestConnectionTest)
#include "test_connection_test.moc"
