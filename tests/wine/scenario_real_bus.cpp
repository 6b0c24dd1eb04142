// The shipped program against the virtual unit in Wine's HID stack, in what only a
// real bus can show: a unit that stops answering, met by the program's time limit
// and the cancel of its pending read; a write that never ends, not even when
// cancelled; a second process opening the unit the program holds; and the opens of
// the unit's interface as Wine's file trace shows them.
#include <windows.h>
#include <setupapi.h>
// The header declares its functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/wine/driver_support.h"
#include "tests/wine/scenarios.h"

namespace orvanta::driver {
namespace {

// The program gives a read or a write this long before it gives up on the unit.
constexpr ULONGLONG kReadLimitMs = 10000;
constexpr ULONGLONG kWriteLimitMs = 10000;
// Twelve blocks and the preparation before the silent one take some 5 s more.
constexpr std::uint32_t kSilentFailureTimeoutMs = 60000;

// The paths of the present HID interfaces that contain `part` (all with an empty one),
// compared without regard to case. Nothing is opened.
std::vector<std::wstring> hidInterfaces(const std::wstring& part) {
    std::vector<std::wstring> found;
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO list =
        SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) return found;
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof(data);
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(list, nullptr, &hidGuid, index, &data);
         ++index) {
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailW(list, &data, nullptr, 0, &required, nullptr);
        std::vector<DWORD> buffer(required / sizeof(DWORD) + 1);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!SetupDiGetDeviceInterfaceDetailW(list, &data, detail, required, nullptr, nullptr))
            continue;
        std::wstring path = detail->DevicePath;
        std::wstring lower = path;
        for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
        if (lower.find(part) != std::wstring::npos) found.push_back(path);
    }
    SetupDiDestroyDeviceInfoList(list);
    return found;
}

// How the unit stops at the twelfth block, and what the program must make of it.
struct Stall {
    const char* name;
    const char* fault;
    std::uint32_t linkStatus;  // the first number of the failure's code line
    ULONGLONG limitMs;         // how long the program may take to give up, at the least
};

// The unit stops at the twelfth block: the transfer's time limit runs out, the pending
// transfer is cancelled, the failure names the block with the link's code and the
// system's ERROR_TIMEOUT, and the program goes on: the unit pulled and plugged in again
// is found ready.
void unitStallsScenario(ScenarioContext& context, const Stall& stall) {
    const std::wstring path = scenarioFile(context, stall.name);
    Program program;
    HWND dialog = startReady(program, context, path, stall.fault);
    if (dialog == nullptr || !startUpdate(program, dialog)) return;
    // The stream starts after the preparation's pauses; the stalled block follows the
    // progress window by a quarter of a second.
    if (!waitForStream(program)) return;
    const ULONGLONG streamStart = GetTickCount64();
    HWND box = waitForMessageBox(program, dialog, kSilentFailureTimeoutMs);
    const ULONGLONG waited = GetTickCount64() - streamStart;
    check(box != nullptr, "failure box after the unit stalled");
    if (box == nullptr) return;
    std::printf("     the failure came %llu ms after the stream began\n", waited);
    check(waited >= stall.limitMs, "the program waited out its transfer's time limit");
    check(waited < stall.limitMs + 15000, "and not much longer");
    checkText(messageBoxText(box), blockFailureText(stall.linkStatus, ERROR_TIMEOUT),
              "failure box: the block's transfer ran out of time");
    if (!answerWithEnter(box)) return;
    waitForHint(dialog, catalogueString(IDS_UPDATE_FAILED_HINT), kBoxTimeoutMs, "failure hint");

    // The cancelled transfer left nothing behind: the unit is found and answers again.
    if (!commandUnit(path, "unplug") || !commandUnit(path, "plug")) return;
    waitForHint(dialog, catalogueString(IDS_READY), kStartTimeoutMs, "ready again after a plug");
    checkKeyboardAlive(program, dialog, "after the stalled unit");
}

// The unit never answers the block: the read is cancelled and ends as it should.
void unitFallsSilentScenario(ScenarioContext& context) {
    unitStallsScenario(
        context, Stall{"falls-silent", "fault = no_answer command=CMD_WRITE_BLOCK occurrence=12\n",
                       0xFFFFFFFDu, kReadLimitMs});
}
const RegisterScenario registeredSilent("unit-falls-silent", unitFallsSilentScenario);

// The block's write never ends, not even when cancelled: the program gives up on it a
// few seconds after the cancel and reports a failed write.
void writeHangsScenario(ScenarioContext& context) {
    unitStallsScenario(
        context, Stall{"write-hangs", "fault = write_hangs command=CMD_WRITE_BLOCK occurrence=12\n",
                       0xFFFFFFFEu, kWriteLimitMs});
}
const RegisterScenario registeredWriteHangs("write-hangs", writeHangsScenario);

