// Reading scenario files for the emulated unit and writing its flash out.
#include "emulator/scenario.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace orvanta {

namespace {

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    std::string word;
    while (stream >> word) {
        result.push_back(word);
    }
    return result;
}

bool parseNumber(const std::string& text, std::uint64_t max, std::uint64_t& out) {
    if (text.empty() || text[0] == '-' || text[0] == '+') {
        return false;
    }
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || value > max) {
        return false;
    }
    out = value;
    return true;
}

template <typename Unsigned>
bool parseField(const std::string& text, Unsigned& out) {
    std::uint64_t value = 0;
    if (!parseNumber(text, static_cast<Unsigned>(~Unsigned{0}), value)) {
        return false;
    }
    out = static_cast<Unsigned>(value);
    return true;
}

template <std::size_t N>
bool parseBytes(const std::string& text, std::array<std::uint8_t, N>& out) {
    const std::vector<std::string> items = words(text);
    if (items.size() != N) {
        return false;
    }
    std::array<std::uint8_t, N> bytes{};
    for (std::size_t i = 0; i < N; ++i) {
        const std::string& item = items[i];
        if (item.empty() || item.size() > 2 || !std::all_of(item.begin(), item.end(), [](char c) {
                return std::isxdigit(static_cast<unsigned char>(c));
            })) {
            return false;
        }
        bytes[i] = static_cast<std::uint8_t>(std::strtoul(item.c_str(), nullptr, 16));
    }
    out = bytes;
    return true;
}

bool parseBool(const std::string& text, bool& out) {
    if (text == "true" || text == "1" || text == "yes") {
        out = true;
    } else if (text == "false" || text == "0" || text == "no") {
        out = false;
    } else {
        return false;
    }
    return true;
}

struct CommandName {
    const char* name;
    std::uint8_t code;
};

constexpr CommandName kCommandNames[] = {
    {"CMD_IDENTIFY", CMD_IDENTIFY},
    {"CMD_READ_MEMORY", CMD_READ_MEMORY},
    {"CMD_SYSTEM_LOCK", CMD_SYSTEM_LOCK},
    {"CMD_WRITE_BLOCK", CMD_WRITE_BLOCK},
    {"CMD_READ_ESC_INFO", CMD_READ_ESC_INFO},
    {"CMD_ERASE_FIRMWARE", CMD_ERASE_FIRMWARE},
    {"CMD_SET_ADDRESS", CMD_SET_ADDRESS},
    {"CMD_WRITE_PROTECTION", CMD_WRITE_PROTECTION},
    {"CMD_READ_BOOTLOADER_INFO", CMD_READ_BOOTLOADER_INFO},
};

bool parseCommand(const std::string& text, std::uint8_t& out) {
    for (const CommandName& command : kCommandNames) {
        if (text == command.name) {
            out = command.code;
            return true;
        }
    }
    return parseField(text, out);
}

struct KindName {
    const char* name;
    FaultKind kind;
};

constexpr KindName kKindNames[] = {
    {"error_status", FaultKind::errorStatus}, {"wrong_echo", FaultKind::wrongEcho},
    {"write_fails", FaultKind::writeFails},   {"read_fails", FaultKind::readFails},
    {"no_answer", FaultKind::noAnswer},       {"unplug", FaultKind::unplug},
    {"write_hangs", FaultKind::writeHangs},
};

bool parseFault(const std::string& text, Fault& out, std::string& why) {
    const std::vector<std::string> items = words(text);
    if (items.empty()) {
        why = "a fault needs a kind";
        return false;
    }
    Fault fault;
    bool kindKnown = false;
    for (const KindName& kind : kKindNames) {
        if (items[0] == kind.name) {
            fault.kind = kind.kind;
            kindKnown = true;
        }
    }
    if (!kindKnown) {
        why = "unknown fault kind '" + items[0] + "'";
        return false;
    }
    bool haveCommand = false;
    bool haveExchange = false;
    for (std::size_t i = 1; i < items.size(); ++i) {
        const auto equals = items[i].find('=');
        if (equals == std::string::npos) {
            why = "expected name=value, got '" + items[i] + "'";
            return false;
        }
        const std::string name = items[i].substr(0, equals);
        const std::string value = items[i].substr(equals + 1);
        bool ok = false;
        if (name == "command") {
            ok = parseCommand(value, fault.command);
            haveCommand = true;
        } else if (name == "occurrence") {
            ok = parseField(value, fault.occurrence);
        } else if (name == "exchange") {
            ok = parseField(value, fault.exchange) && fault.exchange != 0;
            haveExchange = true;
        } else if (name == "value") {
            ok = parseField(value, fault.value);
        } else if (name == "replug_after_ms") {
            ok = parseField(value, fault.replugAfterMs);
            if (ok && fault.kind != FaultKind::unplug) {
                why = "replug_after_ms only goes with unplug";
                return false;
            }
        } else {
            why = "unknown fault setting '" + name + "'";
            return false;
        }
        if (!ok) {
            why = "bad value in '" + items[i] + "'";
            return false;
        }
    }
    if (haveCommand == haveExchange) {
        why = "a fault needs either command= or exchange=";
        return false;
    }
    out = fault;
    return true;
}

