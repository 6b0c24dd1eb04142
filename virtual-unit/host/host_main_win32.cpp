// The virtual unit's host program: installs the bus, and serves the emulated unit
// behind the bus's child device, following plug, unplug and quit commands from a
// control file and reporting what took effect in a state file.
//
//   orvanta-virtual-unit install <inf file>
//   orvanta-virtual-unit serve [--scenario <file>] --control <file> --state <file>
#include <windows.h>
#include <setupapi.h>
#include <newdev.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include "emulator/emulated_host_win32.h"
#include "link/clock_win32.h"
#include "virtual-unit/host/unit_session.h"
#include "virtual-unit/protocol.h"

namespace orvanta {
namespace {

constexpr wchar_t kBusInstanceId[] = L"ROOT\\ORVANTAVUBUS\\0000";
constexpr wchar_t kBusHardwareId[] = L"ORVANTAVU\\BUS";
constexpr GUID kSystemClassGuid = {
    0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr GUID kHidInterfaceGuid = {
    0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr wchar_t kManufacturer[] = L"ORVANTA";
// The child's instance id, and so part of its HID interface path.
constexpr wchar_t kSerialNumber[] = L"ORVVU0001";

// The bus driver starts with Wine's services, a moment after the first process.
constexpr DWORD kControlDeviceWaitMs = 30000;
// Arrival and removal of the interface take milliseconds; the first arrival of a
// new device also installs its driver.
constexpr DWORD kInterfaceWaitMs = 15000;
constexpr DWORD kInterfacePollMs = 5;
constexpr DWORD kCommandPollMs = 20;
constexpr DWORD kFlashSaveEveryPolls = 3;

void say(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::fputs("virtual unit: ", stderr);
    std::vfprintf(stderr, format, arguments);
    std::fputc('\n', stderr);
    va_end(arguments);
    std::fflush(stderr);
}

std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::wstring lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

struct HandleCloser {
    void operator()(HANDLE handle) const {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

struct DeviceListCloser {
    void operator()(HDEVINFO list) const {
        if (list != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(list);
    }
};
using UniqueDeviceList = std::unique_ptr<void, DeviceListCloser>;

bool readWholeFile(const std::wstring& path, std::string& out) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) return false;
    out.clear();
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        out.append(buffer, got);
    return true;
}

// Written beside and moved over, so that a reader never sees half a file. A file that a
// reader holds open at that moment cannot be replaced, whatever it shares; readers hold
// it for a moment only, so the move is tried again for up to two seconds.
bool replaceFile(const std::wstring& path, const std::string& text) {
    const std::wstring temporary = path + L".new";
    {
        UniqueHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.get() == INVALID_HANDLE_VALUE) return false;
        DWORD written = 0;
        if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written,
                       nullptr) ||
            written != text.size())
            return false;
    }
    for (int attempt = 0; attempt < 400; ++attempt) {
        if (MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
        if (GetLastError() != ERROR_ACCESS_DENIED && GetLastError() != ERROR_SHARING_VIOLATION)
            return false;
        Sleep(5);
    }
    return false;
}

// One open handle on the control device. Requests that the driver completes at once
// go through a synchronous handle; the wait for the next output report goes through an
// overlapped one, so that it can be abandoned when the host stops.
class ControlChannel {
public:
    bool open(bool overlapped) {
        handle_.reset(CreateFileW(VUNIT_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr));
        if (handle_.get() == INVALID_HANDLE_VALUE) return false;
        if (overlapped) event_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        return !overlapped || event_ != nullptr;
    }

    bool call(DWORD code, const void* in, DWORD inBytes, void* out, DWORD outBytes,
              DWORD* gotBytes = nullptr) {
        DWORD got = 0;
        if (!DeviceIoControl(handle_.get(), code, const_cast<void*>(in), inBytes, out, outBytes,
                             &got, nullptr))
            return false;
        if (gotBytes) *gotBytes = got;
        return true;
    }

    // On the overlapped handle: waits for the request to complete, or for `abandon` to
    // be set (then the request is cancelled and waited out, and the call fails with
    // ERROR_OPERATION_ABORTED).
    bool callUntil(HANDLE abandon, DWORD code, const void* in, DWORD inBytes, void* out,
                   DWORD outBytes, DWORD* gotBytes) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_.get();
        DWORD got = 0;
        if (!DeviceIoControl(handle_.get(), code, const_cast<void*>(in), inBytes, out, outBytes,
                             nullptr, &overlapped) &&
            GetLastError() != ERROR_IO_PENDING)
            return false;
        HANDLE waits[2] = {event_.get(), abandon};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
            CancelIoEx(handle_.get(), &overlapped);
            GetOverlappedResult(handle_.get(), &overlapped, &got, TRUE);
            SetLastError(ERROR_OPERATION_ABORTED);
            return false;
        }
        if (!GetOverlappedResult(handle_.get(), &overlapped, &got, TRUE)) return false;
        *gotBytes = got;
        return true;
    }

private:
    UniqueHandle handle_;
    UniqueHandle event_;
};

bool waitForControlDevice(ControlChannel& channel, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (channel.open(false)) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(100);
    }
}

