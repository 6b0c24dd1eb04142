// The update procedure against the emulated unit with the build's firmware stand-in:
// the whole run on the wire and in the ESC's flash, its pauses and progress, every
// failing step, the confirmations, the image check, and the facts the unit relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "emulator/emulated_bus.h"
#include "link/product.h"
#include "resources/resource_ids.h"
#include "tests/fake_surface.h"
#include "tests/unit_trace.h"
#include "update/update.h"

namespace orvanta {
namespace {

using test::hex;
using test::lines;
using test::RecordingClock;
using test::ShellRig;

constexpr std::size_t kImageBytes = 90224;
constexpr std::uint32_t kBlocks = blockCount(kImageBytes);

using test::firmwareImage;

// The image's version as the panel shows it after an update ("1.0" for 0x0100).
constexpr std::uint16_t kImageVersion = FIRMWARE_IMAGE_VERSION;
const std::string kImageVersionShown =
    std::to_string(kImageVersion >> 8) + "." + std::to_string(kImageVersion & 0xFF);

// The requests of a trace, without their times.
std::vector<std::string> requestsOf(const std::vector<std::string>& trace) {
    std::vector<std::string> out;
    for (const std::string& line : trace) {
        TraceLine split;
        if (splitTraceLine(line, split) && split.entry.rfind("> ", 0) == 0) {
            out.push_back(split.entry);
        }
    }
    return out;
}

class UpdateRun : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(firmwareImage().size(), kImageBytes); }

    // A ready unit, found at start-up, with the records cleared.
    EmulatedUnit& readyUnit(std::uint16_t installedVersion = 0x0009) {
        UnitConfig config;
        config.escFirmwareVersion = installedVersion;
        EmulatedUnit& unit = rig.bus.addUnit(config);
        rig.ui.image = ImageView{firmwareImage().data(), firmwareImage().size()};
        classifyUnit(rig.app, openLink(rig.app.link), ProbeVariant::startUp);
        EXPECT_TRUE(rig.app.link.isOpen());
        rig.clearRecords();
        return unit;
    }

    std::vector<std::string> uiCallsWithoutPositions() const {
        std::vector<std::string> out;
        for (const std::string& call : rig.ui.calls) {
            if (call.rfind("position ", 0) != 0) out.push_back(call);
        }
        return out;
    }

    std::string confirmBox() const {
        return rig.boxCall(IDS_CONFIRM_CAPTION, rig.ui.text(IDS_CONFIRM_TEXT),
                           kMbIconWarning | kMbOkCancel);
    }
    std::string olderOrSameBox() const {
        return rig.boxCall(IDS_OLDER_OR_SAME_CAPTION, rig.ui.text(IDS_OLDER_OR_SAME),
                           kMbIconWarning | kMbYesNo);
    }
    // What a log-off or restart names while the unit's part runs.
    std::string shutdownHeld() const {
        return "hold shutdown " + test::utf8(rig.ui.text(IDS_SHUTDOWN_REASON));
    }
    std::string failureBox(std::uint32_t messageId, const std::wstring& codeLine) const {
        std::wstring body = rig.ui.text(messageId);
        if (!codeLine.empty()) body += L"\r\n" + codeLine;
        return rig.boxCall(IDS_UPDATE_FAILED_CAPTION, body, kMbIconError);
    }

    ShellRig rig;
};

TEST_F(UpdateRun, SuccessfulRunOnTheWire) {
    const EmulatedUnit& unit = readyUnit();
    const std::vector<std::uint8_t>& image = firmwareImage();
    // The embedded image is read whole before the erase: the stream sends the bytes
    // as they were then, whatever becomes of the program's file afterwards.
    std::vector<std::uint8_t> embedded = image;
    rig.ui.image = ImageView{embedded.data(), embedded.size()};
    rig.clock.mark = [&embedded] {
        std::fill(embedded.begin(), embedded.end(), std::uint8_t{0});
        return std::uint64_t{0};
    };

    rig.update();

    const std::vector<std::string> expected = test::updateRequests(image);
    const std::vector<std::string> sent = requestsOf(rig.bus.trace());
    ASSERT_EQ(sent.size(), 4 + kBlocks + 2);
    for (std::size_t i = 0; i < sent.size(); ++i)
        ASSERT_EQ(sent[i], expected[i]) << "request " << i;

    // The last block: length byte 0x20, its 32 bytes, then 0xFF from byte 36 on.
    EXPECT_EQ(sent[4 + kBlocks - 1].substr(0, 13), "> 01 1b 20 00");
    EXPECT_EQ(
        sent[4 + kBlocks - 1].substr(2 + 3 * 36, 3 * 24 - 1),
        std::string("ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff"));

    ASSERT_GE(unit.flash().size(), kImageBytes);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), unit.flash().begin()));
    EXPECT_TRUE(unit.writeProtected());
    EXPECT_FALSE(unit.systemLocked());
}

