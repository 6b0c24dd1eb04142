// The emulated programming unit: request handling, the bootloader's guard rails,
// reply timing and injected faults.
#include "emulator/emulated_unit.h"

#include <algorithm>

namespace orvanta {

namespace {

// Windows codes a real unit's transfers fail with.
constexpr std::uint32_t kErrorInvalidParameter = 87;

constexpr std::uint8_t kStatusAccepted = 0x00;

std::uint32_t readLe32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) |
           (static_cast<std::uint32_t>(bytes[3]) << 24);
}

void putLe16(std::uint8_t* bytes, std::uint16_t value) {
    bytes[0] = static_cast<std::uint8_t>(value);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

void putLe32(std::uint8_t* bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

UnitTransfer failedTransfer(std::uint32_t lastError, IoOutcome outcome = IoOutcome::failed) {
    return UnitTransfer{outcome, lastError, false};
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
        putLe16(&flash_[4], config_.escFirmwareVersion);
    }
}

void EmulatedUnit::addFault(const Fault& fault) { faults_.push_back(fault); }

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
    if (flash_.size() < 6) {
        return 0xFFFF;
    }
    return static_cast<std::uint16_t>(flash_[4] | (flash_[5] << 8));
}

std::uint32_t EmulatedUnit::commandCount(std::uint8_t command) const {
    const auto it = commandCounts_.find(command);
    return it == commandCounts_.end() ? 0 : it->second;
}

