// The stack protector's guard value and its failure handler. GCC's own runtime for them
// (libssp) would add a static import of advapi32.dll for its random value; msvcrt's
// rand_s gives one without a new import (mingw-w64's import library looks it up in
// msvcrt.dll at run time).
//
// This file is compiled without the stack protector: it changes the guard, and a
// protected function of its own would find its canary changed on return.
#define _CRT_RAND_S  // NOLINT(bugprone-reserved-identifier): asks the header for rand_s
#include <windows.h>

#include <cstdint>
#include <cstdlib>

namespace {

// What the system itself reports for a smashed stack; the process ends at once, without
// unwinding through a stack that can no longer be trusted.
constexpr UINT kStackBufferOverrunExitCode = 0xC0000409;

}  // namespace

extern "C" {

// Until the constructor below runs, a fixed value: nothing protected runs before it,
// since the C runtime's start-up code is not compiled with the protector.
// NOLINTNEXTLINE(bugprone-reserved-identifier,readability-identifier-naming)
std::uintptr_t __stack_chk_guard = 0x2B992DDFA232ULL;

// NOLINTNEXTLINE(bugprone-reserved-identifier,readability-identifier-naming)
[[noreturn]] void __stack_chk_fail() {
    TerminateProcess(GetCurrentProcess(), kStackBufferOverrunExitCode);
    std::abort();  // TerminateProcess on the own process does not return
}

}  // extern "C"

namespace {

// Runs among the first static constructors, before any protected function is entered.
__attribute__((constructor(101))) void initialiseStackGuard() {
    unsigned int high = 0;
    unsigned int low = 0;
    if (rand_s(&high) != 0 || rand_s(&low) != 0) return;
    const std::uintptr_t value = (static_cast<std::uintptr_t>(high) << 32) | low;
    // A zero byte at the bottom stops string copies from reproducing the guard.
    __stack_chk_guard = value & ~static_cast<std::uintptr_t>(0xFF);
}

}  // namespace
