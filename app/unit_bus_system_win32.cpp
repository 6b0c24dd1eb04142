// The shipped program's bus: the system's HID stack; the system itself sends the
// device notifications.
#include "app/unit_bus_win32.h"
#include "link/hid_bus_win32.h"

namespace orvanta {
namespace {

class SystemUnitBus final : public UnitBus {
public:
    HidBus& bus() override { return bus_; }
    void attach(HWND /*mainWindow*/) override {}
    void finish() override {}

private:
    Win32HidBus bus_;
};

}  // namespace

std::unique_ptr<UnitBus> makeUnitBus(Clock& /*clock*/) { return std::make_unique<SystemUnitBus>(); }

}  // namespace orvanta
