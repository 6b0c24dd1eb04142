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
    bool openFails = false;         // open() fails, last error 5
    bool attributesFail = false;    // attributes() fails, last error 31
    bool capabilitiesFail = false;  // capabilities() fails, last error 31
};

// The trace has one line per report, in order:
//   "> " and every byte of a report written to a unit,
//   "< " and every byte of a report read from a unit,
// each byte as two lower-case hex digits, separated by single spaces, report id
// first, the whole report length. A transfer that failed leaves a line starting
// with "! " instead, naming the direction and the last error, e.g.
//   "! write failed, last error 31" or "! read timed out, last error 1460".
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
    // unit up anew (its flash is kept) and needs a fresh open.
    void unplug(const std::wstring& path);
    void plug(const std::wstring& path);
    bool present(const std::wstring& path) const;

    std::size_t openHandleCount() const { return handles_.size(); }
    // How often open() handed out a handle to this interface.
    std::uint32_t openCount(const std::wstring& path) const;
    // Closes of handles that were not open (double closes and made-up handles).
    std::uint32_t strayCloseCount() const { return strayCloses_; }
    bool enumerationActive() const { return enumerationActive_; }
    std::uint32_t enumerationCount() const { return enumerations_; }

    const std::vector<std::string>& trace() const { return trace_; }
    void clearTrace() { trace_.clear(); }
    // Appends every trace line to this file as it happens; false when it cannot
    // be opened.
    bool setTraceFile(const std::string& fileName);

    // HidBus
    bool beginEnumeration() override;
    InterfaceLookup interfaceAt(std::uint32_t index, std::wstring& path) override;
    void endEnumeration() override;
    HidHandle open(const std::wstring& path) override;
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
    };
    struct OpenHandle {
        std::size_t position = 0;  // "interface" is a macro in the Windows headers
        std::uint32_t generation = 0;
    };

    Interface* findInterface(const std::wstring& path);
    const Interface* findInterface(const std::wstring& path) const;
    // The interface behind a live handle; null (and the last error set) otherwise.
    Interface* liveInterface(HidHandle handle);
    std::wstring makePath(std::uint16_t vendorId, std::uint16_t productId) const;
    void fail(std::uint32_t error) { lastError_ = error; }
    void addTraceLine(std::string line);
    void traceReport(char direction, const std::uint8_t* data, std::size_t length);
    void traceFailure(const char* what, IoOutcome outcome, std::uint32_t error);
    static void noteUnplug(Interface& iface);

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
    std::vector<std::string> trace_;
    std::ofstream traceFile_;
};

}  // namespace orvanta
