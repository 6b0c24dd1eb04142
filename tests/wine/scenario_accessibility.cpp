// What a screen reader and the taskbar get from the program: every control's name and
// role as an accessibility client reads them, the hint panel right after its label, a
// whole session by keyboard alone, and the taskbar's and the flash's calls during a
// short update and the hint panel's live-region property (Wine's stubs print them
// under WINEDEBUG=fixme+all).
#include <windows.h>
#include <oleacc.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/held_keys.h"
#include "resources/resource_ids.h"
#include "tests/wine/driver_support.h"
#include "tests/wine/scenarios.h"

namespace orvanta::driver {
namespace {

constexpr std::uint32_t kShellTimeoutMs = 5000;
// IAccessible's published id, spelled out: the import libraries' copy of it did not
// match the interface's.
const IID kAccessibleInterface = {
    0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

struct AccessibleView {
    HRESULT result = E_FAIL;
    bool found = false;
    std::wstring name;
    long role = 0;
};

// What oleacc's client object of the control says about itself.
AccessibleView accessibleView(HWND control) {
    AccessibleView view;
    IAccessible* accessible = nullptr;
    view.result =
        AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), kAccessibleInterface,
                                   reinterpret_cast<void**>(&accessible));
    if (FAILED(view.result) || accessible == nullptr) return view;
    view.found = true;
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    if (accessible->get_accName(self, &name) == S_OK && name != nullptr) {
        view.name = name;
        SysFreeString(name);
    }
    VARIANT role;
    VariantInit(&role);
    if (SUCCEEDED(accessible->get_accRole(self, &role)) && role.vt == VT_I4) view.role = role.lVal;
    VariantClear(&role);
    accessible->Release();
    return view;
}

std::wstring className(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// The dialog's controls in z-order, which is also their tab order.
std::vector<HWND> controlsInZOrder(HWND dialog) {
    std::vector<HWND> out;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        out.push_back(child);
    }
    return out;
}

// The control texts a screen reader must name the controls by, as the template has them.
struct Names {
    const wchar_t* close;
    const wchar_t* hintLabel;
};
Names expectedNames() {
    if (userLanguage() == Language::german) return {L"Beenden", L"Hinweisfenster:"};
    return {L"Close", L"Hint:"};
}

void checkZOrder(HWND dialog) {
    std::vector<int> ids;
    for (HWND control : controlsInZOrder(dialog)) ids.push_back(GetDlgCtrlID(control));
    // The template's order with the panel moved after its label; "Close" and "Update"
    // stay the first two tab stops.
    const std::vector<int> expected = {2,  1002,  40010, 1005,  40013, 40014,
                                       -1, 40004, 40007, 40011, 40015};
    check(ids == expected, "z-order: the template's, with the hint panel after its label");
    HWND panel = GetDlgItem(dialog, IDC_HINT_PANEL);
    HWND before = GetWindow(panel, GW_HWNDPREV);
    checkText(windowText(before), expectedNames().hintLabel, "the window before the panel");
    check(GetNextDlgTabItem(dialog, GetDlgItem(dialog, IDC_CLOSE), FALSE) ==
              GetDlgItem(dialog, IDC_CLOSE),
          "with \"Update\" disabled, Tab leads from \"Close\" back to it");
}

// The role Windows' proxy gives the control's class. Wine 8.0's proxy gives the
// edit control its role and every other control the generic ROLE_SYSTEM_CLIENT.
long windowsRole(const std::wstring& windowClass, int id) {
    if (windowClass == L"Edit") return ROLE_SYSTEM_TEXT;
    if (windowClass == L"Static") return ROLE_SYSTEM_STATICTEXT;
    return id == IDC_VERSION_GROUP ? ROLE_SYSTEM_GROUPING : ROLE_SYSTEM_PUSHBUTTON;
}

// Every control's name and role as oleacc reads them: the buttons, statics and group
// box by their own texts, the hint panel by its hint's situation line.
void accessibilityScenario(ScenarioContext& context) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Program program;
    check(program.start(context.program), "program started");
    HWND dialog = waitForMainDialog(program, kStartTimeoutMs);
    if (dialog == nullptr) return;
    checkZOrder(dialog);
    const Names names = expectedNames();
    for (HWND control : controlsInZOrder(dialog)) {
        const AccessibleView view = accessibleView(control);
        const int id = GetDlgCtrlID(control);
        const std::wstring windowClass = className(control);
        std::printf("     %6d %-8s result 0x%08lx role 0x%02lx name \"%s\"\n", id,
                    narrow(windowClass).c_str(), static_cast<unsigned long>(view.result), view.role,
                    narrow(view.name).c_str());
        const std::string what = "control " + std::to_string(id) + ": ";
        check(view.found, what + "an accessible object");
        std::wstring name = windowText(control);
        if (id == IDC_CLOSE) name = names.close;
        if (id == IDC_UPDATE) name = L"Update";
        if (id == IDC_HINT_LABEL) name = names.hintLabel;
        if (id == IDC_HINT_PANEL) {
            // Named by the situation line of the hint that stands, not by its label.
            check(hintPanelName(dialog) == asScreenReaderGetsIt(catalogueString(IDS_NO_UNIT)),
                  what + "name " + hintPanelName(dialog));
        } else {
            checkText(view.name, name, what + "name");
        }
        const long role = windowsRole(windowClass, id);
        check(view.role == role || (role != ROLE_SYSTEM_TEXT && view.role == ROLE_SYSTEM_CLIENT),
              what + "role");
    }
    closeAndCheckExit(program, dialog);
    if (SUCCEEDED(com)) CoUninitialize();
}
const RegisterScenario registeredAccessibility("accessibility", accessibilityScenario);

