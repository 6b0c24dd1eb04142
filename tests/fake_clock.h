// A clock for tests that only moves when someone sleeps on it or advances it.
#pragma once

#include <cstdint>

#include "link/clock.h"

namespace orvanta {

class FakeClock final : public Clock {
public:
    void sleepMs(std::uint32_t ms) override {
        now_ += ms;
        slept_ += ms;
    }
    std::uint64_t nowMs() const override { return now_; }
    void setPreciseTiming(bool on) override { precise_ = on; }
    void advance(std::uint64_t ms) { now_ += ms; }
    // Time spent in sleepMs only, as opposed to advance().
    std::uint64_t sleptMs() const { return slept_; }
    bool precise() const { return precise_; }

private:
    std::uint64_t now_ = 0;
    std::uint64_t slept_ = 0;
    bool precise_ = false;
};

}  // namespace orvanta
