// The SMTP session against scripted servers: every refusal gives its own error with the
// server's last response, replies are assembled across reads, and hostile servers end in a
// clear error within the timeout.

#include "FullBacklog.h"
#include "ScriptedServer.h"
#include "TestEnv.h"

#include "smtp/HmacMd5.h"
#include "smtp/KTWSMTPConnection.h"
#include "smtp/KTWSMTPMessage.h"
#include "smtp/SmtpLanguage.h"
#include "smtp/SmtpTexts.h"

#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace pw::smtp;
using pw::test::FullBacklog;
using pw::test::ScriptedServer;

namespace {

const QString kHost = QStringLiteral("client.test");

// SendLarge: a message of 20 MB, more than every buffer between client and server holds.
enum class Action { Connect, Send, SendLarge, VerifySender };

struct Outcome {
    bool failed = false;
    int facility = 0;
    int code = 0;
    QString lastResponse;
    QString description;
    int lastCode = -1;  // the session's last response code after the failure
};

CKTWSMTPMessage simpleMessage() {
    CKTWSMTPMessage m;
    // a fixed Date, so that rendering again gives the same bytes
    m.setDate(QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53)));
    m.setFrom(CKTWSMTPAddress("Ann", "ann@example.org"));
    m.to().append(CKTWSMTPAddress("bob@example.org"));
    m.setSubject("Hello");
    m.rootPart().setText("Hi Bob\r\n.\r\nsee you");
    return m;
}

// The session's clock, given the session that reads it.
using SessionClock =
    std::function<std::chrono::steady_clock::time_point(const CKTWSMTPConnection&)>;

// Connects (and sends), then closes: gracefully when everything went well, at once after a
// failure of SendMessage (a failed Connect has closed by itself).
Outcome runSession(ScriptedServer& server, AuthMethod method, Action action,
                   const QString& user = "ann", const QString& password = "secret",
                   int timeoutMs = 5000, ConnectionType type = ConnectionType::None,
                   const SessionClock& clock = {}) {
    Outcome o;
    CKTWSMTPConnection c(kHost);
    c.SetTimeout(timeoutMs);
    if (clock)
        c.SetClock([&c, clock] { return clock(c); });
    try {
        c.Connect("127.0.0.1", method, user, password, server.port(), type);
        try {
            if (action == Action::Send || action == Action::SendLarge) {
                CKTWSMTPMessage m = simpleMessage();
                if (action == Action::SendLarge)
                    m.rootPart().setText(QString(20 * 1024 * 1024, QChar('a')));
                c.SendMessage(m);
            } else if (action == Action::VerifySender) {
                c.VerifySender();
            }
        } catch (const CKTWSMTPException&) {
            c.Disconnect(DisconnectMode::NotGraceful);
            throw;
        }
        c.Disconnect(DisconnectMode::Graceful);
    } catch (const CKTWSMTPException& e) {
        o.failed = true;
        o.facility = e.Facility();
        o.code = e.Code();
        o.lastResponse = e.LastResponse();
        o.description = e.Description();
        o.lastCode = c.LastResponseCode();
        if (c.IsConnected()) {
            c.Disconnect(DisconnectMode::NotGraceful);
        }
    }
    return o;
}

QString b64(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toBase64());
}

const char* kGreeting = "S: 220 fake.test ESMTP\n";
const char* kEhloLogin = "C: EHLO client.test\nS: 250-fake.test\nS: 250 AUTH LOGIN PLAIN\n";
// a session without login greets with EHLO too
const char* kHelo = "C: EHLO client.test\nS: 250 fake.test\n";
const char* kQuit = "C: QUIT\nS: 221 bye\n";

}  // namespace

