// Helpers of the Windows test driver: starting the program, finding its windows,
// reading and clicking controls through window messages, screenshots. The driver
// runs under Wine beside the program and waits by bounded polling only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "resources/catalogue.h"

namespace orvanta::driver {

// Counts failed checks; the driver's exit code is nonzero when any failed.
int& failures();
void check(bool condition, const std::string& what);
void checkText(const std::wstring& actual, const std::wstring& expected, const std::string& what);
std::string narrow(const std::wstring& text);

// Polls until the predicate holds or timeoutMs runs out.
bool waitFor(const std::function<bool()>& predicate, std::uint32_t timeoutMs,
             std::uint32_t pollMs = 50);

// A Unix path handed over by ctest, turned into a Windows one (Wine maps / to Z:).
std::wstring windowsPath(const std::string& path);

class Program {
public:
    Program() = default;
    ~Program();  // a program still running is terminated, so nothing is left behind
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool start(const std::wstring& exePath, const std::vector<std::pair<std::wstring, std::wstring>>&
                                                environment = {});
    DWORD processId() const { return info_.dwProcessId; }
    // Waits for the process to end; false when it does not within timeoutMs.
    bool waitForExit(std::uint32_t timeoutMs, DWORD& exitCode);
    bool running() const;

private:
    PROCESS_INFORMATION info_ = {};
    bool started_ = false;
};

// Visible top-level windows of a process with the given class ("#32770" for dialogs).
std::vector<HWND> topLevelWindows(DWORD processId, const wchar_t* className = nullptr);
// The main dialog: the process's visible dialog that holds control 40004.
HWND findMainDialog(DWORD processId);
// A message box: the process's visible dialog other than the main dialog.
HWND findMessageBox(DWORD processId, HWND mainDialog);

std::wstring windowText(HWND window);
std::wstring controlText(HWND dialog, int id);
bool controlEnabled(HWND dialog, int id);
// The message box's text (its static control 0xFFFF).
std::wstring messageBoxText(HWND box);
void pressButton(HWND dialog, int id);

Language userLanguage();
std::wstring catalogueString(std::uint32_t id);

// Saves the window's area of the screen as a 24-bit BMP; the pixels are returned
// too, top-down, BGR.
struct Capture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgr;
};
Capture captureWindow(HWND window, const std::wstring& bmpPath);

}  // namespace orvanta::driver
