// Following the programming unit: how each probe result is judged at start-up and at
// an arrival, removals, nested notifications under a message box, and the hint panel.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/shell.h"
#include "emulator/emulated_bus.h"
#include "resources/resource_ids.h"
#include "resources/text_format.h"
#include "tests/fake_surface.h"
#include "update/update.h"

namespace orvanta {
namespace {

using test::lines;
using test::ShellRig;
using test::utf8;

constexpr std::uint32_t kIncompatibleType = 0x110FA0D3;

// One row of the judgement: how the unit is set up and what the dialog then says.
struct RowCase {
    const char* name;
    std::function<void(UnitConfig&)> setUp;
    std::uint32_t hintId;  // 0: the ready text, alone
    bool incompatibleBox;
    Language language = Language::english;
};

void PrintTo(const RowCase& c, std::ostream* os) { *os << c.name; }

const RowCase kRows[] = {
    {"WrongMode", [](UnitConfig& c) { c.unitMode = 1; }, IDS_WRONG_MODE, false},
    {"NoBootloaderReady", [](UnitConfig& c) { c.escState = 2; }, IDS_NO_UPDATABLE_ESC, false},
    // 16 bits: 0x0103 is not 3.
    {"EscStateWithHighByte", [](UnitConfig& c) { c.escState = 0x0103; }, IDS_NO_UPDATABLE_ESC,
     false},
    {"ReadyFirstType", [](UnitConfig& c) { c.escTypeCode = 0x110FA0D2; }, 0, false},
    {"ReadySecondType", [](UnitConfig& c) { c.escTypeCode = 0x0A0640D2; }, 0, false},
    {"Incompatible", [](UnitConfig& c) { c.escTypeCode = kIncompatibleType; }, IDS_INCOMPATIBLE_ESC,
     true},
    // A bootloader that reports no type at all is no compatible ESC either.
    {"NoTypeCode", [](UnitConfig& c) { c.escTypeCode = 0; }, IDS_INCOMPATIBLE_ESC, true},
    {"IncompatibleInGerman", [](UnitConfig& c) { c.escTypeCode = kIncompatibleType; },
     IDS_INCOMPATIBLE_ESC, true, Language::german},
};

class ClassifyRow : public ::testing::TestWithParam<RowCase> {
protected:
    void SetUp() override {
        UnitConfig config;
        GetParam().setUp(config);
        rig.bus.addUnit(config);
        rig.ui.language = GetParam().language;
    }

    // Once, over the whole hint: a refusal's situation line, the ready text up to its note.
    test::FakeSurface::Heard heard() const {
        const std::wstring ready = rig.ui.text(IDS_READY);
        if (GetParam().hintId == 0) return {{ready.substr(0, ready.find(L"\r\n\r\n")), ready}};
        return {{rig.ui.text(GetParam().hintId), rig.hintWithInstructions(GetParam().hintId)}};
    }

    std::vector<std::string> boxCalls() const {
        if (!GetParam().incompatibleBox) return {};
        return {
            rig.boxCall(IDS_INCOMPATIBLE_CAPTION, incompatibleText(), kMbOk | kMbIconInformation)};
    }
    std::wstring incompatibleText() const {
        return formatMessage(rig.ui.text(IDS_INCOMPATIBLE_TEXT), {kModelString});
    }
    static std::vector<std::string> readyPanel() {
        return ShellRig::panelOpenCalls("1.5", "1.2", "0.9", "TUNE-BOX");
    }

    ShellRig rig;
};

TEST_P(ClassifyRow, AtStartUp) {
    const LinkStatus status = openLink(rig.app.link);
    ASSERT_EQ(status, kStatusOk);
    classifyUnit(rig.app, status, ProbeVariant::startUp);

    const RowCase& row = GetParam();
    if (row.hintId == 0) {
        EXPECT_EQ(rig.ui.calls, lines({{rig.hintCall(IDS_READY), "enable 1002 1"}, readyPanel()}));
        EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), rig.ui.text(IDS_READY));
        EXPECT_TRUE(rig.app.link.isOpen());
    } else {
        EXPECT_EQ(rig.ui.calls, lines({{"enable 1002 0"},
                                       boxCalls(),
                                       rig.hintWithInstructionsCalls(row.hintId),
                                       ShellRig::panelClosedCalls()}));
        EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), rig.hintWithInstructions(row.hintId));
        EXPECT_FALSE(rig.app.link.isOpen());
        EXPECT_EQ(rig.bus.openHandleCount(), 0u);
    }
    EXPECT_EQ(rig.ui.heard, heard());
}