TEST_F(UpdateRun, SuccessfulRunOnTheScreen) {
    readyUnit();
    rig.update();

    EXPECT_EQ(uiCallsWithoutPositions(),
              lines({{confirmBox(), shutdownHeld(), "timing 1", "image",
                      test::FakeSurface::progressCreation(rig.ui.text(IDS_PROGRESS_TITLE)),
                      "raise main", "raise progress",
                      // The one raise, after the first block, with the dialog in front.
                      "raise main", "raise progress", "show main", "show progress",
                      "destroy progress", "timing 0", "release shutdown",
                      // What the user gave during the stream goes before the outcome shows.
                      "discard input", "enable 1002 0"},
                     ShellRig::panelOpenCalls("1.5", "1.2", kImageVersionShown, "TUNE-BOX"),
                     // New keys are held from the moment the outcome can be seen.
                     {"hold fresh keys", rig.hintCall(IDS_UPDATE_SUCCEEDED)}}));
    EXPECT_TRUE(rig.app.link.isOpen());
    EXPECT_EQ(rig.app.link.escFirmwareVersion(), FIRMWARE_IMAGE_VERSION);
    EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), rig.ui.text(IDS_UPDATE_SUCCEEDED));
    const std::wstring shown = rig.ui.controlTextOf(IDC_HINT_PANEL);
    EXPECT_EQ(rig.ui.heard, test::FakeSurface::Heard({{shown, shown}}));  // whole, once
    EXPECT_FALSE(rig.ui.isEnabled(IDC_UPDATE));
    EXPECT_FALSE(rig.ui.preciseTiming);
}

TEST_F(UpdateRun, ProgressClimbsFromZeroToOneHundred) {
    readyUnit();
    rig.update();

    const std::vector<std::string> positions = rig.ui.callsStartingWith("position ");
    ASSERT_EQ(positions.size(), 1 + kBlocks);
    EXPECT_EQ(positions[0], "position progress 0");
    const auto afterBlock = [&](std::size_t block) { return positions[block]; };
    for (std::size_t block = 1; block <= 18; ++block) {
        EXPECT_EQ(afterBlock(block), "position progress 0") << block;
    }
    EXPECT_EQ(afterBlock(19), "position progress 1");
    EXPECT_EQ(afterBlock(940), "position progress 50");
    EXPECT_EQ(afterBlock(1879), "position progress 99");
    EXPECT_EQ(afterBlock(1880), "position progress 100");
}

// What the unit and its bootloader rely on, written out once as numbers. The other
// tests may take these from the product's constants; here a change to any of them
// fails, because the unit would no longer be asked what it needs.
struct Fact {
    const char* what;
    std::uint64_t is;
    std::uint64_t must;
};

TEST(UnitFacts, StayWhatTheUnitReliesOn) {
    const Fact facts[] = {
        {"pause between preparation steps, ms", kPreparationPauseMs, 20},
        {"pause after the erase, ms", kErasePauseMs, 4000},
        {"pause after each block, ms", kBlockPauseMs, 20},
        {"wait inside the erase for its reply, ms", kEraseReplyDelayMs, 1000},
        {"blocks of the 90224-byte image", blockCount(90224), 1880},
        {"limit of a write, ms", kWriteTimeoutMs, 10000},
        {"limit of a reply, ms", kReadTimeoutMs, 10000},
        {"limit of the erase's reply, ms", kEraseReadTimeoutMs, 60000},
        {"bytes of a block", kBlockBytes, 48},
        {"words of a block", kBlockWords, 12},
        {"most words a block request may announce", kMaxBlockWords, 14},
        {"confirmation value", kConfirmationValue, 0x3A7C52E9},
        {"unit information address", kUnitInfoAddress, 0x0801FC00},
        {"vendor id", UNIT_VENDOR_ID, 0x2E4A},
        {"TUNEPAD product id", PRODUCT_ID_TUNEPAD, 1},
        {"TuneBOX product id", PRODUCT_ID_TUNEBOX, 2},
        {"image version", FIRMWARE_IMAGE_VERSION, 0x0100},
    };
    for (const Fact& fact : facts) EXPECT_EQ(fact.is, fact.must) << fact.what;
}

