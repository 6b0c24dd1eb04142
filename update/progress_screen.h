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

class ProgressScreen {
public:
    virtual ~ProgressScreen() = default;

    virtual WindowId mainWindow() = 0;
    // The window's rectangle on the screen; for a minimised window, the one it has
    // once restored, so that what is centred on it is seen.
    virtual ScreenRect windowRect(WindowId window) = 0;
    // Creates the owned, visible, smooth progress bar window, active or not; 0 when
    // that fails.
    virtual WindowId createProgressWindow(const std::wstring& title, std::int32_t x, std::int32_t y,
                                          std::int32_t width, std::int32_t height,
                                          bool activate) = 0;
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
