#include "bounces/BounceBook.h"
#include "bounces/BounceListModel.h"
#include "bounces/BounceReport.h"
#include "bounces/MailboxRun.h"
#include "bounces/ReadBouncesCommand.h"
#include "db/SuppressionList.h"
#include "send/MailSendThread.h"
#include "send/Tracking.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace pw::bounces;

namespace {

QByteArray dataFile(const QString& name) {
    QFile f(QStringLiteral(POSTWICK_TEST_DATA "/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A Postfix report on one recipient, returning the headers of the message it bounced.
QByteArray postfixReport(const QString& rcpt, const QString& returnedHeaders,
                         const QString& status = "5.1.1", const QString& words = "User unknown",
                         const QString& date = "Thu, 10 Dec 2026 12:00:00 +0900") {
    return QStringLiteral(
               "From: MAILER-DAEMON@mx.example.jp\r\nTo: shop@example.jp\r\nDate: %5\r\n"
               "Subject: Undelivered Mail Returned to Sender\r\nMIME-Version: 1.0\r\n"
               "Content-Type: multipart/report; report-type=delivery-status; boundary=\"B\"\r\n\r\n"
               "--B\r\nContent-Type: text/plain\r\n\r\n<%1>: host mx.example.net said: 550 %3 "
               "<%1>: %4\r\n"
               "--B\r\nContent-Type: message/delivery-status\r\n\r\nReporting-MTA: dns; mx\r\n\r\n"
               "Final-Recipient: rfc822; %1\r\nAction: failed\r\nStatus: %3\r\n"
               "Diagnostic-Code: smtp; 550 %3 <%1>: %4\r\n"
               "--B\r\nContent-Type: text/rfc822-headers\r\n\r\n%2\r\n--B--\r\n")
        .arg(rcpt, returnedHeaders, status, words, date)
        .toUtf8();
}

// One message of a mailbox as a step of the acting rows: "<what> <identifier> <run> <days
// ago>", what = hard, soft, complaint, auto or unsubscribe, identifier = valid (for the
// recipient), other (another address's) or none.
QByteArray stepMail(const QString& step, const QByteArray& key, const QDateTime& now) {
    const QStringList p = step.split(' ');
    const QString rcpt = "taro@example.net";
    const pw::send::RunTracking run{key, p[2].repeated(16).left(16)};
    const QString id = p[1] == "valid"   ? pw::send::trackingId(run, rcpt)
                       : p[1] == "other" ? pw::send::trackingId(run, "hanako@example.net")
                                         : QString();
    const QString headers =
        id.isEmpty() ? "To: " + rcpt : "X-Postwick-ID: " + id + "\r\nTo: " + rcpt;
    const QString date = now.addDays(-p[3].toInt()).toString(Qt::RFC2822Date);
    if (p[0] == "hard")
        return postfixReport(rcpt, headers, "5.1.1", "User unknown", date);
    if (p[0] == "soft")
        return postfixReport(rcpt, headers, "4.2.2", "Mailbox full", date);
    if (p[0] == "complaint")
        return QStringLiteral(
                   "From: fbl@isp.example\r\nTo: shop@example.jp\r\nDate: %3\r\nSubject: FBL\r\n"
                   "MIME-Version: 1.0\r\nContent-Type: multipart/report; "
                   "report-type=feedback-report;"
                   " boundary=\"B\"\r\n\r\n--B\r\nContent-Type: text/plain\r\n\r\nspam\r\n--B\r\n"
                   "Content-Type: message/feedback-report\r\n\r\nFeedback-Type: abuse\r\nVersion: "
                   "1\r\n"
                   "Original-Rcpt-To: %1\r\n\r\n--B\r\nContent-Type: "
                   "text/rfc822-headers\r\n\r\n%2\r\n"
                   "--B--\r\n")
            .arg(rcpt, headers, date)
            .toUtf8();
    if (p[0] == "auto")  // RFC 3834 answers in reply to our Message-ID
        return ("From: " + rcpt + "\r\nTo: shop@example.jp\r\nDate: " + date +
                "\r\nSubject: Out of office\r\nAuto-Submitted: auto-replied\r\nIn-Reply-To: <1." +
                id + "@smtp.example.jp>\r\n\r\nAway.\r\n")
            .toUtf8();
    // the List-Unsubscribe mailto link's subject, sent by the address itself or by another
    return ("From: " + (p[1] == "other" ? QString("hanako@example.net") : rcpt) +
            "\r\nTo: leave@example.jp\r\nDate: " + date + "\r\nSubject: unsubscribe " + rcpt +
            "\r\n\r\n\r\n")
        .toUtf8();
}

}  // namespace

class TestBounceReader : public QObject {
    Q_OBJECT
private slots:
    void corpus_data();
    void corpus();
    void tracking();
    void commandLine();
    void acting_data();
    void acting();
    void refusals_data();
    void refusals();
};

void TestBounceReader::corpus_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("recipient");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("Sendmail DSN, unknown user")
        << "lhost-sendmail-01.eml" << 1 << "userunknown@bouncehammer.jp"
        << "5.1.1"
        << "hard"
        << "userunknown";
    QTest::newRow("qmail text, code only in '#5.5.0'")
        << "lhost-qmail-01.eml" << 1 << "kijitora@example.ne.jp"
        << "5.5.0"
        << "hard"
        << "userunknown";
    QTest::newRow("Exim text") << "lhost-exim-05.eml" << 1 << "kijitora@neko.example.co.jp"
                               << "5.1.1"
                               << "hard"
                               << "userunknown";
    QTest::newRow("SES: 5.0.0 in the DSN, the mailbox's code quoted")
        << "lhost-amazonses-03.eml" << 1 << "kijitora@example.jp"
        << "5.2.2"
        << "soft"
        << "mailboxfull";
    QTest::newRow("GMX: two recipients, two reasons, first")
        << "lhost-gmx-03.eml" << 1 << "mikeneko@example.co.jp"
        << "5.2.1"
        << "hard"
        << "userunknown";
    QTest::newRow("GMX: two recipients, two reasons, second")
        << "lhost-gmx-03.eml" << 2 << "sabineko@example.co.jp"
        << "5.2.2"
        << "soft"
        << "mailboxfull";
    QTest::newRow("docomo's 'unknown user' is its filter")
        << "rhost-nttdocomo-01.eml" << 1 << "azumakuniyuki@ntt.docomo.example.ne.jp"
        << "5.2.0"
        << "soft"
        << "filtered";
    QTest::newRow("expired, the last server's code")
        << "lhost-amazonworkmail-07.eml" << 1 << "kijitora@libsisimai.org"
        << "4.4.2"
        << "soft"
        << "expired";
    QTest::newRow("ARF complaint, second of two recipients")
        << "arf-17.eml" << 2 << "sabatora@example.net"
        << ""
        << "complaint"
        << "feedback";
    QTest::newRow("RFC 3834 vacation reply") << "rfc3834-01.eml" << 1 << "kijitora@example.net"
                                             << ""
                                             << "auto-reply"
                                             << "vacation";
    QTest::newRow("'Unknown user' in reply to DATA is a filter")
        << "lhost-sendmail-19.eml" << 1 << "kijitora@ntt.example.ne.jp"
        << "5.2.0"
        << "soft"
        << "filtered";
    QTest::newRow("pipelined: the RCPT's refusal after DATA")
        << "lhost-sendmail-27.eml" << 1 << "this-local-part-does-not-exist-on-the-system@mineo.jp"
        << "5.0.0"
        << "hard"
        << "userunknown";
    QTest::newRow("text report, the code beside the address")
        << "lhost-x3-03.eml" << 1 << "kijitora@example.co.jp"
        << "5.3.0"
        << "hard"
        << "userunknown";
    QTest::newRow("SES delivery notice")
        << "lhost-amazonses-13.eml" << 1 << "complaint@simulator.amazonses.com"
        << "2.6.0"
        << "delivered"
        << "delivered";
    QTest::newRow("junk report with no report part, the reporter in a header")
        << "arf-22.eml" << 1 << "kijitora@example.com"
        << ""
        << "complaint"
        << "feedback";
    QTest::newRow("Gmail's 'rejected by the recipient domain' is no unknown host")
        << "lhost-gmail-18.eml" << 1 << "kijitora@example.or.jp"
        << "5.1.1"
        << "hard"
        << "userunknown";
    QTest::newRow("x.y.0 says nothing: the transcript's words do")
        << "rfc3464-06.eml" << 1 << "kijitora@example.net"
        << "5.5.0"
        << "hard"
        << "userunknown";
    QTest::newRow("one recipient, its lines say no reason: the transcript does")
        << "lhost-sendmail-18.eml" << 1 << "kijitora@example.jp"
        << "5.0.0"
        << "soft"
        << "mailererror";
    QTest::newRow("one recipient, the code lines away from the address")
        << "lhost-mailmarshal-02.eml" << 1 << "kijitora@nyaan.example.com"
        << "5.1.1"
        << "hard"
        << "userunknown";
    // synthetic reports on taro@example.net: the message itself in place of a file
    const auto row = [](const char* name, const QString& message, const char* status,
                        const char* kind, const char* reason,
                        const char* who = "taro@example.net") {
        QTest::newRow(name) << message << 1 << who << status << kind << reason;
    };
    const auto text = [](const QString& body) {
        return "From: MAILER-DAEMON@mx.example.jp\r\nTo: shop@example.jp\r\n\r\n" + body + "\r\n";
    };
    const QString said =
        "<taro@example.net>:\r\nhost mx said: 550 <taro@example.net>: User unknown";
    const QString rcpt = "taro@example.net", exim = "  taro@example.net\r\n  SMTP error from ";
    row("bare 'unknown user', no code, no RCPT: a filter's", text(said), "5.0.910", "soft",
        "filtered");
    row("the same in reply to RCPT", text(said + " (in reply to RCPT TO command)"), "5.0.911",
        "hard", "userunknown");
    row("our HELO name refused",
        text("<taro@example.net>:\r\nConnected to 192.0.2.1 but my name was rejected.\r\nRemote "
             "host said: 501 5.0.0 Invalid domain name"),
        "5.0.0", "soft", "blocked");
    row("a blocklist outweighs the MAIL FROM step",
        text(exim + "remote mail server after MAIL FROM:<a@b.jp>:\r\n  550 IP on our block list"),
        "5.0.971", "soft", "blocked");
    row("refused at the greeting",
        text(exim + "remote mail server after initial connection:\r\n  554 Service unavailable"),
        "5.0.971", "soft", "blocked");
    row("Gmail gave up connecting",
        text("Delivery to the following recipient failed permanently:\r\n     taro@example.net\r\n"
             "The recipient server did not accept our requests to connect."),
        "5.0.947", "soft", "expired");
    row("only the sender's address begins a line",
        text(
            "To: shop@example.jp\r\n\r\nundeliverable to taro@example.net\r\n\r\n552 Mailbox full"),
        "5.0.922", "soft", "mailboxfull");
    row("a local program failed",
        text("Final-Recipient: rfc822; taro@example.net\r\nX-Actual-Recipient: rfc822; "
             "|/usr/bin/procmail\r\nAction: failed\r\nStatus: 5.0.0\r\nDiagnostic-Code: smtp; 554 "
             "Service unavailable"),
        "5.0.0", "soft", "mailererror");
    row("Postfix's label gives way to the words after it",
        postfixReport(rcpt, "To: " + rcpt, "5.3.0", "Recipient address rejected: Mailer error"),
        "5.3.0", "soft", "mailererror");
    row("Microsoft's 5.4.1 edge blocking",
        postfixReport(rcpt, "To: " + rcpt, "5.4.1", "Recipient address rejected: Access denied"),
        "5.4.1", "hard", "userunknown");
    for (const auto& [name, words, status, kind, reason] :
         std::initializer_list<std::array<const char*, 5>>{
             {"DNS", "550 5.4.4 SERVFAIL", "5.4.4", "soft", "networkerror"},
             {"prefs", "5.1.1 Refused due to recipient preferences", "5.1.1", "soft", "filtered"},
             {"TLS", "500 Remote server does not support TLS", "5.0.976", "soft", "failedstarttls"},
             {"temporary", "failed permanently: 421 timed out", "4.0.947", "soft", "expired"},
             {"queue", "421 Cannot send message for 5 days", "4.0.947", "soft", "expired"},
             {"act", "Final-Recipient: taro@example.net\r\nAction: expired", "5.0.947", "soft",
              "expired"}})
        row(name, text(rcpt + ":\r\n" + words), status, kind, reason);
    row("Sendmail's next host",
        text("554 <taro@example.net>... Connection reset\r\n550 a.example (smtp)... Host unknown"),
        "5.0.0", "soft", "networkerror");
    row("Sendmail's dialogue",
        text("<<< 550 Insecure Mail Relay\r\n554 <taro@example.net>... Connection reset"),
        "5.0.971", "soft", "blocked");
    row("a local part that begins with 'user'",
        text("userx@example.net: 550 5.1.1 User unknown\r\ntaro@example.net: 552 5.2.2 Full"),
        "5.1.1", "hard", "userunknown", "userx@example.net");
    row("Apple Mail's opt-out",
        "From: taro@example.net\r\nSubject: unsubscribe\r\nX-Apple-Unsubscribe: true\r\n\r\nBye.",
        "", "complaint", "feedback");
}

void TestBounceReader::corpus() {
    QFETCH(QString, file);
    QFETCH(int, index);
    const BounceReport report = readReport(file.contains('\n') ? file.toUtf8() : dataFile(file));
    QVERIFY2(int(report.recipients.size()) >= index, qPrintable(file));
    const RecipientOutcome& r = report.recipients[size_t(index - 1)];
    QTEST(r.recipient, "recipient");
    QTEST(r.status, "status");
    QTEST(kindName(r.kind), "kind");
    QTEST(r.reason, "reason");
}

void TestBounceReader::tracking() {
    QTemporaryDir folder;
    const QByteArray key = pw::send::trackingKey(folder.path());
    QCOMPARE(key.size(), 32);
    QCOMPARE(pw::send::trackingKey(folder.path()), key);  // made once, then kept
    const pw::send::RunTracking run{key, pw::send::newRunId()};
    const QString id = pw::send::trackingId(run, "taro@example.net");

    // returned in the header of our own, and only in the Message-ID
    for (const QString& headers : {"X-Postwick-ID: " + id + "\r\nTo: taro@example.net",
                                   "Message-ID: <20260101." + id + "@smtp.example.jp>"}) {
        BounceReport report = readReport(postfixReport("taro@example.net", headers));
        QCOMPARE(report.trackingIds, QStringList{id});
        traceRecipients(report, key);
        QCOMPARE(report.recipients.at(0).runId, run.runId);
    }
    // forged: a list address with another address's identifier, or one made up
    const QString madeUp = "pw1-" + run.runId + "-" + QString(32, QLatin1Char('a'));
    for (const QString& forged : {id, madeUp}) {
        BounceReport report =
            readReport(postfixReport("hanako@example.net", "X-Postwick-ID: " + forged));
        traceRecipients(report, key);
        QCOMPARE(report.recipients.at(0).kind, BounceKind::Hard);
        QVERIFY(report.recipients.at(0).runId.isEmpty());
    }
}

void TestBounceReader::commandLine() {
    QTemporaryDir folder;
    const QString mbox = folder.filePath("box.mbox");
    const QString plain = folder.filePath("plain.eml");
    QFile m(mbox);
    QVERIFY(m.open(QIODevice::WriteOnly));
    m.write("From MAILER-DAEMON Thu Jan  1 00:00:00 2026\n" + dataFile("lhost-qmail-01.eml") +
            "\nFrom x Thu Jan  1 00:00:00 2026\n" + dataFile("arf-17.eml"));
    m.close();
    QFile p(plain);
    QVERIFY(p.open(QIODevice::WriteOnly));
    p.write("From: friend@example.net\nTo: shop@example.jp\nSubject: hello\n\nSee you.\n");
    p.close();
    QString out, err;
    QTextStream o(&out), e(&err);
    QCOMPARE(runReadBounces({"--read-bounces", mbox, plain, folder.filePath("none")}, o, e),
             ReadBouncesExit::WithErrors);
    QCOMPARE(out.split('\n', Qt::SkipEmptyParts),
             QStringList({mbox + "\t1\tkijitora@example.ne.jp\t5.5.0\thard\tuserunknown",
                          mbox + "\t2\tkijitora@example.com\t\tcomplaint\tfeedback",
                          mbox + "\t3\tsabatora@example.net\t\tcomplaint\tfeedback",
                          plain + "\t0\t\t\t\t"}));
    QVERIFY(err.contains(folder.filePath("none")));
    QCOMPARE(runReadBounces({"--read-bounces"}, o, e), ReadBouncesExit::Unusable);
}

void TestBounceReader::acting_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("action");  // of the last step
    QTest::addColumn<bool>("suppressed");
    QTest::addColumn<int>("soft");
    QTest::newRow("hard") << QStringList{"hard valid a 0"} << "suppressed" << true << 0;
    QTest::newRow("hard, another address's identifier")
        << QStringList{"hard other a 0"} << "unproven" << false << 0;
    QTest::newRow("hard, no identifier")
        << QStringList{"hard none a 0"} << "unproven" << false << 0;
    QTest::newRow("complaint") << QStringList{"complaint valid a 0"} << "suppressed" << true << 0;
    QTest::newRow("auto-reply") << QStringList{"auto valid a 0"} << "no-failure" << false << 0;
    QTest::newRow("soft, two runs")
        << QStringList{"soft valid a 2", "soft valid b 0"} << "counted" << false << 2;
    QTest::newRow("soft, three runs")
        << QStringList{"soft valid a 20", "soft valid b 9", "soft valid c 0"} << "suppressed"
        << true << 3;
    QTest::newRow("soft, three times one run")
        << QStringList{"soft valid a 2", "soft valid a 1", "soft valid a 0"} << "counted" << false
        << 1;
    QTest::newRow("soft, the first too old")
        << QStringList{"soft valid a 45", "soft valid b 9", "soft valid c 0"} << "counted" << false
        << 2;
    QTest::newRow("refused at RCPT while sending")
        << QStringList{"refusal valid a 0"} << "suppressed" << true << 0;
    QTest::newRow("unsubscribe by the address")
        << QStringList{"unsubscribe none a 0"} << "suppressed" << true << 0;
    QTest::newRow("unsubscribe of someone else")
        << QStringList{"unsubscribe other a 0"} << "unrecognised" << false << 0;
}

void TestBounceReader::acting() {
    QFETCH(QStringList, steps);
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    const QByteArray key = pw::send::trackingKey(folder);
    pw::db::CSuppressionList list(folder);
    const QDateTime now(QDate(2026, 12, 10), QTime(12, 0));
    const QString rcpt = "taro@example.net";
    {
        CBounceBook book(folder);
        QVERIFY(book.load());
        Applied last;
        for (const QString& step : steps) {
            // a refusal at RCPT while sending counts as the bounce it would have become
            const BounceReport report =
                step.startsWith("refusal")
                    ? refusalReport(rcpt,
                                    "550 5.1.1 <" + rcpt +
                                        ">: Recipient address rejected: "
                                        "User unknown in virtual mailbox table",
                                    pw::send::trackingId({key, QString(16, 'a')}, rcpt), now)
                    : readReport(stepMail(step, key, now));
            last = book.apply(report, key, list, now);
            QCOMPARE(last.list, Applied::List::Written);
        }
        QCOMPARE(int(last.decisions.size()), 1);
        QTEST(QString(ActionName(last.decisions[0].action)), "action");
        QCOMPARE(book.save(), BookSaved::Saved);
    }
    CBounceBook book(folder);  // what was decided survives the program
    QVERIFY(book.load());
    QCOMPARE(int(book.decisions().size()), int(steps.size()));
    QTEST(book.softCount(rcpt, now), "soft");
    QHash<QString, QString> reasons;
    (void)list.ReadReasons(reasons);
    QTEST(reasons.contains(rcpt), "suppressed");
    QVERIFY(!reasons.contains("hanako@example.net"));
    // the editor's note counts what was acted on, with the last code
    QFETCH(QString, action);
    const QString note = bounceNote(book, rcpt);
    QCOMPARE(note.isEmpty(), action != "suppressed" && action != "counted");
    QVERIFY2(note.isEmpty() || note.startsWith(QString("Bounces: %1").arg(steps.size())),
             qPrintable(note));
    QVERIFY(book.undo(rcpt, list));  // the address leaves the list and starts again
    reasons.clear();
    (void)list.ReadReasons(reasons);
    QVERIFY(!reasons.contains(rcpt));
    QCOMPARE(book.softCount(rcpt, now), 0);
    QVERIFY(bounceNote(book, rcpt).isEmpty());
}

void TestBounceReader::refusals_data() {
    QTest::addColumn<QString>("addresses");  // of the refused mail
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QStringList>("suppressed");
    QTest::addColumn<int>("counted");
    QTest::newRow("unknown at RCPT")
        << "Taro <taro@example.net>"
        << "550 5.1.1 <taro@example.net>: User unknown" << QStringList{"taro@example.net"} << 0;
    QTest::newRow("full mailbox: counted") << "taro@example.net"
                                           << "552 5.2.2 Mailbox full" << QStringList{} << 1;
    QTest::newRow("two recipients, the reply names one")
        << "taro@example.net, hanako@example.net"
        << "550 5.1.1 <hanako@example.net>: User unknown" << QStringList{"hanako@example.net"} << 0;
    QTest::newRow("two recipients, the reply names none")
        << "taro@example.net, hanako@example.net"
        << "550 5.1.1 User unknown" << QStringList{} << 0;
}

void TestBounceReader::refusals() {
    QFETCH(QString, addresses);
    QFETCH(QString, reply);
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    const QString runId = pw::send::newRunId();
    const MailboxRunResult r = countRefusals({{addresses, reply}}, runId, folder, {});
    QCOMPARE(r.outcome, MailboxRunOutcome::Done);
    QTEST(r.summary.counted, "counted");
    QHash<QString, QString> reasons;
    (void)pw::db::CSuppressionList(folder).ReadReasons(reasons);
    QTEST(reasons.keys(), "suppressed");
    CBounceBook book(folder);  // the window lists them with the run and the reply
    QVERIFY(book.load());
    for (const BounceDecision& d : book.decisions()) {
        QCOMPARE(d.runId, runId);
        QVERIFY(d.report.contains(reply));
    }
}

QTEST_GUILESS_MAIN(TestBounceReader)
#include "test_bounce_reader.moc"
