// The main dialog on Win32: its controls, message boxes, the device notification
// registration, the red texts' brush, the product picture, and the hint panel's place
// after its label and its announcements.
#pragma once

#include <windows.h>

#include <bitset>
#include <vector>

#include "app/dialog.h"
#include "app/held_keys.h"
#include "app/live_region_win32.h"

namespace orvanta {

class Win32Dialog final : public Dialog {
public:
    explicit Win32Dialog(HINSTANCE moduleInstance) : moduleInstance_(moduleInstance) {}
    ~Win32Dialog() override;
    Win32Dialog(const Win32Dialog&) = delete;
    Win32Dialog& operator=(const Win32Dialog&) = delete;

    // WM_INITDIALOG: the dialog's window, and the hint panel made a live region.
    void attach(HWND mainWindow);
    // WM_DESTROY: the hint panel is no live region any more.
    void destroyed() { hintLiveRegion_.detach(); }
    HWND window() const { return mainWindow_; }
    HINSTANCE instance() const { return moduleInstance_; }
    // The program has the keyboard again (WM_ACTIVATEAPP): a held key released while
    // it had not is let go, unless its next key-down is a repeat.
    void activated();

    // The button-face brush behind the red texts.
    static HBRUSH buttonFaceBrush();

    void setWindowTitle(const std::wstring& title) override;
    void setClassIcon() override;
    void setControlText(int id, const std::wstring& text) override;
    std::wstring controlText(int id) override;
    void announceHint(const std::wstring& spoken) override;
    bool inFront() override;
    void enableControl(int id, bool enable) override;
    int messageBox(const std::wstring& text, const std::wstring& caption,
                   std::uint32_t style) override;
    void discardUserInput() override;
    void holdFreshKeys() override;
    bool actOnKeptCommands() override;
    void holdShutdown(const std::wstring& reason) override;
    void releaseShutdown() override;
    bool registerDeviceNotification() override;
    void unregisterDeviceNotification() override;
    void endDialog(std::intptr_t result) override;

private:
    static LRESULT CALLBACK filterHeldKeys(int code, WPARAM wParam, LPARAM lParam);
    void holdKeysThatAreDown(const std::bitset<256>& downInQueue);
    void holdKeysNowDown();
    // Sets the message filter up, at the first key that is held.
    void filterKeys();
    // The first message of a box's own window that the filter sees while the box is
    // visible marks the moment it appears.
    void noteBoxStanding(const MSG& message, std::uint64_t nowMs);

    HINSTANCE moduleInstance_;
    HWND mainWindow_ = nullptr;
    HDEVNOTIFY deviceNotification_ = nullptr;
    HeldKeys heldKeys_;
    // The minimises and restores that came during the run, given again once its
    // outcome has been seen.
    std::vector<MSG> keptCommands_;
    // A screen reader announces the hint panel's changes wherever the focus is in the
    // dialog, while the dialog is in front.
    LiveRegion hintLiveRegion_;
    // Sees every message of the dialog's and the message boxes' modal loops before
    // they act on it; set at the first box or the first end of an update.
    HHOOK keyFilter_ = nullptr;
    // From the call of a box until the filter has seen it stand.
    bool boxAppearing_ = false;
};

// The system commands given during an update that act once its outcome has been seen:
// a minimise and a restore. Any other (a close, the system menu, a move, the screen
// saver) goes with the run's input.
bool outlivesRun(WPARAM systemCommand);

// Paints the product picture on the main dialog (WM_PAINT).
void paintProductPicture(HWND dialog, HINSTANCE moduleInstance);
// Puts the hint panel directly after its label in the z-order, so that a screen
// reader names it after the label. Nothing moves, nothing is activated.
void placeHintPanelAfterItsLabel(HWND dialog);

}  // namespace orvanta