TEST_F(UpdateRun, PausesStandWhereTheUnitNeedsThem) {
    readyUnit();
    rig.update();

    // Marks count trace lines: each exchange is a request line and a reply line.
    std::vector<std::pair<std::uint32_t, std::uint64_t>> expected = {
        {kPreparationPauseMs, 2},  // after the lock
        {kPreparationPauseMs, 4},  // after lifting the write protection
        {kEraseReplyDelayMs, 5},   // inside the erase, between its request and its reply
        {kErasePauseMs, 6},        // after the erase
        {kPreparationPauseMs, 6},  // before the write address
        {kPreparationPauseMs, 8},  // before the stream
    };
    for (std::uint64_t block = 1; block <= kBlocks; ++block)
        expected.push_back({kBlockPauseMs, 8 + 2 * block});
    ASSERT_EQ(rig.clock.pauses.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(rig.clock.pauses[i].ms, expected[i].first) << "pause " << i;
        EXPECT_EQ(rig.clock.pauses[i].mark, expected[i].second) << "pause " << i;
    }
    // All the program waits in an update of 1880 blocks.
    EXPECT_EQ(rig.clock.totalMs(), 42680u);
}

TEST_F(UpdateRun, PausesCanBeReadFromTheTraceAlone) {
    EmulatedUnit& unit = readyUnit();
    unit.config().replyLatencyMs = 2;
    rig.update();

    // Times between consecutive lines: a request to its reply, then that reply to
    // the next request.
    constexpr std::uint64_t kReply = 2;
    std::vector<std::uint64_t> expected = {
        kReply, kPreparationPauseMs,  // lock, then the pause
        kReply, kPreparationPauseMs,  // write protection off
        // the erase's own wait for its reply, then its pause and the step's
        kEraseReplyDelayMs, kErasePauseMs + kPreparationPauseMs, kReply,
        kPreparationPauseMs,  // write address, then the pause before the stream
    };
    for (std::size_t block = 1; block <= kBlocks; ++block) {
        expected.insert(expected.end(), {kReply, kBlockPauseMs});
    }
    expected.insert(expected.end(), {kReply, 0, kReply});  // protection on, lock reset: no pause

    const std::vector<std::string>& trace = rig.bus.trace();
    ASSERT_EQ(trace.size(), expected.size() + 1);
    TraceLine previous;
    ASSERT_TRUE(splitTraceLine(trace[0], previous));
    for (std::size_t i = 1; i < trace.size(); ++i) {
        TraceLine line;
        ASSERT_TRUE(splitTraceLine(trace[i], line)) << trace[i];
        ASSERT_EQ(line.entry[0], i % 2 == 0 ? '>' : '<') << "line " << i;
        ASSERT_EQ(line.ms - previous.ms, expected[i - 1]) << "before line " << i;
        previous = line;
    }
}

TEST_F(UpdateRun, FinishingCommandsThatFailLeaveTheRunSuccessful) {
    EmulatedUnit& unit = readyUnit();
    unit.addFault(faultOnCommand(FaultKind::errorStatus, CMD_WRITE_PROTECTION, 2, 0xE00A));
    unit.addFault(faultOnCommand(FaultKind::wrongEcho, CMD_SYSTEM_LOCK, 2));

    rig.update();

    EXPECT_EQ(rig.ui.callsStartingWith("box ").size(), 1u);
    EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), rig.ui.text(IDS_UPDATE_SUCCEEDED));
    EXPECT_TRUE(rig.app.link.isOpen());
    EXPECT_EQ(rig.ui.controlTextOf(IDC_VALUE_ESC),
              std::wstring(kImageVersionShown.begin(), kImageVersionShown.end()));
}

