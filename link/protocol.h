// The programming unit's protocol in one place: its commands with the length each
// announces, where every field of its reports lies both ways, the block the update is
// cut into, the limits on report lengths, and the little-endian access to values. The
// link and the emulated unit both read and write reports here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace orvanta {

// Every report, either way, fits this buffer, report id included.
inline constexpr std::size_t kReportBufferBytes = 60;

// --- Commands ---------------------------------------------------------------
// Each command code with the value its request's length byte announces.

inline constexpr std::uint8_t CMD_IDENTIFY = 0x08;
inline constexpr std::uint8_t kIdentifyLength = 0;
inline constexpr std::uint8_t CMD_READ_MEMORY = 0x0A;
inline constexpr std::uint8_t kReadMemoryLength = 12;  // the unit's information block
inline constexpr std::uint8_t CMD_SYSTEM_LOCK = 0x0B;
inline constexpr std::uint8_t kSystemLockLength = 1;
// A block's length byte is its payload size instead.
inline constexpr std::uint8_t CMD_WRITE_BLOCK = 0x1B;
inline constexpr std::uint8_t CMD_READ_ESC_INFO = 0x1D;
inline constexpr std::uint8_t kReadEscInfoLength = 8;
inline constexpr std::uint8_t CMD_ERASE_FIRMWARE = 0x1E;
inline constexpr std::uint8_t kEraseFirmwareLength = 4;
inline constexpr std::uint8_t CMD_SET_ADDRESS = 0x1F;
inline constexpr std::uint8_t kSetAddressLength = 9;
inline constexpr std::uint8_t CMD_WRITE_PROTECTION = 0x20;
inline constexpr std::uint8_t kWriteProtectionLength = 1;
inline constexpr std::uint8_t CMD_READ_BOOTLOADER_INFO = 0x22;
inline constexpr std::uint8_t kReadBootloaderInfoLength = 0;

// The bootloader refuses an erase or a new write address without it.
inline constexpr std::uint32_t kConfirmationValue = 0x3A7C52E9;
inline constexpr std::uint32_t kUnitInfoAddress = 0x0801FC00;
inline constexpr std::uint32_t kEscInfoSelector = 0xFFFFFFE0;
// CMD_IDENTIFY's ESC state when an ESC bootloader is ready behind the unit.
inline constexpr std::uint16_t ESC_STATE_BOOTLOADER_READY = 3;

// The update sends its image in blocks of this size; the last one may be shorter.
inline constexpr std::uint32_t kBlockBytes = 48;
inline constexpr std::uint32_t kBlockWords = kBlockBytes / 4;
// The value of erased flash: behind the image's end in a short last block, and
// behind a block's payload in its request.
inline constexpr std::uint8_t kErasedFlashByte = 0xFF;

// Byte 0 of every report, either way, is its report id.
inline constexpr std::size_t kReportIdByte = 0;
inline constexpr std::uint8_t kOutputReportId = 0x01;
inline constexpr std::uint8_t kInputReportId = 0x02;

// --- Request (output report) ------------------------------------------------

inline constexpr std::size_t kCommandByte = 1;
// What the command announces: a fixed value per command, a block's payload size.
inline constexpr std::size_t kLengthByte = 2;
// The one-byte argument (a flag, or the 1 of a new write address), 0 otherwise.
inline constexpr std::size_t kFlagByte = 3;
inline constexpr std::size_t kRequestHeaderBytes = 4;
// The 32-bit arguments follow the header without gaps.
inline constexpr std::size_t kFirstArgumentByte = kRequestHeaderBytes;
inline constexpr std::size_t kSecondArgumentByte = kFirstArgumentByte + 4;
// A block's payload takes the place of the arguments, up to the end of the buffer.
inline constexpr std::size_t kBlockPayloadByte = kRequestHeaderBytes;
inline constexpr std::uint8_t kMaxBlockWords = 14;
inline constexpr std::size_t kMaxBlockBytes = std::size_t{kMaxBlockWords} * 4;
static_assert(kBlockPayloadByte + kMaxBlockBytes == kReportBufferBytes);
// Behind a block's payload a request carries kErasedFlashByte; every other byte a
// command does not name is 0.

