// Report framing, the unit's commands and the identification probe: one output
// report out, one input report back, and the reply judged by the command's rule.
#include <algorithm>
#include <array>
#include <cstring>

#include "link/unit_link.h"

namespace orvanta {

namespace {

using ReportBuffer = std::array<std::uint8_t, kReportBufferBytes>;

// A request with every byte the command does not name set to 0.
ReportBuffer makeRequest(std::uint8_t command, std::uint8_t lengthByte, std::uint8_t flag) {
    ReportBuffer report{};
    report[kReportIdByte] = kOutputReportId;
    report[kCommandByte] = command;
    report[kLengthByte] = lengthByte;
    report[kFlagByte] = flag;
    return report;
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
    if (!reportLengthsFit(link.outputReportLength, link.inputReportLength)) {
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
    report[kReportIdByte] = kInputReportId;
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
    return static_cast<LinkStatus>(readLe32(reply, kErrorCodeByte));
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
    if (!reportLengthsFit(caps.outputReportByteLength, caps.inputReportByteLength)) {
        return kStatusNoLink;
    }
    link.outputReportLength = caps.outputReportByteLength;
    link.inputReportLength = caps.inputReportByteLength;
    return kStatusOk;
}

void storeModeInfo(UnitLink& link, const ReportBuffer& reply) {
    link.unitModeInfo.first = reply[kModeInfoFirstByte];
    link.unitModeInfo.second = readLe16(reply, kModeInfoSecondByte);
    link.unitModeInfo.third = readLe32(reply, kModeInfoThirdByte);
    link.unitModeInfo.fourth = readLe32(reply, kModeInfoFourthByte);
    link.unitModeInfo.fifth = reply[kModeInfoFifthByte];
}

// A unit outside the mode for ESC updates tells its firmware version only
// through its memory.
LinkStatus probeWrongMode(UnitLink& link) {
    ReportBuffer report = makeRequest(CMD_READ_MEMORY, kReadMemoryLength, 0);
    writeLe32(report, kFirstArgumentByte, kUnitInfoAddress);
    if (const LinkStatus status = exchange(link, report); status != kStatusOk) {
        return status;
    }
    link.unitFirmwareVersion = readLe32(report, kReplyDataByte + kUnitInfoFirmwareVersionAt);
    link.unitReserved = readLe32(report, kReplyDataByte + kUnitInfoReservedAt);
    return kStatusOk;
}

LinkStatus probeEsc(UnitLink& link) {
    ReportBuffer report = makeRequest(CMD_READ_ESC_INFO, kReadEscInfoLength, 0);
    writeLe32(report, kFirstArgumentByte, kEscInfoBytes);
    writeLe32(report, kSecondArgumentByte, kEscInfoSelector);
    if (const LinkStatus status = exchange(link, report); status != kStatusOk) {
        return status;
    }
    if (report[kStatusByte] == kStatusError) {
        // Only the low half of the code counts here; 0 means "no data, go on".
        if (const std::uint16_t code = readLe16(report, kErrorCodeByte); code != 0) {
            return code;
        }
    } else {
        std::copy_n(report.begin() + kReplyDataByte, kEscInfoBytes, link.escInfo.begin());
    }

    report = makeRequest(CMD_READ_BOOTLOADER_INFO, kReadBootloaderInfoLength, 0);
    if (const LinkStatus status = exchange(link, report); status != kStatusOk) {
        return status;
    }
    if (report[kStatusByte] == kStatusError) {
        return readLe16(report, kErrorCodeByte);
    }
    std::copy_n(report.begin() + kReplyDataByte, kBootloaderInfoBytes, link.bootloaderInfo.begin());
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

    ReportBuffer report = makeRequest(CMD_IDENTIFY, kIdentifyLength, 0);
    if (const LinkStatus status = exchange(link, report); status != kStatusOk) {
        return status;
    }
    link.unitMode = report[kUnitModeByte];
    if (link.unitMode != 0) {
        storeModeInfo(link, report);
        return probeWrongMode(link);
    }
    link.escState = readLe16(report, kEscStateByte);
    link.identifyReserved = readLe16(report, kIdentifyReservedByte);
    link.unitFirmwareVersion = readLe32(report, kUnitFirmwareVersionByte);
    link.unitReserved = readLe32(report, kUnitReservedByte);
    if (link.escState != ESC_STATE_BOOTLOADER_READY) {
        return kStatusOk;
    }
    return probeEsc(link);
}

LinkStatus setWriteProtection(UnitLink& link, bool protect) {
    const std::uint8_t flag = flagByte(protect);
    ReportBuffer report = makeRequest(CMD_WRITE_PROTECTION, kWriteProtectionLength, flag);
    if (const LinkStatus status = exchange(link, report); status != kStatusOk) {
        return status;
    }
    if (report[kStatusByte] == kStatusError) {
        return deviceErrorCode(report);
    }
    return echoStatus(report, flag);
}

LinkStatus eraseFirmware(UnitLink& link) {
    ReportBuffer report = makeRequest(CMD_ERASE_FIRMWARE, kEraseFirmwareLength, 0);
    writeLe32(report, kFirstArgumentByte, kConfirmationValue);
    const ExchangeTiming timing{kEraseReplyDelayMs, kEraseReadTimeoutMs};
    if (const LinkStatus status = exchange(link, report, timing); status != kStatusOk) {
        return status;
    }
    return deviceErrorCode(report);
}

LinkStatus setWriteAddress(UnitLink& link) {
    constexpr std::uint32_t kWriteAddress = 0;
    ReportBuffer report = makeRequest(CMD_SET_ADDRESS, kSetAddressLength, 0x01);
    writeLe32(report, kFirstArgumentByte, kWriteAddress);
    writeLe32(report, kSecondArgumentByte, kConfirmationValue);
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
    // report carries the value of erased flash.
    std::fill(report.begin() + kBlockPayloadByte, report.end(), kErasedFlashByte);
    if (payloadBytes != 0) {
        std::memcpy(report.data() + kBlockPayloadByte, data, payloadBytes);
    }
    if (const LinkStatus status = exchange(link, report); status != kStatusOk) {
        return status;
    }
    return deviceErrorCode(report);
}

LinkStatus setSystemLock(UnitLink& link, bool lock) {
    const std::uint8_t flag = flagByte(lock);
    ReportBuffer report = makeRequest(CMD_SYSTEM_LOCK, kSystemLockLength, flag);
    if (const LinkStatus status = exchange(link, report); status != kStatusOk) {
        return status;
    }
    // The unit confirms the lock by its echo alone; the status byte says nothing.
    return echoStatus(report, flag);
}

}  // namespace orvanta
