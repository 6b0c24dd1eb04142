// The main dialog on Win32.
#include "app/dialog_win32.h"

#include <dbt.h>

#include <vector>

#include "app/shell.h"
#include "link/system_libraries_win32.h"
#include "resources/resource_ids.h"

namespace orvanta {
namespace {

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

HBRUSH Win32Dialog::buttonFaceBrush() {
    // The system's own brush follows theme and high-contrast changes, and is never
    // deleted.
    return GetSysColorBrush(COLOR_BTNFACE);
}

void Win32Dialog::setWindowTitle(const std::wstring& title) {
    SendMessageW(mainWindow_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(title.c_str()));
}

void Win32Dialog::setClassIcon() {
    HICON icon = LoadIconW(moduleInstance_, MAKEINTRESOURCEW(IDI_APP_ICON));
    // The pointer-sized variant: the 32-bit call would cut the handle in a 64-bit process.
    SetClassLongPtrW(mainWindow_, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));
}

void Win32Dialog::setControlText(int id, const std::wstring& text) {
    SetDlgItemTextW(mainWindow_, id, text.c_str());
}

std::wstring Win32Dialog::controlText(int id) {
    HWND control = GetDlgItem(mainWindow_, id);
    const int length = GetWindowTextLengthW(control);
    if (length <= 0) return {};
    std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1);
    const int copied = GetWindowTextW(control, buffer.data(), length + 1);
    return std::wstring(buffer.data(), copied > 0 ? static_cast<std::size_t>(copied) : 0);
}

void Win32Dialog::enableControl(int id, bool enable) {
    HWND control = GetDlgItem(mainWindow_, id);
    if (!enable && control != nullptr && GetFocus() == control) {
        // A disabled control keeps the focus but takes no keys, and the dialog
        // manager would then ignore Esc, Enter and Tab for good. Hand the focus
        // on first, the way the dialog itself moves it ("Close" always takes it).
        SendMessageW(mainWindow_, WM_NEXTDLGCTL, 0, FALSE);
    }
    EnableWindow(control, enable ? TRUE : FALSE);
}

int Win32Dialog::messageBox(const std::wstring& text, const std::wstring& caption,
                            std::uint32_t style) {
    return MessageBoxW(mainWindow_, text.c_str(), caption.c_str(), style);
}

void Win32Dialog::discardUserInput() {
    // Each range is emptied on its own: keys (system keys such as Alt+F4 and the
    // characters made from keys included), mouse messages on the client area, and
    // mouse messages on the frame (the close box, the caption).
    constexpr UINT kRanges[][2] = {{WM_KEYFIRST, WM_KEYLAST},
                                   {WM_MOUSEFIRST, WM_MOUSELAST},
                                   {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK}};
    MSG message;
    for (const auto& range : kRanges) {
        while (PeekMessageW(&message, nullptr, range[0], range[1], PM_REMOVE | PM_QS_INPUT)) {
        }
    }
}

bool Win32Dialog::registerDeviceNotification() {
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

void Win32Dialog::unregisterDeviceNotification() {
    if (deviceNotification_ != nullptr) UnregisterDeviceNotification(deviceNotification_);
    deviceNotification_ = nullptr;
}

void Win32Dialog::endDialog(std::intptr_t result) { EndDialog(mainWindow_, result); }

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

void placeHintPanelAfterItsLabel(HWND dialog) {
    HWND panel = GetDlgItem(dialog, IDC_HINT_PANEL);
    if (panel == nullptr) return;
    const auto screenRect = [](HWND window) {
        RECT rect = {};
        GetWindowRect(window, &rect);
        return ScreenRect{rect.left, rect.top, rect.right, rect.bottom};
    };
    std::vector<HWND> windows;
    std::vector<DialogControl> controls;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[8] = {};
        GetClassNameW(child, className, 8);
        int id = GetDlgCtrlID(child);
        // A template with 16-bit ids stores -1 as 0xFFFF.
        if (id == 0xFFFF) id = IDC_HINT_LABEL;
        windows.push_back(child);
        controls.push_back({id, lstrcmpiW(className, L"Static") == 0, screenRect(child)});
    }
    const int label = findHintLabel(controls, screenRect(panel));
    if (label < 0) return;
    // Windows' accessibility proxy names an edit control after the static just before
    // it in the z-order. Tab order follows the z-order too, but neither the panel nor
    // the label is a tab stop, so "Update" and "Close" keep theirs.
    SetWindowPos(panel, windows[static_cast<std::size_t>(label)], 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

}  // namespace orvanta
