// Report framing, the unit's commands and the identification probe: one output
// report out, one input report back, and the reply judged by the command's rule.
#include <algorithm>
#include <array>
#include <cstring>

#include "link/unit_link.h"

namespace orvanta {

namespace {

using ReportBuffer = std::array<std::uint8_t, kReportBufferBytes>;

constexpr std::size_t kStatusByte = 1;
constexpr std::size_t kEchoByte = 3;
constexpr std::size_t kArgumentsByte = 4;
constexpr std::size_t kBlockHeaderBytes = 4;
constexpr std::uint32_t kMaxBlockBytes = kMaxBlockWords * 4u;

std::uint16_t readLe16(const ReportBuffer& report, std::size_t at) {
    return static_cast<std::uint16_t>(report[at] | (report[at + 1] << 8));
}

std::uint32_t readLe32(const ReportBuffer& report, std::size_t at) {
    return static_cast<std::uint32_t>(report[at]) |
           (static_cast<std::uint32_t>(report[at + 1]) << 8) |
           (static_cast<std::uint32_t>(report[at + 2]) << 16) |
           (static_cast<std::uint32_t>(report[at + 3]) << 24);
}

void writeLe32(ReportBuffer& report, std::size_t at, std::uint32_t value) {
    report[at] = static_cast<std::uint8_t>(value);
    report[at + 1] = static_cast<std::uint8_t>(value >> 8);
    report[at + 2] = static_cast<std::uint8_t>(value >> 16);
    report[at + 3] = static_cast<std::uint8_t>(value >> 24);
}

// A request with every byte the command does not name set to 0.
ReportBuffer makeRequest(std::uint8_t command, std::uint8_t lengthByte, std::uint8_t argument) {
    ReportBuffer report{};
    report[0] = kOutputReportId;
    report[1] = command;
    report[2] = lengthByte;
    report[3] = argument;
    return report;
}

bool reportLengthsUsable(const UnitLink& link) {
    return link.outputReportLength >= kMinOutputReportBytes &&
           link.outputReportLength <= kReportBufferBytes &&
           link.inputReportLength >= kMinInputReportBytes &&
           link.inputReportLength <= kReportBufferBytes;
}

struct ExchangeTiming {
    std::uint32_t delayBeforeReadMs = 0;
    std::uint32_t readTimeoutMs = kReadTimeoutMs;
};

// Writes the request in `report` and reads the reply into the same buffer. The
// error of a failed transfer is kept with the link as this exchange's own.
LinkStatus exchange(UnitLink& link, ReportBuffer& report, ExchangeTiming timing = {}) {
    link.lastTransferError = 0;
    if (!link.isOpen()) {
        return kStatusNoLink;
    }
    // Lengths outside the buffer would send or receive bytes beyond it; they are
    // only possible on a link whose capability step never succeeded.
    if (!reportLengthsUsable(link)) {
        return kStatusNoLink;
    }
    HidBus& bus = link.bus;
    if (bus.write(link.handle, report.data(), link.outputReportLength, kWriteTimeoutMs) !=
        IoOutcome::done) {
        link.lastTransferError = bus.lastError();
        return kStatusWriteFailed;
    }
    if (timing.delayBeforeReadMs != 0) {
        link.clock.sleepMs(timing.delayBeforeReadMs);
    }
    report.fill(0);
    report[0] = kInputReportId;
    if (bus.read(link.handle, report.data(), link.inputReportLength, timing.readTimeoutMs) !=
        IoOutcome::done) {
        link.lastTransferError = bus.lastError();
        return kStatusReadFailed;
    }
    return kStatusOk;
}

// The device error code of a reply with status 0xFF, else 0. A code of 0 counts
// as success; 0xFFFFFFFF comes out as -1 like every other code, unchanged.
LinkStatus deviceErrorCode(const ReportBuffer& reply) {
    if (reply[kStatusByte] != kStatusError) {
        return kStatusOk;
    }
    return static_cast<LinkStatus>(readLe32(reply, kArgumentsByte));
}

LinkStatus echoStatus(const ReportBuffer& reply, std::uint8_t flag) {
    return reply[kEchoByte] == flag ? kStatusOk : kStatusNoEcho;
}

std::uint8_t flagByte(bool flag) { return flag ? 1 : 0; }

// The capability step of the probe: the report lengths, refused when they do
// not fit the report buffer or cannot carry a whole block or the longest reply.
LinkStatus readReportLengths(UnitLink& link) {
    HidCaps caps;
    if (!link.bus.capabilities(link.handle, caps)) {
        return kStatusNoLink;
    }
    if (caps.outputReportByteLength < kMinOutputReportBytes ||
        caps.outputReportByteLength > kReportBufferBytes ||
        caps.inputReportByteLength < kMinInputReportBytes ||
        caps.inputReportByteLength > kReportBufferBytes) {
        return kStatusNoLink;
    }
    link.outputReportLength = caps.outputReportByteLength;
    link.inputReportLength = caps.inputReportByteLength;
    return kStatusOk;
}

void storeModeInfo(UnitLink& link, const ReportBuffer& reply) {
    link.unitModeInfo.first = reply[4];
    link.unitModeInfo.second = readLe16(reply, 5);
    link.unitModeInfo.third = readLe32(reply, 7);
    link.unitModeInfo.fourth = readLe32(reply, 11);
    link.unitModeInfo.fifth = reply[15];
}

// A unit outside the mode for ESC updates tells its firmware version only
// through its memory.
LinkStatus probeWrongMode(UnitLink& link) {
    ReportBuffer report = makeRequest(CMD_READ_MEMORY, kUnitInfoBytes, 0);
    writeLe32(report, 4, kUnitInfoAddress);
    if (const LinkStatus status = exchange(link, report); status != kStatusOk) {
        return status;
    }
    link.unitFirmwareVersion = readLe32(report, 8);
    link.unitReserved = readLe32(report, 12);
    return kStatusOk;
}

LinkStatus probeEsc(UnitLink& link) {
    ReportBuffer report = makeRequest(CMD_READ_ESC_INFO, 8, 0);
    writeLe32(report, 4, kEscInfoBytes);
    writeLe32(report, 8, kEscInfoSelector);
    if (const LinkStatus status = exchange(link, report); status != kStatusOk) {
        return status;
    }
    if (report[kStatusByte] == kStatusError) {
        // Only the low half of the code counts here; 0 means "no data, go on".
        if (const std::uint16_t code = readLe16(report, 4); code != 0) {
            return code;
        }
    } else {
        std::copy_n(report.begin() + 4, kEscInfoBytes, link.escInfo.begin());
    }

    report = makeRequest(CMD_READ_BOOTLOADER_INFO, 0, 0);
    if (const LinkStatus status = exchange(link, report); status != kStatusOk) {
        return status;
    }
    if (report[kStatusByte] == kStatusError) {
        return readLe16(report, 4);
    }
    std::copy_n(report.begin() + 4, kBootloaderInfoBytes, link.bootloaderInfo.begin());
    return kStatusOk;
}

}  // namespace

LinkStatus probeUnit(UnitLink& link) {
    if (!link.isOpen() || link.devicePath.empty()) {
        return kStatusNoLink;
    }
    if (const LinkStatus status = readReportLengths(link); status != kStatusOk) {
        return status;
    }

    ReportBuffer report = makeRequest(CMD_IDENTIFY, 0, 0);
    if (const LinkStatus status = exchange(link, report); status != kStatusOk) {
        return status;
    }
    link.unitMode = report[3];
    if (link.unitMode != 0) {
        storeModeInfo(link, report);
        return probeWrongMode(link);
    }
    link.escState = readLe16(report, 4);
    link.identifyReserved = readLe16(report, 6);
    link.unitFirmwareVersion = readLe32(report, 8);
    link.unitReserved = readLe32(report, 12);
    if (link.escState != ESC_STATE_BOOTLOADER_READY) {
        return kStatusOk;
    }
    return probeEsc(link);
}

LinkStatus setWriteProtection(UnitLink& link, bool protect) {
    const std::uint8_t flag = flagByte(protect);
    ReportBuffer report = makeRequest(CMD_WRITE_PROTECTION, 1, flag);
    if (const LinkStatus status = exchange(link, report); status != kStatusOk) {
        return status;
    }
    if (report[kStatusByte] == kStatusError) {
        return deviceErrorCode(report);
    }
    return echoStatus(report, flag);
}

LinkStatus eraseFirmware(UnitLink& link) {
    ReportBuffer report = makeRequest(CMD_ERASE_FIRMWARE, 4, 0);
    writeLe32(report, 4, kConfirmationValue);
    const ExchangeTiming timing{kEraseReplyDelayMs, kEraseReadTimeoutMs};
    if (const LinkStatus status = exchange(link, report, timing); status != kStatusOk) {
        return status;
    }
    return deviceErrorCode(report);
}

LinkStatus setWriteAddress(UnitLink& link) {
    constexpr std::uint32_t kWriteAddress = 0;
    ReportBuffer report = makeRequest(CMD_SET_ADDRESS, 9, 0x01);
    writeLe32(report, 4, kWriteAddress);
    writeLe32(report, 8, kConfirmationValue);
    if (const LinkStatus status = exchange(link, report); status != kStatusOk) {
        return status;
    }
    return deviceErrorCode(report);
}

LinkStatus writeBlock(UnitLink& link, const std::uint8_t* data, std::uint32_t words) {
    link.lastTransferError = 0;
    if (!link.isOpen() || words > kMaxBlockWords || (data == nullptr && words != 0)) {
        return kStatusNoLink;
    }
    const std::uint32_t payloadBytes = words * 4;
    ReportBuffer report = makeRequest(CMD_WRITE_BLOCK, static_cast<std::uint8_t>(payloadBytes), 0);
    // The unit takes only the payload the length byte announces; behind it the
    // report carries 0xFF, the value of erased flash.
    std::fill(report.begin() + kBlockHeaderBytes, report.end(), std::uint8_t{0xFF});
    if (payloadBytes != 0) {
        std::memcpy(report.data() + kBlockHeaderBytes, data, payloadBytes);
    }
    static_assert(kBlockHeaderBytes + kMaxBlockBytes == kReportBufferBytes);
    if (const LinkStatus status = exchange(link, report); status != kStatusOk) {
        return status;
    }
    return deviceErrorCode(report);
}

LinkStatus setSystemLock(UnitLink& link, bool lock) {
    const std::uint8_t flag = flagByte(lock);
    ReportBuffer report = makeRequest(CMD_SYSTEM_LOCK, 1, flag);
    if (const LinkStatus status = exchange(link, report); status != kStatusOk) {
        return status;
    }
    // The unit confirms the lock by its echo alone; the status byte says nothing.
    return echoStatus(report, flag);
}

}  // namespace orvanta
