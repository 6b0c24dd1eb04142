// The main dialog on Win32.
#include "app/dialog_win32.h"

#include <dbt.h>

#include <bitset>
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

void Win32Dialog::attach(HWND mainWindow) {
    mainWindow_ = mainWindow;
    hintLiveRegion_.attach(GetDlgItem(mainWindow, IDC_HINT_PANEL));
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

void Win32Dialog::announceHint(const std::wstring& spoken) { hintLiveRegion_.announce(spoken); }

bool Win32Dialog::inFront() {
    return GetForegroundWindow() == mainWindow_ && IsIconic(mainWindow_) == FALSE;
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
    // The key that pressed the button behind the box, or answered the box before it,
    // is still down: its repeats would answer this box unread. The key that answers
    // this one would go on in what comes next.
    holdKeysNowDown();
    // Fresh keys and clicks are held from the call, and again from the moment the box
    // is seen to stand (filterHeldKeys), however long its creation takes.
    heldKeys_.boxAppears(GetTickCount64(), GetDoubleClickTime());
    boxAppearing_ = true;
    const int answer = MessageBoxW(mainWindow_, text.c_str(), caption.c_str(), style);
    boxAppearing_ = false;
    holdKeysNowDown();
    return answer;
}

namespace {

// The one dialog whose held keys the thread's message filter drops.
Win32Dialog* filteringDialog = nullptr;

// What the queue may hold of the user's while the update ran: keys (system keys such
// as Alt+F4 and the characters made from keys included), mouse messages on the client
// area and on the frame (the close box, the caption), touch and pen, a request to close
// that another program posts, the commands and clicks that automation and voice-control
// tools post to the dialog and its buttons, and a request to quit.
constexpr UINT kDroppedRanges[][2] = {{WM_KEYFIRST, WM_KEYLAST},
                                      {WM_MOUSEFIRST, WM_MOUSELAST},
                                      {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK},
                                      {WM_NCPOINTERUPDATE, WM_POINTERROUTEDRELEASED},
                                      {WM_CLOSE, WM_CLOSE},
                                      {WM_COMMAND, WM_COMMAND},
                                      {BM_CLICK, BM_CLICK},
                                      {WM_QUIT, WM_QUIT}};
// Bounds the passes should input keep coming faster than a pass takes.
constexpr int kMaxDropPasses = 64;

// What the dropped messages said of each key: down when its last one was a key-down.
void noteKey(const MSG& message, std::bitset<256>& keysDown) {
    const auto key = static_cast<std::uint8_t>(message.wParam);
    if (message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN) keysDown.set(key);
    if (message.message == WM_KEYUP || message.message == WM_SYSKEYUP) keysDown.reset(key);
}

// The key is down as far as this thread's messages have told (the key that pressed a
// button or answered a box), or as the system knows it now.
bool keyNowDown(std::uint8_t key) {
    // Mouse buttons (1, 2, 4 to 6) are not keys.
    if (key < VK_BACK || key == 0xFF) return false;
    return ((GetKeyState(key) | GetAsyncKeyState(key)) & 0x8000) != 0;
}

// One pass over every range; true when it removed anything. System commands are all
// taken out; a minimise and a restore are kept.
bool dropQueuedInputOnce(std::vector<MSG>& keptCommands, std::bitset<256>& keysDown) {
    bool removed = false;
    MSG message;
    for (const auto& range : kDroppedRanges) {
        // No PM_QS_* flag: with one, PeekMessage may answer FALSE once it has
        // dispatched a message sent by another thread, with input still queued.
        while (PeekMessageW(&message, nullptr, range[0], range[1], PM_REMOVE)) {
            removed = true;
            noteKey(message, keysDown);
        }
    }
    while (PeekMessageW(&message, nullptr, WM_SYSCOMMAND, WM_SYSCOMMAND, PM_REMOVE)) {
        removed = true;
        if (outlivesRun(message.wParam)) keptCommands.push_back(message);
    }
    return removed;
}

}  // namespace

bool outlivesRun(WPARAM systemCommand) {
    const WPARAM command = systemCommand & 0xFFF0;
    return command == SC_MINIMIZE || command == SC_RESTORE;
}

Win32Dialog::~Win32Dialog() {
    if (keyFilter_ != nullptr) UnhookWindowsHookEx(keyFilter_);
    if (filteringDialog == this) filteringDialog = nullptr;
}

void Win32Dialog::discardUserInput() {
    // Passes until one removes nothing: a message sent by another thread, dispatched
    // inside PeekMessage, may come between input that is still queued.
    keptCommands_.clear();
    std::bitset<256> keysDown;
    for (int pass = 0; pass < kMaxDropPasses && dropQueuedInputOnce(keptCommands_, keysDown);
         ++pass) {
    }
    holdKeysThatAreDown(keysDown);
}

bool Win32Dialog::actOnKeptCommands() {
    // Only now: a disabled dialog, as under a failure box, ignores them. Sent, so that
    // they have acted when this returns.
    const bool wasMinimised = IsIconic(mainWindow_) != FALSE;
    // On the dialog whatever window they were posted to: the progress window they may
    // have been meant for is gone, and its handle may name another window by now.
    for (const MSG& command : keptCommands_) {
        SendMessageW(mainWindow_, command.message, command.wParam, command.lParam);
    }
    keptCommands_.clear();
    return !wasMinimised && IsIconic(mainWindow_) != FALSE;
}

void Win32Dialog::holdFreshKeys() {
    heldKeys_.holdFreshKeysFrom(GetTickCount64());
    filterKeys();
}

void Win32Dialog::holdKeysThatAreDown(const std::bitset<256>& downInQueue) {
    // A key is down when the system says so, or when the last of its messages that
    // were dropped was a key-down: where the system takes the keys' state afresh at a
    // change of focus (Wine does), only the queue may still tell. Mouse buttons (1,
    // 2, 4 to 6) are not keys.
    heldKeys_.holdKeysDown([&](std::uint8_t key) {
        return key >= VK_BACK && key != 0xFF &&
               (downInQueue.test(key) || (GetAsyncKeyState(key) & 0x8000) != 0);
    });
    filterKeys();
}

void Win32Dialog::holdKeysNowDown() {
    heldKeys_.holdKeysDownToo(keyNowDown);
    filterKeys();
}

void Win32Dialog::filterKeys() {
    if (keyFilter_ != nullptr) return;
    filteringDialog = this;
    keyFilter_ = SetWindowsHookExW(WH_MSGFILTER, filterHeldKeys, nullptr, GetCurrentThreadId());
}

void Win32Dialog::activated() {
    // The slowest setting when the system does not say.
    UINT speed = 0;
    if (SystemParametersInfoW(SPI_GETKEYBOARDSPEED, 0, &speed, 0) == FALSE) speed = 0;
    heldKeys_.forgetReleased([](std::uint8_t key) { return (GetAsyncKeyState(key) & 0x8000) != 0; },
                             GetTickCount64(), keyRepeatIntervalMs(speed));
}

namespace {

// A press of a mouse button, on the client area or the frame.
bool isMouseButtonPress(UINT message) {
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
    case WM_XBUTTONDOWN:
    case WM_XBUTTONDBLCLK:
    case WM_NCLBUTTONDOWN:
    case WM_NCLBUTTONDBLCLK:
    case WM_NCRBUTTONDOWN:
    case WM_NCRBUTTONDBLCLK:
    case WM_NCMBUTTONDOWN:
    case WM_NCMBUTTONDBLCLK:
    case WM_NCXBUTTONDOWN:
    case WM_NCXBUTTONDBLCLK:
        return true;
    default:
        return false;
    }
}

}  // namespace