TEST_P(ClassifyRow, AtArrival) {
    EXPECT_TRUE(rig.arrival(rig.bus.pathAt(0)));

    const RowCase& row = GetParam();
    if (row.hintId == 0) {
        EXPECT_EQ(rig.ui.calls,
                  lines({{rig.hintCall(IDS_READY)}, readyPanel(), {"enable 1002 1"}}));
        EXPECT_TRUE(rig.app.link.isOpen());
    } else {
        // The panel already shows the closed link, so it is left alone.
        EXPECT_EQ(
            rig.ui.calls,
            lines({{"enable 1002 0"}, boxCalls(), rig.hintWithInstructionsCalls(row.hintId)}));
        EXPECT_FALSE(rig.app.link.isOpen());
        EXPECT_EQ(rig.bus.openHandleCount(), 0u);
    }
    EXPECT_EQ(rig.ui.heard, heard());
}

INSTANTIATE_TEST_SUITE_P(DevicePresence, ClassifyRow, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<RowCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(DevicePresence, NoUnitAtStartUpSaysSoAndShowsTheEmptyPanel) {
    ShellRig rig;
    rig.bus.addOtherDevice(0x046D, 0xC52B);
    classifyUnit(rig.app, openLink(rig.app.link), ProbeVariant::startUp);
    EXPECT_EQ(rig.ui.calls, lines({{"enable 1002 0"},
                                   rig.hintWithInstructionsCalls(IDS_NO_UNIT),
                                   ShellRig::panelClosedCalls()}));
}

// A unit that another program holds is named as such, at start-up and at an arrival,
// and is found ready once the other program has let it go and it is plugged in again.
TEST(DevicePresence, UnitHeldByAnotherProgramHasItsOwnHint) {
    ShellRig rig;
    UnitConfig held;
    held.heldByOtherProgram = true;
    EmulatedUnit& unit = rig.bus.addUnit(held);
    classifyUnit(rig.app, openLink(rig.app.link), ProbeVariant::startUp);
    EXPECT_EQ(rig.ui.calls, lines({{"enable 1002 0"},
                                   rig.hintWithInstructionsCalls(IDS_UNIT_BUSY),
                                   ShellRig::panelClosedCalls()}));

    rig.ui.calls.clear();
    EXPECT_TRUE(rig.arrival(rig.bus.pathAt(0)));
    EXPECT_EQ(rig.ui.calls,
              lines({{"enable 1002 0"}, rig.hintWithInstructionsCalls(IDS_UNIT_BUSY)}));
    EXPECT_EQ(rig.bus.openHandleCount(), 0u);

    unit.config().heldByOtherProgram = false;
    EXPECT_TRUE(rig.arrival(rig.bus.pathAt(0)));
    EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), rig.ui.text(IDS_READY));
}

TEST(DevicePresence, FailedProbeAtStartUpClosesWhatTheOpenLeftOpen) {
    ShellRig rig;
    EmulatedUnit& unit = rig.bus.addUnit();
    unit.addFault(faultOnCommand(FaultKind::readFails, CMD_READ_BOOTLOADER_INFO));
    const LinkStatus status = openLink(rig.app.link);
    ASSERT_EQ(status, kStatusReadFailed);
    ASSERT_TRUE(rig.app.link.isOpen());

    classifyUnit(rig.app, status, ProbeVariant::startUp);

    EXPECT_FALSE(rig.app.link.isOpen());
    EXPECT_EQ(rig.bus.openHandleCount(), 0u);
    EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), rig.hintWithInstructions(IDS_NO_UNIT));
}

