// The version panel: the packed version texts and what a refresh does to the six
// controls in either link state.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fake_clock.h"
#include "app/shell.h"
#include "resources/resource_ids.h"
#include "tests/fake_surface.h"

namespace orvanta {
namespace {

using test::FakeSurface;

struct PackedCase {
    std::uint32_t value;
    const wchar_t* text;
};

class PackedVersionText : public ::testing::TestWithParam<PackedCase> {};

TEST_P(PackedVersionText, ShowsTopByteOnlyWhenSetAndNeverBits16To23) {
    EXPECT_EQ(formatPackedVersion(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    VersionPanel, PackedVersionText,
    ::testing::Values(PackedCase{0x00000105, L"1.5"}, PackedCase{0x00000203, L"2.3"},
                      PackedCase{0x01000203, L"1.2.3"}, PackedCase{0x00000200, L"2.0"},
                      PackedCase{0x00000000, L"0.0"}, PackedCase{0x01FF0203, L"1.2.3"},
                      PackedCase{0x00FF0203, L"2.3"}, PackedCase{0xFFFFFFFF, L"255.255.255"}));

TEST(VersionPanel, EscFirmwareVersionHasTwoPartsOrTenHyphens) {
    EXPECT_EQ(formatEscFirmwareVersion(0x0100), L"1.0");
    EXPECT_EQ(formatEscFirmwareVersion(0x0000), L"0.0");
    EXPECT_EQ(formatEscFirmwareVersion(0x0A0B), L"10.11");
    EXPECT_EQ(formatEscFirmwareVersion(0xFFFE), L"255.254");
    EXPECT_EQ(formatEscFirmwareVersion(0xFFFF), L"----------");
}

class VersionPanelRefresh : public ::testing::Test {
protected:
    // An open link as a probe would have left it, without any bus behind it.
    void openWith(std::uint32_t unitVersion, std::uint32_t bootloaderVersion,
                  std::uint16_t escVersion, std::uint16_t productId) {
        link.handle = 7;
        link.devicePath = L"\\\\?\\hid#unit";
        link.unitFirmwareVersion = unitVersion;
        for (int i = 0; i < 4; ++i) {
            link.bootloaderInfo[4 + i] = static_cast<std::uint8_t>(bootloaderVersion >> (8 * i));
        }
        link.setEscFirmwareVersion(escVersion);
        link.productId = productId;
    }

    FakeSurface ui;
    FakeClock clock;
    EmulatedBus bus{clock};
    UnitLink link{bus, clock};
};

TEST_F(VersionPanelRefresh, OpenLinkEnablesFirstThenFillsValuesAndNamesTheUnit) {
    openWith(0x00010500, 0x00000200, 0x0009, PRODUCT_ID_TUNEPAD);
    refreshVersionPanel(ui, link);
    EXPECT_EQ(ui.calls, (std::vector<std::string>{
                            "enable 40013 1", "enable 40014 1", "enable 40015 1", "enable 40010 1",
                            "enable 1005 1", "enable 40011 1", "text 40013 1.5", "text 40014 2.0",
                            "text 40015 0.9", "text 40010 TUNEPAD"}));
}

TEST_F(VersionPanelRefresh, UnitVersionWithEmptyLowByteIsShiftedButBootloaderIsNot) {
    openWith(0x01020300, 0x01020300, 0xFFFF, PRODUCT_ID_TUNEBOX);
    refreshVersionPanel(ui, link);
    EXPECT_EQ(ui.controlTextOf(IDC_VALUE_UNIT), L"2.3");
    EXPECT_EQ(ui.controlTextOf(IDC_VALUE_ESC_BOOTLOADER), L"1.3.0");
    EXPECT_EQ(ui.controlTextOf(IDC_VALUE_ESC), L"----------");
}

TEST_F(VersionPanelRefresh, AnyProductIdButOneIsTheTuneBox) {
    for (const std::uint16_t productId : {std::uint16_t{2}, std::uint16_t{0}, std::uint16_t{7}}) {
        openWith(0x105, 0x102, 0x0100, productId);
        refreshVersionPanel(ui, link);
        EXPECT_EQ(ui.controlTextOf(IDC_LABEL_UNIT), L"TUNE-BOX") << productId;
    }
}

TEST_F(VersionPanelRefresh, ClosedLinkZeroesValuesDisablesAllAndKeepsTheUnitName) {
    ui.setControlText(IDC_LABEL_UNIT, ui.text(IDS_LABEL_UNIT));
    openWith(0x105, 0x102, 0x0100, PRODUCT_ID_TUNEPAD);
    refreshVersionPanel(ui, link);
    link.reset();
    ui.calls.clear();

    refreshVersionPanel(ui, link);

    EXPECT_EQ(ui.calls,
              (std::vector<std::string>{"text 40013 0.0.0", "text 40014 0.0.0", "text 40015 0.0.0",
                                        "enable 40013 0", "enable 40014 0", "enable 40015 0",
                                        "enable 40010 0", "enable 1005 0", "enable 40011 0"}));
    EXPECT_EQ(ui.controlTextOf(IDC_LABEL_UNIT), L"TUNEPAD");
}

TEST_F(VersionPanelRefresh, BeforeAnyUnitTheFirstLabelKeepsItsCatalogueText) {
    ui.setControlText(IDC_LABEL_UNIT, ui.text(IDS_LABEL_UNIT));
    refreshVersionPanel(ui, link);
    EXPECT_EQ(ui.controlTextOf(IDC_LABEL_UNIT), L"programming unit");
    EXPECT_FALSE(ui.isEnabled(IDC_LABEL_UNIT));
}

}  // namespace
}  // namespace orvanta
