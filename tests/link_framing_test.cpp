// The exact bytes of every request and how each reply is judged, against a bus
// that records what is written and answers with replies given by the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <vector>

#include "tests/fake_clock.h"
#include "link/unit_link.h"

namespace orvanta {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A bus with one programming unit whose replies the test scripts.
class ScriptedBus final : public HidBus {
public:
    HidCaps caps{60, 60};
    std::vector<Bytes> written;
    std::deque<Bytes> replies;
    std::vector<std::uint32_t> readTimeouts;
    IoOutcome writeOutcome = IoOutcome::done;
    IoOutcome readOutcome = IoOutcome::done;
    std::uint32_t failureError = kErrorGenFailure;

    bool beginEnumeration() override { return true; }
    InterfaceLookup interfaceAt(std::uint32_t index, std::wstring& path) override {
        if (index != 0) return InterfaceLookup::endOfList;
        path = L"\\\\?\\hid#unit";
        return InterfaceLookup::found;
    }
    void endEnumeration() override {}
    HidHandle open(const std::wstring&, HidAccess) override { return 7; }
    bool attributes(HidHandle, HidAttributes& out) override {
        out = {UNIT_VENDOR_ID, PRODUCT_ID_TUNEBOX};
        return true;
    }
    bool capabilities(HidHandle, HidCaps& out) override {
        out = caps;
        return true;
    }
    IoOutcome write(HidHandle, const std::uint8_t* data, std::size_t length,
                    std::uint32_t) override {
        if (writeOutcome != IoOutcome::done) {
            error = failureError;
            return writeOutcome;
        }
        written.emplace_back(data, data + length);
        return IoOutcome::done;
    }
    IoOutcome read(HidHandle, std::uint8_t* data, std::size_t length,
                   std::uint32_t timeoutMs) override {
        readTimeouts.push_back(timeoutMs);
        EXPECT_EQ(data[0], kInputReportId);
        if (readOutcome != IoOutcome::done || replies.empty()) {
            error = failureError;
            return readOutcome == IoOutcome::done ? IoOutcome::failed : readOutcome;
        }
        Bytes reply = replies.front();
        replies.pop_front();
        reply.resize(length, 0);
        std::copy(reply.begin(), reply.end(), data);
        return IoOutcome::done;
    }
    void close(HidHandle) override {}
    std::uint32_t lastError() const override { return error; }

    std::uint32_t error = 0;
};

class FramingTest : public ::testing::Test {
protected:
    FramingTest() {
        link.handle = 7;
        link.devicePath = L"\\\\?\\hid#unit";
        link.productId = PRODUCT_ID_TUNEBOX;
        link.outputReportLength = 60;
        link.inputReportLength = 60;
    }

    void reply(Bytes bytes) { bus.replies.push_back(std::move(bytes)); }

    const Bytes& sent() const { return bus.written.back(); }