bool protocolMatches(ControlChannel& channel) {
    std::uint32_t version = 0;
    DWORD got = 0;
    if (!channel.call(IOCTL_VUNIT_GET_VERSION, nullptr, 0, &version, sizeof version, &got) ||
        got != sizeof version) {
        say("the bus driver does not answer its version request (error %lu)", GetLastError());
        return false;
    }
    if (version != VUNIT_PROTOCOL_VERSION) {
        say("the loaded bus driver speaks version %u, this host %u: the driver of another "
            "build is loaded; end Wine in this prefix (wineserver -k) and install again",
            version, VUNIT_PROTOCOL_VERSION);
        return false;
    }
    return true;
}

// ---- Install ---------------------------------------------------------------------

int install(const wchar_t* infArgument) {
    wchar_t infPath[MAX_PATH];
    if (GetFullPathNameW(infArgument, MAX_PATH, infPath, nullptr) == 0 ||
        GetFileAttributesW(infPath) == INVALID_FILE_ATTRIBUTES) {
        say("the INF file %s is missing", narrow(infArgument).c_str());
        return 2;
    }
    UniqueDeviceList list(SetupDiCreateDeviceInfoList(&kSystemClassGuid, nullptr));
    if (list.get() == INVALID_HANDLE_VALUE) {
        say("SetupDiCreateDeviceInfoList failed, error %lu", GetLastError());
        return 1;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!SetupDiOpenDeviceInfoW(list.get(), kBusInstanceId, nullptr, 0, &device)) {
        if (!SetupDiCreateDeviceInfoW(list.get(), kBusInstanceId, &kSystemClassGuid, nullptr,
                                      nullptr, 0, &device)) {
            say("cannot create the bus device %s, error %lu", narrow(kBusInstanceId).c_str(),
                GetLastError());
            return 1;
        }
        // A multi-string: the id, then an empty string.
        const wchar_t hardwareIds[] = L"ORVANTAVU\\BUS\0";
        if (!SetupDiSetDeviceRegistryPropertyW(list.get(), &device, SPDRP_HARDWAREID,
                                               reinterpret_cast<const BYTE*>(hardwareIds),
                                               sizeof hardwareIds) ||
            !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, list.get(), &device)) {
            say("cannot register the bus device, error %lu", GetLastError());
            return 1;
        }
    }
    // Installs the bus's service from the INF, copies the INF where the system looks
    // for the children's driver, and starts the bus.
    BOOL reboot = FALSE;
    if (!UpdateDriverForPlugAndPlayDevicesW(nullptr, kBusHardwareId, infPath, INSTALLFLAG_FORCE,
                                            &reboot)) {
        say("installing the bus driver from %s failed, error %lu", narrow(infPath).c_str(),
            GetLastError());
        return 1;
    }
    ControlChannel channel;
    if (!waitForControlDevice(channel, kControlDeviceWaitMs)) {
        say("the bus driver did not start within %lu s: %s does not open (error %lu); is "
            "orvvubus.sys in C:\\windows\\system32\\drivers?",
            kControlDeviceWaitMs / 1000, narrow(VUNIT_CONTROL_PATH).c_str(), GetLastError());
        return 1;
    }
    if (!protocolMatches(channel)) return 1;
    say("bus installed and running");
    return 0;
}