TEST_F(UpdateRun, TwoRunsSendTheSameImage) {
    const EmulatedUnit& unit = readyUnit();
    const std::vector<std::uint8_t> before = firmwareImage();
    rig.update();
    const std::vector<std::string> first = requestsOf(rig.bus.trace());
    rig.clearRecords();

    // Now the installed version equals the image's: the second box asks, Yes goes on.
    rig.ui.answerNextBox(kIdOk);
    rig.ui.answerNextBox(kIdYes);
    rig.update();

    EXPECT_EQ(rig.ui.callsStartingWith("box "),
              (std::vector<std::string>{confirmBox(), olderOrSameBox()}));
    EXPECT_EQ(requestsOf(rig.bus.trace()), first);
    EXPECT_EQ(firmwareImage(), before);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), unit.flash().begin()));
}

TEST_F(UpdateRun, NoLinkAtTheClickFailsWithoutConfirmation) {
    rig.ui.image = ImageView{firmwareImage().data(), firmwareImage().size()};
    rig.update();

    EXPECT_EQ(
        rig.ui.calls,
        lines({{"enable 1002 0"},
               ShellRig::panelClosedCalls(),
               {failureBox(IDS_NO_LINK_AT_UPDATE, L""), rig.hintCall(IDS_UPDATE_FAILED_HINT)}}));
    EXPECT_TRUE(rig.bus.trace().empty());
}

TEST_F(UpdateRun, CancelAtTheFirstBoxChangesNothing) {
    readyUnit(0x0200);
    for (const int answer : {kIdCancel, 0, kIdNo, kIdYes}) {
        rig.ui.answerNextBox(answer);
        rig.update();
    }
    EXPECT_EQ(rig.ui.calls, std::vector<std::string>(4, confirmBox()));
    EXPECT_TRUE(rig.bus.trace().empty());
    EXPECT_TRUE(rig.app.link.isOpen());
    EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), rig.ui.text(IDS_READY));
    EXPECT_TRUE(rig.ui.isEnabled(IDC_UPDATE));
}

TEST_F(UpdateRun, NoAtTheSecondBoxChangesNothing) {
    readyUnit(kImageVersion);
    for (const int answer : {kIdNo, kIdCancel, kIdOk}) {
        rig.ui.answerNextBox(kIdOk);
        rig.ui.answerNextBox(answer);
        rig.update();
    }
    EXPECT_EQ(rig.ui.calls, lines({{confirmBox(), olderOrSameBox()},
                                   {confirmBox(), olderOrSameBox()},
                                   {confirmBox(), olderOrSameBox()}}));
    EXPECT_TRUE(rig.bus.trace().empty());
    EXPECT_TRUE(rig.app.link.isOpen());
}

struct InstalledCase {
    std::uint16_t installed;
    bool asks;
};

void PrintTo(const InstalledCase& c, std::ostream* os) { *os << hex(c.installed); }

class OlderOrSame : public UpdateRun, public ::testing::WithParamInterface<InstalledCase> {};

TEST_P(OlderOrSame, AsksOnlyForAnInstalledVersionAtLeastTheImages) {
    readyUnit(GetParam().installed);
    // A missing image stops the run right after the questions.
    rig.ui.image = {};
    rig.ui.answerNextBox(kIdOk);
    rig.ui.answerNextBox(kIdYes);
    rig.update();

    std::vector<std::string> boxes{confirmBox()};
    if (GetParam().asks) boxes.push_back(olderOrSameBox());
    boxes.push_back(
        rig.boxCall(IDS_UPDATE_FAILED_CAPTION, rig.ui.text(IDS_IMAGE_DAMAGED), kMbIconError));
    EXPECT_EQ(rig.ui.callsStartingWith("box "), boxes);
}

INSTANTIATE_TEST_SUITE_P(
    UpdateRun, OlderOrSame,
    ::testing::Values(InstalledCase{kImageVersion, true}, InstalledCase{kImageVersion + 1, true},
                      InstalledCase{kImageVersion + 0x100, true}, InstalledCase{0xFFFE, true},
                      InstalledCase{kImageVersion - 1, false}, InstalledCase{0x0000, false},
                      InstalledCase{0xFFFF, false}),
    [](const ::testing::TestParamInfo<InstalledCase>& info) {
        return "Installed" + hex(info.param.installed);
    });

