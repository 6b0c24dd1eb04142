// The emulated build's bus: the emulated programming unit, which also plays the
// system's device notifications for its plugging and unplugging.
#include "app/unit_bus_win32.h"
#include "emulator/emulated_host_win32.h"

namespace orvanta {
namespace {

class EmulatedUnitBus final : public UnitBus {
public:
    explicit EmulatedUnitBus(Clock& clock) : host_(clock) {}
    HidBus& bus() override { return host_.bus(); }
    void attach(HWND mainWindow) override { host_.attach(mainWindow); }
    void finish() override { host_.finish(); }

private:
    EmulatedHost host_;
};

}  // namespace

std::unique_ptr<UnitBus> makeUnitBus(Clock& clock) {
    return std::make_unique<EmulatedUnitBus>(clock);
}

}  // namespace orvanta
