#pragma once
// A run's progress nobody watches: every question is answered OK and counted, and the count
// of suppressed recipients is kept for the test to read.

#include <atomic>

#include "send/SendProgress.h"

class QuietSendProgress : public pw::send::ISendProgress {
public:
    void setStatus(const QString&) override {}
    void setCounter(int, int) override {}
    void setRange(int) override {}
    void step() override {}
    pw::Answer prompt(pw::send::SendPrompt, const QString&, const QString&) override {
        ++prompts;
        return pw::Answer::Ok;
    }
    void setSuppressed(int count) override { suppressed = count; }

    std::atomic<int> prompts{0};
    std::atomic<int> suppressed{0};
};