// --- Reply (input report) ---------------------------------------------------

inline constexpr std::size_t kStatusByte = 1;
inline constexpr std::uint8_t kStatusError = 0xFF;  // any other status: accepted
// The unit repeats the request's flag here (lock, write protection).
inline constexpr std::size_t kEchoByte = 3;
// Where a command's data starts; with kStatusError there is the device error code
// instead, 32 bits (the probe's reads take only its low 16).
inline constexpr std::size_t kReplyDataByte = 4;
inline constexpr std::size_t kErrorCodeByte = kReplyDataByte;

// CMD_IDENTIFY: byte 3 is the unit's mode; the rest depends on it.
inline constexpr std::size_t kUnitModeByte = 3;
// ... in the mode for ESC updates (mode 0):
inline constexpr std::size_t kEscStateByte = 4;          // 16 bits
inline constexpr std::size_t kIdentifyReservedByte = 6;  // 16 bits
inline constexpr std::size_t kUnitFirmwareVersionByte = 8;
inline constexpr std::size_t kUnitReservedByte = 12;
// ... in any other mode, five values of 8, 16, 32, 32 and 8 bits packed without gaps:
inline constexpr std::size_t kModeInfoFirstByte = 4;
inline constexpr std::size_t kModeInfoSecondByte = 5;
inline constexpr std::size_t kModeInfoThirdByte = 7;
inline constexpr std::size_t kModeInfoFourthByte = 11;
inline constexpr std::size_t kModeInfoFifthByte = 15;

// CMD_READ_MEMORY: the unit's information block, from kReplyDataByte.
inline constexpr std::uint8_t kUnitInfoBytes = kReadMemoryLength;
inline constexpr std::size_t kUnitInfoFirmwareVersionAt = 4;  // in the block
inline constexpr std::size_t kUnitInfoReservedAt = 8;         // in the block

// CMD_READ_ESC_INFO: the ESC information block, from kReplyDataByte.
inline constexpr std::uint32_t kEscInfoBytes = 32;
inline constexpr std::size_t kEscInfoFirmwareVersionAt = 4;  // in the block, 16 bits

// CMD_READ_BOOTLOADER_INFO: the bootloader information block, from kReplyDataByte.
inline constexpr std::uint32_t kBootloaderInfoBytes = 40;
inline constexpr std::size_t kBootloaderInfoTypeCodeAt = 0;  // in the block
inline constexpr std::size_t kBootloaderInfoVersionAt = 4;   // in the block

// A unit must carry a whole block of the update in one output report, and the
// longest reply the probe reads; no report may be longer than the buffer.
inline constexpr std::size_t kMinOutputReportBytes = kBlockPayloadByte + kBlockBytes;
inline constexpr std::size_t kMinInputReportBytes = kReplyDataByte + kBootloaderInfoBytes;
static_assert(kMinOutputReportBytes <= kReportBufferBytes);
static_assert(kMinInputReportBytes <= kReportBufferBytes);
static_assert(kBlockWords <= kMaxBlockWords);

constexpr bool reportLengthsFit(std::size_t outputBytes, std::size_t inputBytes) {
    return outputBytes >= kMinOutputReportBytes && outputBytes <= kReportBufferBytes &&
           inputBytes >= kMinInputReportBytes && inputBytes <= kReportBufferBytes;
}

// --- Little-endian values ---------------------------------------------------
// The unit sends and expects every multi-byte value low byte first. `at` is the
// position of the value's first byte in a report or block.

constexpr std::uint16_t readLe16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

constexpr std::uint32_t readLe32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) |
           (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[at + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

constexpr void writeLe16(std::span<std::uint8_t> bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

constexpr void writeLe32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
    bytes[at + 2] = static_cast<std::uint8_t>(value >> 16);
    bytes[at + 3] = static_cast<std::uint8_t>(value >> 24);
}

}  // namespace orvanta
