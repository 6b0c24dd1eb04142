// A program built like the product's code, with its stack guard: "guard" prints the guard
// value, "smash" overruns a stack buffer, which must end the process with the system's
// stack-overrun code before the function returns.
#include <cstdint>
#include <cstdio>
#include <cstring>

extern "C" std::uintptr_t __stack_chk_guard;  // NOLINT(bugprone-reserved-identifier)

namespace {

// Copies more than the buffer holds; volatile keeps the compiler from proving it, and
// the check runs as this function returns.
__attribute__((noinline)) int overrun(std::size_t length) {
    char buffer[16];
    volatile std::size_t count = length;
    std::memset(buffer, 'x', count);
    return buffer[3];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "guard") == 0) {
        std::printf("%016llx\n", static_cast<unsigned long long>(__stack_chk_guard));
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "smash") == 0) {
        const int result = overrun(64);
        std::printf("returned %d\n", result);
        return 0;
    }
    return 2;
}
