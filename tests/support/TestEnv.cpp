#include "TestEnv.h"

#include "EngineLockFolder.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace pw::test {

namespace {
const char* const kVariables[] = {"XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "TMPDIR",
                                  "FIREBIRD_LOCK"};

// The engine reads its lock folder once per process, so the folder must outlive every single
// environment of the test process (made before TMPDIR points into one).
QTemporaryDir& processLockFolder() {
    static QTemporaryDir folder;
    return folder;
}

}  // namespace

bool ensureProcessLockFolder() {
    static const bool set = [] {
        qputenv("FIREBIRD_LOCK", processLockFolder().path().toUtf8());
        return processLockFolder().isValid();
    }();
    return set;
}

TestEnv::TestEnv() {
    const QTemporaryDir& lockFolder = processLockFolder();
    for (const char* name : kVariables)
        m_saved.append({name, qgetenv(name)});
    const QString base = m_dir.path() + '/';
    QDir().mkpath(base + "data");
    QDir().mkpath(base + "state");
    QDir().mkpath(base + "runtime");
    QDir().mkpath(base + "tmp");
    QFile::setPermissions(base + "runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_DATA_HOME", (base + "data").toUtf8());
    qputenv("XDG_STATE_HOME", (base + "state").toUtf8());
    qputenv("XDG_RUNTIME_DIR", (base + "runtime").toUtf8());
    qputenv("TMPDIR", (base + "tmp").toUtf8());
    if (qEnvironmentVariableIsEmpty("FIREBIRD_LOCK"))
        qputenv("FIREBIRD_LOCK", lockFolder.path().toUtf8());
}

TestEnv::~TestEnv() {
    for (const auto& [name, value] : m_saved) {
        if (name == "FIREBIRD_LOCK")
            continue;
        if (value.isNull())
            qunsetenv(name.constData());
        else
            qputenv(name.constData(), value);
    }
}

QString TestEnv::makeFolder(const QString& name) const {
    const QString path = root() + name + '/';
    QDir().mkpath(path);
    return path;
}

ProcessResult runPython(const QString& script, const QStringList& args, const QByteArray& stdinData,
                        int timeoutMs) {
    QProcess p;
    QStringList all{QStringLiteral("-c"), script};
    all += args;
    p.start(QStringLiteral(POSTWICK_PYTHON_DEFAULT), all);
    ProcessResult r;
    if (!p.waitForStarted(10000)) {
        r.err = "python3 did not start";
        return r;
    }
    if (!stdinData.isEmpty())
        p.write(stdinData);
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = "python3 timed out";
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err += p.readAllStandardError();
    return r;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

}  // namespace pw::test