TEST_F(UpdateRun, UnitPulledOutUnderTheFirstBoxFailsAtTheLockWithoutCode) {
    readyUnit(0x0200);
    const std::wstring path = rig.app.link.devicePath;
    rig.ui.answerNextBox(kIdOk, [&] {
        rig.bus.unplug(path);
        rig.removal(path);
    });

    rig.update();

    EXPECT_EQ(rig.ui.callsStartingWith("box "),
              (std::vector<std::string>{confirmBox(), failureBox(IDS_SYSTEM_LOCK_FAILED, L"")}));
    EXPECT_EQ(requestsOf(rig.bus.trace()).size(), 0u);
    EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), rig.ui.text(IDS_UPDATE_FAILED_HINT));
    EXPECT_FALSE(rig.ui.preciseTiming);
}

TEST_F(UpdateRun, UnitReplugsAfterAFailedStreamAndTakesTheNextUpdate) {
    EmulatedUnit& unit = readyUnit();
    Fault unplug = faultOnCommand(FaultKind::unplug, CMD_WRITE_BLOCK, 940);
    unplug.replugAfterMs = 3000;
    unit.addFault(unplug);
    rig.update();
    ASSERT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), rig.ui.text(IDS_UPDATE_FAILED_HINT));
    EXPECT_TRUE(unit.systemLocked());

    // What the system announces, delivered to the dialog as its messages would be.
    const auto deliver = [&] {
        std::vector<PresenceChange> changes = rig.bus.takePresenceChanges();
        for (const PresenceChange& change : changes) {
            if (change.arrived) {
                rig.arrival(change.path);
            } else {
                rig.removal(change.path);
            }
        }
        return changes;
    };
    rig.clock.sleepMs(2999);
    std::vector<PresenceChange> changes = deliver();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_FALSE(changes[0].arrived);
    EXPECT_FALSE(rig.bus.present(changes[0].path));

    rig.clock.sleepMs(1);
    changes = deliver();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_TRUE(changes[0].arrived);
    // Powered up afresh, with the half-written flash kept: the probe reads the
    // version the image's first block put there.
    EXPECT_FALSE(unit.systemLocked());
    EXPECT_TRUE(unit.writeProtected());
    ASSERT_TRUE(rig.app.link.isOpen());
    const std::vector<std::uint8_t>& image = firmwareImage();
    const std::uint16_t halfWritten = static_cast<std::uint16_t>(image[4] | (image[5] << 8));
    EXPECT_EQ(rig.app.link.escFirmwareVersion(), halfWritten);
    EXPECT_TRUE(rig.ui.isEnabled(IDC_UPDATE));

    rig.ui.answerNextBox(kIdOk);
    if (halfWritten >= kImageVersion && halfWritten != 0xFFFF) rig.ui.answerNextBox(kIdYes);
    rig.update();
    EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), rig.ui.text(IDS_UPDATE_SUCCEEDED));
    EXPECT_TRUE(std::equal(image.begin(), image.end(), unit.flash().begin()));
    EXPECT_TRUE(rig.bus.takePresenceChanges().empty());
}

// A removal that the system delivers while the update's end drops the input must
// not change the link under the update before it has shown its outcome: it is
// looked at afterwards, and the success stays in the hint.
TEST_F(UpdateRun, RemovalDeliveredWhileInputIsDroppedWaitsForTheOutcome) {
    readyUnit();
    const std::wstring path = rig.app.link.devicePath;
    rig.ui.whileDiscarding = [&] {
        rig.bus.unplug(path);
        rig.removal(path);
        EXPECT_TRUE(rig.app.link.isOpen());
    };

    rig.update();

    EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL),
              rig.ui.text(IDS_UPDATE_SUCCEEDED) + L"\r\n\r\n" +
                  rig.hintWithInstructions(IDS_CONNECTION_LOST));
    EXPECT_FALSE(rig.app.link.isOpen());
    EXPECT_EQ(rig.bus.openHandleCount(), 0u);
    EXPECT_FALSE(rig.ui.isEnabled(IDC_UPDATE));
}

