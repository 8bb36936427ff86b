// A timer as state alone, for code that only sets and reads intervals; it
// counts how often its interval is set.
#pragma once

#include "link/LinkUi.h"

namespace quorvik {

class StateTimer : public LinkTimer {
public:
    explicit StateTimer(uint32_t ms) : interval_(ms) {}
    void SetEnabled(bool on) override { enabled_ = on; }
    bool Enabled() const override { return enabled_; }
    void SetInterval(uint32_t ms) override {
        interval_ = ms;
        ++sets;
    }
    uint32_t Interval() const override { return interval_; }
    int sets = 0;

private:
    bool enabled_ = false;
    uint32_t interval_;
};

} // namespace quorvik
