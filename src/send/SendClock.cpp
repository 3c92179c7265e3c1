#include "send/SendClock.h"

#include <QDeadlineTimer>
#include <QThread>
#include <algorithm>

namespace pw::send {

QDateTime CSystemClock::now() const {
    return QDateTime::currentDateTime();
}

void CSystemClock::sleep(int ms, const std::atomic<bool>& cancel) {
    QDeadlineTimer slice(ms);
    while (!slice.hasExpired() && !cancel.load())
        QThread::msleep(static_cast<unsigned long>(std::min<qint64>(50, slice.remainingTime())));
}

std::shared_ptr<ISendClock> systemClock() {
    return std::make_shared<CSystemClock>();
}

}  // namespace pw::send
