// What the update shows in the main dialog: its boxes, the hint, the version panel
// and the "Update" button. The shell implements it on its dialog.
#pragma once

#include <cstdint>
#include <string>

#include "link/unit_link.h"

namespace orvanta {

// Message box styles and answers, with the platform's values.
inline constexpr std::uint32_t kMbOk = 0x0;
inline constexpr std::uint32_t kMbOkCancel = 0x1;
inline constexpr std::uint32_t kMbYesNo = 0x4;
inline constexpr std::uint32_t kMbIconError = 0x10;
inline constexpr std::uint32_t kMbIconWarning = 0x30;
inline constexpr std::uint32_t kMbIconInformation = 0x40;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

class UpdateDialog {
public:
    virtual ~UpdateDialog() = default;

    // Modal box owned by the main window; returns the button pressed.
    virtual int messageBox(const std::wstring& text, const std::wstring& caption,
                           std::uint32_t style) = 0;
    virtual void disableUpdate() = 0;
    // The version panel shows what the link holds now.
    virtual void refreshVersionPanel(const UnitLinkState& link) = 0;
    // The hint panel's text becomes `text` alone.
    virtual void setHint(const std::wstring& text) = 0;
    // From the consent to the end of the unit's part, the system is told why the
    // program must not be ended: a log-off or restart then names the reason instead
    // of offering to end a program that merely seems not to respond.
    virtual void holdShutdown(const std::wstring& reason) = 0;
    virtual void releaseShutdown() = 0;
    // The update's work on the unit is over and nothing of its outcome is shown yet.
    // The thread took no input while it ran: what the user typed or clicked meanwhile
    // is dropped here, close requests included, so that none of it answers the box or
    // the hint that follows; a key still held down acts only once pressed anew.
    virtual void runEnded() = 0;
};

}  // namespace orvanta
