// The failure report, the progress window and the image check, each on its own.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "firmware_image_digest.h"
#include "resources/resource_ids.h"
#include "tests/fake_surface.h"
#include "update/update.h"

namespace orvanta {
namespace {

using test::FakeSurface;
using test::lines;
using test::ShellRig;

class FailureReport : public ::testing::Test {
protected:
    void openUnit() {
        rig.bus.addUnit();
        ASSERT_EQ(openLink(rig.app.link), kStatusOk);
        rig.ui.setControlText(IDC_HINT_PANEL, L"whatever stood here");
        rig.clearRecords();
    }
    std::string boxWith(const std::wstring& body) const {
        return rig.boxCall(IDS_UPDATE_FAILED_CAPTION, body, kMbIconError);
    }
    void report(std::uint32_t messageId, std::int32_t code, std::uint32_t lastError) {
        ShellUpdateDialog dialog(rig.app);
        reportUpdateFailure(rig.app.link, dialog, rig.ui, rig.ui.text(messageId),
                            rig.ui.text(IDS_UPDATE_FAILED_CAPTION), code, lastError);
    }

    ShellRig rig;
};

TEST_F(FailureReport, ClosesRefreshesShowsTheCodeThenLeavesTheHint) {
    openUnit();
    report(IDS_SYSTEM_LOCK_FAILED, kStatusNoEcho, 0);

    EXPECT_EQ(rig.ui.calls,
              lines({{"enable 1002 0"},
                     ShellRig::panelClosedCalls(),
                     {boxWith(L"System-Lock of programming unit couldn't be set. Update process "
                              L"cancelled.\r\nThe system shows following errorcode: "
                              L"0x0000065b-0x00000000"),
                      rig.hintCall(IDS_UPDATE_FAILED_HINT)}}));
    EXPECT_FALSE(rig.app.link.isOpen());
    EXPECT_EQ(rig.app.link.escFirmwareVersion(), 0);
    EXPECT_EQ(rig.bus.openHandleCount(), 0u);
    EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), rig.ui.text(IDS_UPDATE_FAILED_HINT));
}

TEST_F(FailureReport, CodeLineShowsBothValuesAsEightHexDigits) {
    openUnit();
    report(IDS_ERASE_FAILED, kStatusWriteFailed, 31);
    EXPECT_EQ(rig.ui.callsStartingWith("box ")[0],
              boxWith(rig.ui.text(IDS_ERASE_FAILED) +
                      L"\r\nThe system shows following errorcode: 0xfffffffe-0x0000001f"));
}

TEST_F(FailureReport, MinusOneShowsTheTextAlone) {
    report(IDS_NO_LINK_AT_UPDATE, kStatusNoLink, 1167);
    EXPECT_EQ(rig.ui.callsStartingWith("box ")[0], boxWith(rig.ui.text(IDS_NO_LINK_AT_UPDATE)));
    // An already closed link is not closed twice; every other step still runs.
    EXPECT_EQ(rig.bus.strayCloseCount(), 0u);
    EXPECT_EQ(rig.ui.calls.front(), "enable 1002 0");
    EXPECT_EQ(rig.ui.calls.back(), rig.hintCall(IDS_UPDATE_FAILED_HINT));
}

TEST_F(FailureReport, HintIsWrittenAfterWhateverAnArrivalUnderTheBoxWrote) {
    rig.bus.addUnit();
    rig.ui.answerNextBox(kIdOk, [&] { rig.arrival(rig.bus.pathAt(0)); });
    report(IDS_WRITE_BLOCK_FAILED, kStatusReadFailed, 31);

    // The arrival took the unit up again; the failure's hint still has the last word.
    EXPECT_TRUE(rig.app.link.isOpen());
    EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), rig.ui.text(IDS_UPDATE_FAILED_HINT));
}

class Progress : public ::testing::Test {
protected:
    void open() {
        openProgressWindow(ui, ui.text(IDS_PROGRESS_TITLE), ui.text(IDS_SHUTDOWN_REASON), progress);
    }
    std::string created() const {
        return FakeSurface::progressCreation(ui.text(IDS_PROGRESS_TITLE));
    }

    FakeSurface ui;
    ProgressWindow progress;
};

TEST_F(Progress, OpensCentredOnTheMainWindowAndRaisesBoth) {
    open();
    EXPECT_EQ(ui.calls,
              (std::vector<std::string>{
                  FakeSurface::progressCreation(L"Firmware update in progress, please wait..."),
                  "position progress 0", "raise main", "raise progress"}));
    EXPECT_EQ(progress.window, FakeSurface::kProgressWindow);
    EXPECT_EQ(progress.rememberedForeground, 0u);
}

