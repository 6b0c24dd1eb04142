// Checks the virtual unit from a program's side, through the same Windows HID calls
// the updater makes: enumeration, ids, report lengths, overlapped exchanges with time
// limits, and the trace the host writes of them.
//
//   smoke present <vid> <pid> <input length> <output length> [--identify <trace>]
//                 [--round-trips <count>] [--pause-ms <ms>]
//   smoke absent <vid> <pid>
//   smoke faults <vid> <pid> <input length> <output length> <trace>
#include <windows.h>
#include <setupapi.h>
// The mingw-w64 HID headers lack C linkage declarations.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr DWORD kAppearWaitMs = 10000;
constexpr DWORD kReplyWaitMs = 2000;
// The unit under a no-answer fault never replies; this is how long the read waits.
constexpr DWORD kNoAnswerWaitMs = 300;
constexpr std::uint8_t kIdentifyCommand = 0x08;

int failures = 0;

void check(bool condition, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::fputs(condition ? "ok   " : "FAIL ", stdout);
    std::vprintf(format, arguments);
    std::fputc('\n', stdout);
    va_end(arguments);
    std::fflush(stdout);
    if (!condition) ++failures;
}

struct HandleCloser {
    void operator()(HANDLE handle) const {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

struct HidInterface {
    std::wstring path;
    USHORT vendorId = 0;
    USHORT productId = 0;
};

std::vector<HidInterface> listHidInterfaces() {
    std::vector<HidInterface> found;
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO list =
        SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) return found;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(list, nullptr, &hidGuid, index, &data)) break;
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailW(list, &data, nullptr, 0, &required, nullptr);
        if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
        std::vector<DWORD> buffer((required + sizeof(DWORD) - 1) / sizeof(DWORD));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!SetupDiGetDeviceInterfaceDetailW(list, &data, detail, required, nullptr, nullptr))
            continue;
        HidInterface entry;
        entry.path = detail->DevicePath;
        UniqueHandle device(CreateFileW(entry.path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof attributes;
        if (device.get() != INVALID_HANDLE_VALUE && HidD_GetAttributes(device.get(), &attributes)) {
            entry.vendorId = attributes.VendorID;
            entry.productId = attributes.ProductID;
        }
        found.push_back(entry);
    }
    SetupDiDestroyDeviceInfoList(list);
    return found;
}

std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// Polls the enumeration until an interface with these ids is (or is no longer) there.
bool waitForUnit(USHORT vendorId, USHORT productId, bool present, HidInterface& unit) {
    const ULONGLONG deadline = GetTickCount64() + kAppearWaitMs;
    for (;;) {
        bool seen = false;
        for (const HidInterface& entry : listHidInterfaces()) {
            if (entry.vendorId == vendorId && entry.productId == productId) {
                unit = entry;
                seen = true;
            }
        }
        if (seen == present) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(10);
    }
}

struct Transfer {
    bool done = false;
    DWORD error = 0;
    DWORD bytes = 0;
};

// An overlapped write or read as the updater makes it: waits up to `waitMs`, then
// cancels and waits the transfer out.
template <typename Start>
Transfer transfer(HANDLE device, DWORD waitMs, Start start) {
    Transfer result;
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    if (!start(&overlapped) && GetLastError() != ERROR_IO_PENDING) {
        result.error = GetLastError();
        return result;
    }
    if (WaitForSingleObject(event.get(), waitMs) != WAIT_OBJECT_0) CancelIoEx(device, &overlapped);
    if (GetOverlappedResult(device, &overlapped, &result.bytes, TRUE)) {
        result.done = true;
    } else {
        result.error = GetLastError();
    }
    return result;
}

Transfer writeReport(HANDLE device, const std::vector<std::uint8_t>& report) {
    return transfer(device, kReplyWaitMs, [&](OVERLAPPED* overlapped) {
        return WriteFile(device, report.data(), static_cast<DWORD>(report.size()), nullptr,
                         overlapped) != FALSE;
    });
}

