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

// How often a probe is repeated because its unit vanished under it.
constexpr int kMaxProbesAfterVanishing = 3;

// A unit that vanished while its probe waited for it (the handle is dead): its
// removal, and its return if it came in that time, reached no one, because the
// thread was waiting and took no notification.
bool vanishedUnderProbe(UnitLink& link, LinkStatus status) {
    return status != kStatusOk && linkDeviceGone(link);
}

// Situation line(s), an empty line, then the wiring instructions, in two steps (the
// situation, then the whole text); a screen reader is handed `spoken` alone, once the
// whole text stands. The steps are some 700 to 800 characters, which the user reads in
// the panel when the situation asks for them.
void showSituationWithInstructions(App& app, const std::wstring& situation,
                                   const std::wstring& spoken) {
    setHintText(app.dialog, situation + kSituationSeparator, false);
    setHintText(app.dialog, app.resources.loadString(IDS_INSTRUCTIONS), true);
    announceHint(app, spoken);
}

// Finds and judges a unit after a HID arrival, with the link closed; looks again
// while the unit it found vanished under its probe.
void probeAfterArrival(App& app) {
    for (int probe = 0; probe <= kMaxProbesAfterVanishing; ++probe) {
        const LinkStatus status = openLink(app.link);
        const bool vanished = vanishedUnderProbe(app.link, status);
        // No unit among the HID interfaces (a keyboard, a mouse...) changes nothing.
        // A unit that was opened but failed its probe is classified too: it would
        // otherwise hold the link open and make every later arrival be ignored. So
        // is a unit that another program holds, which the user has to be told about.
        if (status == kStatusOk || status == kStatusUnitBusy || app.link.isOpen()) {
            classifyUnit(app, status, ProbeVariant::arrival);
        }
        if (!vanished) return;
    }
}

// The link's device is gone: the link goes, "Update" goes grey and the hint says
// the connection was lost, below the success of the link's update when there was one.
void dropLink(App& app) {
    const std::wstring lost = app.resources.loadString(IDS_CONNECTION_LOST);
    const std::wstring lead =
        app.linkUpdated ? app.resources.loadString(IDS_UPDATE_SUCCEEDED) + kSituationSeparator
                        : std::wstring();
    app.linkUpdated = false;
    closeLink(app.link);
    app.dialog.enableControl(IDC_UPDATE, false);
    refreshVersionPanel(app.dialog, app.link);
    // The success was announced when it appeared; what is new is the lost connection.
    showSituationWithInstructions(app, lead + lost, lost);
}

void handleArrival(App& app) {
    if (app.presenceBoxOpen) {
        app.arrivalHeldBack = true;
        return;
    }
    if (app.link.isOpen()) {
        // One link at a time: a second unit waits until the next arrival after the
        // first one has gone. A link whose removal was never heard (it came while
        // the thread was busy) is dropped now instead.
        if (!linkDeviceGone(app.link)) return;
        dropLink(app);
    }
    probeAfterArrival(app);
    handleHeldBackArrival(app);
}

void handleRemoval(App& app, const std::wstring& path) {
    if (!app.link.isOpen()) return;
    if (!devicePathsEqual(app.link.devicePath, path)) return;
    dropLink(app);
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
    setHintWithInstructions(app, refusal.situationId);
    if (refusal.refreshVersionPanel) refreshVersionPanel(app.dialog, app.link);
}

// The equipment is ready: the hint says so, the panel shows it and "Update" comes on.
void acceptUnit(App& app, ProbeVariant variant) {
    // Its note (do not disconnect during an update) is spoken without it: the
    // confirmation box that starts an update says so again, and takes the focus.
    const std::wstring ready = app.resources.loadString(IDS_READY);
    showHint(app, ready, ready.substr(0, ready.find(kSituationSeparator)));
    if (variant == ProbeVariant::startUp) {
        app.dialog.enableControl(IDC_UPDATE, true);
        refreshVersionPanel(app.dialog, app.link);
    } else {
        refreshVersionPanel(app.dialog, app.link);
        app.dialog.enableControl(IDC_UPDATE, true);
    }
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

void showHint(App& app, const std::wstring& text, const std::wstring& spoken) {
    setHintText(app.dialog, text, false);
    // Announced every time, the same text again too: each hint follows a fresh look at
    // the unit (an arrival, a removal, the end of an update) that the user waits for.
    announceHint(app, spoken);
}

void setHintWithInstructions(App& app, std::uint32_t messageId) {
    const std::wstring situation = app.resources.loadString(messageId);
    showSituationWithInstructions(app, situation, situation);
}

void announceHint(App& app, const std::wstring& spoken) {
    app.dialog.announceHint(spoken);
    app.spokenHint = spoken;
    app.hintUnheard = !app.dialog.inFront();
}

void dialogActivated(App& app) {
    if (!app.hintUnheard) return;
    app.hintUnheard = false;
    app.dialog.announceHint(app.spokenHint);
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
    acceptUnit(app, variant);
}

bool handleDeviceChange(App& app, DeviceEvent event, const DeviceBroadcast* broadcast) {
    if (event == DeviceEvent::other) return false;
    if (broadcast == nullptr || !broadcast->deviceInterface) return true;
    if (app.inputBeingDropped) {
        app.deviceChangeNoted = true;
        return true;
    }
    if (event == DeviceEvent::arrival) {
        handleArrival(app);
    } else {
        handleRemoval(app, broadcast->path);
    }
    return true;
}

void probeAtStartUp(App& app) {
    const LinkStatus status = openLink(app.link);
    const bool vanished = vanishedUnderProbe(app.link, status);
    classifyUnit(app, status, ProbeVariant::startUp);
    if (vanished) probeAfterArrival(app);
    handleHeldBackArrival(app);
}

void healMissedDeviceChanges(App& app, bool updateSucceeded) {
    if (linkDeviceGone(app.link)) dropLink(app);
    // After a success the hint keeps saying so; a unit plugged in again is found
    // at its next arrival. After a failure, whose box the user has answered, a
    // unit that came back while the update ran would be found by no one else.
    if (updateSucceeded || app.link.isOpen()) return;
    probeAfterArrival(app);
    handleHeldBackArrival(app);
}

void handleHeldBackArrival(App& app) {
    // A loop, not a recursion: each probe may show the box again and note
    // another arrival under it.
    while (app.arrivalHeldBack) {
        app.arrivalHeldBack = false;
        if (!app.link.isOpen()) probeAfterArrival(app);
    }
}

}  // namespace orvanta
