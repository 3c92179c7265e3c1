// Signing in by OAuth 2.0 against a fake provider on loopback (tests/smtp/servers/
// oauth_servers.py: an authorization server with PKCE and an aiosmtpd that takes its bearer
// tokens), the browser replaced by a scripted opener: the sign-in, the renewal of tokens, the
// connection test and whole send runs, with the token's secrets kept out of every file.

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>

#include "QuietSendProgress.h"
#include "ScriptedUserInteraction.h"
#include "SmtpTestServer.h"
#include "TestEnv.h"
#include "db/TDbData.h"
#include "resources/Strings.h"
#include "send/MailSendThread.h"
#include "send/MessageAssembly.h"
#include "serversettings/ConnectionTestFlow.h"
#include "serversettings/OAuthSignIn.h"
#include "test_send_world.h"

using namespace pw;
using namespace pw::serversettings;

namespace {

const QString kUser = QStringLiteral("ann@example.org");
const QString kClient = QStringLiteral("client-4711");

// The provider and its SMTP server, in one process.
struct Provider {
    test::SmtpTestServer process;
    int httpPort = 0;

    bool start(const QStringList& extra) {
        if (!process.startScript(QStringLiteral("oauth_servers.py"),
                                 QStringList{"--client-id", kClient, "--user", kUser} + extra))
            return false;
        return QTest::qWaitFor(
            [this] {
                for (const QString& e : process.events()) {
                    if (e.startsWith(QStringLiteral("HTTP ")))
                        httpPort = e.mid(5).toInt();
                }
                return httpPort != 0;
            },
            10000);
    }
    [[nodiscard]] QString url(const char* path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(httpPort).arg(QLatin1String(path));
    }
    [[nodiscard]] OAuthValues values() const {
        OAuthValues v;
        v.provider = OAuthProvider::Custom;
        v.clientId = kClient;
        v.authorizeUrl = url("/authorize");
        v.tokenUrl = url("/token");
        v.scope = QStringLiteral("https://mail.test/ offline_access");
        return v;
    }
};

int count(const QStringList& events, const QString& prefix) {
    int n = 0;
    for (const QString& e : events)
        n += e.startsWith(prefix) ? 1 : 0;
    return n;
}

// The browser: fetches the page and follows the provider's redirect to the loopback port.
bool pythonBrowser(const QString& url) {
    return QProcess::startDetached(
        QStringLiteral("/usr/bin/python3"),
        {"-c", "import sys, urllib.request; urllib.request.urlopen(sys.argv[1], timeout=20).read()",
         url});
}

// A local process that knows the loopback port but not the state forges an error redirect
// (the status it was answered goes into the file), then the real browser follows.
bool forgingBrowser(const QString& url, const QString& statusFile) {
    return QProcess::startDetached(
        QStringLiteral("/usr/bin/python3"),
        {"-c",
         "import sys, urllib.parse as p, urllib.request as r\n"
         "u = dict(p.parse_qsl(p.urlsplit(sys.argv[1]).query))['redirect_uri']\n"
         "try: r.urlopen(u + '?error=access_denied&state=FORGED&error_description=%3Cb%3E')\n"
         "except Exception as e: open(sys.argv[2], 'w').write(str(getattr(e, 'code', '')))\n"
         "r.urlopen(sys.argv[1], timeout=20).read()\n",
         url, statusFile});
}

bool waitBounded(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 30000);
}

}  // namespace