// ---- Interface presence ------------------------------------------------------------

// The HID interface path of the child with these ids, or empty when it is not present.
std::wstring findInterface(std::uint16_t vendorId, std::uint16_t productId) {
    wchar_t key[96];
    std::swprintf(key, 96, L"#vid_%04x&pid_%04x#%ls#", vendorId, productId, kSerialNumber);
    const std::wstring wanted = lower(key);
    UniqueDeviceList list(SetupDiGetClassDevsW(&kHidInterfaceGuid, nullptr, nullptr,
                                               DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (list.get() == INVALID_HANDLE_VALUE) return {};
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(list.get(), nullptr, &kHidInterfaceGuid, index, &data))
            return {};
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailW(list.get(), &data, nullptr, 0, &required, nullptr);
        if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
        std::vector<DWORD> buffer((required + sizeof(DWORD) - 1) / sizeof(DWORD));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!SetupDiGetDeviceInterfaceDetailW(list.get(), &data, detail, required, nullptr,
                                              nullptr))
            continue;
        const std::wstring path = detail->DevicePath;
        if (lower(path).find(wanted) != std::wstring::npos) return path;
    }
}

// Waits until the interface is there (or gone); its path, or empty.
bool waitForInterface(const UnitConfig& config, bool present, std::wstring& path) {
    const ULONGLONG deadline = GetTickCount64() + kInterfaceWaitMs;
    for (;;) {
        path = findInterface(config.vendorId, config.productId);
        if (path.empty() != present) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(kInterfacePollMs);
    }
}

// ---- Serving ---------------------------------------------------------------------------

struct ServeOptions {
    std::wstring scenarioFile;
    std::wstring controlFile;
    std::wstring stateFile;
};

class Host {
public:
    Host(const Scenario& scenario, const ServeOptions& options)
        : scenario_(scenario), options_(options), session_(scenario, clock_) {
        InitializeCriticalSection(&unitLock_);
        quit_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    }
    ~Host() { DeleteCriticalSection(&unitLock_); }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    int run();

private:
    static DWORD WINAPI exchangeThread(void* self) {
        return static_cast<Host*>(self)->exchangeLoop();
    }
    DWORD exchangeLoop();
    bool plugDevice();
    void unplugDevice(ControlChannel& channel);
    bool setPlugged(bool plugged);
    void runCommand(const HostCommand& command);
    void pollControlFile();
    void writeState();
    void saveFlashIfChanged();

    Win32Clock clock_;
    Scenario scenario_;
    ServeOptions options_;
    UnitSession session_;
    CRITICAL_SECTION unitLock_;
    // Bumped by each plug and unplug, so that a reply due for a device that has gone
    // meanwhile is never delivered to its successor.
    volatile LONG generation_ = 0;
    ControlChannel commandChannel_;
    // The exchange thread's: one waits for output reports, the other acknowledges them.
    ControlChannel exchangeWait_;
    ControlChannel exchangeChannel_;
    UniqueHandle quit_;
    bool quitting_ = false;

    // What the state file says.
    bool plugged_ = false;
    std::wstring interfacePath_;
    std::string lastToken_;
    std::string lastError_;
    std::uint32_t savedAtExchange_ = 0;
};

