// The command-line sender, run as its own process against a real SMTP server on loopback:
// exit statuses, outcomes written back into the project file, the dry run, Ctrl+C, and a
// run killed part-way and resumed with "--selection unsent".
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>
#include <csignal>
#include <random>

#include "EngineLockFolder.h"
#include "FirebirdTestServer.h"
#include "PrivateKeyring.h"
#include "RawStatement.h"
#include "SmtpTestServer.h"
#include "app/AppFolders.h"
#include "app/IniFile.h"
#include "app/Keyring.h"
#include "app/RunRecovery.h"
#include "app/ScheduledSend.h"
#include "app/SendCommand.h"
#include "app/ServerSettingsStore.h"
#include "app/Settings.h"
#include "bounces/MailboxRun.h"
#include "compose/MailFile.h"
#include "db/RunAttachment.h"
#include "db/SuppressionList.h"
#include "send/RunMarker.h"
#include "send/SendLog.h"
#include "send/Tracking.h"
#include "test_send_world.h"

using namespace pw;

namespace {

// Signals the child only while it runs: a finished QProcess reports pid 0, and kill(0, ...)
// would reach this test's whole process group (ctest and whatever started it).
bool signalChild(QProcess& p, int signalNumber) {
    const qint64 pid = p.processId();
    if (p.state() != QProcess::Running || pid <= 0)
        return false;
    return ::kill(pid_t(pid), signalNumber) == 0;
}

struct CliWorld {
    test::SendWorld world;
    app::AppFolders folders;
    QString project;
    QString preview;
    std::unique_ptr<test::CaptureServer> server;

    explicit CliWorld(QStringList serverArguments = {}) {
        folders = app::DetermineFolders(QCoreApplication::applicationDirPath() + '/');
        preview = world.env.makeFolder(QStringLiteral("preview"));
        project = world.env.root() + QStringLiteral("customers.pzy");
        server = std::make_unique<test::CaptureServer>(world.env.makeFolder(QStringLiteral("mail")),
                                                       serverArguments);
    }

    // A project of `count` recipients, merged on [[Mail Address]].
    bool makeProject(int count, const QString& recipientText = QStringLiteral("[[Mail Address]]"),
                     const std::function<void(QByteArray&)>& damage = {},
                     const std::function<void(MailDocument&, ProjectWriteOptions&)>& shape = {}) {
        if (!world.createDatabase(count))
            return false;
        if (!world.store->Save(db::SaveMode::Ending))
            return false;
        const QString copy = world.store->WorkingCopyPath();
        world.store->Close(db::CloseMode::KeepWorkingCopy);
        if (damage) {
            QByteArray bytes = test::readFile(copy);
            damage(bytes);
            if (!test::writeFile(copy, bytes))
                return false;
        }
        MailDocument doc;
        doc.senderAddress = QStringLiteral("shop@example.jp");
        doc.senderName = QStringLiteral("The Shop");
        doc.subject = QStringLiteral("News for [[Name]]");
        doc.recipientText = recipientText;
        doc.textBody = QStringLiteral("Hello [[Name]], your code is [[field3]].\r\n");
        ProjectWriteOptions options;
        options.previewFolder = preview;
        options.workingCopyPath = copy;
        if (shape)
            shape(doc, options);
        const WriteResult r = writeProjectFile(project, doc, {}, options, nullptr);
        QFile::remove(copy);
        return r.ok();
    }

    bool writeSettings(int port, std::function<void(app::Settings&)> change = {}) {
        QDir().mkpath(folders.userDataFolder);
        app::CIniFile ini(folders.settingsPath(QStringLiteral("test_send_cli")));
        (void)ini.Load();
        app::Settings s = app::ReadSettings(ini);
        s.server.smtpServer = QStringLiteral("127.0.0.1");
        s.server.smtpPort = port;
        s.server.smtpAuthType = SmtpAuthType::None;
        s.server.smtpConnectionType = smtp::ConnectionType::None;
        s.sendWait = 0;
        s.oneTimeSend = 10;
        if (change)
            change(s);
        app::WriteSettings(ini, s);
        return ini.Save();
    }

    bool startServer() { return server->start() && writeSettings(server->port()); }

    static QString driver() {
        return QCoreApplication::applicationDirPath() + QStringLiteral("/test_send_cli");
    }

    test::ProcessResult send(
        const QStringList& arguments, int timeoutMs = 120000,
        const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(driver(), arguments);
        test::ProcessResult r;
        if (!p.waitForStarted(10000))
            return r;
        p.closeWriteChannel();
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished();
        }
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        return r;
    }

    // SENDED of every record of the database inside the project file, in ID order.
    QList<int> projectFlags() {
        db::TDbData store(
            {world.folders.userDataFolder, world.env.root() + QStringLiteral("check/")});
        MailFileReadOptions options;
        options.previewFolder =
            world.env.makeFolder(QStringLiteral("check-preview-%1").arg(++m_checks));
        options.databaseTarget = [&] { return store.MakeWorkingCopyPath(); };
        const MailFileReadResult r = readMailFile(project, options, nullptr);
        if (!r.ok() || !store.Open())
            return {};
        QList<int> flags;
        store.Records().ForEachRecord(db::RecordView::Committed, db::RecordOrder::ById, 0,
                                      [&](const db::StoredRecord& record) {
                                          flags << record.sent;
                                          return true;
                                      });
        store.Close(db::CloseMode::DeleteWorkingCopy);
        return flags;
    }

    // How often each recipient address received a mail.
    QMap<QString, int> received() const {
        QMap<QString, int> counts;
        for (const QJsonValue& v : server->index())
            for (const QJsonValue& to : v.toObject()[QStringLiteral("to")].toArray())
                ++counts[to.toString()];
        return counts;
    }

    QStringList leftovers() const {
        return QDir(folders.workingCopyFolder).entryList(QDir::Files | QDir::Hidden);
    }

private:
    int m_checks = 0;
};

}  // namespace

