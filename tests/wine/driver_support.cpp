// Helpers of the Windows test driver.
#include "tests/wine/driver_support.h"

#include <cstdio>
#include <cwchar>

#include "resources/resource_ids.h"

namespace orvanta::driver {

int& failures() {
    static int count = 0;
    return count;
}

std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                          nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), bytes,
                        nullptr, nullptr);
    return out;
}

void check(bool condition, const std::string& what) {
    std::printf("%s %s\n", condition ? "ok  " : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!condition) ++failures();
}

void checkText(const std::wstring& actual, const std::wstring& expected, const std::string& what) {
    const bool same = actual == expected;
    check(same, what);
    if (!same) {
        std::printf("     expected: \"%s\"\n     actual:   \"%s\"\n", narrow(expected).c_str(),
                    narrow(actual).c_str());
    }
}

bool waitFor(const std::function<bool()>& predicate, std::uint32_t timeoutMs,
             std::uint32_t pollMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (true) {
        if (predicate()) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(pollMs);
    }
}

std::wstring windowsPath(const std::string& path) {
    std::wstring out;
    if (!path.empty() && path[0] == '/') out = L"Z:";
    for (char c : path) out += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return out;
}

Program::~Program() {
    if (!started_) return;
    if (running()) {
        TerminateProcess(info_.hProcess, 99);
        WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

bool Program::start(const std::wstring& exePath,
                    const std::vector<std::pair<std::wstring, std::wstring>>& environment) {
    for (const auto& [name, value] : environment) SetEnvironmentVariableW(name.c_str(), value.c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    std::wstring commandLine = L"\"" + exePath + L"\"";
    started_ = CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                              nullptr, nullptr, &startup, &info_) != FALSE;
    for (const auto& entry : environment) SetEnvironmentVariableW(entry.first.c_str(), nullptr);
    check(started_, "program started: " + narrow(exePath));
    return started_;
}

bool Program::running() const {
    return started_ && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

bool Program::waitForExit(std::uint32_t timeoutMs, DWORD& exitCode) {
    if (!started_ || WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(info_.hProcess, &exitCode);
    return true;
}

namespace {

struct WindowSearch {
    DWORD processId;
    const wchar_t* className;
    std::vector<HWND> found;
};

BOOL CALLBACK collectWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
    if (search->className != nullptr) {
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (std::wcscmp(name, search->className) != 0) return TRUE;
    }
    search->found.push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> topLevelWindows(DWORD processId, const wchar_t* className) {
    WindowSearch search{processId, className, {}};
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND findMainDialog(DWORD processId) {
    for (HWND window : topLevelWindows(processId, L"#32770")) {
        if (GetDlgItem(window, IDC_HINT_PANEL) != nullptr) return window;
    }
    return nullptr;
}

HWND findMessageBox(DWORD processId, HWND mainDialog) {
    for (HWND window : topLevelWindows(processId, L"#32770")) {
        if (window != mainDialog && GetDlgItem(window, IDC_HINT_PANEL) == nullptr) return window;
    }
    return nullptr;
}

std::wstring windowText(HWND window) {
    std::vector<wchar_t> buffer(8192, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                        SMTO_ABORTIFHUNG, 5000, &copied);
    return std::wstring(buffer.data());
}

std::wstring controlText(HWND dialog, int id) { return windowText(GetDlgItem(dialog, id)); }

bool controlEnabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

std::wstring messageBoxText(HWND box) { return controlText(box, 0xFFFF); }

void pressButton(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

Language userLanguage() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_GERMAN ? Language::german
                                                                     : Language::english;
}

std::wstring catalogueString(std::uint32_t id) {
    const wchar_t* text = catalogueText(id, userLanguage());
    return text != nullptr ? std::wstring(text) : std::wstring();
}

Capture captureWindow(HWND window, const std::wstring& bmpPath) {
    Capture capture;
    RECT rect = {};
    GetWindowRect(window, &rect);
    capture.width = rect.right - rect.left;
    capture.height = rect.bottom - rect.top;
    if (capture.width <= 0 || capture.height <= 0) return capture;

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = capture.width;
    info.bmiHeader.biHeight = -capture.height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, capture.width, capture.height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    const int stride = (capture.width * 3 + 3) & ~3;
    capture.bgr.resize(static_cast<std::size_t>(capture.width) * 3 * capture.height);
    for (int y = 0; y < capture.height; ++y) {
        const auto* row = static_cast<const std::uint8_t*>(bits) + static_cast<std::size_t>(y) * stride;
        std::copy(row, row + capture.width * 3,
                  capture.bgr.begin() + static_cast<std::ptrdiff_t>(y) * capture.width * 3);
    }

    if (!bmpPath.empty()) {
        BITMAPFILEHEADER file = {};
        const DWORD imageBytes = static_cast<DWORD>(stride) * capture.height;
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
        file.bfSize = file.bfOffBits + imageBytes;
        HANDLE out = CreateFileW(bmpPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (out != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(out, &file, sizeof(file), &written, nullptr);
            WriteFile(out, &info.bmiHeader, sizeof(info.bmiHeader), &written, nullptr);
            WriteFile(out, bits, imageBytes, &written, nullptr);
            CloseHandle(out);
        }
    }
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return capture;
}

}  // namespace orvanta::driver
