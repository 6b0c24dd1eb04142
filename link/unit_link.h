// The one link to the programming unit: the record, discovery, the unit's commands
// and the identification probe that fills the record.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "link/clock.h"
#include "link/hid_bus.h"
#include "link/product.h"
#include "link/protocol.h"

namespace orvanta {

// Result of every link operation: 0 success, the negative link codes below,
// kStatusNoEcho, or a device error code passed on unchanged.
using LinkStatus = std::int32_t;

inline constexpr LinkStatus kStatusOk = 0;
inline constexpr LinkStatus kStatusNoLink = -1;  // no link open, bad argument, no list/caps
inline constexpr LinkStatus kStatusWriteFailed = -2;
inline constexpr LinkStatus kStatusReadFailed = -3;
inline constexpr LinkStatus kStatusNoUnit = -4;
// A unit is there, but another program holds it open for talking.
inline constexpr LinkStatus kStatusUnitBusy = -5;
inline constexpr LinkStatus kStatusNoEcho = 1627;  // ERROR_FUNCTION_FAILED: argument not echoed

// A unit that another program holds may be let go in a moment (a tool that only
// looked at it): the open for talking is tried this often, this far apart.
inline constexpr std::uint32_t kBusyOpenAttempts = 5;
inline constexpr std::uint32_t kBusyRetryIntervalMs = 100;

// The unit answers the erase only after it has started erasing.
inline constexpr std::uint32_t kEraseReplyDelayMs = 1000;
// Time limits of one transfer. A unit that never answers must not freeze the
// program; a healthy unit answers within a few milliseconds.
inline constexpr std::uint32_t kWriteTimeoutMs = 10000;
inline constexpr std::uint32_t kReadTimeoutMs = 10000;
// A real erase of a large flash can take many seconds, and a false failure here
// would leave the ESC erased, so its reply is given far longer.
inline constexpr std::uint32_t kEraseReadTimeoutMs = 60000;

struct UnitModeInfo {
    std::uint8_t first = 0;
    std::uint16_t second = 0;
    std::uint32_t third = 0;
    std::uint32_t fourth = 0;
    std::uint8_t fifth = 0;
};

// What the link knows while it is open; every field zero (handle invalid) while
// it is closed.
struct UnitLinkState {
    HidHandle handle = kInvalidHidHandle;
    std::wstring devicePath;  // empty while no link is open
    std::uint32_t outputReportLength = 0;
    std::uint32_t inputReportLength = 0;
    std::uint8_t unitMode = 0;
    std::uint32_t unitFirmwareVersion = 0;
    std::uint32_t unitReserved = 0;
    std::uint16_t escState = 0;
    std::uint16_t identifyReserved = 0;
    UnitModeInfo unitModeInfo;
    std::array<std::uint8_t, kEscInfoBytes> escInfo{};
    std::array<std::uint8_t, kBootloaderInfoBytes> bootloaderInfo{};
    std::uint16_t productId = 0;
    // The system's error code of the last exchange's failed transfer, 0 when its
    // transfers went through (a device error is the unit's answer, not a transfer
    // failure). Kept with the exchange so that a failure report never shows a code
    // left over from an earlier call.
    std::uint32_t lastTransferError = 0;

    bool isOpen() const { return handle != kInvalidHidHandle; }

    // Views into the two info blocks, little-endian.
    std::uint16_t escFirmwareVersion() const;
    void setEscFirmwareVersion(std::uint16_t version);
    std::uint32_t escTypeCode() const;
    std::uint32_t bootloaderVersion() const;
};

// The one link to the programming unit: its state and the platform it talks
// through, which it is given when it is made and keeps for its life.
struct UnitLink : UnitLinkState {
    UnitLink(HidBus& bus, Clock& clock) : bus(bus), clock(clock) {}
    UnitLink(const UnitLink&) = delete;
    UnitLink& operator=(const UnitLink&) = delete;

    // Back to the closed state without closing anything: for a record that holds
    // nothing open.
    void reset() { static_cast<UnitLinkState&>(*this) = UnitLinkState{}; }

    HidBus& bus;
    Clock& clock;
};

LinkStatus openLink(UnitLink& link);
void closeLink(UnitLink& link);
// Whether the open link's device has gone without the program hearing of it: its
// handle no longer answers an attribute query, or its interface is no longer among
// the present ones. No request reaches the unit. False while no link is open.
bool linkDeviceGone(UnitLink& link);
// Case-insensitive for A-Z and a-z only, as the system compares device paths.
bool devicePathsEqual(const std::wstring& a, const std::wstring& b);
LinkStatus probeUnit(UnitLink& link);

LinkStatus setWriteProtection(UnitLink& link, bool protect);
LinkStatus eraseFirmware(UnitLink& link);
LinkStatus setWriteAddress(UnitLink& link);
LinkStatus writeBlock(UnitLink& link, const std::uint8_t* data, std::uint32_t words);
LinkStatus setSystemLock(UnitLink& link, bool lock);

}  // namespace orvanta
