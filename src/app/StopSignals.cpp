#include "app/StopSignals.h"

#include <pthread.h>
#include <QList>
#include <QMetaObject>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace pw::app {
namespace {

std::atomic<int> g_count{0};
std::atomic<int> g_interrupts{0};
std::atomic<int> g_last{0};

sigset_t stopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGINT);
    return set;
}

std::mutex g_receiversMutex;
QList<CStopSignals*> g_receivers;  // live objects only: each removes itself
CStopSignals::SecondInterrupt g_second = CStopSignals::SecondInterrupt::Ignore;
int g_exitStatus = 3;

void startWatcher() {
    static std::once_flag once;
    std::call_once(once, [] {
        blockStopSignals();
        std::thread([] {
            const sigset_t set = stopSet();
            for (;;) {
                int sig = 0;
                if (sigwait(&set, &sig) != 0)
                    return;
                g_last.store(sig);
                g_count.fetch_add(1);
                std::lock_guard lock(g_receiversMutex);
                if (sig == SIGINT && g_interrupts.fetch_add(1) >= 2 &&
                    g_second == CStopSignals::SecondInterrupt::EndProcess)
                    std::_Exit(g_exitStatus);
                // Queued with the object as context: dropped if it is gone before delivery.
                for (CStopSignals* r : g_receivers)
                    QMetaObject::invokeMethod(
                        r, [r, sig] { emit r->stopRequested(sig); }, Qt::QueuedConnection);
            }
        }).detach();
    });
}

}  // namespace

void blockStopSignals() {
    const sigset_t set = stopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A reader that goes away (`postwick --send p.pzy | head`) must not end a run part-way:
    // a write to it fails with EPIPE instead, and the run goes on without its output.
    std::signal(SIGPIPE, SIG_IGN);
}

CStopSignals::CStopSignals(SecondInterrupt second, int exitStatus, QObject* parent)
    : QObject(parent) {
    {
        std::lock_guard lock(g_receiversMutex);
        g_second = second;
        g_exitStatus = exitStatus;
        g_receivers.append(this);
    }
    startWatcher();
}

CStopSignals::~CStopSignals() {
    std::lock_guard lock(g_receiversMutex);
    g_receivers.removeAll(this);
}

int CStopSignals::count() {
    return g_count.load();
}

int CStopSignals::lastSignal() {
    return g_last.load();
}

}  // namespace pw::app
