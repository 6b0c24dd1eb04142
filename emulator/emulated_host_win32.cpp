// The emulated programming unit inside the Windows program.
#include "emulator/emulated_host_win32.h"

#include <dbt.h>

#include <cstdio>
#include <sstream>
#include <vector>

namespace orvanta {
namespace {

constexpr UINT_PTR kControlTimerId = 0x0E1A;
EmulatedHost* activeHost = nullptr;

std::wstring environmentValue(const wchar_t* name) {
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) return {};
    std::wstring value(needed, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), needed);
    value.resize(length);
    return value;
}

// Reads a whole file; false when it does not exist or cannot be read.
bool readWholeFile(const std::wstring& path, std::string& out) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    out.clear();
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        out.append(buffer, got);
    CloseHandle(file);
    return true;
}

std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

}  // namespace

EmulatedHost::EmulatedHost(Clock& clock) : bus_(clock) {
    std::string text = kDefaultLatencyLine;
    const std::wstring scenarioFile = environmentValue(kScenarioVariable);
    if (!scenarioFile.empty()) {
        std::string fileText;
        if (readWholeFile(scenarioFile, fileText)) {
            text += fileText;
        } else {
            reportError("cannot read the scenario file " + narrow(scenarioFile));
        }
        controlFile_ = scenarioFile + kControlSuffix;
    } else {
        controlFile_ = kDefaultControlFile;
    }
    scenarioText_ = text;
    std::string error;
    if (!parseScenario(text, scenario_, error)) {
        reportError("scenario: " + error);
        parseScenario(kDefaultLatencyLine, scenario_, error);
    }
    unit_ = &applyScenario(scenario_, bus_, error);
    if (!error.empty()) reportError(error);
    unitPath_ = bus_.pathAt(bus_.interfaceCount() - 1);
    // A unit absent at start has not left: the system announces nothing for it.
    bus_.takePresenceChanges();
}

void EmulatedHost::reportError(const std::string& message) {
    // The emulated build is for demonstrations and tests: say what is wrong on the
    // debugger channel and stderr, and carry on with what could be read.
    OutputDebugStringA(("emulated unit: " + message + "\n").c_str());
    std::fprintf(stderr, "emulated unit: %s\n", message.c_str());
}

void EmulatedHost::attach(HWND mainWindow) {
    mainWindow_ = mainWindow;
    activeHost = this;
    SetTimer(mainWindow, kControlTimerId, kControlPollMs, &EmulatedHost::onTimer);
}

void CALLBACK EmulatedHost::onTimer(HWND /*window*/, UINT /*message*/, UINT_PTR /*id*/,
                                    DWORD /*time*/) {
    if (activeHost != nullptr) activeHost->poll();
}

void EmulatedHost::poll() {
    std::string commands;
    if (readWholeFile(controlFile_, commands)) {
        DeleteFileW(controlFile_.c_str());
        std::istringstream lines(commands);
        std::string command;
        while (std::getline(lines, command)) {
            while (!command.empty() && (command.back() == '\r' || command.back() == ' '))
                command.pop_back();
            if (!command.empty()) runCommand(command);
        }
    }
    announcePresenceChanges();
    saveFlashIfChanged();
}

// Plugs and unplugs by command, by a scenario fault in the middle of an exchange or
// by a fault's replug are announced as the system announces a real plug.
void EmulatedHost::announcePresenceChanges() {
    for (const PresenceChange& change : bus_.takePresenceChanges()) {
        notify(change.arrived ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE, change.path);
    }
}

void EmulatedHost::runCommand(const std::string& command) {
    if (command == "unplug") {
        bus_.unplug(unitPath_);
    } else if (command == "plug") {
        bus_.plug(unitPath_);
    } else if (command == "other") {
        announcePresenceChanges();
        ++otherDevices_;
        const std::wstring path = L"\\\\?\\HID#VID_046D&PID_C52B&MI_0" +
                                  std::to_wstring(otherDevices_) +
                                  L"#emulated#{4d1e55b2-f16f-11cf-88cb-001111000030}";
        bus_.addOtherDevice(0x046D, 0xC52B, path);
        notify(DBT_DEVICEARRIVAL, path);
    } else if (command.rfind("set ", 0) == 0) {
        // A scenario line for the unit, as if the user had swapped its ESC: it
        // counts from the unit's next request or plug.
        Scenario changed;
        std::string error;
        const std::string text = scenarioText_ + "\n" + command.substr(4) + "\n";
        if (parseScenario(text, changed, error)) {
            scenarioText_ = text;
            unit_->config() = changed.unit;
        } else {
            reportError("control command " + command + ": " + error);
        }
    } else {
        reportError("unknown control command " + command);
    }
}

void EmulatedHost::notify(WPARAM event, const std::wstring& path) {
    // The record the system sends: the fixed part, then the path with its terminator.
    const std::size_t bytes =
        sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + path.size() * sizeof(wchar_t);
    std::vector<std::uint8_t> storage(bytes, 0);
    auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(storage.data());
    record->dbcc_size = static_cast<DWORD>(bytes);
    record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record->dbcc_classguid =
        GUID{0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
    std::copy(path.begin(), path.end(), record->dbcc_name);
    if (mainWindow_ != nullptr) {
        SendMessageW(mainWindow_, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record));
    }
}

void EmulatedHost::saveFlashIfChanged() {
    if (scenario_.flashFile.empty() || unit_ == nullptr) return;
    if (unit_->exchangeCount() == savedAtExchange_) return;
    savedAtExchange_ = unit_->exchangeCount();
    std::string error;
    if (!writeFlashFile(scenario_.flashFile, unit_->flash(), error)) reportError(error);
}

void EmulatedHost::finish() {
    if (mainWindow_ != nullptr) KillTimer(mainWindow_, kControlTimerId);
    activeHost = nullptr;
    saveFlashIfChanged();
}

}  // namespace orvanta
