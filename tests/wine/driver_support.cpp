// Helpers of the Windows test driver.
#include "tests/wine/driver_support.h"

#include <oleacc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <sstream>

#include "app/held_keys.h"
#include "link/product.h"
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

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

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
        MsgWaitForMultipleObjectsEx(0, nullptr, pollMs, QS_SENDMESSAGE, 0);
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

bool underWine() {
    // Only Wine's ntdll has wine_get_version.
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
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
    for (const auto& [name, value] : environment)
        SetEnvironmentVariableW(name.c_str(), value.c_str());
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

void waitUntilIdle(const Program& program) {
    constexpr std::uint32_t kIdleTimeoutMs = 10000;
    check(WaitForInputIdle(program.process(), kIdleTimeoutMs) == 0, "the program is idle again");
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

bool controlEnabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

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
    // Windows' screen holds whatever stands in front, such as a runner's console.
    if (underWine())
        BitBlt(memory, 0, 0, capture.width, capture.height, screen, rect.left, rect.top, SRCCOPY);
    else
        PrintWindow(window, memory, PW_RENDERFULLCONTENT);
    GdiFlush();
    // A window hidden, closed or moved during the copy left another's pixels there.
    RECT after = {};
    const bool stood =
        IsWindowVisible(window) && GetWindowRect(window, &after) && EqualRect(&rect, &after);
    if (!stood) capture = Capture{};
    const int stride = (capture.width * 3 + 3) & ~3;
    capture.bgr.resize(static_cast<std::size_t>(capture.width) * 3 * capture.height);
    for (int y = 0; y < capture.height; ++y) {
        const auto* row =
            static_cast<const std::uint8_t*>(bits) + static_cast<std::size_t>(y) * stride;
        std::copy(row, row + capture.width * 3,
                  capture.bgr.begin() + static_cast<std::ptrdiff_t>(y) * capture.width * 3);
    }

    if (stood && !bmpPath.empty()) {
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

// --- The emulated build ------------------------------------------------------------

namespace {

constexpr std::uint32_t kControlTakenTimeoutMs = 10000;
constexpr std::uint32_t kCloseTimeoutMs = 20000;
constexpr std::uint32_t kBoxGoneTimeoutMs = 20000;
// What a quick message to the program may take while it is idle.
constexpr std::uint32_t kIdleAnswerMs = 5000;

}  // namespace

bool fileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool writeFileWhole(const std::wstring& path, const std::string& text) {
    const std::wstring temporary = path + L".part";
    HANDLE out = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool wrote =
        WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != FALSE &&
        written == text.size();
    CloseHandle(out);
    if (!wrote) {
        DeleteFileW(temporary.c_str());
        return false;
    }
    return MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool readFileBytes(const std::wstring& path, std::vector<std::uint8_t>& out) {
    HANDLE in = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE) return false;
    out.clear();
    std::uint8_t buffer[65536];
    DWORD got = 0;
    while (ReadFile(in, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        out.insert(out.end(), buffer, buffer + got);
    }
    CloseHandle(in);
    return true;
}

bool readFileLines(const std::wstring& path, std::vector<std::string>& lines) {
    std::vector<std::uint8_t> bytes;
    if (!readFileBytes(path, bytes)) return false;
    std::istringstream text(std::string(bytes.begin(), bytes.end()));
    lines.clear();
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return true;
}

bool traceHolds(const std::wstring& tracePath, const std::string& text) {
    std::vector<std::uint8_t> bytes;
    return readFileBytes(tracePath, bytes) &&
           std::string(bytes.begin(), bytes.end()).find(text) != std::string::npos;
}

namespace {

constexpr std::uint32_t kHostReadyTimeoutMs = 60000;
constexpr std::uint32_t kHostCommandTimeoutMs = 30000;
constexpr std::uint32_t kHostExitTimeoutMs = 20000;

std::wstring environmentValue(const wchar_t* name) {
    wchar_t buffer[1024] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
    return length > 0 && length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

// The `key = value` lines of the host's state file.
std::string stateValue(const std::wstring& stateFile, const std::string& key) {
    std::vector<std::string> lines;
    readFileLines(stateFile, lines);
    const std::string prefix = key + " = ";
    for (const std::string& line : lines) {
        if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
    }
    return {};
}

// The virtual unit's host, started on one scenario and stopped when the next
// scenario starts or the driver ends.
class VirtualUnitHost {
public:
    VirtualUnitHost()
        : host_(environmentValue(L"ORVANTA_VIRTUAL_UNIT_HOST")),
          directory_(environmentValue(L"ORVANTA_VIRTUAL_UNIT_DIR")) {}
    ~VirtualUnitHost() { stop(); }
    VirtualUnitHost(const VirtualUnitHost&) = delete;
    VirtualUnitHost& operator=(const VirtualUnitHost&) = delete;

    bool configured() const { return !host_.empty() && !directory_.empty(); }

    bool start(const std::wstring& scenarioPath) {
        stop();
        DeleteFileW(controlFile().c_str());
        DeleteFileW(stateFile().c_str());
        std::wstring commandLine = L"\"" + host_ + L"\" serve --control \"" + controlFile() +
                                   L"\" --state \"" + stateFile() + L"\" --scenario \"" +
                                   scenarioPath + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        running_ = CreateProcessW(host_.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                  nullptr, nullptr, &startup, &info_) != FALSE;
        check(running_, "virtual unit host started: " + narrow(host_));
        if (!running_) return false;
        const bool ready =
            waitFor([&] { return !stateValue(stateFile(), "state").empty() || !hostAlive(); },
                    kHostReadyTimeoutMs);
        const std::string error = stateValue(stateFile(), "error");
        check(ready && hostAlive() && error.empty(),
              "virtual unit ready: " + stateValue(stateFile(), "state") + " " + error);
        return ready && hostAlive() && error.empty();
    }

    bool command(const std::string& verb) {
        if (!running_) return false;
        const std::string token = verb + "-" + std::to_string(++tokens_);
        const bool taken =
            waitFor([&] { return !fileExists(controlFile()); }, kHostCommandTimeoutMs) &&
            writeFileWhole(controlFile(), verb + " " + token + "\n") &&
            waitFor([&] { return stateValue(stateFile(), "done") == token || !hostAlive(); },
                    kHostCommandTimeoutMs) &&
            hostAlive();
        check(taken, "virtual unit took " + verb + ": " + stateValue(stateFile(), "state"));
        return taken;
    }

    void stop() {
        if (!running_) return;
        if (hostAlive()) {
            writeFileWhole(controlFile(), "quit quit-" + std::to_string(++tokens_) + "\n");
            if (WaitForSingleObject(info_.hProcess, kHostExitTimeoutMs) != WAIT_OBJECT_0) {
                TerminateProcess(info_.hProcess, 99);
                WaitForSingleObject(info_.hProcess, 5000);
            }
        }
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
        running_ = false;
    }

private:
    std::wstring controlFile() const { return directory_ + L"\\control"; }
    std::wstring stateFile() const { return directory_ + L"\\state"; }
    bool hostAlive() const {
        return running_ && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
    }

    std::wstring host_;
    std::wstring directory_;
    PROCESS_INFORMATION info_ = {};
    bool running_ = false;
    int tokens_ = 0;
};

VirtualUnitHost& virtualUnit() {
    static VirtualUnitHost host;
    return host;
}

}  // namespace

bool usesVirtualUnit() { return virtualUnit().configured(); }

bool startEmulated(Program& program, const std::wstring& exePath, const std::wstring& scenarioPath,
                   const std::string& scenarioText,
                   std::vector<std::pair<std::wstring, std::wstring>> environment) {
    DeleteFileW((scenarioPath + L".control").c_str());
    const bool written = writeFileWhole(scenarioPath, scenarioText);
    check(written, "scenario written: " + narrow(scenarioPath));
    if (!written) return false;
    if (usesVirtualUnit() && !virtualUnit().start(scenarioPath)) return false;
    environment.emplace_back(L"ORVANTA_EMULATOR_SCENARIO", scenarioPath);
    return program.start(exePath, environment);
}

bool commandUnit(const std::wstring& scenarioPath, const std::string& command) {
    if (usesVirtualUnit()) {
        if (command != "plug" && command != "unplug") {
            check(false, "the virtual unit cannot play " + command);
            return false;
        }
        return virtualUnit().command(command);
    }
    const std::wstring controlFile = scenarioPath + L".control";
    const bool taken = writeFileWhole(controlFile, command + "\n") &&
                       waitFor([&] { return !fileExists(controlFile); }, kControlTakenTimeoutMs);
    check(taken, "unit command taken: " + command);
    return taken;
}

HWND waitForMainDialog(const Program& program, std::uint32_t timeoutMs) {
    HWND dialog = nullptr;
    waitFor([&] { return (dialog = findMainDialog(program.processId())) != nullptr; }, timeoutMs);
    check(dialog != nullptr, "main dialog visible");
    return dialog;
}

HWND waitForMessageBox(const Program& program, HWND mainDialog, std::uint32_t timeoutMs) {
    HWND box = nullptr;
    waitFor([&] { return (box = findMessageBox(program.processId(), mainDialog)) != nullptr; },
            timeoutMs);
    return box;
}

HWND waitForReady(const Program& program, std::uint32_t timeoutMs) {
    HWND dialog = waitForMainDialog(program, timeoutMs);
    if (dialog == nullptr) return nullptr;
    waitForHint(dialog, catalogueString(IDS_READY), timeoutMs, "ready");
    return dialog;
}

std::wstring scenarioFile(const std::wstring& outputFolder, const std::string& name,
                          const std::string& languageTag) {
    return outputFolder + L"\\" + widen(name + "-" + languageTag + ".scenario");
}

std::wstring scenarioFile(const ScenarioContext& context, const std::string& name) {
    return scenarioFile(context.outputFolder, name, context.languageTag);
}

std::wstring screenshotFile(const ScenarioContext& context, const std::string& name) {
    return context.outputFolder + L"\\" + widen(name + "-" + context.languageTag + ".bmp");
}

HWND startReady(Program& program, const ScenarioContext& context, const std::wstring& path,
                const std::string& scenarioText) {
    if (!startEmulated(program, context.program, path, scenarioText)) return nullptr;
    return waitForReady(program, kStartTimeoutMs);
}

void waitBoxGone(HWND box) {
    check(waitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }, kBoxGoneTimeoutMs),
          "box closed");
}

void waitOutFreshKeyHold() {
    const ULONGLONG start = GetTickCount64();
    waitFor([&] { return GetTickCount64() - start > kFreshKeyHoldMs; }, 2 * kFreshKeyHoldMs, 20);
}

bool answerWithEnter(HWND box) {
    if (!bringToFront(box)) return false;
    waitOutFreshKeyHold();
    pressKey(VK_RETURN);
    waitBoxGone(box);
    return !IsWindow(box) || !IsWindowVisible(box);
}

bool startUpdate(const Program& program, HWND dialog) {
    if (!clickControl(dialog, IDC_UPDATE)) return false;
    HWND box = waitForMessageBox(program, dialog, kBoxGoneTimeoutMs);
    check(box != nullptr, "first confirmation shown");
    if (box == nullptr) return false;
    checkText(windowText(box), catalogueString(IDS_CONFIRM_CAPTION), "first confirmation caption");
    checkText(messageBoxText(box), catalogueString(IDS_CONFIRM_TEXT), "first confirmation text");
    return answerWithEnter(box);
}

HWND findProgressWindow(DWORD processId) {
    const std::vector<HWND> windows = topLevelWindows(processId, L"msctls_progress32");
    return windows.empty() ? nullptr : windows.front();
}

bool waitForStream(const Program& program) {
    const bool streaming = waitFor(
        [&] { return findProgressWindow(program.processId()) != nullptr; }, kProgressTimeoutMs, 10);
    check(streaming, "the stream runs");
    return streaming;
}

void closeAndCheckExit(Program& program, HWND mainDialog) {
    pressButton(mainDialog, IDC_CLOSE);
    DWORD exitCode = 1;
    check(program.waitForExit(kCloseTimeoutMs, exitCode), "program ended after Close");
    check(exitCode == 0, "exit code 0");
}

void captureAndClose(Program& program, HWND mainDialog, const ScenarioContext& context,
                     const std::string& name) {
    captureWindow(mainDialog, screenshotFile(context, name));
    closeAndCheckExit(program, mainDialog);
}

std::wstring storedWindowText(HWND window) {
    wchar_t buffer[512] = {};
    InternalGetWindowText(window, buffer, 512);
    return buffer;
}

bool tryControlText(HWND dialog, int id, std::uint32_t timeoutMs, std::wstring& text) {
    std::vector<wchar_t> buffer(8192, L'\0');
    DWORD_PTR copied = 0;
    const LRESULT answered = SendMessageTimeoutW(GetDlgItem(dialog, id), WM_GETTEXT, buffer.size(),
                                                 reinterpret_cast<LPARAM>(buffer.data()),
                                                 SMTO_NORMAL, timeoutMs, &copied);
    if (answered == 0) return false;
    text.assign(buffer.data());
    return true;
}

bool waitForHint(HWND dialog, const std::wstring& expected, std::uint32_t timeoutMs,
                 const std::string& what) {
    const bool came =
        waitFor([&] { return controlText(dialog, IDC_HINT_PANEL) == expected; }, timeoutMs);
    checkText(came ? expected : L"(after the wait) " + controlText(dialog, IDC_HINT_PANEL),
              expected, what);
    return came;
}

void setControlTextFromOutside(HWND dialog, int id, const std::wstring& text) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(GetDlgItem(dialog, id), WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL, kIdleAnswerMs,
                        &result);
}

RECT controlRectInWindow(HWND dialog, int id) {
    RECT window = {};
    RECT control = {};
    GetWindowRect(dialog, &window);
    GetWindowRect(GetDlgItem(dialog, id), &control);
    OffsetRect(&control, -window.left, -window.top);
    return control;
}

int countPixels(const Capture& capture, const RECT& area, std::uint8_t red, std::uint8_t green,
                std::uint8_t blue) {
    int count = 0;
    const LONG top = area.top < 0 ? 0 : area.top;
    const LONG left = area.left < 0 ? 0 : area.left;
    const LONG bottom = area.bottom > capture.height ? capture.height : area.bottom;
    const LONG right = area.right > capture.width ? capture.width : area.right;
    for (LONG y = top; y < bottom; ++y) {
        for (LONG x = left; x < right; ++x) {
            const std::size_t at = (static_cast<std::size_t>(y) * capture.width + x) * 3;
            if (capture.bgr[at] == blue && capture.bgr[at + 1] == green &&
                capture.bgr[at + 2] == red) {
                ++count;
            }
        }
    }
    return count;
}

std::wstring hintWithInstructions(std::uint32_t messageId) {
    return catalogueString(messageId) + L"\r\n\r\n" + catalogueString(IDS_INSTRUCTIONS);
}

std::wstring blockFailureText(std::uint32_t code, std::uint32_t lastError) {
    wchar_t codeLine[256] = {};
    std::swprintf(codeLine, 256, catalogueString(IDS_ERROR_CODE_LINE).c_str(), code, lastError);
    return catalogueString(IDS_WRITE_BLOCK_FAILED) + L"\r\n" + codeLine;
}

std::string escHoldsImageVersion() {
    char line[64] = {};
    std::snprintf(line, sizeof line, "esc_firmware_version = 0x%04x\n", FIRMWARE_IMAGE_VERSION);
    return line;
}

std::wstring imageVersionShown() {
    return std::to_wstring(FIRMWARE_IMAGE_VERSION >> 8) + L"." +
           std::to_wstring(FIRMWARE_IMAGE_VERSION & 0xFF);
}

std::string wineStderrPath() {
    const char* path = std::getenv("ORVANTA_WINE_STDERR");
    return path != nullptr ? path : "";
}

std::vector<std::string> wineOutputLines(const std::string& path, const char* needle) {
    std::vector<std::string> lines;
    if (!underWine()) {
        check(false, "Wine's stubs print their calls only under Wine");
        return lines;
    }
    readFileLines(windowsPath(path), lines);
    std::erase_if(lines,
                  [&](const std::string& line) { return line.find(needle) == std::string::npos; });
    return lines;
}

// The number after `key` in a line, read as hex ("hwnd 0000000000010080").
unsigned long long hexAfter(const std::string& line, const std::string& key) {
    const std::size_t at = line.find(key);
    if (at == std::string::npos) return ~0ull;
    return std::strtoull(line.c_str() + at + key.size(), nullptr, 16);
}

std::string blockRefusedAt(std::uint32_t block) {
    char line[96] = {};
    std::snprintf(line, sizeof(line),
                  "fault = error_status command=CMD_WRITE_BLOCK occurrence=%u value=0x%X\n",
                  static_cast<unsigned>(block), static_cast<unsigned>(kRefusedBlockCode));
    return line;
}

namespace {

std::vector<std::string> heardTexts;
// The panel's name changes told, and how many of them came before each heard event.
std::size_t nameChanges = 0;
std::vector<std::size_t> nameChangesBefore;

// A reader reads the panel's name at the event; Wine's oleacc only prints its annotation
// (PROPID_ACC_NAME): the text of the last one on the file ORVANTA_WINE_STDERR names.
std::string printedName() {
    const std::string name = " {608d3df8-8128-4aa7-a428-f55e49267291} ";
    const auto lines = wineOutputLines(wineStderrPath(), name.c_str());
    return lines.empty() ? "-" : lines.back().substr(lines.back().find(name) + name.size());
}

// A line of text as Wine prints a call's last argument: L"...") with four hex digits for
// a character outside printable ASCII.
std::string asWinePrints(const std::wstring& text) {
    std::string out = "L\"";
    for (const wchar_t c : text) {
        char printed[8] = {static_cast<char>(c)};
        if (c < 32 || c >= 127) std::snprintf(printed, 8, "\\%04x", static_cast<unsigned>(c));
        out += printed;
    }
    return out + "\")";
}

// On Windows a reader's name of the panel comes from its accessible object, written as
// Wine would print it.
std::string accessibleName(HWND window, LONG object, LONG child) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IAccessible* accessible = nullptr;
    VARIANT childId;
    BSTR name = nullptr;
    std::string heard = "-";
    if (SUCCEEDED(AccessibleObjectFromEvent(window, object, child, &accessible, &childId))) {
        if (SUCCEEDED(accessible->get_accName(childId, &name)) && name != nullptr)
            heard = asWinePrints(std::wstring(name, SysStringLen(name)));
        SysFreeString(name);
        VariantClear(&childId);
        accessible->Release();
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return heard;
}

void CALLBACK hearHintPanel(HWINEVENTHOOK /*hook*/, DWORD event, HWND window, LONG object,
                            LONG child, DWORD /*thread*/, DWORD /*time*/) {
    if (GetDlgCtrlID(window) != IDC_HINT_PANEL || object != OBJID_CLIENT || child != CHILDID_SELF)
        return;
    if (event == EVENT_OBJECT_NAMECHANGE) ++nameChanges;
    if (event != EVENT_OBJECT_LIVEREGIONCHANGED) return;
    nameChangesBefore.push_back(nameChanges);
    heardTexts.push_back(underWine() ? printedName() : accessibleName(window, object, child));
}

}  // namespace

HintPanelListener::HintPanelListener(DWORD processId)
    : hook_(SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_LIVEREGIONCHANGED, nullptr,
                            hearHintPanel, processId, 0, WINEVENT_OUTOFCONTEXT)) {}

void HintPanelListener::forget() {
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    heardTexts.clear();
    nameChanges = 0;
    nameChangesBefore.clear();
}

void HintPanelListener::checkHeard(const std::wstring& text, const std::string& what) {
    const bool heard = waitFor(
        [&] { return std::ranges::find(heardTexts, asWinePrints(text)) != heardTexts.end(); },
        kBoxTimeoutMs);
    check(heard && heardTexts.size() == 1,
          what + ", heard " + std::to_string(heardTexts.size()) + " event(s)");
    check(nameChangesBefore == std::vector<std::size_t>{1} && nameChanges == 1,
          what + ": one name change, before the event");
}

std::string hintPanelName(HWND dialog) {
    return underWine()
               ? printedName()
               : accessibleName(GetDlgItem(dialog, IDC_HINT_PANEL), OBJID_CLIENT, CHILDID_SELF);
}

std::string asScreenReaderGetsIt(const std::wstring& text) { return asWinePrints(text); }

namespace {

constexpr std::uint32_t kFrontTimeoutMs = 5000;
constexpr std::uint32_t kFocusTimeoutMs = 5000;

void sendInputs(INPUT* inputs, UINT count) { SendInput(count, inputs, sizeof(INPUT)); }

}  // namespace

// The window is the foreground and its own thread has taken the activation: the
// foreground changes at once, the thread follows when it has handled the change.
bool activeInItsThread(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    return GetForegroundWindow() == window &&
           GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) &&
           info.hwndActive == window;
}

