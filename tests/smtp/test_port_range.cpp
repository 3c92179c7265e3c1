// A port outside 1 ... 65535 is refused before anything connects: the resolver would take
// 91142 for 25606 and reach another service.
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTest>

#include "smtp/KTWSMTPConnection.h"
#include "smtp/KTWSMTPException.h"

using namespace pw::smtp;

class TestPortRange : public QObject {
    Q_OBJECT
private slots:
    void outOfRangeIsRefused_data() {
        QTest::addColumn<int>("port");
        QTest::newRow("zero (a setting that is no number)") << 0;
        QTest::newRow("negative") << -25;
        QTest::newRow("65536") << 65536;
        QTest::newRow("91142, which wraps to 25606") << 91142;
    }
    void outOfRangeIsRefused() {
        QFETCH(int, port);
        // a listener where the wrapped port would lead
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(quint16(port & 0xFFFF));
        const bool listening =
            port > 0 && ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            ::listen(listener, 1) == 0;
        CKTWSMTPConnection connection(QStringLiteral("localhost"));
        try {
            connection.Connect(QStringLiteral("127.0.0.1"), AuthMethod::None, {}, {}, port,
                               ConnectionType::None);
            QFAIL("connected");
        } catch (const CKTWSMTPException& e) {
            QCOMPARE(e.Error(), CKTWSMTPException::FromSystemError(EINVAL).Error());
        }
        QVERIFY(!connection.IsConnected());
        if (listening) {
            // nothing knocked at the wrapped port
            timeval none{0, 0};
            fd_set set;
            FD_ZERO(&set);
            FD_SET(listener, &set);
            QCOMPARE(::select(listener + 1, &set, nullptr, nullptr, &none), 0);
        }
        ::close(listener);
    }
};

QTEST_GUILESS_MAIN(TestPortRange)
#include "test_port_range.moc"
