// The application shell: the process-wide state of the main dialog and the
// operations that the dialog procedure dispatches to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "app/dialog_surface.h"
#include "link/unit_link.h"

namespace orvanta {

inline constexpr wchar_t kModelString[] = L"ORVANTA 210 HV";
inline constexpr std::uint32_t kCompatibleTypeCodes[] = {0x110FA0D2, 0x0A0640D2};

// --- Text composition ---------------------------------------------------------

// Catalogue texts and composed messages are held to what the platform's fixed
// 2048-character buffers (terminator included) would carry.
inline constexpr std::size_t kMessageBufferChars = 2048;

// One argument of formatMessage: text for %s, a number for %u and %x.
struct FormatArg {
    FormatArg(std::wstring_view text) : isText(true), text(text) {}
    FormatArg(const std::wstring& text) : isText(true), text(text) {}
    FormatArg(const wchar_t* text) : isText(true), text(text) {}
    FormatArg(std::uint32_t number) : number(number) {}
    FormatArg(std::int32_t number) : number(static_cast<std::uint32_t>(number)) {}

    bool isText = false;
    std::wstring_view text;
    std::uint32_t number = 0;
};

// printf-style formatting of a catalogue format, giving what swprintf_s gives on
// the platform for the conversions the catalogue and the title use: %s, %u and
// %x, the numbers with an optional zero-filled width (%08x), and %%. The formats
// are data, so this never trusts them: any other conversion, or one without a
// matching argument, is copied as it stands instead of reading an argument that
// was never passed. The result is cut to kMessageBufferChars - 1 characters.
std::wstring formatMessage(std::wstring_view format, std::initializer_list<FormatArg> args);

// Everything the dialog owns for the life of the process.
struct App {
    DialogSurface* ui = nullptr;
    UnitLink link;
    bool deviceNotificationRegistered = false;
    // While the incompatible-ESC box is open, an arrival is only noted; it is
    // handled once, after the box and the hint behind it, so that nothing nests
    // and the hint, the panel and "Update" always agree with the link.
    bool presenceBoxOpen = false;
    bool arrivalHeldBack = false;
};

// --- Main dialog (entry and dispatch) ---------------------------------------

// Window messages the dialog procedure reacts to.
inline constexpr std::uint32_t kWmPaint = 0x000F;
inline constexpr std::uint32_t kWmInitDialog = 0x0110;
inline constexpr std::uint32_t kWmCommand = 0x0111;
inline constexpr std::uint32_t kWmCtlColorStatic = 0x0138;
inline constexpr std::uint32_t kWmDeviceChange = 0x0219;

enum class DialogAction {
    none,             // answer FALSE
    paintPicture,     // paint, answer FALSE
    initialise,       // answer TRUE
    close,            // Close steps, EndDialog(2), answer TRUE
    update,           // run the update, answer TRUE
    colourRedStatic,  // red text, answer the brush
    deviceChange,     // answer TRUE when the handler returns nonzero
};

// What the dialog procedure does with a message. ctlColorControlId is the id of
// the control a WM_CTLCOLORSTATIC is about (ignored for other messages).
DialogAction dispatchDialogMessage(std::uint32_t message, std::uintptr_t wParam,
                                   int ctlColorControlId);

// The title, composed the same in every language.
std::wstring composeWindowTitle();

// WM_INITDIALOG after the main window has been stored: icon, title, labels,
// notification registration, first probe.
void initialiseDialog(App& app);
// "Close", Esc and the close box.
void closeDialog(App& app);

// --- Hint panel and device presence ------------------------------------------

enum class ProbeVariant { startUp, arrival };

inline constexpr std::uint32_t kDbtDeviceArrival = 0x8000;
inline constexpr std::uint32_t kDbtDeviceRemoveComplete = 0x8004;
inline constexpr std::uint32_t kDbtDevTypDeviceInterface = 5;

// The two things read from a device-change broadcast record.
struct DeviceBroadcast {
    std::uint32_t deviceType = 0;
    std::wstring path;  // dbcc_name, for device-interface records only
};

void setHintText(App& app, const std::wstring& text, bool append);
// Situation line, an empty line, then the wiring instructions.
void setHintWithInstructions(App& app, std::uint32_t messageId);
void classifyUnit(App& app, LinkStatus status, ProbeVariant variant);
// Returns true for the two events it follows; broadcast may be null.
bool handleDeviceChange(App& app, std::uint32_t event, const DeviceBroadcast* broadcast);
// Handles, once, an arrival that came while the incompatible-ESC box was open.
void handleHeldBackArrival(App& app);
// Case-insensitive for A-Z and a-z only, as the system compares device paths.
bool devicePathsEqual(const std::wstring& a, const std::wstring& b);

// --- Version panel -----------------------------------------------------------

std::wstring formatPackedVersion(std::uint32_t version);
std::wstring formatEscFirmwareVersion(std::uint16_t version);
void refreshVersionPanel(App& app);

// --- Product picture ---------------------------------------------------------

struct PicturePlacement {
    bool draw = false;
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// Where the product picture goes: right of the version group box, never wider than
// half the bitmap, at the bitmap's aspect ratio. Rectangles are in screen
// coordinates; the result is in the dialog's paint coordinates.
PicturePlacement placeProductPicture(const ScreenRect& window, const ScreenRect& groupBox,
                                     std::int32_t bitmapWidth, std::int32_t bitmapHeight,
                                     std::int32_t dialogFrameWidth, std::int32_t captionHeight);

}  // namespace orvanta