TEST(DevicePresence, GermanCatalogueGivesGermanBoxAndHint) {
    ShellRig rig;
    rig.ui.language = Language::german;
    UnitConfig config;
    config.escTypeCode = kIncompatibleType;
    rig.bus.addUnit(config);

    classifyUnit(rig.app, openLink(rig.app.link), ProbeVariant::startUp);

    ASSERT_FALSE(rig.ui.callsStartingWith("box ").empty());
    const std::string box = rig.ui.callsStartingWith("box ")[0];
    EXPECT_EQ(
        box.rfind("box Regler inkompatibel | Mit diesem Updater läßt sich ausschließlich "
                  "die Firmware von VARIDYNE Reglern des Typs 'ORVANTA 210 HV' aktualisieren.",
                  0),
        0u)
        << box;
    EXPECT_EQ(utf8(rig.ui.controlTextOf(IDC_HINT_PANEL)).rfind("Der an der Programmiereinheit", 0),
              0u);
}

// Arrivals and removals around one unit, given its path.
class DeviceChange : public ::testing::Test {
protected:
    const std::wstring& addReadyUnit() {
        rig.bus.addUnit();
        return rig.bus.pathAt(rig.bus.interfaceCount() - 1);
    }
    void openAtStartUp() {
        classifyUnit(rig.app, openLink(rig.app.link), ProbeVariant::startUp);
        ASSERT_TRUE(rig.app.link.isOpen());
        rig.clearRecords();
    }
    static std::wstring upper(std::wstring text) {
        for (wchar_t& c : text) {
            if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        }
        return text;
    }

    ShellRig rig;
};

TEST_F(DeviceChange, RemovalOfTheOpenUnitUnderAnotherCaseClosesTheLink) {
    const std::wstring path = addReadyUnit();
    openAtStartUp();
    rig.bus.unplug(path);
    ASSERT_NE(upper(path), path);

    EXPECT_TRUE(rig.removal(upper(path)));

    EXPECT_FALSE(rig.app.link.isOpen());
    EXPECT_EQ(rig.bus.openHandleCount(), 0u);
    EXPECT_EQ(rig.ui.calls, lines({{"enable 1002 0"},
                                   ShellRig::panelClosedCalls(),
                                   rig.hintWithInstructionsCalls(IDS_CONNECTION_LOST)}));
}

TEST_F(DeviceChange, RemovalsThatAreNotTheOpenUnitChangeNothing) {
    const std::wstring path = addReadyUnit();
    rig.bus.addOtherDevice(0x046D, 0xC52B, L"\\\\?\\hid#vid_046d&pid_c52b#mouse");

    EXPECT_TRUE(rig.removal(path));  // while closed
    openAtStartUp();
    EXPECT_TRUE(rig.removal(L"\\\\?\\hid#vid_046d&pid_c52b#mouse"));
    EXPECT_TRUE(rig.removal(path + L"x"));
    EXPECT_TRUE(rig.removal(path.substr(0, path.size() - 1)));
    const DeviceBroadcast volume{false, path};
    EXPECT_TRUE(handleDeviceChange(rig.app, DeviceEvent::removeComplete, &volume));
    EXPECT_TRUE(handleDeviceChange(rig.app, DeviceEvent::removeComplete, nullptr));

    EXPECT_TRUE(rig.ui.calls.empty());
    EXPECT_TRUE(rig.app.link.isOpen());
}

TEST_F(DeviceChange, OnlyArrivalAndRemovalAreFollowed) {
    const std::wstring path = addReadyUnit();
    openAtStartUp();
    const DeviceBroadcast record{true, path};
    EXPECT_FALSE(handleDeviceChange(rig.app, DeviceEvent::other, &record));
    EXPECT_FALSE(handleDeviceChange(rig.app, DeviceEvent::other, nullptr));
    EXPECT_TRUE(rig.ui.calls.empty());
    EXPECT_TRUE(rig.app.link.isOpen());
}

TEST_F(DeviceChange, ArrivalOfAnotherHidDeviceWithoutUnitChangesNothing) {
    rig.bus.addOtherDevice(0x046D, 0xC31C);
    EXPECT_TRUE(rig.arrival(rig.bus.pathAt(0)));
    const DeviceBroadcast volume{false, L"E:"};
    EXPECT_TRUE(handleDeviceChange(rig.app, DeviceEvent::arrival, &volume));
    EXPECT_TRUE(handleDeviceChange(rig.app, DeviceEvent::arrival, nullptr));

    EXPECT_TRUE(rig.ui.calls.empty());
    EXPECT_TRUE(rig.bus.trace().empty());
    EXPECT_FALSE(rig.app.link.isOpen());
}

