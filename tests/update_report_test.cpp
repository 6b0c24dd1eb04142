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
    void open() { openProgressWindow(ui, ui.text(IDS_PROGRESS_TITLE), progress); }
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

TEST_F(Progress, HalvesAreTakenWithAnArithmeticShift) {
    ui.mainRect = ScreenRect{-301, -51, 0, 0};  // odd, negative differences the other way too
    ui.language = Language::german;
    open();
    EXPECT_EQ(ui.calls[0], FakeSurface::progressCreation(
                               L"Firmware wird geschrieben, bitte warten...", -351, -51));

    ui.calls.clear();
    ui.mainRect = ScreenRect{10, 10, 7, 5};  // reversed: (-3 >> 1) is -2, not -1
    open();
    EXPECT_EQ(ui.calls[0], FakeSurface::progressCreation(ui.text(IDS_PROGRESS_TITLE), -192, -18));
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
