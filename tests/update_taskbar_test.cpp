// The taskbar button during an update: its progress follows the progress window's and
// is taken off however the run ends, and the button flashes when the outcome comes
// while the dialog is not in front.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "emulator/emulated_bus.h"
#include "tests/fake_surface.h"
#include "update/update.h"

namespace orvanta {
namespace {

using test::FakeSurface;
using test::firmwareImage;
using test::ShellRig;

constexpr WindowId kOtherProgram = 0x99;

class TaskbarRun : public ::testing::Test {
protected:
    // A ready unit with `fault`, found at start-up, records cleared.
    void readyUnit(std::optional<Fault> fault, const std::vector<std::uint8_t>& image) {
        image_ = image;
        EmulatedUnit& unit = rig.bus.addUnit(UnitConfig{});
        if (fault) unit.addFault(*fault);
        rig.ui.image = ImageView{image_.data(), image_.size()};
        classifyUnit(rig.app, openLink(rig.app.link), ProbeVariant::startUp);
        ASSERT_TRUE(rig.app.link.isOpen());
        rig.clearRecords();
    }
    // "Update", confirmed; the button's calls so far are kept when a second box (the
    // outcome's) opens.
    void update() {
        rig.ui.answerNextBox(kIdOk);
        rig.ui.answerNextBox(kIdOk, [this] { atOutcomeBox = rig.ui.taskbar; });
        rig.update();
    }
    // The progress bar's positions as the button's calls would read them.
    std::vector<std::string> barPositionsAsTaskbarCalls() const {
        std::vector<std::string> out;
        for (const std::string& call : rig.ui.callsStartingWith("position progress ")) {
            out.push_back("progress " + call.substr(std::string("position progress ").size()));
        }
        return out;
    }

    ShellRig rig;
    std::vector<std::string> atOutcomeBox;

private:
    std::vector<std::uint8_t> image_;
};

std::vector<std::uint8_t> truncatedImage() {
    std::vector<std::uint8_t> image = firmwareImage();
    image.resize(image.size() - 4);
    return image;
}

struct OutcomeCase {
    const char* name;
    std::optional<Fault> fault;
    bool damagedImage;
    // Bar positions: the opening 0 and one after each block that went through.
    std::size_t positions;
    // The button's calls after the last position.
    std::vector<std::string> after;
};

void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.name; }

class TaskbarOutcome : public TaskbarRun, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(TaskbarOutcome, FollowsTheBarAndIsTakenOffAtTheEnd) {
    const OutcomeCase& c = GetParam();
    readyUnit(c.fault, c.damagedImage ? truncatedImage() : firmwareImage());
    update();