TEST_F(DeviceChange, AnyArrivalProbesAConnectedButRefusedUnitAgain) {
    UnitConfig config;
    config.escTypeCode = kIncompatibleType;
    rig.bus.addUnit(config);
    classifyUnit(rig.app, openLink(rig.app.link), ProbeVariant::startUp);
    rig.bus.addOtherDevice(0x046D, 0xC31C, L"\\\\?\\hid#keyboard");
    rig.clearRecords();

    EXPECT_TRUE(rig.arrival(L"\\\\?\\hid#keyboard"));

    EXPECT_EQ(rig.ui.callsStartingWith("box ").size(), 1u);
    EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), rig.hintWithInstructions(IDS_INCOMPATIBLE_ESC));
    EXPECT_FALSE(rig.app.link.isOpen());
}

TEST_F(DeviceChange, SecondUnitWaitsForTheNextArrivalAfterTheFirstIsGone) {
    const std::wstring first = addReadyUnit();
    openAtStartUp();
    UnitConfig tunepad;
    tunepad.productId = PRODUCT_ID_TUNEPAD;
    rig.bus.addUnit(tunepad);
    const std::wstring second = rig.bus.pathAt(1);
    EXPECT_TRUE(rig.arrival(second));
    EXPECT_TRUE(rig.ui.calls.empty());
    EXPECT_EQ(rig.bus.openCount(second), 0u);
    EXPECT_TRUE(rig.bus.trace().empty());
    EXPECT_EQ(rig.app.link.devicePath, first);

    rig.bus.unplug(first);
    EXPECT_TRUE(rig.removal(first));
    EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), rig.hintWithInstructions(IDS_CONNECTION_LOST));
    EXPECT_FALSE(rig.app.link.isOpen());
    EXPECT_EQ(rig.bus.openCount(second), 0u);
    EXPECT_EQ(rig.ui.controlTextOf(IDC_LABEL_UNIT), L"TUNE-BOX");

    EXPECT_TRUE(rig.arrival(L"\\\\?\\hid#anything"));
    EXPECT_EQ(rig.app.link.devicePath, second);
    EXPECT_EQ(rig.ui.controlTextOf(IDC_LABEL_UNIT), L"TUNEPAD");
    EXPECT_TRUE(rig.ui.isEnabled(IDC_UPDATE));
}

TEST_F(DeviceChange, ArrivalWhoseProbeFailsClosesTheLinkAndSaysNoUnit) {
    const std::wstring path = addReadyUnit();
    EmulatedUnit& unit = *rig.bus.unitAt(path);
    unit.addFault(faultOnCommand(FaultKind::errorStatus, CMD_READ_ESC_INFO, 1, 0x0042));

    EXPECT_TRUE(rig.arrival(path));

    EXPECT_EQ(rig.ui.calls, lines({{"enable 1002 0"},
                                   rig.hintWithInstructionsCalls(IDS_NO_UNIT),
                                   ShellRig::panelClosedCalls()}));
    EXPECT_FALSE(rig.app.link.isOpen());
    EXPECT_EQ(rig.bus.openHandleCount(), 0u);

    // Not stuck on the failed unit: the next arrival probes it again.
    rig.clearRecords();
    EXPECT_TRUE(rig.arrival(path));
    EXPECT_TRUE(rig.app.link.isOpen());
    EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), rig.ui.text(IDS_READY));
}