// Centred on the dialog, or where a minimised one stands once restored, then moved
// wholly onto its monitor's work area; rectangles are left, top, right, bottom.
TEST(ProgressPlace, CentredOnTheDialogAndKeptOnItsWorkArea) {
    const ScreenRect screen{0, 0, 1280, 1024};
    const ScreenRect belowTaskbar{0, 0, 1280, 984};
    const ScreenRect leftScreen{-1920, -200, 0, 880};
    const ScreenRect leftScreenWork{-1860, -200, 0, 880};  // its taskbar on the left
    struct Case {
        const char* name;
        MainWindowPlace place;
        std::int32_t left;
        std::int32_t top;
    };
    const Case cases[] = {
        {"centred", {{100, 100, 700, 500}, false, {}, screen, belowTaskbar}, 200, 275},
        {"odd and negative spans",
         {{-301, -51, 0, 0}, false, {}, screen, {-999, -999, 999, 999}},
         -351,
         -51},
        {"reversed: (-3 >> 1) is -2",
         {{10, 10, 7, 5}, false, {}, screen, {-999, -999, 999, 999}},
         -192,
         -18},
        {"left edge", {{-500, 300, 100, 700}, false, {}, screen, belowTaskbar}, 0, 475},
        {"right edge", {{1100, 300, 1700, 700}, false, {}, screen, belowTaskbar}, 880, 475},
        {"top edge", {{300, -380, 900, 20}, false, {}, screen, belowTaskbar}, 400, 0},
        {"bottom edge, above the taskbar",
         {{380, 900, 910, 1296}, false, {}, screen, belowTaskbar},
         445,
         934},
        {"wider than the work area",
         {{0, 0, 300, 300}, false, {}, screen, {10, 10, 310, 1000}},
         10,
         125},
        {"minimised, taskbar on top",
         {{-32000, -32000, -31840, -31969}, true, {100, 60, 700, 460}, screen, {0, 40, 1280, 1024}},
         200,
         275},
        {"second monitor to the left",
         {{-1000, 200, -400, 600}, false, {}, leftScreen, leftScreenWork},
         -900,
         375},
        {"minimised on the second monitor",
         {{-32000, -32000, -31840, -31969},
          true,
          {-1960, 0, -1360, 400},
          leftScreen,
          leftScreenWork},
         -1800,
         175},
    };
    for (const Case& c : cases) {
        const ScreenRect placed = placeOverMainWindow(c.place, kProgressWidth, kProgressHeight);
        EXPECT_EQ(placed.left, c.left) << c.name;
        EXPECT_EQ(placed.top, c.top) << c.name;
        EXPECT_EQ(placed.right - placed.left, kProgressWidth) << c.name;
        EXPECT_EQ(placed.bottom - placed.top, kProgressHeight) << c.name;
    }
}

TEST_F(Progress, RaisesOnceWhenTheDialogIsInFront) {
    open();
    ui.calls.clear();
    for (std::uint32_t percent : {0u, 0u, 1u, 100u}) advanceProgressWindow(ui, progress, percent);
    EXPECT_EQ(ui.calls,
              (std::vector<std::string>{"position progress 0", "raise main", "raise progress",
                                        "show main", "show progress", "position progress 0",
                                        "position progress 1", "position progress 100"}));
}

TEST_F(Progress, WaitsWhileAnotherApplicationHoldsTheForeground) {
    WindowId front = 0x999;
    ui.foreground = [&] { return front; };
    open();
    EXPECT_EQ(ui.calls, (std::vector<std::string>{created() + " inactive", "position progress 0"}));
    ui.calls.clear();

    advanceProgressWindow(ui, progress, 5);
    advanceProgressWindow(ui, progress, 6);
    EXPECT_EQ(ui.calls, (std::vector<std::string>{"position progress 5", "position progress 6"}));

    front = FakeSurface::kProgressWindow;
    advanceProgressWindow(ui, progress, 7);
    front = FakeSurface::kMainWindow;
    advanceProgressWindow(ui, progress, 8);
    EXPECT_EQ(ui.calls,
              (std::vector<std::string>{"position progress 5", "position progress 6",
                                        "position progress 7", "raise main", "raise progress",
                                        "show main", "show progress", "position progress 8"}));
    EXPECT_EQ(progress.rememberedForeground, FakeSurface::kProgressWindow);
}

TEST_F(Progress, FailedCreationStillRunsEveryCallButNeverRaisesAfterABlock) {
    ui.progressToCreate = 0;
    open();
    advanceProgressWindow(ui, progress, 50);
    closeProgressWindow(ui, progress);
    EXPECT_EQ(ui.calls, (std::vector<std::string>{created(), "position 0 0", "raise main",
                                                  "raise 0", "position 0 50", "destroy 0"}));
}

TEST(FirmwareImage, Crc32IsTheZipChecksum) {
    const std::string check = "123456789";
    EXPECT_EQ(crc32(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()),
              0xCBF43926u);
    EXPECT_EQ(crc32(nullptr, 0), 0u);
}

TEST(FirmwareImage, IntactOnlyWithTheRecordedLengthAndChecksum) {
    std::vector<std::uint8_t> bytes(kFirmwareImageLength, 0x5A);
    EXPECT_FALSE(firmwareImageIntact(ImageView{bytes.data(), bytes.size()}));
    EXPECT_FALSE(firmwareImageIntact(ImageView{nullptr, kFirmwareImageLength}));
    EXPECT_FALSE(firmwareImageIntact(ImageView{}));
}

}  // namespace
}  // namespace orvanta
