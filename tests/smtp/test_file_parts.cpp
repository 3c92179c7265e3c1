// Files attached or embedded in a mail: only regular files of a sane size are read, so that a
// project naming a device, a pipe or a huge file cannot exhaust the machine or hold the run.
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTest>
#include <optional>

#include "TestEnv.h"
#include "smtp/EncodedFileCache.h"
#include "smtp/KTWSMTPException.h"

using namespace pw::smtp;

class TestFileParts : public QObject {
    Q_OBJECT
private slots:
    void init() { EncodedFileCache::clear(); }

    void refused_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("code");
        QTest::newRow("endless device") << "/dev/zero" << EINVAL;
        QTest::newRow("named pipe without writer") << "fifo" << EINVAL;
        QTest::newRow("folder") << "folder" << EISDIR;
        QTest::newRow("larger than the cap") << "huge" << EFBIG;
        QTest::newRow("missing") << "missing" << ENOENT;
    }
    void refused() {
        QFETCH(QString, kind);
        QFETCH(int, code);
        pw::test::TestEnv env;
        QString path = env.root() + kind;
        if (kind == "fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == "folder") {
            path = env.makeFolder(kind);
        } else if (kind == "huge") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.resize(EncodedFileCache::kMaxFileBytes + 1));  // sparse: costs no disk
        } else if (kind.startsWith('/')) {
            path = kind;
        }
        try {
            (void)EncodedFileCache::encodedFile(path, TransferEncoding::Base64);
            QFAIL("read");
        } catch (const CKTWSMTPException& e) {
            QCOMPARE(e.Error(), CKTWSMTPException::FromSystemError(code).Error());
        }
    }

    // A run reads each file once; outside a run, and in the next one, a changed file is read
    // again.
    void changedFileWithinARun_data() {
        QTest::addColumn<int>("scopes");  // 0: none, 1: both reads in one run, 2: a run each
        QTest::addColumn<QByteArray>("second");
        QTest::newRow("outside a run") << 0 << QByteArray("changed!");
        QTest::newRow("within one run") << 1 << QByteArray("before");
        QTest::newRow("in the next run") << 2 << QByteArray("changed!");
    }
    void changedFileWithinARun() {
        QFETCH(int, scopes);
        QFETCH(QByteArray, second);
        pw::test::TestEnv env;
        const QString path = env.root() + "picture.png";
        QVERIFY(pw::test::writeFile(path, "before"));
        std::optional<EncodedFileCache::RunScope> run;
        if (scopes > 0)
            run.emplace();
        QCOMPARE(EncodedFileCache::encodedFile(path, TransferEncoding::None), "before");
        if (scopes == 2) {
            run.reset();
            run.emplace();
        }
        QVERIFY(pw::test::writeFile(path, "changed!"));  // another size: no longer the same
        QCOMPARE(EncodedFileCache::encodedFile(path, TransferEncoding::None), second);
        run.reset();
        QCOMPARE(EncodedFileCache::encodedFile(path, TransferEncoding::None), "changed!");
    }

    void fileAtTheCapIsRead() {
        pw::test::TestEnv env;
        const QString path = env.root() + "cap.bin";
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(EncodedFileCache::kMaxFileBytes));
        f.close();
        QCOMPARE(EncodedFileCache::encodedFile(path, TransferEncoding::None).size(),
                 EncodedFileCache::kMaxFileBytes);
    }
};

QTEST_GUILESS_MAIN(TestFileParts)
#include "test_file_parts.moc"
