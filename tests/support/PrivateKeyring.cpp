#include "PrivateKeyring.h"

#include <QDeadlineTimer>
#include <QThread>

namespace pw::test {

PrivateKeyring::PrivateKeyring()
    : m_oldAddress(qgetenv("DBUS_SESSION_BUS_ADDRESS")),
      m_oldKeyringSetting(qgetenv("POSTWICK_KEYRING")) {
    // One bus for the whole test process, ended when the process ends (its input closes):
    // GLib ends a process whose session bus goes away under it.
    static QProcess* bus = nullptr;
    static QByteArray address;
    if (bus == nullptr) {
        bus = new QProcess;
        bus->start(QStringLiteral("/bin/sh"),
                   {"-c",
                    "dbus-daemon --session --nofork --nopidfile --print-address & "
                    "cat >/dev/null; kill $!"});
        if (!bus->waitForStarted(10000) || !bus->waitForReadyRead(10000)) {
            m_error = QStringLiteral("dbus-daemon does not start");
            return;
        }
        address = bus->readLine().trimmed();
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    qunsetenv("POSTWICK_KEYRING");
    // unlocked with a password on its input: no prompt, no login keyring of the machine's
    // (the password through a pipe of the shell: the daemon reads it up to the end)
    m_keyring.start(QStringLiteral("/bin/sh"),
                    {"-c",
                     "printf %s test-keyring-password | exec gnome-keyring-daemon --unlock "
                     "--components=secrets --foreground"});
    if (!m_keyring.waitForStarted(10000)) {
        m_error = QStringLiteral("gnome-keyring-daemon does not start");
        return;
    }
    // Ready once the daemon owns the Secret Service's name (asking before would have the bus
    // start a second daemon without the unlocked keyring), then once a store works.
    QDeadlineTimer limit(20000);
    while (!limit.hasExpired()) {
        QProcess ask;
        ask.start(QStringLiteral("dbus-send"),
                  {"--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                   "org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.secrets"});
        if (ask.waitForFinished(5000) && ask.readAllStandardOutput().contains("boolean true"))
            break;
        QThread::msleep(50);
    }
    while (!limit.hasExpired()) {
        QProcess store;
        store.start(QStringLiteral("secret-tool"),
                    {"store", "--label=probe", "test", "PrivateKeyring"});
        store.waitForStarted(5000);
        store.write("ready");
        store.closeWriteChannel();
        if (store.waitForFinished(5000) && store.exitCode() == 0) {
            m_ok = true;
            return;
        }
        m_error = QString::fromUtf8(store.readAllStandardError());
        QThread::msleep(100);
    }
    m_error =
        QStringLiteral("the private keyring does not answer: ") + m_error +
        QString::fromUtf8(m_keyring.readAllStandardError()) +
        (m_keyring.state() == QProcess::NotRunning
             ? QStringLiteral(" (gnome-keyring-daemon ended with %1)").arg(m_keyring.exitCode())
             : QString());
}

PrivateKeyring::~PrivateKeyring() {
    if (m_keyring.state() != QProcess::NotRunning) {
        m_keyring.terminate();
        if (!m_keyring.waitForFinished(5000)) {
            m_keyring.kill();
            m_keyring.waitForFinished(5000);
        }
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_oldAddress);
    if (m_oldAddress.isEmpty())
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    if (!m_oldKeyringSetting.isEmpty())
        qputenv("POSTWICK_KEYRING", m_oldKeyringSetting);
}

QString PrivateKeyring::lookup(const QString& key) const {
    // QtKeychain keeps an entry under the attributes "server" (the service) and "user" (the key)
    QProcess p;
    p.start(QStringLiteral("secret-tool"), {"lookup", "server", "Postwick", "user", key});
    if (!p.waitForFinished(10000))
        return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

}  // namespace pw::test
