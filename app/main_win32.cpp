// Process entry and the main dialog procedure: the thin Win32 edge that hands every
// decision to the shell, the link and the update procedure.
#include <windows.h>
#include <dbt.h>

#include "app/clock_win32.h"
#include "app/dialog_surface_win32.h"
#include "app/shell.h"
#include "app/single_instance_win32.h"
#include "app/system_libraries_win32.h"
#include "resources/resource_ids.h"
#include "update/update.h"

#ifdef ORVANTA_EMULATED
#include "emulator/emulated_host_win32.h"
#else
#include "link/hid_bus_win32.h"
#endif

namespace orvanta {
namespace {

// The process-wide values of the shell, valid while the dialog runs.
App* theApp = nullptr;
Win32DialogSurface* theSurface = nullptr;
#ifdef ORVANTA_EMULATED
EmulatedHost* theHost = nullptr;
#endif

int controlIdOf(LPARAM controlWindow) {
    return GetDlgCtrlID(reinterpret_cast<HWND>(controlWindow));
}

// Reads the two things the shell needs from a WM_DEVICECHANGE broadcast record.
bool readBroadcast(LPARAM lParam, DeviceBroadcast& out) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    if (header == nullptr) return false;
    out.deviceType = header->dbch_devicetype;
    if (out.deviceType == DBT_DEVTYP_DEVICEINTERFACE) {
        const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
        out.path = record->dbcc_name;
    }
    return true;
}

INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const int ctlColorControl = message == WM_CTLCOLORSTATIC ? controlIdOf(lParam) : 0;
    switch (dispatchDialogMessage(message, wParam, ctlColorControl)) {
    case DialogAction::paintPicture:
        paintProductPicture(window, theSurface->instance());
        return FALSE;
    case DialogAction::initialise:
        theSurface->attach(window);
        initialiseDialog(*theApp);
#ifdef ORVANTA_EMULATED
        theHost->attach(window);
#endif
        return TRUE;
    case DialogAction::close:
        closeDialog(*theApp);
        return TRUE;
    case DialogAction::update:
        runFirmwareUpdate(*theApp);
        return TRUE;
    case DialogAction::colourRedStatic: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, RGB(255, 0, 0));
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<INT_PTR>(theSurface->buttonFaceBrush());
    }
    case DialogAction::deviceChange: {
        DeviceBroadcast broadcast;
        const bool haveRecord = readBroadcast(lParam, broadcast);
        return handleDeviceChange(*theApp, static_cast<std::uint32_t>(wParam),
                                  haveRecord ? &broadcast : nullptr)
                   ? TRUE
                   : FALSE;
    }
    case DialogAction::none:
        break;
    }
    return FALSE;
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
        bringRunningCopyToFront();
        return 0;
    }
    // The update holds the GUI thread for the whole stream; without this the
    // system would swap the windows for a frozen "Not Responding" ghost and
    // invite the user to kill the program mid-write.
    DisableProcessWindowsGhosting();
    if (systemLibraries().initCommonControls != nullptr) systemLibraries().initCommonControls();

    Win32Clock clock;
    Win32DialogSurface surface(instance);
#ifdef ORVANTA_EMULATED
    EmulatedHost host(clock);
    HidBus& bus = host.bus();
    theHost = &host;
#else
    Win32HidBus bus;
#endif
    App app;
    app.ui = &surface;
    resetLink(app.link);
    app.link.bus = &bus;
    app.link.clock = &clock;
    theApp = &app;
    theSurface = &surface;

    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN_DIALOG), nullptr, mainDialogProc, 0);

#ifdef ORVANTA_EMULATED
    host.finish();
    theHost = nullptr;
#endif
    theApp = nullptr;
    theSurface = nullptr;
    return 0;
}
