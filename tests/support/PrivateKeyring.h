#pragma once
// A desktop keyring of the test's own: a private D-Bus session bus with gnome-keyring-daemon
// (its Secret Service) unlocked by the test. The daemon ends with this object, the bus with
// the test process. Inside a TestEnv,
// so that the keyring's files live in the test's own folders. While it lives,
// DBUS_SESSION_BUS_ADDRESS names its bus and POSTWICK_KEYRING is unset, so that the program
// (and a child process started with the current environment) uses it.

#include <QProcess>
#include <QString>

namespace pw::test {

class PrivateKeyring {
public:
    PrivateKeyring();
    ~PrivateKeyring();
    PrivateKeyring(const PrivateKeyring&) = delete;
    PrivateKeyring& operator=(const PrivateKeyring&) = delete;

    [[nodiscard]] bool ok() const { return m_ok; }
    [[nodiscard]] const QString& errorText() const { return m_error; }
    // What the Secret Service holds for the program's entry `key` ("" when none), read with
    // secret-tool, not with the program's own code.
    [[nodiscard]] QString lookup(const QString& key) const;

private:
    QProcess m_keyring;
    QByteArray m_oldAddress;
    QByteArray m_oldKeyringSetting;
    bool m_ok = false;
    QString m_error;
};

}  // namespace pw::test
