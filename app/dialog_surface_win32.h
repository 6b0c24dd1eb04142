// The dialog seam on Win32: the main dialog, its controls, the catalogue in the
// module's string tables, message boxes, the progress window and the firmware
// resource.
#pragma once

#include <windows.h>

#include "app/dialog_surface.h"

namespace orvanta {

class Win32DialogSurface final : public DialogSurface {
public:
    explicit Win32DialogSurface(HINSTANCE moduleInstance) : moduleInstance_(moduleInstance) {}
    ~Win32DialogSurface() override;

    void attach(HWND mainWindow) { mainWindow_ = mainWindow; }
    HWND window() const { return mainWindow_; }
    HINSTANCE instance() const { return moduleInstance_; }

    // The one button-face brush for the red texts, created on first use and kept
    // for the life of the dialog.
    HBRUSH buttonFaceBrush();

    std::wstring loadString(std::uint32_t id) override;
    void setWindowTitle(const std::wstring& title) override;
    void setClassIcon() override;
    void setControlText(int id, const std::wstring& text) override;
    std::wstring controlText(int id) override;
    void enableControl(int id, bool enable) override;
    int messageBox(const std::wstring& text, const std::wstring& caption,
                   std::uint32_t style) override;
    bool registerDeviceNotification() override;
    void unregisterDeviceNotification() override;
    void endDialog(std::intptr_t result) override;
    ImageView loadFirmwareImage() override;
    WindowId mainWindow() override;
    ScreenRect windowRect(WindowId window) override;
    WindowId createProgressWindow(const std::wstring& title, std::int32_t x, std::int32_t y,
                                  std::int32_t width, std::int32_t height) override;
    void setProgressPosition(WindowId window, std::uint32_t percent) override;
    void raiseToTop(WindowId window) override;
    WindowId foregroundWindow() override;
    void showWindow(WindowId window) override;
    void destroyWindow(WindowId window) override;
    void setPreciseTiming(bool on) override;

private:
    HINSTANCE moduleInstance_;
    HWND mainWindow_ = nullptr;
    HDEVNOTIFY deviceNotification_ = nullptr;
    HBRUSH buttonFaceBrush_ = nullptr;
    bool preciseTiming_ = false;
};

// Paints the product picture on the main dialog (WM_PAINT).
void paintProductPicture(HWND dialog, HINSTANCE moduleInstance);

}  // namespace orvanta
