// The real clock on Windows.
#include "link/clock_win32.h"

#include "link/system_libraries_win32.h"

namespace orvanta {

std::uint64_t Win32Clock::nowMs() const {
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<std::uint64_t>(counter.QuadPart) * 1000u /
           static_cast<std::uint64_t>(frequency.QuadPart);
}

void Win32Clock::setPreciseTiming(bool on) {
    if (on == precise_) return;
    const SystemLibraries& libraries = systemLibraries();
    if (on && libraries.timeBeginPeriod != nullptr) libraries.timeBeginPeriod(1);
    if (!on && libraries.timeEndPeriod != nullptr) libraries.timeEndPeriod(1);
    precise_ = on;
}

}  // namespace orvanta
