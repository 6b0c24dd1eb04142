// The HID bus the program talks through, chosen when the program is linked: the
// system's HID stack (app/unit_bus_system_win32.cpp) in the shipped program, the
// emulated unit (emulator/unit_bus_emulated_win32.cpp) in the emulated build.
#pragma once

#include <windows.h>

#include <memory>

#include "link/clock.h"
#include "link/hid_bus.h"

namespace orvanta {

class UnitBus {
public:
    virtual ~UnitBus() = default;

    virtual HidBus& bus() = 0;
    // The main window exists and takes device notifications from now on.
    virtual void attach(HWND mainWindow) = 0;
    // The dialog has ended.
    virtual void finish() = 0;
};

std::unique_ptr<UnitBus> makeUnitBus(Clock& clock);

}  // namespace orvanta
