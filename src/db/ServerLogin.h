#pragma once
// A recipient list kept in a database on a Firebird server rather than in a file.

#include <QString>

namespace pw::db {

struct ServerLogin {
    QString connection;  // "host/port:path", "host:path" or "host:alias", as the engine names it
    QString user;
    QString password;
};

// True for a server's database name ("host/port:path", "host:alias"), false for a file path.
[[nodiscard]] bool IsServerConnection(const QString& location);
// "host/port:database" (the port left out when it is Firebird's own, 3050).
[[nodiscard]] QString ServerConnectionName(const QString& host, int port, const QString& database);

}  // namespace pw::db
