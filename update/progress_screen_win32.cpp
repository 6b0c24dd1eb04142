// The progress window on Win32.
#include "update/progress_screen_win32.h"

#include <commctrl.h>

namespace orvanta {
namespace {

HWND asWindow(WindowId window) { return reinterpret_cast<HWND>(window); }

// Where a minimised window stands once restored, on the screen. A minimised window's
// own rectangle lies off the screen on Windows (about -32000, -32000), and a window
// centred on it would not be seen. The placement is in workspace coordinates, which
// leave out a taskbar at the top or the left of the window's monitor.
RECT restoredRect(HWND window, const RECT& current) {
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    if (!GetWindowPlacement(window, &placement)) return current;
    RECT rect = placement.rcNormalPosition;
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    if (GetMonitorInfoW(MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST), &monitor)) {
        OffsetRect(&rect, monitor.rcWork.left - monitor.rcMonitor.left,
                   monitor.rcWork.top - monitor.rcMonitor.top);
    }
    return rect;
}

}  // namespace

WindowId Win32ProgressScreen::mainWindow() { return reinterpret_cast<WindowId>(mainWindow_); }

ScreenRect Win32ProgressScreen::windowRect(WindowId window) {
    RECT rect = {};
    GetWindowRect(asWindow(window), &rect);
    if (IsIconic(asWindow(window))) rect = restoredRect(asWindow(window), rect);
    return ScreenRect{rect.left, rect.top, rect.right, rect.bottom};
}

WindowId Win32ProgressScreen::createProgressWindow(const std::wstring& title, std::int32_t x,
                                                   std::int32_t y, std::int32_t width,
                                                   std::int32_t height, bool activate) {
    // An owned top-level window (neither child nor popup), so it gets a caption
    // that carries the title. Created visible, it is activated; shown with SW_SHOWNA,
    // it is not, and the program activating nothing cannot take the foreground even
    // where the system would let it.
    HWND window =
        CreateWindowExW(0, PROGRESS_CLASSW, title.c_str(), (activate ? WS_VISIBLE : 0) | PBS_SMOOTH,
                        x, y, width, height, mainWindow_, nullptr, moduleInstance_, nullptr);
    if (window != nullptr && !activate) ShowWindow(window, SW_SHOWNA);
    return reinterpret_cast<WindowId>(window);
}

void Win32ProgressScreen::setProgressPosition(WindowId window, std::uint32_t percent) {
    SendMessageW(asWindow(window), PBM_SETPOS, percent, 0);
    // No message loop runs during the stream: paint the new position now.
    UpdateWindow(asWindow(window));
}

void Win32ProgressScreen::raiseToTop(WindowId window) {
    SetWindowPos(asWindow(window), HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

WindowId Win32ProgressScreen::foregroundWindow() {
    return reinterpret_cast<WindowId>(GetForegroundWindow());
}

void Win32ProgressScreen::showWindow(WindowId window) { ShowWindow(asWindow(window), SW_SHOW); }

void Win32ProgressScreen::destroyWindow(WindowId window) { DestroyWindow(asWindow(window)); }

void Win32ProgressScreen::setTaskbarProgress(std::uint32_t percent) {
    taskbar_.setProgress(mainWindow_, percent);
}

void Win32ProgressScreen::setTaskbarError() { taskbar_.setState(mainWindow_, TBPF_ERROR); }

void Win32ProgressScreen::clearTaskbarProgress() {
    taskbar_.setState(mainWindow_, TBPF_NOPROGRESS);
}

void Win32ProgressScreen::flashTaskbarButton() {
    // The button alone: flashing the caption would draw the dialog as active behind
    // another program's windows, or behind its own failure box. TIMERNOFG keeps it
    // flashing until the window comes to the foreground, and the system stops it then.
    FLASHWINFO flash = {sizeof(flash), mainWindow_, FLASHW_TRAY | FLASHW_TIMERNOFG, 0, 0};
    FlashWindowEx(&flash);
}

void Win32ProgressScreen::stopFlashingTaskbarButton() {
    FLASHWINFO flash = {sizeof(flash), mainWindow_, FLASHW_STOP, 0, 0};
    FlashWindowEx(&flash);
}

}  // namespace orvanta