bool bringToFront(HWND window) {
    // Windows lets a program in the background take the foreground only when it gave the
    // last input: a tap of Alt, as a user's key would.
    if (!underWine()) {
        INPUT alt[2] = {};
        alt[0].type = alt[1].type = INPUT_KEYBOARD;
        alt[0].ki.wVk = alt[1].ki.wVk = VK_MENU;
        alt[1].ki.dwFlags = KEYEVENTF_KEYUP;
        sendInputs(alt, 2);
    }
    SetForegroundWindow(window);
    const bool front = waitFor([&] { return activeInItsThread(window); }, kFrontTimeoutMs);
    check(front, "window brought to the front");
    return front;
}

namespace {

void moveThePointer(int x, int y) {
    // Absolute mouse coordinates run from 0 to 65535 across the primary screen.
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    INPUT move = {};
    move.type = INPUT_MOUSE;
    move.mi.dx = static_cast<LONG>((x * 65535LL + screenWidth / 2) / (screenWidth - 1));
    move.mi.dy = static_cast<LONG>((y * 65535LL + screenHeight / 2) / (screenHeight - 1));
    move.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    sendInputs(&move, 1);
}

// Moves the pointer over the middle of the control, as a hand would before pressing;
// the control, or nullptr when the pointer did not get there.
HWND pointAt(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    RECT rect = {};
    if (control == nullptr || !GetWindowRect(control, &rect)) {
        check(false, "control " + std::to_string(id) + " to click exists");
        return nullptr;
    }
    const int x = (rect.left + rect.right) / 2;
    const int y = (rect.top + rect.bottom) / 2;
    moveThePointer(x, y);
    const bool there = waitFor(
        [&] {
            POINT at = {};
            return GetCursorPos(&at) && at.x == x && at.y == y && WindowFromPoint(at) == control;
        },
        kFrontTimeoutMs);
    check(there, "pointer over control " + std::to_string(id));
    return there ? control : nullptr;
}

void sendLeftButton(DWORD flags) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    sendInputs(&input, 1);
}

}  // namespace

