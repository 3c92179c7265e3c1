#pragma once
// What the connections of one run share when it sends over several at once: the rows still
// to send (each handed to exactly one connection), the stop that ends them all, and locks
// around what only one of them may use at a time (the message source, the outcome writer,
// the progress display, a mail's block of log entries).

#include <QMutex>
#include <QStringList>
#include <atomic>
#include <deque>
#include <memory>

#include "send/SendProgress.h"

namespace pw::send {

class CSendLanes {
public:
    explicit CSendLanes(int rows) : m_rows(rows) {}

    // The next row to send, or -1: none left, or the run stops.
    [[nodiscard]] int take();
    // A row a connection took and never tried (it had to close): another one sends it.
    void giveBack(int row);
    void stop() { m_stop.store(true); }
    [[nodiscard]] bool stopped() const { return m_stop.load(); }

    // Connections that send now; one that leaves sees whether others go on without it.
    std::atomic<int> active{0};
    QMutex sourceMutex;
    QMutex recordMutex;
    QMutex progressMutex;
    QMutex logMutex;

private:
    QMutex m_mutex;
    const int m_rows;
    int m_next = 0;
    std::deque<int> m_returned;
    std::atomic<bool> m_stop{false};
};

// The progress display of a run, one connection's call at a time. A prompt holds the others
// back until it is answered: nobody sends while the user decides about the run.
class CSerialProgress : public ISendProgress {
public:
    CSerialProgress(ISendProgress& inner, QMutex& mutex) : m_inner(inner), m_mutex(mutex) {}
    void setStatus(const QString& text) override;
    void setCounter(int current, int total) override;
    void setRange(int total) override;
    void step() override;
    Answer prompt(SendPrompt kind, const QString& caption, const QString& text) override;
    // not under the lock: it ends a prompt that holds it
    void abandonPrompts() override { m_inner.abandonPrompts(); }
    void setSuppressed(int count) override;

private:
    ISendProgress& m_inner;
    QMutex& m_mutex;
};

}  // namespace pw::send