Transfer readReport(HANDLE device, std::vector<std::uint8_t>& report, DWORD waitMs) {
    return transfer(device, waitMs, [&](OVERLAPPED* overlapped) {
        return ReadFile(device, report.data(), static_cast<DWORD>(report.size()), nullptr,
                        overlapped) != FALSE;
    });
}

std::vector<std::uint8_t> identifyRequest(std::size_t outputLength) {
    std::vector<std::uint8_t> request(outputLength, 0);
    request[0] = 0x01;
    request[1] = kIdentifyCommand;
    return request;
}

std::string traceLine(char direction, const std::vector<std::uint8_t>& report) {
    std::string line(1, direction);
    char hex[4];
    for (std::uint8_t byte : report) {
        std::snprintf(hex, sizeof hex, " %02x", byte);
        line += hex;
    }
    return line;
}

// The trace's lines without the time each starts with.
std::vector<std::string> readLines(const std::wstring& path) {
    std::vector<std::string> lines;
    std::ifstream file(path.c_str());
    std::string line;
    while (std::getline(file, line)) {
        const std::size_t digits = line.find_first_not_of("0123456789");
        if (digits != 0 && digits != std::string::npos && line[digits] == ' ')
            line.erase(0, digits + 1);
        lines.push_back(line);
    }
    return lines;
}

UniqueHandle openUnit(const HidInterface& unit) {
    return UniqueHandle(CreateFileW(unit.path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr));
}

// One CMD_IDENTIFY exchange; the reply in `reply`.
bool identify(HANDLE device, std::size_t inputLength, std::size_t outputLength,
              std::vector<std::uint8_t>& request, std::vector<std::uint8_t>& reply) {
    request = identifyRequest(outputLength);
    reply.assign(inputLength, 0);
    const Transfer written = writeReport(device, request);
    if (!written.done || written.bytes != outputLength) {
        check(false, "WriteFile of %zu bytes: done %d, %lu bytes, error %lu", outputLength,
              written.done, written.bytes, written.error);
        return false;
    }
    const Transfer read = readReport(device, reply, kReplyWaitMs);
    if (!read.done || read.bytes != inputLength) {
        check(false, "ReadFile of %zu bytes: done %d, %lu bytes, error %lu", inputLength, read.done,
              read.bytes, read.error);
        return false;
    }
    return true;
}

