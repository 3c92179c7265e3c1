// A whole project on the real embedded database: a mail with attachments, an HTML mail of three
// files and a recipient database of 100 records, saved the way the Save command does it and
// opened the way Open does it, gives back the same mail, files and records.

#include <QDir>
#include <QtTest>

#include "DbFixture.h"
#include "app/ProjectStore.h"
#include "compose/MailFile.h"

using namespace pw;
using namespace pw::app;
using namespace pw::test;

namespace {

void put(const QString& path, const QByteArray& bytes) {
    if (!writeFile(path, bytes))
        qFatal("cannot write %s", qPrintable(path));
}
QString nameOf(int i) {
    return QString::fromUtf8("山田 花子 %1").arg(i);
}
}  // namespace

class TestProjectDatabase : public QObject {
    Q_OBJECT

private slots:
    void projectCarriesTheDatabase() {
        DbWorld w;
        QVERIFY(w.createAndOpen());
        for (int id = 1; id <= 100; ++id) {
            insertRecord(*w.store, id, id % 3 == 0 ? 1 : 0, 1,
                         {QStringLiteral("user%1@example.jp").arg(id), nameOf(id), "O'Brien & Co"});
        }
        // left uncommitted: saving the project must save the store first
        w.store->FieldCaptions().SetCaption(1, QString::fromUtf8("お名前"));

        const QString preview = w.env.makeFolder("tmp/PostwickMainPreview");
        put(preview + "index.html", "<html><body>[[お名前]] 様<img src=\"a.png\"></body></html>");
        put(preview + "a.png", noise(20000));
        put(preview + "style.css", QByteArray(3000, ' ') + "body{}");
        MailDocument doc;
        doc.senderAddress = "shop@example.jp";
        doc.senderName = QString::fromUtf8("山田商店");
        doc.subject = QString::fromUtf8("[[お名前]]様へ");
        doc.recipientText = "[[Mail Address]]";
        doc.textBody = "Hello";
        doc.attachments = {"/home/shop/catalogue.pdf", QString::fromUtf8("/home/shop/地図.png")};
        doc.htmlTemplateName = "Winter";
        doc.pictureList = filesInFolder(preview);
        doc.projectSettings.smtpServer = QStringLiteral("smtp.example.jp");
        doc.projectSettings.userId = QStringLiteral("shop");
        doc.projectSettings.password = QStringLiteral("secret");

        const QString firstCopy = w.store->WorkingCopyPath();
        const QString path = w.env.root() + "winter.pzy";
        const CodePage sjis = *CodePage::fromName("Shift_JIS");
        const WriteResult written = saveProject(path, doc, {}, preview, *w.store, sjis, &w.ui);
        QVERIFY2(written.ok(), qPrintable(written.message));
        QVERIFY(w.store->IsOpen());
        QCOMPARE(w.store->WorkingCopyPath(), firstCopy);

        // a change after the save is not in the file: the file's database replaces it
        insertRecord(*w.store, 101, 0, 0, {"late@example.jp"});
        emptyFolderFiles(preview);
        const MailFileReadResult read = openProject(path, preview, *w.store, sjis, &w.ui);
        QVERIFY2(read.ok(), qPrintable(read.failure));
        QCOMPARE(read.contents->database, DatabaseOutcome::Written);
        QCOMPARE(read.contents->databasePath, w.store->WorkingCopyPath());
        QVERIFY(w.store->IsOpen());

        MailDocument expected = doc;
        expected.projectFilePath = path;
        QVERIFY(read.contents->document == expected);
        QCOMPARE(readFile(preview + "a.png"), noise(20000));
        QCOMPARE(w.store->Records().CountRecords(), 100);
        const QStringList names = queryColumn(*w.store, "select NAME from MAILS order by ID");
        QCOMPARE(names.size(), 100);
        QCOMPARE(names.first(), nameOf(1));
        QCOMPARE(names.last(), nameOf(100));
        QCOMPARE(queryColumn(*w.store, "select count(*) from MAILS where SENDED = 1"),
                 QStringList{"33"});
        QCOMPARE(queryColumn(*w.store, "select distinct FIELD3 from MAILS"),
                 QStringList{"O'Brien & Co"});
        QCOMPARE(w.store->FieldCaptions().Captions()[1], QString::fromUtf8("お名前"));
        QVERIFY(w.ui.asked().isEmpty());
    }

    // A project without a database, or a refused file, leaves the store's database in use.
    void projectWithoutDatabaseKeepsTheStore() {
        DbWorld w;
        QVERIFY(w.createAndOpen());
        insertRecord(*w.store, 1, 0, 1, {"keep@example.jp"});
        QVERIFY(w.store->Save(db::SaveMode::Retaining));
        const QString copy = w.store->WorkingCopyPath();
        const QString preview = w.env.makeFolder("tmp/PostwickMainPreview");
        const QString path = w.env.root() + "nodb.pzy";
        MailDocument doc;
        doc.subject = "No database";
        QVERIFY(writeProjectFile(path, doc, {}, {preview, {}, CodePage::utf8()}, nullptr).ok());
        const MailFileReadResult read =
            openProject(path, preview, *w.store, CodePage::utf8(), &w.ui);
        QVERIFY(read.ok());
        QCOMPARE(read.contents->database, DatabaseOutcome::NotInFile);
        QCOMPARE(w.store->WorkingCopyPath(), copy);
        QVERIFY(w.store->IsOpen());
        QCOMPARE(w.store->Records().CountRecords(), 1);
        // a refused file does not touch the store either
        put(path, "mlDB");
        QVERIFY(!openProject(path, preview, *w.store, CodePage::utf8(), &w.ui).ok());
        QCOMPARE(w.store->WorkingCopyPath(), copy);
        QCOMPARE(w.store->Records().CountRecords(), 1);
    }

private:
    static QByteArray noise(int size) {
        QByteArray b(size, '\0');
        quint32 x = 12345;
        for (char& c : b) {
            x = x * 1103515245u + 12345u;
            c = char(x >> 24);
        }
        return b;
    }
};

QTEST_GUILESS_MAIN(TestProjectDatabase)
#include "test_project_database.moc"
