// Times one update of the emulated build in real time, from the answer to the first
// confirmation to the success hint, with the program's processor time meanwhile.
// It prints figures and judges nothing; tools/bench.sh runs it.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/wine/driver_support.h"
#include "tests/wine/scenarios.h"

namespace orvanta::driver {
namespace {

constexpr std::uint32_t kStartTimeoutMs = 60000;
constexpr std::uint32_t kBoxTimeoutMs = 20000;
constexpr std::uint32_t kProgressTimeoutMs = 30000;
constexpr std::uint32_t kStreamTimeoutMs = 180000;
// Fine enough for a run of some 45 s (0.1 %), and seldom enough not to compete
// with the program for the Wine server while it streams.
constexpr std::uint32_t kPollMs = 50;
// The hint is asked for only once the stream is over; a busy program gets this long.
constexpr std::uint32_t kAnswerMs = 20;

// The least a successful run takes: the pauses of the preparation and of the stream,
// 20 + 20 + 1000 + 4000 + 20 + 20 ms and 1880 x 20 ms.
constexpr double kPacedSeconds = 42.68;
// What the emulated unit takes per exchange, as a real unit on full-speed USB.
constexpr double kReplyLatencySeconds = 0.002;
constexpr std::size_t kBlockBytes = 48;
// Lock, unprotect, erase, address; then protection and lock restored.
constexpr std::size_t kExchangesBesideBlocks = 4 + 2;
constexpr std::size_t kDefaultImageBytes = 90224;

double secondsNow() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// User and kernel time of the process so far; negative when the system does not say.
double processorSeconds(HANDLE process) {
    FILETIME created;
    FILETIME exited;
    FILETIME kernel;
    FILETIME user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1.0;
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;  // 100 ns ticks
}

bool progressWindowShown(DWORD processId) {
    return !topLevelWindows(processId, L"msctls_progress32").empty();
}

void benchUpdateScenario(ScenarioContext& context) {
    std::size_t imageBytes = kDefaultImageBytes;
    std::vector<std::uint8_t> image;
    if (!context.argument.empty() && readFileBytes(windowsPath(context.argument), image)) {
        imageBytes = image.size();
    }
    const std::size_t exchanges =
        (imageBytes + kBlockBytes - 1) / kBlockBytes + kExchangesBesideBlocks;

    Program program;
    if (!startEmulated(program, context.program, context.outputFolder + L"\\bench-update.scenario",
                       "")) {
        return;
    }
    HWND dialog = waitForMainDialog(program, kStartTimeoutMs);
    if (dialog == nullptr) return;
    const std::wstring ready = catalogueString(IDS_READY);
    const std::wstring succeeded = catalogueString(IDS_UPDATE_SUCCEEDED);
    check(waitForControlText(dialog, IDC_HINT_PANEL, ready, kStartTimeoutMs), "unit ready");
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, program.processId());
    check(process != nullptr, "program's process opened for its times");
    if (process == nullptr) return;

    pressButton(dialog, IDC_UPDATE);
    HWND box = waitForMessageBox(program, dialog, kBoxTimeoutMs);
    check(box != nullptr, "confirmation shown");
    if (box != nullptr) {
        const double cpuStart = processorSeconds(process);
        const double start = secondsNow();
        pressButton(box, IDOK);

        const DWORD id = program.processId();
        const bool streamed =
            waitFor([&] { return progressWindowShown(id); }, kProgressTimeoutMs, kPollMs) &&
            waitFor([&] { return !progressWindowShown(id); }, kStreamTimeoutMs, kPollMs);
        std::wstring hint;
        const bool done =
            streamed && waitFor(
                            [&] {
                                return tryControlText(dialog, IDC_HINT_PANEL, kAnswerMs, hint) &&
                                       hint == succeeded;
                            },
                            kStreamTimeoutMs, kPollMs);
        const double wall = secondsNow() - start;
        const double cpu = processorSeconds(process) - cpuStart;
        check(done, "update succeeded");

        const double pacedWithLatency = kPacedSeconds + exchanges * kReplyLatencySeconds;
        std::printf("emulated build under Wine, confirmation to success hint\n");
        std::printf("  wall time                      %8.3f s\n", wall);
        std::printf("  ratio to %.2f s                %8.4f\n", kPacedSeconds,
                    wall / kPacedSeconds);
        std::printf("  ratio to %.2f s + %zu x 2 ms  %8.4f  (%.3f s)\n", kPacedSeconds, exchanges,
                    wall / pacedWithLatency, pacedWithLatency);
        if (cpu >= 0.0) {
            std::printf("  program CPU time               %8.3f s = %.1f %% of wall time\n", cpu,
                        100.0 * cpu / wall);
        } else {
            std::printf("  program CPU time               not available\n");
        }
    }
    CloseHandle(process);
    closeAndCheckExit(program, dialog);
}

const RegisterScenario registered("bench-update", benchUpdateScenario);

}  // namespace
}  // namespace orvanta::driver
