// The Windows HID bus. hid.dll is loaded from System32 only and reached through the
// table of system library functions, so that a DLL of that name planted beside the program
// is never loaded.
#include "link/hid_bus_win32.h"

#include <setupapi.h>
#include <hidsdi.h>
#include <hidpi.h>

#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <vector>

namespace orvanta {

// The portable code's copies of the system's values.
static_assert(kErrorAccessDenied == ERROR_ACCESS_DENIED && kErrorGenFailure == ERROR_GEN_FAILURE &&
              kErrorSharingViolation == ERROR_SHARING_VIOLATION &&
              kErrorDeviceNotConnected == ERROR_DEVICE_NOT_CONNECTED &&
              kErrorTimeout == ERROR_TIMEOUT);

namespace {

// How long a cancelled transfer is waited for before it is given up on.
constexpr DWORD kCancelWaitMs = 3000;

// A detail record larger than this is not a device path.
constexpr DWORD kMaxDetailBytes = 64 * 1024;

HANDLE toHandle(HidHandle handle) { return reinterpret_cast<HANDLE>(handle); }

struct HandleCloser {
    void operator()(HANDLE handle) const {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};
using UniqueEvent = std::unique_ptr<void, HandleCloser>;

}  // namespace

void Win32HidBus::DeviceListDeleter::operator()(void* list) const {
    if (list != nullptr && list != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(list);
}

Win32HidBus::Win32HidBus() = default;

// A transfer's memory belongs to it until the system has ended it; a transfer given up
// on and never ended keeps it for the life of the process.
struct Win32HidBus::Transfer {
    OVERLAPPED overlapped{};
    UniqueEvent event{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::vector<std::uint8_t> buffer;

    bool ended() const { return HasOverlappedIoCompleted(&overlapped); }
    // Ready for the next transfer: no result, the event unsignalled.
    void reset() {
        overlapped = OVERLAPPED{};
        overlapped.hEvent = event.get();
        ResetEvent(event.get());
    }
};

Win32HidBus::~Win32HidBus() {
    releaseEndedTransfers();
    // The system may still write into these.
    for (std::unique_ptr<Transfer>& pending : abandoned_) static_cast<void>(pending.release());
}

void Win32HidBus::recordError(DWORD error) {
    lastError_ = error;
    SetLastError(error);
}

bool Win32HidBus::loadHid() {
    if (hid_ != nullptr) return true;
    const SystemLibraries::Hid& functions = systemLibraries().hid;
    if (!functions.complete()) {
        recordError(ERROR_MOD_NOT_FOUND);
        return false;
    }
    functions.getHidGuid(&hidGuid_);
    hid_ = &functions;
    return true;
}

bool Win32HidBus::beginEnumeration() {
    deviceList_.reset();
    if (!loadHid()) return false;
    HDEVINFO list =
        SetupDiGetClassDevsW(&hidGuid_, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) {
        recordError(GetLastError());
        return false;
    }
    deviceList_.reset(list);
    return true;
}

InterfaceLookup Win32HidBus::interfaceAt(std::uint32_t index, std::wstring& path) {
    HDEVINFO list = deviceList_.get();
    if (list == nullptr) return InterfaceLookup::endOfList;

    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    if (!SetupDiEnumDeviceInterfaces(list, nullptr, &hidGuid_, index, &interfaceData)) {
        recordError(GetLastError());
        return InterfaceLookup::endOfList;
    }

    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailW(list, &interfaceData, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) || required > kMaxDetailBytes) {
        recordError(GetLastError());
        return InterfaceLookup::detailFailed;
    }
    // DWORD elements keep the record's cbSize field aligned.
    std::vector<DWORD> buffer((required + sizeof(DWORD) - 1) / sizeof(DWORD));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    // The size of the fixed part as this build lays it out, not the size of the buffer.
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(list, &interfaceData, detail, required, nullptr,
                                          nullptr)) {
        recordError(GetLastError());
        return InterfaceLookup::detailFailed;
    }
    const std::size_t maxChars =
        (required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
    path.assign(detail->DevicePath, wcsnlen(detail->DevicePath, maxChars));
    return path.empty() ? InterfaceLookup::detailFailed : InterfaceLookup::found;
}

void Win32HidBus::endEnumeration() { deviceList_.reset(); }

HidHandle Win32HidBus::open(const std::wstring& path, HidAccess access) {
    // Identifying asks for no access and shares everything: the HID class lets such
    // an open through whoever holds the device, and it is enough for the ids and the
    // report lengths. Talking shares nothing: every open handle of a HID interface
    // receives every input report, so a second reader or writer (another program,
    // or a stray copy of this one) could take a reply meant for us or put its own
    // request between two blocks; and a unit that some other program holds for
    // talking is not taken over.
    const bool talk = access == HidAccess::talk;
    HANDLE device = CreateFileW(path.c_str(), talk ? GENERIC_READ | GENERIC_WRITE : 0,
                                talk ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, talk ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        recordError(GetLastError());
        return kInvalidHidHandle;
    }
    if (talk && transferOf(device) == nullptr) {
        CloseHandle(device);
        return kInvalidHidHandle;
    }
    return reinterpret_cast<HidHandle>(device);
}

Win32HidBus::Transfer* Win32HidBus::transferOf(HANDLE device) {
    std::unique_ptr<Transfer>& record = transfers_[device];
    if (!record) {
        auto made = std::make_unique<Transfer>();
        if (!made->event) {
            recordError(GetLastError());
            transfers_.erase(device);
            return nullptr;
        }
        record = std::move(made);
    }
    return record.get();
}

bool Win32HidBus::attributes(HidHandle handle, HidAttributes& out) {
    if (!hid_) return false;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (!hid_->getAttributes(toHandle(handle), &attributes)) {
        recordError(GetLastError());
        return false;
    }
    out.vendorId = attributes.VendorID;
    out.productId = attributes.ProductID;
    return true;
}

bool Win32HidBus::capabilities(HidHandle handle, HidCaps& out) {
    if (!hid_) return false;
    PHIDP_PREPARSED_DATA raw = nullptr;
    if (!hid_->getPreparsedData(toHandle(handle), &raw) || raw == nullptr) {
        recordError(GetLastError());
        return false;
    }
    // Freed on every way out, whatever HidP_GetCaps says.
    auto freeData = [this](PHIDP_PREPARSED_DATA data) { hid_->freePreparsedData(data); };
    std::unique_ptr<_HIDP_PREPARSED_DATA, decltype(freeData)> preparsed(raw, freeData);

    HIDP_CAPS caps{};
    if (hid_->getCaps(preparsed.get(), &caps) != HIDP_STATUS_SUCCESS) {
        recordError(ERROR_INVALID_DATA);
        return false;
    }
    out.inputReportByteLength = caps.InputReportByteLength;
    out.outputReportByteLength = caps.OutputReportByteLength;
    return true;
}

// Transfers given up on earlier that the system has ended since can go now.
void Win32HidBus::releaseEndedTransfers() {
    std::erase_if(abandoned_,
                  [](const std::unique_ptr<Transfer>& transfer) { return transfer->ended(); });
}

IoOutcome Win32HidBus::transfer(HANDLE device, const std::uint8_t* source,
                                std::uint8_t* destination, DWORD length, DWORD timeoutMs) {
    releaseEndedTransfers();
    if (transferOf(device) == nullptr) return IoOutcome::failed;
    std::unique_ptr<Transfer>& pending = transfers_[device];
    pending->reset();
    // The system gets a buffer of the bus's own, never the caller's, which may be gone
    // by the time a transfer given up on ends.
    if (source != nullptr)
        pending->buffer.assign(source, source + length);
    else
        pending->buffer.resize(length);
    OVERLAPPED* overlapped = &pending->overlapped;
    const BOOL started =
        source != nullptr ? WriteFile(device, pending->buffer.data(), length, nullptr, overlapped)
                          : ReadFile(device, pending->buffer.data(), length, nullptr, overlapped);
    if (!started) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            recordError(error);
            return IoOutcome::failed;
        }
        const DWORD waited = WaitForSingleObject(pending->event.get(), timeoutMs);
        if (waited != WAIT_OBJECT_0) {
            const DWORD waitError = waited == WAIT_FAILED ? GetLastError() : ERROR_TIMEOUT;
            // It may have gone through just as it was given up on.
            if (cancelAndWait(device, pending) && finished(device, *pending, destination)) {
                return IoOutcome::done;
            }
            recordError(waitError);
            return waited == WAIT_TIMEOUT ? IoOutcome::timedOut : IoOutcome::failed;
        }
    }
    return finished(device, *pending, destination) ? IoOutcome::done : IoOutcome::failed;
}

// Cancels a pending transfer and waits a while for it to end. A driver may complete a
// cancelled request late or never; then the transfer is parked with its buffer, event
// and OVERLAPPED, so that a late completion writes into nothing freed. False then.
bool Win32HidBus::cancelAndWait(HANDLE device, std::unique_ptr<Transfer>& pending) {
    CancelIoEx(device, &pending->overlapped);
    if (WaitForSingleObject(pending->event.get(), kCancelWaitMs) == WAIT_OBJECT_0) return true;
    abandoned_.push_back(std::move(pending));
    return false;
}

// The result of a transfer that has ended; a read's report goes to `destination`.
bool Win32HidBus::finished(HANDLE device, Transfer& ended, std::uint8_t* destination) {
    DWORD transferred = 0;
    if (!GetOverlappedResult(device, &ended.overlapped, &transferred, FALSE)) {
        recordError(GetLastError());
        return false;
    }
    if (transferred != ended.buffer.size()) {
        recordError(ERROR_GEN_FAILURE);
        return false;
    }
    if (destination != nullptr) std::copy(ended.buffer.begin(), ended.buffer.end(), destination);
    return true;
}

IoOutcome Win32HidBus::write(HidHandle handle, const std::uint8_t* data, std::size_t length,
                             std::uint32_t timeoutMs) {
    return transfer(toHandle(handle), data, nullptr, static_cast<DWORD>(length), timeoutMs);
}

IoOutcome Win32HidBus::read(HidHandle handle, std::uint8_t* data, std::size_t length,
                            std::uint32_t timeoutMs) {
    return transfer(toHandle(handle), nullptr, data, static_cast<DWORD>(length), timeoutMs);
}

void Win32HidBus::close(HidHandle handle) {
    if (handle == kInvalidHidHandle || handle == 0) return;
    CloseHandle(toHandle(handle));
    transfers_.erase(toHandle(handle));
}

}  // namespace orvanta