    std::vector<std::string> expected = barPositionsAsTaskbarCalls();
    ASSERT_EQ(expected.size(), c.positions);
    expected.insert(expected.end(), c.after.begin(), c.after.end());
    EXPECT_EQ(rig.ui.taskbar, expected);
    if (c.fault || c.damagedImage) {
        // The failure's state stands while its box does; only the end takes it off.
        expected.pop_back();
        EXPECT_EQ(atOutcomeBox, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    TaskbarRun, TaskbarOutcome,
    ::testing::Values(OutcomeCase{"Succeeded", std::nullopt, false, 1881, {"clear"}},
                      OutcomeCase{
                          "MiddleBlockRefused",
                          faultOnCommand(FaultKind::errorStatus, CMD_WRITE_BLOCK, 940, 0xE005),
                          false,
                          940,
                          {"error", "clear"}},
                      OutcomeCase{"FirstBlockUnplugged",
                                  faultOnCommand(FaultKind::unplug, CMD_WRITE_BLOCK, 1),
                                  false,
                                  1,
                                  {"error", "clear"}},
                      OutcomeCase{"EraseFails",
                                  faultOnCommand(FaultKind::readFails, CMD_ERASE_FIRMWARE),
                                  false,
                                  0,
                                  {"clear"}},
                      OutcomeCase{"ImageDamaged", std::nullopt, true, 0, {"clear"}}),
    [](const ::testing::TestParamInfo<OutcomeCase>& info) { return std::string(info.param.name); });

TEST_F(TaskbarRun, DeclinedUpdateLeavesTheButtonAlone) {
    readyUnit(std::nullopt, firmwareImage());
    rig.ui.foreground = [] { return kOtherProgram; };
    rig.ui.answerNextBox(kIdCancel);
    rig.update();
    EXPECT_TRUE(rig.ui.taskbar.empty());
}

struct FlashCase {
    const char* name;
    WindowId inFrontDuringStream;
    WindowId inFrontAtOutcome;
    bool blockRefused;
    std::vector<std::string> tail;
    // The button's last call while the failure's box is open.
    const char* lastUnderTheBox;
};

void PrintTo(const FlashCase& c, std::ostream* os) { *os << c.name; }

class TaskbarFlash : public TaskbarRun, public ::testing::WithParamInterface<FlashCase> {};

// Only the window in front when the outcome shows decides; a flash for a failure's
// box is ended once the box has been answered.
TEST_P(TaskbarFlash, AskedOnlyWhenTheDialogIsNotInFrontAtTheOutcome) {
    const FlashCase& c = GetParam();
    readyUnit(c.blockRefused ? std::optional<Fault>(faultOnCommand(FaultKind::errorStatus,
                                                                   CMD_WRITE_BLOCK, 3, 0xE005))
                             : std::nullopt,
              firmwareImage());
    rig.ui.foreground = [this, c] {
        const bool streamOver = !rig.ui.callsStartingWith("destroy ").empty();
        return streamOver ? c.inFrontAtOutcome : c.inFrontDuringStream;
    };
    update();

    const std::vector<std::string>& calls = rig.ui.taskbar;
    ASSERT_GE(calls.size(), c.tail.size());
    EXPECT_EQ(std::vector<std::string>(calls.end() - static_cast<std::ptrdiff_t>(c.tail.size()),
                                       calls.end()),
              c.tail);
    if (c.blockRefused) {
        ASSERT_FALSE(atOutcomeBox.empty());
        EXPECT_EQ(atOutcomeBox.back(), c.lastUnderTheBox);
    }
}

INSTANTIATE_TEST_SUITE_P(
    TaskbarRun, TaskbarFlash,
    ::testing::Values(FlashCase{"InFrontThroughout",
                                FakeSurface::kMainWindow,
                                FakeSurface::kMainWindow,
                                false,
                                {"progress 99", "progress 100", "clear"},
                                ""},
                      FlashCase{"AwayThroughout",
                                kOtherProgram,
                                kOtherProgram,
                                false,
                                {"progress 100", "flash", "clear"},
                                ""},
                      FlashCase{"BackBeforeTheEnd",
                                kOtherProgram,
                                FakeSurface::kMainWindow,
                                false,
                                {"progress 99", "progress 100", "clear"},
                                ""},
                      FlashCase{"AwayAtTheEnd",
                                FakeSurface::kMainWindow,
                                kOtherProgram,
                                false,
                                {"progress 100", "flash", "clear"},
                                ""},
                      FlashCase{"NothingInFrontAtTheEnd",
                                FakeSurface::kMainWindow,
                                0,
                                false,
                                {"progress 100", "flash", "clear"},
                                ""},
                      FlashCase{"FailureInFront",
                                FakeSurface::kMainWindow,
                                FakeSurface::kMainWindow,
                                true,
                                {"progress 0", "error", "clear"},
                                "error"},
                      FlashCase{"FailureAway",
                                kOtherProgram,
                                kOtherProgram,
                                true,
                                {"progress 0", "error", "flash", "stop flash", "clear"},
                                "flash"}),
    [](const ::testing::TestParamInfo<FlashCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvanta
