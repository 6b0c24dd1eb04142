// The program under a user's hands: the keyboard stays alive after "Update" is
// disabled, a second start hands over to the running copy, even one busy with an
// update, and arrivals under the incompatible-ESC box wait for it instead of stacking
// boxes.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "emulator/emulated_bus.h"
#include "resources/resource_ids.h"
#include "tests/wine/driver_support.h"
#include "tests/wine/scenarios.h"

namespace orvanta::driver {
namespace {

constexpr std::uint32_t kSecondCopyExitMs = 15000;
// A second start against a busy first copy must not wait for it.
constexpr std::uint32_t kSecondCopyBusyExitMs = 8000;
// The erase keeps the first copy busy this long, far longer than the second copy may take.
constexpr std::uint32_t kEraseDurationMs = 30000;
constexpr int kArrivals = 20;

// Request lines ("<time> > ...") in the trace file; -1 when it cannot be read.
int requestsInTrace(const std::wstring& tracePath) {
    std::vector<std::string> lines;
    if (!readFileLines(tracePath, lines)) return -1;
    TraceLine split;
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return splitTraceLine(line, split) && split.entry.rfind("> ", 0) == 0;
    }));
}

// "Update" clicked, the confirmation cancelled with Esc, then the unit pulled out
// while the button still has the focus, and plugged in again.
void keyboardAfterRemovalScenario(ScenarioContext& context) {
    const std::wstring path = scenarioFile(context, "keyboard-after-removal");
    Program program;
    HWND dialog = startReady(program, context, path, "");
    if (dialog == nullptr || !clickControl(dialog, IDC_UPDATE)) return;
    HWND box = waitForMessageBox(program, dialog, kBoxTimeoutMs);
    check(box != nullptr, "confirmation shown after the click");
    if (box == nullptr) return;
    waitOutFreshKeyHold();
    pressKey(VK_ESCAPE);
    check(waitFor([&] { return !IsWindow(box); }, kBoxTimeoutMs), "Esc cancels the confirmation");
    check(waitFor([&] { return focusOf(dialog) == GetDlgItem(dialog, IDC_UPDATE); }, kBoxTimeoutMs),
          "\"Update\" has the focus again");

    commandUnit(path, "unplug");
    // The program takes the command from its file, then acts on it on its own thread.
    check(waitFor([&] { return !controlEnabled(dialog, IDC_UPDATE); }, kBoxTimeoutMs),
          "Update disabled after the removal");
    const HWND focus = focusOf(dialog);
    check(focus != nullptr && IsWindowEnabled(focus), "the focus left the disabled button");

    commandUnit(path, "plug");
    waitForHint(dialog, catalogueString(IDS_READY), kStartTimeoutMs, "ready again after the plug");
    checkKeyboardAlive(program, dialog, "after a removal and a plug");
}
const RegisterScenario registeredRemoval("keyboard-after-removal", keyboardAfterRemovalScenario);

// Another copy holds the one-copy mutex but has no window here (it runs for another
// user): a second start says so in a box under the program's name, and ends with exit
// code 0 once the box is answered.
void secondCopyHiddenScenario(ScenarioContext& context) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Global\\VARIDYNE-ORVANTA-210-HV-FW-Updater");
    check(mutex != nullptr && GetLastError() != ERROR_ALREADY_EXISTS, "the other copy's mutex");
    Program program;
    check(program.start(context.program), "second copy started");
    HWND box = waitForMessageBox(program, nullptr, kStartTimeoutMs);
    check(box != nullptr, "the second copy shows a box");
    if (box != nullptr) {
        checkText(windowText(box), L"VARIDYNE ORVANTA 210 HV FW Updater 1.0 Bootloaderupdater",
                  "the box's caption");
        checkText(messageBoxText(box), catalogueString(IDS_ALREADY_RUNNING), "the box's text");
        answerWithEnter(box);
    }
    DWORD exitCode = 1;
    check(program.waitForExit(kBoxTimeoutMs, exitCode) && exitCode == 0,
          "the second copy ends with exit code 0");
    if (mutex != nullptr) CloseHandle(mutex);
}

const RegisterScenario registeredSecondHidden("second-copy-hidden", secondCopyHiddenScenario);

// A second start while the first copy runs: it ends at once, brings the first copy
// to the front and never talks to the unit. Once the first copy has ended, a start
// works as usual.
void secondCopyScenario(ScenarioContext& context) {
    const std::wstring path = scenarioFile(context, "second-copy");
    const std::wstring tracePath = path + L".trace";
    DeleteFileW(tracePath.c_str());
    const std::string scenario = "trace_file = " + narrow(tracePath) + "\n";
    Program first;
    HWND dialog = startReady(first, context, path, scenario);
    if (dialog == nullptr) return;
    const int probeRequests = requestsInTrace(tracePath);
    check(probeRequests > 0, "the first copy's probe is in the trace");

    // The first copy minimised, as when the user has put it aside and starts the
    // program again.
    ShowWindow(dialog, SW_MINIMIZE);
    check(waitFor([&] { return IsIconic(dialog) != FALSE; }, kBoxTimeoutMs),
          "the first copy minimised");

    Program second;
    check(second.start(context.program, {{L"ORVANTA_EMULATOR_SCENARIO", path}}),
          "second copy started");
    DWORD exitCode = 1;
    check(second.waitForExit(kSecondCopyExitMs, exitCode), "second copy ends by itself");
    check(exitCode == 0, "second copy's exit code 0");
    check(waitFor([&] { return !IsIconic(dialog) && activeInItsThread(dialog); }, kBoxTimeoutMs),
          "the first copy's window restored and in front");
    check(requestsInTrace(tracePath) == probeRequests, "the unit saw nothing of the second copy");
    checkKeyboardAlive(first, dialog, "in the first copy");

    Program third;
    HWND thirdDialog = startReady(third, context, path, scenario);
    if (thirdDialog == nullptr) return;
    check(requestsInTrace(tracePath) == 2 * probeRequests, "a later start probes the unit");
    closeAndCheckExit(third, thirdDialog);
}
const RegisterScenario registeredSecondCopy("second-copy", secondCopyScenario);

