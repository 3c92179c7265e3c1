#pragma once
// A private world for one test: its own user data, state and temporary folders, so that
// tests never touch the developer's files and can run side by side.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace pw::test {

class TestEnv {
public:
    // Points XDG_DATA_HOME, XDG_STATE_HOME, XDG_RUNTIME_DIR, TMPDIR and FIREBIRD_LOCK at
    // fresh folders below one temporary directory (removed at destruction).
    TestEnv();
    ~TestEnv();
    TestEnv(const TestEnv&) = delete;
    TestEnv& operator=(const TestEnv&) = delete;

    [[nodiscard]] QString root() const { return m_dir.path() + '/'; }
    // A fresh folder below the root, ending in '/'.
    [[nodiscard]] QString makeFolder(const QString& name) const;

private:
    QTemporaryDir m_dir;
    QList<QPair<QByteArray, QByteArray>> m_saved;
};

struct ProcessResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs Debian's python3 (which has aiosmtpd and email) on a script text with arguments.
[[nodiscard]] ProcessResult runPython(const QString& script, const QStringList& args = {},
                                      const QByteArray& stdinData = {}, int timeoutMs = 60000);

// The bytes of a file, or an empty array.
[[nodiscard]] QByteArray readFile(const QString& path);
[[nodiscard]] bool writeFile(const QString& path, const QByteArray& bytes);

}  // namespace pw::test
