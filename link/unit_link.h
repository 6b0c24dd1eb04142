// The one link to the programming unit: the record, discovery, the unit's commands
// and the identification probe that fills the record.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "link/clock.h"
#include "link/hid_bus.h"
#include "link/report_layout.h"

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

// USB ids of the programming units. The vendor id is the maker's own.
inline constexpr std::uint16_t UNIT_VENDOR_ID = 0x2E4A;
inline constexpr std::uint16_t PRODUCT_ID_TUNEPAD = 1;
inline constexpr std::uint16_t PRODUCT_ID_TUNEBOX = 2;

inline constexpr std::uint8_t CMD_IDENTIFY = 0x08;
inline constexpr std::uint8_t CMD_READ_MEMORY = 0x0A;
inline constexpr std::uint8_t CMD_SYSTEM_LOCK = 0x0B;
inline constexpr std::uint8_t CMD_WRITE_BLOCK = 0x1B;
inline constexpr std::uint8_t CMD_READ_ESC_INFO = 0x1D;
inline constexpr std::uint8_t CMD_ERASE_FIRMWARE = 0x1E;
inline constexpr std::uint8_t CMD_SET_ADDRESS = 0x1F;
inline constexpr std::uint8_t CMD_WRITE_PROTECTION = 0x20;
inline constexpr std::uint8_t CMD_READ_BOOTLOADER_INFO = 0x22;

// The bootloader refuses an erase or a new write address without it.
inline constexpr std::uint32_t kConfirmationValue = 0x3A7C52E9;
inline constexpr std::uint32_t kUnitInfoAddress = 0x0801FC00;
inline constexpr std::uint32_t kEscInfoSelector = 0xFFFFFFE0;
inline constexpr std::uint16_t ESC_STATE_BOOTLOADER_READY = 3;

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
LinkStatus probeUnit(UnitLink& link);

LinkStatus setWriteProtection(UnitLink& link, bool protect);
LinkStatus eraseFirmware(UnitLink& link);
LinkStatus setWriteAddress(UnitLink& link);
LinkStatus writeBlock(UnitLink& link, const std::uint8_t* data, std::uint32_t words);
LinkStatus setSystemLock(UnitLink& link, bool lock);

}  // namespace orvanta
