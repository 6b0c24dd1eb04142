// The main window's taskbar button on Win32: its progress through the shell's taskbar
// list, which the program takes once the shell has announced the button.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <cstdint>

namespace orvanta {

class Win32Taskbar {
public:
    Win32Taskbar() = default;
    ~Win32Taskbar();
    Win32Taskbar(const Win32Taskbar&) = delete;
    Win32Taskbar& operator=(const Win32Taskbar&) = delete;

    // The shell has made the button, or made it again after it restarted: the list is
    // taken anew. Without COM or the list, the button simply shows no progress.
    void buttonCreated();
    void setProgress(HWND window, std::uint32_t percent);
    void setState(HWND window, TBPFLAG state);

private:
    void releaseList();

    ITaskbarList3* list_ = nullptr;
    bool comStarted_ = false;
};

}  // namespace orvanta