bool clickControl(HWND dialog, int id) {
    if (!bringToFront(GetAncestor(dialog, GA_ROOT))) return false;
    HWND control = pointAt(dialog, id);
    if (control == nullptr) return false;
    check(IsWindowEnabled(control) != FALSE, "control " + std::to_string(id) + " enabled");
    // A hand feels the button go down before it lets go: the release follows once the
    // button holds the mouse. A press the program never took (seen once under load)
    // is made once more; one that it took and let go of is not.
    for (int press = 1; press <= 2; ++press) {
        sendLeftButton(MOUSEEVENTF_LEFTDOWN);
        const bool taken = waitFor(
            [&] {
                GUITHREADINFO info = {};
                info.cbSize = sizeof(info);
                return GetGUIThreadInfo(GetWindowThreadProcessId(control, nullptr), &info) &&
                       info.hwndCapture == control;
            },
            kFrontTimeoutMs);
        sendLeftButton(MOUSEEVENTF_LEFTUP);
        if (taken) return true;
        std::printf("     press %d on control %d not taken\n", press, id);
    }
    check(false, "control " + std::to_string(id) + " took a press");
    return false;
}

bool clickControlWhereItIs(HWND dialog, int id) {
    if (pointAt(dialog, id) == nullptr) return false;
    clickWhereThePointerIs();
    return true;
}

