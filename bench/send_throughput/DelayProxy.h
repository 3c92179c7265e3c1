#pragma once
// A TCP relay on loopback that holds every chunk for a fixed time in each direction, like a
// network path with that latency and no bandwidth limit. It also counts the client's turns:
// how often the client wrote after the server had said something, i.e. the round trips the
// client waited for.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace pw::bench {

class DelayProxy {
public:
    DelayProxy(quint16 upstreamPort, int oneWayMs)
        : m_upstream(upstreamPort), m_delay(std::chrono::milliseconds(oneWayMs)) {}
    ~DelayProxy() { stop(); }
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    // Listens on 127.0.0.1, a port of the system's choice.
    [[nodiscard]] bool start() {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = loopback(0);
        socklen_t length = sizeof a;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(m_listen, 16) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &length) != 0)
            return false;
        m_port = ntohs(a.sin_port);
        m_acceptor = std::thread([this] { acceptLoop(); });
        return true;
    }
    void stop() {
        if (m_listen >= 0) {
            ::shutdown(m_listen, SHUT_RDWR);
            if (m_acceptor.joinable())
                m_acceptor.join();
            ::close(m_listen);
            m_listen = -1;
        }
        std::lock_guard lock(m_mutex);
        for (auto& c : m_connections)
            c->finish();
        m_connections.clear();
    }
    [[nodiscard]] quint16 port() const { return m_port; }
    [[nodiscard]] long turns() const { return m_turns.load(); }
    void resetTurns() { m_turns.store(0); }

private:
    using Clock = std::chrono::steady_clock;

    static sockaddr_in loopback(quint16 port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        return a;
    }

    // One direction: a reader stamps each chunk, a writer passes it on when it is due.
    struct Direction {
        std::mutex mutex;
        std::condition_variable ready;
        std::deque<std::pair<Clock::time_point, QByteArray>> queue;  // empty bytes: the end
    };

    struct Connection {
        int client = -1;
        int server = -1;
        Direction up;    // client to server
        Direction down;  // server to client
        std::atomic<bool> serverSpoke{false};
        std::vector<std::thread> threads;

        void finish() {
            ::shutdown(client, SHUT_RDWR);
            ::shutdown(server, SHUT_RDWR);
            for (std::thread& t : threads)
                t.join();
            ::close(client);
            ::close(server);
        }
    };

    void acceptLoop() {
        for (;;) {
            const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                return;
            const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in a = loopback(m_upstream);
            if (::connect(server, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
                ::close(client);
                ::close(server);
                continue;
            }
            const int one = 1;
            ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            auto c = std::make_unique<Connection>();
            c->client = client;
            c->server = server;
            Connection* raw = c.get();
            raw->threads.emplace_back([this, raw] { read(raw->client, raw->up, *raw, true); });
            raw->threads.emplace_back([raw] { write(raw->server, raw->up); });
            raw->threads.emplace_back([this, raw] { read(raw->server, raw->down, *raw, false); });
            raw->threads.emplace_back([raw] { write(raw->client, raw->down); });
            std::lock_guard lock(m_mutex);
            m_connections.push_back(std::move(c));
        }
    }

    void read(int from, Direction& d, Connection& c, bool fromClient) {
        std::vector<char> buffer(256 * 1024);
        for (;;) {
            const ssize_t n = ::recv(from, buffer.data(), buffer.size(), 0);
            const Clock::time_point due = Clock::now() + m_delay;
            if (n > 0) {
                if (fromClient) {
                    if (c.serverSpoke.exchange(false))
                        m_turns.fetch_add(1);
                } else {
                    c.serverSpoke.store(true);
                }
            }
            {
                std::lock_guard lock(d.mutex);
                d.queue.emplace_back(due, n > 0 ? QByteArray(buffer.data(), n) : QByteArray());
            }
            d.ready.notify_one();
            if (n <= 0)
                return;
        }
    }

    static void write(int to, Direction& d) {
        for (;;) {
            std::unique_lock lock(d.mutex);
            d.ready.wait(lock, [&d] { return !d.queue.empty(); });
            auto [due, bytes] = d.queue.front();
            d.queue.pop_front();
            lock.unlock();
            std::this_thread::sleep_until(due);
            if (bytes.isEmpty()) {
                ::shutdown(to, SHUT_WR);
                return;
            }
            for (qsizetype sent = 0; sent < bytes.size();) {
                const ssize_t n =
                    ::send(to, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
                if (n <= 0)
                    return;
                sent += n;
            }
        }
    }

    quint16 m_upstream;
    std::chrono::milliseconds m_delay;
    int m_listen = -1;
    quint16 m_port = 0;
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::atomic<long> m_turns{0};
};

}  // namespace pw::bench
