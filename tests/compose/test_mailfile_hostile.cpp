// Damaged and hostile project files: the reader must refuse or stop cleanly, never write
// outside the preview folder and never trust a length or count before the bytes are there.

#include <QDir>
#include <QFile>
#include <QtTest>

#include "MailFileBytes.h"
#include "ScriptedUserInteraction.h"
#include "TestEnv.h"
#include "compose/MailFile.h"
#include "resources/Strings.h"

using namespace pw;
using namespace pw::test;

namespace {

void put(const QString& path, const QByteArray& bytes) {
    if (!writeFile(path, bytes))
        qFatal("cannot write %s", qPrintable(path));
}

MailFileBytes projectStart(const QList<QByteArray>& texts = {"a@b", "n", "s", "r", "body"}) {
    MailFileBytes f;
    f.projectHeader("mlDD", texts).projectSettings();
    return f;
}

// Every path below a folder, relative to it.
QStringList treeOf(const QString& root) {
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(root).relativeFilePath(it.next());
    out.sort();
    return out;
}

}  // namespace

class TestMailFileHostile : public QObject {
    Q_OBJECT

    std::unique_ptr<TestEnv> m_env;
    QString m_sandbox, m_preview, m_copies, m_path;
    int m_targetCalls = 0;

    MailFileReadResult read(const QByteArray& bytes, IUserInteraction* ui = nullptr) {
        put(m_path, bytes);
        MailFileReadOptions o;
        o.previewFolder = m_preview;
        o.databaseTarget = [this] {
            ++m_targetCalls;
            return m_copies + "PZP_data_1.pzb";
        };
        return readMailFile(m_path, o, ui);
    }

private slots:
    void init() {
        m_env = std::make_unique<TestEnv>();
        m_sandbox = m_env->makeFolder("sandbox");
        m_preview = m_env->makeFolder("sandbox/deep/er/PostwickMainPreview");
        m_copies = m_env->makeFolder("copies");
        m_path = m_env->root() + "hostile.pzy";
        m_targetCalls = 0;
        setLanguage(Language::English);
    }
    void cleanup() { m_env.reset(); }

