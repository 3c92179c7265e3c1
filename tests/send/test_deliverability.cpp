// The check before a run against a real name server on loopback (python3-dnslib) serving
// domains with and without SPF, DKIM and DMARC, and against messages made by the run's own
// assembly: one row per finding, each level reached, and "could not look up" with the
// server stopped.

#include <unistd.h>
#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

#include "ScriptedUserInteraction.h"
#include "SmtpTestServer.h"
#include "TestEnv.h"
#include "resources/Strings.h"
#include "send/DeliverabilityCheck.h"
#include "send/DnsLookup.h"
#include "send/MessageAssembly.h"
#include "smtp/KTWSMTPMessage.h"

using namespace pw::send;

namespace {

const char* kZone = R"(good.test. 60 IN TXT "v=spf1 include:_spf.google.com ~all"
good.test. 60 IN MX 10 mx.good.test.
_dmarc.good.test. 60 IN TXT "v=DMARC1; p=reject; rua=mailto:d@good.test"
google._domainkey.good.test. 60 IN TXT "v=DKIM1; k=rsa; p=MIGfMA0GCSqGSIb3DQEBAQUAA4GNADCB"
bare.test. 60 IN A 192.0.2.1
split.test. 60 IN TXT "v=spf1 ip4:192.0.2.0/24 include:spf.prot" "ection.outlook.com -all"
split.test. 60 IN MX 10 mx.split.test.
_dmarc.split.test. 60 IN TXT "v=DMARC1; p=none"
selector1._domainkey.split.test. 60 IN TXT "v=DKIM1; p="
two.test. 60 IN TXT "v=spf1 -all"
two.test. 60 IN TXT "v=spf1 mx -all"
_dmarc.two.test. 60 IN TXT "v=DMARC1; rua=mailto:x@two.test"
own.test. 60 IN TXT "v=spf1 mx -all"
own.test. 60 IN MX 10 mail.own.test.
)";

const char* kGtube = "XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X";

}  // namespace

Q_DECLARE_METATYPE(pw::send::FindingTopic)
Q_DECLARE_METATYPE(pw::send::FindingLevel)

class TestDeliverability : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { forgetDnsAnswers(); }
    void findings_data();
    void findings();
    void serverNamesParse();
    void confirmAsksOnceMoreOnAProblem();

private:
    pw::test::TestEnv m_env;
    pw::test::SmtpTestServer m_dns;
    QString m_zone;
};

void TestDeliverability::initTestCase() {
    m_zone = m_env.makeFolder("dns") + "zone";
    QVERIFY(pw::test::writeFile(m_zone, kZone));
    QVERIFY2(m_dns.startScript("dns_server.py", {m_zone}), qPrintable(m_dns.errorText()));
}

