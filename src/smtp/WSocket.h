#pragma once
// A TCP socket for the SMTP client. Every wait (connecting, readable, writable) also watches an
// abort signal, so that another thread can stop a blocked operation at once without touching
// the socket handle itself (closing a handle another thread is polling is a race on its number).

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include <sys/socket.h>

namespace pw::smtp {

// A socket failure: the system error code (errno) and its text. Resolver failures carry
// kResolverErrorBase + the resolver's (positive) error number and the resolver's text.
class CWSocketException : public std::exception {
public:
    static constexpr int kResolverErrorBase = 0x7000;

    // Takes errno of the last call when no code is given.
    CWSocketException();
    explicit CWSocketException(int code);
    CWSocketException(int code, QString text);

    [[nodiscard]] int code() const noexcept { return m_code; }
    [[nodiscard]] const QString& text() const noexcept { return m_text; }
    const char* what() const noexcept override { return m_what.c_str(); }

    // The operating system's text for a code (resolver codes included).
    [[nodiscard]] static QString textFor(int code);

private:
    int m_code;
    QString m_text;
    std::string m_what;
};

// A one-way latch that wakes every wait of the sockets that share it. Trigger() may be called
// from any thread; Reset() only by the thread that owns the sockets, between operations.
class CAbortSignal {
public:
    CAbortSignal();
    ~CAbortSignal();
    CAbortSignal(const CAbortSignal&) = delete;
    CAbortSignal& operator=(const CAbortSignal&) = delete;

    void Trigger() noexcept;
    void Reset() noexcept;
    [[nodiscard]] bool IsTriggered() const noexcept { return m_triggered.load(); }
    // Readable while triggered; watched by poll().
    [[nodiscard]] int WaitHandle() const noexcept { return m_pipe[0]; }

private:
    int m_pipe[2] = {-1, -1};
    std::atomic<bool> m_triggered{false};
};

// The time every deadline of the SMTP client reads: the steady clock unless a test gives its
// own (one that jumps ahead shows a timeout without waiting for it).
using SteadyNow = std::function<std::chrono::steady_clock::time_point()>;
[[nodiscard]] SteadyNow SteadyClock();

// One resolved address, kept so that the order of attempts can be tested.
struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = 0;

    [[nodiscard]] static SocketAddress FromLoopback(int family, quint16 port);
    [[nodiscard]] QString ToString() const;
};

class CWSocket {
public:
    // Unbounded waits are not offered: every wait has a limit in milliseconds.
    static constexpr int kDefaultConnectTimeoutMs = 60000;

    CWSocket() = default;
    ~CWSocket();
    CWSocket(const CWSocket&) = delete;
    CWSocket& operator=(const CWSocket&) = delete;

    // The signal every wait also watches (may be null). Not owned.
    void SetAbortSignal(const CAbortSignal* signal) noexcept { m_abort = signal; }

    // The clock of the connect, write and readiness deadlines (empty: the steady clock); the
    // TLS layer over this socket reads it too. Every wait is cut into slices of at most
    // kWaitSliceMs, so that a clock that runs faster is noticed at once.
    void SetClock(SteadyNow now) { m_now = now ? std::move(now) : SteadyClock(); }
    [[nodiscard]] std::chrono::steady_clock::time_point Now() const { return m_now(); }
    static constexpr int kWaitSliceMs = 200;
    // What is left of the time until `deadline` by this socket's clock, 0 when it has passed.
    [[nodiscard]] int RemainingMs(std::chrono::steady_clock::time_point deadline) const;

    // Opens a stream socket of the given family (AF_INET by default).
    void Create(int type = SOCK_STREAM, int family = AF_INET);

    // Resolves host and port (any address family) and tries the addresses in the resolver's
    // order; the first that connects wins, otherwise the last attempt's error is raised.
    void Connect(const QString& host, const QString& port, int type = SOCK_STREAM,
                 int timeoutMs = kDefaultConnectTimeoutMs);
    void ConnectAddresses(const std::vector<SocketAddress>& addresses, int type = SOCK_STREAM,
                          int timeoutMs = kDefaultConnectTimeoutMs);
    [[nodiscard]] static std::vector<SocketAddress> Resolve(const QString& host,
                                                            const QString& port, int type);

    // Sends what the socket takes now; returns the count (0 when it would block).
    [[nodiscard]] size_t Send(const char* data, size_t length);
    // Sends everything, waiting for room at most timeoutMs in total.
    // `sent`, when given, counts the bytes that went out, also when it fails.
    void SendAll(const char* data, size_t length, int timeoutMs, size_t* sent = nullptr);

    static constexpr long kWouldBlock = -1;
    // Returns the count, 0 when the peer closed, kWouldBlock when nothing is there yet.
    [[nodiscard]] long Receive(char* buffer, size_t length);

    // Waits at most timeoutMs for incoming data (or the peer's close). Raises ECANCELED when
    // aborted.
    [[nodiscard]] bool IsReadable(int timeoutMs);
    [[nodiscard]] bool IsWritable(int timeoutMs);

    void Close() noexcept;
    [[nodiscard]] bool IsOpen() const noexcept { return m_handle >= 0; }
    [[nodiscard]] int Handle() const noexcept { return m_handle; }

private:
    enum class Wait { Readable, Writable };
    [[nodiscard]] bool WaitFor(Wait what, int timeoutMs);
    void ConnectOne(const SocketAddress& address, int type, int timeoutMs);

    int m_handle = -1;
    const CAbortSignal* m_abort = nullptr;
    SteadyNow m_now = SteadyClock();
};

}  // namespace pw::smtp