    // The fixed part cut or lying about its lengths: refused, nothing touched.
    void fixedPartRefused_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("tag only") << QByteArray("mlDD");
        QTest::newRow("header cut") << QByteArray("mlDD\0\0\0", 7);
        MailFileBytes longSender;
        longSender.raw("mlDD").u16(0xFFFF).u16(0).u16(0).u16(0).u32(0).raw("abc");
        QTest::newRow("sender length beyond the end") << longSender.bytes();
        MailFileBytes hugeBody;
        hugeBody.raw("mlDD").u16(0).u16(0).u16(0).u16(0).u32(0xFFFFFFFF).zeros(2000);
        QTest::newRow("body length in the billions") << hugeBody.bytes();
        QTest::newRow("settings block cut") << projectStart().bytes().chopped(1);
        MailFileBytes captions;
        captions.raw("mlDE").u16(0).u16(0).u16(0).u16(0).u16(0).zeros(6740).u16(0xFFFF).zeros(38);
        QTest::newRow("caption length beyond the end") << captions.bytes();
        MailFileBytes templ;
        templ.raw("mlDE").u16(0).u16(0).u16(0).u16(0).u16(0).zeros(6740).zeros(30);
        QTest::newRow("caption lengths cut") << templ.bytes();
        // Texts that could never be saved again: no writer makes them.
        auto settings = [](const QByteArray& smtp, const QByteArray& password) {
            MailFileBytes f;
            f.projectHeader("mlDD", {"a@b", "n", "s", "r", "body"});
            f.zeros(256)
                .raw(smtp.leftJustified(256, '\0'))
                .slot("pop")
                .raw(password.leftJustified(256, '\0'));
            f.slot("user").zeros(340).zeros(18);
            f.attachments("win", 0, {}).htmlHeader({}, 0);
            return f.bytes();
        };
        QTest::newRow("server slot without its zero") << settings(QByteArray(256, 's'), "3626");
        QTest::newRow("password too long to scramble again")
            << settings("smtp", QByteArray(255, '1'));
        QTest::newRow("sender address that grows when saved")
            << projectStart({QByteArray(0xFFFF, '\xFF'), "n", "s", "r", "body"})
                   .attachments("win", 0, {})
                   .htmlHeader({}, 0)
                   .bytes();
    }
    void fixedPartRefused() {
        QFETCH(QByteArray, bytes);
        put(m_preview + "index.html", "current mail");
        ScriptedUserInteraction ui;
        const MailFileReadResult r = read(bytes, &ui);
        QVERIFY(!r.ok());
        QCOMPARE(ui.askedTexts(), QStringList{"This file cannot be opened."});
        QCOMPARE(readFile(m_preview + "index.html"), QByteArray("current mail"));
        QCOMPARE(m_targetCalls, 0);
    }

    // Later sections cut or damaged: what came before is kept, the rest given up.
    void partialRead_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("attachments");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("database");
        QTest::addColumn<bool>("complete");

        QTest::newRow("no attachment section")
            << projectStart().bytes() << 0 << QStringList() << false << false;
        QTest::newRow("win with zero count") << projectStart()
                                                    .attachments("win", 0, {})
                                                    .htmlHeader("T", 1)
                                                    .compressedRecord("a.html", "<p>")
                                                    .database("DB")
                                                    .bytes()
                                             << 0 << QStringList{"a.html"} << true << true;
        QTest::newRow("count in the billions")
            << projectStart().attachments("win", 3000000000u, {"/one", "/two"}).bytes() << 0
            << QStringList() << false << false;
        QTest::newRow("count 2^31-1 with two slots")
            << projectStart().attachments("win", 0x7FFFFFFF, {"/one", "/two"}).bytes() << 2
            << QStringList() << false << false;
        QTest::newRow("other tag: slots skipped") << projectStart()
                                                         .attachments("xyz", 2, {"/one", "/two"})
                                                         .htmlHeader("T", 1)
                                                         .storedRecord("b.png", "PNG")
                                                         .bytes()
                                                  << 0 << QStringList{"b.png"} << false << true;
        QTest::newRow("other tag, skip beyond the end")
            << projectStart().attachments("xyz", 100000, {"/one"}).bytes() << 0 << QStringList()
            << false << false;
        QTest::newRow("record count in the billions")
            << projectStart()
                   .attachments("win", 1, {"/a"})
                   .htmlHeader("T", 0xFFFFFFFF)
                   .storedRecord("x", "1")
                   .storedRecord("y", "2")
                   .bytes()
            << 1 << QStringList{"x", "y"} << false << false;
        QTest::newRow("stored length beyond the end") << projectStart()
                                                             .attachments("win", 0, {})
                                                             .htmlHeader("T", 1)
                                                             .record("FILE", "a", 1, "abc", 3)
                                                             .bytes()
                                                             .chopped(1)
                                                      << 0 << QStringList() << false << false;
        QTest::newRow("not a FILE record: skipped") << projectStart()
                                                           .attachments("win", 0, {})
                                                           .htmlHeader("T", 2)
                                                           .record("FILX", "a", 1, "abc", 3)
                                                           .storedRecord("b", "b")
                                                           .database("DB")
                                                           .bytes()
                                                    << 0 << QStringList{"b"} << true << true;
        const QByteArray packed = MailFileBytes::zlibCompress(QByteArray(10000, 'q'));
        QTest::newRow("compressed data cut short")
            << projectStart()
                   .attachments("win", 0, {})
                   .htmlHeader("T", 2)
                   .storedRecord("first", "1")
                   .record("FILE", "cut", 0, packed.left(packed.size() / 2), 10000)
                   .database("DB")
                   .bytes()
            << 0 << QStringList{"first"} << true << false;
        QTest::newRow("damaged record ends the section; database then missed")
            << projectStart()
                   .attachments("win", 0, {})
                   .htmlHeader("T", 2)
                   .record("FILE", "bad", 0, "not zlib at all", 99)
                   .storedRecord("after", "2")
                   .database("DB")
                   .bytes()
            << 0 << QStringList() << false << false;
        QTest::newRow("full length smaller than the data")
            << projectStart()
                   .attachments("win", 0, {})
                   .htmlHeader("T", 1)
                   .record("FILE", "bomb", 0, packed, 9999)
                   .bytes()
            << 0 << QStringList() << false << false;
        QTest::newRow("full length in the billions")
            << projectStart()
                   .attachments("win", 0, {})
                   .htmlHeader("T", 1)
                   .record("FILE", "big", 0, packed, 0xFFFFFFFF)
                   .bytes()
            << 0 << QStringList() << false << false;
        QTest::newRow("data after the compressed stream")
            << projectStart()
                   .attachments("win", 0, {})
                   .htmlHeader("T", 1)
                   .record("FILE", "tail", 0, packed + "junk", 10000)
                   .bytes()
            << 0 << QStringList() << false << false;
        QTest::newRow("database tag missing")
            << projectStart().attachments("win", 0, {}).htmlHeader({}, 0).raw("DBYX").bytes() << 0
            << QStringList() << false << true;
        QTest::newRow("attachment slot without its zero")
            << projectStart()
                   .attachments("win", 2, {"/one", QByteArray(256, 'p')})
                   .htmlHeader("T", 1)
                   .compressedRecord("a.html", "<p>")
                   .bytes()
            << 1 << QStringList() << false << false;
        QTest::newRow("template name slot without its zero")
            << projectStart()
                   .attachments("win", 0, {})
                   .htmlHeader(QByteArray(256, 't'), 1)
                   .compressedRecord("a.html", "<p>")
                   .database("DB")
                   .bytes()
            << 0 << QStringList() << false << false;
        // 64 MB of HTML from a few kilobytes: dropped, the next file still read.
        QTest::newRow("file that unpacks past the cap")
            << projectStart()
                   .attachments("win", 0, {})
                   .htmlHeader("T", 2)
                   .compressedRecord("big.html", QByteArray(64 * 1024 * 1024 + 1, 'a'))
                   .compressedRecord("b.html", "<p>")
                   .database("DB")
                   .bytes()
            << 0 << QStringList{"b.html"} << true << false;
        QTest::newRow("empty database")
            << projectStart().attachments("win", 0, {}).htmlHeader({}, 0).database({}).bytes() << 0
            << QStringList() << true << true;
    }
    void partialRead() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, attachments);
        QFETCH(QStringList, files);
        QFETCH(bool, database);
        QFETCH(bool, complete);
        put(m_preview + "old.html", "the mail before");
        ScriptedUserInteraction ui;
        const MailFileReadResult r = read(bytes, &ui);
        QVERIFY(r.ok());
        QVERIFY(ui.asked().isEmpty());
        QCOMPARE(r.contents->document.textBody, QString("body"));
        QCOMPARE(r.contents->document.attachments.size(), attachments);
        QCOMPARE(filesInFolder(m_preview), files);
        QCOMPARE(r.contents->document.pictureList, files);
        QCOMPARE(r.contents->database == DatabaseOutcome::Written, database);
        QCOMPARE(m_targetCalls, database ? 1 : 0);
        QCOMPARE(r.contents->complete, complete);
    }

    // Names from the file are file names in the preview folder, never paths.
    void namesStayInThePreviewFolder_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("written");
        QTest::newRow("plain") << QByteArray("index.html") << "index.html";
        QTest::newRow("parent folders") << QByteArray("../../../evil.html") << "evil.html";
        QTest::newRow("absolute") << QByteArray("/tmp/x/passwd") << "passwd";
        QTest::newRow("backslashes") << QByteArray("..\\..\\win.ini") << "win.ini";
        QTest::newRow("dot-dot alone") << QByteArray("..") << QString();
        QTest::newRow("dot alone") << QByteArray(".") << QString();
        QTest::newRow("trailing slash") << QByteArray("sub/") << QString();
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("slot without zero") << QByteArray(256, 'n') << QString(255, 'n');
    }
    void namesStayInThePreviewFolder() {
        QFETCH(QByteArray, name);
        QFETCH(QString, written);
        const QStringList before = treeOf(m_sandbox);
        MailFileBytes f = projectStart().attachments("win", 0, {}).htmlHeader("T", 1);
        // a slot of 256 non-zero bytes is cut at 255 by the name-length limit of the system
        f.storedRecord(name, "payload");
        const MailFileReadResult r = read(f.bytes());
        QVERIFY(r.ok());
        if (name.size() == 256) {
            // 256 bytes are longer than a file name may be: the record cannot be written
            QVERIFY(filesInFolder(m_preview).isEmpty());
        } else if (written.isEmpty()) {
            QVERIFY(filesInFolder(m_preview).isEmpty());
            QVERIFY(!r.contents->complete);
        } else {
            QCOMPARE(filesInFolder(m_preview), QStringList{written});
            QCOMPARE(readFile(m_preview + written), QByteArray("payload"));
        }
        QStringList after = treeOf(m_sandbox);
        after.removeAll("deep/er/PostwickMainPreview/" + written);
        QCOMPARE(after, before);
    }

    // A link planted in the preview folder is replaced, not followed.
    void linkInPreviewFolderIsNotFollowed() {
        const QString outside = m_env->root() + "outside.txt";
        put(outside, "precious");
        QVERIFY(QFile::link(outside, m_preview + "index.html"));
        const MailFileReadResult r = read(projectStart()
                                              .attachments("win", 0, {})
                                              .htmlHeader("T", 1)
                                              .storedRecord("index.html", "new")
                                              .bytes());
        QVERIFY(r.ok());
        QCOMPARE(readFile(outside), QByteArray("precious"));
        QVERIFY(!QFileInfo(m_preview + "index.html").isSymLink());
        QCOMPARE(readFile(m_preview + "index.html"), QByteArray("new"));
    }

    // The same name twice: the later record replaces the earlier file.
    void laterRecordReplaces() {
        const MailFileReadResult r = read(projectStart()
                                              .attachments("win", 0, {})
                                              .htmlHeader("T", 2)
                                              .storedRecord("a", "first")
                                              .compressedRecord("dir/a", "second")
                                              .bytes());
        QVERIFY(r.ok());
        QCOMPARE(readFile(m_preview + "a"), QByteArray("second"));
    }

    // The caller may decline the database: its bytes are not written anywhere.
    void databaseDeclined() {
        put(m_path,
            projectStart().attachments("win", 0, {}).htmlHeader({}, 0).database("DB").bytes());
        MailFileReadOptions o;
        o.previewFolder = m_preview;
        const MailFileReadResult r = readMailFile(m_path, o, nullptr);
        QVERIFY(r.ok());
        QCOMPARE(r.contents->database, DatabaseOutcome::NotWanted);
        QVERIFY(treeOf(m_copies).isEmpty());
        o.databaseTarget = [this] { return m_copies + "missing/dir/copy.pzb"; };
        const MailFileReadResult r2 = readMailFile(m_path, o, nullptr);
        QCOMPARE(r2.contents->database, DatabaseOutcome::WriteFailed);
    }
};

QTEST_GUILESS_MAIN(TestMailFileHostile)
#include "test_mailfile_hostile.moc"