void TestDeliverability::findings_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("html");  // the HTML part; empty: none
    QTest::addColumn<QString>("body");
    // "bulk" 5,001 at Gmail, "unsub" an https unsubscribe URL, "footer", "attach" 19 MB,
    // "same" the other recipient's message is this one, "spam" SpamAssassin scores,
    // "stopped" the server is stopped, "badserver" POSTWICK_DNS_SERVER names none
    QTest::addColumn<QString>("options");
    QTest::addColumn<FindingTopic>("topic");
    QTest::addColumn<FindingLevel>("level");
    QTest::addColumn<QString>("fragment");
    using T = FindingTopic;
    using L = FindingLevel;
    const QString g = "smtp.gmail.com";
    const QString ms = "smtp.office365.com";
    const QString text = "Hello [[Name]].";
    const QString page = "<p>" + QString("Our autumn catalogue. ").repeated(12) + "</p>";
    auto add = [](const char* name, QString from, QString account, QString host, QString html,
                  QString body, QString options, T topic, L level, QString fragment) {
        QTest::newRow(name) << from << account << host << html << body << options << topic << level
                            << fragment;
    };
    add("sender at the account's domain", "a@good.test", "b@good.test", g, {}, text, {}, T::Sender,
        L::Pass, "b@good.test");
    add("sender at another domain", "a@good.test", "me@gmail.com", g, {}, text, {}, T::Sender,
        L::Warning, "5.7.60");
    add("sender no address", "nobody", {}, g, {}, text, {}, T::Sender, L::Problem, "nobody");
    add("spf found", "a@good.test", {}, g, {}, text, {}, T::Spf, L::Pass, "_spf.google.com");
    add("spf missing", "a@bare.test", {}, g, {}, text, {}, T::Spf, L::Problem, "bare.test");
    add("spf twice", "a@two.test", {}, g, {}, text, {}, T::Spf, L::Problem, " 2 ");
    add("spf names the provider", "a@good.test", {}, g, {}, text, {}, T::SpfServer, L::Pass,
        "Google");
    add("spf lacks the provider", "a@split.test", {}, g, {}, text, {}, T::SpfServer, L::Warning,
        "include:_spf.google.com");
    add("spf split strings joined", "a@split.test", {}, ms, {}, text, {}, T::SpfServer, L::Pass,
        "Microsoft 365");
    add("spf own server by mx", "a@own.test", {}, "mail.own.test", {}, text, {}, T::SpfServer,
        L::Pass, "mail.own.test");
    add("spf unknown server", "a@own.test", {}, "smtp.elsewhere.example", {}, text, {},
        T::SpfServer, L::Warning, "smtp.elsewhere.example");
    add("dkim found", "a@good.test", {}, g, {}, text, {}, T::Dkim, L::Pass,
        "google._domainkey.good.test");
    add("dkim revoked or missing", "a@split.test", {}, ms, {}, text, {}, T::Dkim, L::Warning,
        "selector2._domainkey.split.test");
    add("dmarc policy", "a@good.test", {}, g, {}, text, {}, T::Dmarc, L::Pass, "reject");
    add("dmarc missing", "a@bare.test", {}, g, {}, text, {}, T::Dmarc, L::Warning, "no DMARC");
    add("dmarc missing in bulk", "a@bare.test", {}, g, {}, text, "bulk", T::Dmarc, L::Problem,
        "5,000");
    add("dmarc without policy", "a@two.test", {}, g, {}, text, {}, T::Dmarc, L::Warning, "rua=");
    add("mx found", "a@good.test", {}, g, {}, text, {}, T::SenderMx, L::Pass, "mx.good.test");
    add("mx missing", "a@bare.test", {}, g, {}, text, {}, T::SenderMx, L::Warning, "bare.test");
    add("providers below", "a@good.test", {}, g, {}, text, {}, T::Providers, L::Pass, "1 recip");
    add("providers bulk", "a@good.test", {}, g, {}, text, "bulk", T::Providers, L::Warning,
        "5001 recip");
    add("html without text", "a@good.test", {}, g, page, {}, {}, T::PlainText, L::Warning, "HTML");
    add("html with text", "a@good.test", {}, g, page, text, {}, T::PlainText, L::Pass, "HTML");
    add("size within", "a@good.test", {}, g, {}, text, {}, T::Size, L::Pass, "25 MB (Google)");
    add("size over the limit", "a@good.test", {}, g, {}, text, "attach", T::Size, L::Problem,
        "25 MB (Google)");
    add("html clipped by gmail", "a@good.test", {}, g, page.repeated(500), text, {}, T::Size,
        L::Warning, "102 KB");
    add("link shows another domain", "a@good.test", {}, g,
        page + "<a href='https://evil.example/x'>www.good.test/account</a>", text, {}, T::Links,
        L::Warning, "evil.example");
    add("link shows its own domain", "a@good.test", {}, g,
        page +
            "<a href=\"https://shop.good.test/x\">good.test</a><a href='https://x.test'>here</a>",
        text, {}, T::Links, L::Pass, "");
    add("picture without alt", "a@good.test", {}, g,
        page + "<img src='a.png' alt='Sale'><img src='b.png' alt=' '>", text, {}, T::Pictures,
        L::Warning, "1 of 2");
    add("pictures and little text", "a@good.test", {}, g, "<img src='a.png' alt='Sale'>", text, {},
        T::Pictures, L::Warning, "mostly pictures");
    add("pictures with text", "a@good.test", {}, g, page + "<img src='a.png' alt='Sale'>", text, {},
        T::Pictures, L::Pass, "alt");
    add("unsubscribe one-click", "a@good.test", {}, g, {}, text, "unsub", T::Unsubscribe, L::Pass,
        "List-Unsubscribe-Post");
    add("unsubscribe missing", "a@good.test", {}, g, {}, text, {}, T::Unsubscribe, L::Warning,
        "List-Unsubscribe");
    add("unsubscribe missing in bulk", "a@good.test", {}, g, {}, text, "bulk", T::Unsubscribe,
        L::Problem, "one-click");
    add("footer on", "a@good.test", {}, g, {}, text, "unsub footer", T::Footer, L::Pass, "");
    add("footer written by hand", "a@good.test", {}, g, {}, text + " To unsubscribe, reply.", {},
        T::Footer, L::Pass, "");
    add("footer missing", "a@good.test", {}, g, {}, text, "unsub", T::Footer, L::Warning,
        "Report spam");
    add("message-id per recipient", "a@good.test", {}, g, {}, text, {}, T::MessageId, L::Pass, "");
    add("message-id repeated", "a@good.test", {}, g, {}, text, "same", T::MessageId, L::Problem,
        "4.7.28");
    add("headers once", "a@good.test", {}, g, {}, text, {}, T::Headers, L::Pass, "");
    add("lookup with the server stopped", "a@good.test", {}, g, {}, text, "stopped", T::Spf,
        L::Warning, "Could not look up good.test");
    add("dkim lookup with the server stopped", "a@good.test", {}, g, {}, text, "stopped", T::Dkim,
        L::Warning, "Could not look up google._domainkey.good.test");
    add("name server not named right", "a@good.test", {}, g, {}, text, "badserver", T::Dmarc,
        L::Warning, "POSTWICK_DNS_SERVER");
    // QDnsLookup itself asks only port 53 (root: a server on a loopback address of its own)
    add("spf found through QDnsLookup", "a@good.test", {}, g, {}, text, "port53", T::Spf, L::Pass,
        "_spf.google.com");
    add("spf missing through QDnsLookup", "a@bare.test", {}, g, {}, text, "port53", T::Spf,
        L::Problem, "bare.test");
    add("spamassassin score", "a@good.test", {}, g, {}, text, "spam", T::SpamScore, L::Pass,
        "rules:");
    add("spamassassin spam", "a@good.test", {}, g, {}, text + "\n" + kGtube, "spam", T::SpamScore,
        L::Problem, "GTUBE");
}

