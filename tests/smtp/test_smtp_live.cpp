// The SMTP session against a real server on loopback (Debian's aiosmtpd, started here): what
// arrives is what was rendered, the mechanisms log in or are refused with the right code, and
// TLS certificates are checked unless the user accepted unverified ones.

#include "SmtpTestServer.h"
#include "TestEnv.h"

#include "smtp/KTWSMTPConnection.h"
#include "smtp/KTWSMTPMessage.h"
#include "smtp/SmtpLanguage.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <memory>

using namespace pw::smtp;
using pw::test::SmtpTestServer;
using pw::test::TestCertificates;

namespace {

// What a server keeps of the data: every line with its transparency dot removed.
QByteArray undot(const QByteArray& data) {
    QList<QByteArray> lines = data.split('\n');
    for (QByteArray& l : lines) {
        if (l.startsWith('.')) {
            l.remove(0, 1);
        }
    }
    return lines.join('\n');
}

QByteArray rendered(const CKTWSMTPMessage& m) {
    QByteArray body;
    m.writeBody([&body](QByteArrayView v) { body.append(v); });
    return m.header() + "\r\n" + body;
}

}  // namespace

class TestSmtpLive : public QObject {
    Q_OBJECT

    std::unique_ptr<pw::test::TestEnv> m_env;
    std::unique_ptr<TestCertificates> m_certs;

    QStringList tlsArgs(const QString& mode, const QString& cert, const QString& key) const {
        return {"--mode", mode, "--cert", cert, "--key", key};
    }

    CKTWSMTPMessage message(const QString& attachmentFolder) const {
        CKTWSMTPMessage m;
        // a fixed Date, so that rendering again gives the same bytes
        m.setDate(QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53)));
        m.setCharset("utf-8");
        m.setFrom(CKTWSMTPAddress(QString::fromUtf8("山田 花子"), "hanako@example.org"));
        m.to().append(CKTWSMTPAddress("Bob", "bob@example.org"));
        m.to().append(CKTWSMTPAddress("carol@example.org"));
        m.bcc().append(CKTWSMTPAddress("dave@example.org"));
        m.setSubject(QString::fromUtf8("ご案内 and news"));
        m.addTextBody(QString::fromUtf8("Hello,\n.\n..two dots\nこんにちは\n.end"));
        m.addHtmlBody("<p>Hello</p>\n.<b>x</b>");
        const QString file = attachmentFolder + "list.bin";
        QByteArray bytes;
        for (int i = 0; i < 5000; ++i) {
            bytes.append(static_cast<char>(i * 7));
        }
        (void)pw::test::writeFile(file, bytes);
        m.addMultipleAttachments(file);
        return m;
    }

