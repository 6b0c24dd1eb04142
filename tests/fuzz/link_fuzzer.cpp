// Feeds arbitrary report lengths, interface lists and replies to discovery, the
// probe and every command. Out-of-buffer access is caught by the sanitizers;
// broken record invariants abort.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/fake_clock.h"
#include "link/unit_link.h"

namespace orvanta {
namespace {

// Hands out the fuzz input byte by byte; zeros once it is used up.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
    std::uint16_t word() { return static_cast<std::uint16_t>(byte() | (byte() << 8)); }
    bool empty() const { return position_ >= size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

void check(bool condition) {
    if (!condition) std::abort();
}

class FuzzBus final : public HidBus {
public:
    explicit FuzzBus(Input& input) : input_(input) {}

    bool beginEnumeration() override {
        check(!enumerating_);
        if (input_.byte() == 0xEE) return false;
        enumerating_ = true;
        interfaces_ = input_.byte() % 5;
        return true;
    }
    InterfaceLookup interfaceAt(std::uint32_t index, std::wstring& path) override {
        check(enumerating_);
        if (index >= interfaces_) return InterfaceLookup::endOfList;
        if (input_.byte() == 0xDD) return InterfaceLookup::detailFailed;
        path = L"\\\\?\\hid#fuzz" + std::to_wstring(index);
        return InterfaceLookup::found;
    }
    void endEnumeration() override {
        check(enumerating_);
        enumerating_ = false;
    }
    HidHandle open(const std::wstring&, HidAccess) override {
        if (input_.byte() == 0xCC) return kInvalidHidHandle;
        ++openHandles_;
        return nextHandle_++;
    }
    bool attributes(HidHandle, HidAttributes& out) override {
        const std::uint8_t choice = input_.byte();
        if (choice == 0xBB) return false;
        out.vendorId = (choice & 1) != 0 ? UNIT_VENDOR_ID : input_.word();
        out.productId = static_cast<std::uint16_t>(choice >> 5);
        return true;
    }
    bool capabilities(HidHandle, HidCaps& out) override {
        if (input_.byte() == 0xAA) return false;
        // Mostly lengths near the bounds, sometimes anything at all.
        const std::uint8_t choice = input_.byte();
        if (choice < 0x80) {
            out.inputReportByteLength = static_cast<std::uint16_t>(40 + input_.byte() % 24);
            out.outputReportByteLength = static_cast<std::uint16_t>(48 + input_.byte() % 16);
        } else {
            out.inputReportByteLength = input_.word();
            out.outputReportByteLength = input_.word();
        }
        return true;
    }
    IoOutcome write(HidHandle handle, const std::uint8_t* data, std::size_t length,
                    std::uint32_t timeoutMs) override {
        check(handle != kInvalidHidHandle);
        check(length >= kMinOutputReportBytes && length <= kReportBufferBytes);
        check(timeoutMs != 0);
        check(data[0] == kOutputReportId);
        // Touch every byte: reading past the link's buffer is a sanitizer finding.
        sent_.assign(data, data + length);
        return outcome();
    }
    IoOutcome read(HidHandle handle, std::uint8_t* data, std::size_t length,
                   std::uint32_t timeoutMs) override {
        check(handle != kInvalidHidHandle);
        check(length >= kMinInputReportBytes && length <= kReportBufferBytes);
        check(timeoutMs != 0);
        const IoOutcome result = outcome();
        if (result != IoOutcome::done) return result;
        // Status byte mostly 0x00 or 0xFF, so both reply branches are reached.
        for (std::size_t i = 0; i < length; ++i) data[i] = input_.byte();
        if (length > 1 && (data[1] & 0x40) != 0) data[1] = 0xFF;
        return IoOutcome::done;
    }
    void close(HidHandle handle) override {
        check(handle != kInvalidHidHandle);
        check(openHandles_ > 0);
        --openHandles_;
    }
    std::uint32_t lastError() const override { return kErrorGenFailure; }

    int openHandles() const { return openHandles_; }
    bool enumerating() const { return enumerating_; }

private:
    IoOutcome outcome() {
        switch (input_.byte() & 0x0F) {
        case 0x0E:
            return IoOutcome::failed;
        case 0x0F:
            return IoOutcome::timedOut;
        default:
            return IoOutcome::done;
        }
    }

    Input& input_;
    bool enumerating_ = false;
    std::uint32_t interfaces_ = 0;
    HidHandle nextHandle_ = 0x40;
    int openHandles_ = 0;
    std::vector<std::uint8_t> sent_;
};

void checkRecord(const UnitLink& link, const FuzzBus& bus) {
    check(!bus.enumerating());
    if (!link.isOpen()) {
        check(link.devicePath.empty() && link.productId == 0 && link.outputReportLength == 0 &&
              link.inputReportLength == 0 && link.escFirmwareVersion() == 0);
        check(bus.openHandles() == 0);
        return;
    }
    check(!link.devicePath.empty());
    check(link.productId == PRODUCT_ID_TUNEPAD || link.productId == PRODUCT_ID_TUNEBOX);
    check(bus.openHandles() == 1);
    const bool lengthsSet = link.outputReportLength != 0 || link.inputReportLength != 0;
    if (lengthsSet) {
        check(link.outputReportLength >= kMinOutputReportBytes &&
              link.outputReportLength <= kReportBufferBytes);
        check(link.inputReportLength >= kMinInputReportBytes &&
              link.inputReportLength <= kReportBufferBytes);
    }
}

}  // namespace
}  // namespace orvanta

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orvanta;
    Input input(data, size);
    FuzzBus bus(input);
    FakeClock clock;
    UnitLink link(bus, clock);

    openLink(link);
    checkRecord(link, bus);
    for (int step = 0; step < 64 && !input.empty(); ++step) {
        switch (input.byte() % 8) {
        case 0:
            setWriteProtection(link, (input.byte() & 1) != 0);
            break;
        case 1:
            eraseFirmware(link);
            break;
        case 2:
            setWriteAddress(link);
            break;
        case 3: {
            // A payload of exactly the announced size on the heap, so reading
            // one byte more is a sanitizer finding.
            const std::uint32_t words = input.byte() % 18;
            std::vector<std::uint8_t> payload(words * 4u);
            for (std::uint8_t& b : payload) b = input.byte();
            const LinkStatus status =
                writeBlock(link, payload.empty() ? nullptr : payload.data(), words);
            if (words > kMaxBlockWords) check(status == kStatusNoLink);
            break;
        }
        case 4:
            setSystemLock(link, (input.byte() & 1) != 0);
            break;
        case 5:
            probeUnit(link);
            break;
        case 6:
            openLink(link);
            break;
        default:
            closeLink(link);
            break;
        }
        checkRecord(link, bus);
    }
    closeLink(link);
    check(bus.openHandles() == 0);
    return 0;
}
