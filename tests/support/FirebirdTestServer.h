#pragma once
// A private Firebird 3 server on loopback, started and stopped by a test: Debian's `firebird`
// binary unpacked (never installed, so no system service starts) by scripts/install-deps.sh
// into the cache folder below, run on a root of the test's own: firebird.conf (its own port,
// wire encryption required, SRP sign-in only), a security database made from the package's
// security.sql with the users asked for, and a data folder for the databases.

#include <QProcess>
#include <QString>
#include <utility>
#include <vector>

namespace pw::test {

class FirebirdTestServer {
public:
    // name, password; every user may create databases.
    using User = std::pair<QString, QString>;

    explicit FirebirdTestServer(QString rootFolder);
    ~FirebirdTestServer();
    FirebirdTestServer(const FirebirdTestServer&) = delete;
    FirebirdTestServer& operator=(const FirebirdTestServer&) = delete;

    // Builds the root on the first call, starts the server and waits until its port answers;
    // false (see errorText()) otherwise. Called again after stop(): the same root and port.
    [[nodiscard]] bool start(const std::vector<User>& users, int timeoutMs = 30000);
    // Ends the server (every attachment with it) and waits for it.
    void stop();
    [[nodiscard]] bool isRunning() const;
    // "127.0.0.1/<port>:<data folder><file>", as a client names a database of this server.
    [[nodiscard]] QString connection(const QString& file) const;
    [[nodiscard]] QString dataFolder() const { return m_root + QStringLiteral("data/"); }
    // Makes an empty database in the data folder over the wire, as `owner` (its
    // administrator would); returns its connection(), empty on failure (see errorText()).
    [[nodiscard]] QString createDatabase(const QString& file, const User& owner);
    [[nodiscard]] QString errorText() const { return m_error; }

    // Where install-deps.sh unpacks the server package: $POSTWICK_FIREBIRD_SERVER_DIR, else
    // ~/.cache/postwick/firebird-server/ (holds usr/sbin/firebird and its security.sql).
    [[nodiscard]] static QString packageFolder();

private:
    bool prepareRoot(const std::vector<User>& users);
    bool runIsql(const QString& database, const QByteArray& script, bool embedded = true);
    bool waitForPort(int timeoutMs);

    QString m_root;  // ends in '/'
    quint16 m_port = 0;
    bool m_prepared = false;
    QProcess m_process;
    QString m_error;
};

}  // namespace pw::test
