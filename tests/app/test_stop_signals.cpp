// SIGTERM, SIGHUP and SIGINT reach the thread that asked for them as one stop request each,
// and none of them ends the process.
#include <unistd.h>
#include <QSignalSpy>
#include <QTest>
#include <csignal>

#include "app/StopSignals.h"

using pw::app::CStopSignals;

class TestStopSignals : public QObject {
    Q_OBJECT
private slots:
    void stopSignalsBecomeRequests_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGINT, first") << int(SIGINT);
    }
    void stopSignalsBecomeRequests() {
        QFETCH(int, signalNumber);
        CStopSignals stops;
        QSignalSpy spy(&stops, &CStopSignals::stopRequested);
        const int before = CStopSignals::count();
        ::kill(::getpid(), signalNumber);
        QVERIFY(spy.wait(5000));
        QCOMPARE(spy.first().first().toInt(), signalNumber);
        QCOMPARE(CStopSignals::count(), before + 1);
        QCOMPARE(CStopSignals::lastSignal(), signalNumber);
    }
};

int main(int argc, char* argv[]) {
    pw::app::blockStopSignals();  // before Qt starts any thread
    QCoreApplication app(argc, argv);
    TestStopSignals test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_stop_signals.moc"
