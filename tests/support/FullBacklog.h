#pragma once
// A loopback port whose connect requests are never answered: a listener that accepts nothing,
// its backlog (of one) taken by a connection of its own. Linux then drops the handshake of any
// further connection, so that its connect neither succeeds nor fails until its own deadline.

#include <QByteArray>
#include <QFile>
#include <QList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pw::test {

class FullBacklog {
public:
    FullBacklog() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(m_listen, 0) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &length) != 0)
            return;
        m_filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_filler >= 0 && ::connect(m_filler, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
            m_port = ntohs(a.sin_port);
    }
    ~FullBacklog() {
        if (m_filler >= 0)
            ::close(m_filler);
        if (m_listen >= 0)
            ::close(m_listen);
    }
    FullBacklog(const FullBacklog&) = delete;
    FullBacklog& operator=(const FullBacklog&) = delete;

    // 0 when the listener could not be made.
    [[nodiscard]] quint16 port() const { return m_port; }

    // Whether a connect to the port is waiting for its answer (in Linux's table of sockets).
    [[nodiscard]] bool connectWaiting() const {
        QFile table(QStringLiteral("/proc/net/tcp"));
        if (!table.open(QIODevice::ReadOnly))
            return false;
        const QByteArray remote =
            "0100007F:" + QByteArray::number(m_port, 16).toUpper().rightJustified(4, '0');
        for (const QByteArray& line : table.readAll().split('\n')) {
            const QList<QByteArray> f = line.simplified().split(' ');
            if (f.size() > 3 && f[2] == remote && f[3] == "02")  // SYN_SENT
                return true;
        }
        return false;
    }

private:
    int m_listen = -1;
    int m_filler = -1;
    quint16 m_port = 0;
};

}  // namespace pw::test
