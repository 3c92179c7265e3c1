#pragma once
// SIGTERM (systemd, `timeout`, logout), SIGHUP (a closed terminal) and SIGINT (Ctrl+C) as one
// orderly stop request instead of an abrupt end. Left to their defaults they end the process,
// or reach the embedded database engine, which closes its attachment while a send run goes
// on recording outcomes that are lost.
//
// blockStopSignals() must run first in main(), before any thread exists, so that every
// thread (the engine's and Qt's included) inherits the blocked mask. One thread of its own
// then takes the signals with sigwait and hands them to the thread that created the
// CStopSignals object, as the stopRequested signal.

#include <QObject>
#include <atomic>

namespace pw::app {

// Also ignores SIGPIPE for the whole process.
void blockStopSignals();

class CStopSignals : public QObject {
    Q_OBJECT
public:
    enum class SecondInterrupt { Ignore, EndProcess };
    // Every signal is a stop request (the receiver decides what the second one means: the
    // command line stops at once). With EndProcess, a third Ctrl+C ends the process with
    // `exitStatus`, for a user whom even that does not end soon enough.
    explicit CStopSignals(SecondInterrupt second = SecondInterrupt::Ignore, int exitStatus = 3,
                          QObject* parent = nullptr);
    ~CStopSignals() override;

    // How many stop signals came so far (also before anything was connected).
    [[nodiscard]] static int count();
    // The last signal number taken.
    [[nodiscard]] static int lastSignal();

signals:
    void stopRequested(int signalNumber);
};

}  // namespace pw::app
