// The installed program as a new user meets it, in two installed trees made from this build:
// "cmake --install" into a temporary prefix, and the Debian package installed with dpkg
// (root only: that installs into the machine, and is removed again). The program runs
// offscreen with a fresh home, driven by the probe plugin (probe/ProbePlugin.cpp), which
// reports what Select Template, the HTML template chooser, Save As Template and the manual
// did; then a project is sent by "postwick --send ... --dry-run".

#include <unistd.h>

#include <QDirIterator>
#include <QLockFile>
#include <QProcess>
#include <QtTest>
#include <map>

#include "MainWindowFixture.h"
#include "compose/TemplatePlaces.h"
#include "resources/Strings.h"

using namespace pw;

namespace {

const QString kBuild = QStringLiteral(POSTWICK_BUILD_DIR);
const QString kData = QStringLiteral(POSTWICK_SOURCE_DIR "/data/");
const QString kTemplateName = QStringLiteral("My own");

struct Run {
    int exitCode = -1;
    QByteArray out;
};

Run run(const QString& program, const QStringList& args,
        const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
        int timeoutMs = 600000) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return {-1, p.readAll() + "\n(killed)"};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAll()};
}

// Every path below a folder with its mode and size: what the program must leave alone.
QStringList snapshot(const QString& folder) {
    QStringList out;
    for (QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                         QDirIterator::Subdirectories);
         it.hasNext();) {
        const QFileInfo info(it.next());
        out << QStringLiteral("%1 %2 %3 %4")
                   .arg(info.filePath())
                   .arg(int(info.permissions()))
                   .arg(info.size())
                   .arg(info.lastModified().toMSecsSinceEpoch());
    }
    out.sort();
    return out;
}

// What one installed tree did for a new user.
struct TreeResult {
    QString setupError;  // set when the tree could not be made or the program not run
    QString skipReason;
    QString program;
    QString share;  // .../share/postwick/
    QString home;
    QMap<QString, QString> report;
    QString probeLog;
    bool shippedUnchanged = false;
    Run version;
    Run dryRun;
    int dryRunMessages = 0;
    Run removal;
    bool userDataKept = false;
};

QString userData(const TreeResult& t) {
    return t.home + ".local/share/Postwick/";
}

// A fresh user of that program: the home and the XDG folders in the tree's temporary folder.
QProcessEnvironment freshUser(const QString& home) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* v : {"XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
                          "XDG_RUNTIME_DIR", "FIREBIRD_LOCK", "TMPDIR"})
        env.remove(QLatin1String(v));
    QDir().mkpath(home + "run");
    QFile::setPermissions(home + "run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.insert("HOME", home);
    env.insert("XDG_RUNTIME_DIR", home + "run");
    env.insert("LC_ALL", "C.UTF-8");
    env.insert("LANG", "C.UTF-8");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
}

// The program's window played by the probe, then its command line.
void exercise(TreeResult& t, const QString& scratch) {
    const QStringList before = snapshot(t.share);
    QProcessEnvironment env = freshUser(t.home);
    const QString report = scratch + "probe.txt";
    env.insert("QT_PLUGIN_PATH", QStringLiteral(POSTWICK_PROBE_PLUGINS));
    env.insert("QT_QPA_GENERIC_PLUGINS", "postwickprobe");
    env.insert("POSTWICK_PROBE_REPORT", report);
    env.insert("POSTWICK_PROBE_TEMPLATE", kTemplateName);
    // the desktop's opener, played: what the program hands it goes into the report
    QDir().mkpath(scratch + "bin");
    QFile opener(scratch + "bin/xdg-open");
    if (!opener.open(QIODevice::WriteOnly) ||
        opener.write("#!/bin/sh\nprintf 'opened=%s\\n' \"${1#file://}\" >> "
                     "\"$POSTWICK_PROBE_REPORT\"\n") < 0 ||
        !opener.setPermissions(opener.permissions() | QFile::ExeOwner)) {
        t.setupError = "cannot write " + opener.fileName();
        return;
    }
    opener.close();
    env.insert("PATH", scratch + "bin:" + env.value("PATH"));
    const Run window = run(t.program, {}, env, 180000);
    t.probeLog = QString::fromUtf8(window.out.right(4000));
    QFile f(report);
    if (!f.open(QIODevice::ReadOnly)) {
        t.setupError = "the probe wrote no report: " + t.probeLog;
        return;
    }
    for (const QString& line : QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
        const qsizetype eq = line.indexOf(u'=');
        const QString key = line.left(eq);
        t.report[key] =
            t.report.contains(key) ? t.report[key] + " / " + line.mid(eq + 1) : line.mid(eq + 1);
    }
    t.version = run(t.program, {"--version"}, freshUser(t.home));

    // a project with two recipients, saved by the window of this build, sent by the installed
    // program as the same user
    {
        test::MainWindowFixture fixture(test::sendingSettings(1));
        if (!fixture.open()) {
            t.setupError = "no window to save the project";
            return;
        }
        fixture.addRecipients(2);
        fixture.find<QLineEdit>("recipient")->setText("[[Mail Address]]");
        fixture.find<QLineEdit>("subject")->setText("Installed");
        if (!fixture.window->SaveProjectAs(scratch + "mailing.pzy")) {
            t.setupError = "the project was not saved";
            return;
        }
    }
    const QString out = scratch + "dry run";
    t.dryRun =
        run(t.program, {"--send", scratch + "mailing.pzy", "--dry-run", out}, freshUser(t.home));
    t.dryRunMessages = int(QDir(out).entryList({"*.eml"}, QDir::Files).size());
    t.shippedUnchanged = !before.isEmpty() && snapshot(t.share) == before;
}

