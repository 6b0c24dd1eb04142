// What the progress window needs of the screen: the main window's place, a bare
// progress bar window, and the stacking order of both while no message loop runs;
// and the main window's taskbar button, which mirrors the bar and asks for attention.
#pragma once

#include <cstdint>
#include <string>

namespace orvanta {

// An opaque window handle; 0 is no window.
using WindowId = std::uintptr_t;

struct ScreenRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// Where the main window stands, as the system reports it: enough to put a window over
// it that the user sees.
struct MainWindowPlace {
    ScreenRect rect;
    bool minimised = false;
    // A minimised window's own rectangle lies off the screen (about -32000, -32000 on
    // Windows): where it stands once restored, in workspace coordinates, which leave
    // out a taskbar at the top or the left of its monitor.
    ScreenRect restored;
    // The monitor the system names for the window (for a minimised one, the monitor it
    // is restored to), and that monitor's work area, the screen less the taskbar.
    ScreenRect monitor;
    ScreenRect workArea;
};

class ProgressScreen {
public:
    virtual ~ProgressScreen() = default;

    virtual WindowId mainWindow() = 0;
    virtual MainWindowPlace mainWindowPlace() = 0;
    // Creates the owned, visible, smooth progress bar window, active or not; 0 when
    // that fails. Shown without activation, it stands directly above the main window,
    // below any other program's window in front of it. As long as it exists it gives
    // the system the same reason not to shut down as the main window.
    virtual WindowId createProgressWindow(const std::wstring& title, const ScreenRect& rect,
                                          bool activate, const std::wstring& shutdownReason) = 0;
    // Sets the bar's position and repaints it at once, since no message loop runs.
    virtual void setProgressPosition(WindowId window, std::uint32_t percent) = 0;
    virtual void raiseToTop(WindowId window) = 0;
    virtual WindowId foregroundWindow() = 0;
    virtual void showWindow(WindowId window) = 0;
    virtual void destroyWindow(WindowId window) = 0;

    // The main window's taskbar button. Where the system gives the program none, or
    // has not made it yet, these do nothing.
    // Shows `percent` of 100 done.
    virtual void setTaskbarProgress(std::uint32_t percent) = 0;
    // Shows the progress as failed, at the value it had.
    virtual void setTaskbarError() = 0;
    // Takes the progress off the button.
    virtual void clearTaskbarProgress() = 0;
    // Flashes the button until the main window comes to the foreground, without
    // taking the foreground; and ends such a flash.
    virtual void flashTaskbarButton() = 0;
    virtual void stopFlashingTaskbarButton() = 0;
};

}  // namespace orvanta
