// The real clock on Windows: Sleep for pauses, the performance counter for time.
#pragma once

#include <windows.h>

#include "link/clock.h"

namespace orvanta {

class Win32Clock final : public Clock {
public:
    void sleepMs(std::uint32_t ms) override { Sleep(ms); }
    std::uint64_t nowMs() const override {
        LARGE_INTEGER frequency;
        LARGE_INTEGER counter;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&counter);
        return static_cast<std::uint64_t>(counter.QuadPart) * 1000u /
               static_cast<std::uint64_t>(frequency.QuadPart);
    }
};

}  // namespace orvanta
