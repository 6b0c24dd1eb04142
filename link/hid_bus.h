// The seam under the link: the few HID services the link needs from the platform.
// The Win32 build implements it with SetupDi*/HidD_*/CreateFileW; tests and the
// emulated build plug the emulated programming unit in here instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvanta {

// An open HID interface. kInvalidHidHandle plays the part of INVALID_HANDLE_VALUE.
using HidHandle = std::intptr_t;
inline constexpr HidHandle kInvalidHidHandle = -1;

struct HidAttributes {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};

struct HidCaps {
    std::uint16_t inputReportByteLength = 0;
    std::uint16_t outputReportByteLength = 0;
};

enum class InterfaceLookup {
    found,         // path holds the interface's device path
    detailFailed,  // the interface exists but its path could not be fetched: skip it
    endOfList,     // no interface at this index
};

// What an open is for. Identifying reads ids and report lengths only: it asks for no
// read or write access and shares the interface fully, so it takes nothing from a
// program that holds the device. Talking reads and writes reports, on a handle
// shared with no one.
enum class HidAccess { identify, talk };

enum class IoOutcome {
    done,      // the whole report went out or came in
    failed,    // the platform refused the transfer (last error tells why)
    timedOut,  // the time limit ran out; the transfer was cancelled and waited out
};

// Windows error codes that the link and its fakes leave as the last error.
inline constexpr std::uint32_t kErrorAccessDenied = 5;           // ERROR_ACCESS_DENIED
inline constexpr std::uint32_t kErrorGenFailure = 31;            // ERROR_GEN_FAILURE
inline constexpr std::uint32_t kErrorSharingViolation = 32;      // ERROR_SHARING_VIOLATION
inline constexpr std::uint32_t kErrorDeviceNotConnected = 1167;  // ERROR_DEVICE_NOT_CONNECTED
inline constexpr std::uint32_t kErrorTimeout = 1460;             // ERROR_TIMEOUT

class HidBus {
public:
    virtual ~HidBus() = default;

    // Takes a snapshot of the HID interfaces present now; false when the list
    // cannot be obtained. Every successful call is paired with endEnumeration().
    virtual bool beginEnumeration() = 0;
    virtual InterfaceLookup interfaceAt(std::uint32_t index, std::wstring& path) = 0;
    virtual void endEnumeration() = 0;

    // kInvalidHidHandle when the interface cannot be opened for that purpose.
    virtual HidHandle open(const std::wstring& path, HidAccess access) = 0;
    virtual bool attributes(HidHandle handle, HidAttributes& out) = 0;
    virtual bool capabilities(HidHandle handle, HidCaps& out) = 0;
    // Writes or reads exactly `length` bytes, giving up after timeoutMs.
    virtual IoOutcome write(HidHandle handle, const std::uint8_t* data, std::size_t length,
                            std::uint32_t timeoutMs) = 0;
    virtual IoOutcome read(HidHandle handle, std::uint8_t* data, std::size_t length,
                           std::uint32_t timeoutMs) = 0;
    virtual void close(HidHandle handle) = 0;

    // The platform's last-error value (GetLastError on Windows), as the last
    // failed call left it.
    virtual std::uint32_t lastError() const = 0;
};

}  // namespace orvanta
