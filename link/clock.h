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

// What a real pause is made of: a sleep that may end early or late, because the
// system rounds it to the ticks of its timer, a fine counter to check it against, and
// a yield of the rest of the thread's time slice.
class PauseParts {
public:
    virtual ~PauseParts() = default;
    virtual void coarseSleepMs(std::uint32_t ms) = 0;
    virtual std::uint64_t counterUs() const = 0;
    virtual void yieldSlice() = 0;
};

// The longest a system timer tick lasts (15.6 ms by default): a coarse sleep of n ms
// may end up to one tick early or late.
inline constexpr std::uint32_t kCoarseTickMs = 16;

// Pauses for at least `ms` by the counter, however early the sleep ends: the unit
// needs its full pause after a block. A remainder longer than a tick is slept (short
// enough that even a late wake-up stays within the pause), a shorter one yielded away.
void pauseAtLeast(PauseParts& parts, std::uint32_t ms);

}  // namespace orvanta
