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
    // A finer system timer while the update paces the unit by sleeps; off again
    // when the pacing ends.
    virtual void setPreciseTiming(bool on) = 0;
};

}  // namespace orvanta
