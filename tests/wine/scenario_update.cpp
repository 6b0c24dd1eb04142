// The update from the click to the ESC's flash, with the emulated unit in real time:
// the confirmations, the progress window over the main dialog, the success state,
// the pauses read from the trace and the flash compared with the embedded image; an
// update whose unit is pulled out in the middle of the stream; and a unit that drops
// out at the first command and comes back by itself.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "emulator/emulated_bus.h"
#include "resources/resource_ids.h"
#include "tests/unit_trace.h"
#include "tests/wine/driver_support.h"
#include "tests/wine/scenarios.h"
#include "update/update.h"

namespace orvanta::driver {
namespace {

constexpr std::uint32_t kFlashTimeoutMs = 10000;
constexpr std::uint32_t kProgressPollMs = 10;

constexpr std::size_t kImageBytes = 90224;
constexpr std::size_t kFlashBytes = 131072;
constexpr std::size_t kBlocks = blockCount(kImageBytes);
// A unit that drops out at the lock is back this long after; the failure box is
// answered well before.
constexpr std::uint32_t kReplugAfterMs = 5000;
constexpr std::uint32_t kReplugTimeoutMs = 30000;

// How much of the bar is filled, in percent of its width, read from the screen. The
// program dispatches no message from the first command to the end of the stream,
// so a PBM_GETPOS sent to the bar would only be answered after the window is gone.
// -1 when the window cannot be read.
int barFillPercent(HWND progress) {
    RECT window = {};
    RECT client = {};
    if (!GetWindowRect(progress, &window) || !GetClientRect(progress, &client)) return -1;
    POINT origin = {0, 0};
    ClientToScreen(progress, &origin);
    const Capture capture = captureWindow(progress, std::wstring());
    const int width = client.right - client.left;
    if (capture.width <= 0 || width <= 0) return -1;
    const COLORREF bar = GetSysColor(COLOR_HIGHLIGHT);
    const LONG row = origin.y - window.top + (client.bottom - client.top) / 2;
    const LONG left = origin.x - window.left;
    const RECT middleRow = {left, row, left + width, row + 1};
    const int filled =
        countPixels(capture, middleRow, GetRValue(bar), GetGValue(bar), GetBValue(bar));
    return filled * 100 / width;
}

// What the driver saw of the progress window during one stream, each read taken while
// the window stood.
struct ProgressSeen {
    HWND window = nullptr;
    std::wstring title;
    RECT rect = {};
    std::vector<int> fills;  // distinct bar fills in percent, in the order they were read
    bool boxBeforeStream = false;
};

// Waits for the progress window after the last confirmation and follows it until it
// is gone, or until a message box shows (a failed block), reading only what needs
// no answer from the busy program.
ProgressSeen followStream(const Program& program, HWND dialog) {
    ProgressSeen seen;
    waitFor(
        [&] {
            if (findMessageBox(program.processId(), dialog) != nullptr) seen.boxBeforeStream = true;
            return (seen.window = findProgressWindow(program.processId())) != nullptr;
        },
        kProgressTimeoutMs, kProgressPollMs);
    if (seen.window == nullptr) return seen;
    waitFor(
        [&] {
            if (findMessageBox(program.processId(), dialog) != nullptr) return true;
            const std::wstring title = storedWindowText(seen.window);
            RECT rect = {};
            GetWindowRect(seen.window, &rect);
            const int fill = barFillPercent(seen.window);
            // The reads of a window gone meanwhile may be another's text and pixels.
            if (!IsWindowVisible(seen.window)) return true;
            seen.title = title;
            seen.rect = rect;
            if (fill >= 0 && (seen.fills.empty() || seen.fills.back() != fill)) {
                seen.fills.push_back(fill);
            }
            return false;
        },
        kStreamTimeoutMs, kProgressPollMs);
    return seen;
}

// Title, size, place over the main window (at `main` during the stream), and a bar that
// only moves forward up to `highestFill` percent at most and at least `lowestLastFill`.
void checkProgressWindow(const ProgressSeen& seen, const RECT& main, int lowestLastFill,
                         int highestFill) {
    check(seen.window != nullptr, "progress window appeared");
    if (seen.window == nullptr) return;
    checkText(seen.title, catalogueString(IDS_PROGRESS_TITLE), "progress window title");
    const int width = seen.rect.right - seen.rect.left;
    const int height = seen.rect.bottom - seen.rect.top;
    // The size the program asks for (the native tests pin it) is the window's outer size.
    check(width == kProgressWidth && height == kProgressHeight,
          "progress window of the size asked for, is " + std::to_string(width) + " x " +
              std::to_string(height));
    const LONG x = main.left + ((main.right - main.left) >> 1) - kProgressWidth / 2;
    const LONG y = main.top + ((main.bottom - main.top) >> 1) - kProgressHeight / 2;
    check(seen.rect.left == x && seen.rect.top == y,
          "progress window centred on the main window: at " + std::to_string(seen.rect.left) + "," +
              std::to_string(seen.rect.top) + ", expected " + std::to_string(x) + "," +
              std::to_string(y));

    std::string fills;
    bool forward = true;
    for (std::size_t i = 0; i < seen.fills.size(); ++i) {
        fills += ' ';
        fills += std::to_string(seen.fills[i]);
        if (i > 0 && seen.fills[i] < seen.fills[i - 1]) forward = false;
    }
    std::printf("     bar fills read from the screen:%s\n", fills.c_str());
    check(seen.fills.size() >= 2, "bar moves");
    check(forward, "bar only moves forward");
    check(!seen.fills.empty() && seen.fills.front() <= 5, "bar starts near 0");
    check(!seen.fills.empty() && seen.fills.back() >= lowestLastFill &&
              seen.fills.back() <= highestFill,
          "bar ends between " + std::to_string(lowestLastFill) + " and " +
              std::to_string(highestFill) + " percent");
}

// Polls until the flash file holds the image, then checks it byte for byte.
void checkFlash(const std::wstring& flashPath, const std::vector<std::uint8_t>& image) {
    std::vector<std::uint8_t> flash;
    const auto holdsImage = [&] {
        return readFileBytes(flashPath, flash) && flash.size() == kFlashBytes &&
               std::equal(image.begin(), image.end(), flash.begin());
    };
    waitFor(holdsImage, kFlashTimeoutMs);
    check(flash.size() == kFlashBytes,
          "flash file of 131072 bytes, is " + std::to_string(flash.size()));
    if (flash.size() != kFlashBytes) return;
    std::size_t differs = image.size();
    for (std::size_t i = 0; i < image.size(); ++i) {
        if (flash[i] != image[i]) {
            differs = i;
            break;
        }
    }
    check(differs == image.size(),
          "flash begins with the image; first difference at " + std::to_string(differs));
    std::size_t notErased = 0;
    for (std::size_t i = image.size(); i < flash.size(); ++i) {
        if (flash[i] != 0xFF) ++notErased;
    }
    check(notErased == 0,
          "flash behind the image erased, bytes not 0xff: " + std::to_string(notErased));
}

// The trace's lines with their times; every line must have one.
std::vector<TraceLine> readTrace(const std::wstring& tracePath) {
    std::vector<std::string> text;
    check(readFileLines(tracePath, text), "trace file read");
    std::vector<TraceLine> lines;
    std::size_t withoutTime = 0;
    for (const std::string& line : text) {
        TraceLine split;
        if (splitTraceLine(line, split)) {
            lines.push_back(split);
        } else if (!line.empty()) {
            ++withoutTime;
        }
    }
    check(withoutTime == 0, std::to_string(withoutTime) + " trace lines without a time");
    return lines;
}

// The pauses the program keeps, read from the trace's times alone: from each reply
// to the next request, and the erase's wait for its reply. `update` holds the
// update's lines, request and reply by turns.
void checkPauses(const std::vector<TraceLine>& update, const std::vector<std::string>& requests) {
    // The pause before each request after the first, in exchange order.
    std::vector<std::uint64_t> pauses = {kPreparationPauseMs, kPreparationPauseMs,
                                         kErasePauseMs + kPreparationPauseMs};
    pauses.push_back(kPreparationPauseMs);  // before the first block
    pauses.insert(pauses.end(), kBlocks - 1, kBlockPauseMs);
    pauses.insert(pauses.end(), {kBlockPauseMs, 0});  // protection on, lock reset
    std::uint64_t shortestBlockPause = UINT64_MAX;
    std::size_t tooShort = 0;
    for (std::size_t exchange = 1; exchange < update.size() / 2; ++exchange) {
        const std::uint64_t gap = update[2 * exchange].ms - update[2 * exchange - 1].ms;
        if (gap < pauses[exchange - 1]) ++tooShort;
        if (exchange > 4 && exchange <= 4 + kBlocks) {
            shortestBlockPause = std::min(shortestBlockPause, gap);
        }
    }
    const TraceLine& eraseRequest = update[4];
    const TraceLine& eraseReply = update[5];
    check(eraseRequest.entry == requests[2], "third update request is the erase");
    std::printf(
        "     from the trace: shortest pause between blocks %llu ms, erase reply after %llu ms, "
        "address %llu ms after it, update %llu ms\n",
        static_cast<unsigned long long>(shortestBlockPause),
        static_cast<unsigned long long>(eraseReply.ms - eraseRequest.ms),
        static_cast<unsigned long long>(update[6].ms - eraseReply.ms),
        static_cast<unsigned long long>(update.back().ms - update.front().ms));
    check(tooShort == 0, std::to_string(tooShort) + " pauses shorter than they must be");
    // A unit stamps a reply when it makes it, not when the program reads it: the
    // erase's wait shows in the time to the address.
    check(
        update[6].ms - eraseRequest.ms >= kEraseReplyDelayMs + kErasePauseMs + kPreparationPauseMs,
        "address request long enough after the erase request");
}

// Every request, byte for byte, as the native tests expect them of the same image.
void checkRequests(const std::vector<TraceLine>& update, const std::vector<std::string>& expected) {
    std::size_t differing = 0;
    std::size_t firstDiffering = expected.size();
    for (std::size_t exchange = 0; exchange < expected.size(); ++exchange) {
        if (update[2 * exchange].entry != expected[exchange] && differing++ == 0) {
            firstDiffering = exchange;
        }
    }
    check(differing == 0, differing == 0
                              ? "every request of the update as expected, byte for byte"
                              : std::to_string(differing) + " requests not as expected, the " +
                                    "first at exchange " + std::to_string(firstDiffering));
}

// The update as the unit's trace saw it: its pauses and its requests.
void checkTrace(const std::wstring& tracePath, const std::vector<std::uint8_t>& image) {
    const std::vector<TraceLine> lines = readTrace(tracePath);
    const std::vector<std::string> requests = test::updateRequests(image);
    // The update starts with the lock request; the probe's exchanges stand before it.
    std::size_t first = 0;
    while (first < lines.size() && lines[first].entry != requests.front()) ++first;
    const std::size_t exchanges = requests.size();
    check(lines.size() - first == 2 * exchanges,
          "trace holds the update's " + std::to_string(2 * exchanges) + " lines, has " +
              std::to_string(lines.size() - first));
    if (lines.size() - first != 2 * exchanges) return;
    const std::vector<TraceLine> update(lines.begin() + static_cast<std::ptrdiff_t>(first),
                                        lines.end());
    checkPauses(update, requests);
    checkRequests(update, requests);
}

// A whole update over firmware 0.9, in real time, with no second confirmation, an
// impatient user's keys and click during the stream, and a minimise that another
// program posts meanwhile: it hides the success, so the taskbar button flashes (as
// Wine's messages on ORVANTA_WINE_STDERR show), and the dialog is restored for the rest.
void updateScenario(ScenarioContext& context) {
    const std::string name = "update";
    std::vector<std::uint8_t> image;
    check(readFileBytes(windowsPath(context.argument), image) && image.size() == kImageBytes,
          "image of 90224 bytes read from " + context.argument);
    if (image.size() != kImageBytes) return;

    const std::wstring path = context.outputFolder + L"\\" + widen(name) + L".scenario";
    const std::wstring flashPath = context.outputFolder + L"\\" + widen(name) + L".flash";
    const std::wstring tracePath = context.outputFolder + L"\\" + widen(name) + L".trace";
    DeleteFileW(flashPath.c_str());
    DeleteFileW(tracePath.c_str());
    Program program;
    if (!startEmulated(
            program, context.program, path,
            "flash_file = " + narrow(flashPath) + "\ntrace_file = " + narrow(tracePath) + "\n")) {
        return;
    }
    HintPanelListener listener(program.processId());
    HWND dialog = waitForMainDialog(program, kStartTimeoutMs);
    if (dialog == nullptr) return;
    waitForHint(dialog, catalogueString(IDS_READY), kStartTimeoutMs, "ready before the update");
    check(controlEnabled(dialog, IDC_UPDATE), "Update enabled");
    listener.forget();
    RECT main = {};
    GetWindowRect(dialog, &main);
    if (!startUpdate(program, dialog)) return;
    // Keys and a click on "Close" during the stream must not end the program after it.
    if (!waitForStream(program)) return;
    for (WORD key : {VK_RETURN, VK_ESCAPE}) pressKey(key);
    clickControlWhereItIs(dialog, IDC_CLOSE);
    PostMessageW(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    const ProgressSeen seen = followStream(program, dialog);
    check(!seen.boxBeforeStream, "no further box before the stream");
    checkProgressWindow(seen, main, 90, 100);

    waitForHint(dialog, catalogueString(IDS_UPDATE_SUCCEEDED), kStreamTimeoutMs,
                "hint: success alone");
    listener.checkHeard(catalogueString(IDS_UPDATE_SUCCEEDED), "a screen reader hears the success");
    check(waitFor([&] { return IsIconic(dialog) != FALSE; }, kBoxTimeoutMs) &&
              wineOutputLines(wineStderrPath(), "NtUserFlashWindowEx").size() == 1,
          "the dialog minimised over the success, its taskbar button flashed");
    // Hidden right after it was announced, the success is announced again, once, as the
    // dialog comes back from behind another program.
    checkHeardAgainAtTitleClick(program, dialog, listener, catalogueString(IDS_UPDATE_SUCCEEDED));
    check(waitFor([&] { return IsIconic(dialog) == FALSE; }, kBoxTimeoutMs), "the dialog restored");
    checkText(controlText(dialog, IDC_VALUE_ESC), imageVersionShown(),
              "ESC firmware now the image's");
    checkText(controlText(dialog, IDC_VALUE_UNIT), L"1.5", "unit version still shown");
    check(controlEnabled(dialog, IDC_VALUE_ESC), "version panel still enabled");
    check(!controlEnabled(dialog, IDC_UPDATE), "Update disabled after the update");
    check(findMessageBox(program.processId(), dialog) == nullptr, "no message box after success");
    check(findProgressWindow(program.processId()) == nullptr, "progress window gone");
    captureWindow(dialog, context.outputFolder + L"\\" + widen(name) + L".bmp");

    checkFlash(flashPath, image);
    checkTrace(tracePath, image);
    checkKeyboardAlive(program, dialog, "after a successful update");
}

// An ESC that holds 1.0 already: the second confirmation, answered Yes, lets the
// update go on, and the next box is the failure of the third block the unit refuses.
void updateOlderOrSameScenario(ScenarioContext& context) {
    Program program;
    HWND dialog = startReady(program, context, scenarioFile(context, "update-older-or-same"),
                             escHoldsImageVersion() + blockRefusedAt(3));
    if (dialog == nullptr || !startUpdate(program, dialog)) return;
    HWND box = waitForMessageBox(program, dialog, kBoxTimeoutMs);
    check(box != nullptr, "second confirmation shown");
    if (box == nullptr) return;
    checkText(windowText(box), catalogueString(IDS_OLDER_OR_SAME_CAPTION),
              "second confirmation caption");
    checkText(messageBoxText(box), catalogueString(IDS_OLDER_OR_SAME), "second confirmation text");
    pressButton(box, IDYES);
    waitBoxGone(box);
    box = waitForMessageBox(program, dialog, kStreamTimeoutMs);
    check(box != nullptr && messageBoxText(box) == blockFailureText(kRefusedBlockCode, 0),
          "after Yes the next box is the third block's failure");
    if (box == nullptr || !answerWithEnter(box)) return;
    closeAndCheckExit(program, dialog);
}
const RegisterScenario registeredOlderOrSame("update-older-or-same", updateOlderOrSameScenario);
const RegisterScenario registeredUpdate("update", updateScenario);

// The unit is pulled out at the 940th block, half way through the stream.
void updateUnpluggedScenario(ScenarioContext& context) {
    const std::wstring path = scenarioFile(context, "update-unplugged");
    Program program;
    HWND dialog = startReady(program, context, path,
                             "fault = unplug command=CMD_WRITE_BLOCK occurrence=940\n");
    RECT main = {};
    if (dialog == nullptr || !GetWindowRect(dialog, &main) || !startUpdate(program, dialog)) return;

    const ProgressSeen seen = followStream(program, dialog);
    check(!seen.boxBeforeStream, "no box before the stream");
    // Block 939 is the last one sent: 939 x 48 of 90224 bytes is 49 percent.
    checkProgressWindow(seen, main, 40, 49);

    HWND box = waitForMessageBox(program, dialog, kStreamTimeoutMs);
    check(box != nullptr, "failure box shown");
    if (box == nullptr) return;
    check(seen.window == nullptr || !IsWindow(seen.window), "progress window destroyed");
    check(findProgressWindow(program.processId()) == nullptr, "no progress window with the box");
    checkText(windowText(box), catalogueString(IDS_UPDATE_FAILED_CAPTION), "failure box caption");
    // The write of the block fails (-2) with the system's "device not connected" (1167),
    // from Wine's HID stack as from Windows' (and from the emulated bus). Had the unit gone while a
    // read was pending, Wine would fail that read with ERROR_ACCESS_DENIED (5) where Windows gives
    // 1167; the program reports either as the read's failure (-3) with the code it got.
    checkText(messageBoxText(box), blockFailureText(0xFFFFFFFE, 1167),
              "failure box text: the block's failure and its codes");
    // The report has closed the link before it shows the box.
    check(!controlEnabled(dialog, IDC_UPDATE), "Update disabled while the box is up");
    for (int id : {IDC_VALUE_UNIT, IDC_VALUE_ESC_BOOTLOADER, IDC_VALUE_ESC}) {
        checkText(controlText(dialog, id), L"0.0.0", "value cleared while the box is up");
    }
    checkText(controlText(dialog, IDC_HINT_PANEL), catalogueString(IDS_READY),
              "hint replaced only once the box is answered");
    captureWindow(dialog, screenshotFile(context, "update-unplugged"));
    if (!answerWithEnter(box)) return;

    waitForHint(dialog, catalogueString(IDS_UPDATE_FAILED_HINT), kBoxTimeoutMs,
                "hint: update failed, alone");
    check(!controlEnabled(dialog, IDC_UPDATE), "Update disabled");
    for (int id : {IDC_VALUE_UNIT, IDC_VALUE_ESC_BOOTLOADER, IDC_VALUE_ESC}) {
        checkText(controlText(dialog, id), L"0.0.0", "value cleared " + std::to_string(id));
        check(!controlEnabled(dialog, id), "value disabled " + std::to_string(id));
    }
    check(findMessageBox(program.processId(), dialog) == nullptr, "no further box");
    checkKeyboardAlive(program, dialog, "after the failure box");
}
const RegisterScenario registeredUnplugged("update-unplugged", updateUnpluggedScenario);

// The unit vanishes at the lock request and is plugged in again by the emulated
// system a few seconds later: the failure is reported, then the return is announced
// like a real plug and the unit is found ready for another update.
void updateReplugScenario(ScenarioContext& context) {
    const std::wstring path = scenarioFile(context, "update-replugged");
    Program program;
    HWND dialog = startReady(program, context, path,
                             "fault = unplug command=CMD_SYSTEM_LOCK replug_after_ms=" +
                                 std::to_string(kReplugAfterMs) + "\n");
    if (dialog == nullptr || !startUpdate(program, dialog)) return;

    HWND box = waitForMessageBox(program, dialog, kBoxTimeoutMs);
    check(box != nullptr, "failure box shown");
    if (box == nullptr) return;
    const std::wstring head = catalogueString(IDS_SYSTEM_LOCK_FAILED) + L"\r\n";
    check(messageBoxText(box).compare(0, head.size(), head) == 0, "failure box names the lock");
    pressButton(box, IDOK);
    waitBoxGone(box);
    waitForHint(dialog, catalogueString(IDS_UPDATE_FAILED_HINT), kBoxTimeoutMs,
                "failure hint while the unit is out");
    check(!controlEnabled(dialog, IDC_UPDATE), "Update disabled while the unit is out");

    waitForHint(dialog, catalogueString(IDS_READY), kReplugTimeoutMs,
                "ready again after the replug");
    check(controlEnabled(dialog, IDC_UPDATE), "Update enabled after the replug");
    checkText(controlText(dialog, IDC_VALUE_ESC), L"0.9", "installed version shown again");
    closeAndCheckExit(program, dialog);
}
const RegisterScenario registeredReplugged("update-replugged", updateReplugScenario);

}  // namespace
}  // namespace orvanta::driver
