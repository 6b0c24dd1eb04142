// The taskbar button during an update: its progress follows the progress window's and
// is taken off however the run ends, and the button flashes when the outcome comes
// while the dialog is not in front.
#include <gtest/gtest.h>

#include <algorithm>
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
    // The progress bar's changes of position as the button's calls would read them:
    // every block sets the bar, but the button hears of a value only once.
    std::vector<std::string> barChangesAsTaskbarCalls() const {
        std::vector<std::string> out;
        for (const std::string& call : rig.ui.callsStartingWith("position progress ")) {
            const std::string value =
                "progress " + call.substr(std::string("position progress ").size());
            if (out.empty() || out.back() != value) out.push_back(value);
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

// "a, b" as {"a", "b"}.
std::vector<std::string> callList(const std::string& text) {
    std::vector<std::string> out;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find(", ", start), text.size());
        out.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return out;
}

const Fault kRefusedAt3 = faultOnCommand(FaultKind::errorStatus, CMD_WRITE_BLOCK, 3, 0xE005);
constexpr WindowId kMain = FakeSurface::kMainWindow;

struct TaskbarCase {
    const char* name;
    std::optional<Fault> fault;
    bool damagedImage;
    // The window in front while the blocks go, and when the outcome shows.
    WindowId inFrontDuringStream;
    WindowId inFrontAtOutcome;
    // Bar positions: the opening 0 and one after each block that went through.
    std::size_t positions;
    // The button's calls after the last position, and those made while the failure's
    // box stands (none: no box).
    const char* after;
    const char* underTheBox;
};

void PrintTo(const TaskbarCase& c, std::ostream* os) { *os << c.name; }

class Taskbar : public TaskbarRun, public ::testing::WithParamInterface<TaskbarCase> {};

// The button's progress follows the bar; a failure's state stands while its box does and
// only the end takes it off. Only the window in front when the outcome shows decides
// whether the button flashes; a flash for a failure's box ends once it is answered.
TEST_P(Taskbar, FollowsTheBarFlashesOnlyWhenTheOutcomeIsUnseenAndIsTakenOffAtTheEnd) {
    const TaskbarCase& c = GetParam();
    readyUnit(c.fault, c.damagedImage ? truncatedImage() : firmwareImage());
    rig.ui.foreground = [this, c] {
        const bool streamOver = !rig.ui.callsStartingWith("destroy ").empty();
        return streamOver ? c.inFrontAtOutcome : c.inFrontDuringStream;
    };
    update();

    ASSERT_EQ(rig.ui.callsStartingWith("position progress ").size(), c.positions);
    const std::vector<std::string> positions = barChangesAsTaskbarCalls();
    // A whole stream tells the button each percentage from 0 to 100 once.
    if (c.positions == 1881) {
        EXPECT_EQ(positions.size(), 101u);
    }
    const auto withPositions = [&positions](const char* calls) {
        std::vector<std::string> out = positions;
        for (const std::string& call : callList(calls)) out.push_back(call);
        return out;
    };
    EXPECT_EQ(rig.ui.taskbar, withPositions(c.after));
    if (c.underTheBox != nullptr) {
        EXPECT_EQ(atOutcomeBox, withPositions(c.underTheBox));
    }
}

INSTANTIATE_TEST_SUITE_P(
    TaskbarRun, Taskbar,
    ::testing::Values(
        TaskbarCase{"Succeeded", std::nullopt, false, kMain, kMain, 1881, "clear", nullptr},
        TaskbarCase{"MiddleBlockRefused",
                    faultOnCommand(FaultKind::errorStatus, CMD_WRITE_BLOCK, 940, 0xE005), false,
                    kMain, kMain, 940, "error, clear", "error"},
        TaskbarCase{"FirstBlockUnplugged", faultOnCommand(FaultKind::unplug, CMD_WRITE_BLOCK, 1),
                    false, kMain, kMain, 1, "error, clear", "error"},
        TaskbarCase{"EraseFails", faultOnCommand(FaultKind::readFails, CMD_ERASE_FIRMWARE), false,
                    kMain, kMain, 0, "clear", ""},
        TaskbarCase{"ImageDamaged", std::nullopt, true, kMain, kMain, 0, "clear", ""},
        TaskbarCase{"AwayThroughout", std::nullopt, false, kOtherProgram, kOtherProgram, 1881,
                    "flash, clear", nullptr},
        TaskbarCase{"BackBeforeTheEnd", std::nullopt, false, kOtherProgram, kMain, 1881, "clear",
                    nullptr},
        TaskbarCase{"AwayAtTheEnd", std::nullopt, false, kMain, kOtherProgram, 1881, "flash, clear",
                    nullptr},
        TaskbarCase{"NothingInFrontAtTheEnd", std::nullopt, false, kMain, 0, 1881, "flash, clear",
                    nullptr},
        TaskbarCase{"FailureInFront", kRefusedAt3, false, kMain, kMain, 3, "error, clear", "error"},
        TaskbarCase{"FailureAway", kRefusedAt3, false, kOtherProgram, kOtherProgram, 3,
                    "error, flash, stop flash, clear", "error, flash"}),
    [](const ::testing::TestParamInfo<TaskbarCase>& info) { return std::string(info.param.name); });

TEST_F(TaskbarRun, DeclinedUpdateLeavesTheButtonAlone) {
    readyUnit(std::nullopt, firmwareImage());
    rig.ui.foreground = [] { return kOtherProgram; };
    rig.ui.answerNextBox(kIdCancel);
    rig.update();
    EXPECT_TRUE(rig.ui.taskbar.empty());
}

}  // namespace
}  // namespace orvanta