DWORD Host::exchangeLoop() {
    auto in = std::make_unique<vunit_xfer>();
    auto request = std::make_unique<vunit_request>();
    std::uint32_t carry = 0;
    LONG carriedGeneration = 0;
    for (;;) {
        in->flags = VUNIT_XFER_WAIT | carry;
        if ((carry & VUNIT_XFER_INPUT) && carriedGeneration != generation_) {
            in->flags &= ~VUNIT_XFER_INPUT;
        }
        const DWORD inBytes =
            VUNIT_XFER_HEADER_BYTES + ((in->flags & VUNIT_XFER_INPUT) ? in->input_length : 0);
        DWORD got = 0;
        if (!exchangeWait_.callUntil(quit_.get(), IOCTL_VUNIT_XFER, in.get(), inBytes,
                                     request.get(), sizeof *request, &got)) {
            if (WaitForSingleObject(quit_.get(), 0) == WAIT_OBJECT_0) return 0;
            say("waiting for the next output report failed, error %lu", GetLastError());
            return 1;
        }
        carry = 0;
        if (got < VUNIT_REQUEST_HEADER_BYTES || request->length > VUNIT_MAX_REPORT_BYTES) {
            say("the bus driver handed up a malformed request");
            return 1;
        }
        RequestOutcome outcome;
        EnterCriticalSection(&unitLock_);
        outcome = session_.handleRequest(request->data, request->length);
        if (outcome.unitVanished) {
            // The pending write fails as the device leaves the bus.
            unplugDevice(exchangeChannel_);
        }
        carriedGeneration = generation_;
        LeaveCriticalSection(&unitLock_);
        if (outcome.unitVanished || outcome.writeNeverEnds) continue;

        in->ack_tag = request->tag;
        in->ack_status = outcome.writeStatus;
        carry = VUNIT_XFER_ACK;
        if (outcome.reply.empty()) continue;
        std::copy(outcome.reply.begin(), outcome.reply.end(), in->input);
        in->input_length = static_cast<std::uint32_t>(outcome.reply.size());
        if (outcome.replyDelayMs > 0) {
            // The write completes at once; the reply follows when the unit has it.
            in->flags = VUNIT_XFER_ACK;
            if (!exchangeChannel_.call(IOCTL_VUNIT_XFER, in.get(), VUNIT_XFER_HEADER_BYTES, nullptr,
                                       0)) {
                say("acknowledging an output report failed, error %lu", GetLastError());
                return 1;
            }
            if (WaitForSingleObject(quit_.get(), outcome.replyDelayMs) == WAIT_OBJECT_0) return 0;
            carry = VUNIT_XFER_INPUT;
        } else {
            carry |= VUNIT_XFER_INPUT;
        }
    }
}

// Under the unit lock.
bool Host::plugDevice() {
    const UnitConfig& config = session_.config();
    vunit_plug plug{};
    plug.vendor_id = config.vendorId;
    plug.product_id = config.productId;
    plug.version_number = 0x0100;
    plug.input_length = config.inputReportLength;
    plug.output_length = config.outputReportLength;
    const wchar_t* product = unitUsbName(config.productId);
    auto copyText = [](std::uint16_t* to, const wchar_t* text) {
        for (std::size_t i = 0; text[i] != 0 && i + 1 < VUNIT_MAX_STRING_CHARS; ++i)
            to[i] = static_cast<std::uint16_t>(text[i]);
    };
    copyText(plug.manufacturer, kManufacturer);
    copyText(plug.product, product);
    copyText(plug.serial, kSerialNumber);
    if (!commandChannel_.call(IOCTL_VUNIT_PLUG, &plug, sizeof plug, nullptr, 0)) {
        lastError_ = "the bus refused to plug the device, error " + std::to_string(GetLastError());
        say("%s", lastError_.c_str());
        return false;
    }
    InterlockedIncrement(&generation_);
    return true;
}

// Under the unit lock.
void Host::unplugDevice(ControlChannel& channel) {
    if (!channel.call(IOCTL_VUNIT_UNPLUG, nullptr, 0, nullptr, 0))
        say("the bus refused to unplug the device, error %lu", GetLastError());
    InterlockedIncrement(&generation_);
}