void clickWhereThePointerIs() {
    sendLeftButton(MOUSEEVENTF_LEFTDOWN);
    sendLeftButton(MOUSEEVENTF_LEFTUP);
}

namespace {

INPUT keyInput(WORD virtualKey, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

// A keyboard's auto-repeat as Windows sets it by default: the first repeat after half a
// second, then some 30 downs a second.
constexpr std::uint32_t kKeyRepeatDelayMs = 500;
constexpr std::uint32_t kKeyRepeatMs = 33;

}  // namespace

void pressKey(WORD virtualKey) {
    INPUT inputs[2] = {keyInput(virtualKey, false), keyInput(virtualKey, true)};
    sendInputs(inputs, 2);
}

bool holdKeyUntil(WORD virtualKey, const std::function<bool()>& until, std::uint32_t timeoutMs,
                  std::uint32_t heldAfterMs) {
    INPUT down = keyInput(virtualKey, false);
    sendInputs(&down, 1);
    const ULONGLONG pressed = GetTickCount64();
    const auto repeat = [&] {
        if (GetTickCount64() - pressed >= kKeyRepeatDelayMs) sendInputs(&down, 1);
    };
    const bool reached = waitFor(
        [&] {
            if (until()) return true;
            repeat();
            return false;
        },
        timeoutMs, kKeyRepeatMs);
    for (std::uint32_t held = 0; held < heldAfterMs; held += kKeyRepeatMs) {
        Sleep(kKeyRepeatMs);  // the keyboard's pace, not a wait for the program
        repeat();
    }
    return reached;
}

void holdKeyFor(WORD virtualKey, std::uint32_t heldMs) {
    holdKeyUntil(
        virtualKey, [] { return false; }, heldMs, 0);
    releaseKey(virtualKey);
}

bool answerHeld(const Program& program, HWND dialog, HWND box, WORD key, const std::string& name,
                const std::function<void()>& before) {
    constexpr std::uint32_t kHeldOnFailureBoxMs = 600;  // one repeat after the answer
    if (!bringToFront(box)) return false;
    if (before) {
        before();
    } else {
        waitOutFreshKeyHold();
    }
    holdKeyFor(key, kHeldOnFailureBoxMs);
    waitBoxGone(box);
    const bool hint = waitForHint(dialog, catalogueString(IDS_UPDATE_FAILED_HINT), kBoxTimeoutMs,
                                  name + " held answers the failure box");
    check(leftAlone(dialog) && program.running(), "its repeat closes nothing");
    return hint && program.running();
}

bool leftAlone(HWND window) {
    // Under Wine the program may count as idle before it has taken a key
    // (WaitForInputIdle tells nothing there), so the window is watched for as long as a
    // key may take to act.
    constexpr std::uint32_t kKeyActsWithinMs = 1000;
    return !waitFor([&] { return !IsWindow(window) || !IsWindowVisible(window); }, kKeyActsWithinMs,
                    10);
}

void releaseKey(WORD virtualKey) {
    INPUT up = keyInput(virtualKey, true);
    sendInputs(&up, 1);
}

HWND focusOf(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

void checkKeyboardAlive(Program& program, HWND dialog, const std::string& when) {
    if (!bringToFront(dialog)) return;
    waitOutFreshKeyHold();
    HWND before = nullptr;
    check(waitFor(
              [&] {
                  before = focusOf(dialog);
                  return before != nullptr && IsWindowEnabled(before) &&
                         GetAncestor(before, GA_ROOT) == dialog;
              },
              kFocusTimeoutMs),
          "an enabled control of the dialog has the focus " + when);
    // With "Update" disabled, "Close" is the only tab stop left and Tab keeps the
    // focus where it is; with more, it must move on.
    int tabStops = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) != 0 && IsWindowEnabled(child) &&
            IsWindowVisible(child)) {
            ++tabStops;
        }
    }
    pressKey(VK_TAB);
    HWND after = nullptr;
    const bool moved = waitFor(
        [&] {
            after = focusOf(dialog);
            return after != nullptr && IsWindowEnabled(after) && (tabStops < 2 || after != before);
        },
        kFocusTimeoutMs);
    check(moved, tabStops < 2 ? "Tab keeps the focus on the one tab stop " + when
                              : "Tab moves the focus " + when);
    pressKey(VK_ESCAPE);
    DWORD exitCode = 1;
    check(program.waitForExit(kCloseTimeoutMs, exitCode), "Esc ends the program " + when);
    check(exitCode == 0, "exit code 0 after Esc " + when);
}

