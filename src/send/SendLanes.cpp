#include "send/SendLanes.h"

namespace pw::send {

int CSendLanes::take() {
    QMutexLocker lock(&m_mutex);
    if (m_stop.load())
        return -1;
    if (!m_returned.empty()) {
        const int row = m_returned.front();
        m_returned.pop_front();
        return row;
    }
    return m_next < m_rows ? m_next++ : -1;
}

void CSendLanes::giveBack(int row) {
    QMutexLocker lock(&m_mutex);
    // in the selection's order, before the rows nobody took yet
    m_returned.insert(std::upper_bound(m_returned.begin(), m_returned.end(), row), row);
}

void CSerialProgress::setStatus(const QString& text) {
    QMutexLocker lock(&m_mutex);
    m_inner.setStatus(text);
}

void CSerialProgress::setCounter(int current, int total) {
    QMutexLocker lock(&m_mutex);
    m_inner.setCounter(current, total);
}

void CSerialProgress::setRange(int total) {
    QMutexLocker lock(&m_mutex);
    m_inner.setRange(total);
}

void CSerialProgress::step() {
    QMutexLocker lock(&m_mutex);
    m_inner.step();
}

Answer CSerialProgress::prompt(SendPrompt kind, const QString& caption, const QString& text) {
    QMutexLocker lock(&m_mutex);
    return m_inner.prompt(kind, caption, text);
}

void CSerialProgress::setSuppressed(int count) {
    QMutexLocker lock(&m_mutex);
    m_inner.setSuppressed(count);
}

}  // namespace pw::send
