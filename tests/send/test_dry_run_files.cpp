// The dry run's message files: each a new private file, never written through a link or over
// a file that stands in the folder.
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTest>

#include "TestEnv.h"
#include "send/SendTransport.h"
#include "smtp/KTWSMTPAddress.h"
#include "smtp/KTWSMTPMessage.h"

using namespace pw;
using namespace pw::send;

namespace {

smtp::CKTWSMTPMessage sampleMessage() {
    smtp::CKTWSMTPMessage m;
    m.setFrom(smtp::CKTWSMTPAddress(QStringLiteral("a@example.jp")));
    m.to().append(smtp::CKTWSMTPAddress(QStringLiteral("b@example.jp")));
    m.setSubject(QStringLiteral("dry"));
    m.addTextBody(QStringLiteral("hello\r\n.dot\r\n"));
    return m;
}

}  // namespace

class TestDryRunFiles : public QObject {
    Q_OBJECT
private slots:
    // Messages take their names only once their batch is durable, so that a crash before
    // leaves none under its name; what a crashed run left hidden goes at the next start.
    void aBatchIsNamedOnceItIsDurable_data() {
        QTest::addColumn<int>("sent");
        QTest::addColumn<bool>("disconnected");
        QTest::addColumn<int>("named");
        QTest::newRow("crash before the batch is full") << 2 << false << 0;
        QTest::newRow("a full batch")
            << CDryRunTransport::kSyncEvery + 1 << false << CDryRunTransport::kSyncEvery;
        QTest::newRow("the disconnect names the rest") << 2 << true << 2;
    }
    void aBatchIsNamedOnceItIsDurable() {
        QFETCH(int, sent);
        QFETCH(bool, disconnected);
        QFETCH(int, named);
        test::TestEnv env;
        const QString folder = env.makeFolder("dry");
        QVERIFY(test::writeFile(folder + "/.00001.eml.part", "left by a crash"));
        CDryRunTransport dry(folder);
        QVERIFY(dry.connect({}).ok);
        for (int i = 0; i < sent; ++i)
            QVERIFY(dry.send(sampleMessage()).ok);
        if (disconnected)
            QVERIFY(dry.disconnect(true).ok);
        const QDir::Filters files = QDir::Files | QDir::Hidden;
        QCOMPARE(QDir(folder).entryList({"*.eml"}, files).size(), named);
        QCOMPARE(QDir(folder).entryList({".*.part"}, files).size(), sent - named);
        // what a crash at this moment would leave
        QVERIFY(test::readFile(dry.lastFile()).contains("\r\n.dot\r\n"));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(dry.lastFile()).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
    }

    // Whatever comes to stand under the next name after the folder was looked at stays as it
    // is, and so does what a link names (the messages of an earlier run are gone round).
    void plantedNamesAreLeftAlone_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("link to a file outside") << "link";
        QTest::newRow("dangling link") << "dangling";
        QTest::newRow("a file planted meanwhile") << "file";
    }
    void plantedNamesAreLeftAlone() {
        QFETCH(QString, kind);
        test::TestEnv env;
        const QString folder = env.makeFolder("dry");
        const QString outside = env.root() + "precious.txt";
        QVERIFY(test::writeFile(outside, "keep me"));
        const QString planted = folder + "/00001.eml";
        CDryRunTransport dry(folder);
        if (kind == "link")
            QVERIFY(QFile::link(outside, planted));
        else if (kind == "dangling")
            QVERIFY(QFile::link(env.root() + "nowhere/new.txt", planted));
        else
            QVERIFY(test::writeFile(planted, "earlier"));

        QVERIFY(dry.connect({}).ok);
        const TransportResult r = dry.send(sampleMessage());
        QVERIFY(!r.ok);
        QVERIFY2(r.description.contains("00001.eml"), qPrintable(r.description));
        QCOMPARE(dry.written(), 0);
        QCOMPARE(test::readFile(outside), QByteArray("keep me"));
        QVERIFY(!QFile::exists(env.root() + "nowhere/new.txt"));
        if (kind == "file")
            QCOMPARE(test::readFile(planted), QByteArray("earlier"));
        else
            QVERIFY(QFileInfo(planted).isSymLink());
    }
};

QTEST_GUILESS_MAIN(TestDryRunFiles)
#include "test_dry_run_files.moc"