// While the incompatible box is open, arrivals are only noted: no box nests in it.
// Once it is dismissed and its hint written, one probe follows, at start-up and at
// an arrival alike, and what it finds is what the dialog shows.
TEST_F(DeviceChange, ArrivalsUnderTheIncompatibleBoxWaitForItAndCountOnce) {
    for (const ProbeVariant variant : {ProbeVariant::startUp, ProbeVariant::arrival}) {
        ShellRig local;
        UnitConfig config;
        config.escTypeCode = kIncompatibleType;
        local.bus.addUnit(config);
        const std::wstring incompatible = local.bus.pathAt(0);
        const std::wstring good = L"\\\\?\\hid#vid_2e4a&pid_0002#good";
        local.bus.addUnit({}, good);
        local.bus.unplug(good);

        // While the box is open the user swaps the unit for one with a compatible ESC;
        // the system reports twenty arrivals meanwhile.
        std::size_t callsWhileOpen = 0;
        local.ui.answerNextBox(kIdOk, [&] {
            const std::size_t before = local.ui.calls.size();
            local.bus.unplug(incompatible);
            EXPECT_TRUE(local.removal(incompatible));
            local.bus.plug(good);
            for (int i = 0; i < 20; ++i) EXPECT_TRUE(local.arrival(good));
            callsWhileOpen = local.ui.calls.size() - before;
        });

        if (variant == ProbeVariant::startUp) {
            initialiseDialog(local.app);
        } else {
            EXPECT_TRUE(local.arrival(incompatible));
        }

        EXPECT_EQ(callsWhileOpen, 0u);
        EXPECT_EQ(local.ui.callsStartingWith("box ").size(), 1u);
        EXPECT_EQ(local.ui.unansweredBoxes(), 0u);
        EXPECT_EQ(local.bus.unitAt(good)->commandCount(CMD_IDENTIFY), 1u);
        EXPECT_TRUE(local.app.link.isOpen());
        EXPECT_EQ(local.app.link.devicePath, good);
        EXPECT_EQ(local.ui.controlTextOf(IDC_HINT_PANEL), local.ui.text(IDS_READY));
        EXPECT_TRUE(local.ui.isEnabled(IDC_UPDATE));
        EXPECT_EQ(local.ui.controlTextOf(IDC_VALUE_ESC), L"0.9");
    }
}

TEST(HintPanel, AppendKeepsEverythingAndReplaceReplaces) {
    ShellRig rig;
    setHintText(rig.ui, L"first", true);
    EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), L"first");

    const std::wstring longText(3000, L'a');
    const std::wstring more(2500, L'b');
    setHintText(rig.ui, longText, false);
    setHintText(rig.ui, more, true);
    EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), longText + more);

    setHintText(rig.ui, L"", true);
    EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), longText + more);
    setHintText(rig.ui, L"x", false);
    EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), L"x");
}

TEST(HintPanel, LongestInstructionsComeThroughWhole) {
    ShellRig rig;
    rig.ui.language = Language::german;
    setHintWithInstructions(rig.app, IDS_NO_UNIT);
    const std::wstring hint = rig.ui.controlTextOf(IDC_HINT_PANEL);
    EXPECT_EQ(hint, rig.hintWithInstructions(IDS_NO_UNIT));
    EXPECT_NE(hint.find(L"Windows\u2122PC"), std::wstring::npos);
}

// Device changes the dialog never heard because its thread was busy: the unit pulled
// and plugged in again while a probe or the update waited, or pulled at the update's
// last request. Each ends with the unit found ready, as if every notification had
// come through.
struct MissedCase {
    const char* name;
    // The pause during which the user pulls the unit and plugs it in again; 0: none.
    std::uint32_t replugDuringPauseMs;
    std::function<void(ShellRig&, EmulatedUnit&, const std::wstring&)> play;
    std::size_t failureBoxes;
};

void PrintTo(const MissedCase& c, std::ostream* os) { *os << c.name; }

class MissedDeviceChange : public ::testing::TestWithParam<MissedCase> {};

