// The progress window on Win32: a common-controls progress bar as an owned
// top-level window over the main dialog, and the main window's taskbar button.
#pragma once

#include <windows.h>

#include "update/progress_screen.h"
#include "update/taskbar_win32.h"

namespace orvanta {

class Win32ProgressScreen final : public ProgressScreen {
public:
    explicit Win32ProgressScreen(HINSTANCE moduleInstance) : moduleInstance_(moduleInstance) {}

    void attach(HWND mainWindow) { mainWindow_ = mainWindow; }

    WindowId mainWindow() override;
    MainWindowPlace mainWindowPlace() override;
    WindowId createProgressWindow(const std::wstring& title, const ScreenRect& rect, bool activate,
                                  const std::wstring& shutdownReason) override;
    void setProgressPosition(WindowId window, std::uint32_t percent) override;
    void raiseToTop(WindowId window) override;
    WindowId foregroundWindow() override;
    void showWindow(WindowId window) override;
    void destroyWindow(WindowId window) override;
    void setTaskbarProgress(std::uint32_t percent) override;
    void setTaskbarError() override;
    void clearTaskbarProgress() override;
    void flashTaskbarButton() override;
    void stopFlashingTaskbarButton() override;

    // The shell's "TaskbarButtonCreated" for the main window.
    void taskbarButtonCreated() { taskbar_.buttonCreated(); }

private:
    HINSTANCE moduleInstance_;
    HWND mainWindow_ = nullptr;
    Win32Taskbar taskbar_;
};

}  // namespace orvanta
