// The virtual unit's host: what the driver is told to do with each output report
// under each kind of scenario fault, and a unit that comes back after vanishing.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/fake_clock.h"
#include "emulator/scenario.h"
#include "link/unit_link.h"
#include "virtual-unit/host/unit_session.h"

namespace orvanta {
namespace {

std::vector<std::uint8_t> identifyRequest() {
    std::vector<std::uint8_t> request(60, 0);
    request[0] = 0x01;
    request[1] = CMD_IDENTIFY;
    return request;
}

Scenario scenarioFrom(const std::string& text) {
    Scenario scenario;
    std::string error;
    EXPECT_TRUE(parseScenario(text, scenario, error)) << error;
    return scenario;
}

struct FaultCase {
    const char* name;
    const char* scenario;
    std::int32_t writeStatus;
    bool vanished;
    bool replied;
    std::uint32_t delayMs;
    const char* lastTrace;  // how the trace's last line starts
};

TEST(VirtualUnitSession, EachFaultBecomesWhatTheDriverMustDo) {
    const FaultCase cases[] = {
        {"answered after the latency", "reply_latency_ms = 7", kWriteStatusDone, false, true, 7,
         "< 02 "},
        {"never answered", "fault = no_answer exchange=1", kWriteStatusDone, false, false, 0,
         "! read timed out, last error 1460"},
        {"reply lost", "fault = read_fails exchange=1", kWriteStatusDone, false, false, 0,
         "! read failed, last error 31"},
        {"write refused", "fault = write_fails exchange=1", kWriteStatusUnsuccessful, false, false,
         0, "! write failed, last error 31"},
        {"unit vanishes", "fault = unplug exchange=1", kWriteStatusNotConnected, true, false, 0,
         "! write failed, last error 1167"},
        {"write hangs", "fault = write_hangs exchange=1", kWriteStatusDone, false, false, 0,
         "! write timed out, last error 1460"},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock clock;
        UnitSession session(scenarioFrom(c.scenario), clock);
        const std::vector<std::uint8_t> request = identifyRequest();
        const RequestOutcome outcome = session.handleRequest(request.data(), request.size());
        EXPECT_EQ(outcome.writeStatus, c.writeStatus);
        EXPECT_EQ(outcome.unitVanished, c.vanished);
        EXPECT_EQ(session.present(), !c.vanished);
        ASSERT_EQ(outcome.reply.empty(), !c.replied);
        if (c.replied) {
            EXPECT_EQ(outcome.reply.size(), 60u);
            EXPECT_EQ(outcome.reply[0], 0x02);
        }
        EXPECT_EQ(outcome.replyDelayMs, c.delayMs);
        EXPECT_EQ(outcome.writeNeverEnds, c.name == std::string("write hangs"));
        ASSERT_FALSE(session.trace().empty());
        TraceLine last;
        ASSERT_TRUE(splitTraceLine(session.trace().back(), last)) << session.trace().back();
        EXPECT_EQ(last.entry.rfind(c.lastTrace, 0), 0u) << session.trace().back();
    }
}

TEST(VirtualUnitSession, AVanishedUnitAnswersAgainOncePluggedIn) {
    FakeClock clock;
    UnitSession session(scenarioFrom("fault = unplug exchange=2"), clock);
    const std::vector<std::uint8_t> request = identifyRequest();
    EXPECT_FALSE(session.handleRequest(request.data(), request.size()).reply.empty());
    EXPECT_TRUE(session.handleRequest(request.data(), request.size()).unitVanished);

    // Whatever reaches a pulled unit fails as on a pulled cable.
    const RequestOutcome whilePulled = session.handleRequest(request.data(), request.size());
    EXPECT_EQ(whilePulled.writeStatus, kWriteStatusNotConnected);
    EXPECT_TRUE(whilePulled.reply.empty());

    session.plug();
    EXPECT_TRUE(session.present());
    const RequestOutcome afterPlug = session.handleRequest(request.data(), request.size());
    EXPECT_EQ(afterPlug.writeStatus, kWriteStatusDone);
    EXPECT_FALSE(afterPlug.reply.empty());

    session.unplug();
    EXPECT_TRUE(session.handleRequest(request.data(), request.size()).unitVanished);
}

// The units the program looks for, as vendor and product ids.
std::set<std::pair<unsigned, unsigned>> programsUnits() {
    std::set<std::pair<unsigned, unsigned>> units;
    for (const UnitProduct& unit : kUnitProducts) units.insert({UNIT_VENDOR_ID, unit.productId});
    return units;
}

// The files outside the program that name the units: the drivers' INF installs for
// exactly them, and the udev rule opens exactly their hidraw nodes.
struct UnitList {
    const char* file;
    const char* from;    // where an entry starts on a line
    const char* format;  // reads the vendor id, then the product id, in hex
};

TEST(UnitLists, NameExactlyTheProgramsUnits) {
    const UnitList lists[] = {
        {"virtual-unit/orvanta-virtual-unit.inf", "USB\\VID_", "USB\\VID_%4x&PID_%4x"},
        {"tools/linux/70-orvanta-unit.rules", "ATTRS{idVendor}",
         "ATTRS{idVendor}==\"%4x\", ATTRS{idProduct}==\"%4x\""},
    };
    for (const UnitList& list : lists) {
        std::ifstream in(std::string(ORVANTA_SOURCE_DIR "/") + list.file);
        ASSERT_TRUE(in.is_open()) << list.file;
        std::set<std::pair<unsigned, unsigned>> named;
        for (std::string line; std::getline(in, line);) {
            const std::size_t at = line.find(list.from);
            unsigned vendor = 0;
            unsigned product = 0;
            if (at != std::string::npos && line[0] != '#' &&
                std::sscanf(line.c_str() + at, list.format, &vendor, &product) == 2) {
                named.insert({vendor, product});
            }
        }
        EXPECT_EQ(named, programsUnits()) << list.file;
    }
    // The host's device announces a USB name of its own for each of them.
    std::set<std::pair<unsigned, unsigned>> named;
    for (const UnitUsbName& unit : kUnitUsbNames) named.insert({UNIT_VENDOR_ID, unit.productId});
    EXPECT_EQ(named, programsUnits()) << "the virtual unit host's names";
}

}  // namespace
}  // namespace orvanta
