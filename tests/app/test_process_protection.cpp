// The process keeps what it writes to its user and leaves no core dump with the password in
// it; a folder of its own found open to others is closed, and what killed runs left is removed.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTest>

#include "TestEnv.h"
#include "app/AppFolders.h"
#include "app/ProcessProtection.h"

using namespace pw::app;

namespace {

int modeOf(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 0777);
}

}  // namespace

class TestProcessProtection : public QObject {
    Q_OBJECT
private slots:
    void filesAndFoldersArePrivateAndNoCoreIsDumped() {
        ::umask(022);
        ProtectProcess();
        pw::test::TestEnv env;
        QFile file(env.root() + "written.txt");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QCOMPARE(modeOf(env.root() + "written.txt"), 0600);
        QVERIFY(QDir().mkdir(env.root() + "made"));
        QCOMPARE(modeOf(env.root() + "made"), 0700);
        rlimit core{};
        QCOMPARE(::getrlimit(RLIMIT_CORE, &core), 0);
        QCOMPARE(core.rlim_cur, rlim_t(0));
        QCOMPARE(core.rlim_max, rlim_t(0));
    }

    void openFolderOfOursIsClosed() {
        pw::test::TestEnv env;
        const QString parent = env.root() + "state/";
        const QString folder = parent + "Postwick/";
        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(::chmod(QFile::encodeName(parent).constData(), 0755), 0);
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
        QCOMPARE(CreateFolder(folder), FolderResult::Ok);
        QCOMPARE(modeOf(folder), 0700);
        QCOMPARE(modeOf(parent), 0755);  // only the folder itself is ours to close
    }

    // What a killed command-line run left behind goes at the next start; a live one's stays.
    void staleSendFoldersAreRemoved() {
        pw::test::TestEnv env;
        const QString temp = env.root();
        const QString dead = temp + "PostwickSend-2147483646/";
        const QString live = temp + QStringLiteral("PostwickSend-%1/").arg(::getpid());
        const QString other = temp + "PostwickSend-notapid/";
        for (const QString& f : {dead, live, other}) {
            QVERIFY(QDir().mkpath(f));
            QVERIFY(pw::test::writeFile(f + "index.html", "big"));
        }
        RemoveStaleSendFolders(temp);
        QVERIFY(!QFileInfo::exists(dead));
        QVERIFY(QFileInfo::exists(live + "index.html"));
        QVERIFY(QFileInfo::exists(other + "index.html"));
    }
};

QTEST_GUILESS_MAIN(TestProcessProtection)
#include "test_process_protection.moc"
