// Times one update in real time, from the answer to the first confirmation to the
// success hint, with the program's processor time meanwhile: the emulated build
// (bench-update), or the shipped program against whatever unit the system's HID stack
// offers, the virtual unit under tools/bench.sh (bench-update-system). Around the timed
// stretch it leaves a mark file for a watcher outside Wine to read every process's
// times at. It prints figures and judges nothing.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "emulator/emulated_bus.h"
#include "resources/resource_ids.h"
#include "tests/wine/driver_support.h"
#include "tests/wine/scenarios.h"
#include "update/update.h"

namespace orvanta::driver {
namespace {

// Fine enough for a run of some 45 s (0.1 %), and seldom enough not to compete
// with the program for the Wine server while it streams.
constexpr std::uint32_t kPollMs = 50;
// The hint is asked for only once the stream is over; a busy program gets this long.
constexpr std::uint32_t kAnswerMs = 20;

// What the emulated unit takes per exchange, as a real unit on full-speed USB.
constexpr double kReplyLatencySeconds = 0.002;
// Lock, unprotect, erase, address; then protection and lock restored.
constexpr std::size_t kExchangesBesideBlocks = 4 + 2;
constexpr std::size_t kDefaultImageBytes = 90224;
// How long a mark waits for the watcher to take it; without one the run goes on.
constexpr std::uint32_t kMarkTakenMs = 10000;
constexpr std::uint32_t kMarkPollMs = 5;

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

std::uint32_t blocksOfUpdate(const ScenarioContext& context) {
    std::size_t imageBytes = kDefaultImageBytes;
    std::vector<std::uint8_t> image;
    if (!context.argument.empty() && readFileBytes(windowsPath(context.argument), image)) {
        imageBytes = image.size();
    }
    return blockCount(imageBytes);
}

// The least a successful run takes: the program's pauses and the unit's wait before
// it answers the erase.
double pacedSeconds(std::uint32_t blocks) {
    return static_cast<double>(updatePausesMs(blocks) + kEraseReplyDelayMs) / 1000.0;
}

// Leaves a mark file in the output folder and waits until a watcher has taken it
// (deleted it), so that what the watcher reads belongs exactly to this moment.
void markForWatcher(const ScenarioContext& context, const wchar_t* name, const std::string& text) {
    const std::wstring path = context.outputFolder + L"\\" + name;
    if (!writeFileWhole(path, text)) return;
    if (!waitFor([&] { return !fileExists(path); }, kMarkTakenMs, kMarkPollMs)) {
        DeleteFileW(path.c_str());
        std::printf("  (no watcher took the mark %s)\n", narrow(name).c_str());
    }
}

// From the click on "Update" to the success hint, with the program already showing
// the unit ready; the figures are printed under `heading`.
void timeUpdate(const ScenarioContext& context, Program& program, const char* heading) {
    const std::uint32_t blocks = blocksOfUpdate(context);
    const std::size_t exchanges = blocks + kExchangesBesideBlocks;
    const double paced = pacedSeconds(blocks);
    HWND dialog = waitForMainDialog(program, kStartTimeoutMs);
    if (dialog == nullptr) return;
    const std::wstring ready = catalogueString(IDS_READY);
    const std::wstring succeeded = catalogueString(IDS_UPDATE_SUCCEEDED);
    waitForHint(dialog, ready, kStartTimeoutMs, "unit ready");
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, program.processId());
    check(process != nullptr, "program's process opened for its times");
    if (process == nullptr) return;

