// Discovery of the programming unit among the HID interfaces, the record's closed
// state, and the capability step that refuses report lengths the link cannot carry.
#include <gtest/gtest.h>

#include "tests/fake_clock.h"
#include "emulator/emulated_bus.h"
#include "link/unit_link.h"

namespace orvanta {
namespace {

class DiscoveryTest : public ::testing::Test {
protected:
    DiscoveryTest() : bus(clock), link(bus, clock) {}

    void expectClosed() const {
        EXPECT_FALSE(link.isOpen());
        EXPECT_EQ(link.handle, kInvalidHidHandle);
        EXPECT_TRUE(link.devicePath.empty());
        EXPECT_EQ(link.outputReportLength, 0u);
        EXPECT_EQ(link.inputReportLength, 0u);
        EXPECT_EQ(link.unitMode, 0);
        EXPECT_EQ(link.unitFirmwareVersion, 0u);
        EXPECT_EQ(link.escState, 0);
        EXPECT_EQ(link.escFirmwareVersion(), 0);
        EXPECT_EQ(link.escTypeCode(), 0u);
        EXPECT_EQ(link.bootloaderVersion(), 0u);
        EXPECT_EQ(link.productId, 0);
    }

    FakeClock clock;
    EmulatedBus bus;
    UnitLink link;
};

TEST_F(DiscoveryTest, NoUnitGivesMinusFourAndAClosedRecord) {
    bus.addOtherDevice(0x046D, 0xC52B);
    bus.addOtherDevice(0x1234, 0x0002);

    EXPECT_EQ(openLink(link), kStatusNoUnit);
    expectClosed();
    EXPECT_EQ(bus.openHandleCount(), 0u);
    EXPECT_FALSE(bus.enumerationActive());
    EXPECT_EQ(bus.strayCloseCount(), 0u);
}

TEST_F(DiscoveryTest, EmptyBusGivesMinusFour) {
    EXPECT_EQ(openLink(link), kStatusNoUnit);
    expectClosed();
    EXPECT_FALSE(bus.enumerationActive());
}

TEST_F(DiscoveryTest, UnavailableListGivesMinusOneAndTouchesNothing) {
    bus.addUnit();
    bus.setEnumerationFails(true);

    EXPECT_EQ(openLink(link), kStatusNoLink);
    expectClosed();
    EXPECT_EQ(bus.openCount(bus.pathAt(0)), 0u);
    EXPECT_FALSE(bus.enumerationActive());
}

TEST_F(DiscoveryTest, FindsTheUnitAndProbesIt) {
    bus.addOtherDevice(0x046D, 0xC52B);
    UnitConfig config;
    config.productId = PRODUCT_ID_TUNEPAD;
    bus.addUnit(config);

    EXPECT_EQ(openLink(link), kStatusOk);
    EXPECT_TRUE(link.isOpen());
    EXPECT_EQ(link.devicePath, bus.pathAt(1));
    EXPECT_EQ(link.productId, PRODUCT_ID_TUNEPAD);
    EXPECT_EQ(link.outputReportLength, 60u);
    EXPECT_EQ(link.inputReportLength, 60u);
    EXPECT_EQ(link.escFirmwareVersion(), 0x0009);
    EXPECT_EQ(link.escTypeCode(), 0x110FA0D2u);
    // Only the unit's handle is left open; the list is released.
    EXPECT_EQ(bus.openHandleCount(), 1u);
    EXPECT_FALSE(bus.enumerationActive());

    closeLink(link);
    expectClosed();
    EXPECT_EQ(bus.openHandleCount(), 0u);
    EXPECT_EQ(bus.strayCloseCount(), 0u);
}

TEST_F(DiscoveryTest, FirstOfTwoUnitsWinsAndTheSecondIsNeverOpened) {
    EmulatedUnit& first = bus.addUnit();
    EmulatedUnit& second = bus.addUnit();

    EXPECT_EQ(openLink(link), kStatusOk);
    EXPECT_EQ(link.devicePath, bus.pathAt(0));
    EXPECT_EQ(bus.openCount(bus.pathAt(1)), 0u);
    EXPECT_EQ(first.exchangeCount(), 3u);
    EXPECT_EQ(second.exchangeCount(), 0u);
}

// Ids are read on handles that ask for no access; only the unit is opened for talking.
// One that another program holds is tried a few times, then passed by for a free one,
// and without one it is reported as busy rather than as missing.
TEST_F(DiscoveryTest, OnlyTheUnitIsOpenedForTalkingAndAHeldOneIsReportedBusy) {
    bus.addOtherDevice(0x046D, 0xC52B);
    UnitConfig held;
    held.heldByOtherProgram = true;
    bus.addUnit(held);

    EXPECT_EQ(openLink(link), kStatusUnitBusy);
    expectClosed();
    EXPECT_EQ(bus.openCount(bus.pathAt(0)), 1u);
    EXPECT_EQ(bus.talkOpenCount(bus.pathAt(0)), 0u);
    EXPECT_EQ(bus.talkOpenCount(bus.pathAt(1)), 0u);
    EXPECT_EQ(clock.sleptMs(), (kBusyOpenAttempts - 1) * kBusyRetryIntervalMs);
    EXPECT_EQ(bus.openHandleCount(), 0u);

    bus.addUnit();
    EXPECT_EQ(openLink(link), kStatusOk);
    EXPECT_EQ(link.devicePath, bus.pathAt(2));
    EXPECT_EQ(bus.talkOpenCount(bus.pathAt(2)), 1u);
    EXPECT_EQ(bus.openHandleCount(), 1u);

    // While the link holds that unit, a second discovery cannot take it over.
    UnitLink second(bus, clock);
    EXPECT_EQ(openLink(second), kStatusUnitBusy);
    EXPECT_FALSE(second.isOpen());
}

// Interfaces that are not the unit, or cannot be looked at, are passed by and
// every handle opened on the way is closed again.
struct SkipCase {
    const char* name;
    void (*spoil)(EmulatedBus& bus, const std::wstring& path);
};

class DiscoverySkipTest : public DiscoveryTest, public ::testing::WithParamInterface<SkipCase> {};

TEST_P(DiscoverySkipTest, SkipsTheInterfaceAndClosesItsHandle) {
    UnitConfig spoiled;
    spoiled.productId = PRODUCT_ID_TUNEPAD;
    bus.addUnit(spoiled);
    bus.addUnit();
    GetParam().spoil(bus, bus.pathAt(0));

    EXPECT_EQ(openLink(link), kStatusOk);
    EXPECT_EQ(link.devicePath, bus.pathAt(1));
    EXPECT_EQ(link.productId, PRODUCT_ID_TUNEBOX);
    EXPECT_EQ(bus.openHandleCount(), 1u);
    EXPECT_EQ(bus.strayCloseCount(), 0u);
    EXPECT_FALSE(bus.enumerationActive());
    EXPECT_EQ(bus.unitAt(bus.pathAt(0))->exchangeCount(), 0u);
}

TEST_P(DiscoverySkipTest, OnlySpoiledInterfacesGiveMinusFour) {
    bus.addUnit();
    GetParam().spoil(bus, bus.pathAt(0));

    EXPECT_EQ(openLink(link), kStatusNoUnit);
    expectClosed();
    EXPECT_EQ(bus.openHandleCount(), 0u);
    EXPECT_FALSE(bus.enumerationActive());
}

INSTANTIATE_TEST_SUITE_P(Interfaces, DiscoverySkipTest,
                         ::testing::Values(SkipCase{"DetailFails",
                                                    [](EmulatedBus& b, const std::wstring& p) {
                                                        b.failures(p).detailFails = true;
                                                    }},
                                           SkipCase{"OpenFails",
                                                    [](EmulatedBus& b, const std::wstring& p) {
                                                        b.failures(p).openFails = true;
                                                    }},
                                           SkipCase{"AttributesFail",
                                                    [](EmulatedBus& b, const std::wstring& p) {
                                                        b.failures(p).attributesFail = true;
                                                    }}),
                         [](const ::testing::TestParamInfo<SkipCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(DiscoveryTest, ProductIdThreeAndForeignVendorArePassedBy) {
    UnitConfig three;
    three.productId = 3;
    bus.addUnit(three);
    UnitConfig foreign;
    foreign.vendorId = 0x1234;
    bus.addUnit(foreign);
    bus.addUnit();

    EXPECT_EQ(openLink(link), kStatusOk);
    EXPECT_EQ(link.devicePath, bus.pathAt(2));
    EXPECT_EQ(bus.openCount(bus.pathAt(0)), 1u);
    EXPECT_EQ(bus.openCount(bus.pathAt(1)), 1u);
    EXPECT_EQ(bus.openHandleCount(), 1u);
    EXPECT_EQ(bus.unitAt(bus.pathAt(0))->exchangeCount(), 0u);
}

TEST_F(DiscoveryTest, OpenLinkOnAnOpenLinkClosesItFirst) {
    bus.addUnit();
    ASSERT_EQ(openLink(link), kStatusOk);
    const HidHandle first = link.handle;

    EXPECT_EQ(openLink(link), kStatusOk);
    EXPECT_NE(link.handle, first);
    EXPECT_EQ(bus.openHandleCount(), 1u);

    bus.unplug(bus.pathAt(0));
    EXPECT_EQ(openLink(link), kStatusNoUnit);
    expectClosed();
    EXPECT_EQ(bus.openHandleCount(), 0u);
    EXPECT_EQ(bus.strayCloseCount(), 0u);
}

TEST_F(DiscoveryTest, CloseLinkOnAClosedLinkDoesNothing) {
    closeLink(link);
    closeLink(link);
    expectClosed();
    EXPECT_EQ(bus.strayCloseCount(), 0u);
}

TEST_F(DiscoveryTest, FailedProbeLeavesTheLinkOpen) {
    EmulatedUnit& unit = bus.addUnit();
    unit.addFault(faultOnCommand(FaultKind::readFails, CMD_IDENTIFY));

    EXPECT_EQ(openLink(link), kStatusReadFailed);
    EXPECT_TRUE(link.isOpen());
    EXPECT_EQ(link.devicePath, bus.pathAt(0));
    EXPECT_EQ(link.productId, PRODUCT_ID_TUNEBOX);
    EXPECT_EQ(link.outputReportLength, 60u);
    EXPECT_EQ(bus.lastError(), kErrorGenFailure);
}

TEST_F(DiscoveryTest, UnreadableCapabilitiesGiveMinusOneWithTheLinkOpen) {
    bus.addUnit();
    bus.failures(bus.pathAt(0)).capabilitiesFail = true;

    EXPECT_EQ(openLink(link), kStatusNoLink);
    EXPECT_TRUE(link.isOpen());
    EXPECT_EQ(link.outputReportLength, 0u);
    EXPECT_EQ(link.inputReportLength, 0u);
    EXPECT_TRUE(bus.trace().empty());
}

// Report lengths the 60-byte buffers cannot carry, or too short for a whole block
// or for the longest reply, are refused like unreadable capabilities.
struct LengthCase {
    std::uint16_t input;
    std::uint16_t output;
    bool accepted;
};

class ReportLengthTest : public DiscoveryTest, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(ReportLengthTest, BoundsAreEnforcedAtTheCapabilityStep) {
    UnitConfig config;
    config.inputReportLength = GetParam().input;
    config.outputReportLength = GetParam().output;
    bus.addUnit(config);

    const LinkStatus status = openLink(link);
    EXPECT_TRUE(link.isOpen());
    if (GetParam().accepted) {
        EXPECT_EQ(status, kStatusOk);
        EXPECT_EQ(link.inputReportLength, GetParam().input);
        EXPECT_EQ(link.outputReportLength, GetParam().output);
        ASSERT_GE(bus.trace().size(), 2u);
        // Exactly the announced length goes out, report id first.
        TraceLine request;
        TraceLine reply;
        ASSERT_TRUE(splitTraceLine(bus.trace()[0], request));
        ASSERT_TRUE(splitTraceLine(bus.trace()[1], reply));
        EXPECT_EQ(request.entry.size(), 2u + 3u * GetParam().output - 1u);
        EXPECT_EQ(reply.entry.size(), 2u + 3u * GetParam().input - 1u);
    } else {
        EXPECT_EQ(status, kStatusNoLink);
        EXPECT_EQ(link.inputReportLength, 0u);
        EXPECT_EQ(link.outputReportLength, 0u);
        EXPECT_TRUE(bus.trace().empty());
        // Nothing can be sent over a link whose lengths were refused.
        EXPECT_EQ(setSystemLock(link, true), kStatusNoLink);
        EXPECT_TRUE(bus.trace().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Bounds, ReportLengthTest,
                         ::testing::Values(LengthCase{43, 60, false}, LengthCase{44, 60, true},
                                           LengthCase{60, 51, false}, LengthCase{60, 52, true},
                                           LengthCase{60, 60, true}, LengthCase{61, 60, false},
                                           LengthCase{60, 61, false}, LengthCase{44, 52, true},
                                           LengthCase{0, 0, false}));

TEST(UnitLinkRecord, VersionFieldsAreLittleEndianViewsOfTheBlocks) {
    UnitLinkState link;
    link.escInfo[4] = 0x00;
    link.escInfo[5] = 0x01;
    link.bootloaderInfo = {0xD2, 0xA0, 0x0F, 0x11, 0x05, 0x04, 0x03, 0x02};
    EXPECT_EQ(link.escFirmwareVersion(), 0x0100);
    EXPECT_EQ(link.escTypeCode(), 0x110FA0D2u);
    EXPECT_EQ(link.bootloaderVersion(), 0x02030405u);

    link.setEscFirmwareVersion(0xABCD);
    EXPECT_EQ(link.escInfo[4], 0xCD);
    EXPECT_EQ(link.escInfo[5], 0xAB);
    EXPECT_EQ(link.escFirmwareVersion(), 0xABCD);
}

}  // namespace
}  // namespace orvanta
