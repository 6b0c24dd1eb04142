// Process entry and the main dialog procedure: the thin Win32 edge that hands every
// message to the shell, the link and the update.
#include <windows.h>
#include <dbt.h>

#include "app/dialog_win32.h"
#include "app/shell.h"
#include "app/single_instance_win32.h"
#include "app/unit_bus_win32.h"
#include "link/clock_win32.h"
#include "link/system_libraries_win32.h"
#include "resources/program_resources_win32.h"
#include "resources/resource_ids.h"
#include "update/progress_screen_win32.h"

namespace orvanta {

// The portable code's copies of the system's values.
static_assert(kMbOk == MB_OK && kMbOkCancel == MB_OKCANCEL && kMbYesNo == MB_YESNO);
static_assert(kMbIconError == MB_ICONERROR && kMbIconWarning == MB_ICONWARNING &&
              kMbIconInformation == MB_ICONINFORMATION);
static_assert(kIdOk == IDOK && kIdCancel == IDCANCEL && kIdYes == IDYES && kIdNo == IDNO);
// Esc and the close box arrive as IDCANCEL, which is "Close".
static_assert(IDC_CLOSE == IDCANCEL);

namespace {

// What the dialog procedure reaches, valid while the dialog runs.
struct Program {
    App& app;
    Win32Dialog& dialog;
    Win32ProgressScreen& progressScreen;
    UnitBus& unitBus;
    // The shell's "TaskbarButtonCreated"; 0 when it could not be registered.
    UINT taskbarButtonCreated;
};
Program* theProgram = nullptr;

DeviceEvent deviceEventOf(WPARAM event) {
    if (event == DBT_DEVICEARRIVAL) return DeviceEvent::arrival;
    if (event == DBT_DEVICEREMOVECOMPLETE) return DeviceEvent::removeComplete;
    return DeviceEvent::other;
}

// Reads the two things the shell needs from a WM_DEVICECHANGE broadcast record.
bool readBroadcast(LPARAM lParam, DeviceBroadcast& out) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    if (header == nullptr) return false;
    out.deviceInterface = header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE;
    if (out.deviceInterface) {
        out.path = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam)->dbcc_name;
    }
    return true;
}

// The ESC's label and value in red on the dialog's face; every other static as the
// dialog draws it.
INT_PTR colourStatic(HDC dc, HWND control) {
    if (!drawnInRed(GetDlgCtrlID(control))) return FALSE;
    SetTextColor(dc, RGB(255, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<INT_PTR>(Win32Dialog::buttonFaceBrush());
}

void initialiseMainDialog(Program& program, HWND window) {
    program.dialog.attach(window);
    program.progressScreen.attach(window);
    placeHintPanelAfterItsLabel(window);
    // An elevated copy would otherwise never hear from the shell, which runs with less
    // privilege.
    if (program.taskbarButtonCreated != 0) {
        ChangeWindowMessageFilterEx(window, program.taskbarButtonCreated, MSGFLT_ALLOW, nullptr);
    }
    initialiseDialog(program.app);
    program.unitBus.attach(window);
}

// A request to close or another system command sent while the end of an update drops
// what came during its run (the taskbar's "Close window", the system menu) waited as
// long as the input; it goes with it, so the outcome is seen. A minimise and a restore
// take their usual course.
bool droppedWithTheInput(const Program& program, UINT message, WPARAM wParam) {
    if (message == WM_SYSCOMMAND && outlivesRun(wParam)) return false;
    return program.app.inputBeingDropped;
}

bool handleDeviceChangeMessage(Program& program, WPARAM event, LPARAM lParam) {
    DeviceBroadcast broadcast;
    const bool haveRecord = readBroadcast(lParam, broadcast);
    return handleDeviceChange(program.app, deviceEventOf(event), haveRecord ? &broadcast : nullptr);
}

INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Program& program = *theProgram;
    switch (message) {
    case WM_PAINT:
        paintProductPicture(window, program.dialog.instance());
        return FALSE;
    case WM_INITDIALOG:
        initialiseMainDialog(program, window);
        return TRUE;
    case WM_COMMAND:
        return handleCommand(program.app, LOWORD(wParam), program.progressScreen) ? TRUE : FALSE;
    case WM_DESTROY:
        program.dialog.destroyed();
        return FALSE;
    case WM_ACTIVATEAPP:
        if (wParam != FALSE) program.dialog.activated();
        return FALSE;
    case WM_ACTIVATE:
        // Active and not minimised: back from another program or from its own box.
        if (LOWORD(wParam) != WA_INACTIVE && HIWORD(wParam) == 0) dialogActivated(program.app);
        return FALSE;
    case WM_CLOSE:
    case WM_SYSCOMMAND:
        return droppedWithTheInput(program, message, wParam) ? TRUE : FALSE;
    case WM_CTLCOLORSTATIC:
        return colourStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DEVICECHANGE:
        return handleDeviceChangeMessage(program, wParam, lParam) ? TRUE : FALSE;
    default:
        if (message != 0 && message == program.taskbarButtonCreated) {
            program.progressScreen.taskbarButtonCreated();
            return TRUE;
        }
        return FALSE;
    }
}

}  // namespace
}  // namespace orvanta

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*show*/) {
    using namespace orvanta;
    restrictDllSearchToSystem();
    // Before any device is opened: a second copy would put its requests between
    // the first copy's blocks.
    const SingleInstance onlyCopy;
    if (!onlyCopy.first()) {
        if (!bringRunningCopyToFront()) {
            Win32ProgramResources resources(instance);
            MessageBoxW(nullptr, resources.loadString(IDS_ALREADY_RUNNING).c_str(),
                        composeWindowTitle().c_str(), MB_OK | MB_ICONINFORMATION);
        }
        return 0;
    }
    // The update holds the GUI thread for the whole stream; without this the
    // system would swap the windows for a frozen "Not Responding" ghost and
    // invite the user to kill the program mid-write.
    DisableProcessWindowsGhosting();
    if (systemLibraries().initCommonControls != nullptr) systemLibraries().initCommonControls();

    Win32Clock clock;
    Win32Dialog dialog(instance);
    Win32ProgressScreen progressScreen(instance);
    Win32ProgramResources resources(instance);
    const std::unique_ptr<UnitBus> unitBus = makeUnitBus(clock);
    App app(dialog, resources, unitBus->bus(), clock);
    Program program{app, dialog, progressScreen, *unitBus,
                    RegisterWindowMessageW(L"TaskbarButtonCreated")};
    theProgram = &program;

    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN_DIALOG), nullptr, mainDialogProc, 0);

    unitBus->finish();
    theProgram = nullptr;
    return 0;
}
