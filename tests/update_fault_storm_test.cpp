// Many full updates against the emulated unit, each with one fault of a random kind
// at a random exchange. Every run must end either in success with the ESC's flash
// equal to the image, or in the failure report of the step that failed with nothing
// sent after it. A success while any block went unacknowledged must never happen.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "emulator/emulated_bus.h"
#include "tests/fake_surface.h"
#include "update/update.h"

namespace orvanta {
namespace {

using test::ShellRig;

// The storm is drawn in shards of their own seeds, so that they run side by side.
constexpr std::uint32_t kStormShards = 4;
constexpr std::uint32_t kStormRuns = 250;  // per shard
constexpr std::uint32_t kStormSeed = 0x0E5C2026;
constexpr std::size_t kImageBytes = 90224;
constexpr std::uint32_t kBlocks = 1880;
// Lock, protection off, erase, address, the blocks, protection on, lock reset.
constexpr std::uint32_t kUpdateExchanges = 4 + kBlocks + 2;

using test::firmwareImage;

// The failure text that names the step carrying this command.
std::uint32_t failureMessageOf(std::uint8_t command) {
    switch (command) {
    case CMD_SYSTEM_LOCK:
        return IDS_SYSTEM_LOCK_FAILED;
    case CMD_WRITE_PROTECTION:
        return IDS_WRITE_PROTECTION_FAILED;
    case CMD_ERASE_FIRMWARE:
        return IDS_ERASE_FAILED;
    case CMD_SET_ADDRESS:
        return IDS_SET_ADDRESS_FAILED;
    case CMD_WRITE_BLOCK:
        return IDS_WRITE_BLOCK_FAILED;
    default:
        return 0;
    }
}

// The trace without its times: "> 01 1b ...", "< 02 00 ...", "! ...".
std::vector<std::string> traceEntries(const std::vector<std::string>& trace) {
    std::vector<std::string> entries;
    for (const std::string& line : trace) {
        TraceLine split;
        entries.push_back(splitTraceLine(line, split) ? split.entry : "? " + line);
    }
    return entries;
}

std::uint8_t byteAt(const std::string& entry, std::size_t index) {
    // "> 01 1b ..." / "< 02 00 ...": byte i starts at 2 + 3 i.
    return static_cast<std::uint8_t>(std::stoul(entry.substr(2 + 3 * index, 2), nullptr, 16));
}

struct StormRun {
    Fault fault;
    std::string description;
    bool hitsFinish = false;  // the fault hits one of the two finishing commands
};

StormRun drawFault(std::mt19937& random, std::uint32_t probeExchanges) {
    static const FaultKind kinds[] = {FaultKind::errorStatus, FaultKind::wrongEcho,
                                      FaultKind::writeFails,  FaultKind::readFails,
                                      FaultKind::noAnswer,    FaultKind::unplug};
    static const char* kindNames[] = {"error status", "wrong echo", "write fails",
                                      "read fails",   "no answer",  "unplug"};
    const std::size_t kind = random() % 6;
    // Device error codes are never 0 here: a reply with code 0 says the command
    // was carried out.
    const std::uint32_t value = kinds[kind] == FaultKind::errorStatus
                                    ? 1 + static_cast<std::uint32_t>(random() % 0xFFFFFFFEu)
                                    : 0;
    StormRun run;
    if (random() % 2 == 0) {
        const std::uint32_t exchange = 1 + static_cast<std::uint32_t>(random() % kUpdateExchanges);
        run.fault = faultOnExchange(kinds[kind], probeExchanges + exchange, value);
        run.hitsFinish = exchange > kUpdateExchanges - 2;
        run.description =
            std::string(kindNames[kind]) + " at update exchange " + std::to_string(exchange);
    } else {
        static const std::uint8_t commands[] = {CMD_SYSTEM_LOCK, CMD_WRITE_PROTECTION,
                                                CMD_ERASE_FIRMWARE, CMD_SET_ADDRESS,
                                                CMD_WRITE_BLOCK};
        const std::uint8_t command = commands[random() % 5];
        const std::uint32_t occurrences =
            command == CMD_WRITE_BLOCK                                        ? kBlocks
            : (command == CMD_SYSTEM_LOCK || command == CMD_WRITE_PROTECTION) ? 2
                                                                              : 1;
        const std::uint32_t occurrence = 1 + static_cast<std::uint32_t>(random() % occurrences);
        run.fault = faultOnCommand(kinds[kind], command, occurrence, value);
        run.hitsFinish = occurrence == 2;
        run.description = std::string(kindNames[kind]) + " on command " + std::to_string(command) +
                          " occurrence " + std::to_string(occurrence);
    }
    return run;
}

// Checks one finished run; returns a description of what is wrong, or "".
std::string judge(ShellRig& rig, EmulatedUnit& unit, std::uint32_t probeExchanges) {
    const std::vector<std::string> trace = traceEntries(rig.bus.trace());
    const std::wstring hint = rig.ui.controlTextOf(IDC_HINT_PANEL);
    const auto boxes =
        rig.ui.callsStartingWith("box " + test::utf8(rig.ui.text(IDS_UPDATE_FAILED_CAPTION)));

    const std::wstring success = rig.ui.text(IDS_UPDATE_SUCCEEDED);
    if (hint.rfind(success, 0) == 0) {
        if (!boxes.empty()) return "success with a failure box";
        // A unit pulled out at a finishing command takes the link with it; the
        // success still stands above what the removal says.
        const bool pulled = !rig.app.link.isOpen();
        if (pulled &&
            hint != success + L"\r\n\r\n" + rig.hintWithInstructions(IDS_CONNECTION_LOST)) {
            return "success with the link closed but no word of the lost connection";
        }
        if (!pulled && hint != success) return "success hint with more than the success";
        // Every block must have been answered without an error status.
        std::uint32_t acknowledged = 0;
        for (std::size_t i = 0; i + 1 < trace.size(); ++i) {
            if (trace[i].rfind("> 01 1b", 0) != 0) continue;
            if (trace[i + 1].rfind("< ", 0) != 0 || byteAt(trace[i + 1], 1) == kStatusError) {
                return "success although block request " + std::to_string(acknowledged + 1) +
                       " was not acknowledged";
            }
            ++acknowledged;
        }
        if (acknowledged != kBlocks) {
            return "success after " + std::to_string(acknowledged) + " acknowledged blocks";
        }
        const std::vector<std::uint8_t>& flash = unit.flash();
        if (!std::equal(firmwareImage().begin(), firmwareImage().end(), flash.begin())) {
            return "success but the flash differs from the image";
        }
        return "";
    }

    if (hint != rig.ui.text(IDS_UPDATE_FAILED_HINT)) return "neither success nor failure hint";
    if (boxes.size() != 1) return "failure without exactly one failure box";
    if (rig.app.link.isOpen()) return "failure with the link left open";
    // The failing step is the last exchange the updater started; nothing after it.
    const std::vector<std::uint8_t>& log = unit.commandLog();
    if (log.size() <= probeExchanges) return "failure before any update command";
    const std::uint32_t expected = failureMessageOf(log.back());
    if (expected == 0) return "failure reported for a finishing command";
    const std::string expectedText = test::utf8(rig.ui.text(expected));
    if (boxes.front().find(" | " + expectedText) == std::string::npos) {
        return "failure box does not name the last step: " + boxes.front().substr(0, 120);
    }
    if (!trace.empty() && trace.back().rfind("> ", 0) == 0) {
        return "a request was sent after the failure";
    }
    return "";
}

class FaultStorm : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(FaultStorm, EveryRunEndsInVerifiedSuccessOrTheReportOfItsFailingStep) {
    ASSERT_EQ(firmwareImage().size(), kImageBytes);
    const std::uint32_t seed = kStormSeed + GetParam();
    std::printf("fault storm: %u runs, seed 0x%08x\n", kStormRuns, seed);
    std::mt19937 random(seed);
    std::map<std::string, std::uint32_t> outcomes;