// The shell announces the dialog's taskbar button; Wine's own shell never does.
bool announceTaskbarButton(HWND dialog) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(dialog, RegisterWindowMessageW(L"TaskbarButtonCreated"), 0, 0,
                               SMTO_ABORTIFHUNG, kShellTimeoutMs, &result) != 0;
}

const std::vector<std::pair<std::wstring, std::wstring>> kWineFixmes = {
    {L"WINEDEBUG", L"fixme+all"}};

// Return held on the confirmations: some 900 ms, a dozen repeats.
constexpr std::uint32_t kHeldOnConfirmationMs = 900;

// The requests the unit has had, as its trace shows them.
std::size_t requestsInTrace(const std::wstring& tracePath) {
    std::vector<std::uint8_t> trace;
    readFileBytes(tracePath, trace);
    return static_cast<std::size_t>(std::count(trace.begin(), trace.end(), '>'));
}

// Two and three presses of Return 150 ms apart and a double-click on "Update" answer no
// box: the first confirmation stands, nothing goes to the unit, and Esc after a pause
// cancels it. The double-click is given with the dialog moved so that the box's OK lies
// under "Update".
void quickPressesAnswerNothing(const Program& program, HWND dialog, const std::wstring& tracePath) {
    const std::size_t probed = requestsInTrace(tracePath);
    RECT ok = {};
    const auto quickly = [&](const std::string& what, int presses) {
        for (int press = 0; press < presses; ++press) {
            if (press > 0) Sleep(150);  // the typist's pace, not a wait for the program
            pressKey(VK_RETURN);
        }
        if (presses == 0) {
            clickControl(dialog, IDC_UPDATE);
            waitForMessageBox(program, dialog, kBoxTimeoutMs);
            clickWhereThePointerIs();
        }
        HWND box = waitForMessageBox(program, dialog, kBoxTimeoutMs);
        check(box != nullptr && windowText(box) == catalogueString(IDS_CONFIRM_CAPTION) &&
                  leftAlone(box),
              what + " leave the first confirmation standing");
        if (box == nullptr) return;
        GetWindowRect(GetDlgItem(box, IDOK), &ok);
        check(findMessageBox(program.processId(), dialog) == box &&
                  requestsInTrace(tracePath) == probed,
              what + ": no other box, nothing past the probe to the unit");
        waitOutFreshKeyHold();
        pressKey(VK_ESCAPE);
        waitBoxGone(box);
        check(waitFor([&] { return focusOf(dialog) == GetDlgItem(dialog, IDC_UPDATE); },
                      kBoxTimeoutMs),
              "Esc cancels it, and \"Update\" has the focus again");
    };
    quickly("two presses of Return", 2);
    quickly("three presses of Return", 3);
    RECT update = {};
    RECT frame = {};
    GetWindowRect(GetDlgItem(dialog, IDC_UPDATE), &update);
    GetWindowRect(dialog, &frame);
    SetWindowPos(dialog, nullptr,
                 frame.left + (ok.left + ok.right - update.left - update.right) / 2,
                 frame.top + (ok.top + ok.bottom - update.top - update.bottom) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    quickly("a double-click on \"Update\"", 0);
}

// Keyboard alone, on an ESC that has 1.0 already, keys held with the keyboard's
// auto-repeat: Tab to "Update"; quick presses and a double-click there answer no box;
// Return held there asks for the confirmation and nothing more; a new Return held as
// long accepts it, and the question for the same version stands through its repeats;
// Enter answers that. On the failure box of an early block, moving about keeps no key
// from answering it, and Return answers it alone; Esc.
void keyboardSessionScenario(ScenarioContext& context) {
    const std::wstring path = scenarioFile(context, "keyboard-session");
    const std::wstring tracePath = path + L".trace";
    DeleteFileW(tracePath.c_str());
    Program program;
    const std::string scenario =
        escHoldsImageVersion() + blockRefusedAt(3) + "trace_file = " + narrow(tracePath) + "\n";
    if (!startEmulated(program, context.program, path, scenario, kWineFixmes)) return;
    HWND dialog = waitForReady(program, kStartTimeoutMs);
    if (dialog == nullptr) return;
    const auto panel = static_cast<unsigned long long>(
        reinterpret_cast<std::uintptr_t>(GetDlgItem(dialog, IDC_HINT_PANEL)));
    check(announceTaskbarButton(dialog), "the dialog took the taskbar button's announcement");
    check(waitFor([&] { return activeInItsThread(dialog); }, kBoxTimeoutMs), "the dialog in front");
    check(focusOf(dialog) == GetDlgItem(dialog, IDC_CLOSE), "\"Close\" has the focus at start");
    pressKey(VK_TAB);
    check(waitFor([&] { return focusOf(dialog) == GetDlgItem(dialog, IDC_UPDATE); }, kBoxTimeoutMs),
          "Tab moves the focus to \"Update\"");
    quickPressesAnswerNothing(program, dialog, tracePath);
    holdKeyFor(VK_RETURN, kHeldOnConfirmationMs);
    HWND box = waitForMessageBox(program, dialog, kBoxTimeoutMs);
    check(box != nullptr && windowText(box) == catalogueString(IDS_CONFIRM_CAPTION),
          "Return held asks for the confirmation");
    if (box == nullptr || !waitFor([&] { return activeInItsThread(box); }, kBoxTimeoutMs)) return;
    check(leftAlone(box), "the confirmation stands through the held Return");
    holdKeyFor(VK_RETURN, kHeldOnConfirmationMs);
    box = waitForMessageBox(program, dialog, kBoxTimeoutMs);
    check(box != nullptr && windowText(box) == catalogueString(IDS_OLDER_OR_SAME_CAPTION),
          "a new Return held accepts it and asks about the same version");
    if (box == nullptr || !waitFor([&] { return activeInItsThread(box); }, kBoxTimeoutMs)) return;
    check(leftAlone(box), "the question stands through that held Return");
    waitOutFreshKeyHold();
    pressKey(VK_RETURN);
    waitBoxGone(box);

    box = waitForMessageBox(program, dialog, kStreamTimeoutMs);
    check(box != nullptr, "the failure box after the early block");
    if (box == nullptr || !waitFor([&] { return activeInItsThread(box); }, kBoxTimeoutMs)) return;
    checkText(windowText(box), catalogueString(IDS_UPDATE_FAILED_CAPTION), "failure caption");
    // Tab, Ctrl and Down, with which a screen-reader user moves about and stops speech,
    // for some two seconds on the box keep no key from answering it right after.
    if (!answerHeld(program, dialog, box, VK_RETURN, "Return after moving about", [] {
            static constexpr WORD kMoves[] = {VK_TAB, VK_CONTROL, VK_DOWN};
            for (int press = 0; press < 12; ++press) {
                pressKey(kMoves[press % 3]);
                Sleep(170);  // the user's pace, not a wait for the program
            }
        }))
        return;
    pressKey(VK_ESCAPE);
    DWORD exitCode = 1;
    check(program.waitForExit(kBoxTimeoutMs, exitCode), "Esc ends the program");
    check(exitCode == 0, "exit code 0");

    // Wine prints the first call of each of the two: the opening 0 of 100 (0x64), and
    // the failed block's error state (TBPF_ERROR, 4).
    const auto hwnd = static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(dialog));
    const std::vector<std::string> values = wineOutputLines(context.argument, "SetProgressValue");
    const std::vector<std::string> states = wineOutputLines(context.argument, "SetProgressState");
    for (const auto& line : values) std::printf("     %s\n", line.c_str());
    for (const auto& line : states) std::printf("     %s\n", line.c_str());
    check(values.size() == 1 && hexAfter(values[0], "hwnd ") == hwnd &&
              values[0].find("ullCompleted 0, ullTotal 64") != std::string::npos,
          "the taskbar's progress set on the dialog's button, from 0 of 100");
    check(states.size() == 1 && hexAfter(states[0], "hwnd ") == hwnd &&
              hexAfter(states[0], "flags ") == 4,
          "the taskbar's error state on the dialog's button");
    check(wineOutputLines(context.argument, "NtUserFlashWindowEx").empty(),
          "no flash with the dialog in front");

    // The hint panel's client object (OBJID_CLIENT, -4, printed unsigned) is a polite
    // live region from the start until the dialog goes.
    const auto onPanel = [&](const char* call, const char* arguments) {
        const std::vector<std::string> lines = wineOutputLines(context.argument, call);
        return lines.size() == 1 && hexAfter(lines[0], call) == panel &&
               lines[0].find(arguments) != std::string::npos;
    };
    check(onPanel("SetHwndProp (", " 4294967292 0 {c12bcd8e-2a8e-4950-8ae7-3625111d58eb} ") &&
              onPanel("SetHwndProp (", " {VT_I4: 1})"),
          "the hint panel made a polite live region");
    // The ready state is announced before the dialog shows, and again as it first
    // becomes active.
    check(wineOutputLines(context.argument, " {c3a6921b-").size() == 3,
          "UI Automation's name of the panel set at the ready state, again at the first "
          "activation, and at the failure");
    check(onPanel("ClearHwndProps (", " 4294967292 0 ") && onPanel("ClearHwndProps (", " 3)"),
          "its three properties cleared with the dialog");
}
const RegisterScenario registeredKeyboardSession("keyboard-session", keyboardSessionScenario);

