// The real clock on Windows: Sleep for pauses, the performance counter for time,
// and the multimedia timer's resolution for precise pauses.
#pragma once

#include <windows.h>

#include "link/clock.h"

namespace orvanta {

class Win32Clock final : public Clock {
public:
    ~Win32Clock() override { setPreciseTiming(false); }

    void sleepMs(std::uint32_t ms) override { Sleep(ms); }
    std::uint64_t nowMs() const override;
    // 1 ms timer resolution keeps each 20 ms pause at 20 ms instead of two ticks of
    // the default 15.6 ms timer.
    void setPreciseTiming(bool on) override;

private:
    bool precise_ = false;
};

}  // namespace orvanta
