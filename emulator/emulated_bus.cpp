// The emulated HID bus: discovery with failures on demand, handle bookkeeping,
// transfers handed to the emulated units, and the report trace.
#include "emulator/emulated_bus.h"

#include <cstdio>

namespace orvanta {

namespace {

constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;

}  // namespace

EmulatedBus::EmulatedBus(Clock& clock) : clock_(clock) {}

EmulatedBus::~EmulatedBus() = default;

std::wstring EmulatedBus::makePath(std::uint16_t vendorId, std::uint16_t productId) const {
    wchar_t text[128];
    std::swprintf(text, sizeof text / sizeof text[0],
                  L"\\\\?\\hid#vid_%04x&pid_%04x#7&2f1c%04zx&0&0000#"
                  L"{4d1e55b2-f16f-11cf-88cb-001111000030}",
                  static_cast<unsigned>(vendorId), static_cast<unsigned>(productId),
                  interfaces_.size());
    return text;
}

EmulatedUnit& EmulatedBus::addUnit(const UnitConfig& config, const std::wstring& path) {
    auto iface = std::make_unique<Interface>();
    iface->path = path.empty() ? makePath(config.vendorId, config.productId) : path;
    iface->unit = std::make_unique<EmulatedUnit>(clock_, config);
    EmulatedUnit& unit = *iface->unit;
    interfaces_.push_back(std::move(iface));
    return unit;
}

void EmulatedBus::addOtherDevice(std::uint16_t vendorId, std::uint16_t productId,
                                 const std::wstring& path, HidCaps caps) {
    auto iface = std::make_unique<Interface>();
    iface->path = path.empty() ? makePath(vendorId, productId) : path;
    iface->vendorId = vendorId;
    iface->productId = productId;
    iface->caps = caps;
    interfaces_.push_back(std::move(iface));
}

const std::wstring& EmulatedBus::pathAt(std::size_t position) const {
    return interfaces_.at(position)->path;
}

EmulatedBus::Interface* EmulatedBus::findInterface(const std::wstring& path) {
    for (auto& iface : interfaces_) {
        if (iface->path == path) {
            return iface.get();
        }
    }
    return nullptr;
}

const EmulatedBus::Interface* EmulatedBus::findInterface(const std::wstring& path) const {
    for (const auto& iface : interfaces_) {
        if (iface->path == path) {
            return iface.get();
        }
    }
    return nullptr;
}

EmulatedUnit* EmulatedBus::unitAt(const std::wstring& path) {
    Interface* iface = findInterface(path);
    return iface == nullptr ? nullptr : iface->unit.get();
}

InterfaceFailures& EmulatedBus::failures(const std::wstring& path) {
    Interface* iface = findInterface(path);
    if (iface == nullptr) {
        // Asking for an interface that was never added is a fault of the caller.
        static InterfaceFailures unused;
        unused = InterfaceFailures{};
        return unused;
    }
    return iface->failures;
}

void EmulatedBus::noteUnplug(Interface& iface) {
    iface.present = false;
    ++iface.generation;
    if (iface.unit) {
        iface.unit->setUnplugged(true);
    }
}

void EmulatedBus::unplug(const std::wstring& path) {
    if (Interface* iface = findInterface(path); iface != nullptr && iface->present) {
        noteUnplug(*iface);
    }
}

void EmulatedBus::plug(const std::wstring& path) {
    Interface* iface = findInterface(path);
    if (iface == nullptr || iface->present) {
        return;
    }
    iface->present = true;
    if (iface->unit) {
        iface->unit->setUnplugged(false);
        iface->unit->powerUp();
    }
}

bool EmulatedBus::present(const std::wstring& path) const {
    const Interface* iface = findInterface(path);
    return iface != nullptr && iface->present;
}

std::uint32_t EmulatedBus::openCount(const std::wstring& path) const {
    const Interface* iface = findInterface(path);
    return iface == nullptr ? 0 : iface->opens;
}

bool EmulatedBus::setTraceFile(const std::string& fileName) {
    traceFile_.close();
    traceFile_.clear();
    traceFile_.open(fileName, std::ios::out | std::ios::app);
    return traceFile_.is_open();
}

void EmulatedBus::addTraceLine(std::string line) {
    if (traceFile_.is_open()) {
        traceFile_ << line << '\n';
        traceFile_.flush();
    }
    trace_.push_back(std::move(line));
}

void EmulatedBus::traceReport(char direction, const std::uint8_t* data, std::size_t length) {
    static constexpr char kHexDigits[] = "0123456789abcdef";
    std::string line;
    line.reserve(2 + length * 3);
    line += direction;
    line += ' ';
    for (std::size_t i = 0; i < length; ++i) {
        if (i != 0) {
            line += ' ';
        }
        line += kHexDigits[data[i] >> 4];
        line += kHexDigits[data[i] & 0x0F];
    }
    addTraceLine(std::move(line));
}

void EmulatedBus::traceFailure(const char* what, IoOutcome outcome, std::uint32_t error) {
    std::string line = "! ";
    line += what;
    line += outcome == IoOutcome::timedOut ? " timed out" : " failed";
    line += ", last error " + std::to_string(error);
    addTraceLine(std::move(line));
}

bool EmulatedBus::beginEnumeration() {
    if (enumerationFails_) {
        fail(kErrorGenFailure);
        return false;
    }
    snapshot_.clear();
    for (std::size_t i = 0; i < interfaces_.size(); ++i) {
        if (interfaces_[i]->present) {
            snapshot_.push_back(i);
        }
    }
    enumerationActive_ = true;
    ++enumerations_;
    return true;
}

InterfaceLookup EmulatedBus::interfaceAt(std::uint32_t index, std::wstring& path) {
    if (!enumerationActive_ || index >= snapshot_.size()) {
        return InterfaceLookup::endOfList;
    }
    const Interface& iface = *interfaces_[snapshot_[index]];
    if (iface.failures.detailFails) {
        fail(kErrorGenFailure);
        return InterfaceLookup::detailFailed;
    }
    path = iface.path;
    return InterfaceLookup::found;
}

void EmulatedBus::endEnumeration() {
    enumerationActive_ = false;
    snapshot_.clear();
}

HidHandle EmulatedBus::open(const std::wstring& path) {
    for (std::size_t position = 0; position < interfaces_.size(); ++position) {
        Interface& iface = *interfaces_[position];
        if (iface.path != path) {
            continue;
        }
        if (!iface.present) {
            break;
        }
        if (iface.failures.openFails) {
            fail(kErrorAccessDenied);
            return kInvalidHidHandle;
        }
        const HidHandle handle = nextHandle_;
        nextHandle_ += 4;
        handles_[handle] = OpenHandle{position, iface.generation};
        ++iface.opens;
        return handle;
    }
    fail(kErrorFileNotFound);
    return kInvalidHidHandle;
}

EmulatedBus::Interface* EmulatedBus::liveInterface(HidHandle handle) {
    const auto it = handles_.find(handle);
    if (it == handles_.end()) {
        fail(kErrorInvalidHandle);
        return nullptr;
    }
    Interface& iface = *interfaces_[it->second.position];
    if (!iface.present || iface.generation != it->second.generation) {
        fail(kErrorDeviceNotConnected);
        return nullptr;
    }
    return &iface;
}

bool EmulatedBus::attributes(HidHandle handle, HidAttributes& out) {
    Interface* iface = liveInterface(handle);
    if (iface == nullptr) {
        return false;
    }
    if (iface->failures.attributesFail) {
        fail(kErrorGenFailure);
        return false;
    }
    if (iface->unit) {
        // A unit's ids follow its configuration, so tests may change them later.
        out.vendorId = iface->unit->config().vendorId;
        out.productId = iface->unit->config().productId;
    } else {
        out.vendorId = iface->vendorId;
        out.productId = iface->productId;
    }
    return true;
}

bool EmulatedBus::capabilities(HidHandle handle, HidCaps& out) {
    Interface* iface = liveInterface(handle);
    if (iface == nullptr) {
        return false;
    }
    if (iface->failures.capabilitiesFail) {
        fail(kErrorGenFailure);
        return false;
    }
    if (iface->unit) {
        const UnitConfig& config = iface->unit->config();
        out = HidCaps{config.inputReportLength, config.outputReportLength};
    } else {
        out = iface->caps;
    }
    return true;
}

IoOutcome EmulatedBus::write(HidHandle handle, const std::uint8_t* data, std::size_t length,
                             std::uint32_t /*timeoutMs*/) {
    Interface* iface = liveInterface(handle);
    if (iface == nullptr) {
        traceFailure("write", IoOutcome::failed, lastError_);
        return IoOutcome::failed;
    }
    if (!iface->unit) {
        fail(kErrorInvalidFunction);
        traceFailure("write", IoOutcome::failed, lastError_);
        return IoOutcome::failed;
    }
    const UnitTransfer transfer = iface->unit->receiveRequest(data, length);
    if (transfer.unplugged) {
        noteUnplug(*iface);
    }
    if (transfer.outcome != IoOutcome::done) {
        fail(transfer.lastError);
        traceFailure("write", transfer.outcome, transfer.lastError);
        return transfer.outcome;
    }
    traceReport('>', data, length);
    return IoOutcome::done;
}

IoOutcome EmulatedBus::read(HidHandle handle, std::uint8_t* data, std::size_t length,
                            std::uint32_t timeoutMs) {
    Interface* iface = liveInterface(handle);
    if (iface == nullptr) {
        traceFailure("read", IoOutcome::failed, lastError_);
        return IoOutcome::failed;
    }
    if (!iface->unit) {
        // Other devices never answer the unit's commands.
        clock_.sleepMs(timeoutMs);
        fail(kErrorTimeout);
        traceFailure("read", IoOutcome::timedOut, lastError_);
        return IoOutcome::timedOut;
    }
    const UnitTransfer transfer = iface->unit->sendReply(data, length, timeoutMs);
    if (transfer.unplugged) {
        noteUnplug(*iface);
    }
    if (transfer.outcome != IoOutcome::done) {
        fail(transfer.lastError);
        traceFailure("read", transfer.outcome, transfer.lastError);
        return transfer.outcome;
    }
    traceReport('<', data, length);
    return IoOutcome::done;
}

void EmulatedBus::close(HidHandle handle) {
    if (handles_.erase(handle) == 0) {
        ++strayCloses_;
    }
}

}  // namespace orvanta
