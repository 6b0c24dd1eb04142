// What the user and the system say while the update holds the program's thread:
// keys and clicks given during the stream must not answer what comes after it, and
// a unit pulled out at the last request, whose removal the busy program never
// heard, is followed again once it is plugged back in.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/wine/driver_support.h"
#include "tests/wine/scenarios.h"

namespace orvanta::driver {
namespace {

// How long a key stays held once what follows the run is shown: some 20 repeats.
constexpr std::uint32_t kHeldAfterMs = 660;

// The requests to close that the taskbar's "Close window" and a task manager's "End
// task" post to the window.
void postCloseRequests(HWND dialog) {
    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
}

// What Wine's stubs printed of the reason the program gave the system not to shut
// down: given for its dialog with the catalogue's text, then for the progress window as
// long as it stood, released in the reverse order.
void checkShutdownReason(const std::string& stderrPath, HWND dialog) {
    const auto window = static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(dialog));
    const std::vector<std::string> calls = wineOutputLines(stderrPath, "ShutdownBlockReason");
    for (const std::string& line : calls) std::printf("     %s\n", line.c_str());
    const std::string given = "ShutdownBlockReasonCreate (";
    const std::string released = "ShutdownBlockReasonDestroy (";
    const std::string reason = "L\"" + narrow(catalogueString(IDS_SHUTDOWN_REASON)) + "\"";
    check(calls.size() == 4, "the reason given twice and released twice");
    if (calls.size() != 4) return;
    const unsigned long long progress = hexAfter(calls[1], given);
    check(hexAfter(calls[0], given) == window && calls[0].find(reason) != std::string::npos,
          "first, the catalogue's reason given for the dialog");
    check(progress != window && progress != ~0ULL && calls[1].find(reason) != std::string::npos,
          "then for the progress window");
    check(hexAfter(calls[2], released) == progress, "the progress window's reason released");
    check(hexAfter(calls[3], released) == window, "then the dialog's");
}

// Enter, Enter and Space while the stream runs, the requests to close, then Enter held
// down; the unit refuses block 300. The failure box appears over the dialog and stands
// through the held key's repeats and its release, until Enter is pressed anew.
// With a file for Wine's messages as the argument, the reason not to shut down is
// checked in it.
void keysBeforeAFailureScenario(ScenarioContext& context) {
    const std::wstring path = scenarioFile(context, "keys-before-a-failure");
    Program program;
    HWND dialog = startReady(program, context, path, blockRefusedAt(300));
    if (dialog == nullptr || !startUpdate(program, dialog) || !waitForStream(program)) return;
    for (WORD key : {VK_RETURN, VK_RETURN, VK_SPACE}) pressKey(key);
    postCloseRequests(dialog);

    HWND box = nullptr;
    holdKeyUntil(
        VK_RETURN,
        [&] {
            box = findMessageBox(program.processId(), dialog);
            return box != nullptr || !program.running();
        },
        kStreamTimeoutMs, kHeldAfterMs);
    check(box != nullptr, "failure box shown");
    if (box != nullptr) waitUntilIdle(program);
    releaseKey(VK_RETURN);
    if (box == nullptr) return;
    check(IsWindow(box) && IsWindowVisible(box), "the failure box stands through the held key");
    check(IsWindowVisible(dialog), "the dialog stands under the box");
    waitUntilIdle(program);
    check(IsWindow(box) && IsWindowVisible(box), "the failure box still stands");
    check(program.running(), "the program still runs");
    checkText(messageBoxText(box), blockFailureText(kRefusedBlockCode, 0),
              "the failure box names the block and its codes");
    checkText(controlText(dialog, IDC_HINT_PANEL), catalogueString(IDS_READY),
              "the hint waits for the box");

    if (!answerWithEnter(box)) return;
    waitForHint(dialog, catalogueString(IDS_UPDATE_FAILED_HINT), kBoxTimeoutMs,
                "failure hint after the box");
    checkKeyboardAlive(program, dialog, "after the failure box");
    if (!context.argument.empty()) checkShutdownReason(context.argument, dialog);
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
    postCloseRequests(dialog);

    // Enter held down across the end: its repeats must not press "Close".
    const std::wstring successAndLoss = catalogueString(IDS_UPDATE_SUCCEEDED) + L"\r\n\r\n" +
                                        hintWithInstructions(IDS_CONNECTION_LOST);
    std::wstring hint;
    check(holdKeyUntil(
              VK_RETURN,
              [&] {
                  return tryControlText(dialog, IDC_HINT_PANEL, 10, hint) && hint == successAndLoss;
              },
              kStreamTimeoutMs, kHeldAfterMs),
          "the success stands above the lost connection");
    waitUntilIdle(program);
    releaseKey(VK_RETURN);
    waitUntilIdle(program);
    check(program.running(), "the program still runs after the stream");
    checkText(controlText(dialog, IDC_HINT_PANEL), successAndLoss, "the hint after the stream");
    check(!controlEnabled(dialog, IDC_UPDATE), "Update disabled without the unit");
    check(findMessageBox(program.processId(), dialog) == nullptr, "no box");
    captureWindow(dialog, screenshotFile(context, "input-and-pull-at-the-end"));

    if (!commandUnit(path, "plug")) return;
    waitForHint(dialog, catalogueString(IDS_READY), kStartTimeoutMs, "ready again after the plug");
    check(controlEnabled(dialog, IDC_UPDATE), "Update enabled again");
    checkText(controlText(dialog, IDC_VALUE_ESC), imageVersionShown(),
              "the new firmware's version");
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
    const bool erasing =
        waitFor([&] { return traceHolds(tracePath, "> 01 1e"); }, kProgressTimeoutMs, 10);
    check(erasing, "the unit has the erase request");
    if (!erasing || !commandUnit(path, "unplug") || !commandUnit(path, "plug")) return;

    HWND box = waitForMessageBox(program, dialog, kBoxTimeoutMs);
    check(box != nullptr, "failure box shown");
    if (box == nullptr) return;
    const std::wstring head = catalogueString(IDS_ERASE_FAILED) + L"\r\n";
    check(messageBoxText(box).compare(0, head.size(), head) == 0, "the failure names the erase");
    if (!answerWithEnter(box)) return;
    waitForHint(dialog, catalogueString(IDS_READY), kStartTimeoutMs,
                "the unit plugged back in during the wait is found ready");
    check(controlEnabled(dialog, IDC_UPDATE), "Update enabled");
    closeAndCheckExit(program, dialog);
}

// The dialog minimised while the first confirmation is open: the progress window
// stands on the screen, centred where the dialog stands once restored.
void minimisedAtTheStartScenario(ScenarioContext& context) {
    const std::wstring path = scenarioFile(context, "minimised-at-the-start");
    Program program;
    HWND dialog = startReady(program, context, path, blockRefusedAt(100));
    if (dialog == nullptr || !clickControl(dialog, IDC_UPDATE)) return;
    HWND box = waitForMessageBox(program, dialog, kBoxTimeoutMs);
    check(box != nullptr, "first confirmation shown");
    if (box == nullptr) return;
    RECT restored = {};
    GetWindowRect(dialog, &restored);
    ShowWindow(dialog, SW_MINIMIZE);
    check(waitFor([&] { return IsIconic(dialog) != FALSE; }, kBoxTimeoutMs), "dialog minimised");
    if (!answerWithEnter(box)) return;

    // Its place counts only when the window still stood after it was read.
    RECT rect = {};
    const bool read = waitFor(
        [&] {
            HWND progress = findProgressWindow(program.processId());
            return progress != nullptr && GetWindowRect(progress, &rect) &&
                   IsWindowVisible(progress);
        },
        kProgressTimeoutMs, 10);
    check(read, "the progress window is shown");
    if (!read) return;
    check(rect.left >= 0 && rect.top >= 0 && rect.right <= GetSystemMetrics(SM_CXSCREEN) &&
              rect.bottom <= GetSystemMetrics(SM_CYSCREEN),
          "the progress window lies on the screen");
    check(std::abs((rect.left + rect.right) - (restored.left + restored.right)) <= 2 &&
              std::abs((rect.top + rect.bottom) - (restored.top + restored.bottom)) <= 2,
          "the progress window is centred on the dialog's restored place");

    box = waitForMessageBox(program, dialog, kStreamTimeoutMs);
    check(box != nullptr, "failure box shown");
    if (box == nullptr || !answerWithEnter(box)) return;
    closeAndCheckExit(program, dialog);
}

// What another program posts to the dialog while the stream runs, as automation and
// voice-control tools do; each is given to one run of its own. A minimise over a
// success is posted during the whole update (scenario "update").
struct PostedMessage {
    const char* name;
    void (*post)(HWND dialog);
    bool minimises = false;
};
const PostedMessage kPostedMessages[] = {
    {"a click on \"Update\"",
     [](HWND dialog) { PostMessageW(GetDlgItem(dialog, IDC_UPDATE), BM_CLICK, 0, 0); }},
    {"\"Close\"", [](HWND dialog) { pressButton(dialog, IDC_CLOSE); }},
    {"a quit",
     [](HWND dialog) {
         PostThreadMessageW(GetWindowThreadProcessId(dialog, nullptr), WM_QUIT, 0, 0);
     }},
    {"a minimise", [](HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0); }, true},
    {"the system menu",
     [](HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_KEYMENU, VK_SPACE); }},
};

