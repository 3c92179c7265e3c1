#include "ScriptedServer.h"

#include <QMutexLocker>
#include <QRegularExpression>

#include <chrono>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pw::test {

using Clock = std::chrono::steady_clock;

struct ScriptedServer::Connection {
    int index = 0;
    int fd = -1;
    QString script;
    QByteArray received;
    std::atomic<bool> done{false};
    std::thread thread;
};

ScriptedServer::ScriptedServer(const QStringList& scripts) : m_scripts(scripts) {
    if (pipe2(m_wake, O_CLOEXEC) != 0 || pipe2(m_release, O_CLOEXEC) != 0) {
        m_errors.append(QStringLiteral("server: pipe failed"));
        return;
    }
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t length = sizeof a;
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(m_listen, 16) != 0 ||
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        m_errors.append(QStringLiteral("server: cannot listen: %1").arg(strerror(errno)));
        return;
    }
    m_port = ntohs(a.sin_port);
    m_acceptor = std::thread([this] { acceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
    if (!m_finished) {
        (void)finish(5000);
    }
    if (m_listen >= 0) {
        ::close(m_listen);
    }
    for (const int fd : {m_wake[0], m_wake[1], m_release[0], m_release[1]}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void ScriptedServer::fail(int connection, const QString& what) {
    QMutexLocker lock(&m_mutex);
    m_errors.append(QStringLiteral("connection %1: %2").arg(connection).arg(what));
}

void ScriptedServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0 || m_stopping.load()) {
            return;
        }
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        QMutexLocker lock(&m_mutex);
        auto c = std::make_unique<Connection>();
        c->index = static_cast<int>(m_connections.size());
        c->fd = fd;
        if (c->index >= m_scripts.size()) {
            m_errors.append(QStringLiteral("connection %1: no script left for it").arg(c->index));
            ::close(fd);
            c->fd = -1;
            c->done = true;
            m_connections.push_back(std::move(c));
            continue;
        }
        c->script = m_scripts[c->index];
        Connection* raw = c.get();
        c->thread = std::thread([this, raw] {
            run(*raw);
            ::close(raw->fd);
            raw->done = true;
        });
        m_connections.push_back(std::move(c));
    }
}

QByteArray ScriptedServer::unescape(const QString& text) {
    const QByteArray in = text.toUtf8();
    QByteArray out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] != '\\' || i + 1 >= in.size()) {
            out.append(in[i]);
            continue;
        }
        const char e = in[++i];
        switch (e) {
            case 'r':
                out.append('\r');
                break;
            case 'n':
                out.append('\n');
                break;
            case 't':
                out.append('\t');
                break;
            case '0':
                out.append('\0');
                break;
            case 'x':
                if (i + 2 < in.size()) {
                    out.append(static_cast<char>(in.mid(i + 1, 2).toInt(nullptr, 16)));
                    i += 2;
                }
                break;
            default:
                out.append(e);
        }
    }
    return out;
}

namespace {

// Sends everything; false when the client has gone.
bool sendAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + done,
                                 static_cast<size_t>(bytes.size() - done), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += n;
    }
    return true;
}

}  // namespace