// `pauseMs` goes by before each timed round trip, as the updater pauses between blocks.
int present(USHORT vendorId, USHORT productId, USHORT inputLength, USHORT outputLength,
            const std::wstring& tracePath, int roundTrips, DWORD pauseMs) {
    HidInterface unit;
    const bool found = waitForUnit(vendorId, productId, true, unit);
    for (const HidInterface& entry : listHidInterfaces())
        std::printf("     HID %04X:%04X %s\n", entry.vendorId, entry.productId,
                    narrow(entry.path).c_str());
    check(found, "a HID interface with ids %04X:%04X is enumerated", vendorId, productId);
    if (!found) return 1;

    UniqueHandle device = openUnit(unit);
    check(device.get() != INVALID_HANDLE_VALUE, "the interface opens for reading and writing");
    if (device.get() == INVALID_HANDLE_VALUE) return 1;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    const bool attributesRead = HidD_GetAttributes(device.get(), &attributes);
    check(attributesRead && attributes.VendorID == vendorId && attributes.ProductID == productId,
          "HidD_GetAttributes gives %04X:%04X", attributes.VendorID, attributes.ProductID);
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    HIDP_CAPS caps{};
    const bool capsRead = HidD_GetPreparsedData(device.get(), &preparsed) &&
                          HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
    if (preparsed) HidD_FreePreparsedData(preparsed);
    check(capsRead && caps.InputReportByteLength == inputLength &&
              caps.OutputReportByteLength == outputLength && caps.UsagePage == 0xFF00,
          "HidP_GetCaps gives usage page %04X, input %u and output %u bytes (want %u/%u)",
          caps.UsagePage, caps.InputReportByteLength, caps.OutputReportByteLength, inputLength,
          outputLength);
    // Wine's hidclass asks for the strings by ids 1 to 3, Windows by the USB indexes.
    wchar_t manufacturer[128] = {};
    wchar_t product[128] = {};
    wchar_t serial[128] = {};
    const bool stringsRead =
        HidD_GetManufacturerString(device.get(), manufacturer, sizeof manufacturer) &&
        HidD_GetProductString(device.get(), product, sizeof product) &&
        HidD_GetSerialNumberString(device.get(), serial, sizeof serial);
    check(stringsRead && manufacturer[0] && product[0] && serial[0],
          "manufacturer \"%s\", product \"%s\", serial number \"%s\"", narrow(manufacturer).c_str(),
          narrow(product).c_str(), narrow(serial).c_str());

    if (!tracePath.empty()) {
        std::vector<std::uint8_t> request;
        std::vector<std::uint8_t> reply;
        if (identify(device.get(), inputLength, outputLength, request, reply)) {
            check(reply[0] == 0x02, "the reply to CMD_IDENTIFY is input report 02");
            const std::vector<std::string> trace = readLines(tracePath);
            const bool traced = trace.size() >= 2 &&
                                trace[trace.size() - 2] == traceLine('>', request) &&
                                trace.back() == traceLine('<', reply);
            check(traced, "the host's trace ends with the request and the reply, byte for byte");
            if (!traced && !trace.empty())
                std::printf("     last line: %s\n", trace.back().c_str());
        }
    }

    if (roundTrips > 0) {
        std::vector<double> micros;
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        for (int i = 0; i < roundTrips; ++i) {
            std::vector<std::uint8_t> request;
            std::vector<std::uint8_t> reply;
            LARGE_INTEGER start;
            LARGE_INTEGER end;
            if (pauseMs > 0) Sleep(pauseMs);
            QueryPerformanceCounter(&start);
            if (!identify(device.get(), inputLength, outputLength, request, reply)) break;
            QueryPerformanceCounter(&end);
            micros.push_back(static_cast<double>(end.QuadPart - start.QuadPart) * 1e6 /
                             static_cast<double>(frequency.QuadPart));
        }
        check(micros.size() == static_cast<std::size_t>(roundTrips), "%d exchanges answered",
              roundTrips);
        if (!micros.empty()) {
            // The mean too: the time of many exchanges is their sum, and a few slow
            // ones weigh in it that the median leaves out.
            double sum = 0.0;
            for (double value : micros) sum += value;
            std::sort(micros.begin(), micros.end());
            std::printf(
                "     round trip (write 60, read 60) over %zu exchanges, %lu ms apart: median "
                "%.0f us, mean %.0f us, p90 %.0f us, max %.0f us\n",
                micros.size(), pauseMs, micros[micros.size() / 2], sum / micros.size(),
                micros[micros.size() * 9 / 10], micros.back());
        }
    }
    return failures == 0 ? 0 : 1;
}

int absent(USHORT vendorId, USHORT productId) {
    HidInterface unit;
    check(waitForUnit(vendorId, productId, false, unit),
          "no HID interface with ids %04X:%04X is enumerated", vendorId, productId);
    return failures == 0 ? 0 : 1;
}

