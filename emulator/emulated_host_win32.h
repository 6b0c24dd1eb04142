// The emulated programming unit inside the Windows program: it takes the HID bus's
// place, reads its scenario from the file that ORVANTA_EMULATOR_SCENARIO names, and
// lets a person or a test driver plug and unplug the unit while the program runs.
#pragma once

#include <windows.h>

#include <string>

#include "emulator/emulated_bus.h"
#include "emulator/scenario.h"
#include "link/clock.h"

namespace orvanta {

// The environment variable naming the scenario file. Without it the unit is a
// ready, compatible ESC with firmware 0.9 behind a TuneBOX.
inline constexpr wchar_t kScenarioVariable[] = L"ORVANTA_EMULATOR_SCENARIO";
// Commands are read from this file beside the scenario (scenario path + this
// suffix), or from this name in the current folder without a scenario: one command
// per line, `unplug`, `plug`, `other` (another HID device arrives) or `set LINE`
// (a scenario line that changes the unit, e.g. `set esc_type_code = 0x110fa0d2`).
// The file is consumed when read.
inline constexpr wchar_t kControlSuffix[] = L".control";
inline constexpr wchar_t kDefaultControlFile[] = L"orvanta-emulator.control";
// A real unit answers within about 2 ms (full-speed USB, polled every millisecond).
inline constexpr char kDefaultLatencyLine[] = "reply_latency_ms = 2\n";
inline constexpr UINT kControlPollMs = 50;

class EmulatedHost {
public:
    explicit EmulatedHost(Clock& clock);
    EmulatedHost(const EmulatedHost&) = delete;
    EmulatedHost& operator=(const EmulatedHost&) = delete;

    HidBus& bus() { return bus_; }
    // Starts following the control file once the main window exists.
    void attach(HWND mainWindow);
    // Writes the flash file a last time.
    void finish();

private:
    static void CALLBACK onTimer(HWND window, UINT message, UINT_PTR id, DWORD time);
    void poll();
    void runCommand(const std::string& command);
    void announcePresenceChanges();
    void notify(WPARAM event, const std::wstring& path);
    void saveFlashIfChanged();
    static void reportError(const std::string& message);

    EmulatedBus bus_;
    Scenario scenario_;
    std::string scenarioText_;  // with the lines that `set` added
    EmulatedUnit* unit_ = nullptr;
    std::wstring unitPath_;
    std::wstring controlFile_;
    HWND mainWindow_ = nullptr;
    std::uint32_t savedAtExchange_ = 0;
    int otherDevices_ = 0;
};

}  // namespace orvanta
