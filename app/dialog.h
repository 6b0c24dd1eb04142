// The main dialog as the shell sees it: its title and icon, its controls' texts and
// states, message boxes, the device notification registration, and its end. The
// Win32 build implements it on the real dialog; tests use a recording fake.
#pragma once

#include <cstdint>
#include <string>

#include "update/update_dialog.h"

namespace orvanta {

class Dialog {
public:
    virtual ~Dialog() = default;

    virtual void setWindowTitle(const std::wstring& title) = 0;
    virtual void setClassIcon() = 0;
    virtual void setControlText(int id, const std::wstring& text) = 0;
    virtual std::wstring controlText(int id) = 0;
    // The hint panel's new text stands whole: a screen reader that takes events from
    // the dialog (it is in front) speaks `spoken` for it, and names the panel by it
    // until the next change.
    virtual void announceHint(const std::wstring& spoken) = 0;
    // The dialog is the foreground window and not minimised: a screen reader takes
    // what it announces. Behind another program's window or one of its own boxes, it
    // does not.
    virtual bool inFront() = 0;
    virtual void enableControl(int id, bool enable) = 0;
    // Modal box owned by the main window; returns the button pressed. A key down as it
    // opens (the one that pressed the button behind it, say) does nothing in it, and
    // the key that answered it does nothing in what comes next: either acts again only
    // once released and pressed anew. From the moment it appears, a key that could
    // answer it does nothing until none has come for a second, and a click nothing
    // within a second or the system's double-click time, whichever is longer.
    virtual int messageBox(const std::wstring& text, const std::wstring& caption,
                           std::uint32_t style) = 0;
    // Removes the keys, mouse clicks, touches, close requests, posted commands and
    // button clicks and a request to quit waiting in the thread's queue, on the client
    // area and the frame alike, without acting on any of them; a key held down
    // meanwhile is ignored until it is released. Of the system commands, minimise and
    // restore are kept; every other one goes with the input.
    virtual void discardUserInput() = 0;
    // An update's outcome is about to show: from now until no key-down has come for
    // a second, a key pressed anew does nothing, its repeats and release included.
    virtual void holdFreshKeys() = 0;
    // The kept system commands act, once the outcome they came before has been seen;
    // true when they minimised the dialog.
    virtual bool actOnKeptCommands() = 0;
    // The reason the system gives at log-off or restart for not ending the program.
    virtual void holdShutdown(const std::wstring& reason) = 0;
    virtual void releaseShutdown() = 0;

    // HID interface arrival and removal notifications for the main window.
    virtual bool registerDeviceNotification() = 0;
    virtual void unregisterDeviceNotification() = 0;
    virtual void endDialog(std::intptr_t result) = 0;
};

}  // namespace orvanta
