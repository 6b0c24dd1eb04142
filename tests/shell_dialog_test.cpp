// The main dialog's dispatch, its title, the message formatter, and the dialog's
// initialisation and "Close".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/shell.h"
#include "resources/resource_ids.h"
#include "tests/fake_surface.h"

namespace orvanta {
namespace {

struct DispatchCase {
    const char* name;
    std::uint32_t message;
    std::uintptr_t wParam;
    int control;
    DialogAction action;
};

void PrintTo(const DispatchCase& c, std::ostream* os) { *os << c.name; }

class Dispatch : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(Dispatch, MapsMessageToAction) {
    const DispatchCase& c = GetParam();
    EXPECT_EQ(dispatchDialogMessage(c.message, c.wParam, c.control), c.action);
}

INSTANTIATE_TEST_SUITE_P(
    MainDialog, Dispatch,
    ::testing::Values(
        DispatchCase{"Paint", kWmPaint, 0, 0, DialogAction::paintPicture},
        DispatchCase{"InitDialog", kWmInitDialog, 0, 0, DialogAction::initialise},
        DispatchCase{"Close", kWmCommand, 2, 0, DialogAction::close},
        // Esc and the close box arrive as id 2 with a notification code on top.
        DispatchCase{"CloseWithNotificationCode", kWmCommand, 0x00010002, 0, DialogAction::close},
        DispatchCase{"Update", kWmCommand, 1002, 0, DialogAction::update},
        DispatchCase{"UpdateWithNotificationCode", kWmCommand, 0xFFFF03EA, 0, DialogAction::update},
        DispatchCase{"OtherCommand", kWmCommand, 1, 0, DialogAction::none},
        DispatchCase{"HintPanelCommand", kWmCommand, 40004, 0, DialogAction::none},
        // Bits above the low word never make an id.
        DispatchCase{"HighBitsAboveTheWord", kWmCommand, std::uintptr_t{0x1} << 20 | 5, 0,
                     DialogAction::none},
        DispatchCase{"RedLabel", kWmCtlColorStatic, 0, 40011, DialogAction::colourRedStatic},
        DispatchCase{"RedValue", kWmCtlColorStatic, 0, 40015, DialogAction::colourRedStatic},
        DispatchCase{"OtherStatic", kWmCtlColorStatic, 0, 40013, DialogAction::none},
        DispatchCase{"HintLabel", kWmCtlColorStatic, 0, -1, DialogAction::none},
        DispatchCase{"DeviceChange", kWmDeviceChange, 0x8000, 0, DialogAction::deviceChange},
        DispatchCase{"Close message", 0x0010, 0, 0, DialogAction::none},
        DispatchCase{"Destroy", 0x0002, 0, 0, DialogAction::none},
        DispatchCase{"Timer", 0x0113, 2, 40011, DialogAction::none}),
    [](const ::testing::TestParamInfo<DispatchCase>& info) {
        std::string name = info.param.name;
        for (char& c : name) {
            if (c == ' ') c = '_';
        }
        return name;
    });

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

}  // namespace
}  // namespace orvanta
