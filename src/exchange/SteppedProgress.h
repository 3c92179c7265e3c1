#pragma once
// A progress display that moves in twentieths, so that long reads and stores repaint the
// window about twenty times rather than once per row.

#include "resources/UserInteraction.h"

namespace pw::exchange {

class SteppedProgress {
public:
    // The display may be null: the work goes on without showing progress.
    explicit SteppedProgress(IProgress* display = nullptr) : m_display(display) {}

    // Range [minimum, maximum]; the step becomes a twentieth of it, 1 for ranges of 20 or less.
    void setRange(int minimum, int maximum);
    void setPosition(int position);
    // Moves to the position only when it is more than one step ahead of the bar.
    void advanceTo(int position);
    void show();
    // The work is done: the bar shows it whatever the last step was.
    void finish() { setPosition(m_maximum); }

    [[nodiscard]] int step() const { return m_step; }
    [[nodiscard]] int position() const { return m_position; }
    [[nodiscard]] IProgress* display() const { return m_display; }

private:
    IProgress* m_display;
    int m_minimum = 0;
    int m_maximum = 0;
    int m_step = 1;
    int m_position = 0;
};

}  // namespace pw::exchange