// The top-level windows from the top. The walk is not atomic: a window that moves
// meanwhile may be missed.
std::vector<HWND> zOrder() {
    std::vector<HWND> order;
    for (HWND window = GetTopWindow(nullptr); window != nullptr;
         window = GetWindow(window, GW_HWNDNEXT)) {
        order.push_back(window);
    }
    return order;
}

// True when `middle` stands below `top` and above `bottom` in the order.
bool standsBetween(const std::vector<HWND>& order, HWND top, HWND middle, HWND bottom) {
    const auto at = [&](HWND window) { return std::find(order.begin(), order.end(), window); };
    return at(bottom) != order.end() && at(top) < at(middle) && at(middle) < at(bottom);
}

// Another program put in front during the preparation: the progress window opens
// without taking the foreground, below the other program and above the dialog;
// nothing of the program takes the foreground before the failure box, and the dialog's
// taskbar button is flashed. Someone typing on in the other program as the box comes up
// answers nothing; Esc held answers it alone. The shell never announced the button, so
// nothing touches the taskbar list.
void outcomeUnseenScenario(ScenarioContext& context) {
    const std::wstring path = scenarioFile(context, "outcome-unseen");
    Program program;
    // Block 150: some 3 s of stream after the preparation's 4 s.
    if (!startEmulated(program, context.program, path, blockRefusedAt(150), kWineFixmes)) return;
    HWND dialog = waitForReady(program, kStartTimeoutMs);
    if (dialog == nullptr || !startUpdate(program, dialog)) return;
    // The dialog takes the activation back from its confirmation first.
    HWND other = nullptr;
    if (waitFor([&] { return activeInItsThread(dialog); }, kBoxTimeoutMs)) {
        other = CreateWindowExW(0, L"STATIC", L"Another program", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                0, 0, 300, 200, nullptr, nullptr, nullptr, nullptr);
    }
    check(other != nullptr && bringToFront(other), "another program in front before the stream");

    // Until its box, the dialog and the progress window leave the foreground alone.
    HWND box = nullptr;
    HWND taken = nullptr;
    bool barShown = false;
    int zOrderReadings = 0;
    bool barBetween = true;
    waitFor(
        [&] {
            HWND bar = findProgressWindow(program.processId());
            const bool barVisible = bar != nullptr && IsWindowVisible(bar);
            barShown = barShown || barVisible;
            if (barVisible && other != nullptr) {
                // A reading counts when two walks in a row agree and the bar is still
                // there after them.
                const std::vector<HWND> order = zOrder();
                if (order == zOrder() && IsWindow(bar)) {
                    ++zOrderReadings;
                    barBetween = barBetween && standsBetween(order, other, bar, dialog);
                }
            }
            HWND front = GetForegroundWindow();
            if (taken == nullptr && front != nullptr && (front == dialog || front == bar)) {
                taken = front;
            }
            return (box = findMessageBox(program.processId(), dialog)) != nullptr;
        },
        kStreamTimeoutMs, 2);
    check(barShown, "the progress window shown");
    check(zOrderReadings > 0 && barBetween,
          "the progress window below the other program and above the dialog, in " +
              std::to_string(zOrderReadings) + " readings");
    check(box != nullptr, "the failure box after block 150");
    check(taken == nullptr, "the other program stays in front through the stream");
    if (box != nullptr) {
        const ULONGLONG found = GetTickCount64();
        const bool boxInFront = waitFor([&] { return activeInItsThread(box); }, kBoxTimeoutMs, 2);
        check(boxInFront && GetTickCount64() - found < kFreshKeyHoldMs / 2,
              "the box came to the front");
        // A space every 150 ms, for some 1.5 s.
        for (int typed = 0; boxInFront && typed < 10; ++typed) {
            pressKey(VK_SPACE);
            Sleep(150);  // the typist's pace, not a wait for the program
        }
        check(leftAlone(box), "the box stands through the typing");
    }
    // Wine prints the call's structure's address only, not its flags: the flash comes
    // before the box, its end once the box is answered.
    const char* flashCall = "NtUserFlashWindowEx";
    check(wineOutputLines(context.argument, flashCall).size() == 1,
          "the button flashed for the box");
    // The user turns back: the other program steps aside before the box is answered.
    if (other != nullptr) DestroyWindow(other);
    if (box != nullptr) answerHeld(program, dialog, box, VK_ESCAPE, "Esc");
    check(waitFor([&] { return wineOutputLines(context.argument, flashCall).size() == 2; },
                  kBoxTimeoutMs),
          "the flash ended once the box was answered");
    for (const auto& line : wineOutputLines(context.argument, flashCall))
        std::printf("     %s\n", line.c_str());
    check(wineOutputLines(context.argument, "SetProgress").empty(),
          "no taskbar list without the shell's announcement");
    closeAndCheckExit(program, dialog);
}
const RegisterScenario registeredOutcomeUnseen("outcome-unseen", outcomeUnseenScenario);

}  // namespace
}  // namespace orvanta::driver
