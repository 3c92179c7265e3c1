#pragma once
// The time the send worker reads: the end of a batch pause, a retry wait, the back-off after
// a refusal for now. The pauses sleep in slices through it, so that tests run them on a clock
// of their own instead of waiting.

#include <QDateTime>
#include <atomic>
#include <memory>

namespace pw::send {

class ISendClock {
public:
    virtual ~ISendClock() = default;
    [[nodiscard]] virtual QDateTime now() const = 0;
    // Sleeps about `ms` milliseconds; returns early once `cancel` is set.
    virtual void sleep(int ms, const std::atomic<bool>& cancel) = 0;
};

// The wall clock; the sleep wakes every 50 ms to notice a cancel.
class CSystemClock : public ISendClock {
public:
    [[nodiscard]] QDateTime now() const override;
    void sleep(int ms, const std::atomic<bool>& cancel) override;
};

[[nodiscard]] std::shared_ptr<ISendClock> systemClock();

}  // namespace pw::send
