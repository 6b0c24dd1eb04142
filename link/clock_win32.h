// The real clock on Windows: pauses that are never shorter than asked, the
// performance counter for time, and what keeps the pacing precise during an update.
#pragma once

#include <windows.h>

#include "link/clock.h"

namespace orvanta {

class Win32Clock final : public Clock, private PauseParts {
public:
    ~Win32Clock() override { setPreciseTiming(false); }

    void sleepMs(std::uint32_t ms) override { pauseAtLeast(*this, ms); }
    std::uint64_t nowMs() const override { return counterUs() / 1000; }
    // While on: 1 ms timer resolution keeps each 20 ms pause at 20 ms instead of two
    // ticks of the default 15.6 ms timer; the process asks to keep that resolution
    // when all its windows are minimised or hidden (from Windows 11 it is dropped
    // otherwise); and the system stays awake, since sleep would cut the stream and
    // leave the ESC half written.
    void setPreciseTiming(bool on) override;

private:
    void coarseSleepMs(std::uint32_t ms) override { Sleep(ms); }
    std::uint64_t counterUs() const override;
    void yieldSlice() override { Sleep(0); }

    bool precise_ = false;
};

}  // namespace orvanta