// Plugs or unplugs the unit and waits until its HID interface is there or gone.
bool Host::setPlugged(bool plugged) {
    lastError_.clear();
    EnterCriticalSection(&unitLock_);
    const bool wasPresent = session_.present();
    LeaveCriticalSection(&unitLock_);
    if (plugged && !wasPresent) {
        // A unit that vanished a moment ago may still be leaving the system; its
        // successor has the same path and must not be taken for it.
        std::wstring leaving;
        waitForInterface(session_.config(), false, leaving);
    }
    EnterCriticalSection(&unitLock_);
    bool ok = true;
    if (plugged && !session_.present()) {
        session_.plug();
        ok = plugDevice();
    } else if (!plugged && session_.present()) {
        session_.unplug();
        unplugDevice(commandChannel_);
    } else if (plugged) {
        // The unit counts as present but its device may have failed to plug earlier.
        ok = !interfacePath_.empty() || plugDevice();
    }
    LeaveCriticalSection(&unitLock_);
    if (!ok) return false;
    if (!waitForInterface(session_.config(), plugged, interfacePath_)) {
        lastError_ = plugged ? "the HID interface did not appear" : "the HID interface stayed";
        lastError_ += " within " + std::to_string(kInterfaceWaitMs / 1000) + " s";
        say("%s", lastError_.c_str());
        plugged_ = !interfacePath_.empty();
        return false;
    }
    plugged_ = plugged;
    return true;
}

void Host::runCommand(const HostCommand& command) {
    switch (command.kind) {
    case HostCommand::Kind::plug:
        setPlugged(true);
        break;
    case HostCommand::Kind::unplug:
        setPlugged(false);
        break;
    case HostCommand::Kind::quit:
        quitting_ = true;
        break;
    case HostCommand::Kind::unknown:
        lastError_ = "unknown command " + command.word;
        say("%s", lastError_.c_str());
        break;
    }
    lastToken_ = command.token;
}

void Host::pollControlFile() {
    // Taken away whole first, so that a command written meanwhile is never lost.
    const std::wstring taken = options_.controlFile + L".taken";
    if (!MoveFileExW(options_.controlFile.c_str(), taken.c_str(), MOVEFILE_REPLACE_EXISTING))
        return;
    std::string text;
    readWholeFile(taken, text);
    DeleteFileW(taken.c_str());
    for (const HostCommand& command : parseHostCommands(text)) {
        runCommand(command);
        if (command.kind != HostCommand::Kind::quit) writeState();
    }
}

void Host::writeState() {
    std::string text = "state = ";
    text += quitting_ ? "stopped" : plugged_ ? "plugged" : "unplugged";
    text += "\npath = " + narrow(plugged_ ? interfacePath_ : std::wstring()) + "\n";
    text += "done = " + lastToken_ + "\n";
    EnterCriticalSection(&unitLock_);
    text += "exchanges = " + std::to_string(session_.exchangeCount()) + "\n";
    LeaveCriticalSection(&unitLock_);
    if (!lastError_.empty()) text += "error = " + lastError_ + "\n";
    if (!replaceFile(options_.stateFile, text))
        say("cannot write the state file %s", narrow(options_.stateFile).c_str());
}

void Host::saveFlashIfChanged() {
    if (scenario_.flashFile.empty()) return;
    EnterCriticalSection(&unitLock_);
    const std::uint32_t exchanges = session_.exchangeCount();
    std::vector<std::uint8_t> flash;
    if (exchanges != savedAtExchange_) flash = session_.flash();
    LeaveCriticalSection(&unitLock_);
    if (exchanges == savedAtExchange_) return;
    savedAtExchange_ = exchanges;
    std::string error;
    if (!writeFlashFile(scenario_.flashFile, flash, error)) say("%s", error.c_str());
}