// "Update" and "Close" sent by another program while the run's input is dropped, or
// while the failure's box stands, start no second run and end nothing; the minimise
// kept from the run acts only once the box has been answered.
TEST_F(UpdateRun, CommandsDuringTheRunStartNothingAndKeptCommandsActAfterTheOutcome) {
    EmulatedUnit& unit = readyUnit();
    unit.addFault(faultOnCommand(FaultKind::errorStatus, CMD_WRITE_BLOCK, 3, 0xE005));
    const auto sendBoth = [&] {
        EXPECT_TRUE(handleCommand(rig.app, IDC_UPDATE, rig.ui));
        EXPECT_TRUE(handleCommand(rig.app, IDC_CLOSE, rig.ui));
    };
    rig.ui.whileDiscarding = sendBoth;
    rig.ui.answerNextBox(kIdOk);
    rig.ui.answerNextBox(kIdOk, sendBoth);
    rig.ui.keptCommandsMinimise = true;

    EXPECT_TRUE(handleCommand(rig.app, IDC_UPDATE, rig.ui));
    // The minimise hid the failure's hint right after it was announced: it is announced
    // again once, at the next activation.
    dialogActivated(rig.app);
    dialogActivated(rig.app);
    const std::wstring failed = rig.ui.text(IDS_UPDATE_FAILED_HINT);
    EXPECT_EQ(rig.ui.heard, test::FakeSurface::Heard(2, {failed, failed}));

    EXPECT_EQ(rig.ui.callsStartingWith("box ").size(), 2u);
    EXPECT_TRUE(rig.ui.callsStartingWith("end ").empty());
    EXPECT_EQ(rig.ui.calls.back(), rig.hintCall(IDS_UPDATE_FAILED_HINT));
    EXPECT_EQ(rig.ui.keptCommandsActedAfter, std::vector<std::size_t>{rig.ui.calls.size()});
    // Afterwards, "Close" acts again.
    EXPECT_TRUE(handleCommand(rig.app, IDC_CLOSE, rig.ui));
    EXPECT_EQ(rig.ui.calls.back(), "end 2");
}

// However late the removal of a link whose update succeeded is heard, the success
// stays above the lost connection.
TEST_F(UpdateRun, RemovalHeardAfterASuccessKeepsTheSuccessAboveTheLostConnection) {
    readyUnit();
    rig.update();
    // Heard in front: not again at an activation. The removal comes while another
    // program is in front: the lost connection, the current hint, is announced again
    // once at the next activation.
    dialogActivated(rig.app);
    rig.ui.front = false;
    const std::wstring path = rig.app.link.devicePath;
    rig.bus.unplug(path);
    rig.removal(path);
    rig.ui.front = true;
    dialogActivated(rig.app);
    dialogActivated(rig.app);
    const std::wstring lost = rig.ui.text(IDS_CONNECTION_LOST);
    const std::wstring shown = rig.ui.controlTextOf(IDC_HINT_PANEL);
    EXPECT_EQ(rig.ui.heard, test::FakeSurface::Heard({{rig.ui.text(IDS_UPDATE_SUCCEEDED),
                                                       rig.ui.text(IDS_UPDATE_SUCCEEDED)},
                                                      {lost, shown},
                                                      {lost, shown}}));

    EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL),
              rig.ui.text(IDS_UPDATE_SUCCEEDED) + L"\r\n\r\n" +
                  rig.hintWithInstructions(IDS_CONNECTION_LOST));
    EXPECT_FALSE(rig.app.link.isOpen());
}

struct DamageCase {
    const char* name;
    std::function<std::vector<std::uint8_t>()> image;
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

class DamagedImage : public UpdateRun, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedImage, EndsBeforeAnythingIsSentAndKeepsTheLink) {
    readyUnit();
    const std::vector<std::uint8_t> damaged = GetParam().image();
    rig.ui.image = ImageView{damaged.data(), damaged.size()};

    rig.update();

    EXPECT_EQ(rig.ui.calls,
              (std::vector<std::string>{
                  confirmBox(), shutdownHeld(), "timing 1", "image", "timing 0", "release shutdown",
                  "discard input", "hold fresh keys",
                  rig.boxCall(IDS_UPDATE_FAILED_CAPTION,
                              L"The firmware image inside this updater is missing or damaged. "
                              L"Nothing was sent to the ESC. Please download the updater again.",
                              kMbIconError)}));
    EXPECT_TRUE(rig.bus.trace().empty());
    EXPECT_TRUE(rig.app.link.isOpen());
    EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), rig.ui.text(IDS_READY));
    EXPECT_TRUE(rig.ui.isEnabled(IDC_UPDATE));
}