// A second start while the first copy is minimised and busy with its update, waiting
// for the erase and answering no message: the second copy hands over without waiting
// for the first one's thread and ends with 0 at once.
void secondCopyWhileBusyScenario(ScenarioContext& context) {
    const std::wstring path =
        scenarioFile(context.outputFolder, "second-copy-busy", context.languageTag);
    const std::wstring tracePath = path + L".trace";
    DeleteFileW(tracePath.c_str());
    Program first;
    if (!startEmulated(first, context.program, path,
                       "trace_file = " + narrow(tracePath) +
                           "\nerase_duration_ms = " + std::to_string(kEraseDurationMs) + "\n")) {
        return;
    }
    HWND dialog = waitForReady(first, kStartTimeoutMs);
    if (dialog == nullptr || !clickControl(dialog, IDC_UPDATE)) return;
    HWND box = waitForMessageBox(first, dialog, kBoxTimeoutMs);
    check(box != nullptr, "confirmation shown after the click");
    if (box == nullptr) return;
    // Put aside while the box is up, then the update confirmed: it runs minimised.
    ShowWindow(dialog, SW_MINIMIZE);
    check(waitFor([&] { return IsIconic(dialog) != FALSE; }, kBoxTimeoutMs),
          "the first copy minimised");
    pressButton(box, IDOK);
    check(waitFor([&] { return traceHolds(tracePath, "> 01 1e"); }, kBoxTimeoutMs),
          "the update has reached the erase");
    DWORD_PTR answer = 0;
    check(SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer) == 0,
          "the first copy answers no message while it waits for the erase");

    const ULONGLONG started = GetTickCount64();
    Program second;
    check(second.start(context.program, {{L"ORVANTA_EMULATOR_SCENARIO", path}}),
          "second copy started");
    DWORD exitCode = 1;
    check(second.waitForExit(kSecondCopyBusyExitMs, exitCode),
          "second copy ends by itself while the first is busy");
    std::printf("     the second copy ended after %llu ms\n", GetTickCount64() - started);
    check(exitCode == 0, "second copy's exit code 0");
    check(first.running(), "the first copy still runs its update");
    // The first copy is ended with the scenario, in the middle of its erase wait.
}
const RegisterScenario registeredSecondCopyBusy("second-copy-busy", secondCopyWhileBusyScenario);

// An incompatible ESC arrives; while its box is open twenty HID arrivals come in and
// the user swaps the unit for one with a compatible ESC. One box at a time, and
// after it the dialog shows what is really connected.
void arrivalsUnderBoxScenario(ScenarioContext& context) {
    const std::wstring path = scenarioFile(context, "arrivals-under-box");
    Program program;
    if (!startEmulated(program, context.program, path,
                       "unit_present = false\nesc_type_code = 0x12345678\n")) {
        return;
    }
    HWND dialog = waitForMainDialog(program, kStartTimeoutMs);
    if (dialog == nullptr) return;
    waitForHint(dialog, hintWithInstructions(IDS_NO_UNIT), kStartTimeoutMs, "no unit at the start");
    commandUnit(path, "plug");
    HWND box = waitForMessageBox(program, dialog, kBoxTimeoutMs);
    check(box != nullptr, "incompatible-ESC box shown at the arrival");
    if (box == nullptr) return;

    for (int i = 0; i < kArrivals; ++i) commandUnit(path, "other");
    commandUnit(path, "unplug");
    commandUnit(path, "set esc_type_code = 0x110fa0d2");
    commandUnit(path, "plug");
    const std::size_t boxes = topLevelWindows(program.processId(), L"#32770").size() - 1;
    check(boxes == 1, "one box after twenty arrivals, counted " + std::to_string(boxes));
    checkText(controlText(dialog, IDC_HINT_PANEL), hintWithInstructions(IDS_NO_UNIT),
              "nothing handled while the box is open");

    if (!answerWithEnter(box)) return;
    waitForHint(dialog, catalogueString(IDS_READY), kBoxTimeoutMs, "ready hint after the box");
    check(controlEnabled(dialog, IDC_UPDATE), "Update enabled");
    checkText(controlText(dialog, IDC_VALUE_ESC), L"0.9", "the compatible ESC's version shown");
    check(findMessageBox(program.processId(), dialog) == nullptr, "no further box");
    checkKeyboardAlive(program, dialog, "after the box");
}
const RegisterScenario registeredArrivals("arrivals-under-box", arrivalsUnderBoxScenario);

}  // namespace
}  // namespace orvanta::driver