    FakeClock clock;
    ScriptedBus bus;
    UnitLink link{bus, clock};
};

Bytes expectedRequest(std::initializer_list<std::uint8_t> head, std::uint8_t fill = 0x00) {
    Bytes bytes(60, fill);
    std::copy(head.begin(), head.end(), bytes.begin());
    return bytes;
}

TEST_F(FramingTest, SystemLockRequestAndEcho) {
    reply({0x02, 0x00, 0x00, 0x01});
    EXPECT_EQ(setSystemLock(link, true), kStatusOk);
    EXPECT_EQ(sent(), expectedRequest({0x01, 0x0B, 0x01, 0x01}));

    reply({0x02, 0x00, 0x00, 0x00});
    EXPECT_EQ(setSystemLock(link, true), kStatusNoEcho);
    reply({0x02, 0xFF, 0x00, 0x00});
    EXPECT_EQ(setSystemLock(link, true), kStatusNoEcho);
    // The status byte is not looked at: an error status with the right echo
    // confirms the lock, and the code it carries is ignored.
    reply({0x02, 0xFF, 0x00, 0x01, 0x34, 0x12, 0x00, 0x00});
    EXPECT_EQ(setSystemLock(link, true), kStatusOk);

    reply({0x02, 0x00, 0x00, 0x00});
    EXPECT_EQ(setSystemLock(link, false), kStatusOk);
    EXPECT_EQ(sent(), expectedRequest({0x01, 0x0B, 0x01, 0x00}));
    reply({0x02, 0x00, 0x00, 0x01});
    EXPECT_EQ(setSystemLock(link, false), kStatusNoEcho);
}

TEST_F(FramingTest, WriteProtectionRequestAndReplyRules) {
    reply({0x02, 0x00, 0x00, 0x01});
    EXPECT_EQ(setWriteProtection(link, true), kStatusOk);
    EXPECT_EQ(sent(), expectedRequest({0x01, 0x20, 0x01, 0x01}));

    reply({0x02, 0x00, 0x00, 0x00});
    EXPECT_EQ(setWriteProtection(link, false), kStatusOk);
    EXPECT_EQ(sent(), expectedRequest({0x01, 0x20, 0x01, 0x00}));

    reply({0x02, 0x00, 0x00, 0x02});
    EXPECT_EQ(setWriteProtection(link, true), kStatusNoEcho);
    // An error status wins over the echo; a code of 0 is success without the echo.
    reply({0x02, 0xFF, 0x00, 0x01, 0x02, 0xE0, 0x00, 0x00});
    EXPECT_EQ(setWriteProtection(link, true), 0xE002);
    reply({0x02, 0xFF, 0x00, 0x07, 0x00, 0x00, 0x00, 0x00});
    EXPECT_EQ(setWriteProtection(link, true), kStatusOk);
}

TEST_F(FramingTest, EraseRequestWaitsAndAllowsTheLongReadLimit) {
    reply({0x02, 0x00});
    EXPECT_EQ(eraseFirmware(link), kStatusOk);
    EXPECT_EQ(sent(), expectedRequest({0x01, 0x1E, 0x04, 0x00, 0xE9, 0x52, 0x7C, 0x3A}));
    EXPECT_EQ(clock.sleptMs(), kEraseReplyDelayMs);
    EXPECT_EQ(bus.readTimeouts.back(), kEraseReadTimeoutMs);
}

TEST_F(FramingTest, SetAddressRequest) {
    reply({0x02, 0x00});
    EXPECT_EQ(setWriteAddress(link), kStatusOk);
    EXPECT_EQ(sent(), expectedRequest({0x01, 0x1F, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0xE9, 0x52,
                                       0x7C, 0x3A}));
    EXPECT_EQ(clock.sleptMs(), 0u);
    EXPECT_EQ(bus.readTimeouts.back(), kReadTimeoutMs);
}

// The three commands judged by status and device code alone.
struct CodeCase {
    const char* name;
    LinkStatus (*run)(UnitLink& link);
};

class DeviceCodeTest : public FramingTest, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(DeviceCodeTest, StatusAndCodeDecideTheResult) {
    struct Row {
        Bytes reply;
        LinkStatus expected;
    };
    const Row rows[] = {
        {{0x02, 0x00, 0x00, 0x00, 0x11, 0x22, 0x33, 0x44}, kStatusOk},  // bytes 4-7 ignored
        {{0x02, 0x7F, 0x00, 0x00, 0x11, 0x22, 0x33, 0x44}, kStatusOk},  // any other status
        {{0x02, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, kStatusOk},  // code 0 is success
        {{0x02, 0xFF, 0x00, 0x00, 0x05, 0xE0, 0x00, 0x00}, 0xE005},
        {{0x02, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}, 0x00010000},  // all 32 bits count
        {{0x02, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}, -1},
    };
    for (const Row& row : rows) {
        reply(row.reply);
        EXPECT_EQ(GetParam().run(link), row.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, DeviceCodeTest,
    ::testing::Values(CodeCase{"Erase", [](UnitLink& l) { return eraseFirmware(l); }},
                      CodeCase{"SetAddress", [](UnitLink& l) { return setWriteAddress(l); }},
                      CodeCase{"WriteBlock",
                               [](UnitLink& l) {
                                   const std::uint8_t data[48] = {};
                                   return writeBlock(l, data, 12);
                               }}),
    [](const ::testing::TestParamInfo<CodeCase>& info) { return std::string(info.param.name); });

// writeBlock: the payload unchanged in bytes 4 onward and 0xFF behind it.
class WriteBlockTest : public FramingTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(WriteBlockTest, PayloadThenFill) {
    const std::uint32_t words = GetParam();
    // A source longer than the block: bytes behind the payload must not be taken.
    std::uint8_t data[64];
    for (std::size_t i = 0; i < sizeof data; ++i) data[i] = static_cast<std::uint8_t>(0x10 + i);
    reply({0x02, 0x00});

    EXPECT_EQ(writeBlock(link, data, words), kStatusOk);
    const Bytes& report = sent();
    ASSERT_EQ(report.size(), 60u);
    EXPECT_EQ(report[0], 0x01);
    EXPECT_EQ(report[1], 0x1B);
    EXPECT_EQ(report[2], words * 4);
    EXPECT_EQ(report[3], 0x00);
    for (std::size_t i = 0; i < words * 4; ++i) EXPECT_EQ(report[4 + i], data[i]) << i;
    for (std::size_t i = 4 + words * 4; i < 60; ++i) EXPECT_EQ(report[i], 0xFF) << i;
}

INSTANTIATE_TEST_SUITE_P(Words, WriteBlockTest, ::testing::Values(0u, 1u, 8u, 12u, 14u));

TEST_F(FramingTest, WriteBlockRefusesWhatDoesNotFit) {
    std::uint8_t data[60] = {};
    EXPECT_EQ(writeBlock(link, data, 15), kStatusNoLink);
    EXPECT_EQ(writeBlock(link, data, 0xFFFFFFFFu), kStatusNoLink);
    // 2^30 words would wrap to a payload of 0 bytes in 32 bits.
    EXPECT_EQ(writeBlock(link, data, 0x40000000u), kStatusNoLink);
    EXPECT_EQ(writeBlock(link, nullptr, 1), kStatusNoLink);
    EXPECT_TRUE(bus.written.empty());

    reply({0x02, 0x00});
    EXPECT_EQ(writeBlock(link, nullptr, 0), kStatusOk);
    EXPECT_EQ(sent()[2], 0x00);
}

TEST_F(FramingTest, ShorterReportsSendExactlyTheirLength) {
    link.outputReportLength = 52;
    link.inputReportLength = 44;
    std::uint8_t data[48];
    std::fill(std::begin(data), std::end(data), std::uint8_t{0xA5});
    reply({0x02, 0x00});
    EXPECT_EQ(writeBlock(link, data, 12), kStatusOk);
    ASSERT_EQ(sent().size(), 52u);
    EXPECT_EQ(sent()[51], 0xA5);
}

// Every command on a closed link: -1 and nothing written.
TEST_F(FramingTest, ClosedLinkSendsNothing) {
    closeLink(link);
    const std::uint8_t data[4] = {};
    EXPECT_EQ(setSystemLock(link, true), kStatusNoLink);
    EXPECT_EQ(setWriteProtection(link, false), kStatusNoLink);
    EXPECT_EQ(eraseFirmware(link), kStatusNoLink);
    EXPECT_EQ(setWriteAddress(link), kStatusNoLink);
    EXPECT_EQ(writeBlock(link, data, 1), kStatusNoLink);
    EXPECT_EQ(probeUnit(link), kStatusNoLink);
    EXPECT_TRUE(bus.written.empty());
    EXPECT_EQ(clock.sleptMs(), 0u);
}

TEST_F(FramingTest, FailedTransfersGiveMinusTwoAndMinusThree) {
    bus.writeOutcome = IoOutcome::failed;
    EXPECT_EQ(setSystemLock(link, true), kStatusWriteFailed);
    EXPECT_EQ(bus.lastError(), kErrorGenFailure);
    // A failed erase write does not wait for a reply that cannot come.
    EXPECT_EQ(eraseFirmware(link), kStatusWriteFailed);
    EXPECT_EQ(clock.sleptMs(), 0u);
    EXPECT_TRUE(bus.readTimeouts.empty());

    bus.writeOutcome = IoOutcome::timedOut;
    bus.failureError = kErrorTimeout;
    EXPECT_EQ(setWriteAddress(link), kStatusWriteFailed);
    EXPECT_EQ(bus.lastError(), kErrorTimeout);

    bus.writeOutcome = IoOutcome::done;
    bus.readOutcome = IoOutcome::timedOut;
    EXPECT_EQ(setWriteProtection(link, true), kStatusReadFailed);
    EXPECT_EQ(bus.lastError(), kErrorTimeout);
    bus.readOutcome = IoOutcome::failed;
    bus.failureError = kErrorDeviceNotConnected;
    const std::uint8_t data[4] = {};
    EXPECT_EQ(writeBlock(link, data, 1), kStatusReadFailed);
    EXPECT_EQ(bus.lastError(), kErrorDeviceNotConnected);
}

// Probe replies laid out byte by byte: every field from its offset.
TEST_F(FramingTest, ProbeRequestsAndFieldOffsets) {
    Bytes identify(60, 0);
    identify = {0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x34, 0x12,
                0x05, 0x01, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12};
    Bytes escInfo(60, 0);
    escInfo[0] = 0x02;
    for (int i = 0; i < 32; ++i) escInfo[4 + i] = static_cast<std::uint8_t>(0x40 + i);
    escInfo[8] = 0x09;
    escInfo[9] = 0x00;
    escInfo[36] = 0xEE;  // behind the block: not taken
    Bytes bootInfo(60, 0);
    bootInfo[0] = 0x02;
    for (int i = 0; i < 40; ++i) bootInfo[4 + i] = static_cast<std::uint8_t>(0x80 + i);
    bootInfo[44] = 0xEE;
    reply(identify);
    reply(escInfo);
    reply(bootInfo);

    EXPECT_EQ(probeUnit(link), kStatusOk);
    ASSERT_EQ(bus.written.size(), 3u);
    EXPECT_EQ(bus.written[0], expectedRequest({0x01, 0x08, 0x00, 0x00}));
    EXPECT_EQ(bus.written[1], expectedRequest({0x01, 0x1D, 0x08, 0x00, 0x20, 0x00, 0x00, 0x00, 0xE0,
                                               0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(bus.written[2], expectedRequest({0x01, 0x22, 0x00, 0x00}));

    EXPECT_EQ(link.unitMode, 0);
    EXPECT_EQ(link.escState, 3);
    EXPECT_EQ(link.identifyReserved, 0x1234);
    EXPECT_EQ(link.unitFirmwareVersion, 0x0105u);
    EXPECT_EQ(link.unitReserved, 0x12345678u);
    EXPECT_EQ(link.escInfo[0], 0x40);
    EXPECT_EQ(link.escInfo[31], 0x5F);
    EXPECT_EQ(link.escFirmwareVersion(), 0x0009);
    EXPECT_EQ(link.bootloaderInfo[0], 0x80);
    EXPECT_EQ(link.bootloaderInfo[39], 0xA7);
    EXPECT_EQ(link.escTypeCode(), 0x83828180u);
    EXPECT_EQ(link.bootloaderVersion(), 0x87868584u);
}

TEST_F(FramingTest, WrongModeProbeReadsTheUnitMemory) {
    reply({0x02, 0x00, 0x00, 0x02, 0xA1, 0xB2, 0xB3, 0xC4, 0xC5, 0xC6, 0xC7, 0xD8, 0xD9, 0xDA, 0xDB,
           0xEC});
    reply({0x02, 0x00, 0x00, 0x00, 0x11, 0x11, 0x11, 0x11, 0x00, 0x05, 0x01, 0x00, 0x44, 0x33, 0x22,
           0x11});

    EXPECT_EQ(probeUnit(link), kStatusOk);
    ASSERT_EQ(bus.written.size(), 2u);
    EXPECT_EQ(bus.written[1], expectedRequest({0x01, 0x0A, 0x0C, 0x00, 0x00, 0xFC, 0x01, 0x08}));
    EXPECT_EQ(link.unitMode, 2);
    EXPECT_EQ(link.unitModeInfo.first, 0xA1);
    EXPECT_EQ(link.unitModeInfo.second, 0xB3B2);
    EXPECT_EQ(link.unitModeInfo.third, 0xC7C6C5C4u);
    EXPECT_EQ(link.unitModeInfo.fourth, 0xDBDAD9D8u);
    EXPECT_EQ(link.unitModeInfo.fifth, 0xEC);
    EXPECT_EQ(link.unitFirmwareVersion, 0x00010500u);
    EXPECT_EQ(link.unitReserved, 0x11223344u);
    EXPECT_EQ(link.escState, 0);
}

TEST_F(FramingTest, ProbeErrorCodesTakeOnlyTheLowSixteenBits) {
    reply({0x02, 0x00, 0x00, 0x00, 0x03, 0x00});
    reply({0x02, 0xFF, 0x00, 0x00, 0x07, 0xE0, 0x55, 0x55});
    EXPECT_EQ(probeUnit(link), 0xE007);

    reply({0x02, 0x00, 0x00, 0x00, 0x03, 0x00});
    reply({0x02, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x55, 0x55});  // code 0: go on without data
    reply({0x02, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(probeUnit(link), 0xFFFF);
    EXPECT_EQ(link.escFirmwareVersion(), 0);
    EXPECT_EQ(link.escTypeCode(), 0u);
}

}  // namespace
}  // namespace orvanta