    for (std::uint32_t run = 0; run < kStormRuns; ++run) {
        ShellRig rig;
        EmulatedUnit& unit = rig.bus.addUnit();
        rig.ui.image = ImageView{firmwareImage().data(), firmwareImage().size()};
        classifyUnit(rig.app, openLink(rig.app.link), ProbeVariant::startUp);
        ASSERT_TRUE(rig.app.link.isOpen());
        const std::uint32_t probeExchanges = unit.exchangeCount();
        rig.clearRecords();

        const StormRun storm = drawFault(random, probeExchanges);
        unit.addFault(storm.fault);
        rig.update();

        const std::string verdict = judge(rig, unit, probeExchanges);
        ASSERT_EQ(verdict, "") << "run " << run << " (" << storm.description << ")";
        const bool succeeded =
            rig.ui.controlTextOf(IDC_HINT_PANEL).rfind(rig.ui.text(IDS_UPDATE_SUCCEEDED), 0) == 0;
        ++outcomes[succeeded ? "success" : "failure"];
        // Faults that stop the unit from working (not a mere odd reply) must end the run
        // at the exchange they hit, unless that exchange is a finishing command.
        const bool hard =
            storm.fault.kind == FaultKind::writeFails || storm.fault.kind == FaultKind::readFails ||
            storm.fault.kind == FaultKind::noAnswer || storm.fault.kind == FaultKind::unplug;
        if (hard && !storm.hitsFinish) {
            ASSERT_FALSE(succeeded) << "run " << run << " (" << storm.description << ")";
        }
    }
    std::printf("fault storm: %u successes, %u failures reported\n", outcomes["success"],
                outcomes["failure"]);
    // The draw covers both outcomes; a storm that only ever fails checks nothing.
    EXPECT_GT(outcomes["success"], 0u);
    EXPECT_GT(outcomes["failure"], kStormRuns / 2);
}

INSTANTIATE_TEST_SUITE_P(Shard, FaultStorm, ::testing::Range(0u, kStormShards));

}  // namespace
}  // namespace orvanta