class TestOAuth : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { setLanguage(Language::English); }

    void pkceChallengeIsTheRfcExample() {
        // RFC 7636 appendix B
        QCOMPARE(pkceChallenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
                 QByteArray("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"));
        const QByteArray v = pkceVerifier();
        QCOMPARE(v.size(), 64);
        QVERIFY(v != pkceVerifier());
    }

    void signIn_data() {
        QTest::addColumn<QString>("secret");  // the client secret the user entered
        QTest::addColumn<QString>("twist");   // "forge", "deny", or an authorization endpoint
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("shown");
        const int signedIn = int(SignInResult::Status::SignedIn);
        const int failed = int(SignInResult::Status::Failed);
        const QString none;
        QTest::newRow("signed in, the PKCE verifier checked") << none << none << signedIn << none;
        QTest::newRow("a wrong client secret: the provider's refusal shown")
            << "wrong" << none << failed << "invalid_client";
        QTest::newRow("a forged error redirect: turned away, the sign-in goes on and completes")
            << none << "forge" << signedIn << none;
        QTest::newRow("the provider's refusal: its words decoded, markup and all as text")
            << none << "deny" << failed << "access_denied: <b>No</b> access & no+way";
        QTest::newRow("plain http:// to another machine: refused before the browser")
            << none << "http://auth.example.org/authorize" << failed << "https://";
    }
    void signIn() {
        QFETCH(QString, secret);
        QFETCH(QString, twist);
        QFETCH(int, status);
        QFETCH(QString, shown);
        test::TestEnv env;
        Provider provider;
        QVERIFY2(provider.start(twist == "deny" ? QStringList{"--deny", "<b>No</b> access & no+way"}
                                                : QStringList{}),
                 qPrintable(provider.process.errorText()));
        test::ScriptedUserInteraction ui;
        const QString forged = env.root() + QStringLiteral("forged.txt");
        ui.setUrlOpener([&](const QString& url) {
            return twist == "forge" ? forgingBrowser(url, forged) : pythonBrowser(url);
        });
        OAuthValues v = provider.values();
        v.clientSecret = secret;
        if (twist.startsWith("http:"))
            v.authorizeUrl = twist;
        SignInHooks hooks;
        hooks.waitForEnd = waitBounded;
        const SignInResult r = serversettings::signIn(v, ui, hooks);
        QCOMPARE(int(r.status), status);
        QCOMPARE(ui.urlsOpened().size(), twist.startsWith("http:") ? 0 : 1);
        if (r.status == SignInResult::Status::SignedIn) {
            QVERIFY(ui.urlsOpened()[0].contains("code_challenge_method=S256"));
            QVERIFY(!ui.urlsOpened()[0].contains("code_verifier"));
            // a state no local process can guess: at least 128 bits of base64url
            const QString state = QUrlQuery(QUrl(ui.urlsOpened()[0])).queryItemValue("state");
            QVERIFY2(state.size() >= 22, qPrintable(state));
            QVERIFY(r.refreshToken.startsWith("rt-"));
            QVERIFY(r.accessToken.startsWith("at-"));
            QCOMPARE(r.account, kUser);
            QVERIFY(r.accessExpiry > QDateTime::currentDateTimeUtc().addSecs(3000));
            QVERIFY(ui.askedTexts().isEmpty());
        } else {
            QVERIFY2(ui.askedTexts().join('\n').contains(shown),
                     qPrintable(ui.askedTexts().join('\n')));
        }
        if (twist == "forge")
            QCOMPARE(test::readFile(forged), QByteArray("400"));
        const QStringList events = provider.process.events();
        QCOMPARE(count(events, "AUTHORIZE ok"), twist.isEmpty() || twist == "forge" ? 1 : 0);
        QCOMPARE(count(events, "TOKEN code refused pkce"), 0);
    }

    // The access token of a sign-in: used while valid, renewed before it expires or when the
    // server refused it, and a dead sign-in told once and never asked about again.
    void tokens_data() {
        QTest::addColumn<QStringList>("serverArguments");
        QTest::addColumn<int>("secondsLeft");   // of the token held; -1: none held
        QTest::addColumn<QList<int>>("needs");  // TokenNeed of each call
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("refreshes");
        QTest::addColumn<QString>("shown");
        const int valid = int(send::TokenNeed::Valid);
        const int fresh = int(send::TokenNeed::Fresh);
        QTest::newRow("valid: used as it is")
            << QStringList{} << 3600 << QList<int>{valid, valid} << true << 0 << "";
        QTest::newRow("about to expire: renewed first, then reused")
            << QStringList{} << 60 << QList<int>{valid, valid} << true << 1 << "";
        QTest::newRow("refused by the server: a fresh one")
            << QStringList{} << 3600 << QList<int>{fresh} << true << 1 << "";
        QTest::newRow("revoked: sign in again, the provider asked once")
            << QStringList{"--revoked"} << -1 << QList<int>{valid, fresh, valid} << false << 1
            << "Sign in again";
        QTest::newRow("slow token endpoint: a clear timeout")
            << QStringList{"--slow-token", "5"} << -1 << QList<int>{valid} << false << 1
            << "did not answer within 0.3 seconds";
    }
    void tokens() {
        QFETCH(QStringList, serverArguments);
        QFETCH(int, secondsLeft);
        QFETCH(QList<int>, needs);
        QFETCH(bool, ok);
        QFETCH(int, refreshes);
        QFETCH(QString, shown);
        Provider provider;
        QVERIFY2(provider.start(serverArguments), qPrintable(provider.process.errorText()));
        OAuthValues v = provider.values();
        if (serverArguments.contains("--slow-token")) {
            v.refreshToken = QStringLiteral("rt-slow");
        } else {
            // a refresh token the provider knows: a sign-in's
            test::ScriptedUserInteraction ui;
            ui.setUrlOpener(pythonBrowser);
            SignInHooks hooks;
            hooks.waitForEnd = waitBounded;
            const SignInResult r = serversettings::signIn(v, ui, hooks);
            QCOMPARE(int(r.status), int(SignInResult::Status::SignedIn));
            v.refreshToken = r.refreshToken;
        }
        const QDateTime now = QDateTime::currentDateTimeUtc();
        if (secondsLeft >= 0) {
            v.accessToken = QStringLiteral("held-token");
            v.accessExpiry = now.addSecs(secondsLeft);
        }
        COAuthTokens tokens(v, {}, [now] { return now; });
        tokens.setTimeout(300);
        send::AccessToken last;
        for (int need : needs)
            last = tokens.accessToken(static_cast<send::TokenNeed>(need));
        QCOMPARE(last.ok, ok);
        QCOMPARE(tokens.refreshCount(), refreshes);
        QVERIFY2(last.error.contains(shown), qPrintable(last.error));
        if (ok)
            QVERIFY(refreshes == 0 ? last.token == QStringLiteral("held-token")
                                   : last.token.startsWith(QStringLiteral("at-")));
        QCOMPARE(last.signInNeeded, serverArguments.contains("--revoked"));
        // no token in a message
        QVERIFY(!last.error.contains("rt-") && !last.error.contains("at-"));
        if (serverArguments.contains("--revoked"))
            QCOMPARE(count(provider.process.events(), "TOKEN refresh revoked"), 1);
    }

    // Whole runs of 50 mails signing in with the token: each mail reaches the server once,
    // a token that expires half-way is renewed once, a dead sign-in sends nothing and asks
    // the provider once; no token or refresh token in any file the run wrote.
    void runs_data() {
        QTest::addColumn<QStringList>("serverArguments");
        QTest::addColumn<bool>("tokenHeld");  // the sign-in's access token, or none yet
        QTest::addColumn<int>("delivered");
        QTest::addColumn<int>("refreshes");  // asked of the token endpoint
        QTest::addColumn<int>("refusals");   // tokens the SMTP server refused
        QTest::addColumn<QString>("logged");
        QTest::newRow("token expires half-way: renewed once, every mail once")
            << QStringList{"--drop-after", "25"} << true << 50 << 1 << 1 << "Reconnected";
        QTest::newRow("no token held yet: one renewal before the first connection")
            << QStringList{} << false << 50 << 1 << 0 << "OAuth2 )";
        QTest::newRow("revoked: nothing sent, a clear message, no loop")
            << QStringList{"--revoked"} << false << 0 << 1 << 0 << "Sign in again";
        QTest::newRow("every token refused: one fresh one, the JSON status logged")
            << QStringList{"--refuse-tokens"} << true << 0 << 1 << 2
            << "status invalid_token, scope https://mail.test/";
    }
    void runs() {
        QFETCH(QStringList, serverArguments);
        QFETCH(bool, tokenHeld);
        QFETCH(int, delivered);
        QFETCH(int, refreshes);
        QFETCH(int, refusals);
        QFETCH(QString, logged);
        test::SendWorld world;
        constexpr int kMails = 50;
        QVERIFY(world.createDatabase(kMails));
        const QString out = world.env.makeFolder(QStringLiteral("mail"));
        Provider provider;
        QVERIFY2(provider.start(serverArguments + QStringList{"--out", out}),
                 qPrintable(provider.process.errorText()));
        OAuthValues v = provider.values();
        test::ScriptedUserInteraction ui;
        ui.setUrlOpener(pythonBrowser);
        SignInHooks hooks;
        hooks.waitForEnd = waitBounded;
        const SignInResult signedIn = serversettings::signIn(v, ui, hooks);
        QCOMPARE(int(signedIn.status), int(SignInResult::Status::SignedIn));
        v.refreshToken = signedIn.refreshToken;
        if (tokenHeld) {
            v.accessToken = signedIn.accessToken;
            v.accessExpiry = signedIn.accessExpiry;
        }
        const QString wire = world.env.root() + QStringLiteral("wire.txt");
        qputenv("POSTWICK_SMTP_WIRE_LOG", QFile::encodeName(wire));
        const auto unset = qScopeGuard([] { qunsetenv("POSTWICK_SMTP_WIRE_LOG"); });

        send::MailJob job;
        job.senderAddress = kUser;
        job.subject = QStringLiteral("Hello [[Name]]");
        job.recipientText = QStringLiteral("[[Mail Address]]");
        job.bodyText = QStringLiteral("Dear [[Name]],\r\nsee you.\r\n");
        job.mainPreviewFolder = world.env.makeFolder(QStringLiteral("preview"));
        for (int k = 0; k < db::kFieldCount; ++k)
            job.captions[size_t(k)] = db::DefaultCaption(k);
        job.messageIdDomain = QStringLiteral("127.0.0.1");
        send::SendRun run;
        run.server.smtpServer = QStringLiteral("127.0.0.1");
        run.server.smtpPort = provider.process.port();
        run.server.smtpAuthType = pw::SmtpAuthType::LogOnUsing;
        run.server.smtpVerifMethod = pw::VerifMethod::OAuth2;
        run.server.smtpUserName = kUser;
        run.server.tokens = std::make_shared<COAuthTokens>(v);
        run.pacing.oneTimeSend = 100;
        const db::SendSelection selection =
            world.store->SendRun().LoadSendSelection(db::SendSelectionMode::All);
        run.recordIds = selection.ids;
        send::CSendLog log;
        const QString logPath = world.folders.userDataFolder + QStringLiteral("log.txt");
        log.setPath(logPath);
        log.setActive();
        QuietSendProgress progress;
        db::TDbData* store = world.store.get();
        send::CMailSendThread worker(
            run, std::make_unique<send::CMessageAssembly>(job, selection),
            std::make_unique<send::CSmtpTransport>(run.server),
            [store](int id, send::Outcome o) {
                return store->SendRun().SetSentFlag(id, int(o)) == db::SentFlagResult::Written
                           ? send::RecordResult::Recorded
                           : send::RecordResult::NotRecorded;
            },
            progress, log);
        worker.start();
        QVERIFY(worker.wait(QDeadlineTimer(180000)));

        // every recipient once
        QMap<QString, int> received;
        for (int n = 1; QFile::exists(out + QStringLiteral("%1.json").arg(n)); ++n) {
            const QJsonObject o =
                QJsonDocument::fromJson(test::readFile(out + QStringLiteral("%1.json").arg(n)))
                    .object();
            for (const QJsonValue r : o.value("rcpt_tos").toArray())
                ++received[r.toString()];
        }
        QCOMPARE(received.size(), delivered);
        for (auto it = received.cbegin(); it != received.cend(); ++it)
            QVERIFY2(it.value() == 1, qPrintable(it.key()));
        QCOMPARE(world.sentFlags().count(1), delivered);
        QCOMPARE(worker.report().status == send::RunStatus::Failed, delivered == 0);
        QCOMPARE(worker.report().signInProblem, delivered == 0);
        const QStringList events = provider.process.events();
        QCOMPARE(count(events, "TOKEN refresh"), refreshes);
        QCOMPARE(count(events, "AUTH refused"), refusals);
        QCOMPARE(count(events, "AUTH bad answer"), 0);
        const QString text = QString::fromUtf8(test::readFile(logPath));
        QVERIFY2(text.contains(logged), qPrintable(text));
        QCOMPARE(progress.prompts.load(), 0);  // nobody asked to retry a dead sign-in

        // neither the tokens nor the refresh token in anything written
        const QString accessPrefix =
            signedIn.accessToken.left(signedIn.accessToken.lastIndexOf('-'));
        QDirIterator files(world.env.root(), QDir::Files, QDirIterator::Subdirectories);
        int looked = 0;
        while (files.hasNext()) {
            const QString file = files.next();
            const QByteArray bytes = test::readFile(file);
            ++looked;
            QVERIFY2(!bytes.contains(accessPrefix.toUtf8()), qPrintable(file));
            QVERIFY2(!bytes.contains(signedIn.refreshToken.toUtf8()), qPrintable(file));
        }
        QVERIFY(looked >= 3);  // the log, the wire log, the database at least
    }

    void connectionTest_data() {
        QTest::addColumn<QStringList>("serverArguments");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QString>("logged");
        QTest::newRow("signed in") << QStringList{} << int(TestVerdict::Success)
                                   << "Connected to SMTP server. ( 127.0.0.1:%1 / OAuth2 )";
        QTest::newRow("token refused: the JSON status in the log")
            << QStringList{"--refuse-tokens"} << int(TestVerdict::Failed)
            << "status invalid_token, scope https://mail.test/";
        QTest::newRow("the provider replaced the refresh token: the new one kept")
            << QStringList{"--rotate"} << int(TestVerdict::Success) << "OAuth2 )";
    }
    void connectionTest() {
        QFETCH(QStringList, serverArguments);
        QFETCH(int, verdict);
        QFETCH(QString, logged);
        test::TestEnv env;
        Provider provider;
        QVERIFY2(provider.start(serverArguments), qPrintable(provider.process.errorText()));
        test::ScriptedUserInteraction ui;
        ui.setUrlOpener(pythonBrowser);
        SignInHooks hooks;
        hooks.waitForEnd = waitBounded;
        OAuthValues v = provider.values();
        const SignInResult r = serversettings::signIn(v, ui, hooks);
        QCOMPARE(int(r.status), int(SignInResult::Status::SignedIn));
        v.refreshToken = r.refreshToken;  // no access token held: the test renews it first
        ServerSettingsValues values;
        values.standard.smtpServer = QStringLiteral("127.0.0.1");
        values.standard.smtpPort = provider.process.port();
        values.standard.smtpAuthType = pw::SmtpAuthType::LogOnUsing;
        values.standard.smtpVerifMethod = pw::VerifMethod::OAuth2;
        values.standard.smtpUserName = kUser;
        values.oauth = v;
        CServerSettingsEditor editor(values, {}, ui);
        send::CSendLog log;
        log.setPath(env.root() + QStringLiteral("log.txt"));
        ConnectionTestHooks testHooks;
        testHooks.waitForEnd = [](CConnectionTestRun& run) {
            return QTest::qWaitFor([&run] { return run.finished(); }, 30000);
        };
        QCOMPARE(int(runConnectionTestFlow(editor, ui, log, testHooks)), verdict);
        // what OK then keeps is the token the provider still takes
        QCOMPARE(editor.values().oauth.refreshToken != r.refreshToken,
                 serverArguments.contains("--rotate"));
        const QString text =
            QString::fromUtf8(test::readFile(env.root() + QStringLiteral("log.txt")));
        QVERIFY2(text.contains(logged.arg(provider.process.port())), qPrintable(text));
        // the configured port only: a refused token is no reason to try others
        QVERIFY(!text.contains(":587 "));
    }
};

QTEST_GUILESS_MAIN(TestOAuth)
#include "test_oauth.moc"
