// The mailbox read against a real Dovecot on loopback (IMAP and POP3), started with a
// configuration of its own over a maildir the test fills, and over one a real Postfix fills
// with the reports of a real run (Dovecot's LMTP refusing an unknown user and a full mailbox,
// its Sieve answering from a vacation).
#include "PrivatePostfix.h"
#include "ScriptedServer.h"
#include "TestEnv.h"
#include "bounces/BounceBook.h"
#include "bounces/MailboxRun.h"
#include "db/HistoryStore.h"
#include "db/SuppressionList.h"
#include "send/MessageAssembly.h"
#include "send/Tracking.h"
#include "smtp/KTWSMTPConnection.h"
#include "smtp/KTWSMTPException.h"

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

struct Tokens : pw::send::IAccessTokens {
    [[nodiscard]] bool signedIn() const override { return true; }
    [[nodiscard]] pw::send::AccessToken accessToken(pw::send::TokenNeed) override {
        return {true, "held", {}, false};
    }
};

}  // namespace

class TestBounceMailbox : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void reading_data();
    void reading();
    void reportsOfARealRun_data();
    void reportsOfARealRun();
    void signInAndCopy();

private:
    void put(const QString& name, const QByteArray& mail, const QString& maildir = {});
    void sendAndReadOnce();
    QTemporaryDir m_dir;
    QProcess m_dovecot;
    pw::test::PrivatePostfix m_postfix;
    QString m_noDovecot;  // why the tests over a real server cannot run here
    QString m_noPostfix;  // why the run's reports cannot be made here
    int m_imap = 0;
    int m_pop3 = 0;
    int m_lmtp = 0;
    QString m_maildir;
    // the run's user data folder, what its reads found, and the mail left alone
    QTemporaryDir m_shopFolder;
    std::vector<BounceDecision> m_decisions;
    QByteArray m_unrelated;
    bool m_read = false;
};