INSTANTIATE_TEST_SUITE_P(
    UpdateRun, DamagedImage,
    ::testing::Values(DamageCase{"OneBitFlipped",
                                 [] {
                                     std::vector<std::uint8_t> image = firmwareImage();
                                     image[45000] ^= 0x10;
                                     return image;
                                 }},
                      DamageCase{"LastWordMissing",
                                 [] {
                                     std::vector<std::uint8_t> image = firmwareImage();
                                     image.resize(image.size() - 4);
                                     return image;
                                 }},
                      DamageCase{"OneByteMore",
                                 [] {
                                     std::vector<std::uint8_t> image = firmwareImage();
                                     image.push_back(0xFF);
                                     return image;
                                 }},
                      DamageCase{"Missing", [] { return std::vector<std::uint8_t>(); }}),
    [](const ::testing::TestParamInfo<DamageCase>& info) { return std::string(info.param.name); });

// One failing place of the run: the fault, the text and code line it must give,
// and how many requests went out in all (the failing one included).
struct FailureCase {
    const char* name;
    Fault fault;
    std::uint32_t messageId;
    const wchar_t* codeLine;
    std::size_t requests;
    bool streamed;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class FailingStep : public UpdateRun, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailingStep, ReportsTheStepAndSendsNothingMore) {
    const FailureCase& c = GetParam();
    EmulatedUnit& unit = readyUnit();
    unit.addFault(c.fault);
    std::uint64_t slept = 0;
    std::size_t callsBeforeBox = 0;
    rig.ui.answerNextBox(kIdOk);
    rig.ui.answerNextBox(kIdOk, [&] {
        slept = rig.clock.totalMs();
        callsBeforeBox = rig.ui.calls.size() - 1;
        // While the box is open the link is closed and the panel shows it.
        EXPECT_FALSE(rig.app.link.isOpen());
        EXPECT_FALSE(rig.ui.isEnabled(IDC_UPDATE));
        EXPECT_EQ(rig.ui.controlTextOf(IDC_VALUE_ESC), L"0.0.0");
        EXPECT_FALSE(rig.ui.preciseTiming);
    });

    rig.update();

    EXPECT_EQ(rig.ui.unansweredBoxes(), 0u);
    EXPECT_EQ(rig.ui.callsStartingWith("box ").back(), failureBox(c.messageId, c.codeLine));
    EXPECT_EQ(rig.ui.calls.back(), rig.hintCall(IDS_UPDATE_FAILED_HINT));
    EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), rig.ui.text(IDS_UPDATE_FAILED_HINT));
    const std::wstring shown = rig.ui.controlTextOf(IDC_HINT_PANEL);
    EXPECT_EQ(rig.ui.heard, test::FakeSurface::Heard({{shown, shown}}));  // whole, once
    EXPECT_FALSE(rig.app.link.isOpen());
    EXPECT_EQ(rig.bus.openHandleCount(), 0u);
    EXPECT_EQ(unit.commandLog().size(), 3 + c.requests);  // the probe's three first
    EXPECT_EQ(unit.commandLog().back(), c.fault.command);

    const std::vector<std::string> beforeBox(rig.ui.calls.begin(),
                                             rig.ui.calls.begin() + callsBeforeBox);
    const bool destroyed =
        std::find(beforeBox.begin(), beforeBox.end(), "destroy progress") != beforeBox.end();
    EXPECT_EQ(destroyed, c.streamed);
    // The reason not to shut down goes with the run, before anything is shown; keys
    // pressed during the run would otherwise answer the box unseen.
    const auto released = std::find(beforeBox.begin(), beforeBox.end(), "release shutdown");
    ASSERT_LT(released + 1, beforeBox.end());
    EXPECT_EQ(released[1], "discard input");
    EXPECT_EQ(std::count(beforeBox.begin(), beforeBox.end(), "discard input"), 1);
    // New keys are held from the box on, after the link's close and the panel.
    EXPECT_EQ(beforeBox.back(), "hold fresh keys");
    EXPECT_EQ(rig.ui.callsStartingWith("create ").size(), c.streamed ? 1u : 0u);
    if (c.fault.command == CMD_ERASE_FIRMWARE) {
        // Lock, unlock, the erase's own wait and the 4000 ms after it.
        EXPECT_EQ(slept, 20u + 20u + 1000u + 4000u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    UpdateRun, FailingStep,
    ::testing::Values(
        FailureCase{"LockNotEchoed", faultOnCommand(FaultKind::wrongEcho, CMD_SYSTEM_LOCK),
                    IDS_SYSTEM_LOCK_FAILED,
                    L"The system shows following errorcode: 0x0000065b-0x00000000", 1, false},
        FailureCase{"LockWriteFails", faultOnCommand(FaultKind::writeFails, CMD_SYSTEM_LOCK),
                    IDS_SYSTEM_LOCK_FAILED,
                    L"The system shows following errorcode: 0xfffffffe-0x0000001f", 1, false},
        FailureCase{"UnprotectRefused",
                    faultOnCommand(FaultKind::errorStatus, CMD_WRITE_PROTECTION, 1, 0xE00A),
                    IDS_WRITE_PROTECTION_FAILED,
                    L"The system shows following errorcode: 0x0000e00a-0x00000000", 2, false},
        FailureCase{"EraseReadFails", faultOnCommand(FaultKind::readFails, CMD_ERASE_FIRMWARE),
                    IDS_ERASE_FAILED,
                    L"The system shows following errorcode: 0xfffffffd-0x0000001f", 3, false},
        FailureCase{"AddressRefused",
                    faultOnCommand(FaultKind::errorStatus, CMD_SET_ADDRESS, 1, 0xE004),
                    IDS_SET_ADDRESS_FAILED,
                    L"The system shows following errorcode: 0x0000e004-0x00000000", 4, false},
        FailureCase{"FirstBlockRefused",
                    faultOnCommand(FaultKind::errorStatus, CMD_WRITE_BLOCK, 1, 0xE005),
                    IDS_WRITE_BLOCK_FAILED,
                    L"The system shows following errorcode: 0x0000e005-0x00000000", 5, true},
        FailureCase{"MiddleBlockReadFails",
                    faultOnCommand(FaultKind::readFails, CMD_WRITE_BLOCK, 940),
                    IDS_WRITE_BLOCK_FAILED,
                    L"The system shows following errorcode: 0xfffffffd-0x0000001f", 4 + 940, true},
        FailureCase{"LastBlockUnplugged", faultOnCommand(FaultKind::unplug, CMD_WRITE_BLOCK, 1880),
                    IDS_WRITE_BLOCK_FAILED,
                    L"The system shows following errorcode: 0xfffffffe-0x0000048f", 4 + 1880,
                    true}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// The second number is the failing exchange's own: a device error after transfers
// that went through shows 0, not what discovery failed at before, and a failed
// transfer shows its own code.
TEST_F(UpdateRun, LastErrorBelongsToTheFailingExchange) {
    rig.bus.addOtherDevice(0x046D, 0xC52B);
    rig.bus.failures(rig.bus.pathAt(0)).openFails = true;  // leaves last error 5
    EmulatedUnit& unit = readyUnit();
    ASSERT_EQ(rig.bus.lastError(), 5u);
    unit.addFault(faultOnCommand(FaultKind::errorStatus, CMD_SET_ADDRESS, 1, 0xE004));
    rig.ui.answerNextBox(kIdOk);
    rig.update();
    EXPECT_EQ(rig.ui.callsStartingWith("box ").back(),
              failureBox(IDS_SET_ADDRESS_FAILED,
                         L"The system shows following errorcode: 0x0000e004-0x00000000"));
}

TEST_F(UpdateRun, FailureInGermanUsesTheGermanCodeLine) {
    EmulatedUnit& unit = readyUnit();
    rig.ui.language = Language::german;
    unit.addFault(faultOnCommand(FaultKind::wrongEcho, CMD_SYSTEM_LOCK));
    rig.update();
    EXPECT_EQ(
        rig.ui.callsStartingWith("box ").back(),
        "box Update fehlgeschlagen! | System-Lock der Programmiereinheit konnte nicht gesetzt "
        "werden. Das Update wird abgebrochen.\r\nDas System meldet Fehlercode "
        "0x0000065b-0x00000000 | 0x10");
}

}  // namespace
}  // namespace orvanta
