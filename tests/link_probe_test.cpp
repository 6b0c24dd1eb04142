// The identification probe against the emulated unit: every path through it, what
// each early return leaves stored, and the time limits of its reads.
#include <gtest/gtest.h>

#include "tests/fake_clock.h"
#include "emulator/emulated_bus.h"
#include "link/unit_link.h"

namespace orvanta {
namespace {

class ProbeTest : public ::testing::Test {
protected:
    ProbeTest() : bus(clock), link(bus, clock) {}

    EmulatedUnit& addUnit() {
        UnitConfig config;
        config.unitFirmwareVersion = 0x00010500;
        config.unitReserved = 0xCAFEF00D;
        config.identifyReserved = 0x5A5A;
        config.bootloaderVersion = 0x00000203;
        config.escInfo[0] = 0x77;
        return bus.addUnit(config);
    }

    bool identifyFieldsStored() const {
        return link.escState == 3 && link.identifyReserved == 0x5A5A &&
               link.unitFirmwareVersion == 0x00010500 && link.unitReserved == 0xCAFEF00D;
    }
    bool escInfoEmpty() const { return link.escInfo == decltype(link.escInfo){}; }
    bool bootloaderInfoEmpty() const {
        return link.bootloaderInfo == decltype(link.bootloaderInfo){};
    }

    FakeClock clock;
    EmulatedBus bus;
    UnitLink link;
};

TEST_F(ProbeTest, ReadyEscFillsEveryField) {
    EmulatedUnit& unit = addUnit();
    EXPECT_EQ(openLink(link), kStatusOk);
    EXPECT_TRUE(identifyFieldsStored());
    EXPECT_EQ(link.unitMode, 0);
    EXPECT_EQ(link.escInfo[0], 0x77);
    EXPECT_EQ(link.escFirmwareVersion(), 0x0009);
    EXPECT_EQ(link.escTypeCode(), 0x110FA0D2u);
    EXPECT_EQ(link.bootloaderVersion(), 0x00000203u);
    EXPECT_EQ(unit.commandLog(), (std::vector<std::uint8_t>{CMD_IDENTIFY, CMD_READ_ESC_INFO,
                                                            CMD_READ_BOOTLOADER_INFO}));
    // No pause stands between the probe's requests.
    EXPECT_EQ(clock.nowMs(), 0u);
}

TEST_F(ProbeTest, WrongModeReadsMemoryAndNoEscFields) {
    EmulatedUnit& unit = addUnit();
    unit.config().unitMode = 1;
    unit.config().modeInfo = {0x11, 0x2222, 0x33333333, 0x44444444, 0x55};

    EXPECT_EQ(openLink(link), kStatusOk);
    EXPECT_EQ(link.unitMode, 1);
    EXPECT_EQ(link.unitModeInfo.second, 0x2222);
    EXPECT_EQ(link.unitModeInfo.fifth, 0x55);
    EXPECT_EQ(link.unitFirmwareVersion, 0x00010500u);
    EXPECT_EQ(link.unitReserved, 0xCAFEF00Du);
    EXPECT_EQ(link.escState, 0);
    EXPECT_TRUE(escInfoEmpty());
    EXPECT_TRUE(bootloaderInfoEmpty());
    EXPECT_EQ(unit.commandLog(), (std::vector<std::uint8_t>{CMD_IDENTIFY, CMD_READ_MEMORY}));
}

class EscStateTest : public ProbeTest, public ::testing::WithParamInterface<std::uint16_t> {};

TEST_P(EscStateTest, OnlyStateThreeLeadsToTheEscReads) {
    EmulatedUnit& unit = addUnit();
    unit.config().escState = GetParam();

    EXPECT_EQ(openLink(link), kStatusOk);
    EXPECT_EQ(link.escState, GetParam());
    EXPECT_EQ(link.unitFirmwareVersion, 0x00010500u);
    EXPECT_EQ(link.escFirmwareVersion(), 0);
    EXPECT_EQ(link.escTypeCode(), 0u);
    EXPECT_EQ(link.bootloaderVersion(), 0u);
    EXPECT_EQ(unit.exchangeCount(), 1u);
}

// 259 is 0x0103: the low byte alone would read as 3.
INSTANTIATE_TEST_SUITE_P(States, EscStateTest, ::testing::Values(0, 1, 2, 4, 259, 0xFFFF));

TEST_F(ProbeTest, EscInfoErrorWithCodeZeroGoesOnWithoutData) {
    EmulatedUnit& unit = addUnit();
    // Only bytes 4-5 count: a code with nonzero upper bytes still reads as 0.
    unit.addFault(faultOnCommand(FaultKind::errorStatus, CMD_READ_ESC_INFO, 1, 0xABCD0000));

    EXPECT_EQ(openLink(link), kStatusOk);
    EXPECT_TRUE(escInfoEmpty());
    EXPECT_EQ(link.escFirmwareVersion(), 0);
    EXPECT_EQ(link.escTypeCode(), 0x110FA0D2u);
    EXPECT_EQ(unit.commandCount(CMD_READ_BOOTLOADER_INFO), 1u);
}

TEST_F(ProbeTest, BootloaderInfoErrorWithCodeZeroSucceedsWithoutData) {
    EmulatedUnit& unit = addUnit();
    unit.addFault(faultOnCommand(FaultKind::errorStatus, CMD_READ_BOOTLOADER_INFO, 1, 0));

    EXPECT_EQ(openLink(link), kStatusOk);
    EXPECT_EQ(link.escFirmwareVersion(), 0x0009);
    EXPECT_EQ(link.escTypeCode(), 0u);
    EXPECT_EQ(link.bootloaderVersion(), 0u);
}

TEST_F(ProbeTest, NoFirmwareInstalledReadsAsFFFF) {
    EmulatedUnit& unit = addUnit();
    unit.config().escFirmwareVersion = 0xFFFF;
    EXPECT_EQ(openLink(link), kStatusOk);
    EXPECT_EQ(link.escFirmwareVersion(), 0xFFFF);
}

// Every early return of the probe and what it leaves in the record.
enum class Stored { lengths, modeInfo, identify, identifyAndEscInfo };

struct FailureRow {
    const char* name;
    bool wrongMode;
    Fault fault;
    LinkStatus expected;
    Stored stored;
};

class ProbeFailureTest : public ProbeTest, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(ProbeFailureTest, ReturnsTheStatusAndKeepsWhatCameBefore) {
    const FailureRow& row = GetParam();
    EmulatedUnit& unit = addUnit();
    if (row.wrongMode) {
        unit.config().unitMode = 4;
        unit.config().modeInfo.first = 0x99;
    }
    unit.addFault(row.fault);