void ScriptedServer::run(Connection& c) {
    QByteArray buffer;
    bool clientClosed = false;
    // Reads one line (without CR LF); empty optional on timeout or close.
    auto readLine = [&](QByteArray& line) -> bool {
        const auto deadline = Clock::now() + std::chrono::milliseconds(m_lineTimeoutMs.load());
        for (;;) {
            const qsizetype end = buffer.indexOf('\n');
            if (end >= 0) {
                line = buffer.left(end);
                if (line.endsWith('\r')) {
                    line.chop(1);
                }
                buffer.remove(0, end + 1);
                return true;
            }
            if (clientClosed) {
                return false;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0) {
                return false;
            }
            pollfd p{c.fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) {
                continue;
            }
            char chunk[65536];
            const ssize_t n = ::recv(c.fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                clientClosed = true;
                continue;
            }
            buffer.append(chunk, n);
            QMutexLocker lock(&m_mutex);
            c.received.append(chunk, n);
        }
    };

    const QStringList lines = c.script.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(QLatin1Char('\r'))) {
            line.chop(1);
        }
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        const QString kind = line.left(2);
        const QString arg = line.mid(3);
        if (line == QLatin1String("X")) {
            for (qsizetype j = i + 1; j < lines.size(); ++j) {
                if (!lines[j].trimmed().isEmpty() && !lines[j].startsWith(QLatin1Char('#'))) {
                    fail(c.index, QStringLiteral("script goes on after X: %1").arg(lines[j]));
                    break;
                }
            }
            return;
        }
        if (line == QLatin1String("D")) {
            QByteArray got;
            bool ended = false;
            while (readLine(got)) {
                if (got == ".") {
                    ended = true;
                    break;
                }
            }
            if (!ended) {
                fail(c.index, QStringLiteral("message data did not end with a line \".\""));
                return;
            }
            continue;
        }
        if (kind == QLatin1String("S:")) {
            if (!sendAll(c.fd, arg.toUtf8() + "\r\n")) {
                fail(c.index, QStringLiteral("client gone before \"%1\"").arg(line));
                return;
            }
        } else if (kind == QLatin1String("R:")) {
            if (!sendAll(c.fd, unescape(arg))) {
                fail(c.index, QStringLiteral("client gone before \"%1\"").arg(line));
                return;
            }
        } else if (kind == QLatin1String("Z:")) {
            const qsizetype blank = arg.indexOf(QLatin1Char(' '));
            const long count = arg.left(blank).toLong();
            const QByteArray unit = unescape(arg.mid(blank + 1));
            QByteArray block;
            while (block.size() < 65536) {
                block.append(unit);
            }
            const long perBlock = block.size() / unit.size();
            // a client that gives up in the middle of a flood is what such scripts test
            for (long sent = 0; sent < count;) {
                const long n = std::min(perBlock, count - sent);
                if (!sendAll(c.fd, block.left(n * unit.size()))) {
                    break;
                }
                sent += n;
            }
        } else if (kind == QLatin1String("W:")) {
            // Nothing is read meanwhile (a server that stops reading is what some scripts
            // play); the peer's close shows without reading, as a hang-up of its side.
            const auto until = Clock::now() + std::chrono::milliseconds(arg.trimmed().toInt());
            for (;;) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now())
                        .count();
                pollfd p[2] = {{c.fd, POLLRDHUP, 0}, {m_release[0], POLLIN, 0}};
                const int rc = left > 0 ? ::poll(p, 2, static_cast<int>(left)) : 0;
                if (rc >= 0 || errno != EINTR) {  // over, closed, or released
                    break;
                }
            }
        } else if (kind == QLatin1String("C:") || kind == QLatin1String("C~")) {
            QByteArray got;
            if (!readLine(got)) {
                fail(c.index,
                     QStringLiteral("expected \"%1\", but the client %2")
                         .arg(line, clientClosed ? QStringLiteral("closed the connection")
                                                 : QStringLiteral("sent nothing in time")));
                return;
            }
            const QString text = QString::fromUtf8(got);
            const bool matches = kind == QLatin1String("C:")
                                     ? text == arg
                                     : QRegularExpression(QRegularExpression::anchoredPattern(arg))
                                           .match(text)
                                           .hasMatch();
            if (!matches) {
                fail(c.index, QStringLiteral("expected \"%1\", got \"%2\"").arg(line, text));
                return;
            }
        } else {
            fail(c.index, QStringLiteral("unknown script line \"%1\"").arg(line));
            return;
        }
    }
    // used up: the client must not say anything more
    ::shutdown(c.fd, SHUT_WR);
    QByteArray extra;
    const auto deadline = Clock::now() + std::chrono::milliseconds(1500);
    while (!clientClosed && buffer.isEmpty() && Clock::now() < deadline) {
        pollfd p{c.fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            continue;
        }
        char chunk[4096];
        const ssize_t n = ::recv(c.fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            clientClosed = true;
        } else {
            buffer.append(chunk, n);
        }
    }
    if (!buffer.isEmpty()) {
        fail(c.index, QStringLiteral("client sent after the end of the script: \"%1\"")
                          .arg(QString::fromUtf8(buffer.left(200)).trimmed()));
    }
}

bool ScriptedServer::finish(int timeoutMs) {
    if (m_release[1] >= 0) {
        [[maybe_unused]] const auto n = ::write(m_release[1], "x", 1);
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        bool allDone = true;
        int started = 0;
        {
            QMutexLocker lock(&m_mutex);
            started = static_cast<int>(m_connections.size());
            for (const auto& c : m_connections) {
                allDone = allDone && c->done.load();
            }
        }
        if ((allDone && started >= m_scripts.size()) || Clock::now() > deadline) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_stopping = true;
    if (m_wake[1] >= 0) {
        [[maybe_unused]] const auto n = ::write(m_wake[1], "x", 1);
    }
    if (m_acceptor.joinable()) {
        m_acceptor.join();
    }
    QMutexLocker lock(&m_mutex);
    for (auto& c : m_connections) {
        if (!c->done.load()) {
            m_errors.append(
                QStringLiteral("connection %1: script not finished in time").arg(c->index));
            ::shutdown(c->fd, SHUT_RDWR);  // ends its reads; the thread closes the handle
        }
    }
    lock.unlock();
    for (auto& c : m_connections) {
        if (c->thread.joinable()) {
            c->thread.join();
        }
    }
    lock.relock();
    for (qsizetype k = m_connections.size(); k < m_scripts.size(); ++k) {
        m_errors.append(QStringLiteral("connection %1: never made").arg(k));
    }
    m_finished = true;
    return m_errors.isEmpty();
}

QString ScriptedServer::report() const {
    QMutexLocker lock(&m_mutex);
    return m_errors.join(QLatin1Char('\n'));
}

QByteArray ScriptedServer::received(int connection) const {
    QMutexLocker lock(&m_mutex);
    if (connection < 0 || connection >= static_cast<int>(m_connections.size())) {
        return {};
    }
    return m_connections[connection]->received;
}

int ScriptedServer::connectionCount() const {
    QMutexLocker lock(&m_mutex);
    return static_cast<int>(m_connections.size());
}

}  // namespace pw::test
