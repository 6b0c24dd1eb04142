// The emulated unit behind the virtual device: the scenario's unit on an emulated bus
// (which writes the trace), and what the driver is to do with each output report the
// program writes. Portable; the Windows host only carries the results to the driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/emulated_bus.h"
#include "emulator/scenario.h"
#include "link/clock.h"
#include "link/product.h"

namespace orvanta {

// The product string each unit announces on USB.
struct UnitUsbName {
    std::uint16_t productId;
    const wchar_t* name;
};
inline constexpr UnitUsbName kUnitUsbNames[] = {
    {PRODUCT_ID_TUNEPAD, L"TUNEPAD"},
    {PRODUCT_ID_TUNEBOX, L"TuneBOX"},
};

constexpr const wchar_t* unitUsbName(std::uint16_t productId) {
    for (const UnitUsbName& unit : kUnitUsbNames) {
        if (unit.productId == productId) return unit.name;
    }
    return L"Programming unit";
}

// Status values the driver hands on to the program's WriteFile (NTSTATUS codes).
inline constexpr std::int32_t kWriteStatusDone = 0;
inline constexpr std::int32_t kWriteStatusUnsuccessful = static_cast<std::int32_t>(0xC0000001);
inline constexpr std::int32_t kWriteStatusInvalidParameter = static_cast<std::int32_t>(0xC000000D);
inline constexpr std::int32_t kWriteStatusNotConnected = static_cast<std::int32_t>(0xC000009D);

// The status whose Windows error code is `error` as the program will read it.
std::int32_t writeStatusFor(std::uint32_t error);

struct RequestOutcome {
    std::int32_t writeStatus = kWriteStatusDone;
    // The unit vanished: the device must leave the bus, which fails the write.
    bool unitVanished = false;
    // The write is never acknowledged, so it stays pending however the program cancels
    // it, until the device leaves the bus.
    bool writeNeverEnds = false;
    // The input report to deliver, report id first; empty when none ever comes.
    std::vector<std::uint8_t> reply;
    std::uint32_t replyDelayMs = 0;  // from the moment the request was handled
};

// Sleeps are not slept but owed: the unit says how long its reply takes, and the
// host delivers the reply that much later without blocking anything meanwhile.
class DeferredClock final : public Clock {
public:
    explicit DeferredClock(const Clock& time) : time_(time) {}
    void sleepMs(std::uint32_t ms) override { owedMs_ += ms; }
    std::uint64_t nowMs() const override { return time_.nowMs(); }
    void setPreciseTiming(bool /*on*/) override {}
    std::uint64_t takeOwedMs() {
        const std::uint64_t owed = owedMs_;
        owedMs_ = 0;
        return owed;
    }

private:
    const Clock& time_;
    std::uint64_t owedMs_ = 0;
};

class UnitSession {
public:
    // `time` must outlive the session. A trace file that cannot be opened leaves
    // error() set; the unit works without it.
    UnitSession(const Scenario& scenario, const Clock& time);
    UnitSession(const UnitSession&) = delete;
    UnitSession& operator=(const UnitSession&) = delete;
    ~UnitSession();

    const std::string& error() const { return error_; }
    const UnitConfig& config() const { return unit_->config(); }
    // Whether the unit is plugged in: false after an unplug, or after it vanished.
    bool present() const { return bus_.present(path_); }

    // One output report as the program wrote it, report id first.
    RequestOutcome handleRequest(const std::uint8_t* data, std::size_t length);

    // Plugging in powers the unit up anew; its flash keeps its bytes.
    void plug();
    void unplug();

    const std::vector<std::uint8_t>& flash() const { return unit_->flash(); }
    // Every report and failed transfer so far, as the trace file has them.
    const std::vector<std::string>& trace() const { return bus_.trace(); }
    std::uint32_t exchangeCount() const { return unit_->exchangeCount(); }

private:
    DeferredClock clock_;
    EmulatedBus bus_;
    EmulatedUnit* unit_ = nullptr;
    std::wstring path_;
    HidHandle handle_ = kInvalidHidHandle;
    std::string error_;
};

// Commands to a running host, one per line: `plug`, `unplug` or `quit`, each with an
// optional token that the host reports back once the command has taken effect.
struct HostCommand {
    enum class Kind { plug, unplug, quit, unknown };
    Kind kind = Kind::unknown;
    std::string word;   // as written
    std::string token;  // empty when none was given
};

std::vector<HostCommand> parseHostCommands(const std::string& text);

}  // namespace orvanta
