// The mailbox read against a real Dovecot on loopback (IMAP and POP3), started with a
// configuration of its own over a maildir the test fills.
#include "bounces/BounceBook.h"
#include "bounces/MailboxRun.h"
#include "db/HistoryStore.h"
#include "db/SuppressionList.h"
#include "send/Tracking.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using namespace pw::bounces;

namespace {

int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

bool accepts(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

QByteArray report(const QString& rcpt, const QString& id, const QString& status,
                  const QString& words) {
    return QStringLiteral(
               "From: MAILER-DAEMON@mx.example.jp\nTo: shop@example.jp\n"
               "Date: Thu, 10 Dec 2026 12:00:00 +0900\nSubject: Undelivered Mail\n"
               "MIME-Version: 1.0\nContent-Type: multipart/report; "
               "report-type=delivery-status; boundary=\"B\"\n\n--B\n"
               "Content-Type: message/delivery-status\n\nReporting-MTA: dns; mx\n\n"
               "Final-Recipient: rfc822; %1\nAction: failed\nStatus: %2\n"
               "Diagnostic-Code: smtp; 550 %2 %3\n--B\n"
               "Content-Type: text/rfc822-headers\n\nX-Postwick-ID: %4\nTo: %1\n--B--\n")
        .arg(rcpt, status, words, id)
        .toUtf8();
}

}  // namespace

class TestBounceMailbox : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void reading_data();
    void reading();

private:
    void put(const QString& name, const QByteArray& mail);
    QTemporaryDir m_dir;
    QProcess m_dovecot;
    int m_imap = 0;
    int m_pop3 = 0;
    QString m_maildir;
};

void TestBounceMailbox::initTestCase() {
    if (!QFile::exists("/usr/sbin/dovecot"))
        QSKIP("Dovecot is not installed");
    const QString d = m_dir.path();
    // Dovecot's own users read the password file and the mail below it
    QVERIFY(QFile::setPermissions(d, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                         QFile::ExeGroup | QFile::ExeOther));
    m_maildir = d + "/mail/taro/";
    for (const char* sub : {"run", "state", "mail/taro/new", "mail/taro/cur", "mail/taro/tmp"})
        QVERIFY(QDir().mkpath(d + "/" + sub));
    QFile users(d + "/users");
    QVERIFY(users.open(QIODevice::WriteOnly));
    users.write("taro:{PLAIN}secret\n");
    users.close();
    // Dovecot refuses to give mail to root: as root the mail belongs to nobody
    const bool root = ::geteuid() == 0;
    const QString owner =
        root ? "uid=65534 gid=65534" : QString("uid=%1 gid=%2").arg(::getuid()).arg(::getgid());
    m_imap = freePort();
    m_pop3 = freePort();
    QFile conf(d + "/dovecot.conf");
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(
        QStringLiteral(
            "base_dir = %1/run\nstate_dir = %1/state\nlog_path = %1/dovecot.log\n"
            "protocols = imap pop3\nlisten = 127.0.0.1\nssl = no\n"
            "disable_plaintext_auth = no\nauth_mechanisms = plain\n"
            "mail_location = maildir:%1/mail/%u\n"
            "passdb {\n driver = passwd-file\n args = scheme=PLAIN username_format=%u %1/users\n}\n"
            "userdb {\n driver = static\n args = %2 home=%1/mail/%u\n}\n"
            "service imap-login {\n chroot =\n inet_listener imap {\n port = %3\n }\n}\n"
            "service pop3-login {\n chroot =\n inet_listener pop3 {\n port = %4\n }\n}\n"
            "service anvil {\n chroot =\n}\n")
            .arg(d, owner)
            .arg(m_imap)
            .arg(m_pop3)
            .toUtf8());
    conf.close();
    if (root)
        QCOMPARE(QProcess::execute("chown", {"-R", "65534:65534", d + "/mail"}), 0);
    m_dovecot.start("/usr/sbin/dovecot", {"-F", "-c", d + "/dovecot.conf"});
    QVERIFY(m_dovecot.waitForStarted());
    // ready when both listeners accept (the process ends at once when the setup is wrong)
    for (int i = 0; i < 500 && !(accepts(m_imap) && accepts(m_pop3)); ++i) {
        QVERIFY2(m_dovecot.state() == QProcess::Running, m_dovecot.readAllStandardError());
        QThread::msleep(10);
    }
    QVERIFY(accepts(m_imap) && accepts(m_pop3));
}

void TestBounceMailbox::cleanupTestCase() {
    if (m_dovecot.state() == QProcess::Running) {
        m_dovecot.terminate();
        m_dovecot.waitForFinished();
    }
}

void TestBounceMailbox::put(const QString& name, const QByteArray& mail) {
    QFile f(m_maildir + "new/" + name);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(mail);
    f.close();
    if (::geteuid() == 0)
        QCOMPARE(QProcess::execute("chown", {"65534:65534", f.fileName()}), 0);
}

void TestBounceMailbox::reading_data() {
    QTest::addColumn<bool>("imap");
    QTest::newRow("IMAP") << true;
    QTest::newRow("POP3") << false;
}

