// A control whose changes a screen reader announces wherever the focus is in its
// window: a polite live region, through oleacc's property service and WinEvents per
// change. What is spoken at the event is the control's name, so the name is annotated
// with the text to be heard, and its change told. A reader takes the event only from
// the foreground window (NVDA drops the rest), so what is announced behind another
// window is the caller's to announce again.
#pragma once

#include <windows.h>

#include <string>

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
    // The control's text has changed: its name becomes `spoken` (for oleacc's proxy
    // and UI Automation's) and stays so until the next call; the name change, then the
    // live region's change, are signalled once. Without the service the name stays the
    // label's; the changes are still signalled.
    void announce(const std::wstring& spoken) const;
    // Takes the properties off again before the control goes (WM_DESTROY).
    void detach();

private:
    HWND control_ = nullptr;
    IAccPropServices* services_ = nullptr;
    bool comStarted_ = false;
};

}  // namespace orvanta
