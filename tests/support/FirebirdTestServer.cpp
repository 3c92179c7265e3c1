#include "FirebirdTestServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pw::test {

namespace {

// The engine's own files that a root must hold besides firebird.conf: this build looks for
// its plugins, character sets and messages under the root it is given.
constexpr const char* kEngineFolder = "/usr/lib/x86_64-linux-gnu/firebird/3.0/";
constexpr const char* kEngineEntries[] = {"plugins", "intl",         "UDF",
                                          "lib",     "firebird.msg", "plugins.conf"};

quint16 freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

// Listening on loopback, as the kernel lists it: a probe connection would not do, the server
// does not end while a connection that never spoke is open.
bool listening(quint16 port) {
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray local =
        QStringLiteral("0100007F:%1").arg(port, 4, 16, QLatin1Char('0')).toUpper().toLatin1();
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() > 3 && f[1] == local && f[3] == "0A")
            return true;
    }
    return false;
}

QString sqlText(const QString& text) {
    QString out = text;
    return QLatin1Char('\'') + out.replace(QLatin1Char('\''), QStringLiteral("''")) +
           QLatin1Char('\'');
}

}  // namespace

FirebirdTestServer::FirebirdTestServer(QString rootFolder) : m_root(std::move(rootFolder)) {
    if (!m_root.endsWith(QLatin1Char('/')))
        m_root += QLatin1Char('/');
}

FirebirdTestServer::~FirebirdTestServer() {
    stop();
}

QString FirebirdTestServer::packageFolder() {
    QString dir = qEnvironmentVariable("POSTWICK_FIREBIRD_SERVER_DIR");
    if (dir.isEmpty())
        dir = QDir::homePath() + QStringLiteral("/.cache/postwick/firebird-server");
    return dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
}

QString FirebirdTestServer::connection(const QString& file) const {
    return QStringLiteral("127.0.0.1/%1:%2%3").arg(m_port).arg(dataFolder(), file);
}

bool FirebirdTestServer::isRunning() const {
    return m_process.state() != QProcess::NotRunning;
}

bool FirebirdTestServer::runIsql(const QString& database, const QByteArray& script, bool embedded) {
    QProcess isql;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (embedded) {
        // on this root's configuration (its security database) and lock folder
        env.insert(QStringLiteral("FIREBIRD"), m_root);
        env.insert(QStringLiteral("FIREBIRD_LOCK"), m_root + QStringLiteral("lock"));
    }
    env.remove(QStringLiteral("ISC_USER"));
    env.remove(QStringLiteral("ISC_PASSWORD"));
    isql.setProcessEnvironment(env);
    isql.setProcessChannelMode(QProcess::MergedChannels);
    QStringList args{QStringLiteral("-q"), QStringLiteral("-b")};
    if (!database.isEmpty())
        args << QStringLiteral("-user") << QStringLiteral("SYSDBA") << database;
    isql.start(QStringLiteral("isql-fb"), args);
    if (!isql.waitForStarted()) {
        m_error = QStringLiteral("isql-fb (firebird3.0-utils) could not be started");
        return false;
    }
    isql.write(script);
    isql.closeWriteChannel();
    isql.waitForFinished(60000);
    const QByteArray out = isql.readAll();
    if (isql.exitStatus() != QProcess::NormalExit || isql.exitCode() != 0 ||
        out.contains("Statement failed")) {
        m_error = QStringLiteral("isql-fb failed: ") + QString::fromUtf8(out);
        return false;
    }
    return true;
}

bool FirebirdTestServer::prepareRoot(const std::vector<User>& users) {
    const QString securitySql =
        packageFolder() + QStringLiteral("usr/share/firebird/3.0/security.sql");
    QFile sql(securitySql);
    if (!QFileInfo::exists(packageFolder() + QStringLiteral("usr/sbin/firebird")) ||
        !sql.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("no Firebird server package in %1: run scripts/install-deps.sh")
                      .arg(packageFolder());
        return false;
    }
    QDir().mkpath(m_root + QStringLiteral("lock"));
    QDir().mkpath(dataFolder());
    for (const char* entry : kEngineEntries) {
        QFile::link(QString::fromLatin1(kEngineFolder) + QLatin1String(entry),
                    m_root + QLatin1String(entry));
    }
    m_port = freeLoopbackPort();
    if (m_port == 0) {
        m_error = QStringLiteral("no free loopback port");
        return false;
    }
    const QString security = m_root + QStringLiteral("security3.fdb");
    QFile conf(m_root + QStringLiteral("firebird.conf"));
    const QByteArray settings = QStringLiteral(
                                    "RemoteServicePort = %1\n"
                                    "RemoteBindAddress = 127.0.0.1\n"
                                    "ServerMode = Super\n"
                                    "WireCrypt = Required\n"
                                    "AuthServer = Srp\n"
                                    "AuthClient = Srp\n"
                                    "UserManager = Srp\n"
                                    "SecurityDatabase = %2\n"
                                    "DatabaseAccess = Restrict %3\n")
                                    .arg(m_port)
                                    .arg(security, dataFolder())
                                    .toUtf8();
    if (!conf.open(QIODevice::WriteOnly) || conf.write(settings) != settings.size()) {
        m_error = QStringLiteral("cannot write ") + conf.fileName();
        return false;
    }
    conf.close();
    if (!runIsql({}, "create database " + sqlText(security).toUtf8() + " user SYSDBA;\n" +
                         sql.readAll()))
        return false;
    QByteArray script;
    for (const User& u : users) {
        script += "create user " + u.first.toUtf8() + " password " + sqlText(u.second).toUtf8() +
                  " using plugin Srp;\ngrant create database to user " + u.first.toUtf8() + ";\n";
    }
    script += "commit;\n";
    return runIsql(security, script);
}

QString FirebirdTestServer::createDatabase(const QString& file, const User& owner) {
    const QString target = connection(file);
    if (!runIsql({},
                 "create database " + sqlText(target).toUtf8() + " user " + owner.first.toUtf8() +
                     " password " + sqlText(owner.second).toUtf8() + ";\n",
                 false))
        return {};
    return target;
}

bool FirebirdTestServer::start(const std::vector<User>& users, int timeoutMs) {
    m_error.clear();
    if (isRunning())
        return true;
    if (!m_prepared) {
        if (!prepareRoot(users))
            return false;
        m_prepared = true;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FIREBIRD"), m_root);
    env.insert(QStringLiteral("FIREBIRD_LOCK"), m_root + QStringLiteral("lock"));
    env.insert(QStringLiteral("FIREBIRD_TMP"), m_root + QStringLiteral("lock"));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(packageFolder() + QStringLiteral("usr/sbin/firebird"), QStringList{});
    if (!m_process.waitForStarted()) {
        m_error = QStringLiteral("the Firebird server did not start: ") + m_process.errorString();
        return false;
    }
    return waitForPort(timeoutMs);
}

bool FirebirdTestServer::waitForPort(int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (listening(m_port))
            return true;
        // returns at once when the server ends instead of listening
        if (m_process.waitForFinished(25)) {
            m_error = QStringLiteral("the Firebird server ended: ") +
                      QString::fromUtf8(m_process.readAll());
            return false;
        }
    }
    m_error = QStringLiteral("the Firebird server did not listen on port %1").arg(m_port);
    stop();
    return false;
}

void FirebirdTestServer::stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    // it may linger over a connection of an ended client; its files stay sound when killed
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

}  // namespace pw::test
