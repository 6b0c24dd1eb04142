// The emulated HID bus: discovery with failures on demand, handle bookkeeping,
// transfers handed to the emulated units, and the report trace.
#include "emulator/emulated_bus.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace orvanta {

namespace {

constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorInvalidHandle = 6;

}  // namespace

bool splitTraceLine(const std::string& line, TraceLine& out) {
    std::uint64_t ms = 0;
    const char* end = line.data() + line.size();
    const auto [next, error] = std::from_chars(line.data(), end, ms);
    if (error != std::errc{} || next == end || *next != ' ') {
        return false;
    }
    out.ms = ms;
    out.entry.assign(next + 1, end);
    return true;
}

EmulatedBus::EmulatedBus(Clock& clock) : clock_(clock), createdAtMs_(clock.nowMs()) {}

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
    presenceChanges_.push_back(PresenceChange{iface.path, false});
}

void EmulatedBus::notePlug(Interface& iface) {
    iface.present = true;
    if (iface.unit) {
        iface.unit->setUnplugged(false);
        iface.unit->powerUp();
    }
    presenceChanges_.push_back(PresenceChange{iface.path, true});
}

bool EmulatedBus::replugDue(const Interface& iface) const {
    if (iface.present || !iface.unit) {
        return false;
    }
    const std::optional<std::uint64_t> at = iface.unit->replugAtMs();
    return at.has_value() && clock_.nowMs() >= *at;
}

// Time only moves on the clock, so a replug takes effect at the first look at the
// bus after its time has come.
void EmulatedBus::plugDueUnits() {
    for (auto& iface : interfaces_) {
        if (replugDue(*iface)) {
            notePlug(*iface);
        }
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
    notePlug(*iface);
}

bool EmulatedBus::present(const std::wstring& path) const {
    const Interface* iface = findInterface(path);
    return iface != nullptr && (iface->present || replugDue(*iface));
}

std::vector<PresenceChange> EmulatedBus::takePresenceChanges() {
    plugDueUnits();
    std::vector<PresenceChange> changes;
    changes.swap(presenceChanges_);
    return changes;
}

std::uint32_t EmulatedBus::openCount(const std::wstring& path) const {
    const Interface* iface = findInterface(path);
    return iface == nullptr ? 0 : iface->opens;
}

std::uint32_t EmulatedBus::talkOpenCount(const std::wstring& path) const {
    const Interface* iface = findInterface(path);
    return iface == nullptr ? 0 : iface->talkOpens;
}

bool EmulatedBus::setTraceFile(const std::string& fileName) {
    traceFile_.close();
    traceFile_.clear();
    traceFile_.open(fileName, std::ios::out | std::ios::app);
    return traceFile_.is_open();
}

namespace {

// The bytes as two lower-case hex digits each, separated by single blanks.
std::string hexBytes(const std::uint8_t* data, std::size_t length) {
    static constexpr char kHexDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 3);
    for (std::size_t i = 0; i < length; ++i) {
        if (i != 0) {
            text += ' ';
        }
        text += kHexDigits[data[i] >> 4];
        text += kHexDigits[data[i] & 0x0F];
    }
    return text;
}

}  // namespace

void EmulatedBus::addTraceLine(const std::string& entry) {
    const std::string line = std::to_string(clock_.nowMs() - createdAtMs_) + ' ' + entry;
    if (traceFile_.is_open()) {
        traceFile_ << line << '\n';
        traceFile_.flush();
    }
    trace_.push_back(line);
}

void EmulatedBus::traceReport(char direction, const std::uint8_t* data, std::size_t length) {
    addTraceLine(std::string{direction, ' '} + hexBytes(data, length));
}

// A failed write keeps the bytes it was given, so a refused request can be read.
void EmulatedBus::traceFailure(const char* what, IoOutcome outcome, std::uint32_t error,
                               const std::uint8_t* data, std::size_t length) {
    std::string entry = "! ";
    entry += what;
    entry += outcome == IoOutcome::timedOut ? " timed out" : " failed";
    entry += ", last error " + std::to_string(error);
    if (data != nullptr && length != 0) {
        entry += ": " + hexBytes(data, length);
    }
    addTraceLine(entry);
}

bool EmulatedBus::beginEnumeration() {
    plugDueUnits();
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

bool EmulatedBus::heldForTalking(std::size_t position, const Interface& iface) const {
    if (iface.unit && iface.unit->config().heldByOtherProgram) {
        return true;
    }
    return std::ranges::any_of(handles_, [&](const auto& entry) {
        const OpenHandle& open = entry.second;
        return open.position == position && open.generation == iface.generation &&
               open.access == HidAccess::talk;
    });
}

HidHandle EmulatedBus::open(const std::wstring& path, HidAccess access) {
    plugDueUnits();
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
        const bool talk = access == HidAccess::talk;
        if (talk && heldForTalking(position, iface)) {
            fail(kErrorSharingViolation);
            return kInvalidHidHandle;
        }
        const HidHandle handle = nextHandle_;
        nextHandle_ += 4;
        handles_[handle] = OpenHandle{position, iface.generation, access};
        ++iface.opens;
        iface.talkOpens += talk ? 1 : 0;
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

EmulatedBus::Interface* EmulatedBus::talkingInterface(HidHandle handle) {
    Interface* iface = liveInterface(handle);
    if (iface != nullptr && handles_[handle].access != HidAccess::talk) {
        fail(kErrorAccessDenied);
        return nullptr;
    }
    return iface;
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
                             std::uint32_t timeoutMs) {
    plugDueUnits();
    Interface* iface = talkingInterface(handle);
    if (iface == nullptr) {
        traceFailure("write", IoOutcome::failed, lastError_, data, length);
        return IoOutcome::failed;
    }
    if (!iface->unit) {
        fail(kErrorInvalidFunction);
        traceFailure("write", IoOutcome::failed, lastError_, data, length);
        return IoOutcome::failed;
    }
    const UnitTransfer transfer = iface->unit->receiveRequest(data, length);
    if (transfer.unplugged) {
        noteUnplug(*iface);
    }
    if (transfer.neverEnds) {
        clock_.sleepMs(timeoutMs);
    }
    if (transfer.outcome != IoOutcome::done) {
        fail(transfer.lastError);
        traceFailure("write", transfer.outcome, transfer.lastError, data, length);
        return transfer.outcome;
    }
    traceReport('>', data, length);
    return IoOutcome::done;
}

IoOutcome EmulatedBus::read(HidHandle handle, std::uint8_t* data, std::size_t length,
                            std::uint32_t timeoutMs) {
    plugDueUnits();
    Interface* iface = talkingInterface(handle);
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
