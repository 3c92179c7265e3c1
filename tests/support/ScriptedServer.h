#pragma once
// A fake TCP server that plays one scripted conversation per accepted connection, for the
// error paths of a protocol client. It listens on 127.0.0.1, port 0 (the system picks one),
// and runs each connection on its own thread, so the client under test may block the test's
// thread.
//
// A script is a text with one instruction per line:
//   S: text      send text followed by CR LF
//   R: text      send text as it stands, no CR LF added; escapes \r \n \t \0 \\ \xHH
//                (several R: lines with W: between them reach the client as separate reads)
//   Z: n text    send text (escapes as for R:) n times in a row, raw: floods and huge replies
//   C: text      the client must send this line (compared without its CR LF)
//   C~ regex     the client must send a line matching this regular expression as a whole
//   D            the client sends message data: lines up to and including a line "."
//   W: ms        wait this many milliseconds, or until the client closes or finish() is called
//                (a silence only matters to a client still listening)
//   X            close the connection now (nothing may follow)
//   # ...        a comment; empty lines are skipped as well
// When the script is used up without an X the server closes its side and the client must not
// send anything more (checked for a short while). Every deviation is recorded: a line that
// differs, a line that never came, a connection with no script left, a script never used.
//
// Typical use:
//   pw::test::ScriptedServer server({"S: 220 hi\nC: HELO me\nS: 250 ok\nC: QUIT\nS: 221 bye"});
//   ... connect a client to 127.0.0.1:server.port() ...
//   QVERIFY2(server.finish(), qPrintable(server.report()));

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace pw::test {

class ScriptedServer {
public:
    // One script per connection, in the order the connections arrive.
    explicit ScriptedServer(const QStringList& scripts);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    [[nodiscard]] quint16 port() const { return m_port; }

    // How long the server waits for each expected client line (default 10 s).
    void setLineTimeout(int ms) { m_lineTimeoutMs = ms; }

    // Waits (at most timeoutMs) until every script has run to its end, stops listening and
    // returns whether everything went as scripted.
    [[nodiscard]] bool finish(int timeoutMs = 15000);
    // The deviations, one per line, with the connection number.
    [[nodiscard]] QString report() const;
    // Every byte the client sent on connection k (0-based).
    [[nodiscard]] QByteArray received(int connection) const;
    [[nodiscard]] int connectionCount() const;

    // Decodes the escapes of R: and Z: lines.
    [[nodiscard]] static QByteArray unescape(const QString& text);

private:
    struct Connection;
    void acceptLoop();
    void run(Connection& c);
    void fail(int connection, const QString& what);

    QStringList m_scripts;
    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    int m_release[2] = {-1, -1};  // readable once finish() began: pauses end
    quint16 m_port = 0;
    std::atomic<int> m_lineTimeoutMs{10000};
    std::thread m_acceptor;
    mutable QMutex m_mutex;
    std::vector<std::unique_ptr<Connection>> m_connections;
    QStringList m_errors;
    std::atomic<bool> m_stopping{false};
    bool m_finished = false;
};

}  // namespace pw::test