void checkHeardAgainAtTitleClick(const Program& program, HWND dialog, HintPanelListener& listener,
                                 const std::wstring& spoken) {
    listener.forget();
    HWND other = CreateWindowExW(0, L"STATIC", L"Another program", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                 0, 0, 300, 200, nullptr, nullptr, nullptr, nullptr);
    if (other == nullptr || !bringToFront(other)) return;
    ShowWindow(dialog, SW_SHOWNOACTIVATE);
    check(waitFor([&] { return IsIconic(dialog) == FALSE; }, kBoxTimeoutMs),
          "the dialog shown behind another program");
    RECT frame = {};
    GetWindowRect(dialog, &frame);
    for (int click = 1; click <= 2; ++click) {
        if (click == 2) bringToFront(other);
        // The title bar, the second click well beside the first: no double-click.
        const POINT title = {
            (frame.left + frame.right) / 2 - 60 * click,
            frame.top + GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2};
        moveThePointer(title.x, title.y);
        waitFor(
            [&] {
                POINT at = {};
                return GetCursorPos(&at) && at.x == title.x && at.y == title.y;
            },
            kFrontTimeoutMs);
        clickWhereThePointerIs();
        check(waitFor([&] { return activeInItsThread(dialog); }, kBoxTimeoutMs),
              "a click on its title activates the dialog");
        waitUntilIdle(program);
        listener.checkHeard(spoken, click == 1 ? "the hint announced again at the first activation"
                                               : "and not again at the next");
    }
    DestroyWindow(other);
}

}  // namespace orvanta::driver
