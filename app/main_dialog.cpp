// The main dialog's skeleton: what the dialog procedure does with each message, the
// window title, the initialisation up to the first probe, and "Close".
#include <cstdint>
#include <string>

#include "app/shell.h"
#include "resources/resource_ids.h"

namespace orvanta {
namespace {

// The title names the product and this program's own version, in every language.
constexpr wchar_t kTitleFormat[] = L"VARIDYNE %s FW Updater %u.%u %s";
constexpr wchar_t kTitleProgramKind[] = L"Bootloaderupdater";
constexpr std::uint32_t kProgramVersionMajor = 1;
constexpr std::uint32_t kProgramVersionMinor = 0;
constexpr std::size_t kTitleBufferChars = 256;

constexpr std::intptr_t kEndRefused = 1;
constexpr std::intptr_t kEndClosed = 2;

}  // namespace

DialogAction dispatchDialogMessage(std::uint32_t message, std::uintptr_t wParam,
                                   int ctlColorControlId) {
    switch (message) {
    case kWmPaint:
        return DialogAction::paintPicture;
    case kWmInitDialog:
        return DialogAction::initialise;
    case kWmCommand: {
        // Only the control id counts: the notification code in the high word is
        // what lets Esc and the close box arrive as "Close".
        const auto controlId = static_cast<int>(wParam & 0xFFFF);
        if (controlId == IDC_CLOSE) return DialogAction::close;
        if (controlId == IDC_UPDATE) return DialogAction::update;
        return DialogAction::none;
    }
    case kWmCtlColorStatic:
        if (ctlColorControlId == IDC_LABEL_ESC || ctlColorControlId == IDC_VALUE_ESC) {
            return DialogAction::colourRedStatic;
        }
        return DialogAction::none;
    case kWmDeviceChange:
        return DialogAction::deviceChange;
    default:
        return DialogAction::none;
    }
}

std::wstring composeWindowTitle() {
    std::wstring title = formatMessage(kTitleFormat, {kModelString, kProgramVersionMajor,
                                                      kProgramVersionMinor, kTitleProgramKind});
    if (title.size() > kTitleBufferChars - 1) title.resize(kTitleBufferChars - 1);
    return title;
}

void initialiseDialog(App& app) {
    DialogSurface& ui = *app.ui;
    ui.setClassIcon();
    ui.setWindowTitle(composeWindowTitle());
    ui.setControlText(IDC_LABEL_UNIT, ui.loadString(IDS_LABEL_UNIT));
    ui.setControlText(IDC_LABEL_ESC_BOOTLOADER, ui.loadString(IDS_LABEL_ESC_BOOTLOADER));
    ui.setControlText(IDC_LABEL_ESC, ui.loadString(IDS_LABEL_ESC));

    app.deviceNotificationRegistered = ui.registerDeviceNotification();
    if (!app.deviceNotificationRegistered) {
        // Without notifications the dialog could never follow the unit, so it ends
        // before it is shown and before any unit is touched.
        const std::wstring caption = ui.loadString(IDS_APPLICATION_ERROR_CAPTION);
        const std::wstring text = ui.loadString(IDS_REGISTRATION_FAILED);
        ui.messageBox(text, caption, kMbOk | kMbIconError);
        closeLink(app.link);
        ui.endDialog(kEndRefused);
        return;
    }

    const LinkStatus status = openLink(app.link);
    classifyUnit(app, status, ProbeVariant::startUp);
    handleHeldBackArrival(app);
}

void closeDialog(App& app) {
    if (app.deviceNotificationRegistered) {
        app.ui->unregisterDeviceNotification();
        app.deviceNotificationRegistered = false;
    }
    closeLink(app.link);
    app.ui->endDialog(kEndClosed);
}

}  // namespace orvanta
