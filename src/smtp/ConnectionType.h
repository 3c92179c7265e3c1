#pragma once
// How a session reaches the server; the numbers are the ones the settings store.

namespace pw::smtp {

enum class ConnectionType : int { None = 0, SslTls = 1, StartTls = 2 };

}  // namespace pw::smtp
