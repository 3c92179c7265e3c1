#include "smtp/WSocket.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

namespace pw::smtp {

SteadyNow SteadyClock() {
    return [] { return std::chrono::steady_clock::now(); };
}

// ---------------------------------------------------------------------------------------------

CWSocketException::CWSocketException() : CWSocketException(errno) {}

CWSocketException::CWSocketException(int code) : CWSocketException(code, textFor(code)) {}

CWSocketException::CWSocketException(int code, QString text)
    : m_code(code), m_text(std::move(text)), m_what(m_text.toStdString()) {}

QString CWSocketException::textFor(int code) {
    if (code > kResolverErrorBase && code < kResolverErrorBase + 0x1000) {
        return QString::fromLocal8Bit(gai_strerror(-(code - kResolverErrorBase)));
    }
    return QString::fromLocal8Bit(std::strerror(code));
}

// ---------------------------------------------------------------------------------------------

CAbortSignal::CAbortSignal() {
    if (pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw CWSocketException();
    }
}

CAbortSignal::~CAbortSignal() {
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

void CAbortSignal::Trigger() noexcept {
    if (!m_triggered.exchange(true)) {
        const char byte = 1;
        // a full pipe already wakes every poll; nothing to do on failure
        [[maybe_unused]] const auto n = ::write(m_pipe[1], &byte, 1);
    }
}

void CAbortSignal::Reset() noexcept {
    char buffer[64];
    while (::read(m_pipe[0], buffer, sizeof buffer) > 0) {
    }
    m_triggered.store(false);
}

// ---------------------------------------------------------------------------------------------

SocketAddress SocketAddress::FromLoopback(int family, quint16 port) {
    SocketAddress a;
    a.family = family;
    if (family == AF_INET6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&a.storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        in6->sin6_addr = in6addr_loopback;
        a.length = sizeof(sockaddr_in6);
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&a.storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(port);
        in4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.length = sizeof(sockaddr_in);
    }
    return a;
}

QString SocketAddress::ToString() const {
    char host[NI_MAXHOST] = {};
    char service[NI_MAXSERV] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&storage), length, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return QStringLiteral("?");
    }
    return QStringLiteral("%1 port %2")
        .arg(QString::fromLatin1(host), QString::fromLatin1(service));
}

// ---------------------------------------------------------------------------------------------

CWSocket::~CWSocket() {
    Close();
}

int CWSocket::RemainingMs(std::chrono::steady_clock::time_point deadline) const {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - m_now()).count();
    return left < 0 ? 0 : static_cast<int>(std::min<long long>(left, INT_MAX));
}

void CWSocket::Create(int type, int family) {
    Close();
    m_handle = ::socket(family, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_handle < 0) {
        throw CWSocketException();
    }
}

std::vector<SocketAddress> CWSocket::Resolve(const QString& host, const QString& port, int type) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = type;
    addrinfo* list = nullptr;
    const QByteArray hostBytes = host.toUtf8();
    const QByteArray portBytes = port.toUtf8();
    const int rc = getaddrinfo(hostBytes.constData(), portBytes.constData(), &hints, &list);
    if (rc != 0) {
        const int code = rc == EAI_SYSTEM ? errno : CWSocketException::kResolverErrorBase - rc;
        throw CWSocketException(code);
    }
    std::vector<SocketAddress> result;
    for (addrinfo* p = list; p != nullptr; p = p->ai_next) {
        if (p->ai_addrlen > sizeof(sockaddr_storage)) {
            continue;
        }
        SocketAddress a;
        std::memcpy(&a.storage, p->ai_addr, p->ai_addrlen);
        a.length = p->ai_addrlen;
        a.family = p->ai_family;
        result.push_back(a);
    }
    freeaddrinfo(list);
    return result;
}

void CWSocket::Connect(const QString& host, const QString& port, int type, int timeoutMs) {
    ConnectAddresses(Resolve(host, port, type), type, timeoutMs);
}