void TestDeliverability::findings() {
    QFETCH(QString, from);
    QFETCH(QString, account);
    QFETCH(QString, host);
    QFETCH(QString, html);
    QFETCH(QString, body);
    QFETCH(QString, options);
    QFETCH(FindingTopic, topic);
    QFETCH(FindingLevel, level);
    QFETCH(QString, fragment);
    if (options.contains("spam") && QStandardPaths::findExecutable("spamassassin").isEmpty())
        QSKIP("spamassassin is not installed (scripts/install-deps.sh)");

    const QString folder = m_env.makeFolder(QTest::currentDataTag());
    MailJob job;
    job.captions[0] = "Mail Address";
    job.captions[1] = "Name";
    job.senderAddress = from;
    job.subject = "Autumn catalogue";
    job.bodyText = body;
    job.recipientText = "[[Mail Address]]";
    job.messageIdDomain = host;
    if (!html.isEmpty()) {
        QVERIFY(pw::test::writeFile(folder + "index.html", html.toUtf8()));
        job.mainPreviewFolder = folder;
        job.htmlFileName = "T";
        job.htmlFiles = {"index.html"};
    }
    if (options.contains("attach")) {
        QFile big(folder + "catalogue.pdf");
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(qint64(19) * 1024 * 1024));
        job.attachments = {big.fileName()};
    }
    if (options.contains("unsub"))
        job.unsubscribe.url = "https://good.test/leave?e=[[Mail Address]]";
    if (options.contains("footer"))
        job.unsubscribe.footer = FooterChoice::On;
    std::vector<FieldTexts> rows(options.contains("bulk") ? 5002 : 2);
    for (size_t i = 0; i < rows.size(); ++i) {
        rows[i][0] = QString("r%1@%2").arg(i).arg(i == 1 ? "example.jp" : "gmail.com");
        rows[i][1] = QString("R%1").arg(i);
    }
    CMessageAssembly assembly(job, rows);
    pw::ServerConfig server;
    server.smtpServer = host;
    server.smtpAuthType = account.isEmpty() ? pw::SmtpAuthType::None : pw::SmtpAuthType::LogOnUsing;
    server.smtpUserName = account;
    DeliverabilityInput input = deliverabilityInput(assembly, server);
    QVERIFY2(input.message, qPrintable(input.messageError));
    QCOMPARE(input.recipients.size(), qsizetype(rows.size()));
    if (options.contains("same"))
        input.another = input.message;
    input.spamScoring = options.contains("spam") ? SpamScoring::WhereInstalled : SpamScoring::Skip;

    QString named = QString("127.0.0.1:%1").arg(m_dns.port());
    pw::test::SmtpTestServer stopped;
    if (options.contains("stopped")) {
        QVERIFY2(stopped.startScript("dns_server.py", {m_zone}), qPrintable(stopped.errorText()));
        named = QString("127.0.0.1:%1").arg(stopped.port());
        stopped.stop();
    }
    pw::test::SmtpTestServer port53;
    if (options.contains("port53")) {
        if (geteuid() != 0)
            QSKIP("port 53 needs root");
        const QString address = QString("127.0.%1.%2")
                                    .arg(QRandomGenerator::global()->bounded(1, 255))
                                    .arg(QRandomGenerator::global()->bounded(2, 255));
        QVERIFY2(port53.startScript("dns_server.py", {m_zone, address, "53"}),
                 qPrintable(port53.errorText()));
        named = address + ":53";
    }
    if (options.contains("badserver"))
        named = "resolver.office:53";
    qputenv(kDnsServerVariable, named.toUtf8());
    CDnsResolver dns = CDnsResolver::fromEnvironment();
    const std::vector<Finding> found = checkDeliverability(input, dns);

    QStringList all;
    bool hit = false;
    for (const Finding& f : found) {
        all << levelName(f.level) + " " + topicName(f.topic) + ": " + f.text;
        hit = hit || (f.topic == topic && f.level == level && f.text.contains(fragment));
        // every warning and problem says what to do; a lookup that failed never passes
        QVERIFY(f.level == FindingLevel::Pass || !f.action.isEmpty());
        if (options.contains("stopped") || options.contains("badserver"))
            QVERIFY(f.topic > FindingTopic::SenderMx || f.level != FindingLevel::Pass ||
                    f.topic == FindingTopic::Sender);
    }
    if (!hit)
        qInfo("%s", qPrintable(all.join('\n')));  // whole: a failure message is cut short
    QVERIFY(hit);
}

