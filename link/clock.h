// The seam for time: the link's erase wait and the update's pauses sleep through it,
// so tests can run an update of forty seconds in milliseconds.
#pragma once

#include <cstdint>

namespace orvanta {

class Clock {
public:
    virtual ~Clock() = default;
    virtual void sleepMs(std::uint32_t ms) = 0;
    // Milliseconds since an arbitrary start; only differences mean anything.
    virtual std::uint64_t nowMs() const = 0;
};

// A clock that only moves when someone sleeps on it or advances it.
class FakeClock final : public Clock {
public:
    void sleepMs(std::uint32_t ms) override {
        now_ += ms;
        slept_ += ms;
    }
    std::uint64_t nowMs() const override { return now_; }
    void advance(std::uint64_t ms) { now_ += ms; }
    // Time spent in sleepMs only, as opposed to advance().
    std::uint64_t sleptMs() const { return slept_; }

private:
    std::uint64_t now_ = 0;
    std::uint64_t slept_ = 0;
};

}  // namespace orvanta