void CWSocket::ConnectAddresses(const std::vector<SocketAddress>& addresses, int type,
                                int timeoutMs) {
    if (addresses.empty()) {
        throw CWSocketException(EADDRNOTAVAIL);
    }
    for (size_t i = 0; i < addresses.size(); ++i) {
        try {
            ConnectOne(addresses[i], type, timeoutMs);
            return;
        } catch (const CWSocketException& e) {
            Close();
            // an abort ends the whole attempt, not just this address
            if (i + 1 == addresses.size() || e.code() == ECANCELED) {
                throw;
            }
        }
    }
}

void CWSocket::ConnectOne(const SocketAddress& address, int type, int timeoutMs) {
    Create(type, address.family);
    if (::connect(m_handle, reinterpret_cast<const sockaddr*>(&address.storage), address.length) ==
        0) {
        return;
    }
    if (errno != EINPROGRESS) {
        throw CWSocketException();
    }
    if (!WaitFor(Wait::Writable, timeoutMs)) {
        throw CWSocketException(ETIMEDOUT);
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(m_handle, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        throw CWSocketException();
    }
    if (error != 0) {
        throw CWSocketException(error);
    }
    if (type == SOCK_STREAM) {
        // SMTP is a dialogue of short lines: a line held back for the peer's acknowledgement
        // costs a delayed-ACK round (about 40 ms) per command.
        const int one = 1;
        setsockopt(m_handle, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
}

size_t CWSocket::Send(const char* data, size_t length) {
    if (m_handle < 0) {
        throw CWSocketException(ENOTCONN);
    }
    for (;;) {
        const ssize_t n = ::send(m_handle, data, length, MSG_NOSIGNAL);
        if (n >= 0) {
            return static_cast<size_t>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        }
        throw CWSocketException();
    }
}

void CWSocket::SendAll(const char* data, size_t length, int timeoutMs, size_t* sent) {
    const auto deadline = m_now() + std::chrono::milliseconds(timeoutMs);
    while (length > 0) {
        const size_t n = Send(data, length);
        data += n;
        length -= n;
        if (sent != nullptr) {
            *sent += n;
        }
        if (length > 0 && !WaitFor(Wait::Writable, RemainingMs(deadline))) {
            throw CWSocketException(ETIMEDOUT);
        }
    }
}

long CWSocket::Receive(char* buffer, size_t length) {
    if (m_handle < 0) {
        throw CWSocketException(ENOTCONN);
    }
    for (;;) {
        const ssize_t n = ::recv(m_handle, buffer, length, 0);
        if (n >= 0) {
            return static_cast<long>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return kWouldBlock;
        }
        throw CWSocketException();
    }
}

bool CWSocket::IsReadable(int timeoutMs) {
    return WaitFor(Wait::Readable, timeoutMs);
}

bool CWSocket::IsWritable(int timeoutMs) {
    return WaitFor(Wait::Writable, timeoutMs);
}

bool CWSocket::WaitFor(Wait what, int timeoutMs) {
    if (m_handle < 0) {
        throw CWSocketException(ENOTCONN);
    }
    const auto deadline = m_now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        if (m_abort != nullptr && m_abort->IsTriggered()) {
            throw CWSocketException(ECANCELED);
        }
        pollfd fds[2] = {};
        fds[0].fd = m_handle;
        fds[0].events = what == Wait::Readable ? POLLIN : POLLOUT;
        nfds_t count = 1;
        if (m_abort != nullptr) {
            fds[1].fd = m_abort->WaitHandle();
            fds[1].events = POLLIN;
            count = 2;
        }
        // at least one look, also when the time is up already
        const int left = RemainingMs(deadline);
        const int rc = ::poll(fds, count, std::min(left, kWaitSliceMs));
        if (rc < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw CWSocketException();
        }
        if (count == 2 && (fds[1].revents & POLLIN) != 0) {
            throw CWSocketException(ECANCELED);
        }
        // errors and hang-ups count as ready: the following call reports them
        if (rc > 0 && (fds[0].revents & (fds[0].events | POLLERR | POLLHUP | POLLNVAL)) != 0) {
            return true;
        }
        if (left == 0) {
            return false;
        }
    }
}

void CWSocket::Close() noexcept {
    if (m_handle >= 0) {
        ::close(m_handle);
        m_handle = -1;
    }
}

}  // namespace pw::smtp
