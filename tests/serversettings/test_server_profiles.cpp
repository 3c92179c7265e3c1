// The stored profile lines, the list's limit, the trust entries and the advanced checks.

#include <QTest>

#include "ScriptedUserInteraction.h"
#include "compose/PasswordScrambling.h"
#include "resources/Strings.h"
#include "serversettings/CertificateTrust.h"
#include "serversettings/ServerSettingsEditor.h"

using namespace pw::serversettings;
using pw::test::ScriptedUserInteraction;

namespace {
ServerProfile sample() {
    ServerProfile p;
    p.from = "ann@example.org";
    p.name = "Ann";
    p.smtpServer = "smtp.example.org";
    p.popServer = "pop.example.org";
    p.userId = "ann";
    p.password = "abc";
    p.smtpPort = 587;
    p.smtpVerifMethod = pw::VerifMethod::CramMd5;
    p.smtpAuthType = pw::SmtpAuthType::LogOnUsing;
    p.smtpUserName = "ann.smtp";
    p.smtpPassword = QString::fromUtf8("pässwörd");
    p.smtpConnectionType = pw::smtp::ConnectionType::StartTls;
    return p;
}
}  // namespace

class TestServerProfiles : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { pw::setLanguage(pw::Language::English); }

    void storedForm() {
        QCOMPARE(
            formatServerProfile(sample()),
            QString::fromUtf8("ann@example.org,Ann,smtp.example.org,pop.example.org,ann,"
                              "362616,587,1,5,ann.smtp,") +
                QString::fromLatin1(pw::scramblePassword(QString::fromUtf8("pässwörd").toUtf8())) +
                ",2");
    }

    void roundTrip_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::newRow("plain") << "Ann"
                               << "abc";
        QTest::newRow("comma, quote and Japanese")
            << QString::fromUtf8("山田, \"ハナコ\" 商店") << "x,y\"z";
        QTest::newRow("quotes at both ends") << "\"quoted\""
                                             << "";
        QTest::newRow("password of 2000 characters") << "Ann" << QString(2000, QChar(0x3042));
    }
    void roundTrip() {
        QFETCH(QString, name);
        QFETCH(QString, password);
        ServerProfile p = sample();
        p.name = name;
        p.password = password;
        p.smtpServer = "a,b";
        QCOMPARE(parseServerProfile(formatServerProfile(p)), p);
    }

    void reading_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("smtpServer");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("verif");
        QTest::addColumn<int>("authType");
        QTest::addColumn<int>("connectionType");
        QTest::newRow("empty profile") << R"("","","","","","","","","","","","")"
                                       << "" << 25 << -1 << 0 << 0;
        QTest::newRow("five fields, defaults for the rest") << "a@b,Ann,smtp.x,pop.x,ann"
                                                            << "smtp.x" << 25 << -1 << 0 << 0;
        QTest::newRow("older quoted fields")
            << R"("a@b","Ann","smtp.x","pop.x","u","","465","0","4","u","","1")"
            << "smtp.x" << 465 << 0 << 4 << 1;
        QTest::newRow("garbage") << "\x01\"\"\"zz,,,,,,notaport,?,-,,zz"
                                 << "" << 25 << 0 << 0 << 0;
        QTest::newRow("port out of range") << "a,b,c,d,e,,70000,0,0,,,0"
                                           << "c" << 25 << 0 << 0 << 0;
        QTest::newRow("unterminated quote read as older files did")
            << "\"a@b,Ann,smtp.x"
            << "smtp.x" << 25 << -1 << 0 << 0;
    }
    void reading() {
        QFETCH(QString, line);
        const ServerProfile p = parseServerProfile(line);
        QTEST(p.smtpServer, "smtpServer");
        QTEST(p.smtpPort, "port");
        QTEST(pw::storedNumber(p.smtpVerifMethod), "verif");
        QTEST(pw::storedNumber(p.smtpAuthType), "authType");
        QTEST(pw::storedNumber(p.smtpConnectionType), "connectionType");
    }

    void listLimitAndOrder() {
        QStringList lines;
        for (int i = 0; i < 120; ++i)
            lines << QString("a,n%1,s,p,u").arg(i);
        CServerList list = CServerList::fromLines(lines);
        QCOMPARE(list.size(), 100);  // at most the first 100 stored lines
        QCOMPARE(list.add(sample()), CServerList::AddResult::Full);
        QVERIFY(list.remove(0));
        QCOMPARE(list.at(0).name, QString("n1"));
        QVERIFY(!list.remove(99));
        QCOMPARE(list.add(sample()), CServerList::AddResult::Full);  // 99 is the maximum
        QVERIFY(list.remove(98));
        QCOMPARE(list.add(sample()), CServerList::AddResult::Added);
        QCOMPARE(CServerList::fromLines(list.toLines()).profiles(), list.profiles());
    }

    void editorRefusals() {
        ScriptedUserInteraction ui;
        ServerSettingsValues v;
        v.standard.from = "a@b";
        v.standard.name = "Ann";
        v.standard.smtpServer = "smtp.x";
        v.standard.popServer = "pop.x";
        v.standard.userId = "ann";
        QStringList lines;
        for (int i = 0; i < 98; ++i)
            lines << "a,b,c,d,e";
        CServerSettingsEditor editor(v, CServerList::fromLines(lines), ui);
        QVERIFY(editor.addStandardToList());   // the 99th
        QVERIFY(!editor.addStandardToList());  // the 100th
        QCOMPARE(ui.askedTexts().value(0), pw::str(pw::ids::kSsMaxServers));
        editor.remove(0);
        editor.values().project.popServer = "pop.project";
        QVERIFY(!editor.addProjectToList());  // project SMTP server empty
        QCOMPARE(ui.askedTexts().value(1), pw::str(pw::ids::kSsNoInformation));
        QCOMPARE(editor.list().size(), 98);
        editor.values().standard.smtpServer = "smtp example.org";
        QVERIFY(!editor.checkForOk());
        QCOMPARE(ui.askedTexts().value(2), pw::str(pw::ids::kSsHostIncorrect));
    }

    void advancedChecks_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("auth");
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("credentials");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("message");
        const int logOn = int(AdvancedForm::Credentials::LogOnUsing);
        QTest::newRow("port 0") << "0" << false << -1 << 0 << ""
                                << "" << pw::ids::kAdvPortIncorrect;
        QTest::newRow("port 70000") << "70000" << false << -1 << 0 << ""
                                    << "" << pw::ids::kAdvPortIncorrect;
        QTest::newRow("port text") << "smtp" << false << -1 << 0 << ""
                                   << "" << pw::ids::kAdvPortIncorrect;
        QTest::newRow("no method") << "25" << true << -1 << logOn << "u"
                                   << "p" << pw::ids::kAdvNeedMethod;
        QTest::newRow("no user") << "25" << true << 0 << logOn << ""
                                 << "p" << pw::ids::kAdvNeedUser;
        QTest::newRow("no password") << "25" << true << 1 << logOn << "u"
                                     << "" << pw::ids::kAdvNeedPassword;
        QTest::newRow("fine") << " 587" << true << 1 << logOn << "u"
                              << "p" << 0;
        QTest::newRow("no auth needs nothing") << "2525" << false << -1 << 0 << ""
                                               << "" << 0;
    }
    void advancedChecks() {
        AdvancedForm f;
        QFETCH(QString, port);
        QFETCH(bool, auth);
        QFETCH(int, method);
        QFETCH(int, credentials);
        QFETCH(QString, user);
        QFETCH(QString, password);
        f.portText = port;
        f.authRequired = auth;
        f.methodIndex = method;
        f.credentials = AdvancedForm::Credentials(credentials);
        f.userName = user;
        f.password = password;
        QTEST(checkAdvancedForm(f).messageId, "message");
    }

    void sameAsPopTakesCredentialsAtOk() {
        AdvancedForm f = advancedFormFor({}, {});
        f.authRequired = true;
        f.methodIndex = 0;
        f.credentials = AdvancedForm::Credentials::SameAsPop;
        pw::ServerConfig s;
        s.userId = "popuser";
        s.password = "poppass";
        const pw::ServerConfig v = advancedValuesFrom(f, s);
        QCOMPARE(v.smtpAuthType, pw::SmtpAuthType::SameAsPop);
        QCOMPARE(v.smtpUserName, QString("popuser"));
        QCOMPARE(v.smtpPassword, QString("poppass"));
        f.authRequired = false;
        QCOMPARE(advancedValuesFrom(f, s).smtpUserName, QString());
        QCOMPARE(advancedValuesFrom(f, s).smtpAuthType, pw::SmtpAuthType::None);
    }

    void trustEntries() {
        QList<TrustedCertificate> list;
        const QByteArray a(32, '\x11'), b(32, '\x22');
        trustCertificate(list, {"Mail.Example.org", 465, a});
        trustCertificate(list, {"mail.example.org", 587, a});
        trustCertificate(list, {"mail.example.org", 465, b});  // replaces: one per host and port
        QCOMPARE(list.size(), 2);
        QCOMPARE(trustedFor(list, "MAIL.example.org", 465)->sha256, b);
        const auto back = parseTrust(trustKey("Mail.Example.org", 465), trustValue(list[0]));
        QVERIFY(back);
        QCOMPARE(*back, list[0]);
        QVERIFY(!parseTrust("host", trustValue(list[0])));
        QVERIFY(!parseTrust("host:0", trustValue(list[0])));
        QVERIFY(!parseTrust("host:25", "abc"));
        QVERIFY(!parseTrust("host:25", QString(64, 'g')));
    }
};

QTEST_GUILESS_MAIN(TestServerProfiles)
#include "test_server_profiles.moc"