std::size_t boxCount(const Program& program, HWND dialog) {
    std::size_t count = 0;
    for (HWND window : topLevelWindows(program.processId(), L"#32770")) count += window != dialog;
    return count;
}

// One update the unit refuses at its tenth block, some 200 ms into the stream, with the
// message posted while the stream runs: the refusal's box alone, then its hint, with
// the program still open and no menu; a minimise acts once the box has been answered.
// False when the program cannot go on.
bool runWithPostedMessage(Program& program, HWND dialog, const PostedMessage& posted) {
    const std::string with = std::string(" with ") + posted.name + " posted";
    if (!startUpdate(program, dialog)) return false;
    // The unit reports the image's own version, as an earlier run's first blocks left it.
    HWND box = waitForMessageBox(program, dialog, kBoxTimeoutMs);
    check(box != nullptr && windowText(box) == catalogueString(IDS_OLDER_OR_SAME_CAPTION),
          "the confirmation for the same version");
    if (box == nullptr || !answerWithEnter(box) || !waitForStream(program)) return false;
    posted.post(dialog);
    check(findProgressWindow(program.processId()) != nullptr, "posted while the stream runs");
    waitFor(
        [&] {
            return (box = findMessageBox(program.processId(), dialog)) != nullptr ||
                   !program.running();
        },
        kStreamTimeoutMs);
    check(box != nullptr, "the failure box" + with);
    if (box == nullptr) return false;
    checkText(messageBoxText(box), blockFailureText(kRefusedBlockCode, 0),
              "the box names the refused block" + with);
    waitUntilIdle(program);
    check(IsWindowVisible(box) && boxCount(program, dialog) == 1, "one box, idle" + with);
    if (posted.minimises) {
        check(IsWindowVisible(dialog) && !IsIconic(dialog), "the dialog under the box");
    }
    if (!answerWithEnter(box)) return false;
    waitForHint(dialog, catalogueString(IDS_UPDATE_FAILED_HINT), kBoxTimeoutMs,
                "the failure hint" + with);
    waitUntilIdle(program);
    const bool noBox = boxCount(program, dialog) == 0;
    check(noBox, "no box after the answer" + with);
    check(!waitFor([&] { return !topLevelWindows(program.processId(), L"#32768").empty(); }, 1000),
          "no menu" + with);
    check(program.running(), "the program still runs" + with);
    if (!noBox || !program.running()) return false;
    if (!posted.minimises) return true;
    check(waitFor([&] { return IsIconic(dialog) != FALSE; }, kBoxTimeoutMs),
          "the dialog minimised once the box was answered");
    PostMessageW(dialog, WM_SYSCOMMAND, SC_RESTORE, 0);
    return waitFor([&] { return IsIconic(dialog) == FALSE; }, kBoxTimeoutMs);
}