// The scenario's faults: no answer to exchange 2, the write of exchange 3 fails, and the
// unit vanishes before exchange 4.
int faults(USHORT vendorId, USHORT productId, USHORT inputLength, USHORT outputLength,
           const std::wstring& tracePath) {
    HidInterface unit;
    if (!waitForUnit(vendorId, productId, true, unit)) {
        check(false, "the unit is enumerated");
        return 1;
    }
    UniqueHandle device = openUnit(unit);
    std::vector<std::uint8_t> request;
    std::vector<std::uint8_t> reply;
    check(identify(device.get(), inputLength, outputLength, request, reply),
          "exchange 1 is answered");

    const Transfer written = writeReport(device.get(), identifyRequest(outputLength));
    reply.assign(inputLength, 0);
    const Transfer unanswered = readReport(device.get(), reply, kNoAnswerWaitMs);
    check(written.done && !unanswered.done && unanswered.error == ERROR_OPERATION_ABORTED,
          "exchange 2: the write is taken, the read gets nothing and is cancelled (error %lu)",
          unanswered.error);

    const Transfer refused = writeReport(device.get(), identifyRequest(outputLength));
    check(!refused.done && refused.error == ERROR_GEN_FAILURE,
          "exchange 3: the write fails with ERROR_GEN_FAILURE (error %lu)", refused.error);

    // A read is pending when the unit goes: it must end, not hang.
    std::vector<std::uint8_t> pendingBuffer(inputLength, 0);
    UniqueHandle readEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED pendingRead{};
    pendingRead.hEvent = readEvent.get();
    ReadFile(device.get(), pendingBuffer.data(), inputLength, nullptr, &pendingRead);
    const Transfer pulled = writeReport(device.get(), identifyRequest(outputLength));
    check(!pulled.done && pulled.error == ERROR_DEVICE_NOT_CONNECTED,
          "exchange 4: the write fails with ERROR_DEVICE_NOT_CONNECTED (error %lu)", pulled.error);
    const bool readEnded = WaitForSingleObject(readEvent.get(), kAppearWaitMs) == WAIT_OBJECT_0;
    DWORD bytes = 0;
    const bool readSucceeded =
        readEnded && GetOverlappedResult(device.get(), &pendingRead, &bytes, FALSE);
    check(readEnded && !readSucceeded, "the pending read ends with the removal (error %lu)",
          readSucceeded ? 0 : GetLastError());
    if (!readEnded) {
        CancelIoEx(device.get(), &pendingRead);
        GetOverlappedResult(device.get(), &pendingRead, &bytes, TRUE);
    }
    check(waitForUnit(vendorId, productId, false, unit), "the interface leaves the enumeration");

    const std::vector<std::string> expected = {">",
                                               "<",
                                               ">",
                                               "! read timed out, last error 1460",
                                               "! write failed, last error 31",
                                               "! write failed, last error 1167"};
    const std::vector<std::string> trace = readLines(tracePath);
    bool matches = trace.size() == expected.size();
    for (std::size_t i = 0; matches && i < trace.size(); ++i)
        matches = trace[i].rfind(expected[i], 0) == 0;
    check(matches, "the trace has the emulated bus's lines for the three faults");
    if (!matches)
        for (const std::string& line : trace) std::printf("     %s\n", line.c_str());
    return failures == 0 ? 0 : 1;
}

USHORT number(const wchar_t* text) { return static_cast<USHORT>(std::wcstoul(text, nullptr, 0)); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"absent" && argc == 4) return absent(number(argv[2]), number(argv[3]));
    if (mode == L"faults" && argc == 7)
        return faults(number(argv[2]), number(argv[3]), number(argv[4]), number(argv[5]), argv[6]);
    if (mode == L"present" && argc >= 6) {
        std::wstring tracePath;
        int roundTrips = 0;
        DWORD pauseMs = 0;
        for (int i = 6; i + 1 < argc; i += 2) {
            const std::wstring option = argv[i];
            if (option == L"--identify") tracePath = argv[i + 1];
            if (option == L"--round-trips") roundTrips = static_cast<int>(number(argv[i + 1]));
            if (option == L"--pause-ms") pauseMs = number(argv[i + 1]);
        }
        return present(number(argv[2]), number(argv[3]), number(argv[4]), number(argv[5]),
                       tracePath, roundTrips, pauseMs);
    }
    std::fputs("usage: see the top of smoke_main_win32.cpp\n", stderr);
    return 2;
}
