// The emulated programming unit: request handling, the bootloader's guard rails,
// reply timing and injected faults.
#include "emulator/emulated_unit.h"

#include <algorithm>

namespace orvanta {

namespace {

// Windows codes a real unit's transfers fail with.
constexpr std::uint32_t kErrorInvalidParameter = 87;

constexpr std::uint8_t kStatusAccepted = 0x00;

// A firmware image carries its version in bytes 4-5; the bootloader reports the
// installed version from there.
constexpr std::size_t kImageVersionAt = 4;

UnitTransfer failedTransfer(std::uint32_t lastError, IoOutcome outcome = IoOutcome::failed) {
    return UnitTransfer{outcome, lastError, false};
}

// What byte 3 of a request may hold.
enum class Byte3 { zero, flag, one };

// The form of each request: the length byte it carries, byte 3, and how many
// argument bytes follow the header. A block's length byte is its payload size
// instead, any multiple of 4 up to the largest block.
struct RequestShape {
    std::uint8_t command;
    std::uint8_t lengthByte;
    Byte3 byte3;
    std::uint8_t argumentBytes;
};

constexpr RequestShape kRequestShapes[] = {
    {CMD_IDENTIFY, kIdentifyLength, Byte3::zero, 0},
    {CMD_READ_MEMORY, kReadMemoryLength, Byte3::zero, 4},
    {CMD_SYSTEM_LOCK, kSystemLockLength, Byte3::flag, 0},
    {CMD_WRITE_BLOCK, 0, Byte3::zero, 0},
    {CMD_READ_ESC_INFO, kReadEscInfoLength, Byte3::zero, 8},
    {CMD_ERASE_FIRMWARE, kEraseFirmwareLength, Byte3::zero, 4},
    {CMD_SET_ADDRESS, kSetAddressLength, Byte3::one, 8},
    {CMD_WRITE_PROTECTION, kWriteProtectionLength, Byte3::flag, 0},
    {CMD_READ_BOOTLOADER_INFO, kReadBootloaderInfoLength, Byte3::zero, 0},
};

// The device error code for a request of the wrong form, or 0 for a well-formed
// one. Every byte of the report is judged, up to its announced length: the unit
// takes a stray byte as a sign that the sender and it disagree about the command.
std::uint32_t formError(std::span<const std::uint8_t> request) {
    const std::uint8_t command = request[kCommandByte];
    const auto shape = std::find_if(std::begin(kRequestShapes), std::end(kRequestShapes),
                                    [&](const RequestShape& s) { return s.command == command; });
    if (shape == std::end(kRequestShapes)) {
        return kEmuErrorUnknownCommand;
    }
    const bool block = command == CMD_WRITE_BLOCK;
    std::size_t argumentBytes = shape->argumentBytes;
    const std::uint8_t lengthByte = request[kLengthByte];
    if (block) {
        if (lengthByte % 4 != 0 || lengthByte > kMaxBlockBytes) {
            return kEmuErrorBadLength;
        }
        argumentBytes = lengthByte;
    } else if (lengthByte != shape->lengthByte) {
        return kEmuErrorBadLength;
    }
    const std::size_t namedBytes = kRequestHeaderBytes + argumentBytes;
    if (namedBytes > request.size()) {
        return kEmuErrorReportTooShort;
    }
    const std::uint8_t flag = request[kFlagByte];
    switch (shape->byte3) {
    case Byte3::zero:
        if (flag != 0) return kEmuErrorBadFiller;
        break;
    case Byte3::flag:
        if (flag > 1) return kEmuErrorBadArgument;
        break;
    case Byte3::one:
        if (flag != 1) return kEmuErrorBadArgument;
        break;
    }
    const std::uint8_t filler = block ? kErasedFlashByte : 0x00;
    if (std::any_of(request.begin() + static_cast<std::ptrdiff_t>(namedBytes), request.end(),
                    [&](std::uint8_t b) { return b != filler; })) {
        return kEmuErrorBadFiller;
    }
    return 0;
}

}  // namespace

Fault faultOnCommand(FaultKind kind, std::uint8_t command, std::uint32_t occurrence,
                     std::uint32_t value) {
    Fault fault;
    fault.kind = kind;
    fault.command = command;
    fault.occurrence = occurrence;
    fault.value = value;
    return fault;
}

Fault faultOnExchange(FaultKind kind, std::uint32_t exchange, std::uint32_t value) {
    Fault fault;
    fault.kind = kind;
    fault.exchange = exchange;
    fault.value = value;
    return fault;
}

EmulatedUnit::EmulatedUnit(Clock& clock, const UnitConfig& config)
    : clock_(clock), config_(config) {
    flash_.assign(config_.flashBytes, 0x00);
    if (flash_.size() >= 6) {
        writeLe16(flash_, kImageVersionAt, config_.escFirmwareVersion);
    }
}

void EmulatedUnit::addFault(const Fault& fault) { faults_.push_back(fault); }

void EmulatedUnit::setUnplugged(bool unplugged) {
    unplugged_ = unplugged;
    if (!unplugged) {
        replugAtMs_.reset();
    }
}

void EmulatedUnit::powerUp() {
    systemLocked_ = false;
    writeProtected_ = true;
    erased_ = false;
    writeAddress_.reset();
    pending_ = Pending::none;
    if (flash_.size() != config_.flashBytes) {
        flash_.resize(config_.flashBytes, 0xFF);
    }
}

std::uint16_t EmulatedUnit::installedFirmwareVersion() const {
    if (!everErased_) {
        return config_.escFirmwareVersion;
    }
    if (flash_.size() < kImageVersionAt + 2) {
        return kNoEscFirmwareVersion;
    }
    return readLe16(flash_, kImageVersionAt);
}

std::uint32_t EmulatedUnit::commandCount(std::uint8_t command) const {
    const auto it = commandCounts_.find(command);
    return it == commandCounts_.end() ? 0 : it->second;
}

const Fault* EmulatedUnit::faultFor(FaultKind kind, std::uint8_t command,
                                    std::uint32_t occurrence) const {
    for (const Fault& fault : faults_) {
        if (fault.kind != kind) {
            continue;
        }
        if (fault.exchange != 0) {
            if (fault.exchange == exchanges_) {
                return &fault;
            }
        } else if (fault.command == command &&
                   (fault.occurrence == 0 || fault.occurrence == occurrence)) {
            return &fault;
        }
    }
    return nullptr;
}

UnitTransfer EmulatedUnit::receiveRequest(const std::uint8_t* data, std::size_t length) {
    if (unplugged_) {
        return failedTransfer(kErrorDeviceNotConnected);
    }
    // Windows refuses a HID write of any other length or with a foreign report id.
    if (data == nullptr || length != config_.outputReportLength || length < kRequestHeaderBytes ||
        data[kReportIdByte] != kOutputReportId) {
        return failedTransfer(kErrorInvalidParameter);
    }

    const std::uint8_t command = data[kCommandByte];
    ++exchanges_;
    const std::uint32_t occurrence = ++commandCounts_[command];
    commandLog_.push_back(command);
    pending_ = Pending::none;

    const auto hits = [&](FaultKind kind) { return faultFor(kind, command, occurrence); };
    if (const Fault* unplug = hits(FaultKind::unplug); unplug != nullptr) {
        unplugged_ = true;
        if (unplug->replugAfterMs != 0) {
            replugAtMs_ = clock_.nowMs() + unplug->replugAfterMs;
        }
        return UnitTransfer{IoOutcome::failed, kErrorDeviceNotConnected, true};
    }
    if (hits(FaultKind::writeFails) != nullptr) {
        return failedTransfer(kErrorGenFailure);
    }
    if (hits(FaultKind::writeHangs) != nullptr) {
        return UnitTransfer{IoOutcome::timedOut, kErrorTimeout, false, true};
    }
    if (hits(FaultKind::noAnswer) != nullptr) {
        pending_ = Pending::noAnswer;
        return UnitTransfer{};
    }

    replyReadyAtMs_ = clock_.nowMs() + config_.replyLatencyMs;
    if (const Fault* error = hits(FaultKind::errorStatus); error != nullptr) {
        answerError(error->value);
    } else {
        carryOut(std::span(data, length));
    }
    if (const Fault* echo = hits(FaultKind::wrongEcho); echo != nullptr) {
        reply_[kEchoByte] = echo->value != 0 ? static_cast<std::uint8_t>(echo->value)
                                             : static_cast<std::uint8_t>(reply_[kEchoByte] ^ 0x01);
    }
    if (hits(FaultKind::readFails) != nullptr) {
        pending_ = Pending::readFails;
    }
    return UnitTransfer{};
}

UnitTransfer EmulatedUnit::sendReply(std::uint8_t* data, std::size_t length,
                                     std::uint32_t timeoutMs) {
    if (unplugged_) {
        return failedTransfer(kErrorDeviceNotConnected);
    }
    if (data == nullptr || length != config_.inputReportLength) {
        return failedTransfer(kErrorInvalidParameter);
    }
    const Pending pending = pending_;
    pending_ = Pending::none;
    switch (pending) {
    case Pending::none:
    case Pending::noAnswer:
        clock_.sleepMs(timeoutMs);
        return failedTransfer(kErrorTimeout, IoOutcome::timedOut);
    case Pending::readFails:
        return failedTransfer(kErrorGenFailure);
    case Pending::reply:
        break;
    }
    const std::uint64_t now = clock_.nowMs();
    if (replyReadyAtMs_ > now) {
        const std::uint64_t waitMs = replyReadyAtMs_ - now;
        if (waitMs > timeoutMs) {
            // The reply that comes after the read was given up is lost.
            clock_.sleepMs(timeoutMs);
            return failedTransfer(kErrorTimeout, IoOutcome::timedOut);
        }
        clock_.sleepMs(static_cast<std::uint32_t>(waitMs));
    }
    std::copy_n(reply_.begin(), length, data);
    return UnitTransfer{};
}

bool EmulatedUnit::escReady() const {
    return config_.unitMode == 0 && config_.escState == ESC_STATE_BOOTLOADER_READY;
}

// Every reply starts from a clean input report.
void EmulatedUnit::answerError(std::uint32_t code) {
    reply_.assign(std::max<std::size_t>(config_.inputReportLength, kReportBufferBytes), 0);
    reply_[kReportIdByte] = kInputReportId;
    reply_[kStatusByte] = kStatusError;
    writeLe32(reply_, kErrorCodeByte, code);
    pending_ = Pending::reply;
}

void EmulatedUnit::carryOut(std::span<const std::uint8_t> request) {
    reply_.assign(std::max<std::size_t>(config_.inputReportLength, kReportBufferBytes), 0);
    reply_[kReportIdByte] = kInputReportId;
    reply_[kStatusByte] = kStatusAccepted;
    pending_ = Pending::reply;

    const std::uint8_t command = request[kCommandByte];
    if (const std::uint32_t code = formError(request); code != 0) {
        answerError(code);
        if (command == CMD_SYSTEM_LOCK) {
            // The lock answers with its state even when it refuses a request.
            reply_[kEchoByte] = systemLocked_ ? 1 : 0;
        }
        return;
    }
    switch (command) {
    case CMD_IDENTIFY:
        answerIdentify();
        break;
    case CMD_READ_MEMORY:
        answerReadMemory(request);
        break;
    case CMD_SYSTEM_LOCK:
        answerSystemLock(request[kFlagByte]);
        break;
    case CMD_WRITE_BLOCK:
        answerWriteBlock(request);
        break;
    case CMD_READ_ESC_INFO:
        answerEscInfo(request);
        break;
    case CMD_ERASE_FIRMWARE:
        answerErase(request);
        break;
    case CMD_SET_ADDRESS:
        answerSetAddress(request);
        break;
    case CMD_WRITE_PROTECTION:
        answerWriteProtection(request[kFlagByte]);
        break;
    case CMD_READ_BOOTLOADER_INFO:
        answerBootloaderInfo();
        break;
    default:
        answerError(kEmuErrorUnknownCommand);
        break;
    }
}

void EmulatedUnit::answerIdentify() {
    // A new identification starts a new session: an erase and an address from
    // before it no longer allow writing.
    erased_ = false;
    writeAddress_.reset();

    reply_[kUnitModeByte] = config_.unitMode;
    if (config_.unitMode != 0) {
        const UnitModeInfo& info = config_.modeInfo;
        reply_[kModeInfoFirstByte] = info.first;
        writeLe16(reply_, kModeInfoSecondByte, info.second);
        writeLe32(reply_, kModeInfoThirdByte, info.third);
        writeLe32(reply_, kModeInfoFourthByte, info.fourth);
        reply_[kModeInfoFifthByte] = info.fifth;
        return;
    }
    writeLe16(reply_, kEscStateByte, config_.escState);
    writeLe16(reply_, kIdentifyReservedByte, config_.identifyReserved);
    writeLe32(reply_, kUnitFirmwareVersionByte, config_.unitFirmwareVersion);
    writeLe32(reply_, kUnitReservedByte, config_.unitReserved);
}

void EmulatedUnit::answerReadMemory(std::span<const std::uint8_t> request) {
    if (readLe32(request, kFirstArgumentByte) != kUnitInfoAddress) {
        answerError(kEmuErrorBadArgument);
        return;
    }
    std::array<std::uint8_t, kUnitInfoBytes> memory{};
    if (config_.unitMemory) {
        memory = *config_.unitMemory;
    } else {
        writeLe32(memory, kUnitInfoFirmwareVersionAt, config_.unitFirmwareVersion);
        writeLe32(memory, kUnitInfoReservedAt, config_.unitReserved);
    }
    std::copy(memory.begin(), memory.end(), reply_.begin() + kReplyDataByte);
}

void EmulatedUnit::answerEscInfo(std::span<const std::uint8_t> request) {
    if (!escReady()) {
        answerError(kEmuErrorNoBootloader);
        return;
    }
    if (readLe32(request, kFirstArgumentByte) != kEscInfoBytes ||
        readLe32(request, kSecondArgumentByte) != kEscInfoSelector) {
        answerError(kEmuErrorBadArgument);
        return;
    }
    std::array<std::uint8_t, kEscInfoBytes> block = config_.escInfo;
    writeLe16(block, kEscInfoFirmwareVersionAt, installedFirmwareVersion());
    std::copy(block.begin(), block.end(), reply_.begin() + kReplyDataByte);
}

void EmulatedUnit::answerBootloaderInfo() {
    if (!escReady()) {
        answerError(kEmuErrorNoBootloader);
        return;
    }
    std::array<std::uint8_t, kBootloaderInfoBytes> block = config_.bootloaderInfo;
    writeLe32(block, kBootloaderInfoTypeCodeAt, config_.escTypeCode);
    writeLe32(block, kBootloaderInfoVersionAt, config_.bootloaderVersion);
    std::copy(block.begin(), block.end(), reply_.begin() + kReplyDataByte);
}

void EmulatedUnit::answerSystemLock(std::uint8_t flag) {
    systemLocked_ = flag == 1;
    reply_[kEchoByte] = flag;
}

void EmulatedUnit::answerWriteProtection(std::uint8_t flag) {
    if (!escReady()) {
        answerError(kEmuErrorNoBootloader);
        return;
    }
    writeProtected_ = flag == 1;
    if (writeProtected_) {
        // Protecting the flash ends a write session; the next one needs a new erase.
        erased_ = false;
        writeAddress_.reset();
    }
    reply_[kEchoByte] = flag;
}

void EmulatedUnit::answerErase(std::span<const std::uint8_t> request) {
    if (!escReady()) {
        answerError(kEmuErrorNoBootloader);
        return;
    }
    if (readLe32(request, kFirstArgumentByte) != kConfirmationValue) {
        answerError(kEmuErrorBadConfirmation);
        return;
    }
    if (!systemLocked_) {
        answerError(kEmuErrorNotLocked);
        return;
    }
    if (writeProtected_) {
        answerError(kEmuErrorWriteProtected);
        return;
    }
    std::fill(flash_.begin(), flash_.end(), std::uint8_t{0xFF});
    everErased_ = true;
    erased_ = true;
    writeAddress_.reset();
    replyReadyAtMs_ += config_.eraseDurationMs;
}

void EmulatedUnit::answerSetAddress(std::span<const std::uint8_t> request) {
    if (!escReady()) {
        answerError(kEmuErrorNoBootloader);
        return;
    }
    if (readLe32(request, kSecondArgumentByte) != kConfirmationValue) {
        answerError(kEmuErrorBadConfirmation);
        return;
    }
    const std::uint32_t address = readLe32(request, kFirstArgumentByte);
    if (address % 4 != 0 || address >= flash_.size()) {
        answerError(kEmuErrorBadArgument);
        return;
    }
    writeAddress_ = address;
}

void EmulatedUnit::answerWriteBlock(std::span<const std::uint8_t> request) {
    if (!escReady()) {
        answerError(kEmuErrorNoBootloader);
        return;
    }
    const std::size_t payloadBytes = request[kLengthByte];
    if (!systemLocked_) {
        answerError(kEmuErrorNotLocked);
        return;
    }
    if (writeProtected_) {
        answerError(kEmuErrorWriteProtected);
        return;
    }
    if (!erased_) {
        answerError(kEmuErrorNotErased);
        return;
    }
    if (!writeAddress_) {
        answerError(kEmuErrorNoAddress);
        return;
    }
    const std::uint64_t end = static_cast<std::uint64_t>(*writeAddress_) + payloadBytes;
    if (end > flash_.size()) {
        answerError(kEmuErrorPastFlashEnd);
        return;
    }
    std::copy_n(request.begin() + kBlockPayloadByte, payloadBytes, flash_.begin() + *writeAddress_);
    *writeAddress_ = static_cast<std::uint32_t>(end);
}

}  // namespace orvanta
