// What the main dialog's commands ask for, its title, the message formatter, and
// the dialog's initialisation and "Close".
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/held_keys.h"
#include "app/shell.h"
#include "resources/resource_ids.h"
#include "resources/text_format.h"
#include "tests/fake_surface.h"

namespace orvanta {
namespace {

// The id of the control a command or a colour request is about decides alone.
TEST(MainDialog, ControlIdsDecideCommandsAndRedTexts) {
    struct Case {
        int controlId;
        DialogCommand command;
        bool red;
    };
    const Case cases[] = {
        {2, DialogCommand::close, false},  // "Close", Esc and the close box
        {1002, DialogCommand::update, false},
        {1, DialogCommand::none, false},  // IDOK: there is no such button
        {40004, DialogCommand::none, false},
        {40011, DialogCommand::none, true},  // the ESC's label
        {40015, DialogCommand::none, true},  // the ESC's value
        {40013, DialogCommand::none, false},
        {-1, DialogCommand::none, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(commandOf(c.controlId), c.command) << c.controlId;
        EXPECT_EQ(drawnInRed(c.controlId), c.red) << c.controlId;
    }
}

TEST(MainDialog, TitleIsComposedFromLiterals) {
    EXPECT_EQ(composeWindowTitle(), L"VARIDYNE ORVANTA 210 HV FW Updater 1.0 Bootloaderupdater");
}

TEST(MessageFormat, FillsWhatTheTextsUseAndCopiesAnythingElse) {
    const std::wstring longText(5000, L'x');
    struct Case {
        std::wstring_view format;
        std::initializer_list<FormatArg> args;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"type '%s'.", {kModelString}, L"type 'ORVANTA 210 HV'."},
        {L"code: 0x%08x-0x%08x",
         {static_cast<std::uint32_t>(-2), 31u},
         L"code: 0xfffffffe-0x0000001f"},
        {L"%u.%u|%x|%02x|%u%%", {1u, 0u, 0xABu, 0x1234u, 4294967295u}, L"1.0|ab|1234|4294967295%"},
        // A damaged or mistranslated format is shown as written rather than reading
        // past the arguments or taking a number for a string.
        {L"a %s b %s", {L"x"}, L"a x b %s"},
        {L"%s", {5u}, L"%s"},
        {L"%u", {}, L"%u"},
        {L"%n %p %f %5u %08s %d %u %", {7u}, L"%n %p %f %5u %08s %d 7 %"},
        // Held to what the platform's message buffer carries, whatever the width asks.
        {L"%s", {longText}, std::wstring(kMessageBufferChars - 1, L'x')},
        {L"%099999999999999999999u", {1u}, std::wstring(kMessageBufferChars - 1, L'0')},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formatMessage(c.format, c.args), c.expected)
            << test::utf8(std::wstring(c.format));
    }
}

using test::lines;
using test::ShellRig;

std::vector<std::string> initialisationCalls(const ShellRig& rig, bool registered) {
    return {"icon",
            "title VARIDYNE ORVANTA 210 HV FW Updater 1.0 Bootloaderupdater",
            "text 40010 " + test::utf8(rig.ui.text(IDS_LABEL_UNIT)),
            "text 1005 " + test::utf8(rig.ui.text(IDS_LABEL_ESC_BOOTLOADER)),
            "text 40011 " + test::utf8(rig.ui.text(IDS_LABEL_ESC)),
            registered ? "register" : "register failed"};
}

TEST(MainDialog, InitialisationLabelsRegistersAndProbesOnce) {
    ShellRig rig;
    rig.bus.addUnit();

    initialiseDialog(rig.app);

    EXPECT_EQ(rig.ui.calls, lines({initialisationCalls(rig, true),
                                   {rig.hintCall(IDS_READY), "enable 1002 1"},
                                   ShellRig::panelOpenCalls("1.5", "1.2", "0.9", "TUNE-BOX")}));
    EXPECT_TRUE(rig.app.deviceNotificationRegistered);
    EXPECT_TRUE(rig.app.link.isOpen());
    EXPECT_EQ(rig.bus.enumerationCount(), 1u);
}

TEST(MainDialog, InitialisationInGermanKeepsTheTitle) {
    ShellRig rig;
    rig.ui.language = Language::german;
    initialiseDialog(rig.app);
    ASSERT_GE(rig.ui.calls.size(), 5u);
    EXPECT_EQ(rig.ui.calls[1], "title VARIDYNE ORVANTA 210 HV FW Updater 1.0 Bootloaderupdater");
    EXPECT_EQ(rig.ui.calls[2], "text 40010 Programmiereinheit");
    EXPECT_EQ(rig.ui.calls[3], "text 1005 Regler-Bootloader");
    EXPECT_EQ(rig.ui.calls[4], "text 40011 Regler");
}

TEST(MainDialog, FailedRegistrationEndsBeforeAnyProbe) {
    ShellRig rig;
    rig.bus.addUnit();
    rig.ui.registrationSucceeds = false;

    initialiseDialog(rig.app);

    EXPECT_EQ(rig.ui.calls,
              lines({initialisationCalls(rig, false),
                     {rig.boxCall(IDS_APPLICATION_ERROR_CAPTION,
                                  L"Failed to register Windows Device Manager. New devices on USB "
                                  L"port cannot be detected.The program is closed.",
                                  kMbOk | kMbIconError),
                      "end 1"}}));
    EXPECT_FALSE(rig.app.deviceNotificationRegistered);
    EXPECT_FALSE(rig.app.link.isOpen());
    EXPECT_EQ(rig.bus.enumerationCount(), 0u);
    EXPECT_TRUE(rig.bus.trace().empty());

    // Nothing was registered, so nothing is released either.
    rig.ui.calls.clear();
    closeDialog(rig.app);
    EXPECT_EQ(rig.ui.calls, (std::vector<std::string>{"end 2"}));
}

TEST(MainDialog, CloseReleasesTheRegistrationAndTheLinkBeforeEnding) {
    ShellRig rig;
    rig.bus.addUnit();
    initialiseDialog(rig.app);
    ASSERT_EQ(rig.bus.openHandleCount(), 1u);
    rig.ui.calls.clear();

    closeDialog(rig.app);

    EXPECT_EQ(rig.ui.calls, (std::vector<std::string>{"unregister", "end 2"}));
    EXPECT_FALSE(rig.app.link.isOpen());
    EXPECT_EQ(rig.bus.openHandleCount(), 0u);
    EXPECT_FALSE(rig.app.deviceNotificationRegistered);
    EXPECT_EQ(rig.bus.strayCloseCount(), 0u);
}

// A key down when an update's run ended, the key that answered a box, and keys that can
// answer pressed from the moment a box or an outcome appears until none has come for a
// second do nothing,
// repeats and release included, until they are released, or found up at the next run's
// end or when the program has the keyboard again.
TEST(HeldKeys, HeldAndFreshKeysAreSwallowedUntilTheyAreUp) {
    constexpr std::uint8_t kEnter = 0x0D;
    constexpr std::uint8_t kSpace = 0x20;
    constexpr std::uint8_t kEsc = 0x1B;
    constexpr std::uint8_t kProcessKey = 0xE5;
    constexpr std::uint8_t kPacket = 0xE7;
    const auto downAre = [](std::initializer_list<std::uint8_t> keys) {
        return [keys](std::uint8_t key) {
            return std::find(keys.begin(), keys.end(), key) != keys.end();
        };
    };
    HeldKeys held;
    // Run 1 ends with Enter, an IME key and a typed character down; a slow look at the
    // devices follows, and the outcome shows 2.5 s later: Space 0.9 s after it is held.
    // Typing goes on (each key-down keeps the hold a second longer) until a second
    // without one; then a deliberate press acts, an IME's and a character's too. The
    // last Enter answers a box: its repeats and release do nothing, although the system
    // already says it is up (Wine does, at the change of focus); a new press acts.
    held.holdKeysDown(downAre({kEnter, kProcessKey, kPacket}));
    held.holdFreshKeysFrom(6500);
    struct Step {
        std::uint8_t key;
        bool up;
        std::uint64_t nowMs;
        bool swallowed;
        bool answersABox = false;
    };
    const Step steps[] = {
        {kSpace, false, 7400, true},       {kEnter, false, 7500, true},
        {kEnter, true, 7600, true},        {kSpace, true, 7700, true},
        {kPacket, true, 7700, true},       {kEsc, false, 8400, true},
        {kEsc, true, 8450, true},          {kProcessKey, false, 8500, true},
        {kSpace, false, 9500, false},      {kSpace, true, 9550, false},
        {kProcessKey, false, 9600, false}, {kPacket, false, 9600, false},
        {kPacket, true, 9650, false},      {kEnter, false, 9700, false, true},
        {kEnter, false, 10200, true},      {kEnter, false, 10233, true},
        {kEnter, true, 10300, true},       {kEnter, false, 10400, false},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(held.swallows(step.key, step.up, step.nowMs), step.swallowed)
            << int{step.key} << (step.up ? " up at " : " down at ") << step.nowMs;
        if (step.answersABox) held.holdKeysDownToo(downAre({}));
    }
    EXPECT_FALSE(held.any());

    // Enter held across run 1's end and released during run 2, Space still down at its
    // end: only Space is held, and a fresh Enter acts once the second is over.
    held.holdKeysDown(downAre({kEnter, kSpace}));
    held.holdKeysDown(downAre({kSpace}));
    held.holdFreshKeysFrom(8000);
    EXPECT_FALSE(held.swallows(kEnter, false, 9000));
    EXPECT_TRUE(held.swallows(kSpace, false, 9000));
    // An activation lets Space go (released in another program, as the system says);
    // a key-down within the second after is its repeat and holds it again, the next
    // press acts. Esc let go and pressed a second later acts at once.
    // The repeat interval is the keyboard's, from its speed setting: 400 ms at the
    // slowest, 34 ms at the fastest.
    EXPECT_EQ(keyRepeatIntervalMs(0), 400u);
    EXPECT_EQ(keyRepeatIntervalMs(31), 34u);
    held.forgetReleased(downAre({}), 9000, keyRepeatIntervalMs(31));
    EXPECT_TRUE(held.swallows(kSpace, false, 9033));
    EXPECT_TRUE(held.swallows(kSpace, true, 9100));
    EXPECT_FALSE(held.swallows(kSpace, false, 9200));
    // Let go again: a press after the interval acts, unless its previous-state bit
    // calls it a repeat. Esc let go and pressed a second later acts at once.
    held.holdKeysDown(downAre({kSpace, kEsc}));
    held.forgetReleased(downAre({}), 10000, keyRepeatIntervalMs(31));
    EXPECT_TRUE(held.swallows(kSpace, false, 10400, {.wasDown = true}));
    EXPECT_TRUE(held.swallows(kSpace, true, 10450));
    EXPECT_FALSE(held.swallows(kEsc, false, 10400));

    // From the moment a box appears, keys that can answer it are held until none has
    // come for a second, and clicks until the double-click time has passed; keys that
    // only move about pass and do not lengthen the hold.
    constexpr std::uint8_t kTab = 0x09;
    constexpr std::uint8_t kCtrl = 0x11;
    constexpr std::uint8_t kDown = 0x28;
    const std::vector<std::vector<Step>> boxCases = {
        // Two presses 150 ms apart, then one a second later.
        {{kEnter, false, 1150, true}, {kEnter, true, 1250, true}, {kEnter, false, 2250, false}},
        // A bounce.
        {{kSpace, false, 1030, true}, {kSpace, true, 1055, true}, {kSpace, false, 1080, true}},
        {{kTab, false, 1100, false},
         {kCtrl, false, 1500, false},
         {kDown, false, 1900, false},
         {kEnter, false, 2000, false}},
    };
    for (const std::vector<Step>& boxSteps : boxCases) {
        HeldKeys box;
        box.boxAppears(1000, 500);
        for (const Step& step : boxSteps) {
            EXPECT_EQ(box.swallows(step.key, step.up, step.nowMs), step.swallowed)
                << int{step.key} << (step.up ? " up at " : " down at ") << step.nowMs;
        }
    }
    // F4 answers with Alt alone; a click is held for a second, or for the double-click
    // time where that is longer.
    EXPECT_TRUE(canAnswer(0x73, true));
    EXPECT_FALSE(canAnswer(0x73, false));
    for (const auto& [doubleClickMs, actsAtMs] : {std::pair{500u, 2000u}, {1500u, 2500u}}) {
        held.boxAppears(1000, doubleClickMs);
        EXPECT_TRUE(held.swallowsClick(actsAtMs - 1)) << doubleClickMs;
        EXPECT_FALSE(held.swallowsClick(actsAtMs)) << doubleClickMs;
    }
}

// The label is the unnamed static that sits right above the panel, flush with its
// left edge, wherever the template lists it (rectangles in dialog units).
TEST(MainDialog, HintLabelIsTheUnnamedStaticRightAboveThePanel) {
    const ScreenRect panel{15, 89, 286, 190};
    const DialogControl hint{-1, true, {15, 79, 64, 87}};
    const DialogControl bootloaderValue{40014, true, {90, 37, 140, 45}};
    struct Case {
        const char* name;
        std::vector<DialogControl> controls;
        int label;
    };
    const Case cases[] = {
        {"template order", {bootloaderValue, hint, {40007, false, {15, 10, 150, 67}}}, 1},
        {"an unnamed static further up", {hint, {-1, true, {15, 50, 64, 58}}}, 0},
        {"not flush left", {{-1, true, {16, 79, 64, 87}}}, -1},
        {"below the panel", {{-1, true, {15, 192, 64, 200}}}, -1},
        {"reaching into the panel", {{-1, true, {15, 82, 64, 90}}}, -1},
        {"an unnamed button", {{-1, false, {15, 79, 64, 87}}}, -1},
        {"a named static", {{40013, true, {15, 79, 64, 87}}}, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(findHintLabel(c.controls, panel), c.label) << c.name;
    }
}

}  // namespace
}  // namespace orvanta
