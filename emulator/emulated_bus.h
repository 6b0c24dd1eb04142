// An emulated HID bus: programming units and other HID devices in enumeration
// order, failures on demand at every discovery step, plugging while running, and
// a trace of every report that crosses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "emulator/emulated_unit.h"
#include "link/clock.h"
#include "link/hid_bus.h"

namespace orvanta {

// Failures of the discovery steps for one interface, switchable at any time.
struct InterfaceFailures {
    bool detailFails = false;       // interfaceAt() reports detailFailed
    bool openFails = false;         // open() fails, last error 5, for any access
    bool attributesFail = false;    // attributes() fails, last error 31
    bool capabilitiesFail = false;  // capabilities() fails, last error 31
};

// A unit arriving or leaving, as the system would announce it.
struct PresenceChange {
    std::wstring path;
    bool arrived = false;
};

// A trace line taken apart: its time, and the rest ("> 01 0b ...").
struct TraceLine {
    std::uint64_t ms = 0;
    std::string entry;
};
// False when the line does not start with a time and one blank.
bool splitTraceLine(const std::string& line, TraceLine& out);

// The trace has one line per transfer, in the format described at `trace_file` in
// emulator/scenario.h: the time in milliseconds since the bus was created, then
// the report or what failed.
class EmulatedBus final : public HidBus {
public:
    explicit EmulatedBus(Clock& clock);
    ~EmulatedBus() override;

    // Adds a programming unit at the end of the enumeration order. An empty path
    // makes one up from the ids and the position. The unit lives as long as the bus.
    EmulatedUnit& addUnit(const UnitConfig& config = {}, const std::wstring& path = {});
    // Adds some other HID device; the link must pass it by.
    void addOtherDevice(std::uint16_t vendorId, std::uint16_t productId,
                        const std::wstring& path = {}, HidCaps caps = {64, 64});

    std::size_t interfaceCount() const { return interfaces_.size(); }
    const std::wstring& pathAt(std::size_t position) const;
    // The unit behind a path, or null for other devices and unknown paths.
    EmulatedUnit* unitAt(const std::wstring& path);

    // The failure switches of an interface; an unknown path gets a scratch record
    // that affects nothing.
    InterfaceFailures& failures(const std::wstring& path);
    // The whole interface list cannot be obtained (beginEnumeration fails).
    void setEnumerationFails(bool fails) { enumerationFails_ = fails; }

    // Unplugging makes every open handle of the interface fail with 1167 for good
    // and removes it from later enumerations; plugging it in again powers the
    // unit up anew (its flash is kept) and needs a fresh open. A unit that an
    // unplug fault took away with a replug time comes back by itself once the
    // clock has reached that time.
    void unplug(const std::wstring& path);
    void plug(const std::wstring& path);
    bool present(const std::wstring& path) const;
    // Every plug and unplug since the last call, in order, whether by the methods
    // above, by a fault or by a replug that has come due.
    std::vector<PresenceChange> takePresenceChanges();

    std::size_t openHandleCount() const { return handles_.size(); }
    // How often open() handed out a handle to this interface, for any access and
    // for talking.
    std::uint32_t openCount(const std::wstring& path) const;
    std::uint32_t talkOpenCount(const std::wstring& path) const;
    // Closes of handles that were not open (double closes and made-up handles).
    std::uint32_t strayCloseCount() const { return strayCloses_; }
    bool enumerationActive() const { return enumerationActive_; }
    std::uint32_t enumerationCount() const { return enumerations_; }

    const std::vector<std::string>& trace() const { return trace_; }
    // Empties the list; the times of later lines still count from the bus's creation.
    void clearTrace() { trace_.clear(); }
    // Appends every trace line to this file as it happens; false when it cannot
    // be opened.
    bool setTraceFile(const std::string& fileName);

    // HidBus
    bool beginEnumeration() override;
    InterfaceLookup interfaceAt(std::uint32_t index, std::wstring& path) override;
    void endEnumeration() override;
    // As the HID class on Windows: a handle for talking is refused with 32
    // (ERROR_SHARING_VIOLATION) while another one is open on the interface or while
    // the unit's configuration says another program holds it; an identifying handle
    // is always given, and reports cannot be written or read on it (last error 5).
    HidHandle open(const std::wstring& path, HidAccess access) override;
    bool attributes(HidHandle handle, HidAttributes& out) override;
    bool capabilities(HidHandle handle, HidCaps& out) override;
    IoOutcome write(HidHandle handle, const std::uint8_t* data, std::size_t length,
                    std::uint32_t timeoutMs) override;
    IoOutcome read(HidHandle handle, std::uint8_t* data, std::size_t length,
                   std::uint32_t timeoutMs) override;
    void close(HidHandle handle) override;
    std::uint32_t lastError() const override { return lastError_; }

private:
    struct Interface {
        std::wstring path;
        // Ids and capabilities of other devices; a unit's come from its configuration.
        std::uint16_t vendorId = 0;
        std::uint16_t productId = 0;
        HidCaps caps;
        std::unique_ptr<EmulatedUnit> unit;  // null for other devices
        InterfaceFailures failures;
        bool present = true;
        std::uint32_t generation = 0;  // bumped by each unplug; older handles are dead
        std::uint32_t opens = 0;
        std::uint32_t talkOpens = 0;
    };
    struct OpenHandle {
        std::size_t position = 0;  // "interface" is a macro in the Windows headers
        std::uint32_t generation = 0;
        HidAccess access = HidAccess::identify;
    };

    Interface* findInterface(const std::wstring& path);
    const Interface* findInterface(const std::wstring& path) const;
    // The interface behind a live handle; null (and the last error set) otherwise.
    Interface* liveInterface(HidHandle handle);
    // The same, for a handle that may write and read reports.
    Interface* talkingInterface(HidHandle handle);
    // Another program, or another handle of ours, holds the interface for talking.
    bool heldForTalking(std::size_t position, const Interface& iface) const;
    std::wstring makePath(std::uint16_t vendorId, std::uint16_t productId) const;
    void fail(std::uint32_t error) { lastError_ = error; }
    void addTraceLine(const std::string& entry);
    void traceReport(char direction, const std::uint8_t* data, std::size_t length);
    void traceFailure(const char* what, IoOutcome outcome, std::uint32_t error,
                      const std::uint8_t* data = nullptr, std::size_t length = 0);
    void noteUnplug(Interface& iface);
    void notePlug(Interface& iface);
    bool replugDue(const Interface& iface) const;
    void plugDueUnits();

    Clock& clock_;
    std::vector<std::unique_ptr<Interface>> interfaces_;
    std::vector<std::size_t> snapshot_;
    bool enumerationFails_ = false;
    bool enumerationActive_ = false;
    std::uint32_t enumerations_ = 0;
    std::map<HidHandle, OpenHandle> handles_;
    HidHandle nextHandle_ = 0x100;
    std::uint32_t strayCloses_ = 0;
    std::uint32_t lastError_ = 0;
    std::uint64_t createdAtMs_ = 0;
    std::vector<std::string> trace_;
    std::ofstream traceFile_;
    std::vector<PresenceChange> presenceChanges_;
};

}  // namespace orvanta