    EXPECT_EQ(openLink(link), row.expected);
    EXPECT_TRUE(link.isOpen());
    EXPECT_EQ(link.outputReportLength, 60u);
    EXPECT_EQ(link.inputReportLength, 60u);
    switch (row.stored) {
    case Stored::lengths:
        EXPECT_EQ(link.unitMode, 0);
        EXPECT_EQ(link.escState, 0);
        EXPECT_EQ(link.unitFirmwareVersion, 0u);
        break;
    case Stored::modeInfo:
        EXPECT_EQ(link.unitMode, 4);
        EXPECT_EQ(link.unitModeInfo.first, 0x99);
        EXPECT_EQ(link.unitFirmwareVersion, 0u);
        EXPECT_EQ(link.unitReserved, 0u);
        break;
    case Stored::identify:
        EXPECT_TRUE(identifyFieldsStored());
        EXPECT_TRUE(escInfoEmpty());
        EXPECT_TRUE(bootloaderInfoEmpty());
        break;
    case Stored::identifyAndEscInfo:
        EXPECT_TRUE(identifyFieldsStored());
        EXPECT_EQ(link.escFirmwareVersion(), 0x0009);
        EXPECT_TRUE(bootloaderInfoEmpty());
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProbeFailureTest,
    ::testing::Values(
        FailureRow{"IdentifyWrite", false, faultOnCommand(FaultKind::writeFails, CMD_IDENTIFY),
                   kStatusWriteFailed, Stored::lengths},
        FailureRow{"IdentifyRead", false, faultOnCommand(FaultKind::readFails, CMD_IDENTIFY),
                   kStatusReadFailed, Stored::lengths},
        FailureRow{"MemoryWrite", true, faultOnCommand(FaultKind::writeFails, CMD_READ_MEMORY),
                   kStatusWriteFailed, Stored::modeInfo},
        FailureRow{"MemoryRead", true, faultOnCommand(FaultKind::noAnswer, CMD_READ_MEMORY),
                   kStatusReadFailed, Stored::modeInfo},
        FailureRow{"EscInfoWrite", false, faultOnExchange(FaultKind::writeFails, 2),
                   kStatusWriteFailed, Stored::identify},
        FailureRow{"EscInfoRead", false, faultOnExchange(FaultKind::readFails, 2),
                   kStatusReadFailed, Stored::identify},
        FailureRow{"EscInfoCode", false,
                   faultOnCommand(FaultKind::errorStatus, CMD_READ_ESC_INFO, 1, 0x0000E007), 0xE007,
                   Stored::identify},
        FailureRow{"BootloaderWrite", false,
                   faultOnCommand(FaultKind::writeFails, CMD_READ_BOOTLOADER_INFO),
                   kStatusWriteFailed, Stored::identifyAndEscInfo},
        FailureRow{"BootloaderRead", false,
                   faultOnCommand(FaultKind::readFails, CMD_READ_BOOTLOADER_INFO),
                   kStatusReadFailed, Stored::identifyAndEscInfo},
        FailureRow{"BootloaderCode", false,
                   faultOnCommand(FaultKind::errorStatus, CMD_READ_BOOTLOADER_INFO, 1, 0x1234E00A),
                   0xE00A, Stored::identifyAndEscInfo}),
    [](const ::testing::TestParamInfo<FailureRow>& info) { return std::string(info.param.name); });

TEST_F(ProbeTest, WithoutHandleOrPathNothingIsAsked) {
    EmulatedUnit& unit = addUnit();
    EXPECT_EQ(probeUnit(link), kStatusNoLink);

    link.handle = bus.open(bus.pathAt(0), HidAccess::talk);
    EXPECT_EQ(probeUnit(link), kStatusNoLink);  // no path
    EXPECT_EQ(link.outputReportLength, 0u);
    EXPECT_EQ(unit.exchangeCount(), 0u);
    bus.close(link.handle);
}

// A unit that never answers costs one read limit and reads as a read failure.
TEST_F(ProbeTest, SilentUnitTimesOutAfterTheReadLimit) {
    EmulatedUnit& unit = addUnit();
    unit.addFault(faultOnCommand(FaultKind::noAnswer, CMD_IDENTIFY));

    EXPECT_EQ(openLink(link), kStatusReadFailed);
    EXPECT_EQ(bus.lastError(), kErrorTimeout);
    EXPECT_EQ(clock.nowMs(), kReadTimeoutMs);
}

TEST_F(ProbeTest, SlowUnitWithinTheLimitIsWaitedFor) {
    EmulatedUnit& unit = addUnit();
    unit.config().replyLatencyMs = 250;
    EXPECT_EQ(openLink(link), kStatusOk);
    EXPECT_EQ(clock.nowMs(), 3u * 250u);

    unit.config().replyLatencyMs = kReadTimeoutMs + 1;
    EXPECT_EQ(openLink(link), kStatusReadFailed);
    EXPECT_EQ(bus.lastError(), kErrorTimeout);
}

TEST_F(ProbeTest, EraseReplyIsGivenTheLongLimit) {
    EmulatedUnit& unit = addUnit();
    ASSERT_EQ(openLink(link), kStatusOk);
    ASSERT_EQ(setSystemLock(link, true), kStatusOk);
    ASSERT_EQ(setWriteProtection(link, false), kStatusOk);

    // Half a minute is far beyond an ordinary read but within the erase's limit.
    unit.config().eraseDurationMs = 30000;
    std::uint64_t start = clock.nowMs();
    EXPECT_EQ(eraseFirmware(link), kStatusOk);
    EXPECT_EQ(clock.nowMs() - start, 30000u);

    unit.config().eraseDurationMs = 70000;
    start = clock.nowMs();
    EXPECT_EQ(eraseFirmware(link), kStatusReadFailed);
    EXPECT_EQ(bus.lastError(), kErrorTimeout);
    EXPECT_EQ(clock.nowMs() - start, kEraseReplyDelayMs + kEraseReadTimeoutMs);
}

TEST_F(ProbeTest, UnplugDuringTheProbeFailsEveryLaterCommand) {
    EmulatedUnit& unit = addUnit();
    unit.addFault(faultOnCommand(FaultKind::unplug, CMD_READ_ESC_INFO));

    EXPECT_EQ(openLink(link), kStatusWriteFailed);
    EXPECT_EQ(bus.lastError(), kErrorDeviceNotConnected);
    EXPECT_TRUE(link.isOpen());
    EXPECT_EQ(setSystemLock(link, true), kStatusWriteFailed);
    EXPECT_EQ(bus.lastError(), kErrorDeviceNotConnected);

    // Gone from the list as well; after re-plugging a fresh open finds it again.
    EXPECT_EQ(openLink(link), kStatusNoUnit);
    bus.plug(bus.pathAt(0));
    unit.clearFaults();
    EXPECT_EQ(openLink(link), kStatusOk);
}

}  // namespace
}  // namespace orvanta
