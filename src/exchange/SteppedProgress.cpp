#include "exchange/SteppedProgress.h"

namespace pw::exchange {

void SteppedProgress::setRange(int minimum, int maximum) {
    m_minimum = minimum;
    m_maximum = maximum;
    const int span = maximum - minimum;
    m_step = span > 20 ? span / 20 : 1;
    if (m_display)
        m_display->setRange(minimum, maximum);
}

void SteppedProgress::setPosition(int position) {
    m_position = position;
    if (m_display)
        m_display->setPosition(position);
}

void SteppedProgress::advanceTo(int position) {
    if (position - m_position > m_step)
        setPosition(position);
}

void SteppedProgress::show() {
    if (m_display)
        m_display->show();
}

}  // namespace pw::exchange
