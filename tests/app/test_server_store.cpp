// The registered servers and the trusted certificates in the settings file: what is read
// from hand-made and damaged sections, what is written back, and what other sections keep.

#include <QTest>

#include "TestEnv.h"
#include "app/IniFile.h"
#include "app/ServerSettingsStore.h"
#include "serversettings/CertificateTrust.h"

using namespace pw;
using namespace pw::app;

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
        QCOMPARE(list.at(0).smtpConnectionType, 1);
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
