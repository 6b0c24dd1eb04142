// The progress window on Win32.
#include "update/progress_screen_win32.h"

#include <commctrl.h>

namespace orvanta {
namespace {

HWND asWindow(WindowId window) { return reinterpret_cast<HWND>(window); }

ScreenRect screenRectOf(const RECT& rect) {
    return ScreenRect{rect.left, rect.top, rect.right, rect.bottom};
}

}  // namespace

WindowId Win32ProgressScreen::mainWindow() { return reinterpret_cast<WindowId>(mainWindow_); }

MainWindowPlace Win32ProgressScreen::mainWindowPlace() {
    MainWindowPlace place;
    RECT rect = {};
    GetWindowRect(mainWindow_, &rect);
    place.rect = screenRectOf(rect);
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    place.minimised = IsIconic(mainWindow_) != FALSE && GetWindowPlacement(mainWindow_, &placement);
    if (place.minimised) place.restored = screenRectOf(placement.rcNormalPosition);
    // For a minimised window, the system names the monitor of its restored place.
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    if (GetMonitorInfoW(MonitorFromWindow(mainWindow_, MONITOR_DEFAULTTONEAREST), &monitor)) {
        place.monitor = screenRectOf(monitor.rcMonitor);
        place.workArea = screenRectOf(monitor.rcWork);
    } else {
        place.monitor = place.workArea =
            ScreenRect{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    return place;
}

WindowId Win32ProgressScreen::createProgressWindow(const std::wstring& title,
                                                   const ScreenRect& rect, bool activate,
                                                   const std::wstring& shutdownReason) {
    // An owned top-level window (neither child nor popup), so it gets a caption
    // that carries the title. Created visible, it is activated. Otherwise it is shown
    // without activation, so the program cannot take the foreground even where the
    // system would let it, and put right above the main window: a new window stands
    // at the top, over the program the user has turned to.
    HWND window =
        CreateWindowExW(0, PROGRESS_CLASSW, title.c_str(), (activate ? WS_VISIBLE : 0) | PBS_SMOOTH,
                        rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                        mainWindow_, nullptr, moduleInstance_, nullptr);
    if (window == nullptr) return 0;
    if (!activate) {
        HWND above = GetWindow(mainWindow_, GW_HWNDPREV);
        if (above == window) above = GetWindow(window, GW_HWNDPREV);
        SetWindowPos(window, above != nullptr ? above : HWND_TOP, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    }
    // The shutdown screen lists every window of a program that does not answer; the
    // progress window says why, as the main window does.
    ShutdownBlockReasonCreate(window, shutdownReason.c_str());
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

void Win32ProgressScreen::destroyWindow(WindowId window) {
    if (window == 0) return;
    ShutdownBlockReasonDestroy(asWindow(window));
    DestroyWindow(asWindow(window));
}

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
