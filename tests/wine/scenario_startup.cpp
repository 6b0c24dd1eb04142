// Start-up of the real program on a machine without a programming unit, and the
// three ways of closing it.
#include <windows.h>

#include "resources/resource_ids.h"
#include "tests/wine/driver_support.h"
#include "tests/wine/scenarios.h"

namespace orvanta::driver {
namespace {

constexpr std::uint32_t kExitTimeoutMs = 20000;
const std::wstring kTitle = L"VARIDYNE ORVANTA 210 HV FW Updater 1.0 Bootloaderupdater";

struct TemplateTexts {
    std::wstring close;
    std::wstring hint;
    std::wstring group;
};

TemplateTexts templateTexts() {
    if (userLanguage() == Language::german) {
        return {L"Beenden", L"Hinweisfenster:", L"Installierte Firmware Versionen"};
    }
    return {L"Close", L"Hint:", L"Installed firmware version"};
}

// What the dialog shows right after start when no unit is attached.
void checkStartedWithoutUnit(HWND dialog) {
    checkText(windowText(dialog), kTitle, "title");
    checkText(controlText(dialog, IDC_LABEL_UNIT), catalogueString(IDS_LABEL_UNIT), "label line 1");
    checkText(controlText(dialog, IDC_LABEL_ESC_BOOTLOADER),
              catalogueString(IDS_LABEL_ESC_BOOTLOADER), "label line 2");
    checkText(controlText(dialog, IDC_LABEL_ESC), catalogueString(IDS_LABEL_ESC), "label line 3");
    for (int id : {IDC_VALUE_UNIT, IDC_VALUE_ESC_BOOTLOADER, IDC_VALUE_ESC}) {
        checkText(controlText(dialog, id), L"0.0.0", "value " + std::to_string(id));
        check(!controlEnabled(dialog, id), "value disabled " + std::to_string(id));
    }
    check(!controlEnabled(dialog, IDC_UPDATE), "Update disabled");
    check(controlEnabled(dialog, IDC_CLOSE), "Close enabled");
    const TemplateTexts texts = templateTexts();
    checkText(controlText(dialog, IDC_CLOSE), texts.close, "Close button text");
    checkText(controlText(dialog, IDC_UPDATE), L"Update", "Update button text");
    checkText(controlText(dialog, IDC_HINT_LABEL), texts.hint, "Hint label untouched");
    checkText(controlText(dialog, IDC_VERSION_GROUP), texts.group, "version group box text");
    checkText(controlText(dialog, IDC_HINT_PANEL),
              catalogueString(IDS_NO_UNIT) + L"\r\n\r\n" + catalogueString(IDS_INSTRUCTIONS),
              "hint: no unit, with instructions");
}

void closeBy(const std::string& how, HWND dialog) {
    if (how == "esc") {
        // The dialog manager turns Esc on any of its controls into command 2.
        HWND close = GetDlgItem(dialog, IDC_CLOSE);
        PostMessageW(close, WM_KEYDOWN, VK_ESCAPE, 0);
        PostMessageW(close, WM_KEYUP, VK_ESCAPE, 0xC0000001);
    } else if (how == "closebox") {
        PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
        pressButton(dialog, IDC_CLOSE);
    }
}

void startupScenario(ScenarioContext& context) {
    Program program;
    if (!program.start(context.program)) return;
    HWND dialog = nullptr;
    check(waitFor([&] { return (dialog = findMainDialog(program.processId())) != nullptr; },
                  kStartTimeoutMs),
          "main dialog appeared");
    if (dialog == nullptr) return;
    // Let the first paint finish before reading pixels.
    waitFor([&] { return GetUpdateRect(dialog, nullptr, FALSE) == FALSE; }, 5000);
    checkStartedWithoutUnit(dialog);
    captureWindow(dialog, context.outputFolder + L"\\startup-" +
                              std::wstring(context.languageTag.begin(), context.languageTag.end()) +
                              L".bmp");

    const std::string how = context.argument.empty() ? "button" : context.argument;
    closeBy(how, dialog);
    DWORD exitCode = 1;
    check(program.waitForExit(kExitTimeoutMs, exitCode), "program ended after close by " + how);
    check(exitCode == 0, "exit code 0");
}

const RegisterScenario registered("startup", startupScenario);

}  // namespace
}  // namespace orvanta::driver