private slots:
    void initTestCase() {
        setTextLanguage(TextLanguage::English);
        m_env = std::make_unique<pw::test::TestEnv>();
        m_certs = std::make_unique<TestCertificates>(m_env->makeFolder("certs"));
        QVERIFY2(m_certs->ok(), qPrintable(m_certs->errorText()));
        // the test CA stands in for the system's trust store
        qputenv("SSL_CERT_FILE", m_certs->caCert().toLocal8Bit());
    }

    void deliversWhatWasRendered_data() {
        QTest::addColumn<int>("type");
        QTest::newRow("plain") << static_cast<int>(ConnectionType::None);
        QTest::newRow("implicit TLS") << static_cast<int>(ConnectionType::SslTls);
        QTest::newRow("STARTTLS") << static_cast<int>(ConnectionType::StartTls);
    }
    void deliversWhatWasRendered() {
        QFETCH(int, type);
        const auto connectionType = static_cast<ConnectionType>(type);
        const QString out = m_env->makeFolder(QString("out%1").arg(type));
        QStringList args = {"--user", "ann:secret", "--out", out};
        if (connectionType == ConnectionType::SslTls) {
            args += tlsArgs("tls", m_certs->serverCert(), m_certs->serverKey());
        } else if (connectionType == ConnectionType::StartTls) {
            args += tlsArgs("starttls", m_certs->serverCert(), m_certs->serverKey());
        }
        SmtpTestServer server;
        QVERIFY2(server.start(args), qPrintable(server.errorText()));

        const CKTWSMTPMessage m = message(m_env->makeFolder(QString("att%1").arg(type)));
        CKTWSMTPConnection c("client.test");
        c.SetTimeout(10000);
        try {
            c.Connect("localhost", AuthMethod::Automatic, "ann", "secret", server.port(),
                      connectionType);
            c.SendMessage(m);
            c.SendMessage(m);  // a second message on the same session
            c.Disconnect(DisconnectMode::Graceful);
        } catch (const CKTWSMTPException& e) {
            QFAIL(qPrintable(e.Description()));
        }
        QCOMPARE(c.UsedAuthMethod(), AuthMethod::Login);
        for (int n = 1; n <= 2; ++n) {
            const QByteArray received = pw::test::readFile(out + QString("%1.eml").arg(n));
            QCOMPARE(received, undot(rendered(m) + "\r\n"));
            const QJsonObject envelope =
                QJsonDocument::fromJson(pw::test::readFile(out + QString("%1.json").arg(n)))
                    .object();
            QCOMPARE(envelope["mail_from"].toString(), QString("hanako@example.org"));
            QCOMPARE(envelope["rcpt_tos"].toArray(),
                     QJsonArray({"bob@example.org", "carol@example.org", "dave@example.org"}));
            QCOMPARE(envelope["auth_login"].toString(), QString("ann"));
        }
    }

    void mechanisms_data() {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("code");  // 0: logged in
        QTest::addColumn<QString>("event");
        const auto m = [](AuthMethod a) { return static_cast<int>(a); };
        QTest::newRow("LOGIN") << m(AuthMethod::Login) << "secret" << 0 << "AUTH ok LOGIN ann";
        QTest::newRow("PLAIN") << m(AuthMethod::Plain) << "secret" << 0 << "AUTH ok PLAIN ann";
        QTest::newRow("CRAM-MD5") << m(AuthMethod::CramMd5) << "secret" << 0
                                  << "AUTH ok CRAM-MD5 ann";
        QTest::newRow("automatic prefers CRAM-MD5")
            << m(AuthMethod::Automatic) << "secret" << 0 << "AUTH ok CRAM-MD5 ann";
        QTest::newRow("LOGIN wrong password")
            << m(AuthMethod::Login) << "wrong" << 276 << "AUTH refused LOGIN ann";
        QTest::newRow("PLAIN wrong password")
            << m(AuthMethod::Plain) << "wrong" << 277 << "AUTH refused PLAIN ann";
        QTest::newRow("CRAM-MD5 wrong password")
            << m(AuthMethod::CramMd5) << "wrong" << 279 << "AUTH refused CRAM-MD5 ann";
    }
    void mechanisms() {
        QFETCH(int, method);
        QFETCH(QString, password);
        QFETCH(int, code);
        QFETCH(QString, event);
        SmtpTestServer server;
        QVERIFY2(server.start({"--user", "ann:secret", "--cram"}), qPrintable(server.errorText()));
        CKTWSMTPConnection c("client.test");
        c.SetTimeout(10000);
        int got = 0;
        QString last;
        try {
            c.Connect("127.0.0.1", static_cast<AuthMethod>(method), "ann", password, server.port(),
                      ConnectionType::None);
            c.VerifySender();
            c.Disconnect(DisconnectMode::Graceful);
        } catch (const CKTWSMTPException& e) {
            got = e.Code();
            last = e.LastResponse();
        }
        QCOMPARE(got, code);
        if (code != 0) {
            QVERIFY2(last.startsWith("535"), qPrintable(last + " / " + c.LastResponse()));
            QCOMPARE(c.LastResponseCode(), 535);
            QVERIFY(!c.IsConnected());
        }
        QTRY_VERIFY2(server.events().contains(event), qPrintable(server.events().join('\n')));
    }

    // every TLS record reaches the client over many reads: a read that needs more network
    // data must not count as a failure
    void tlsRecordsArrivingInPieces() {
        const QString out = m_env->makeFolder("trickle");
        SmtpTestServer server;
        QVERIFY2(server.start(tlsArgs("tls", m_certs->serverCert(), m_certs->serverKey()) +
                              QStringList{"--user", "ann:secret", "--out", out}),
                 qPrintable(server.errorText()));
        SmtpTestServer proxy;
        QVERIFY2(proxy.startScript("trickle_proxy.py", {QString::number(server.port()), "3", "1"}),
                 qPrintable(proxy.errorText()));
        CKTWSMTPMessage m;
        // a fixed Date, so that rendering again gives the same bytes
        m.setDate(QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53)));
        m.setFrom(CKTWSMTPAddress("ann@example.org"));
        m.to().append(CKTWSMTPAddress("bob@example.org"));
        m.rootPart().setText("through the trickle");
        CKTWSMTPConnection c("client.test");
        c.SetTimeout(20000);
        try {
            c.Connect("localhost", AuthMethod::Login, "ann", "secret", proxy.port(),
                      ConnectionType::SslTls);
            c.SendMessage(m);
            c.Disconnect(DisconnectMode::Graceful);
        } catch (const CKTWSMTPException& e) {
            QFAIL(qPrintable(e.Description()));
        }
        QCOMPARE(pw::test::readFile(out + "1.eml"), undot(rendered(m) + "\r\n"));
    }

    void certificates_data() {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("acceptUnverified");
        QTest::addColumn<QString>("reason");  // empty: connects
        const int tls = static_cast<int>(ConnectionType::SslTls);
        const int starttls = static_cast<int>(ConnectionType::StartTls);
        QTest::newRow("trusted, by name") << "server"
                                          << "localhost" << tls << false << "";
        QTest::newRow("trusted, by address") << "server"
                                             << "127.0.0.1" << tls << false << "";
        QTest::newRow("self-signed refused")
            << "self"
            << "localhost" << tls << false << "self-signed certificate";
        QTest::newRow("self-signed accepted when asked") << "self"
                                                         << "localhost" << tls << true << "";
        QTest::newRow("another host's certificate refused")
            << "other"
            << "localhost" << tls << false << "hostname mismatch";
        QTest::newRow("another host's certificate accepted when asked")
            << "other"
            << "localhost" << tls << true << "";
        QTest::newRow("STARTTLS self-signed refused")
            << "self"
            << "localhost" << starttls << false << "self-signed certificate";
        QTest::newRow("STARTTLS self-signed accepted when asked")
            << "self"
            << "localhost" << starttls << true << "";
    }
    void certificates() {
        QFETCH(QString, which);
        QFETCH(QString, host);
        QFETCH(int, type);
        QFETCH(bool, acceptUnverified);
        QFETCH(QString, reason);
        const QString cert = which == "server" ? m_certs->serverCert()
                             : which == "self" ? m_certs->selfSignedCert()
                                               : m_certs->otherHostCert();
        const QString key = which == "server" ? m_certs->serverKey()
                            : which == "self" ? m_certs->selfSignedKey()
                                              : m_certs->otherHostKey();
        const auto connectionType = static_cast<ConnectionType>(type);
        SmtpTestServer server;
        QVERIFY2(server.start(tlsArgs(connectionType == ConnectionType::SslTls ? "tls" : "starttls",
                                      cert, key) +
                              QStringList{"--user", "ann:secret"}),
                 qPrintable(server.errorText()));
        CKTWSMTPConnection c("client.test");
        c.SetTimeout(10000);
        c.SetCertificateCheck(acceptUnverified ? CertificateCheck::AcceptUnverified
                                               : CertificateCheck::Verify);
        try {
            c.Connect(host, AuthMethod::Plain, "ann", "secret", server.port(), connectionType);
            c.VerifySender();
            c.Disconnect(DisconnectMode::Graceful);
            QVERIFY2(reason.isEmpty(), "connected despite the certificate");
            QTRY_VERIFY(server.events().contains("AUTH ok PLAIN ann"));
        } catch (const CKTWSMTPException& e) {
            QVERIFY2(!reason.isEmpty(), qPrintable(e.Description()));
            QCOMPARE(e.Code(), 628);
            QVERIFY2(e.Description().contains(reason), qPrintable(e.Description()));
            QVERIFY(!c.IsConnected());
            // nothing was said in the clear after the refusal
            QVERIFY(!server.events().join('\n').contains("AUTH"));
        }
    }
};

QTEST_GUILESS_MAIN(TestSmtpLive)
#include "test_smtp_live.moc"