void Win32Dialog::noteBoxStanding(const MSG& message, std::uint64_t nowMs) {
    if (!boxAppearing_) return;
    HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    if (root == nullptr || root == mainWindow_ || IsWindowVisible(root) == FALSE) return;
    boxAppearing_ = false;
    heldKeys_.boxAppears(nowMs, GetDoubleClickTime());
}

LRESULT CALLBACK Win32Dialog::filterHeldKeys(int code, WPARAM wParam, LPARAM lParam) {
    if (code >= 0 && filteringDialog != nullptr) {
        const MSG& message = *reinterpret_cast<const MSG*>(lParam);
        const std::uint64_t now = GetTickCount64();
        filteringDialog->noteBoxStanding(message, now);
        HeldKeys& held = filteringDialog->heldKeys_;
        const bool keyUp = message.message == WM_KEYUP || message.message == WM_SYSKEYUP;
        const bool keyDown = message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN;
        // Bit 29: Alt is down (a system key's context code); bit 30: the key was down
        // before this message, an auto-repeat.
        const KeyContext context{(message.lParam & (1 << 29)) != 0,
                                 (message.lParam & (1 << 30)) != 0};
        if ((keyUp || keyDown) &&
            held.swallows(static_cast<std::uint8_t>(message.wParam), keyUp, now, context)) {
            return 1;
        }
        if (isMouseButtonPress(message.message) && held.swallowsClick(now)) return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void Win32Dialog::holdShutdown(const std::wstring& reason) {
    // Its result is of no use: where the call is not implemented, the program merely
    // goes unnamed at log-off, as it did before. The reason is never read back.
    ShutdownBlockReasonCreate(mainWindow_, reason.c_str());
}

void Win32Dialog::releaseShutdown() { ShutdownBlockReasonDestroy(mainWindow_); }

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