void TestBounceMailbox::reading() {
    QFETCH(bool, imap);
    QTemporaryDir user;
    const QString folder = user.path() + "/";
    const QByteArray key = pw::send::trackingKey(folder);
    const pw::send::RunTracking run{key, pw::send::newRunId()};
    const QString tag = imap ? "i" : "p";  // both rows share the mailbox
    auto rcpt = [&](const char* name) { return QString(name) + "-" + tag + "@example.net"; };
    const QByteArray unrelated =
        "From: friend@example.org\nTo: taro@example.jp\nSubject: lunch\n"
        "Message-ID: <lunch-" +
        tag.toUtf8() + "@example.org>\n\nAt noon?\n";
    put(tag + "1.host",
        report(rcpt("kaori"), pw::send::trackingId(run, rcpt("kaori")), "5.1.1", "User unknown"));
    put(tag + "2.host",
        report(rcpt("jiro"), pw::send::trackingId(run, rcpt("jiro")), "4.2.2", "Mailbox full"));
    put(tag + "3.host", "From: " + rcpt("saburo").toUtf8() +
                            "\nTo: shop@example.jp\nSubject: Out of office\nAuto-Submitted: "
                            "auto-replied\nIn-Reply-To: <1." +
                            pw::send::trackingId(run, rcpt("saburo")).toUtf8() + "@x>\n\nAway.\n");
    // forged: a list address with the identifier of another
    put(tag + "4.host",
        report(rcpt("hanako"), pw::send::trackingId(run, rcpt("kaori")), "5.1.1", "User unknown"));
    put(tag + "5.host", unrelated);

    // the run as the history keeps it: the reports attach to its recipients
    pw::db::CHistoryStore history(folder);
    int campaign = 0;
    {
        const auto writer = history.OpenWriter();
        QVERIFY(writer);
        pw::db::CampaignStart start;
        start.runId = run.runId;
        campaign = writer->BeginCampaign(start);
        std::vector<pw::db::HistoryRecipient> rows;
        for (const char* name : {"kaori", "jiro", "saburo", "hanako"}) {
            pw::db::HistoryRecipient r;
            r.position = int(rows.size()) + 1;
            r.address = rcpt(name);
            rows.push_back(r);
        }
        QVERIFY(writer->AddRecipients(campaign, rows));
        QVERIFY(writer->EndCampaign(campaign, pw::db::CampaignEnd::Completed, 1));
    }

    MailboxAccount account;
    account.protocol = imap ? MailboxProtocol::Imap : MailboxProtocol::Pop3;
    account.security = MailboxSecurity::Plain;
    account.host = "127.0.0.1";
    account.port = imap ? m_imap : m_pop3;
    account.user = "taro";
    account.password = "secret";
    // the POP3 row finds the IMAP row's five messages too (its user folder is new); their
    // identifiers were made with the other row's key, so they prove nothing here
    const int rows = imap ? 1 : 2;
    MailboxRunResult r = readMailbox(account, folder, {});
    if (r.outcome != MailboxRunOutcome::Done) {
        QFile log(m_dir.path() + "/dovecot.log");
        (void)log.open(QIODevice::ReadOnly);
        QFAIL(qPrintable(r.message + "\n" + log.readAll()));
    }
    QCOMPARE(r.summary.messages, 5 * rows);
    QCOMPARE(r.summary.suppressed, 1);
    QCOMPARE(r.summary.counted, 1);
    QCOMPARE(r.summary.noFailure, 1);
    QCOMPARE(r.summary.unproven, 1 + (rows - 1) * 4);
    pw::db::CSuppressionList list(folder);
    QHash<QString, QString> reasons;
    QCOMPARE(list.ReadReasons(reasons), pw::db::ListRead::Read);
    QCOMPARE(reasons.keys(), QStringList{rcpt("kaori")});  // not the forged report's address
    // the hard and the soft bounce, not the auto-reply nor the forged report
    std::vector<pw::db::HistoryRecipient> recipients;
    QCOMPARE(history.ReadRecipients(campaign, {}, recipients), pw::db::HistoryRead::Read);
    QCOMPARE(recipients.size(), size_t(4));
    const pw::db::HistoryEvent expected[] = {
        pw::db::HistoryEvent::Bounced, pw::db::HistoryEvent::Bounced, pw::db::HistoryEvent::None,
        pw::db::HistoryEvent::None};
    for (size_t i = 0; i < 4; ++i)
        QCOMPARE(recipients[i].event, expected[i]);
    QVERIFY2(recipients[0].eventReason.startsWith("5.1.1"), qPrintable(recipients[0].eventReason));
    pw::db::CampaignRow figures;
    QCOMPARE(history.ReadCampaign(campaign, figures), pw::db::HistoryRead::Read);
    QCOMPARE(figures.bounced, 2);

    // the unrelated mail is as it was, and still unseen
    const QStringList all = QDir(m_maildir + "cur").entryList(QDir::Files) +
                            QDir(m_maildir + "new").entryList(QDir::Files);
    const QStringList mine = all.filter(QRegularExpression("^" + tag + "5\\.host"));
    QCOMPARE(mine.size(), 1);
    QVERIFY2(!mine[0].contains(QRegularExpression(":2,.*S")), qPrintable(mine[0]));
    QFile f(QDir(m_maildir + "cur").exists(mine[0]) ? m_maildir + "cur/" + mine[0]
                                                    : m_maildir + "new/" + mine[0]);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), unrelated);

    // a second read finds nothing new and changes nothing
    r = readMailbox(account, folder, {});
    QCOMPARE(r.outcome, MailboxRunOutcome::Done);
    QCOMPARE(r.summary.messages, 0);
    reasons.clear();
    (void)list.ReadReasons(reasons);
    QCOMPARE(reasons.size(), 1);
    QCOMPARE(QDir(m_maildir + "cur").entryList(QDir::Files).size() +
                 QDir(m_maildir + "new").entryList(QDir::Files).size(),
             all.size());

    // a wrong password is refused, and the position stays
    account.password = "wrong";
    QCOMPARE(readMailbox(account, folder, {}).outcome, MailboxRunOutcome::Refused);
}

QTEST_GUILESS_MAIN(TestBounceMailbox)
#include "test_bounce_mailbox.moc"