// A second process opens the unit the program holds. The program opens it without
// sharing, so that no other reader takes its replies and no other writer slips
// requests between its blocks: on Windows, whose HID class keeps share access, this
// open fails with ERROR_SHARING_VIOLATION. Wine 8.0 checks no share access on
// devices, and its server answers an open before the driver has, so no driver can
// refuse it either: here the open succeeds, and what can be checked is that a second
// handle that never reads, and so gathers every input report in a queue of its own,
// does not disturb the program: an update that the unit refuses at the third block
// still reports that block's own device code, read from the program's own queue.
void secondHandleScenario(ScenarioContext& context) {
    const std::wstring path = scenarioFile(context, "second-handle");
    Program program;
    HWND dialog = startReady(program, context, path, blockRefusedAt(3));
    if (dialog == nullptr) return;
    check(hidInterfaces(L"").size() > 1, "the unit is found among other HID interfaces");
    const std::vector<std::wstring> units = hidInterfaces(L"vid_2e4a&pid_0002");
    check(units.size() == 1, "one unit among the HID interfaces");
    if (units.size() != 1) return;

    HANDLE second =
        CreateFileW(units[0].c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    const DWORD error = second == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    std::printf(
        "     second open for reading and writing while the program holds the unit: %s\n",
        second == INVALID_HANDLE_VALUE ? ("error " + std::to_string(error)).c_str() : "opened");
    const bool wine = underWine();
    check(wine ? second != INVALID_HANDLE_VALUE : error == ERROR_SHARING_VIOLATION,
          wine ? "a second open let through, as Wine does"
               : "a second open refused for sharing, as Windows does");

    if (!startUpdate(program, dialog)) return;
    HWND box = waitForMessageBox(program, dialog, kSilentFailureTimeoutMs);
    check(box != nullptr, "failure box at the third block");
    if (box != nullptr) {
        checkText(messageBoxText(box), blockFailureText(kRefusedBlockCode, 0),
                  "the third block's own device code, beside the second handle");
        pressButton(box, IDOK);
        check(waitFor([&] { return !IsWindow(box); }, kBoxTimeoutMs), "failure box answered");
    }
    if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
    closeAndCheckExit(program, dialog);
}
const RegisterScenario registeredSecondHandle("second-handle", secondHandleScenario);

// The opens of the unit's interface in Wine's file trace: access mask and sharing of
// each NtCreateFile whose name is the unit's. Lines of other processes' traces are
// never the unit's: only the program runs with the channel on.
struct TracedOpen {
    unsigned long access = 0;
    unsigned long sharing = 0;
};

std::vector<TracedOpen> unitOpensInTrace(const std::wstring& tracePath) {
    std::vector<std::string> lines;
    std::vector<TracedOpen> opens;
    readFileLines(tracePath, lines);
    for (std::string line : lines) {
        for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::size_t at = line.find("trace:file:ntcreatefile ");
        if (at == std::string::npos) continue;
        line.erase(0, at);
        const std::size_t access = line.find(" access=");
        const std::size_t sharing = line.find(" sharing=");
        if (line.find("vid_2e4a&pid_0002") == std::string::npos || access == std::string::npos ||
            sharing == std::string::npos) {
            continue;
        }
        opens.push_back(TracedOpen{std::strtoul(line.c_str() + access + 8, nullptr, 16),
                                   std::strtoul(line.c_str() + sharing + 9, nullptr, 16)});
    }
    return opens;
}

// Discovery reads the unit's ids on a handle that asks for neither reading nor writing
// and shares everything, and only then opens it for reading and writing, shared with
// no one. The argument is the file that receives the program's standard error, where
// Wine writes its "file" channel (ORVANTA_WINE_STDERR of tools/wine-run).
void identifyThenOpenScenario(ScenarioContext& context) {
    const std::wstring tracePath = windowsPath(context.argument);
    const std::wstring path =
        scenarioFile(context.outputFolder, "identify-then-open", context.languageTag);
    Program program;
    const std::vector<std::pair<std::wstring, std::wstring>> traced = {{L"WINEDEBUG", L"+file"}};
    if (!startEmulated(program, context.program, path, "", traced)) return;
    HWND dialog = waitForReady(program, kStartTimeoutMs);
    if (dialog == nullptr) return;
    closeAndCheckExit(program, dialog);

    constexpr unsigned long kReadOrWrite =
        GENERIC_READ | GENERIC_WRITE | FILE_READ_DATA | FILE_WRITE_DATA;
    const std::vector<TracedOpen> opens = unitOpensInTrace(tracePath);
    for (const TracedOpen& open : opens)
        std::printf("     open of the unit: access %08lx, sharing %08lx\n", open.access,
                    open.sharing);
    check(opens.size() == 2,
          "the unit's interface opened twice, counted " + std::to_string(opens.size()));
    if (opens.size() != 2) return;
    check((opens[0].access & kReadOrWrite) == 0, "first open: no read or write access");
    check(opens[0].sharing == (FILE_SHARE_READ | FILE_SHARE_WRITE),
          "first open: shared for reading and writing");
    check((opens[1].access & (GENERIC_READ | GENERIC_WRITE)) == (GENERIC_READ | GENERIC_WRITE),
          "second open: reading and writing");
    check(opens[1].sharing == 0, "second open: shared with no one");
}
const RegisterScenario registeredIdentifyThenOpen("identify-then-open", identifyThenOpenScenario);

}  // namespace
}  // namespace orvanta::driver