TEST_P(MissedDeviceChange, EndsWithTheUnitFoundReady) {
    const MissedCase& c = GetParam();
    ShellRig rig;
    EmulatedUnit& unit = rig.bus.addUnit();
    const std::wstring path = rig.bus.pathAt(0);
    rig.ui.image = ImageView{test::firmwareImage().data(), test::firmwareImage().size()};
    // The clock only moves in pauses, so the length of this one is the distance
    // from the last.
    bool replugged = false;
    std::uint64_t lastPauseEnd = 0;
    rig.clock.mark = [&] {
        const std::uint64_t pausedMs = rig.clock.nowMs() - lastPauseEnd;
        lastPauseEnd = rig.clock.nowMs();
        if (!replugged && pausedMs == c.replugDuringPauseMs) {
            replugged = true;
            rig.bus.unplug(path);
            rig.bus.plug(path);
        }
        return std::uint64_t{0};
    };
    c.play(rig, unit, path);

    EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL), rig.ui.text(IDS_READY));
    EXPECT_TRUE(rig.app.link.isOpen());
    EXPECT_TRUE(rig.ui.isEnabled(IDC_UPDATE));
    EXPECT_EQ(rig.bus.openHandleCount(), 1u);
    HidAttributes attributes;
    EXPECT_TRUE(rig.bus.attributes(rig.app.link.handle, attributes)) << "the link's handle is dead";
    EXPECT_EQ(rig.ui.callsStartingWith("box " + test::utf8(rig.ui.text(IDS_UPDATE_FAILED_CAPTION)))
                  .size(),
              c.failureBoxes);
}

INSTANTIATE_TEST_SUITE_P(
    DeviceChange, MissedDeviceChange,
    ::testing::Values(
        MissedCase{"SilentUnitReplugsWhileTheStartUpProbeWaits", kReadTimeoutMs,
                   [](ShellRig& rig, EmulatedUnit& unit, const std::wstring&) {
                       unit.addFault(faultOnCommand(FaultKind::noAnswer, CMD_IDENTIFY));
                       probeAtStartUp(rig.app);
                   },
                   0},
        MissedCase{"SilentUnitReplugsWhileTheArrivalProbeWaits", kReadTimeoutMs,
                   [](ShellRig& rig, EmulatedUnit& unit, const std::wstring& path) {
                       unit.addFault(faultOnCommand(FaultKind::noAnswer, CMD_READ_ESC_INFO));
                       rig.arrival(path);
                   },
                   0},
        MissedCase{"UnitReplugsDuringTheEraseWait", kErasePauseMs,
                   [](ShellRig& rig, EmulatedUnit&, const std::wstring&) {
                       probeAtStartUp(rig.app);
                       rig.update();
                   },
                   1},
        MissedCase{"UnitPulledAtTheLastRequestComesBack", 0,
                   [](ShellRig& rig, EmulatedUnit& unit, const std::wstring& path) {
                       probeAtStartUp(rig.app);
                       unit.addFault(faultOnCommand(FaultKind::unplug, CMD_WRITE_PROTECTION, 2));
                       rig.update();
                       EXPECT_EQ(rig.ui.controlTextOf(IDC_HINT_PANEL),
                                 rig.ui.text(IDS_UPDATE_SUCCEEDED) + L"\r\n\r\n" +
                                     rig.hintWithInstructions(IDS_CONNECTION_LOST));
                       // The success was heard when it came: the lost connection alone.
                       EXPECT_EQ(rig.ui.heard.back().first, rig.ui.text(IDS_CONNECTION_LOST));
                       EXPECT_FALSE(rig.app.link.isOpen());
                       rig.bus.plug(path);
                       rig.arrival(path);
                   },
                   0},
        MissedCase{"RemovalNeverHeardBeforeTheArrival", 0,
                   [](ShellRig& rig, EmulatedUnit&, const std::wstring& path) {
                       probeAtStartUp(rig.app);
                       rig.bus.unplug(path);
                       rig.bus.plug(path);
                       rig.arrival(path);
                   },
                   0}),
    [](const ::testing::TestParamInfo<MissedCase>& info) { return std::string(info.param.name); });

TEST(DevicePaths, FoldOnlyAsciiLetters) {
    EXPECT_TRUE(devicePathsEqual(L"\\\\?\\HID#VID_2E4A&PID_0002", L"\\\\?\\hid#vid_2e4a&pid_0002"));
    EXPECT_TRUE(devicePathsEqual(L"", L""));
    EXPECT_FALSE(devicePathsEqual(L"abc", L"abcd"));
    EXPECT_FALSE(devicePathsEqual(L"\u00c4", L"\u00e4"));  // Ä and ä are not folded
    EXPECT_FALSE(devicePathsEqual(L"[", L"{"));            // 0x5B and 0x7B differ by 0x20 too
    EXPECT_FALSE(devicePathsEqual(L"@", L"`"));
}

}  // namespace
}  // namespace orvanta