int Host::run() {
    if (!session_.error().empty()) say("%s", session_.error().c_str());
    if (!waitForControlDevice(commandChannel_, kControlDeviceWaitMs) ||
        !exchangeChannel_.open(false) || !exchangeWait_.open(true)) {
        say("%s does not open (error %lu): the bus driver is not running; run "
            "tools/virtual-unit install",
            narrow(VUNIT_CONTROL_PATH).c_str(), GetLastError());
        return 1;
    }
    if (!protocolMatches(commandChannel_)) return 1;

    UniqueHandle thread(CreateThread(nullptr, 0, &Host::exchangeThread, this, 0, nullptr));
    if (!thread) {
        say("cannot start the exchange thread, error %lu", GetLastError());
        return 1;
    }
    if (scenario_.unitPresent && !setPlugged(true)) {
        SetEvent(quit_.get());
        WaitForSingleObject(thread.get(), INFINITE);
        writeState();
        return 1;
    }
    writeState();

    for (DWORD polls = 1; !quitting_; ++polls) {
        if (WaitForSingleObject(thread.get(), kCommandPollMs) == WAIT_OBJECT_0) {
            say("the exchange thread ended; stopping");
            lastError_ = "the exchange with the bus driver failed";
            quitting_ = true;
            break;
        }
        pollControlFile();
        // A unit that vanished through a fault: the device already left the bus; report
        // it once its interface has gone.
        EnterCriticalSection(&unitLock_);
        const bool present = session_.present();
        LeaveCriticalSection(&unitLock_);
        if (plugged_ && !present) {
            if (!waitForInterface(session_.config(), false, interfacePath_))
                say("the HID interface of the vanished unit stayed");
            plugged_ = false;
            writeState();
        }
        if (polls % kFlashSaveEveryPolls == 0) saveFlashIfChanged();
    }

    setPlugged(false);
    SetEvent(quit_.get());
    WaitForSingleObject(thread.get(), INFINITE);
    saveFlashIfChanged();
    writeState();
    say("stopped");
    return 0;
}

bool loadScenario(const std::wstring& file, Scenario& scenario) {
    std::string fileText;
    if (!file.empty() && !readWholeFile(file, fileText)) {
        say("cannot read the scenario file %s", narrow(file).c_str());
        return false;
    }
    std::string error;
    if (!parseScenario(kDefaultLatencyLine + fileText, scenario, error)) {
        // Parsed again alone, so that the line number is the file's.
        Scenario ignored;
        parseScenario(fileText, ignored, error);
        say("scenario: %s", error.c_str());
        return false;
    }
    for (std::uint16_t length :
         {scenario.unit.inputReportLength, scenario.unit.outputReportLength}) {
        if (length < VUNIT_MIN_REPORT_BYTES || length > VUNIT_MAX_REPORT_BYTES) {
            say("scenario: report length %u is outside %u to %u bytes", length,
                VUNIT_MIN_REPORT_BYTES, VUNIT_MAX_REPORT_BYTES);
            return false;
        }
    }
    if (!scenario.otherDevices.empty()) say("other_device lines are not put on the virtual bus");
    return true;
}

int serve(int argc, wchar_t** argv) {
    ServeOptions options;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::wstring option = argv[i];
        if (option == L"--scenario") {
            options.scenarioFile = argv[i + 1];
        } else if (option == L"--control") {
            options.controlFile = argv[i + 1];
        } else if (option == L"--state") {
            options.stateFile = argv[i + 1];
        } else {
            say("unknown option %s", narrow(option).c_str());
            return 2;
        }
    }
    if (options.controlFile.empty() || options.stateFile.empty()) {
        say("serve needs --control and --state");
        return 2;
    }
    auto scenario = std::make_unique<Scenario>();
    if (!loadScenario(options.scenarioFile, *scenario)) return 2;
    DeleteFileW(options.controlFile.c_str());
    auto host = std::make_unique<Host>(*scenario, options);
    return host->run();
}

}  // namespace
}  // namespace orvanta

int wmain(int argc, wchar_t** argv) {
    const std::wstring verb = argc > 1 ? argv[1] : L"";
    if (verb == L"install" && argc == 3) return orvanta::install(argv[2]);
    if (verb == L"serve") return orvanta::serve(argc, argv);
    std::fputs(
        "usage: orvanta-virtual-unit install <inf file>\n"
        "       orvanta-virtual-unit serve [--scenario <file>] --control <file> --state "
        "<file>\n",
        stderr);
    return 2;
}