const Fault* EmulatedUnit::faultFor(std::uint8_t command, std::uint32_t occurrence) const {
    for (const Fault& fault : faults_) {
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
    if (data == nullptr || length != config_.outputReportLength || length < 4 ||
        data[0] != kOutputReportId) {
        return failedTransfer(kErrorInvalidParameter);
    }

    const std::uint8_t command = data[1];
    ++exchanges_;
    const std::uint32_t occurrence = ++commandCounts_[command];
    commandLog_.push_back(command);
    pending_ = Pending::none;

    const Fault* fault = faultFor(command, occurrence);
    if (fault != nullptr) {
        switch (fault->kind) {
        case FaultKind::unplug:
            unplugged_ = true;
            return UnitTransfer{IoOutcome::failed, kErrorDeviceNotConnected, true};
        case FaultKind::writeFails:
            return failedTransfer(kErrorGenFailure);
        case FaultKind::noAnswer:
            pending_ = Pending::noAnswer;
            return UnitTransfer{};
        case FaultKind::errorStatus:
            replyReadyAtMs_ = clock_.nowMs() + config_.replyLatencyMs;
            answerError(fault->value);
            return UnitTransfer{};
        case FaultKind::readFails:
        case FaultKind::wrongEcho:
            break;
        }
    }

    replyReadyAtMs_ = clock_.nowMs() + config_.replyLatencyMs;
    carryOut(data, length);
    if (fault != nullptr && fault->kind == FaultKind::readFails) {
        pending_ = Pending::readFails;
    } else if (fault != nullptr && fault->kind == FaultKind::wrongEcho) {
        reply_[3] = fault->value != 0 ? static_cast<std::uint8_t>(fault->value)
                                      : static_cast<std::uint8_t>(reply_[3] ^ 0x01);
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
    reply_[0] = kInputReportId;
    reply_[1] = kStatusError;
    putLe32(&reply_[4], code);
    pending_ = Pending::reply;
}

void EmulatedUnit::carryOut(const std::uint8_t* request, std::size_t length) {
    reply_.assign(std::max<std::size_t>(config_.inputReportLength, kReportBufferBytes), 0);
    reply_[0] = kInputReportId;
    reply_[1] = kStatusAccepted;
    pending_ = Pending::reply;

    const std::uint8_t command = request[1];
    // Requests shorter than the arguments they carry cannot be judged.
    if (length < 12 && command != CMD_IDENTIFY && command != CMD_READ_BOOTLOADER_INFO &&
        command != CMD_SYSTEM_LOCK && command != CMD_WRITE_PROTECTION) {
        answerError(kEmuErrorBadLength);
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
        answerSystemLock(request[3]);
        break;
    case CMD_WRITE_BLOCK:
        answerWriteBlock(request, length);
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
        answerWriteProtection(request[3]);
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

    reply_[3] = config_.unitMode;
    if (config_.unitMode != 0) {
        const UnitModeInfo& info = config_.modeInfo;
        reply_[4] = info.first;
        putLe16(&reply_[5], info.second);
        putLe32(&reply_[7], info.third);
        putLe32(&reply_[11], info.fourth);
        reply_[15] = info.fifth;
        return;
    }
    putLe16(&reply_[4], config_.escState);
    putLe16(&reply_[6], config_.identifyReserved);
    putLe32(&reply_[8], config_.unitFirmwareVersion);
    putLe32(&reply_[12], config_.unitReserved);
}

void EmulatedUnit::answerReadMemory(const std::uint8_t* request) {
    if (request[2] != kUnitInfoBytes || readLe32(&request[4]) != kUnitInfoAddress) {
        answerError(kEmuErrorBadArgument);
        return;
    }
    std::array<std::uint8_t, kUnitInfoBytes> memory{};
    if (config_.unitMemory) {
        memory = *config_.unitMemory;
    } else {
        putLe32(&memory[4], config_.unitFirmwareVersion);
        putLe32(&memory[8], config_.unitReserved);
    }
    std::copy(memory.begin(), memory.end(), reply_.begin() + 4);
}

void EmulatedUnit::answerEscInfo(const std::uint8_t* request) {
    if (!escReady()) {
        answerError(kEmuErrorNoBootloader);
        return;
    }
    if (request[2] != 8) {
        answerError(kEmuErrorBadLength);
        return;
    }
    if (readLe32(&request[4]) != kEscInfoBytes || readLe32(&request[8]) != kEscInfoSelector) {
        answerError(kEmuErrorBadArgument);
        return;
    }
    std::array<std::uint8_t, kEscInfoBytes> block = config_.escInfo;
    putLe16(&block[4], installedFirmwareVersion());
    std::copy(block.begin(), block.end(), reply_.begin() + 4);
}

void EmulatedUnit::answerBootloaderInfo() {
    if (!escReady()) {
        answerError(kEmuErrorNoBootloader);
        return;
    }
    std::array<std::uint8_t, kBootloaderInfoBytes> block = config_.bootloaderInfo;
    putLe32(block.data(), config_.escTypeCode);
    putLe32(&block[4], config_.bootloaderVersion);
    std::copy(block.begin(), block.end(), reply_.begin() + 4);
}

void EmulatedUnit::answerSystemLock(std::uint8_t flag) {
    if (flag > 1) {
        answerError(kEmuErrorBadArgument);
        reply_[3] = systemLocked_ ? 1 : 0;
        return;
    }
    systemLocked_ = flag == 1;
    reply_[3] = flag;
}

void EmulatedUnit::answerWriteProtection(std::uint8_t flag) {
    if (!escReady()) {
        answerError(kEmuErrorNoBootloader);
        return;
    }
    if (flag > 1) {
        answerError(kEmuErrorBadArgument);
        return;
    }
    writeProtected_ = flag == 1;
    if (writeProtected_) {
        // Protecting the flash ends a write session; the next one needs a new erase.
        erased_ = false;
        writeAddress_.reset();
    }
    reply_[3] = flag;
}

void EmulatedUnit::answerErase(const std::uint8_t* request) {
    if (!escReady()) {
        answerError(kEmuErrorNoBootloader);
        return;
    }
    if (request[2] != 4) {
        answerError(kEmuErrorBadLength);
        return;
    }
    if (readLe32(&request[4]) != kConfirmationValue) {
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

void EmulatedUnit::answerSetAddress(const std::uint8_t* request) {
    if (!escReady()) {
        answerError(kEmuErrorNoBootloader);
        return;
    }
    if (request[2] != 9) {
        answerError(kEmuErrorBadLength);
        return;
    }
    if (readLe32(&request[8]) != kConfirmationValue) {
        answerError(kEmuErrorBadConfirmation);
        return;
    }
    const std::uint32_t address = readLe32(&request[4]);
    if (address % 4 != 0 || address >= flash_.size()) {
        answerError(kEmuErrorBadArgument);
        return;
    }
    writeAddress_ = address;
}

void EmulatedUnit::answerWriteBlock(const std::uint8_t* request, std::size_t length) {
    if (!escReady()) {
        answerError(kEmuErrorNoBootloader);
        return;
    }
    const std::size_t payloadBytes = request[2];
    if (payloadBytes % 4 != 0 || payloadBytes > std::size_t{kMaxBlockWords} * 4u ||
        4 + payloadBytes > length) {
        answerError(kEmuErrorBadLength);
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
    std::copy_n(request + 4, payloadBytes, flash_.begin() + *writeAddress_);
    *writeAddress_ = static_cast<std::uint32_t>(end);
}

}  // namespace orvanta
