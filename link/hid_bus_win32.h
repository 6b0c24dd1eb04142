// The HID bus on Windows: SetupDi enumeration of the HID interfaces, hid.dll for
// their ids and report lengths, and overlapped transfers bounded in time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/system_libraries_win32.h"
#include "link/hid_bus.h"

namespace orvanta {

class Win32HidBus final : public HidBus {
public:
    Win32HidBus();
    // Transfers given up on that have still not ended are left to the process's end.
    ~Win32HidBus() override;
    Win32HidBus(const Win32HidBus&) = delete;
    Win32HidBus& operator=(const Win32HidBus&) = delete;

    bool beginEnumeration() override;
    InterfaceLookup interfaceAt(std::uint32_t index, std::wstring& path) override;
    void endEnumeration() override;
    HidHandle open(const std::wstring& path, HidAccess access) override;
    bool attributes(HidHandle handle, HidAttributes& out) override;
    bool capabilities(HidHandle handle, HidCaps& out) override;
    IoOutcome write(HidHandle handle, const std::uint8_t* data, std::size_t length,
                    std::uint32_t timeoutMs) override;
    IoOutcome read(HidHandle handle, std::uint8_t* data, std::size_t length,
                   std::uint32_t timeoutMs) override;
    void close(HidHandle handle) override;
    std::uint32_t lastError() const override { return lastError_; }

private:
    struct DeviceListDeleter {
        void operator()(void* list) const;
    };

    bool loadHid();
    // Keeps the failure for lastError() and leaves it as the thread's last error.
    void recordError(DWORD error);
    struct Transfer;
    // A write of `source` or a read into `destination` (the other one null) of exactly
    // `length` bytes, bounded in time.
    IoOutcome transfer(HANDLE device, const std::uint8_t* source, std::uint8_t* destination,
                       DWORD length, DWORD timeoutMs);
    bool cancelAndWait(HANDLE device, std::unique_ptr<Transfer>& pending);
    bool finished(HANDLE device, Transfer& ended, std::uint8_t* destination);
    void releaseEndedTransfers();
    // The transfer record of a handle opened for talking; null when none can be made.
    Transfer* transferOf(HANDLE device);

    const SystemLibraries::Hid* hid_ = nullptr;  // hid.dll, from System32 only
    std::unique_ptr<void, DeviceListDeleter> deviceList_;
    GUID hidGuid_{};
    std::uint32_t lastError_ = 0;
    // Each handle opened for talking has one transfer record, with its event, made at
    // the open and used by every transfer on it; one given up on is replaced.
    std::map<HANDLE, std::unique_ptr<Transfer>> transfers_;
    std::vector<std::unique_ptr<Transfer>> abandoned_;
};

}  // namespace orvanta
