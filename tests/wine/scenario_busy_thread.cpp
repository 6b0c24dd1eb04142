// What the user and the system say while the update holds the program's thread:
// keys and clicks given during the stream must not answer what comes after it, and
// a unit pulled out at the last request, whose removal the busy program never
// heard, is followed again once it is plugged back in.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/wine/driver_support.h"
#include "tests/wine/scenarios.h"

namespace orvanta::driver {
namespace {

constexpr std::uint32_t kIdleTimeoutMs = 10000;

// The program has taken every message and input waiting for it and sits in its
// message loop again.
void waitUntilIdle(const Program& program) {
    check(WaitForInputIdle(program.process(), kIdleTimeoutMs) == 0, "the program is idle again");
}

// Enter, Enter and Space while the stream runs and the unit then refuses block 300:
// the failure box appears and stays until it is answered.
void keysBeforeAFailureScenario(ScenarioContext& context) {
    const std::wstring path = scenarioFile(context, "keys-before-a-failure");
    Program program;
    HWND dialog = startReady(program, context, path,
                             "fault = error_status command=CMD_WRITE_BLOCK occurrence=300 "
                             "value=0xE00A\n");
    if (dialog == nullptr || !startUpdate(program, dialog) || !waitForStream(program)) return;
    for (WORD key : {VK_RETURN, VK_RETURN, VK_SPACE}) pressKey(key);

    HWND box = waitForMessageBox(program, dialog, kStreamTimeoutMs);
    check(box != nullptr, "failure box shown");
    if (box == nullptr) return;
    waitUntilIdle(program);
    check(IsWindow(box) && IsWindowVisible(box), "the failure box still stands");
    check(program.running(), "the program still runs");
    checkText(messageBoxText(box), blockFailureText(0xE00A, 0),
              "the failure box names the block and its codes");
    checkText(controlText(dialog, IDC_HINT_PANEL), catalogueString(IDS_READY),
              "the hint waits for the box");

    if (!answerWithEnter(box)) return;
    check(waitForControlText(dialog, IDC_HINT_PANEL, catalogueString(IDS_UPDATE_FAILED_HINT),
                             kBoxTimeoutMs),
          "failure hint after the box");
    checkKeyboardAlive(program, dialog, "after the failure box");
}

// Enter, Enter, Esc and a click on "Close" while the stream runs, and the unit pulled
// out at the final write-protection request: the program stays open with its success,
// drops the link whose removal it never heard, and finds the unit plugged back in.
void inputAndPullAtTheEndScenario(ScenarioContext& context) {
    const std::wstring path = scenarioFile(context, "input-and-pull-at-the-end");
    Program program;
    HWND dialog = startReady(program, context, path,
                             "fault = unplug command=CMD_WRITE_PROTECTION occurrence=2\n");
    if (dialog == nullptr || !startUpdate(program, dialog) || !waitForStream(program)) return;
    for (WORD key : {VK_RETURN, VK_RETURN, VK_ESCAPE}) pressKey(key);
    clickControlWhereItIs(dialog, IDC_CLOSE);

    const std::wstring successAndLoss = catalogueString(IDS_UPDATE_SUCCEEDED) + L"\r\n\r\n" +
                                        hintWithInstructions(IDS_CONNECTION_LOST);
    check(waitForControlText(dialog, IDC_HINT_PANEL, successAndLoss, kStreamTimeoutMs),
          "the success stands above the lost connection");
    waitUntilIdle(program);
    check(program.running(), "the program still runs after the stream");
    checkText(controlText(dialog, IDC_HINT_PANEL), successAndLoss, "the hint after the stream");
    check(!controlEnabled(dialog, IDC_UPDATE), "Update disabled without the unit");
    check(findMessageBox(program.processId(), dialog) == nullptr, "no box");
    captureWindow(dialog, screenshotFile(context, "input-and-pull-at-the-end"));

    if (!commandUnit(path, "plug")) return;
    check(waitForControlText(dialog, IDC_HINT_PANEL, catalogueString(IDS_READY), kStartTimeoutMs),
          "ready again after the plug");
    check(controlEnabled(dialog, IDC_UPDATE), "Update enabled again");
    checkText(controlText(dialog, IDC_VALUE_ESC), L"1.0", "the new firmware's version");
    checkKeyboardAlive(program, dialog, "after the unit came back");
}

// The unit is pulled out as soon as it has the erase request and plugged in again
// while the program waits out the erase: the failure is reported, and then the unit,
// whose return came while the program's thread was waiting, is found ready.
void replugDuringEraseScenario(ScenarioContext& context) {
    const std::wstring path = scenarioFile(context, "replug-during-erase");
    const std::wstring tracePath = path + L".trace";
    DeleteFileW(tracePath.c_str());
    Program program;
    HWND dialog = startReady(program, context, path, "trace_file = " + narrow(tracePath) + "\n");
    if (dialog == nullptr || !startUpdate(program, dialog)) return;
    const bool erasing = waitFor(
        [&] {
            std::vector<std::uint8_t> trace;
            return readFileBytes(tracePath, trace) &&
                   std::string(trace.begin(), trace.end()).find("> 01 1e") != std::string::npos;
        },
        kProgressTimeoutMs, 10);
    check(erasing, "the unit has the erase request");
    if (!erasing || !commandUnit(path, "unplug") || !commandUnit(path, "plug")) return;

    HWND box = waitForMessageBox(program, dialog, kBoxTimeoutMs);
    check(box != nullptr, "failure box shown");
    if (box == nullptr) return;
    const std::wstring head = catalogueString(IDS_ERASE_FAILED) + L"\r\n";
    check(messageBoxText(box).compare(0, head.size(), head) == 0, "the failure names the erase");
    if (!answerWithEnter(box)) return;
    check(waitForControlText(dialog, IDC_HINT_PANEL, catalogueString(IDS_READY), kStartTimeoutMs),
          "the unit plugged back in during the wait is found ready");
    check(controlEnabled(dialog, IDC_UPDATE), "Update enabled");
    closeAndCheckExit(program, dialog);
}

const RegisterScenario registeredKeys("keys-before-a-failure", keysBeforeAFailureScenario);
const RegisterScenario registeredPull("input-and-pull-at-the-end", inputAndPullAtTheEndScenario);
const RegisterScenario registeredErase("replug-during-erase", replugDuringEraseScenario);

}  // namespace
}  // namespace orvanta::driver
