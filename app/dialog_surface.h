// The seam between the deciding code and the windows: everything the shell and the
// update procedure do to the screen, the catalogue and the firmware resource goes
// through here. The Win32 build implements it on the main dialog; tests use a fake.
#pragma once

#include <cstddef>
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

// Message box styles and answers, with the platform's values.
inline constexpr std::uint32_t kMbOk = 0x0;
inline constexpr std::uint32_t kMbOkCancel = 0x1;
inline constexpr std::uint32_t kMbYesNo = 0x4;
inline constexpr std::uint32_t kMbIconError = 0x10;
inline constexpr std::uint32_t kMbIconWarning = 0x30;
inline constexpr std::uint32_t kMbIconInformation = 0x40;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// Read-only bytes of the embedded firmware image; data is null when it is missing.
struct ImageView {
    const std::uint8_t* data = nullptr;
    std::size_t length = 0;
};

class DialogSurface {
public:
    virtual ~DialogSurface() = default;

    // Catalogue text by message id, in the user's language, cut to 2047 characters.
    virtual std::wstring loadString(std::uint32_t id) = 0;

    virtual void setWindowTitle(const std::wstring& title) = 0;
    virtual void setClassIcon() = 0;
    virtual void setControlText(int id, const std::wstring& text) = 0;
    virtual std::wstring controlText(int id) = 0;
    virtual void enableControl(int id, bool enable) = 0;
    // Modal box owned by the main window; returns the button pressed.
    virtual int messageBox(const std::wstring& text, const std::wstring& caption,
                           std::uint32_t style) = 0;

    // HID interface arrival and removal notifications for the main window.
    virtual bool registerDeviceNotification() = 0;
    virtual void unregisterDeviceNotification() = 0;
    virtual void endDialog(std::intptr_t result) = 0;

    virtual ImageView loadFirmwareImage() = 0;

    // The progress window and the stacking order during the stream.
    virtual WindowId mainWindow() = 0;
    virtual ScreenRect windowRect(WindowId window) = 0;
    // Creates the owned, visible, smooth progress bar window; 0 when that fails.
    virtual WindowId createProgressWindow(const std::wstring& title, std::int32_t x, std::int32_t y,
                                          std::int32_t width, std::int32_t height) = 0;
    // Sets the bar's position and repaints it at once, since no message loop runs.
    virtual void setProgressPosition(WindowId window, std::uint32_t percent) = 0;
    virtual void raiseToTop(WindowId window) = 0;
    virtual WindowId foregroundWindow() = 0;
    virtual void showWindow(WindowId window) = 0;
    virtual void destroyWindow(WindowId window) = 0;

    // Finer system timer while the update paces the unit; restored when off.
    virtual void setPreciseTiming(bool on) = 0;
};

}  // namespace orvanta
