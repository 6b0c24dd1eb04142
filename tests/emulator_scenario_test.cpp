// Scenario files: every key reaches the unit's configuration, faults are read in
// both selector forms, mistakes are reported with their line, and the flash file
// holds the flash byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <unistd.h>

#include "tests/fake_clock.h"
#include "emulator/scenario.h"
#include "link/unit_link.h"

namespace orvanta {
namespace {

TEST(Scenario, EmptyTextGivesTheDefaultUnit) {
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(parseScenario("# nothing but a comment\n\n", scenario, error)) << error;
    const UnitConfig defaults;
    EXPECT_EQ(scenario.unit.productId, defaults.productId);
    EXPECT_EQ(scenario.unit.vendorId, UNIT_VENDOR_ID);
    EXPECT_EQ(scenario.unit.escTypeCode, 0x110FA0D2u);
    EXPECT_EQ(scenario.unit.escFirmwareVersion, 0x0009);
    EXPECT_EQ(scenario.unit.flashBytes, 128u * 1024u);
    EXPECT_TRUE(scenario.unitPresent);
    EXPECT_TRUE(scenario.faults.empty());
    EXPECT_TRUE(scenario.traceFile.empty());
}

TEST(Scenario, EveryKeyIsApplied) {
    const std::string text = R"(
vendor_id = 0x1234
product_id = 1            # a TUNEPAD
input_report_length = 44
output_report_length = 52
unit_mode = 2
mode_info = 1 0x203 0x4050607 8 255
unit_memory = 00 01 02 03 04 05 06 07 08 09 0a 0B
unit_firmware_version = 0x00010500
unit_reserved = 7
identify_reserved = 0xffff
esc_state = 259
esc_info = 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10 11 12 13 14 15 16 17 18 19 1a 1b 1c 1d 1e 1f
esc_firmware_version = 0xFFFF
bootloader_info = 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10 11 12 13 14 15 16 17 18 19 1a 1b 1c 1d 1e 1f 20 21 22 23 24 25 26 27
esc_type_code = 0x0A0640D2
bootloader_version = 0x01020304
flash_size = 4096
reply_latency_ms = 5
erase_duration_ms = 2500
unit_present = false
other_device = 0x046d 0xc52b
other_device = 1 2
trace_file = /tmp/some trace.txt
flash_file = flash.bin
)";
    Scenario s;
    std::string error;
    ASSERT_TRUE(parseScenario(text, s, error)) << error;
    const UnitConfig& u = s.unit;
    EXPECT_EQ(u.vendorId, 0x1234);
    EXPECT_EQ(u.productId, 1);
    EXPECT_EQ(u.inputReportLength, 44);
    EXPECT_EQ(u.outputReportLength, 52);
    EXPECT_EQ(u.unitMode, 2);
    EXPECT_EQ(u.modeInfo.first, 1);
    EXPECT_EQ(u.modeInfo.second, 0x203);
    EXPECT_EQ(u.modeInfo.third, 0x4050607u);
    EXPECT_EQ(u.modeInfo.fourth, 8u);
    EXPECT_EQ(u.modeInfo.fifth, 255);
    ASSERT_TRUE(u.unitMemory.has_value());
    EXPECT_EQ((*u.unitMemory)[11], 0x0B);
    EXPECT_EQ(u.unitFirmwareVersion, 0x00010500u);
    EXPECT_EQ(u.unitReserved, 7u);
    EXPECT_EQ(u.identifyReserved, 0xFFFF);
    EXPECT_EQ(u.escState, 259);
    EXPECT_EQ(u.escInfo[31], 0x1F);
    EXPECT_EQ(u.escFirmwareVersion, 0xFFFF);
    EXPECT_EQ(u.bootloaderInfo[39], 0x27);
    EXPECT_EQ(u.escTypeCode, 0x0A0640D2u);
    EXPECT_EQ(u.bootloaderVersion, 0x01020304u);
    EXPECT_EQ(u.flashBytes, 4096u);
    EXPECT_EQ(u.replyLatencyMs, 5u);
    EXPECT_EQ(u.eraseDurationMs, 2500u);
    EXPECT_FALSE(s.unitPresent);
    ASSERT_EQ(s.otherDevices.size(), 2u);
    EXPECT_EQ(s.otherDevices[0].vendorId, 0x046D);
    EXPECT_EQ(s.otherDevices[1].productId, 2);
    EXPECT_EQ(s.traceFile, "/tmp/some trace.txt");
    EXPECT_EQ(s.flashFile, "flash.bin");
}

TEST(Scenario, FaultsInBothSelectorForms) {
    const std::string text =
        "fault = error_status command=CMD_ERASE_FIRMWARE value=0xE123\n"
        "fault = no_answer command=0x1b occurrence=1880\n"
        "fault = wrong_echo command=CMD_SYSTEM_LOCK occurrence=0 value=2\n"
        "fault = unplug exchange=7 replug_after_ms=2500\n"
        "fault = write_fails exchange=1\n"
        "fault = read_fails command=CMD_IDENTIFY\n";
    Scenario s;
    std::string error;
    ASSERT_TRUE(parseScenario(text, s, error)) << error;
    ASSERT_EQ(s.faults.size(), 6u);
    EXPECT_EQ(s.faults[0].kind, FaultKind::errorStatus);
    EXPECT_EQ(s.faults[0].command, CMD_ERASE_FIRMWARE);
    EXPECT_EQ(s.faults[0].occurrence, 1u);
    EXPECT_EQ(s.faults[0].value, 0xE123u);
    EXPECT_EQ(s.faults[1].kind, FaultKind::noAnswer);
    EXPECT_EQ(s.faults[1].command, CMD_WRITE_BLOCK);
    EXPECT_EQ(s.faults[1].occurrence, 1880u);
    EXPECT_EQ(s.faults[2].occurrence, 0u);
    EXPECT_EQ(s.faults[3].kind, FaultKind::unplug);
    EXPECT_EQ(s.faults[3].exchange, 7u);
    EXPECT_EQ(s.faults[3].replugAfterMs, 2500u);
    EXPECT_EQ(s.faults[5].replugAfterMs, 0u);
    EXPECT_EQ(s.faults[4].kind, FaultKind::writeFails);
    EXPECT_EQ(s.faults[5].kind, FaultKind::readFails);
}

struct BadLine {
    const char* text;
    const char* expectedInError;
};

class ScenarioErrorTest : public ::testing::TestWithParam<BadLine> {};

TEST_P(ScenarioErrorTest, IsRefusedWithItsLineAndLeavesTheOutputAlone) {
    Scenario s;
    s.unit.productId = 77;
    std::string error;
    EXPECT_FALSE(parseScenario(std::string("esc_state = 3\n") + GetParam().text, s, error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    EXPECT_NE(error.find(GetParam().expectedInError), std::string::npos) << error;
    EXPECT_EQ(s.unit.productId, 77);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ScenarioErrorTest,
    ::testing::Values(BadLine{"colour = red", "unknown key"}, BadLine{"product_id", "key = value"},
                      BadLine{"product_id = 65536", "product_id"},
                      BadLine{"product_id = -1", "product_id"},
                      BadLine{"unit_mode = 256", "unit_mode"},
                      BadLine{"esc_firmware_version = 0x", "esc_firmware_version"},
                      BadLine{"esc_state = 3x", "esc_state"},
                      BadLine{"unit_memory = 00 01", "unit_memory"},
                      BadLine{"unit_memory = 00 01 02 03 04 05 06 07 08 09 0a zz", "unit_memory"},
                      BadLine{"mode_info = 1 2 3 4", "mode_info"},
                      BadLine{"unit_present = maybe", "unit_present"},
                      BadLine{"fault = explode command=CMD_IDENTIFY", "fault kind"},
                      BadLine{"fault = unplug", "either"},
                      BadLine{"fault = unplug command=CMD_IDENTIFY exchange=2", "either"},
                      BadLine{"fault = unplug exchange=0", "exchange=0"},
                      BadLine{"fault = unplug command=CMD_NOTHING", "CMD_NOTHING"},
                      BadLine{"fault = unplug command=CMD_IDENTIFY when=now", "when"},
                      BadLine{"fault = no_answer exchange=3 replug_after_ms=10", "only"},
                      BadLine{"trace_file =", "trace_file"}));

TEST(Scenario, AppliedScenarioBuildsTheBusAndArmsTheFaults) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(
        parseScenario("other_device = 0x046d 0xc52b\n"
                      "esc_firmware_version = 0x0101\n"
                      "fault = error_status command=CMD_READ_BOOTLOADER_INFO value=0x42\n",
                      s, error))
        << error;
    FakeClock clock;
    EmulatedBus bus(clock);
    EmulatedUnit& unit = applyScenario(s, bus, error);
    EXPECT_TRUE(error.empty());
    ASSERT_EQ(bus.interfaceCount(), 2u);
    EXPECT_EQ(bus.unitAt(bus.pathAt(1)), &unit);

    UnitLink link(bus, clock);
    EXPECT_EQ(openLink(link), 0x42);
    EXPECT_EQ(link.escFirmwareVersion(), 0x0101);
}

TEST(Scenario, UnitAbsentAtStartCanBePluggedLater) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(parseScenario("unit_present = false\n", s, error));
    FakeClock clock;
    EmulatedBus bus(clock);
    applyScenario(s, bus, error);
    UnitLink link(bus, clock);
    EXPECT_EQ(openLink(link), kStatusNoUnit);
    bus.plug(bus.pathAt(0));
    EXPECT_EQ(openLink(link), kStatusOk);
}

TEST(Scenario, FlashFileHoldsTheFlashByteForByte) {
    const std::string fileName =
        ::testing::TempDir() + "emulator_flash_" + std::to_string(::getpid()) + ".bin";
    std::vector<std::uint8_t> flash(1000);
    for (std::size_t i = 0; i < flash.size(); ++i) flash[i] = static_cast<std::uint8_t>(i * 13);
    std::string error;
    ASSERT_TRUE(writeFlashFile(fileName, flash, error)) << error;

    std::ifstream file(fileName, std::ios::binary);
    const std::vector<std::uint8_t> read((std::istreambuf_iterator<char>(file)),
                                         std::istreambuf_iterator<char>());
    EXPECT_EQ(read, flash);
    std::remove(fileName.c_str());

    EXPECT_FALSE(writeFlashFile("/nonexistent-folder/flash.bin", flash, error));
    EXPECT_NE(error.find("/nonexistent-folder/flash.bin"), std::string::npos);
}

}  // namespace
}  // namespace orvanta
