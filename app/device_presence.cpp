// Following the programming unit as it comes and goes: judging what the probe found,
// reacting to HID arrivals and removals, and the hint panel that tells the user why.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>

#include "app/shell.h"
#include "resources/resource_ids.h"
#include "resources/text_format.h"

namespace orvanta {
namespace {

constexpr wchar_t kSituationSeparator[] = L"\r\n\r\n";

bool isCompatibleType(std::uint32_t typeCode) {
    return std::ranges::find(kCompatibleTypeCodes, typeCode) != std::end(kCompatibleTypeCodes);
}

void showIncompatibleEscBox(App& app) {
    const std::wstring text =
        formatMessage(app.resources.loadString(IDS_INCOMPATIBLE_TEXT), {kModelString});
    const std::wstring caption = app.resources.loadString(IDS_INCOMPATIBLE_CAPTION);
    app.presenceBoxOpen = true;
    app.dialog.messageBox(text, caption, kMbOk | kMbIconInformation);
    app.presenceBoxOpen = false;
}

// One attempt to find and judge a unit after a HID arrival, with the link closed.
void probeAfterArrival(App& app) {
    const LinkStatus status = openLink(app.link);
    // No unit among the HID interfaces (a keyboard, a mouse...) changes nothing. A
    // unit that was opened but failed its probe is classified too: it would
    // otherwise hold the link open and make every later arrival be ignored. So is a
    // unit that another program holds, which the user has to be told about.
    if (status == kStatusOk || status == kStatusUnitBusy || app.link.isOpen()) {
        classifyUnit(app, status, ProbeVariant::arrival);
    }
}

// How a refused unit is shown beyond its hint.
struct Refusal {
    std::uint32_t situationId = 0;
    bool showIncompatibleBox = false;
    // At an arrival the panel already shows the closed link, except after a failed
    // probe whose open link was never shown.
    bool refreshVersionPanel = false;
};

// Every case in which the equipment is not ready: the link goes, "Update" goes
// grey, and the hint says what is wrong and how to wire things up.
void refuseUnit(App& app, const Refusal& refusal) {
    app.dialog.enableControl(IDC_UPDATE, false);
    closeLink(app.link);
    // The link is already closed here, and arrivals wait until the box and this
    // hint are done.
    if (refusal.showIncompatibleBox) showIncompatibleEscBox(app);
    setHintWithInstructions(app.dialog, app.resources, refusal.situationId);
    if (refusal.refreshVersionPanel) refreshVersionPanel(app.dialog, app.link);
}

}  // namespace

void setHintText(Dialog& dialog, const std::wstring& text, bool append) {
    if (!append) {
        dialog.setControlText(IDC_HINT_PANEL, text);
        return;
    }
    // The whole current text is kept: the capacity grows with it, nothing is cut.
    dialog.setControlText(IDC_HINT_PANEL, dialog.controlText(IDC_HINT_PANEL) + text);
}

void setHintWithInstructions(Dialog& dialog, ProgramResources& resources, std::uint32_t messageId) {
    std::wstring situation = resources.loadString(messageId);
    situation += kSituationSeparator;
    setHintText(dialog, situation, false);
    setHintText(dialog, resources.loadString(IDS_INSTRUCTIONS), true);
}

void classifyUnit(App& app, LinkStatus status, ProbeVariant variant) {
    const bool startUp = variant == ProbeVariant::startUp;
    const UnitLink& link = app.link;

    if (status == kStatusUnitBusy) {
        // Not "no unit": the user can free it by closing the other program.
        refuseUnit(app, Refusal{.situationId = IDS_UNIT_BUSY, .refreshVersionPanel = startUp});
        return;
    }
    if (status != kStatusOk) {
        // A unit found but not understood is treated as no unit at all, whether at
        // start-up or at an arrival; its panel is refreshed in both cases because
        // the open link it leaves behind was never shown.
        refuseUnit(app, Refusal{.situationId = IDS_NO_UNIT, .refreshVersionPanel = true});
        return;
    }
    if (link.unitMode != 0) {
        refuseUnit(app, Refusal{.situationId = IDS_WRONG_MODE, .refreshVersionPanel = startUp});
        return;
    }
    if (link.escState != ESC_STATE_BOOTLOADER_READY) {
        refuseUnit(app,
                   Refusal{.situationId = IDS_NO_UPDATABLE_ESC, .refreshVersionPanel = startUp});
        return;
    }
    if (!isCompatibleType(link.escTypeCode())) {
        refuseUnit(app, Refusal{.situationId = IDS_INCOMPATIBLE_ESC,
                                .showIncompatibleBox = true,
                                .refreshVersionPanel = startUp});
        return;
    }

    setHintText(app.dialog, app.resources.loadString(IDS_READY), false);
    if (startUp) {
        app.dialog.enableControl(IDC_UPDATE, true);
        refreshVersionPanel(app.dialog, link);
    } else {
        refreshVersionPanel(app.dialog, link);
        app.dialog.enableControl(IDC_UPDATE, true);
    }
}

bool handleDeviceChange(App& app, DeviceEvent event, const DeviceBroadcast* broadcast) {
    if (event == DeviceEvent::arrival) {
        if (broadcast == nullptr || !broadcast->deviceInterface) return true;
        if (app.presenceBoxOpen) {
            app.arrivalHeldBack = true;
            return true;
        }
        // One link at a time: a second unit waits until the next arrival after the
        // first one has gone.
        if (app.link.isOpen()) return true;
        probeAfterArrival(app);
        handleHeldBackArrival(app);
        return true;
    }
    if (event == DeviceEvent::removeComplete) {
        if (broadcast == nullptr || !broadcast->deviceInterface) return true;
        if (!app.link.isOpen()) return true;
        if (!devicePathsEqual(app.link.devicePath, broadcast->path)) return true;
        closeLink(app.link);
        app.dialog.enableControl(IDC_UPDATE, false);
        refreshVersionPanel(app.dialog, app.link);
        setHintWithInstructions(app.dialog, app.resources, IDS_CONNECTION_LOST);
        return true;
    }
    return false;
}

void handleHeldBackArrival(App& app) {
    // A loop, not a recursion: each probe may show the box again and note
    // another arrival under it.
    while (app.arrivalHeldBack) {
        app.arrivalHeldBack = false;
        if (!app.link.isOpen()) probeAfterArrival(app);
    }
}

bool devicePathsEqual(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    const auto fold = [](wchar_t c) {
        return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

}  // namespace orvanta
