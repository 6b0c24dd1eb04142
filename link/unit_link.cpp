// The UnitLink record and discovery: finding the first programming unit among the
// HID interfaces, opening it, and returning the record to its closed state.
#include "link/unit_link.h"

namespace orvanta {

namespace {

bool isProgrammingUnit(const HidAttributes& attributes) {
    return attributes.vendorId == UNIT_VENDOR_ID &&
           findUnitProduct(attributes.productId) != nullptr;
}

// The interface's ids, read on a handle that asks for no access, so that looking
// takes nothing from a program that holds the device.
bool identifiesAsUnit(HidBus& bus, const std::wstring& path, HidAttributes& attributes) {
    const HidHandle handle = bus.open(path, HidAccess::identify);
    if (handle == kInvalidHidHandle) return false;
    const bool unit = bus.attributes(handle, attributes) && isProgrammingUnit(attributes);
    bus.close(handle);
    return unit;
}

bool heldElsewhere(std::uint32_t error) {
    return error == kErrorSharingViolation || error == kErrorAccessDenied;
}

// Opens a unit for talking. `held` tells whether the last refusal came from another
// program holding it, which may let it go in a moment.
HidHandle openForTalking(UnitLink& link, const std::wstring& path, bool& held) {
    for (std::uint32_t attempt = 1;; ++attempt) {
        const HidHandle handle = link.bus.open(path, HidAccess::talk);
        if (handle != kInvalidHidHandle) return handle;
        held = heldElsewhere(link.bus.lastError());
        if (!held || attempt >= kBusyOpenAttempts) return kInvalidHidHandle;
        link.clock.sleepMs(kBusyRetryIntervalMs);
    }
}

// Releases the interface list on every way out of the discovery loop.
class EnumerationGuard {
public:
    explicit EnumerationGuard(HidBus& bus) : bus_(bus) {}
    ~EnumerationGuard() { bus_.endEnumeration(); }
    EnumerationGuard(const EnumerationGuard&) = delete;
    EnumerationGuard& operator=(const EnumerationGuard&) = delete;

private:
    HidBus& bus_;
};

}  // namespace

std::uint16_t UnitLinkState::escFirmwareVersion() const {
    return readLe16(escInfo, kEscInfoFirmwareVersionAt);
}

void UnitLinkState::setEscFirmwareVersion(std::uint16_t version) {
    writeLe16(escInfo, kEscInfoFirmwareVersionAt, version);
}

std::uint32_t UnitLinkState::escTypeCode() const {
    return readLe32(bootloaderInfo, kBootloaderInfoTypeCodeAt);
}

std::uint32_t UnitLinkState::bootloaderVersion() const {
    return readLe32(bootloaderInfo, kBootloaderInfoVersionAt);
}

void closeLink(UnitLink& link) {
    if (link.isOpen()) link.bus.close(link.handle);
    link.reset();
}

bool devicePathsEqual(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    const auto fold = [](wchar_t c) {
        return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

bool linkDeviceGone(UnitLink& link) {
    if (!link.isOpen()) return false;
    // A handle whose device was removed fails every request to the HID class, even
    // after a unit has come back under the same path.
    HidAttributes attributes;
    if (!link.bus.attributes(link.handle, attributes)) return true;
    // Without the interface list nothing more can be told: the link stays.
    if (!link.bus.beginEnumeration()) return false;
    EnumerationGuard guard(link.bus);
    std::wstring path;
    for (std::uint32_t index = 0;; ++index) {
        path.clear();
        const InterfaceLookup lookup = link.bus.interfaceAt(index, path);
        if (lookup == InterfaceLookup::endOfList) return true;
        if (lookup == InterfaceLookup::found && devicePathsEqual(path, link.devicePath)) {
            return false;
        }
    }
}

LinkStatus openLink(UnitLink& link) {
    closeLink(link);
    HidBus& bus = link.bus;
    if (!bus.beginEnumeration()) {
        return kStatusNoLink;
    }

    {
        EnumerationGuard guard(bus);
        std::wstring path;
        bool unitHeldElsewhere = false;
        for (std::uint32_t index = 0;; ++index) {
            path.clear();
            const InterfaceLookup lookup = bus.interfaceAt(index, path);
            if (lookup == InterfaceLookup::endOfList) {
                return unitHeldElsewhere ? kStatusUnitBusy : kStatusNoUnit;
            }
            if (lookup == InterfaceLookup::detailFailed || path.empty()) {
                continue;
            }
            HidAttributes attributes;
            if (!identifiesAsUnit(bus, path, attributes)) {
                continue;
            }
            bool held = false;
            const HidHandle handle = openForTalking(link, path, held);
            if (handle == kInvalidHidHandle) {
                unitHeldElsewhere = unitHeldElsewhere || held;
                continue;
            }
            // The first unit that can be talked to wins; later ones are never opened.
            link.handle = handle;
            link.devicePath = std::move(path);
            link.productId = attributes.productId;
            break;
        }
    }

    return probeUnit(link);
}

}  // namespace orvanta
