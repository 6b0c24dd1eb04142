// The dialog seam on Win32.
#include "app/dialog_surface_win32.h"

#include <commctrl.h>
#include <dbt.h>

#include <vector>

#include "app/shell.h"
#include "app/system_libraries_win32.h"
#include "resources/resource_ids.h"

namespace orvanta {
namespace {

// Catalogue texts are loaded into buffers of this many characters.
constexpr int kTextBufferChars = 2048;

HWND asWindow(WindowId window) { return reinterpret_cast<HWND>(window); }

// Selects an object into a DC and puts the previous one back on every way out.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~SelectedObject() {
        if (previous_ != nullptr) SelectObject(dc_, previous_);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace

Win32DialogSurface::~Win32DialogSurface() {
    if (buttonFaceBrush_ != nullptr) DeleteObject(buttonFaceBrush_);
    setPreciseTiming(false);
}

HBRUSH Win32DialogSurface::buttonFaceBrush() {
    if (buttonFaceBrush_ == nullptr)
        buttonFaceBrush_ = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    return buttonFaceBrush_;
}

std::wstring Win32DialogSurface::loadString(std::uint32_t id) {
    wchar_t buffer[kTextBufferChars] = {};
    const int length = LoadStringW(moduleInstance_, id, buffer, kTextBufferChars);
    return std::wstring(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

void Win32DialogSurface::setWindowTitle(const std::wstring& title) {
    SendMessageW(mainWindow_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(title.c_str()));
}

void Win32DialogSurface::setClassIcon() {
    HICON icon = LoadIconW(moduleInstance_, MAKEINTRESOURCEW(IDI_APP_ICON));
    // The pointer-sized variant: the 32-bit call would cut the handle in a 64-bit process.
    SetClassLongPtrW(mainWindow_, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));
}

void Win32DialogSurface::setControlText(int id, const std::wstring& text) {
    SetDlgItemTextW(mainWindow_, id, text.c_str());
}

std::wstring Win32DialogSurface::controlText(int id) {
    HWND control = GetDlgItem(mainWindow_, id);
    const int length = GetWindowTextLengthW(control);
    if (length <= 0) return {};
    std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1);
    const int copied = GetWindowTextW(control, buffer.data(), length + 1);
    return std::wstring(buffer.data(), copied > 0 ? static_cast<std::size_t>(copied) : 0);
}

void Win32DialogSurface::enableControl(int id, bool enable) {
    HWND control = GetDlgItem(mainWindow_, id);
    if (!enable && control != nullptr && GetFocus() == control) {
        // A disabled control keeps the focus but takes no keys, and the dialog
        // manager would then ignore Esc, Enter and Tab for good. Hand the focus
        // on first, the way the dialog itself moves it ("Close" always takes it).
        SendMessageW(mainWindow_, WM_NEXTDLGCTL, 0, FALSE);
    }
    EnableWindow(control, enable ? TRUE : FALSE);
}

int Win32DialogSurface::messageBox(const std::wstring& text, const std::wstring& caption,
                                   std::uint32_t style) {
    return MessageBoxW(mainWindow_, text.c_str(), caption.c_str(), style);
}

bool Win32DialogSurface::registerDeviceNotification() {
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    if (systemLibraries().hid.getHidGuid != nullptr) {
        systemLibraries().hid.getHidGuid(&filter.dbcc_classguid);
    }
    deviceNotification_ =
        RegisterDeviceNotificationW(mainWindow_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    return deviceNotification_ != nullptr;
}

void Win32DialogSurface::unregisterDeviceNotification() {
    if (deviceNotification_ != nullptr) UnregisterDeviceNotification(deviceNotification_);
    deviceNotification_ = nullptr;
}

void Win32DialogSurface::endDialog(std::intptr_t result) { EndDialog(mainWindow_, result); }

ImageView Win32DialogSurface::loadFirmwareImage() {
    ImageView view;
    HRSRC found = FindResourceW(moduleInstance_, MAKEINTRESOURCEW(IDR_FIRMWARE_IMAGE),
                                MAKEINTRESOURCEW(10));  // RT_RCDATA
    if (found == nullptr) return view;
    HGLOBAL loaded = LoadResource(moduleInstance_, found);
    if (loaded == nullptr) return view;
    view.data = static_cast<const std::uint8_t*>(LockResource(loaded));
    view.length = view.data != nullptr ? SizeofResource(moduleInstance_, found) : 0;
    return view;
}

WindowId Win32DialogSurface::mainWindow() { return reinterpret_cast<WindowId>(mainWindow_); }

ScreenRect Win32DialogSurface::windowRect(WindowId window) {
    RECT rect = {};
    GetWindowRect(asWindow(window), &rect);
    return ScreenRect{rect.left, rect.top, rect.right, rect.bottom};
}

WindowId Win32DialogSurface::createProgressWindow(const std::wstring& title, std::int32_t x,
                                                  std::int32_t y, std::int32_t width,
                                                  std::int32_t height) {
    // An owned top-level window (neither child nor popup), so it gets a caption
    // that carries the title.
    HWND window = CreateWindowExW(0, PROGRESS_CLASSW, title.c_str(), WS_VISIBLE | PBS_SMOOTH, x, y,
                                  width, height, mainWindow_, nullptr, moduleInstance_, nullptr);
    return reinterpret_cast<WindowId>(window);
}

void Win32DialogSurface::setProgressPosition(WindowId window, std::uint32_t percent) {
    SendMessageW(asWindow(window), PBM_SETPOS, percent, 0);
    // No message loop runs during the stream: paint the new position now.
    UpdateWindow(asWindow(window));
}

void Win32DialogSurface::raiseToTop(WindowId window) {
    SetWindowPos(asWindow(window), HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

WindowId Win32DialogSurface::foregroundWindow() {
    return reinterpret_cast<WindowId>(GetForegroundWindow());
}

void Win32DialogSurface::showWindow(WindowId window) { ShowWindow(asWindow(window), SW_SHOW); }

void Win32DialogSurface::destroyWindow(WindowId window) { DestroyWindow(asWindow(window)); }

void Win32DialogSurface::setPreciseTiming(bool on) {
    // 1 ms timer resolution keeps each 20 ms pause at 20 ms instead of two ticks
    // of the default 15.6 ms timer.
    if (on == preciseTiming_) return;
    const SystemLibraries& libraries = systemLibraries();
    if (on && libraries.timeBeginPeriod != nullptr) libraries.timeBeginPeriod(1);
    if (!on && libraries.timeEndPeriod != nullptr) libraries.timeEndPeriod(1);
    preciseTiming_ = on;
}

void paintProductPicture(HWND dialog, HINSTANCE moduleInstance) {
    PAINTSTRUCT paint;
    HDC paintDc = BeginPaint(dialog, &paint);
    HBITMAP bitmap = LoadBitmapW(moduleInstance, MAKEINTRESOURCEW(IDB_PRODUCT_PICTURE));
    BITMAP info = {};
    GetObjectW(bitmap, sizeof(info), &info);
    HDC memoryDc = CreateCompatibleDC(paintDc);
    {
        SelectedObject selected(memoryDc, bitmap);
        RECT window = {};
        RECT group = {};
        GetWindowRect(dialog, &window);
        GetWindowRect(GetDlgItem(dialog, IDC_VERSION_GROUP), &group);
        const PicturePlacement placement = placeProductPicture(
            ScreenRect{window.left, window.top, window.right, window.bottom},
            ScreenRect{group.left, group.top, group.right, group.bottom}, info.bmWidth,
            info.bmHeight, GetSystemMetrics(SM_CXDLGFRAME), GetSystemMetrics(SM_CYCAPTION));
        const auto transparentBlt = systemLibraries().transparentBlt;
        if (placement.draw && transparentBlt != nullptr) {
            transparentBlt(paintDc, placement.x, placement.y, placement.width, placement.height,
                           memoryDc, 0, 0, info.bmWidth, info.bmHeight, RGB(0, 255, 0));
        }
    }
    DeleteDC(memoryDc);
    DeleteObject(bitmap);
    EndPaint(dialog, &paint);
}

}  // namespace orvanta
