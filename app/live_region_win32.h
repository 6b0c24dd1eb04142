// A control whose changes a screen reader announces wherever the user is working: a
// polite live region, through oleacc's property service and a WinEvent per change.
#pragma once

#include <windows.h>

struct IAccPropServices;

namespace orvanta {

class LiveRegion {
public:
    LiveRegion() = default;
    ~LiveRegion();
    LiveRegion(const LiveRegion&) = delete;
    LiveRegion& operator=(const LiveRegion&) = delete;

    // Makes the control a live region. Without COM or the property service the
    // control stays as it was; its changes are still signalled.
    void attach(HWND control);
    // The control's text has changed.
    void changed() const;
    // Takes the property off again before the control goes (WM_DESTROY).
    void detach();

private:
    HWND control_ = nullptr;
    IAccPropServices* services_ = nullptr;
    bool comStarted_ = false;
};

}  // namespace orvanta