// Applies one key to the scenario; false with `why` set when it cannot.
bool applyKey(const std::string& key, const std::string& value, Scenario& s, std::string& why) {
    UnitConfig& u = s.unit;
    bool ok = false;
    if (key == "vendor_id") {
        ok = parseField(value, u.vendorId);
    } else if (key == "product_id") {
        ok = parseField(value, u.productId);
    } else if (key == "input_report_length") {
        ok = parseField(value, u.inputReportLength);
    } else if (key == "output_report_length") {
        ok = parseField(value, u.outputReportLength);
    } else if (key == "unit_mode") {
        ok = parseField(value, u.unitMode);
    } else if (key == "mode_info") {
        const std::vector<std::string> items = words(value);
        UnitModeInfo info;
        ok = items.size() == 5 && parseField(items[0], info.first) &&
             parseField(items[1], info.second) && parseField(items[2], info.third) &&
             parseField(items[3], info.fourth) && parseField(items[4], info.fifth);
        if (ok) {
            u.modeInfo = info;
        }
    } else if (key == "unit_memory") {
        std::array<std::uint8_t, kUnitInfoBytes> memory{};
        ok = parseBytes(value, memory);
        if (ok) {
            u.unitMemory = memory;
        }
    } else if (key == "unit_firmware_version") {
        ok = parseField(value, u.unitFirmwareVersion);
    } else if (key == "unit_reserved") {
        ok = parseField(value, u.unitReserved);
    } else if (key == "identify_reserved") {
        ok = parseField(value, u.identifyReserved);
    } else if (key == "esc_state") {
        ok = parseField(value, u.escState);
    } else if (key == "esc_info") {
        ok = parseBytes(value, u.escInfo);
    } else if (key == "esc_firmware_version") {
        ok = parseField(value, u.escFirmwareVersion);
    } else if (key == "bootloader_info") {
        ok = parseBytes(value, u.bootloaderInfo);
    } else if (key == "esc_type_code") {
        ok = parseField(value, u.escTypeCode);
    } else if (key == "bootloader_version") {
        ok = parseField(value, u.bootloaderVersion);
    } else if (key == "flash_size") {
        ok = parseField(value, u.flashBytes) && u.flashBytes <= (64u << 20);
    } else if (key == "reply_latency_ms") {
        ok = parseField(value, u.replyLatencyMs);
    } else if (key == "erase_duration_ms") {
        ok = parseField(value, u.eraseDurationMs);
    } else if (key == "held_by_other_program") {
        ok = parseBool(value, u.heldByOtherProgram);
    } else if (key == "unit_present") {
        ok = parseBool(value, s.unitPresent);
    } else if (key == "other_device") {
        const std::vector<std::string> items = words(value);
        OtherHidDevice device;
        ok = items.size() == 2 && parseField(items[0], device.vendorId) &&
             parseField(items[1], device.productId);
        if (ok) {
            s.otherDevices.push_back(device);
        }
    } else if (key == "fault") {
        Fault fault;
        if (!parseFault(value, fault, why)) {
            return false;
        }
        s.faults.push_back(fault);
        ok = true;
    } else if (key == "trace_file") {
        s.traceFile = value;
        ok = !value.empty();
    } else if (key == "flash_file") {
        s.flashFile = value;
        ok = !value.empty();
    } else {
        why = "unknown key '" + key + "'";
        return false;
    }
    if (!ok) {
        why = "bad value for " + key + ": '" + value + "'";
    }
    return ok;
}

}  // namespace

bool parseScenario(const std::string& text, Scenario& out, std::string& error) {
    Scenario scenario;
    std::istringstream stream(text);
    std::string line;
    for (int number = 1; std::getline(stream, line); ++number) {
        if (const auto hash = line.find('#'); hash != std::string::npos) {
            line.erase(hash);
        }
        line = trim(line);
        if (line.empty()) {
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            error = "line " + std::to_string(number) + ": expected key = value";
            return false;
        }
        const std::string key = trim(line.substr(0, equals));
        const std::string value = trim(line.substr(equals + 1));
        std::string why;
        if (!applyKey(key, value, scenario, why)) {
            error = "line " + std::to_string(number) + ": " + why;
            return false;
        }
    }
    out = std::move(scenario);
    return true;
}

EmulatedUnit& applyScenario(const Scenario& scenario, EmulatedBus& bus, std::string& error) {
    for (const OtherHidDevice& device : scenario.otherDevices) {
        bus.addOtherDevice(device.vendorId, device.productId);
    }
    EmulatedUnit& unit = bus.addUnit(scenario.unit);
    for (const Fault& fault : scenario.faults) {
        unit.addFault(fault);
    }
    if (!scenario.unitPresent) {
        bus.unplug(bus.pathAt(bus.interfaceCount() - 1));
    }
    error.clear();
    if (!scenario.traceFile.empty() && !bus.setTraceFile(scenario.traceFile)) {
        error = "cannot open trace file '" + scenario.traceFile + "'";
    }
    return unit;
}

bool writeFlashFile(const std::string& fileName, const std::vector<std::uint8_t>& flash,
                    std::string& error) {
    std::ofstream file(fileName, std::ios::binary | std::ios::trunc);
    if (!file) {
        error = "cannot create flash file '" + fileName + "'";
        return false;
    }
    file.write(reinterpret_cast<const char*>(flash.data()),
               static_cast<std::streamsize>(flash.size()));
    file.close();
    if (!file) {
        error = "cannot write flash file '" + fileName + "'";
        return false;
    }
    return true;
}

}  // namespace orvanta