// The expected lists: the shipped data of the source tree, in the program's order.
QStringList shippedMailTemplates() {
    return mailTemplateNames({QString(), kData + "Template/"});
}

QStringList shippedHtmlTemplates() {
    QStringList names;
    for (const LibraryNode& n : scanLibraries({QString(), kData + "HTML TEMPLATE/"}).children)
        names << n.name;
    return names;
}

}  // namespace

class TestInstalledProgram : public QObject {
    Q_OBJECT

    QTemporaryDir m_scratch;
    std::map<QString, TreeResult> m_trees;
    std::unique_ptr<QLockFile> m_packageLock;
    bool m_packageInstalled = false;

    TreeResult& prefixTree() {
        auto [it, fresh] = m_trees.try_emplace("prefix");
        TreeResult& t = it->second;
        if (!fresh)
            return t;
        const QString root = m_scratch.path() + "/prefix/";
        const Run install = run("cmake", {"--install", kBuild, "--prefix", root + "usr"});
        if (install.exitCode != 0) {
            t.setupError = "cmake --install: " + QString::fromUtf8(install.out);
            return t;
        }
        t.program = root + "usr/bin/postwick";
        t.share = root + "usr/share/postwick/";
        t.home = root + "home/";
        exercise(t, root);
        return t;
    }

    TreeResult& packageTree() {
        auto [it, fresh] = m_trees.try_emplace("package");
        TreeResult& t = it->second;
        if (!fresh)
            return t;
        if (::geteuid() != 0) {
            t.skipReason = "installing the package needs root (CI runs the suite as root)";
            return t;
        }
        if (QStandardPaths::findExecutable("dpkg").isEmpty() ||
            QStandardPaths::findExecutable("cpack").isEmpty()) {
            t.skipReason = "dpkg or cpack is missing";
            return t;
        }
        // two checkouts on one machine would install over each other's package
        m_packageLock =
            std::make_unique<QLockFile>(QDir::tempPath() + "/postwick-package-test.lock");
        m_packageLock->setStaleLockTime(0);
        if (!m_packageLock->lock()) {
            t.setupError = "no lock on the machine's package";
            return t;
        }
        if (run("dpkg-query", {"-W", "-f=${Status}", "postwick"}).out.contains("installed")) {
            t.skipReason =
                "a postwick package is installed on this machine; the test would replace it";
            return t;
        }
        const QString root = m_scratch.path() + "/package/";
        // the build tree as it is: cpack installs it into its staging folder, nothing is rebuilt
        const Run pack = run(
            "cpack", {"-G", "DEB", "-B", root + "out", "--config", kBuild + "/CPackConfig.cmake"});
        const QStringList debs = QDir(root + "out").entryList({"postwick_*.deb"}, QDir::Files);
        if (pack.exitCode != 0 || debs.size() != 1) {
            t.setupError = "cpack: " + QString::fromUtf8(pack.out);
            return t;
        }
        const Run install = run("dpkg", {"-i", root + "out/" + debs.first()});
        m_packageInstalled = true;
        if (install.exitCode != 0) {
            t.setupError = "dpkg -i: " + QString::fromUtf8(install.out);
            return t;
        }
        t.program = "/usr/bin/postwick";
        t.share = "/usr/share/postwick/";
        t.home = root + "home/";
        exercise(t, root);
        return t;
    }

