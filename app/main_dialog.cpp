// The main dialog's skeleton: what a command asks for, the window title, the
// initialisation up to the first probe, "Close", and "Update" with the shell's
// dialog as what the update shows; which static is the hint panel's label.
#include <cstdint>
#include <string>
#include <vector>

#include "app/shell.h"
#include "resources/program_version.h"
#include "resources/resource_ids.h"
#include "resources/text_format.h"
#include "update/update.h"

namespace orvanta {
namespace {

// The title names the product and this program's own version, in every language.
constexpr wchar_t kTitleFormat[] = L"VARIDYNE %s FW Updater %u.%u %s";
constexpr wchar_t kTitleProgramKind[] = L"Bootloaderupdater";
constexpr std::uint32_t kProgramVersionMajor = ORVANTA_VERSION_MAJOR;
constexpr std::uint32_t kProgramVersionMinor = ORVANTA_VERSION_MINOR;
constexpr std::size_t kTitleBufferChars = 256;

constexpr std::intptr_t kEndRefused = 1;
constexpr std::intptr_t kEndClosed = 2;

}  // namespace

DialogCommand commandOf(int controlId) {
    if (controlId == IDC_CLOSE) return DialogCommand::close;
    if (controlId == IDC_UPDATE) return DialogCommand::update;
    return DialogCommand::none;
}

bool drawnInRed(int controlId) { return controlId == IDC_LABEL_ESC || controlId == IDC_VALUE_ESC; }

std::wstring composeWindowTitle() {
    std::wstring title = formatMessage(kTitleFormat, {kModelString, kProgramVersionMajor,
                                                      kProgramVersionMinor, kTitleProgramKind});
    if (title.size() > kTitleBufferChars - 1) title.resize(kTitleBufferChars - 1);
    return title;
}

bool handleCommand(App& app, int controlId, ProgressScreen& progressScreen) {
    const DialogCommand command = commandOf(controlId);
    if (command == DialogCommand::none) return false;
    // Under the update's boxes, or dispatched while its input is dropped: neither a
    // second run nor an exit that would hide the outcome.
    if (app.updateRunning) return true;
    if (command == DialogCommand::close) {
        closeDialog(app);
    } else {
        runUpdate(app, progressScreen);
    }
    return true;
}

void initialiseDialog(App& app) {
    Dialog& dialog = app.dialog;
    ProgramResources& resources = app.resources;
    dialog.setClassIcon();
    dialog.setWindowTitle(composeWindowTitle());
    dialog.setControlText(IDC_LABEL_UNIT, resources.loadString(IDS_LABEL_UNIT));
    dialog.setControlText(IDC_LABEL_ESC_BOOTLOADER, resources.loadString(IDS_LABEL_ESC_BOOTLOADER));
    dialog.setControlText(IDC_LABEL_ESC, resources.loadString(IDS_LABEL_ESC));

    app.deviceNotificationRegistered = dialog.registerDeviceNotification();
    if (!app.deviceNotificationRegistered) {
        // Without notifications the dialog could never follow the unit, so it ends
        // before it is shown and before any unit is touched.
        const std::wstring caption = resources.loadString(IDS_APPLICATION_ERROR_CAPTION);
        const std::wstring text = resources.loadString(IDS_REGISTRATION_FAILED);
        dialog.messageBox(text, caption, kMbOk | kMbIconError);
        closeLink(app.link);
        dialog.endDialog(kEndRefused);
        return;
    }

    probeAtStartUp(app);
}

void closeDialog(App& app) {
    if (app.deviceNotificationRegistered) {
        app.dialog.unregisterDeviceNotification();
        app.deviceNotificationRegistered = false;
    }
    closeLink(app.link);
    app.dialog.endDialog(kEndClosed);
}

int findHintLabel(const std::vector<DialogControl>& controls, const ScreenRect& panel) {
    int found = -1;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const DialogControl& control = controls[i];
        if (!control.isStatic || control.id != IDC_HINT_LABEL) continue;
        if (control.rect.left != panel.left || control.rect.bottom > panel.top) continue;
        if (found < 0 ||
            control.rect.bottom > controls[static_cast<std::size_t>(found)].rect.bottom) {
            found = static_cast<int>(i);
        }
    }
    return found;
}

int ShellUpdateDialog::messageBox(const std::wstring& text, const std::wstring& caption,
                                  std::uint32_t style) {
    outcomeShows();
    return app_.dialog.messageBox(text, caption, style);
}

void ShellUpdateDialog::disableUpdate() { app_.dialog.enableControl(IDC_UPDATE, false); }

void ShellUpdateDialog::refreshVersionPanel(const UnitLinkState& link) {
    orvanta::refreshVersionPanel(app_.dialog, link);
}

// The outcome's hint is short and all situation: it is spoken whole.
void ShellUpdateDialog::setHint(const std::wstring& text) {
    outcomeShows();
    showHint(app_, text, text);
}

void ShellUpdateDialog::outcomeShows() {
    // The first box or hint after the run is its outcome (the failure box, the
    // damaged-image box, the success hint). Keys are held from the moment it can be
    // seen, not from the run's end: the look at the devices and the link's close come
    // between, and may take a while.
    if (!outcomePending_) return;
    outcomePending_ = false;
    app_.dialog.holdFreshKeys();
}

void ShellUpdateDialog::holdShutdown(const std::wstring& reason) {
    app_.dialog.holdShutdown(reason);
}

void ShellUpdateDialog::releaseShutdown() { app_.dialog.releaseShutdown(); }

void ShellUpdateDialog::runEnded() {
    // Dropping the input may hand the dialog a notification the system is still
    // waiting to deliver; it is only noted, so nothing changes the link under the
    // update before it has shown its outcome.
    app_.inputBeingDropped = true;
    app_.dialog.discardUserInput();
    app_.inputBeingDropped = false;
    deviceChangeMissed_ = app_.deviceChangeNoted || linkDeviceGone(app_.link);
    app_.deviceChangeNoted = false;
    outcomePending_ = true;
}

void runUpdate(App& app, ProgressScreen& progressScreen) {
    app.updateRunning = true;
    ShellUpdateDialog updateDialog(app);
    const bool succeeded = runFirmwareUpdate(app.link, updateDialog, app.resources, progressScreen);
    app.linkUpdated = succeeded && app.link.isOpen();
    if (updateDialog.deviceChangeMissed()) healMissedDeviceChanges(app, succeeded);
    app.updateRunning = false;
    // A minimise or restore given during the run acts now, over the outcome. A success
    // it hides is announced on the taskbar button, as one reached in the background is,
    // and the outcome's hint, which no screen reader takes from a minimised window, is
    // announced again when the dialog is next active.
    if (app.dialog.actOnKeptCommands()) {
        app.hintUnheard = !app.spokenHint.empty();
        if (succeeded) progressScreen.flashTaskbarButton();
    }
}

}  // namespace orvanta
