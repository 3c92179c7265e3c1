// Binding the client library, in a process of its own: the first factory call decides.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QTemporaryDir>
#include <QtTest>

#include "db/IBPP.h"

class TestDbNoLibrary : public QObject {
    Q_OBJECT
    QTemporaryDir m_lock;
private slots:
    void searchLooksBesideTheExecutableFirst() {
        qunsetenv(IBPP::kClientSearchVariable);
        const std::vector<std::string> c = IBPP::ClientLibraryCandidates();
        const std::string exeDir = QCoreApplication::applicationDirPath().toStdString() + "/";
        QVERIFY(c.size() >= 3);
        QCOMPARE(c[0], exeDir + "libfbclient.so");
        QCOMPARE(c[1], exeDir + "libfbembed.so");
        QCOMPARE(c[2], std::string("libfbclient.so.2"));
    }

    void noLibraryAnywhereIsALogicException() {
        QTemporaryDir empty;
        qputenv("FIREBIRD_LOCK", (m_lock.path()).toUtf8());
        qputenv(IBPP::kClientSearchVariable, empty.path().toUtf8());
        try {
            IBPP::Database db =
                IBPP::DatabaseFactory("", "/nonexistent.pzb", "SYSDBA", "", "", "NONE", "");
            QFAIL("binding succeeded without a library");
        } catch (const IBPP::LogicException& e) {
            QCOMPARE(QByteArray(e.Context()), QByteArray("GDS::Call()"));
            QCOMPARE(QByteArray(e.what()),
                     QByteArray("*** IBPP::LogicException ***\n"
                                "Context: GDS::Call()\n"
                                "Message: Can't find or load FBCLIENT.DLL or GDS32.DLL\n"
                                "\n"));
        }
        // Every factory fails the same way, and nothing crashed on the way.
        QVERIFY_THROWS_EXCEPTION(IBPP::LogicException, IBPP::TransactionFactory(nullptr));
    }

    void aLibraryInTheSearchedFolderIsBound() {
        QTemporaryDir beside;
        const QString system = QStringLiteral("/usr/lib/x86_64-linux-gnu/libfbclient.so.2");
        if (!QFile::exists(system))
            QSKIP("no system client library at the expected place");
        QVERIFY(QFile::link(system, beside.path() + "/libfbclient.so"));
        qputenv(IBPP::kClientSearchVariable, beside.path().toUtf8());
        IBPP::Database db =
            IBPP::DatabaseFactory("", "/nonexistent.pzb", "SYSDBA", "", "", "NONE", "");
        QVERIFY(db);
        QVERIFY(!db->IsConnected());
    }

    void lockFolderIsPrivateAndPerUser() {
        QTemporaryDir root;
        const QByteArray saved = qgetenv("FIREBIRD_LOCK");
        // A folder the user set is kept as it is.
        qputenv("FIREBIRD_LOCK", (root.path() + "/mine").toUtf8());
        QCOMPARE(QString::fromStdString(IBPP::PreparePrivateLockFolder()), root.path() + "/mine");

        // The runtime folder when there is one.
        qunsetenv("FIREBIRD_LOCK");
        const QString runtime = root.path() + "/runtime";
        QVERIFY(QDir().mkpath(runtime));
        ::chmod(runtime.toUtf8().constData(), 0700);
        qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
        QCOMPARE(QString::fromStdString(IBPP::PreparePrivateLockFolder()),
                 runtime + "/postwick-firebird");
        struct stat st {};
        QCOMPARE(::lstat((runtime + "/postwick-firebird").toUtf8().constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0700);

        // Without one, a per-uid folder under the temporary path; a link planted at that name
        // is not followed.
        qunsetenv("FIREBIRD_LOCK");
        qunsetenv("XDG_RUNTIME_DIR");
        const QString tmp = root.path() + "/tmp";
        QVERIFY(QDir().mkpath(tmp + "/elsewhere"));
        qputenv("TMPDIR", tmp.toUtf8());
        const QString planted = tmp + QStringLiteral("/postwick-firebird-%1").arg(::getuid());
        QVERIFY(QFile::link(tmp + "/elsewhere", planted));
        const QString chosen = QString::fromStdString(IBPP::PreparePrivateLockFolder());
        QVERIFY2(chosen != planted && chosen.startsWith(tmp + "/postwick-firebird-"),
                 qPrintable(chosen));
        QCOMPARE(::lstat(chosen.toUtf8().constData(), &st), 0);
        QVERIFY(S_ISDIR(st.st_mode));
        QCOMPARE(int(st.st_mode & 0777), 0700);
        QCOMPARE(st.st_uid, ::getuid());
        if (saved.isNull())
            qunsetenv("FIREBIRD_LOCK");
        else
            qputenv("FIREBIRD_LOCK", saved);
    }
};

QTEST_GUILESS_MAIN(TestDbNoLibrary)
#include "test_db_nolibrary.moc"
