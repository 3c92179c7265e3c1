// The registered servers and the trusted certificates in the settings file: what is read
// from hand-made and damaged sections, what is written back, and what other sections keep.

#include <QTest>

#include "TestEnv.h"
#include "app/IniFile.h"
#include "app/ServerSettingsStore.h"
#include "compose/MailFile.h"
#include "serversettings/CertificateTrust.h"

using namespace pw;
using namespace pw::app;

Q_DECLARE_METATYPE(QList<QByteArray>)

class TestServerStore : public QObject {
    Q_OBJECT
private slots:
    void listSurvivesGarbageAndShrinks() {
        test::TestEnv env;
        const QString path = env.root() + "postwick.ini";
        QVERIFY(test::writeFile(path,
                                "[SETUP]\r\nSMTPPort=587\r\n[SERVERS]\r\nNo=4\r\n"
                                "0=a@x,Ann,smtp.a,pop.a,ann,362616,465,0,5,ann,362616,1\r\n"
                                "1=\xef\xbf\xbd,,,=,\"\"\"\r\n"
                                "2=c@x,Cat\r\n"
                                "3=d@x,Dan,smtp.d,pop.d,dan\r\n"));
        CIniFile ini(path);
        QVERIFY(ini.Load());
        serversettings::CServerList list = LoadServerList(ini);
        QCOMPARE(list.size(), 4);
        QCOMPARE(list.at(0).password, QString("abc"));
        QCOMPARE(list.at(0).smtpConnectionType, smtp::ConnectionType::SslTls);
        QCOMPARE(list.at(2).name, QString("Cat"));
        QCOMPARE(list.at(2).smtpPort, 25);
        QCOMPARE(list.at(3).smtpServer, QString("smtp.d"));

        list.remove(1);
        list.remove(0);
        StoreServerList(ini, list);
        QVERIFY(ini.Save());
        CIniFile back(path);
        QVERIFY(back.Load());
        QCOMPARE(back.KeyNames(kServers), (QStringList{"No", "0", "1"}));
        QCOMPARE(LoadServerList(back).profiles(), list.profiles());
        QCOMPARE(back.GetInt("SETUP", "SMTPPort", 0), 587);
    }

    // A settings file and a project the program wrote come back byte for byte after their
    // server settings went through the dialog's values and back.
    void serverSettingsRoundTrip_data() {
        QTest::addColumn<QList<QByteArray>>("setup");  // server keys unlike the defaults
        QTest::addColumn<QByteArray>("servers");
        QTest::addColumn<QStringList>("project");  // SMTP server, POP3 server, user, password
        QTest::newRow("defaults") << QList<QByteArray>{} << QByteArray("[SERVERS]\r\nNo=0\r\n")
                                  << QStringList{"", "", "", ""};
        QTest::newRow("SSL/TLS, CRAM-MD5, own login")
            << QList<QByteArray>{"Name=Ann",
                                 "From=ann@x",
                                 "SMTPServer=smtp.x",
                                 "UserID=ann",
                                 "Password=362616",
                                 "SMTPPort=465",
                                 "SMTPVerifMethod=1",
                                 "SMTPAuthType=5",
                                 "SMTPUserName=ann",
                                 "SMTPPassword=362616",
                                 "SMTPConnectionType=1",
                                 "SMTPAcceptUnverifiedCert=1"}
            << QByteArray(
                   "[SERVERS]\r\nNo=2\r\n"
                   "0=a@x,Ann,smtp.a,pop.a,ann,362616,465,1,5,ann,362616,1\r\n"
                   "1=b@x,Bob,smtp.b,pop.b,bob,,587,-1,4,bob,,2\r\n")
            << QStringList{"smtp.project", "pop.project", "me", "secret"};
        QTest::newRow("STARTTLS, automatic, same as POP3; OAuth2 profile")
            << QList<QByteArray>{"SMTPPort=587", "SMTPVerifMethod=-1", "SMTPAuthType=4",
                                 "SMTPConnectionType=2"}
            << QByteArray("[SERVERS]\r\nNo=1\r\n0=c@x,Cat,smtp.c,,cat,,587,6,5,cat@x,,2\r\n")
            << QStringList{"smtp.project", "", "", ""};
    }
    void serverSettingsRoundTrip() {
        QFETCH(QList<QByteArray>, setup);
        QFETCH(QByteArray, servers);
        QFETCH(QStringList, project);
        test::TestEnv env;
        const QString path = env.root() + "postwick.ini";
        CIniFile defaults(path);
        WriteSettings(defaults, ReadSettings(defaults));
        QByteArray file = defaults.serialize() + servers + "\r\n";
        for (const QByteArray& line : setup) {
            const QByteArray key = "\r\n" + line.left(line.indexOf('=') + 1);
            const qsizetype at = file.indexOf(key) + 2;
            QVERIFY2(at > 1, line.constData());
            file.replace(at, file.indexOf("\r\n", at) - at, line);
        }
        QVERIFY(test::writeFile(path, file));
        MailDocument doc;
        doc.projectSettings.smtpServer = project[0];
        doc.projectSettings.popServer = project[1];
        doc.projectSettings.userId = project[2];
        doc.projectSettings.password = project[3];
        const QString pzy = env.root() + "mail.pzy";
        QVERIFY(writeProjectFile(pzy, doc, {}, {}, nullptr).ok());
        const QByteArray projectBytes = test::readFile(pzy);

        CIniFile ini(path);
        QVERIFY(ini.Load());
        MailFileReadResult read = readMailFile(pzy, {}, nullptr);
        QVERIFY(read.ok());
        Settings settings = ReadSettings(ini);
        const serversettings::ServerSettingsValues values =
            ServerValuesOf(settings, read.contents->document.projectSettings);
        ApplyServerValues(values, settings, read.contents->document.projectSettings);
        WriteSettings(ini, settings);
        StoreServerList(ini, LoadServerList(ini));
        QCOMPARE(ini.serialize(), file);
        QVERIFY(writeProjectFile(pzy, read.contents->document, {}, {}, nullptr).ok());
        QCOMPARE(test::readFile(pzy), projectBytes);
    }

    void trustIsStoredAtOnceAndReadBack() {
        test::TestEnv env;
        const QString path = env.root() + "postwick.ini";
        QVERIFY(test::writeFile(path, "[CERTIFICATES]\r\nbroken=zz\r\nMAIL.example.org:465=" +
                                          QByteArray(64, 'a') + "\r\n"));
        const QByteArray fingerprint(32, '\x5c');
        QVERIFY(StoreTrustedCertificate(path, {"mail.example.org", 465, fingerprint}));
        QVERIFY(StoreTrustedCertificate(path, {"mail.example.org", 587, fingerprint}));
        CIniFile ini(path);
        QVERIFY(ini.Load());
        const QList<smtp::TrustedCertificate> trusted = ReadTrustedCertificates(ini);
        QCOMPARE(trusted.size(), 2);  // one per host and port; the broken entry skipped
        QCOMPARE(trusted[0].sha256, fingerprint);
        QCOMPARE(trusted[1].port, 587);
        // the settings the command line reads carry them
        QCOMPARE(ReadSettings(ini).trustedCertificates, trusted);
    }
};

QTEST_GUILESS_MAIN(TestServerStore)
#include "test_server_store.moc"