    pressButton(dialog, IDC_UPDATE);
    HWND box = waitForMessageBox(program, dialog, kBoxTimeoutMs);
    check(box != nullptr, "confirmation shown");
    if (box != nullptr) {
        markForWatcher(context, L"bench-update.start", "start\n");
        const double cpuStart = processorSeconds(process);
        const double start = secondsNow();
        pressButton(box, IDOK);

        HWND progress = nullptr;
        // While the stream runs only its window is watched: a walk over every window
        // of the desktop asks the Wine server several times per window, and the
        // stream needs that server for every exchange.
        const bool streamed =
            waitFor([&] { return (progress = findProgressWindow(program.processId())) != nullptr; },
                    kProgressTimeoutMs, kPollMs) &&
            waitFor([&] { return !IsWindowVisible(progress); }, kStreamTimeoutMs, kPollMs);
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
        char figures[128];
        std::snprintf(figures, sizeof figures, "wall_s = %.6f\nexchanges = %zu\npaced_s = %.3f\n",
                      wall, exchanges, paced);
        markForWatcher(context, L"bench-update.end", figures);
        check(done, "update succeeded");

        const double pacedWithLatency = paced + exchanges * kReplyLatencySeconds;
        std::printf("%s, confirmation to success hint\n", heading);
        std::printf("  wall time                      %8.3f s\n", wall);
        std::printf("  ratio to %.2f s                %8.4f\n", paced, wall / paced);
        std::printf("  ratio to %.2f s + %zu x 2 ms  %8.4f  (%.3f s)\n", paced, exchanges,
                    wall / pacedWithLatency, pacedWithLatency);
        if (cpu >= 0.0) {
            std::printf("  program CPU (GetProcessTimes)  %8.3f s = %.1f %% of wall time\n", cpu,
                        100.0 * cpu / wall);
        } else {
            std::printf("  program CPU (GetProcessTimes)  not available\n");
        }
    }
    CloseHandle(process);
    closeAndCheckExit(program, dialog);
}

// The pauses before the blocks as the trace of the emulated build shows them: from the
// reply to one exchange to the request of the next block, on the program's own clock,
// in whole milliseconds. The program asks for 20 ms each time.
void printBlockPauses(const std::wstring& tracePath) {
    std::vector<std::string> lines;
    if (!readFileLines(tracePath, lines)) {
        std::printf("  block pauses                   no trace\n");
        return;
    }
    std::vector<long> pauses;
    long lastReplyMs = -1;
    for (const std::string& line : lines) {
        TraceLine split;
        if (!splitTraceLine(line, split)) continue;
        const long ms = static_cast<long>(split.ms);
        if (split.entry.rfind("< ", 0) == 0) lastReplyMs = ms;
        if (split.entry.rfind("> 01 1b", 0) == 0 && lastReplyMs >= 0) {
            pauses.push_back(ms - lastReplyMs);
        }
    }
    if (pauses.empty()) return;
    std::sort(pauses.begin(), pauses.end());
    double sum = 0;
    for (long pause : pauses) sum += static_cast<double>(pause);
    const auto shorter = std::count_if(pauses.begin(), pauses.end(), [](long p) { return p < 20; });
    std::printf(
        "  block pauses (trace, 1 ms)     %zu: min %ld, median %ld, mean %.2f, max %ld ms; "
        "%ld shorter than 20 ms\n",
        pauses.size(), pauses.front(), pauses[pauses.size() / 2],
        sum / static_cast<double>(pauses.size()), pauses.back(), static_cast<long>(shorter));
}

void benchUpdateScenario(ScenarioContext& context) {
    Program program;
    const std::wstring tracePath = context.outputFolder + L"\\bench-update.trace";
    DeleteFileW(tracePath.c_str());
    if (!startEmulated(program, context.program, context.outputFolder + L"\\bench-update.scenario",
                       "trace_file = " + narrow(tracePath) + "\n")) {
        return;
    }
    timeUpdate(context, program, "emulated build under Wine");
    printBlockPauses(tracePath);
}

// The program finds the unit on its own; tools/bench.sh has put the virtual unit there.
void benchUpdateSystemScenario(ScenarioContext& context) {
    Program program;
    if (!program.start(context.program)) return;
    timeUpdate(context, program, "shipped program under Wine, unit on the system's HID stack");
}

const RegisterScenario registered("bench-update", benchUpdateScenario);
const RegisterScenario registeredSystem("bench-update-system", benchUpdateSystemScenario);

}  // namespace
}  // namespace orvanta::driver