    TreeResult& tree(const QString& name) {
        TreeResult& t = name == QLatin1String("package") ? packageTree() : prefixTree();
        return t;
    }

    void removePackage(TreeResult& t) {
        if (!m_packageInstalled)
            return;
        t.removal = run("dpkg", {"-r", "postwick"});
        m_packageInstalled = false;
        t.userDataKept = QFile::exists(userData(t) + "Template/" + kTemplateName + ".pzt") &&
                         QFile::exists(userData(t) + "postwick.ini");
    }

private slots:
    void initTestCase() {
        setLanguage(Language::English);
        QVERIFY(m_scratch.isValid());
        QCOMPARE(shippedMailTemplates().size(), 6);
        QVERIFY(shippedHtmlTemplates().size() >= 12);
    }

    void cleanupTestCase() {
        if (m_packageInstalled)
            (void)run("dpkg", {"-r", "postwick"});
    }

    void newUser_data() {
        QTest::addColumn<QString>("tree");
        QTest::addColumn<QString>("check");
        for (const char* tree : {"prefix", "package"}) {
            for (const char* check :
                 {"Select Template lists the shipped templates",
                  "the HTML template chooser lists the shipped templates",
                  "Save As Template writes into the user data folder",
                  "the manual is handed to the desktop", "--send of a saved project dry-runs",
                  "--version prints the package's version", "shipped data is left as it was",
                  "removing the package keeps the user's data"}) {
                if (QByteArray(check).startsWith("removing") && QByteArray(tree) != "package")
                    continue;
                QTest::newRow(qPrintable(QStringLiteral("%1: %2").arg(tree, check)))
                    << tree << check;
            }
        }
    }

    void newUser() {
        QFETCH(QString, tree);
        QFETCH(QString, check);
        TreeResult& t = this->tree(tree);
        if (!t.skipReason.isEmpty())
            QSKIP(qPrintable(t.skipReason));
        QVERIFY2(t.setupError.isEmpty(), qPrintable(t.setupError));
        const QString log = QStringLiteral("report: %1\nprogram: %2")
                                .arg(QStringList(t.report.keys()).join(u','), t.probeLog);
        QVERIFY2(!t.report.contains("timeout") && !t.report.contains("unexpected") &&
                     !t.report.contains("missing"),
                 qPrintable(log));
        if (check.startsWith("Select Template")) {
            QCOMPARE(t.report.value("gettingStarted"), QStringLiteral("shown"));
            QCOMPARE(t.report.value("mailTemplates").split(u'|'), shippedMailTemplates());
        } else if (check.startsWith("the HTML")) {
            QCOMPARE(t.report.value("htmlTemplates").split(u'|'), shippedHtmlTemplates());
        } else if (check.startsWith("Save As")) {
            QCOMPARE(t.report.value("savedAsTemplate"), kTemplateName);
            const QString file = userData(t) + "Template/" + kTemplateName + ".pzt";
            QVERIFY2(QFile::exists(file), qPrintable(file));
            QVERIFY(!QFile::exists(t.share + "Template/" + kTemplateName + ".pzt"));
        } else if (check.startsWith("the manual")) {
            QCOMPARE(t.report.value("opened"),
                     QFileInfo(t.share + "manual/index.html").canonicalFilePath());
        } else if (check.startsWith("--send")) {
            QVERIFY2(t.dryRun.exitCode == 0, t.dryRun.out.constData());
            QCOMPARE(t.dryRunMessages, 2);
        } else if (check.startsWith("--version")) {
            QCOMPARE(t.version.exitCode, 0);
            QCOMPARE(t.version.out.trimmed(), QByteArray("postwick " POSTWICK_VERSION));
        } else if (check.startsWith("shipped")) {
            QVERIFY(t.shippedUnchanged);
            QVERIFY(!(QFileInfo(t.share + "Template").permissions() & QFile::WriteOther));
            QVERIFY(QFileInfo(t.share + "Template").permissions() & QFile::ReadOther);
        } else {
            removePackage(t);
            QVERIFY2(t.removal.exitCode == 0, t.removal.out.constData());
            QVERIFY(!QFile::exists(t.program));
            QVERIFY(t.userDataKept);
        }
    }
};

QTEST_MAIN(TestInstalledProgram)
#include "test_installed_program.moc"