void TestBounceMailbox::initTestCase() {
    m_noDovecot = m_noPostfix = "Dovecot is not installed";
    if (!QFile::exists("/usr/sbin/dovecot"))
        return;
    m_noDovecot.clear();
    const QString d = m_dir.path();
    // Dovecot's own users read the password file and the mail below it
    QVERIFY(QFile::setPermissions(d, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                         QFile::ExeGroup | QFile::ExeOther));
    m_maildir = d + "/mail/taro/";
    for (const char* sub : {"run", "state", "mail/taro/new", "mail/taro/cur", "mail/taro/tmp",
                            "mail/shop", "mail/full", "mail/away"})
        QVERIFY(QDir().mkpath(d + "/" + sub));
    // Dovecot refuses to give mail to root: as root the mail belongs to nobody
    const bool root = ::geteuid() == 0;
    const QString owner = root ? "65534:65534" : QString("%1:%2").arg(::getuid()).arg(::getgid());
    // "full" takes no byte more; "away" answers from its vacation
    QVERIFY(pw::test::writeFile(d + "/mail/away/vacation.sieve",
                                "require \"vacation\";\nvacation :days 1 :subject \"Away\" "
                                "\"I am away until Monday.\";\n"));
    QVERIFY(pw::test::writeFile(
        d + "/users",
        QStringLiteral("taro:{PLAIN}secret:%2::%1/mail/taro::\n"
                       "shop:{PLAIN}secret:%2::%1/mail/shop::\n"
                       "full:{PLAIN}x:%2::%1/mail/full::userdb_quota_rule=*:storage=1B\n"
                       "away:{PLAIN}x:%2::%1/mail/away::userdb_sieve=%1/mail/away/vacation.sieve\n")
            .arg(d, owner)
            .toUtf8()));
    // The run's mail goes through Postfix, which hands it to Dovecot over LMTP and sends the
    // reports back the same way; without Postfix (not root) or LMTP only that test is skipped.
    m_imap = freePort();
    m_pop3 = freePort();
    m_lmtp = freePort();
    const bool lmtp = QFile::exists("/usr/lib/dovecot/lmtp") &&
                      QFile::exists("/usr/lib/dovecot/modules/lib90_sieve_plugin.so");
    if (!lmtp)
        m_noPostfix = "Dovecot's LMTP and Sieve are not installed (scripts/install-deps.sh)";
    else
        m_noPostfix = m_postfix.start(
            d + "/postfix/",
            {{},
             {},
             QStringLiteral("virtual_mailbox_domains = example.net shop.example.jp\n"
                            "virtual_mailbox_maps =\n"
                            "smtpd_reject_unlisted_recipient = no\n"
                            "virtual_transport = lmtp:inet:127.0.0.1:%1\n")
                 .arg(m_lmtp)});
    QFile conf(d + "/dovecot.conf");
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(
        QStringLiteral(
            "base_dir = %1/run\nstate_dir = %1/state\nlog_path = %1/dovecot.log\n"
            "protocols = imap pop3%5\nlisten = 127.0.0.1\nssl = no\n"
            "disable_plaintext_auth = no\nauth_mechanisms = plain\nauth_username_format = %n\n"
            "mail_location = maildir:%1/mail/%n\n"
            "passdb {\n driver = passwd-file\n args = scheme=PLAIN username_format=%n %1/users\n}\n"
            "userdb {\n driver = passwd-file\n args = username_format=%n %1/users\n}\n"
            "mail_plugins = quota\nplugin {\n quota = maildir:User quota\n"
            " sieve_vacation_dont_check_recipient = yes\n}\n"
            "quota_full_tempfail = no\npostmaster_address = postmaster@shop.example.jp\n"
            "submission_host = 127.0.0.1:%6\n"
            "protocol lmtp {\n mail_plugins = $mail_plugins%7\n}\n"
            "service lmtp {\n inet_listener lmtp {\n address = 127.0.0.1\n port = %2\n }\n}\n"
            "service imap-login {\n chroot =\n inet_listener imap {\n port = %3\n }\n}\n"
            "service pop3-login {\n chroot =\n inet_listener pop3 {\n port = %4\n }\n}\n"
            "service anvil {\n chroot =\n}\n")
            .arg(d)
            .arg(m_lmtp)
            .arg(m_imap)
            .arg(m_pop3)
            .arg(lmtp ? " lmtp" : "")
            .arg(m_postfix.plainPort())
            .arg(lmtp ? " sieve" : "")
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

void TestBounceMailbox::put(const QString& name, const QByteArray& mail, const QString& maildir) {
    QFile f((maildir.isEmpty() ? m_maildir : maildir) + "new/" + name);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(mail);
    f.close();
    if (::geteuid() == 0)
        QCOMPARE(QProcess::execute("chown", {"65534:65534", f.fileName()}), 0);
}

void TestBounceMailbox::reading_data() {
    QTest::addColumn<bool>("imap");
    QTest::addColumn<QString>("reportFolder");
    QTest::addColumn<QString>("tag");  // of this row's mail in the shared mailbox
    QTest::addColumn<int>("present");  // rows whose mail is there: the earlier ones', its own
    QTest::newRow("IMAP") << true << QString() << "i" << 1;
    QTest::newRow("POP3") << false << QString() << "p" << 2;
    // the reports acted on move into a folder made for them, '/' written as Dovecot's '.'
    QTest::newRow("IMAP, reports moved") << true << QString("Postwick/Reports") << "m" << 3;
}

void TestBounceMailbox::reading() {
    if (!m_noDovecot.isEmpty())
        QSKIP(qPrintable(m_noDovecot));
    QFETCH(bool, imap);
    QFETCH(QString, reportFolder);
    QFETCH(QString, tag);
    QFETCH(int, present);
    QTemporaryDir user;
    const QString folder = user.path() + "/";
    const QByteArray key = pw::send::trackingKey(folder);
    const pw::send::RunTracking run{key, pw::send::newRunId()};
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
    account.reportFolder = reportFolder;
    // a row finds the earlier rows' messages too (its user folder is new); their identifiers
    // were made with the other rows' keys, so they prove nothing here (the moved ones are gone)
    const QString moved = m_maildir + ".Postwick.Reports/";
    const auto movedMail = [&moved] {
        QStringList mail;
        for (const char* sub : {"cur/", "new/"})
            for (const QString& name : QDir(moved + sub).entryList(QDir::Files))
                mail.append(QString::fromLatin1(pw::test::readFile(moved + sub + name)));
        return mail;
    };
    const int gone = int(movedMail().size());
    MailboxRunResult r = readMailbox(account, folder, {});
    if (r.outcome != MailboxRunOutcome::Done) {
        QFile log(m_dir.path() + "/dovecot.log");
        (void)log.open(QIODevice::ReadOnly);
        QFAIL(qPrintable(r.message + "\n" + log.readAll()));
    }
    QCOMPARE(r.summary.messages, 5 * present - gone);
    QCOMPARE(r.summary.suppressed, 1);
    QCOMPARE(r.summary.counted, 1);
    QCOMPARE(r.summary.noFailure, 1);
    QCOMPARE(r.summary.unproven, 1 + (present - 1) * 4 - gone);
    QCOMPARE(r.summary.moved, imap && !reportFolder.isEmpty() ? 3 : 0);
    for (const char* name : {"kaori", "jiro", "saburo"})
        QCOMPARE(movedMail().filter(rcpt(name)).size(), r.summary.moved > 0 ? 1 : 0);
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
    for (int k = 1; k <= 4; ++k)
        QCOMPARE(all.filter(QRegularExpression(QString("^%1%2\\.host").arg(tag).arg(k))).size(),
                 k < 4 && r.summary.moved > 0 ? 0 : 1);
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

// A run to four addresses through Postfix, beside two corpus reports, a forged one and a
// friend's mail; then the shop's mailbox read twice.
void TestBounceMailbox::sendAndReadOnce() {
    if (m_read)
        return;
    m_read = true;
    const QString folder = m_shopFolder.path() + "/";
    const pw::send::RunTracking run{pw::send::trackingKey(folder), pw::send::newRunId()};
    pw::send::MailJob job;
    job.captions[0] = "Mail Address";
    for (int k = 1; k < pw::send::kMergeFieldCount; ++k)
        job.captions[size_t(k)] = QStringLiteral("field%1").arg(k + 1);
    job.senderAddress = "shop@shop.example.jp";
    job.recipientText = "[[Mail Address]]";
    job.subject = "Winter news";
    job.bodyText = "Dear customer,\r\nour winter news.\r\n";
    job.messageIdDomain = "shop.example.jp";
    job.tracking = run;
    std::vector<pw::send::FieldTexts> rows;
    for (const char* to :
         {"nobody@example.net", "full@example.net", "away@example.net", "taro@example.net"}) {
        pw::send::FieldTexts values;
        values[0] = QString::fromLatin1(to);
        rows.push_back(values);
    }
    pw::send::CMessageAssembly assembly(job, rows);
    pw::smtp::CKTWSMTPConnection session(QStringLiteral("client.example.jp"));
    try {
        session.Connect("127.0.0.1", pw::smtp::AuthMethod::None, {}, {}, m_postfix.plainPort(),
                        pw::smtp::ConnectionType::None);
        for (int k = 0; k < int(rows.size()); ++k) {
            const pw::send::BuiltMessage built = assembly.build(assembly.merged(k), k);
            QVERIFY2(built.error.isEmpty(), qPrintable(built.error));
            session.SendMessage(*built.message);
        }
        session.Disconnect(pw::smtp::DisconnectMode::Graceful);
    } catch (const pw::smtp::CKTWSMTPException& e) {
        QFAIL(qPrintable(e.Description() + "\n" + m_postfix.log()));
    }
    // the run's mail, then its reports and the vacation answer, all delivered or bounced
    QVERIFY2(m_postfix.waitUntilQueueEmpty(60000), qPrintable(m_postfix.log()));
    const QString shop = m_dir.path() + "/mail/shop/";
    QVERIFY(QDir().mkpath(shop + "new"));
    put("corpus1.host", pw::test::readFile(POSTWICK_TEST_DATA "/lhost-gmx-03.eml"), shop);
    put("corpus2.host", pw::test::readFile(POSTWICK_TEST_DATA "/arf-17.eml"), shop);
    put("forged.host",
        report("good@example.net", pw::send::trackingId(run, "nobody@example.net"), "5.1.1",
               "User unknown"),
        shop);
    m_unrelated =
        "From: friend@example.org\nTo: shop@shop.example.jp\nSubject: lunch\n\nAt noon?\n";
    put("unrelated.host", m_unrelated, shop);

    MailboxAccount account;
    account.protocol = MailboxProtocol::Imap;
    account.security = MailboxSecurity::Plain;
    account.host = "127.0.0.1";
    account.port = m_imap;
    account.user = "shop";
    account.password = "secret";
    MailboxRunResult r = readMailbox(account, folder, {});
    QVERIFY2(r.outcome == MailboxRunOutcome::Done, qPrintable(r.message));
    QCOMPARE(r.summary.messages, 7);  // two reports, one vacation answer, four put there
    CBounceBook book(folder);
    QVERIFY(book.load());
    m_decisions = book.decisions();
    // a second read finds nothing new and changes nothing
    r = readMailbox(account, folder, {});
    QCOMPARE(r.outcome, MailboxRunOutcome::Done);
    QCOMPARE(r.summary.messages, 0);
    QVERIFY(book.load());
    QCOMPARE(book.decisions().size(), m_decisions.size());
}

void TestBounceMailbox::reportsOfARealRun_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("action");    // -1: no decision names the address
    QTest::addColumn<bool>("skipped");  // by the next run: on the suppression list
    QTest::newRow("unknown local user")
        << "nobody@example.net" << int(BounceAction::Suppressed) << true;
    QTest::newRow("full mailbox") << "full@example.net" << int(BounceAction::Counted) << false;
    QTest::newRow("vacation answer") << "away@example.net" << int(BounceAction::NoFailure) << false;
    QTest::newRow("delivered") << "taro@example.net" << -1 << false;
    QTest::newRow("corpus bounce, no identifier")
        << "mikeneko@example.co.jp" << int(BounceAction::Unproven) << false;
    QTest::newRow("corpus complaint, no identifier")
        << "kijitora@example.com" << int(BounceAction::Unproven) << false;
    QTest::newRow("forged: another's identifier")
        << "good@example.net" << int(BounceAction::Unproven) << false;
    QTest::newRow("friend's mail") << "friend@example.org" << -1 << false;
}

void TestBounceMailbox::reportsOfARealRun() {
    if (!m_noPostfix.isEmpty())
        QSKIP(qPrintable(m_noPostfix));
    QFETCH(QString, address);
    QFETCH(int, action);
    QFETCH(bool, skipped);
    sendAndReadOnce();
    QVERIFY(!m_decisions.empty());
    int found = -1;
    for (const BounceDecision& d : m_decisions)
        if (d.recipient.compare(address, Qt::CaseInsensitive) == 0)
            found = int(d.action);
    QCOMPARE(found, action);
    pw::db::CSuppressionList list(m_shopFolder.path() + "/");
    QHash<QString, QString> reasons;
    (void)list.ReadReasons(reasons);
    QCOMPARE(reasons.contains(pw::db::SuppressionKey(address)), skipped);
    // mail that is not a report stays as it was, unread
    const QString shop = m_dir.path() + "/mail/shop/";
    const QStringList mine = QDir(shop + "cur").entryList({"unrelated.host*"}) +
                             QDir(shop + "new").entryList({"unrelated.host*"});
    QCOMPARE(mine.size(), 1);
    QVERIFY2(!mine[0].contains(QRegularExpression(":2,.*S")), qPrintable(mine[0]));
    const QString path =
        QFile::exists(shop + "cur/" + mine[0]) ? shop + "cur/" + mine[0] : shop + "new/" + mine[0];
    QCOMPARE(pw::test::readFile(path), m_unrelated);
}

// A scripted server without MOVE, signed in to with the sign-in's token: the report read is
// copied, flagged and expunged by its UID alone into the folder made first, named with the
// server's separator in modified UTF-7.
void TestBounceMailbox::signInAndCopy() {
    QTemporaryDir user;
    const QString folder = user.path() + "/";
    const pw::send::RunTracking run{pw::send::trackingKey(folder), pw::send::newRunId()};
    const QByteArray mail =
        report("kaori@example.net", pw::send::trackingId(run, "kaori@example.net"), "5.1.1", "no");
    const QString signIn =
        "S: * OK ready\nC: A001 CAPABILITY\nS: * CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2 "
        "UIDPLUS\nS: A001 OK\nC: A002 AUTHENTICATE XOAUTH2 " +
        QString::fromLatin1(QByteArray("user=shop\x01"
                                       "auth=Bearer held\x01\x01")
                                .toBase64()) +
        "\nS: A002 OK in\nC: A003 SELECT INBOX\nS: * OK [UIDVALIDITY 7] ok\nS: A003 OK\n";
    pw::test::ScriptedServer server(
        {signIn +
             "C: A004 UID SEARCH UID 1:*\nS: * SEARCH 9\nS: A004 OK\n"
             "C: A005 UID FETCH 9 BODY.PEEK[]\nR: * 1 FETCH (UID 9 BODY[] {" +
             QString::number(mail.size()) + "}\\r\\n" +
             QString::fromLatin1(mail).replace("\n", "\\n") +
             ")\\r\\n\nS: A005 OK\nC: A006 LOGOUT\nS: A006 OK",
         signIn + QString("C: A004 CAPABILITY\nS: * CAPABILITY IMAP4rev1 UIDPLUS\nS: A004 OK\n"
                          "C: A005 LIST \"\" \"\"\nS: * LIST (\\Noselect) \".\" \"\"\nS: A005 OK\n"
                          "C: A006 LIST \"\" %1\nS: A006 OK\nC: A007 CREATE %1\nS: A007 OK\n"
                          "C: A008 UID COPY 9 %1\nS: A008 OK\n"
                          "C: A009 UID STORE 9 +FLAGS.SILENT (\\Deleted)\nS: A009 OK\n"
                          "C: A010 UID EXPUNGE 9\nS: A010 OK\nC: A011 LOGOUT\nS: A011 OK")
                      .arg("\"Postwick.&WDFUSg-\"")});
    MailboxAccount account;
    account.protocol = MailboxProtocol::Imap;
    account.security = MailboxSecurity::Plain;
    account.host = "127.0.0.1";
    account.port = server.port();
    account.user = "shop";
    account.tokens = std::make_shared<Tokens>();
    account.reportFolder = QString::fromUtf8("Postwick/報告");
    const MailboxRunResult r = readMailbox(account, folder, {});
    QVERIFY2(server.finish(), qPrintable(server.report()));
    QCOMPARE(r.outcome, MailboxRunOutcome::Done);
    QCOMPARE(r.summary.suppressed, 1);
    QCOMPARE(r.summary.moved, 1);
}

QTEST_GUILESS_MAIN(TestBounceMailbox)
#include "test_bounce_mailbox.moc"
