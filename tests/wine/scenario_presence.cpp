// The dialog following the emulated programming unit: what it shows for a ready unit,
// for each unit it cannot update, and as the unit is plugged in and pulled out or
// another HID device arrives.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/wine/driver_support.h"
#include "tests/wine/scenarios.h"

namespace orvanta::driver {
namespace {

constexpr std::uint32_t kTextTimeoutMs = 10000;
constexpr std::uint32_t kPaintTimeoutMs = 5000;

const std::wstring kModelString = L"ORVANTA 210 HV";
// Written into the hint panel from outside to see whether the program writes it anew.
const std::wstring kHintMarker = L"(hint before the arrival)";

// The equipment a scenario puts behind the emulated unit, by the name a test gives it:
// its scenario lines and the message of the hint it leaves when refused (0: a ready
// unit). "lengths-43-52" is a unit whose report lengths (input 43, output 52 bytes) the
// program cannot use, which it treats as no unit at all; "held" is a unit that another
// program holds open.
struct Equipment {
    std::string name;
    std::string lines;
    std::uint32_t refusedHint;

    bool ready() const { return refusedHint == 0; }
    bool incompatible() const { return name == "incompatible"; }
    bool lengthsRefused() const { return name.rfind("lengths-", 0) == 0; }
};

Equipment equipmentNamed(const std::string& name) {
    unsigned input = 0;
    unsigned output = 0;
    if (std::sscanf(name.c_str(), "lengths-%u-%u", &input, &output) == 2) {
        return {name,
                "input_report_length = " + std::to_string(input) +
                    "\noutput_report_length = " + std::to_string(output) + "\n",
                IDS_NO_UNIT};
    }
    const Equipment kinds[] = {
        {"wrong-mode", "unit_mode = 1\n", IDS_WRONG_MODE},
        {"not-ready", "esc_state = 1\n", IDS_NO_UPDATABLE_ESC},
        {"incompatible", "esc_type_code = 0x12345678\n", IDS_INCOMPATIBLE_ESC},
        {"held", "held_by_other_program = true\n", IDS_UNIT_BUSY},
    };
    for (const Equipment& kind : kinds) {
        if (kind.name == name) return kind;
    }
    return {name, "", 0};
}

std::wstring incompatibleBoxText() {
    std::wstring text = catalogueString(IDS_INCOMPATIBLE_TEXT);
    const std::size_t at = text.find(L"%s");
    if (at != std::wstring::npos) text.replace(at, 2, kModelString);
    return text;
}

// Checks the incompatible-ESC box and answers it with OK.
void answerIncompatibleBox(HWND box, const std::string& when) {
    check(box != nullptr, "incompatible-ESC box shown " + when);
    if (box == nullptr) return;
    checkText(windowText(box), catalogueString(IDS_INCOMPATIBLE_CAPTION),
              "incompatible-ESC box caption " + when);
    const std::wstring text = messageBoxText(box);
    checkText(text, incompatibleBoxText(), "incompatible-ESC box text " + when);
    check(text.find(L"'" + kModelString + L"'") != std::wstring::npos,
          "the box names the model in quotes");
    pressButton(box, IDOK);
}

void checkValuesClosed(HWND dialog) {
    for (int id : {IDC_VALUE_UNIT, IDC_VALUE_ESC_BOOTLOADER, IDC_VALUE_ESC}) {
        checkText(controlText(dialog, id), L"0.0.0", "value " + std::to_string(id) + " cleared");
    }
    for (int id : {IDC_VALUE_UNIT, IDC_VALUE_ESC_BOOTLOADER, IDC_VALUE_ESC, IDC_LABEL_UNIT,
                   IDC_LABEL_ESC_BOOTLOADER, IDC_LABEL_ESC}) {
        check(!controlEnabled(dialog, id), "version panel control disabled " + std::to_string(id));
    }
}

// A unit the program refused: its hint, "Update" off, the panel in the no-link state.
void checkRefused(HWND dialog, const Equipment& equipment, const std::wstring& lineOneLabel) {
    const std::wstring hint = hintWithInstructions(equipment.refusedHint);
    waitForHint(dialog, hint, kTextTimeoutMs, "hint with instructions");
    check(!controlEnabled(dialog, IDC_UPDATE), "Update disabled");
    checkValuesClosed(dialog);
    checkText(controlText(dialog, IDC_LABEL_UNIT), lineOneLabel, "label of line 1");
}

// The default emulated unit, ready: message 40000 alone, the versions, "Update" on.
void checkReady(HWND dialog, const std::wstring& unitName) {
    waitForHint(dialog, catalogueString(IDS_READY), kTextTimeoutMs,
                "hint: ready, without instructions");
    check(controlEnabled(dialog, IDC_UPDATE), "Update enabled");
    checkText(controlText(dialog, IDC_VALUE_UNIT), L"1.5", "unit version");
    checkText(controlText(dialog, IDC_VALUE_ESC_BOOTLOADER), L"1.2", "bootloader version");
    checkText(controlText(dialog, IDC_VALUE_ESC), L"0.9", "ESC firmware version");
    checkText(controlText(dialog, IDC_LABEL_UNIT), unitName, "label of line 1 names the unit");
    checkText(controlText(dialog, IDC_LABEL_ESC_BOOTLOADER),
              catalogueString(IDS_LABEL_ESC_BOOTLOADER), "label of line 2");
    checkText(controlText(dialog, IDC_LABEL_ESC), catalogueString(IDS_LABEL_ESC),
              "label of line 3");
    for (int id : {IDC_VALUE_UNIT, IDC_VALUE_ESC_BOOTLOADER, IDC_VALUE_ESC, IDC_LABEL_UNIT,
                   IDC_LABEL_ESC_BOOTLOADER, IDC_LABEL_ESC}) {
        check(controlEnabled(dialog, id), "version panel control enabled " + std::to_string(id));
    }
}

// Red line 3 and the picture without its green background, on the screen's pixels.
void checkPixels(HWND dialog, const std::wstring& bmpPath) {
    const RECT escValue = controlRectInWindow(dialog, IDC_VALUE_ESC);
    const RECT escLabel = controlRectInWindow(dialog, IDC_LABEL_ESC);
    Capture capture;
    // The controls paint after the dialog; take the screen once they have.
    waitFor(
        [&] {
            capture = captureWindow(dialog, std::wstring());
            return countPixels(capture, escValue, 255, 0, 0) > 0 &&
                   countPixels(capture, escLabel, 255, 0, 0) > 0;
        },
        kPaintTimeoutMs);
    capture = captureWindow(dialog, bmpPath);
    check(capture.width > 0 && capture.height > 0, "window captured");
    const RECT whole = {0, 0, capture.width, capture.height};
    check(countPixels(capture, escValue, 255, 0, 0) > 0, "ESC firmware value drawn in red");
    check(countPixels(capture, escLabel, 255, 0, 0) > 0, "ESC label drawn in red");
    check(countPixels(capture, controlRectInWindow(dialog, IDC_VALUE_UNIT), 255, 0, 0) == 0,
          "unit version not red");
    check(countPixels(capture, whole, 0, 255, 0) == 0, "no pure green pixel in the window");

    // The picture stands right of the version group box, level with its top: some of
    // its pixels there differ from the dialog's face colour.
    const RECT group = controlRectInWindow(dialog, IDC_VERSION_GROUP);
    const RECT beside = {group.right + 1, group.top, capture.width, group.bottom};
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const int total = (beside.right - beside.left) * (beside.bottom - beside.top);
    const int faceCount =
        countPixels(capture, beside, GetRValue(face), GetGValue(face), GetBValue(face));
    check(total - faceCount > total / 20, "product picture drawn beside the version panel");
}

// A ready unit at start-up, named by its product id, with the red line 3 and the
// picture checked on the screen.
void readyScenario(ScenarioContext& context) {
    const bool tunepad = context.argument == "tunepad";
    const std::wstring path = scenarioFile(context, "ready-" + context.argument);
    Program program;
    if (!startEmulated(program, context.program, path, tunepad ? "product_id = 1\n" : "")) return;
    HWND dialog = waitForMainDialog(program, kStartTimeoutMs);
    if (dialog == nullptr) return;
    checkReady(dialog, tunepad ? L"TUNEPAD" : L"TUNE-BOX");
    check(findMessageBox(program.processId(), dialog) == nullptr, "no message box");
    checkPixels(dialog, screenshotFile(context, "ready-" + context.argument));
    closeAndCheckExit(program, dialog);
}
const RegisterScenario registeredReady("ready", readyScenario);

// A unit that cannot be updated, found at start-up.
void refusedAtStartScenario(ScenarioContext& context) {
    const Equipment equipment = equipmentNamed(context.argument);
    Program program;
    const std::wstring path = scenarioFile(context, "refused-" + context.argument);
    const std::wstring tracePath = path + L".trace";
    DeleteFileW(tracePath.c_str());
    if (!startEmulated(program, context.program, path,
                       equipment.lines + "trace_file = " + narrow(tracePath) + "\n")) {
        return;
    }
    if (equipment.incompatible()) {
        // The box comes from the first probe, inside the dialog's initialisation,
        // before the dialog manager shows the window.
        bool mainSeenFirst = false;
        HWND box = nullptr;
        waitFor(
            [&] {
                if (findMainDialog(program.processId()) != nullptr) mainSeenFirst = true;
                box = findMessageBox(program.processId(), nullptr);
                return box != nullptr;
            },
            kStartTimeoutMs);
        check(!mainSeenFirst, "main dialog not visible before the box");
        check(box == nullptr || findMainDialog(program.processId()) == nullptr,
              "main dialog not visible while the box is up");
        answerIncompatibleBox(box, "at start-up");
    }
    HWND dialog = waitForMainDialog(program, kStartTimeoutMs);
    if (dialog == nullptr) return;
    checkRefused(dialog, equipment, catalogueString(IDS_LABEL_UNIT));
    check(findMessageBox(program.processId(), dialog) == nullptr, "no message box left");
    if (equipment.lengthsRefused()) {
        // Refused from the capabilities alone: not one report went to the unit.
        std::vector<std::uint8_t> trace;
        check(readFileBytes(tracePath, trace), "the unit's trace read");
        check(std::count(trace.begin(), trace.end(), '>') == 0,
              "no request sent to a unit with refused report lengths");
    }
    captureAndClose(program, dialog, context, "refused-" + context.argument);
}
const RegisterScenario registeredRefused("refused-at-start", refusedAtStartScenario);

// No unit at start, then the unit is plugged in; an incompatible one is announced on
// every arrival.
void arrivalScenario(ScenarioContext& context) {
    const Equipment equipment = equipmentNamed(context.argument);
    const std::wstring path = scenarioFile(context, "arrival-" + context.argument);
    Program program;
    if (!startEmulated(program, context.program, path,
                       "unit_present = false\n" + equipment.lines)) {
        return;
    }
    HWND dialog = waitForMainDialog(program, kStartTimeoutMs);
    if (dialog == nullptr) return;
    checkText(controlText(dialog, IDC_HINT_PANEL), hintWithInstructions(IDS_NO_UNIT),
              "hint: no unit");
    check(!controlEnabled(dialog, IDC_UPDATE), "Update disabled without a unit");
    checkValuesClosed(dialog);

    if (!commandUnit(path, "plug")) return;
    if (equipment.ready()) {
        checkReady(dialog, L"TUNE-BOX");
    } else if (equipment.incompatible()) {
        answerIncompatibleBox(waitForMessageBox(program, dialog, kBoxTimeoutMs), "at arrival");
        checkRefused(dialog, equipment, catalogueString(IDS_LABEL_UNIT));

        // Out and in again: the link is closed, so pulling it changes nothing, and the
        // next arrival probes and warns anew.
        setControlTextFromOutside(dialog, IDC_HINT_PANEL, kHintMarker);
        if (!commandUnit(path, "unplug")) return;
        checkText(controlText(dialog, IDC_HINT_PANEL), kHintMarker,
                  "removal of a refused unit changes nothing");
        check(findMessageBox(program.processId(), dialog) == nullptr, "no box at the removal");
        if (!commandUnit(path, "plug")) return;
        answerIncompatibleBox(waitForMessageBox(program, dialog, kBoxTimeoutMs),
                              "at the second arrival");
        checkRefused(dialog, equipment, catalogueString(IDS_LABEL_UNIT));
    } else {
        checkRefused(dialog, equipment, catalogueString(IDS_LABEL_UNIT));
        check(findMessageBox(program.processId(), dialog) == nullptr, "no message box");
    }
    captureAndClose(program, dialog, context, "arrival-" + context.argument);
}
const RegisterScenario registeredArrival("arrival", arrivalScenario);

// A ready unit pulled out, then plugged in again.
void removalScenario(ScenarioContext& context) {
    const std::wstring path = scenarioFile(context, "removal");
    Program program;
    if (!startEmulated(program, context.program, path, "")) return;
    HintPanelListener listener(program.processId());
    HWND dialog = waitForMainDialog(program, kStartTimeoutMs);
    if (dialog == nullptr) return;
    checkReady(dialog, L"TUNE-BOX");

    listener.forget();
    if (!commandUnit(path, "unplug")) return;
    waitForHint(dialog, hintWithInstructions(IDS_CONNECTION_LOST), kTextTimeoutMs,
                "hint: connection lost, with instructions");
    listener.checkHeard(catalogueString(IDS_CONNECTION_LOST),
                        "a screen reader hears the connection lost, without the steps");
    check(!controlEnabled(dialog, IDC_UPDATE), "Update disabled after the removal");
    checkValuesClosed(dialog);
    checkText(controlText(dialog, IDC_LABEL_UNIT), L"TUNE-BOX", "label of line 1 kept");
    captureWindow(dialog, screenshotFile(context, "removal"));

    listener.forget();
    if (!commandUnit(path, "plug")) return;
    checkReady(dialog, L"TUNE-BOX");
    const std::wstring ready = catalogueString(IDS_READY);
    listener.checkHeard(ready.substr(0, ready.find(L"\r\n\r\n")),
                        "a screen reader hears the unit ready again, without the note");
    closeAndCheckExit(program, dialog);
}
const RegisterScenario registeredRemoval("removal", removalScenario);

// Another HID device arrives: a unit whose link is closed is probed again, an open
// link and a bus without a unit are left alone.
void otherDeviceScenario(ScenarioContext& context) {
    const bool noUnit = context.argument == "no-unit";
    const Equipment equipment = equipmentNamed(context.argument);
    const std::wstring path = scenarioFile(context, "other-" + context.argument);
    Program program;
    const std::string lines = noUnit ? "unit_present = false\n" : equipment.lines;
    if (!startEmulated(program, context.program, path, lines)) return;
    if (equipment.incompatible()) {
        answerIncompatibleBox(waitForMessageBox(program, nullptr, kStartTimeoutMs), "at start-up");
    }
    HWND dialog = waitForMainDialog(program, kStartTimeoutMs);
    if (dialog == nullptr) return;
    const std::wstring before = controlText(dialog, IDC_HINT_PANEL);
    const bool updateBefore = controlEnabled(dialog, IDC_UPDATE);

    setControlTextFromOutside(dialog, IDC_HINT_PANEL, kHintMarker);
    if (!commandUnit(path, "other")) return;
    if (noUnit || equipment.ready()) {
        checkText(controlText(dialog, IDC_HINT_PANEL), kHintMarker, "hint left alone");
        check(controlEnabled(dialog, IDC_UPDATE) == updateBefore, "Update left as it was");
        check(findMessageBox(program.processId(), dialog) == nullptr, "no message box");
        if (noUnit) {
            checkValuesClosed(dialog);
        } else {
            checkText(controlText(dialog, IDC_VALUE_ESC), L"0.9", "versions left shown");
        }
    } else {
        if (equipment.incompatible()) {
            answerIncompatibleBox(waitForMessageBox(program, dialog, kBoxTimeoutMs),
                                  "at the other device's arrival");
        }
        checkRefused(dialog, equipment, catalogueString(IDS_LABEL_UNIT));
        checkText(controlText(dialog, IDC_HINT_PANEL), before, "hint written anew, as before");
    }
    closeAndCheckExit(program, dialog);
}
const RegisterScenario registeredOther("other-device", otherDeviceScenario);

}  // namespace
}  // namespace orvanta::driver