class TestSendCommand : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(test::ensureProcessLockFolder()); }

    // The continuation of a stopped run: its units written, moved by a second schedule,
    // listed, and removed; systemd gets the calls, and a name outside its folder is refused.
    void scheduledContinuation() {
        test::TestEnv env;
        const QString units = env.makeFolder(QStringLiteral("units"));
        QList<QStringList> calls;
        const app::SystemctlRunner record = [&calls](const QStringList& a) {
            calls << a;
            return 0;
        };
        const QDateTime when(QDate(2026, 12, 11), QTime(14, 48, 45), Qt::UTC);
        const QString project = env.root() + QStringLiteral("my 100% \"news\".pzy");
        const QString program = QStringLiteral("/usr/bin/postwick");
        QCOMPARE(app::scheduleSend(units, program, project, when, record),
                 app::ScheduleResult::Scheduled);
        QCOMPARE(app::scheduleSend(units, program, project, when.addDays(1), record),
                 app::ScheduleResult::Scheduled);
        const QList<app::ScheduledSend> listed = app::scheduledSends(units);
        QCOMPARE(listed.size(), 1);
        QCOMPARE(listed[0].project, project);
        QCOMPARE(listed[0].when, when.addDays(1));
        const QString service = units + listed[0].unit.chopped(6) + QStringLiteral(".service");
        const QString exec = QString::fromUtf8(test::readFile(service));
        QVERIFY2(
            exec.contains(QStringLiteral("ExecStart=\"/usr/bin/postwick\" --send \"") + env.root() +
                          QStringLiteral("my 100%% \\\"news\\\".pzy\" "
                                         "--selection unsent")),
            qPrintable(exec));
        QCOMPARE(calls.last(), (QStringList{"enable", "--now", listed[0].unit}));
        QVERIFY(!app::cancelScheduledSend(units, QStringLiteral("../x.timer"), record));
        QVERIFY(app::cancelScheduledSend(units, listed[0].unit, record));
        QCOMPARE(calls.at(calls.size() - 2), (QStringList{"disable", "--now", listed[0].unit}));
        QVERIFY(app::scheduledSends(units).isEmpty());
        QVERIFY(!QFile::exists(service));
    }
    void commandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("help") << QStringList{"--send", "--help"} << 0;
        QTest::newRow("no project") << QStringList{"--send"} << 4;
        QTest::newRow("bad selection")
            << QStringList{"--send", "x.pzy", "--selection", "some"} << 4;
        QTest::newRow("unknown option") << QStringList{"--send", "x.pzy", "--fast"} << 4;
        QTest::newRow("dry run without folder") << QStringList{"--send", "x.pzy", "--dry-run"} << 4;
        QTest::newRow("missing project") << QStringList{"--send", "/no/such/file.pzy"} << 4;
        QTest::newRow("database not on a server")
            << QStringList{"--send", "x.pzy", "--database", "/home/ann/list.fdb"} << 4;
    }
    void commandLine() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        CliWorld w;
        const test::ProcessResult r = w.send(arguments, 30000);
        QCOMPARE(r.exitCode, exitCode);
        if (exitCode == 0) {
            QVERIFY(r.out.contains("--selection all|selected|unsent"));
            QVERIFY(r.out.contains("3 cancelled"));
        }
    }

    // The recipients in a list on a Firebird server (--database, signed in as ISC_USER, or the
    // server and user the project remembers): the outcomes are recorded there, the project's
    // own list is left as it was; while another desktop sends, the run is refused with who.
    // Beside the list's shared suppressions, this desktop's own file still counts.
    void serverList_data() {
        QTest::addColumn<bool>("otherDeskSends");
        QTest::addColumn<bool>("remembered");
        QTest::addColumn<bool>("bounced");  // this desktop's bounce reader suppressed office2
        QTest::newRow("the list is free") << false << false << false;
        QTest::newRow("another desktop sends") << true << false << false;
        QTest::newRow("the project remembers the server") << false << true << false;
        QTest::newRow("a bounce read here suppressed one") << false << false << true;
    }
    void serverList() {
        QFETCH(bool, otherDeskSends);
        QFETCH(bool, remembered);
        QFETCH(bool, bounced);
        CliWorld w;
        test::FirebirdTestServer firebird(w.world.env.makeFolder(QStringLiteral("firebird")));
        QVERIFY2(firebird.start({{"ANN", "sesame"}}), qPrintable(firebird.errorText()));
        const QString list = firebird.createDatabase(QStringLiteral("list.fdb"), {"ANN", "sesame"});
        QVERIFY2(!list.isEmpty(), qPrintable(firebird.errorText()));
        QVERIFY(w.makeProject(2, QStringLiteral("[[Mail Address]]"), {},
                              [&](MailDocument&, ProjectWriteOptions& o) {
                                  if (remembered)
                                      o = {o.previewFolder, {}, o.currentCodePage, list, "ANN"};
                              }));
        QVERIFY(w.startServer());
        db::TDbData desk({w.world.env.makeFolder(QStringLiteral("desk")),
                          w.world.env.root() + QStringLiteral("deskstate/")});
        QVERIFY(desk.OpenServer({list, QStringLiteral("ANN"), QStringLiteral("sesame")}));
        for (int id = 1; id <= 3; ++id)
            pw::test::execute(desk,
                              QStringLiteral("insert into MAILS (ID, SENDED, SENDING, ADDRESS, "
                                             "NAME, FIELD3) values (%1, 0, 1, "
                                             "'office%1@example.org', 'Desk %1', 'C%1')")
                                  .arg(id));
        db::CRunAttachment other(desk.WorkingCopyPath(), {});
        if (otherDeskSends)
            QCOMPARE(other.TakeRunLock(QStringLiteral("ann@desk2"), nullptr),
                     db::CRunAttachment::RunLock::Taken);
        if (bounced)
            QCOMPARE(bounces::countRefusals({{"office2@example.org", "550 5.1.1 User unknown"}},
                                            send::newRunId(), w.folders.userDataFolder, {})
                         .outcome,
                     bounces::MailboxRunOutcome::Done);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!remembered)
            env.insert(QStringLiteral("ISC_USER"), QStringLiteral("ANN"));
        env.insert(QStringLiteral("ISC_PASSWORD"), QStringLiteral("sesame"));
        const QStringList args = remembered ? QStringList{"--send", w.project}
                                            : QStringList{"--send", w.project, "--database", list};
        const test::ProcessResult r = w.send(args, 120000, env);
        if (otherDeskSends) {
            QCOMPARE(r.exitCode, 4);
            QVERIFY2(r.err.contains("ann@desk2"), r.err.constData());
            QCOMPARE(w.server->count(), 0);
            return;
        }
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(w.server->count(), bounced ? 2 : 3);
        const std::optional<db::CRunAttachment::Outcomes> outcomes = other.ReadOutcomes();
        QVERIFY(outcomes);
        QCOMPARE(*outcomes, (db::CRunAttachment::Outcomes{{1, 1}, {2, bounced ? 2 : 1}, {3, 1}}));
        QCOMPARE(w.projectFlags(), remembered ? QList<int>() : QList<int>(2, 0));
        QCOMPARE(w.leftovers(), QStringList());
    }

    // Written back whole, also when the reader of the output goes away part-way
    // (`postwick --send p.pzy | head -n 3`).
    void mergeSendWritesOutcomesBack_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("headLines");  // 0: the whole output is read
        QTest::newRow("output read") << 10 << 0;
        QTest::newRow("output closed after 3 lines") << 60 << 3;
    }
    void mergeSendWritesOutcomesBack() {
        QFETCH(int, count);
        QFETCH(int, headLines);
        CliWorld w;
        QVERIFY(w.makeProject(count));
        QVERIFY(w.startServer());
        test::ProcessResult r;
        if (headLines > 0) {
            QProcess run, head;
            run.setStandardOutputProcess(&head);
            head.start(QStringLiteral("head"), {"-n", QString::number(headLines)});
            run.start(CliWorld::driver(), {"--send", w.project});
            QVERIFY(run.waitForFinished(120000));
            QVERIFY(head.waitForFinished(10000));
            r.exitCode = run.exitStatus() == QProcess::NormalExit ? run.exitCode() : -1;
            r.err = run.readAllStandardError();
        } else {
            r = w.send({"--send", w.project});
        }
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(w.server->count(), count);
        QCOMPARE(w.projectFlags(), QList<int>(count, 1));
        // Nothing of the run is left behind.
        QCOMPARE(w.leftovers(), QStringList());
        if (headLines > 0)
            return;
        QVERIFY(r.out.contains("/ Mail transmission completed."));
        QVERIFY(r.out.contains("mail: 10  /  10"));
        QVERIFY(r.out.contains("Mail transmission complete."));

        // Nothing is left to send: the second run sends nothing and says so.
        const test::ProcessResult again = w.send({"--send", w.project, "--selection", "unsent"});
        QCOMPARE(again.exitCode, 0);
        QVERIFY(again.out.contains("nothing is left unsent"));
        QCOMPARE(w.server->count(), 10);
    }

    // The suppression list of the user counts for the command line too: its addresses are left
    // out, logged and counted, and the next "unsent" run does not pick them.
    void suppressedAddressesAreLeftOut() {
        CliWorld w;
        QVERIFY(w.makeProject(6));
        QVERIFY(w.startServer());
        db::CSuppressionList list(w.folders.userDataFolder);
        QCOMPARE(list.Add({"rcpt2@EXAMPLE.jp", "rcpt5@example.jp"}, "asked").added, 2);
        const test::ProcessResult r = w.send({"--send", w.project});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(w.server->count(), 4);
        QCOMPARE(w.projectFlags(), (QList<int>{1, 2, 1, 1, 2, 1}));
        QVERIFY(r.out.contains("Not sent: rcpt2@example.jp is on the suppression list (asked)."));
        QVERIFY(r.out.contains("2 recipients on the suppression list were skipped."));
        const test::ProcessResult again = w.send({"--send", w.project, "--selection", "unsent"});
        QCOMPARE(again.exitCode, 0);
        QCOMPARE(w.server->count(), 4);
    }

    // A self-signed server is refused until its very certificate is trusted for its host and
    // port; the trust lives in the settings file, where the command line finds it.
    void trustedCertificateIsHonoured() {
        CliWorld w;
        QVERIFY(w.makeProject(2));
        test::TestCertificates certs(w.world.env.makeFolder(QStringLiteral("certs")));
        QVERIFY2(certs.ok(), qPrintable(certs.errorText()));
        const QString out = w.world.env.makeFolder(QStringLiteral("tls-mail"));
        test::SmtpTestServer tls;
        QVERIFY2(tls.start({"--mode", "tls", "--cert", certs.selfSignedCert(), "--key",
                            certs.selfSignedKey(), "--out", out}),
                 qPrintable(tls.errorText()));
        QVERIFY(w.writeSettings(tls.port(), [](app::Settings& s) {
            s.server.smtpConnectionType = smtp::ConnectionType::SslTls;
        }));
        test::ProcessResult r = w.send({"--send", w.project});
        QCOMPARE(r.exitCode, 2);

        const QByteArray fingerprint = test::TestCertificates::sha256(certs.selfSignedCert());
        QCOMPARE(fingerprint.size(), 32);
        const QString settings = w.folders.settingsPath(QStringLiteral("test_send_cli"));
        // no one to ask: the fingerprint and the settings line that trusts it are printed
        const QString told = QString::fromLocal8Bit(r.err);
        QVERIFY2(told.contains(QString::fromLatin1(fingerprint.toHex(':').toUpper())),
                 qPrintable(told));
        QVERIFY2(told.contains(QStringLiteral("127.0.0.1:%1=").arg(tls.port()) +
                               QString::fromLatin1(fingerprint.toHex())) &&
                     told.contains(settings),
                 qPrintable(told));
        QVERIFY(app::StoreTrustedCertificate(settings, {"127.0.0.1", tls.port() + 1, fingerprint}));
        QCOMPARE(w.send({"--send", w.project}).exitCode, 2);  // trusted elsewhere only
        QVERIFY(app::StoreTrustedCertificate(settings, {"127.0.0.1", tls.port(), fingerprint}));
        r = w.send({"--send", w.project});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(QDir(out).entryList({"*.eml"}, QDir::Files).size(), 2);
    }

    // The window moved the password into the desktop keyring; "postwick --send" reads it
    // from there, and logs in with it.
    void sendReadsThePasswordFromTheKeyring() {
        CliWorld w;
        QVERIFY(w.makeProject(2));
        test::PrivateKeyring keyring;
        QVERIFY2(keyring.ok(), qPrintable(keyring.errorText()));
        const QString out = w.world.env.makeFolder(QStringLiteral("auth-mail"));
        test::SmtpTestServer server;
        QVERIFY2(server.start({"--user", "ann:kr-pass-77", "--out", out}),
                 qPrintable(server.errorText()));
        QVERIFY(w.writeSettings(server.port(), [](app::Settings& s) {
            s.server.smtpAuthType = SmtpAuthType::LogOnUsing;
            s.server.smtpVerifMethod = VerifMethod::Login;
            s.server.smtpUserName = QStringLiteral("ann");
            s.server.smtpPassword = QStringLiteral("kr-pass-77");
        }));
        const QString settings = w.folders.settingsPath(QStringLiteral("test_send_cli"));
        {
            app::CIniFile ini(settings);
            QVERIFY(ini.Load());
            const app::Settings s = app::ReadSettings(ini);
            app::StoreSecrets(ini, s, app::processKeyring());
            QVERIFY(ini.Save());
        }
        QVERIFY(!test::readFile(settings).contains(app::ScramblePassword("kr-pass-77").toUtf8()));
        QCOMPARE(keyring.lookup(QStringLiteral("SMTPPassword")), QStringLiteral("kr-pass-77"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("POSTWICK_KEYRING"));
        const test::ProcessResult r = w.send({"--send", w.project}, 120000, env);
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(QDir(out).entryList({"*.eml"}, QDir::Files).size(), 2);
        QVERIFY(server.events().contains(QStringLiteral("AUTH ok LOGIN ann")));
        QVERIFY(!r.out.contains("kr-pass-77") && !r.err.contains("kr-pass-77"));
    }

    void dryRunTouchesNothing() {
        CliWorld w;
        QVERIFY(w.makeProject(4));
        QVERIFY(w.server->start());
        // signed in by OAuth2 with a token server that is not there: a dry run never asks it
        QVERIFY(w.writeSettings(w.server->port(), [](app::Settings& s) {
            s.server.smtpAuthType = SmtpAuthType::LogOnUsing;
            s.server.smtpVerifMethod = VerifMethod::OAuth2;
            s.oauthProvider = serversettings::OAuthProvider::Custom;
            s.oauthTokenUrl = QStringLiteral("http://127.0.0.1:%1/t").arg(test::closedPort());
            s.oauthRefreshToken = QStringLiteral("rt-never-asked");
            s.oauthTokenInFile = 1;
        }));
        const QByteArray before = test::readFile(w.project);
        const QString folder = w.world.env.root() + QStringLiteral("check these");
        const test::ProcessResult r = w.send({"--send", w.project, "--dry-run", folder});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(w.server->count(), 0);
        QCOMPARE(test::readFile(w.project), before);
        QStringList files = QDir(folder).entryList({"*.eml"}, QDir::Files, QDir::Name);
        QCOMPARE(files.size(), 4);
        QStringList paths;
        for (const QString& f : files)
            paths << folder + '/' + f;
        const QJsonArray parsed = test::parseMessages(paths);
        QCOMPARE(parsed.size(), 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(parsed[i].toObject()["defects"].toInt(), 0);
            QCOMPARE(parsed[i].toObject()["subject"].toString(),
                     QStringLiteral("News for Name %1").arg(i + 1));
        }
        QCOMPARE(w.leftovers(), QStringList());
    }

    // "--check" prints its findings against a name server on loopback and sends nothing,
    // leaving the project as it was; a problem (no SPF record) exits 6, warnings 0.
    void checkSendsNothing_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("finding");
        QTest::newRow("no spf") << QByteArray("example.jp. 60 IN MX 10 mx.example.jp.\n") << 6
                                << "problem SPF: The domain example.jp has no SPF record";
        QTest::newRow("warnings only")
            << QByteArray(
                   "example.jp. 60 IN MX 10 mx.example.jp.\n"
                   "example.jp. 60 IN TXT \"v=spf1 ip4:127.0.0.1 -all\"\n")
            << 0 << "warning DMARC: The domain example.jp has no DMARC";
    }
    void checkSendsNothing() {
        QFETCH(QByteArray, zone);
        QFETCH(int, exitCode);
        QFETCH(QString, finding);
        CliWorld w;
        QVERIFY(w.makeProject(3));
        QVERIFY(w.startServer());
        const QString zoneFile = w.world.env.makeFolder(QStringLiteral("dns")) + "zone";
        QVERIFY(test::writeFile(zoneFile, zone));
        test::SmtpTestServer dns;
        QVERIFY2(dns.startScript("dns_server.py", {zoneFile}), qPrintable(dns.errorText()));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("POSTWICK_DNS_SERVER", QStringLiteral("127.0.0.1:%1").arg(dns.port()));
        const QByteArray before = test::readFile(w.project);
        const test::ProcessResult r = w.send({"--send", w.project, "--check"}, 120000, env);
        QVERIFY2(r.exitCode == exitCode, r.out.constData());
        QVERIFY2(QString::fromUtf8(r.out).contains(finding), r.out.constData());
        QVERIFY(r.out.contains("0 at Yahoo"));
        QCOMPARE(w.server->count(), 0);
        QCOMPARE(test::readFile(w.project), before);
        QCOMPARE(w.leftovers(), QStringList());
    }

    void withErrorsExitsOne() {
        CliWorld w({QStringLiteral("--reject-rcpt"), QStringLiteral("rcpt2@")});
        QVERIFY(w.makeProject(3));
        QVERIFY(w.startServer());
        const test::ProcessResult r = w.send({"--send", w.project});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(w.projectFlags(), (QList<int>{1, 2, 1}));
        QVERIFY(r.out.contains("Was unable to send one or more mails."));
    }

    // Under a Japanese locale the program's own texts and the SMTP client's both read Japanese.
    void japaneseLocaleGivesJapaneseTexts() {
        CliWorld w({QStringLiteral("--reject-rcpt"), QStringLiteral("rcpt2@")});
        QVERIFY(w.makeProject(3));
        QVERIFY(w.startServer());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LANG"), QStringLiteral("ja_JP.UTF-8"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("ja_JP.UTF-8"));
        env.insert(QStringLiteral("LANGUAGE"), QStringLiteral("ja"));
        const test::ProcessResult r = w.send({"--send", w.project}, 120000, env);
        QCOMPARE(r.exitCode, 1);
        const QString all = QString::fromUtf8(r.out + r.err);
        QVERIFY2(all.contains(QString::fromUtf8("RCPT TOの応答が不正です")), qPrintable(all));
        QVERIFY2(!all.contains(QStringLiteral("Unexpected RCPT TO response")), qPrintable(all));
    }

    void noConnectionExitsTwo() {
        for (int port : {25, 26}) {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
            if (probe.waitForConnected(300))
                QSKIP("something listens on port 25 or 26 here");
        }
        CliWorld w;
        QVERIFY(w.makeProject(3));
        QVERIFY(w.writeSettings(test::closedPort()));
        test::ProcessResult r = w.send({"--send", w.project});
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(w.projectFlags(), QList<int>(3, 0));
        // a cron job's mail carries standard error: the reason is there, not only in the log
        QVERIFY2(r.err.contains("Unable to connect to SMTP server."), r.err.constData());
        // the OAuth2 method without a sign-in: the words the user can act on, there too
        QVERIFY(w.writeSettings(test::closedPort(), [](app::Settings& s) {
            s.server.smtpAuthType = SmtpAuthType::LogOnUsing;
            s.server.smtpVerifMethod = VerifMethod::OAuth2;
        }));
        r = w.send({"--send", w.project});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains("Not signed in: sign in with"), r.err.constData());
    }

    // Ctrl+C, SIGTERM and SIGHUP during a batch pause: the run stops in order, its outcomes
    // go back into the project, "all" is then refused without --force, and "not yet sent"
    // sends each remaining recipient once. A second campaign of a project sent in full before
    // is stopped the same way: "not yet sent" is what this campaign did not reach.
    void stopSignalsCancelInOrder_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<int>("campaign");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("batch");
        QTest::newRow("SIGINT") << int(SIGINT) << 1 << 3 << 1;
        QTest::newRow("SIGTERM") << int(SIGTERM) << 1 << 3 << 1;
        QTest::newRow("SIGHUP") << int(SIGHUP) << 1 << 3 << 1;
        QTest::newRow("second campaign stopped after 11") << int(SIGTERM) << 2 << 60 << 11;
    }
    void stopSignalsCancelInOrder() {
        QFETCH(int, signalNumber);
        QFETCH(int, campaign);
        QFETCH(int, count);
        QFETCH(int, batch);
        CliWorld w;
        QVERIFY(w.makeProject(count));
        QVERIFY(w.server->start());
        const int before = (campaign - 1) * count;
        if (campaign > 1) {
            QVERIFY(w.writeSettings(w.server->port(),
                                    [&](app::Settings& s) { s.oneTimeSend = count; }));
            QCOMPARE(w.send({"--send", w.project}).exitCode, 0);
            QCOMPARE(w.projectFlags(), QList<int>(count, 1));
        }
        QVERIFY(w.writeSettings(w.server->port(), [&](app::Settings& s) {
            s.oneTimeSend = batch;
            s.sendWait = 60;
        }));
        QProcess p;
        p.start(CliWorld::driver(), {"--send", w.project});
        QVERIFY(p.waitForStarted());
        // the session ends before the pause, the first batch's outcomes recorded
        QTRY_VERIFY_WITH_TIMEOUT(w.server->quits() == campaign, 30000);
        QVERIFY(signalChild(p, signalNumber));
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 3);
        QCOMPARE(w.server->count(), before + batch);
        // the ones the run never came to are counted among those left for "not yet sent"
        const QByteArray stopped = p.readAllStandardOutput();
        QVERIFY2(
            stopped.contains("Left for \"not yet sent\": " + QByteArray::number(count - batch)),
            stopped.constData());
        QList<int> flags(count, 0);
        std::fill_n(flags.begin(), batch, 1);
        QCOMPARE(w.projectFlags(), flags);

        const test::ProcessResult all = w.send({"--send", w.project});
        QCOMPARE(all.exitCode, 4);
        QVERIFY2(all.err.contains("--force"), all.err.constData());
        QCOMPARE(w.server->count(), before + batch);

        QVERIFY(
            w.writeSettings(w.server->port(), [&](app::Settings& s) { s.oneTimeSend = count; }));
        const test::ProcessResult rest = w.send({"--send", w.project, "--selection", "unsent"});
        QVERIFY2(rest.exitCode == 0, rest.err.constData());
        const QMap<QString, int> got = w.received();
        QCOMPARE(got.size(), count);
        for (auto it = got.cbegin(); it != got.cend(); ++it)
            QVERIFY2(it.value() == campaign, qPrintable(it.key()));
        QCOMPARE(w.projectFlags(), QList<int>(count, 1));
        // The run reached everyone: "all" is a plain choice again (and --force always was).
        const test::ProcessResult again = w.send({"--send", w.project, "--force"});
        QCOMPARE(again.exitCode, 0);
        QCOMPARE(w.server->count(), (campaign + 1) * count);
    }

    // A second run of a project that is being sent is refused, whatever the path or the state
    // folder it comes by; every recipient gets one mail.
    void secondRunOfTheSameProjectIsRefused_data() {
        QTest::addColumn<QString>("way");
        QTest::newRow("the same path") << "path";
        QTest::newRow("a hard link") << "hard link";
        QTest::newRow("a second state folder") << "state folder";
        // the timer's run waits for the first one instead, and then finds nothing left
        QTest::newRow("the timer's run") << "timer";
        QTest::newRow("the timer's run, no time to wait") << "timer, no wait";
        QTest::newRow("the timer's run, the project open in a window") << "timer, window open";
    }
    void secondRunOfTheSameProjectIsRefused() {
        QFETCH(QString, way);
        CliWorld w;
        QVERIFY(w.makeProject(3));
        QVERIFY(w.server->start());
        QVERIFY(w.writeSettings(w.server->port(), [](app::Settings& s) {
            s.oneTimeSend = 1;
            s.sendWait = 2;
        }));
        QString second = w.project;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (way == "hard link") {
            second = w.world.env.root() + QStringLiteral("linked.pzy");
            QVERIFY(::link(QFile::encodeName(w.project), QFile::encodeName(second)) == 0);
        } else if (way == "state folder") {
            env.insert(QStringLiteral("XDG_STATE_HOME"), w.world.env.makeFolder("other-state"));
        }
        QStringList arguments{"--send", second};
        if (way.startsWith("timer")) {
            // the command and environment exactly as the service the timer starts has them
            const QString units = w.world.env.makeFolder("units");
            QVERIFY(app::scheduleSend(units, CliWorld::driver(), w.project,
                                      QDateTime::currentDateTimeUtc().addDays(1),
                                      [](const QStringList&) { return 0; }) ==
                    app::ScheduleResult::Scheduled);
            const QString unit = units + app::scheduledSends(units)[0].unit.chopped(6);
            const QString service = QString::fromUtf8(test::readFile(unit + ".service"));
            QString exec = service.section("ExecStart=", 1).section('\n', 0, 0);
            arguments = QProcess::splitCommand(exec.replace("%%", "%"));
            QCOMPARE(arguments.takeFirst(), CliWorld::driver());
            const QString variable = service.section("Environment=", 1).section('\n', 0, 0);
            env.insert(variable.section('=', 0, 0),
                       way.endsWith("no wait") ? "0" : variable.section('=', 1));
        }
        std::unique_ptr<app::CProjectOpenMark> window;
        if (way.endsWith("window open")) {
            window = app::CProjectOpenMark::hold(w.folders.workingCopyFolder, w.project);
            QVERIFY(window && app::projectOpenInWindow(w.folders.workingCopyFolder, second));
        }
        QProcess first;
        first.start(CliWorld::driver(), {"--send", w.project});
        QVERIFY(first.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(w.server->count() >= 1, 30000);
        test::ProcessResult r;
        if (window) {
            // the run has ended, and the timer's still waits: for the window
            QProcess scheduled;
            scheduled.setProcessEnvironment(env);
            scheduled.start(CliWorld::driver(), arguments);
            QVERIFY(first.waitForFinished(60000));
            QTRY_VERIFY_WITH_TIMEOUT((r.out += scheduled.readAllStandardOutput()).contains("waits"),
                                     30000);
            QVERIFY(!scheduled.waitForFinished(100));
            window.reset();
            QVERIFY(!app::projectOpenInWindow(w.folders.workingCopyFolder, second));
            QVERIFY(w.leftovers().filter(".open").isEmpty());
            QVERIFY(scheduled.waitForFinished(60000));
            r.exitCode = scheduled.exitCode();
            r.out += scheduled.readAllStandardOutput();
        } else {
            r = w.send(arguments, 60000, env);
        }
        if (way == "timer" || way.endsWith("window open")) {
            QCOMPARE(r.exitCode, 0);
            QVERIFY2(r.out.contains("this scheduled run waits for it"), r.out.constData());
            QVERIFY2(r.out.contains("nothing is left unsent"), r.out.constData());
        } else {
            QCOMPARE(r.exitCode, 4);
            QVERIFY2(r.err.contains("being sent by another run"), r.err.constData());
            QCOMPARE(r.out.contains("this scheduled run sends nothing"), way == "timer, no wait");
        }
        QVERIFY(first.state() == QProcess::NotRunning || first.waitForFinished(60000));
        QCOMPARE(first.exitCode(), 0);
        QCOMPARE(w.received(),
                 (QMap<QString, int>{
                     {"rcpt1@example.jp", 1}, {"rcpt2@example.jp", 1}, {"rcpt3@example.jp", 1}}));
    }

    // Bad input is refused before the first mail, with a message that names it and exit
    // status 4; the project, the settings file and the real send log stay as they were.
    void badInputIsRefusedBeforeTheFirstMail_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("told");
        QTest::newRow("missing attachment") << "attach:missing"
                                            << "does not exist";
        QTest::newRow("a folder as attachment") << "attach:folder"
                                                << "is no file";
        QTest::newRow("a kernel file as attachment") << "attach:/proc/self/environ"
                                                     << "is no file";
        QTest::newRow("no SMTP server") << "server:"
                                        << "No SMTP server is set";
        QTest::newRow("200 MB attachment") << "attach:200"
                                           << "has 200.0 MB, more than the 25 MB";
        QTest::newRow("2 GB sparse attachment") << "attach:2048"
                                                << "more than the 25 MB";
        QTest::newRow("unreadable attachment") << "attach:mode000"
                                               << "cannot be read";
        QTest::newRow("settings garbage") << "settings:garbage"
                                          << "byte 0x01";
        QTest::newRow("settings in UTF-16") << "settings:utf16"
                                            << "byte 0xff";
        QTest::newRow("settings mode 000") << "settings:mode000"
                                           << "cannot be read";
        QTest::newRow("port 0") << "port:0"
                                << "(\"SMTPPort\" = 0) is no port";
        QTest::newRow("port 65536") << "port:65536"
                                    << "(\"SMTPPort\" = 65536) is no port";
        QTest::newRow("port -1") << "port:-1"
                                 << "(\"SMTPPort\" = -1) is no port";
        QTest::newRow("port 99999999999") << "port:99999999999"
                                          << "(\"SMTPPort\" = 99999999999) is no port";
        QTest::newRow("port 25x") << "port:25x"
                                  << "(\"SMTPPort\" = 25x) is no port";
        QTest::newRow("dry run into the user data folder") << "dry:data"
                                                           << "one of Postwick's own folders";
        QTest::newRow("dry run into a link to it") << "dry:link"
                                                   << "one of Postwick's own folders";
        QTest::newRow("dry run into a file") << "dry:file"
                                             << "cannot take the messages";
        QTest::newRow("state folder that cannot be written") << "state:file"
                                                             << "cannot be written";
        QTest::newRow("state folder full") << "state:full"
                                           << "(No space left on device)";
        QTest::newRow("log that cannot be written") << "log:folder"
                                                    << "The send log";
    }
    void badInputIsRefusedBeforeTheFirstMail() {
        QFETCH(QString, input);
        QFETCH(QString, told);
        const QString kind = input.section(':', 0, 0), what = input.section(':', 1);
        if (what == "mode000" && ::geteuid() == 0)
            QSKIP("file permissions do not hold for root");
        CliWorld w;
        const QString file =
            what.startsWith('/') ? what : w.world.env.root() + QStringLiteral("attached.bin");
        QVERIFY(w.makeProject(3, QStringLiteral("[[Mail Address]]"), {},
                              [&](MailDocument& doc, ProjectWriteOptions&) {
                                  if (kind == "attach")
                                      doc.attachments = {file};
                              }));
        QFile f(file);
        if (what == "folder" || kind == "dry")
            QVERIFY(what == "file" ? test::writeFile(file, "no folder") : QDir().mkpath(file));
        else if (kind == "attach" && what != "missing" && !what.startsWith('/'))
            QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(qint64(what.toInt()) * 1024 * 1024) &&
                    (what != "mode000" || QFile::setPermissions(file, {})));
        QVERIFY(w.startServer());
        const QString settingsPath = w.folders.settingsPath(QStringLiteral("test_send_cli"));
        QByteArray ini = test::readFile(settingsPath);
        if (kind == "port")
            ini.replace("SMTPPort=" + QByteArray::number(w.server->port()),
                        "SMTPPort=" + what.toLatin1());
        else if (kind == "server")
            ini.replace("SMTPServer=127.0.0.1", "SMTPServer=" + what.toLatin1());
        else if (kind == "settings")
            ini = what == "garbage" ? QByteArray("\x01\x02\x00\xfe garbage", 12)
                                    : QByteArray("\xff\xfe[\0S\0E\0T\0U\0P\0]\0", 16);
        QVERIFY(test::writeFile(settingsPath, ini));
        if (what == "mode000" && kind == "settings")
            QVERIFY(QFile::setPermissions(settingsPath, {}));
        const QString state = w.folders.workingCopyFolder.chopped(1);
        if (kind == "state" && what == "file")  // where the working copies go, a file
            QVERIFY(QDir(state).removeRecursively() && test::writeFile(state, "no folder"));
        if (what == "full" &&
            QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", state}) != 0)
            QSKIP("no small file system can be mounted here");
        QStringList arguments{"--send", w.project};
        if (kind == "dry") {
            if (what == "link")
                QVERIFY(QDir(file).removeRecursively() &&
                        QFile::link(w.folders.userDataFolder, file));
            arguments << "--dry-run" << (what == "data" ? w.folders.userDataFolder : file);
        }
        const QByteArray logText = "01.01.2026 10:00:00 / the last real run\r\n";
        if (kind == "log")  // a folder where the log file goes
            QVERIFY(QDir().mkpath(w.folders.logFilePath()));
        else
            QVERIFY(test::writeFile(w.folders.logFilePath(), logText));
        const QByteArray project = test::readFile(w.project);

        const test::ProcessResult r = w.send(arguments, 60000);
        QFile::setPermissions(settingsPath, QFile::ReadOwner | QFile::WriteOwner);
        if (what == "full")
            QCOMPARE(QProcess::execute("umount", {state}), 0);
        else if (kind == "state")
            QVERIFY(QFile::remove(state) && QDir().mkpath(state));
        QCOMPARE(r.exitCode, int(app::SendExit::Unusable));
        const QString err = QString::fromLocal8Bit(r.err);
        QVERIFY2(err.contains(told) && (kind != "attach" || err.contains(file)), r.err.constData());
        QCOMPARE(w.server->count(), 0);
        QCOMPARE(test::readFile(w.project), project);
        QCOMPARE(test::readFile(settingsPath), ini);
        QCOMPARE(test::readFile(w.folders.logFilePath()), kind == "log" ? QByteArray() : logText);
        QCOMPARE(w.projectFlags(), QList<int>(3, 0));
        QVERIFY(QDir(w.folders.userDataFolder).entryList({"*.eml"}).isEmpty());
    }

    // The connection ends after the whole data of mail 4, before the reply: the summary names
    // the recipient as possibly delivered, and the log that says so outlives the next run.
    void possiblyDeliveredOutlivesTheNextRun() {
        CliWorld w({QStringLiteral("--drop-data"), QStringLiteral("4")});
        QVERIFY(w.makeProject(6));
        QVERIFY(w.startServer());
        const test::ProcessResult first = w.send({"--send", w.project});
        QCOMPARE(first.exitCode, 1);
        QVERIFY2(first.out.contains("Possibly delivered: 1.") &&
                     first.out.contains("4 rcpt4@example.jp"),
                 first.out.constData());
        QVERIFY2(first.out.contains("Sent: 6. Failed: 0."), first.out.constData());
        const QByteArray firstLog = test::readFile(w.folders.logFilePath());
        QVERIFY(firstLog.contains("Possibly delivered: mail 4 rcpt4@example.jp."));

        const test::ProcessResult second = w.send({"--send", w.project, "--force"});
        QCOMPARE(second.exitCode, 0);
        const QStringList kept = send::CSendLog::keptLogs(w.folders.logFilePath());
        QCOMPARE(kept.size(), 1);
        QCOMPARE(test::readFile(kept.first()), firstLog);
        QVERIFY(!test::readFile(w.folders.logFilePath()).contains("Possibly delivered"));
    }

    // A recipient database that cannot be read is no empty one: no "no data", no exit 0.
    void damagedDatabaseIsNoEmptyOne() {
        CliWorld w;
        // The page that holds the records is garbled; the rest of the file is sound.
        QVERIFY(w.makeProject(50, QStringLiteral("[[Mail Address]]"), [](QByteArray& db) {
            const qsizetype at = db.indexOf("rcpt1@example.jp");
            const qsizetype page = 8192;
            const qsizetype start = at / page * page + 32;
            for (qsizetype i = start; at >= 0 && i < start + page - 64 && i < db.size(); ++i)
                db[i] = char(0xA5 ^ (i & 0xff));
        }));
        QVERIFY(w.startServer());
        const test::ProcessResult r = w.send({"--send", w.project});
        QCOMPARE(r.exitCode, 4);
        QVERIFY(!r.out.contains("no data in the database"));
        QCOMPARE(w.server->count(), 0);
    }

    // A project saved under one charset row and sent under another of the same code page: the
    // texts come back whole (they are in the row's code page, not in its MIME charset).
    void projectTextsInTheRowsCodePage_data() {
        QTest::addColumn<int>("savedRow");
        QTest::addColumn<int>("sentRow");
        QTest::addColumn<QString>("text");
        QTest::newRow("Shift_JIS project sent as ISO-2022-JP")
            << 0 << 1 << QString::fromUtf8("山田商店のご案内");
        QTest::newRow("Windows-1250 project sent as ISO-8859-2")
            << 14 << 12 << QString::fromUtf8("Žluťoučký kůň, Łódź");
        QTest::newRow("UTF-8 project sent as UTF-8") << 23 << 23 << QString::fromUtf8("Café 山田");
    }
    void projectTextsInTheRowsCodePage() {
        QFETCH(int, savedRow);
        QFETCH(int, sentRow);
        QFETCH(QString, text);
        CliWorld w;
        QVERIFY(w.makeProject(1, QStringLiteral("[[Mail Address]]"), {},
                              [&](MailDocument& doc, ProjectWriteOptions& options) {
                                  doc.senderName = text;
                                  doc.subject = text + " [[Name]]";
                                  doc.textBody = text + "\r\n";
                                  options.currentCodePage = app::MailCodePage(savedRow);
                              }));
        QVERIFY(w.writeSettings(test::closedPort(), [&](app::Settings& s) { s.encode = sentRow; }));
        const QString folder = w.world.env.root() + QStringLiteral("dry");
        const test::ProcessResult r = w.send({"--send", w.project, "--dry-run", folder});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QVERIFY2(!r.err.contains("Warning"), r.err.constData());
        const QJsonArray mails = test::parseMessages({folder + "/00001.eml"});
        QCOMPARE(mails.size(), 1);
        const QJsonObject m = mails[0].toObject();
        QCOMPARE(m["subject"].toString(), text + " Name 1");
        QVERIFY2(m["from"].toString().remove('"').startsWith(text),
                 qPrintable(m["from"].toString()));
        QCOMPARE(m["text"].toString().trimmed(), text);
    }

    // Characters the charset cannot carry are told before the run; a row number the table
    // does not have is refused, not read as Shift_JIS.
    void charsetWarnings() {
        CliWorld w;
        QVERIFY(w.makeProject(2, QStringLiteral("[[Mail Address]]"), {},
                              [](MailDocument& doc, ProjectWriteOptions& options) {
                                  doc.subject = QString::fromUtf8("Café für [[Name]]");
                                  options.currentCodePage = app::MailCodePage(3);
                              }));
        QVERIFY(w.writeSettings(test::closedPort(), [](app::Settings& s) { s.encode = 3; }));
        const QString folder = w.world.env.root() + QStringLiteral("dry");
        test::ProcessResult r = w.send({"--send", w.project, "--dry-run", folder});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.contains("Warning: 2 characters of this run"), r.err.constData());
        QVERIFY2(r.err.contains("\"Encode\" = 23"), r.err.constData());

        QVERIFY(w.writeSettings(test::closedPort(), [](app::Settings& s) { s.encode = 99; }));
        r = w.send({"--send", w.project, "--dry-run", folder + "2"});
        QCOMPARE(r.exitCode, int(app::SendExit::Unusable));
        QVERIFY2(r.err.contains("(\"Encode\" = 99) names no charset"), r.err.constData());
        QVERIFY(!QFileInfo::exists(folder + "2/00001.eml"));
    }

    void dryRunKeepsTheRealLog() {
        CliWorld w;
        QVERIFY(w.makeProject(2));
        QVERIFY(w.startServer());
        const QString realLog = w.folders.logFilePath();
        QVERIFY(test::writeFile(realLog, "01.01.2026 10:00:00 / the last real run\r\n"));
        // the messages of an earlier dry run there stay; this one goes on after them
        const QString folder = w.world.env.makeFolder(QStringLiteral("dry"));
        QVERIFY(test::writeFile(folder + "00007.eml", "an earlier message"));
        const test::ProcessResult r = w.send({"--send", w.project, "--dry-run", folder});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(QDir(folder).entryList({"*.eml"}, QDir::Files, QDir::Name),
                 (QStringList{"00007.eml", "00008.eml", "00009.eml"}));
        QCOMPARE(test::readFile(realLog),
                 QByteArray("01.01.2026 10:00:00 / the last real run\r\n"));
        QVERIFY(test::readFile(folder + QStringLiteral("/dry-run-log.txt"))
                    .contains("/ Mail transmission ended."));
    }

    void unwritableProjectSendsNothing() {
        if (::geteuid() == 0)
            QSKIP("file permissions do not hold for root");
        CliWorld w;
        QVERIFY(w.makeProject(2));
        QVERIFY(w.startServer());
        QFile::setPermissions(w.project, QFile::ReadOwner);
        const test::ProcessResult r = w.send({"--send", w.project});
        QFile::setPermissions(w.project, QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(r.exitCode, 5);
        QCOMPARE(w.server->count(), 0);
    }

    void testSendGoesToTheTestAddress() {
        CliWorld w;
        QVERIFY(w.makeProject(3));
        QVERIFY(w.server->start());
        QVERIFY(w.writeSettings(w.server->port(), [](app::Settings& s) {
            s.testEmailAddress = QStringLiteral("me@example.jp");
        }));
        const QByteArray before = test::readFile(w.project);
        const test::ProcessResult r = w.send({"--send", w.project, "--test"});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(w.received(), (QMap<QString, int>{{"me@example.jp", 1}}));
        QCOMPARE(test::readFile(w.project), before);
    }

    // The kill test: a merge send of 200 recipients killed part-way and resumed with the
    // "not yet sent" selection delivers every recipient's mail once, the one in flight at
    // the kill included.
    void killedRunResumesWithoutDuplicates() {
        const int count = 200;
        CliWorld w;
        QVERIFY(w.makeProject(count));
        QVERIFY(w.startServer());

        QProcess p;
        p.start(CliWorld::driver(), {"--send", w.project});
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(w.server->count() >= 60, 60000);
        QVERIFY(signalChild(p, SIGKILL));
        QVERIFY(p.waitForFinished(5000));
        const int before = w.server->count();
        QVERIFY2(before < count, "the run ended before it could be killed");

        // The killed run left its working copy with the committed outcomes, and its marker.
        QCOMPARE(send::findInterruptedRuns(w.folders.workingCopyFolder).size(), size_t(1));

        const test::ProcessResult r = w.send({"--send", w.project, "--selection", "unsent"});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QVERIFY(r.out.contains("interrupted run"));

        const QMap<QString, int> got = w.received();
        QCOMPARE(got.size(), count);
        int twice = 0;
        for (auto it = got.cbegin(); it != got.cend(); ++it) {
            QVERIFY2(it.value() <= 2, qPrintable(it.key()));
            twice += it.value() == 2 ? 1 : 0;
        }
        QVERIFY2(twice == 0, qPrintable(QString::number(twice)));
        QCOMPARE(w.projectFlags(), QList<int>(count, 1));
        QCOMPARE(w.leftovers(), QStringList());
    }

    // SIGTERM, SIGHUP and SIGINT at a random moment of a run of 100 recipients on a server that
    // answers each end of data after 30 ms: the mail in flight is finished, the run ends in
    // order with exit status 3, and "not yet sent" then brings every recipient the mail once
    // (at most one twice per stop). POSTWICK_STOP_ROUNDS sets the rounds per signal (1 here;
    // the full check runs 20 or more). SIGKILL cannot be caught: the mail whose data had gone
    // out is named by the next run as possibly delivered and nobody gets it twice.
    void stopSignalsAtRandomMoments_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("rounds");
        QTest::newRow("SIGTERM") << int(SIGTERM) << 100 << 1;
        QTest::newRow("SIGHUP") << int(SIGHUP) << 100 << 1;
        QTest::newRow("SIGINT") << int(SIGINT) << 100 << 1;
        QTest::newRow("SIGKILL, 20 runs") << int(SIGKILL) << 30 << 20;
    }
    void stopSignalsAtRandomMoments() {
        QFETCH(int, signalNumber);
        QFETCH(int, count);
        QFETCH(int, rounds);
        const bool killed = signalNumber == SIGKILL;
        rounds = std::max(rounds, qEnvironmentVariableIntValue("POSTWICK_STOP_ROUNDS"));
        std::mt19937 random(20261209u + unsigned(signalNumber));
        int duplicates = 0;
        int missing = 0;
        int named = 0;
        for (int round = 0; round < rounds; ++round) {
            CliWorld w({QStringLiteral("--data-delay"), QStringLiteral("30")});
            QVERIFY(w.makeProject(count));
            QVERIFY(w.startServer());
            const int after = std::uniform_int_distribution<int>(0, count * 4 / 5)(random);
            QProcess p;
            p.start(CliWorld::driver(), {"--send", w.project});
            QVERIFY(p.waitForStarted());
            QTRY_VERIFY_WITH_TIMEOUT(w.server->count() >= after, 60000);
            QThread::msleep(std::uniform_int_distribution<int>(0, 40)(random));
            QVERIFY(signalChild(p, signalNumber));
            QVERIFY(p.waitForFinished(60000));
            if (!killed) {
                QCOMPARE(p.exitStatus(), QProcess::NormalExit);
                QVERIFY2(p.exitCode() == 3,
                         qPrintable(QString::fromLocal8Bit(p.readAllStandardError())));
            }
            const int before = w.server->count();

            const test::ProcessResult r = w.send({"--send", w.project, "--selection", "unsent"});
            QVERIFY2(r.exitCode == 0, r.err.constData());
            const QMap<QString, int> got = w.received();
            missing += count - int(got.size());
            int twice = 0;
            for (auto it = got.cbegin(); it != got.cend(); ++it)
                twice += it.value() - 1;
            duplicates += twice;
            // the killed run's mail in flight, whose data went out: the server may have kept it
            // (a real one delivers it) or dropped it with the connection; it is not sent again
            const QRegularExpression inFlight("Possibly delivered: mail \\d+ (\\S+)\\.");
            QSet<QString> namedHere;
            for (auto m = inFlight.globalMatch(QString::fromLocal8Bit(r.out)); m.hasNext();)
                namedHere << m.next().captured(1);
            int namedMissing = 0;
            for (const QString& address : namedHere)
                namedMissing += got.contains(address) ? 0 : 1;
            named += int(namedHere.size());
            qInfo("round %d: stopped after %d mails, %d missing, %d twice", round + 1, before,
                  count - int(got.size()), twice);
            QCOMPARE(int(got.size()) + namedMissing, count);
            QVERIFY2(twice <= (killed ? 0 : 1), qPrintable(QString::number(twice)));
            QCOMPARE(w.projectFlags(), QList<int>(count, 1));
        }
        qInfo("%d runs stopped: %d missing, %d twice, %d named as possibly delivered", rounds,
              missing, duplicates, named);
    }
};

QTEST_GUILESS_MAIN(TestSendCommand)
#include "test_send_command.moc"