void TestDeliverability::serverNamesParse() {
    QCOMPARE(parseDnsServer("127.0.0.1:5353")->port, quint16(5353));
    QCOMPARE(parseDnsServer("[::1]:54")->address, QHostAddress("::1"));
    QCOMPARE(parseDnsServer("::1")->port, quint16(53));
    QVERIFY(!parseDnsServer("resolver.office:53"));
    QVERIFY(!parseDnsServer("127.0.0.1:0"));
    QVERIFY(!parseDnsServer("[::1]x"));
}

void TestDeliverability::confirmAsksOnceMoreOnAProblem() {
    const Finding pass{FindingTopic::Spf, FindingLevel::Pass, "ok", {}};
    const Finding warning{FindingTopic::Dmarc, FindingLevel::Warning, "no dmarc", "publish"};
    const Finding problem{FindingTopic::Spf, FindingLevel::Problem, "no spf", "publish"};
    {  // all passed: nothing is shown
        pw::test::ScriptedUserInteraction ui;
        QVERIFY(confirmDeliverability(ui, {pass}));
        QVERIFY(ui.asked().isEmpty());
    }
    {  // a warning: shown once, Continue goes on
        pw::test::ScriptedUserInteraction ui;
        ui.scriptChoices({pw::str(pw::ids::kCheckContinue)});
        QVERIFY(confirmDeliverability(ui, {pass, warning}));
        QCOMPARE(ui.asked().size(), 1);
        QVERIFY(ui.asked().first().text.contains("What to do: publish"));
    }
    {  // a problem: Continue, then asked once more; No stops, and Enter does not go on
        pw::test::ScriptedUserInteraction ui;
        ui.scriptChoices({pw::str(pw::ids::kCheckContinue)});
        ui.script({pw::Answer::No});
        QVERIFY(!confirmDeliverability(ui, {warning, problem}));
        QCOMPARE(ui.asked().size(), 2);
        QCOMPARE(ui.choicesAsked().first().defaultButton, 1);
        QVERIFY(ui.asked().first().text.indexOf("no spf") <
                ui.asked().first().text.indexOf("no dmarc"));
        ui.clear();
        ui.scriptChoices({pw::str(pw::ids::kCheckContinue)});
        ui.script({pw::Answer::Yes});
        QVERIFY(confirmDeliverability(ui, {problem}));
    }
}

QTEST_GUILESS_MAIN(TestDeliverability)
#include "test_deliverability.moc"