class TestSmtpSession : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setTextLanguage(TextLanguage::English); }

    void refusals_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("lastResponse");
        const int none = static_cast<int>(AuthMethod::None);
        const int login = static_cast<int>(AuthMethod::Login);
        const int plain = static_cast<int>(AuthMethod::Plain);
        const int cram = static_cast<int>(AuthMethod::CramMd5);
        const int ntlm = static_cast<int>(AuthMethod::Ntlm);
        const int connect = static_cast<int>(Action::Connect);
        const int send = static_cast<int>(Action::Send);
        const QString g = kGreeting;
        const QString userLine = "C: " + b64("ann") + "\n";
        const QString passLine = "C: " + b64("secret") + "\n";

        QTest::newRow("greeting 554")
            << QString("S: 554 go away\n") + kQuit << none << connect << 257 << "554 go away\r\n";
        QTest::newRow("EHLO refused") << g + "C: EHLO client.test\nS: 502 no\n" + kQuit << login
                                      << connect << 258 << "502 no\r\n";
        QTest::newRow("HELO refused after EHLO")
            << g + "C: EHLO client.test\nS: 500 what\nC: HELO client.test\nS: 501 bad name\n" +
                   kQuit
            << none << connect << 259 << "501 bad name\r\n";
        QTest::newRow("EHLO refused without login, not with 500, 502 or 504")
            << g + "C: EHLO client.test\nS: 554 no service\n" + kQuit << none << connect << 258
            << "554 no service\r\n";
        QTest::newRow("EHLO 502 with login: no HELO, it could not log in")
            << g + "C: EHLO client.test\nS: 502 no\n" + kQuit << plain << connect << 258
            << "502 no\r\n";
        QTest::newRow("QUIT refused") << g + kHelo + "C: QUIT\nS: 500 what\n"
                                      << none << connect << 260 << "500 what\r\n";
        QTest::newRow("MAIL FROM refused")
            << g + kHelo + "C: MAIL FROM:<ann@example.org>\nS: 553 sender refused\n"
            << none << send << 261 << "553 sender refused\r\n";
        QTest::newRow("RCPT TO refused")
            << g + kHelo +
                   "C: MAIL FROM:<ann@example.org>\nS: 250 ok\nC: RCPT TO:<bob@example.org>\n"
                   "S: 550 no such user\nC: RSET\nS: 250 flushed\n"
            << none << send << 270 << "550 no such user\r\n";
        QTest::newRow("DATA refused")
            << g + kHelo +
                   "C: MAIL FROM:<ann@example.org>\nS: 250 ok\nC: RCPT TO:<bob@example.org>\n"
                   "S: 250 ok\nC: DATA\nS: 554 no valid recipients\nC: RSET\nS: 250 flushed\n"
            << none << send << 262 << "554 no valid recipients\r\n";
        QTest::newRow("end of message refused")
            << g + kHelo +
                   "C: MAIL FROM:<ann@example.org>\nS: 250 ok\nC: RCPT TO:<bob@example.org>\n"
                   "S: 250 ok\nC: DATA\nS: 354 go on\nD\nS: 552 too big\n"
            << none << send << 266 << "552 too big\r\n";
        QTest::newRow("AUTH LOGIN refused")
            << g + kEhloLogin + "C: AUTH LOGIN\nS: 504 not here\n" + kQuit << login << connect
            << 272 << "504 not here\r\n";
        QTest::newRow("LOGIN asks for the password first")
            << g + kEhloLogin + "C: AUTH LOGIN\nS: 334 " + b64("Password:") + "\n" + kQuit << login
            << connect << 273 << "334 " + b64("Password:") + "\r\n";
        QTest::newRow("LOGIN user name refused")
            << g + kEhloLogin + "C: AUTH LOGIN\nS: 334 " + b64("Username:") + "\n" + userLine +
                   "S: 535 unknown user\n" + kQuit
            << login << connect << 274 << "535 unknown user\r\n";
        QTest::newRow("LOGIN asks for the user name twice")
            << g + kEhloLogin + "C: AUTH LOGIN\nS: 334 " + b64("Username:") + "\n" + userLine +
                   "S: 334 " + b64("Username:") + "\n" + kQuit
            << login << connect << 275 << "334 " + b64("Username:") + "\r\n";
        QTest::newRow("LOGIN password refused")
            << g + kEhloLogin + "C: AUTH LOGIN\nS: 334 " + b64("Username:") + "\n" + userLine +
                   "S: 334 " + b64("Password:") + "\n" + passLine + "S: 535 5.7.8 bad\n" + kQuit
            << login << connect << 276 << "535 5.7.8 bad\r\n";
        QTest::newRow("AUTH PLAIN refused") << g + kEhloLogin + "C: AUTH PLAIN\nS: 504 no\n" + kQuit
                                            << plain << connect << 277 << "504 no\r\n";
        QTest::newRow("PLAIN credentials refused")
            << g + kEhloLogin +
                   "C: AUTH PLAIN\nS: 334 \nC: " + b64(QByteArray("\0ann\0secret", 11)) +
                   "\nS: 535 bad\n" + kQuit
            << plain << connect << 277 << "535 bad\r\n";
        QTest::newRow("AUTH CRAM-MD5 refused")
            << g + kEhloLogin + "C: AUTH CRAM-MD5\nS: 504 no\n" + kQuit << cram << connect << 278
            << "504 no\r\n";
        QTest::newRow("CRAM-MD5 digest refused")
            << g + kEhloLogin + "C: AUTH CRAM-MD5\nS: 334 " + b64("<1.2@fake>") +
                   "\nC~ [A-Za-z0-9+/=]+\nS: 535 bad digest\n" + kQuit
            << cram << connect << 279 << "535 bad digest\r\n";
        QTest::newRow("AUTH NTLM refused")
            << g + kEhloLogin + "C~ AUTH NTLM TlRMTVNTUAABAAAA[A-Za-z0-9+/=]*\nS: 504 no\n" + kQuit
            << ntlm << connect << 516 << "504 no\r\n";
        QTest::newRow("close in the middle of a reply")
            << g + "C: EHLO client.test\nR: 250-fake.test\\r\\n250-PIPEL\nX" << login << connect
            << 271 << "250-fake.test\r\n250-PIPEL";
        QTest::newRow("close instead of the greeting")
            << QString("X") << none << connect << 271 << "";
    }
    void refusals() {
        QFETCH(QString, script);
        QFETCH(int, method);
        QFETCH(int, action);
        QFETCH(int, code);
        QFETCH(QString, lastResponse);
        ScriptedServer server({script});
        const Outcome o =
            runSession(server, static_cast<AuthMethod>(method), static_cast<Action>(action));
        QVERIFY2(server.finish(), qPrintable(server.report()));
        QVERIFY(o.failed);
        QCOMPARE(o.facility, CKTWSMTPException::kFacilityItf);
        QCOMPARE(o.code, code);
        QCOMPARE(o.lastResponse, lastResponse);
        QVERIFY2(o.description.contains(lastResponse.trimmed()), qPrintable(o.description));
        // the QUIT that follows a failed connect must not hide the reply that caused it
        QCOMPARE(o.lastCode, lastResponse.endsWith("\r\n") ? lastResponse.left(3).toInt() : 0);
    }

    void timeoutIsTheWaitingStepsError_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("type");
        // the step is reached once the server has these bytes and the session read this reply
        QTest::addColumn<QByteArray>("stepSent");
        QTest::addColumn<int>("stepReply");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("responseHas");
        const int none = static_cast<int>(ConnectionType::None);
        const int send = static_cast<int>(Action::Send);
        QTest::newRow("greeting") << QString("W: 1500\n") << static_cast<int>(Action::Connect)
                                  << none << QByteArray() << 0 << 257 << QString();
        QTest::newRow("MAIL FROM")
            << QString(kGreeting) + kHelo + "C: MAIL FROM:<ann@example.org>\nW: 1500\n"
            << send << none << QByteArray("MAIL FROM") << 0 << 261 << QString();
        QTest::newRow("verify sender")
            << QString(kGreeting) + kHelo + "C: MAIL FROM:<postmaster@example.com>\nW: 1500\n"
            << static_cast<int>(Action::VerifySender) << none << QByteArray("MAIL FROM") << 0 << 261
            << QString();
        QTest::newRow("half a reply, then silence")
            << QString(kGreeting) + kHelo +
                   "C: MAIL FROM:<ann@example.org>\nR: 250-one\\r\\n\n"
                   "W: 1500\n"
            << send << none << QByteArray("MAIL FROM") << 0 << 261 << QString();
        // the final reply may take ten minutes
        QTest::newRow("final reply")
            << QString(kGreeting) + kHelo +
                   "C: MAIL FROM:<ann@example.org>\nS: 250 ok\nC: RCPT TO:<bob@example.org>\n"
                   "S: 250 ok\nC: DATA\nS: 354 go on\nD\nW: 3000\n"
            << send << none << QByteArray("\r\n.\r\n") << 0 << 266 << QString();
        // "timed out", not a closed connection, tells that the deadline ended the handshake
        QTest::newRow("TLS handshake") << QString("W: 1500\n") << static_cast<int>(Action::Connect)
                                       << static_cast<int>(ConnectionType::SslTls) << QByteArray()
                                       << 0 << 631 << QString("timed out");
        // the server stops reading after DATA: the write's own deadline ends it
        QTest::newRow("write that never drains")
            << QString(kGreeting) + kHelo +
                   "C: MAIL FROM:<ann@example.org>\nS: 250 ok\nC: RCPT TO:<bob@example.org>\n"
                   "S: 250 ok\nC: DATA\nS: 354 go on\nW: 1500\n"
            << static_cast<int>(Action::SendLarge) << none << QByteArray("DATA\r\n") << 354
            << ETIMEDOUT << QString();
    }
    void timeoutIsTheWaitingStepsError() {
        QFETCH(QString, script);
        QFETCH(int, action);
        QFETCH(int, type);
        QFETCH(QByteArray, stepSent);
        QFETCH(int, stepReply);
        QFETCH(int, code);
        QFETCH(QString, responseHas);
        ScriptedServer server({script});
        // A timeout of an hour on a clock that runs an hour per reading once the step is
        // reached: the step's own error within the server's silence (not the one of its close)
        // shows that the deadline ended the wait; a wait on the real clock would outlast the
        // test's own limit.
        auto hours = std::make_shared<int>(0);
        const SessionClock clock = [&server, hours, stepSent,
                                    stepReply](const CKTWSMTPConnection& c) {
            if (server.connectionCount() > 0 && server.received(0).contains(stepSent) &&
                (stepReply == 0 || c.LastResponseCode() == stepReply))
                ++*hours;
            return std::chrono::steady_clock::now() + std::chrono::hours(*hours);
        };
        const Outcome o = runSession(server, AuthMethod::None, static_cast<Action>(action), "", "",
                                     3600 * 1000, static_cast<ConnectionType>(type), clock);
        QVERIFY(o.failed);
        QCOMPARE(o.code, code);
        QVERIFY2(o.lastResponse.contains(responseHas), qPrintable(o.lastResponse));
        // the greeting row's client gives up gracefully, sending QUIT into the silence
        (void)server.finish();
    }

    // a refusal keeps the session for the next message; a timeout ends it, or the late reply
    // would be read as the answer to the next command
    void sessionAfterAFailedTransaction_data() {
        QTest::addColumn<QString>("mailFromReply");
        QTest::addColumn<bool>("staysConnected");
        QTest::newRow("refused") << "S: 550 not you\n" << true;
        QTest::newRow("recipient refused, transaction reset")
            << "S: 250 ok\nC: RCPT TO:<bob@example.org>\nS: 550 no such user\nC: RSET\nS: 250 "
               "flushed\n"
            << true;
        QTest::newRow("timed out") << "W: 60000\n" << false;
        QTest::newRow("cut off") << "R: 250-part\r\n\nW: 60000\n" << false;
    }
    void sessionAfterAFailedTransaction() {
        QFETCH(QString, mailFromReply);
        QFETCH(bool, staysConnected);
        QString script =
            QString(kGreeting) + kHelo + "C: MAIL FROM:<ann@example.org>\n" + mailFromReply;
        if (staysConnected) {
            script +=
                "C: MAIL FROM:<ann@example.org>\nS: 250 ok\n"
                "C: RCPT TO:<bob@example.org>\nS: 250 ok\nC: DATA\nS: 354 go\nD\n"
                "S: 250 queued\n" +
                QString(kQuit);
        }
        ScriptedServer server({script});
        CKTWSMTPConnection c(kHost);
        // the server's minute of silence ends on a clock that runs an hour a reading once
        // MAIL FROM is in
        auto hours = std::make_shared<int>(0);
        if (!staysConnected) {
            c.SetClock([&server, hours] {
                if (server.received(0).contains("MAIL FROM"))
                    ++*hours;
                return std::chrono::steady_clock::now() + std::chrono::hours(*hours);
            });
        }
        c.Connect("127.0.0.1", AuthMethod::None, "", "", server.port(), ConnectionType::None);
        QVERIFY_THROWS_EXCEPTION(CKTWSMTPException, c.SendMessage(simpleMessage()));
        QCOMPARE(c.IsConnected(), staysConnected);
        if (staysConnected) {
            c.SendMessage(simpleMessage());
            c.Disconnect(DisconnectMode::Graceful);
        }
        QVERIFY2(server.finish(), qPrintable(server.report()));
    }

    void unreadableAttachmentFailsBeforeAnyCommand() {
        ScriptedServer server({QString(kGreeting) + kHelo + kQuit});
        CKTWSMTPMessage m = simpleMessage();
        m.addMultipleAttachments("/nonexistent/folder/missing.pdf");
        CKTWSMTPConnection c(kHost);
        c.Connect("127.0.0.1", AuthMethod::None, "", "", server.port(), ConnectionType::None);
        try {
            c.SendMessage(m);
            QFAIL("sent a message whose attachment is missing");
        } catch (const CKTWSMTPException& e) {
            QCOMPARE(e.Facility(), CKTWSMTPException::kFacilityWin32);
            QCOMPARE(e.Code(), ENOENT);
        }
        // nothing half-sent: the session is still in step
        QVERIFY(c.IsConnected());
        c.Disconnect(DisconnectMode::Graceful);
        QVERIFY2(server.finish(), qPrintable(server.report()));
    }

    void multiLineEhloAcrossReadsChoosesFromIt() {
        ScriptedServer server(
            {QString(kGreeting) +
             "C: EHLO client.test\n"
             "R: 250-fake.test says hi\\r\\n250-AU\nW: 60\n"
             "R: TH PLAIN LOGIN\\r\\n25\nW: 60\nR: 0-8BITMIME\\r\\n250 HELP\\r\\n\n"
             "C: AUTH LOGIN\nS: 334 " +
             b64("Username:") + "\nC: " + b64("ann") + "\nS: 334 " + b64("Password:") +
             "\nC: " + b64("secret") + "\nS: 235 ok\n" + kQuit});
        CKTWSMTPConnection c(kHost);
        c.SetTimeout(5000);
        c.Connect("127.0.0.1", AuthMethod::Automatic, "ann", "secret", server.port(),
                  ConnectionType::None);
        QCOMPARE(c.UsedAuthMethod(), AuthMethod::Login);
        c.Disconnect(DisconnectMode::Graceful);
        QVERIFY2(server.finish(), qPrintable(server.report()));
    }

    void authListedOnlyOnTheFinalLineIsUsed() {
        ScriptedServer server({QString(kGreeting) +
                               "C: EHLO client.test\nS: 250-fake.test\nS: 250 AUTH PLAIN\n"
                               "C: AUTH PLAIN\nS: 334 \nC: " +
                               b64(QByteArray("\0ann\0secret", 11)) + "\nS: 235 ok\n" + kQuit});
        CKTWSMTPConnection c(kHost);
        c.Connect("127.0.0.1", AuthMethod::Automatic, "ann", "secret", server.port(),
                  ConnectionType::None);
        QCOMPARE(c.UsedAuthMethod(), AuthMethod::Plain);
        c.Disconnect(DisconnectMode::Graceful);
        QVERIFY2(server.finish(), qPrintable(server.report()));
    }

    void automaticWithoutOfferSkipsAuthentication() {
        ScriptedServer server({QString(kGreeting) +
                               "C: EHLO client.test\nS: 250-fake.test\nS: 250 8BITMIME\n" + kQuit});
        CKTWSMTPConnection c(kHost);
        c.Connect("127.0.0.1", AuthMethod::Automatic, "ann", "secret", server.port(),
                  ConnectionType::None);
        QCOMPARE(c.UsedAuthMethod(), AuthMethod::None);
        c.Disconnect(DisconnectMode::Graceful);
        QVERIFY2(server.finish(), qPrintable(server.report()));
    }

    void replyEndings_data() {
        QTest::addColumn<QString>("ehloReply");
        QTest::newRow("smtp-sink's bare final line") << "R: 250-fake.test\\r\\n250 \\r\\n";
        QTest::newRow("code alone on the final line") << "R: 250-fake.test\\r\\n250\\r\\n";
        QTest::newRow("one byte at a time")
            << "R: 2\nW: 20\nR: 5\nW: 20\nR: 0\nW: 20\nR:  \nW: 20\nR: o\nW: 20\nR: k\nW: 20\n"
               "R: \\r\nW: 20\nR: \\n";
        QTest::newRow("bare LF line ends") << "R: 250-fake.test\\n250 ok\\n";
    }
    void replyEndings() {
        QFETCH(QString, ehloReply);
        ScriptedServer server(
            {QString(kGreeting) + "C: EHLO client.test\n" + ehloReply + "\n" + kQuit});
        CKTWSMTPConnection c(kHost);
        c.SetTimeout(3000);
        c.Connect("127.0.0.1", AuthMethod::Automatic, "", "", server.port(), ConnectionType::None);
        QCOMPARE(c.LastResponseCode(), 250);
        c.Disconnect(DisconnectMode::Graceful);
        QVERIFY2(server.finish(), qPrintable(server.report()));
    }

    void recipientsInOrderAnd251Accepted() {
        ScriptedServer server({QString(kGreeting) + kHelo +
                               "C: MAIL FROM:<ann@example.org>\nS: 250 ok\n"
                               "C: RCPT TO:<to1@example.org>\nS: 250 ok\n"
                               "C: RCPT TO:<to2@example.org>\nS: 251 will forward\n"
                               "C: RCPT TO:<cc@example.org>\nS: 250 ok\n"
                               "C: RCPT TO:<bcc@example.org>\nS: 250 ok\n"
                               "C: DATA\nS: 354 go on\nD\nS: 250 queued\n" +
                               kQuit});
        CKTWSMTPMessage m = simpleMessage();
        m.to().clear();
        m.to().append(CKTWSMTPAddress("One", "to1@example.org"));
        m.to().append(CKTWSMTPAddress("to2@example.org"));
        m.cc().append(CKTWSMTPAddress("cc@example.org"));
        m.bcc().append(CKTWSMTPAddress("bcc@example.org"));
        CKTWSMTPConnection c(kHost);
        c.Connect("127.0.0.1", AuthMethod::None, "", "", server.port(), ConnectionType::None);
        c.SendMessage(m);
        c.Disconnect(DisconnectMode::Graceful);
        QVERIFY2(server.finish(), qPrintable(server.report()));
        // the data is what the message renders, dot-stuffed, ended by CR LF . CR LF in one go
        const QByteArray received = server.received(0);
        QByteArray body;
        m.writeBody([&body](QByteArrayView v) { body.append(v); });
        const QByteArray data = m.header() + "\r\n" + body + "\r\n.\r\n";
        QVERIFY(received.contains("DATA\r\n" + data + "QUIT\r\n"));
        QVERIFY(!data.contains("bcc@example.org"));
        QVERIFY(data.contains("\r\n..\r\n"));
    }

    // What MAIL FROM declares and how the text travels, by what the server offered.
    void mailParametersByOffer_data() {
        QTest::addColumn<QString>("greeting");  // EHLO or HELO exchange
        QTest::addColumn<bool>("japanese");
        QTest::addColumn<QString>("mailFrom");  // regular expression of the command
        QTest::addColumn<bool>("eightBitData");
        const QString ehlo = "C: EHLO client.test\nS: 250-fake.test\n";
        QTest::newRow("8BITMIME and SIZE, 8-bit text")
            << ehlo + "S: 250-8BITMIME\nS: 250 SIZE 1000000\n"
            << true << "MAIL FROM:<ann@example.org> SIZE=([0-9]+) BODY=8BITMIME" << true;
        QTest::newRow("SIZE without a limit, no 8BITMIME: 7-bit data")
            << ehlo + "S: 250 SIZE\n"
            << true << "MAIL FROM:<ann@example.org> SIZE=([0-9]+)" << false;
        QTest::newRow("8BITMIME, but nothing 8-bit to declare")
            << ehlo + "S: 250 8BITMIME\n"
            << false << "MAIL FROM:<ann@example.org>" << false;
        QTest::newRow("EHLO 500, HELO: no extensions, 7-bit data")
            << QString("C: EHLO client.test\nS: 500 unknown\nC: HELO client.test\nS: 250 ok\n")
            << true << "MAIL FROM:<ann@example.org>" << false;
        QTest::newRow("EHLO 502, HELO")
            << QString("C: EHLO client.test\nS: 502 no\nC: HELO client.test\nS: 250 ok\n") << false
            << "MAIL FROM:<ann@example.org>" << false;
        QTest::newRow("EHLO 504, HELO")
            << QString("C: EHLO client.test\nS: 504 no\nC: HELO client.test\nS: 250 ok\n") << false
            << "MAIL FROM:<ann@example.org>" << false;
    }
    void mailParametersByOffer() {
        QFETCH(QString, greeting);
        QFETCH(bool, japanese);
        QFETCH(QString, mailFrom);
        QFETCH(bool, eightBitData);
        ScriptedServer server({QString(kGreeting) + greeting + "C~ " + mailFrom +
                               "\nS: 250 ok\nC: RCPT TO:<bob@example.org>\nS: 250 ok\n"
                               "C: DATA\nS: 354 go on\nD\nS: 250 queued\n" +
                               kQuit});
        CKTWSMTPMessage m = simpleMessage();
        m.setCharset("utf-8");
        if (japanese)
            m.rootPart().setText(QString::fromUtf8("田中様\r\nご案内です。"));
        CKTWSMTPConnection c(kHost);
        // no login: EHLO all the same, HELO only after 500, 502 or 504
        c.Connect("127.0.0.1", AuthMethod::None, "", "", server.port(), ConnectionType::None);
        c.SendMessage(m);
        c.Disconnect(DisconnectMode::Graceful);
        QVERIFY2(server.finish(), qPrintable(server.report()));
        const QByteArray received = server.received(0);
        const qsizetype start = received.indexOf("DATA\r\n") + 6;
        const QByteArray data = received.mid(start, received.indexOf("QUIT\r\n") - start);
        bool eight = false;
        for (const char ch : data)
            eight = eight || static_cast<unsigned char>(ch) >= 0x80;
        QCOMPARE(eight, eightBitData);
        QCOMPARE(data.contains("Content-Transfer-Encoding: 8bit"), eightBitData);
        // SIZE= tells the size of the data that follows
        const auto size = QRegularExpression(" SIZE=([0-9]+)").match(QString::fromLatin1(received));
        if (size.hasMatch())
            QCOMPARE(size.captured(1).toLongLong(), qint64(data.size()));
    }

    // With PIPELINING offered, MAIL FROM, the RCPT TOs and DATA go as one group; every reply
    // is read and checked in order, and a refusal sends no data.
    void pipelinedGroups_data() {
        QTest::addColumn<QString>("replies");  // to MAIL, RCPT x3, DATA
        QTest::addColumn<QString>("after");    // the rest of the script
        QTest::addColumn<int>("code");         // 0: sent
        QTest::addColumn<bool>("connected");   // after the message
        const QString quit = kQuit;
        QTest::newRow("all accepted") << "S: 250 ok\nS: 250 ok\nS: 251 fwd\nS: 250 ok\nS: 354 go\n"
                                      << "D\nS: 250 queued\n" + quit << 0 << true;
        QTest::newRow("second RCPT refused, DATA refused")
            << "S: 250 ok\nS: 250 ok\nS: 550 no such user\nS: 250 ok\nS: 503 no\n"
            << "C: RSET\nS: 250 flushed\n" + quit << 270 << true;
        QTest::newRow("MAIL FROM refused")
            << "S: 553 sender refused\nS: 503 no\nS: 503 no\nS: 503 no\nS: 503 no\n"
            << "C: RSET\nS: 250 flushed\n" + quit << 261 << true;
        QTest::newRow("DATA refused with 554 after accepted recipients")
            << "S: 250 ok\nS: 250 ok\nS: 250 ok\nS: 250 ok\nS: 554 no\n"
            << "C: RSET\nS: 250 flushed\n" + quit << 262 << true;
        QTest::newRow("a refused RCPT but DATA taken: no data, the connection drops")
            << "S: 250 ok\nS: 550 no\nS: 250 ok\nS: 250 ok\nS: 354 go\n"
            << QString() << 270 << false;
        QTest::newRow("one reply at a time, with pauses")
            << "S: 250 ok\nW: 300\nS: 250 ok\nW: 300\nS: 250 ok\nS: 250 ok\nW: 300\nS: 354 go\n"
            << "D\nS: 250 queued\n" + quit << 0 << true;
    }
    void pipelinedGroups() {
        QFETCH(QString, replies);
        QFETCH(QString, after);
        QFETCH(int, code);
        QFETCH(bool, connected);
        ScriptedServer server({QString(kGreeting) +
                               "C: EHLO client.test\nS: 250-fake.test\nS: 250 PIPELINING\n"
                               "C: MAIL FROM:<ann@example.org>\nC: RCPT TO:<to@example.org>\n"
                               "C: RCPT TO:<cc@example.org>\nC: RCPT TO:<bcc@example.org>\n"
                               "C: DATA\n" +
                               replies + after});
        CKTWSMTPMessage m = simpleMessage();
        m.to() = {CKTWSMTPAddress("to@example.org")};
        m.cc().append(CKTWSMTPAddress("cc@example.org"));
        m.bcc().append(CKTWSMTPAddress("bcc@example.org"));
        CKTWSMTPConnection c(kHost);
        c.Connect("127.0.0.1", AuthMethod::Automatic, "", "", server.port(), ConnectionType::None);
        QVERIFY(c.PipeliningOffered());
        int failed = 0;
        try {
            c.SendMessage(m);
        } catch (const CKTWSMTPException& e) {
            failed = e.Code();
        }
        QCOMPARE(failed, code);
        QCOMPARE(c.IsConnected(), connected);
        if (code != 0)
            QCOMPARE(c.LastResponseCode() / 100, 5);  // the refusal, not what followed it
        if (c.IsConnected())
            c.Disconnect(DisconnectMode::Graceful);
        QVERIFY2(server.finish(), qPrintable(server.report()));
        const QByteArray received = server.received(0);
        // the group, written as one piece
        QVERIFY(
            received.contains("MAIL FROM:<ann@example.org>\r\nRCPT TO:<to@example.org>\r\n"
                              "RCPT TO:<cc@example.org>\r\nRCPT TO:<bcc@example.org>\r\n"
                              "DATA\r\n"));
        QCOMPARE(received.contains("Subject:"), code == 0);
    }

    // The end of one message's data and the next message's commands go as one write, and
    // the server may hold its verdict on the data until it has them. What follows depends on
    // the replies and on whether the caller goes on with the next message.
    void endOfDataCarriesTheNextGroup_data() {
        QTest::addColumn<QString>("replies");  // after the data and the next group
        QTest::addColumn<QString>("then");     // "send", "abandon" or "quit"
        QTest::addColumn<int>("firstCode");    // 0: sent
        QTest::addColumn<bool>("possiblyDelivered");
        QTest::addColumn<int>("secondCode");  // 0: sent; -1: not sent by the caller
        QTest::addColumn<bool>("connected");  // before the final Disconnect
        const QString next = "S: 250 ok\nS: 250 ok\nS: 354 go\n";
        const QString rest = "D\nS: 250 queued\n" + QString(kQuit);
        QTest::newRow("both accepted")
            << "S: 250 queued\n" + next + rest << "send" << 0 << false << 0 << true;
        QTest::newRow("data refused, the next goes on")
            << "S: 554 5.7.1 spam\n" + next + rest << "send" << 266 << false << 0 << true;
        QTest::newRow("data refused, the next taken back while its data is awaited")
            << "S: 554 5.7.1 spam\n" + next << "abandon" << 266 << false << -1 << false;
        QTest::newRow("the next refused and taken back")
            << "S: 250 queued\nS: 250 ok\nS: 550 no such user\nS: 503 no\n"
               "C: RSET\nS: 250 flushed\n" +
                   QString(kQuit)
            << "abandon" << 0 << false << -1 << true;
        QTest::newRow("the next refused on its turn")
            << "S: 250 queued\nS: 553 sender refused\nS: 503 no\nS: 503 no\n"
               "C: RSET\nS: 250 flushed\n" +
                   QString(kQuit)
            << "send" << 0 << false << 261 << true;
        QTest::newRow("QUIT while the server awaits the next data: closed instead")
            << "S: 250 queued\n" + next << "quit" << 0 << false << -1 << true;
        QTest::newRow("closed after the reply to the data") << "S: 250 queued\nX"
                                                            << "send" << 0 << false << 271 << false;
        QTest::newRow("closed before the reply to the data")
            << "X"
            << "none" << 271 << true << -1 << false;
    }
    void endOfDataCarriesTheNextGroup() {
        QFETCH(QString, replies);
        QFETCH(QString, then);
        QFETCH(int, firstCode);
        QFETCH(bool, possiblyDelivered);
        QFETCH(int, secondCode);
        QFETCH(bool, connected);
        pw::test::TestEnv env;
        const QString log = env.root() + "wire.txt";
        qputenv("POSTWICK_SMTP_WIRE_LOG", log.toLocal8Bit());
        const auto unset = qScopeGuard([] { qunsetenv("POSTWICK_SMTP_WIRE_LOG"); });
        const QString group2 =
            "C: MAIL FROM:<ann@example.org>\nC: RCPT TO:<carl@example.org>\nC: DATA\n";
        ScriptedServer server({QString(kGreeting) +
                               "C: EHLO client.test\nS: 250-fake.test\nS: 250 PIPELINING\n"
                               "C: MAIL FROM:<ann@example.org>\nC: RCPT TO:<bob@example.org>\n"
                               "C: DATA\nS: 250 ok\nS: 250 ok\nS: 354 go\nD\n" +
                               group2 + replies});
        const CKTWSMTPMessage m1 = simpleMessage();
        CKTWSMTPMessage m2 = simpleMessage();
        m2.to() = {CKTWSMTPAddress("carl@example.org")};
        CKTWSMTPConnection c(kHost);
        c.SetTimeout(5000);
        c.Connect("127.0.0.1", AuthMethod::Automatic, "", "", server.port(), ConnectionType::None);
        const auto send = [&c](const CKTWSMTPMessage& m, const CKTWSMTPMessage* next) {
            try {
                c.SendMessage(m, next);
            } catch (const CKTWSMTPException& e) {
                return e.Code();
            }
            return 0;
        };
        QCOMPARE(send(m1, &m2), firstCode);
        QCOMPARE(c.PossiblyDelivered(), possiblyDelivered);
        if (then == "send")
            QCOMPARE(send(m2, nullptr), secondCode);
        else if (then == "abandon")
            c.AbandonNext();
        if (then != "quit") {
            QVERIFY(!c.HasNextPending());
            QCOMPARE(c.IsConnected(), connected);
        }
        c.Disconnect(DisconnectMode::Graceful);
        QVERIFY(!c.HasNextPending());
        QVERIFY2(server.finish(), qPrintable(server.report()));

        // the exact bytes: the first message's data with its end, then the next group
        QByteArray data = m1.header() + "\r\n";
        m1.writeBody([&data](QByteArrayView b) { data.append(b); });
        data += "\r\n.\r\n";
        const QByteArray received = server.received(0);
        QVERIFY(received.contains(data +
                                  "MAIL FROM:<ann@example.org>\r\nRCPT TO:<carl@example.org>\r\n"
                                  "DATA\r\n"));
        // the second message's data went only where the caller sent it and all was accepted
        QCOMPARE(received.count("Subject:"), secondCode == 0 ? 2 : 1);
        const QByteArray wire = pw::test::readFile(log);
        QVERIFY2(wire.contains("-- one write: the data and the next message's commands\n"
                               "C: [message data, " +
                               QByteArray::number(data.size()) +
                               " bytes, ending in CR LF . CR LF]\n"
                               "C: MAIL FROM:<ann@example.org>\nC: RCPT TO:<carl@example.org>\n"
                               "C: DATA\n"),
                 wire.constData());
    }

    // A next message that cannot be rendered does not go ahead; it fails on its own turn.
    void unreadableNextMessageGoesAlone() {
        ScriptedServer server({QString(kGreeting) +
                               "C: EHLO client.test\nS: 250-fake.test\nS: 250 PIPELINING\n"
                               "C: MAIL FROM:<ann@example.org>\nC: RCPT TO:<bob@example.org>\n"
                               "C: DATA\nS: 250 ok\nS: 250 ok\nS: 354 go\nD\nS: 250 queued\n" +
                               kQuit});
        const CKTWSMTPMessage m1 = simpleMessage();
        CKTWSMTPMessage m2 = simpleMessage();
        m2.addMultipleAttachments("/nonexistent/folder/missing.pdf");
        CKTWSMTPConnection c(kHost);
        c.Connect("127.0.0.1", AuthMethod::Automatic, "", "", server.port(), ConnectionType::None);
        c.SendMessage(m1, &m2);
        QVERIFY(!c.HasNextPending());
        QVERIFY_THROWS_EXCEPTION(CKTWSMTPException, c.SendMessage(m2, nullptr));
        QVERIFY(c.IsConnected());
        c.Disconnect(DisconnectMode::Graceful);
        QVERIFY2(server.finish(), qPrintable(server.report()));
    }

    void messageOverTheSizeLimitIsRefusedBeforeData() {
        ScriptedServer server({QString(kGreeting) +
                               "C: EHLO client.test\nS: 250-fake.test\nS: 250 SIZE 400\n" + kQuit});
        CKTWSMTPMessage m = simpleMessage();
        m.rootPart().setText(QString(2000, 'x'));
        CKTWSMTPConnection c(kHost);
        c.Connect("127.0.0.1", AuthMethod::Automatic, "", "", server.port(), ConnectionType::None);
        QCOMPARE(c.SizeLimit(), 400);
        try {
            c.SendMessage(m);
            QFAIL("a message over SIZE was sent");
        } catch (const CKTWSMTPException& e) {
            QCOMPARE(e.Code(), msg::kMessageTooLarge);
            QVERIFY2(e.LastResponse().contains("400"), qPrintable(e.LastResponse()));
        }
        // nothing was sent of it, and the session goes on
        QVERIFY(c.IsConnected());
        c.Disconnect(DisconnectMode::Graceful);
        QVERIFY2(server.finish(), qPrintable(server.report()));
        QVERIFY(!server.received(0).contains("MAIL FROM"));
    }

    void heloNameChoice_data() {
        QTest::addColumn<QString>("canonical");
        QTest::addColumn<QString>("expected");
        const QString literal = "[192.0.2.1]";
        QTest::newRow("fully qualified") << "mail.example.jp"
                                         << "mail.example.jp";
        QTest::newRow("trailing dot dropped") << "mail.example.jp."
                                              << "mail.example.jp";
        QTest::newRow("bare host name") << "vm" << literal;
        QTest::newRow("localhost with a domain") << "localhost.localdomain" << literal;
        QTest::newRow("underscore") << "my_host.example.jp" << literal;
        QTest::newRow("an address is no name") << "192.0.2.7" << literal;
        QTest::newRow("nothing") << "" << literal;
    }
    void heloNameChoice() {
        QFETCH(QString, canonical);
        QFETCH(QString, expected);
        QCOMPARE(CKTWSMTPConnection::ChooseHeloName(canonical, "[192.0.2.1]"), expected);
    }

    void automaticHeloNameIsQualifiedOrALiteral() {
        ScriptedServer server({QString(kGreeting) +
                               "C~ EHLO (\\[127\\.0\\.0\\.1\\]|[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)+)\n"
                               "S: 250 ok\n" +
                               kQuit});
        CKTWSMTPConnection c;  // "auto"
        c.Connect("127.0.0.1", AuthMethod::None, "", "", server.port(), ConnectionType::None);
        c.Disconnect(DisconnectMode::Graceful);
        QVERIFY2(server.finish(), qPrintable(server.report()));
    }

    void sessionCanConnectAgainAfterDisconnect() {
        const QString script = QString(kGreeting) + kHelo + kQuit;
        ScriptedServer server({script, script});
        CKTWSMTPConnection c(kHost);
        for (int i = 0; i < 2; ++i) {
            c.Connect("127.0.0.1", AuthMethod::None, "", "", server.port(), ConnectionType::None);
            QVERIFY(c.IsConnected());
            c.Disconnect(DisconnectMode::Graceful);
            QVERIFY(!c.IsConnected());
        }
        QVERIFY2(server.finish(), qPrintable(server.report()));
    }

    void loginPromptStyles_data() {
        QTest::addColumn<QByteArray>("userPrompt");
        QTest::addColumn<QByteArray>("passwordPrompt");
        QTest::newRow("Username: capitalised")
            << QByteArray("Username:") << QByteArray("Password:");
        QTest::newRow("lower case") << QByteArray("username:") << QByteArray("password:");
        QTest::newRow("aiosmtpd style")
            << QByteArray("User Name\0", 10) << QByteArray("Password\0", 9);
        QTest::newRow("empty prompts") << QByteArray() << QByteArray();
    }
    void loginPromptStyles() {
        QFETCH(QByteArray, userPrompt);
        QFETCH(QByteArray, passwordPrompt);
        ScriptedServer server({QString(kGreeting) + kEhloLogin + "C: AUTH LOGIN\nS: 334 " +
                               b64(userPrompt) + "\nC: " + b64("ann") + "\nS: 334 " +
                               b64(passwordPrompt) + "\nC: " + b64("secret") + "\nS: 235 ok\n" +
                               kQuit});
        const Outcome o = runSession(server, AuthMethod::Login, Action::Connect);
        QVERIFY2(!o.failed, qPrintable(o.description));
        QVERIFY2(server.finish(), qPrintable(server.report()));
    }

    void plainWithEmptyPassword() {
        ScriptedServer server({QString(kGreeting) + kEhloLogin + "C: AUTH PLAIN\nS: 334 \nC: " +
                               b64(QByteArray("\0ann\0", 5)) + "\nS: 235 ok\n" + kQuit});
        const Outcome o = runSession(server, AuthMethod::Plain, Action::Connect, "ann", "");
        QVERIFY2(!o.failed, qPrintable(o.description));
        QVERIFY2(server.finish(), qPrintable(server.report()));
    }

    void cramMd5WithAPasswordOver64Bytes() {
        const QByteArray challenge = "<12345.67890@fake.test>";
        const QByteArray password(100, 'p');
        // a key over one block is first replaced by its digest
        const QByteArray digest = *HmacMd5(challenge, *Md5(password));
        ScriptedServer server({QString(kGreeting) + kEhloLogin + "C: AUTH CRAM-MD5\nS: 334 " +
                               b64(challenge) + "\nC: " + b64("ann " + digest.toHex()) +
                               "\nS: 235 ok\n" + kQuit});
        const Outcome o = runSession(server, AuthMethod::CramMd5, Action::Connect, "ann",
                                     QString::fromLatin1(password));
        QVERIFY2(!o.failed, qPrintable(o.description));
        QVERIFY2(server.finish(), qPrintable(server.report()));
    }

    void ntlmExchange() {
        // a CHALLENGE message without a server time
        QByteArray challenge = QByteArray("NTLMSSP\0", 8) + QByteArray::fromHex("02000000");
        challenge += QByteArray::fromHex("000000003000000035828ae21122334455667788");
        challenge += QByteArray(8, '\0') + QByteArray::fromHex("0400040030000000");
        challenge += QByteArray::fromHex("00000000");
        ScriptedServer server({QString(kGreeting) +
                               "C: EHLO client.test\nS: 250-fake.test\nS: 250 AUTH NTLM LOGIN\n"
                               "C~ AUTH NTLM TlRMTVNTUAABAAAA[A-Za-z0-9+/=]+\nS: 334 " +
                               b64(challenge) +
                               "\nC~ TlRMTVNTUAADAAAA[A-Za-z0-9+/=]+\nS: 235 ok\n" + kQuit});
        CKTWSMTPConnection c(kHost);
        c.Connect("127.0.0.1", AuthMethod::Automatic, "OFFICE\\ann", "secret", server.port(),
                  ConnectionType::None);
        QCOMPARE(c.UsedAuthMethod(), AuthMethod::Ntlm);
        c.Disconnect(DisconnectMode::Graceful);
        QVERIFY2(server.finish(), qPrintable(server.report()));
    }

    void ntlmWithoutUserNameFailsWithoutSendingAnything() {
        ScriptedServer server({QString(kGreeting) + kEhloLogin + kQuit});
        const Outcome o = runSession(server, AuthMethod::Ntlm, Action::Connect, "", "");
        QVERIFY(o.failed);
        QCOMPARE(o.code, 516);
        QVERIFY2(server.finish(), qPrintable(server.report()));
    }

    void hostileServers_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("lastResponseStart");
        QTest::newRow("endless line without CR LF") << "Z: 50000000 x\n"
                                                    << "xxxxxxxx";
        QTest::newRow("reply of several megabytes")
            << "Z: 200000 220-aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\\r\\n\nS: 220 done\n"
            << "220-aaaa";
        QTest::newRow("binary greeting") << "R: \\x00\\x01\\x1b[2J garbage\\r\\n\nX"
                                         << "???[2J";
        // still trickling when the one-second limit for the whole reply ends the session; only
        // the first bytes, sent at once, need to have come by then
        QTest::newRow("binary trickle without line end")
            << "R: \\x01\\x02\n" + QString("W: 100\nR: \\x03\n").repeated(50) << "??";
    }
    void hostileServers() {
        QFETCH(QString, script);
        QFETCH(QString, lastResponseStart);
        ScriptedServer server({script});
        const Outcome o = runSession(server, AuthMethod::None, Action::Connect, "", "", 1000);
        QVERIFY(o.failed);
        QCOMPARE(o.code, 257);
        QVERIFY2(o.lastResponse.startsWith(lastResponseStart), qPrintable(o.lastResponse.left(80)));
        QVERIFY(o.lastResponse.size() < 10000);
        (void)server.finish(3000);
    }

    void notTlsWhereTlsIsExpected() {
        ScriptedServer server({QString(kGreeting) + "W: 500\n"});
        const Outcome o = runSession(server, AuthMethod::None, Action::Connect, "", "", 3000,
                                     ConnectionType::SslTls);
        QVERIFY(o.failed);
        QCOMPARE(o.code, 631);
        QVERIFY2(!o.lastResponse.isEmpty(), "the TLS library's reason is kept");
        (void)server.finish();
    }

    void starttlsNotOfferedNeverSendsThePassword() {
        ScriptedServer server({QString(kGreeting) + kEhloLogin + kQuit});
        const Outcome o = runSession(server, AuthMethod::Login, Action::Connect, "ann", "secret",
                                     3000, ConnectionType::StartTls);
        QVERIFY(o.failed);
        QCOMPARE(o.code, 626);
        QVERIFY2(server.finish(), qPrintable(server.report()));
        QVERIFY(!server.received(0).contains(b64("secret").toLatin1()));
    }

    void starttlsRefused() {
        ScriptedServer server({QString(kGreeting) +
                               "C: EHLO client.test\nS: 250-fake.test\nS: 250 STARTTLS\n"
                               "C: STARTTLS\nS: 454 TLS not available now\n" +
                               kQuit});
        const Outcome o = runSession(server, AuthMethod::None, Action::Connect, "", "", 3000,
                                     ConnectionType::StartTls);
        QCOMPARE(o.code, 627);
        QCOMPARE(o.lastResponse, QString("454 TLS not available now\r\n"));
        QVERIFY2(server.finish(), qPrintable(server.report()));
    }

    void cancelFromAnotherThreadEndsABlockedRead() {
        ScriptedServer server(
            {QString(kGreeting) + kHelo + "C: MAIL FROM:<ann@example.org>\nW: 4000\n"});
        CKTWSMTPConnection c(kHost);
        c.SetTimeout(30000);
        c.Connect("127.0.0.1", AuthMethod::None, "", "", server.port(), ConnectionType::None);
        // ECANCELED comes from the disconnect alone: the server's silence would end the read
        // with a reset, the timeout with ETIMEDOUT
        std::atomic<bool> returned{false};
        std::thread canceller([&] {
            while (!returned.load() && !server.received(0).contains("MAIL FROM"))
                std::this_thread::yield();
            c.Disconnect(DisconnectMode::NotGraceful);
        });
        int facility = 0;
        int code = 0;
        try {
            c.SendMessage(simpleMessage());
        } catch (const CKTWSMTPException& e) {
            facility = e.Facility();
            code = e.Code();
        }
        returned.store(true);
        canceller.join();
        QCOMPARE(facility, CKTWSMTPException::kFacilityWin32);
        QCOMPARE(code, ECANCELED);
        QVERIFY(!c.IsConnected());
        // a cancelled session does not go on talking
        QVERIFY_THROWS_EXCEPTION(CKTWSMTPException, c.SendMessage(simpleMessage()));
        (void)server.finish();
    }

    void cancelFromAnotherThreadEndsABlockedWrite() {
        // the server stops reading after DATA; megabytes of message fill every buffer
        ScriptedServer server({QString(kGreeting) + kHelo +
                               "C: MAIL FROM:<ann@example.org>\nS: 250 ok\n"
                               "C: RCPT TO:<bob@example.org>\nS: 250 ok\nC: DATA\nS: 354 go\n"
                               "W: 4000\n"});
        CKTWSMTPMessage m = simpleMessage();
        m.rootPart().setText(QString(20 * 1024 * 1024, QChar('a')));
        CKTWSMTPConnection c(kHost);
        // Neither the server's wait nor this timeout ends the write with ECANCELED (they end
        // it with a reset or ETIMEDOUT): only the abort does, whenever it comes.
        c.SetTimeout(30000);
        c.Connect("127.0.0.1", AuthMethod::None, "", "", server.port(), ConnectionType::None);
        std::atomic<bool> returned{false};
        std::thread canceller([&] {
            // once the data phase has begun, the write has the buffers to fill
            while (!returned.load() && !server.received(0).contains("DATA\r\n"))
                std::this_thread::yield();
            c.Abort();
        });
        int code = 0;
        try {
            c.SendMessage(m);
        } catch (const CKTWSMTPException& e) {
            code = e.Code();
        }
        returned.store(true);
        canceller.join();
        QCOMPARE(code, ECANCELED);
        QVERIFY(!c.IsConnected());
        (void)server.finish();
    }

    void cancelWhileIdleClosesAndNextConnectWorks() {
        const QString script = QString(kGreeting) + kHelo;
        ScriptedServer server({script, QString(kGreeting) + kHelo + kQuit});
        CKTWSMTPConnection c(kHost);
        c.Connect("127.0.0.1", AuthMethod::None, "", "", server.port(), ConnectionType::None);
        c.Abort();
        QVERIFY(!c.IsConnected());
        c.Connect("127.0.0.1", AuthMethod::None, "", "", server.port(), ConnectionType::None);
        c.Disconnect(DisconnectMode::Graceful);
        QVERIFY2(server.finish(), qPrintable(server.report()));
    }

    void wireLogHidesCredentials() {
        pw::test::TestEnv env;
        const QString log = env.root() + "wire.txt";
        qputenv("POSTWICK_SMTP_WIRE_LOG", log.toLocal8Bit());
        ScriptedServer server({QString(kGreeting) + kEhloLogin + "C: AUTH LOGIN\nS: 334 " +
                               b64("Username:") + "\nC: " + b64("ann") + "\nS: 334 " +
                               b64("Password:") + "\nC: " + b64("s3cr3t-pw") + "\nS: 235 ok\n" +
                               kQuit});
        const Outcome o =
            runSession(server, AuthMethod::Login, Action::Connect, "ann", "s3cr3t-pw");
        qunsetenv("POSTWICK_SMTP_WIRE_LOG");
        QVERIFY2(!o.failed, qPrintable(o.description));
        QVERIFY2(server.finish(), qPrintable(server.report()));
        const QByteArray text = pw::test::readFile(log);
        QVERIFY(text.contains("C: EHLO client.test\n"));
        QVERIFY(text.contains("S: 250 AUTH LOGIN PLAIN\n"));
        QVERIFY(text.contains("C: AUTH LOGIN\n"));
        QVERIFY(text.contains("C: QUIT\n"));
        QVERIFY(!text.contains("s3cr3t-pw"));
        QVERIFY(!text.contains(QByteArray("s3cr3t-pw").toBase64()));
        QVERIFY(!text.contains(QByteArray("ann").toBase64()));
        QCOMPARE(text.count("[credentials not logged]"), 2);
    }

    // The bearer mechanisms: which one is chosen, what goes on the wire (never the token in
    // the wire log), how a refused token's JSON challenge is answered, and the error it gives.
    void bearerTokens_data() {
        QTest::addColumn<QString>("offer");  // the EHLO reply's AUTH line
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("exchange");  // after EHLO, up to QUIT or the failure
        QTest::addColumn<int>("code");          // 0: connected
        QTest::addColumn<QString>("shown");     // in the failure's description
        const int automatic = static_cast<int>(AuthMethod::Automatic);
        const int oauth2 = static_cast<int>(AuthMethod::OAuth2);
        const QString x = "C: AUTH XOAUTH2 " +
                          b64(QByteArray("user=ann@example.org\x01"
                                         "auth=Bearer tok-9f3\x01\x01")) +
                          "\n";
        const QString ob = "C~ AUTH OAUTHBEARER [A-Za-z0-9+/=]+\n";
        const QString json = b64(
            "{\"status\":\"401\",\"schemes\":\"bearer\",\"scope\":\"https://mail.google.com/\"}");
        QTest::newRow("XOAUTH2 offered alone") << "250 AUTH LOGIN XOAUTH2" << oauth2 << "tok-9f3"
                                               << x + "S: 235 2.7.0 ok\n" + kQuit << 0 << "";
        QTest::newRow("OAUTHBEARER before XOAUTH2")
            << "250 AUTH XOAUTH2 OAUTHBEARER" << oauth2 << "tok-9f3" << ob + "S: 235 ok\n" + kQuit
            << 0 << "";
        QTest::newRow("automatic with a token takes it over LOGIN")
            << "250 AUTH LOGIN PLAIN XOAUTH2" << automatic << "tok-9f3" << x + "S: 235 ok\n" + kQuit
            << 0 << "";
        QTest::newRow("automatic without a token keeps the password")
            << "250 AUTH PLAIN XOAUTH2" << automatic << ""
            << "C: AUTH PLAIN\nS: 334 \nC: " + b64(QByteArray("\0ann@example.org\0secret", 23)) +
                   "\nS: 235 ok\n" + kQuit
            << 0 << "";
        QTest::newRow("XOAUTH2 challenge answered with an empty line")
            << "250 AUTH XOAUTH2" << oauth2 << "tok-9f3"
            << x + "S: 334 " + json + "\nC: \nS: 535 5.7.8 Username and Password not accepted\n" +
                   kQuit
            << 742 << "status 401, schemes bearer, scope https://mail.google.com/";
        QTest::newRow("OAUTHBEARER challenge answered with ^A")
            << "250 AUTH OAUTHBEARER" << oauth2 << "tok-9f3"
            << ob + "S: 334 " + b64("{\"status\":\"invalid_token\"}") + "\nC: AQ==\nS: 535 no\n" +
                   kQuit
            << 742 << "status invalid_token";
        QTest::newRow("535 at once") << "250 AUTH XOAUTH2" << oauth2 << "tok-9f3"
                                     << x + "S: 535 5.7.3 Authentication unsuccessful\n" + kQuit
                                     << 742 << "535 5.7.3 Authentication unsuccessful";
        QTest::newRow("temporary refusal")
            << "250 AUTH XOAUTH2" << oauth2 << "tok-9f3" << x + "S: 454 4.7.0 try later\n" + kQuit
            << 740 << "454 4.7.0 try later";
        QTest::newRow("no token: nothing sent")
            << "250 AUTH XOAUTH2" << oauth2 << "" << QString(kQuit) << 742 << "not signed in";
    }
    void bearerTokens() {
        QFETCH(QString, offer);
        QFETCH(int, method);
        QFETCH(QString, token);
        QFETCH(QString, exchange);
        QFETCH(int, code);
        QFETCH(QString, shown);
        pw::test::TestEnv env;
        const QString log = env.root() + "wire.txt";
        qputenv("POSTWICK_SMTP_WIRE_LOG", log.toLocal8Bit());
        const auto unset = qScopeGuard([] { qunsetenv("POSTWICK_SMTP_WIRE_LOG"); });
        ScriptedServer server({QString(kGreeting) + "C: EHLO client.test\nS: 250-fake.test\nS: " +
                               offer + "\n" + exchange});
        CKTWSMTPConnection c(kHost);
        c.SetBearerToken(token);
        int got = 0;
        QString description;
        try {
            c.Connect("127.0.0.1", static_cast<AuthMethod>(method), "ann@example.org", "secret",
                      server.port(), ConnectionType::None);
            c.Disconnect(DisconnectMode::Graceful);
        } catch (const CKTWSMTPException& e) {
            got = e.Code();
            description = e.Description();
        }
        QVERIFY2(server.finish(), qPrintable(server.report()));
        QCOMPARE(got, code);
        QVERIFY2(description.contains(shown), qPrintable(description));
        const QByteArray wire = pw::test::readFile(log);
        if (!token.isEmpty())
            QVERIFY(!wire.contains(token.toUtf8()));
        // the initial responses ("user=...", "n,a=...") stay out of it, encoded or not
        QVERIFY(!wire.contains("dXNlcj0") && !wire.contains("bixhPQ") && !wire.contains("Bearer"));
        if (exchange.contains("C: AUTH XOAUTH2") || exchange.contains("C~ AUTH OAUTHBEARER"))
            QVERIFY(wire.contains(" [credentials not logged]\n"));
    }

    void addressesAreTriedInOrder() {
        // a port where nothing listens, then the server
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        QVERIFY(::bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0);
        QVERIFY(getsockname(probe, reinterpret_cast<sockaddr*>(&a), &length) == 0);
        const quint16 deadPort = ntohs(a.sin_port);
        ::close(probe);

        ScriptedServer server({QString("S: 220 hi\n")});
        CWSocket s;
        s.ConnectAddresses({SocketAddress::FromLoopback(AF_INET, deadPort),
                            SocketAddress::FromLoopback(AF_INET, server.port())});
        QVERIFY(s.IsOpen());
        QVERIFY(s.IsReadable(2000));
        char buffer[16];
        QCOMPARE(s.Receive(buffer, sizeof buffer), 8L);
        s.Close();

        CWSocket dead;
        try {
            dead.ConnectAddresses({SocketAddress::FromLoopback(AF_INET, deadPort)});
            QFAIL("connected to a closed port");
        } catch (const CWSocketException& e) {
            QCOMPARE(e.code(), ECONNREFUSED);
        }
        QVERIFY2(server.finish(), qPrintable(server.report()));
    }

    void socketErrorsAreSystemErrorsWithoutResponse_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("backlogFull");
        QTest::addColumn<int>("code");  // 0: the resolver's
        QTest::newRow("refused") << "127.0.0.1" << false << ECONNREFUSED;
        QTest::newRow("unknown host") << "no-such-host.invalid" << false << 0;
        // a connect that is never answered ends by its deadline, on a clock that runs an hour
        // per reading (a connect that went through would end at the greeting, with 257)
        QTest::newRow("connect never answered") << "127.0.0.1" << true << ETIMEDOUT;
    }
    void socketErrorsAreSystemErrorsWithoutResponse() {
        QFETCH(QString, host);
        QFETCH(bool, backlogFull);
        QFETCH(int, code);
        std::optional<FullBacklog> listener;
        CKTWSMTPConnection c(kHost);
        c.SetTimeout(3600 * 1000);
        if (backlogFull) {
            listener.emplace();
            QVERIFY(listener->port() != 0);
            auto hours = std::make_shared<int>(0);
            c.SetClock([hours] {
                return std::chrono::steady_clock::now() + std::chrono::hours(++*hours);
            });
        }
        try {
            c.Connect(host, AuthMethod::None, "", "", listener ? listener->port() : 1,
                      ConnectionType::None);
            QFAIL("connected");
        } catch (const CKTWSMTPException& e) {
            QCOMPARE(e.Facility(), CKTWSMTPException::kFacilityWin32);
            QVERIFY(e.LastResponse().isEmpty());
            QVERIFY(!e.Description().isEmpty());
            if (code == 0) {
                QVERIFY(e.Code() > CWSocketException::kResolverErrorBase);
            } else {
                QCOMPARE(e.Code(), code);
            }
        }
        QVERIFY(!c.IsConnected());
    }

    void exceptionLayoutAndTexts() {
        const auto e = CKTWSMTPException::FromMessage(261, "550 50% off, %2 too\r\n");
        QCOMPARE(e.Error(), 0x80040000u | 261u);
        QCOMPARE(e.Facility(), 4);
        QCOMPARE(e.Code(), 261);
        QCOMPARE(e.Description(),
                 QString("Unexpected MAIL FROM response, Last Response: 550 50% off, %2 too\r\n"));
        QCOMPARE(CKTWSMTPException::FromSystemError(ECONNREFUSED).Error(),
                 0x80070000u | static_cast<unsigned>(ECONNREFUSED));
        setTextLanguage(TextLanguage::Japanese);
        const QString ja = e.Description();
        setTextLanguage(TextLanguage::English);
        QVERIFY(ja.contains(QString::fromUtf8("MAIL FROMの応答")));
        QVERIFY(ja.contains("550 50% off"));
    }

    void everyErrorHasBothTexts() {
        QList<int> ids = {257, 258, 259, 260, 261, 262, 266, 270, 516, 517, 740, 741, 742};
        for (int i = 271; i <= 279; ++i) {
            ids.append(i);
        }
        for (int i = 625; i <= 632; ++i) {
            ids.append(i);
        }
        for (int id : ids) {
            setTextLanguage(TextLanguage::English);
            const QString en = smtpText(id);
            setTextLanguage(TextLanguage::Japanese);
            const QString ja = smtpText(id);
            QVERIFY2(!en.isEmpty() && !ja.isEmpty() && en != ja, qPrintable(QString::number(id)));
            QVERIFY2(en.contains("%1") && ja.contains("%1"), qPrintable(QString::number(id)));
        }
        setTextLanguage(TextLanguage::English);
        QCOMPARE(smtpTextIds().size(), ids.size());
    }
};

QTEST_GUILESS_MAIN(TestSmtpSession)
#include "test_smtp_session.moc"
