// The real clock on Windows.
#include "link/clock_win32.h"

#include "link/system_libraries_win32.h"

namespace orvanta {
namespace {

// Asks that the process keep the timer resolution it sets even while none of its
// windows is visible. SetProcessInformation is looked up at run time: systems before
// Windows 8 lack it, and those before Windows 11 do not know the flag; either is
// ignored, as there the resolution is kept anyway.
void keepTimerResolutionWhenHidden(bool keep) {
    using SetProcessInformationFunction =
        BOOL(WINAPI*)(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD);
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr) return;
    const auto setProcessInformation = reinterpret_cast<SetProcessInformationFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "SetProcessInformation")));
    if (setProcessInformation == nullptr) return;
    PROCESS_POWER_THROTTLING_STATE state{};
    state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
    // A control bit with its state bit clear: the system must not throttle this.
    state.ControlMask = keep ? PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION : 0;
    state.StateMask = 0;
    setProcessInformation(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state);
}

}  // namespace

std::uint64_t Win32Clock::counterUs() const {
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    const auto ticks = static_cast<std::uint64_t>(counter.QuadPart);
    const auto perSecond = static_cast<std::uint64_t>(frequency.QuadPart);
    // Whole seconds and the rest apart, so that the product cannot overflow.
    return ticks / perSecond * 1000000u + ticks % perSecond * 1000000u / perSecond;
}

void Win32Clock::setPreciseTiming(bool on) {
    if (on == precise_) return;
    const SystemLibraries& libraries = systemLibraries();
    if (on && libraries.timeBeginPeriod != nullptr) libraries.timeBeginPeriod(1);
    if (!on && libraries.timeEndPeriod != nullptr) libraries.timeEndPeriod(1);
    keepTimerResolutionWhenHidden(on);
    SetThreadExecutionState(on ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
    precise_ = on;
}

}  // namespace orvanta
