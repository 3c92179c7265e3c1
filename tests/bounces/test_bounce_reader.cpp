#include "bounces/BounceReport.h"
#include "bounces/ReadBouncesCommand.h"
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
QByteArray postfixReport(const QString& rcpt, const QString& returnedHeaders) {
    return QStringLiteral(
               "From: MAILER-DAEMON@mx.example.jp\r\nTo: shop@example.jp\r\n"
               "Subject: Undelivered Mail Returned to Sender\r\nMIME-Version: 1.0\r\n"
               "Content-Type: multipart/report; report-type=delivery-status; boundary=\"B\"\r\n\r\n"
               "--B\r\nContent-Type: text/plain\r\n\r\n<%1>: host mx.example.net said: 550 5.1.1 "
               "<%1>: Recipient address rejected: User unknown in virtual mailbox table\r\n"
               "--B\r\nContent-Type: message/delivery-status\r\n\r\nReporting-MTA: dns; mx\r\n\r\n"
               "Final-Recipient: rfc822; %1\r\nAction: failed\r\nStatus: 5.1.1\r\n"
               "Diagnostic-Code: smtp; 550 5.1.1 <%1>: Recipient address rejected: User unknown\r\n"
               "--B\r\nContent-Type: text/rfc822-headers\r\n\r\n%2\r\n--B--\r\n")
        .arg(rcpt, returnedHeaders)
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
    QTest::newRow("SES delivery notice")
        << "lhost-amazonses-13.eml" << 1 << "complaint@simulator.amazonses.com"
        << "2.6.0"
        << "delivered"
        << "delivered";
}

void TestBounceReader::corpus() {
    QFETCH(QString, file);
    QFETCH(int, index);
    const BounceReport report = readReport(dataFile(file));
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
                          mbox + "\t1\tkijitora@example.com\t\tcomplaint\tfeedback",
                          mbox + "\t2\tsabatora@example.net\t\tcomplaint\tfeedback",
                          plain + "\t0\t\t\t\t"}));
    QVERIFY(err.contains(folder.filePath("none")));
    QCOMPARE(runReadBounces({"--read-bounces"}, o, e), ReadBouncesExit::Unusable);
}

QTEST_GUILESS_MAIN(TestBounceReader)
#include "test_bounce_reader.moc"
