// The emulated unit's bootloader rules, a whole update landing in its flash, its
// injected faults and its trace.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <fstream>
#include <unistd.h>
#include <vector>

#include "tests/fake_clock.h"
#include "tests/unit_trace.h"
#include "emulator/emulated_bus.h"
#include "link/unit_link.h"

namespace orvanta {
namespace {

class EmulatorTest : public ::testing::Test {
protected:
    EmulatorTest() : bus(clock), link(bus, clock) {}

    EmulatedUnit& open(const UnitConfig& config = {}) {
        EmulatedUnit& unit = bus.addUnit(config);
        EXPECT_EQ(openLink(link), kStatusOk);
        return unit;
    }

    // Lock set, protection off, flash erased, address 0: ready for blocks.
    void prepare() {
        ASSERT_EQ(setSystemLock(link, true), kStatusOk);
        ASSERT_EQ(setWriteProtection(link, false), kStatusOk);
        ASSERT_EQ(eraseFirmware(link), kStatusOk);
        ASSERT_EQ(setWriteAddress(link), kStatusOk);
    }

    FakeClock clock;
    EmulatedBus bus;
    UnitLink link;
};

std::vector<std::uint8_t> makeImage(std::size_t bytes, std::uint16_t version) {
    std::vector<std::uint8_t> image(bytes);
    for (std::size_t i = 0; i < bytes; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    image[4] = static_cast<std::uint8_t>(version);
    image[5] = static_cast<std::uint8_t>(version >> 8);
    return image;
}

TEST_F(EmulatorTest, WholeUpdateLandsInFlashAndReidentifyReportsItsVersion) {
    EmulatedUnit& unit = open();
    EXPECT_EQ(link.escFirmwareVersion(), 0x0009);
    const std::vector<std::uint8_t> image = makeImage(1000, 0x0100);  // 20 blocks + 40 bytes

    prepare();
    std::size_t position = 0;
    while (image.size() - position >= 48) {
        ASSERT_EQ(writeBlock(link, &image[position], 12), kStatusOk);
        position += 48;
    }
    std::uint8_t last[48];
    std::fill(std::begin(last), std::end(last), std::uint8_t{0xFF});
    std::copy(image.begin() + position, image.end(), last);
    ASSERT_EQ(writeBlock(link, last, static_cast<std::uint32_t>((image.size() - position) / 4)),
              kStatusOk);
    EXPECT_EQ(setWriteProtection(link, true), kStatusOk);
    EXPECT_EQ(setSystemLock(link, false), kStatusOk);

    const std::vector<std::uint8_t>& flash = unit.flash();
    ASSERT_EQ(flash.size(), 128u * 1024u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_TRUE(std::all_of(flash.begin() + image.size(), flash.end(),
                            [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(unit.installedFirmwareVersion(), 0x0100);
    EXPECT_FALSE(unit.systemLocked());
    EXPECT_TRUE(unit.writeProtected());

    // The record keeps what the probe read until the link is opened anew.
    EXPECT_EQ(link.escFirmwareVersion(), 0x0009);
    ASSERT_EQ(openLink(link), kStatusOk);
    EXPECT_EQ(link.escFirmwareVersion(), 0x0100);
}

TEST_F(EmulatorTest, ErasedFlashReportsNoVersion) {
    EmulatedUnit& unit = open();
    prepare();
    EXPECT_EQ(unit.installedFirmwareVersion(), 0xFFFF);
    ASSERT_EQ(openLink(link), kStatusOk);
    EXPECT_EQ(link.escFirmwareVersion(), 0xFFFF);
}

// Plays the link's commands named by letters: L lock, l lock reset, U protection off,
// P protection on, E erase, A write address, B a block of 12 words, b one of 8; what
// each gave.
using Statuses = std::vector<LinkStatus>;
Statuses playEach(UnitLink& link, const char* steps) {
    const std::uint8_t block[48] = {0x5A};
    Statuses gave;
    for (const char* step = steps; *step != 0; ++step) {
        const char c = *step;
        if (c == 'L' || c == 'l') {
            gave.push_back(setSystemLock(link, c == 'L'));
        } else if (c == 'U' || c == 'P') {
            gave.push_back(setWriteProtection(link, c == 'P'));
        } else if (c == 'E') {
            gave.push_back(eraseFirmware(link));
        } else if (c == 'A') {
            gave.push_back(setWriteAddress(link));
        } else {
            gave.push_back(writeBlock(link, block, c == 'B' ? 12 : 8));
        }
    }
    return gave;
}

// The bootloader refuses a command, with its own code, unless every condition holds,
// and its flash stays as it was.
struct GuardCase {
    const char* name;
    const char* steps;    // taken first, as playEach() reads them
    const char* refused;  // the command then refused
    std::uint32_t expected;
    std::uint16_t escState = ESC_STATE_BOOTLOADER_READY;
};

class GuardRailTest : public EmulatorTest, public ::testing::WithParamInterface<GuardCase> {};

TEST_P(GuardRailTest, CommandIsRefusedAndNothingLands) {
    UnitConfig config;
    config.flashBytes = 96;
    config.escState = GetParam().escState;
    EmulatedUnit& unit = open(config);
    EXPECT_EQ(playEach(link, GetParam().steps), Statuses(std::strlen(GetParam().steps), kStatusOk));
    const std::vector<std::uint8_t> before = unit.flash();
    EXPECT_EQ(playEach(link, GetParam().refused),
              Statuses{static_cast<LinkStatus>(GetParam().expected)});
    EXPECT_EQ(unit.flash(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Conditions, GuardRailTest,
    ::testing::Values(GuardCase{"BlockNotLocked", "LUEAl", "B", kEmuErrorNotLocked},
                      GuardCase{"BlockWriteProtected", "LUEAP", "B", kEmuErrorWriteProtected},
                      GuardCase{"BlockNotErased", "LUA", "B", kEmuErrorNotErased},
                      GuardCase{"BlockErasedBeforeProtectionWasSetAgain", "LUEPUA", "B",
                                kEmuErrorNotErased},
                      GuardCase{"BlockWithoutAddress", "LUE", "B", kEmuErrorNoAddress},
                      // 80 of the 96 bytes used: a third block would not fit.
                      GuardCase{"BlockPastFlashEnd", "LUEABb", "B", kEmuErrorPastFlashEnd},
                      GuardCase{"EraseNotLocked", "", "E", kEmuErrorNotLocked},
                      GuardCase{"EraseWriteProtected", "L", "E", kEmuErrorWriteProtected},
                      GuardCase{"UnprotectWithoutBootloader", "L", "U", kEmuErrorNoBootloader, 2},
                      GuardCase{"AddressWithoutBootloader", "L", "A", kEmuErrorNoBootloader, 2}),
    [](const ::testing::TestParamInfo<GuardCase>& info) { return std::string(info.param.name); });

// Requests the link never sends, written straight to the unit.
class RawRequestTest : public ::testing::Test {
protected:
    RawRequestTest() : unit(clock, UnitConfig{}) {}

    std::array<std::uint8_t, 60> send(std::array<std::uint8_t, 60> request) {
        EXPECT_EQ(unit.receiveRequest(request.data(), request.size()).outcome, IoOutcome::done);
        std::array<std::uint8_t, 60> reply{};
        EXPECT_EQ(unit.sendReply(reply.data(), reply.size(), 1000).outcome, IoOutcome::done);
        return reply;
    }

    static std::uint32_t code(const std::array<std::uint8_t, 60>& reply) {
        EXPECT_EQ(reply[1], 0xFF);
        return readLe32(reply, kErrorCodeByte);
    }

    FakeClock clock;
    EmulatedUnit unit;
};

TEST_F(RawRequestTest, ConfirmationValueIsDemanded) {
    send({0x01, CMD_SYSTEM_LOCK, 1, 1});
    send({0x01, CMD_WRITE_PROTECTION, 1, 0});
    EXPECT_EQ(code(send({0x01, CMD_ERASE_FIRMWARE, 4, 0, 0xE9, 0x52, 0x7C, 0x3B})),
              kEmuErrorBadConfirmation);
    EXPECT_EQ(code(send({0x01, CMD_SET_ADDRESS, 9, 1, 0, 0, 0, 0, 0, 0, 0, 0})),
              kEmuErrorBadConfirmation);
    EXPECT_FALSE(unit.erasedForWriting());
    EXPECT_FALSE(unit.writeAddress().has_value());
}

TEST_F(RawRequestTest, MalformedRequestsGetTheirCodes) {
    EXPECT_EQ(code(send({0x01, 0x55})), kEmuErrorUnknownCommand);
    EXPECT_EQ(code(send({0x01, CMD_WRITE_BLOCK, 6})), kEmuErrorBadLength);
    EXPECT_EQ(code(send({0x01, CMD_WRITE_BLOCK, 60})), kEmuErrorBadLength);
    EXPECT_EQ(code(send({0x01, CMD_READ_MEMORY, 12, 0, 0x00, 0xFC, 0x01, 0x09})),
              kEmuErrorBadArgument);
    EXPECT_EQ(code(send({0x01, CMD_READ_ESC_INFO, 8, 0, 40, 0, 0, 0, 0xE0, 0xFF, 0xFF, 0xFF})),
              kEmuErrorBadArgument);
    EXPECT_EQ(code(send({0x01, CMD_SET_ADDRESS, 9, 1, 0, 0, 2, 0, 0xE9, 0x52, 0x7C, 0x3A})),
              kEmuErrorBadArgument);  // 128 KiB: past the end
}

TEST_F(RawRequestTest, TransfersOfTheWrongShapeFailLikeTheSystemWould) {
    std::array<std::uint8_t, 60> request{0x01, CMD_IDENTIFY};
    EXPECT_EQ(unit.receiveRequest(request.data(), 59).outcome, IoOutcome::failed);
    request[0] = 0x02;
    EXPECT_EQ(unit.receiveRequest(request.data(), 60).outcome, IoOutcome::failed);
    EXPECT_EQ(unit.exchangeCount(), 0u);

    // A read with nothing asked runs into its time limit.
    std::array<std::uint8_t, 60> reply{};
    const UnitTransfer transfer = unit.sendReply(reply.data(), reply.size(), 1234);
    EXPECT_EQ(transfer.outcome, IoOutcome::timedOut);
    EXPECT_EQ(transfer.lastError, kErrorTimeout);
    EXPECT_EQ(clock.nowMs(), 1234u);
}

// --- Request form -----------------------------------------------------------

std::vector<std::uint8_t> bytesOf(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t at = 0; at + 1 < hex.size(); at += 3) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(at, 2), nullptr, 16)));
    }
    return bytes;
}

// Every request the link sends, read from the trace of runs the unit accepted
// throughout: the probe in both unit modes, the update's commands, and blocks of
// 0, 12 and 14 words.
std::vector<std::vector<std::uint8_t>> acceptedLinkRequests() {
    std::vector<std::vector<std::uint8_t>> requests;
    for (const std::uint8_t mode : {0, 1}) {
        FakeClock clock;
        EmulatedBus bus(clock);
        UnitConfig config;
        config.unitMode = mode;
        bus.addUnit(config);
        UnitLink link(bus, clock);
        EXPECT_EQ(openLink(link), kStatusOk);
        if (mode == 0) {
            const std::uint8_t block[56] = {0x11, 0x22, 0x33};
            EXPECT_EQ(setSystemLock(link, true), kStatusOk);
            EXPECT_EQ(setWriteProtection(link, false), kStatusOk);
            EXPECT_EQ(eraseFirmware(link), kStatusOk);
            EXPECT_EQ(setWriteAddress(link), kStatusOk);
            for (const std::uint32_t words : {0u, 12u, 14u}) {
                EXPECT_EQ(writeBlock(link, block, words), kStatusOk) << words;
            }
            EXPECT_EQ(setWriteProtection(link, true), kStatusOk);
            EXPECT_EQ(setSystemLock(link, false), kStatusOk);
        }
        for (const std::string& line : bus.trace()) {
            TraceLine split;
            EXPECT_TRUE(splitTraceLine(line, split)) << line;
            const std::vector<std::uint8_t> bytes = bytesOf(split.entry.substr(2));
            if (split.entry[0] == '>') {
                requests.push_back(bytes);
            } else {
                EXPECT_EQ(split.entry[0], '<') << line;
                EXPECT_NE(bytes.at(1), kStatusError) << line;
            }
        }
    }
    return requests;
}

// The system refuses the write; the unit never sees the request.
constexpr std::uint32_t kWriteRefused = 0xFFFFFFFF;

// What becomes of a request when one byte in [first, last] changes: the unit's
// refusal code, 0 when it is accepted, or kWriteRefused.
struct FieldRule {
    std::size_t first;
    std::size_t last;
    std::uint32_t code;
};

std::vector<FieldRule> fieldRulesOf(const std::vector<std::uint8_t>& request) {
    std::vector<FieldRule> rules = {
        {0, 0, kWriteRefused}, {1, 1, kEmuErrorUnknownCommand}, {2, 2, kEmuErrorBadLength}};
    const auto add = [&](std::initializer_list<FieldRule> more) {
        rules.insert(rules.end(), more.begin(), more.end());
    };
    switch (request[1]) {
    case CMD_IDENTIFY:
    case CMD_READ_BOOTLOADER_INFO:
        add({{3, 59, kEmuErrorBadFiller}});
        break;
    case CMD_READ_MEMORY:
        add({{3, 3, kEmuErrorBadFiller},
             {4, 7, kEmuErrorBadArgument},
             {8, 59, kEmuErrorBadFiller}});
        break;
    case CMD_SYSTEM_LOCK:
    case CMD_WRITE_PROTECTION:
        add({{3, 3, kEmuErrorBadArgument}, {4, 59, kEmuErrorBadFiller}});
        break;
    case CMD_READ_ESC_INFO:
        add({{3, 3, kEmuErrorBadFiller},
             {4, 11, kEmuErrorBadArgument},
             {12, 59, kEmuErrorBadFiller}});
        break;
    case CMD_ERASE_FIRMWARE:
        add({{3, 3, kEmuErrorBadFiller},
             {4, 7, kEmuErrorBadConfirmation},
             {8, 59, kEmuErrorBadFiller}});
        break;
    case CMD_SET_ADDRESS:
        add({{3, 3, kEmuErrorBadArgument},
             {4, 7, kEmuErrorBadArgument},
             {8, 11, kEmuErrorBadConfirmation},
             {12, 59, kEmuErrorBadFiller}});
        break;
    case CMD_WRITE_BLOCK: {
        // Any payload is taken; behind it the report must hold 0xFF.
        const std::size_t payload = request[2];
        add({{3, 3, kEmuErrorBadFiller}});
        if (payload != 0) add({{4, 3 + payload, 0}});
        if (4 + payload <= 59) add({{4 + payload, 59, kEmuErrorBadFiller}});
        break;
    }
    default:
        ADD_FAILURE() << "no rules for command " << int{request[1]};
    }
    return rules;
}

struct UnitState {
    bool locked;
    bool protectedFlash;
    bool erased;
    std::optional<std::uint32_t> address;
    std::vector<std::uint8_t> flash;
    bool operator==(const UnitState&) const = default;
};

UnitState stateOf(const EmulatedUnit& unit) {
    return {unit.systemLocked(), unit.writeProtected(), unit.erasedForWriting(),
            unit.writeAddress(), unit.flash()};
}

// Each byte of each request the link sends, changed on its own, in a unit ready for
// blocks: a refused request has its own code and changes nothing.
TEST(RequestForm, EveryChangedByteIsRefusedWithTheCodeOfItsField) {
    const std::vector<std::vector<std::uint8_t>> requests = acceptedLinkRequests();
    ASSERT_EQ(requests.size(), 14u);  // 3 + 2 of the probes, 9 of the update
    const std::vector<std::uint8_t>& lock = requests[3];
    const std::vector<std::uint8_t>& unprotect = requests[4];
    const std::vector<std::uint8_t>& erase = requests[5];
    const std::vector<std::uint8_t>& address = requests[6];
    ASSERT_EQ(address[1], CMD_SET_ADDRESS);

    for (const std::vector<std::uint8_t>& original : requests) {
        ASSERT_EQ(original.size(), 60u);
        for (const FieldRule& rule : fieldRulesOf(original)) {
            for (std::size_t at = rule.first; at <= rule.last; ++at) {
                FakeClock clock;
                UnitConfig config;
                // Small enough that any changed byte of the write address leaves it.
                config.flashBytes = 256;
                EmulatedUnit unit(clock, config);
                std::array<std::uint8_t, 60> reply{};
                for (const auto* step : {&lock, &unprotect, &erase, &address}) {
                    ASSERT_EQ(unit.receiveRequest(step->data(), 60).outcome, IoOutcome::done);
                    ASSERT_EQ(unit.sendReply(reply.data(), 60, 1000).outcome, IoOutcome::done);
                    ASSERT_NE(reply[1], kStatusError);
                }
                const UnitState before = stateOf(unit);
                std::vector<std::uint8_t> changed = original;
                changed[at] ^= 0xA5;
                const std::string where = "command " + std::to_string(original[1]) + " length " +
                                          std::to_string(original[2]) + ", byte " +
                                          std::to_string(at);

                const UnitTransfer write = unit.receiveRequest(changed.data(), 60);
                if (rule.code == kWriteRefused) {
                    EXPECT_EQ(write.outcome, IoOutcome::failed) << where;
                    EXPECT_EQ(write.lastError, 87u) << where;
                    EXPECT_EQ(unit.exchangeCount(), 4u) << where;
                    continue;
                }
                ASSERT_EQ(write.outcome, IoOutcome::done) << where;
                ASSERT_EQ(unit.sendReply(reply.data(), 60, 1000).outcome, IoOutcome::done);
                if (rule.code == 0) {
                    EXPECT_NE(reply[1], kStatusError) << where;
                    continue;
                }
                EXPECT_EQ(reply[1], kStatusError) << where;
                EXPECT_EQ(readLe32(reply, kErrorCodeByte), rule.code) << where;
                EXPECT_TRUE(stateOf(unit) == before) << where << ": carried out all the same";
                if (changed[1] == CMD_SYSTEM_LOCK) {
                    // A refused lock request still tells the lock's state.
                    EXPECT_EQ(reply[3], 1) << where;
                }
            }
        }
    }
}

TEST(RequestForm, ReportEndingBeforeTheArgumentsIsRefused) {
    FakeClock clock;
    UnitConfig config;
    config.outputReportLength = 8;
    EmulatedUnit unit(clock, config);
    const auto codeFor = [&](std::initializer_list<std::uint8_t> head) {
        std::array<std::uint8_t, 8> request{};
        std::copy(head.begin(), head.end(), request.begin());
        EXPECT_EQ(unit.receiveRequest(request.data(), 8).outcome, IoOutcome::done);
        std::array<std::uint8_t, 60> reply{};
        EXPECT_EQ(unit.sendReply(reply.data(), 60, 1000).outcome, IoOutcome::done);
        return reply[1] != kStatusError ? 0u : readLe32(reply, kErrorCodeByte);
    };
    // An erase's confirmation fits in 8 bytes; the ESC information's arguments do not.
    EXPECT_EQ(codeFor({0x01, CMD_SYSTEM_LOCK, 1, 1}), 0u);
    EXPECT_EQ(codeFor({0x01, CMD_WRITE_PROTECTION, 1, 0}), 0u);
    EXPECT_EQ(codeFor({0x01, CMD_ERASE_FIRMWARE, 4, 0, 0xE9, 0x52, 0x7C, 0x3A}), 0u);
    EXPECT_EQ(codeFor({0x01, CMD_READ_ESC_INFO, 8, 0, 32, 0, 0, 0}), kEmuErrorReportTooShort);
    EXPECT_EQ(codeFor({0x01, CMD_WRITE_BLOCK, 8, 0, 1, 2, 3, 4}), kEmuErrorReportTooShort);
}

// --- Fault injection --------------------------------------------------------

// What the unit holds, as "locked, unprotected, address 144, 11 exchanges".
std::string holdings(const EmulatedUnit& unit) {
    const std::optional<std::uint32_t> address = unit.writeAddress();
    return std::string(unit.systemLocked() ? "locked" : "unlocked") +
           (unit.writeProtected() ? ", protected" : ", unprotected") +
           (address ? ", address " + std::to_string(*address) : ", no address") + ", " +
           std::to_string(unit.exchangeCount()) + " exchanges";
}

using Faults = std::vector<Fault>;

// Faults added to a freshly opened unit (whose exchanges 1-3 were the probe's), the
// commands then played as playEach() reads them and what each gave, the bus's last
// error after each failed transfer and at the end, the time they took, what the unit
// holds after them, and the start of the last trace line where it matters.
struct FaultCase {
    const char* name;
    Faults faults;
    const char* steps;
    Statuses gave;
    std::uint32_t lastError;
    std::uint64_t ms;
    const char* holds;
    const char* lastLine = nullptr;
};

constexpr LinkStatus kOk = kStatusOk;
const Fault kRefusedUnprotect =
    faultOnCommand(FaultKind::errorStatus, CMD_WRITE_PROTECTION, 0, 0xE0F0);
const Fault kUnprotectEchoesTwo = faultOnCommand(FaultKind::wrongEcho, CMD_WRITE_PROTECTION, 0, 2);

const FaultCase kFaultCases[] = {
    // The refused third block is not carried out: the address moved by three blocks.
    FaultCase{"ByCommandAndOccurrence",
              Faults{faultOnCommand(FaultKind::errorStatus, CMD_WRITE_BLOCK, 3, 0xE0FF)},
              "LUEABBBB", Statuses{kOk, kOk, kOk, kOk, kOk, kOk, 0xE0FF, kOk}, 0,
              kEraseReplyDelayMs, "locked, unprotected, address 144, 11 exchanges"},
    // Every lock request carried out; only the echo is wrong.
    FaultCase{"WrongEchoOnEveryOccurrence",
              Faults{faultOnCommand(FaultKind::wrongEcho, CMD_SYSTEM_LOCK, 0)}, "LlL",
              Statuses{kStatusNoEcho, kStatusNoEcho, kStatusNoEcho}, 0, 0,
              "locked, protected, no address, 6 exchanges"},
    FaultCase{"WrongEchoWithAGivenValue",
              Faults{faultOnCommand(FaultKind::wrongEcho, CMD_WRITE_PROTECTION, 1, 2)}, "PP",
              Statuses{kStatusNoEcho, kOk}, 0, 0, "unlocked, protected, no address, 5 exchanges"},
    // Both take effect on every request, whichever was added first: refused, so not
    // carried out, with the echo byte given; the link judges the status before the echo.
    FaultCase{"ErrorStatusThenWrongEcho", Faults{kRefusedUnprotect, kUnprotectEchoesTwo}, "LUU",
              Statuses{kOk, 0xE0F0, 0xE0F0}, 0, 0, "locked, protected, no address, 6 exchanges",
              "0 < 02 ff 00 02 f0 e0 00 00 "},
    FaultCase{"WrongEchoThenErrorStatus", Faults{kUnprotectEchoesTwo, kRefusedUnprotect}, "LUU",
              Statuses{kOk, 0xE0F0, 0xE0F0}, 0, 0, "locked, protected, no address, 6 exchanges",
              "0 < 02 ff 00 02 f0 e0 00 00 "},
    // Exchange 5 is the second after the probe: carried out, only the reply was lost.
    FaultCase{"ReadFailsByExchangeNumber", Faults{faultOnExchange(FaultKind::readFails, 5)}, "LUE",
              Statuses{kOk, kStatusReadFailed, kOk}, kErrorGenFailure, kEraseReplyDelayMs,
              "locked, unprotected, no address, 6 exchanges"},
    FaultCase{"FailedWriteCarriesNothingOut",
              Faults{faultOnCommand(FaultKind::writeFails, CMD_SYSTEM_LOCK)}, "L",
              Statuses{kStatusWriteFailed}, kErrorGenFailure, 0,
              "unlocked, protected, no address, 4 exchanges"},
    FaultCase{"NoAnswerRunsIntoTheReadLimit",
              Faults{faultOnCommand(FaultKind::noAnswer, CMD_SET_ADDRESS)}, "LA",
              Statuses{kOk, kStatusReadFailed}, kErrorTimeout, kReadTimeoutMs,
              "locked, protected, no address, 5 exchanges"},
    // Every later transfer fails as well.
    FaultCase{"UnplugEndsEveryLaterTransfer", Faults{faultOnExchange(FaultKind::unplug, 5)}, "LUE",
              Statuses{kOk, kStatusWriteFailed, kStatusWriteFailed}, kErrorDeviceNotConnected, 0,
              "locked, protected, no address, 5 exchanges"},
};

class FaultTest : public EmulatorTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultTest, HitsItsExchangesAlone) {
    const FaultCase& row = GetParam();
    EmulatedUnit& unit = open();
    for (const Fault& fault : row.faults) unit.addFault(fault);
    const std::uint64_t start = clock.nowMs();
    Statuses gave;
    for (const char* step = row.steps; *step != 0; ++step) {
        gave.push_back(playEach(link, std::string(1, *step).c_str()).front());
        // A failed transfer leaves the system's error at once.
        if (gave.back() < 0) {
            EXPECT_EQ(bus.lastError(), row.lastError) << "after " << *step;
        }
    }
    EXPECT_EQ(gave, row.gave);
    EXPECT_EQ(bus.lastError(), row.lastError);
    EXPECT_EQ(clock.nowMs() - start, row.ms);
    EXPECT_EQ(holdings(unit), row.holds);
    if (row.lastLine != nullptr) {
        EXPECT_EQ(bus.trace().back().substr(0, std::strlen(row.lastLine)), row.lastLine);
    }
    // Only an unplugged unit leaves the bus and is not found again.
    const bool unplugs = row.faults.front().kind == FaultKind::unplug;
    EXPECT_EQ(unit.unplugged(), unplugs);
    EXPECT_EQ(bus.present(bus.pathAt(0)), !unplugs);
    closeLink(link);
    EXPECT_EQ(openLink(link), unplugs ? kStatusNoUnit : kStatusOk);
    EXPECT_EQ(bus.openHandleCount(), unplugs ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FaultTest, ::testing::ValuesIn(kFaultCases),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(EmulatorTest, UnitComesBackAtItsReplugTimeWhetherOrNotTheChangesWereTaken) {
    EmulatedUnit& unit = open();
    Fault unplug = faultOnCommand(FaultKind::unplug, CMD_SYSTEM_LOCK, 2);
    unplug.replugAfterMs = 100;
    unit.addFault(unplug);
    ASSERT_EQ(setSystemLock(link, true), kStatusOk);
    EXPECT_EQ(setSystemLock(link, false), kStatusWriteFailed);
    closeLink(link);

    clock.advance(99);
    EXPECT_EQ(openLink(link), kStatusNoUnit);
    clock.advance(1);
    EXPECT_EQ(openLink(link), kStatusOk);
    EXPECT_FALSE(unit.systemLocked());
    EXPECT_FALSE(unit.replugAtMs().has_value());
    // The bus still tells of both changes, in order.
    const std::vector<PresenceChange> changes = bus.takePresenceChanges();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_FALSE(changes[0].arrived);
    EXPECT_TRUE(changes[1].arrived);
    EXPECT_EQ(changes[1].path, bus.pathAt(0));
}

TEST_F(EmulatorTest, ReplugPowersTheUnitUpButKeepsTheFlash) {
    EmulatedUnit& unit = open();
    prepare();
    const std::uint8_t block[8] = {0xAA, 0xBB, 0xCC, 0xDD, 0x34, 0x12, 0, 0};
    ASSERT_EQ(writeBlock(link, block, 2), kStatusOk);

    bus.unplug(bus.pathAt(0));
    EXPECT_EQ(setSystemLock(link, false), kStatusWriteFailed);
    bus.plug(bus.pathAt(0));
    // The old handle stays dead; a new open finds the unit powered up afresh.
    EXPECT_EQ(setSystemLock(link, false), kStatusWriteFailed);
    EXPECT_EQ(openLink(link), kStatusOk);
    EXPECT_FALSE(unit.systemLocked());
    EXPECT_TRUE(unit.writeProtected());
    EXPECT_EQ(link.escFirmwareVersion(), 0x1234);
    EXPECT_EQ(bus.openHandleCount(), 1u);
}

// --- Trace ------------------------------------------------------------------

TEST_F(EmulatorTest, TraceHasEveryReportInOrder) {
    open();
    ASSERT_EQ(bus.trace().size(), 6u);
    EXPECT_EQ(bus.trace()[0], "0 " + test::traceEntry('>', {0x01, 0x08}));
    EXPECT_EQ(bus.trace()[1], "0 " + test::traceEntry('<', {0x02, 0x00, 0x00, 0x00, 0x03, 0x00,
                                                            0x00, 0x00, 0x05, 0x01}));
    bus.clearTrace();

    ASSERT_EQ(setSystemLock(link, true), kStatusOk);
    ASSERT_EQ(bus.trace().size(), 2u);
    EXPECT_EQ(bus.trace()[0].substr(0, 16), "0 > 01 0b 01 01 ");
    EXPECT_EQ(bus.trace()[0], "0 " + test::traceEntry('>', {0x01, 0x0B, 0x01, 0x01}));
    EXPECT_EQ(bus.trace()[1], "0 " + test::traceEntry('<', {0x02, 0x00, 0x00, 0x01}));

    bus.clearTrace();
    const std::uint8_t block[32] = {};
    writeBlock(link, block, 8);
    EXPECT_EQ(bus.trace()[0].substr(0, 16), "0 > 01 1b 20 00 ");
    EXPECT_EQ(bus.trace()[0].substr(bus.trace()[0].size() - 3), " ff");
}

TEST_F(EmulatorTest, TraceMarksFailedTransfersWithTheirTimeAndTheBytesOfAWrite) {
    UnitConfig config;
    config.inputReportLength = 44;
    config.outputReportLength = 52;
    EmulatedUnit& unit = open(config);
    EXPECT_EQ(bus.trace()[0], "0 " + test::traceEntry('>', {0x01, 0x08}, 52));
    EXPECT_EQ(bus.trace()[1].size(), 2u + 1u + 3u * 44u);
    bus.clearTrace();

    clock.advance(1500);
    unit.addFault(faultOnCommand(FaultKind::writeFails, CMD_SYSTEM_LOCK));
    unit.addFault(faultOnCommand(FaultKind::noAnswer, CMD_WRITE_PROTECTION));
    setSystemLock(link, true);
    setWriteProtection(link, false);
    ASSERT_EQ(bus.trace().size(), 3u);
    EXPECT_EQ(bus.trace()[0], "1500 ! write failed, last error 31: " +
                                  test::traceEntry('>', {0x01, 0x0B, 0x01, 0x01}, 52).substr(2));
    EXPECT_EQ(bus.trace()[1].substr(0, 19), "1500 > 01 20 01 00 ");
    // A line carries the time its transfer ended: here after the read's time limit.
    EXPECT_EQ(bus.trace()[2],
              std::to_string(1500 + kReadTimeoutMs) + " ! read timed out, last error 1460");
}

TEST_F(EmulatorTest, TraceFileReceivesTheSameLines) {
    const std::string fileName =
        ::testing::TempDir() + "emulator_trace_" + std::to_string(::getpid()) + ".txt";
    std::remove(fileName.c_str());
    ASSERT_TRUE(bus.setTraceFile(fileName));
    open();
    setSystemLock(link, true);

    std::ifstream file(fileName);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    EXPECT_EQ(lines, bus.trace());
    EXPECT_EQ(lines.size(), 8u);
    std::remove(fileName.c_str());
}

}  // namespace
}  // namespace orvanta
