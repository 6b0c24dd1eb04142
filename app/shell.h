// The application shell: the state the main dialog holds for the life of the
// process, and what the dialog procedure hands each event to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/dialog.h"
#include "link/unit_link.h"
#include "resources/program_resources.h"
#include "update/progress_screen.h"
#include "update/update_dialog.h"

namespace orvanta {

// Everything the dialog owns for the life of the process.
struct App {
    App(Dialog& dialog, ProgramResources& resources, HidBus& bus, Clock& clock)
        : dialog(dialog), resources(resources), link(bus, clock) {}
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    Dialog& dialog;
    ProgramResources& resources;
    UnitLink link;
    bool deviceNotificationRegistered = false;
    // While the incompatible-ESC box is open, an arrival is only noted; it is
    // handled once, after the box and the hint behind it, so that nothing nests
    // and the hint, the panel and "Update" always agree with the link.
    bool presenceBoxOpen = false;
    bool arrivalHeldBack = false;
    // While the end of an update drops the input given during its run, a device
    // change that the system delivers meanwhile is only noted (the update's end
    // looks at the devices itself), and a request to close is ignored.
    bool inputBeingDropped = false;
    bool deviceChangeNoted = false;
    // From "Update" to the end of its outcome: a command that another program posts
    // or sends meanwhile (automation clicks "Update" or "Close") starts nothing.
    bool updateRunning = false;
    // The open link's ESC took the new firmware: when the link goes, the hint keeps the
    // success above the lost connection, however late the removal is heard.
    bool linkUpdated = false;
    // What a screen reader is handed for the current hint, and whether it was handed
    // over while no reader would take it: the dialog not in front, or hidden by a kept
    // minimise right after.
    std::wstring spokenHint;
    bool hintUnheard = false;
};

// --- Main dialog ---------------------------------------------------------------

// What a WM_COMMAND from a control asks of the dialog. Only the control id counts:
// the notification code is what lets Esc and the close box arrive as "Close".
enum class DialogCommand { none, close, update };
DialogCommand commandOf(int controlId);
// The ESC's label and value are drawn in red.
bool drawnInRed(int controlId);

// The title, composed the same in every language.
std::wstring composeWindowTitle();

// A command from a control; false for a control that gives none.
bool handleCommand(App& app, int controlId, ProgressScreen& progressScreen);
// The dialog's start: icon, title, labels, notification registration, first probe.
void initialiseDialog(App& app);
// "Close", Esc and the close box.
void closeDialog(App& app);

// A control of the dialog as the search for the hint panel's label sees it.
struct DialogControl {
    int id = 0;
    bool isStatic = false;
    ScreenRect rect;
};
// The hint panel's label among the dialog's controls, by index; -1 when there is none.
// Its id is shared by every unnamed static, so it is found by where the user sees it:
// the unnamed static nearest above the panel whose left edge is the panel's.
int findHintLabel(const std::vector<DialogControl>& controls, const ScreenRect& panel);
// The update's view of the main dialog: the hint panel, the version panel and
// "Update".
class ShellUpdateDialog final : public UpdateDialog {
public:
    explicit ShellUpdateDialog(App& app) : app_(app) {}

    int messageBox(const std::wstring& text, const std::wstring& caption,
                   std::uint32_t style) override;
    void disableUpdate() override;
    void refreshVersionPanel(const UnitLinkState& link) override;
    void setHint(const std::wstring& text) override;
    void holdShutdown(const std::wstring& reason) override;
    void releaseShutdown() override;
    void runEnded() override;

    // The run's end found the link's device gone, or a device change came while the
    // input was dropped: what the system said during the run may have been lost.
    bool deviceChangeMissed() const { return deviceChangeMissed_; }

private:
    void outcomeShows();

    App& app_;
    bool deviceChangeMissed_ = false;
    // The run has ended and nothing of its outcome is shown yet.
    bool outcomePending_ = false;
};

// "Update": the whole update, with the shell's dialog as what it shows, and what
// the system said while it ran and the dialog could not listen.
void runUpdate(App& app, ProgressScreen& progressScreen);

// --- Hint panel and device presence ------------------------------------------

enum class ProbeVariant { startUp, arrival };

// What a device-change notification is about.
enum class DeviceEvent { arrival, removeComplete, other };
// The two things read from a device-change broadcast record.
struct DeviceBroadcast {
    bool deviceInterface = false;  // the record is a device-interface record
    std::wstring path;             // its dbcc_name
};

// Writes the hint panel's text and nothing else; every hint is shown through one of
// the two below, which have it announced once it stands whole.
void setHintText(Dialog& dialog, const std::wstring& text, bool append);
// The text alone; a screen reader is handed `spoken`.
void showHint(App& app, const std::wstring& text, const std::wstring& spoken);
// Situation line, an empty line, then the wiring instructions, written in two steps;
// a screen reader is handed the situation line alone, once.
void setHintWithInstructions(App& app, std::uint32_t messageId);
// Hands `spoken` to a screen reader for the hint that now stands; noted as unheard
// when the dialog is not in front.
void announceHint(App& app, const std::wstring& spoken);
// The dialog has become the active window: a hint announced while no reader would
// take it is announced once more, the current one, and only this once.
void dialogActivated(App& app);
void classifyUnit(App& app, LinkStatus status, ProbeVariant variant);
// The first probe, at start-up, with what it may have missed while it waited.
void probeAtStartUp(App& app);
// Returns true for the two events it follows; broadcast may be null.
bool handleDeviceChange(App& app, DeviceEvent event, const DeviceBroadcast* broadcast);
// Handles, once, an arrival that came while the incompatible-ESC box was open.
void handleHeldBackArrival(App& app);
// After an update whose run may have missed a removal and an arrival: a link whose
// device has gone is dropped as at a removal (below the success, when there was
// one), and after a failure a unit that came back meanwhile is probed.
void healMissedDeviceChanges(App& app, bool updateSucceeded);

// --- Version panel -----------------------------------------------------------

std::wstring formatPackedVersion(std::uint32_t version);
std::wstring formatEscFirmwareVersion(std::uint16_t version);
void refreshVersionPanel(Dialog& dialog, const UnitLinkState& link);

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