// Another program posts "Update" and "Close", a quit, a minimise and the system menu
// while the stream runs, one per failing update; the unit is plugged in afresh between
// them.
void anotherProgramDuringTheStreamScenario(ScenarioContext& context) {
    const std::wstring path = scenarioFile(context, "another-program-during-the-stream");
    std::string faults = escHoldsImageVersion();
    for (std::uint32_t run = 1; run <= std::size(kPostedMessages); ++run) {
        faults += blockRefusedAt(10 * run);
    }
    Program program;
    HWND dialog = startReady(program, context, path, faults);
    for (const PostedMessage& posted : kPostedMessages) {
        if (dialog == nullptr || !runWithPostedMessage(program, dialog, posted)) return;
        if (&posted == std::end(kPostedMessages) - 1) break;
        // The failure closed the link: the unit, plugged in afresh, is ready again.
        if (!commandUnit(path, "unplug") || !commandUnit(path, "plug")) return;
        if (!waitForHint(dialog, catalogueString(IDS_READY), kStartTimeoutMs, "ready again"))
            return;
    }
    closeAndCheckExit(program, dialog);
}

const RegisterScenario registeredAnotherProgram("another-program-during-the-stream",
                                                anotherProgramDuringTheStreamScenario);
const RegisterScenario registeredMinimised("minimised-at-the-start", minimisedAtTheStartScenario);
const RegisterScenario registeredKeys("keys-before-a-failure", keysBeforeAFailureScenario);
const RegisterScenario registeredPull("input-and-pull-at-the-end", inputAndPullAtTheEndScenario);
const RegisterScenario registeredErase("replug-during-erase", replugDuringEraseScenario);

}  // namespace
}  // namespace orvanta::driver
