// One copy of the program on the machine: a second start hands over to the running
// copy before it touches any device, so two copies never talk to one unit.
#pragma once

#include <windows.h>

namespace orvanta {

class SingleInstance {
public:
    SingleInstance();
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // False when another copy of the program runs, in any session.
    bool first() const { return first_; }

private:
    HANDLE mutex_ = nullptr;
    bool first_ = true;
};

// Brings the running copy's main window, or the box it shows, to the front, without
// waiting on that copy; waits a little for the window when that copy is still
// starting. False when there is no window to bring: the copy runs for another user,
// or on another desktop.
bool bringRunningCopyToFront();

}  // namespace orvanta
